#include "gyrovane.h"
#include "shelllog.h"
#include "ui_gyrovane.h"

#include "calibrationcommands.h"
#include "framecourier.h"
#include "nimbolink.h"
#include "margbench.h"
#include "nodename.h"
#include "marginterface.h"
#include "sensorpanel.h"
#include "serviceobjects.h"
#include "unitroster.h"

#include <QtCore/QDebug>
#include <QtCore/QFile>
#include <QtCore/QTimer>
#include <QtGui/QCloseEvent>
#include <QtGui/QFont>
#include <QtGui/QGuiApplication>
#include <QtGui/QIcon>
#include <QtGui/QPixmap>
#include <QtGui/QScreen>
#include <QtWidgets/QMdiSubWindow>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QShortcut>
#include <QtWidgets/QTabBar>
#include <QtWidgets/QTabWidget>
#include <QtWidgets/QTextBrowser>

Q_LOGGING_CATEGORY(lcShell, "gyrovane.shell", QtInfoMsg)

namespace {

const int kWatchDogIntervalMs = 500;
const int kWatchDogTicksToClose = 12;
const int kDefaultFontSize = 8;
const int kSmallestFontSize = 7; // below this the tree and the plots become unreadable
const int kLogoDelayMs = 200;
const int kUuidSize = 20;
const int kNameSize = 12;

} // namespace

Gyrovane::Gyrovane(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::Gyrovane)
{
    // The images are compiled into this static library, which has no load-time hook of its own.
    Q_INIT_RESOURCE(gyrovane);

    ui->setupUi(this);
    fontSize = kDefaultFontSize;
    tabbedMode = true;
    ui->pushButton_Mdi_Arrange_BoxMode->setEnabled(false);
    KeepTabBarOutOfTabChain();
    // F1 from any window of the program, node windows and the bench included.
    auto *help = new QShortcut(QKeySequence::HelpContents, this);
    help->setContext(Qt::ApplicationShortcut);
    connect(help, &QShortcut::activated, this, &Gyrovane::ShowManual);

    const QIcon icon(tr(":/images/Icon.ico"));
    setWindowIcon(icon);
    ui->mdiArea->setWindowIcon(icon);

    frameCourier = new FrameCourier(this);
    ui->verticalLayout_FrameCourier->addWidget(frameCourier);

    link = frameCourier->Link();
    connect(this, SIGNAL(Sig_FrameCourierQuit()), frameCourier, SLOT(On_Quit()));
    connect(this, SIGNAL(Sig_CloseSerialPort_CurrentPort()), frameCourier,
            SLOT(On_CloseCurrentPortSerialPort()));
    connect(frameCourier, SIGNAL(Sig_PortGate_ScanPortEvent()), this, SLOT(On_Feed_WatchDog()));
    connect(link, &NimboLink::Sig_SettingsWriteOutcome, this, &Gyrovane::On_SettingsWriteOutcome);
    connect(link, &NimboLink::Sig_LinkState, this, [this](bool open) {
        if (open)
            ReplayLinkOpened();
        for (SensorPanel *window : qAsConst(nodeWindows))
            window->On_LinkState(open);
    });
    // Every record type the table marks as routed reaches its On_RX_Data overload.
#define GYROVANE_ROUTE(Type, cmd, size, slot, signalled, routed) Route<Type, (routed) != 0>();
    NIMBO_RECORDS(GYROVANE_ROUTE)
#undef GYROVANE_ROUTE

    watchDogTimer = new QTimer;
    connect(watchDogTimer, &QTimer::timeout, this, &Gyrovane::On_Timer_WatchDog);
    watchDogTimer->start(kWatchDogIntervalMs);
    watchDogCounter = 0;

    ui->checkBox_UseMargBench->hide();
    bench = new MargBench(nullptr);
    lastRawTimeStamp.fill(0);
    tickCounter = 0;
    timer0Interval = 1000;
    Timer0 = new QTimer(this);
    connect(Timer0, &QTimer::timeout, this, &Gyrovane::On_Timer0_interrupt);
    Timer0->start(timer0Interval);

    QTimer::singleShot(kLogoDelayMs, this, &Gyrovane::on_pushButton_ResetView_clicked);

    unitRoster = new UnitRoster(this);
    unitRoster->Set_NodeId_Rage(32, 2047);
    unitRoster->Set_NodeName_MaxSize(kNameSize);
    ui->tabWidget_UnitRoster->addTab(unitRoster, QStringLiteral("Unit Roster"));
    // One page only: its tab is a title, not a control; taking the focus it would hold Tab.
    ui->tabWidget_UnitRoster->setFocusPolicy(Qt::NoFocus);
    ui->tabWidget_UnitRoster->tabBar()->setFocusPolicy(Qt::NoFocus);

    connect(this, &Gyrovane::Sig_UnitRoster_Log_Node, unitRoster, &UnitRoster::On_Log_Node);
    connect(unitRoster, &UnitRoster::Sig_New_NodeID, this, &Gyrovane::On_UnitRoster_New_NodeID);
    connect(unitRoster, &UnitRoster::Sig_ScanNode, this, &Gyrovane::On_UnitRoster_ScanNode);
    connect(unitRoster, &UnitRoster::Sig_OpenNode, this, &Gyrovane::On_CreateNode);
    connect(unitRoster, &UnitRoster::Sig_CloseNode, this, &Gyrovane::On_CloseNode);
    connect(unitRoster, &UnitRoster::Sig_NodeCtrl, this, &Gyrovane::On_UnitRoster_NodeCtrl);

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const int W = screen.width();
    const int H = screen.height();
    // 58 % by 75 % of the screen, but on a small screen enough for a node window's settings, displays
    // and tree side by side (at 1366 x 768 that is most of the screen).
    const int w = qMax(int(W * 0.58), qMin(int(W * 0.94), 1280));
    const int h = qMax(int(H * 0.75), qMin(int(H * 0.90), 760));
    setGeometry(screen.x() + W / 2 - w / 2, screen.y() + H / 2 - h / 2, w, h);
    const QRect dock = ui->dockWidget->geometry();
    ui->dockWidget->setGeometry(dock.x(), dock.y(), 200, dock.height());
    // The main window lays its docks out again when shown; this makes the width stay.
    resizeDocks({ui->dockWidget}, {200}, Qt::Horizontal);
}

