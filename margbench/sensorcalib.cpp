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
// Scales this far apart between axes are a broken sensor or a bad fit.
constexpr double kMaxScaleRatio = 4.0;
// A fit whose normal equations are this close to singular leaves some direction to the noise.
constexpr double kMinPivotRatio = 1e-6;
// Each axis must have pointed up in some stage, and down in another, within 45 degrees: otherwise
// its scale and offset cannot be told apart (a level sensor could read 1.2 g afterwards).
constexpr double kAxisReach = 0.7071;

double AngleBetween(const double a[3], const double b[3])
{
    const double na = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    const double nb = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
    if (!(na > 0) || !(nb > 0))
        return 0;
    const double c = (a[0] * b[0] + a[1] * b[1] + a[2] * b[2]) / (na * nb);
    return std::acos(std::max(-1.0, std::min(1.0, c)));
}

// Solves the symmetric positive system A x = b (n <= 9) by Cholesky; false when not positive.
// pivotRatio: the smallest squared pivot over the largest, a cheap measure of how nearly singular A
// is.
constexpr int kMaxUnknowns = 9;

bool SolveSymmetric(const double A[kMaxUnknowns][kMaxUnknowns], const double b[kMaxUnknowns], int n,
                    double x[kMaxUnknowns], double *pivotRatio = nullptr)
{
    double L[kMaxUnknowns][kMaxUnknowns] = {};
    double smallest = 0, largest = 0;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j <= i; ++j) {
            double s = A[i][j];
            for (int k = 0; k < j; ++k)
                s -= L[i][k] * L[j][k];
            if (i == j) {
                if (!(s > 1e-300))
                    return false;
                L[i][i] = std::sqrt(s);
                smallest = i == 0 ? s : std::min(smallest, s);
                largest = std::max(largest, s);
            } else {
                L[i][j] = s / L[j][j];
            }
        }
    }
    double y[kMaxUnknowns];
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
    if (pivotRatio)
        *pivotRatio = smallest / largest;
    return true;
}

// The typical distance of n points (x, y, z after each other) from `origin`, for scaling them near
// unit size.
double TypicalSize(const double *xyz, int n, const double origin[3])
{
    double size = 0;
    for (int i = 0; i < n; ++i) {
        const double *p = xyz + 3 * i;
        const double d[3] = {p[0] - origin[0], p[1] - origin[1], p[2] - origin[2]};
        size += std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    }
    return size / n;
}

// The points' mean and spread, which the fits work about; false when the points do not spread.
bool Centre(const double *xyz, int n, double mean[3], double *size)
{
    mean[0] = mean[1] = mean[2] = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < 3; ++j)
            mean[j] += xyz[3 * i + j] / n;
    *size = TypicalSize(xyz, n, mean);
    return *size > 1e-12 && std::isfinite(*size);
}

void Normalised(const double *point, const double mean[3], double size, double *x, double *y, double *z)
{
    *x = (point[0] - mean[0]) / size;
    *y = (point[1] - mean[1]) / size;
    *z = (point[2] - mean[2]) / size;
}

} // namespace

SensorCalib::SensorCalib(SensorKind sensorKind)
    : kind(sensorKind)
{}

void SensorCalib::Apply(float &x, float &y, float &z) const
{
    if (ellipsoid) {
        const double d[3] = {double(x) - center[0], double(y) - center[1], double(z) - center[2]};
        x = float(matrix[0][0] * d[0] + matrix[0][1] * d[1] + matrix[0][2] * d[2]);
        y = float(matrix[1][0] * d[0] + matrix[1][1] * d[1] + matrix[1][2] * d[2]);
        z = float(matrix[2][0] * d[0] + matrix[2][1] * d[1] + matrix[2][2] * d[2]);
        return;
    }
    x = float(double(x) / scale[0] - offset[0]);
    y = float(double(y) / scale[1] - offset[1]);
    z = float(double(z) / scale[2] - offset[2]);
}

