#include "nimboobjectdictionary.h"

#include <string.h>

// Floats travel as IEEE 754 single precision, which the float type of every supported processor is.
static_assert(sizeof(float) == 4, "float must be 32 bits");

namespace {

struct TableEntry
{
    uint8_t cmd;
    uint8_t size;
};

const TableEntry kTable[NimboObjectDictionary::kEntries] = {
    {NP_CMD_HEARTBEAT_, NP_SIZE_HEARTBEAT_},
    {NP_CMD_REQUEST_, NP_SIZE_REQUEST_},
    {NP_CMD_ACK_, NP_SIZE_ACK_},
    {NP_CMD_SETTING, NP_SIZE_SETTINGS_},
    {NP_CMD_STATUS_, NP_SIZE_STATUS_},
    {NP_CMD_CALIB_, NP_SIZE_CALIB_},
    {NP_CMD_ID_, NP_SIZE_ID_},
    {NP_CMD_ID_EXT_, NP_SIZE_ID_EXT_},
    {NP_CMD_NODECTRL_, NP_SIZE_NODECTRL_},
    {NP_CMD_NSO_, NP_SIZE_NSO_},
    {NP_CMD_Raw_GYRO_ACC_MAG_, NP_SIZE_RAW_},
    {NP_CMD_Raw_GYRO_ACC_MAG_EXT_, NP_SIZE_RAW_EXT_},
    {NP_CMD_Q_S1_S_, NP_SIZE_Q_},
    {NP_CMD_Q_S1_E_, NP_SIZE_Q_},
    {NP_CMD_EULER_S1_S_, NP_SIZE_EULER_},
    {NP_CMD_EULER_S1_E_, NP_SIZE_EULER_},
    {NP_CMD_RPY_, NP_SIZE_RPY_},
    {NP_CMD_GRAVITY_, NP_SIZE_GRAVITY_},
    {NP_CMD_COMBO_, NP_SIZE_COMBO_},
    {NP_CMD_CUSTOMIZED_, NP_SIZE_CUSTOMIZED_},
};

// Little-endian writing and reading; the wire image, not the processor, decides the byte order.
void PutU16(uint8_t *out, uint16_t v)
{
    out[0] = uint8_t(v & 0xFFu);
    out[1] = uint8_t(v >> 8);
}

void PutU32(uint8_t *out, uint32_t v)
{
    for (uint8_t i = 0; i < 4; ++i)
        out[i] = uint8_t((v >> (8 * i)) & 0xFFu);
}

void PutF32(uint8_t *out, float f)
{
    uint32_t v;
    memcpy(&v, &f, sizeof(v));
    PutU32(out, v);
}

uint16_t GetU16(const uint8_t *in) { return uint16_t(in[0] | uint16_t(in[1]) << 8); }

uint32_t GetU32(const uint8_t *in)
{
    return uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
}

float GetF32(const uint8_t *in)
{
    const uint32_t v = GetU32(in);
    float f;
    memcpy(&f, &v, sizeof(f));
    return f;
}

void PutFloats(uint8_t *out, const float *v, uint8_t n)
{
    for (uint8_t i = 0; i < n; ++i)
        PutF32(out + 4 * i, v[i]);
}

void GetFloats(const uint8_t *in, float *v, uint8_t n)
{
    for (uint8_t i = 0; i < n; ++i)
        v[i] = GetF32(in + 4 * i);
}

// Starts a wire image: zeroes it (padding) and writes the header.
int Begin(const Np_Header &h, uint8_t *out, uint8_t size)
{
    memset(out, 0, size);
    NimboObjectDictionary::EncodeHeader(h, out);
    return size;
}

bool Fits(const uint8_t *in, int length, uint8_t size) { return in && length == size; }

} // namespace

NimboObjectDictionary::NimboObjectDictionary()
    : version(NP_SETTINGS_CURRENT_)
{
#if NP_OD_STORE_RECORDS_
    memset(stored, 0, sizeof(stored));
#endif
}

