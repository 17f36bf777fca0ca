#ifndef TESTS_MARGDRIVE_H
#define TESTS_MARGDRIVE_H

// Drives a MargInterface with the simulator's motion and sensor models: the still stages of a
// field calibration, recorded motion, and the error of an estimate against the true attitude.
// Shared by the MARG tests and bench_marg.

#include "marginterface.h"
#include "motion.h"
#include "sensormodel.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace margdrive {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

constexpr auto &kStageReadings = kCalibrationStageReadings;

struct Sample
{
    float dt;
    float gyr[3], acc[3], mag[3];
    double truth[4]; // sensor -> earth (north-east-down)
};

struct Error
{
    double total, heading, inclination; // degrees
};

// The error of q against the truth, split into a rotation about the vertical (heading) and the
// rest (inclination).
inline Error Compare(const float q[4], const double truth[4])
{
    // e = q * truth^-1, in the earth frame.
    const double a[4] = {q[0], q[1], q[2], q[3]};
    const double b[4] = {truth[0], -truth[1], -truth[2], -truth[3]};
    double e[4] = {a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
                   a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
                   a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
                   a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0]};
    const double n = std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2] + e[3] * e[3]);
    for (double &c : e)
        c /= n;
    Error out;
    out.total = 2.0 * std::acos(std::min(1.0, std::fabs(e[0]))) / kDeg;
    out.heading = 2.0 * std::atan(std::fabs(e[3] / e[0])) / kDeg;
    if (out.heading > 180.0)
        out.heading = 360.0 - out.heading;
    out.inclination = 2.0 * std::acos(std::min(1.0, std::sqrt(e[0] * e[0] + e[3] * e[3]))) / kDeg;
    return out;
}

// Samples of the path at `rate` Hz for `seconds`, with dt as the bench gets it from 32-bit
// microsecond time stamps.
inline std::vector<Sample> Record(const Motion &motion, SensorModel &sensors, double rate, double seconds,
                                  double start = 0.0)
{
    std::vector<Sample> samples;
    const long count = long(seconds * rate);
    samples.reserve(size_t(count));
    unsigned lastStamp = unsigned(std::llround(start * 1e6));
    for (long i = 1; i <= count; ++i) {
        const double t = start + double(i) / rate;
        const unsigned stamp = unsigned(std::llround(t * 1e6));
        const MotionSample m = motion.At(t, 0.0);
        double g[3], a[3], f[3];
        sensors.Read(m, t, g, a, f);
        Sample s;
        s.dt = float(stamp - lastStamp) * 0.000001f;
        lastStamp = stamp;
        for (int k = 0; k < 3; ++k) {
            s.gyr[k] = float(g[k]);
            s.acc[k] = float(a[k]);
            s.mag[k] = float(f[k]);
        }
        std::copy(m.qTrue, m.qTrue + 4, s.truth);
        samples.push_back(s);
    }
    return samples;
}

inline int Feed(MargInterface &marg, const Sample &s, float q[4])
{
    return marg.Process_Sample(s.dt, s.gyr[0], s.gyr[1], s.gyr[2], s.acc[0], s.acc[1], s.acc[2], s.mag[0],
                               s.mag[1], s.mag[2], q[0], q[1], q[2], q[3]);
}

// Feeds still samples in the attitude that reads `reading` until the stage ends; returns the code.
inline int StillStage(MargInterface &marg, SensorModel &sensors, const double reading[3], double headingDeg,
                      double rate, double *t)
{
    const MotionSample still = StillSample(reading, headingDeg);
    float q[4] = {1, 0, 0, 0};
    for (int i = 0; i < 6000; ++i) {
        *t += 1.0 / rate;
        double g[3], a[3], f[3];
        sensors.Read(still, *t, g, a, f);
        const int status = marg.Process_Sample(float(1.0 / rate), float(g[0]), float(g[1]), float(g[2]),
                                               float(a[0]), float(a[1]), float(a[2]), float(f[0]), float(f[1]),
                                               float(f[2]), q[0], q[1], q[2], q[3]);
        if (status != 0)
            return status;
    }
    return 0;
}

// The magnetometer sweep: the sensor follows the sweep of the calibration path until the stage
// ends, at most `seconds`. Returns the last status (1 done, -1 failed, else still sweeping).
inline int SweepStage(MargInterface &marg, SensorModel &sensors, double rate, double *t, double seconds = 130.0)
{
    marg.FieldCalib_NextStage();
    const Motion path(0, MotionProfile::Calibration);
    const double start = CalibrationStageStart(7);
    float q[4] = {1, 0, 0, 0};
    int status = 0;
    for (long i = 1; i <= long(seconds * rate); ++i) {
        *t += 1.0 / rate;
        double g[3], a[3], f[3];
        sensors.Read(path.At(start + double(i) / rate, 0.0), *t, g, a, f);
        status = marg.Process_Sample(float(1.0 / rate), float(g[0]), float(g[1]), float(g[2]), float(a[0]),
                                     float(a[1]), float(a[2]), float(f[0]), float(f[1]), float(f[2]), q[0], q[1],
                                     q[2], q[3]);
        if (status == -1 || status == 1)
            break;
    }
    return status;
}

// A whole field calibration with the sensor turned to a different heading in every stage, then
// the sweep when a magnetometer reads. Returns 1 when it completed.
inline int CalibrateInField(MargInterface &marg, SensorModel &sensors, double rate, double *t)
{
    marg.FieldCalib_Start();
    int status = 0;
    for (int stage = 0; stage < 7; ++stage) {
        if (stage > 0)
            marg.FieldCalib_NextStage();
        status = StillStage(marg, sensors, kStageReadings[stage], 37.0 * stage + 10.0, rate, t);
        if (status == -1 || status == 1)
            return status;
    }
    return SweepStage(marg, sensors, rate, t);
}

} // namespace margdrive

#endif // TESTS_MARGDRIVE_H
