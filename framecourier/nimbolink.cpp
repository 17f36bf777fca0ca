#include "nimbolink.h"

#include "framecourierlog.h"
#include "nimboconversation.h"
#include "nimboobjectdictionary.h"
#include "nimboprofile.h"
#include "portgate.h"

#include <QtCore/QThread>
#include <QtCore/QTimer>

#include <algorithm>
#include <utility>
#include <vector>

Q_LOGGING_CATEGORY(lcLink, "gyrovane.link", QtInfoMsg)

namespace {

const int kProfileTickMs = 5;
const int kConversationTickMs = 10;

// Signals of one object to the same-named signals of another, for every signalled record type.
template <typename T, typename From, typename To>
void Forward(From *from, To *to)
{
    QObject::connect(from, QOverload<const T &>::of(&From::Sig_RX_Data), to,
                     QOverload<const T &>::of(&To::Sig_RX_Data));
}

} // namespace

NimboLink::NimboLink(QObject *parent)
    : QObject(parent)
{
    std::fill(std::begin(handedAskedAt), std::end(handedAskedAt), -1);
    clock.start();

    portGate = new PortGate;
    workerThread = new QThread;
    portGate->moveToThread(workerThread);
    connect(workerThread, &QThread::finished, portGate, &QObject::deleteLater);
    connect(workerThread, &QThread::finished, workerThread, &QObject::deleteLater);

    connect(this, &NimboLink::Sig_PortGate_Init, portGate, &PortGate::On_Init);
    connect(this, &NimboLink::Sig_PortGate_Quit, portGate, &PortGate::On_Quit);
    connect(this, &NimboLink::Sig_PortGate_SetSerialPort, portGate, &PortGate::On_SetSerialPort);
    connect(this, &NimboLink::Sig_PortGate_OpenSerialPort, portGate, &PortGate::On_OpenSerialPort);
    connect(this, &NimboLink::Sig_PortGate_CloseSerialPort_CurrentPort, portGate,
            &PortGate::On_CloseSerialPort_CurrentPort);
    connect(this, &NimboLink::Sig_PortGate_CloseSerialPort, portGate, &PortGate::On_CloseSerialPort);
    connect(this, &NimboLink::Sig_PortGate_SendData, portGate, &PortGate::On_SendData);

    connect(portGate, &PortGate::Sig_SerialDevice_PluggedIn, this, &NimboLink::Sig_SerialDevice_PluggedIn);
    connect(portGate, &PortGate::Sig_SerialDevice_Unplugged, this, &NimboLink::Sig_SerialDevice_Unplugged);
    connect(portGate, &PortGate::Sig_ScanPortEvent, this, &NimboLink::Sig_ScanPortEvent);
    connect(portGate, &PortGate::Sig_ScanPortsResult, this, &NimboLink::Sig_ScanPortsResult);
    connect(portGate, &PortGate::Sig_RecvData, this, &NimboLink::On_PortGate_RecvData);
    connect(portGate, &PortGate::Sig_ReturnMsg, this, &NimboLink::On_PortGate_ReturnMsg);
    connect(portGate, &PortGate::Sig_OpenFailed, this, &NimboLink::Sig_OpenFailed);

    workerThread->start();
    emit Sig_PortGate_Init();

    nOD = new NimboObjectDictionary;
    profile = new NimboProfile(nOD);
#define NIMBO_FORWARD(Type, cmd, size, slot, signalled, routed) Forward<Type>(profile, this);
    NIMBO_RECORDS(NIMBO_FORWARD)
#undef NIMBO_FORWARD
    profileTimer = new QTimer(this);
    profileTimer->setTimerType(Qt::PreciseTimer);
    connect(profileTimer, &QTimer::timeout, this, &NimboLink::On_NbProfileTimer_Interrupt);
    profileTimer->start(kProfileTickMs);
    conversation = new NimboConversation(profile, nOD);
    conversationTimer = new QTimer(this);
    connect(conversationTimer, &QTimer::timeout, this, &NimboLink::On_NbConversationTimer_Interrupt);
    conversationTimer->start(kConversationTickMs);
}

NimboLink::~NimboLink()
{
    // Whoever listens may be going away with the link; nothing is reported from here on.
    blockSignals(true);
    Stop();
    delete profile;
    delete conversation;
    delete nOD;
}