Gyrovane::~Gyrovane()
{
    StopReplay();
    // The link stops with the panel, after this window has stopped being one: what it reports then
    // (a write ended by the closing link) must not reach a half-destroyed window.
    disconnect(link, nullptr, this, nullptr);
    // The windows go with the MDI area; nothing may reach them or come from them meanwhile.
    for (SensorPanel *window : qAsConst(nodeWindows))
        DetachNodeWindow(window);
    nodeWindows.clear();
    delete watchDogTimer;
    delete bench;
    delete ui;
}

void Gyrovane::On_Timer0_interrupt() { tickCounter = 0; }

void Gyrovane::On_Timer_WatchDog()
{
    ++watchDogCounter;
    if (watchDogCounter > kWatchDogTicksToClose)
        emit Sig_CloseSerialPort_CurrentPort();
}

void Gyrovane::On_Feed_WatchDog() { watchDogCounter = 0; }

void Gyrovane::on_pushButton_About_clicked()
{
    QMessageBox box(QMessageBox::Information, tr("About Gyrovane"),
                    tr("Gyrovane Ver. 3.9.8 \nFor Embedded Firmware Ver. 3.1.6 and later.\n"
                       "https://www.brelund.example/kinetra\n\n"
                       "Copyright Brelund Sensor Systems. All rights reserved."),
                    QMessageBox::Ok, this);
    box.exec();
}

void Gyrovane::on_pushButton_Mdi_Arrange_BoxMode_clicked() { ui->mdiArea->tileSubWindows(); }

void Gyrovane::on_pushButton_Mdi_Arrange_TitileMode_clicked()
{
    if (tabbedMode) {
        ui->mdiArea->setViewMode(QMdiArea::SubWindowView);
        ui->mdiArea->cascadeSubWindows();
        ui->pushButton_Mdi_Arrange_TitileMode->setText(tr("◼"));
        ui->pushButton_Mdi_Arrange_BoxMode->setEnabled(true);
        tabbedMode = false;
    } else {
        ui->mdiArea->setViewMode(QMdiArea::TabbedView);
        KeepTabBarOutOfTabChain();
        ui->pushButton_Mdi_Arrange_TitileMode->setText(tr("❐"));
        ui->pushButton_Mdi_Arrange_BoxMode->setEnabled(false);
        tabbedMode = true;
    }
}

