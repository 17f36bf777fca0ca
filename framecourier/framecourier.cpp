#include "framecourier.h"
#include "framecourierlog.h"
#include "ui_framecourier.h"

#include "portgate.h"

#include <QtCore/QDebug>
#include <QtWidgets/QLabel>
#include <QtCore/QThread>
#include <QtCore/QTimer>
#include <QtGui/QCloseEvent>
#include <QtWidgets/QMessageBox>

Q_LOGGING_CATEGORY(lcLink, "gyrovane.link", QtInfoMsg)

namespace {

const char *const kConnectText = "Connect ▝ ▞ ▟";
const char *const kDisconnectText = "Disconnect ▇";

} // namespace

FrameCourier::FrameCourier(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::FrameCourier)
{
    ui->setupUi(this);
    ui->pushButton->hide();
    ui->pushButton_2->hide();
    ui->label_SerialConnectionStatus->hide();
    ui->groupBox_Advanced_PortGate->hide();
    ui->groupBox_Advanced_NbProtocolMonitor->hide();
    qRegisterMetaType<SerialPortNameList>("SerialPortNameList");
    ui->comboBox_Serial_Baudrate->setCurrentText(QStringLiteral("115200"));

    portGate = new PortGate;
    workerThread = new QThread;
    portGate->moveToThread(workerThread);
    connect(workerThread, &QThread::finished, portGate, &QObject::deleteLater);
    connect(workerThread, &QThread::finished, workerThread, &QObject::deleteLater);

    connect(this, &FrameCourier::Sig_PortGate_Init, portGate, &PortGate::On_Init);
    connect(this, &FrameCourier::Sig_PortGate_Quit, portGate, &PortGate::On_Quit);
    connect(this, &FrameCourier::Sig_PortGate_SetSerialPort, portGate, &PortGate::On_SetSerialPort);
    connect(this, &FrameCourier::Sig_PortGate_OpenSerialPort, portGate, &PortGate::On_OpenSerialPort);
    connect(this, &FrameCourier::Sig_PortGate_CloseSerialPort_CurrentPort, portGate,
            &PortGate::On_CloseSerialPort_CurrentPort);
    connect(this, &FrameCourier::Sig_PortGate_CloseSerialPort, portGate, &PortGate::On_CloseSerialPort);
    connect(this, &FrameCourier::Sig_PortGate_SendData, portGate, &PortGate::On_SendData);

    connect(portGate, &PortGate::Sig_SerialDevice_PluggedIn, this,
            &FrameCourier::On_PortGate_SerialDevice_PluggedIn);
    connect(portGate, &PortGate::Sig_SerialDevice_Unplugged, this,
            &FrameCourier::On_PortGate_SerialDevice_Unplugged);
    connect(portGate, &PortGate::Sig_ScanPortEvent, this, &FrameCourier::On_PortGate_ScanPortEvent);
    connect(portGate, &PortGate::Sig_ScanPortsResult, this, &FrameCourier::On_PortGate_ScanPortsResult);
    connect(portGate, &PortGate::Sig_RecvData, this, &FrameCourier::On_PortGate_RecvData);
    connect(portGate, &PortGate::Sig_ReturnMsg, this, &FrameCourier::On_PortGate_ReturnMsg);
    connect(portGate, &PortGate::Sig_OpenFailed, this, &FrameCourier::On_PortGate_OpenFailed);

    workerThread->start();
    emit Sig_PortGate_Init();

    nOD = new NimboObjectDictionary;
    profile = new NimboProfile(nOD);
    profileTimer = new QTimer(this);
    connect(profileTimer, &QTimer::timeout, this, &FrameCourier::On_NbProfileTimer_Interrupt);
    profileTimer->start(5);
    conversation = new NimboConversation(profile, nOD);
    conversationTimer = new QTimer(this);
    connect(conversationTimer, &QTimer::timeout, this, &FrameCourier::On_NbConversationTimer_Interrupt);
    conversationClock.start();
    conversationTimer->start(10);
}

FrameCourier::~FrameCourier()
{
    StopWorker();
    delete profile;
    delete conversation;
    delete nOD;
    delete ui;
}

void FrameCourier::StopWorker()
{
    if (!workerThread)
        return;
    // The gateway must close its port and delete its ports and timer in its own thread; a quit request
    // still queued when the thread's loop ends would be lost, so it is made to run first.
    if (workerThread->isRunning())
        QMetaObject::invokeMethod(portGate, &PortGate::On_Quit, Qt::BlockingQueuedConnection);
    workerThread->quit();
    workerThread->wait();
    // The finished signal deletes the gateway with the thread; the thread object itself goes with the
    // next pass of the event loop, or now when there is none.
    workerThread = nullptr;
    portGate = nullptr;
}

int FrameCourier::Set_SendPkg_Once(quint16 toId, quint8 cmd) { return profile->Queue_SendPkg(toId, cmd); }

int FrameCourier::Set_RequestPkg(quint16 toId, quint8 cmd)
{
    conversation->Set_Time(ConversationClock());
    return conversation->Assign(toId, NP_CMD_REQUEST_, cmd);
}

