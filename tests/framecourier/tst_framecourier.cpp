#include "childwidget.h"
#include "framecourier.h"
#include "gatewayprobe.h"
#include "messageboxcatcher.h"
#include "portgate.h"
#include "simulatorrunner.h"

#include <QComboBox>
#include <QCommandLinkButton>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <signal.h>

namespace {

const QString kConnect = QString::fromUtf8("Connect ▝ ▞ ▟");
const QString kDisconnect = QString::fromUtf8("Disconnect ▇");

QStringList threadWarnings;
QtMessageHandler defaultHandler = nullptr;

void CatchThreadWarnings(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (type != QtDebugMsg && msg.contains("QThread"))
        threadWarnings << msg;
    defaultHandler(type, context, msg);
}

struct Result
{
    int fromId, cmd, cmdRequest, retVal;
};

Result ResultAt(const QSignalSpy &spy, int i)
{
    const QList<QVariant> a = spy.at(i);
    return {a.at(0).toInt(), a.at(1).toInt(), a.at(2).toInt(), a.at(3).toInt()};
}

} // namespace

class tst_FrameCourier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void formAtStart();
    void baudrateHelp();
    void pluggedSimulatorOpensAndStreams();
    void reliableSettingsWriteAndIdentityRequest();
    void unacknowledgedWriteFails_data();
    void unacknowledgedWriteFails();
    void typedDevicePathAndLostPort();
    void sendOperationsReachTheNode();
    void monitorShowsCorruptFrames();
    void shutDownLeavesNoThread();

private:
    QString PortDir() const { return runtime.filePath("kinetra-ports"); }
    // Starts a simulator once the panel's gateway has made its first port list, so that the simulator
    // comes as a plugged-in port.
    bool StartSim(FrameCourier &panel, SimulatorRunner &sim, QStringList args = {})
    {
        if (!GatewayReady(panel))
            return false;
        return sim.Start(QStringList{"--port-dir", PortDir()} + args);
    }
    QTemporaryDir runtime;
};

void tst_FrameCourier::initTestCase()
{
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    defaultHandler = qInstallMessageHandler(CatchThreadWarnings);
}

void tst_FrameCourier::init()
{
    QDir(PortDir()).removeRecursively();
    QDir().mkpath(PortDir());
}

void tst_FrameCourier::formAtStart()
{
    FrameCourier panel;
    QCOMPARE(panel.windowTitle(), QString("FrameCourier"));
    QCOMPARE(panel.minimumWidth(), 105);
    auto *baud = Child<QComboBox>(&panel, "comboBox_Serial_Baudrate");
    QCOMPARE(baud->currentText(), QString("115200"));
    QStringList rates;
    for (int i = 0; i < baud->count(); ++i)
        rates << baud->itemText(i);
    QCOMPARE(rates, QStringList({"1200", "2400", "4800", "9600", "38400", "57600", "115200", "230400",
                                 "460800", "921600", "1000000", "1843200", "3686400", "4000000"}));
    QVERIFY(Child<QComboBox>(&panel, "comboBox_Serial_PortName")->isEditable());
    auto *connect = Child<QPushButton>(&panel, "pushButton_Connect_Disconnect");
    QCOMPARE(connect->text(), kConnect);
    QCOMPARE(connect->minimumHeight(), 50);
    for (const char *hidden : {"pushButton", "pushButton_2", "label_SerialConnectionStatus",
                               "groupBox_Advanced_PortGate", "groupBox_Advanced_NbProtocolMonitor"})
        QVERIFY2(Child<QWidget>(&panel, hidden)->isHidden(), hidden);
    QCOMPARE(Child<QLabel>(&panel, "label_SerialConnectionStatus")->text(),
             QString("\nWatting for\nconnection....\n"));
    QCOMPARE(Child<QLabel>(&panel, "label_RxPkgTotal")->text(), QString("0"));
    QCOMPARE(Child<QProgressBar>(&panel, "progressBar_BadPkg")->value(), 0);

    auto *advanced = Child<QPushButton>(&panel, "pushButton_Advanced");
    QCOMPARE(advanced->text(), QString::fromUtf8("▼"));
    advanced->click();
    QCOMPARE(advanced->text(), QString::fromUtf8("▲"));
    QVERIFY(!Child<QWidget>(&panel, "groupBox_Advanced_PortGate")->isHidden());
    QVERIFY(!Child<QWidget>(&panel, "groupBox_Advanced_NbProtocolMonitor")->isHidden());
    advanced->click();
    QCOMPARE(advanced->text(), QString::fromUtf8("▼"));
    QVERIFY(Child<QWidget>(&panel, "groupBox_Advanced_PortGate")->isHidden());

    // With nothing plugged in, clicking Connect on an empty port name fails and leaves the panel waiting.
    connect->click();
    QTest::qWait(200);
    QCOMPARE(connect->text(), kConnect);
}

