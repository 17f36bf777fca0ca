#include "portgate.h"
#include "portgatelog.h"
#include "openfailure.h"
#include "simulatedlink.h"

#include <QtCore/QDebug>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QMutexLocker>
#include <QtCore/QSet>
#include <QtCore/QTimer>
#include <QtSerialPort/QSerialPortInfo>

#include <algorithm>

#include <QtCore/QElapsedTimer>

#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcPortGate, "gyrovane.portgate", QtInfoMsg)

namespace {

const char *const kNoPort = "NONE";
constexpr qint64 kHoldMs = 5;

struct Rate
{
    const char *text;
    qint32 baud;
};

// Served by the high-rate port.
const Rate kHighRates[] = {{"4000000", 4000000}, {"3686400", 3686400}, {"1843200", 1843200},
                           {"1000000", 1000000}, {"921600", 921600},   {"460800", 460800},
                           {"230400", 230400}};
// Served by the standard-rate port.
const Rate kStandardRates[] = {{"115200", 115200}, {"57600", 57600}, {"38400", 38400}, {"9600", 9600},
                               {"4800", 4800},     {"2400", 2400},   {"1200", 1200}};

bool SameName(const QextPortInfo &a, const QString &name) { return a.portName == name; }

bool Contains(const SerialPortNameList &list, const QString &name)
{
    return std::any_of(list.begin(), list.end(), [&](const QextPortInfo &p) { return SameName(p, name); });
}

// What tells two ports apart. An adapter pulled and another, or a new simulator, under the same name
// between two scans differs in its location, description, identifiers or simulator process.
QString Identity(const QextPortInfo &port)
{
    return port.portName + QLatin1Char('\n') + port.physName + QLatin1Char('\n') + port.friendName +
           QLatin1Char('\n') + QString::number(port.vendorID) + QLatin1Char(':') + QString::number(port.productID);
}

QSet<QString> Identities(const SerialPortNameList &list)
{
    QSet<QString> ids;
    for (const QextPortInfo &port : list)
        ids.insert(Identity(port));
    return ids;
}

} // namespace

PortGate::PortGate(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<QextPortInfo>("QextPortInfo");
    qRegisterMetaType<SerialPortNameList>("SerialPortNameList");
    currentPort.portName = QString::fromLatin1(kNoPort);
}

PortGate::~PortGate() = default;

QString PortGate::SimulatedPortDirectory()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return QString::fromLocal8Bit(runtime) + QStringLiteral("/kinetra-ports");
    return QStringLiteral("/tmp/kinetra-ports-%1").arg(getuid());
}

// The machine's serial ports. Enumerating them walks every tty device the kernel has (thousands of
// file accesses, tens of milliseconds), far too much for a once-a-second scan; a port can only come or
// go together with its device node, so the walk is repeated when /dev changes, and now and then anyway.
SerialPortNameList PortGate::MachinePortCache::Ports()
{
    constexpr qint64 kWalkAtLeastEveryMs = 30000;
    struct stat dev = {};
    const bool statOk = ::stat("/dev", &dev) == 0;
    const bool devSame =
        statOk && dev.st_mtim.tv_sec == devChanged.tv_sec && dev.st_mtim.tv_nsec == devChanged.tv_nsec;
    if (valid && devSame && sinceWalk.isValid() && sinceWalk.elapsed() < kWalkAtLeastEveryMs)
        return cached;

    cached.clear();
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        QextPortInfo port;
        port.portName = info.portName();
        port.friendName = info.description();
        port.physName = info.systemLocation();
        port.enumName = info.manufacturer();
        port.vendorID = info.hasVendorIdentifier() ? info.vendorIdentifier() : 0;
        port.productID = info.hasProductIdentifier() ? info.productIdentifier() : 0;
        cached.append(port);
    }
    valid = true;
    devChanged = statOk ? dev.st_mtim : timespec{0, 0};
    sinceWalk.start();
    return cached;
}

SerialPortNameList PortGate::EnumeratePorts()
{
    MachinePortCache walk;
    return EnumeratePorts(walk);
}

SerialPortNameList PortGate::EnumeratePorts(MachinePortCache &machine)
{
    SerialPortNameList list = machine.Ports();
    // A simulator publishes its port as a link with a pid file beside it; only a link of a running
    // simulator is a port (a killed one leaves its link pointing at a terminal soon used by others).
    const QDir dir(SimulatedPortDirectory());
    const QFileInfoList links =
        dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &link : links) {
        const std::string path = QFile::encodeName(link.absoluteFilePath()).toStdString();
        if (!link.isSymLink() || !simulatedlink::IsLive(path))
            continue;
        QextPortInfo port;
        port.portName = link.absoluteFilePath();
        port.friendName = QStringLiteral("Kinetra node simulator (process %1)").arg(simulatedlink::PidOf(path));
        port.physName = link.symLinkTarget();
        port.enumName = QStringLiteral("kinetra-nodesim");
        list.append(port);
    }
    return list;
}