int NimboObjectDictionary::FindKey(uint8_t cmd)
{
    for (uint8_t key = 0; key < kEntries; ++key)
        if (kTable[key].cmd == cmd)
            return key;
    return -1;
}

int NimboObjectDictionary::RecordSize(uint8_t cmd) const
{
    const int key = FindKey(cmd);
    if (key < 0)
        return -1;
    if (key == kSettingsKey && version == NP_SETTINGS_V318_)
        return NP_SIZE_SETTINGS_V318_;
    return kTable[key].size;
}

int NimboObjectDictionary::SetVersion(int v)
{
    if (v != NP_SETTINGS_CURRENT_ && v != NP_SETTINGS_V318_)
        return NP_FAIL_;
#if NP_OD_STORE_RECORDS_
    if (v != version)
        stored[kSettingsKey] = false; // a copy in the other layout would be misread
#endif
    version = v;
    return NP_SUCC_;
}

int NimboObjectDictionary::VersionForFirmware(const uint8_t fwVersion[4])
{
    return (fwVersion[0] == 3 && fwVersion[1] != 0) ? NP_SETTINGS_V318_ : NP_SETTINGS_CURRENT_;
}

int NimboObjectDictionary::Write(const uint8_t *data, int length, Np_Header *headerOut)
{
    if (!data || length < NP_SIZE_HEADER_)
        return NP_FAIL_;
    Np_Header header;
    DecodeHeader(data, header);
    if (headerOut)
        *headerOut = header;
    const int key = FindKey(header.cmd);
    if (key < 0 || length != RecordSize(header.cmd))
        return NP_FAIL_;
#if NP_OD_STORE_RECORDS_
    memcpy(records[key], data, size_t(length));
    stored[key] = true;
#endif
    return NP_SUCC_;
}

int NimboObjectDictionary::Read(uint8_t cmd, const uint8_t **data, int *length) const
{
    const int key = FindKey(cmd);
#if NP_OD_STORE_RECORDS_
    if (key < 0)
        return NP_FAIL_;
    if (!stored[key])
        return NP_NORMAL_EXIT_;
    if (data)
        *data = records[key];
    if (length)
        *length = RecordSize(cmd);
    return NP_SUCC_;
#else
    (void)key;
    (void)data;
    (void)length;
    return NP_FAIL_;
#endif
}

void NimboObjectDictionary::EncodeHeader(const Np_Header &h, uint8_t *out)
{
    const uint32_t word = (uint32_t(h.cmd) & 0x7Fu) | (uint32_t(h.res) & 0x7u) << 7 |
                          (uint32_t(h.fromId) & 0x7FFu) << 10 | (uint32_t(h.toId) & 0x7FFu) << 21;
    PutU32(out, word);
}

void NimboObjectDictionary::DecodeHeader(const uint8_t *in, Np_Header &h)
{
    const uint32_t word = GetU32(in);
    h.cmd = uint8_t(word & 0x7Fu);
    h.res = uint8_t((word >> 7) & 0x7u);
    h.fromId = uint16_t((word >> 10) & 0x7FFu);
    h.toId = uint16_t((word >> 21) & 0x7FFu);
}

uint32_t NimboObjectDictionary::LegacyWordFromCurrent(uint32_t word)
{
    // The legacy word has no gyroErrFilter bit (3): bits 4..25 move down by one.
    return (word & 0x7u) | ((word >> 4) & 0x3FFFFFul) << 3;
}

uint32_t NimboObjectDictionary::CurrentWordFromLegacy(uint32_t word)
{
    return (word & 0x7u) | ((word >> 3) & 0x3FFFFFul) << 4;
}

int NimboObjectDictionary::Encode(const Np_HeartBeat &r, uint8_t *out)
{
    return Begin(r.header, out, NP_SIZE_HEARTBEAT_);
}