void Gyrovane::KeepTabBarOutOfTabChain()
{
    // The node windows' tab bar would catch Tab and keep it (clicks and Ctrl+Tab still switch tabs).
    for (QTabBar *bar : ui->mdiArea->findChildren<QTabBar *>(QString(), Qt::FindDirectChildrenOnly))
        bar->setFocusPolicy(Qt::ClickFocus);
}

void Gyrovane::on_pushButton_Help_clicked() { ShowManual(); }

QWidget *Gyrovane::ShowManual()
{
    if (!manual) {
        manual = new QTextBrowser(this);
        manual->setWindowFlag(Qt::Window);
        manual->setObjectName(QStringLiteral("textBrowser_Manual"));
        manual->setWindowTitle(tr("Gyrovane manual"));
        manual->setOpenExternalLinks(true);
        QFile text(QStringLiteral(":/docs/manual.md"));
        if (text.open(QIODevice::ReadOnly))
            manual->setMarkdown(QString::fromUtf8(text.readAll()));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        manual->resize(qMin(860, screen.width() - 40), qMin(960, screen.height() - 80));
    }
    manual->show();
    manual->raise();
    manual->activateWindow();
    return manual;
}

void Gyrovane::on_pushButton_FrontEnlarge_clicked() { SetWindowFontSize(fontSize + 1); }

void Gyrovane::on_pushButton_FrontShrink_clicked()
{
    SetWindowFontSize(fontSize - 1);
}

void Gyrovane::on_pushButton_ResetView_clicked()
{
    SetWindowFontSize(kDefaultFontSize);
    ui->label_Logo->setPixmap(QPixmap(tr(":/images/logo.png")));
}

void Gyrovane::SetWindowFontSize(int size)
{
    fontSize = qMax(kSmallestFontSize, size);
    ui->pushButton_FrontShrink->setEnabled(fontSize > kSmallestFontSize);
    setFont(QFont(tr("Arial"), fontSize));
    On_SetNodes_FontSize(fontSize);
}

void Gyrovane::On_UnitRoster_New_NodeID(QByteArray uuid, uint newNodeId, QByteArray newNodeName)
{
    if (uuid.size() != kUuidSize) {
        qCDebug(lcShell) << "Gyrovane::On_UnitRoster_New_NodeID - UUID Size unmatch!";
        return;
    }
    QByteArray name = newNodeName.left(kNameSize);
    name.append(kNameSize - name.size(), '\0');
    link->WriteIdentity(uuid, quint16(newNodeId), name);
    On_ChangeNodeId(uuid, newNodeId);
    On_ChangeNodeName(uuid, NodeName::Text(name));
}

void Gyrovane::On_UnitRoster_ScanNode()
{
    link->Scan();
}

void Gyrovane::On_UnitRoster_NodeCtrl(QByteArray uuid, int ctrlVal)
{
    if (uuid.size() != kUuidSize) {
        qCDebug(lcShell) << "Gyrovane::On_UnitRoster_NodeCtrl - UUID Size unmatch!";
        return;
    }
    link->SendNodeControl(uuid, quint8(ctrlVal));
}

void Gyrovane::On_RX_Data(const Np_HeartBeat &np_Heartbeat)
{
    Q_UNUSED(np_Heartbeat);
    qCDebug(lcShell) << "Gyrovane::On_RX_Data Np_HeartBeat";
}

void Gyrovane::On_RX_Data(const Np_Ack &np_Ack)
{
    Q_UNUSED(np_Ack);
    qCDebug(lcShell) << "Gyrovane::On_RX_Data Np_Ack";
}

namespace {

// Seconds and microseconds of a record's 32-bit microsecond time stamp.
double Seconds(quint32 timeStamp) { return double(timeStamp) / 1000000.0; }
double Microseconds(quint32 timeStamp) { return double(timeStamp); }

} // namespace

void Gyrovane::On_RX_Data(const Np_Settings &np_Settings)
{
    emit Sig_NewData_Settings(np_Settings.header.fromId(), np_Settings);
    qCDebug(lcShell) << "Gyrovane::On_RX_Data Np_Settings";
}

void Gyrovane::On_RX_Data(const Np_Status &np_Status)
{
    const quint16 fromId = np_Status.header.fromId();
    emit Sig_NewData_Uptime(fromId, Seconds(np_Status.timeStamp));
    emit Sig_NewData_QoS(fromId, np_Status.qos());
    emit Sig_NewData_ProcessRate(fromId, float(np_Status.updateRate));
    emit Sig_NewData_Temperature(fromId, np_Status.temperature);
    lastTemperature[fromId] = np_Status.temperature;
}

