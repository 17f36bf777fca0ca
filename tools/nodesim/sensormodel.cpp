#include "sensormodel.h"

#include "motion.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
// Below this the time between readings says nothing about the bandwidth; the first reading and
// a repeated time stamp use the noise of an 800 Hz stream.
constexpr double kDefaultInterval = 1.0 / 800.0;


} // namespace

SensorErrors SensorErrors::Typical()
{
    SensorErrors e;
    e.gyroNoise = 0.007 * kDeg;   // 0.007 deg/s/sqrt(Hz)
    e.accNoise = 150e-6;          // 150 ug/sqrt(Hz)
    e.magNoise = 1e-3;            // about 0.05 uT/sqrt(Hz) in a 50 uT field
    e.gyroBias[0] = 0.6 * kDeg;   // a turn-on bias of about half a degree per second
    e.gyroBias[1] = -0.4 * kDeg;
    e.gyroBias[2] = 0.3 * kDeg;
    e.gyroBiasDrift = 0.01 * kDeg; // drifts by some 0.1 deg/s in two minutes
    const double accScale[3] = {1.012, 0.985, 1.021}, accOffset[3] = {0.031, -0.024, 0.045};
    const double magScale[3] = {0.96, 1.03, 1.05}, magOffset[3] = {0.08, -0.12, 0.05};
    for (int i = 0; i < 3; ++i) {
        e.accScale[i] = accScale[i];
        e.accOffset[i] = accOffset[i];
        e.magScale[i] = magScale[i];
        e.magOffset[i] = magOffset[i];
    }
    return e;
}

bool SensorErrors::Any() const
{
    bool any = gyroNoise > 0 || accNoise > 0 || magNoise > 0 || gyroBiasDrift > 0 || disturbanceStart >= 0;
    for (int i = 0; i < 3; ++i) {
        any = any || gyroBias[i] != 0 || accScale[i] != 1 || accOffset[i] != 0 || magScale[i] != 1 ||
              magOffset[i] != 0;
        for (int j = 0; j < 3; ++j)
            any = any || magSoftIron[i][j] != (i == j ? 1.0 : 0.0);
    }
    return any;
}

bool SensorErrors::SoftIronPreset(const std::string &name, double out[3][3])
{
    // Symmetric, as the induced field of soft iron is.
    static const double kMild[3][3] = {{1.04, 0.02, -0.015}, {0.02, 0.97, 0.025}, {-0.015, 0.025, 1.01}};
    static const double kStrong[3][3] = {{1.22, 0.14, -0.09}, {0.14, 0.86, 0.11}, {-0.09, 0.11, 1.08}};
    const double(*chosen)[3] = name == "mild" ? kMild : name == "strong" ? kStrong : nullptr;
    if (!chosen)
        return false;
    for (int i = 0; i < 3; ++i)
        std::copy(chosen[i], chosen[i] + 3, out[i]);
    return true;
}

SensorModel::SensorModel(const SensorErrors &errors, uint64_t seed)
    : errors_(errors)
    , random_(seed)
{
    std::copy(errors.gyroBias, errors.gyroBias + 3, bias_);
}

void SensorModel::DisturbanceAt(double t, double out[3]) const
{
    double weight = 0.0;
    const double u = t - errors_.disturbanceStart;
    const double ramp = 0.5;
    if (errors_.disturbanceStart >= 0 && u > 0 && u < errors_.disturbanceDuration + 2 * ramp) {
        if (u < ramp)
            weight = 0.5 * (1 - std::cos(kPi * u / ramp));
        else if (u < ramp + errors_.disturbanceDuration)
            weight = 1.0;
        else
            weight = 0.5 * (1 + std::cos(kPi * (u - ramp - errors_.disturbanceDuration) / ramp));
    }
    for (int i = 0; i < 3; ++i)
        out[i] = weight * errors_.disturbanceField[i];
}

void SensorModel::Read(const MotionSample &truth, double t, double gyro[3], double acc[3], double mag[3])
{
    double interval = lastT_ >= 0 ? t - lastT_ : kDefaultInterval;
    if (!(interval > 0))
        interval = kDefaultInterval;
    lastT_ = t;

    // White noise of density N sampled at 1/interval has a standard deviation N * sqrt(bandwidth).
    const double bandwidth = std::sqrt(0.5 / interval);
    const double step = std::sqrt(std::min(interval, 1.0));

    double extra[3], extraSensor[3], field[3];
    DisturbanceAt(t, extra);
    EarthToSensor(truth.qTrue, extra, extraSensor);
    for (int i = 0; i < 3; ++i) {
        field[i] = 0.0;
        for (int j = 0; j < 3; ++j)
            field[i] += errors_.magSoftIron[i][j] * (truth.mag[j] + extraSensor[j]);
    }
    for (int i = 0; i < 3; ++i) {
        if (errors_.gyroBiasDrift > 0)
            bias_[i] += errors_.gyroBiasDrift * step * normal_(random_);
        gyro[i] = truth.gyro[i] + bias_[i];
        acc[i] = errors_.accScale[i] * (truth.acc[i] + errors_.accOffset[i]);
        mag[i] = errors_.magScale[i] * (field[i] + errors_.magOffset[i]);
        if (errors_.gyroNoise > 0)
            gyro[i] += errors_.gyroNoise * bandwidth * normal_(random_);
        if (errors_.accNoise > 0)
            acc[i] += errors_.accNoise * bandwidth * normal_(random_);
        if (errors_.magNoise > 0)
            mag[i] += errors_.magNoise * bandwidth * normal_(random_);
    }
}
