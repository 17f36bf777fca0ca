#include "portgate.h"
#include "simulatedlink.h"
#include "simulatorrunner.h"

#include "nimboprofile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

namespace {

using Message = QPair<int, QString>;

QVector<Message> Messages(const QSignalSpy &spy, int from = 0)
{
    QVector<Message> out;
    for (int i = from; i < spy.count(); ++i)
        out.append({spy.at(i).at(0).toInt(), spy.at(i).at(1).toString()});
    return out;
}

QStringList Names(const SerialPortNameList &list)
{
    QStringList names;
    for (const QextPortInfo &p : list)
        names << p.portName;
    return names;
}

QByteArray IdentityRequestFrame()
{
    NimboObjectDictionary od;
    NimboProfile profile(&od);
    od.Write_Np_Request(NP_ID_BROADCAST_, NP_CMD_ID_);
    profile.Queue_SendPkg(NP_ID_BROADCAST_, NP_CMD_REQUEST_);
    quint16 toId;
    char *data;
    int size;
    profile.Next_SendPkg(&toId, &data, &size);
    return QByteArray(data, size);
}

} // namespace

class tst_PortGate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void standardRatePortForStandardRates();
    void highRatePortForHighRates();
    void reopenWhileOpen();
    void sendWhileClosed();
    void unsupportedRateFallsBackTo115200();
    void simulatorStartAndStopArePlugEvents();
    void swapBetweenScansIsUnplugAndPlug();
    void onlyLinksOfRunningSimulatorsAreListed();
    void lostPortIsClosedAtOnce();
    void openingUnlistedPortReportsMissingInfo();
    void streamPassedOnWhole();

private:
    QString PortDir() const { return runtime.filePath("kinetra-ports"); }
    QString FakePort(const QString &name) const { return PortDir() + "/" + name; }
    // What a simulator of that process writes into its pid file.
    static QString PidText(qint64 pid) { return QString::fromStdString(simulatedlink::PidFileText(long(pid))).trimmed(); }
    // A simulator's published port: the link and, unless pid is empty, its pid file.
    bool FakeLink(const QString &target, const QString &name, const QString &pid) const
    {
        QFile file(FakePort(name) + ".pid");
        if (!pid.isEmpty() && !(file.open(QIODevice::WriteOnly) && file.write(pid.toLatin1() + "\n") > 0))
            return false;
        file.close();
        return QFile::link(target, FakePort(name));
    }

    QTemporaryDir runtime;
    SimulatorRunner *sim = nullptr;
    PortGate *gate = nullptr;
    QSignalSpy *messages = nullptr;
};

void tst_PortGate::initTestCase()
{
    QVERIFY(runtime.isValid());
    // The gateway looks for simulated ports under the runtime directory.
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QCOMPARE(PortGate::SimulatedPortDirectory(), PortDir());
}

void tst_PortGate::init()
{
    QDir(PortDir()).removeRecursively();
    QDir().mkpath(PortDir());
    sim = new SimulatorRunner;
    QVERIFY2(sim->Start({"--port-dir", PortDir()}), qPrintable(sim->ErrorString()));
    gate = new PortGate;
    messages = new QSignalSpy(gate, &PortGate::Sig_ReturnMsg);
    gate->On_Init();
    QVERIFY(Names(PortGate::EnumeratePorts()).contains(sim->PortPath()));
}

void tst_PortGate::cleanup()
{
    delete messages;
    messages = nullptr;
    gate->On_Quit();
    delete gate;
    gate = nullptr;
    delete sim;
    sim = nullptr;
}

