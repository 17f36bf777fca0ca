#ifndef NODESIM_SENSORMODEL_H
#define NODESIM_SENSORMODEL_H

#include "motion.h"

#include <cstdint>
#include <random>
#include <string>

// What makes a real sensor differ from the true motion. All zero (and unit scales): perfect
// sensors, which is what the simulator streams unless told otherwise.
struct SensorErrors
{
    double gyroNoise = 0.0;     // rad/s per sqrt(Hz)
    double accNoise = 0.0;      // g per sqrt(Hz)
    double magNoise = 0.0;      // earth fields per sqrt(Hz)
    double gyroBias[3] = {};    // rad/s
    double gyroBiasDrift = 0.0; // rad/s per sqrt(s): a random walk of the bias
    // Reading = scale * (true + offset), per axis: the inverse of the bench's calibration model.
    double accScale[3] = {1, 1, 1};
    double accOffset[3] = {};
    double magScale[3] = {1, 1, 1};
    double magOffset[3] = {};
    // Soft iron near the magnetometer: reading = scale * (softIron * true + offset). Identity: none.
    double magSoftIron[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    // An iron object brought near: an extra field (earth frame, earth fields) that fades in over
    // half a second at disturbanceStart, stays for disturbanceDuration and fades out again.
    double disturbanceStart = -1.0;
    double disturbanceDuration = 0.0;
    double disturbanceField[3] = {0.3, -0.25, 0.2};

    // Noise densities and biases of a typical consumer MEMS part, with moderate calibration errors.
    static SensorErrors Typical();
    bool Any() const;
    // The soft-iron matrices known by name: "mild" (a few percent, as a board's own parts give) and
    // "strong" (a steel screw or bracket close by). False for another name.
    static bool SoftIronPreset(const std::string &name, double out[3][3]);
};

// Turns the true motion into the readings of an imperfect sensor. Deterministic for one seed.
class SensorModel
{
public:
    explicit SensorModel(const SensorErrors &errors = SensorErrors(), uint64_t seed = 1);

    // Readings at t seconds; successive calls must have increasing t (the bias drift and the noise
    // bandwidth follow the time between calls).
    void Read(const MotionSample &truth, double t, double gyro[3], double acc[3], double mag[3]);
    const SensorErrors &Errors() const { return errors_; }
    const double *CurrentGyroBias() const { return bias_; }
    // The extra field of the iron object at t (earth frame).
    void DisturbanceAt(double t, double out[3]) const;

private:
    SensorErrors errors_;
    std::mt19937_64 random_;
    std::normal_distribution<double> normal_{0.0, 1.0};
    double bias_[3];
    double lastT_ = -1.0;
};

#endif // NODESIM_SENSORMODEL_H
