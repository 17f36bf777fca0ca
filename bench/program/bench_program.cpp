// The real program receiving simulated nodes at 800 Hz over the pseudo-terminal, with node windows open:
// frames the simulator sent against frames the link counted good, bad and omitted, and the processor
// time of the whole process per second.
//
//   bench_program [--scenario trees|displays|recorder|program] [--seconds N | --minutes N] [--shots DIR]
//
// trees:    4 nodes x 800 Hz streaming status, raw, quaternion S1->E and RPY; all four node windows open
//           side by side, each showing its live data tree.
// displays: 1 node x 800 Hz (the same records); its window shows the tree, the Y-t plots, the attitude
//           window and the box view.
// recorder: 4 nodes as in trees, one of them also streaming Euler angles and gravity; that node's
//           window records all five outputs. Rows in the files against the records the node sent.
// commands: trees, plus a fifth node that never acknowledges settings, written to again and again, while
//           the node windows send calibration commands and service-object reads every 50 ms: the
//           longest time each waited in the link's queue (enqueued to frame sent).
// program:  the whole program as a user runs it: 4 nodes x 800 Hz, all four node windows open, each with
//           its tree, Y-t plot, attitude window and box view, and the first node recording all five
//           outputs. Adds the GUI thread's longest stall (lateness of a 10 ms timer) and resident
//           memory; with --minutes it is a soak that prints a line (and takes a screenshot into --shots)
//           every 10 minutes.
//
// Runs on the X server in DISPLAY when there is one (xvfb-run), else offscreen.

#include "boxview.h"
#include "chartdeck.h"
#include "darkpalette.h"
#include "framecourier.h"
#include "gyrovane.h"
#include "messageboxcatcher.h"
#include "nimbolink.h"
#include "sensorpanel.h"
#include "shelldriver.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMdiArea>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QScreen>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <map>
#include <sys/resource.h>

namespace {

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Resident memory of this process in MiB.
double ResidentMiB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

// Bytes the program holds on the heap now: resident memory that grows while this stays flat is the
// allocator keeping freed memory, not a leak.
double HeapMiB()
{
    const struct mallinfo2 m = mallinfo2();
    return double(m.uordblks + m.hblkhd) / (1024.0 * 1024.0);
}

// Data rows of a recorded file and the first and last time stamps in it (seconds).
struct Recorded
{
    long rows = 0;
    double first = 0, last = 0;
};

Recorded ReadRecording(const QString &path)
{
    Recorded r;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return r;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty() || !(line[0] == '-' || (line[0] >= '0' && line[0] <= '9')))
            continue;
        const double t = line.left(line.indexOf(',')).toDouble();
        if (r.rows++ == 0)
            r.first = t;
        r.last = t;
    }
    return r;
}

// The simulator's log, read once at the end; an hour at 4 x 800 Hz is tens of millions of lines, so it
// is scanned for the few keys needed rather than parsed as JSON.
struct SimLog
{
    long sent = 0; // frames put on the line (no fault noted)
    // Records of one node by type whose time stamp (us) lies in the given range, and the range.
    std::map<int, QPair<qint64, qint64>> ranges;
    std::map<int, long> inRange;
};

long long KeyValue(const char *line, const char *key)
{
    const char *at = std::strstr(line, key);
    return at ? std::atoll(at + std::strlen(key)) : -1;
}

void ReadLog(const QString &path, int node, SimLog *log)
{
    std::FILE *file = std::fopen(QFile::encodeName(path).constData(), "r");
    if (!file)
        return;
    char *line = nullptr;
    size_t capacity = 0;
    while (getline(&line, &capacity, file) > 0) {
        if (!std::strstr(line, "\"dir\":\"tx\"") || std::strstr(line, "\"fault\""))
            continue;
        ++log->sent;
        if (KeyValue(line, "\"node\":") != node)
            continue;
        const auto range = log->ranges.find(int(KeyValue(line, "\"cmd\":")));
        const long long stamp = KeyValue(line, "\"timeStamp\":");
        if (range != log->ranges.end() && stamp >= range->second.first && stamp <= range->second.second)
            ++log->inRange[range->first];
    }
    std::free(line);
    std::fclose(file);
}