int NimboObjectDictionary::Encode(const Np_Request &r, uint8_t *out)
{
    Begin(r.header, out, NP_SIZE_REQUEST_);
    out[4] = r.cmdRequest;
    return NP_SIZE_REQUEST_;
}

int NimboObjectDictionary::Encode(const Np_Ack &r, uint8_t *out)
{
    Begin(r.header, out, NP_SIZE_ACK_);
    out[4] = r.cmdAck;
    return NP_SIZE_ACK_;
}

int NimboObjectDictionary::Encode(const Np_Settings &r, int v, uint8_t *out)
{
    const bool legacy = v == NP_SETTINGS_V318_;
    const uint8_t size = legacy ? NP_SIZE_SETTINGS_V318_ : NP_SIZE_SETTINGS_;
    Begin(r.header, out, size);
    PutU32(out + 4, legacy ? LegacyWordFromCurrent(r.settingsWord) : r.settingsWord);
    const uint16_t fields[] = {r.reserved0,      r.uart2Baud,   r.can1Bitrate, r.fusionParamAcc,
                               r.fusionParamMag, r.inhibitTime, r.silentTime,  r.odr};
    const uint8_t count = legacy ? 6 : 8;
    for (uint8_t i = 0; i < count; ++i)
        PutU16(out + 8 + 2 * i, fields[i]);
    return size;
}

int NimboObjectDictionary::Encode(const Np_Status &r, uint8_t *out)
{
    Begin(r.header, out, NP_SIZE_STATUS_);
    PutU32(out + 4, r.timeStamp);
    PutF32(out + 8, r.temperature);
    PutU16(out + 12, r.updateRate);
    PutU16(out + 14, r.sysState);
    return NP_SIZE_STATUS_;
}

int NimboObjectDictionary::Encode(const Np_Calib &r, uint8_t *out)
{
    Begin(r.header, out, NP_SIZE_CALIB_);
    out[4] = r.calibType;
    out[5] = r.calibCmd;
    PutU16(out + 6, r.calibCode);
    PutU32(out + 8, r.calibValue1);
    PutU32(out + 12, r.calibValue2);
    return NP_SIZE_CALIB_;
}

int NimboObjectDictionary::Encode(const Np_Id &r, uint8_t *out)
{
    Begin(r.header, out, NP_SIZE_ID_);
    memcpy(out + 4, r.fwVersion, 4);
    memcpy(out + 8, r.uuid, 20);
    memcpy(out + 28, r.name, 12);
    out[40] = r.idCmd;
    PutU16(out + 42, r.nodeId);
    return NP_SIZE_ID_;
}

int NimboObjectDictionary::Encode(const Np_Id_Ext &r, uint8_t *out)
{
    Begin(r.header, out, NP_SIZE_ID_EXT_);
    memcpy(out + 4, r.data, sizeof(r.data));
    return NP_SIZE_ID_EXT_;
}

int NimboObjectDictionary::Encode(const Np_NodeCtrl &r, uint8_t *out)
{
    Begin(r.header, out, NP_SIZE_NODECTRL_);
    memcpy(out + 4, r.uuid, 20);
    out[24] = r.ctrl;
    return NP_SIZE_NODECTRL_;
}

int NimboObjectDictionary::Encode(const Np_NSO &r, uint8_t *out)
{
    Begin(r.header, out, NP_SIZE_NSO_);
    out[4] = r.nsoCmd;
    PutU16(out + 6, r.nsoIndex);
    out[8] = r.nsoSubIndex;
    PutU32(out + 12, r.nsoValue);
    return NP_SIZE_NSO_;
}

int NimboObjectDictionary::Encode(const Np_Raw_GyroAccMag &r, uint8_t *out)
{
    Begin(r.header, out, NP_SIZE_RAW_);
    PutU32(out + 4, r.timeStamp);
    PutFloats(out + 8, r.gyro, 3);
    PutFloats(out + 20, r.acc, 3);
    PutFloats(out + 32, r.mag, 3);
    return NP_SIZE_RAW_;
}

