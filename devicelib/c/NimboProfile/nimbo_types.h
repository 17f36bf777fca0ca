/*
 * Basic types of the Nimbo protocol on the device side: return codes, short ids, command
 * identifiers, record sizes, settings bits and the records as plain C structures.
 *
 * The structures hold values in the CPU's own byte order; nimbo_object_dictionary.h converts them
 * to and from their little-endian wire images, so nothing here depends on the compiler's layout.
 */
#ifndef NIMBO_TYPES_H
#define NIMBO_TYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Return codes shared by every module. */
#define NP_FAIL_ 1
#define NP_NORMAL_EXIT_ 2
#define NP_SUCC_ 4
#define NP_BUSY_ 8
#define NP_TIMEOUT_ 16
#define NP_QUEUE_EMPTY_ 32
#define NP_MUTEX_LOCKED_ 64

/* Checksum options of the framing. */
#define NP_CHECKSUM_1_BYTE_SUM_ 1
#define NP_CHECKSUM_2_BYTES_SUM_ 2
#define NP_CHECKSUM_2_BYTES_CRC_ 4

/* Short ids (11 bits on the wire). */
#define NP_ID_BROADCAST_ 0u
#define NP_ID_UNSPECIFIED_ 1u
#define NP_ID_HOST_ 2u
#define NP_ID_HOST_NSO_ 8u /* the host as sender of service-object records */
#define NP_ID_NODE_MIN_ 32u
#define NP_ID_MAX_ 2047u

/* Command identifiers (record types). */
#define NP_CMD_HEARTBEAT_ 11
#define NP_CMD_REQUEST_ 12
#define NP_CMD_ACK_ 13
#define NP_CMD_SETTING 21
#define NP_CMD_STATUS_ 22
#define NP_CMD_CALIB_ 23
#define NP_CMD_ID_ 24
#define NP_CMD_NODECTRL_ 25
#define NP_CMD_NSO_ 26
#define NP_CMD_ID_EXT_ 27
#define NP_CMD_Q_S1_S_ 31
#define NP_CMD_Q_S1_E_ 32
#define NP_CMD_EULER_S1_S_ 33
#define NP_CMD_EULER_S1_E_ 34
#define NP_CMD_RPY_ 35
#define NP_CMD_GRAVITY_ 36
#define NP_CMD_Raw_GYRO_ACC_MAG_ 41
#define NP_CMD_Raw_GYRO_ACC_MAG_EXT_ 42
#define NP_CMD_COMBO_ 43
#define NP_CMD_CUSTOMIZED_ 44

/* Wire sizes of the records, header included. */
#define NP_SIZE_HEADER_ 4
#define NP_SIZE_HEARTBEAT_ 4
#define NP_SIZE_REQUEST_ 8
#define NP_SIZE_ACK_ 8
#define NP_SIZE_SETTINGS_ 24
#define NP_SIZE_SETTINGS_V318_ 20
#define NP_SIZE_STATUS_ 16
#define NP_SIZE_CALIB_ 16
#define NP_SIZE_ID_ 44
#define NP_SIZE_ID_EXT_ 16
#define NP_SIZE_NODECTRL_ 28
#define NP_SIZE_NSO_ 16
#define NP_SIZE_RAW_ 44
#define NP_SIZE_RAW_EXT_ 44
#define NP_SIZE_Q_ 24
#define NP_SIZE_EULER_ 20
#define NP_SIZE_RPY_ 20
#define NP_SIZE_GRAVITY_ 20
#define NP_SIZE_COMBO_ 32
#define NP_SIZE_CUSTOMIZED_ 8
#define NP_MAX_RECORD_SIZE_ 44

/* Settings layout versions: the legacy 20-byte layout belongs to firmware 3.x with x not 0. */
#define NP_SETTINGS_CURRENT_ 0
#define NP_SETTINGS_V318_ 318

