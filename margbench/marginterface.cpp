#include "marginterface.h"

#include "margcore.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kRadToDeg = 57.29578f;
constexpr float kPi = 3.1415927f;
// The first updates of the object's life take this step whatever their dt: the filter settles on
// its first samples before it integrates real time.
constexpr int kStartupUpdates = 9;
constexpr float kStartupStep = 0.000005f;

// A sensor that reads exactly zero on every axis is not there (a node without a magnetometer
// sends zeros); calibrating its zeros would invent a reading of minus the offset.
void Calibrate(const SensorCalib &calib, float &x, float &y, float &z)
{
    if (x != 0.0f || y != 0.0f || z != 0.0f)
        calib.Apply(x, y, z);
}

// asin of a value that rounding may have pushed just past +-1.
float ClampedAsin(float v) { return std::asin(std::max(-1.0f, std::min(1.0f, v))); }

struct BuiltInCalibration
{
    double scale[3];
    double offset[3];
};

const BuiltInCalibration kAccCalibration = {{1.00087, 1.00377, 1.01325}, {-0.0189032, -0.0340478, 0.134502}};
const BuiltInCalibration kMagCalibration = {{0.490208, 0.502875, 0.425844}, {-0.102909, 0.00104875, 0.0360848}};

void Install(SensorCalib &calib, const BuiltInCalibration &values)
{
    calib.SetAxisAligned(values.scale, values.offset);
}

// A stage's dt as the sweep's clock takes it: a gap in the stream is not time spent sweeping.
double SweepStep(float dt) { return dt > 0.0f && dt < 1.0f ? double(dt) : 0.0; }

// The sweep's fit is measured again this often (seconds of samples).
constexpr double kSweepEvaluationInterval = 1.0;
// The sweep fits the field averaged over this long: a hand turns the sensor by a degree meanwhile,
// and the noise of single samples, which says nothing about the calibration, averages out.
constexpr double kSweepBlock = 0.02;

} // namespace

MargInterface::MargInterface(QObject *parent)
    : QObject(parent)
    , core(new MargCore(this))
{}

MargInterface::~MargInterface() = default;

void MargInterface::EulerAngles(const float q[4], float &psiOut, float &thetaOut, float &phiOut)
{
    psiOut = std::atan2(2 * q[1] * q[2] - 2 * q[0] * q[3], 2 * q[0] * q[0] + 2 * q[1] * q[1] - 1) * kRadToDeg;
    thetaOut = -ClampedAsin(2 * q[1] * q[3] + 2 * q[0] * q[2]) * kRadToDeg;
    phiOut = std::atan2(2 * q[2] * q[3] - 2 * q[0] * q[1], 2 * q[0] * q[0] + 2 * q[3] * q[3] - 1) * kRadToDeg;
}

void MargInterface::GravityVector(const float q[4], float &gx, float &gy, float &gz)
{
    gx = 2 * (q[1] * q[3] - q[0] * q[2]);
    gy = 2 * (q[0] * q[1] + q[2] * q[3]);
    gz = q[0] * q[0] - q[1] * q[1] - q[2] * q[2] + q[3] * q[3];
}

