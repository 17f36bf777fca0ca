#include "motion.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

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

bool ParseMotionProfile(const std::string &name, MotionProfile *profile)
{
    static const struct
    {
        const char *name;
        MotionProfile profile;
    } kNames[] = {{"gentle", MotionProfile::Gentle},
                  {"slow", MotionProfile::Slow},
                  {"fast", MotionProfile::Fast},
                  {"translation", MotionProfile::Translation},
                  {"breaks", MotionProfile::Breaks},
                  {"calibration", MotionProfile::Calibration}};
    for (const auto &entry : kNames) {
        if (name == entry.name) {
            *profile = entry.profile;
            return true;
        }
    }
    return false;
}

// Roll, pitch and yaw sway as sines; the paused profile walks its path with stops in between.
Motion::Shape Motion::ShapeOf(MotionProfile profile)
{
    switch (profile) {
    case MotionProfile::Slow: return {20, 0.04, 12, 0.03, 3, 30, 0.02, false, {0, 0, 0}, {0, 0, 0}};
    case MotionProfile::Fast: return {50, 1.0, 30, 0.6, 20, 42, 1.2, false, {0, 0, 0}, {0, 0, 0}};
    case MotionProfile::Translation:
        return {25, 0.11, 15, 0.07, 12, 20, 0.05, false, {0.5, 0.5, 0.3}, {1.3, 0.9, 1.7}};
    case MotionProfile::Breaks: return {40, 0.5, 25, 0.35, 30, 40, 0.4, true, {0, 0, 0}, {0, 0, 0}};
    case MotionProfile::Gentle:
    case MotionProfile::Calibration: break;
    }
    return {25, 0.11, 15, 0.07, 12, 20, 0.05, false, {0, 0, 0}, {0, 0, 0}};
}

namespace {

// The paused walk: 1 s speeding up, 6 s at full pace, 1 s slowing down, 6 s still. Returns the
// distance walked (path seconds) and sets the pace (path seconds per second).
constexpr double kPausePeriod = 14.0;
constexpr double kPathPerPeriod = 7.0;

double PausedPath(double t, double *pace)
{
    const double period = std::floor(t / kPausePeriod);
    const double u = t - period * kPausePeriod;
    double s = 0;
    if (u < 1.0) {
        *pace = 0.5 * (1 - std::cos(kPi * u));
        s = 0.5 * (u - std::sin(kPi * u) / kPi);
    } else if (u < 7.0) {
        *pace = 1.0;
        s = 0.5 + (u - 1.0);
    } else if (u < 8.0) {
        const double v = u - 7.0;
        *pace = 0.5 * (1 + std::cos(kPi * v));
        s = 6.5 + 0.5 * (v + std::sin(kPi * v) / kPi);
    } else {
        *pace = 0.0;
        s = kPathPerPeriod;
    }
    return period * kPathPerPeriod + s;
}

} // namespace

Motion::Motion(int index, MotionProfile profile)
    : shape_(ShapeOf(profile))
    , calibrationPath_(profile == MotionProfile::Calibration)
    , rollPhase_(0.7 * index)
    , pitchPhase_(0.5 + 1.1 * index)
    , yawStart_((40.0 * index) * kDeg)
{}

void Motion::SetBursts(double peakG, double every)
{
    burstG_ = peakG;
    burstEvery_ = every;
}

Motion::Angles Motion::AnglesAt(double t) const
{
    double pace = 1.0;
    const double s = shape_.pauses ? PausedPath(t, &pace) : t;
    const double wr = 2.0 * kPi * shape_.rollHz, wp = 2.0 * kPi * shape_.pitchHz;
    const double wy = 2.0 * kPi * shape_.yawHz;
    const double ar = shape_.rollAmp * kDeg, ap = shape_.pitchAmp * kDeg, ay = shape_.yawAmp * kDeg;
    const double drift = shape_.yawDrift * kDeg;
    Angles a;
    a.roll = ar * std::sin(wr * s + rollPhase_);
    a.rollRate = pace * ar * wr * std::cos(wr * s + rollPhase_);
    a.pitch = ap * std::sin(wp * s + pitchPhase_);
    a.pitchRate = pace * ap * wp * std::cos(wp * s + pitchPhase_);
    a.yaw = yawStart_ + drift * s + ay * std::sin(wy * s);
    a.yawRate = pace * (drift + ay * wy * std::cos(wy * s));
    return a;
}

void Motion::LinearAccelerationAt(double t, double out[3]) const
{
    for (int i = 0; i < 3; ++i)
        out[i] = shape_.shakeG[i] * std::sin(2.0 * kPi * shape_.shakeHz[i] * t + i);
    if (burstG_ > 0.0 && burstEvery_ > 0.0 && t >= 0.0) {
        const double number = std::floor(t / burstEvery_);
        const double u = t - number * burstEvery_;
        if (u < 1.0) // speeds up and stops again within the second: the velocity returns to zero
            out[int(std::fmod(number, 3.0))] += burstG_ * std::sin(2.0 * kPi * u);
    }
}

