// Basic types of the Nimbo protocol: return codes, short ids, command identifiers, record sizes,
// settings bits, and the records as plain structures.
//
// The structures hold values in the processor's own byte order; NimboObjectDictionary converts
// them to and from their little-endian wire images, so nothing here depends on how the compiler
// lays a structure out. Written for C++11 without the standard library, so that the same files
// build for a PC and for an 8-bit board with a 16-bit int.
#ifndef NIMBOTYPES_H
#define NIMBOTYPES_H

#include <stddef.h>
#include <stdint.h>

// Return codes shared by every class.
const int NP_FAIL_ = 1;
const int NP_NORMAL_EXIT_ = 2;
const int NP_SUCC_ = 4;
const int NP_BUSY_ = 8;
const int NP_TIMEOUT_ = 16;
const int NP_QUEUE_EMPTY_ = 32;
const int NP_MUTEX_LOCKED_ = 64;

// Checksum options of the framing.
const uint8_t NP_CHECKSUM_1_BYTE_SUM_ = 1;
const uint8_t NP_CHECKSUM_2_BYTES_SUM_ = 2;
const uint8_t NP_CHECKSUM_2_BYTES_CRC_ = 4;

// Short ids (11 bits on the wire).
const uint16_t NP_ID_BROADCAST_ = 0;
const uint16_t NP_ID_UNSPECIFIED_ = 1;
const uint16_t NP_ID_HOST_ = 2;
const uint16_t NP_ID_HOST_NSO_ = 8; // the host as sender of service-object records
const uint16_t NP_ID_NODE_MIN_ = 32;
const uint16_t NP_ID_MAX_ = 2047;

// Command identifiers (record types).
const uint8_t NP_CMD_HEARTBEAT_ = 11;
const uint8_t NP_CMD_REQUEST_ = 12;
const uint8_t NP_CMD_ACK_ = 13;
const uint8_t NP_CMD_SETTING = 21;
const uint8_t NP_CMD_STATUS_ = 22;
const uint8_t NP_CMD_CALIB_ = 23;
const uint8_t NP_CMD_ID_ = 24;
const uint8_t NP_CMD_NODECTRL_ = 25;
const uint8_t NP_CMD_NSO_ = 26;
const uint8_t NP_CMD_ID_EXT_ = 27;
const uint8_t NP_CMD_Q_S1_S_ = 31;
const uint8_t NP_CMD_Q_S1_E_ = 32;
const uint8_t NP_CMD_EULER_S1_S_ = 33;
const uint8_t NP_CMD_EULER_S1_E_ = 34;
const uint8_t NP_CMD_RPY_ = 35;
const uint8_t NP_CMD_GRAVITY_ = 36;
const uint8_t NP_CMD_Raw_GYRO_ACC_MAG_ = 41;
const uint8_t NP_CMD_Raw_GYRO_ACC_MAG_EXT_ = 42;
const uint8_t NP_CMD_COMBO_ = 43;
const uint8_t NP_CMD_CUSTOMIZED_ = 44;

// Wire sizes of the records, header included.
const uint8_t NP_SIZE_HEADER_ = 4;
const uint8_t NP_SIZE_HEARTBEAT_ = 4;
const uint8_t NP_SIZE_REQUEST_ = 8;
const uint8_t NP_SIZE_ACK_ = 8;
const uint8_t NP_SIZE_SETTINGS_ = 24;
const uint8_t NP_SIZE_SETTINGS_V318_ = 20;
const uint8_t NP_SIZE_STATUS_ = 16;
const uint8_t NP_SIZE_CALIB_ = 16;
const uint8_t NP_SIZE_ID_ = 44;
const uint8_t NP_SIZE_ID_EXT_ = 16;
const uint8_t NP_SIZE_NODECTRL_ = 28;
const uint8_t NP_SIZE_NSO_ = 16;
const uint8_t NP_SIZE_RAW_ = 44;
const uint8_t NP_SIZE_RAW_EXT_ = 44;
const uint8_t NP_SIZE_Q_ = 24;
const uint8_t NP_SIZE_EULER_ = 20;
const uint8_t NP_SIZE_RPY_ = 20;
const uint8_t NP_SIZE_GRAVITY_ = 20;
const uint8_t NP_SIZE_COMBO_ = 32;
const uint8_t NP_SIZE_CUSTOMIZED_ = 8;
#define NP_MAX_RECORD_SIZE_ 44

// Settings layout versions: the legacy 20-byte layout belongs to firmware 3.x with x not 0.
const int NP_SETTINGS_CURRENT_ = 0;
const int NP_SETTINGS_V318_ = 318;

