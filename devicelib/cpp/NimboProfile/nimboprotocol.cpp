#include "nimboprotocol.h"

#include <string.h>

NimboProtocol::NimboProtocol()
    : iDS(0)
    , oDS(0)
    , sRecvByte_Total(0)
    , sRecvByte_BadHead(0)
    , sRecvByte_GoodHead(0)
    , sRecvPkg_Total(0)
    , sRecvPkg_Omit(0)
    , sRecvPkg_Good(0)
    , sRecvPkg_Bad(0)
    , sSendPkg(0)
    , checksumOption(NP_CHECKSUM_2_BYTES_CRC_)
    , checksumLength(2)
    , p(0)
    , omit(false)
    , replayPos(0)
    , replayEnd(0)
    , declaredPayloadSize(0)
{
    Init(NP_MAX_RECORD_SIZE_, NP_MAX_RECORD_SIZE_);
}

int NimboProtocol::Init(int inMaxSize, int outMaxSize)
{
    p = 0;
    replayPos = replayEnd = 0;
    inQueue.Clear();
    if (inMaxSize < 1 || inMaxSize > NP_MAX_RECORD_SIZE_ || outMaxSize < 1 ||
        outMaxSize > NP_MAX_RECORD_SIZE_) {
        iDS = oDS = 0;
        return NP_FAIL_;
    }
    iDS = inMaxSize;
    oDS = outMaxSize;
    return NP_SUCC_;
}

void NimboProtocol::SetChecksumOption(uint8_t option)
{
    if (option == NP_CHECKSUM_2_BYTES_SUM_ || option == NP_CHECKSUM_2_BYTES_CRC_) {
        checksumOption = option;
        checksumLength = 2;
    } else {
        checksumOption = NP_CHECKSUM_1_BYTE_SUM_;
        checksumLength = 1;
    }
}

uint16_t NimboProtocol::Crc16(const uint8_t *data, int length)
{
    // Bitwise rather than a 512-byte table: frames are short and a small board's flash is scarce.
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < length; ++i) {
        crc ^= data[i];
        for (uint8_t bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? uint16_t((crc >> 1) ^ 0xA001u) : uint16_t(crc >> 1);
    }
    return crc;
}

uint16_t NimboProtocol::Checksum(const uint8_t *data, int length) const
{
    if (checksumOption == NP_CHECKSUM_2_BYTES_CRC_)
        return Crc16(data, length);
    uint32_t sum = 0;
    for (int i = 0; i < length; ++i)
        sum += data[i];
    return checksumOption == NP_CHECKSUM_1_BYTE_SUM_ ? uint16_t(sum & 0xFFu) : uint16_t(sum & 0xFFFFu);
}

int NimboProtocol::CreateOutputPackage(const uint8_t *payload, int payloadSize, const uint8_t **frame,
                                       int *frameSize)
{
    if (!payload || payloadSize < 1 || payloadSize > oDS)
        return NP_FAIL_;
    outBuf[0] = kHead1;
    outBuf[1] = kHead2;
    outBuf[2] = uint8_t(payloadSize);
    memcpy(outBuf + kBodyOffset, payload, size_t(payloadSize));
    const uint16_t checksum = Checksum(outBuf + 2, payloadSize + 1);
    outBuf[kBodyOffset + payloadSize] = uint8_t(checksum & 0xFFu);
    if (checksumLength == 2)
        outBuf[kBodyOffset + payloadSize + 1] = uint8_t(checksum >> 8);
    if (frame)
        *frame = outBuf;
    if (frameSize)
        *frameSize = kBodyOffset + payloadSize + checksumLength;
    ++sSendPkg;
    return NP_SUCC_;
}

// Checks the complete frame in inBuf.
bool NimboProtocol::ChecksumMatches() const
{
    const int n = declaredPayloadSize;
    const uint8_t *checksumBytes = inBuf + kBodyOffset + n;
    uint16_t received = checksumBytes[0];
    uint16_t expected = Checksum(inBuf + 2, n + 1);
    if (checksumLength == 2)
        received = uint16_t(received | uint16_t(checksumBytes[1]) << 8);
    else
        expected &= 0xFFu;
    return received == expected;
}

bool NimboProtocol::TakeByte(uint8_t *c)
{
    if (replayPos < replayEnd) {
        *c = replay[replayPos++];
        return true;
    }
    if (inQueue.Empty())
        return false;
    *c = inQueue.Front();
    inQueue.Pop();
    return true;
}

void NimboProtocol::Resynchronise()
{
    // Before what was still to be searched; never more than one frame.
    const int rest = replayEnd - replayPos;
    const int again = p - 1;
    memmove(replay + again, replay + replayPos, size_t(rest));
    memcpy(replay, inBuf + 1, size_t(again));
    replayPos = 0;
    replayEnd = again + rest;
    p = 0;
}

int NimboProtocol::UnwrapInData(const uint8_t **payload, int *payloadSize)
{
    const int n = declaredPayloadSize;
    if (!ChecksumMatches()) {
        ++sRecvPkg_Bad;
        return NP_FAIL_;
    }
    ++sRecvPkg_Good;
    if (payload)
        *payload = inBuf + kBodyOffset;
    if (payloadSize)
        *payloadSize = n;
    return NP_SUCC_;
}

int NimboProtocol::AssembleInputPackage(const uint8_t *raw, int rawLength, const uint8_t **payload,
                                        int *payloadSize)
{
    if (payload)
        *payload = 0;
    if (payloadSize)
        *payloadSize = 0;
    if (iDS < 1)
        return NP_FAIL_;
    if (raw && rawLength > 0) {
        sRecvByte_Total += uint32_t(rawLength);
        for (int i = 0; i < rawLength; ++i)
            inQueue.Push(raw[i]);
    }

    uint8_t c;
    while (TakeByte(&c)) {
        if (p == 0) {
            if (c == kHead1) {
                inBuf[p++] = c;
                omit = false;
                ++sRecvByte_GoodHead;
            } else {
                ++sRecvByte_BadHead;
            }
        } else if (p == 1) {
            // Not the second head byte: no frame, but this byte may start the next one.
            inBuf[p++] = c;
            if (c != kHead2)
                Resynchronise();
        } else if (p == 2) {
            inBuf[p++] = c;
            if (c == 0 || c > kMaxPayload) {
                Resynchronise();
            } else {
                declaredPayloadSize = c;
                omit = c > iDS;
            }
        } else {
            const int frameLength = declaredPayloadSize + kBodyOffset + checksumLength;
            inBuf[p++] = c;
            if (p < frameLength)
                continue;
            ++sRecvPkg_Total;
            if (!omit) {
                const int result = UnwrapInData(payload, payloadSize);
                if (result == NP_SUCC_)
                    p = 0;
                else
                    Resynchronise(); // a damaged length may have framed good frames
                return result;
            }
            // Skipped whatever its checksum; only a damaged one is searched again.
            ++sRecvPkg_Omit;
            if (ChecksumMatches())
                p = 0;
            else
                Resynchronise();
            return replayPos >= replayEnd && inQueue.Empty() ? NP_QUEUE_EMPTY_ : NP_NORMAL_EXIT_;
        }
    }
    return NP_QUEUE_EMPTY_;
}
