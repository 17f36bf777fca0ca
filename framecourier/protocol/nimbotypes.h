#ifndef NIMBOTYPES_H
#define NIMBOTYPES_H

// Return codes, identifiers and the wire layout of every Nimbo record.
//
// Records are plain value types whose memory image is their little-endian wire image: every field
// sits at its natural alignment, so there is no padding the compiler could add, and the header's
// bit fields are packed by hand instead of with C bit-fields, whose order the compiler chooses.

#include "nimborecords.h"

#include <QtCore/QMetaType>
#include <QtCore/QtEndian>
#include <cstddef>
#include <cstdint>
#include <type_traits>

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN,
              "records are copied as memory images of the little-endian wire");

// Return codes shared by the protocol classes.
constexpr int NP_FAIL_ = 1;
constexpr int NP_NORMAL_EXIT_ = 2;
constexpr int NP_SUCC_ = 4;
constexpr int NP_BUSY_ = 8;
constexpr int NP_TIMEOUT_ = 16;
constexpr int NP_QUEUE_EMPTY_ = 32;
constexpr int NP_MUTEX_LOCKED_ = 64;

// Checksum options of the framing.
constexpr char NP_CHECKSUM_1_BYTE_SUM_ = 1;
constexpr char NP_CHECKSUM_2_BYTES_SUM_ = 2;
constexpr char NP_CHECKSUM_2_BYTES_CRC_ = 4;

// Short ids.
constexpr quint16 NP_ID_BROADCAST_ = 0;
constexpr quint16 NP_ID_UNSPECIFIED_ = 1;
constexpr quint16 NP_ID_HOST_ = 2;
constexpr quint16 NP_ID_HOST_NSO_ = 8; // the host's identity as sender of service-object records
constexpr quint16 NP_ID_MAX_ = 2047;

// Node control codes (Np_NodeCtrl::ctrl).
constexpr quint8 NP_NODECTRL_SILENCE_ = 2;
constexpr quint8 NP_NODECTRL_NORMAL_ = 3;

// Command identifiers (record types).
constexpr quint8 NP_CMD_HEARTBEAT_ = 11;
constexpr quint8 NP_CMD_REQUEST_ = 12;
constexpr quint8 NP_CMD_ACK_ = 13;
constexpr quint8 NP_CMD_SETTING = 21;
constexpr quint8 NP_CMD_STATUS_ = 22;
constexpr quint8 NP_CMD_CALIB_ = 23;
constexpr quint8 NP_CMD_ID_ = 24;
constexpr quint8 NP_CMD_NODECTRL_ = 25;
constexpr quint8 NP_CMD_NSO_ = 26;
constexpr quint8 NP_CMD_ID_EXT_ = 27;
constexpr quint8 NP_CMD_Q_S1_S_ = 31;
constexpr quint8 NP_CMD_Q_S1_E_ = 32;
constexpr quint8 NP_CMD_EULER_S1_S_ = 33;
constexpr quint8 NP_CMD_EULER_S1_E_ = 34;
constexpr quint8 NP_CMD_RPY_ = 35;
constexpr quint8 NP_CMD_GRAVITY_ = 36;
constexpr quint8 NP_CMD_Raw_GYRO_ACC_MAG_ = 41;
constexpr quint8 NP_CMD_Raw_GYRO_ACC_MAG_EXT_ = 42;
constexpr quint8 NP_CMD_COMBO_ = 43;
constexpr quint8 NP_CMD_CUSTOMIZED_ = 44;

// Header: one little-endian 32-bit word, cmd in bits 0-6, res 7-9, fromId 10-20, toId 21-31.
struct Np_Header
{
    quint8 raw[4];

    quint32 word() const { return qFromLittleEndian<quint32>(raw); }
    void setWord(quint32 w) { qToLittleEndian<quint32>(w, raw); }

    quint8 cmd() const { return quint8(word() & 0x7Fu); }
    quint8 res() const { return quint8((word() >> 7) & 0x7u); }
    quint16 fromId() const { return quint16((word() >> 10) & 0x7FFu); }
    quint16 toId() const { return quint16((word() >> 21) & 0x7FFu); }

    void setCmd(quint8 v) { setField(0, 0x7Fu, v); }
    void setRes(quint8 v) { setField(7, 0x7u, v); }
    void setFromId(quint16 v) { setField(10, 0x7FFu, v); }
    void setToId(quint16 v) { setField(21, 0x7FFu, v); }

    static Np_Header Make(quint8 cmd, quint16 fromId, quint16 toId)
    {
        Np_Header h{};
        h.setCmd(cmd);
        h.setFromId(fromId);
        h.setToId(toId);
        return h;
    }

private:
    void setField(int shift, quint32 mask, quint32 v)
    {
        setWord((word() & ~(mask << shift)) | ((v & mask) << shift));
    }
};