// The largest lateness of a 10 ms timer on the GUI thread: how long the user waits for the program at
// worst.
class StallWatch : public QObject
{
public:
    StallWatch()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, this, [this] {
            const qint64 now = clock.nsecsElapsed();
            if (last >= 0 && paused == 0)
                worst = qMax(worst, (now - last) / 1e6 - 10.0);
            last = now;
        });
        clock.start();
        timer.start();
    }
    // Forgets the time since the last tick: the bench's own screenshot is not the program's stall.
    void Resume() { last = -1; }
    // While a screenshot process holds the X server, the program waits for it too; not counted.
    void Pause() { ++paused; }
    void Unpause()
    {
        paused = qMax(0, paused - 1);
        last = -1;
    }
    // The worst lateness since the last call, in ms.
    double TakeWorst()
    {
        const double w = worst;
        worst = 0;
        return w;
    }

private:
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = -1;
    double worst = 0;
    int paused = 0;
};

const SimNode kNodes[] = {
    {32, "Alpha", "31.8.2.70", "b0000000000000000000000000000000000000a1"},
    {33, "Bravo", "31.8.2.70", "b0000000000000000000000000000000000000b2"},
    {34, "Charlie", "31.8.2.70", "b0000000000000000000000000000000000000c3"},
    {35, "Delta", "31.8.2.70", "b0000000000000000000000000000000000000d4"},
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(GyrovaneDarkPalette());

    int seconds = 20;
    QString scenario = "trees";
    QString shotDir;
    QStringList shown{"yt", "rpy", "box"};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = QByteArray(argv[i + 1]).toInt();
        else if (!std::strcmp(argv[i], "--minutes"))
            seconds = 60 * QByteArray(argv[i + 1]).toInt();
        else if (!std::strcmp(argv[i], "--scenario"))
            scenario = QString::fromLocal8Bit(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--shots"))
            shotDir = QString::fromLocal8Bit(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--windows")) // displays: which of yt, rpy, box to open
            shown = QString::fromLocal8Bit(argv[i + 1]).split(',', Qt::SkipEmptyParts);
    }
    if (!QStringList{"trees", "displays", "recorder", "program", "commands"}.contains(scenario) || seconds <= 0) {
        std::printf("usage: bench_program [--scenario trees|displays|recorder|program|commands] "
                    "[--seconds N | --minutes N] [--shots DIR]\n");
        return 2;
    }
    const QByteArray tag = ("program/" + scenario).toLatin1();
    const bool whole = scenario == "program";
    const bool displays = scenario == "displays" || whole;
    const bool recording = scenario == "recorder" || whole;
    const bool commands = scenario == "commands";

    MessageBoxCatcher dialogs;
    Gyrovane window;
    // The whole program fills the screen (a bare X server has no window manager to maximise it).
    window.setGeometry(whole ? QGuiApplication::primaryScreen()->availableGeometry() : QRect(0, 0, 1800, 1000));
    window.show();
    ShellDriver shell(&window, runtime.filePath("kinetra-ports"));
    QVector<SimNode> nodes(std::begin(kNodes), std::end(kNodes));
    if (scenario == "displays")
        nodes.resize(1);
    const SimNode recorded = nodes[0];
    // The node that never acknowledges a settings write (it takes the settings, though) and whose
    // stream never reaches the line, so the line carries what it does in the other scenarios.
    const quint16 muted = 40;
    QStringList simArgs{"--odr", "800"};
    if (commands)
        simArgs << "--node"
                << QString("id=%1,name=Muted,mute=13,mute=22,mute=31,mute=32,mute=33,mute=34,mute=35,mute=36,mute=41,mute=43")
                       .arg(muted);
    if (!shell.StartSimulator(nodes, simArgs) || !shell.Scan(nodes)) {
        std::printf("%s: %s\n", tag.data(), qPrintable(shell.Error()));
        return 1;
    }
    FrameCourier *courier = shell.Courier();
    QSignalSpy outcomes(courier->Link(), &NimboLink::Sig_SettingsWriteOutcome);
    using namespace NpSettingsBit;
    // Outputs at 800 Hz, or none; acknowledged by each node.
    auto setOutputs = [&](bool streaming) {
        for (const SimNode &node : nodes) {
            Np_Settings s = shell.Window(node)->CurrentSettings();
            for (int bit : {outStatus, outRaw, outQ_s1_e, outRPY})
                s.settingsWord = Set(s.settingsWord, bit, streaming);
            if (!streaming)
                s.settingsWord = Set(Set(s.settingsWord, outEuler_s1_e, false), outGravity, false);
            s.odr = 800;
            outcomes.clear();
            window.On_NewImuSettings(quint16(node.id), s);
            const auto outcome = [&]() -> const QList<QVariant> * {
                for (const QList<QVariant> &o : outcomes)
                    if (o.at(0).toInt() == node.id)
                        return &o;
                return nullptr;
            };
            if (!QTest::qWaitFor([&] { return outcome(); }, 5000) || !outcome()->at(1).toBool()) {
                std::printf("%s: settings of node %d not acknowledged\n", tag.data(), node.id);
                return false;
            }
        }
        return true;
    };

    for (const SimNode &node : nodes) {
        if (!shell.Open(node)) {
            std::printf("%s: node %d did not open\n", tag.data(), node.id);
            return 1;
        }
    }
    // Every window visible at once, side by side.
    window.findChild<QPushButton *>("pushButton_Mdi_Arrange_TitileMode")->click();
    window.findChild<QMdiArea *>("mdiArea")->tileSubWindows();
    // Each window has its node's settings (the settings region replaces the reading notice).
    if (!QTest::qWaitFor(
            [&] {
                for (const SimNode &node : nodes)
                    if (!shell.Window(node)->findChild<QWidget *>("scrollArea_Setting")->isVisible())
                        return false;
                return true;
            },
            10000)) {
        std::printf("%s: a node window did not get its settings\n", tag.data());
        return 1;
    }
    SensorPanel *panel = shell.Window(recorded);
    if (displays) {
        const QMap<QString, const char *> boxes{{"yt", "checkBox_Output_RawData"},
                                                {"box", "checkBox_Output_Q_S1_E"},
                                                {"rpy", "checkBox_Output_RPY"}};
        for (const SimNode &node : whole ? nodes : nodes.mid(0, 1)) {
            SensorPanel *p = shell.Window(node);
            // The settings region hidden, as a user watching the displays has it.
            p->findChild<QPushButton *>("pushButton_Hide_Config_Pannel")->click();
            for (const QString &name : boxes.keys())
                p->findChild<QCheckBox *>(boxes.value(name))->setChecked(shown.contains(name));
            // Unticking a box leaves its window open; closing the window is the user's own step.
            if (p->YtDisplay() && !shown.contains("yt"))
                p->YtDisplay()->close();
            if (p->RPYDisplay() && !shown.contains("rpy"))
                p->RPYDisplay()->close();
            if (p->BoxDisplay() && !shown.contains("box"))
                p->BoxDisplay()->close();
        }
        QTest::qWait(300);
    }
    if (recording) {
        // The recorded node streams every recordable output; its window knows, as a user ticks them.
        for (const char *box : {"checkBox_Output_Gravity", "checkBox_Output_Euler_S1_E"})
            panel->findChild<QCheckBox *>(box)->setChecked(true);
        QTest::qWait(500);
    }
    if (!setOutputs(true))
        return 1;
    if (displays && (bool(panel->YtDisplay()) != shown.contains("yt") ||
                     bool(panel->RPYDisplay()) != shown.contains("rpy") ||
                     bool(panel->BoxDisplay()) != shown.contains("box"))) {
        std::printf("%s: the display windows did not open\n", tag.data());
        return 1;
    }
    QTest::qWait(500);

    const NimboLink *link = courier->Link();
    StallWatch stalls;
    auto shoot = [&](const QString &when) {
        if (shotDir.isEmpty())
            return;
        QDir().mkpath(shotDir);
        const QString path = QDir(shotDir).filePath(QString("program-%1min.png").arg(when.rightJustified(3, QChar('0'))));
        // Another process takes the picture (ImageMagick's import, when there is an X server): a
        // 4K grab inside the program would leave its 33 MB buffers with the allocator and show up
        // as the program's own resident memory.
        if (QGuiApplication::platformName() == "xcb") {
            auto *import = new QProcess(&app);
            QObject::connect(import, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), [&stalls, import] {
                stalls.Unpause();
                import->deleteLater();
            });
            stalls.Pause();
            import->start("import", {"-window", "root", path});
            if (import->waitForStarted(3000))
                return;
            stalls.Unpause();
            delete import;
        }
        QGuiApplication::primaryScreen()->grabWindow(0).save(path);
    };
    // Runs the event loop for forSeconds; a line every 10 minutes on long runs. Returns the process's
    // CPU seconds and the wall seconds.
    auto measure = [&](int forSeconds, quint32 *frames, double *worstStall) {
        const quint32 good0 = link->Monitor().good;
        const double cpu0 = CpuSeconds();
        QElapsedTimer wall;
        wall.start();
        stalls.Resume();
        stalls.TakeWorst();
        *worstStall = 0;
        QEventLoop loop;
        QTimer::singleShot(forSeconds * 1000, &loop, &QEventLoop::quit);
        QTimer checkpoint;
        double lastCpu = cpu0;
        quint32 lastGood = good0;
        int minute = 0;
        QObject::connect(&checkpoint, &QTimer::timeout, [&] {
            minute += 10;
            const double cpu = CpuSeconds();
            const double stall = stalls.TakeWorst();
            *worstStall = qMax(*worstStall, stall);
            std::printf("%s: %3d min: %.0f frames/s, CPU %.1f %%, longest stall %.1f ms, RSS %.1f MiB, "
                        "heap %.1f MiB, bad %u, omitted %u\n",
                        tag.data(), minute, (link->Monitor().good - lastGood) / 600.0, 100 * (cpu - lastCpu) / 600,
                        stall, ResidentMiB(), HeapMiB(), link->Monitor().bad, link->Monitor().omitted);
            std::fflush(stdout);
            lastCpu = cpu;
            lastGood = link->Monitor().good;
            shoot(QString::number(minute));
            stalls.Resume();
            // A second picture a few seconds later shows what moved (the motion repeats within minutes,
            // so pictures ten minutes apart can look alike).
            QTimer::singleShot(7000, &loop, [&, minute] {
                shoot(QString("%1-7s").arg(minute));
                stalls.Resume();
            });
        });
        checkpoint.start(600 * 1000);
        loop.exec();
        *frames = link->Monitor().good - good0;
        *worstStall = qMax(*worstStall, stalls.TakeWorst());
        return QPair<double, double>(CpuSeconds() - cpu0, wall.elapsed() / 1000.0);
    };

    QPair<double, double> quiet{0, 1};
    quint32 frames = 0;
    double stall = 0;
    QTemporaryDir files;
    if (recording) {
        // The same load without recording first, for the recorder's share.
        if (!whole)
            quiet = measure(qMin(seconds, 20), &frames, &stall);
        panel->findChild<QCheckBox *>("checkBox_Record_FormatEnable")->setChecked(true);
        dialogs.SetFileName(files.filePath("bench.txt"));
        panel->findChild<QPushButton *>("pushButton_Record_StartPause")->click();
        if (!QTest::qWaitFor(
                [&] { return panel->findChild<QPushButton *>("pushButton_Record_Save")->isEnabled(); },
                3000)) {
            std::printf("%s: recording did not start\n", tag.data());
            return 1;
        }
    }
    QTest::qWait(1000);
    // The displays side by side inside each node window, once the attitude window has had its first
    // records (it lays itself out again then).
    if (whole)
        for (const SimNode &node : nodes)
            shell.Window(node)->findChild<QMdiArea *>("mdiArea")->tileSubWindows();
    QTest::qWait(500);
    QTimer commandTimer;
    QSignalSpy exchanges(courier, &FrameCourier::Sig_NbConversation_Result);
    if (commands) {
        Np_Settings silent{};
        silent.odr = 800;
        int tick = 0;
        QObject::connect(&commandTimer, &QTimer::timeout, [&] {
            // A write that retries for 1.24 s, then the next one: the exchange slot is always taken.
            if (tick % 26 == 0)
                window.On_NewImuSettings(muted, silent);
            SensorPanel *from = shell.Window(nodes[tick % nodes.size()]);
            if (tick % 2 == 0) {
                emit from->Sig_NewCalibCmd(from->Get_NodeID(), 2, 1, 0xAA05, 0, 0);
            } else {
                Np_NSO read{};
                read.nsoCmd = 0x40;
                read.nsoIndex = 0x2022;
                read.nsoSubIndex = 1;
                emit from->Sig_NSOcmd(from->Get_NodeID(), read);
            }
            ++tick;
        });
        commandTimer.start(50);
        courier->Link()->ResetLongestQueueing();
    }
    shoot("0");
    const double rssStart = ResidentMiB(), heapStart = HeapMiB();
    const QPair<double, double> run = measure(seconds, &frames, &stall);
    const double rssEnd = ResidentMiB(), heapEnd = HeapMiB();
    if (recording)
        panel->findChild<QPushButton *>("pushButton_Record_Save")->click();
    commandTimer.stop();

    if (!setOutputs(false))
        return 1;
    QTest::qWait(1000);
    const struct
    {
        const char *key;
        int cmd;
    } outputs[] = {{"RawData", NP_CMD_Raw_GYRO_ACC_MAG_},
                   {"RPY", NP_CMD_RPY_},
                   {"Q_s1_e", NP_CMD_Q_S1_E_},
                   {"Gravity", NP_CMD_GRAVITY_},
                   {"Euler_s1_e", NP_CMD_EULER_S1_E_}};
    std::map<int, Recorded> recordings;
    SimLog log;
    if (recording) {
        for (const auto &output : outputs) {
            const Recorded r = ReadRecording(files.filePath(QString("bench_%1.txt").arg(output.key)));
            recordings[output.cmd] = r;
            log.ranges[output.cmd] = {qRound64(r.first * 1e6), qRound64(r.last * 1e6)};
        }
    }
    ReadLog(shell.Simulator().LogPath(), recorded.id, &log);
    const long total = link->Monitor().received;
    std::printf("%s: %.1f s, %d node(s) x 800 Hz, %.0f frames/s\n", tag.data(), run.second, int(nodes.size()),
                frames / run.second);
    std::printf("%s: frames sent %ld, received %ld: good %u, bad %u, omitted %u\n", tag.data(), log.sent,
                total, link->Monitor().good, link->Monitor().bad, link->Monitor().omitted);
    std::printf("%s: process CPU %.1f %% of one core (%.2f s in %.1f s) on %s\n", tag.data(),
                100 * run.first / run.second, run.first, run.second,
                qPrintable(QGuiApplication::platformName()));
    std::printf("%s: longest GUI stall %.1f ms; resident memory %.1f MiB at the start, %.1f MiB at the end "
                "(%+.1f MiB); heap in use %.1f MiB, then %.1f MiB\n",
                tag.data(), stall, rssStart, rssEnd, rssEnd - rssStart, heapStart, heapEnd);
    bool ok = log.sent == total && link->Monitor().bad == 0 && link->Monitor().omitted == 0 && log.sent > 0;
    if (commands) {
        std::printf("%s: longest wait in the link's queue while a write retried against a silent node: "
                    "calibration command %lld ms, service-object request %lld ms, settings request %lld ms\n",
                    tag.data(), link->LongestQueueingMs(NimboLink::CalibrationCommand),
                    link->LongestQueueingMs(NimboLink::ServiceObjectCommand),
                    link->LongestQueueingMs(NimboLink::SettingsRequestCommand));
        std::printf("%s: settings writes to the silent node: %d, each given up after its four sends\n", tag.data(),
                    int(std::count_if(exchanges.begin(), exchanges.end(), [&](const QList<QVariant> &r) {
                        return r.at(0).toInt() == muted && r.at(3).toInt() == NP_FAIL_;
                    })));
    }

    if (recording) {
        if (!whole)
            std::printf("%s: recorder's share %.1f %% of one core (%.1f %% without recording)\n", tag.data(),
                        100 * (run.first / run.second - quiet.first / quiet.second),
                        100 * quiet.first / quiet.second);
        for (const auto &output : outputs) {
            const Recorded &r = recordings[output.cmd];
            // The records the node sent between the first and the last recorded row.
            const long expected = log.inRange[output.cmd];
            std::printf("%s: %-10s rows %ld, records sent meanwhile %ld, %.1f s recorded\n", tag.data(),
                        output.key, r.rows, expected, r.last - r.first);
            ok = ok && r.rows == expected && r.rows > 0;
        }
    }
    std::printf("%s: %s\n", tag.data(), ok ? "nothing lost" : "DATA LOST OR DAMAGED");
    return ok ? 0 : 1;
}
