#include "framecourier.h"
#include "framecourierlog.h"
#include "ui_framecourier.h"

#include <QtCore/QDebug>
#include <QtGui/QCloseEvent>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMessageBox>

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

    link = new NimboLink(this);
    profile = link->Codec();

    // The panel's gateway signals are the Part's surface; they reach the gateway through the link.
    connect(this, &FrameCourier::Sig_PortGate_Quit, link, &NimboLink::Quit);
    connect(this, &FrameCourier::Sig_PortGate_SetSerialPort, link, &NimboLink::SetBaudrate);
    connect(this, &FrameCourier::Sig_PortGate_OpenSerialPort, link, &NimboLink::OpenPort);
    connect(this, &FrameCourier::Sig_PortGate_CloseSerialPort_CurrentPort, link, &NimboLink::CloseCurrentPort);
    connect(this, &FrameCourier::Sig_PortGate_CloseSerialPort, link, &NimboLink::ClosePort);
    connect(this, &FrameCourier::Sig_PortGate_SendData, link, &NimboLink::Sig_PortGate_SendData);

    connect(link, &NimboLink::Sig_SerialDevice_PluggedIn, this, &FrameCourier::On_PortGate_SerialDevice_PluggedIn);
    connect(link, &NimboLink::Sig_SerialDevice_Unplugged, this,
            &FrameCourier::On_PortGate_SerialDevice_Unplugged);
    connect(link, &NimboLink::Sig_ScanPortEvent, this, &FrameCourier::On_PortGate_ScanPortEvent);
    connect(link, &NimboLink::Sig_ScanPortsResult, this, &FrameCourier::On_PortGate_ScanPortsResult);
    connect(link, &NimboLink::Sig_ReturnMsg, this, &FrameCourier::On_PortGate_ReturnMsg);
    connect(link, &NimboLink::Sig_OpenFailed, this, &FrameCourier::On_PortGate_OpenFailed);
    connect(link, &NimboLink::Sig_Received, this, &FrameCourier::UpdateMonitor);
    connect(link, &NimboLink::Sig_NbConversation_Result, this, &FrameCourier::Sig_NbConversation_Result);
}

FrameCourier::~FrameCourier()
{
    link->Stop();
    delete ui;
}

int FrameCourier::Set_SendPkg_Once(quint16 toId, quint8 cmd) { return link->Set_SendPkg_Once(toId, cmd); }

int FrameCourier::Set_RequestPkg(quint16 toId, quint8 cmd) { return link->Set_RequestPkg(toId, cmd); }

void FrameCourier::Set_SendSetting_InReliableWay(quint16 toId, Np_Settings settings)
{
    link->Set_SendSetting_InReliableWay(toId, settings);
}

int FrameCourier::Set_SendCalibCmd(quint16 toId, quint8 calibType, quint8 calibCmd, quint16 calibCode,
                                   quint32 calibValue1, quint32 calibValue2)
{
    return link->Set_SendCalibCmd(toId, calibType, calibCmd, calibCode, calibValue1, calibValue2);
}

int FrameCourier::Set_Send_NSOCmd(quint16 toId, Np_NSO nso) { return link->Set_Send_NSOCmd(toId, nso); }

int FrameCourier::Set_SendIdCmd(quint16 toId, quint8 idCmd, quint16 nodeId, quint8 *uuid, int uuidLength,
                                char *name, int nameLength)
{
    return link->Set_SendIdCmd(toId, idCmd, nodeId, uuid, uuidLength, name, nameLength);
}

int FrameCourier::Set_SendNodeCtrl(quint16 toId, quint8 *uuid, int uuidLength, quint8 ctrl)
{
    return link->Set_SendNodeCtrl(toId, uuid, uuidLength, ctrl);
}

void FrameCourier::On_SendPkg_Auto() { link->On_SendPkg_Auto(); }

void FrameCourier::On_PortGate_RecvData(QByteArray chunk)
{
    // The link receives from the gateway itself; bytes handed here go the same way.
    QMetaObject::invokeMethod(link, "On_PortGate_RecvData", Q_ARG(QByteArray, chunk));
}

void FrameCourier::UpdateMonitor()
{
    const NimboLink::Statistics s = link->Monitor();
    ui->progressBar_BadPkg->setValue(int(s.badRate * 100));
    ui->progressBar_OmitPkg->setValue(int(s.omitRate * 100));
    ui->progressBar_BadHead->setValue(int(s.badHeadRate * 100));
    ui->label_RxPkgTotal->setText(tr("%1").arg(s.received));
    ui->label_TxPkgTotal->setText(tr("%1").arg(s.sent));
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