void NimboLink::Stop()
{
    if (!workerThread)
        return;
    profileTimer->stop();
    conversationTimer->stop();
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
    PortClosed();
}

void NimboLink::SetBaudrate(const QString &baudrate) { emit Sig_PortGate_SetSerialPort(baudrate); }

void NimboLink::OpenPort(const QString &portName) { emit Sig_PortGate_OpenSerialPort(portName); }

void NimboLink::ClosePort(const QString &portName) { emit Sig_PortGate_CloseSerialPort(portName); }

void NimboLink::CloseCurrentPort() { emit Sig_PortGate_CloseSerialPort_CurrentPort(); }

void NimboLink::Quit() { emit Sig_PortGate_Quit(); }

void NimboLink::On_PortGate_ReturnMsg(int retVal, QString msg)
{
    qCDebug(lcLink) << "Serial RetMsg: " << msg;
    const bool wasOpen = portOpen;
    if (retVal == 0) {
        portOpen = true;
        openPortName = msg;
    } else if (retVal == 1 || retVal == 3) {
        PortClosed();
    }
    emit Sig_ReturnMsg(retVal, msg);
    if (portOpen != wasOpen)
        emit Sig_LinkState(portOpen);
}

void NimboLink::PortClosed()
{
    const bool wasOpen = portOpen;
    portOpen = false;
    openPortName.clear();
    if (!wasOpen)
        return;
    // What waits can no longer be answered; its waiters hear so now rather than at their time-outs.
    if (writeInFlight) {
        conversation->Abandon();
        SettingsWriteEnded(false, tr("The link closed before the node acknowledged the settings."));
    }
    Pump();
}

// ---------------------------------------------------------------------------------------------------
// Record operations

int NimboLink::Set_SendPkg_Once(quint16 toId, quint8 cmd) { return profile->Queue_SendPkg(toId, cmd); }

unsigned NimboLink::ConversationClock() const { return unsigned(clock.elapsed()); }

int NimboLink::Set_RequestPkg(quint16 toId, quint8 cmd)
{
    conversation->Set_Time(ConversationClock());
    return conversation->Assign(toId, NP_CMD_REQUEST_, cmd);
}

int NimboLink::Set_SendSetting_InReliableWay(quint16 toId, Np_Settings settings)
{
    settings.settingsWord = NpSettingsBit::Set(settings.settingsWord, NpSettingsBit::reliableWrite, true);
    const int built = nOD->Write_Np_Settings(toId, settings);
    if (built != NP_SUCC_)
        return built;
    conversation->Set_Time(ConversationClock());
    const int assigned = conversation->Assign(toId, NP_CMD_SETTING, 0);
    if (assigned == NP_SUCC_)
        qCDebug(lcLink) << "FrameCourier::Set_SendSetting_InReliableWay   SUCC";
    else
        qCDebug(lcLink) << "FrameCourier::Set_SendSetting_InReliableWay   FAIL";
    return assigned;
}

int NimboLink::Set_SendCalibCmd(quint16 toId, quint8 calibType, quint8 calibCmd, quint16 calibCode,
                                quint32 calibValue1, quint32 calibValue2)
{
    const int built = nOD->Write_Np_Calib(toId, calibType, calibCmd, calibCode, calibValue1, calibValue2);
    return built == NP_SUCC_ ? Set_SendPkg_Once(toId, NP_CMD_CALIB_) : built;
}

int NimboLink::Set_Send_NSOCmd(quint16 toId, Np_NSO nso)
{
    const int built = nOD->Write_Np_NSO(toId, nso);
    return built == NP_SUCC_ ? Set_SendPkg_Once(toId, NP_CMD_NSO_) : built;
}

int NimboLink::Set_SendIdCmd(quint16 toId, quint8 idCmd, quint16 nodeId, const quint8 *uuid, int uuidLength,
                             const char *name, int nameLength)
{
    // The record names its node by UUID, so it always goes to everyone.
    Q_UNUSED(toId);
    const int built = nOD->Write_Np_Id(NP_ID_BROADCAST_, idCmd, nodeId, uuid, uuidLength, name, nameLength);
    return built == NP_SUCC_ ? Set_SendPkg_Once(NP_ID_BROADCAST_, NP_CMD_ID_) : built;
}