void SensorCalib::Unapply(float &x, float &y, float &z) const
{
    if (ellipsoid) {
        const double v[3] = {x, y, z};
        x = float(inverse[0][0] * v[0] + inverse[0][1] * v[1] + inverse[0][2] * v[2] + center[0]);
        y = float(inverse[1][0] * v[0] + inverse[1][1] * v[1] + inverse[1][2] * v[2] + center[1]);
        z = float(inverse[2][0] * v[0] + inverse[2][1] * v[1] + inverse[2][2] * v[2] + center[2]);
        return;
    }
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
    failure = Failure::None;
}

void SensorCalib::SetAxisAligned(const double newScale[3], const double newOffset[3])
{
    std::copy(newScale, newScale + 3, scale);
    std::copy(newOffset, newOffset + 3, offset);
    ellipsoid = false;
}

bool SensorCalib::SetEllipsoid(const double newMatrix[3][3], const double newCenter[3])
{
    double inv[3][3];
    if (!marg::Invert3(newMatrix, inv))
        return false;
    for (int i = 0; i < 3; ++i) {
        std::copy(newMatrix[i], newMatrix[i] + 3, matrix[i]);
        std::copy(inv[i], inv[i] + 3, inverse[i]);
    }
    std::copy(newCenter, newCenter + 3, center);
    ellipsoid = true;
    return true;
}

void SensorCalib::Center(double out[3]) const
{
    for (int i = 0; i < 3; ++i)
        out[i] = ellipsoid ? center[i] : offset[i] * scale[i];
}

