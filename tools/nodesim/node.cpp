#include "node.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int64_t kMs = 1000000;
constexpr int64_t kBootTime = 300 * kMs;
constexpr int64_t kMagStep = 200 * kMs; // ten steps: a magnetometer calibration takes 2 s
constexpr int64_t kBootCalibTime = 1500 * kMs;
constexpr int kMaxOdr = 800;
// Behind by more than this (the machine was suspended, say), the stream goes on from now instead
// of sending a burst of old samples; shorter delays are caught up so that the rate stays exact.
constexpr int64_t kStallLimit = 500 * kMs;

// Abort codes of a refused service-object access, in the manner of CANopen.
constexpr uint32_t kAbortBadCommand = 0x05040001u;
constexpr uint32_t kAbortWriteOnly = 0x06010001u;
constexpr uint32_t kAbortBadValue = 0x06090030u;
// A replay waiting for the line looks again this often; one as fast as the line takes sends at most
// this many records at a time; its position is reported this often.
constexpr int64_t kReplayWaitNs = 20000000;
constexpr int kReplayBurst = 64;
constexpr int64_t kPositionIntervalNs = 250000000;


const struct
{
    uint32_t bit;
    uint8_t cmd;
} kStream[] = {
    {NP_SET_OUT_STATUS_, NP_CMD_STATUS_},
    {NP_SET_OUT_RAW_, NP_CMD_Raw_GYRO_ACC_MAG_},
    {NP_SET_OUT_Q_S1_S_, NP_CMD_Q_S1_S_},
    {NP_SET_OUT_Q_S1_E_, NP_CMD_Q_S1_E_},
    {NP_SET_OUT_EULER_S1_S_, NP_CMD_EULER_S1_S_},
    {NP_SET_OUT_EULER_S1_E_, NP_CMD_EULER_S1_E_},
    {NP_SET_OUT_RPY_, NP_CMD_RPY_},
    {NP_SET_OUT_GRAVITY_, NP_CMD_GRAVITY_},
    {NP_SET_OUT_COMBO_, NP_CMD_COMBO_},
};

uint64_t SplitMix(uint64_t *state)
{
    uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

bool AllZero(const uint8_t *bytes, int n)
{
    for (int i = 0; i < n; ++i)
        if (bytes[i])
            return false;
    return true;
}

bool MsbLsbValid(uint32_t v) { return (v & 1u) && !(v & 0x80000000u); }

uint16_t CalibCode(int type)
{
    switch (type) {
    case NP_CALIB_THERMAL_: return NP_CALIB_CODE_THERMAL_;
    case NP_CALIB_MAG_: return NP_CALIB_CODE_MAG_;
    case NP_CALIB_BOOT_: return NP_CALIB_CODE_BOOT_;
    case NP_CALIB_STATIC_: return NP_CALIB_CODE_STATIC_;
    default: return 0;
    }
}

int32_t Truncated(double v)
{
    if (v >= 2147483647.0)
        return 2147483647;
    if (v <= -2147483648.0)
        return -2147483647 - 1;
    return int32_t(v);
}

} // namespace