// Bits of Np_Settings::settingsWord (current layout).
const uint32_t NP_SET_EN_GYRO_ = 1ul << 0;
const uint32_t NP_SET_EN_ACC_ = 1ul << 1;
const uint32_t NP_SET_EN_MAG_ = 1ul << 2;
const uint32_t NP_SET_GYRO_ERR_FILTER_ = 1ul << 3;
const uint32_t NP_SET_MAG_SA_FILTER_ = 1ul << 4;
const uint32_t NP_SET_OUT_STATUS_ = 1ul << 5;
const uint32_t NP_SET_OUT_RAW_ = 1ul << 6;
const uint32_t NP_SET_OUT_Q_S1_S_ = 1ul << 7;
const uint32_t NP_SET_OUT_Q_S1_E_ = 1ul << 8;
const uint32_t NP_SET_OUT_EULER_S1_S_ = 1ul << 9;
const uint32_t NP_SET_OUT_EULER_S1_E_ = 1ul << 10;
const uint32_t NP_SET_OUT_RPY_ = 1ul << 11;
const uint32_t NP_SET_OUT_GRAVITY_ = 1ul << 12;
const uint32_t NP_SET_BINARY_FORMAT_ = 1ul << 13;
const int NP_SET_CHECKSUM_SHIFT_ = 14; // 3 bits: 0 1-byte sum, 1 2-byte sum, 2 CRC
const uint32_t NP_SET_CHECKSUM_MASK_ = 7ul << 14;
const uint32_t NP_SET_RELIABLE_WRITE_ = 1ul << 17;
const uint32_t NP_SET_SAVE_TO_FLASH_ = 1ul << 18;
const uint32_t NP_SET_EN_UART1_ = 1ul << 19;
const uint32_t NP_SET_EN_UART2_ = 1ul << 20;
const uint32_t NP_SET_EN_CAN1_ = 1ul << 21;
const uint32_t NP_SET_CAN_UART_BYPASS_ = 1ul << 22;
const uint32_t NP_SET_APPLY_CALIB_T_ = 1ul << 23;
const int NP_SET_BOOT_MODE_SHIFT_ = 24; // 2 bits: 0 automatic, 1 static, 2 dynamic
const uint32_t NP_SET_BOOT_MODE_MASK_ = 3ul << 24;
const uint32_t NP_SET_OUT_COMBO_ = 1ul << 27;

// Node control codes.
const uint8_t NP_NODECTRL_SILENCE_ = 2;
const uint8_t NP_NODECTRL_NORMAL_ = 3;

// Service-object command specifiers.
const uint8_t NP_NSO_READ_ = 0x40;
const uint8_t NP_NSO_WRITE_ = 0x22;
const uint8_t NP_NSO_READ_RESPONSE_ = 0x42;
const uint8_t NP_NSO_WRITE_ACK_ = 0x60;

struct Np_Header
{
    uint8_t cmd;     // 7 bits
    uint8_t res;     // 3 bits, 0
    uint16_t fromId; // 11 bits
    uint16_t toId;   // 11 bits
};

struct Np_HeartBeat
{
    Np_Header header;
};

struct Np_Request
{
    Np_Header header;
    uint8_t cmdRequest;
};

struct Np_Ack
{
    Np_Header header;
    uint8_t cmdAck;
};

// Always the current layout in memory; the legacy wire layout is converted on the way.
struct Np_Settings
{
    Np_Header header;
    uint32_t settingsWord;
    uint16_t reserved0;
    uint16_t uart2Baud;   // baud / 100
    uint16_t can1Bitrate; // bit rate / 100
    uint16_t fusionParamAcc;
    uint16_t fusionParamMag;
    uint16_t inhibitTime;
    uint16_t silentTime;
    uint16_t odr; // Hz
};

struct Np_Status
{
    Np_Header header;
    uint32_t timeStamp; // us
    float temperature;  // degrees Celsius
    uint16_t updateRate;
    uint16_t sysState; // bits 0-2: quality of service
};

struct Np_Calib
{
    Np_Header header;
    uint8_t calibType;
    uint8_t calibCmd;
    uint16_t calibCode;
    uint32_t calibValue1;
    uint32_t calibValue2;
};

struct Np_Id
{
    Np_Header header;
    uint8_t fwVersion[4]; // major, minor, revision, build
    uint8_t uuid[20];
    char name[12]; // zero-terminated when shorter than 12
    uint8_t idCmd;
    uint16_t nodeId;
};

struct Np_Id_Ext
{
    Np_Header header;
    uint8_t data[12];
};

struct Np_NodeCtrl
{
    Np_Header header;
    uint8_t uuid[20]; // all zero: every node
    uint8_t ctrl;
};

struct Np_NSO
{
    Np_Header header;
    uint8_t nsoCmd;
    uint16_t nsoIndex;
    uint8_t nsoSubIndex;
    uint32_t nsoValue;
};

struct Np_Raw_GyroAccMag
{
    Np_Header header;
    uint32_t timeStamp;
    float gyro[3]; // rad/s
    float acc[3];  // g
    float mag[3];  // earth fields
};

struct Np_Raw_GyroAccMag_Ext
{
    Np_Header header;
    uint8_t data[40];
};

// Both quaternion records (31: to the initial sensor frame, 32: to the Earth frame); q[0] is the
// scalar part.
struct Np_Quaternion
{
    Np_Header header;
    uint32_t timeStamp;
    float q[4];
};
typedef Np_Quaternion Np_Q_s1_s;
typedef Np_Quaternion Np_Q_s1_e;

// Both Euler records (33 and 34); degrees.
struct Np_Euler
{
    Np_Header header;
    uint32_t timeStamp;
    float psi;
    float theta;
    float phi;
};
typedef Np_Euler Np_Euler_s1_s;
typedef Np_Euler Np_Euler_s1_e;

struct Np_RPY
{
    Np_Header header;
    uint32_t timeStamp;
    float roll; // degrees
    float pitch;
    float yaw; // heading
};

struct Np_Gravity
{
    Np_Header header;
    uint32_t timeStamp;
    float g[3];
};

struct Np_Combo
{
    Np_Header header;
    uint32_t timeStamp;
    uint8_t qos;
    uint16_t heading; // yaw x 100, 0..36000
    int32_t gyroZ;    // deg/s x 100
    int32_t value2;
};

struct Np_Customized
{
    Np_Header header;
    uint8_t data[4];
};

#endif // NIMBOTYPES_H