void Gyrovane::On_RX_Data(const Np_Calib &np_Calib)
{
    emit Sig_NewData_Calib(np_Calib.header.fromId(), np_Calib);
}

void Gyrovane::On_RX_Data(const Np_NSO &np_NSO) { emit Sig_NewData_NSO(np_NSO.header.fromId(), np_NSO); }

void Gyrovane::On_RX_Data(const Np_Raw_GyroAccMag &np_Raw_GyroAccMag)
{
    const Np_Raw_GyroAccMag &r = np_Raw_GyroAccMag;
    const quint16 fromId = r.header.fromId();
    const double us = Microseconds(r.timeStamp);
    emit Sig_NewData_GyroRaw(fromId, r.gyro[0], r.gyro[1], r.gyro[2], us);
    emit Sig_NewData_AccRaw(fromId, r.acc[0], r.acc[1], r.acc[2], us);
    emit Sig_NewData_MagRaw(fromId, r.mag[0], r.mag[1], r.mag[2], us);
    emit Sig_NewData_RecordRaw(fromId, Seconds(r.timeStamp), lastTemperature[fromId], r.gyro[0], r.gyro[1],
                               r.gyro[2], r.acc[0], r.acc[1], r.acc[2], r.mag[0], r.mag[1], r.mag[2]);
    quint32 &lastStamp = lastRawTimeStamp[fromId];
    bench->NoteRawNode(fromId);
    // The hidden switch runs every node through the bench; otherwise the bench filters the node
    // chosen in it, and stands in for that node's attitude when switched in.
    const bool everyNode = ui->checkBox_UseMargBench->isChecked();
    if (everyNode || bench->Filters(fromId)) {
        // Each node with its own filter and its own last time stamp: two sensors never mix. Modulo
        // 2^32: a counter that wrapped still gives the small step it was.
        const float dt = float(quint32(r.timeStamp - lastStamp));
        const std::array<float, 4> q = bench->FuseNode(fromId, dt, r.gyro[0], r.gyro[1], r.gyro[2], r.acc[0],
                                                       r.acc[1], r.acc[2], r.mag[0], r.mag[1], r.mag[2]);
        if (everyNode || bench->SwitchedIn()) {
            emit Sig_NewData_Q_S1_E(fromId, q[0], q[1], q[2], q[3]);
            const MargInterface *fusion = bench->NodeInterface(fromId);
            emit Sig_NewData_RPY(fromId, fusion->Roll(), fusion->Pitch(), fusion->Yaw());
        }
    }
    lastStamp = r.timeStamp;
}

bool Gyrovane::BenchStandsInFor(quint16 node) const
{
    return ui->checkBox_UseMargBench->isChecked() || (bench->SwitchedIn() && int(node) == bench->ChosenNode());
}

void Gyrovane::On_RX_Data(const Np_Q_s1_s &np_Q_s1_s)
{
    const float *q = np_Q_s1_s.q;
    emit Sig_NewData_Q_S1_S(np_Q_s1_s.header.fromId(), q[0], q[1], q[2], q[3]);
}

void Gyrovane::On_RX_Data(const Np_Q_s1_e &np_Q_s1_e)
{
    const quint16 fromId = np_Q_s1_e.header.fromId();
    if (BenchStandsInFor(fromId))
        return; // the bench's attitude stands in for the node's
    const float *q = np_Q_s1_e.q;
    emit Sig_NewData_Q_S1_E(fromId, q[0], q[1], q[2], q[3]);
    emit Sig_NewData_Record_Q_S1_E(fromId, Seconds(np_Q_s1_e.timeStamp), q[0], q[1], q[2], q[3]);
}

void Gyrovane::On_RX_Data(const Np_Euler_s1_s &np_Euler_s1_s)
{
    const Np_Euler_s1_s &e = np_Euler_s1_s;
    emit Sig_NewData_Euler_S1_S(e.header.fromId(), e.psi, e.theta, e.phi);
}

void Gyrovane::On_RX_Data(const Np_Euler_s1_e &np_Euler_s1_e)
{
    const Np_Euler_s1_e &e = np_Euler_s1_e;
    const quint16 fromId = e.header.fromId();
    emit Sig_NewData_Euler_S1_E(fromId, e.psi, e.theta, e.phi);
    emit Sig_NewData_Record_Euler_S1_E(fromId, Seconds(e.timeStamp), e.psi, e.theta, e.phi);
}