/* Bits of Np_Settings.settingsWord (current layout). */
#define NP_SET_EN_GYRO_ ((uint32_t)1u << 0)
#define NP_SET_EN_ACC_ ((uint32_t)1u << 1)
#define NP_SET_EN_MAG_ ((uint32_t)1u << 2)
#define NP_SET_GYRO_ERR_FILTER_ ((uint32_t)1u << 3)
#define NP_SET_MAG_SA_FILTER_ ((uint32_t)1u << 4)
#define NP_SET_OUT_STATUS_ ((uint32_t)1u << 5)
#define NP_SET_OUT_RAW_ ((uint32_t)1u << 6)
#define NP_SET_OUT_Q_S1_S_ ((uint32_t)1u << 7)
#define NP_SET_OUT_Q_S1_E_ ((uint32_t)1u << 8)
#define NP_SET_OUT_EULER_S1_S_ ((uint32_t)1u << 9)
#define NP_SET_OUT_EULER_S1_E_ ((uint32_t)1u << 10)
#define NP_SET_OUT_RPY_ ((uint32_t)1u << 11)
#define NP_SET_OUT_GRAVITY_ ((uint32_t)1u << 12)
#define NP_SET_BINARY_FORMAT_ ((uint32_t)1u << 13)
#define NP_SET_CHECKSUM_SHIFT_ 14 /* 3 bits: 0 1-byte sum, 1 2-byte sum, 2 CRC */
#define NP_SET_CHECKSUM_MASK_ ((uint32_t)7u << 14)
#define NP_SET_RELIABLE_WRITE_ ((uint32_t)1u << 17)
#define NP_SET_SAVE_TO_FLASH_ ((uint32_t)1u << 18)
#define NP_SET_EN_UART1_ ((uint32_t)1u << 19)
#define NP_SET_EN_UART2_ ((uint32_t)1u << 20)
#define NP_SET_EN_CAN1_ ((uint32_t)1u << 21)
#define NP_SET_CAN_UART_BYPASS_ ((uint32_t)1u << 22)
#define NP_SET_APPLY_CALIB_T_ ((uint32_t)1u << 23)
#define NP_SET_BOOT_MODE_SHIFT_ 24 /* 2 bits: 0 automatic, 1 static, 2 dynamic */
#define NP_SET_BOOT_MODE_MASK_ ((uint32_t)3u << 24)
#define NP_SET_OUT_COMBO_ ((uint32_t)1u << 27)

/* Node control codes. */
#define NP_NODECTRL_SILENCE_ 2
#define NP_NODECTRL_NORMAL_ 3

/* Service-object command specifiers. */
#define NP_NSO_READ_ 0x40
#define NP_NSO_WRITE_ 0x22
#define NP_NSO_READ_RESPONSE_ 0x42
#define NP_NSO_WRITE_ACK_ 0x60
#define NP_NSO_ABORT_ 0x80

/* Service objects of the CAN side: index and sub-index. */
#define NP_NSO_CAN_SWITCHES_ 0x2021u
#define NP_NSO_CAN_SWITCHES_SUB_ 0x23u
#define NP_NSO_CAN_BAUDRATE_ 0x2022u /* value: bit rate / 100 */
#define NP_NSO_CAN_BAUDRATE_SUB_ 1u
#define NP_NSO_NSO_ID_ 0x2023u /* sub-index 0 download, 1 upload */
#define NP_NSO_NPO_ID_ 0x2024u /* sub-index 2n download, 2n + 1 upload of channel n + 1 */
#define NP_NSO_NPO_ID_SUBS_ 8u
#define NP_NSO_CALIB_SWITCHES_ 0x2031u
#define NP_NSO_CALIB_SWITCHES_SUB_ 1u
#define NP_NSO_PROFILE_SWITCHES_ 0x2041u
#define NP_NSO_PROFILE_SWITCHES_SUB_ 0x17u
#define NP_NSO_PROFILE_SWITCHES_EXT_ 0x2044u
#define NP_NSO_PROFILE_SWITCHES_EXT_SUB_ 0x35u
#define NP_NSO_COMMAND_ 0x23A4u
#define NP_NSO_COMMAND_SAVE_SUB_ 0x79u
#define NP_NSO_COMMAND_SAVE_VALUE_ 3u
#define NP_NSO_COMMAND_REBOOT_SUB_ 0x6Au
#define NP_NSO_COMMAND_REBOOT_VALUE_ 9u
#define NP_NSO_MAX_COB_ID_ 0x1FFFFFFFu /* 29 bits */
#define NP_NSO_MIN_NPO_ID_ 16u         /* process-object ids below this are reserved */
#define NP_NSO_CAN_SWITCH_ACK_UNKNOWN_ ((uint32_t)1u << 10) /* answer reads of unknown objects */

/* Calibration groups, their guard codes and the types of the node's answers. */
#define NP_CALIB_THERMAL_ 2
#define NP_CALIB_MAG_ 3
#define NP_CALIB_BOOT_ 4
#define NP_CALIB_STATIC_ 5
#define NP_CALIB_CODE_THERMAL_ 0xAA05u
#define NP_CALIB_CODE_MAG_ 0xAA32u
#define NP_CALIB_CODE_BOOT_ 0xAA35u
#define NP_CALIB_CODE_STATIC_ 0xAA65u
#define NP_CALIB_ANSWER_OFFSET_ 16 /* answer type = calibType + 16 */