void tst_FrameCourier::baudrateHelp()
{
    FrameCourier panel;
    auto *help = Child<QCommandLinkButton>(&panel, "commandLinkButton");
    QCOMPARE(help->text(), QString("Did not find\nyour baudrate?"));
    QCOMPARE(help->font().pointSize(), 7);
    MessageBoxCatcher boxes;
    help->click();
    QVERIFY(boxes.WaitForBoxes(1));
    QCOMPARE(boxes.Last().icon, QMessageBox::Information);
    QCOMPARE(boxes.Last().parent.data(), static_cast<QWidget *>(&panel));
    const QString text = boxes.Last().text;
    QVERIFY(text.startsWith(
        "If you choose a data rate other than 115200 bps for the target module (e.g. Kinetra)"));
    QVERIFY(text.contains("\n\nThe Solution:\n(1)  Connect the USB-to-Serial adapter to your PC."));
    QVERIFY(text.contains("(4)  Within 4 seconds after performing step (3), connect the target module"));
    QVERIFY(text.endsWith("Therefore, the communication with Gyrovane will go normally."));
}

void tst_FrameCourier::pluggedSimulatorOpensAndStreams()
{
    FrameCourier panel;
    QSignalSpy rpy(panel.profile, SIGNAL(Sig_RX_Data(Np_RPY)));
    QSignalSpy raw(panel.profile, SIGNAL(Sig_RX_Data(Np_Raw_GyroAccMag)));
    QSignalSpy quaternion(panel.profile, SIGNAL(Sig_RX_Data(Np_Q_s1_e)));
    QSignalSpy status(panel.profile, SIGNAL(Sig_RX_Data(Np_Status)));
    QSignalSpy heartbeat(&panel, &FrameCourier::Sig_PortGate_ScanPortEvent);
    auto *connect = Child<QPushButton>(&panel, "pushButton_Connect_Disconnect");
    auto *port = Child<QComboBox>(&panel, "comboBox_Serial_PortName");
    auto *baud = Child<QComboBox>(&panel, "comboBox_Serial_Baudrate");
    baud->setCurrentText("230400");

    SimulatorRunner sim;
    QVERIFY(StartSim(panel, sim));
    QTRY_COMPARE_WITH_TIMEOUT(connect->text(), kDisconnect, 5000);
    QCOMPARE(port->currentText(), sim.PortPath());
    QVERIFY(!port->isEnabled());
    QVERIFY(!baud->isEnabled());
    QCOMPARE(Child<QLabel>(&panel, "label_SerialConnectionStatus")->text(), QString("\nConnected.\n"));
    QVERIFY(OnGateway(panel, [](PortGate *g) { return g->HighRatePort()->isOpen(); }));
    QCOMPARE(OnGateway(panel, [](PortGate *g) { return g->HighRatePort()->baudRate(); }), 230400);

    QTRY_VERIFY_WITH_TIMEOUT(
        rpy.count() > 20 && raw.count() > 20 && quaternion.count() > 20 && status.count() > 20, 5000);
    const Np_RPY first = rpy.first().first().value<Np_RPY>();
    QCOMPARE(int(first.header.fromId()), 32);
    QCOMPARE(int(first.header.cmd()), 35);
    const int rxShown = Child<QLabel>(&panel, "label_RxPkgTotal")->text().toInt();
    QVERIFY(rxShown >= rpy.count());
    QCOMPARE(Child<QProgressBar>(&panel, "progressBar_BadPkg")->value(), 0);
    QCOMPARE(Child<QProgressBar>(&panel, "progressBar_OmitPkg")->value(), 0);
    QCOMPARE(panel.profile->Protocol()->RecvPkgBad(), 0u);
    QVERIFY(heartbeat.count() >= 1);

    QVERIFY(sim.Stop());
    QTRY_COMPARE_WITH_TIMEOUT(connect->text(), kConnect, 5000);
    QVERIFY(port->isEnabled());
    QVERIFY(baud->isEnabled());
    QCOMPARE(Child<QLabel>(&panel, "label_SerialConnectionStatus")->text(),
             QString("\nWatting for\nconnection...\n"));
    // The bars keep their last values while nothing arrives.
    QTest::qWait(300);
    QCOMPARE(Child<QLabel>(&panel, "label_RxPkgTotal")->text().toInt(),
             panel.profile->Protocol()->GetStatistic_Recv_Pkg_Total());
}