void Gyrovane::On_RX_Data(const Np_RPY &np_RPY)
{
    const quint16 fromId = np_RPY.header.fromId();
    if (BenchStandsInFor(fromId))
        return;
    emit Sig_NewData_RPY(fromId, np_RPY.roll, np_RPY.pitch, np_RPY.yaw);
    emit Sig_NewData_Record_RPY(fromId, Seconds(np_RPY.timeStamp), np_RPY.roll, np_RPY.pitch, np_RPY.yaw);
}

void Gyrovane::On_RX_Data(const Np_Gravity &np_Gravity)
{
    const float *g = np_Gravity.g;
    const quint16 fromId = np_Gravity.header.fromId();
    emit Sig_NewData_Gravity(fromId, g[0], g[1], g[2]);
    emit Sig_NewData_Record_Gravity(fromId, Seconds(np_Gravity.timeStamp), g[0], g[1], g[2]);
}

void Gyrovane::On_RX_Data(const Np_Combo &np_Combo)
{
    const quint16 fromId = np_Combo.header.fromId();
    const double s = Seconds(np_Combo.timeStamp);
    const double us = Microseconds(np_Combo.timeStamp);
    emit Sig_NewData_Uptime(fromId, s);
    emit Sig_NewData_QoS(fromId, np_Combo.qos & 0x7);
    emit Sig_NewData_ProcessRate(fromId, 0.0f);
    emit Sig_NewData_Temperature(fromId, 0.0f);
    lastTemperature[fromId] = 0.0f;
    // Single-precision factors, applied in this order: hundredths of a degree, then to radians.
    const float yaw = float(np_Combo.heading) * 0.01f;
    emit Sig_NewData_RPY(fromId, 0.0f, 0.0f, yaw);
    emit Sig_NewData_Record_RPY(fromId, s, 0.0f, 0.0f, yaw);
    const float wz = float(np_Combo.gyroZ) * 0.01f * 0.017453292f;
    emit Sig_NewData_GyroRaw(fromId, 0.0f, 0.0f, wz, us);
    emit Sig_NewData_AccRaw(fromId, 0.0f, 0.0f, 0.0f, us);
    emit Sig_NewData_MagRaw(fromId, 0.0f, 0.0f, 0.0f, us);
    emit Sig_NewData_RecordRaw(fromId, s, lastTemperature[fromId], 0.0f, 0.0f, wz, 0.0f, 0.0f, 0.0f, 0.0f,
                               0.0f, 0.0f);
}

void Gyrovane::On_NewImuSettings(quint16 toId, Np_Settings np_Settings) { link->WriteSettings(toId, np_Settings); }

void Gyrovane::On_SettingsWriteOutcome(quint16 nodeId, bool acknowledged, const QString &failure)
{
    for (SensorPanel *window : qAsConst(nodeWindows))
        window->On_SettingsWriteResult(nodeId, acknowledged, failure);
}

void Gyrovane::On_RequestImuSetting(quint16 nodeId)
{
    link->RequestSettings(nodeId);
    qCDebug(lcShell) << "On_RequestImuSetting";
}

void Gyrovane::On_SendNSO(quint16 toId, Np_NSO np_NSO)
{
    // Sent only while the panel that asked still waits for the answer.
    link->SendServiceObject(toId, np_NSO, ServiceObjects::AnswerWaitMs(np_NSO.nsoIndex, np_NSO.nsoSubIndex));
}

void Gyrovane::On_NewCalibCmd(quint16 toId, uchar calibType, uchar ctrlVal, quint16 param1, quint32 param2,
                              quint32 param3)
{
    Np_Calib calib{};
    calib.calibType = calibType;
    calib.calibCmd = ctrlVal;
    calib.calibCode = param1;
    calib.calibValue1 = param2;
    calib.calibValue2 = param3;
    link->SendCalibration(toId, calib, CalibrationCommands::SendWithinMs(calibType, ctrlVal));
}

