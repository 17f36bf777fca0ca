#ifndef NIMBOLINK_H
#define NIMBOLINK_H

#include "framecourier_global.h"
#include "nimbotypes.h"
#include "qextportinfo.h"

#include <QtCore/QByteArray>
#include <QtCore/QElapsedTimer>
#include <QtCore/QObject>
#include <QtCore/QString>

#include <algorithm>
#include <deque>
#include <iterator>

class NimboConversation;
class NimboObjectDictionary;
class NimboProfile;
class PortGate;
class QThread;
class QTimer;

// The whole link to the nodes behind one serial port, with no widget in it.
//
// Owns: the serial gateway in its worker thread (all traffic to it by queued signals), the object
// dictionary, the profile codec, the conversation, the 5 ms send tick and the 10 ms conversation
// tick, and the command queue of the program.
//
// Sends: the record operations of the link (Set_...: build a record and hand it to the codec at once,
// answering with a protocol return code), and commands (Scan, WriteSettings, ...), which wait in the
// queue until the codec can take them. Every command carries the deadline of whoever waits for its
// answer and is never sent after it; a settings write always ends in Sig_SettingsWriteOutcome, with
// the reason when it was not acknowledged. Commands leave in the order asked for, except that a
// settings write waiting for the conversation (one acknowledged exchange at a time) holds back only
// later writes and later settings requests to the same node.
//
// Reports: each received record as Sig_RX_Data, the conversation's results, the gateway's port events
// and return messages, and the framing statistics after every received chunk.
//
// Everything but the gateway lives in the thread that created the link. Two links are independent.
class FRAMECOURIER_EXPORT NimboLink : public QObject
{
    Q_OBJECT

public:
    // How long the usual waiters wait: a node window's settings request loop, the node list's scan.
    static constexpr int kSettingsRequestWaitMs = 1000;
    static constexpr int kSettingsWriteWaitMs = 5000;
    static constexpr int kScanWaitMs = 3500;
    // Commands beyond this many are refused.
    static constexpr int kQueueCapacity = 256;

    explicit NimboLink(QObject *parent = nullptr);
    ~NimboLink() override;

    // The port. Results arrive as Sig_ReturnMsg (0 opened, 1 not opened, 3 closed, ...).
    void SetBaudrate(const QString &baudrate);
    void OpenPort(const QString &portName);
    void ClosePort(const QString &portName); // only when it is the open one
    void CloseCurrentPort();
    // The gateway closes its port and stops scanning; the worker keeps running until Stop().
    void Quit();
    // Quits the gateway and ends the worker thread; the link sends nothing afterwards.
    void Stop();
    bool IsOpen() const { return portOpen; }
    QString OpenPortName() const { return openPortName; }

    // Record operations: built in the dictionary and queued in the codec now, or refused with the
    // dictionary's or the codec's return code.
    int Set_SendPkg_Once(quint16 toId, quint8 cmd);
    int Set_RequestPkg(quint16 toId, quint8 cmd);
    int Set_SendSetting_InReliableWay(quint16 toId, Np_Settings settings);
    int Set_SendCalibCmd(quint16 toId, quint8 calibType, quint8 calibCmd, quint16 calibCode,
                         quint32 calibValue1, quint32 calibValue2);
    int Set_Send_NSOCmd(quint16 toId, Np_NSO nso);
    int Set_SendIdCmd(quint16 toId, quint8 idCmd, quint16 nodeId, const quint8 *uuid, int uuidLength,
                      const char *name, int nameLength);
    int Set_SendNodeCtrl(quint16 toId, const quint8 *uuid, int uuidLength, quint8 ctrl);
    // Sends the next queued record now (the send tick does this every 5 ms).
    void On_SendPkg_Auto();

    // Commands. waitMs: how long the one who waits for the answer waits, from now.
    void Scan(int waitMs = kScanWaitMs);
    void SendNodeControl(const QByteArray &uuid, quint8 ctrl, int waitMs = kScanWaitMs);
    // name: the 12 bytes to store, sent as they are.
    void WriteIdentity(const QByteArray &uuid, quint16 newId, const QByteArray &name, int waitMs = kScanWaitMs);
    void RequestSettings(quint16 nodeId, int waitMs = kSettingsRequestWaitMs);
    void WriteSettings(quint16 nodeId, const Np_Settings &settings, int waitMs = kSettingsWriteWaitMs);
    void SendServiceObject(quint16 nodeId, const Np_NSO &nso, int waitMs);
    void SendCalibration(quint16 nodeId, const Np_Calib &calib, int waitMs);
    int QueuedCommands() const { return int(queue.size()); }

    // The longest time a command of each kind waited between being asked for and its frame leaving,
    // since the link was made (for the benchmarks).
    enum CommandKind {
        NodeControlCommand,
        IdentityWriteCommand,
        ScanCommand,
        SettingsRequestCommand,
        SettingsWriteCommand,
        ServiceObjectCommand,
        CalibrationCommand,
        CommandKinds
    };
    qint64 LongestQueueingMs(CommandKind kind) const { return longestQueueingMs[kind]; }
    void ResetLongestQueueing() { std::fill(std::begin(longestQueueingMs), std::end(longestQueueingMs), 0); }

    struct Statistics
    {
        quint64 received = 0; // frames
        quint32 good = 0;
        quint32 bad = 0;
        quint32 omitted = 0;
        quint64 sent = 0;
        double badRate = 0;     // of frames, 0..1
        double omitRate = 0;    // of frames
        double badHeadRate = 0; // of bytes
    };
    Statistics Monitor() const;