struct Np_HeartBeat
{
    Np_Header header;
};

struct Np_Request
{
    Np_Header header;
    quint8 cmdRequest;
    quint8 padding[3];
};

struct Np_Ack
{
    Np_Header header;
    quint8 cmdAck;
    quint8 padding[3];
};

// Bits of Np_Settings::settingsWord.
namespace NpSettingsBit {
constexpr int enGyro = 0;
constexpr int enAcc = 1;
constexpr int enMag = 2;
constexpr int gyroErrFilter = 3;
constexpr int magSAFilter = 4;
constexpr int outStatus = 5;
constexpr int outRaw = 6;
constexpr int outQ_s1_s = 7;
constexpr int outQ_s1_e = 8;
constexpr int outEuler_s1_s = 9;
constexpr int outEuler_s1_e = 10;
constexpr int outRPY = 11;
constexpr int outGravity = 12;
constexpr int binaryFormat = 13;
constexpr int checksumType = 14; // 3 bits: 0 "1 Byte SUM", 1 "2 Bytes SUM", 2 "2 Bytes CRC"
constexpr int reliableWrite = 17;
constexpr int saveToFlash = 18;
constexpr int enUART1 = 19;
constexpr int enUART2 = 20;
constexpr int enCAN1 = 21;
constexpr int canUartBypass = 22;
constexpr int applyCalibT = 23;
constexpr int bootMode = 24; // 2 bits: 0 automatic, 1 static boot, 2 dynamic boot
constexpr int outCombo = 27;

constexpr bool Get(quint32 word, int bit) { return (word >> bit) & 1u; }
constexpr quint32 Set(quint32 word, int bit, bool on)
{
    return on ? (word | (1u << bit)) : (word & ~(1u << bit));
}
constexpr quint32 GetField(quint32 word, int shift, int width)
{
    return (word >> shift) & ((1u << width) - 1u);
}
constexpr quint32 SetField(quint32 word, int shift, int width, quint32 v)
{
    return (word & ~(((1u << width) - 1u) << shift)) | ((v & ((1u << width) - 1u)) << shift);
}
} // namespace NpSettingsBit

// Current settings layout.
struct Np_Settings
{
    Np_Header header;
    quint32 settingsWord;
    quint16 reserved0;
    quint16 uart2Baud;      // baud rate / 100
    quint16 can1Bitrate;    // bit rate / 100
    quint16 fusionParamAcc; // x 100
    quint16 fusionParamMag; // x 100
    quint16 inhibitTime;
    quint16 silentTime;
    quint16 odr; // Hz
};

// Legacy settings layout of firmware 3.x (x not 0): no gyroErrFilter bit, no silentTime, no odr.
struct Np_Settings_V318
{
    Np_Header header;
    quint32 settingsWord;
    quint16 reserved0;
    quint16 uart2Baud;
    quint16 can1Bitrate;
    quint16 fusionParamAcc;
    quint16 fusionParamMag;
    quint16 inhibitTime;
};

struct Np_Status
{
    Np_Header header;
    quint32 timeStamp;  // us
    float temperature;  // degrees Celsius
    quint16 updateRate; // Hz
    quint16 sysState;   // bits 0-2: quality of service

    quint8 qos() const { return quint8(sysState & 0x7u); }
};

struct Np_Calib
{
    Np_Header header;
    quint8 calibType;
    quint8 calibCmd;
    quint16 calibCode;
    quint32 calibValue1;
    quint32 calibValue2;
};

struct Np_Id
{
    Np_Header header;
    quint8 fwVersion[4]; // major, minor, revision, build
    quint8 uuid[20];
    char name[12]; // zero-terminated when shorter than 12
    quint8 idCmd;
    quint8 padding;
    quint16 nodeId;
};

struct Np_Id_Ext
{
    Np_Header header;
    quint8 data[12];
};

struct Np_NodeCtrl
{
    Np_Header header;
    quint8 uuid[20];
    quint8 ctrl;
    quint8 padding[3];
};

struct Np_NSO
{
    Np_Header header;
    quint8 nsoCmd; // 0x40 read, 0x22 write; answers 0x42, 0x60
    quint8 padding0;
    quint16 nsoIndex;
    quint8 nsoSubIndex;
    quint8 padding1[3];
    quint32 nsoValue;
};

struct Np_Raw_GyroAccMag
{
    Np_Header header;
    quint32 timeStamp;
    float gyro[3]; // rad/s
    float acc[3];  // g
    float mag[3];  // earth fields
};

struct Np_Raw_GyroAccMag_Ext
{
    Np_Header header;
    quint8 data[40];
};

struct Np_Q_s1_s
{
    Np_Header header;
    quint32 timeStamp;
    float q[4];
};

struct Np_Q_s1_e
{
    Np_Header header;
    quint32 timeStamp;
    float q[4];
};

