#ifndef SERVICEOBJECTS_H
#define SERVICEOBJECTS_H

#include "sensorpanelcore_global.h"

#include <QtCore/QtGlobal>

// The node's CAN-side configuration as its service object (Np_NSO records) exposes it: object indices
// and sub-indices, the bit layouts of the switch words, and the checks a value read back must pass.
namespace ServiceObjects {

// Command specifiers.
constexpr quint8 kReadRequest = 0x40;
constexpr quint8 kWriteRequest = 0x22;
constexpr quint8 kReadResponse = 0x42;
constexpr quint8 kWriteAck = 0x60;
constexpr quint8 kAbort = 0x80; // the node refuses the access; the value holds its abort code

// Objects: index, sub-index.
constexpr quint16 kCanSwitches = 0x2021;
constexpr quint8 kCanSwitchesSub = 0x23;
constexpr quint16 kCanBaudrate = 0x2022;
constexpr quint8 kCanBaudrateSub = 1;
constexpr quint16 kNsoId = 0x2023; // sub-index 0 download, 1 upload
constexpr quint16 kNpoId = 0x2024; // sub-index 2n download, 2n + 1 upload of channel n + 1
constexpr int kNpoIds = 8;
constexpr quint16 kCalibSwitches = 0x2031;
constexpr quint8 kCalibSwitchesSub = 1;
constexpr quint16 kProfileSwitches = 0x2041;
constexpr quint8 kProfileSwitchesSub = 0x17;
constexpr quint16 kProfileSwitchesExt = 0x2044;
constexpr quint8 kProfileSwitchesExtSub = 0x35;
constexpr quint16 kCommand = 0x23A4;
constexpr quint8 kSaveSub = 0x79;
constexpr quint32 kSaveValue = 3;
constexpr quint8 kRebootSub = 0x6A;
constexpr quint32 kRebootValue = 9;

// Answer times: one attempt of an ordinary exchange, and of the save (the node writes its flash).
constexpr int kExchangeTimeoutMs = 900;
constexpr int kSaveTimeoutMs = 5000;
constexpr int AnswerWaitMs(quint16 index, quint8 subIndex)
{
    return index == kCommand && subIndex == kSaveSub ? kSaveTimeoutMs : kExchangeTimeoutMs;
}
constexpr int kPollMs = 100;
constexpr int kAttempts = 4;

// COB-IDs fit 29 bits, or 11 where the object uses standard identifiers; process-object ids below
// 16 are reserved.
constexpr quint32 kMaxCobId = 0x1FFFFFFF;
constexpr quint32 kMaxStandardCobId = 0x7FF;
constexpr quint32 kMinNpoId = 16;

struct CanSwitches
{
    bool pipeline = false;
    bool nso = false;
    bool npo[4] = {};
    bool pipelineExtId = false;
    bool nsoExtId = false;
    bool npoExtId = false;
    bool nsoAckUnknownIds = false;
    bool pipelineSuperUser = false;

    // Bit 0 is always set.
    SENSORPANELCORE_EXPORT quint32 Value() const;
    SENSORPANELCORE_EXPORT static CanSwitches FromValue(quint32 value);
};

struct ProfileSwitches
{
    bool verticalInstall = false;
    int standardCode = 0;   // six bits
    int customisedCode = 0; // six bits

    SENSORPANELCORE_EXPORT quint32 Value() const;
    SENSORPANELCORE_EXPORT static ProfileSwitches FromValue(quint32 value);
};

// A switch word read back is whole when its bit 0 is set and its bit 31 clear.
constexpr bool MsbLsbValid(quint32 value) { return (value & 1u) && !(value & 0x80000000u); }
constexpr bool NpoIdValid(quint32 value) { return value >= kMinNpoId && value <= kMaxCobId; }

// What the panel last read from the node.
struct State
{
    quint32 canSwitches = 0;
    quint32 canBaudrate = 0;
    quint32 nsoId[2] = {};
    quint32 npoId[kNpoIds] = {};
    quint32 profileSwitches = 0;
};

} // namespace ServiceObjects

#endif // SERVICEOBJECTS_H
