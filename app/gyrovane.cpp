#include "gyrovane.h"
#include "ui_gyrovane.h"

#include "framecourier.h"
#include "unitroster.h"

#include <QtCore/QDebug>
#include <QtCore/QTimer>
#include <QtGui/QCloseEvent>
#include <QtGui/QFont>
#include <QtGui/QGuiApplication>
#include <QtGui/QIcon>
#include <QtGui/QPixmap>
#include <QtGui/QScreen>
#include <QtWidgets/QMessageBox>

namespace {

const int kWatchDogIntervalMs = 500;
const int kWatchDogTicksToClose = 12;
const int kDefaultFontSize = 8;
const int kSmallestFontSize = 1;
const int kLogoDelayMs = 200;
// One send tick of the link panel.
const int kCommandRetryMs = 5;
// A record the link holds for longer than this is not leaving at all.
const int kCommandAttempts = 400;
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

    const QIcon icon(tr(":/images/Icon.ico"));
    setWindowIcon(icon);
    ui->mdiArea->setWindowIcon(icon);

    frameCourier = new FrameCourier(this);
    ui->verticalLayout_FrameCourier->addWidget(frameCourier);

    connect(this, SIGNAL(Sig_FrameCourierQuit()), frameCourier, SLOT(On_Quit()));
    connect(this, SIGNAL(Sig_CloseSerialPort_CurrentPort()), frameCourier,
            SLOT(On_CloseCurrentPortSerialPort()));
    connect(frameCourier, SIGNAL(Sig_PortGate_ScanPortEvent()), this, SLOT(On_Feed_WatchDog()));
    connect(frameCourier->profile, SIGNAL(Sig_RX_Data(Np_HeartBeat)), this, SLOT(On_RX_Data(Np_HeartBeat)));
    connect(frameCourier->profile, SIGNAL(Sig_RX_Data(Np_Ack)), this, SLOT(On_RX_Data(Np_Ack)));
    connect(frameCourier->profile, SIGNAL(Sig_RX_Data(Np_Settings)), this, SLOT(On_RX_Data(Np_Settings)));
    connect(frameCourier->profile, SIGNAL(Sig_RX_Data(Np_Id)), this, SLOT(On_RX_Data(Np_Id)));

    watchDogTimer = new QTimer;
    connect(watchDogTimer, &QTimer::timeout, this, &Gyrovane::On_Timer_WatchDog);
    watchDogTimer->start(kWatchDogIntervalMs);
    watchDogCounter = 0;

    ui->checkBox_UseMargBench->hide();
    tickCounter = 0;
    timer0Interval = 1000;
    Timer0 = new QTimer(this);
    connect(Timer0, &QTimer::timeout, this, &Gyrovane::On_Timer0_interrupt);
    Timer0->start(timer0Interval);

    QTimer::singleShot(kLogoDelayMs, this, &Gyrovane::on_pushButton_ResetView_clicked);

    commandRetryTimer = new QTimer(this);
    commandRetryTimer->setSingleShot(true);
    commandRetryTimer->setInterval(kCommandRetryMs);
    connect(commandRetryTimer, &QTimer::timeout, this, &Gyrovane::SendQueuedCommands);

    unitRoster = new UnitRoster(this);
    unitRoster->Set_NodeId_Rage(32, 2047);
    unitRoster->Set_NodeName_MaxSize(kNameSize);
    ui->tabWidget_UnitRoster->addTab(unitRoster, QStringLiteral("Unit Roster"));

    connect(this, &Gyrovane::Sig_UnitRoster_Log_Node, unitRoster, &UnitRoster::On_Log_Node);
    connect(unitRoster, &UnitRoster::Sig_New_NodeID, this, &Gyrovane::On_UnitRoster_New_NodeID);
    connect(unitRoster, &UnitRoster::Sig_ScanNode, this, &Gyrovane::On_UnitRoster_ScanNode);
    connect(unitRoster, &UnitRoster::Sig_NodeCtrl, this, &Gyrovane::On_UnitRoster_NodeCtrl);

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const int W = screen.width();
    const int H = screen.height();
    const int w = int(W * 0.58);
    const int h = int(H * 0.75);
    setGeometry(screen.x() + W / 2 - w / 2, screen.y() + H / 2 - h / 2, w, h);
    if (W > 1500) {
        const QRect dock = ui->dockWidget->geometry();
        ui->dockWidget->setGeometry(dock.x(), dock.y(), 200, dock.height());
        // The main window lays its docks out again when shown; this makes the width stay.
        resizeDocks({ui->dockWidget}, {200}, Qt::Horizontal);
    }
}

Gyrovane::~Gyrovane()
{
    delete watchDogTimer;
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
        ui->pushButton_Mdi_Arrange_TitileMode->setText(tr("❐"));
        ui->pushButton_Mdi_Arrange_BoxMode->setEnabled(false);
        tabbedMode = true;
    }
}