namespace {

// The field calibration's path: the seven still stages, each held kHold seconds with kMove-second
// turns between them, then the sweep (kSweep seconds) and a turn back to the first stage.
constexpr double kHold = 12.0;
constexpr double kMove = 3.0;
constexpr double kSweep = 60.0;
constexpr int kStages = 7;
constexpr double kSweepStart = kStages * kHold + (kStages - 1) * kMove + kMove;
constexpr double kCalibrationPeriod = kSweepStart + kSweep + kMove;

// The heading the sensor is turned to in each still stage.
double StageHeading(int stage) { return 37.0 * stage + 10.0; }

// The sweep: a steady roll, the pitch swinging +-85 degrees and a slow turn; over a minute the field
// is seen from every direction. Whole turns of roll and whole swings of pitch, so that it ends level.
constexpr double kSweepRollRate = 90.0 * kDeg;
constexpr double kSweepPitchAmplitude = 85.0 * kDeg;
constexpr double kSweepPitchPeriod = 10.0;
constexpr double kSweepYawRate = 13.0 * kDeg;
constexpr double kSweepYawStart = 25.0 * kDeg;

void QuaternionTimes(const double a[4], const double b[4], double out[4])
{
    out[0] = a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3];
    out[1] = a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2];
    out[2] = a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1];
    out[3] = a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0];
}

// Body rates of a yaw-pitch-roll sequence.
void EulerRates(double roll, double pitch, double rollRate, double pitchRate, double yawRate, double out[3])
{
    const double cr = std::cos(roll), sr = std::sin(roll);
    const double cp = std::cos(pitch), sp = std::sin(pitch);
    out[0] = rollRate - yawRate * sp;
    out[1] = pitchRate * cr + yawRate * cp * sr;
    out[2] = -pitchRate * sr + yawRate * cp * cr;
}

void SweepAttitude(double u, double q[4], double rate[3])
{
    const double w = 2.0 * kPi / kSweepPitchPeriod;
    const double roll = kSweepRollRate * u, pitch = kSweepPitchAmplitude * std::sin(w * u);
    QuaternionFromEuler(roll, pitch, kSweepYawStart + kSweepYawRate * u, q);
    EulerRates(roll, pitch, kSweepRollRate, kSweepPitchAmplitude * w * std::cos(w * u), kSweepYawRate, rate);
}

void StageAttitude(int stage, double q[4])
{
    const MotionSample still = StillSample(kCalibrationStageReadings[stage], StageHeading(stage));
    std::copy(still.qTrue, still.qTrue + 4, q);
}

// A turn from a to b that starts and ends at rest: u of `duration` seconds.
void Turn(const double a[4], const double b[4], double u, double duration, double q[4], double rate[3])
{
    double d[4]; // a* b: the turn in the body frame of a
    ConjugateTimes(a, b, d);
    if (d[0] < 0)
        for (double &c : d)
            c = -c;
    const double half = std::acos(std::min(1.0, d[0]));
    const double sinHalf = std::sin(half);
    double axis[3] = {1, 0, 0};
    if (sinHalf > 1e-12)
        for (int i = 0; i < 3; ++i)
            axis[i] = d[1 + i] / sinHalf;
    const double x = u / duration;
    const double progress = 0.5 * (1 - std::cos(kPi * x));
    const double speed = 0.5 * kPi * std::sin(kPi * x) / duration;
    const double angle = 2.0 * half * progress;
    const double part[4] = {std::cos(angle / 2), axis[0] * std::sin(angle / 2), axis[1] * std::sin(angle / 2),
                            axis[2] * std::sin(angle / 2)};
    QuaternionTimes(a, part, q);
    for (int i = 0; i < 3; ++i)
        rate[i] = axis[i] * 2.0 * half * speed;
}

void CalibrationAttitude(double t, double q[4], double rate[3])
{
    double u = std::fmod(t, kCalibrationPeriod);
    if (u < 0)
        u += kCalibrationPeriod;
    std::fill(rate, rate + 3, 0.0);
    for (int stage = 0; stage < kStages; ++stage) {
        if (u < kHold) {
            StageAttitude(stage, q);
            return;
        }
        u -= kHold;
        double from[4], to[4], rest[3];
        StageAttitude(stage, from);
        if (stage + 1 < kStages)
            StageAttitude(stage + 1, to);
        else
            SweepAttitude(0.0, to, rest);
        if (u < kMove) {
            Turn(from, to, u, kMove, q, rate);
            return;
        }
        u -= kMove;
    }
    if (u < kSweep) {
        SweepAttitude(u, q, rate);
        return;
    }
    double from[4], to[4], rest[3];
    SweepAttitude(kSweep, from, rest);
    StageAttitude(0, to);
    Turn(from, to, u - kSweep, kMove, q, rate);
}

} // namespace

const double kCalibrationStageReadings[7][3] = {{0, 0, 1}, {0, 0, -1}, {1, 0, 0},
                                               {-1, 0, 0}, {0, 1, 0}, {0, -1, 0},
                                               {0, 0.70710678, 0.70710678}};

