#include "nimbo_profile.h"

int NimboProfile_Init(NimboProfile *p, uint16_t nodeId, NimboWriteFunction write,
                      NimboRecordFunction onRecord, void *user)
{
    NimboProtocol_Init(&p->protocol, NP_MAX_IN_PAYLOAD_, NP_MAX_OUT_PAYLOAD_);
    NimboOD_Init(&p->od);
    p->nodeId = 0;
    p->write = write;
    p->onRecord = onRecord;
    p->user = user;
    p->sRecvPkg_NotForNode = 0;
    p->sRecvPkg_Refused = 0;
    return NimboProfile_SetNodeId(p, nodeId);
}

int NimboProfile_SetNodeId(NimboProfile *p, uint16_t nodeId)
{
    if (nodeId > NP_ID_MAX_)
        return NP_FAIL_;
    p->nodeId = nodeId;
    return NP_SUCC_;
}

uint16_t NimboProfile_GetNodeId(const NimboProfile *p) { return p->nodeId; }

int NimboProfile_SetSettingsVersion(NimboProfile *p, int version)
{
    return NimboOD_SetVersion(&p->od, version);
}

/* Filter, store and deliver one checked payload; returns 1 when it reached the callback. */
static int Accept(NimboProfile *p, const uint8_t *payload, int size)
{
    Np_Header header;
    if (size < NP_SIZE_HEADER_) {
        ++p->sRecvPkg_Refused;
        return 0;
    }
    Np_Header_Decode(payload, &header);
    if (header.res != 0 || (header.toId != p->nodeId && header.toId != NP_ID_BROADCAST_)) {
        ++p->sRecvPkg_NotForNode;
        return 0;
    }
    if (NimboOD_Write(&p->od, payload, size, 0) != NP_SUCC_) {
        ++p->sRecvPkg_Refused;
        return 0;
    }
    if (p->onRecord)
        p->onRecord(p->user, &header, payload, size);
    return 1;
}

int NimboProfile_Receive(NimboProfile *p, const uint8_t *data, int size)
{
    int delivered = 0;
    int offset = 0;
    if (p->protocol.iDS < 1)
        return 0;
    if (!data || size < 0)
        size = 0;
    /* Pieces no larger than the free queue space, each drained at once: no unread byte is lost. */
    do {
        const uint8_t *payload = 0;
        int payloadSize = 0;
        int piece = size - offset;
        int result;
        if (piece > NimboProtocol_InQueueFree(&p->protocol))
            piece = NimboProtocol_InQueueFree(&p->protocol);
        result = NimboProtocol_AssembleInputPackage(&p->protocol, data ? data + offset : 0, piece, &payload,
                                                    &payloadSize);
        offset += piece;
        while (1) {
            if (result == NP_SUCC_)
                delivered += Accept(p, payload, payloadSize);
            if (result == NP_QUEUE_EMPTY_)
                break;
            result = NimboProtocol_AssembleInputPackage(&p->protocol, 0, 0, &payload, &payloadSize);
        }
    } while (offset < size);
    return delivered;
}

int NimboProfile_SendPayload(NimboProfile *p, uint8_t cmd, uint16_t toId, uint8_t *payload, int size)
{
    Np_Header header;
    const uint8_t *frame = 0;
    int frameSize = 0;
    if (!payload || size < NP_SIZE_HEADER_ || toId > NP_ID_MAX_)
        return NP_FAIL_;
    header.cmd = cmd;
    header.res = 0;
    header.fromId = p->nodeId;
    header.toId = toId;
    Np_Header_Encode(&header, payload);
    if (NimboProtocol_CreateOutputPackage(&p->protocol, payload, size, &frame, &frameSize) != NP_SUCC_)
        return NP_FAIL_;
    if (!p->write)
        return NP_FAIL_;
    return p->write(p->user, frame, frameSize);
}

int NimboProfile_Send_Np_HeartBeat(NimboProfile *p, uint16_t toId)
{
    Np_HeartBeat r = {{0, 0, 0, 0}};
    uint8_t b[NP_SIZE_HEARTBEAT_];
    return NimboProfile_SendPayload(p, NP_CMD_HEARTBEAT_, toId, b, Np_HeartBeat_Encode(&r, b));
}

int NimboProfile_Send_Np_Request(NimboProfile *p, uint16_t toId, uint8_t cmdRequest)
{
    Np_Request r = {{0, 0, 0, 0}, 0};
    uint8_t b[NP_SIZE_REQUEST_];
    r.cmdRequest = cmdRequest;
    return NimboProfile_SendPayload(p, NP_CMD_REQUEST_, toId, b, Np_Request_Encode(&r, b));
}