void FrameCourier::Set_SendSetting_InReliableWay(quint16 toId, Np_Settings settings)
{
    settings.settingsWord = NpSettingsBit::Set(settings.settingsWord, NpSettingsBit::reliableWrite, true);
    if (nOD->Write_Np_Settings(toId, settings) != NP_SUCC_)
        return;
    conversation->Set_Time(ConversationClock());
    if (conversation->Assign(toId, NP_CMD_SETTING, 0) == NP_SUCC_)
        qCDebug(lcLink) << "FrameCourier::Set_SendSetting_InReliableWay   SUCC";
    else
        qCDebug(lcLink) << "FrameCourier::Set_SendSetting_InReliableWay   FAIL";
}

int FrameCourier::Set_SendCalibCmd(quint16 toId, quint8 calibType, quint8 calibCmd, quint16 calibCode,
                                   quint32 calibValue1, quint32 calibValue2)
{
    const int built = nOD->Write_Np_Calib(toId, calibType, calibCmd, calibCode, calibValue1, calibValue2);
    return built == NP_SUCC_ ? Set_SendPkg_Once(toId, NP_CMD_CALIB_) : built;
}

int FrameCourier::Set_Send_NSOCmd(quint16 toId, Np_NSO nso)
{
    const int built = nOD->Write_Np_NSO(toId, nso);
    return built == NP_SUCC_ ? Set_SendPkg_Once(toId, NP_CMD_NSO_) : built;
}

int FrameCourier::Set_SendIdCmd(quint16 toId, quint8 idCmd, quint16 nodeId, quint8 *uuid, int uuidLength,
                                char *name, int nameLength)
{
    // The record names its node by UUID, so it always goes to everyone.
    Q_UNUSED(toId);
    const int built = nOD->Write_Np_Id(NP_ID_BROADCAST_, idCmd, nodeId, uuid, uuidLength, name, nameLength);
    return built == NP_SUCC_ ? Set_SendPkg_Once(NP_ID_BROADCAST_, NP_CMD_ID_) : built;
}

int FrameCourier::Set_SendNodeCtrl(quint16 toId, quint8 *uuid, int uuidLength, quint8 ctrl)
{
    Q_UNUSED(toId);
    const int built = nOD->Write_Np_NodeCtrl(NP_ID_BROADCAST_, uuid, uuidLength, ctrl);
    return built == NP_SUCC_ ? Set_SendPkg_Once(NP_ID_BROADCAST_, NP_CMD_NODECTRL_) : built;
}

void FrameCourier::On_SendPkg_Auto()
{
    quint16 toId = 0;
    char *frame = nullptr;
    int size = 0;
    if (profile->Next_SendPkg(&toId, &frame, &size) == NP_SUCC_)
        emit Sig_PortGate_SendData(QByteArray(frame, size));
}

void FrameCourier::On_NbProfileTimer_Interrupt() { On_SendPkg_Auto(); }

unsigned FrameCourier::ConversationClock() const
{
    // Real time, not counted ticks: a loaded machine runs the 10 ms timer late, and counting its
    // ticks would stretch the 300 ms time-out with it.
    return unsigned(conversationClock.elapsed());
}

void FrameCourier::On_NbConversationTimer_Interrupt()
{
    conversation->Set_Time(ConversationClock());
    quint16 peer = 0;
    quint8 cmd = 0, cmdRequest = 0;
    const int result = conversation->Tick(&peer, &cmd, &cmdRequest);
    if (result == NP_SUCC_ || result == NP_FAIL_)
        emit Sig_NbConversation_Result(peer, cmd, cmdRequest, result);
}

void FrameCourier::On_PortGate_RecvData(QByteArray chunk)
{
    profile->Drain(chunk.constData(), chunk.size(), [this](int result, const Np_Header &header) {
        conversation->Update_Recv(header.fromId(), header.cmd(), result);
    });
    UpdateMonitor();
}

void FrameCourier::UpdateMonitor()
{
    const NimboProtocol *p = profile->Protocol();
    ui->progressBar_BadPkg->setValue(int(p->GetStatistic_Recv_Pkg_BadRate() * 100));
    ui->progressBar_OmitPkg->setValue(int(p->GetStatistic_Recv_Pkg_OmitRate() * 100));
    ui->progressBar_BadHead->setValue(int(p->GetStatistic_Recv_Byte_BadHeadRate() * 100));
    ui->label_RxPkgTotal->setText(tr("%1").arg(p->GetStatistic_Recv_Pkg_Total()));
    ui->label_TxPkgTotal->setText(tr("%1").arg(p->GetStatistic_Send_Pkg_Total()));
}

void FrameCourier::On_PortGate_ScanPortsResult(SerialPortNameList result)
{
    ui->comboBox_Serial_PortName->clear();
    for (const QextPortInfo &port : result) {
        ui->comboBox_Serial_PortName->addItem(port.portName);
        ui->comboBox_Serial_PortName->setCurrentIndex(ui->comboBox_Serial_PortName->count() - 1);
    }
}

