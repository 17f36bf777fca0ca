#include "fieldsweep.h"

#include "sensorcalib.h"

#include <algorithm>
#include <cmath>

namespace marg {

namespace {

constexpr double kPi = 3.14159265358979323846;
// A sample is kept when it came from a region with none yet, or from a direction this far from the
// last one kept: a sensor held in one attitude adds nothing but weight to that attitude.
const double kMinStepCos = std::cos(2.0 * kPi / 180.0);
// No region may hold more than this many: the fit must not lean towards the attitudes dwelt in.
constexpr int kMaxPerRegion = 100;
// The ellipsoid is fitted once this many regions are covered; fewer leave it to the noise.
constexpr int kMinRegionsForFit = 30;

double Length(const double v[3]) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

} // namespace

int CoverageRegion(const double direction[3])
{
    const double n = Length(direction);
    const double z = n > 0 ? direction[2] / n : 1.0;
    const int band = std::clamp(int(std::floor((1.0 - z) * kCoverageBands / 2.0)), 0, kCoverageBands - 1);
    const double longitude = std::atan2(direction[1], direction[0]);
    const int sector =
        std::clamp(int(std::floor((longitude + kPi) * kCoverageSectors / (2.0 * kPi))), 0, kCoverageSectors - 1);
    return band * kCoverageSectors + sector;
}

void RegionCenter(int region, double out[3])
{
    const int band = region / kCoverageSectors, sector = region % kCoverageSectors;
    const double z = 1.0 - 2.0 * (band + 0.5) / kCoverageBands;
    const double longitude = -kPi + 2.0 * kPi * (sector + 0.5) / kCoverageSectors;
    const double r = std::sqrt(std::max(0.0, 1.0 - z * z));
    out[0] = r * std::cos(longitude);
    out[1] = r * std::sin(longitude);
    out[2] = z;
}

void FieldSweep::Start(const double guessCenter[3])
{
    mags_.clear();
    accs_.clear();
    regions_.clear();
    perRegion_.fill(0);
    covered_.fill(false);
    coveredCount_ = 0;
    std::copy(guessCenter, guessCenter + 3, center_);
    haveLast_ = false;
    fitted_ = false;
    fieldAlongReading_ = 0.0;
}

int FieldSweep::RegionOf(const double mag[3]) const
{
    if (fitted_) {
        const double d[3] = {mag[0] - fitCenter_[0], mag[1] - fitCenter_[1], mag[2] - fitCenter_[2]};
        double u[3];
        for (int i = 0; i < 3; ++i)
            u[i] = matrix_[i][0] * d[0] + matrix_[i][1] * d[1] + matrix_[i][2] * d[2];
        return CoverageRegion(u);
    }
    const double d[3] = {mag[0] - center_[0], mag[1] - center_[1], mag[2] - center_[2]};
    return CoverageRegion(d);
}

void FieldSweep::Add(const double mag[3], const double acc[3])
{
    const double d[3] = {mag[0] - center_[0], mag[1] - center_[1], mag[2] - center_[2]};
    const double n = Length(d);
    if (!(n > 0) || !std::isfinite(n))
        return;
    const double direction[3] = {d[0] / n, d[1] / n, d[2] / n};
    const int region = RegionOf(mag);
    const bool newRegion = perRegion_[size_t(region)] == 0;
    const bool moved = !haveLast_ || direction[0] * last_[0] + direction[1] * last_[1] +
                                             direction[2] * last_[2] < kMinStepCos;
    if (!newRegion && (!moved || perRegion_[size_t(region)] >= kMaxPerRegion))
        return;
    mags_.insert(mags_.end(), mag, mag + 3);
    accs_.insert(accs_.end(), acc, acc + 3);
    regions_.push_back(region);
    ++perRegion_[size_t(region)];
    if (!covered_[size_t(region)]) {
        covered_[size_t(region)] = true;
        ++coveredCount_;
    }
    std::copy(direction, direction + 3, last_);
    haveLast_ = true;
}

void FieldSweep::Retally()
{
    perRegion_.fill(0);
    covered_.fill(false);
    coveredCount_ = 0;
    for (size_t i = 0; i < regions_.size(); ++i) {
        const int region = RegionOf(&mags_[3 * i]);
        regions_[i] = region;
        ++perRegion_[size_t(region)];
        if (!covered_[size_t(region)]) {
            covered_[size_t(region)] = true;
            ++coveredCount_;
        }
    }
}

SweepQuality FieldSweep::Evaluate()
{
    SweepQuality quality;
    const int n = Points();
    double sphere[3];
    if (!fitted_ && FitSphere(mags_.data(), n, sphere)) {
        std::copy(sphere, sphere + 3, center_);
        Retally();
    }
    if (coveredCount_ >= kMinRegionsForFit) {
        double matrix[3][3], center[3];
        if (FitEllipsoid(mags_.data(), n, matrix, center)) {
            for (int i = 0; i < 3; ++i)
                std::copy(matrix[i], matrix[i] + 3, matrix_[i]);
            std::copy(center, center + 3, fitCenter_);
            std::copy(center, center + 3, center_);
            fitted_ = true;
            Retally();
        }
    }
    quality.gaps = 100.0 * (kCoverageRegions - coveredCount_) / kCoverageRegions;
    if (!fitted_ || n == 0)
        return quality;

    double sum = 0, sumSquares = 0, sumOffSphere = 0, along = 0;
    int alongCount = 0;
    std::array<double, kCoverageRegions> regionMagnitude{};
    for (int k = 0; k < n; ++k) {
        const double *m = &mags_[3 * size_t(k)];
        const double d[3] = {m[0] - fitCenter_[0], m[1] - fitCenter_[1], m[2] - fitCenter_[2]};
        double u[3];
        for (int i = 0; i < 3; ++i)
            u[i] = matrix_[i][0] * d[0] + matrix_[i][1] * d[1] + matrix_[i][2] * d[2];
        const double r = Length(u);
        sum += r;
        sumSquares += r * r;
        sumOffSphere += (r - 1.0) * (r - 1.0);
        regionMagnitude[size_t(regions_[size_t(k)])] += r;
        const double *a = &accs_[3 * size_t(k)];
        const double an = Length(a);
        if (an > 0.5 && r > 0) {
            along += (u[0] * a[0] + u[1] * a[1] + u[2] * a[2]) / (r * an);
            ++alongCount;
        }
    }
    const double mean = sum / n;
    quality.variance = 100.0 * std::sqrt(std::max(0.0, sumSquares / n - mean * mean)) / mean;
    quality.fitError = 100.0 * std::sqrt(sumOffSphere / n);
    // The data's centre: the mean over the covered regions of where the field reaches in each (the
    // region's direction times the mean magnitude there), so that lingering in some attitudes does
    // not pull it. It moves away from the fitted centre when the field reaches further on one side
    // than the other, and when the covered regions lie lopsided about the centre.
    double centroid[3] = {};
    for (int region = 0; region < kCoverageRegions; ++region) {
        if (perRegion_[size_t(region)] == 0)
            continue;
        double c[3];
        RegionCenter(region, c);
        const double magnitude = regionMagnitude[size_t(region)] / perRegion_[size_t(region)];
        for (int i = 0; i < 3; ++i)
            centroid[i] += magnitude * c[i] / coveredCount_;
    }
    quality.wobble = 100.0 * Length(centroid);
    quality.fitted = true;
    fieldAlongReading_ = alongCount > 0 ? along / alongCount : 0.0;
    return quality;
}

MissingDirection FieldSweep::Missing() const
{
    int count[3][2] = {};
    for (int region = 0; region < kCoverageRegions; ++region) {
        if (covered_[size_t(region)])
            continue;
        double c[3];
        RegionCenter(region, c);
        int axis = 0;
        for (int i = 1; i < 3; ++i)
            if (std::fabs(c[i]) > std::fabs(c[axis]))
                axis = i;
        ++count[axis][c[axis] > 0 ? 0 : 1];
    }
    MissingDirection missing;
    for (int axis = 0; axis < 3; ++axis) {
        for (int s = 0; s < 2; ++s) {
            if (count[axis][s] > missing.regions) {
                missing.axis = axis;
                missing.sign = s == 0 ? 1 : -1;
                missing.regions = count[axis][s];
            }
        }
    }
    return missing;
}

bool FieldSweep::Result(double matrix[3][3], double center[3]) const
{
    if (!fitted_)
        return false;
    for (int i = 0; i < 3; ++i)
        std::copy(matrix_[i], matrix_[i] + 3, matrix[i]);
    std::copy(fitCenter_, fitCenter_ + 3, center);
    return true;
}

} // namespace marg