Node::Node(const NodeConfig &config, int index, const Options &options, NodeBus &bus)
    : bus_(bus)
    , motion_(index, options.motion)
    , sensors_(options.sensorErrors, options.seed + uint64_t(index) * 7919u)
    , logTruth_(options.logTruth)
    , stampStartUs_(options.wrapIn > 0 ? uint64_t(4294967296.0 - options.wrapIn * 1e6) : 0)
    , index_(index)
    , id_(config.id)
    , startOdr_(options.odr)
    , mute_(config.mute)
    , refuseNso_(options.refuseNso)
{
    motion_.SetBursts(options.burstG, options.burstEvery);
    std::memcpy(fw_, config.fw, sizeof(fw_));
    std::memset(name_, 0, sizeof(name_));
    std::memcpy(name_, config.name.data(),
                config.name.size() < sizeof(name_) ? config.name.size() : sizeof(name_));
    if (config.uuidGiven) {
        std::memcpy(uuid_, config.uuid, sizeof(uuid_));
    } else {
        // Stable across runs, different for every node of the bus.
        uint64_t state = (uint64_t(config.id) << 32) ^ uint64_t(index + 1) * 0x1000193ull;
        std::memcpy(uuid_, "KSIM", 4);
        for (int i = 4; i < 20; i += 8) {
            const uint64_t r = SplitMix(&state);
            for (int b = 0; b < 8 && i + b < 20; ++b)
                uuid_[i + b] = uint8_t(r >> (8 * b));
        }
    }

    NimboProfile_Init(&link_, id_, &Node::WriteFrame, &Node::OnRecord, this);
    if (Legacy())
        NimboProfile_SetSettingsVersion(&link_, NP_SETTINGS_V318_);

    std::memset(&settings_, 0, sizeof(settings_));
    settings_.settingsWord = NP_SET_EN_GYRO_ | NP_SET_EN_ACC_ | NP_SET_EN_MAG_ | NP_SET_MAG_SA_FILTER_ |
                             NP_SET_OUT_STATUS_ | NP_SET_OUT_RAW_ | NP_SET_OUT_Q_S1_E_ | NP_SET_OUT_RPY_ |
                             NP_SET_BINARY_FORMAT_ | ((uint32_t)2u << NP_SET_CHECKSUM_SHIFT_) |
                             NP_SET_EN_UART1_ | NP_SET_EN_UART2_ | NP_SET_EN_CAN1_;
    if (!Legacy())
        settings_.settingsWord |= NP_SET_GYRO_ERR_FILTER_;
    settings_.uart2Baud = 1152;
    settings_.can1Bitrate = 10000;
    settings_.fusionParamAcc = 210;
    settings_.fusionParamMag = 100;
    settings_.inhibitTime = 10;
    settings_.silentTime = Legacy() ? 0 : 1;
    settings_.odr = HasOdrField() ? uint16_t(startOdr_) : 0;
    savedSettings_ = settings_;

    // CANopen-like defaults derived from the node id.
    nso_.canSwitches = 0x0Fu; // always-1 bit, pipeline, service object, process channel 1
    nso_.canBaud = 10000;
    nso_.nsoId[0] = 0x600u + id_;
    nso_.nsoId[1] = 0x580u + id_;
    for (uint32_t ch = 0; ch < 4; ++ch) {
        nso_.npoId[2 * ch] = 0x200u + 0x100u * ch + id_;
        nso_.npoId[2 * ch + 1] = 0x180u + 0x100u * ch + id_;
    }
    nso_.calibSwitches = 0;
    nso_.profileSwitches = 0x1u | (1u << 2); // standard profile 1
    nso_.profileSwitchesExt = 0;
    savedNso_ = nso_;
}

void Node::Start()
{
    bootNs_ = bus_.Now();
    booting_ = false;
    RestartStream(bootNs_);
}

void Node::Receive(const uint8_t *data, int size) { NimboProfile_Receive(&link_, data, size); }

int Node::WriteFrame(void *user, const uint8_t *frame, int frameSize)
{
    Node *node = static_cast<Node *>(user);
    const bool muted = frameSize > 3 && node->mute_.count(frame[3] & 0x7F);
    node->bus_.Transmit(node->id_, frame, frameSize, node->note_.empty() ? nullptr : node->note_.c_str(), muted);
    node->note_.clear();
    return NP_SUCC_;
}

void Node::OnRecord(void *user, const Np_Header *header, const uint8_t *payload, int size)
{
    Node *node = static_cast<Node *>(user);
    if (node->booting_) {
        node->bus_.LogReceived(node->id_, payload, size, "booting");
        return;
    }
    node->bus_.LogReceived(node->id_, payload, size, nullptr);
    const Np_Header h = *header;
    std::vector<uint8_t> copy(payload, payload + size);
    const int latency = node->bus_.LatencyMs();
    if (latency <= 0) {
        node->Handle(h, copy);
        return;
    }
    const uint64_t epoch = node->epoch_;
    node->bus_.At(node->bus_.Now() + latency * kMs, [node, h, copy, epoch]() {
        if (epoch == node->epoch_ && !node->booting_)
            node->Handle(h, copy);
    });
}

void Node::Handle(const Np_Header &header, const std::vector<uint8_t> &payload)
{
    const uint8_t *p = payload.data();
    const int n = int(payload.size());
    switch (header.cmd) {
    case NP_CMD_REQUEST_: {
        Np_Request r;
        if (Np_Request_Decode(p, n, &r) == NP_SUCC_)
            HandleRequest(header, r);
        break;
    }
    case NP_CMD_SETTING: {
        Np_Settings r;
        if (Np_Settings_Decode(p, n, &r) == NP_SUCC_)
            HandleSettings(header, r);
        break;
    }
    case NP_CMD_ID_: {
        Np_Id r;
        if (Np_Id_Decode(p, n, &r) == NP_SUCC_)
            HandleId(r);
        break;
    }
    case NP_CMD_NODECTRL_: {
        Np_NodeCtrl r;
        if (Np_NodeCtrl_Decode(p, n, &r) == NP_SUCC_)
            HandleNodeCtrl(r);
        break;
    }
    case NP_CMD_NSO_: {
        Np_NSO r;
        if (Np_NSO_Decode(p, n, &r) == NP_SUCC_)
            HandleNso(header, r);
        break;
    }
    case NP_CMD_CALIB_: {
        Np_Calib r;
        if (Np_Calib_Decode(p, n, &r) == NP_SUCC_)
            HandleCalib(header, r);
        break;
    }
    default:
        // Data records and acknowledgements from the host mean nothing to a node.
        break;
    }
}

