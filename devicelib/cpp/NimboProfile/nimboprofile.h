// One end of the link: received bytes go in, records addressed to this end (or to everyone) come out
// through a callback; records to send are encoded with this end's id as the sender, framed and handed
// to the write function. A node uses its own id (32..2047); a program on a PC uses NP_ID_HOST_.
//
// Single context: call every function from the same loop (not from an interrupt that may preempt
// another call). The record callback may send records and change the id, but must not feed received
// bytes again.
//
//     NimboProfile link;
//     link.Init(NP_ID_HOST_, WriteToPort, OnRecord, &app);
//     link.SendRequest(NP_ID_BROADCAST_, NP_CMD_ID_);      // every node answers with its Np_Id
//     ... link.Receive(bytes, count) for whatever the port read ...
#ifndef NIMBOPROFILE_H
#define NIMBOPROFILE_H

#include "nimboobjectdictionary.h"
#include "nimboprotocol.h"
#include "nimbotypes.h"

class NimboProfile
{
public:
    // Writes one whole frame to the line; returns NP_SUCC_ or NP_FAIL_.
    typedef int (*WriteFunction)(void *user, const uint8_t *frame, int frameSize);
    // One accepted record: its header and its wire image (valid during the call only); decode it with
    // NimboObjectDictionary::Decode.
    typedef void (*RecordFunction)(void *user, const Np_Header &header, const uint8_t *payload, int size);

    NimboProfile();

    // Either function may be null. NP_FAIL_ for an id above 2047.
    int Init(uint16_t nodeId, WriteFunction write, RecordFunction onRecord, void *user);
    int SetNodeId(uint16_t nodeId);
    uint16_t GetNodeId() const { return nodeId; }
    // NP_SETTINGS_V318_ for firmware that speaks the legacy 20-byte settings layout.
    int SetSettingsVersion(int version) { return od.SetVersion(version); }

    // Feeds bytes received from the line, any amount and cut anywhere; a frame split over several calls
    // is completed by the call that brings its last byte. Returns the records delivered.
    int Receive(const uint8_t *data, int size);

    // Frames a wire image after writing its header (cmd, this end as sender, toId) into it.
    int SendPayload(uint8_t cmd, uint16_t toId, uint8_t *payload, int size);

    int SendHeartBeat(uint16_t toId);
    int SendRequest(uint16_t toId, uint8_t cmdRequest);
    int SendAck(uint16_t toId, uint8_t cmdAck);
    // The header of the record passed in is ignored; the settings go out in the layout set above.
    int SendSettings(uint16_t toId, const Np_Settings &r);
    int SendStatus(uint16_t toId, const Np_Status &r) { return SendRecord(NP_CMD_STATUS_, toId, r); }
    int SendCalib(uint16_t toId, const Np_Calib &r) { return SendRecord(NP_CMD_CALIB_, toId, r); }
    int SendId(uint16_t toId, const Np_Id &r) { return SendRecord(NP_CMD_ID_, toId, r); }
    int SendIdExt(uint16_t toId, const Np_Id_Ext &r) { return SendRecord(NP_CMD_ID_EXT_, toId, r); }
    int SendNodeCtrl(uint16_t toId, const Np_NodeCtrl &r) { return SendRecord(NP_CMD_NODECTRL_, toId, r); }
    int SendNSO(uint16_t toId, const Np_NSO &r) { return SendRecord(NP_CMD_NSO_, toId, r); }
    int SendRaw(uint16_t toId, const Np_Raw_GyroAccMag &r)
    {
        return SendRecord(NP_CMD_Raw_GYRO_ACC_MAG_, toId, r);
    }
    int SendRawExt(uint16_t toId, const Np_Raw_GyroAccMag_Ext &r)
    {
        return SendRecord(NP_CMD_Raw_GYRO_ACC_MAG_EXT_, toId, r);
    }
    int SendQ_s1_s(uint16_t toId, const Np_Q_s1_s &r) { return SendRecord(NP_CMD_Q_S1_S_, toId, r); }
    int SendQ_s1_e(uint16_t toId, const Np_Q_s1_e &r) { return SendRecord(NP_CMD_Q_S1_E_, toId, r); }
    int SendEuler_s1_s(uint16_t toId, const Np_Euler_s1_s &r)
    {
        return SendRecord(NP_CMD_EULER_S1_S_, toId, r);
    }
    int SendEuler_s1_e(uint16_t toId, const Np_Euler_s1_e &r)
    {
        return SendRecord(NP_CMD_EULER_S1_E_, toId, r);
    }
    int SendRPY(uint16_t toId, const Np_RPY &r) { return SendRecord(NP_CMD_RPY_, toId, r); }
    int SendGravity(uint16_t toId, const Np_Gravity &r) { return SendRecord(NP_CMD_GRAVITY_, toId, r); }
    int SendCombo(uint16_t toId, const Np_Combo &r) { return SendRecord(NP_CMD_COMBO_, toId, r); }
    int SendCustomized(uint16_t toId, const Np_Customized &r)
    {
        return SendRecord(NP_CMD_CUSTOMIZED_, toId, r);
    }

    NimboProtocol &Protocol() { return protocol; }
    const NimboProtocol &Protocol() const { return protocol; }
    NimboObjectDictionary &Dictionary() { return od; }
    // Good frames addressed to another end, and records refused for their type or length.
    uint32_t RecvPkgNotForNode() const { return sRecvPkg_NotForNode; }
    uint32_t RecvPkgRefused() const { return sRecvPkg_Refused; }

private:
    template <typename Record>
    int SendRecord(uint8_t cmd, uint16_t toId, const Record &r)
    {
        uint8_t buffer[NP_MAX_RECORD_SIZE_];
        return SendPayload(cmd, toId, buffer, NimboObjectDictionary::Encode(r, buffer));
    }
    bool Accept(const uint8_t *payload, int size);

    NimboProtocol protocol;
    NimboObjectDictionary od;
    uint16_t nodeId;
    WriteFunction write;
    RecordFunction onRecord;
    void *user;
    uint32_t sRecvPkg_NotForNode;
    uint32_t sRecvPkg_Refused;
};

#endif // NIMBOPROFILE_H
