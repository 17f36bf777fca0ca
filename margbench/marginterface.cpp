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
    std::copy(values.scale, values.scale + 3, calib.scale);
    std::copy(values.offset, values.offset + 3, calib.offset);
}

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
        const int a = core->FieldCalib_StageCheck(accCalib, ax, ay, az, stage);
        const int m = core->FieldCalib_StageCheck(magCalib, mx, my, mz, stage);
        if (a != m)
            return -1;
        if (a == marg::kCalibrationDone) {
            calibrated = true;
            stage = 0;
        } else if (a == marg::kStageDone) {
            ++stage; // the stage the user is asked to start next
        }
        return a;
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
    accCalib.StartCalibration();
    magCalib.StartCalibration();
    filterState.reset = 1;
    return 1;
}

int MargInterface::FieldCalib_NextStage()
{
    accCalib.command = 2;
    magCalib.command = 2;
    return 1;
}

int MargInterface::Load_CalibData()
{
    Install(accCalib, kAccCalibration);
    Install(magCalib, kMagCalibration);
    calibrated = true;
    MargCore::CheckAttitude(core->referenceQuaternion);
    core->filterQuaternion[0] = 1;
    core->filterQuaternion[1] = core->filterQuaternion[2] = core->filterQuaternion[3] = 0;
    return 1;
}