void Node::HandleRequest(const Np_Header &header, const Np_Request &request)
{
    const uint16_t to = header.fromId;
    switch (request.cmdRequest) {
    case NP_CMD_ID_:
        if (!silenced_)
            SendIdentity(to);
        break;
    case NP_CMD_SETTING: {
        Np_Settings s = settings_;
        s.odr = HasOdrField() ? uint16_t(StreamRate()) : 0;
        NimboProfile_Send_Np_Settings(&link_, to, &s);
        break;
    }
    case NP_CMD_HEARTBEAT_: NimboProfile_Send_Np_HeartBeat(&link_, to); break;
    case NP_CMD_STATUS_:
    case NP_CMD_Raw_GYRO_ACC_MAG_:
    case NP_CMD_Q_S1_S_:
    case NP_CMD_Q_S1_E_:
    case NP_CMD_EULER_S1_S_:
    case NP_CMD_EULER_S1_E_:
    case NP_CMD_RPY_:
    case NP_CMD_GRAVITY_:
    case NP_CMD_COMBO_:
    case NP_CMD_ID_EXT_:
    case NP_CMD_CUSTOMIZED_: SendSample(request.cmdRequest, to, bus_.Now()); break;
    default: break; // not a record this node holds
    }
}

void Node::HandleSettings(const Np_Header &header, const Np_Settings &received)
{
    Np_Settings s = received;
    const bool reliable = s.settingsWord & NP_SET_RELIABLE_WRITE_;
    const bool save = s.settingsWord & NP_SET_SAVE_TO_FLASH_;
    // Both are commands carried by the write, not settings the node keeps.
    s.settingsWord &= ~(NP_SET_RELIABLE_WRITE_ | NP_SET_SAVE_TO_FLASH_);
    std::memset(&s.header, 0, sizeof(s.header));

    const int oldRate = StreamRate();
    if (HasOdrField()) {
        if (s.odr < 1 || s.odr > kMaxOdr)
            s.odr = uint16_t(oldRate); // a rate the node cannot run keeps the current one
    } else {
        s.odr = 0;
    }
    if (Legacy()) {
        s.settingsWord &= ~NP_SET_GYRO_ERR_FILTER_;
        s.silentTime = 0;
    }
    settings_ = s;
    if (save)
        savedSettings_ = settings_;
    if (StreamRate() != oldRate)
        RestartStream(bus_.Now());
    if (reliable)
        NimboProfile_Send_Np_Ack(&link_, header.fromId, NP_CMD_SETTING);
}

void Node::HandleId(const Np_Id &id)
{
    if (std::memcmp(id.uuid, uuid_, sizeof(uuid_)) != 0 || id.idCmd != 0)
        return;
    if (id.nodeId < NP_ID_NODE_MIN_ || id.nodeId > NP_ID_MAX_)
        return; // ids below 32 belong to the host and to broadcast
    id_ = id.nodeId;
    NimboProfile_SetNodeId(&link_, id_);
    std::memcpy(name_, id.name, sizeof(name_));
}

void Node::HandleNodeCtrl(const Np_NodeCtrl &ctrl)
{
    if (!AllZero(ctrl.uuid, 20) && std::memcmp(ctrl.uuid, uuid_, sizeof(uuid_)) != 0)
        return;
    if (ctrl.ctrl == NP_NODECTRL_SILENCE_)
        silenced_ = true;
    else if (ctrl.ctrl == NP_NODECTRL_NORMAL_)
        silenced_ = false;
}

uint32_t *Node::ServiceObject(uint16_t index, uint8_t subIndex)
{
    switch (index) {
    case NP_NSO_CAN_SWITCHES_: return subIndex == NP_NSO_CAN_SWITCHES_SUB_ ? &nso_.canSwitches : nullptr;
    case NP_NSO_CAN_BAUDRATE_: return subIndex == NP_NSO_CAN_BAUDRATE_SUB_ ? &nso_.canBaud : nullptr;
    case NP_NSO_NSO_ID_: return subIndex <= 1 ? &nso_.nsoId[subIndex] : nullptr;
    case NP_NSO_NPO_ID_: return subIndex < NP_NSO_NPO_ID_SUBS_ ? &nso_.npoId[subIndex] : nullptr;
    case NP_NSO_CALIB_SWITCHES_: return subIndex == NP_NSO_CALIB_SWITCHES_SUB_ ? &nso_.calibSwitches : nullptr;
    case NP_NSO_PROFILE_SWITCHES_: return subIndex == NP_NSO_PROFILE_SWITCHES_SUB_ ? &nso_.profileSwitches : nullptr;
    case NP_NSO_PROFILE_SWITCHES_EXT_:
        return subIndex == NP_NSO_PROFILE_SWITCHES_EXT_SUB_ ? &nso_.profileSwitchesExt : nullptr;
    default: return nullptr;
    }
}