int NimboProfile_Send_Np_Ack(NimboProfile *p, uint16_t toId, uint8_t cmdAck)
{
    Np_Ack r = {{0, 0, 0, 0}, 0};
    uint8_t b[NP_SIZE_ACK_];
    r.cmdAck = cmdAck;
    return NimboProfile_SendPayload(p, NP_CMD_ACK_, toId, b, Np_Ack_Encode(&r, b));
}

int NimboProfile_Send_Np_Settings(NimboProfile *p, uint16_t toId, const Np_Settings *r)
{
    uint8_t b[NP_SIZE_SETTINGS_];
    return NimboProfile_SendPayload(p, NP_CMD_SETTING, toId, b, Np_Settings_Encode(r, p->od.version, b));
}

/* The remaining senders differ only in type, command and encoder. */
#define NP_DEFINE_SENDER_(Name, Type, cmd, size, encode)                                                     \
    int NimboProfile_Send_##Name(NimboProfile *p, uint16_t toId, const Type *r)                              \
    {                                                                                                        \
        uint8_t b[size];                                                                                     \
        return NimboProfile_SendPayload(p, cmd, toId, b, encode(r, b));                                      \
    }

NP_DEFINE_SENDER_(Np_Status, Np_Status, NP_CMD_STATUS_, NP_SIZE_STATUS_, Np_Status_Encode)
NP_DEFINE_SENDER_(Np_Calib, Np_Calib, NP_CMD_CALIB_, NP_SIZE_CALIB_, Np_Calib_Encode)
NP_DEFINE_SENDER_(Np_Id, Np_Id, NP_CMD_ID_, NP_SIZE_ID_, Np_Id_Encode)
NP_DEFINE_SENDER_(Np_Id_Ext, Np_Id_Ext, NP_CMD_ID_EXT_, NP_SIZE_ID_EXT_, Np_Id_Ext_Encode)
NP_DEFINE_SENDER_(Np_NodeCtrl, Np_NodeCtrl, NP_CMD_NODECTRL_, NP_SIZE_NODECTRL_, Np_NodeCtrl_Encode)
NP_DEFINE_SENDER_(Np_NSO, Np_NSO, NP_CMD_NSO_, NP_SIZE_NSO_, Np_NSO_Encode)
NP_DEFINE_SENDER_(Np_Raw_GyroAccMag, Np_Raw_GyroAccMag, NP_CMD_Raw_GYRO_ACC_MAG_, NP_SIZE_RAW_,
                  Np_Raw_GyroAccMag_Encode)
NP_DEFINE_SENDER_(Np_Raw_GyroAccMag_Ext, Np_Raw_GyroAccMag_Ext, NP_CMD_Raw_GYRO_ACC_MAG_EXT_,
                  NP_SIZE_RAW_EXT_, Np_Raw_GyroAccMag_Ext_Encode)
NP_DEFINE_SENDER_(Np_Q_s1_s, Np_Q_s1_s, NP_CMD_Q_S1_S_, NP_SIZE_Q_, Np_Quaternion_Encode)
NP_DEFINE_SENDER_(Np_Q_s1_e, Np_Q_s1_e, NP_CMD_Q_S1_E_, NP_SIZE_Q_, Np_Quaternion_Encode)
NP_DEFINE_SENDER_(Np_Euler_s1_s, Np_Euler_s1_s, NP_CMD_EULER_S1_S_, NP_SIZE_EULER_, Np_Euler_Encode)
NP_DEFINE_SENDER_(Np_Euler_s1_e, Np_Euler_s1_e, NP_CMD_EULER_S1_E_, NP_SIZE_EULER_, Np_Euler_Encode)
NP_DEFINE_SENDER_(Np_RPY, Np_RPY, NP_CMD_RPY_, NP_SIZE_RPY_, Np_RPY_Encode)
NP_DEFINE_SENDER_(Np_Gravity, Np_Gravity, NP_CMD_GRAVITY_, NP_SIZE_GRAVITY_, Np_Gravity_Encode)
NP_DEFINE_SENDER_(Np_Combo, Np_Combo, NP_CMD_COMBO_, NP_SIZE_COMBO_, Np_Combo_Encode)
NP_DEFINE_SENDER_(Np_Customized, Np_Customized, NP_CMD_CUSTOMIZED_, NP_SIZE_CUSTOMIZED_, Np_Customized_Encode)
