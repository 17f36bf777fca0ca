// The MARG bench window: its form, the field calibration's button texts through runs driven by
// samples, the numbers it shows, and the chart fed by the filter's inputs.

#include "margdrive.h"

#include "chartdeck.h"
#include "coveragemap.h"
#include "margbench.h"
#include "margcore.h"
#include "marginterface.h"
#include "fifobuffer.h"
#include "plot.h"

#include <QtTest/QtTest>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTabWidget>

namespace {

constexpr double kRate = 800.0;
constexpr float kStepUs = 1250.0f;

QString Text(MargBench &bench, const char *name) { return bench.findChild<QLabel *>(name)->text(); }

// Still samples in the attitude that reads `reading`; stops at the first sample that changes the
// button's text. Returns the number of samples fed.
int FeedStill(MargBench &bench, SensorModel &sensors, const double reading[3], int samples, double *t)
{
    auto *button = bench.findChild<QPushButton *>("pushButton_FieldCalib_GoForNexStage");
    const QString before = button->text();
    const MotionSample still = StillSample(reading, 30.0);
    for (int i = 0; i < samples; ++i) {
        *t += 1.0 / kRate;
        double g[3], a[3], f[3];
        sensors.Read(still, *t, g, a, f);
        bench.On_NewDataDom9(kStepUs, float(g[0]), float(g[1]), float(g[2]), float(a[0]), float(a[1]), float(a[2]),
                             float(f[0]), float(f[1]), float(f[2]));
        if (button->text() != before)
            return i + 1;
    }
    return samples;
}

// The sweep of the simulator's calibration path from `from` seconds into it, at `rate`; stops at the
// first sample that changes the button's text. Returns the seconds fed.
double FeedSweep(MargBench &bench, SensorModel &sensors, double from, double seconds, double rate, double *t)
{
    auto *button = bench.findChild<QPushButton *>("pushButton_FieldCalib_GoForNexStage");
    const QString before = button->text();
    const Motion path(0, MotionProfile::Calibration);
    const double start = CalibrationStageStart(7) + from;
    for (long i = 1; i <= long(seconds * rate); ++i) {
        *t += 1.0 / rate;
        double g[3], a[3], f[3];
        sensors.Read(path.At(start + double(i) / rate, 0.0), *t, g, a, f);
        bench.On_NewDataDom9(float(1e6 / rate), float(g[0]), float(g[1]), float(g[2]), float(a[0]), float(a[1]),
                             float(a[2]), float(f[0]), float(f[1]), float(f[2]));
        if (button->text() != before)
            return double(i) / rate;
    }
    return seconds;
}

int Covered(MargBench &bench)
{
    const auto &regions = bench.findChild<SphereCoverageMap *>()->Regions();
    return int(std::count(regions.begin(), regions.end(), true));
}

} // namespace

class TestMargBench : public QObject
{
    Q_OBJECT

private slots:
    void form();
    void identityUntilTheFilterStarts();
    void calibrationRun();
    void failedStage();
    void secondPressRestartsTheStage();
    void aFailedSweepIsRepeatedAlone();
};

void TestMargBench::form()
{
    MargBench bench(nullptr);
    QCOMPARE(bench.objectName(), QStringLiteral("MargBench"));
    QCOMPARE(bench.windowTitle(), QStringLiteral("MargBench"));
    QCOMPARE(bench.size(), QSize(680, 720));
    auto *tabs = bench.findChild<QTabWidget *>("tabWidget_ChartDeck");
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Field Calibration"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Calibration Display"));
    auto *stageButton = bench.findChild<QPushButton *>("pushButton_FieldCalib_GoForNexStage");
    QCOMPARE(stageButton->text(), QStringLiteral("KB Calibration\nStart Stage 1"));
    QCOMPARE(stageButton->geometry(), QRect(100, 100, 351, 131));
    QCOMPARE(bench.findChild<QPushButton *>("pushButton_LoadCalibData")->geometry(), QRect(100, 10, 351, 71));
    QCOMPARE(bench.findChild<QPushButton *>("pushButton_CalibTest")->text(), QStringLiteral("Calibration Test"));
    auto *accel = bench.findChild<Plot *>("Accel");
    QVERIFY(accel);
    QCOMPARE(accel->curves().size(), std::size_t(3));
    QVERIFY(bench.findChild<Plot *>("Mag"));
}