int NimboObjectDictionary::Encode(const Np_Raw_GyroAccMag_Ext &r, uint8_t *out)
{
    Begin(r.header, out, NP_SIZE_RAW_EXT_);
    memcpy(out + 4, r.data, sizeof(r.data));
    return NP_SIZE_RAW_EXT_;
}

int NimboObjectDictionary::Encode(const Np_Quaternion &r, uint8_t *out)
{
    Begin(r.header, out, NP_SIZE_Q_);
    PutU32(out + 4, r.timeStamp);
    PutFloats(out + 8, r.q, 4);
    return NP_SIZE_Q_;
}

int NimboObjectDictionary::Encode(const Np_Euler &r, uint8_t *out)
{
    Begin(r.header, out, NP_SIZE_EULER_);
    PutU32(out + 4, r.timeStamp);
    PutF32(out + 8, r.psi);
    PutF32(out + 12, r.theta);
    PutF32(out + 16, r.phi);
    return NP_SIZE_EULER_;
}

int NimboObjectDictionary::Encode(const Np_RPY &r, uint8_t *out)
{
    Begin(r.header, out, NP_SIZE_RPY_);
    PutU32(out + 4, r.timeStamp);
    PutF32(out + 8, r.roll);
    PutF32(out + 12, r.pitch);
    PutF32(out + 16, r.yaw);
    return NP_SIZE_RPY_;
}

int NimboObjectDictionary::Encode(const Np_Gravity &r, uint8_t *out)
{
    Begin(r.header, out, NP_SIZE_GRAVITY_);
    PutU32(out + 4, r.timeStamp);
    PutFloats(out + 8, r.g, 3);
    return NP_SIZE_GRAVITY_;
}

int NimboObjectDictionary::Encode(const Np_Combo &r, uint8_t *out)
{
    Begin(r.header, out, NP_SIZE_COMBO_);
    PutU32(out + 4, r.timeStamp);
    out[8] = r.qos;
    PutU16(out + 10, r.heading);
    PutU32(out + 12, uint32_t(r.gyroZ));
    PutU32(out + 16, uint32_t(r.value2));
    return NP_SIZE_COMBO_;
}