void Gyrovane::On_CreateNode(QByteArray uuid, uint nodeId, QString nodeName, int nodeFwVer,
                             int nodeFwRevisionVer)
{
    if (nodeWindows.contains(uuid))
        return;
    auto *window = new SensorPanel(quint16(nodeId), this);
    window->Set_NodeName(nodeName);
    window->Set_NodeUuid(uuid);
    window->Set_NodeFirmwareVersion(nodeFwVer, nodeFwRevisionVer);
    window->Set_NodeFirmwareText(firmwareTexts.value(uuid));

    QVector<QMetaObject::Connection> &own = windowConnections[window];
    own << connect(this, &Gyrovane::Sig_NewData_RecordRaw, window, &SensorPanel::On_NewData_RecordRaw);
    own << connect(this, &Gyrovane::Sig_NewData_Record_Q_S1_E, window, &SensorPanel::On_NewData_RecordQ_s1_e);
    own << connect(this, &Gyrovane::Sig_NewData_Record_RPY, window, &SensorPanel::On_NewData_RecordRPY);
    own << connect(this, &Gyrovane::Sig_NewData_Record_Euler_S1_E, window,
            &SensorPanel::On_NewData_RecordEuler_s1_e);
    own << connect(this, &Gyrovane::Sig_NewData_Record_Gravity, window, &SensorPanel::On_NewData_RecordGravity);
    own << connect(this, &Gyrovane::Sig_NewData_Uptime, window, &SensorPanel::On_UpdateTree_Uptime);
    own << connect(this, &Gyrovane::Sig_NewData_QoS, window, &SensorPanel::On_UpdateTree_QoS);
    own << connect(this, &Gyrovane::Sig_NewData_ProcessRate, window, &SensorPanel::On_UpdateTree_ProcessRate);
    own << connect(this, &Gyrovane::Sig_NewData_Temperature, window, &SensorPanel::On_UpdateTree_Temperature);
    own << connect(this, &Gyrovane::Sig_NewData_GyroRaw, window, &SensorPanel::On_UpdateTree_Raw_Gyro);
    own << connect(this, &Gyrovane::Sig_NewData_AccRaw, window, &SensorPanel::On_UpdateTree_Raw_Acc);
    own << connect(this, &Gyrovane::Sig_NewData_MagRaw, window, &SensorPanel::On_UpdateTree_Raw_Mag);
    own << connect(this, &Gyrovane::Sig_NewData_Q_S1_S, window, &SensorPanel::On_UpdateTree_Q_S1_S);
    own << connect(this, &Gyrovane::Sig_NewData_Euler_S1_S, window, &SensorPanel::On_UpdateTree_Euler_S1_S);
    own << connect(this, &Gyrovane::Sig_NewData_Q_S1_E, window, &SensorPanel::On_UpdateTree_Q_S1_E);
    own << connect(this, &Gyrovane::Sig_NewData_Euler_S1_E, window, &SensorPanel::On_UpdateTree_Euler_S1_E);
    own << connect(this, &Gyrovane::Sig_NewData_RPY, window, &SensorPanel::On_UpdateTree_RPY);
    own << connect(this, &Gyrovane::Sig_NewData_Gravity, window, &SensorPanel::On_UpdateTree_Gravity);
    own << connect(this, &Gyrovane::Sig_NewData_GyroRaw, window, &SensorPanel::On_NewData_GyroRaw);
    own << connect(this, &Gyrovane::Sig_NewData_AccRaw, window, &SensorPanel::On_NewData_AccRaw);
    own << connect(this, &Gyrovane::Sig_NewData_MagRaw, window, &SensorPanel::On_NewData_MagRaw);
    own << connect(this, &Gyrovane::Sig_NewData_Q_S1_E, window, &SensorPanel::On_UpdateAttitude);
    own << connect(this, &Gyrovane::Sig_NewData_RPY, window, &SensorPanel::On_UpdateRPY);
    own << connect(this, &Gyrovane::Sig_NewData_AccRaw, window, &SensorPanel::On_NewData_AccForXY);
    own << connect(this, &Gyrovane::Sig_NewData_MagRaw, window, &SensorPanel::On_NewData_MagForXY);
    own << connect(this, &Gyrovane::Sig_NewData_Settings, window, &SensorPanel::On_NewImuSettings);
    own << connect(window, &SensorPanel::Sig_NewImuSetting, this, &Gyrovane::On_NewImuSettings);
    own << connect(window, &SensorPanel::Sig_RequestImuSetting, this, &Gyrovane::On_RequestImuSetting);
    own << connect(window, &SensorPanel::Sig_NSOcmd, this, &Gyrovane::On_SendNSO);
    own << connect(this, &Gyrovane::Sig_NewData_NSO, window, &SensorPanel::On_NSOcmd);
    own << connect(window, &SensorPanel::Sig_NewCalibCmd, this, &Gyrovane::On_NewCalibCmd);
    own << connect(this, &Gyrovane::Sig_NewData_Calib, window, &SensorPanel::On_NewCalibCmd);
    // The node list marks the node closed before the window is removed.
    own << connect(window, &SensorPanel::Sig_Quit, unitRoster, &UnitRoster::On_Close_Node);
    own << connect(window, &SensorPanel::Sig_Quit, this, &Gyrovane::On_RemoveNode);

    nodeWindows.insert(uuid, window);
    window->On_LinkState(link->IsOpen());
    ui->mdiArea->addSubWindow(window);
    window->show();
    window->Set_FontSize(fontSize);
    On_RequestImuSetting(window->Get_NodeID());
}