struct Np_Euler_s1_s
{
    Np_Header header;
    quint32 timeStamp;
    float psi;
    float theta;
    float phi;
};

struct Np_Euler_s1_e
{
    Np_Header header;
    quint32 timeStamp;
    float psi;
    float theta;
    float phi;
};

struct Np_RPY
{
    Np_Header header;
    quint32 timeStamp;
    float roll;
    float pitch;
    float yaw;
};

struct Np_Gravity
{
    Np_Header header;
    quint32 timeStamp;
    float g[3];
};

struct Np_Combo
{
    Np_Header header;
    quint32 timeStamp;
    quint8 qos;
    quint8 padding0;
    quint16 heading; // yaw x 100, 0..36000
    qint32 gyroZ;    // deg/s x 100
    qint32 value2;
    quint8 padding1[12];
};

struct Np_Customized
{
    Np_Header header;
    quint8 data[4];
};

namespace NimboLayout {
template <typename T, std::size_t Size>
constexpr bool IsWireRecord()
{
    return sizeof(T) == Size && std::is_trivially_copyable<T>::value && std::is_standard_layout<T>::value;
}
} // namespace NimboLayout

static_assert(NimboLayout::IsWireRecord<Np_Header, 4>(), "Np_Header");
static_assert(NimboLayout::IsWireRecord<Np_Settings_V318, 20>(), "Np_Settings_V318");
#define NIMBO_CHECK_WIRE_SIZE(Type, cmd, size, slot, signalled, routed) \
    static_assert(NimboLayout::IsWireRecord<Type, size>(), #Type);
NIMBO_RECORDS(NIMBO_CHECK_WIRE_SIZE)
#undef NIMBO_CHECK_WIRE_SIZE

static_assert(offsetof(Np_Settings, uart2Baud) == 10 && offsetof(Np_Settings, odr) == 22, "Np_Settings");
static_assert(offsetof(Np_Settings_V318, inhibitTime) == 18, "Np_Settings_V318");
static_assert(offsetof(Np_Status, updateRate) == 12 && offsetof(Np_Status, sysState) == 14, "Np_Status");
static_assert(offsetof(Np_Calib, calibCode) == 6 && offsetof(Np_Calib, calibValue2) == 12, "Np_Calib");
static_assert(offsetof(Np_Id, uuid) == 8 && offsetof(Np_Id, name) == 28 && offsetof(Np_Id, idCmd) == 40 &&
                  offsetof(Np_Id, nodeId) == 42,
              "Np_Id");
static_assert(offsetof(Np_NodeCtrl, ctrl) == 24, "Np_NodeCtrl");
static_assert(offsetof(Np_NSO, nsoIndex) == 6 && offsetof(Np_NSO, nsoSubIndex) == 8 &&
                  offsetof(Np_NSO, nsoValue) == 12,
              "Np_NSO");
static_assert(offsetof(Np_Raw_GyroAccMag, acc) == 20 && offsetof(Np_Raw_GyroAccMag, mag) == 32,
              "Np_Raw_GyroAccMag");
static_assert(offsetof(Np_Q_s1_e, q) == 8, "Np_Q_s1_e");
static_assert(offsetof(Np_RPY, yaw) == 16, "Np_RPY");
static_assert(offsetof(Np_Combo, heading) == 10 && offsetof(Np_Combo, gyroZ) == 12 &&
                  offsetof(Np_Combo, value2) == 16,
              "Np_Combo");

Q_DECLARE_METATYPE(Np_Header)
Q_DECLARE_METATYPE(Np_Settings_V318)
#define NIMBO_DECLARE_METATYPE(Type, cmd, size, slot, signalled, routed) Q_DECLARE_METATYPE(Type)
NIMBO_RECORDS(NIMBO_DECLARE_METATYPE)
#undef NIMBO_DECLARE_METATYPE

// The record table at run time: what the code expanded from NIMBO_RECORDS agrees with, and what the
// tests compare the moc-declared signals and slots with.
namespace NimboRecords {
struct Entry
{
    const char *name;
    quint8 cmd;
    int size;
    int sendSlot; // -1: never sent by the host
    bool signalled;
    bool routed;
};
#define NIMBO_TABLE_ENTRY(Type, cmd, size, slot, signalled, routed) \
    Entry{#Type, cmd, size, slot, (signalled) != 0, (routed) != 0},
constexpr Entry kTable[] = {NIMBO_RECORDS(NIMBO_TABLE_ENTRY)};
#undef NIMBO_TABLE_ENTRY
constexpr int kCount = int(sizeof(kTable) / sizeof(kTable[0]));

constexpr const Entry *Find(quint8 cmd)
{
    for (const Entry &e : kTable)
        if (e.cmd == cmd)
            return &e;
    return nullptr;
}
} // namespace NimboRecords

#endif // NIMBOTYPES_H