void MargInterface::RollPitchYaw(const float q[4], float &rollOut, float &pitchOut, float &yawOut)
{
    const float n = 2.0f / (q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    const float s = n * (q[1] * q[3] - q[0] * q[2]);
    float rollAngle = 0;
    if (std::fabs(s) >= 1.0f) {
        // Gimbal lock: roll and yaw turn about the same axis; all of it is put into roll.
        yawOut = 0;
        const float y = n * (q[1] * q[2] - q[0] * q[3]);
        const float x = n * (q[0] * q[2] + q[1] * q[3]);
        if (s < 0) {
            rollAngle = std::atan2(y, x);
            pitchOut = -90;
        } else {
            rollAngle = std::atan2(-y, -x);
            pitchOut = 90;
        }
    } else {
        const float p = ClampedAsin(s);
        const float c = std::cos(-p);
        rollAngle = std::atan2(n * (q[0] * q[1] + q[2] * q[3]) / c, (1 - n * (q[1] * q[1] + q[2] * q[2])) / c);
        yawOut = std::atan2(n * (q[0] * q[3] + q[1] * q[2]) / c, (1 - n * (q[2] * q[2] + q[3] * q[3])) / c) * 180 /
                 kPi;
        pitchOut = p * 180 / kPi;
    }
    rollOut = rollAngle * 180 / kPi;
    if (rollOut < 0)
        rollOut += 360;
}

int MargInterface::Process_Sample(float dt, float wx, float wy, float wz, float ax, float ay, float az, float mx,
                                  float my, float mz, float &q0, float &q1, float &q2, float &q3)
{
    if (!calibrated) {
        // A glitch in one sensor drops the whole sample, so that the sensors' stages stay in step.
        // (The running filter copes with each sensor's faults on its own.)
        const float all[9] = {wx, wy, wz, ax, ay, az, mx, my, mz};
        if (!std::all_of(all, all + 9, [](float v) { return std::isfinite(v); }))
            return marg::kStageSampling;
        const float acc[3] = {ax, ay, az}, mag[3] = {mx, my, mz};
        return CalibrationSample(dt, acc, mag);
    }

    if (initialised) {
        wx -= filterState.gyroBias[0];
        wy -= filterState.gyroBias[1];
        wz -= filterState.gyroBias[2];
        Calibrate(accCalib, ax, ay, az);
        Calibrate(magCalib, mx, my, mz);
        if (startupCounter <= kStartupUpdates) {
            ++startupCounter;
            dt = kStartupStep;
        }
        float bias[3];
        core->Filter_Update(dt, wx, wy, wz, ax, ay, az, mx, my, mz, bias[0], bias[1], bias[2]);
        std::copy(core->filterQuaternion, core->filterQuaternion + 4, filterQuaternion);
        std::copy(core->outputQuaternion, core->outputQuaternion + 4, outputQuaternion);
        q0 = outputQuaternion[0];
        q1 = outputQuaternion[1];
        q2 = outputQuaternion[2];
        q3 = outputQuaternion[3];
        EulerAngles(outputQuaternion, psi, theta, phi);
        EulerAngles(filterQuaternion, filterEuler[0], filterEuler[1], filterEuler[2]);
        GravityVector(outputQuaternion, gravity[0], gravity[1], gravity[2]);
        RollPitchYaw(outputQuaternion, roll, pitch, yaw);
        return 1;
    }

    Calibrate(accCalib, ax, ay, az);
    Calibrate(magCalib, mx, my, mz);
    const int r = core->Filter_Init(filterState, dt, wx, wy, wz, ax, ay, az, mx, my, mz);
    if (r != 1)
        return r;
    core->Load_InitialState(filterState);
    initialised = true;
    return 1;
}

int MargInterface::CalibrationSample(float dt, const float acc[3], const float mag[3])
{
    if (stage == marg::kSweepStage)
        return SweepSample(dt, acc, mag);
    const int a = core->FieldCalib_StageCheck(accCalib, acc[0], acc[1], acc[2], stage);
    const int m = core->FieldCalib_StageCheck(magCalib, mag[0], mag[1], mag[2], stage);
    if (a == marg::kStageFailed || m == marg::kStageFailed || (a == marg::kStageSampling) != (m == marg::kStageSampling))
        return marg::kStageFailed;
    if (a == marg::kStageSampling)
        return a;
    if (stage < marg::kCalibStages - 1) {
        ++stage; // the stage the user is asked to start next
        return marg::kStageDone;
    }
    if (m == marg::kCalibrationDone) { // no magnetometer: nothing to sweep
        calibrated = true;
        stage = 0;
        return marg::kCalibrationDone;
    }
    stage = marg::kSweepStage;
    sweepOpen = false; // until the user starts it
    return marg::kStageDone;
}

int MargInterface::SweepSample(float dt, const float acc[3], const float mag[3])
{
    if (!sweepOpen)
        return marg::kStageSampling;
    const double m[3] = {mag[0], mag[1], mag[2]}, a[3] = {acc[0], acc[1], acc[2]};
    if (m[0] == 0.0 && m[1] == 0.0 && m[2] == 0.0)
        return marg::kStageSampling; // the magnetometer is not reading
    for (int i = 0; i < 3; ++i) {
        blockSum[i] += m[i];
        blockSum[3 + i] += a[i];
    }
    ++blockCount;
    blockTime += SweepStep(dt);
    if (blockTime >= kSweepBlock || blockCount >= 64) {
        double mean[6];
        for (int i = 0; i < 6; ++i)
            mean[i] = blockSum[i] / blockCount;
        sweep.Add(mean, mean + 3);
        std::fill(blockSum, blockSum + 6, 0.0);
        blockCount = 0;
        blockTime = 0;
    }
    sweepSeconds += SweepStep(dt);
    sinceEvaluation += SweepStep(dt);
    if (sinceEvaluation < kSweepEvaluationInterval)
        return marg::kStageSampling;
    sinceEvaluation = 0;
    sweepQuality = sweep.Evaluate();
    double matrix[3][3], center[3];
    if (sweepQuality.Passes() && sweep.Result(matrix, center) && magCalib.SetEllipsoid(matrix, center)) {
        sweepOpen = false;
        calibrated = true;
        stage = 0;
        return marg::kCalibrationDone;
    }
    if (sweepSeconds >= marg::kSweepTimeLimit) {
        sweepOpen = false; // stays at the sweep stage: the next press starts it again
        return marg::kStageFailed;
    }
    return marg::kSweepEvaluated;
}

int MargInterface::Get_Status(bool &calibratedOut, int &stageOut, bool &initialisedOut) const
{
    calibratedOut = calibrated;
    stageOut = stage;
    initialisedOut = initialised;
    return 1;
}

int MargInterface::FieldCalib_Start()
{
    calibrated = false;
    initialised = false;
    stage = 0;
    sweepOpen = false;
    accCalib.StartCalibration();
    magCalib.StartCalibration();
    filterState.reset = 1;
    return 1;
}

int MargInterface::FieldCalib_NextStage()
{
    accCalib.command = 2;
    magCalib.command = 2;
    if (!calibrated && stage == marg::kSweepStage) {
        double guess[3];
        magCalib.Center(guess);
        sweep.Start(guess);
        sweepQuality = marg::SweepQuality();
        sweepOpen = true;
        sweepSeconds = 0;
        sinceEvaluation = 0;
        std::fill(blockSum, blockSum + 6, 0.0);
        blockCount = 0;
        blockTime = 0;
    }
    return 1;
}

void MargInterface::RestartFilter()
{
    calibrated = true;
    stage = 0;
    sweepOpen = false;
    initialised = false;
    startupCounter = 1;
    filterState = FilterState();
    core->ForgetFilter();
}

int MargInterface::Load_CalibData()
{
    Install(accCalib, kAccCalibration);
    Install(magCalib, kMagCalibration);
    calibrated = true;
    sweepOpen = false;
    MargCore::CheckAttitude(core->referenceQuaternion);
    core->filterQuaternion[0] = 1;
    core->filterQuaternion[1] = core->filterQuaternion[2] = core->filterQuaternion[3] = 0;
    return 1;
}
