#include "sensorcalib.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

// A still sensor's readings scatter by its noise only: a few mg, a few percent of the field. A
// sensor rocked back and forth scatters them by far more...
constexpr double kMaxSpreadGravity = 0.1;
constexpr double kMaxSpreadMagnetic = 0.15;
// ...and one turned slowly moves the mean between the two halves of the stage (1 %: half a degree),
// far more than noise averaged over thousands of samples can.
constexpr double kMaxWander = 0.01;
// Two stages closer than this in gravity direction are the same orientation.
constexpr double kMinStageSeparation = 30.0 * kDeg;
// The check stage may be this far from its expected orientation.
constexpr double kMaxCheckDeviation = 20.0 * kDeg;
// After the fit every stage mean must be this close to the unit sphere.
constexpr double kMaxResidualGravity = 0.02;
constexpr double kMaxResidualMagnetic = 0.05;
// Scales this far apart between axes are a broken sensor or a bad fit.
constexpr double kMaxScaleRatio = 4.0;

double AngleBetween(const double a[3], const double b[3])
{
    const double na = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    const double nb = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
    if (!(na > 0) || !(nb > 0))
        return 0;
    const double c = (a[0] * b[0] + a[1] * b[1] + a[2] * b[2]) / (na * nb);
    return std::acos(std::max(-1.0, std::min(1.0, c)));
}

// Solves the symmetric positive system A x = b (n <= 6) by Cholesky; false when not positive.
bool SolveSymmetric(double A[6][6], double b[6], int n, double x[6])
{
    double L[6][6] = {};
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j <= i; ++j) {
            double s = A[i][j];
            for (int k = 0; k < j; ++k)
                s -= L[i][k] * L[j][k];
            if (i == j) {
                if (!(s > 1e-300))
                    return false;
                L[i][i] = std::sqrt(s);
            } else {
                L[i][j] = s / L[j][j];
            }
        }
    }
    double y[6];
    for (int i = 0; i < n; ++i) {
        double s = b[i];
        for (int k = 0; k < i; ++k)
            s -= L[i][k] * y[k];
        y[i] = s / L[i][i];
    }
    for (int i = n - 1; i >= 0; --i) {
        double s = y[i];
        for (int k = i + 1; k < n; ++k)
            s -= L[k][i] * x[k];
        x[i] = s / L[i][i];
    }
    return true;
}

} // namespace

SensorCalib::SensorCalib(SensorKind sensorKind)
    : kind(sensorKind)
{}

void SensorCalib::Apply(float &x, float &y, float &z) const
{
    x = float(double(x) / scale[0] - offset[0]);
    y = float(double(y) / scale[1] - offset[1]);
    z = float(double(z) / scale[2] - offset[2]);
}

void SensorCalib::Unapply(float &x, float &y, float &z) const
{
    x = float((double(x) + offset[0]) * scale[0]);
    y = float((double(y) + offset[1]) * scale[1]);
    z = float((double(z) + offset[2]) * scale[2]);
}

void SensorCalib::StartCalibration()
{
    std::fill(stageMeanX, stageMeanX + 7, 0.0);
    std::fill(stageMeanY, stageMeanY + 7, 0.0);
    std::fill(stageMeanZ, stageMeanZ + 7, 0.0);
    std::fill(sum, sum + 3, 0.0);
    std::fill(sumSquares, sumSquares + 3, 0.0);
    std::fill(firstHalf, firstHalf + 3, 0.0);
    count = 0;
    command = 1;
    stageOpen = 1;
}

