#include "eventlog.h"

#include "nimbo_object_dictionary.h"
#include "nimborecords.h"

#include <cerrno>
#include <cstring>

namespace {

class Json
{
public:
    void Key(const char *key)
    {
        if (!text.empty())
            text += ',';
        text += '"';
        text += key;
        text += "\":";
    }
    void Int(const char *key, long long v)
    {
        Key(key);
        text += std::to_string(v);
    }
    void Float(const char *key, float v)
    {
        Key(key);
        AppendFloat(v);
    }
    void Floats(const char *key, const float *v, int n)
    {
        Key(key);
        text += '[';
        for (int i = 0; i < n; ++i) {
            if (i)
                text += ',';
            AppendFloat(v[i]);
        }
        text += ']';
    }
    void Hex(const char *key, const uint8_t *data, int n)
    {
        static const char kDigits[] = "0123456789abcdef";
        Key(key);
        text += '"';
        for (int i = 0; i < n; ++i) {
            text += kDigits[data[i] >> 4];
            text += kDigits[data[i] & 15];
        }
        text += '"';
    }
    // Bytes up to the first zero; anything outside printable ASCII as \u00XX (one per byte).
    void Text(const char *key, const char *data, int n)
    {
        Key(key);
        text += '"';
        for (int i = 0; i < n && data[i] != '\0'; ++i) {
            const unsigned char c = static_cast<unsigned char>(data[i]);
            if (c == '"' || c == '\\') {
                text += '\\';
                text += char(c);
            } else if (c >= 0x20 && c < 0x7F) {
                text += char(c);
            } else {
                char buf[8];
                std::snprintf(buf, sizeof(buf), "\\u%04x", c);
                text += buf;
            }
        }
        text += '"';
    }
    void String(const char *key, const char *value)
    {
        Key(key);
        text += '"';
        text += value;
        text += '"';
    }

