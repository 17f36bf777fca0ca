// The link engine alone, headless (no widget, no display), against the node simulator: its commands'
// deadlines and outcomes, which requests merge, what a waiting settings write holds back, and two links
// in one process.

#include "gatewayprobe.h"
#include "nimbolink.h"
#include "simulatorrunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Outcome
{
    int node;
    bool acknowledged;
    QString failure;
};

QVector<Outcome> Outcomes(const QSignalSpy &spy)
{
    QVector<Outcome> all;
    for (const QList<QVariant> &a : spy)
        all.append({a.at(0).toInt(), a.at(1).toBool(), a.at(2).toString()});
    return all;
}

Np_Settings SomeSettings(quint16 odr)
{
    Np_Settings s{};
    s.settingsWord = (1u << NpSettingsBit::outStatus) | (1u << NpSettingsBit::enUART1);
    s.uart2Baud = 1152;
    s.can1Bitrate = 10000;
    s.fusionParamAcc = 210;
    s.fusionParamMag = 100;
    s.odr = odr;
    return s;
}

Np_Calib Calib(quint8 type, quint8 cmd, quint32 value1)
{
    Np_Calib c{};
    c.calibType = type;
    c.calibCmd = cmd;
    c.calibCode = 0xAA32;
    c.calibValue1 = value1;
    return c;
}

QByteArray Uuid(int seed) { return QByteArray(20, char(0x40 + seed)); }

// Node controls wait for each other's frame (one per 5 ms tick); many of them keep the queue busy.
void Clog(NimboLink &link, int count)
{
    for (int i = 0; i < count; ++i)
        link.SendNodeControl(Uuid(i % 50), NP_NODECTRL_NORMAL_, 60000);
}

QVector<QJsonObject> Received(SimulatorRunner &sim, int cmd)
{
    QVector<QJsonObject> found;
    for (const QJsonObject &o : sim.LogRecords())
        if (o.value("dir").toString() == "rx" && o.value("cmd").toInt() == cmd)
            found.append(o);
    return found;
}

} // namespace

class tst_NimboLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void twoLinksAreIndependent();
    void aCommandIsNeverSentAfterItsDeadline();
    void everySettingsWriteEnds();
    void onlyIdenticalRequestsAreMerged();
    void aWaitingWriteHoldsBackOnlyWhatFollowsIt();

private:
    // Starts a simulator once the link's gateway listens and opens its port.
    bool Connect(NimboLink &link, SimulatorRunner &sim, const QStringList &args);

    QTemporaryDir runtime;
};

void tst_NimboLink::initTestCase()
{
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QDir().mkpath(runtime.filePath("kinetra-ports"));
    // Nothing here may need a display.
    QVERIFY(!QCoreApplication::instance()->inherits("QGuiApplication"));
}

bool tst_NimboLink::Connect(NimboLink &link, SimulatorRunner &sim, const QStringList &args)
{
    if (!GatewayReady(link) || !sim.Start(QStringList{"--port-dir", runtime.filePath("kinetra-ports")} + args))
        return false;
    QSignalSpy messages(&link, &NimboLink::Sig_ReturnMsg);
    link.SetBaudrate("115200");
    link.OpenPort(sim.PortPath());
    return QTest::qWaitFor([&] { return link.IsOpen() && link.OpenPortName() == sim.PortPath(); }, 5000);
}