void tst_FrameCourier::reliableSettingsWriteAndIdentityRequest()
{
    FrameCourier panel;
    QSignalSpy results(&panel, &FrameCourier::Sig_NbConversation_Result);
    SimulatorRunner sim;
    QVERIFY(StartSim(panel, sim, {"--nodes", "2"}));
    auto *connect = Child<QPushButton>(&panel, "pushButton_Connect_Disconnect");
    QTRY_COMPARE_WITH_TIMEOUT(connect->text(), kDisconnect, 5000);

    Np_Settings settings{};
    settings.settingsWord = (1u << NpSettingsBit::enGyro) | (1u << NpSettingsBit::outRPY);
    settings.uart2Baud = 1152;
    settings.odr = 50;
    panel.Set_SendSetting_InReliableWay(33, settings);
    QVERIFY(results.wait(3000));
    const Result r = ResultAt(results, 0);
    QCOMPARE(r.fromId, 33);
    QCOMPARE(r.cmd, 21);
    QCOMPARE(r.cmdRequest, 0);
    QCOMPARE(r.retVal, 4);
    const auto written = sim.WaitForLog(SimulatorRunner::Match("rx", 21, 33), 1, 1000);
    QCOMPARE(written.size(), 1);
    QCOMPARE(written.first().value("odr").toInt(), 50);
    QCOMPARE(written.first().value("to").toInt(), 33);
    QCOMPARE(sim.WaitForLog(SimulatorRunner::Match("tx", 13, 33), 1, 1000).size(), 1);

    results.clear();
    QCOMPARE(panel.Set_RequestPkg(0, NP_CMD_ID_), NP_SUCC_);
    QVERIFY(results.wait(3000));
    const Result id = ResultAt(results, 0);
    QCOMPARE(id.fromId, 0);
    QCOMPARE(id.cmd, 12);
    QCOMPARE(id.cmdRequest, 24);
    QCOMPARE(id.retVal, 4);
}

void tst_FrameCourier::unacknowledgedWriteFails_data()
{
    QTest::addColumn<int>("stallMs");
    QTest::newRow("idle machine") << 0;
    // The GUI thread held up for 40 ms again and again: the 10 ms timer runs late, the time-out
    // must not stretch with it.
    QTest::newRow("loaded machine") << 40;
}

