#include "margcore.h"

#include "filterstate.h"
#include "sensorcalib.h"

#include <cmath>

namespace {

// The chart shows the inputs at this rate; faster streams would only pile up points it cannot draw.
constexpr double kEmitInterval = 0.04;

} // namespace

MargCore::MargCore(QObject *parent)
    : QObject(parent)
{
    CheckAttitude(referenceQuaternion);
}

void MargCore::CheckAttitude(float q[4])
{
    const double axis[3] = {1, 0, 0};
    const double length = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
    const double h = -45.0 * 0.017453293005625408 * 0.5;
    q[0] = float(std::cos(h));
    for (int i = 0; i < 3; ++i)
        q[1 + i] = float(-std::sin(h) * axis[i] / length);
}

int MargCore::Filter_Init(FilterState &state, float dt, float wx, float wy, float wz, float ax, float ay,
                          float az, float mx, float my, float mz)
{
    Q_UNUSED(dt);
    Q_UNUSED(wx);
    Q_UNUSED(wy);
    Q_UNUSED(wz);
    const double acc[3] = {ax, ay, az};
    const double mag[3] = {mx, my, mz};
    bool magPresent = false;
    double heading = 0, norm = 1, dip = 0;
    if (!marg::MargFilter::Measure(acc, mag, &magPresent, &heading, &norm, &dip))
        return 0;
    const double n = marg::Norm3(acc);
    for (int i = 0; i < 3; ++i) {
        state.initialData[i] = float(acc[i] / n);
        state.initialData[3 + i] = magPresent ? float(mag[i]) : 0.0f;
        // What the running filter has learnt of the bias carries over to the new start.
        if (filter.Started())
            state.gyroBias[i] += float(filter.Bias()[i]);
    }
    state.initialData[6] = float(norm);
    state.initialData[7] = float(dip);
    state.initialData[8] = magPresent ? 1.0f : 0.0f;
    state.initialHeading = float(heading);
    state.reset = 0;
    return 1;
}

void MargCore::Load_InitialState(const FilterState &state)
{
    std::copy(state.initialData, state.initialData + 9, initialData);
    initialHeading = state.initialHeading;
    filter.Reset(false);
    const double acc[3] = {initialData[0], initialData[1], initialData[2]};
    filter.Start(acc, initialData[8] != 0.0f, initialHeading, initialData[6], initialData[7]);
    const marg::Quat out = filter.Quat9D();
    filterQuaternion[0] = 1;
    filterQuaternion[1] = filterQuaternion[2] = filterQuaternion[3] = 0;
    outputQuaternion[0] = float(out.w);
    outputQuaternion[1] = float(out.x);
    outputQuaternion[2] = float(out.y);
    outputQuaternion[3] = float(out.z);
    sinceEmit = kEmitInterval; // the first update shows at once
}

void MargCore::Filter_Update(float dt, float wx, float wy, float wz, float ax, float ay, float az, float mx,
                             float my, float mz, float &biasX, float &biasY, float &biasZ)
{
    const double gyr[3] = {wx, wy, wz};
    const double acc[3] = {ax, ay, az};
    const double mag[3] = {mx, my, mz};
    filter.Update(dt, gyr, acc, mag);

    const marg::Quat &g = filter.GyroQuat();
    const marg::Quat &q = filter.Quat9D();
    filterQuaternion[0] = float(g.w);
    filterQuaternion[1] = float(g.x);
    filterQuaternion[2] = float(g.y);
    filterQuaternion[3] = float(g.z);
    outputQuaternion[0] = float(q.w);
    outputQuaternion[1] = float(q.x);
    outputQuaternion[2] = float(q.y);
    outputQuaternion[3] = float(q.z);
    biasX = float(filter.Bias()[0]);
    biasY = float(filter.Bias()[1]);
    biasZ = float(filter.Bias()[2]);

    if (dt > 0 && dt < 1e6f)
        sinceEmit += double(dt);
    if (sinceEmit >= kEmitInterval) {
        sinceEmit = 0;
        emit Sig_Update_NewInputs(dt, wx, wy, wz, ax, ay, az, mx, my, mz);
    }
}

int MargCore::FieldCalib_StageCheck(SensorCalib &calib, double x, double y, double z, int stage)
{
    // The reference attitude's gravity, as the accelerometer reads it there.
    const float *r = referenceQuaternion;
    const double expected[3] = {2.0 * (r[1] * r[3] - r[0] * r[2]), 2.0 * (r[0] * r[1] + r[2] * r[3]),
                                double(r[0]) * r[0] - r[1] * r[1] - r[2] * r[2] + r[3] * r[3]};
    return marg::FieldCalibStageCheck(calib, x, y, z, stage, expected);
}