int NimboObjectDictionary::Encode(const Np_Customized &r, uint8_t *out)
{
    Begin(r.header, out, NP_SIZE_CUSTOMIZED_);
    memcpy(out + 4, r.data, sizeof(r.data));
    return NP_SIZE_CUSTOMIZED_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_HeartBeat &r)
{
    if (!Fits(in, length, NP_SIZE_HEARTBEAT_))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    return NP_SUCC_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_Request &r)
{
    if (!Fits(in, length, NP_SIZE_REQUEST_))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    r.cmdRequest = in[4];
    return NP_SUCC_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_Ack &r)
{
    if (!Fits(in, length, NP_SIZE_ACK_))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    r.cmdAck = in[4];
    return NP_SUCC_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_Settings &r)
{
    const bool legacy = length == NP_SIZE_SETTINGS_V318_;
    if (!in || (length != NP_SIZE_SETTINGS_ && !legacy))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    const uint32_t word = GetU32(in + 4);
    r.settingsWord = legacy ? CurrentWordFromLegacy(word) : word;
    uint16_t *fields[] = {&r.reserved0,      &r.uart2Baud,   &r.can1Bitrate, &r.fusionParamAcc,
                          &r.fusionParamMag, &r.inhibitTime, &r.silentTime,  &r.odr};
    for (uint8_t i = 0; i < 8; ++i)
        *fields[i] = (legacy && i >= 6) ? 0 : GetU16(in + 8 + 2 * i);
    return NP_SUCC_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_Status &r)
{
    if (!Fits(in, length, NP_SIZE_STATUS_))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    r.timeStamp = GetU32(in + 4);
    r.temperature = GetF32(in + 8);
    r.updateRate = GetU16(in + 12);
    r.sysState = GetU16(in + 14);
    return NP_SUCC_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_Calib &r)
{
    if (!Fits(in, length, NP_SIZE_CALIB_))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    r.calibType = in[4];
    r.calibCmd = in[5];
    r.calibCode = GetU16(in + 6);
    r.calibValue1 = GetU32(in + 8);
    r.calibValue2 = GetU32(in + 12);
    return NP_SUCC_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_Id &r)
{
    if (!Fits(in, length, NP_SIZE_ID_))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    memcpy(r.fwVersion, in + 4, 4);
    memcpy(r.uuid, in + 8, 20);
    memcpy(r.name, in + 28, 12);
    r.idCmd = in[40];
    r.nodeId = GetU16(in + 42);
    return NP_SUCC_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_Id_Ext &r)
{
    if (!Fits(in, length, NP_SIZE_ID_EXT_))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    memcpy(r.data, in + 4, sizeof(r.data));
    return NP_SUCC_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_NodeCtrl &r)
{
    if (!Fits(in, length, NP_SIZE_NODECTRL_))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    memcpy(r.uuid, in + 4, 20);
    r.ctrl = in[24];
    return NP_SUCC_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_NSO &r)
{
    if (!Fits(in, length, NP_SIZE_NSO_))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    r.nsoCmd = in[4];
    r.nsoIndex = GetU16(in + 6);
    r.nsoSubIndex = in[8];
    r.nsoValue = GetU32(in + 12);
    return NP_SUCC_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_Raw_GyroAccMag &r)
{
    if (!Fits(in, length, NP_SIZE_RAW_))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    r.timeStamp = GetU32(in + 4);
    GetFloats(in + 8, r.gyro, 3);
    GetFloats(in + 20, r.acc, 3);
    GetFloats(in + 32, r.mag, 3);
    return NP_SUCC_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_Raw_GyroAccMag_Ext &r)
{
    if (!Fits(in, length, NP_SIZE_RAW_EXT_))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    memcpy(r.data, in + 4, sizeof(r.data));
    return NP_SUCC_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_Quaternion &r)
{
    if (!Fits(in, length, NP_SIZE_Q_))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    r.timeStamp = GetU32(in + 4);
    GetFloats(in + 8, r.q, 4);
    return NP_SUCC_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_Euler &r)
{
    if (!Fits(in, length, NP_SIZE_EULER_))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    r.timeStamp = GetU32(in + 4);
    r.psi = GetF32(in + 8);
    r.theta = GetF32(in + 12);
    r.phi = GetF32(in + 16);
    return NP_SUCC_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_RPY &r)
{
    if (!Fits(in, length, NP_SIZE_RPY_))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    r.timeStamp = GetU32(in + 4);
    r.roll = GetF32(in + 8);
    r.pitch = GetF32(in + 12);
    r.yaw = GetF32(in + 16);
    return NP_SUCC_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_Gravity &r)
{
    if (!Fits(in, length, NP_SIZE_GRAVITY_))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    r.timeStamp = GetU32(in + 4);
    GetFloats(in + 8, r.g, 3);
    return NP_SUCC_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_Combo &r)
{
    if (!Fits(in, length, NP_SIZE_COMBO_))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    r.timeStamp = GetU32(in + 4);
    r.qos = in[8];
    r.heading = GetU16(in + 10);
    r.gyroZ = int32_t(GetU32(in + 12));
    r.value2 = int32_t(GetU32(in + 16));
    return NP_SUCC_;
}

int NimboObjectDictionary::Decode(const uint8_t *in, int length, Np_Customized &r)
{
    if (!Fits(in, length, NP_SIZE_CUSTOMIZED_))
        return NP_FAIL_;
    DecodeHeader(in, r.header);
    memcpy(r.data, in + 4, sizeof(r.data));
    return NP_SUCC_;
}
