// The MARG interface: its conversions of a quaternion, the calibration model, the three cases of
// a sample, and the field-calibration commands.

#include "margcore.h"
#include "marginterface.h"

#include <QtTest/QtTest>

#include <cmath>

namespace {

struct Quaternion
{
    float q[4];
};

// An ideal sensor lying level and still: gravity along z, the field north and 60 degrees down.
const float kLevelAcc[3] = {0, 0, 1};
const float kLevelMag[3] = {0.5f, 0, 0.8660254f};

int Sample(MargInterface &marg, float dt, const float gyr[3], const float acc[3], const float mag[3], float q[4])
{
    return marg.Process_Sample(dt, gyr[0], gyr[1], gyr[2], acc[0], acc[1], acc[2], mag[0], mag[1], mag[2], q[0],
                               q[1], q[2], q[3]);
}

} // namespace

Q_DECLARE_METATYPE(Quaternion)

class TestMargInterface : public QObject
{
    Q_OBJECT

private slots:
    void conversions_data();
    void conversions();
    void calibrationModel();
    void initialisationWaitsForAUsableSample();
    void startupStepsAreTiny();
    void fieldCalibrationCommands();
    void builtInCalibration();
};

void TestMargInterface::conversions_data()
{
    QTest::addColumn<Quaternion>("q");
    QTest::addColumn<QVector<float>>("euler");   // psi, theta, phi
    QTest::addColumn<QVector<float>>("gravity"); // x, y, z
    QTest::addColumn<QVector<float>>("rpy");     // roll, pitch, yaw

    const float c5 = std::cos(-5.0f * 3.14159265f / 180.0f), s5 = std::sin(-5.0f * 3.14159265f / 180.0f);
    QTest::newRow("identity") << Quaternion{{1, 0, 0, 0}} << QVector<float>{0, 0, 0} << QVector<float>{0, 0, 1}
                              << QVector<float>{0, 0, 0};
    QTest::newRow("gimbal lock, s = 1") << Quaternion{{0.5f, 0.5f, -0.5f, 0.5f}} << QVector<float>{-90, 0, -90}
                                        << QVector<float>{1, 0, 0} << QVector<float>{90, 90, 0};
    QTest::newRow("gimbal lock, s = -1") << Quaternion{{0.5f, 0.5f, 0.5f, -0.5f}} << QVector<float>{90, 0, -90}
                                         << QVector<float>{-1, 0, 0} << QVector<float>{90, -90, 0};
    QTest::newRow("roll of -10 degrees") << Quaternion{{c5, s5, 0, 0}} << QVector<float>{0, 0, 10}
                                         << QVector<float>{0, -0.17364818f, 0.98480775f}
                                         << QVector<float>{350, 0, 0};
    // Roll 20, pitch 10, yaw 30 (z-y-x): the pitch comes out with the opposite sign.
    QTest::newRow("roll 20, pitch 10, yaw 30")
        << Quaternion{{0.95154852f, 0.14487813f, 0.12767944f, 0.23929834f}}
        << QVector<float>{-26.132284f, -18.199375f, -13.056471f}
        << QVector<float>{-0.17364818f, 0.33682409f, 0.92541658f} << QVector<float>{20, -10, 30};
}

void TestMargInterface::conversions()
{
    QFETCH(Quaternion, q);
    QFETCH(QVector<float>, euler);
    QFETCH(QVector<float>, gravity);
    QFETCH(QVector<float>, rpy);
    float e[3], g[3], r[3];
    MargInterface::EulerAngles(q.q, e[0], e[1], e[2]);
    MargInterface::GravityVector(q.q, g[0], g[1], g[2]);
    MargInterface::RollPitchYaw(q.q, r[0], r[1], r[2]);
    for (int i = 0; i < 3; ++i) {
        QVERIFY2(std::fabs(e[i] - euler[i]) < 1e-3f, qPrintable(QStringLiteral("Euler %1: %2").arg(i).arg(e[i])));
        QVERIFY2(std::fabs(g[i] - gravity[i]) < 1e-5f, qPrintable(QStringLiteral("gravity %1: %2").arg(i).arg(g[i])));
        QVERIFY2(std::fabs(r[i] - rpy[i]) < 1e-3f, qPrintable(QStringLiteral("rpy %1: %2").arg(i).arg(r[i])));
    }
    QVERIFY(r[0] >= 0 && r[0] < 360);
}

void TestMargInterface::calibrationModel()
{
    SensorCalib calib(SensorKind::Gravity);
    calib.scale[0] = 2.0;
    calib.scale[1] = 0.5;
    calib.scale[2] = 1.0;
    calib.offset[0] = 0.25;
    calib.offset[1] = -1.0;
    calib.offset[2] = 0.1;
    float x = 3.0f, y = 1.0f, z = -0.3f;
    calib.Apply(x, y, z);
    QCOMPARE(x, float(3.0 / 2.0 - 0.25));
    QCOMPARE(y, float(1.0 / 0.5 + 1.0));
    QCOMPARE(z, float(-0.3f / 1.0 - 0.1));
}

