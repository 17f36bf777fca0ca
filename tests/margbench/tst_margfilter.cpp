// The MARG filter on simulated sensors: its accuracy, its survival of broken input, and the field
// calibration that comes before it.

#include "margdrive.h"

#include <QtTest/QtTest>

#include <cmath>
#include <functional>

using namespace margdrive;

namespace {

constexpr double kRate = 800.0;

// A field calibration with ideal sensors: scale 1, offset 0, so that tests see the sensors as they are.
void CalibrateIdeal(MargInterface &marg)
{
    SensorModel ideal(SensorErrors(), 1);
    double t = 0;
    QCOMPARE(CalibrateInField(marg, ideal, kRate, &t), 1);
}

double UnitError(const float q[4])
{
    return std::fabs(std::sqrt(double(q[0]) * q[0] + double(q[1]) * q[1] + double(q[2]) * q[2] + double(q[3]) * q[3]) -
                     1.0);
}

SensorErrors NoisyBiased()
{
    SensorErrors e;
    const SensorErrors typical = SensorErrors::Typical();
    e.gyroNoise = typical.gyroNoise;
    e.accNoise = typical.accNoise;
    e.magNoise = typical.magNoise;
    std::copy(typical.gyroBias, typical.gyroBias + 3, e.gyroBias);
    return e;
}

using Fault = std::function<void(Sample &)>;

} // namespace

Q_DECLARE_METATYPE(Fault)

class TestMargFilter : public QObject
{
    Q_OBJECT

private slots:
    void accuracyOnGentleMotion();
    void survivesBrokenInput_data();
    void survivesBrokenInput();
    void fieldCalibrationRecoversErrors_data();
    void fieldCalibrationRecoversErrors();
    void fieldCalibrationFailures_data();
    void fieldCalibrationFailures();
    void fieldCalibrationWithoutMagnetometer();
    void stagesMustTurnEveryAxisUpAndDown();
    void aGlitchDropsTheWholeSample();
};

void TestMargFilter::accuracyOnGentleMotion()
{
    // The whole chain as a user runs it: calibrate in the field, then move.
    const SensorErrors errors = SensorErrors::Typical();
    SensorModel calibrationSensors(errors, 3);
    MargInterface marg;
    marg.Load_CalibData();
    double t = 0;
    QCOMPARE(CalibrateInField(marg, calibrationSensors, kRate, &t), 1);

    Motion motion(1, MotionProfile::Gentle);
    SensorModel sensors(errors, 4);
    const std::vector<Sample> samples = Record(motion, sensors, kRate, 60.0);
    double heading = 0, inclination = 0;
    long n = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        float q[4] = {1, 0, 0, 0};
        Feed(marg, samples[i], q);
        if (i < size_t(10 * kRate))
            continue;
        const Error e = Compare(q, samples[i].truth);
        heading += e.heading * e.heading;
        inclination += e.inclination * e.inclination;
        ++n;
    }
    heading = std::sqrt(heading / n);
    inclination = std::sqrt(inclination / n);
    QVERIFY2(heading < 1.5, qPrintable(QStringLiteral("heading RMS %1").arg(heading)));
    QVERIFY2(inclination < 0.5, qPrintable(QStringLiteral("inclination RMS %1").arg(inclination)));
}

void TestMargFilter::survivesBrokenInput_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("every"); // the fault hits every n-th sample of two seconds
    // A bad time stamp rather than a bad dt: the next sample's dt covers what this one's missed.
    QTest::addColumn<bool>("timeStamp");

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    QTest::newRow("NaN gyro") << Fault([nan](Sample &s) { s.gyr[1] = nan; }) << 1 << false;
    QTest::newRow("infinite accelerometer") << Fault([inf](Sample &s) { s.acc[2] = -inf; }) << 1 << false;
    QTest::newRow("NaN magnetometer") << Fault([nan](Sample &s) { s.mag[0] = nan; }) << 1 << false;
    QTest::newRow("zero accelerometer") << Fault([](Sample &s) { std::fill(s.acc, s.acc + 3, 0.0f); }) << 1 << false;
    QTest::newRow("no magnetometer") << Fault([](Sample &s) { std::fill(s.mag, s.mag + 3, 0.0f); }) << 1 << false;
    QTest::newRow("everything NaN") << Fault([nan](Sample &s) {
        s.dt = nan;
        std::fill(s.gyr, s.gyr + 3, nan);
        std::fill(s.acc, s.acc + 3, nan);
        std::fill(s.mag, s.mag + 3, nan);
    }) << 3 << false;
    QTest::newRow("glitch values") << Fault([](Sample &s) {
        s.gyr[0] = 3e38f;
        s.acc[1] = -1e30f;
        s.mag[2] = 1e25f;
    }) << 7 << false;
    // A 32-bit microsecond counter that went backwards by a little: it wraps to 71 minutes.
    QTest::newRow("wrapped time stamp") << Fault([](Sample &s) { s.dt = float(quint32(0u - 900u)) * 0.000001f; })
                                        << 200 << true;
    QTest::newRow("repeated time stamp") << Fault([](Sample &s) { s.dt = 0.0f; }) << 2 << true;
    QTest::newRow("huge dt") << Fault([](Sample &s) { s.dt = 1e30f; }) << 150 << false;
    QTest::newRow("negative dt") << Fault([](Sample &s) { s.dt = -0.01f; }) << 5 << false;
}

