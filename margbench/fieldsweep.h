#ifndef MARGBENCH_FIELDSWEEP_H
#define MARGBENCH_FIELDSWEEP_H

// The magnetometer sweep of the field calibration: the user turns the sensor slowly through every
// direction while the samples are collected, the directions they came from are ticked off on the
// sphere, and a full ellipsoid (hard iron: a centre; soft iron: a symmetric matrix) is fitted.
//
// The sphere of directions is cut into 100 regions of equal area: 10 bands of equal height in z
// (equal height, equal area: Archimedes) from +z down to -z, each cut into 10 sectors of 36 degrees
// of longitude starting at -180 degrees (from +x towards +y). A region counts as covered once a
// sample came from it.
//
// The quality figures follow the best-known open-source magnetometer calibrator, all in percent:
//   gaps       regions without a sample
//   variance   spread (standard deviation) of the corrected field's magnitude, of its mean
//   wobble     distance of the fitted centre from the data's own (the mean over the covered regions
//              of each region's mean sample), of the field
//   fit error  root-mean-square distance of the corrected samples from the unit sphere
// A sweep passes when all four are under their thresholds.

#include <array>
#include <vector>

namespace marg {

constexpr int kCoverageBands = 10;
constexpr int kCoverageSectors = 10;
constexpr int kCoverageRegions = kCoverageBands * kCoverageSectors;

constexpr double kMaxGapsPercent = 15.0;
constexpr double kMaxVariancePercent = 4.5;
constexpr double kMaxWobblePercent = 4.0;
constexpr double kMaxFitErrorPercent = 5.0;

// The region of a direction (any length but zero); band * 10 + sector.
int CoverageRegion(const double direction[3]);
// The unit direction at the middle of a region.
void RegionCenter(int region, double out[3]);

struct SweepQuality
{
    bool fitted = false; // the samples determined an ellipsoid
    double gaps = 100.0;
    double variance = 0.0;
    double wobble = 0.0;
    double fitError = 0.0;

    bool GapsPass() const { return gaps < kMaxGapsPercent; }
    bool VariancePass() const { return fitted && variance < kMaxVariancePercent; }
    bool WobblePass() const { return fitted && wobble < kMaxWobblePercent; }
    bool FitErrorPass() const { return fitted && fitError < kMaxFitErrorPercent; }
    bool Passes() const { return GapsPass() && VariancePass() && WobblePass() && FitErrorPass(); }
};

// The sensor direction that most uncovered regions lie around: the field has not yet been seen
// along sign * axis (axis 0..2 for x, y, z; sign +1 or -1). axis -1: nothing missing.
struct MissingDirection
{
    int axis = -1;
    int sign = 0;
    int regions = 0; // uncovered regions nearest to that direction
};

class FieldSweep
{
public:
    // A new sweep. guessCenter: the raw reading the current calibration takes for a zero field, the
    // centre of the directions until the samples fix one of their own.
    void Start(const double guessCenter[3]);
    // One sample: the raw field and the accelerometer's reading at the same instant.
    void Add(const double mag[3], const double acc[3]);
    // Fits the samples so far and measures the fit; about once a second is plenty.
    SweepQuality Evaluate();

    const std::array<bool, kCoverageRegions> &Regions() const { return covered_; }
    int Covered() const { return coveredCount_; }
    MissingDirection Missing() const;
    // The field's mean component along the accelerometer's reading, as a fraction of the field: near
    // +1 or -1 where the field is steep, near 0 where it is level. Meaningful after a fit.
    double FieldAlongReading() const { return fieldAlongReading_; }
    // The last successful fit.
    bool Result(double matrix[3][3], double center[3]) const;
    int Points() const { return int(regions_.size()); }

private:
    int RegionOf(const double mag[3]) const;
    void Retally();

    // The samples kept, x, y, z after each other, and the region of each.
    std::vector<double> mags_;
    std::vector<double> accs_;
    std::vector<int> regions_;
    std::array<int, kCoverageRegions> perRegion_{};
    std::array<bool, kCoverageRegions> covered_{};
    int coveredCount_ = 0;
    double center_[3] = {}; // of the directions
    double last_[3] = {};   // direction of the last point kept
    bool haveLast_ = false;
    bool fitted_ = false;
    double matrix_[3][3] = {};
    double fitCenter_[3] = {};
    double fieldAlongReading_ = 0.0;
};

} // namespace marg

#endif // MARGBENCH_FIELDSWEEP_H
