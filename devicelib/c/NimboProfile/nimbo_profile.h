/*
 * The node's side of the link: received bytes go in, records addressed to this node (or to
 * everyone) come out through a callback; records to send are encoded with this node's id as the
 * sender, framed and handed to the firmware's write function.
 *
 * Single context: call every function from the same loop (not from an interrupt that may
 * preempt another call). The record callback may send records and change the node id, but must
 * not feed received bytes again.
 */
#ifndef NIMBO_PROFILE_H
#define NIMBO_PROFILE_H

#include "nimbo_object_dictionary.h"
#include "nimbo_protocol.h"
#include "nimbo_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Writes one whole frame to the line; returns NP_SUCC_ or NP_FAIL_. */
typedef int (*NimboWriteFunction)(void *user, const uint8_t *frame, int frameSize);
/* One accepted record: its header and its wire image (valid during the call only). */
typedef void (*NimboRecordFunction)(void *user, const Np_Header *header, const uint8_t *payload, int size);

typedef struct
{
    NimboProtocol protocol;
    NimboObjectDictionary od;
    uint16_t nodeId;
    NimboWriteFunction write;
    NimboRecordFunction onRecord;
    void *user;
    /* Good frames not addressed to this node, and records refused for type or length. */
    uint32_t sRecvPkg_NotForNode;
    uint32_t sRecvPkg_Refused;
} NimboProfile;

/* Either function may be null. Returns NP_FAIL_ for an id outside 0..2047. */
int NimboProfile_Init(NimboProfile *p, uint16_t nodeId, NimboWriteFunction write,
                      NimboRecordFunction onRecord, void *user);
int NimboProfile_SetNodeId(NimboProfile *p, uint16_t nodeId);
uint16_t NimboProfile_GetNodeId(const NimboProfile *p);
/* NP_SETTINGS_V318_ for firmware that speaks the legacy 20-byte settings layout. */
int NimboProfile_SetSettingsVersion(NimboProfile *p, int version);

/*
 * Feeds bytes received from the line, any amount and cut anywhere; a frame split over several
 * calls is completed by the call that brings its last byte. Returns the number of records
 * delivered to the callback.
 */
int NimboProfile_Receive(NimboProfile *p, const uint8_t *data, int size);

/* Frames a wire image after writing its header (cmd, res 0, this node as sender, toId) into it. */
int NimboProfile_SendPayload(NimboProfile *p, uint8_t cmd, uint16_t toId, uint8_t *payload, int size);

/* Typed senders; the header of the structure passed in is ignored. */
int NimboProfile_Send_Np_HeartBeat(NimboProfile *p, uint16_t toId);
int NimboProfile_Send_Np_Request(NimboProfile *p, uint16_t toId, uint8_t cmdRequest);
int NimboProfile_Send_Np_Ack(NimboProfile *p, uint16_t toId, uint8_t cmdAck);
int NimboProfile_Send_Np_Settings(NimboProfile *p, uint16_t toId, const Np_Settings *r);
int NimboProfile_Send_Np_Status(NimboProfile *p, uint16_t toId, const Np_Status *r);
int NimboProfile_Send_Np_Calib(NimboProfile *p, uint16_t toId, const Np_Calib *r);
int NimboProfile_Send_Np_Id(NimboProfile *p, uint16_t toId, const Np_Id *r);
int NimboProfile_Send_Np_Id_Ext(NimboProfile *p, uint16_t toId, const Np_Id_Ext *r);
int NimboProfile_Send_Np_NodeCtrl(NimboProfile *p, uint16_t toId, const Np_NodeCtrl *r);
int NimboProfile_Send_Np_NSO(NimboProfile *p, uint16_t toId, const Np_NSO *r);
int NimboProfile_Send_Np_Raw_GyroAccMag(NimboProfile *p, uint16_t toId, const Np_Raw_GyroAccMag *r);
int NimboProfile_Send_Np_Raw_GyroAccMag_Ext(NimboProfile *p, uint16_t toId, const Np_Raw_GyroAccMag_Ext *r);
int NimboProfile_Send_Np_Q_s1_s(NimboProfile *p, uint16_t toId, const Np_Q_s1_s *r);
int NimboProfile_Send_Np_Q_s1_e(NimboProfile *p, uint16_t toId, const Np_Q_s1_e *r);
int NimboProfile_Send_Np_Euler_s1_s(NimboProfile *p, uint16_t toId, const Np_Euler_s1_s *r);
int NimboProfile_Send_Np_Euler_s1_e(NimboProfile *p, uint16_t toId, const Np_Euler_s1_e *r);
int NimboProfile_Send_Np_RPY(NimboProfile *p, uint16_t toId, const Np_RPY *r);
int NimboProfile_Send_Np_Gravity(NimboProfile *p, uint16_t toId, const Np_Gravity *r);
int NimboProfile_Send_Np_Combo(NimboProfile *p, uint16_t toId, const Np_Combo *r);
int NimboProfile_Send_Np_Customized(NimboProfile *p, uint16_t toId, const Np_Customized *r);

#ifdef __cplusplus
}
#endif

#endif /* NIMBO_PROFILE_H */