void tst_FrameCourier::unacknowledgedWriteFails()
{
    QFETCH(int, stallMs);
    FrameCourier panel;
    QSignalSpy results(&panel, &FrameCourier::Sig_NbConversation_Result);
    SimulatorRunner sim;
    QVERIFY(StartSim(panel, sim, {"--mute", "13"}));
    QTRY_COMPARE_WITH_TIMEOUT(Child<QPushButton>(&panel, "pushButton_Connect_Disconnect")->text(),
                              kDisconnect, 5000);
    QTimer load;
    load.setInterval(5);
    connect(&load, &QTimer::timeout, [stallMs]() { QThread::msleep(ulong(stallMs)); });
    if (stallMs > 0)
        load.start();
    QElapsedTimer clock;
    clock.start();
    panel.Set_SendSetting_InReliableWay(32, Np_Settings{});
    QVERIFY(results.wait(5000));
    const qint64 took = clock.elapsed();
    const Result r = ResultAt(results, 0);
    QCOMPARE(r.fromId, 32);
    QCOMPARE(r.cmd, 21);
    QCOMPARE(r.cmdRequest, 0);
    QCOMPARE(r.retVal, 1);
    QVERIFY2(took >= 1200, qPrintable(QString::number(took)));
    QVERIFY2(took < 2500, qPrintable(QString::number(took)));
    load.stop();
    QCOMPARE(sim.WaitForLog(SimulatorRunner::Match("rx", 21, 32), 4, 1000).size(), 4);
    QTest::qWait(400);
    QCOMPARE(results.count(), 1);
}

void tst_FrameCourier::typedDevicePathAndLostPort()
{
    FrameCourier panel;
    SimulatorRunner sim;
    QVERIFY(StartSim(panel, sim));
    auto *connect = Child<QPushButton>(&panel, "pushButton_Connect_Disconnect");
    QTRY_COMPARE_WITH_TIMEOUT(connect->text(), kDisconnect, 5000);
    connect->click();
    QTRY_COMPARE_WITH_TIMEOUT(connect->text(), kConnect, 3000);

    // A device path that the scan does not list can be typed in.
    const QString device = QFileInfo(sim.PortPath()).symLinkTarget();
    auto *port = Child<QComboBox>(&panel, "comboBox_Serial_PortName");
    port->setEditText(device);
    QSignalSpy rpy(panel.profile, SIGNAL(Sig_RX_Data(Np_RPY)));
    connect->click();
    QTRY_COMPARE_WITH_TIMEOUT(connect->text(), kDisconnect, 3000);
    QCOMPARE(port->currentText(), device);
    QVERIFY(rpy.wait(3000));

    // The simulator dies: its port's own error closes it, without waiting for a scan.
    ::kill(pid_t(sim.ProcessId()), SIGKILL);
    QTRY_COMPARE_WITH_TIMEOUT(connect->text(), kConnect, 3000);

    // Opening the dead path again fails, and the panel says why.
    auto *status = Child<QLabel>(&panel, "label_SerialConnectionStatus");
    QVERIFY(status->isHidden());
    port->setEditText(device);
    connect->click();
    QTRY_VERIFY_WITH_TIMEOUT(!status->isHidden(), 3000);
    QVERIFY2(status->text().contains(device + " is gone"), qPrintable(status->text()));
    QCOMPARE(connect->text(), kConnect);
}

