// Replay of recordings through the simulator: ten seconds recorded from a simulated node in each of
// the recorder's layouts, replayed as fast as the line takes, arrive whole, in order, with the values
// the files hold; bad recordings are refused with a clear message; a replayed raw recording run
// through the MARG bench gives the attitude its rows give the filter directly.

#include "gyrovane.h"
#include "messageboxcatcher.h"
#include "sensorpanel.h"
#include "marginterface.h"
#include "margbench.h"
#include "nimbolink.h"
#include "recorder.h"
#include "shelldriver.h"
#include "simulatorrunner.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

// One data record as received: type, time stamp, values (raw data: temperature first).
struct Rec
{
    int cmd;
    quint32 stamp;
    QVector<float> v;
};

constexpr int kOutputs = (1 << NpSettingsBit::outRaw) | (1 << NpSettingsBit::outQ_s1_e) |
                         (1 << NpSettingsBit::outEuler_s1_e) | (1 << NpSettingsBit::outRPY) |
                         (1 << NpSettingsBit::outGravity);

// Collects the data records a link receives; raw data carry the temperature of the last status.
class Collector : public QObject
{
public:
    explicit Collector(NimboLink *link)
    {
        connect(link, QOverload<const Np_Status &>::of(&NimboLink::Sig_RX_Data), this,
                [this](const Np_Status &s) { temperature = s.temperature; });
        connect(link, QOverload<const Np_Raw_GyroAccMag &>::of(&NimboLink::Sig_RX_Data), this,
                [this](const Np_Raw_GyroAccMag &r) {
                    records.append({NP_CMD_Raw_GYRO_ACC_MAG_, r.timeStamp,
                                    {temperature, r.gyro[0], r.gyro[1], r.gyro[2], r.acc[0], r.acc[1], r.acc[2],
                                     r.mag[0], r.mag[1], r.mag[2]}});
                });
        connect(link, QOverload<const Np_Q_s1_e &>::of(&NimboLink::Sig_RX_Data), this, [this](const Np_Q_s1_e &r) {
            records.append({NP_CMD_Q_S1_E_, r.timeStamp, {r.q[0], r.q[1], r.q[2], r.q[3]}});
        });
        connect(link, QOverload<const Np_Euler_s1_e &>::of(&NimboLink::Sig_RX_Data), this,
                [this](const Np_Euler_s1_e &r) {
                    records.append({NP_CMD_EULER_S1_E_, r.timeStamp, {r.psi, r.theta, r.phi}});
                });
        connect(link, QOverload<const Np_RPY &>::of(&NimboLink::Sig_RX_Data), this, [this](const Np_RPY &r) {
            records.append({NP_CMD_RPY_, r.timeStamp, {r.roll, r.pitch, r.yaw}});
        });
        connect(link, QOverload<const Np_Gravity &>::of(&NimboLink::Sig_RX_Data), this, [this](const Np_Gravity &r) {
            records.append({NP_CMD_GRAVITY_, r.timeStamp, {r.g[0], r.g[1], r.g[2]}});
        });
    }
    QVector<Rec> records;
    float temperature = 0;
};

const char *KeyOf(int cmd)
{
    switch (cmd) {
    case NP_CMD_Raw_GYRO_ACC_MAG_: return "RawData";
    case NP_CMD_Q_S1_E_: return "Q_s1_e";
    case NP_CMD_EULER_S1_E_: return "Euler_s1_e";
    case NP_CMD_RPY_: return "RPY";
    default: return "Gravity";
    }
}

bool OpenLink(NimboLink &link, const QString &port)
{
    link.OpenPort(port);
    return QTest::qWaitFor([&] { return link.IsOpen() && link.OpenPortName() == port; }, 5000);
}

