#ifndef FRAMECOURIER_H
#define FRAMECOURIER_H

#include "framecourier_global.h"
#include "nimbolink.h"
#include "nimboprofile.h"
#include "qextportinfo.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtWidgets/QMainWindow>

namespace Ui {
class FrameCourier;
}

// The connection panel: port and baud selection, the connect button, the connection status and the
// protocol monitor, over the one link (NimboLink) it holds. Its send operations and signals are the
// link's, passed through.
class FRAMECOURIER_EXPORT FrameCourier : public QMainWindow
{
    Q_OBJECT

public:
    explicit FrameCourier(QWidget *parent = nullptr);
    ~FrameCourier() override;

    int Set_SendPkg_Once(quint16 toId, quint8 cmd);
    int Set_RequestPkg(quint16 toId, quint8 cmd);
    void Set_SendSetting_InReliableWay(quint16 toId, Np_Settings settings);
    int Set_SendCalibCmd(quint16 toId, quint8 calibType, quint8 calibCmd, quint16 calibCode,
                         quint32 calibValue1, quint32 calibValue2);
    int Set_Send_NSOCmd(quint16 toId, Np_NSO nso);
    int Set_SendIdCmd(quint16 toId, quint8 idCmd, quint16 nodeId, quint8 *uuid, int uuidLength, char *name,
                      int nameLength);
    int Set_SendNodeCtrl(quint16 toId, quint8 *uuid, int uuidLength, quint8 ctrl);
    void On_SendPkg_Auto();

    // The link's codec; the rest of the program reaches the link through Link().
    NimboProfile *profile = nullptr;

    NimboLink *Link() const { return link; }
    NimboObjectDictionary *Dictionary() const { return link->Dictionary(); }
    NimboConversation *Conversation() const { return link->Conversation(); }
    PortGate *Gateway() const { return link->Gateway(); }
    QThread *WorkerThread() const { return link->WorkerThread(); }

signals:
    void Sig_NbConversation_Result(quint16 fromId, quint8 cmd, quint8 cmdRequest, int retVal);
    void Sig_PortGate_Init();
    void Sig_PortGate_Quit();
    void Sig_PortGate_ScanPortEvent();
    void Sig_PortGate_SetSerialPort(QString baudrate);
    void Sig_PortGate_OpenSerialPort(QString portName);
    void Sig_PortGate_CloseSerialPort_CurrentPort();
    void Sig_PortGate_CloseSerialPort(QString portName);
    void Sig_PortGate_SendData(QByteArray data);

public slots:
    void On_Quit();
    void On_CloseCurrentPortSerialPort();

private slots:
    void on_pushButton_clicked();
    void on_pushButton_2_clicked();
    void on_pushButton_Connect_Disconnect_clicked();
    void On_PortGate_ScanPortEvent();
    void On_PortGate_SerialDevice_PluggedIn(QString portName);
    void On_PortGate_SerialDevice_Unplugged(QString portName);
    void On_PortGate_RecvData(QByteArray data);
    void On_PortGate_ReturnMsg(int retVal, QString msg);
    void On_PortGate_OpenFailed(QString portName, QString reason);
    void On_PortGate_ScanPortsResult(SerialPortNameList result);
    void on_pushButton_Advanced_clicked();
    void on_commandLinkButton_clicked();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void UpdateMonitor();

    Ui::FrameCourier *ui;
    NimboLink *link = nullptr;
};

#endif // FRAMECOURIER_H