void TestMargInterface::initialisationWaitsForAUsableSample()
{
    MargInterface marg;
    marg.Load_CalibData();
    const float still[3] = {0, 0, 0};
    const float noAcc[3] = {0, 0, 0}; // absent, not minus the offset
    const float nanAcc[3] = {NAN, 0, 1};
    float q[4] = {7, 7, 7, 7};

    // Calibrated, not initialised: every sample goes to the start-up check until one will do.
    QCOMPARE(Sample(marg, 0.01f, still, noAcc, kLevelMag, q), 0);
    QCOMPARE(Sample(marg, 0.01f, still, nanAcc, kLevelMag, q), 0);
    bool calibrated = false, initialised = true;
    int stage = -1;
    QCOMPARE(marg.Get_Status(calibrated, stage, initialised), 1);
    QVERIFY(calibrated);
    QVERIFY(!initialised);

    // The sample that starts the filter runs no update: the caller's quaternion stays as it was.
    QCOMPARE(Sample(marg, 0.01f, still, kLevelAcc, kLevelMag, q), 1);
    QCOMPARE(q[0], 7.0f);
    marg.Get_Status(calibrated, stage, initialised);
    QVERIFY(initialised);

    QCOMPARE(Sample(marg, 0.01f, still, kLevelAcc, kLevelMag, q), 1);
    const float norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    QVERIFY(std::fabs(norm - 1.0f) < 1e-5f);
}

void TestMargInterface::startupStepsAreTiny()
{
    // Start from calibrated unit data (field calibration replaced by an ideal one).
    MargInterface marg;
    marg.Load_CalibData();
    const SensorCalib &acc = marg.AccCalib();
    // Without a magnetometer nothing pulls the heading back. The accelerometer's raw reading is
    // what the built-in calibration turns into a level one.
    float a[3] = {0, 0, 1};
    const float m[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i)
        a[i] = float((a[i] + acc.offset[i]) * acc.scale[i]);
    const float turning[3] = {0, 0, 1.0f}; // 1 rad/s about z
    float q[4] = {1, 0, 0, 0};
    QCOMPARE(Sample(marg, 0.5f, turning, a, m, q), 1); // starts the filter
    float yaw = 0;
    for (int i = 0; i < 9; ++i) {
        QCOMPARE(Sample(marg, 0.5f, turning, a, m, q), 1);
        yaw = marg.Yaw();
    }
    QVERIFY2(std::fabs(yaw) < 0.01f, qPrintable(QString::number(yaw)));
    // The tenth update integrates its own half second: about 28.6 degrees of turn.
    Sample(marg, 0.5f, turning, a, m, q);
    QVERIFY2(std::fabs(std::fabs(marg.Yaw()) - 28.65f) < 1.0f, qPrintable(QString::number(marg.Yaw())));
}

void TestMargInterface::fieldCalibrationCommands()
{
    MargInterface marg;
    bool calibrated = true, initialised = true;
    int stage = -1;
    marg.Get_Status(calibrated, stage, initialised);
    QVERIFY(!calibrated); // a new interface is in a field calibration until told otherwise
    QCOMPARE(stage, 0);

    marg.Load_CalibData();
    QCOMPARE(marg.FieldCalib_Start(), 1);
    marg.Get_Status(calibrated, stage, initialised);
    QVERIFY(!calibrated);
    QVERIFY(!initialised);
    QCOMPARE(marg.AccCalib().command, 1);
    QCOMPARE(marg.MagCalib().stageOpen, 1);
    QCOMPARE(marg.State().reset, 1);

    QCOMPARE(marg.FieldCalib_NextStage(), 1);
    QCOMPARE(marg.AccCalib().command, 2);
    QCOMPARE(marg.MagCalib().command, 2);

    // While sampling, the quaternion is left alone and the status says "sampling".
    float q[4] = {7, 7, 7, 7};
    const float still[3] = {0, 0, 0};
    QCOMPARE(Sample(marg, 0.01f, still, kLevelAcc, kLevelMag, q), 0);
    QCOMPARE(q[0], 7.0f);
    QCOMPARE(marg.AccCalib().command, 1); // taken up by the stage check
}

void TestMargInterface::builtInCalibration()
{
    MargInterface marg;
    QCOMPARE(marg.Load_CalibData(), 1);
    QCOMPARE(marg.AccCalib().scale[2], 1.01325);
    QCOMPARE(marg.MagCalib().offset[1], 0.00104875);
    const float *ref = marg.Core()->referenceQuaternion;
    QVERIFY(std::fabs(ref[0] - 0.92388f) < 1e-5f);
    QVERIFY(std::fabs(ref[1] - 0.38268f) < 1e-5f);
    QCOMPARE(ref[2], 0.0f);
    QCOMPARE(ref[3], 0.0f);
}

QTEST_APPLESS_MAIN(TestMargInterface)
#include "tst_marginterface.moc"
