#ifndef MARGBENCH_MARGINTERFACE_H
#define MARGBENCH_MARGINTERFACE_H

#include "fieldsweep.h"
#include "filterstate.h"
#include "margbench_global.h"
#include "sensorcalib.h"

#include <QtCore/QObject>

class MargCore;

// The software attitude estimator of the MARG bench: one raw sample at a time through the field
// calibration, the fusion filter and the conversions of its result (quaternion, two sets of Euler
// angles, gravity vector, roll/pitch/yaw). Also drives the staged field calibration.
class MARGBENCH_EXPORT MargInterface : public QObject
{
    Q_OBJECT

public:
    explicit MargInterface(QObject *parent = nullptr);
    ~MargInterface() override;

    // dt in seconds, rates in rad/s, acceleration in g, field in Earth fields (raw, before the
    // calibration). 1 after a filter update (q0..q3 written); while calibrating the stage code; the
    // filter's start-up code until it starts. While calibrating, a sample with any reading not
    // finite is dropped whole.
    int Process_Sample(float dt, float wx, float wy, float wz, float ax, float ay, float az, float mx, float my,
                       float mz, float &q0, float &q1, float &q2, float &q3);
    int Get_Status(bool &calibrated, int &stage, bool &initialised) const;
    int FieldCalib_Start();
    // Opens the next stage; in the magnetometer sweep (also after it failed), starts it afresh.
    int FieldCalib_NextStage();
    int Load_CalibData();
    // Starts the filter again from the next sample, keeping the calibration; a field calibration in
    // progress is abandoned (the current calibration stays).
    void RestartFilter();

    // The magnetometer sweep: its samples and its figures as last measured.
    const marg::FieldSweep &Sweep() const { return sweep; }
    const marg::SweepQuality &SweepFigures() const { return sweepQuality; }
    bool Sweeping() const { return !calibrated && stage == marg::kSweepStage && sweepOpen; }
    double SweepSeconds() const { return sweepSeconds; }
    // The conversions, in single precision as the bench shows them.
    static void EulerAngles(const float q[4], float &psi, float &theta, float &phi);
    static void GravityVector(const float q[4], float &gx, float &gy, float &gz);
    static void RollPitchYaw(const float q[4], float &roll, float &pitch, float &yaw);

    const MargCore *Core() const { return core; }
    const float *OutputQuaternion() const { return outputQuaternion; }
    const float *FilterQuaternion() const { return filterQuaternion; }
    const float *FilterEuler() const { return filterEuler; }
    float Psi() const { return psi; }
    float Theta() const { return theta; }
    float Phi() const { return phi; }
    const float *Gravity() const { return gravity; }
    float Roll() const { return roll; }
    float Pitch() const { return pitch; }
    float Yaw() const { return yaw; }
    const SensorCalib &AccCalib() const { return accCalib; }
    const SensorCalib &MagCalib() const { return magCalib; }
    const FilterState &State() const { return filterState; }

private:
    MargCore *core;
    float filterQuaternion[4] = {1, 0, 0, 0};
    float filterEuler[3] = {};
    float outputQuaternion[4] = {1, 0, 0, 0};
    float psi = 0, theta = 0, phi = 0;
    float gravity[3] = {0, 0, -1};
    float roll = 0, pitch = 0, yaw = 0;
    SensorCalib accCalib{SensorKind::Gravity};
    SensorCalib magCalib{SensorKind::Magnetic};
    int stage = 0;
    bool calibrated = false;
    bool initialised = false;
    FilterState filterState;
    int startupCounter = 1;
    marg::FieldSweep sweep;
    marg::SweepQuality sweepQuality;
    bool sweepOpen = false;
    double sweepSeconds = 0;
    double sinceEvaluation = 0;
    double blockSum[6] = {}; // field and acceleration, summed over the current block
    int blockCount = 0;
    double blockTime = 0;

    int CalibrationSample(float dt, const float acc[3], const float mag[3]);
    int SweepSample(float dt, const float acc[3], const float mag[3]);
};

#endif // MARGBENCH_MARGINTERFACE_H
