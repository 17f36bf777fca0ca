#ifndef FRAMECOURIER_H
#define FRAMECOURIER_H

#include "framecourier_global.h"
#include "nimboconversation.h"
#include "nimboobjectdictionary.h"
#include "nimboprofile.h"
#include "qextportinfo.h"

#include <QtCore/QByteArray>
#include <QtCore/QElapsedTimer>
#include <QtCore/QString>
#include <QtWidgets/QMainWindow>

class PortGate;
class QThread;
class QTimer;

namespace Ui {
class FrameCourier;
}

// The connection panel and owner of the whole link: the serial gateway in its worker thread, the
// object dictionary, the profile codec and the conversation with their timers, and the send
// operations the rest of the program calls.
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

    // Public so that the main window can connect to its Sig_RX_Data signals.
    NimboProfile *profile = nullptr;

    NimboObjectDictionary *Dictionary() const { return nOD; }
    NimboConversation *Conversation() const { return conversation; }
    PortGate *Gateway() const { return portGate; }
    QThread *WorkerThread() const { return workerThread; }

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
    void On_NbProfileTimer_Interrupt();
    void On_NbConversationTimer_Interrupt();
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
    void StopWorker();
    void UpdateMonitor();

    Ui::FrameCourier *ui;
    PortGate *portGate = nullptr;
    QThread *workerThread = nullptr;
    NimboObjectDictionary *nOD = nullptr;
    QTimer *profileTimer = nullptr;
    NimboConversation *conversation = nullptr;
    QTimer *conversationTimer = nullptr;
    QElapsedTimer conversationClock; // monotonic
    unsigned ConversationClock() const;
};

#endif // FRAMECOURIER_H
