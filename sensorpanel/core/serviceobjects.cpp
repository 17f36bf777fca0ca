#include "serviceobjects.h"

namespace ServiceObjects {

namespace {

enum CanSwitchBit {
    kAlwaysSet = 0,
    kPipelineBit = 1,
    kNsoBit = 2,
    kNpoFirstBit = 3, // channels 1..4: bits 3..6
    kPipelineExtIdBit = 7,
    kNsoExtIdBit = 8,
    kNpoExtIdBit = 9,
    kNsoAckUnknownBit = 10,
    kSuperUserBit = 11,
};

constexpr quint32 Bit(bool on, int bit) { return on ? (1u << bit) : 0u; }
constexpr bool Has(quint32 value, int bit) { return (value >> bit) & 1u; }

} // namespace

quint32 CanSwitches::Value() const
{
    quint32 value = Bit(true, kAlwaysSet) | Bit(pipeline, kPipelineBit) | Bit(nso, kNsoBit) |
                    Bit(pipelineExtId, kPipelineExtIdBit) | Bit(nsoExtId, kNsoExtIdBit) |
                    Bit(npoExtId, kNpoExtIdBit) | Bit(nsoAckUnknownIds, kNsoAckUnknownBit) |
                    Bit(pipelineSuperUser, kSuperUserBit);
    for (int channel = 0; channel < 4; ++channel)
        value |= Bit(npo[channel], kNpoFirstBit + channel);
    return value;
}

CanSwitches CanSwitches::FromValue(quint32 value)
{
    CanSwitches s;
    s.pipeline = Has(value, kPipelineBit);
    s.nso = Has(value, kNsoBit);
    for (int channel = 0; channel < 4; ++channel)
        s.npo[channel] = Has(value, kNpoFirstBit + channel);
    s.pipelineExtId = Has(value, kPipelineExtIdBit);
    s.nsoExtId = Has(value, kNsoExtIdBit);
    s.npoExtId = Has(value, kNpoExtIdBit);
    s.nsoAckUnknownIds = Has(value, kNsoAckUnknownBit);
    s.pipelineSuperUser = Has(value, kSuperUserBit);
    return s;
}

quint32 ProfileSwitches::Value() const
{
    return 1u | Bit(verticalInstall, 1) | (quint32(standardCode) & 0x3Fu) << 2 |
           (quint32(customisedCode) & 0x3Fu) << 8;
}

ProfileSwitches ProfileSwitches::FromValue(quint32 value)
{
    ProfileSwitches s;
    s.verticalInstall = Has(value, 1);
    s.standardCode = int((value >> 2) & 0x3Fu);
    s.customisedCode = int((value >> 8) & 0x3Fu);
    return s;
}

} // namespace ServiceObjects
