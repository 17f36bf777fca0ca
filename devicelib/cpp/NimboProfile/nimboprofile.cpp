#include "nimboprofile.h"

NimboProfile::NimboProfile()
    : nodeId(NP_ID_UNSPECIFIED_)
    , write(0)
    , onRecord(0)
    , user(0)
    , sRecvPkg_NotForNode(0)
    , sRecvPkg_Refused(0)
{}

int NimboProfile::Init(uint16_t id, WriteFunction writeFunction, RecordFunction recordFunction,
                       void *userData)
{
    protocol.Init(NP_MAX_RECORD_SIZE_, NP_MAX_RECORD_SIZE_);
    write = writeFunction;
    onRecord = recordFunction;
    user = userData;
    sRecvPkg_NotForNode = 0;
    sRecvPkg_Refused = 0;
    return SetNodeId(id);
}

int NimboProfile::SetNodeId(uint16_t id)
{
    if (id > NP_ID_MAX_)
        return NP_FAIL_;
    nodeId = id;
    return NP_SUCC_;
}

// Filters, checks and delivers one payload; true when it reached the callback.
bool NimboProfile::Accept(const uint8_t *payload, int size)
{
    if (size < NP_SIZE_HEADER_) {
        ++sRecvPkg_Refused;
        return false;
    }
    Np_Header header;
    NimboObjectDictionary::DecodeHeader(payload, header);
    if (header.res != 0 || (header.toId != nodeId && header.toId != NP_ID_BROADCAST_)) {
        ++sRecvPkg_NotForNode;
        return false;
    }
    if (od.Write(payload, size, 0) != NP_SUCC_) {
        ++sRecvPkg_Refused;
        return false;
    }
    if (onRecord)
        onRecord(user, header, payload, size);
    return true;
}

int NimboProfile::Receive(const uint8_t *data, int size)
{
    if (!data || size < 0)
        size = 0;
    int delivered = 0;
    int offset = 0;
    // Pieces no larger than the free queue space, each drained at once: no unread byte is lost.
    do {
        int piece = size - offset;
        if (piece > protocol.InQueueFree())
            piece = protocol.InQueueFree();
        const uint8_t *payload = 0;
        int payloadSize = 0;
        int result = protocol.AssembleInputPackage(data ? data + offset : 0, piece, &payload, &payloadSize);
        offset += piece;
        while (true) {
            if (result == NP_SUCC_ && Accept(payload, payloadSize))
                ++delivered;
            if (result == NP_QUEUE_EMPTY_)
                break;
            result = protocol.AssembleInputPackage(0, 0, &payload, &payloadSize);
        }
    } while (offset < size);
    return delivered;
}

int NimboProfile::SendPayload(uint8_t cmd, uint16_t toId, uint8_t *payload, int size)
{
    if (!payload || size < NP_SIZE_HEADER_ || toId > NP_ID_MAX_)
        return NP_FAIL_;
    Np_Header header;
    header.cmd = cmd;
    header.res = 0;
    header.fromId = nodeId;
    header.toId = toId;
    NimboObjectDictionary::EncodeHeader(header, payload);
    const uint8_t *frame = 0;
    int frameSize = 0;
    if (protocol.CreateOutputPackage(payload, size, &frame, &frameSize) != NP_SUCC_ || !write)
        return NP_FAIL_;
    return write(user, frame, frameSize);
}

int NimboProfile::SendHeartBeat(uint16_t toId)
{
    Np_HeartBeat r = {};
    return SendRecord(NP_CMD_HEARTBEAT_, toId, r);
}

int NimboProfile::SendRequest(uint16_t toId, uint8_t cmdRequest)
{
    Np_Request r = {};
    r.cmdRequest = cmdRequest;
    return SendRecord(NP_CMD_REQUEST_, toId, r);
}

int NimboProfile::SendAck(uint16_t toId, uint8_t cmdAck)
{
    Np_Ack r = {};
    r.cmdAck = cmdAck;
    return SendRecord(NP_CMD_ACK_, toId, r);
}

int NimboProfile::SendSettings(uint16_t toId, const Np_Settings &r)
{
    uint8_t buffer[NP_MAX_RECORD_SIZE_];
    return SendPayload(NP_CMD_SETTING, toId, buffer,
                       NimboObjectDictionary::Encode(r, od.GetVersion(), buffer));
}