void tst_NimboLink::twoLinksAreIndependent()
{
    NimboLink aft, fore;
    SimulatorRunner aftSim, foreSim;
    QVERIFY2(Connect(aft, aftSim, {"--node", "id=40,name=Aft", "--odr", "100"}), qPrintable(aftSim.ErrorString()));
    QVERIFY2(Connect(fore, foreSim, {"--node", "id=50,name=Fore", "--odr", "100"}),
             qPrintable(foreSim.ErrorString()));

    QSignalSpy aftIds(&aft, QOverload<const Np_Id &>::of(&NimboLink::Sig_RX_Data));
    QSignalSpy foreIds(&fore, QOverload<const Np_Id &>::of(&NimboLink::Sig_RX_Data));
    QSignalSpy aftRaw(&aft, QOverload<const Np_Status &>::of(&NimboLink::Sig_RX_Data));
    QSignalSpy foreRaw(&fore, QOverload<const Np_Status &>::of(&NimboLink::Sig_RX_Data));
    aft.Scan();
    fore.Scan();
    QTRY_VERIFY_WITH_TIMEOUT(!aftIds.isEmpty() && !foreIds.isEmpty(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(aftRaw.count() > 20 && foreRaw.count() > 20, 5000);
    for (const QList<QVariant> &a : aftIds)
        QCOMPARE(int(a.first().value<Np_Id>().nodeId), 40);
    for (const QList<QVariant> &a : foreIds)
        QCOMPARE(int(a.first().value<Np_Id>().nodeId), 50);
    for (const QList<QVariant> &a : aftRaw)
        QCOMPARE(int(a.first().value<Np_Status>().header.fromId()), 40);
    for (const QList<QVariant> &a : foreRaw)
        QCOMPARE(int(a.first().value<Np_Status>().header.fromId()), 50);
    // Each link's requests reach its own bus only.
    QCOMPARE(Received(aftSim, NP_CMD_REQUEST_).size(), 1);
    QCOMPARE(Received(foreSim, NP_CMD_REQUEST_).size(), 1);

    // One link closing leaves the other streaming and its statistics its own.
    aft.CloseCurrentPort();
    QTRY_VERIFY_WITH_TIMEOUT(!aft.IsOpen(), 3000);
    QVERIFY(fore.IsOpen());
    const int before = foreRaw.count();
    QTRY_VERIFY_WITH_TIMEOUT(foreRaw.count() > before + 10, 3000);
    QVERIFY(fore.Monitor().received > aft.Monitor().received);
}

void tst_NimboLink::aCommandIsNeverSentAfterItsDeadline()
{
    NimboLink link;
    SimulatorRunner sim;
    QVERIFY2(Connect(link, sim, {"--node", "id=40", "--odr", "10"}), qPrintable(sim.ErrorString()));

    // Sixty node controls ahead take some 300 ms; a command whose waiter gives up after 100 ms behind
    // them is dropped, one with time enough goes out, in order after them.
    Clog(link, 60);
    link.SendCalibration(40, Calib(3, 10, 1111), 100);
    link.SendCalibration(40, Calib(3, 11, 2222), 5000);
    const QVector<QJsonObject> calib = sim.WaitForLog(SimulatorRunner::Match("rx", NP_CMD_CALIB_), 1, 5000);
    QCOMPARE(calib.size(), 1);
    QCOMPARE(calib.first().value("calibValue1").toInt(), 2222);
    QCOMPARE(sim.WaitForLog(SimulatorRunner::Match("rx", NP_CMD_NODECTRL_), 60).size(), 60);
    QTest::qWait(100);
    QCOMPARE(Received(sim, NP_CMD_CALIB_).size(), 1);
    QCOMPARE(link.QueuedCommands(), 0);
}

void tst_NimboLink::everySettingsWriteEnds()
{
    const QString closed = "The settings were not sent: the link is closed.";
    NimboLink link;
    QSignalSpy outcomes(&link, &NimboLink::Sig_SettingsWriteOutcome);

    // No port: refused at once, with the reason.
    link.WriteSettings(40, SomeSettings(100));
    QCOMPARE(outcomes.count(), 1);
    QCOMPARE(Outcomes(outcomes).last().failure, closed);

    // The node never acknowledges: the write ends after its four sends.
    SimulatorRunner sim;
    QVERIFY2(Connect(link, sim, {"--node", "id=40", "--odr", "10", "--mute", "13"}), qPrintable(sim.ErrorString()));
    outcomes.clear();
    link.WriteSettings(40, SomeSettings(100));
    QVERIFY(outcomes.wait(5000));
    QCOMPARE(Outcomes(outcomes).last().node, 40);
    QVERIFY(!Outcomes(outcomes).last().acknowledged);
    QVERIFY(Outcomes(outcomes).last().failure.startsWith("The node did not acknowledge the settings"));
    QCOMPARE(sim.WaitForLog(SimulatorRunner::Match("rx", NP_CMD_SETTING), 4).size(), 4);

    // Waiting behind a busy queue past its deadline: dropped, never sent, and said so.
    outcomes.clear();
    Clog(link, 60);
    link.WriteSettings(40, SomeSettings(200), 50);
    QVERIFY(outcomes.wait(3000));
    QCOMPARE(Outcomes(outcomes).last().failure, QString("The settings were not sent: the link was busy for too long."));

    // More than the queue holds.
    outcomes.clear();
    Clog(link, NimboLink::kQueueCapacity + 5);
    link.WriteSettings(40, SomeSettings(300));
    QCOMPARE(outcomes.count(), 1);
    QCOMPARE(Outcomes(outcomes).last().failure,
             QString("The settings were not sent: too many commands are waiting for the link."));
    QTRY_COMPARE_WITH_TIMEOUT(link.QueuedCommands(), 0, 5000);
    QTest::qWait(50);
    for (const QJsonObject &write : Received(sim, NP_CMD_SETTING))
        QCOMPARE(write.value("odr").toInt(), 100);

    // The link closes while a write waits for its acknowledgement: it ends at once.
    outcomes.clear();
    link.WriteSettings(40, SomeSettings(400));
    QVERIFY(!sim.WaitForLog(SimulatorRunner::Match("rx", NP_CMD_SETTING), 5).isEmpty());
    QVERIFY(sim.Kill());
    QVERIFY(outcomes.wait(5000));
    QCOMPARE(Outcomes(outcomes).last().failure, QString("The link closed before the node acknowledged the settings."));
    QTRY_VERIFY_WITH_TIMEOUT(!link.IsOpen(), 5000);

    // A node that answers: acknowledged.
    SimulatorRunner again;
    QVERIFY2(Connect(link, again, {"--node", "id=40", "--odr", "10"}), qPrintable(again.ErrorString()));
    outcomes.clear();
    link.WriteSettings(40, SomeSettings(50));
    QVERIFY(outcomes.wait(3000));
    QCOMPARE(Outcomes(outcomes).last().node, 40);
    QVERIFY(Outcomes(outcomes).last().acknowledged);
    QVERIFY(Outcomes(outcomes).last().failure.isEmpty());
}

void tst_NimboLink::onlyIdenticalRequestsAreMerged()
{
    NimboLink link;
    SimulatorRunner sim;
    QVERIFY2(Connect(link, sim, {"--node", "id=40", "--odr", "10"}), qPrintable(sim.ErrorString()));
    QSignalSpy outcomes(&link, &NimboLink::Sig_SettingsWriteOutcome);

    // Asked three times while the first waits: one question.
    Clog(link, 10);
    for (int i = 0; i < 3; ++i)
        link.RequestSettings(40);
    // Two writes of different settings: both, in order, each with its outcome.
    link.WriteSettings(40, SomeSettings(25));
    link.WriteSettings(40, SomeSettings(50));
    // Two identical commands are still two commands.
    Np_NSO read{};
    read.nsoCmd = 0x40;
    read.nsoIndex = 0x2021;
    read.nsoSubIndex = 0x23;
    link.SendServiceObject(40, read, 2000);
    link.SendServiceObject(40, read, 2000);

    QTRY_COMPARE_WITH_TIMEOUT(outcomes.count(), 2, 5000);
    QVERIFY(Outcomes(outcomes)[0].acknowledged && Outcomes(outcomes)[1].acknowledged);
    QCOMPARE(sim.WaitForLog(SimulatorRunner::Match("rx", NP_CMD_NSO_), 2).size(), 2);
    QTest::qWait(100);
    QCOMPARE(Received(sim, NP_CMD_REQUEST_).size(), 1);
    const QVector<QJsonObject> writes = Received(sim, NP_CMD_SETTING);
    QCOMPARE(writes.size(), 2);
    QCOMPARE(writes[0].value("odr").toInt(), 25);
    QCOMPARE(writes[1].value("odr").toInt(), 50);
}

void tst_NimboLink::aWaitingWriteHoldsBackOnlyWhatFollowsIt()
{
    NimboLink link;
    SimulatorRunner sim;
    // Node 32 never acknowledges; node 33 would, but the one exchange slot is 32's for some 1.2 s.
    QVERIFY2(Connect(link, sim, {"--node", "id=32", "--node", "id=33", "--odr", "10", "--mute", "13"}),
             qPrintable(sim.ErrorString()));
    QSignalSpy outcomes(&link, &NimboLink::Sig_SettingsWriteOutcome);

    link.WriteSettings(32, SomeSettings(100));
    link.RequestSettings(33);                  // not held back
    link.WriteSettings(33, SomeSettings(200)); // waits for the slot
    link.RequestSettings(32, 3000);            // waits behind the write to its node
    link.SendCalibration(33, Calib(3, 11, 7), 700);
    Np_NSO read{};
    read.nsoCmd = 0x40;
    read.nsoIndex = 0x2022;
    read.nsoSubIndex = 1;
    link.SendServiceObject(33, read, 900);

    QVERIFY(outcomes.wait(5000));
    QCOMPARE(Outcomes(outcomes).first().node, 32);
    sim.WaitForLog(SimulatorRunner::Match("rx", NP_CMD_SETTING, 33), 1, 3000);
    sim.WaitForLog(SimulatorRunner::Match("rx", NP_CMD_REQUEST_, 32), 1, 3000);
    // Where in the node's log each arrived: the first resend of 32's write comes 300 ms after it.
    auto nth = [&](int cmd, int node, int n) {
        int seen = 0;
        const QVector<QJsonObject> &log = sim.LogRecords();
        for (int i = 0; i < log.size(); ++i)
            if (log[i].value("dir").toString() == "rx" && log[i].value("cmd").toInt() == cmd &&
                log[i].value("node").toInt() == node && ++seen == n)
                return i;
        return -1;
    };
    const int firstResend = nth(NP_CMD_SETTING, 32, 2);
    const int lastSend = nth(NP_CMD_SETTING, 32, 4);
    QVERIFY(firstResend > 0 && lastSend > firstResend);
    for (int cmd : {NP_CMD_CALIB_, NP_CMD_NSO_, NP_CMD_REQUEST_}) {
        const int at = nth(cmd, 33, 1);
        QVERIFY2(at >= 0 && at < firstResend, qPrintable(QString("cmd %1 at %2").arg(cmd).arg(at)));
    }
    QVERIFY(nth(NP_CMD_REQUEST_, 32, 1) > lastSend);
    QVERIFY(nth(NP_CMD_SETTING, 33, 1) > lastSend);
}

QTEST_GUILESS_MAIN(tst_NimboLink)
#include "tst_nimbolink.moc"
