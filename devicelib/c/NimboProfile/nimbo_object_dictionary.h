/*
 * The record table (command identifier -> wire size), the store of the latest record of each type
 * received by the node, and the conversion of every record between its C structure and its
 * little-endian wire image.
 *
 * Encoders write the whole wire image, header included, and return its size; padding is sent as 0.
 * Decoders check the length and return NP_SUCC_ or NP_FAIL_.
 */
#ifndef NIMBO_OBJECT_DICTIONARY_H
#define NIMBO_OBJECT_DICTIONARY_H

#include "nimbo_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define NP_OD_ENTRIES_ 20

typedef struct
{
    int version; /* NP_SETTINGS_CURRENT_ or NP_SETTINGS_V318_ */
    uint8_t records[NP_OD_ENTRIES_][NP_MAX_RECORD_SIZE_];
    uint8_t stored[NP_OD_ENTRIES_];
} NimboObjectDictionary;

void NimboOD_Init(NimboObjectDictionary *od);
/* Key 0..19 of a command identifier, or -1 when the record type does not exist. */
int NimboOD_FindKey(uint8_t cmd);
/* Wire size of a record type (the settings follow the layout version), or -1. */
int NimboOD_RecordSize(const NimboObjectDictionary *od, uint8_t cmd);
/* Only NP_SETTINGS_CURRENT_ and NP_SETTINGS_V318_ are accepted. */
int NimboOD_SetVersion(NimboObjectDictionary *od, int version);
/* The settings layout that firmware bytes call for. */
int NimboOD_VersionForFirmware(const uint8_t fwVersion[4]);

/* Stores a whole record; NP_FAIL_ for an unknown type or a length other than the table's. */
int NimboOD_Write(NimboObjectDictionary *od, const uint8_t *data, int length, Np_Header *headerOut);
/* The stored wire image; NP_NORMAL_EXIT_ while nothing of that type arrived, NP_FAIL_ if unknown. */
int NimboOD_Read(const NimboObjectDictionary *od, uint8_t cmd, const uint8_t **data, int *length);

void Np_Header_Encode(const Np_Header *h, uint8_t *out);
void Np_Header_Decode(const uint8_t *in, Np_Header *h);

int Np_HeartBeat_Encode(const Np_HeartBeat *r, uint8_t *out);
int Np_HeartBeat_Decode(const uint8_t *in, int length, Np_HeartBeat *r);
int Np_Request_Encode(const Np_Request *r, uint8_t *out);
int Np_Request_Decode(const uint8_t *in, int length, Np_Request *r);
int Np_Ack_Encode(const Np_Ack *r, uint8_t *out);
int Np_Ack_Decode(const uint8_t *in, int length, Np_Ack *r);
/* 24 bytes in the current layout, 20 in the legacy one (no gyroErrFilter bit, silentTime, odr). */
int Np_Settings_Encode(const Np_Settings *r, int version, uint8_t *out);
/* Length 24: current layout; length 20: legacy layout, converted. */
int Np_Settings_Decode(const uint8_t *in, int length, Np_Settings *r);
uint32_t Np_Settings_LegacyWordFromCurrent(uint32_t word);
uint32_t Np_Settings_CurrentWordFromLegacy(uint32_t word);
int Np_Status_Encode(const Np_Status *r, uint8_t *out);
int Np_Status_Decode(const uint8_t *in, int length, Np_Status *r);
int Np_Calib_Encode(const Np_Calib *r, uint8_t *out);
int Np_Calib_Decode(const uint8_t *in, int length, Np_Calib *r);
int Np_Id_Encode(const Np_Id *r, uint8_t *out);
int Np_Id_Decode(const uint8_t *in, int length, Np_Id *r);
int Np_Id_Ext_Encode(const Np_Id_Ext *r, uint8_t *out);
int Np_Id_Ext_Decode(const uint8_t *in, int length, Np_Id_Ext *r);
int Np_NodeCtrl_Encode(const Np_NodeCtrl *r, uint8_t *out);
int Np_NodeCtrl_Decode(const uint8_t *in, int length, Np_NodeCtrl *r);
int Np_NSO_Encode(const Np_NSO *r, uint8_t *out);
int Np_NSO_Decode(const uint8_t *in, int length, Np_NSO *r);
int Np_Raw_GyroAccMag_Encode(const Np_Raw_GyroAccMag *r, uint8_t *out);
int Np_Raw_GyroAccMag_Decode(const uint8_t *in, int length, Np_Raw_GyroAccMag *r);
int Np_Raw_GyroAccMag_Ext_Encode(const Np_Raw_GyroAccMag_Ext *r, uint8_t *out);
int Np_Raw_GyroAccMag_Ext_Decode(const uint8_t *in, int length, Np_Raw_GyroAccMag_Ext *r);
/* Np_Q_s1_s and Np_Q_s1_e. */
int Np_Quaternion_Encode(const Np_Quaternion *r, uint8_t *out);
int Np_Quaternion_Decode(const uint8_t *in, int length, Np_Quaternion *r);
/* Np_Euler_s1_s and Np_Euler_s1_e. */
int Np_Euler_Encode(const Np_Euler *r, uint8_t *out);
int Np_Euler_Decode(const uint8_t *in, int length, Np_Euler *r);
int Np_RPY_Encode(const Np_RPY *r, uint8_t *out);
int Np_RPY_Decode(const uint8_t *in, int length, Np_RPY *r);
int Np_Gravity_Encode(const Np_Gravity *r, uint8_t *out);
int Np_Gravity_Decode(const uint8_t *in, int length, Np_Gravity *r);
int Np_Combo_Encode(const Np_Combo *r, uint8_t *out);
int Np_Combo_Decode(const uint8_t *in, int length, Np_Combo *r);
int Np_Customized_Encode(const Np_Customized *r, uint8_t *out);
int Np_Customized_Decode(const uint8_t *in, int length, Np_Customized *r);

#ifdef __cplusplus
}
#endif

#endif /* NIMBO_OBJECT_DICTIONARY_H */