// The records in the order the recorder's files put them back: by time, and within one time in the
// order a node sends them (the simulator's order too).
QVector<Rec> InFileOrder(QVector<Rec> records)
{
    auto rank = [](int cmd) {
        const int order[] = {NP_CMD_Raw_GYRO_ACC_MAG_, NP_CMD_Q_S1_E_, NP_CMD_EULER_S1_E_, NP_CMD_RPY_,
                             NP_CMD_GRAVITY_};
        return int(std::find(std::begin(order), std::end(order), cmd) - std::begin(order));
    };
    std::stable_sort(records.begin(), records.end(), [&](const Rec &a, const Rec &b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : rank(a.cmd) < rank(b.cmd);
    });
    return records;
}

} // namespace

class tst_Replay : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyLayoutComesBackWhole_data();
    void everyLayoutComesBackWhole();
    void badRecordingsAreRefused_data();
    void badRecordingsAreRefused();
    void theBenchFiltersAReplayAsItsRowsDirect();
    void openRecordingPlaysItInANodeWindow();

private:
    QTemporaryDir dir;
    QVector<Rec> recorded;
};

void tst_Replay::initTestCase()
{
    // Ten seconds of a node with every output on, written by the recorder in its three layouts.
    SimulatorRunner sim;
    QVERIFY2(sim.Start({"--odr", "100", "--imu-errors", "typical", "--seed", "5"}), qPrintable(sim.ErrorString()));
    NimboLink link;
    QVERIFY(OpenLink(link, sim.PortPath()));
    QSignalSpy settings(&link, QOverload<const Np_Settings &>::of(&NimboLink::Sig_RX_Data));
    link.RequestSettings(32);
    QVERIFY(settings.wait(3000));
    Np_Settings all = settings.first().first().value<Np_Settings>();
    all.settingsWord |= kOutputs;
    QSignalSpy outcome(&link, &NimboLink::Sig_SettingsWriteOutcome);
    link.WriteSettings(32, all);
    QVERIFY(outcome.wait(5000));
    QVERIFY(outcome.first().at(1).toBool());
    QTest::qWait(300);

    Collector collector(&link);
    const Recorder::Layout layouts[] = {Recorder::Layout::Plain, Recorder::Layout::Matrix, Recorder::Layout::Csv};
    const char *names[] = {"plain", "matrix", "csv"};
    Recorder recorders[3];
    for (int i = 0; i < 3; ++i) {
        recorders[i].Begin(quint32(kOutputs), layouts[i], QStringLiteral("# gyrovane recording, test"));
        QString error;
        QVERIFY2(recorders[i].OpenFiles(dir.filePath(names[i]), &error), qPrintable(error));
    }
    QTest::qWait(10000);
    recorded = collector.records;
    link.CloseCurrentPort();
    QVERIFY(recorded.size() > 4000);
    for (const Rec &r : qAsConst(recorded)) {
        double numbers[11];
        numbers[0] = double(r.stamp) / 1e6;
        for (int k = 0; k < r.v.size(); ++k)
            numbers[k + 1] = r.v[k];
        const Recorder::Output &output = *Recorder::Find(QLatin1String(KeyOf(r.cmd)));
        for (int i = 0; i < 3; ++i) {
            QString error;
            const QString row = layouts[i] == Recorder::Layout::Csv ? Recorder::CsvRow(output, numbers, 0.5)
                                                                    : Recorder::Row(output, numbers);
            recorders[i].Append(QLatin1String(KeyOf(r.cmd)), row, &error);
        }
    }
    for (Recorder &recorder : recorders) {
        int notOpen = 0;
        QString error;
        QVERIFY2(recorder.SaveAndCloseAll(&notOpen, &error), qPrintable(error));
    }
    recorded = InFileOrder(recorded);
}

void tst_Replay::everyLayoutComesBackWhole_data()
{
    QTest::addColumn<QString>("file"); // the file the user picks: any of the set
    QTest::addColumn<bool>("exact");   // CSV floats read back exactly; text ones to 9 decimals
    QTest::newRow("rows only") << "plain_RPY.txt" << false;
    QTest::newRow("matrix") << "matrix_RawData.txt" << false;
    QTest::newRow("csv") << "csv_Gravity.csv" << true;
}