void TestMargFilter::survivesBrokenInput()
{
    QFETCH(Fault, fault);
    QFETCH(int, every);
    QFETCH(bool, timeStamp);

    MargInterface marg;
    CalibrateIdeal(marg);
    Motion motion(0, MotionProfile::Gentle);
    SensorModel sensors(NoisyBiased(), 8);
    std::vector<Sample> samples = Record(motion, sensors, kRate, 20.0);
    const size_t faultStart = size_t(10 * kRate), faultEnd = size_t(12 * kRate);
    const size_t recovered = faultEnd + size_t(5 * kRate);

    double worstAfter = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        Sample s = samples[i];
        if (i >= faultStart && i < faultEnd && (i - faultStart) % size_t(every) == 0) {
            fault(s);
            if (timeStamp && s.dt < samples[i].dt)
                samples[i + 1].dt += samples[i].dt - s.dt;
        }
        float q[4] = {1, 0, 0, 0};
        Feed(marg, s, q);
        QVERIFY2(UnitError(q) < 1e-5, qPrintable(QStringLiteral("sample %1: not a unit quaternion").arg(i)));
        if (i >= recovered)
            worstAfter = std::max(worstAfter, Compare(q, s.truth).total);
    }
    QVERIFY2(worstAfter < 2.0, qPrintable(QStringLiteral("error %1 degrees 5 s after the fault").arg(worstAfter)));
}

void TestMargFilter::fieldCalibrationRecoversErrors_data()
{
    QTest::addColumn<QVector<double>>("acc"); // scale x, y, z, offset x, y, z
    QTest::addColumn<QVector<double>>("mag");
    QTest::addColumn<QString>("softIron"); // a preset of the simulator, or none

    QTest::newRow("typical") << QVector<double>{1.012, 0.985, 1.021, 0.031, -0.024, 0.045}
                             << QVector<double>{0.96, 1.03, 1.05, 0.08, -0.12, 0.05} << QString();
    QTest::newRow("extremes") << QVector<double>{0.97, 1.04, 1.0, 0.1, -0.1, 0.0}
                              << QVector<double>{1.04, 0.97, 0.98, -0.1, 0.1, 0.1} << QString();
    QTest::newRow("raw units") << QVector<double>{1.0, 1.0, 1.0, 0.0, 0.0, 0.0}
                               << QVector<double>{0.490208, 0.502875, 0.425844, -0.102909, 0.00104875, 0.0360848}
                               << QString();
    QTest::newRow("strong soft iron") << QVector<double>{1.0, 1.0, 1.0, 0.0, 0.0, 0.0}
                                      << QVector<double>{1.0, 1.0, 1.0, 0.3, -0.2, 0.15} << QStringLiteral("strong");
    QTest::newRow("mild soft iron, typical part")
        << QVector<double>{1.012, 0.985, 1.021, 0.031, -0.024, 0.045}
        << QVector<double>{0.96, 1.03, 1.05, 0.08, -0.12, 0.05} << QStringLiteral("mild");
}

