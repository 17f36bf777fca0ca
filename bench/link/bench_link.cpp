// The link panel receiving four simulated nodes that stream raw, quaternion and RPY records at 800 Hz
// each over the pseudo-terminal, in a real event loop: frames the simulator sent against frames the
// panel counted good, bad and omitted, and the receiving process's processor time per second.

#include "framecourier.h"
#include "gatewayprobe.h"
#include "portgate.h"
#include "simulatorrunner.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <sys/resource.h>

namespace {

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Frames the simulator put on the line while the port was open (no fault noted).
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

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 20;
    const QString portDir = runtime.filePath("kinetra-ports");
    QDir().mkpath(portDir);

    FrameCourier panel;
    SimulatorRunner sim;
    if (!GatewayReady(panel) || !sim.Start({"--port-dir", portDir, "--nodes", "4", "--odr", "800"})) {
        std::printf("simulator did not start: %s\n", qPrintable(sim.ErrorString()));
        return 1;
    }
    const NimboProtocol *p = panel.profile->Protocol();
    QSignalSpy results(&panel, &FrameCourier::Sig_NbConversation_Result);
    if (!QTest::qWaitFor([&] { return p->GetStatistic_Recv_Pkg_Total() > 0; }, 5000)) {
        std::printf("the panel did not open the simulated port\n");
        return 1;
    }

    // Raw, quaternion S1->E and RPY only, at 800 Hz, on every node; or no output at all.
    auto setOutputs = [&](bool streaming) {
        for (quint16 node = 32; node < 36; ++node) {
            Np_Settings s{};
            using namespace NpSettingsBit;
            s.settingsWord = Set(Set(Set(0, outRaw, streaming), outQ_s1_e, streaming), outRPY, streaming);
            s.settingsWord = Set(Set(Set(s.settingsWord, enGyro, true), enAcc, true), enMag, true);
            s.settingsWord = Set(Set(s.settingsWord, enUART2, true), binaryFormat, true);
            s.settingsWord = SetField(s.settingsWord, checksumType, 3, 2);
            s.uart2Baud = 40000;
            s.can1Bitrate = 10000;
            s.odr = 800;
            results.clear();
            panel.Set_SendSetting_InReliableWay(node, s);
            if (!results.wait(3000) || results.last().at(3).toInt() != NP_SUCC_) {
                std::printf("settings of node %d not acknowledged\n", node);
                return false;
            }
        }
        return true;
    };
    if (!setOutputs(true))
        return 1;
    QTest::qWait(500);

    std::atomic<long> chunks{0};
    QObject::connect(
        panel.Gateway(), &PortGate::Sig_RecvData, panel.Gateway(), [&](const QByteArray &) { ++chunks; },
        Qt::DirectConnection);
    const quint32 good0 = p->RecvPkgGood();
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop; // a real event loop, woken by every arrival, as in the program
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double elapsed = wall.elapsed() / 1000.0;
    const double cpu = CpuSeconds() - cpu0;
    const quint32 goodInWindow = p->RecvPkgGood() - good0;
    const long chunksInWindow = chunks;

    // Stop every node's output, let the line drain, then compare whole-run totals.
    if (!setOutputs(false))
        return 1;
    QTest::qWait(1000);
    const long sent = SentFrames(sim.LogPath());
    const long total = p->GetStatistic_Recv_Pkg_Total();
    std::printf("link: %.1f s of 4 nodes x 800 Hz x (raw + quaternion + RPY): %.0f frames/s, %.0f bytes/s "
                "(%.0f %% of the 4 Mbaud line)\n",
                elapsed, goodInWindow / elapsed, goodInWindow / elapsed * (49 + 29 + 25) / 3,
                goodInWindow / elapsed * (49 + 29 + 25) / 3 / 400000 * 100);
    std::printf("link: frames sent %ld, received %ld: good %u, bad %u, omitted %u, bad head bytes %u\n", sent,
                total, p->RecvPkgGood(), p->RecvPkgBad(), p->RecvPkgOmit(), p->RecvByteBadHead());
    std::printf("link: %.0f received chunks/s, %.1f frames per chunk\n", chunksInWindow / elapsed,
                double(goodInWindow) / std::max(1L, chunksInWindow));
    std::printf("link: receiving process CPU %.2f %% of one core (%.3f s in %.1f s)\n", 100 * cpu / elapsed,
                cpu, elapsed);
    sim.Stop();
    const bool ok = sent == total && p->RecvPkgBad() == 0 && p->RecvPkgOmit() == 0 && sent > 0;
    std::printf("link: %s\n", ok ? "nothing lost" : "FRAMES LOST OR DAMAGED");
    return ok ? 0 : 1;
}