void Node::HandleNso(const Np_Header &header, const Np_NSO &request)
{
    Np_NSO answer = request;
    const uint16_t to = header.fromId;
    auto reply = [&](uint8_t command, uint32_t value) {
        answer.nsoCmd = command;
        answer.nsoValue = value;
        NimboProfile_Send_Np_NSO(&link_, to, &answer);
    };
    const bool isRead = request.nsoCmd == NP_NSO_READ_;
    if (!isRead && request.nsoCmd != NP_NSO_WRITE_) {
        reply(NP_NSO_ABORT_, kAbortBadCommand);
        return;
    }

    if (request.nsoIndex == NP_NSO_COMMAND_ &&
        (request.nsoSubIndex == NP_NSO_COMMAND_SAVE_SUB_ || request.nsoSubIndex == NP_NSO_COMMAND_REBOOT_SUB_)) {
        const bool save = request.nsoSubIndex == NP_NSO_COMMAND_SAVE_SUB_;
        if (isRead) {
            reply(NP_NSO_ABORT_, kAbortWriteOnly);
        } else if (request.nsoValue != (save ? NP_NSO_COMMAND_SAVE_VALUE_ : NP_NSO_COMMAND_REBOOT_VALUE_)) {
            reply(NP_NSO_ABORT_, kAbortBadValue);
        } else if (save) {
            savedNso_ = nso_;
            reply(NP_NSO_WRITE_ACK_, request.nsoValue);
        } else {
            reply(NP_NSO_WRITE_ACK_, request.nsoValue);
            Reboot();
        }
        return;
    }

    if (!isRead && refuseNso_.count(request.nsoIndex)) {
        reply(NP_NSO_ABORT_, kAbortBadValue);
        return;
    }
    uint32_t *slot = ServiceObject(request.nsoIndex, request.nsoSubIndex);
    if (!slot) {
        // Unknown objects are answered only when the node is set up to acknowledge them.
        if (nso_.canSwitches & NP_NSO_CAN_SWITCH_ACK_UNKNOWN_)
            reply(isRead ? NP_NSO_READ_RESPONSE_ : NP_NSO_WRITE_ACK_, isRead ? 0 : request.nsoValue);
        return;
    }
    if (isRead) {
        reply(NP_NSO_READ_RESPONSE_, *slot);
        return;
    }

    const uint32_t v = request.nsoValue;
    bool valid = true;
    switch (request.nsoIndex) {
    case NP_NSO_CAN_SWITCHES_:
    case NP_NSO_PROFILE_SWITCHES_: valid = MsbLsbValid(v); break;
    case NP_NSO_CAN_BAUDRATE_: valid = v == 625 || v == 1250 || v == 2500 || v == 5000 || v == 10000; break;
    case NP_NSO_NSO_ID_: valid = v <= NP_NSO_MAX_COB_ID_; break;
    case NP_NSO_NPO_ID_: valid = v >= NP_NSO_MIN_NPO_ID_ && v <= NP_NSO_MAX_COB_ID_; break;
    default: break;
    }
    if (!valid) {
        reply(NP_NSO_ABORT_, kAbortBadValue);
        return;
    }
    *slot = v;
    reply(NP_NSO_WRITE_ACK_, v);
}

void Node::SendCalibAnswer(uint16_t toId, uint8_t type, uint8_t result, uint16_t progress)
{
    Np_Calib answer;
    std::memset(&answer, 0, sizeof(answer));
    answer.calibType = uint8_t(type + NP_CALIB_ANSWER_OFFSET_);
    answer.calibCmd = result;
    answer.calibCode = progress;
    NimboProfile_Send_Np_Calib(&link_, toId, &answer);
}

void Node::RunMagCalibration(uint16_t toId)
{
    const uint64_t run = ++magRun_;
    const uint64_t epoch = epoch_;
    magRunning_ = true;
    const int64_t now = bus_.Now();
    for (int step = 1; step <= 10; ++step) {
        bus_.At(now + step * kMagStep, [this, run, epoch, step, toId]() {
            if (run != magRun_ || epoch != epoch_)
                return;
            if (step < 10) {
                SendCalibAnswer(toId, NP_CALIB_MAG_, NP_CALIB_IN_PROGRESS_, uint16_t(step * 10));
            } else {
                magRunning_ = false;
                SendCalibAnswer(toId, NP_CALIB_MAG_, NP_CALIB_SUCCESS_, 100);
            }
        });
    }
}