    // For the link panel and the tests.
    NimboProfile *Codec() const { return profile; }
    NimboObjectDictionary *Dictionary() const { return nOD; }
    NimboConversation *Conversation() const { return conversation; }
    PortGate *Gateway() const { return portGate; }
    QThread *WorkerThread() const { return workerThread; }

signals:
    void Sig_RX_Data(const Np_HeartBeat &np_Heartbeat);
    void Sig_RX_Data(const Np_Request &np_Request);
    void Sig_RX_Data(const Np_Ack &np_Ack);
    void Sig_RX_Data(const Np_Settings &np_Settings);
    void Sig_RX_Data(const Np_Status &np_Status);
    void Sig_RX_Data(const Np_Calib &np_Calib);
    void Sig_RX_Data(const Np_Id &np_Id);
    void Sig_RX_Data(const Np_Id_Ext &np_Id_Ext);
    void Sig_RX_Data(const Np_NodeCtrl &np_NodeCtrl);
    void Sig_RX_Data(const Np_NSO &np_NSO);
    void Sig_RX_Data(const Np_Raw_GyroAccMag &np_Raw_GyroAccMag);
    void Sig_RX_Data(const Np_Raw_GyroAccMag_Ext &np_Raw_GyroAccMag_Ext);
    void Sig_RX_Data(const Np_Q_s1_s &np_Q_s1_s);
    void Sig_RX_Data(const Np_Q_s1_e &np_Q_s1_e);
    void Sig_RX_Data(const Np_Euler_s1_s &np_Euler_s1_s);
    void Sig_RX_Data(const Np_Euler_s1_e &np_Euler_s1_e);
    void Sig_RX_Data(const Np_RPY &np_RPY);
    void Sig_RX_Data(const Np_Gravity &np_Gravity);
    void Sig_RX_Data(const Np_Combo &np_Combo);
    void Sig_RX_Data(const Np_Customized &np_Customized);

    void Sig_NbConversation_Result(quint16 fromId, quint8 cmd, quint8 cmdRequest, int retVal);
    // The end of a WriteSettings: acknowledged, or why not (a whole sentence for the user).
    void Sig_SettingsWriteOutcome(quint16 nodeId, bool acknowledged, const QString &failure);
    // A received chunk went through the codec; Monitor() has the new figures.
    void Sig_Received();
    // The port opened or closed.
    void Sig_LinkState(bool open);

    // From the gateway.
    void Sig_ReturnMsg(int retVal, QString msg);
    void Sig_OpenFailed(QString portName, QString reason);
    void Sig_ScanPortEvent();
    void Sig_ScanPortsResult(SerialPortNameList result);
    void Sig_SerialDevice_PluggedIn(QString portName);
    void Sig_SerialDevice_Unplugged(QString portName);

    // To the gateway, across the thread boundary.
    void Sig_PortGate_Init();
    void Sig_PortGate_Quit();
    void Sig_PortGate_SetSerialPort(QString baudrate);
    void Sig_PortGate_OpenSerialPort(QString portName);
    void Sig_PortGate_CloseSerialPort_CurrentPort();
    void Sig_PortGate_CloseSerialPort(QString portName);
    void Sig_PortGate_SendData(QByteArray data);

private slots:
    void On_NbProfileTimer_Interrupt();
    void On_NbConversationTimer_Interrupt();
    void On_PortGate_RecvData(QByteArray data);
    void On_PortGate_ReturnMsg(int retVal, QString msg);

private:
    struct Command
    {
        explicit Command(CommandKind kind_i)
            : kind(kind_i)
        {}

        CommandKind kind;
        quint16 nodeId = 0;
        QByteArray uuid;
        quint8 ctrl = 0;
        QByteArray name;
        Np_Settings settings{};
        Np_NSO nso{};
        Np_Calib calib{};
        qint64 askedAt = 0; // ms on the link's clock
        qint64 deadline = 0;

        bool SameRequest(const Command &o) const;
    };
    enum class Attempt { Sent, Wait, Refused };

    void Enqueue(Command command, int waitMs);
    void Pump();
    Attempt TrySend(Command &command);
    void Drop(const Command &command, const QString &settingsFailure);
    void SettingsWriteEnded(bool acknowledged, const QString &failure);
    void PortClosed();
    void NoteHandedOver(const Command &command);
    unsigned ConversationClock() const;
    qint64 Now() const { return clock.elapsed(); }

    PortGate *portGate = nullptr;
    QThread *workerThread = nullptr;
    NimboObjectDictionary *nOD = nullptr;
    NimboProfile *profile = nullptr;
    QTimer *profileTimer = nullptr;
    NimboConversation *conversation = nullptr;
    QTimer *conversationTimer = nullptr;
    QElapsedTimer clock; // monotonic: a loaded machine must not stretch the time-outs

    bool portOpen = false;
    QString openPortName;

    std::deque<Command> queue;
    bool pumping = false;
    // The settings write that holds the conversation, until its outcome.
    bool writeInFlight = false;
    quint16 writeInFlightNode = 0;
    // Handed to the codec, frame not left yet: per record type the command and when it was asked for.
    qint64 handedAskedAt[128] = {};
    CommandKind handedKind[128] = {};
    qint64 longestQueueingMs[CommandKinds] = {};
};

#endif // NIMBOLINK_H
