#ifndef PORTGATE_H
#define PORTGATE_H

#include "portgate_global.h"
#include "qextportinfo.h"

#include <QtCore/QByteArray>
#include <QtCore/QElapsedTimer>
#include <QtCore/QMutex>
#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtSerialPort/QSerialPort>

#include <ctime>

class QTimer;

// Owns the serial port: scans the machine's ports every second and reports plug and unplug, opens one
// port at a time at a chosen baud rate, writes outgoing bytes and hands every received chunk upward.
// Lives in a worker thread; everything reaches it through queued signals.
class PORTGATE_EXPORT PortGate : public QObject
{
    Q_OBJECT

public:
    explicit PortGate(QObject *parent = nullptr);
    ~PortGate() override;

    void SetBaudRate(QString baudrate);
    void OpenSerialPort(QString portName);
    void CloseSerialPort();

    // The machine's serial ports as the last walk of /dev found them; each gateway keeps its own.
    struct MachinePortCache
    {
        SerialPortNameList Ports();

        SerialPortNameList cached;
        bool valid = false;
        struct timespec devChanged = {0, 0};
        QElapsedTimer sinceWalk;
    };
    // The ports a scan sees now: the machine's serial ports, then the live links of simulated ports.
    static SerialPortNameList EnumeratePorts();
    static SerialPortNameList EnumeratePorts(MachinePortCache &machine);
    // Where simulated ports publish their links.
    static QString SimulatedPortDirectory();

    // State, for the link panel's tests.
    bool UsesStandardRatePort() const { return useQext; }
    QSerialPort *StandardRatePort() const { return qextPort; }
    QSerialPort *HighRatePort() const { return qtPort; }
    QString CurrentPortName();
    QString BaudString();

signals:
    void Sig_SerialDevice_PluggedIn(QString portName);
    void Sig_SerialDevice_Unplugged(QString portName);
    void Sig_ScanPortEvent();
    void Sig_ScanPortsResult(SerialPortNameList result);
    void Sig_RecvData(QByteArray data);
    void Sig_ReturnMsg(int retVal, QString msg);
    // Beside the return message of a failed open: why, for the user.
    void Sig_OpenFailed(QString portName, QString reason);

public slots:
    void On_Init();
    void On_Quit();
    void On_SetSerialPort(QString baudrate);
    void On_OpenSerialPort(QString portName);
    void On_CloseSerialPort_CurrentPort();
    void On_CloseSerialPort(QString portName);
    void On_SendData(QByteArray data);

private slots:
    void On_Timer_ScanPort();
    void On_InternalRecvData_QExtSerialPort();
    void On_InternalRecvData();
    void On_PortError(QSerialPort::SerialPortError error);

private:
    void ClosePort(QSerialPort *port);
    void ReadReady();
    void PassOnReceived();
    static void ApplyLineSettings(QSerialPort *port);

    MachinePortCache machinePorts;
    QMutex portListMutex;
    SerialPortNameList lastPortList;
    SerialPortNameList newPortList;
    QString lostPort; // the port closed by its own error since the last scan
    QTimer *scanTimer = nullptr;
    QTimer *receiveHold = nullptr;
    QElapsedTimer sinceLastPass;

    QMutex currentPortMutex;
    QextPortInfo currentPort;

    QSerialPort *qextPort = nullptr; // 1200..115200 baud; rate and line set after opening
    QMutex baudMutex;
    QString baudString;
    QSerialPort *qtPort = nullptr; // 230400..4000000 baud
    bool useQext = true;
};

#endif // PORTGATE_H