void Node::HandleCalib(const Np_Header &header, const Np_Calib &calib)
{
    const uint16_t to = header.fromId;
    const uint8_t type = calib.calibType;
    const uint16_t code = CalibCode(type);
    if (code == 0)
        return; // answer types and unknown groups are not commands
    if (calib.calibCode != code) {
        SendCalibAnswer(to, type, NP_CALIB_FAILED_, 0);
        return;
    }

    uint8_t result = NP_CALIB_FAILED_;
    switch (type) {
    case NP_CALIB_THERMAL_:
        if (calib.calibCmd == NP_CALIB_THERMAL_NEW_SAMPLE_ || calib.calibCmd == NP_CALIB_THERMAL_SAVE_)
            result = NP_CALIB_SUCCESS_;
        else if (calib.calibCmd == NP_CALIB_THERMAL_CLEAR_ALL_)
            result = NP_CALIB_REVOKED_;
        break;
    case NP_CALIB_MAG_:
        switch (calib.calibCmd) {
        case NP_CALIB_MAG_RUN_:
        case NP_CALIB_MAG_RUN_AND_SAVE_:
            headingFixStarted_ = false;
            RunMagCalibration(to);
            return;
        case NP_CALIB_MAG_REVOKE_:
        case NP_CALIB_MAG_REVOKE_AND_SAVE_:
            ++magRun_;
            magRunning_ = false;
            headingFixStarted_ = false;
            result = NP_CALIB_SUCCESS_;
            break;
        case NP_CALIB_MAG_HEADING_FIX_START_:
            headingFixStarted_ = true;
            SendCalibAnswer(to, type, NP_CALIB_IN_PROGRESS_, 0);
            return;
        case NP_CALIB_MAG_HEADING_FIX_FINISH_:
            result = headingFixStarted_ ? NP_CALIB_SUCCESS_ : NP_CALIB_FAILED_;
            headingFixStarted_ = false;
            break;
        case NP_CALIB_MAG_HEADING_ONE_CLICK_:
            // One-click fix: the heading now reads the value given, in thousandths of a degree.
            if (calib.calibValue1 <= 360000u) {
                const double now = double(bus_.Now() - bootNs_) / 1e9;
                const double current = motion_.At(now, headingOffsetDeg_).yawDeg;
                double delta = std::fmod(calib.calibValue1 / 1000.0 - current, 360.0);
                if (delta > 180.0)
                    delta -= 360.0;
                else if (delta < -180.0)
                    delta += 360.0;
                headingOffsetDeg_ = std::fmod(headingOffsetDeg_ + delta, 360.0);
                result = NP_CALIB_SUCCESS_;
            }
            break;
        default: break;
        }
        break;
    case NP_CALIB_BOOT_:
        if (calib.calibCmd == NP_CALIB_BOOT_RUN_) {
            const uint64_t epoch = epoch_;
            bus_.At(bus_.Now() + kBootCalibTime, [this, epoch, to]() {
                if (epoch == epoch_)
                    SendCalibAnswer(to, NP_CALIB_BOOT_, NP_CALIB_SUCCESS_, 0);
            });
            return;
        }
        break;
    case NP_CALIB_STATIC_:
        if (calib.calibCmd == NP_CALIB_STATIC_START_) {
            staticCalibStarted_ = true;
            result = NP_CALIB_IN_PROGRESS_;
        } else if (calib.calibCmd == NP_CALIB_STATIC_FINISH_) {
            result = staticCalibStarted_ ? NP_CALIB_SUCCESS_ : NP_CALIB_FAILED_;
            staticCalibStarted_ = false;
        } else if (calib.calibCmd == NP_CALIB_STATIC_REVOKE_) {
            staticCalibStarted_ = false;
            result = NP_CALIB_REVOKED_;
        }
        break;
    default: break;
    }
    SendCalibAnswer(to, type, result, 0);
}

void Node::SendIdentity(uint16_t toId)
{
    Np_Id id;
    std::memset(&id, 0, sizeof(id));
    std::memcpy(id.fwVersion, fw_, sizeof(fw_));
    std::memcpy(id.uuid, uuid_, sizeof(uuid_));
    std::memcpy(id.name, name_, sizeof(name_));
    id.nodeId = id_;
    NimboProfile_Send_Np_Id(&link_, toId, &id);
}

int Node::StreamRate() const
{
    if (HasOdrField() && settings_.odr >= 1 && settings_.odr <= kMaxOdr)
        return settings_.odr;
    return startOdr_;
}