namespace marg {

bool FitAxisEllipsoid(const double (*points)[3], int n, double scale[3], double offset[3], double *worst)
{
    // a x^2 + b y^2 + c z^2 + d x + e y + f z = 1, coordinates first divided by their typical size
    // so that the normal equations stay well conditioned whatever the raw units.
    if (n < 6)
        return false;
    const double origin[3] = {};
    double flat[3 * kCalibStages];
    if (n > kCalibStages)
        return false;
    for (int i = 0; i < n; ++i)
        std::copy(points[i], points[i] + 3, flat + 3 * i);
    const double size = TypicalSize(flat, n, origin);
    if (!(size > 1e-12) || !std::isfinite(size))
        return false;
    double A[kMaxUnknowns][kMaxUnknowns] = {}, rhs[kMaxUnknowns] = {};
    for (int i = 0; i < n; ++i) {
        const double x = points[i][0] / size, y = points[i][1] / size, z = points[i][2] / size;
        const double row[6] = {x * x, y * y, z * z, x, y, z};
        for (int r = 0; r < 6; ++r) {
            rhs[r] += row[r];
            for (int c = 0; c < 6; ++c)
                A[r][c] += row[r] * row[c];
        }
    }
    double p[kMaxUnknowns], pivots = 0;
    if (!SolveSymmetric(A, rhs, 6, p, &pivots) || pivots < kMinPivotRatio)
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

bool FitSphere(const double *xyz, int n, double center[3])
{
    // x^2 + y^2 + z^2 = 2 c . v + k about the points' mean, in units of their spread.
    double mean[3], size;
    if (n < 4 || !Centre(xyz, n, mean, &size))
        return false;
    double A[kMaxUnknowns][kMaxUnknowns] = {}, rhs[kMaxUnknowns] = {};
    for (int i = 0; i < n; ++i) {
        double x, y, z;
        Normalised(xyz + 3 * i, mean, size, &x, &y, &z);
        const double row[4] = {2 * x, 2 * y, 2 * z, 1};
        const double r2 = x * x + y * y + z * z;
        for (int r = 0; r < 4; ++r) {
            rhs[r] += row[r] * r2;
            for (int c = 0; c < 4; ++c)
                A[r][c] += row[r] * row[c];
        }
    }
    double p[kMaxUnknowns], pivots = 0;
    if (!SolveSymmetric(A, rhs, 4, p, &pivots) || pivots < 1e-9)
        return false;
    for (int j = 0; j < 3; ++j)
        center[j] = mean[j] + p[j] * size;
    return std::isfinite(center[0]) && std::isfinite(center[1]) && std::isfinite(center[2]);
}

bool FitEllipsoid(const double *xyz, int n, double matrix[3][3], double center[3])
{
    // a x^2 + b y^2 + c z^2 + 2h xy + 2g xz + 2f yz + 2p x + 2q y + 2r z = 1, about the points' mean and
    // in units of their spread, so that the origin is inside the ellipsoid and the normal equations
    // are well conditioned.
    double mean[3], size;
    if (n < 9 || !Centre(xyz, n, mean, &size))
        return false;
    double A[kMaxUnknowns][kMaxUnknowns] = {}, rhs[kMaxUnknowns] = {};
    for (int i = 0; i < n; ++i) {
        double x, y, z;
        Normalised(xyz + 3 * i, mean, size, &x, &y, &z);
        const double row[9] = {x * x, y * y, z * z, 2 * x * y, 2 * x * z, 2 * y * z, 2 * x, 2 * y, 2 * z};
        for (int r = 0; r < 9; ++r) {
            rhs[r] += row[r];
            for (int c = 0; c <= r; ++c)
                A[r][c] += row[r] * row[c];
        }
    }
    for (int r = 0; r < 9; ++r)
        for (int c = r + 1; c < 9; ++c)
            A[r][c] = A[c][r];
    double p[kMaxUnknowns], pivots = 0;
    if (!SolveSymmetric(A, rhs, 9, p, &pivots) || pivots < 1e-12)
        return false;
    const double M[3][3] = {{p[0], p[3], p[4]}, {p[3], p[1], p[5]}, {p[4], p[5], p[2]}};
    const double u[3] = {p[6], p[7], p[8]};
    double Minv[3][3];
    if (!Invert3(M, Minv))
        return false;
    double x0[3], k = 1.0;
    for (int i = 0; i < 3; ++i)
        x0[i] = -(Minv[i][0] * u[0] + Minv[i][1] * u[1] + Minv[i][2] * u[2]);
    for (int i = 0; i < 3; ++i)
        k -= u[i] * x0[i]; // 1 + x0' M x0, with M x0 = -u
    double values[3], vectors[3][3];
    SymmetricEigen(M, values, vectors);
    if (!(k > 0) || !(values[0] > 0))
        return false; // a hyperboloid or worse: the points are no ellipsoid
    // matrix = sqrt(M / k) / size: the symmetric root, which stretches without turning.
    double root[3];
    for (int i = 0; i < 3; ++i)
        root[i] = std::sqrt(values[i] / k) / size;
    if (!(root[2] < kMaxScaleRatio * root[0]))
        return false;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            double sum = 0;
            for (int e = 0; e < 3; ++e)
                sum += vectors[r][e] * root[e] * vectors[c][e];
            matrix[r][c] = sum;
        }
        center[r] = mean[r] + x0[r] * size;
        if (!std::isfinite(center[r]))
            return false;
    }
    return true;
}

void SymmetricEigen(const double a[3][3], double values[3], double vectors[3][3])
{
    // Cyclic Jacobi rotations: exact enough after a handful of sweeps for 3x3.
    double m[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            m[i][j] = a[i][j];
            vectors[i][j] = i == j ? 1.0 : 0.0;
        }
    for (int sweep = 0; sweep < 50; ++sweep) {
        const double off = m[0][1] * m[0][1] + m[0][2] * m[0][2] + m[1][2] * m[1][2];
        const double diag = m[0][0] * m[0][0] + m[1][1] * m[1][1] + m[2][2] * m[2][2];
        if (off <= 1e-30 * diag || off == 0)
            break;
        for (int p = 0; p < 2; ++p) {
            for (int q = p + 1; q < 3; ++q) {
                if (m[p][q] == 0)
                    continue;
                const double theta = (m[q][q] - m[p][p]) / (2 * m[p][q]);
                const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
                const double c = 1 / std::sqrt(t * t + 1), s = t * c;
                for (int k = 0; k < 3; ++k) { // columns p, q
                    const double kp = m[k][p], kq = m[k][q];
                    m[k][p] = c * kp - s * kq;
                    m[k][q] = s * kp + c * kq;
                }
                for (int k = 0; k < 3; ++k) { // rows p, q
                    const double pk = m[p][k], qk = m[q][k];
                    m[p][k] = c * pk - s * qk;
                    m[q][k] = s * pk + c * qk;
                }
                for (int k = 0; k < 3; ++k) {
                    const double kp = vectors[k][p], kq = vectors[k][q];
                    vectors[k][p] = c * kp - s * kq;
                    vectors[k][q] = s * kp + c * kq;
                }
            }
        }
    }
    int order[3] = {0, 1, 2};
    std::sort(order, order + 3, [&](int i, int j) { return m[i][i] < m[j][j]; });
    double sorted[3][3];
    for (int e = 0; e < 3; ++e) {
        values[e] = m[order[e]][order[e]];
        for (int k = 0; k < 3; ++k)
            sorted[k][e] = vectors[k][order[e]];
    }
    for (int k = 0; k < 3; ++k)
        std::copy(sorted[k], sorted[k] + 3, vectors[k]);
}

