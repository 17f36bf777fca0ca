#ifndef GYROVANE_H
#define GYROVANE_H

#include "nimbolink.h"
#include "nimbotypes.h"

#include <QtCore/QByteArray>
#include <QtCore/QProcess>
#include <QtCore/QHash>
#include <QtCore/QVector>
#include <QtCore/QList>
#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtWidgets/QMainWindow>

#include <array>

class FrameCourier;
class QCloseEvent;
class SensorPanel;
class QTimer;
class UnitRoster;

class MargBench;
class QTextBrowser;

namespace Ui {
class Gyrovane;
}

// The main window: the MDI area for the node windows, the dock with the link panel and the node list,
// the font and arrangement buttons, the watchdog on the serial worker, and the switchboard between
// the link, the node list and the node windows: every received record becomes one or more
// Sig_NewData_ signals that carry the sender's id first and reach every open node window.
class Gyrovane : public QMainWindow
{
    Q_OBJECT

public:
    explicit Gyrovane(QWidget *parent = nullptr);
    ~Gyrovane() override;

    // The open node windows by UUID.
    const QMap<QByteArray, SensorPanel *> &NodeWindows() const { return nodeWindows; }
    // The software attitude estimator that stands in for the nodes' own fusion when switched on.
    const MargBench *Bench() const { return bench; }
    // Replays a recording (any file of its set) as a node of its own; asks first when another port
    // is open. False when the user declined.
    bool OpenRecording(const QString &file);
    MargBench *Bench() { return bench; }
    // The user manual in a window of its own (F1 anywhere in the program); the window shown.
    QWidget *ShowManual();
    // The link to the nodes, which the link panel shows.
    NimboLink *Link() const { return link; }

signals:
    void Sig_UnitRoster_Log_Node(QByteArray uuid, uint nodeId, QByteArray nodeName, QString fWVer);
    // Time stamps: "Record" signals and Uptime carry seconds, the raw-sensor signals microseconds.
    void Sig_NewData_Record_Q_S1_E(quint16 fromId, double timeStamp, float q1, float q2, float q3, float q4);
    void Sig_NewData_Record_RPY(quint16 fromId, double timeStamp, float roll, float pitch, float yaw);
    void Sig_NewData_Record_Euler_S1_E(quint16 fromId, double timeStamp, float psi, float theta, float phi);
    void Sig_NewData_Record_Gravity(quint16 fromId, double timeStamp, float gx, float gy, float gz);
    void Sig_NewData_RecordRaw(quint16 fromId, double timeStamp, float temperature, float wx, float wy,
                               float wz, float ax, float ay, float az, float mx, float my, float mz);
    void Sig_NewData_Settings(quint16 fromId, Np_Settings np_Settings);
    void Sig_NewData_Uptime(quint16 fromId, double timeStamp);
    void Sig_NewData_QoS(quint16 fromId, int qoS);
    void Sig_NewData_NSO(quint16 fromId, Np_NSO np_NSO);
    void Sig_NewData_ProcessRate(quint16 fromId, float rate);
    void Sig_NewData_Temperature(quint16 fromId, float degreeC);
    void Sig_NewData_GyroRaw(quint16 fromId, float wx, float wy, float wz, double timeStamp);
    void Sig_NewData_AccRaw(quint16 fromId, float ax, float ay, float az, double timeStamp);
    void Sig_NewData_MagRaw(quint16 fromId, float mx, float my, float mz, double timeStamp);
    void Sig_NewData_Q_S1_S(quint16 fromId, float q1, float q2, float q3, float q4);
    void Sig_NewData_Euler_S1_S(quint16 fromId, float psi, float theta, float phi);
    void Sig_NewData_Q_S1_E(quint16 fromId, float q1, float q2, float q3, float q4);
    void Sig_NewData_Euler_S1_E(quint16 fromId, float psi, float theta, float phi);
    void Sig_NewData_RPY(quint16 fromId, float roll, float pitch, float yaw);
    void Sig_NewData_Gravity(quint16 fromId, float gx, float gy, float gz);
    void Sig_NewData_Calib(quint16 fromId, Np_Calib np_Calib);
    void Sig_Update_ProcessRate_QoS(quint16 fromId, float rate, int QoS);
    void Sig_FrameCourierQuit();
    void Sig_CloseSerialPort_CurrentPort();

public slots:
    void On_Timer0_interrupt();
    void On_Timer_WatchDog();
    void On_Feed_WatchDog();