void TestMargBench::identityUntilTheFilterStarts()
{
    MargBench bench(nullptr);
    // No accelerometer: the filter cannot start, the bench hands back the identity.
    const std::array<float, 4> q = bench.On_NewDataDom9(kStepUs, 0.1f, 0, 0, 0, 0, 0, 0.2f, 0, 0.4f);
    QCOMPARE(q, (std::array<float, 4>{1, 0, 0, 0}));
    QCOMPARE(Text(bench, "label_q1"), QStringLiteral("1"));
    QCOMPARE(Text(bench, "label_q2"), QStringLiteral("0"));
    QCOMPARE(Text(bench, "label_q4"), QStringLiteral("0"));
}

void TestMargBench::calibrationRun()
{
    MargBench bench(nullptr);
    auto *button = bench.findChild<QPushButton *>("pushButton_FieldCalib_GoForNexStage");
    SensorModel sensors(SensorErrors::Typical(), 2);
    double t = 0;
    auto *tabs = bench.findChild<QTabWidget *>("tabWidget_ChartDeck");
    for (int stage = 0; stage < 7; ++stage) {
        button->click();
        QCOMPARE(button->text(), QStringLiteral("KB Calibration\nStage %1\nSampling Data...").arg(stage + 1));
        QVERIFY(!button->isEnabled());
        QVERIFY(FeedStill(bench, sensors, margdrive::kStageReadings[stage], 6000, &t) < 6000);
        QCOMPARE(button->text(), QStringLiteral("KB Calibration\nStart Stage %1").arg(stage + 2));
        QVERIFY(button->isEnabled());
    }
    QVERIFY(Text(bench, "label_CalibMessage").startsWith("Stage 8 of 8, the magnetometer sweep"));

    // The sweep: the display tab comes forward and fills in as the sensor turns; the message names
    // what is still missing, until the fit is good and the calibration ends by itself.
    button->click();
    QCOMPARE(tabs->currentIndex(), 1);
    QCOMPARE(FeedSweep(bench, sensors, 0.0, 10.0, kRate, &t), 10.0);
    QVERIFY2(Covered(bench) > 20 && Covered(bench) < 80, qPrintable(QString::number(Covered(bench))));
    QVERIFY2(Text(bench, "label_CalibMessage").contains(QStringLiteral("of 100 directions covered")),
             qPrintable(Text(bench, "label_CalibMessage")));
    QVERIFY(FeedSweep(bench, sensors, 10.0, 60.0, kRate, &t) < 60.0);
    QCOMPARE(button->text(), QStringLiteral("KB Calibration Done\nRestart Stage 1"));
    QVERIFY(Covered(bench) > 85);
    QVERIFY(Text(bench, "label_CalibMessage").startsWith("Field calibration done"));
    QVERIFY(bench.Interface()->MagCalib().ellipsoid);

    // The filter starts and runs on what follows: a level sensor shows level numbers.
    Motion motion(0, MotionProfile::Slow);
    const std::vector<margdrive::Sample> samples = margdrive::Record(motion, sensors, kRate, 2.0, t);
    QSignalSpy inputs(bench.Interface()->Core(), &MargCore::Sig_Update_NewInputs);
    std::array<float, 4> q{};
    for (const margdrive::Sample &s : samples)
        q = bench.On_NewDataDom9(s.dt * 1e6f, s.gyr[0], s.gyr[1], s.gyr[2], s.acc[0], s.acc[1], s.acc[2], s.mag[0],
                                 s.mag[1], s.mag[2]);
    QVERIFY(margdrive::Compare(q.data(), samples.back().truth).total < 3.0);
    QCOMPARE(Text(bench, "label_q1"), QStringLiteral("%1").arg(double(q[0])));
    QCOMPARE(Text(bench, "label_RPY_Yaw"), QStringLiteral("%1").arg(double(bench.Interface()->Yaw())));
    QCOMPARE(Text(bench, "label_GravityZ"), QStringLiteral("%1").arg(double(bench.Interface()->Gravity()[2])));

    // Two seconds of updates reach the chart at its own pace, not one point per sample; the
    // accelerometer's x-y curve holds (ay, ax) of the latest.
    QVERIFY2(inputs.count() >= 40 && inputs.count() <= 60, qPrintable(QString::number(inputs.count())));
    const FifoBuffer &xy = *bench.findChild<Plot *>("Accel")->curves().at("AccXY").buffer;
    const QList<QVariant> last = inputs.last();
    QCOMPARE(xy.sample(xy.size() - 1), QPointF(double(last[4].toFloat()), double(last[5].toFloat())));
}