QString PortGate::CurrentPortName()
{
    QMutexLocker lock(&currentPortMutex);
    return currentPort.portName;
}

QString PortGate::BaudString()
{
    QMutexLocker lock(&baudMutex);
    return baudString;
}

void PortGate::On_Init()
{
    if (qtPort || scanTimer)
        return;

    scanTimer = new QTimer(this);
    connect(scanTimer, &QTimer::timeout, this, &PortGate::On_Timer_ScanPort);
    scanTimer->start(1000);

    SerialPortNameList snapshot;
    {
        QMutexLocker lock(&portListMutex);
        lastPortList = EnumeratePorts(machinePorts);
        snapshot = lastPortList;
    }
    emit Sig_ScanPortsResult(snapshot);

    {
        QMutexLocker lock(&currentPortMutex);
        currentPort.portName = QString::fromLatin1(kNoPort);
    }

    receiveHold = new QTimer(this);
    receiveHold->setSingleShot(true);
    receiveHold->setTimerType(Qt::PreciseTimer);
    connect(receiveHold, &QTimer::timeout, this, &PortGate::PassOnReceived);

    qextPort = new QSerialPort(this);
    connect(qextPort, &QSerialPort::readyRead, this, &PortGate::On_InternalRecvData_QExtSerialPort);
    connect(qextPort, &QSerialPort::errorOccurred, this, &PortGate::On_PortError);
    qtPort = new QSerialPort(this);
    connect(qtPort, &QSerialPort::readyRead, this, &PortGate::On_InternalRecvData);
    connect(qtPort, &QSerialPort::errorOccurred, this, &PortGate::On_PortError);

    // Pulling out the open port closes it.
    connect(this, &PortGate::Sig_SerialDevice_Unplugged, this, &PortGate::On_CloseSerialPort);
}

void PortGate::On_Quit()
{
    if (qextPort) {
        CloseSerialPort();
        delete qextPort;
        qextPort = nullptr;
    }
    if (scanTimer) {
        scanTimer->stop();
        delete scanTimer;
        scanTimer = nullptr;
    }
    if (qtPort) {
        if (qtPort->isOpen())
            CloseSerialPort();
        delete qtPort;
        qtPort = nullptr;
    }
    disconnect(this, &PortGate::Sig_SerialDevice_Unplugged, this, &PortGate::On_CloseSerialPort);
}

void PortGate::On_Timer_ScanPort()
{
    emit Sig_ScanPortEvent();

    newPortList = EnumeratePorts(machinePorts);
    SerialPortNameList last;
    QString lost;
    {
        QMutexLocker lock(&portListMutex);
        lost = lostPort;
        lostPort.clear();
        if (Identities(newPortList) == Identities(lastPortList) && !Contains(newPortList, lost))
            return;
        last = lastPortList;
        lastPortList = newPortList;
    }
    // Signals are emitted outside the lock: a direct receiver may come back into the gateway. A port
    // replaced under the same name is an unplug and then a plug.
    const QSet<QString> before = Identities(last), now = Identities(newPortList);
    for (const QextPortInfo &port : last)
        if (!now.contains(Identity(port)))
            emit Sig_SerialDevice_Unplugged(port.portName);
    for (const QextPortInfo &port : newPortList)
        if (!before.contains(Identity(port)) || port.portName == lost)
            emit Sig_SerialDevice_PluggedIn(port.portName);
    emit Sig_ScanPortsResult(newPortList);
}

void PortGate::On_SetSerialPort(QString baudrate) { SetBaudRate(baudrate); }

void PortGate::SetBaudRate(QString baudrate)
{
    useQext = false;
    bool known = false;
    for (const Rate &rate : kHighRates) {
        if (baudrate == QLatin1String(rate.text)) {
            if (qtPort)
                qtPort->setBaudRate(rate.baud, QSerialPort::AllDirections);
            known = true;
            break;
        }
    }
    if (!known) {
        useQext = true;
        qint32 baud = 115200;
        for (const Rate &rate : kStandardRates) {
            if (baudrate == QLatin1String(rate.text)) {
                baud = rate.baud;
                known = true;
                break;
            }
        }
        if (qextPort)
            qextPort->setBaudRate(baud, QSerialPort::AllDirections);
        if (qtPort)
            qtPort->setBaudRate(baud, QSerialPort::AllDirections);
        if (!known)
            emit Sig_ReturnMsg(
                7, tr("Selected baudrate is not supported on this machine! Use default 115200 instead."));
    }
    QMutexLocker lock(&baudMutex);
    baudString = baudrate;
}

void PortGate::ApplyLineSettings(QSerialPort *port)
{
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
}

void PortGate::On_OpenSerialPort(QString portName) { OpenSerialPort(portName); }