void TestMargFilter::fieldCalibrationRecoversErrors()
{
    QFETCH(QVector<double>, acc);
    QFETCH(QVector<double>, mag);
    QFETCH(QString, softIron);
    SensorErrors errors = NoisyBiased();
    for (int i = 0; i < 3; ++i) {
        errors.accScale[i] = acc[i];
        errors.accOffset[i] = acc[3 + i];
        errors.magScale[i] = mag[i];
        errors.magOffset[i] = mag[3 + i];
    }
    if (!softIron.isEmpty())
        QVERIFY(SensorErrors::SoftIronPreset(softIron.toStdString(), errors.magSoftIron));
    SensorModel sensors(errors, 21);
    MargInterface marg;
    double t = 0;
    QCOMPARE(CalibrateInField(marg, sensors, kRate, &t), 1);
    bool calibrated = false, initialised = true;
    int stage = -1;
    marg.Get_Status(calibrated, stage, initialised);
    QVERIFY(calibrated);
    QCOMPARE(stage, 0);
    QVERIFY(marg.SweepFigures().Passes());
    for (int i = 0; i < 3; ++i) {
        QVERIFY2(std::fabs(marg.AccCalib().scale[i] / acc[i] - 1.0) < 0.005,
                 qPrintable(QStringLiteral("acc scale %1: %2").arg(i).arg(marg.AccCalib().scale[i])));
        QVERIFY2(std::fabs(marg.AccCalib().offset[i] - acc[3 + i]) < 0.005,
                 qPrintable(QStringLiteral("acc offset %1: %2").arg(i).arg(marg.AccCalib().offset[i])));
    }
    // The magnetometer's distortion, reading = D (S b + o): the inverse of the fitted matrix is D S
    // (for a symmetric S and D = 1; nearly so otherwise), the centre D o.
    const SensorCalib &m = marg.MagCalib();
    QVERIFY(m.ellipsoid);
    double largest = 0, worst = 0;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const double expected = mag[i] * errors.magSoftIron[i][j];
            largest = std::max(largest, std::fabs(expected));
            worst = std::max(worst, std::fabs(m.inverse[i][j] - expected));
        }
        QVERIFY2(std::fabs(m.center[i] - mag[i] * mag[3 + i]) < 0.01,
                 qPrintable(QStringLiteral("mag centre %1: %2").arg(i).arg(m.center[i])));
    }
    QVERIFY2(worst < 0.02 * largest, qPrintable(QStringLiteral("soft-iron matrix off by %1").arg(worst / largest)));
}

void TestMargFilter::fieldCalibrationFailures_data()
{
    QTest::addColumn<int>("badStage");     // 0-based
    QTest::addColumn<QVector<double>>("reading"); // what the accelerometer reads there (unused: moving)
    QTest::addColumn<bool>("moving");

    QTest::newRow("moved during stage 3") << 2 << QVector<double>{1, 0, 0} << true;
    QTest::newRow("stage 4 repeats stage 1") << 3 << QVector<double>{0.1, 0, 1} << false;
    QTest::newRow("check stage far from its attitude") << 6 << QVector<double>{0, -0.7071, 0.7071} << false;
}

void TestMargFilter::fieldCalibrationFailures()
{
    QFETCH(int, badStage);
    QFETCH(QVector<double>, reading);
    QFETCH(bool, moving);
    SensorModel sensors(NoisyBiased(), 5);
    MargInterface marg;
    marg.FieldCalib_Start();
    double t = 0;
    int status = 0;
    for (int stage = 0; stage <= badStage; ++stage) {
        if (stage > 0)
            marg.FieldCalib_NextStage();
        if (stage < badStage) {
            QCOMPARE(StillStage(marg, sensors, kStageReadings[stage], 20.0 * stage, kRate, &t), 4);
            continue;
        }
        if (!moving) {
            status = StillStage(marg, sensors, reading.data(), 0.0, kRate, &t);
            break;
        }
        // Tipped over by 25 degrees during the stage.
        float q[4];
        for (int i = 0; i < 6000 && status == 0; ++i) {
            const double angle = 25.0 * kDeg * i / 5000.0;
            const double tilted[3] = {std::cos(angle), 0, std::sin(angle)};
            const MotionSample still = StillSample(tilted, 0.0);
            double g[3], a[3], f[3];
            t += 1.0 / kRate;
            sensors.Read(still, t, g, a, f);
            status = marg.Process_Sample(float(1.0 / kRate), float(g[0]), float(g[1]), float(g[2]), float(a[0]),
                                         float(a[1]), float(a[2]), float(f[0]), float(f[1]), float(f[2]), q[0], q[1],
                                         q[2], q[3]);
        }
    }
    QCOMPARE(status, -1);
    bool calibrated = true, initialised = true;
    int stage = -1;
    marg.Get_Status(calibrated, stage, initialised);
    QVERIFY(!calibrated);
    QCOMPARE(stage, badStage); // the failing stage, for the bench's message

    // A new start goes back to stage 1.
    marg.FieldCalib_Start();
    marg.Get_Status(calibrated, stage, initialised);
    QCOMPARE(stage, 0);
}