bool Invert3(const double a[3][3], double out[3][3])
{
    const double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    const double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    const double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    const double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
    double scale = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            scale = std::max(scale, std::fabs(a[i][j]));
    if (!(std::fabs(det) > 1e-12 * scale * scale * scale) || !std::isfinite(det))
        return false;
    out[0][0] = c00 / det;
    out[1][0] = c01 / det;
    out[2][0] = c02 / det;
    out[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det;
    out[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
    out[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det;
    out[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det;
    out[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det;
    out[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det;
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
    auto fail = [&calib](SensorCalib::Failure why, int detail = 0, int sign = 0, double value = 0) {
        calib.failure = why;
        calib.failureDetail = detail;
        calib.failureSign = sign;
        calib.failureValue = value;
        return kStageFailed;
    };
    if (std::sqrt(variance) > maxSpread * magnitude + 1e-12 || std::sqrt(wander) > kMaxWander * magnitude + 1e-12)
        return fail(SensorCalib::Failure::Moved);
    if (gravity) {
        for (int j = 0; j < stage; ++j) {
            const double earlier[3] = {calib.stageMeanX[j], calib.stageMeanY[j], calib.stageMeanZ[j]};
            if (AngleBetween(mean, earlier) < kMinStageSeparation)
                return fail(SensorCalib::Failure::Repeated, j);
        }
        if (stage == kCalibStages - 1 && lastStageReading &&
            AngleBetween(mean, lastStageReading) > kMaxCheckDeviation)
            return fail(SensorCalib::Failure::CheckAttitude);
    }
    if (stage < kCalibStages - 1)
        return kStageDone;
    if (!gravity)
        return absent ? kCalibrationDone : kStageDone; // the sweep calibrates the magnetometer

    double points[kCalibStages][3];
    for (int j = 0; j < kCalibStages; ++j) {
        points[j][0] = calib.stageMeanX[j];
        points[j][1] = calib.stageMeanY[j];
        points[j][2] = calib.stageMeanZ[j];
    }
    // Every axis must have been seen pointing up and pointing down.
    for (int axis = 0; axis < 3; ++axis) {
        double highest = -1, lowest = 1;
        for (int j = 0; j < kCalibStages; ++j) {
            const double n = std::sqrt(points[j][0] * points[j][0] + points[j][1] * points[j][1] +
                                       points[j][2] * points[j][2]);
            const double c = n > 0 ? points[j][axis] / n : 0.0;
            highest = std::max(highest, c);
            lowest = std::min(lowest, c);
        }
        if (highest < kAxisReach)
            return fail(SensorCalib::Failure::AxisUnreached, axis, +1);
        if (lowest > -kAxisReach)
            return fail(SensorCalib::Failure::AxisUnreached, axis, -1);
    }
    double scale[3], offset[3], worst = 0;
    if (!FitAxisEllipsoid(points, kCalibStages, scale, offset, &worst))
        return fail(SensorCalib::Failure::IllConditioned);
    if (worst > kMaxResidualGravity)
        return fail(SensorCalib::Failure::Residual, 0, 0, worst);
    calib.SetAxisAligned(scale, offset);
    return kCalibrationDone;
}

} // namespace marg
