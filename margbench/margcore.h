#ifndef MARGBENCH_MARGCORE_H
#define MARGBENCH_MARGCORE_H

#include "margbench_global.h"
#include "margfilter.h"

#include <QtCore/QObject>

struct FilterState;
struct SensorCalib;

// The fusion filter behind MargInterface: its state as the interface sees it (a block of floats),
// the filter that advances it and the stage check of the field calibration.
class MARGBENCH_EXPORT MargCore : public QObject
{
    Q_OBJECT

public:
    explicit MargCore(QObject *parent = nullptr);

    // 1 when the sample could start the filter (a usable accelerometer) and `state` now holds the
    // gyro bias and initial data for it; 0 otherwise.
    int Filter_Init(FilterState &state, float dt, float wx, float wy, float wz, float ax, float ay, float az,
                    float mx, float my, float mz);
    // Back to a filter that has not started, with nothing learnt (another sensor follows).
    void ForgetFilter() { filter.Reset(false); }
    // Takes over the initial data of `state` and starts the filter from them at the identity.
    void Load_InitialState(const FilterState &state);
    // Advances the filter and output quaternions by dt seconds; the out-parameters receive the gyro
    // bias the filter still removes on top of the state's (rad/s).
    void Filter_Update(float dt, float wx, float wy, float wz, float ax, float ay, float az, float mx, float my,
                       float mz, float &biasX, float &biasY, float &biasZ);
    // One sample of a field calibration stage; the codes of SensorCalib (0, 4, 1, -1). The seventh
    // stage of the accelerometer is expected in the reference attitude.
    int FieldCalib_StageCheck(SensorCalib &calib, double x, double y, double z, int stage);

    const marg::MargFilter &Filter() const { return filter; }

    // The attitude expected in the check stage of the field calibration: -45 degrees about x.
    static void CheckAttitude(float q[4]);

    float filterQuaternion[4] = {1, 0, 0, 0}; // the almost-inertial gyro frame
    float outputQuaternion[4] = {1, 0, 0, 0}; // sensor -> Earth
    float initialData[9] = {0, 0, 0, 0, 0, 0, 1, 0, 0};
    float referenceQuaternion[4]; // the check attitude of the field calibration
    float initialHeading = 0;

signals:
    // The inputs of an update as the filter used them, at most 25 times a second of sample time.
    void Sig_Update_NewInputs(float t, float wx, float wy, float wz, float ax, float ay, float az, float mx,
                              float my, float mz);

private:
    marg::MargFilter filter;
    double sinceEmit = 0;
};

#endif // MARGBENCH_MARGCORE_H