void Gyrovane::On_CloseNode(QByteArray uuid)
{
    qCDebug(lcShell) << "Gyrovane::On_CloseNode";
    SensorPanel *window = nodeWindows.value(uuid);
    if (!window)
        return;
    // Closing the sub-window closes the node window first, whose Sig_Quit removes it.
    if (auto *subWindow = qobject_cast<QMdiSubWindow *>(window->parentWidget()))
        subWindow->close();
    else
        window->close();
}

void Gyrovane::DetachNodeWindow(SensorPanel *window)
{
    // Only what the shell connected: others may listen to the window too, even to this very Sig_Quit.
    for (const QMetaObject::Connection &connection : windowConnections.take(window))
        disconnect(connection);
}

void Gyrovane::On_RemoveNode(QByteArray uuid)
{
    qCDebug(lcShell) << "Gyrovane::On_RemoveNode";
    SensorPanel *window = nodeWindows.value(uuid);
    if (!window)
        return;
    if (!replayUuid.isEmpty() && uuid == replayUuid)
        StopReplay(); // the replay's window closed: the replay ends
    DetachNodeWindow(window);
    // Called from inside the window's own close handling: it goes once control is back in the loop.
    window->deleteLater();
    nodeWindows.remove(uuid);
}

void Gyrovane::On_ChangeNodeId(QByteArray uuid, uint newId)
{
    if (SensorPanel *window = nodeWindows.value(uuid))
        window->Set_NodeId(quint16(newId));
}

void Gyrovane::On_ChangeNodeName(QByteArray uuid, QString newName)
{
    if (SensorPanel *window = nodeWindows.value(uuid))
        window->Set_NodeName(newName);
}

void Gyrovane::On_SetNodes_FontSize(int size)
{
    for (SensorPanel *window : qAsConst(nodeWindows))
        window->Set_FontSize(size);
}

void Gyrovane::On_RX_Data(const Np_Id &np_Id)
{
    const QByteArray name(np_Id.name, int(sizeof(np_Id.name)));
    const QByteArray uuid(reinterpret_cast<const char *>(np_Id.uuid), int(sizeof(np_Id.uuid)));
    lastReportedUuid = uuid;
    const QString version = tr("Ver. %1.%2.%3 (%4)")
                                .arg(uint(np_Id.fwVersion[0]))
                                .arg(uint(np_Id.fwVersion[1]))
                                .arg(uint(np_Id.fwVersion[2]))
                                .arg(uint(np_Id.fwVersion[3]));
    firmwareTexts[uuid] = QStringLiteral("%1.%2.%3.%4")
                              .arg(uint(np_Id.fwVersion[0]))
                              .arg(uint(np_Id.fwVersion[1]))
                              .arg(uint(np_Id.fwVersion[2]))
                              .arg(uint(np_Id.fwVersion[3]));
    unitRoster->On_Log_Node(uuid, np_Id.nodeId, name, version);
    ReplayNodeAnswered(uuid);
}

void Gyrovane::closeEvent(QCloseEvent *event)
{
    // Each node window leaves the way a user closing it would: its node is marked closed in the list
    // and it finishes what it holds (recordings) before the link goes away.
    ui->mdiArea->closeAllSubWindows();
    StopReplay();
    bench->close(); // a window of its own: it must not keep the program running
    if (manual)
        manual->close();
    emit Sig_FrameCourierQuit();
    event->accept();
}

void Gyrovane::on_pushButton_MargBench_clicked()
{
    bench->show();
    bench->raise();
    bench->activateWindow();
}