namespace marg {

bool FitAxisEllipsoid(const double (*points)[3], int n, double scale[3], double offset[3], double *worst)
{
    // a x^2 + b y^2 + c z^2 + d x + e y + f z = 1, coordinates first divided by their typical size
    // so that the normal equations stay well conditioned whatever the raw units.
    if (n < 6)
        return false;
    double size = 0;
    for (int i = 0; i < n; ++i)
        size += std::sqrt(points[i][0] * points[i][0] + points[i][1] * points[i][1] + points[i][2] * points[i][2]);
    size /= n;
    if (!(size > 1e-12) || !std::isfinite(size))
        return false;
    double A[6][6] = {}, rhs[6] = {};
    for (int i = 0; i < n; ++i) {
        const double x = points[i][0] / size, y = points[i][1] / size, z = points[i][2] / size;
        const double row[6] = {x * x, y * y, z * z, x, y, z};
        for (int r = 0; r < 6; ++r) {
            rhs[r] += row[r];
            for (int c = 0; c < 6; ++c)
                A[r][c] += row[r] * row[c];
        }
    }
    double p[6];
    if (!SolveSymmetric(A, rhs, 6, p))
        return false;
    if (!(p[0] > 0) || !(p[1] > 0) || !(p[2] > 0))
        return false;
    double center[3];
    double k = 1.0;
    for (int i = 0; i < 3; ++i) {
        center[i] = -p[3 + i] / (2 * p[i]);
        k += p[3 + i] * p[3 + i] / (4 * p[i]);
    }
    if (!(k > 0))
        return false;
    double s[3], o[3];
    for (int i = 0; i < 3; ++i) {
        s[i] = std::sqrt(k / p[i]) * size;
        o[i] = center[i] * size / s[i];
        if (!std::isfinite(s[i]) || !std::isfinite(o[i]))
            return false;
    }
    const double smallest = std::min({s[0], s[1], s[2]}), largest = std::max({s[0], s[1], s[2]});
    if (!(largest < kMaxScaleRatio * smallest))
        return false;
    double residual = 0;
    for (int i = 0; i < n; ++i) {
        double q = 0;
        for (int j = 0; j < 3; ++j) {
            const double v = points[i][j] / s[j] - o[j];
            q += v * v;
        }
        residual = std::max(residual, std::fabs(std::sqrt(q) - 1.0));
    }
    for (int i = 0; i < 3; ++i) {
        scale[i] = s[i];
        offset[i] = o[i];
    }
    *worst = residual;
    return true;
}

int FieldCalibStageCheck(SensorCalib &calib, double x, double y, double z, int stage,
                         const double *lastStageReading)
{
    if (stage < 0 || stage >= kCalibStages)
        return kStageFailed;
    if (calib.command == 2) {
        // The user moved on: a waiting stage opens, a stage still sampling starts over, since the
        // sensor was evidently being handled.
        calib.command = 1;
        calib.stageOpen = 1;
        calib.count = 0;
        std::fill(calib.sum, calib.sum + 3, 0.0);
        std::fill(calib.sumSquares, calib.sumSquares + 3, 0.0);
        std::fill(calib.firstHalf, calib.firstHalf + 3, 0.0);
    }
    if (calib.stageOpen == 0)
        return kStageSampling;
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z))
        return kStageSampling; // a glitch is not a reading

    const double v[3] = {x, y, z};
    for (int i = 0; i < 3; ++i) {
        calib.sum[i] += v[i];
        calib.sumSquares[i] += v[i] * v[i];
    }
    calib.count += 1;
    if (calib.count == kSamplesPerStage / 2)
        std::copy(calib.sum, calib.sum + 3, calib.firstHalf);
    if (calib.count <= kSamplesPerStage)
        return kStageSampling;

    double mean[3], variance = 0, wander = 0;
    const double half = kSamplesPerStage / 2;
    for (int i = 0; i < 3; ++i) {
        mean[i] = calib.sum[i] / calib.count;
        variance += std::max(0.0, calib.sumSquares[i] / calib.count - mean[i] * mean[i]);
        const double first = calib.firstHalf[i] / half;
        const double second = (calib.sum[i] - calib.firstHalf[i]) / (calib.count - half);
        wander += (second - first) * (second - first);
    }
    calib.stageMeanX[stage] = mean[0];
    calib.stageMeanY[stage] = mean[1];
    calib.stageMeanZ[stage] = mean[2];
    calib.count = 0;
    std::fill(calib.sum, calib.sum + 3, 0.0);
    std::fill(calib.sumSquares, calib.sumSquares + 3, 0.0);
    std::fill(calib.firstHalf, calib.firstHalf + 3, 0.0);
    calib.stageOpen = 0;

    const bool gravity = calib.kind == SensorKind::Gravity;
    const double magnitude = std::sqrt(mean[0] * mean[0] + mean[1] * mean[1] + mean[2] * mean[2]);
    const bool absent = !gravity && magnitude < 1e-9; // no magnetometer: nothing to calibrate
    const double maxSpread = gravity ? kMaxSpreadGravity : kMaxSpreadMagnetic;
    if (std::sqrt(variance) > maxSpread * magnitude + 1e-12 || std::sqrt(wander) > kMaxWander * magnitude + 1e-12)
        return kStageFailed;
    if (gravity) {
        for (int j = 0; j < stage; ++j) {
            const double earlier[3] = {calib.stageMeanX[j], calib.stageMeanY[j], calib.stageMeanZ[j]};
            if (AngleBetween(mean, earlier) < kMinStageSeparation)
                return kStageFailed;
        }
        if (stage == kCalibStages - 1 && lastStageReading &&
            AngleBetween(mean, lastStageReading) > kMaxCheckDeviation)
            return kStageFailed;
    }
    if (stage < kCalibStages - 1)
        return kStageDone;
    if (absent)
        return kCalibrationDone;

    double points[kCalibStages][3];
    for (int j = 0; j < kCalibStages; ++j) {
        points[j][0] = calib.stageMeanX[j];
        points[j][1] = calib.stageMeanY[j];
        points[j][2] = calib.stageMeanZ[j];
    }
    double scale[3], offset[3], worst = 0;
    if (!FitAxisEllipsoid(points, kCalibStages, scale, offset, &worst))
        return kStageFailed;
    if (worst > (gravity ? kMaxResidualGravity : kMaxResidualMagnetic))
        return kStageFailed;
    std::copy(scale, scale + 3, calib.scale);
    std::copy(offset, offset + 3, calib.offset);
    return kCalibrationDone;
}

} // namespace marg