void PortGate::OpenSerialPort(QString portName)
{
    if (!qextPort || !qtPort) {
        emit Sig_ReturnMsg(1, portName);
        return;
    }
    if (qextPort->isOpen() || qtPort->isOpen()) {
        emit Sig_ReturnMsg(5, tr("Port is already opened. Close and reopen."));
        CloseSerialPort();
    }

    // A read cap left from a port closed while its bytes were held must not carry over.
    qextPort->setReadBufferSize(0);
    qtPort->setReadBufferSize(0);
    bool opened;
    if (useQext) {
        qextPort->setPortName(portName);
        opened = qextPort->open(QIODevice::ReadWrite);
    } else {
        qtPort->setPortName(portName);
        SetBaudRate(BaudString());
        ApplyLineSettings(qtPort);
        opened = qtPort->open(QIODevice::ReadWrite);
    }
    if (!opened) {
        const QSerialPort *port = useQext ? qextPort : qtPort;
        emit Sig_ReturnMsg(1, portName);
        emit Sig_OpenFailed(portName,
                            OpenFailureText(port->error(), portName, ProbePortAccess(portName), port->errorString()));
        return;
    }

    QextPortInfo found;
    bool listed = false;
    {
        QMutexLocker lock(&portListMutex);
        for (const QextPortInfo &info : lastPortList) {
            if (SameName(info, portName)) {
                found = info;
                listed = true;
                break;
            }
        }
    }
    if (listed) {
        QMutexLocker lock(&currentPortMutex);
        currentPort = found;
    } else {
        emit Sig_ReturnMsg(2,
                           tr("PortGate::On_OpenSerialPort - Port detailed info not found in enumeration."));
    }

    if (useQext) {
        SetBaudRate(BaudString());
        ApplyLineSettings(qextPort);
    }
    emit Sig_ReturnMsg(0, portName);
}

void PortGate::ClosePort(QSerialPort *port)
{
    const QString name = CurrentPortName();
    if (port && port->isOpen()) {
        port->close();
        emit Sig_ReturnMsg(3, name);
    } else {
        emit Sig_ReturnMsg(4, name);
    }
}

void PortGate::CloseSerialPort()
{
    ClosePort(qextPort);
    ClosePort(qtPort);
    QMutexLocker lock(&currentPortMutex);
    currentPort.portName = QString::fromLatin1(kNoPort);
}

void PortGate::On_CloseSerialPort_CurrentPort() { CloseSerialPort(); }

void PortGate::On_CloseSerialPort(QString portName)
{
    if (portName == CurrentPortName())
        CloseSerialPort();
}

void PortGate::On_SendData(QByteArray data)
{
    QSerialPort *port = nullptr;
    if (qextPort && qextPort->isOpen())
        port = qextPort;
    else if (qtPort && qtPort->isOpen())
        port = qtPort;
    if (!port) {
        emit Sig_ReturnMsg(6, tr("PortGate::On_SendData - Port Closed"));
        return;
    }
    port->write(data);
    port->flush();
}

void PortGate::On_InternalRecvData_QExtSerialPort() { ReadReady(); }

void PortGate::On_InternalRecvData() { ReadReady(); }

void PortGate::ReadReady()
{
    // A streaming bus delivers bytes every millisecond or so; passing on each delivery would wake this
    // thread and the GUI thread a thousand times a second. Deliveries less than kHoldMs after the last
    // pass wait for the next one, and meanwhile the port stops reading (its read buffer is capped at
    // what it holds), so the bytes wait in the driver and nothing wakes up. A lone delivery goes at once.
    QSerialPort *port = qobject_cast<QSerialPort *>(sender());
    if (!port)
        return;
    const qint64 since = sinceLastPass.isValid() ? sinceLastPass.elapsed() : kHoldMs;
    if (!receiveHold->isActive() && since >= kHoldMs) {
        PassOnReceived();
        return;
    }
    port->setReadBufferSize(std::max<qint64>(1, port->bytesAvailable()));
    if (!receiveHold->isActive())
        receiveHold->start(int(kHoldMs - since));
}

void PortGate::PassOnReceived()
{
    receiveHold->stop();
    sinceLastPass.start();
    for (QSerialPort *port : {qextPort, qtPort}) {
        if (port && port->isOpen()) {
            port->setReadBufferSize(0); // reads again, without limit
            const QByteArray data = port->readAll();
            if (!data.isEmpty())
                emit Sig_RecvData(data);
        }
    }
}

void PortGate::On_PortError(QSerialPort::SerialPortError error)
{
    // An adapter pulled out (the read fails) or a pseudo-terminal whose other end went away (the port
    // reads as ended, reported as a read error): close at once, instead of keeping a dead port open
    // until the next scan happens to see a changed port count. A read error would also repeat for as
    // long as the port stays open.
    auto *port = qobject_cast<QSerialPort *>(sender());
    if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError) || !port || !port->isOpen())
        return;
    qCDebug(lcPortGate) << "PortGate: port" << port->portName() << "lost:" << port->errorString();
    const QString lost = CurrentPortName();
    CloseSerialPort();
    // When the next scan still finds the port (the same adapter back in before the scan saw it gone),
    // it is announced as plugged in again, so that the panel connects to it again.
    QMutexLocker lock(&portListMutex);
    lostPort = lost;
}