    void On_NewImuSettings(quint16 toId, Np_Settings np_Settings);
    void On_RequestImuSetting(quint16 nodeId);
    void On_SendNSO(quint16 toId, Np_NSO np_NSO);
    void On_NewCalibCmd(quint16 toId, uchar calibType, uchar ctrlVal, quint16 param1, quint32 param2,
                        quint32 param3);
    void On_CreateNode(QByteArray uuid, uint nodeId, QString nodeName, int nodeFwVer, int nodeFwRevisionVer);
    void On_RemoveNode(QByteArray uuid);
    void On_CloseNode(QByteArray uuid);
    void On_ChangeNodeId(QByteArray uuid, uint newId);
    void On_ChangeNodeName(QByteArray uuid, QString newName);
    void On_SetNodes_FontSize(int fontSize);

private slots:
    void on_pushButton_About_clicked();
    void on_pushButton_MargBench_clicked();
    void on_pushButton_Help_clicked();
    void on_pushButton_OpenRecording_clicked();
    void On_ReplayOutput();
    void On_ReplayFinished(int exitCode, QProcess::ExitStatus status);
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
    void On_RX_Data(const Np_Status &np_Status);
    void On_RX_Data(const Np_Calib &np_Calib);
    void On_RX_Data(const Np_Id &np_Id);
    void On_RX_Data(const Np_NSO &np_NSO);
    void On_RX_Data(const Np_Raw_GyroAccMag &np_Raw_GyroAccMag);
    void On_RX_Data(const Np_Q_s1_s &np_Q_s1_s);
    void On_RX_Data(const Np_Q_s1_e &np_Q_s1_e);
    void On_RX_Data(const Np_Euler_s1_s &np_Euler_s1_s);
    void On_RX_Data(const Np_Euler_s1_e &np_Euler_s1_e);
    void On_RX_Data(const Np_RPY &np_RPY);
    void On_RX_Data(const Np_Gravity &np_Gravity);
    void On_RX_Data(const Np_Combo &np_Combo);

    // A settings write's outcome goes to the node's window.
    void On_SettingsWriteOutcome(quint16 nodeId, bool acknowledged, const QString &failure);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void SetWindowFontSize(int size);

    void DetachNodeWindow(SensorPanel *window);
    // Whether the bench's attitude replaces the node's own quaternion and roll/pitch/yaw.
    bool BenchStandsInFor(quint16 node) const;
    void StopReplay();
    void KeepTabBarOutOfTabChain();
    void ReplayLinkOpened();
    void ReplayNodeAnswered(const QByteArray &uuid);

    UnitRoster *unitRoster = nullptr;
    QMap<QByteArray, SensorPanel *> nodeWindows;
    FrameCourier *frameCourier = nullptr;
    // The temperature of each node's latest status, passed on with that node's raw records; a node
    // id has 11 bits.
    std::array<float, NP_ID_MAX_ + 1> lastTemperature{};
    // The replay: the simulator process playing the recording, its port and node.
    QProcess *replayProcess = nullptr;
    QString replayPort;
    QByteArray replayUuid;
    QString replayTitle;
    QString replayFolder;
    QTimer *replayScanTimer = nullptr;
    int replayScanTries = 0;
    double replayPlayed = 0;
    double replayTotal = 0;
    // The firmware of each node as its identity gave it ("31.8.2.70"), by UUID.
    QHash<QByteArray, QString> firmwareTexts;
    MargBench *bench = nullptr;       // no parent: a window of its own, deleted with this one
    QTextBrowser *manual = nullptr;   // a window of its own, made when first asked for
    // The time stamp of each node's latest raw record, for the bench's time step.
    std::array<quint32, NP_ID_MAX_ + 1> lastRawTimeStamp{};
    QTimer *Timer0 = nullptr;
    int tickCounter = 0;
    int timer0Interval = 1000;
    QTimer *watchDogTimer = nullptr;
    int watchDogCounter = 0;
    int fontSize = 8;
    bool tabbedMode = true;
    Ui::Gyrovane *ui;
    QByteArray lastReportedUuid;
    NimboLink *link = nullptr;
    // The connections the shell made for each open node window, undone when it closes.
    QHash<SensorPanel *, QVector<QMetaObject::Connection>> windowConnections;

    template <typename T, bool routed>
    void Route()
    {
        if constexpr (routed)
            connect(link, QOverload<const T &>::of(&NimboLink::Sig_RX_Data), this,
                    QOverload<const T &>::of(&Gyrovane::On_RX_Data));
    }
};

#endif // GYROVANE_H