int NimboLink::Set_SendNodeCtrl(quint16 toId, const quint8 *uuid, int uuidLength, quint8 ctrl)
{
    Q_UNUSED(toId);
    const int built = nOD->Write_Np_NodeCtrl(NP_ID_BROADCAST_, uuid, uuidLength, ctrl);
    return built == NP_SUCC_ ? Set_SendPkg_Once(NP_ID_BROADCAST_, NP_CMD_NODECTRL_) : built;
}

void NimboLink::On_SendPkg_Auto()
{
    quint16 toId = 0;
    char *frame = nullptr;
    int size = 0;
    if (profile->Next_SendPkg(&toId, &frame, &size) != NP_SUCC_)
        return;
    const quint8 cmd = profile->LastSentCmd();
    qint64 &askedAt = handedAskedAt[cmd & 0x7F];
    if (askedAt >= 0) {
        qint64 &longest = longestQueueingMs[handedKind[cmd & 0x7F]];
        longest = std::max(longest, Now() - askedAt);
        askedAt = -1;
    }
    emit Sig_PortGate_SendData(QByteArray(frame, size));
}

void NimboLink::On_NbProfileTimer_Interrupt()
{
    Pump();
    On_SendPkg_Auto();
}

void NimboLink::On_NbConversationTimer_Interrupt()
{
    conversation->Set_Time(ConversationClock());
    quint16 peer = 0;
    quint8 cmd = 0, cmdRequest = 0;
    const int result = conversation->Tick(&peer, &cmd, &cmdRequest);
    if (result == NP_SUCC_ || result == NP_FAIL_) {
        if (cmd == NP_CMD_SETTING && writeInFlight && peer == writeInFlightNode)
            SettingsWriteEnded(result == NP_SUCC_,
                               tr("The node did not acknowledge the settings (4 attempts). Check the connection."));
        emit Sig_NbConversation_Result(peer, cmd, cmdRequest, result);
    }
    if (writeInFlight && conversation->PendingCmd() != NP_CMD_SETTING) {
        // Someone started another exchange in its place (Set_RequestPkg called directly); the write
        // will never be confirmed.
        SettingsWriteEnded(false, tr("The settings write was replaced by another exchange before the node "
                                     "acknowledged it."));
    }
    if (!queue.empty())
        Pump();
}

void NimboLink::On_PortGate_RecvData(QByteArray chunk)
{
    profile->Drain(chunk.constData(), chunk.size(), [this](int result, const Np_Header &header) {
        conversation->Update_Recv(header.fromId(), header.cmd(), result);
    });
    emit Sig_Received();
}

NimboLink::Statistics NimboLink::Monitor() const
{
    const NimboProtocol *p = profile->Protocol();
    Statistics s;
    s.received = quint64(p->GetStatistic_Recv_Pkg_Total());
    s.good = p->RecvPkgGood();
    s.bad = p->RecvPkgBad();
    s.omitted = p->RecvPkgOmit();
    s.sent = quint64(p->GetStatistic_Send_Pkg_Total());
    s.badRate = p->GetStatistic_Recv_Pkg_BadRate();
    s.omitRate = p->GetStatistic_Recv_Pkg_OmitRate();
    s.badHeadRate = p->GetStatistic_Recv_Byte_BadHeadRate();
    return s;
}

// ---------------------------------------------------------------------------------------------------
// Commands

bool NimboLink::Command::SameRequest(const Command &o) const
{
    // Only questions are merged: asked twice, one answer serves both. Writes and commands never are.
    if (kind != o.kind)
        return false;
    if (kind == ScanCommand)
        return true;
    return kind == SettingsRequestCommand && nodeId == o.nodeId;
}

void NimboLink::Scan(int waitMs) { Enqueue(Command(ScanCommand), waitMs); }

void NimboLink::SendNodeControl(const QByteArray &uuid, quint8 ctrl, int waitMs)
{
    Command c(NodeControlCommand);
    c.uuid = uuid;
    c.ctrl = ctrl;
    Enqueue(c, waitMs);
}

void NimboLink::WriteIdentity(const QByteArray &uuid, quint16 newId, const QByteArray &name, int waitMs)
{
    Command c(IdentityWriteCommand);
    c.uuid = uuid;
    c.nodeId = newId;
    c.name = name;
    Enqueue(c, waitMs);
}