void TestMargBench::failedStage()
{
    MargBench bench(nullptr);
    auto *button = bench.findChild<QPushButton *>("pushButton_FieldCalib_GoForNexStage");
    SensorModel sensors(SensorErrors(), 3);
    double t = 0;
    for (int stage = 0; stage < 2; ++stage) {
        button->click();
        FeedStill(bench, sensors, margdrive::kStageReadings[stage], 6000, &t);
    }
    // The third stage lies like the first.
    button->click();
    FeedStill(bench, sensors, margdrive::kStageReadings[0], 6000, &t);
    QCOMPARE(button->text(), QStringLiteral("KB Calibration Failed at Stage 3!\nRestart from Stage 1"));
    QVERIFY(button->isEnabled());
    button->click();
    QCOMPARE(button->text(), QStringLiteral("KB Calibration\nStage 1\nSampling Data..."));
}

void TestMargBench::secondPressRestartsTheStage()
{
    MargBench bench(nullptr);
    auto *button = bench.findChild<QPushButton *>("pushButton_FieldCalib_GoForNexStage");
    SensorModel sensors(SensorErrors(), 4);
    double t = 0;
    button->click();
    QCOMPARE(FeedStill(bench, sensors, margdrive::kStageReadings[0], 3000, &t), 3000);
    // A second press while sampling (the disabled button is pressed from code) goes to the next
    // stage command: the stage samples afresh.
    bench.on_pushButton_FieldCalib_GoForNexStage_clicked();
    QCOMPARE(button->text(), QStringLiteral("KB Calibration\nStage 1\nSampling Data..."));
    QCOMPARE(FeedStill(bench, sensors, margdrive::kStageReadings[0], 3000, &t), 3000);
    QVERIFY(FeedStill(bench, sensors, margdrive::kStageReadings[0], 3000, &t) < 3000);
    QCOMPARE(button->text(), QStringLiteral("KB Calibration\nStart Stage 2"));
}

void TestMargBench::aFailedSweepIsRepeatedAlone()
{
    MargBench bench(nullptr);
    auto *button = bench.findChild<QPushButton *>("pushButton_FieldCalib_GoForNexStage");
    SensorModel sensors(SensorErrors(), 5);
    double t = 0;
    for (int stage = 0; stage < 7; ++stage) {
        button->click();
        FeedStill(bench, sensors, margdrive::kStageReadings[stage], 6000, &t);
    }
    // Two minutes of a sensor that never turns: the sweep fails, and only the sweep is asked for again.
    button->click();
    const MotionSample still = StillSample(margdrive::kStageReadings[0], 0.0);
    for (int i = 0; i < 12200 && !button->isEnabled(); ++i) {
        double g[3], a[3], f[3];
        t += 0.01;
        sensors.Read(still, t, g, a, f);
        bench.On_NewDataDom9(10000.0f, float(g[0]), float(g[1]), float(g[2]), float(a[0]), float(a[1]), float(a[2]),
                             float(f[0]), float(f[1]), float(f[2]));
    }
    QCOMPARE(button->text(), QStringLiteral("KB Calibration Failed at Stage 8!\nRestart Stage 8"));
    QVERIFY2(Text(bench, "label_CalibMessage").startsWith("Stage 8 ended after 120 s without a good fit"),
             qPrintable(Text(bench, "label_CalibMessage")));
    button->click();
    QCOMPARE(button->text(), QStringLiteral("KB Calibration\nStage 8\nSampling Data..."));
    QCOMPARE(Covered(bench), 0);
    QVERIFY(FeedSweep(bench, sensors, 0.0, 60.0, kRate, &t) < 60.0);
    QCOMPARE(button->text(), QStringLiteral("KB Calibration Done\nRestart Stage 1"));
}

QTEST_MAIN(TestMargBench)
#include "tst_margbench.moc"