/* Calibration commands (calibCmd) per group. */
#define NP_CALIB_THERMAL_NEW_SAMPLE_ 1
#define NP_CALIB_THERMAL_CLEAR_ALL_ 3
#define NP_CALIB_THERMAL_SAVE_ 4
#define NP_CALIB_MAG_RUN_ 1
#define NP_CALIB_MAG_RUN_AND_SAVE_ 2
#define NP_CALIB_MAG_REVOKE_ 8
#define NP_CALIB_MAG_REVOKE_AND_SAVE_ 9
#define NP_CALIB_MAG_HEADING_FIX_START_ 10
#define NP_CALIB_MAG_HEADING_FIX_FINISH_ 11
#define NP_CALIB_MAG_HEADING_ONE_CLICK_ 12
#define NP_CALIB_BOOT_RUN_ 2
#define NP_CALIB_STATIC_REVOKE_ 1
#define NP_CALIB_STATIC_START_ 3
#define NP_CALIB_STATIC_FINISH_ 4
#define NP_CALIB_IN_PROGRESS_ 0
#define NP_CALIB_SUCCESS_ 1
#define NP_CALIB_FAILED_ 2
#define NP_CALIB_REVOKED_ 5

typedef struct
{
    uint8_t cmd;     /* 7 bits */
    uint8_t res;     /* 3 bits, 0 */
    uint16_t fromId; /* 11 bits */
    uint16_t toId;   /* 11 bits */
} Np_Header;

typedef struct
{
    Np_Header header;
} Np_HeartBeat;

typedef struct
{
    Np_Header header;
    uint8_t cmdRequest;
} Np_Request;

typedef struct
{
    Np_Header header;
    uint8_t cmdAck;
} Np_Ack;

/* Always the current layout in memory; the legacy wire layout is converted on the way. */
typedef struct
{
    Np_Header header;
    uint32_t settingsWord;
    uint16_t reserved0;
    uint16_t uart2Baud;   /* baud / 100 */
    uint16_t can1Bitrate; /* bit rate / 100 */
    uint16_t fusionParamAcc;
    uint16_t fusionParamMag;
    uint16_t inhibitTime;
    uint16_t silentTime;
    uint16_t odr; /* Hz */
} Np_Settings;

typedef struct
{
    Np_Header header;
    uint32_t timeStamp; /* us */
    float temperature;  /* degrees Celsius */
    uint16_t updateRate;
    uint16_t sysState; /* bits 0-2: quality of service */
} Np_Status;

typedef struct
{
    Np_Header header;
    uint8_t calibType;
    uint8_t calibCmd;
    uint16_t calibCode;
    uint32_t calibValue1;
    uint32_t calibValue2;
} Np_Calib;

typedef struct
{
    Np_Header header;
    uint8_t fwVersion[4]; /* major, minor, revision, build */
    uint8_t uuid[20];
    char name[12]; /* zero-terminated when shorter than 12 */
    uint8_t idCmd;
    uint16_t nodeId;
} Np_Id;

typedef struct
{
    Np_Header header;
    uint8_t data[12];
} Np_Id_Ext;

typedef struct
{
    Np_Header header;
    uint8_t uuid[20]; /* all zero: every node */
    uint8_t ctrl;
} Np_NodeCtrl;

typedef struct
{
    Np_Header header;
    uint8_t nsoCmd;
    uint16_t nsoIndex;
    uint8_t nsoSubIndex;
    uint32_t nsoValue;
} Np_NSO;

typedef struct
{
    Np_Header header;
    uint32_t timeStamp;
    float gyro[3]; /* rad/s */
    float acc[3];  /* g */
    float mag[3];  /* earth fields */
} Np_Raw_GyroAccMag;

typedef struct
{
    Np_Header header;
    uint8_t data[40];
} Np_Raw_GyroAccMag_Ext;

/* One structure for both quaternion records (cmd 31 sensor-to-initial, 32 sensor-to-earth). */
typedef struct
{
    Np_Header header;
    uint32_t timeStamp;
    float q[4];
} Np_Quaternion;
typedef Np_Quaternion Np_Q_s1_s;
typedef Np_Quaternion Np_Q_s1_e;

/* One structure for both Euler records (cmd 33 and 34); degrees. */
typedef struct
{
    Np_Header header;
    uint32_t timeStamp;
    float psi;
    float theta;
    float phi;
} Np_Euler;
typedef Np_Euler Np_Euler_s1_s;
typedef Np_Euler Np_Euler_s1_e;

typedef struct
{
    Np_Header header;
    uint32_t timeStamp;
    float roll; /* degrees */
    float pitch;
    float yaw; /* heading */
} Np_RPY;

typedef struct
{
    Np_Header header;
    uint32_t timeStamp;
    float g[3];
} Np_Gravity;

typedef struct
{
    Np_Header header;
    uint32_t timeStamp;
    uint8_t qos;
    uint16_t heading; /* yaw x 100, 0..36000 */
    int32_t gyroZ;    /* deg/s x 100 */
    int32_t value2;
} Np_Combo;

typedef struct
{
    Np_Header header;
    uint8_t data[4];
} Np_Customized;

#ifdef __cplusplus
}
#endif

#endif /* NIMBO_TYPES_H */
