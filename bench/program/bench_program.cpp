// The real program receiving simulated nodes at 800 Hz over the pseudo-terminal, with node windows open:
// frames the simulator sent against frames the link counted good, bad and omitted, and the processor
// time of the whole process per second.
//
//   bench_program [--scenario trees] [--seconds N]
//
// trees: 4 nodes x 800 Hz streaming status, raw, quaternion S1->E and RPY; all four node windows open
//        side by side, each showing its live data tree.
//
// Runs on the X server in DISPLAY when there is one (xvfb-run), else offscreen.

#include "darkpalette.h"
#include "framecourier.h"
#include "gyrovane.h"
#include "sensorpanel.h"
#include "shelldriver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMdiArea>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace {

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Frames the simulator put on the line (no fault noted).
long SentFrames(const QString &logPath)
{
    QFile log(logPath);
    if (!log.open(QIODevice::ReadOnly))
        return -1;
    long n = 0;
    while (!log.atEnd()) {
        const QByteArray line = log.readLine();
        if (line.contains("\"dir\":\"tx\"") && !line.contains("\"fault\""))
            ++n;
    }
    return n;
}

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
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = QByteArray(argv[i + 1]).toInt();
        else if (!std::strcmp(argv[i], "--scenario"))
            scenario = QString::fromLocal8Bit(argv[i + 1]);
    }
    if (scenario != "trees" || seconds <= 0) {
        std::printf("usage: bench_program [--scenario trees] [--seconds N]\n");
        return 2;
    }

    Gyrovane window;
    window.resize(1800, 1000);
    window.show();
    ShellDriver shell(&window, runtime.filePath("kinetra-ports"));
    const QVector<SimNode> nodes(std::begin(kNodes), std::end(kNodes));
    if (!shell.StartSimulator(nodes, {"--odr", "800"}) || !shell.Scan(nodes)) {
        std::printf("program: %s\n", qPrintable(shell.Error()));
        return 1;
    }
    FrameCourier *courier = shell.Courier();
    QSignalSpy results(courier, &FrameCourier::Sig_NbConversation_Result);
    // Outputs at 800 Hz, or none; acknowledged by each node.
    auto setOutputs = [&](bool streaming) {
        for (const SimNode &node : nodes) {
            using namespace NpSettingsBit;
            Np_Settings s = shell.Window(node) ? shell.Window(node)->CurrentSettings() : Np_Settings{};
            for (int bit : {outStatus, outRaw, outQ_s1_e, outRPY})
                s.settingsWord = Set(s.settingsWord, bit, streaming);
            s.odr = 800;
            results.clear();
            window.On_NewImuSettings(quint16(node.id), s);
            if (!results.wait(3000) || results.last().at(3).toInt() != NP_SUCC_) {
                std::printf("program: settings of node %d not acknowledged\n", node.id);
                return false;
            }
        }
        return true;
    };

    for (const SimNode &node : nodes) {
        if (!shell.Open(node)) {
            std::printf("program: node %d did not open\n", node.id);
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
        std::printf("program: a node window did not get its settings\n");
        return 1;
    }
    if (!setOutputs(true))
        return 1;
    QTest::qWait(500);

    const NimboProtocol *p = courier->profile->Protocol();
    const quint32 good0 = p->RecvPkgGood();
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double elapsed = wall.elapsed() / 1000.0;
    const double cpu = CpuSeconds() - cpu0;
    const quint32 goodInWindow = p->RecvPkgGood() - good0;

    if (!setOutputs(false))
        return 1;
    QTest::qWait(1000);
    const long sent = SentFrames(shell.Simulator().LogPath());
    const long total = p->GetStatistic_Recv_Pkg_Total();
    std::printf("program/%s: %.1f s, 4 nodes x 800 Hz x (status + raw + quaternion + RPY), 4 node windows: "
                "%.0f frames/s\n",
                qPrintable(scenario), elapsed, goodInWindow / elapsed);
    std::printf("program/%s: frames sent %ld, received %ld: good %u, bad %u, omitted %u\n",
                qPrintable(scenario), sent, total, p->RecvPkgGood(), p->RecvPkgBad(), p->RecvPkgOmit());
    std::printf("program/%s: process CPU %.1f %% of one core (%.2f s in %.1f s) on %s\n",
                qPrintable(scenario), 100 * cpu / elapsed, cpu, elapsed,
                qPrintable(QGuiApplication::platformName()));
    const bool ok = sent == total && p->RecvPkgBad() == 0 && p->RecvPkgOmit() == 0 && sent > 0;
    std::printf("program/%s: %s\n", qPrintable(scenario), ok ? "nothing lost" : "FRAMES LOST OR DAMAGED");
    return ok ? 0 : 1;
}