void NimboLink::RequestSettings(quint16 nodeId, int waitMs)
{
    Command c(SettingsRequestCommand);
    c.nodeId = nodeId;
    Enqueue(c, waitMs);
}

void NimboLink::WriteSettings(quint16 nodeId, const Np_Settings &settings, int waitMs)
{
    Command c(SettingsWriteCommand);
    c.nodeId = nodeId;
    c.settings = settings;
    Enqueue(c, waitMs);
}

void NimboLink::SendServiceObject(quint16 nodeId, const Np_NSO &nso, int waitMs)
{
    Command c(ServiceObjectCommand);
    c.nodeId = nodeId;
    c.nso = nso;
    Enqueue(c, waitMs);
}

void NimboLink::SendCalibration(quint16 nodeId, const Np_Calib &calib, int waitMs)
{
    Command c(CalibrationCommand);
    c.nodeId = nodeId;
    c.calib = calib;
    Enqueue(c, waitMs);
}

void NimboLink::Enqueue(Command command, int waitMs)
{
    command.askedAt = Now();
    command.deadline = command.askedAt + std::max(waitMs, 0);
    if (!portOpen) {
        Drop(command, tr("The settings were not sent: the link is closed."));
        return;
    }
    for (Command &waiting : queue) {
        if (waiting.SameRequest(command)) {
            // The later waiter waits longer; the one question answers both.
            waiting.deadline = std::max(waiting.deadline, command.deadline);
            return;
        }
    }
    if (int(queue.size()) >= kQueueCapacity) {
        Drop(command, tr("The settings were not sent: too many commands are waiting for the link."));
        return;
    }
    queue.push_back(command);
    Pump();
}

void NimboLink::Drop(const Command &command, const QString &settingsFailure)
{
    qCDebug(lcLink) << "NimboLink: command" << command.kind << "for node" << command.nodeId << "not sent";
    if (command.kind == SettingsWriteCommand)
        emit Sig_SettingsWriteOutcome(command.nodeId, false, settingsFailure);
}

void NimboLink::SettingsWriteEnded(bool acknowledged, const QString &failure)
{
    const quint16 node = writeInFlightNode;
    writeInFlight = false;
    emit Sig_SettingsWriteOutcome(node, acknowledged, acknowledged ? QString() : failure);
}

void NimboLink::NoteHandedOver(const Command &command)
{
    quint8 cmd = 0;
    switch (command.kind) {
    case NodeControlCommand: cmd = NP_CMD_NODECTRL_; break;
    case IdentityWriteCommand: cmd = NP_CMD_ID_; break;
    case ScanCommand:
    case SettingsRequestCommand: cmd = NP_CMD_REQUEST_; break;
    case SettingsWriteCommand: cmd = NP_CMD_SETTING; break;
    case ServiceObjectCommand: cmd = NP_CMD_NSO_; break;
    case CalibrationCommand: cmd = NP_CMD_CALIB_; break;
    case CommandKinds: return;
    }
    handedAskedAt[cmd] = command.askedAt;
    handedKind[cmd] = command.kind;
}

