#ifndef MARGBENCH_SENSORCALIB_H
#define MARGBENCH_SENSORCALIB_H

#include <cstdint>

// The field calibration of one sensor (accelerometer or magnetometer): a per-axis scale and offset,
// found from the means of seven still stages,
//
//     calibrated = raw / scale - offset.
//
// Each stage averages more than 5000 samples. A stage fails when the sensor was not still (its
// readings wandered between the two halves of the stage, or scattered far more than noise does), when
// (for the accelerometer) its orientation repeats an earlier stage, or when the seventh stage is
// far from the expected check orientation. After the seventh stage an axis-aligned ellipsoid is
// fitted to the seven means by least squares, so the stages need not be exactly axis-aligned;
// the fit fails when a stage mean is still off the unit sphere afterwards.
enum class SensorKind {
    Gravity,  // the accelerometer: reads 1 g in every still orientation
    Magnetic, // the magnetometer: reads one Earth field; all zeros means there is none
};

struct SensorCalib
{
    explicit SensorCalib(SensorKind sensorKind);

    double stageMeanX[7] = {};
    double stageMeanY[7] = {};
    double stageMeanZ[7] = {};
    double scale[3] = {1, 1, 1};
    double offset[3] = {};
    double sum[3] = {};
    double count = 0;
    int32_t command = 1;   // 1: sample the current stage; 2: the user asked for the next stage
    int32_t stageOpen = 1; // 1: the current stage is being sampled; 0: it is done, waiting for the user
    double sumSquares[3] = {}; // with sum: the spread of the stage's samples
    double firstHalf[3] = {};  // the sums at half time: did the reading wander?
    const SensorKind kind;

    // The calibration model, in double precision, on a float triple; Unapply is its inverse (the raw
    // reading that calibrates to the values given).
    void Apply(float &x, float &y, float &z) const;
    void Unapply(float &x, float &y, float &z) const;
    // Back to the start of stage 1, keeping the current scale and offset.
    void StartCalibration();
};

namespace marg {

constexpr int kCalibStages = 7;
constexpr int kSamplesPerStage = 5000;

// Stage codes.
constexpr int kStageSampling = 0;
constexpr int kStageDone = 4;
constexpr int kCalibrationDone = 1;
constexpr int kStageFailed = -1;

// One sample of `stage` (0-based). lastStageReading: what the sensor is expected to read in the
// seventh (check) stage, or null for no such check.
int FieldCalibStageCheck(SensorCalib &calib, double x, double y, double z, int stage,
                         const double *lastStageReading);

// Least-squares axis-aligned ellipsoid through n >= 6 points: scale and offset in the calibration
// model that put the points on the unit sphere. Returns false for a degenerate fit; worst is the
// largest remaining |norm - 1|.
bool FitAxisEllipsoid(const double (*points)[3], int n, double scale[3], double offset[3], double *worst);

} // namespace marg

#endif // MARGBENCH_SENSORCALIB_H