void tst_FrameCourier::sendOperationsReachTheNode()
{
    FrameCourier panel;
    SimulatorRunner sim;
    QVERIFY(StartSim(panel, sim));
    QTRY_COMPARE_WITH_TIMEOUT(Child<QPushButton>(&panel, "pushButton_Connect_Disconnect")->text(),
                              kDisconnect, 5000);
    QSignalSpy nso(panel.profile, SIGNAL(Sig_RX_Data(Np_NSO)));

    Np_NSO read{};
    read.nsoCmd = 0x40;
    read.nsoIndex = 0x2022; // the CAN bit rate
    read.nsoSubIndex = 1;
    QCOMPARE(panel.Set_Send_NSOCmd(32, read), NP_SUCC_);
    QVERIFY(nso.wait(3000));
    const Np_NSO answer = nso.first().first().value<Np_NSO>();
    QCOMPARE(int(answer.nsoCmd), 0x42);
    QCOMPARE(int(answer.nsoIndex), 0x2022);
    QCOMPARE(answer.nsoValue, 10000u);
    const auto nsoSent = sim.WaitForLog(SimulatorRunner::Match("rx", 26, 32), 1, 1000);
    QCOMPARE(nsoSent.size(), 1);
    QCOMPARE(nsoSent.first().value("from").toInt(), 8);

    // Node control and id writes name their node by UUID and always go to everyone.
    quint8 all[20] = {};
    QCOMPARE(panel.Set_SendNodeCtrl(32, all, 20, 3), NP_SUCC_);
    const auto ctrl = sim.WaitForLog(SimulatorRunner::Match("rx", 25), 1, 3000);
    QCOMPARE(ctrl.size(), 1);
    QCOMPARE(ctrl.first().value("to").toInt(), 0);
    QCOMPARE(panel.Set_SendNodeCtrl(32, all, 19, 3), NP_FAIL_);

    QCOMPARE(panel.Set_SendCalibCmd(32, 2, 1, 0xAA05, 0, 0), NP_SUCC_);
    const auto calib = sim.WaitForLog(SimulatorRunner::Match("rx", 23, 32), 1, 3000);
    QCOMPARE(calib.size(), 1);
    QCOMPARE(calib.first().value("to").toInt(), 32);

    // Two records queued at once leave on consecutive send ticks.
    QCOMPARE(panel.Set_RequestPkg(32, NP_CMD_SETTING), NP_SUCC_);
    QCOMPARE(panel.Set_SendCalibCmd(32, 2, 2, 0xAA05, 0, 0), NP_SUCC_);
    QCOMPARE(sim.WaitForLog(SimulatorRunner::Match("rx", 23, 32), 2, 3000).size(), 2);
    QCOMPARE(sim.WaitForLog(SimulatorRunner::Match("rx", 12, 32), 1, 3000).size(), 1);
}

void tst_FrameCourier::monitorShowsCorruptFrames()
{
    FrameCourier panel;
    SimulatorRunner sim;
    QVERIFY(StartSim(panel, sim, {"--corrupt", "0.3", "--odr", "200"}));
    QTRY_COMPARE_WITH_TIMEOUT(Child<QPushButton>(&panel, "pushButton_Connect_Disconnect")->text(),
                              kDisconnect, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(panel.profile->Protocol()->RecvPkgBad() > 10, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(Child<QProgressBar>(&panel, "progressBar_BadPkg")->value() > 0, 2000);
    const int bad = Child<QProgressBar>(&panel, "progressBar_BadPkg")->value();
    QVERIFY2(bad < 60, qPrintable(QString::number(bad)));
}

void tst_FrameCourier::shutDownLeavesNoThread()
{
    threadWarnings.clear();
    QPointer<QThread> thread;
    QPointer<PortGate> gate;
    {
        FrameCourier panel;
        SimulatorRunner sim;
        QVERIFY(StartSim(panel, sim));
        QTRY_COMPARE_WITH_TIMEOUT(Child<QPushButton>(&panel, "pushButton_Connect_Disconnect")->text(),
                                  kDisconnect, 5000);
        thread = panel.WorkerThread();
        gate = panel.Gateway();
        QVERIFY(thread->isRunning());
        panel.show();
        panel.close(); // the close event asks the gateway to quit; the destructor stops the thread
    }
    QVERIFY(!thread || thread->isFinished());
    QVERIFY(gate.isNull());
    QTRY_VERIFY_WITH_TIMEOUT(thread.isNull(), 2000);
    QVERIFY2(threadWarnings.isEmpty(), qPrintable(threadWarnings.join('\n')));
}

QTEST_MAIN(tst_FrameCourier)
#include "tst_framecourier.moc"
