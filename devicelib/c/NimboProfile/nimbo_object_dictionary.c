#include "nimbo_object_dictionary.h"

#include <string.h>

/* Floats travel as IEEE 754 single precision, which the float type of every supported CPU is. */
typedef char Np_FloatMustBe32Bits[sizeof(float) == 4 ? 1 : -1];

static const struct
{
    uint8_t cmd;
    uint8_t size;
} kTable[NP_OD_ENTRIES_] = {
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

#define NP_SETTINGS_KEY_ 3

/* ---- little-endian helpers ---- */

static void PutU16(uint8_t *out, uint16_t v)
{
    out[0] = (uint8_t)(v & 0xFFu);
    out[1] = (uint8_t)(v >> 8);
}

static void PutU32(uint8_t *out, uint32_t v)
{
    out[0] = (uint8_t)(v & 0xFFu);
    out[1] = (uint8_t)((v >> 8) & 0xFFu);
    out[2] = (uint8_t)((v >> 16) & 0xFFu);
    out[3] = (uint8_t)(v >> 24);
}

static void PutF32(uint8_t *out, float f)
{
    uint32_t v;
    memcpy(&v, &f, sizeof(v));
    PutU32(out, v);
}

static uint16_t GetU16(const uint8_t *in) { return (uint16_t)(in[0] | ((unsigned)in[1] << 8)); }

static uint32_t GetU32(const uint8_t *in)
{
    return (uint32_t)in[0] | ((uint32_t)in[1] << 8) | ((uint32_t)in[2] << 16) | ((uint32_t)in[3] << 24);
}

static float GetF32(const uint8_t *in)
{
    const uint32_t v = GetU32(in);
    float f;
    memcpy(&f, &v, sizeof(f));
    return f;
}

static void PutF32Array(uint8_t *out, const float *v, int n)
{
    int i;
    for (i = 0; i < n; ++i)
        PutF32(out + 4 * i, v[i]);
}

static void GetF32Array(const uint8_t *in, float *v, int n)
{
    int i;
    for (i = 0; i < n; ++i)
        v[i] = GetF32(in + 4 * i);
}

/* ---- dictionary ---- */

void NimboOD_Init(NimboObjectDictionary *od)
{
    memset(od, 0, sizeof(*od));
    od->version = NP_SETTINGS_CURRENT_;
}

int NimboOD_FindKey(uint8_t cmd)
{
    int key;
    for (key = 0; key < NP_OD_ENTRIES_; ++key)
        if (kTable[key].cmd == cmd)
            return key;
    return -1;
}

int NimboOD_RecordSize(const NimboObjectDictionary *od, uint8_t cmd)
{
    const int key = NimboOD_FindKey(cmd);
    if (key < 0)
        return -1;
    if (key == NP_SETTINGS_KEY_ && od->version == NP_SETTINGS_V318_)
        return NP_SIZE_SETTINGS_V318_;
    return kTable[key].size;
}

int NimboOD_SetVersion(NimboObjectDictionary *od, int version)
{
    if (version != NP_SETTINGS_CURRENT_ && version != NP_SETTINGS_V318_)
        return NP_FAIL_;
    if (version != od->version)
        od->stored[NP_SETTINGS_KEY_] = 0; /* a copy in the other layout would be misread */
    od->version = version;
    return NP_SUCC_;
}

int NimboOD_VersionForFirmware(const uint8_t fwVersion[4])
{
    return (fwVersion[0] == 3 && fwVersion[1] != 0) ? NP_SETTINGS_V318_ : NP_SETTINGS_CURRENT_;
}

int NimboOD_Write(NimboObjectDictionary *od, const uint8_t *data, int length, Np_Header *headerOut)
{
    Np_Header header;
    int key;
    if (!data || length < NP_SIZE_HEADER_)
        return NP_FAIL_;
    Np_Header_Decode(data, &header);
    if (headerOut)
        *headerOut = header;
    key = NimboOD_FindKey(header.cmd);
    if (key < 0 || length != NimboOD_RecordSize(od, header.cmd))
        return NP_FAIL_;
    memcpy(od->records[key], data, (size_t)length);
    od->stored[key] = 1;
    return NP_SUCC_;
}

int NimboOD_Read(const NimboObjectDictionary *od, uint8_t cmd, const uint8_t **data, int *length)
{
    const int key = NimboOD_FindKey(cmd);
    if (key < 0)
        return NP_FAIL_;
    if (!od->stored[key])
        return NP_NORMAL_EXIT_;
    if (data)
        *data = od->records[key];
    if (length)
        *length = NimboOD_RecordSize(od, cmd);
    return NP_SUCC_;
}

/* ---- header: cmd bits 0-6, res 7-9, fromId 10-20, toId 21-31 ---- */

void Np_Header_Encode(const Np_Header *h, uint8_t *out)
{
    const uint32_t word = ((uint32_t)h->cmd & 0x7Fu) | (((uint32_t)h->res & 0x7u) << 7) |
                          (((uint32_t)h->fromId & 0x7FFu) << 10) | (((uint32_t)h->toId & 0x7FFu) << 21);
    PutU32(out, word);
}

void Np_Header_Decode(const uint8_t *in, Np_Header *h)
{
    const uint32_t word = GetU32(in);
    h->cmd = (uint8_t)(word & 0x7Fu);
    h->res = (uint8_t)((word >> 7) & 0x7u);
    h->fromId = (uint16_t)((word >> 10) & 0x7FFu);
    h->toId = (uint16_t)((word >> 21) & 0x7FFu);
}

/* Every decoder starts the same way: the exact length, then the header. */
#define NP_DECODE_BEGIN_(size)                                                                               \
    if (!in || !r || length != (size))                                                                       \
        return NP_FAIL_;                                                                                     \
    memset(r, 0, sizeof(*r));                                                                                \
    Np_Header_Decode(in, &r->header)

#define NP_ENCODE_BEGIN_(size)                                                                               \
    memset(out, 0, (size));                                                                                  \
    Np_Header_Encode(&r->header, out)

/* ---- records ---- */

int Np_HeartBeat_Encode(const Np_HeartBeat *r, uint8_t *out)
{
    NP_ENCODE_BEGIN_(NP_SIZE_HEARTBEAT_);
    return NP_SIZE_HEARTBEAT_;
}

int Np_HeartBeat_Decode(const uint8_t *in, int length, Np_HeartBeat *r)
{
    NP_DECODE_BEGIN_(NP_SIZE_HEARTBEAT_);
    return NP_SUCC_;
}

int Np_Request_Encode(const Np_Request *r, uint8_t *out)
{
    NP_ENCODE_BEGIN_(NP_SIZE_REQUEST_);
    out[4] = r->cmdRequest;
    return NP_SIZE_REQUEST_;
}

int Np_Request_Decode(const uint8_t *in, int length, Np_Request *r)
{
    NP_DECODE_BEGIN_(NP_SIZE_REQUEST_);
    r->cmdRequest = in[4];
    return NP_SUCC_;
}

int Np_Ack_Encode(const Np_Ack *r, uint8_t *out)
{
    NP_ENCODE_BEGIN_(NP_SIZE_ACK_);
    out[4] = r->cmdAck;
    return NP_SIZE_ACK_;
}

int Np_Ack_Decode(const uint8_t *in, int length, Np_Ack *r)
{
    NP_DECODE_BEGIN_(NP_SIZE_ACK_);
    r->cmdAck = in[4];
    return NP_SUCC_;
}

uint32_t Np_Settings_LegacyWordFromCurrent(uint32_t word)
{
    /* Bits 0-2 stay, bit 3 has no place, bits 4-25 move down to 3-24, the rest is not sent. */
    return (uint32_t)((word & 0x7u) | (((word >> 4) & 0x3FFFFFu) << 3));
}

uint32_t Np_Settings_CurrentWordFromLegacy(uint32_t word)
{
    return (uint32_t)((word & 0x7u) | (((word >> 3) & 0x3FFFFFu) << 4));
}

int Np_Settings_Encode(const Np_Settings *r, int version, uint8_t *out)
{
    const int legacy = version == NP_SETTINGS_V318_;
    const int size = legacy ? NP_SIZE_SETTINGS_V318_ : NP_SIZE_SETTINGS_;
    NP_ENCODE_BEGIN_((size_t)size);
    PutU32(out + 4, legacy ? Np_Settings_LegacyWordFromCurrent(r->settingsWord) : r->settingsWord);
    PutU16(out + 8, r->reserved0);
    PutU16(out + 10, r->uart2Baud);
    PutU16(out + 12, r->can1Bitrate);
    PutU16(out + 14, r->fusionParamAcc);
    PutU16(out + 16, r->fusionParamMag);
    PutU16(out + 18, r->inhibitTime);
    if (!legacy) {
        PutU16(out + 20, r->silentTime);
        PutU16(out + 22, r->odr);
    }
    return size;
}

int Np_Settings_Decode(const uint8_t *in, int length, Np_Settings *r)
{
    if (!in || !r || (length != NP_SIZE_SETTINGS_ && length != NP_SIZE_SETTINGS_V318_))
        return NP_FAIL_;
    memset(r, 0, sizeof(*r));
    Np_Header_Decode(in, &r->header);
    r->settingsWord = GetU32(in + 4);
    if (length == NP_SIZE_SETTINGS_V318_)
        r->settingsWord = Np_Settings_CurrentWordFromLegacy(r->settingsWord);
    r->reserved0 = GetU16(in + 8);
    r->uart2Baud = GetU16(in + 10);
    r->can1Bitrate = GetU16(in + 12);
    r->fusionParamAcc = GetU16(in + 14);
    r->fusionParamMag = GetU16(in + 16);
    r->inhibitTime = GetU16(in + 18);
    if (length == NP_SIZE_SETTINGS_) {
        r->silentTime = GetU16(in + 20);
        r->odr = GetU16(in + 22);
    }
    return NP_SUCC_;
}

int Np_Status_Encode(const Np_Status *r, uint8_t *out)
{
    NP_ENCODE_BEGIN_(NP_SIZE_STATUS_);
    PutU32(out + 4, r->timeStamp);
    PutF32(out + 8, r->temperature);
    PutU16(out + 12, r->updateRate);
    PutU16(out + 14, r->sysState);
    return NP_SIZE_STATUS_;
}

int Np_Status_Decode(const uint8_t *in, int length, Np_Status *r)
{
    NP_DECODE_BEGIN_(NP_SIZE_STATUS_);
    r->timeStamp = GetU32(in + 4);
    r->temperature = GetF32(in + 8);
    r->updateRate = GetU16(in + 12);
    r->sysState = GetU16(in + 14);
    return NP_SUCC_;
}

int Np_Calib_Encode(const Np_Calib *r, uint8_t *out)
{
    NP_ENCODE_BEGIN_(NP_SIZE_CALIB_);
    out[4] = r->calibType;
    out[5] = r->calibCmd;
    PutU16(out + 6, r->calibCode);
    PutU32(out + 8, r->calibValue1);
    PutU32(out + 12, r->calibValue2);
    return NP_SIZE_CALIB_;
}

int Np_Calib_Decode(const uint8_t *in, int length, Np_Calib *r)
{
    NP_DECODE_BEGIN_(NP_SIZE_CALIB_);
    r->calibType = in[4];
    r->calibCmd = in[5];
    r->calibCode = GetU16(in + 6);
    r->calibValue1 = GetU32(in + 8);
    r->calibValue2 = GetU32(in + 12);
    return NP_SUCC_;
}

int Np_Id_Encode(const Np_Id *r, uint8_t *out)
{
    NP_ENCODE_BEGIN_(NP_SIZE_ID_);
    memcpy(out + 4, r->fwVersion, 4);
    memcpy(out + 8, r->uuid, 20);
    memcpy(out + 28, r->name, 12);
    out[40] = r->idCmd;
    PutU16(out + 42, r->nodeId);
    return NP_SIZE_ID_;
}

int Np_Id_Decode(const uint8_t *in, int length, Np_Id *r)
{
    NP_DECODE_BEGIN_(NP_SIZE_ID_);
    memcpy(r->fwVersion, in + 4, 4);
    memcpy(r->uuid, in + 8, 20);
    memcpy(r->name, in + 28, 12);
    r->idCmd = in[40];
    r->nodeId = GetU16(in + 42);
    return NP_SUCC_;
}

int Np_Id_Ext_Encode(const Np_Id_Ext *r, uint8_t *out)
{
    NP_ENCODE_BEGIN_(NP_SIZE_ID_EXT_);
    memcpy(out + 4, r->data, sizeof(r->data));
    return NP_SIZE_ID_EXT_;
}

int Np_Id_Ext_Decode(const uint8_t *in, int length, Np_Id_Ext *r)
{
    NP_DECODE_BEGIN_(NP_SIZE_ID_EXT_);
    memcpy(r->data, in + 4, sizeof(r->data));
    return NP_SUCC_;
}

int Np_NodeCtrl_Encode(const Np_NodeCtrl *r, uint8_t *out)
{
    NP_ENCODE_BEGIN_(NP_SIZE_NODECTRL_);
    memcpy(out + 4, r->uuid, 20);
    out[24] = r->ctrl;
    return NP_SIZE_NODECTRL_;
}

int Np_NodeCtrl_Decode(const uint8_t *in, int length, Np_NodeCtrl *r)
{
    NP_DECODE_BEGIN_(NP_SIZE_NODECTRL_);
    memcpy(r->uuid, in + 4, 20);
    r->ctrl = in[24];
    return NP_SUCC_;
}

int Np_NSO_Encode(const Np_NSO *r, uint8_t *out)
{
    NP_ENCODE_BEGIN_(NP_SIZE_NSO_);
    out[4] = r->nsoCmd;
    PutU16(out + 6, r->nsoIndex);
    out[8] = r->nsoSubIndex;
    PutU32(out + 12, r->nsoValue);
    return NP_SIZE_NSO_;
}

int Np_NSO_Decode(const uint8_t *in, int length, Np_NSO *r)
{
    NP_DECODE_BEGIN_(NP_SIZE_NSO_);
    r->nsoCmd = in[4];
    r->nsoIndex = GetU16(in + 6);
    r->nsoSubIndex = in[8];
    r->nsoValue = GetU32(in + 12);
    return NP_SUCC_;
}

int Np_Raw_GyroAccMag_Encode(const Np_Raw_GyroAccMag *r, uint8_t *out)
{
    NP_ENCODE_BEGIN_(NP_SIZE_RAW_);
    PutU32(out + 4, r->timeStamp);
    PutF32Array(out + 8, r->gyro, 3);
    PutF32Array(out + 20, r->acc, 3);
    PutF32Array(out + 32, r->mag, 3);
    return NP_SIZE_RAW_;
}

int Np_Raw_GyroAccMag_Decode(const uint8_t *in, int length, Np_Raw_GyroAccMag *r)
{
    NP_DECODE_BEGIN_(NP_SIZE_RAW_);
    r->timeStamp = GetU32(in + 4);
    GetF32Array(in + 8, r->gyro, 3);
    GetF32Array(in + 20, r->acc, 3);
    GetF32Array(in + 32, r->mag, 3);
    return NP_SUCC_;
}

int Np_Raw_GyroAccMag_Ext_Encode(const Np_Raw_GyroAccMag_Ext *r, uint8_t *out)
{
    NP_ENCODE_BEGIN_(NP_SIZE_RAW_EXT_);
    memcpy(out + 4, r->data, sizeof(r->data));
    return NP_SIZE_RAW_EXT_;
}

int Np_Raw_GyroAccMag_Ext_Decode(const uint8_t *in, int length, Np_Raw_GyroAccMag_Ext *r)
{
    NP_DECODE_BEGIN_(NP_SIZE_RAW_EXT_);
    memcpy(r->data, in + 4, sizeof(r->data));
    return NP_SUCC_;
}

int Np_Quaternion_Encode(const Np_Quaternion *r, uint8_t *out)
{
    NP_ENCODE_BEGIN_(NP_SIZE_Q_);
    PutU32(out + 4, r->timeStamp);
    PutF32Array(out + 8, r->q, 4);
    return NP_SIZE_Q_;
}

int Np_Quaternion_Decode(const uint8_t *in, int length, Np_Quaternion *r)
{
    NP_DECODE_BEGIN_(NP_SIZE_Q_);
    r->timeStamp = GetU32(in + 4);
    GetF32Array(in + 8, r->q, 4);
    return NP_SUCC_;
}

int Np_Euler_Encode(const Np_Euler *r, uint8_t *out)
{
    NP_ENCODE_BEGIN_(NP_SIZE_EULER_);
    PutU32(out + 4, r->timeStamp);
    PutF32(out + 8, r->psi);
    PutF32(out + 12, r->theta);
    PutF32(out + 16, r->phi);
    return NP_SIZE_EULER_;
}

int Np_Euler_Decode(const uint8_t *in, int length, Np_Euler *r)
{
    NP_DECODE_BEGIN_(NP_SIZE_EULER_);
    r->timeStamp = GetU32(in + 4);
    r->psi = GetF32(in + 8);
    r->theta = GetF32(in + 12);
    r->phi = GetF32(in + 16);
    return NP_SUCC_;
}

int Np_RPY_Encode(const Np_RPY *r, uint8_t *out)
{
    NP_ENCODE_BEGIN_(NP_SIZE_RPY_);
    PutU32(out + 4, r->timeStamp);
    PutF32(out + 8, r->roll);
    PutF32(out + 12, r->pitch);
    PutF32(out + 16, r->yaw);
    return NP_SIZE_RPY_;
}

int Np_RPY_Decode(const uint8_t *in, int length, Np_RPY *r)
{
    NP_DECODE_BEGIN_(NP_SIZE_RPY_);
    r->timeStamp = GetU32(in + 4);
    r->roll = GetF32(in + 8);
    r->pitch = GetF32(in + 12);
    r->yaw = GetF32(in + 16);
    return NP_SUCC_;
}

int Np_Gravity_Encode(const Np_Gravity *r, uint8_t *out)
{
    NP_ENCODE_BEGIN_(NP_SIZE_GRAVITY_);
    PutU32(out + 4, r->timeStamp);
    PutF32Array(out + 8, r->g, 3);
    return NP_SIZE_GRAVITY_;
}

int Np_Gravity_Decode(const uint8_t *in, int length, Np_Gravity *r)
{
    NP_DECODE_BEGIN_(NP_SIZE_GRAVITY_);
    r->timeStamp = GetU32(in + 4);
    GetF32Array(in + 8, r->g, 3);
    return NP_SUCC_;
}

int Np_Combo_Encode(const Np_Combo *r, uint8_t *out)
{
    NP_ENCODE_BEGIN_(NP_SIZE_COMBO_);
    PutU32(out + 4, r->timeStamp);
    out[8] = r->qos;
    PutU16(out + 10, r->heading);
    PutU32(out + 12, (uint32_t)r->gyroZ);
    PutU32(out + 16, (uint32_t)r->value2);
    return NP_SIZE_COMBO_;
}

/* Two's complement from an unsigned 32-bit value without relying on implementation-defined casts. */
static int32_t ToInt32(uint32_t v)
{
    if (v <= 0x7FFFFFFFu)
        return (int32_t)v;
    return (int32_t)(v - 0x80000000u) - (int32_t)0x7FFFFFFF - 1;
}

int Np_Combo_Decode(const uint8_t *in, int length, Np_Combo *r)
{
    NP_DECODE_BEGIN_(NP_SIZE_COMBO_);
    r->timeStamp = GetU32(in + 4);
    r->qos = in[8];
    r->heading = GetU16(in + 10);
    r->gyroZ = ToInt32(GetU32(in + 12));
    r->value2 = ToInt32(GetU32(in + 16));
    return NP_SUCC_;
}

int Np_Customized_Encode(const Np_Customized *r, uint8_t *out)
{
    NP_ENCODE_BEGIN_(NP_SIZE_CUSTOMIZED_);
    memcpy(out + 4, r->data, sizeof(r->data));
    return NP_SIZE_CUSTOMIZED_;
}

int Np_Customized_Decode(const uint8_t *in, int length, Np_Customized *r)
{
    NP_DECODE_BEGIN_(NP_SIZE_CUSTOMIZED_);
    memcpy(r->data, in + 4, sizeof(r->data));
    return NP_SUCC_;
}