double CalibrationStageStart(int stage)
{
    return stage >= kStages ? kSweepStart : stage * (kHold + kMove);
}

CalibrationPhase CalibrationPathPhase(double t)
{
    double u = std::fmod(t, kCalibrationPeriod);
    if (u < 0)
        u += kCalibrationPeriod;
    CalibrationPhase phase;
    for (int stage = 0; stage < kStages; ++stage) {
        if (u < kHold)
            return {stage, u, kHold - u};
        u -= kHold + kMove;
        if (u < 0)
            return {-1, kMove + u, -u};
    }
    if (u < kSweep)
        return {kStages, u, kSweep - u};
    return {-1, u - kSweep, kCalibrationPeriod - kSweepStart - kSweep - (u - kSweep)};
}

void Motion::Attitude(double t, double q[4], double rate[3]) const
{
    if (calibrationPath_) {
        CalibrationAttitude(t, q, rate);
        return;
    }
    const Angles a = AnglesAt(t);
    EulerRates(a.roll, a.pitch, a.rollRate, a.pitchRate, a.yawRate, rate);
    QuaternionFromEuler(a.roll, a.pitch, a.yaw, q);
}


namespace {

// Roll, pitch and yaw (0..360) and psi (-180..180) of an earth-frame attitude, in degrees.
void SetEarthAngles(const double q[4], MotionSample *s)
{
    double roll, pitch, yaw;
    EulerFromQuaternion(q, &roll, &pitch, &yaw);
    s->rollDeg = roll / kDeg;
    s->pitchDeg = pitch / kDeg;
    s->yawDeg = Wrap360(yaw / kDeg);
    s->psiDeg = Wrap180(yaw / kDeg);
}

} // namespace

MotionSample Motion::At(double t, double headingOffsetDeg) const
{
    MotionSample s;
    Attitude(t, s.qTrue, s.gyro);
    const double down[3] = {0.0, 0.0, 1.0};
    EarthToSensor(s.qTrue, down, s.gravity);
    LinearAccelerationAt(t, s.linearAcc);
    const double apparent[3] = {-s.linearAcc[0], -s.linearAcc[1], 1.0 - s.linearAcc[2]};
    EarthToSensor(s.qTrue, apparent, s.acc);
    const double field[3] = {std::cos(kInclination), 0.0, std::sin(kInclination)};
    EarthToSensor(s.qTrue, field, s.mag);

    // The node's heading fix turns its earth frame about the vertical.
    const double h = 0.5 * headingOffsetDeg * kDeg;
    const double fix[4] = {std::cos(h), 0, 0, std::sin(h)};
    QuaternionTimes(fix, s.qTrue, s.qEarth);
    SetEarthAngles(s.qEarth, &s);

    double qStart[4], rest[3];
    Attitude(0.0, qStart, rest);
    ConjugateTimes(qStart, s.qTrue, s.qInitial);
    double r0, p0, y0;
    EulerFromQuaternion(s.qInitial, &r0, &p0, &y0);
    s.initialPhiDeg = r0 / kDeg;
    s.initialThetaDeg = p0 / kDeg;
    s.initialPsiDeg = y0 / kDeg;
    return s;
}

MotionSample StillSample(const double reading[3], double headingDeg)
{
    MotionSample s;
    const double n = std::sqrt(reading[0] * reading[0] + reading[1] * reading[1] + reading[2] * reading[2]);
    const double u[3] = {reading[0] / n, reading[1] / n, reading[2] / n};
    // The rotation sensor -> earth that takes u onto down (0, 0, 1), then the heading about down.
    double level[4];
    const double w2 = 0.5 * (1.0 + u[2]);
    if (w2 < 1e-12) {
        level[0] = 0, level[1] = 1, level[2] = 0, level[3] = 0;
    } else {
        const double w = std::sqrt(w2);
        level[0] = w, level[1] = 0.5 * u[1] / w, level[2] = -0.5 * u[0] / w, level[3] = 0;
    }
    const double h = 0.5 * headingDeg * kDeg;
    const double turn[4] = {std::cos(h), 0, 0, std::sin(h)};
    double inverse[4] = {turn[0], -turn[1], -turn[2], -turn[3]};
    ConjugateTimes(inverse, level, s.qTrue); // turn * level
    std::copy(s.qTrue, s.qTrue + 4, s.qEarth);
    const double down[3] = {0, 0, 1};
    EarthToSensor(s.qTrue, down, s.acc);
    std::copy(s.acc, s.acc + 3, s.gravity);
    const double field[3] = {std::cos(kInclination), 0.0, std::sin(kInclination)};
    EarthToSensor(s.qTrue, field, s.mag);
    SetEarthAngles(s.qTrue, &s);
    return s;
}

double Motion::PeakRateDegPerS(double seconds) const
{
    double peak = 0;
    for (double t = 0; t < seconds; t += 0.001) {
        const MotionSample s = At(t, 0.0);
        peak = std::max(peak, std::sqrt(s.gyro[0] * s.gyro[0] + s.gyro[1] * s.gyro[1] + s.gyro[2] * s.gyro[2]));
    }
    return peak / kDeg;
}
