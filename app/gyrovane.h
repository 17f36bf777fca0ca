#ifndef GYROVANE_H
#define GYROVANE_H

#include "nimbotypes.h"

#include <QtCore/QByteArray>
#include <QtCore/QList>
#include <QtCore/QString>
#include <QtWidgets/QMainWindow>

class FrameCourier;
class QCloseEvent;
class QTimer;
class UnitRoster;

namespace Ui {
class Gyrovane;
}

// The main window: the MDI area for the node windows, the dock with the link panel and the node list,
// the font and arrangement buttons, the watchdog on the serial worker, and the switchboard between
// the node list and the link.
class Gyrovane : public QMainWindow
{
    Q_OBJECT

public:
    explicit Gyrovane(QWidget *parent = nullptr);
    ~Gyrovane() override;

signals:
    void Sig_UnitRoster_Log_Node(QByteArray uuid, uint nodeId, QByteArray nodeName, QString fWVer);
    void Sig_FrameCourierQuit();
    void Sig_CloseSerialPort_CurrentPort();

public slots:
    void On_Timer0_interrupt();
    void On_Timer_WatchDog();
    void On_Feed_WatchDog();

private slots:
    void on_pushButton_About_clicked();
    void on_pushButton_Mdi_Arrange_BoxMode_clicked();
    void on_pushButton_Mdi_Arrange_TitileMode_clicked();
    void on_pushButton_FrontEnlarge_clicked();
    void on_pushButton_FrontShrink_clicked();
    void on_pushButton_ResetView_clicked();

    void On_UnitRoster_New_NodeID(QByteArray uuid, uint newNodeId, QByteArray newNodeName);
    void On_UnitRoster_ScanNode();
    void On_UnitRoster_NodeCtrl(QByteArray uuid, int ctrlVal);

    void On_RX_Data(const Np_HeartBeat &np_Heartbeat);
    void On_RX_Data(const Np_Ack &np_Ack);
    void On_RX_Data(const Np_Settings &np_Settings);
    void On_RX_Data(const Np_Id &np_Id);

    void SendQueuedCommands();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void SetWindowFontSize(int size);

    UnitRoster *unitRoster = nullptr;
    FrameCourier *frameCourier = nullptr;
    QTimer *Timer0 = nullptr;
    int tickCounter = 0;
    int timer0Interval = 1000;
    QTimer *watchDogTimer = nullptr;
    int watchDogCounter = 0;
    int fontSize = 8;
    bool tabbedMode = true;
    Ui::Gyrovane *ui;
    QByteArray lastReportedUuid;
    // What the node list asked for and the link has not taken yet. The link holds one record of a
    // kind until its frame has left, while a scan asks for one silence per answering node at once;
    // the commands leave in the order asked for, so an identity request follows the silences before it.
    struct QueuedCommand
    {
        enum Kind { NodeCtrl, IdWrite, IdRequest } kind;
        QByteArray uuid;
        quint8 ctrl;
        quint16 nodeId;
        QByteArray name;
        int attempts = 0;
    };
    int TrySend(const QueuedCommand &command);
    void Enqueue(const QueuedCommand &command);
    QList<QueuedCommand> queuedCommands;
    QTimer *commandRetryTimer = nullptr;
};

#endif // GYROVANE_H