    std::string text;

private:
    void AppendFloat(float v)
    {
        // Nine significant digits give back the same float when read.
        char buf[32];
        std::snprintf(buf, sizeof(buf), "%.9g", double(v));
        text += buf;
    }
};

void Settings(Json &j, const uint8_t *p, int size)
{
    Np_Settings r;
    if (Np_Settings_Decode(p, size, &r) != NP_SUCC_)
        return;
    j.Int("settingsWord", r.settingsWord);
    j.Int("reserved0", r.reserved0);
    j.Int("uart2Baud", r.uart2Baud);
    j.Int("can1Bitrate", r.can1Bitrate);
    j.Int("fusionParamAcc", r.fusionParamAcc);
    j.Int("fusionParamMag", r.fusionParamMag);
    j.Int("inhibitTime", r.inhibitTime);
    j.Int("silentTime", r.silentTime);
    j.Int("odr", r.odr);
    j.Int("legacy", size == NP_SIZE_SETTINGS_V318_ ? 1 : 0);
}

void Fields(Json &j, int cmd, const uint8_t *p, int size)
{
    switch (cmd) {
    case NP_CMD_REQUEST_: {
        Np_Request r;
        if (Np_Request_Decode(p, size, &r) == NP_SUCC_)
            j.Int("cmdRequest", r.cmdRequest);
        break;
    }
    case NP_CMD_ACK_: {
        Np_Ack r;
        if (Np_Ack_Decode(p, size, &r) == NP_SUCC_)
            j.Int("cmdAck", r.cmdAck);
        break;
    }
    case NP_CMD_SETTING: Settings(j, p, size); break;
    case NP_CMD_STATUS_: {
        Np_Status r;
        if (Np_Status_Decode(p, size, &r) == NP_SUCC_) {
            j.Int("timeStamp", r.timeStamp);
            j.Float("temperature", r.temperature);
            j.Int("updateRate", r.updateRate);
            j.Int("sysState", r.sysState);
        }
        break;
    }
    case NP_CMD_CALIB_: {
        Np_Calib r;
        if (Np_Calib_Decode(p, size, &r) == NP_SUCC_) {
            j.Int("calibType", r.calibType);
            j.Int("calibCmd", r.calibCmd);
            j.Int("calibCode", r.calibCode);
            j.Int("calibValue1", r.calibValue1);
            j.Int("calibValue2", r.calibValue2);
        }
        break;
    }
    case NP_CMD_ID_: {
        Np_Id r;
        if (Np_Id_Decode(p, size, &r) == NP_SUCC_) {
            j.Key("fwVersion");
            j.text += "[" + std::to_string(r.fwVersion[0]) + "," + std::to_string(r.fwVersion[1]) + "," +
                      std::to_string(r.fwVersion[2]) + "," + std::to_string(r.fwVersion[3]) + "]";
            j.Hex("uuid", r.uuid, 20);
            j.Text("name", r.name, 12);
            j.Int("idCmd", r.idCmd);
            j.Int("nodeId", r.nodeId);
        }
        break;
    }
    case NP_CMD_ID_EXT_:
    case NP_CMD_Raw_GYRO_ACC_MAG_EXT_:
    case NP_CMD_CUSTOMIZED_: j.Hex("data", p + 4, size - 4); break;
    case NP_CMD_NODECTRL_: {
        Np_NodeCtrl r;
        if (Np_NodeCtrl_Decode(p, size, &r) == NP_SUCC_) {
            j.Hex("uuid", r.uuid, 20);
            j.Int("ctrl", r.ctrl);
        }
        break;
    }
    case NP_CMD_NSO_: {
        Np_NSO r;
        if (Np_NSO_Decode(p, size, &r) == NP_SUCC_) {
            j.Int("nsoCmd", r.nsoCmd);
            j.Int("nsoIndex", r.nsoIndex);
            j.Int("nsoSubIndex", r.nsoSubIndex);
            j.Int("nsoValue", r.nsoValue);
        }
        break;
    }
    case NP_CMD_Raw_GYRO_ACC_MAG_: {
        Np_Raw_GyroAccMag r;
        if (Np_Raw_GyroAccMag_Decode(p, size, &r) == NP_SUCC_) {
            j.Int("timeStamp", r.timeStamp);
            j.Floats("gyro", r.gyro, 3);
            j.Floats("acc", r.acc, 3);
            j.Floats("mag", r.mag, 3);
        }
        break;
    }
    case NP_CMD_Q_S1_S_:
    case NP_CMD_Q_S1_E_: {
        Np_Quaternion r;
        if (Np_Quaternion_Decode(p, size, &r) == NP_SUCC_) {
            j.Int("timeStamp", r.timeStamp);
            j.Floats("q", r.q, 4);
        }
        break;
    }
    case NP_CMD_EULER_S1_S_:
    case NP_CMD_EULER_S1_E_: {
        Np_Euler r;
        if (Np_Euler_Decode(p, size, &r) == NP_SUCC_) {
            j.Int("timeStamp", r.timeStamp);
            j.Float("psi", r.psi);
            j.Float("theta", r.theta);
            j.Float("phi", r.phi);
        }
        break;
    }
    case NP_CMD_RPY_: {
        Np_RPY r;
        if (Np_RPY_Decode(p, size, &r) == NP_SUCC_) {
            j.Int("timeStamp", r.timeStamp);
            j.Float("roll", r.roll);
            j.Float("pitch", r.pitch);
            j.Float("yaw", r.yaw);
        }
        break;
    }
    case NP_CMD_GRAVITY_: {
        Np_Gravity r;
        if (Np_Gravity_Decode(p, size, &r) == NP_SUCC_) {
            j.Int("timeStamp", r.timeStamp);
            j.Floats("g", r.g, 3);
        }
        break;
    }
    case NP_CMD_COMBO_: {
        Np_Combo r;
        if (Np_Combo_Decode(p, size, &r) == NP_SUCC_) {
            j.Int("timeStamp", r.timeStamp);
            j.Int("qos", r.qos);
            j.Int("heading", r.heading);
            j.Int("gyroZ", r.gyroZ);
            j.Int("value2", r.value2);
        }
        break;
    }
    default: break;
    }
}

} // namespace

const char *RecordTypeName(int cmd)
{
    switch (cmd) {
#define NODESIM_TYPE_NAME(Type, cmdId, size, slot, signalled, routed) \
    case cmdId: return #Type;
        NIMBO_RECORDS(NODESIM_TYPE_NAME)
#undef NODESIM_TYPE_NAME
    default: return "unknown";
    }
}

std::string RecordJsonFields(const uint8_t *payload, int size)
{
    Json j;
    if (size < NP_SIZE_HEADER_)
        return "\"type\":\"unknown\"";
    Np_Header h;
    Np_Header_Decode(payload, &h);
    j.Int("cmd", h.cmd);
    j.String("type", RecordTypeName(h.cmd));
    j.Int("from", h.fromId);
    j.Int("to", h.toId);
    Fields(j, h.cmd, payload, size);
    return j.text;
}

EventLog::~EventLog() { Close(); }

bool EventLog::Open(const std::string &path, std::string *error)
{
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) {
        *error = "cannot write the log " + path + ": " + std::strerror(errno);
        return false;
    }
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
    return true;
}

void EventLog::Record(double t, const char *direction, int node, const uint8_t *payload, int size,
                      const char *fault, const char *extra)
{
    if (!file_)
        return;
    std::fprintf(file_, "{\"t\":%.6f,\"dir\":\"%s\",\"node\":%d,%s", t, direction, node,
                 RecordJsonFields(payload, size).c_str());
    if (fault)
        std::fprintf(file_, ",\"fault\":\"%s\"", fault);
    if (extra && *extra)
        std::fprintf(file_, ",%s", extra);
    std::fputs("}\n", file_);
    dirty_ = true;
}

void EventLog::Flush()
{
    if (file_ && dirty_) {
        std::fflush(file_);
        dirty_ = false;
    }
}

void EventLog::Close()
{
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
}