void Node::SendSample(uint8_t cmd, uint16_t toId, int64_t at)
{
    const double t = double(at - bootNs_) / 1e9;
    // The node's 32-bit microsecond counter, which wraps as the real one does.
    const uint32_t stamp = uint32_t(stampStartUs_ + uint64_t(at - bootNs_) / 1000u);
    const MotionSample m = motion_.At(t, headingOffsetDeg_);
    const uint32_t word = settings_.settingsWord;
    const float temperature = float(24.0 + 1.5 * std::sin(2 * kPi * t / 300.0) + 0.25 * index_);
    const uint8_t qos = magRunning_ ? 2 : 4; // limited service while calibrating, else fine

    switch (cmd) {
    case NP_CMD_STATUS_: {
        Np_Status r;
        std::memset(&r, 0, sizeof(r));
        r.timeStamp = stamp;
        r.temperature = temperature;
        r.updateRate = 800;
        r.sysState = qos;
        NimboProfile_Send_Np_Status(&link_, toId, &r);
        break;
    }
    case NP_CMD_Raw_GYRO_ACC_MAG_: {
        Np_Raw_GyroAccMag r;
        std::memset(&r, 0, sizeof(r));
        r.timeStamp = stamp;
        double gyro[3], acc[3], mag[3];
        sensors_.Read(m, t, gyro, acc, mag);
        for (int i = 0; i < 3; ++i) {
            r.gyro[i] = (word & NP_SET_EN_GYRO_) ? float(gyro[i]) : 0.0f;
            r.acc[i] = (word & NP_SET_EN_ACC_) ? float(acc[i]) : 0.0f;
            r.mag[i] = (word & NP_SET_EN_MAG_) ? float(mag[i]) : 0.0f;
        }
        if (logTruth_) {
            char note[160];
            std::snprintf(note, sizeof(note), "\"truth\":[%.9g,%.9g,%.9g,%.9g]", m.qTrue[0], m.qTrue[1],
                          m.qTrue[2], m.qTrue[3]);
            note_ = note;
        }
        NimboProfile_Send_Np_Raw_GyroAccMag(&link_, toId, &r);
        break;
    }
    case NP_CMD_Q_S1_S_:
    case NP_CMD_Q_S1_E_: {
        Np_Quaternion r;
        std::memset(&r, 0, sizeof(r));
        r.timeStamp = stamp;
        for (int i = 0; i < 4; ++i)
            r.q[i] = float(cmd == NP_CMD_Q_S1_S_ ? m.qInitial[i] : m.qEarth[i]);
        if (cmd == NP_CMD_Q_S1_S_)
            NimboProfile_Send_Np_Q_s1_s(&link_, toId, &r);
        else
            NimboProfile_Send_Np_Q_s1_e(&link_, toId, &r);
        break;
    }
    case NP_CMD_EULER_S1_S_:
    case NP_CMD_EULER_S1_E_: {
        Np_Euler r;
        std::memset(&r, 0, sizeof(r));
        r.timeStamp = stamp;
        if (cmd == NP_CMD_EULER_S1_S_) {
            r.psi = float(m.initialPsiDeg);
            r.theta = float(m.initialThetaDeg);
            r.phi = float(m.initialPhiDeg);
            NimboProfile_Send_Np_Euler_s1_s(&link_, toId, &r);
        } else {
            r.psi = float(m.psiDeg);
            r.theta = float(m.pitchDeg);
            r.phi = float(m.rollDeg);
            NimboProfile_Send_Np_Euler_s1_e(&link_, toId, &r);
        }
        break;
    }
    case NP_CMD_RPY_: {
        Np_RPY r;
        std::memset(&r, 0, sizeof(r));
        r.timeStamp = stamp;
        r.roll = float(m.rollDeg);
        r.pitch = float(m.pitchDeg);
        r.yaw = float(m.yawDeg);
        NimboProfile_Send_Np_RPY(&link_, toId, &r);
        break;
    }
    case NP_CMD_GRAVITY_: {
        Np_Gravity r;
        std::memset(&r, 0, sizeof(r));
        r.timeStamp = stamp;
        for (int i = 0; i < 3; ++i)
            r.g[i] = float(m.gravity[i]);
        NimboProfile_Send_Np_Gravity(&link_, toId, &r);
        break;
    }
    case NP_CMD_COMBO_: {
        Np_Combo r;
        std::memset(&r, 0, sizeof(r));
        r.timeStamp = stamp;
        r.qos = qos;
        const double heading = m.yawDeg * 100.0;
        r.heading = heading < 0 ? 0 : (heading > 36000.0 ? 36000 : uint16_t(heading));
        r.gyroZ = Truncated(m.gyro[2] * 180.0 / kPi * 100.0);
        r.value2 = Truncated(m.pitchDeg * 100.0);
        NimboProfile_Send_Np_Combo(&link_, toId, &r);
        break;
    }
    case NP_CMD_ID_EXT_: {
        // Model text derived from the firmware number, e.g. "KT318".
        Np_Id_Ext r;
        std::memset(&r, 0, sizeof(r));
        std::snprintf(reinterpret_cast<char *>(r.data), sizeof(r.data), "KT%d", fw_[0] * 10 + fw_[1]);
        NimboProfile_Send_Np_Id_Ext(&link_, toId, &r);
        break;
    }
    case NP_CMD_CUSTOMIZED_: {
        // Temperature x 100 (int16) and heading x 10 (uint16), little-endian.
        Np_Customized r;
        std::memset(&r, 0, sizeof(r));
        const int16_t t100 = int16_t(std::lround(temperature * 100.0f));
        const uint16_t h10 = uint16_t(m.yawDeg * 10.0);
        r.data[0] = uint8_t(uint16_t(t100) & 0xFF);
        r.data[1] = uint8_t(uint16_t(t100) >> 8);
        r.data[2] = uint8_t(h10 & 0xFF);
        r.data[3] = uint8_t(h10 >> 8);
        NimboProfile_Send_Np_Customized(&link_, toId, &r);
        break;
    }
    default: break;
    }
}