void TestMargFilter::fieldCalibrationWithoutMagnetometer()
{
    SensorErrors errors = NoisyBiased();
    errors.accScale[1] = 1.03;
    errors.accOffset[2] = -0.06;
    errors.magNoise = 0;
    for (int i = 0; i < 3; ++i)
        errors.magScale[i] = 0.0; // reads nothing
    SensorModel sensors(errors, 6);
    MargInterface marg;
    marg.Load_CalibData();
    const double builtInMagScale = marg.MagCalib().scale[0];
    double t = 0;
    QCOMPARE(CalibrateInField(marg, sensors, kRate, &t), 1);
    QVERIFY(std::fabs(marg.AccCalib().scale[1] - 1.03) < 0.005);
    QVERIFY(std::fabs(marg.AccCalib().offset[2] + 0.06) < 0.005);
    QCOMPARE(marg.MagCalib().scale[0], builtInMagScale);
    QVERIFY(!marg.MagCalib().ellipsoid);
}

void TestMargFilter::stagesMustTurnEveryAxisUpAndDown()
{
    // Six stages 55 degrees apart, all about x, and the check stage (also about x): x never points
    // up or down, so nothing tells its scale, here six times too large. The set is refused, naming
    // the axis and the way it must point.
    SensorErrors errors = NoisyBiased();
    errors.accScale[0] = 6.0;
    SensorModel sensors(errors, 9);
    MargInterface marg;
    marg.FieldCalib_Start();
    double t = 0;
    for (int stage = 0; stage < 6; ++stage) {
        if (stage > 0)
            marg.FieldCalib_NextStage();
        const double angle = (80.0 + 55.0 * stage) * kDeg; // none within 30 degrees of the check stage
        const double reading[3] = {0, std::sin(angle), std::cos(angle)};
        QCOMPARE(StillStage(marg, sensors, reading, 0.0, kRate, &t), 4);
    }
    marg.FieldCalib_NextStage();
    QCOMPARE(StillStage(marg, sensors, kStageReadings[6], 0.0, kRate, &t), -1);
    QCOMPARE(marg.AccCalib().failure, SensorCalib::Failure::AxisUnreached);
    QCOMPARE(marg.AccCalib().failureDetail, 0);
    QCOMPARE(marg.AccCalib().failureSign, 1);
    QCOMPARE(marg.AccCalib().scale[0], 1.0); // nothing installed
}

void TestMargFilter::aGlitchDropsTheWholeSample()
{
    // One NaN in the accelerometer, later one in the magnetometer: the stage still ends, in step
    // for both sensors, with means the glitches did not touch.
    SensorModel sensors(NoisyBiased(), 10);
    MargInterface marg;
    marg.FieldCalib_Start();
    const MotionSample still = StillSample(kStageReadings[0], 0.0);
    float q[4];
    int status = 0, i = 0;
    for (double t = 0; status == 0 && i < 6000; ++i) {
        t += 1.0 / kRate;
        double g[3], a[3], f[3];
        sensors.Read(still, t, g, a, f);
        if (i == 100)
            a[1] = std::numeric_limits<double>::quiet_NaN();
        if (i == 200)
            f[2] = std::numeric_limits<double>::infinity();
        status = marg.Process_Sample(float(1.0 / kRate), float(g[0]), float(g[1]), float(g[2]), float(a[0]),
                                     float(a[1]), float(a[2]), float(f[0]), float(f[1]), float(f[2]), q[0], q[1],
                                     q[2], q[3]);
    }
    QCOMPARE(status, 4);
    QCOMPARE(i, 5003); // 5001 samples counted, two dropped
    QVERIFY(std::isfinite(marg.AccCalib().stageMeanY[0]) && std::isfinite(marg.MagCalib().stageMeanZ[0]));
}

QTEST_APPLESS_MAIN(TestMargFilter)
#include "tst_margfilter.moc"
