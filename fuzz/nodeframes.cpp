#include "nodeframes.h"

#include "nimbo_object_dictionary.h"
#include "nimbo_protocol.h"

#include <cstring>

namespace {

void Append(std::string *out, const uint8_t *payload, int size)
{
    NimboProtocol np;
    NimboProtocol_Init(&np, NP_MAX_IN_PAYLOAD_, NP_MAX_OUT_PAYLOAD_);
    const uint8_t *frame = nullptr;
    int frameSize = 0;
    if (NimboProtocol_CreateOutputPackage(&np, payload, size, &frame, &frameSize) == NP_SUCC_)
        out->append(reinterpret_cast<const char *>(frame), size_t(frameSize));
}

} // namespace

std::string NodeIntroduction(int nodeId, const char *name, uint8_t uuidByte)
{
    std::string out;
    uint8_t payload[NP_MAX_RECORD_SIZE_];

    Np_Id id;
    std::memset(&id, 0, sizeof(id));
    id.header.cmd = NP_CMD_ID_;
    id.header.fromId = uint16_t(nodeId);
    id.header.toId = NP_ID_HOST_;
    const uint8_t firmware[4] = {31, 8, 2, 70};
    std::memcpy(id.fwVersion, firmware, sizeof(firmware));
    std::memset(id.uuid, uuidByte, sizeof(id.uuid));
    std::strncpy(id.name, name, sizeof(id.name));
    id.nodeId = uint16_t(nodeId);
    Append(&out, payload, Np_Id_Encode(&id, payload));

    Np_Settings s;
    std::memset(&s, 0, sizeof(s));
    s.header.cmd = NP_CMD_SETTING;
    s.header.fromId = uint16_t(nodeId);
    s.header.toId = NP_ID_HOST_;
    s.settingsWord = NP_SET_EN_GYRO_ | NP_SET_EN_ACC_ | NP_SET_EN_MAG_ | NP_SET_OUT_STATUS_ | NP_SET_OUT_RAW_ |
                     NP_SET_OUT_Q_S1_S_ | NP_SET_OUT_Q_S1_E_ | NP_SET_OUT_EULER_S1_S_ | NP_SET_OUT_EULER_S1_E_ |
                     NP_SET_OUT_RPY_ | NP_SET_OUT_GRAVITY_ | NP_SET_BINARY_FORMAT_ | NP_SET_EN_UART1_;
    s.uart2Baud = 40000;
    s.can1Bitrate = 10000;
    s.fusionParamAcc = 1000;
    s.fusionParamMag = 1000;
    s.odr = 800;
    Append(&out, payload, Np_Settings_Encode(&s, NP_SETTINGS_CURRENT_, payload));
    return out;
}