void Gyrovane::on_pushButton_FrontEnlarge_clicked() { SetWindowFontSize(fontSize + 1); }

void Gyrovane::on_pushButton_FrontShrink_clicked()
{
    // A point size below 1 is no font at all.
    if (fontSize > kSmallestFontSize)
        SetWindowFontSize(fontSize - 1);
}

void Gyrovane::on_pushButton_ResetView_clicked()
{
    SetWindowFontSize(kDefaultFontSize);
    ui->label_Logo->setPixmap(QPixmap(tr(":/images/logo.png")));
}

void Gyrovane::SetWindowFontSize(int size)
{
    fontSize = size;
    setFont(QFont(tr("Arial"), fontSize));
}

void Gyrovane::On_UnitRoster_New_NodeID(QByteArray uuid, uint newNodeId, QByteArray newNodeName)
{
    if (uuid.size() != kUuidSize) {
        qDebug() << "Gyrovane::On_UnitRoster_New_NodeID - UUID Size unmatch!";
        return;
    }
    QByteArray name = newNodeName.left(kNameSize);
    name.append(kNameSize - name.size(), '\0');
    Enqueue({QueuedCommand::IdWrite, uuid, 0, quint16(newNodeId), name});
}

void Gyrovane::On_UnitRoster_ScanNode()
{
    Enqueue({QueuedCommand::IdRequest, QByteArray(), 0, 0, QByteArray()});
}

void Gyrovane::On_UnitRoster_NodeCtrl(QByteArray uuid, int ctrlVal)
{
    if (uuid.size() != kUuidSize) {
        qDebug() << "Gyrovane::On_UnitRoster_NodeCtrl - UUID Size unmatch!";
        return;
    }
    Enqueue({QueuedCommand::NodeCtrl, uuid, quint8(ctrlVal), 0, QByteArray()});
}

void Gyrovane::Enqueue(const QueuedCommand &command)
{
    // A broadcast request already waiting asks the same question.
    if (command.kind == QueuedCommand::IdRequest && !queuedCommands.isEmpty() &&
        queuedCommands.last().kind == QueuedCommand::IdRequest)
        return;
    queuedCommands.append(command);
    if (queuedCommands.size() == 1)
        SendQueuedCommands();
}

int Gyrovane::TrySend(const QueuedCommand &command)
{
    QByteArray uuid = command.uuid;
    QByteArray name = command.name;
    switch (command.kind) {
    case QueuedCommand::NodeCtrl:
        return frameCourier->Set_SendNodeCtrl(NP_ID_BROADCAST_, reinterpret_cast<quint8 *>(uuid.data()),
                                              kUuidSize, command.ctrl);
    case QueuedCommand::IdWrite:
        return frameCourier->Set_SendIdCmd(NP_ID_BROADCAST_, 0, command.nodeId,
                                           reinterpret_cast<quint8 *>(uuid.data()), kUuidSize, name.data(),
                                           kNameSize);
    case QueuedCommand::IdRequest:
        // Asked before a node-control frame has left, the nodes would answer before they are silenced.
        if (frameCourier->profile->IsQueued(NP_CMD_NODECTRL_))
            return NP_MUTEX_LOCKED_;
        // Refused only while an identity request is still waiting to go out, which asks the same.
        frameCourier->Set_RequestPkg(NP_ID_BROADCAST_, NP_CMD_ID_);
        return NP_SUCC_;
    }
    return NP_FAIL_;
}

void Gyrovane::SendQueuedCommands()
{
    while (!queuedCommands.isEmpty()) {
        QueuedCommand &command = queuedCommands.first();
        if (TrySend(command) == NP_MUTEX_LOCKED_ && ++command.attempts < kCommandAttempts) {
            commandRetryTimer->start();
            return;
        }
        if (command.attempts >= kCommandAttempts)
            qDebug() << "Gyrovane::SendQueuedCommands - the link did not take a command, dropped";
        queuedCommands.removeFirst();
    }
}

void Gyrovane::On_RX_Data(const Np_HeartBeat &np_Heartbeat)
{
    Q_UNUSED(np_Heartbeat);
    qDebug() << "Gyrovane::On_RX_Data Np_HeartBeat";
}

void Gyrovane::On_RX_Data(const Np_Ack &np_Ack)
{
    Q_UNUSED(np_Ack);
    qDebug() << "Gyrovane::On_RX_Data Np_Ack";
}

void Gyrovane::On_RX_Data(const Np_Settings &np_Settings)
{
    Q_UNUSED(np_Settings);
    qDebug() << "Gyrovane::On_RX_Data Np_Settings";
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
    unitRoster->On_Log_Node(uuid, np_Id.nodeId, name, version);
}

void Gyrovane::closeEvent(QCloseEvent *event)
{
    emit Sig_FrameCourierQuit();
    event->accept();
}