void tst_Replay::everyLayoutComesBackWhole()
{
    QFETCH(QString, file);
    QFETCH(bool, exact);
    SimulatorRunner replay;
    QVERIFY2(replay.Start({"--replay", dir.filePath(file), "--speed", "0"}), qPrintable(replay.ErrorString()));
    NimboLink link;
    Collector collector(&link);
    QVERIFY(OpenLink(link, replay.PortPath()));
    QVERIFY2(QTest::qWaitFor([&] { return collector.records.size() >= recorded.size(); }, 30000),
             qPrintable(QStringLiteral("%1 of %2").arg(collector.records.size()).arg(recorded.size())));
    QTest::qWait(200);
    QCOMPARE(collector.records.size(), recorded.size());
    for (int i = 0; i < recorded.size(); ++i) {
        const Rec &want = recorded[i], &got = collector.records[i];
        QVERIFY2(got.cmd == want.cmd && got.stamp == want.stamp,
                 qPrintable(QStringLiteral("record %1: %2 at %3, expected %4 at %5")
                                .arg(i).arg(got.cmd).arg(got.stamp).arg(want.cmd).arg(want.stamp)));
        for (int k = 0; k < want.v.size(); ++k) {
            // Printed with 9 decimals (the temperature with 6), then read as a float.
            const double printed = want.cmd == NP_CMD_Raw_GYRO_ACC_MAG_ && k == 0 ? 5e-7 : 5e-10;
            const double allowed = exact ? 0.0 : printed + std::fabs(want.v[k]) * 1.2e-7;
            QVERIFY2(std::fabs(double(got.v[k]) - double(want.v[k])) <= allowed,
                     qPrintable(QStringLiteral("record %1 value %2: %3, expected %4")
                                    .arg(i).arg(k).arg(double(got.v[k]), 0, 'g', 10).arg(double(want.v[k]), 0, 'g', 10)));
        }
    }
}

void tst_Replay::badRecordingsAreRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // of name_RPY.txt (or .csv); "dir": a folder of that name
    QTest::addColumn<QString>("message");
    QTest::newRow("no such recording") << "none" << QByteArray() << "no recording at";
    QTest::newRow("unreadable") << "folder" << QByteArray("dir") << "cannot read";
    QTest::newRow("not a recording") << "letter" << QByteArray("Dear node,\r\nplease replay.\r\n")
                                     << "letter_RPY.txt line 1: not a row of this recording";
    QTest::newRow("a short row") << "short"
                                 << QByteArray("rpyData = [ \r\n%   NAME\r\n    1.000000,   1, 2, 3; \r\n"
                                               "    1.010000,   1, 2; \r\n \n    ]; \r\n")
                                 << "short_RPY.txt line 4";
    QTest::newRow("csv without its header") << "headless.csv" << QByteArray("1.0,0.5,1,2,3\r\n")
                                            << "a header row starting with time_s";
    QTest::newRow("no rows") << "empty" << QByteArray("rpyData = [ \r\n%   NAME\r\n \n    ]; \r\n")
                             << "holds no rows";
}

void tst_Replay::badRecordingsAreRefused()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QTemporaryDir files;
    const bool csv = name.endsWith(".csv");
    const QString base = files.filePath(csv ? name.chopped(4) : name);
    const QString path = base + (csv ? "_RPY.csv" : "_RPY.txt");
    if (content == "dir") {
        QVERIFY(QDir().mkpath(path));
    } else if (!content.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
    }
    QProcess sim;
    sim.start(SimulatorRunner::ProgramPath(), {"--replay", base, "--port-dir", files.filePath("ports")});
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 2);
    const QString error = QString::fromUtf8(sim.readAllStandardError());
    QVERIFY2(error.contains(message), qPrintable(error));
    QVERIFY(!QFileInfo::exists(files.filePath("ports/ttyKSIM0"))); // no port was published
}