void FrameCourier::On_PortGate_SerialDevice_PluggedIn(QString portName)
{
    emit Sig_PortGate_SetSerialPort(ui->comboBox_Serial_Baudrate->currentText());
    emit Sig_PortGate_OpenSerialPort(portName);
}

void FrameCourier::On_PortGate_SerialDevice_Unplugged(QString portName)
{
    emit Sig_PortGate_CloseSerialPort(portName);
}

void FrameCourier::on_pushButton_Connect_Disconnect_clicked()
{
    if (ui->pushButton_Connect_Disconnect->text() == tr(kDisconnectText)) {
        emit Sig_PortGate_CloseSerialPort_CurrentPort();
    } else {
        emit Sig_PortGate_SetSerialPort(ui->comboBox_Serial_Baudrate->currentText());
        emit Sig_PortGate_OpenSerialPort(ui->comboBox_Serial_PortName->currentText());
    }
}

void FrameCourier::On_PortGate_ReturnMsg(int retVal, QString msg)
{
    qCDebug(lcLink) << "Serial RetMsg: " << msg;
    switch (retVal) {
    case 0: {
        ui->pushButton_Connect_Disconnect->setText(tr(kDisconnectText));
        const int index =
            ui->comboBox_Serial_PortName->findText(msg, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0)
            ui->comboBox_Serial_PortName->setCurrentIndex(index);
        else
            ui->comboBox_Serial_PortName->setEditText(msg); // a typed path that no scan lists
        ui->comboBox_Serial_PortName->setEnabled(false);
        ui->comboBox_Serial_Baudrate->setEnabled(false);
        ui->label_SerialConnectionStatus->setText(tr("\nConnected.\n"));
        ui->label_SerialConnectionStatus->hide();
        ui->label_SerialConnectionStatus->setMinimumHeight(0);
        break;
    }
    case 1:
    case 3:
        ui->pushButton_Connect_Disconnect->setText(tr(kConnectText));
        ui->comboBox_Serial_PortName->setEnabled(true);
        ui->comboBox_Serial_Baudrate->setEnabled(true);
        ui->label_SerialConnectionStatus->setText(tr("\nWatting for\nconnection...\n"));
        break;
    default: break;
    }
}

void FrameCourier::On_PortGate_OpenFailed(QString portName, QString reason)
{
    Q_UNUSED(portName);
    // The label is kept hidden while things go well; a failed open is worth showing, whole: a
    // window around the panel does not ask wrapped text for its height, so the label says it.
    QLabel *label = ui->label_SerialConnectionStatus;
    label->setText(reason);
    label->show();
    const int width = qMax(label->width(), label->minimumSizeHint().width());
    label->setMinimumHeight(label->heightForWidth(width) + 2 * label->frameWidth());
}

void FrameCourier::on_pushButton_Advanced_clicked()
{
    const bool show = ui->pushButton_Advanced->text() == tr("▼");
    ui->pushButton_Advanced->setText(show ? tr("▲") : tr("▼"));
    ui->groupBox_Advanced_PortGate->setVisible(show);
    ui->groupBox_Advanced_NbProtocolMonitor->setVisible(show);
}

void FrameCourier::on_commandLinkButton_clicked()
{
    QMessageBox::information(
        this, windowTitle(),
        tr("If you choose a data rate other than 115200 bps for the target module (e.g. Kinetra) with "
           "selectable "
           "baudrate options and unfortunately forget which setting it was.\n\nThe Solution:\n(1)  Connect "
           "the "
           "USB-to-Serial adapter to your PC. Do not connect the target module (e.g. Kinetra)\n(2)  Open the "
           "USB-to-Serial COM port at Gyrovane using 115200 default baudrate;\n(3)  Press the [ 🔍 Scan ] "
           "button at "
           "Gyrovane and start scanning;\n(4)  Within 4 seconds after performing step (3), connect the "
           "target module "
           "to the USB-to-Serial adapter and therefore power on the target module.\n\nOnce the target module "
           "detects "
           "the [ 🔍 Scan ] command within 4 seconds after powering on, it will temporary (only for the "
           "current "
           "session) keep on using 115200 bps with its main serial port (e.g. UART1). Therefore, the "
           "communication "
           "with Gyrovane will go normally."));
}

void FrameCourier::on_pushButton_clicked() {}

void FrameCourier::on_pushButton_2_clicked()
{
    qCDebug(lcLink) << "On_NbConver Requset";
    if (Set_RequestPkg(NP_ID_BROADCAST_, NP_CMD_SETTING) == NP_SUCC_)
        qCDebug(lcLink) << "On_NbConver NP_CMD_SETTING Request Assigned";
}

void FrameCourier::On_PortGate_ScanPortEvent() { emit Sig_PortGate_ScanPortEvent(); }

void FrameCourier::On_Quit() { emit Sig_PortGate_Quit(); }

void FrameCourier::On_CloseCurrentPortSerialPort() { emit Sig_PortGate_CloseSerialPort_CurrentPort(); }

void FrameCourier::closeEvent(QCloseEvent *event)
{
    emit Sig_PortGate_Quit();
    event->accept();
}