void Node::SetReplay(const Recording *recording, double speed, bool loop, bool startPaused)
{
    replay_ = recording;
    replaySpeed_ = speed;
    replayLoop_ = loop;
    replayPaused_ = startPaused;
    // The settings say what the recording holds: its outputs, and the status that carries the
    // temperature of its raw data.
    uint32_t word = settings_.settingsWord & ~uint32_t(NP_SET_OUT_STATUS_ | NP_SET_OUT_RAW_ | NP_SET_OUT_Q_S1_S_ |
                                                       NP_SET_OUT_Q_S1_E_ | NP_SET_OUT_EULER_S1_S_ |
                                                       NP_SET_OUT_EULER_S1_E_ | NP_SET_OUT_RPY_ |
                                                       NP_SET_OUT_GRAVITY_ | NP_SET_OUT_COMBO_);
    word |= recording->outputs;
    if (recording->outputs & NP_SET_OUT_RAW_)
        word |= NP_SET_OUT_STATUS_;
    settings_.settingsWord = word;
    savedSettings_ = settings_;
}

void Node::Play()
{
    if (!replay_ || !replayPaused_)
        return;
    replayPaused_ = false;
    if (replayEnded_) { // played to its end: from the start again
        replayEnded_ = false;
        replayIndex_ = 0;
    }
    Reanchor();
    const uint64_t generation = ++generation_;
    bus_.At(bus_.Now(), [this, generation]() { ReplayStep(generation); });
}

void Node::Pause()
{
    if (!replay_ || replayPaused_)
        return;
    replayPaused_ = true;
    ++generation_;
}

void Node::SetSpeed(double speed)
{
    if (!replay_)
        return;
    replaySpeed_ = speed;
    Reanchor();
    if (!replayPaused_ && !replayEnded_) {
        const uint64_t generation = ++generation_;
        bus_.At(bus_.Now(), [this, generation]() { ReplayStep(generation); });
    }
}

void Node::Reanchor()
{
    replayAnchorNs_ = bus_.Now();
    replayAnchorT_ = replayIndex_ < replay_->records.size() ? replay_->records[replayIndex_].t : 0.0;
}

void Node::ReplayStep(uint64_t generation)
{
    if (generation != generation_ || booting_ || replayPaused_ || replayEnded_)
        return;
    const std::vector<ReplayRecord> &records = replay_->records;
    const int64_t now = bus_.Now();
    auto again = [this, generation](int64_t at) { bus_.At(at, [this, generation]() { ReplayStep(generation); }); };
    // Nobody listens: the recording waits, and goes on from where it was once the line is open.
    if (!bus_.LineConnected()) {
        Reanchor();
        again(now + kReplayWaitNs);
        return;
    }
    int sent = 0;
    while (replayIndex_ < records.size()) {
        const ReplayRecord &record = records[replayIndex_];
        if (replaySpeed_ > 0.0) {
            const int64_t due = replayAnchorNs_ + int64_t((record.t - replayAnchorT_) / replaySpeed_ * 1e9);
            if (due > now) {
                again(due);
                break;
            }
        } else if (!bus_.LineTakesMore() || sent >= kReplayBurst) {
            again(now + (sent >= kReplayBurst ? 0 : kReplayWaitNs / 20)); // as fast as the line takes
            break;
        }
        SendRecorded(record);
        ++replayIndex_;
        ++sent;
    }
    const double start = records.front().t;
    if (replayIndex_ >= records.size()) {
        if (replayLoop_) {
            replayIndex_ = 0;
            Reanchor();
            again(now);
        } else {
            replayEnded_ = true;
            replayPaused_ = true;
            bus_.ReplayPosition(records.back().t - start, replay_->Duration(), true);
            return;
        }
    }
    if (now - lastPositionNs_ >= kPositionIntervalNs) {
        lastPositionNs_ = now;
        const double played = replayIndex_ > 0 ? records[replayIndex_ - 1].t - start : 0.0;
        bus_.ReplayPosition(played, replay_->Duration(), false);
    }
}