void tst_Replay::theBenchFiltersAReplayAsItsRowsDirect()
{
    // The raw data of the recording, through the main window with every node run through the bench,
    // paused at the start and played once the window listens.
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    Gyrovane window;
    window.findChild<QCheckBox *>("checkBox_UseMargBench")->setChecked(true);
    ShellDriver shell(&window, runtime.filePath("kinetra-ports"));
    QVERIFY2(shell.StartSimulator({kBow}, {"--replay", dir.filePath("csv_RawData.csv"), "--speed", "0"}),
             qPrintable(shell.Error()));
    QVector<Rec> raw;
    for (const Rec &r : qAsConst(recorded))
        if (r.cmd == NP_CMD_Raw_GYRO_ACC_MAG_)
            raw << r;
    QSignalSpy attitudes(&window, &Gyrovane::Sig_NewData_Q_S1_E);
    QVERIFY2(QTest::qWaitFor([&] { return attitudes.count() >= raw.size(); }, 30000),
             qPrintable(QString::number(attitudes.count())));

    MargInterface direct;
    direct.Load_CalibData();
    quint32 last = 0;
    float q[4] = {1, 0, 0, 0};
    for (const Rec &r : raw) {
        direct.Process_Sample(float(quint32(r.stamp - last)) * 0.000001f, r.v[1], r.v[2], r.v[3], r.v[4], r.v[5],
                              r.v[6], r.v[7], r.v[8], r.v[9], q[0], q[1], q[2], q[3]);
        last = r.stamp;
    }
    const float *bench = window.Bench()->NodeInterface(kBow.id)->OutputQuaternion();
    for (int i = 0; i < 4; ++i)
        QCOMPARE(bench[i], direct.OutputQuaternion()[i]);
    QCOMPARE(attitudes.last().at(1).toFloat(), q[0]);
}

void tst_Replay::openRecordingPlaysItInANodeWindow()
{
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    MessageBoxCatcher boxes;
    Gyrovane window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // A node on an open port first: the replay asks before it takes the link.
    ShellDriver shell(&window, runtime.filePath("kinetra-ports"));
    QVERIFY2(shell.StartSimulator({kMast}, {"--odr", "50"}), qPrintable(shell.Error()));
    boxes.SetAnswer(QMessageBox::Yes);
    QVERIFY(window.OpenRecording(dir.filePath("matrix_Q_s1_e.txt")));
    QCOMPARE(boxes.Count(), 1);
    QVERIFY2(boxes.Last().text.contains(shell.Simulator().PortPath()), qPrintable(boxes.Last().text));

    // The recording's node opens by itself, with the player, and plays.
    SensorPanel *replayed = nullptr;
    QVERIFY(QTest::qWaitFor(
        [&] {
            for (SensorPanel *w : window.NodeWindows())
                if (w->IsReplay())
                    replayed = w;
            return replayed != nullptr;
        },
        15000));
    auto *play = replayed->findChild<QPushButton *>("pushButton_Replay_Play");
    auto *speed = replayed->findChild<QComboBox *>("comboBox_Replay_Speed");
    auto *position = replayed->findChild<QLabel *>("label_Replay_Position");
    QVERIFY(play && speed && position && play->isVisible());
    QCOMPARE(speed->count(), 4);
    QVERIFY(QTest::qWaitFor([&] { return position->text().contains(" / 0:"); }, 5000));
    const QString early = position->text();
    QTest::qWait(600);
    QVERIFY2(position->text() != early, qPrintable(early));

    // Paused, it stands still; as fast as possible, it runs to its end.
    play->click();
    QCOMPARE(play->text(), QString::fromUtf8("▶ Play"));
    QTest::qWait(400);
    const QString paused = position->text();
    QTest::qWait(800);
    QCOMPARE(position->text(), paused);
    speed->setCurrentIndex(3);
    play->click();
    QVERIFY2(QTest::qWaitFor([&] { return position->text().endsWith("ended"); }, 10000), qPrintable(position->text()));
    QCOMPARE(play->text(), QString::fromUtf8("▶ Play"));

    // Its window closed, the replay ends and its port goes.
    qobject_cast<QMdiSubWindow *>(replayed->parentWidget())->close();
    QVERIFY(QTest::qWaitFor([&] { return QDir(runtime.filePath("kinetra-ports")).entryList({"ttyKSIM*"}).size() <= 2; },
                            5000));
}

QTEST_MAIN(tst_Replay)
#include "tst_replay.moc"
