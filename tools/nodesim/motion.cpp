#include "motion.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

constexpr double kRollAmplitude = 25.0 * kDeg;
constexpr double kRollOmega = 2.0 * kPi * 0.11;
constexpr double kPitchAmplitude = 15.0 * kDeg;
constexpr double kPitchOmega = 2.0 * kPi * 0.07;
constexpr double kYawDrift = 12.0 * kDeg; // one turn in 30 s
constexpr double kYawAmplitude = 20.0 * kDeg;
constexpr double kYawOmega = 2.0 * kPi * 0.05;
constexpr double kInclination = 60.0 * kDeg;

void QuaternionFromEuler(double roll, double pitch, double yaw, double q[4])
{
    const double cr = std::cos(roll / 2), sr = std::sin(roll / 2);
    const double cp = std::cos(pitch / 2), sp = std::sin(pitch / 2);
    const double cy = std::cos(yaw / 2), sy = std::sin(yaw / 2);
    q[0] = cr * cp * cy + sr * sp * sy;
    q[1] = sr * cp * cy - cr * sp * sy;
    q[2] = cr * sp * cy + sr * cp * sy;
    q[3] = cr * cp * sy - sr * sp * cy;
}

// a* x b
void ConjugateTimes(const double a[4], const double b[4], double out[4])
{
    const double w = a[0], x = -a[1], y = -a[2], z = -a[3];
    out[0] = w * b[0] - x * b[1] - y * b[2] - z * b[3];
    out[1] = w * b[1] + x * b[0] + y * b[3] - z * b[2];
    out[2] = w * b[2] - x * b[3] + y * b[0] + z * b[1];
    out[3] = w * b[3] + x * b[2] - y * b[1] + z * b[0];
}

// v expressed in the sensor frame of the attitude q (sensor -> earth): R^T v.
void EarthToSensor(const double q[4], const double v[3], double out[3])
{
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    const double r[3][3] = {
        {1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
        {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
        {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)},
    };
    for (int i = 0; i < 3; ++i)
        out[i] = r[0][i] * v[0] + r[1][i] * v[1] + r[2][i] * v[2];
}

void EulerFromQuaternion(const double q[4], double *roll, double *pitch, double *yaw)
{
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    *roll = std::atan2(2 * (w * x + y * z), 1 - 2 * (x * x + y * y));
    const double s = 2 * (w * y - z * x);
    *pitch = std::asin(s > 1 ? 1 : (s < -1 ? -1 : s));
    *yaw = std::atan2(2 * (w * z + x * y), 1 - 2 * (y * y + z * z));
}

double Wrap360(double deg)
{
    double w = std::fmod(deg, 360.0);
    if (w < 0)
        w += 360.0;
    return w >= 360.0 ? 0.0 : w;
}

double Wrap180(double deg)
{
    const double w = Wrap360(deg);
    return w > 180.0 ? w - 360.0 : w;
}

} // namespace

Motion::Motion(int index)
    : rollPhase_(0.7 * index)
    , pitchPhase_(0.5 + 1.1 * index)
    , yawStart_((40.0 * index) * kDeg)
{}

Motion::Angles Motion::AnglesAt(double t) const
{
    Angles a;
    a.roll = kRollAmplitude * std::sin(kRollOmega * t + rollPhase_);
    a.rollRate = kRollAmplitude * kRollOmega * std::cos(kRollOmega * t + rollPhase_);
    a.pitch = kPitchAmplitude * std::sin(kPitchOmega * t + pitchPhase_);
    a.pitchRate = kPitchAmplitude * kPitchOmega * std::cos(kPitchOmega * t + pitchPhase_);
    a.yaw = yawStart_ + kYawDrift * t + kYawAmplitude * std::sin(kYawOmega * t);
    a.yawRate = kYawDrift + kYawAmplitude * kYawOmega * std::cos(kYawOmega * t);
    return a;
}

MotionSample Motion::At(double t, double headingOffsetDeg) const
{
    MotionSample s;
    const Angles a = AnglesAt(t);
    const double cr = std::cos(a.roll), sr = std::sin(a.roll);
    const double cp = std::cos(a.pitch), sp = std::sin(a.pitch);

    // Body rates of a yaw-pitch-roll sequence.
    s.gyro[0] = a.rollRate - a.yawRate * sp;
    s.gyro[1] = a.pitchRate * cr + a.yawRate * cp * sr;
    s.gyro[2] = -a.pitchRate * sr + a.yawRate * cp * cr;

    s.gravity[0] = -sp;
    s.gravity[1] = sr * cp;
    s.gravity[2] = cr * cp;
    // Rotation about a fixed point: no linear acceleration, the accelerometer sees gravity only.
    for (int i = 0; i < 3; ++i)
        s.acc[i] = s.gravity[i];

    double qTrue[4];
    QuaternionFromEuler(a.roll, a.pitch, a.yaw, qTrue);
    const double field[3] = {std::cos(kInclination), 0.0, std::sin(kInclination)};
    EarthToSensor(qTrue, field, s.mag);

    const double yawReported = a.yaw + headingOffsetDeg * kDeg;
    QuaternionFromEuler(a.roll, a.pitch, yawReported, s.qEarth);
    s.rollDeg = a.roll / kDeg;
    s.pitchDeg = a.pitch / kDeg;
    s.yawDeg = Wrap360(yawReported / kDeg);
    s.psiDeg = Wrap180(yawReported / kDeg);

    const Angles a0 = AnglesAt(0.0);
    double qStart[4];
    QuaternionFromEuler(a0.roll, a0.pitch, a0.yaw, qStart);
    ConjugateTimes(qStart, qTrue, s.qInitial);
    double r0, p0, y0;
    EulerFromQuaternion(s.qInitial, &r0, &p0, &y0);
    s.initialPhiDeg = r0 / kDeg;
    s.initialThetaDeg = p0 / kDeg;
    s.initialPsiDeg = y0 / kDeg;
    return s;
}
