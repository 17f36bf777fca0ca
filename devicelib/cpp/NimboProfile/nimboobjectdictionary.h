// The record table (command identifier -> wire size), the conversion of every record between its
// structure and its little-endian wire image, and a store of the latest record of each type.
//
// Encoders write the whole wire image, header included, and return its size; padding is sent as 0.
// Decoders check the length and return NP_SUCC_ or NP_FAIL_.
#ifndef NIMBOOBJECTDICTIONARY_H
#define NIMBOOBJECTDICTIONARY_H

#include "nimbotypes.h"

// The store keeps 20 records of up to 44 bytes: too much for the smallest boards, where records are
// decoded as they arrive instead.
#ifndef NP_OD_STORE_RECORDS_
#if defined(__AVR__)
#define NP_OD_STORE_RECORDS_ 0
#else
#define NP_OD_STORE_RECORDS_ 1
#endif
#endif

class NimboObjectDictionary
{
public:
    static const uint8_t kEntries = 20;

    NimboObjectDictionary();

    // Key 0..19 of a command identifier, or -1 when the record type does not exist.
    static int FindKey(uint8_t cmd);
    // Wire size of a record type (the settings follow the layout version), or -1.
    int RecordSize(uint8_t cmd) const;
    // NP_SETTINGS_CURRENT_ or NP_SETTINGS_V318_.
    int SetVersion(int version);
    int GetVersion() const { return version; }
    // The settings layout that firmware bytes call for.
    static int VersionForFirmware(const uint8_t fwVersion[4]);

    // Checks a received record's type and length (and stores it when the store is built in).
    int Write(const uint8_t *data, int length, Np_Header *headerOut);
    // The stored wire image; NP_NORMAL_EXIT_ while nothing of that type arrived, NP_FAIL_ for an
    // unknown type or without the store.
    int Read(uint8_t cmd, const uint8_t **data, int *length) const;

    static void EncodeHeader(const Np_Header &h, uint8_t *out);
    static void DecodeHeader(const uint8_t *in, Np_Header &h);

    static int Encode(const Np_HeartBeat &r, uint8_t *out);
    static int Encode(const Np_Request &r, uint8_t *out);
    static int Encode(const Np_Ack &r, uint8_t *out);
    // 24 bytes in the current layout, 20 in the legacy one (no gyroErrFilter bit, silentTime, odr).
    static int Encode(const Np_Settings &r, int version, uint8_t *out);
    static int Encode(const Np_Status &r, uint8_t *out);
    static int Encode(const Np_Calib &r, uint8_t *out);
    static int Encode(const Np_Id &r, uint8_t *out);
    static int Encode(const Np_Id_Ext &r, uint8_t *out);
    static int Encode(const Np_NodeCtrl &r, uint8_t *out);
    static int Encode(const Np_NSO &r, uint8_t *out);
    static int Encode(const Np_Raw_GyroAccMag &r, uint8_t *out);
    static int Encode(const Np_Raw_GyroAccMag_Ext &r, uint8_t *out);
    static int Encode(const Np_Quaternion &r, uint8_t *out);
    static int Encode(const Np_Euler &r, uint8_t *out);
    static int Encode(const Np_RPY &r, uint8_t *out);
    static int Encode(const Np_Gravity &r, uint8_t *out);
    static int Encode(const Np_Combo &r, uint8_t *out);
    static int Encode(const Np_Customized &r, uint8_t *out);

    static int Decode(const uint8_t *in, int length, Np_HeartBeat &r);
    static int Decode(const uint8_t *in, int length, Np_Request &r);
    static int Decode(const uint8_t *in, int length, Np_Ack &r);
    // Length 24: current layout; length 20: legacy layout, converted.
    static int Decode(const uint8_t *in, int length, Np_Settings &r);
    static int Decode(const uint8_t *in, int length, Np_Status &r);
    static int Decode(const uint8_t *in, int length, Np_Calib &r);
    static int Decode(const uint8_t *in, int length, Np_Id &r);
    static int Decode(const uint8_t *in, int length, Np_Id_Ext &r);
    static int Decode(const uint8_t *in, int length, Np_NodeCtrl &r);
    static int Decode(const uint8_t *in, int length, Np_NSO &r);
    static int Decode(const uint8_t *in, int length, Np_Raw_GyroAccMag &r);
    static int Decode(const uint8_t *in, int length, Np_Raw_GyroAccMag_Ext &r);
    static int Decode(const uint8_t *in, int length, Np_Quaternion &r);
    static int Decode(const uint8_t *in, int length, Np_Euler &r);
    static int Decode(const uint8_t *in, int length, Np_RPY &r);
    static int Decode(const uint8_t *in, int length, Np_Gravity &r);
    static int Decode(const uint8_t *in, int length, Np_Combo &r);
    static int Decode(const uint8_t *in, int length, Np_Customized &r);

    static uint32_t LegacyWordFromCurrent(uint32_t word);
    static uint32_t CurrentWordFromLegacy(uint32_t word);

private:
    static const int kSettingsKey = 3;

    int version;
#if NP_OD_STORE_RECORDS_
    uint8_t records[kEntries][NP_MAX_RECORD_SIZE_];
    bool stored[kEntries];
#endif
};

#endif // NIMBOOBJECTDICTIONARY_H