void Node::SendRecorded(const ReplayRecord &record)
{
    // The node's 32-bit microsecond counter at the recorded time.
    const uint32_t stamp = uint32_t(uint64_t(std::llround(record.t * 1e6)));
    const float *v = record.v;
    switch (record.cmd) {
    case NP_CMD_Raw_GYRO_ACC_MAG_: {
        if (!(v[0] == sentTemperature_)) { // the temperature the raw data were recorded with
            Np_Status status;
            std::memset(&status, 0, sizeof(status));
            status.timeStamp = stamp;
            status.temperature = v[0];
            status.updateRate = 800;
            status.sysState = 4;
            NimboProfile_Send_Np_Status(&link_, NP_ID_HOST_, &status);
            sentTemperature_ = v[0];
        }
        Np_Raw_GyroAccMag r;
        std::memset(&r, 0, sizeof(r));
        r.timeStamp = stamp;
        for (int i = 0; i < 3; ++i) {
            r.gyro[i] = v[1 + i];
            r.acc[i] = v[4 + i];
            r.mag[i] = v[7 + i];
        }
        NimboProfile_Send_Np_Raw_GyroAccMag(&link_, NP_ID_HOST_, &r);
        break;
    }
    case NP_CMD_Q_S1_E_: {
        Np_Quaternion r;
        std::memset(&r, 0, sizeof(r));
        r.timeStamp = stamp;
        std::memcpy(r.q, v, sizeof(r.q));
        NimboProfile_Send_Np_Q_s1_e(&link_, NP_ID_HOST_, &r);
        break;
    }
    case NP_CMD_EULER_S1_E_: {
        Np_Euler r;
        std::memset(&r, 0, sizeof(r));
        r.timeStamp = stamp;
        r.psi = v[0];
        r.theta = v[1];
        r.phi = v[2];
        NimboProfile_Send_Np_Euler_s1_e(&link_, NP_ID_HOST_, &r);
        break;
    }
    case NP_CMD_RPY_: {
        Np_RPY r;
        std::memset(&r, 0, sizeof(r));
        r.timeStamp = stamp;
        r.roll = v[0];
        r.pitch = v[1];
        r.yaw = v[2];
        NimboProfile_Send_Np_RPY(&link_, NP_ID_HOST_, &r);
        break;
    }
    case NP_CMD_GRAVITY_: {
        Np_Gravity r;
        std::memset(&r, 0, sizeof(r));
        r.timeStamp = stamp;
        std::memcpy(r.g, v, sizeof(r.g));
        NimboProfile_Send_Np_Gravity(&link_, NP_ID_HOST_, &r);
        break;
    }
    default: break;
    }
}

void Node::RestartStream(int64_t from)
{
    if (replay_) {
        // A replayed node streams its recording, whatever its settings say.
        Reanchor();
        const uint64_t generation = ++generation_;
        bus_.At(from, [this, generation]() { ReplayStep(generation); });
        return;
    }
    const uint64_t generation = ++generation_;
    tickRate_ = StreamRate();
    tickBase_ = from;
    tickIndex_ = 0;
    bus_.At(from, [this, generation]() { Tick(generation); });
}

void Node::Tick(uint64_t generation)
{
    if (generation != generation_ || booting_)
        return;
    const double period = 1e9 / tickRate_;
    const int64_t due = tickBase_ + int64_t(std::llround(double(tickIndex_) * period));
    for (const auto &output : kStream)
        if (settings_.settingsWord & output.bit)
            SendSample(output.cmd, NP_ID_HOST_, due);

    ++tickIndex_;
    int64_t next = tickBase_ + int64_t(std::llround(double(tickIndex_) * period));
    const int64_t now = bus_.Now();
    if (now - next > kStallLimit) {
        tickBase_ = now;
        tickIndex_ = 0;
        next = now;
    }
    bus_.At(next, [this, generation]() { Tick(generation); });
}

void Node::Reboot()
{
    ++epoch_;
    ++generation_;
    ++magRun_;
    booting_ = true;
    settings_ = savedSettings_;
    nso_ = savedNso_;
    silenced_ = false;
    magRunning_ = false;
    headingFixStarted_ = false;
    staticCalibStarted_ = false;
    headingOffsetDeg_ = 0.0;
    const uint64_t epoch = epoch_;
    bus_.At(bus_.Now() + kBootTime, [this, epoch]() { FinishBoot(epoch); });
}

void Node::FinishBoot(uint64_t epoch)
{
    if (epoch != epoch_)
        return;
    booting_ = false;
    bootNs_ = bus_.Now();
    RestartStream(bootNs_);
}