NimboLink::Attempt NimboLink::TrySend(Command &c)
{
    // The codec holds one record of a type until its frame has left; the next one waits a tick.
    auto once = [](int result) {
        return result == NP_SUCC_ ? Attempt::Sent : result == NP_MUTEX_LOCKED_ ? Attempt::Wait : Attempt::Refused;
    };
    switch (c.kind) {
    case NodeControlCommand:
        if (profile->IsQueued(NP_CMD_NODECTRL_))
            return Attempt::Wait;
        return once(Set_SendNodeCtrl(NP_ID_BROADCAST_, reinterpret_cast<const quint8 *>(c.uuid.constData()),
                                     c.uuid.size(), c.ctrl));
    case IdentityWriteCommand:
        if (profile->IsQueued(NP_CMD_ID_))
            return Attempt::Wait;
        return once(Set_SendIdCmd(NP_ID_BROADCAST_, 0, c.nodeId,
                                  reinterpret_cast<const quint8 *>(c.uuid.constData()), c.uuid.size(),
                                  c.name.constData(), c.name.size()));
    case ScanCommand:
    case SettingsRequestCommand: {
        if (profile->IsQueued(NP_CMD_REQUEST_))
            return Attempt::Wait;
        const quint16 toId = c.kind == ScanCommand ? NP_ID_BROADCAST_ : c.nodeId;
        const quint8 asked = c.kind == ScanCommand ? NP_CMD_ID_ : NP_CMD_SETTING;
        // With the exchange slot free the request is repeated until answered; while another exchange
        // holds it (a write waiting for its acknowledgement) the request goes once, not held back.
        if (conversation->PendingCmd() == 0)
            return once(Set_RequestPkg(toId, asked));
        if (nOD->Write_Np_Request(toId, asked) != NP_SUCC_)
            return Attempt::Wait;
        return once(Set_SendPkg_Once(toId, NP_CMD_REQUEST_));
    }
    case SettingsWriteCommand: {
        // One acknowledged write at a time; a request's exchange gives way (its asker asks again).
        if (writeInFlight || profile->IsQueued(NP_CMD_SETTING))
            return Attempt::Wait;
        const int result = Set_SendSetting_InReliableWay(c.nodeId, c.settings);
        if (result == NP_SUCC_) {
            writeInFlight = true;
            writeInFlightNode = c.nodeId;
            return Attempt::Sent;
        }
        return result == NP_MUTEX_LOCKED_ ? Attempt::Wait : Attempt::Refused;
    }
    case ServiceObjectCommand:
        if (profile->IsQueued(NP_CMD_NSO_))
            return Attempt::Wait;
        return once(Set_Send_NSOCmd(c.nodeId, c.nso));
    case CalibrationCommand:
        if (profile->IsQueued(NP_CMD_CALIB_))
            return Attempt::Wait;
        return once(Set_SendCalibCmd(c.nodeId, c.calib.calibType, c.calib.calibCmd, c.calib.calibCode,
                                     c.calib.calibValue1, c.calib.calibValue2));
    case CommandKinds: break;
    }
    return Attempt::Refused;
}

void NimboLink::Pump()
{
    // A refusal reported from inside (an outcome whose receiver asks for more) must not re-enter.
    if (pumping)
        return;
    pumping = true;
    const qint64 now = Now();
    // Reported once the queue is left alone: a receiver may ask for more.
    std::vector<std::pair<Command, QString>> dropped;
    // Nodes with a settings write still waiting: their settings requests wait behind it, so that an
    // answer never shows settings older than the write.
    QVector<quint16> writesWaiting;
    if (writeInFlight)
        writesWaiting.append(writeInFlightNode);
    bool queuedWriteWaits = false;
    for (auto it = queue.begin(); it != queue.end();) {
        Command &c = *it;
        if (!portOpen) {
            dropped.emplace_back(c, tr("The settings were not sent: the link is closed."));
            it = queue.erase(it);
            continue;
        }
        if (now > c.deadline) {
            dropped.emplace_back(c, tr("The settings were not sent: the link was busy for too long."));
            it = queue.erase(it);
            continue;
        }
        const bool isWrite = c.kind == SettingsWriteCommand;
        if (isWrite && queuedWriteWaits) {
            // Writes keep their order among themselves.
            writesWaiting.append(c.nodeId);
            ++it;
            continue;
        }
        if (c.kind == SettingsRequestCommand && writesWaiting.contains(c.nodeId)) {
            ++it;
            continue;
        }
        const Attempt attempt = TrySend(c);
        if (attempt == Attempt::Sent) {
            NoteHandedOver(c);
            // The renamed node's settings are still in its own layout, under its new id.
            if (c.kind == IdentityWriteCommand)
                nOD->MoveNodeLayout(c.uuid, c.nodeId);
            it = queue.erase(it);
            continue;
        }
        if (attempt == Attempt::Refused) {
            dropped.emplace_back(c, tr("The settings were not sent: the link refused them."));
            it = queue.erase(it);
            continue;
        }
        if (isWrite) {
            writesWaiting.append(c.nodeId);
            queuedWriteWaits = true;
            ++it;
            continue;
        }
        // Everything else keeps its order: an identity request must follow the silences asked before it.
        break;
    }
    pumping = false;
    for (const auto &d : dropped)
        Drop(d.first, d.second);
}