void tst_PortGate::standardRatePortForStandardRates()
{
    QSignalSpy received(gate, &PortGate::Sig_RecvData);
    gate->On_SetSerialPort("115200");
    gate->On_OpenSerialPort(sim->PortPath());
    QCOMPARE(Messages(*messages), (QVector<Message>{{0, sim->PortPath()}}));
    QVERIFY(gate->UsesStandardRatePort());
    QVERIFY(gate->StandardRatePort()->isOpen());
    QVERIFY(!gate->HighRatePort()->isOpen());
    QCOMPARE(gate->StandardRatePort()->baudRate(), 115200);
    QCOMPARE(gate->StandardRatePort()->dataBits(), QSerialPort::Data8);
    QCOMPARE(gate->StandardRatePort()->parity(), QSerialPort::NoParity);
    QCOMPARE(gate->StandardRatePort()->flowControl(), QSerialPort::NoFlowControl);
    QCOMPARE(gate->CurrentPortName(), sim->PortPath());

    // Bytes go both ways: the node answers an identity request.
    gate->On_SendData(IdentityRequestFrame());
    QVERIFY(!sim->WaitForLog(SimulatorRunner::Match("rx", NP_CMD_REQUEST_), 1, 5000).isEmpty());
    QVERIFY(!sim->WaitForLog(SimulatorRunner::Match("tx", NP_CMD_ID_), 1, 5000).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(received.count() > 0, 5000);

    gate->On_CloseSerialPort_CurrentPort();
    QCOMPARE(Messages(*messages, 1), (QVector<Message>{{3, sim->PortPath()}, {4, sim->PortPath()}}));
    QCOMPARE(gate->CurrentPortName(), QString("NONE"));
    gate->On_CloseSerialPort_CurrentPort();
    QCOMPARE(Messages(*messages, 3), (QVector<Message>{{4, "NONE"}, {4, "NONE"}}));
}

void tst_PortGate::highRatePortForHighRates()
{
    for (const char *rate : {"230400", "4000000"}) {
        messages->clear();
        gate->On_SetSerialPort(rate);
        gate->On_OpenSerialPort(sim->PortPath());
        QCOMPARE(Messages(*messages), (QVector<Message>{{0, sim->PortPath()}}));
        QVERIFY(!gate->UsesStandardRatePort());
        QVERIFY(gate->HighRatePort()->isOpen());
        QVERIFY(!gate->StandardRatePort()->isOpen());
        QCOMPARE(gate->HighRatePort()->baudRate(), QByteArray(rate).toInt());
        gate->On_CloseSerialPort_CurrentPort();
        // The high-rate port is the second one closed.
        QCOMPARE(Messages(*messages, 1), (QVector<Message>{{4, sim->PortPath()}, {3, sim->PortPath()}}));
    }
}

void tst_PortGate::reopenWhileOpen()
{
    gate->On_SetSerialPort("115200");
    gate->On_OpenSerialPort(sim->PortPath());
    messages->clear();
    gate->On_OpenSerialPort(sim->PortPath());
    QCOMPARE(Messages(*messages), (QVector<Message>{{5, "Port is already opened. Close and reopen."},
                                                    {3, sim->PortPath()},
                                                    {4, sim->PortPath()},
                                                    {0, sim->PortPath()}}));
    QVERIFY(gate->StandardRatePort()->isOpen());
}

void tst_PortGate::sendWhileClosed()
{
    gate->On_SendData(IdentityRequestFrame());
    QCOMPARE(Messages(*messages), (QVector<Message>{{6, "PortGate::On_SendData - Port Closed"}}));
    // Nothing reached the node: after a later open, the only request it sees is the one sent then.
    gate->On_SetSerialPort("115200");
    gate->On_OpenSerialPort(sim->PortPath());
    gate->On_SendData(IdentityRequestFrame());
    QVERIFY(!sim->WaitForLog(SimulatorRunner::Match("rx", NP_CMD_REQUEST_), 1, 5000).isEmpty());
    QTest::qWait(200);
    QCOMPARE(sim->WaitForLog(SimulatorRunner::Match("rx", NP_CMD_REQUEST_), 2, 0).size(), 1);
}

void tst_PortGate::unsupportedRateFallsBackTo115200()
{
    const QString text = "Selected baudrate is not supported on this machine! Use default 115200 instead.";
    gate->On_SetSerialPort("12345");
    QCOMPARE(Messages(*messages), (QVector<Message>{{7, text}}));
    gate->On_OpenSerialPort(sim->PortPath());
    QCOMPARE(Messages(*messages, 1), (QVector<Message>{{7, text}, {0, sim->PortPath()}}));
    QVERIFY(gate->UsesStandardRatePort());
    QCOMPARE(gate->StandardRatePort()->baudRate(), 115200);
    QCOMPARE(gate->BaudString(), QString("12345"));
}

void tst_PortGate::simulatorStartAndStopArePlugEvents()
{
    QSignalSpy plugged(gate, &PortGate::Sig_SerialDevice_PluggedIn);
    QSignalSpy unplugged(gate, &PortGate::Sig_SerialDevice_Unplugged);
    QSignalSpy lists(gate, &PortGate::Sig_ScanPortsResult);
    QSignalSpy heartbeats(gate, &PortGate::Sig_ScanPortEvent);

    SimulatorRunner second;
    QVERIFY(second.Start({"--port-dir", PortDir()}));
    QVERIFY(plugged.wait(3000));
    QCOMPARE(plugged.first().first().toString(), second.PortPath());
    QCOMPARE(unplugged.count(), 0);
    QCOMPARE(lists.count(), 1);
    const auto list = lists.first().first().value<SerialPortNameList>();
    QVERIFY(Names(list).contains(second.PortPath()));
    QVERIFY(Names(list).contains(sim->PortPath()));

    // Unplugging the open port closes it.
    gate->On_SetSerialPort("115200");
    gate->On_OpenSerialPort(second.PortPath());
    messages->clear();
    QVERIFY(second.Stop());
    QVERIFY(unplugged.wait(3000) || unplugged.count() == 1);
    QCOMPARE(unplugged.first().first().toString(), second.PortPath());
    QCOMPARE(lists.count(), 2);
    QVERIFY(!Names(lists.last().first().value<SerialPortNameList>()).contains(second.PortPath()));
    QTRY_VERIFY(!gate->StandardRatePort()->isOpen());
    QVERIFY(Messages(*messages).contains(Message{3, second.PortPath()}));
    QVERIFY(heartbeats.count() >= 2);
}

void tst_PortGate::swapBetweenScansIsUnplugAndPlug()
{
    QSignalSpy plugged(gate, &PortGate::Sig_SerialDevice_PluggedIn);
    QSignalSpy unplugged(gate, &PortGate::Sig_SerialDevice_Unplugged);
    QSignalSpy heartbeats(gate, &PortGate::Sig_ScanPortEvent);
    // A link of a running simulator (its pid file names one) to a device that exists is a port.
    const QString running = PidText(sim->ProcessId());
    QVERIFY(FakeLink("/dev/null", "ttyKSIM90", running));
    QVERIFY(plugged.wait(3000));
    QCOMPARE(plugged.takeFirst().first().toString(), FakePort("ttyKSIM90"));

    // One adapter out, another in, between two scans: the same count, yet an unplug and a plug.
    QVERIFY(heartbeats.wait(3000));
    QVERIFY(QFile::remove(FakePort("ttyKSIM90")));
    QVERIFY(FakeLink("/dev/null", "ttyKSIM91", running));
    QVERIFY(plugged.wait(3000));
    QCOMPARE(unplugged.count(), 1);
    QCOMPARE(unplugged.takeFirst().first().toString(), FakePort("ttyKSIM90"));
    QCOMPARE(plugged.takeFirst().first().toString(), FakePort("ttyKSIM91"));

    // Another device under the same name: the old one goes, the new one comes.
    QVERIFY(QFile::remove(FakePort("ttyKSIM91")));
    QVERIFY(FakeLink("/dev/zero", "ttyKSIM91", running));
    QVERIFY(plugged.wait(3000));
    QCOMPARE(unplugged.count(), 1);
    QCOMPARE(unplugged.takeFirst().first().toString(), FakePort("ttyKSIM91"));
    QCOMPARE(plugged.takeFirst().first().toString(), FakePort("ttyKSIM91"));
    QVERIFY(heartbeats.wait(3000));
    QVERIFY(heartbeats.wait(3000));
    QCOMPARE(plugged.count() + unplugged.count(), 0);
}

void tst_PortGate::onlyLinksOfRunningSimulatorsAreListed()
{
    QProcess other; // a live process that is no simulator
    other.start("sleep", {"30"});
    QVERIFY(other.waitForStarted());
    QProcess finished;
    finished.start("true", QStringList());
    QVERIFY(finished.waitForFinished());
    const struct
    {
        const char *name;
        QString target;
        QString pid; // empty: no pid file
    } links[] = {
        {"ttyKSIM80", "/dev/null", PidText(sim->ProcessId())}, // the one live link
        {"ttyKSIM81", "/dev/null", QString()},                // killed before writing its pid
        {"ttyKSIM82", "/dev/null", QString::number(finished.processId()) + " 1"}, // simulator gone
        {"ttyKSIM83", "/dev/null", QString::number(other.processId()) + " 1"},    // number taken by another program
        {"ttyKSIM84", runtime.filePath("gone"), PidText(sim->ProcessId())},       // terminal gone
        {"ttyKSIM85", "/dev/null", QString::number(sim->ProcessId())},             // no start time
        {"ttyKSIM86", "/dev/null", "garbage"},
    };
    for (const auto &link : links)
        QVERIFY(FakeLink(link.target, link.name, link.pid));
    const QStringList names = Names(PortGate::EnumeratePorts());
    QVERIFY(names.contains(FakePort("ttyKSIM80")));
    for (const auto &link : links)
        QCOMPARE(names.contains(FakePort(link.name)), QByteArray(link.name) == "ttyKSIM80");
    other.kill();
    other.waitForFinished();
}

void tst_PortGate::lostPortIsClosedAtOnce()
{
    // Opened by its device path, the port is not in the enumeration, so no unplug event can close it:
    // only the port's own error does.
    const QString device = QFileInfo(sim->PortPath()).symLinkTarget();
    gate->On_SetSerialPort("921600");
    gate->On_OpenSerialPort(device);
    QVERIFY(gate->HighRatePort()->isOpen());
    messages->clear();
    ::kill(pid_t(sim->ProcessId()), SIGKILL);
    QTRY_VERIFY_WITH_TIMEOUT(!gate->HighRatePort()->isOpen(), 3000);
    QCOMPARE(Messages(*messages), (QVector<Message>{{4, "NONE"}, {3, "NONE"}}));
}

void tst_PortGate::openingUnlistedPortReportsMissingInfo()
{
    const QString device = QFileInfo(sim->PortPath()).symLinkTarget();
    gate->On_SetSerialPort("115200");
    gate->On_OpenSerialPort(device);
    QCOMPARE(
        Messages(*messages),
        (QVector<Message>{{2, "PortGate::On_OpenSerialPort - Port detailed info not found in enumeration."},
                          {0, device}}));
    QCOMPARE(gate->CurrentPortName(), QString("NONE"));
    messages->clear();
    QSignalSpy failures(gate, &PortGate::Sig_OpenFailed);
    gate->On_OpenSerialPort(runtime.filePath("no-such-port"));
    QCOMPARE(Messages(*messages).last(), (Message{1, runtime.filePath("no-such-port")}));
    QCOMPARE(failures.count(), 1);
    QVERIFY(failures.last().at(1).toString().contains("is gone"));

    // Held by another program (here: another port object): busy, not a matter of permissions.
    gate->On_CloseSerialPort_CurrentPort();
    QSerialPort holder(sim->PortPath());
    QVERIFY(holder.open(QIODevice::ReadWrite));
    gate->On_OpenSerialPort(sim->PortPath());
    QCOMPARE(failures.count(), 2);
    QVERIFY2(failures.last().at(1).toString().contains("is busy"), qPrintable(failures.last().at(1).toString()));
}

void tst_PortGate::streamPassedOnWhole()
{
    // Four nodes at 800 Hz deliver bytes every millisecond or so: the gateway hands them on in
    // gathered chunks, in order and complete, and an answer after a quiet spell goes on at once.
    SimulatorRunner busy;
    QVERIFY(busy.Start({"--port-dir", PortDir(), "--nodes", "4", "--odr", "800"}));
    QSignalSpy received(gate, &PortGate::Sig_RecvData);
    gate->On_SetSerialPort("921600");
    gate->On_OpenSerialPort(busy.PortPath());
    QVERIFY(gate->HighRatePort()->isOpen());
    QTest::qWait(2000);
    NimboObjectDictionary od;
    NimboProfile profile(&od);
    for (const QList<QVariant> &chunk : received) {
        const QByteArray bytes = chunk.first().toByteArray();
        profile.Drain(bytes.constData(), bytes.size(), [](int, const Np_Header &) {});
    }
    const NimboProtocol &framing = *profile.Protocol();
    QVERIFY2(framing.RecvPkgGood() > 4 * 800 * 3, qPrintable(QString::number(framing.RecvPkgGood())));
    QCOMPARE(framing.RecvPkgBad(), 0u);
    QCOMPARE(framing.RecvPkgOmit(), 0u);
    QVERIFY(framing.RecvByteBadHead() < 50); // at most the tail of a frame cut off by the open
    QVERIFY2(received.count() < 2000 / 5 + 50, qPrintable(QString::number(received.count())));
}

QTEST_GUILESS_MAIN(tst_PortGate)
#include "tst_portgate.moc"
