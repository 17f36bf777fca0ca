#include "nimboprotocol.h"

#include <array>
#include <cstring>

namespace {

// Largest frame overhead the width fields allow (2 head + 2 length + 2 checksum bytes); buffers are
// sized for it so that a width changed after Init can never write past them.
constexpr int kMaxOverhead = 6;

constexpr std::array<quint16, 256> MakeCrcTable()
{
    std::array<quint16, 256> table{};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = quint16(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? quint16((crc >> 1) ^ 0xA001u) : quint16(crc >> 1);
        table[size_t(i)] = crc;
    }
    return table;
}

constexpr std::array<quint16, 256> kCrcTable = MakeCrcTable();

} // namespace

NimboProtocol::NimboProtocol() = default;

NimboProtocol::~NimboProtocol() { FreeBuffers(); }

void NimboProtocol::FreeBuffers()
{
    delete[] inBuf;
    delete[] outBuf;
    delete[] replayBuf;
    inBuf = nullptr;
    outBuf = nullptr;
    replayBuf = nullptr;
    replayPos = replayEnd = 0;
    inBufSize = 0;
    outBufSize = 0;
}

int NimboProtocol::Init(int iDataMaxSize, int oDataMaxSize)
{
    totalMem = 0;
    if (iDataMaxSize > MAX_PAYLOAD_SIZE_ || oDataMaxSize > MAX_PAYLOAD_SIZE_ || iDataMaxSize < 0 ||
        oDataMaxSize < 0)
        return NP_FAIL_;

    FreeBuffers();
    iDS = iDataMaxSize;
    oDS = oDataMaxSize;
    // Room for the longest frame the length field allows: an oversized frame is kept while it
    // arrives, so that a damaged one can be searched again for the frames it swallowed.
    inBufSize = MAX_PAYLOAD_SIZE_ + kMaxOverhead;
    outBufSize = oDS + kMaxOverhead;
    inBuf = new char[size_t(inBufSize)]();
    outBuf = new char[size_t(outBufSize)]();
    replayBuf = new char[size_t(inBufSize)]();
    p = 0;
    omitStream = 'N';
    inQueue.resize(iDS * 50);

    const int overhead = Overhead();
    totalMem = (iDS + overhead) + (oDS + overhead) + 50 * iDS + 32;
    return NP_SUCC_;
}

int NimboProtocol::TotalBytesOfMemoryUsed() { return totalMem; }

void NimboProtocol::SetChecksumOption(char option)
{
    if (option == NP_CHECKSUM_2_BYTES_SUM_ || option == NP_CHECKSUM_2_BYTES_CRC_) {
        CHECKSUM_OPTION_ = quint8(option);
        CHECKSUM_LENGTH_ = 2;
    } else {
        CHECKSUM_OPTION_ = NP_CHECKSUM_1_BYTE_SUM_;
        CHECKSUM_LENGTH_ = 1;
    }
}

quint16 NimboProtocol::Crc16(const char *data, int dataLength)
{
    quint16 crc = 0xFFFF;
    for (int i = 0; i < dataLength; ++i)
        crc = quint16((crc >> 8) ^ kCrcTable[(crc ^ quint8(data[i])) & 0xFFu]);
    return crc;
}

quint16 NimboProtocol::Checksum_Generate(char *data, int dataLength)
{
    if (CHECKSUM_OPTION_ == NP_CHECKSUM_2_BYTES_CRC_)
        return Crc16(data, dataLength);
    quint32 sum = 0;
    for (int i = 0; i < dataLength; ++i)
        sum += quint8(data[i]);
    return CHECKSUM_OPTION_ == NP_CHECKSUM_1_BYTE_SUM_ ? quint16(sum & 0xFFu) : quint16(sum & 0xFFFFu);
}

int NimboProtocol::Checksum_Verify(char *data, int dataLength, quint16 checksumToBeVerified)
{
    quint16 generated = Checksum_Generate(data, dataLength);
    if (CHECKSUM_LENGTH_ == 1) {
        generated &= 0xFFu;
        checksumToBeVerified &= 0xFFu;
    }
    return generated == checksumToBeVerified ? NP_SUCC_ : NP_FAIL_;
}

int NimboProtocol::CreateOutputPackage(char *payloadData, int payloadSize, char **packageData,
                                       int *packageSize)
{
    // A payload longer than oDS would not fit the output buffer; an empty one no receiver accepts.
    if (payloadSize > MAX_PAYLOAD_SIZE_ || payloadSize > oDS || payloadSize < 1 || !ValidWidths() ||
        !outBuf || !payloadData || !packageData || !packageSize)
        return NP_FAIL_;

    char *out = outBuf;
    *out++ = char(HEAD_1_);
    if (HEAD_LENGTH_ == 2)
        *out++ = char(HEAD_2_);
    char *lengthField = out;
    if (SIZE_LENGTH_ == 1) {
        *out++ = char(payloadSize);
    } else if (HEAD_LENGTH_MSB_AHEAD_) {
        *out++ = char((payloadSize >> 8) & 0xFF);
        *out++ = char(payloadSize & 0xFF);
    } else {
        *out++ = char(payloadSize & 0xFF);
        *out++ = char((payloadSize >> 8) & 0xFF);
    }
    std::memcpy(out, payloadData, size_t(payloadSize));
    out += payloadSize;

    const quint16 checksum = Checksum_Generate(lengthField, SIZE_LENGTH_ + payloadSize);
    *out++ = char(checksum & 0xFF);
    if (CHECKSUM_LENGTH_ == 2)
        *out++ = char(checksum >> 8);

    *packageSize = payloadSize + Overhead();
    *packageData = outBuf;
    ++sSendPkg;
    return NP_SUCC_;
}

int NimboProtocol::AssembleInputPackage(char *rawData, int rawDataLenth, char **payloadData, int *payloadSize)
{
    if (payloadData)
        *payloadData = nullptr;
    if (payloadSize)
        *payloadSize = 0;
    if (!ValidWidths() || !inBuf)
        return NP_FAIL_;

    if (rawData && rawDataLenth > 0) {
        sRecvByte_Total += quint32(rawDataLenth);
        inQueue.pushMany(rawData, rawDataLenth);
    }

    const int bodyOffset = BodyOffset();
    while (replayPos < replayEnd || !inQueue.empty()) {
        if (p == 0) {
            // Hunting: every byte before the next HEAD_1_ is a bad head byte. Bytes of a failed
            // frame are searched again before new ones.
            const bool replaying = replayPos < replayEnd;
            int run = 0;
            const char *front = replaying ? replayBuf + replayPos : inQueue.frontRun(&run);
            if (replaying)
                run = replayEnd - replayPos;
            const void *hit = std::memchr(front, HEAD_1_, size_t(run));
            const int skipped = hit ? int(static_cast<const char *>(hit) - front) : run;
            sRecvByte_BadHead += quint32(skipped);
            Take(nullptr, skipped);
            if (hit) {
                Take(nullptr, 1);
                inBuf[p++] = char(HEAD_1_);
                omitStream = 'N';
                ++sRecvByte_GoodHead;
            }
            continue;
        }

        if (p < bodyOffset) {
            char c = 0;
            Take(&c, 1);
            inBuf[p++] = c;
            if (HEAD_LENGTH_ == 2 && p == 2) {
                // Not a second head byte: not a frame; this byte may start the next one.
                if (quint8(c) != HEAD_2_)
                    Resynchronise();
                continue;
            }
            if (p < bodyOffset)
                continue;

            const quint8 *lengthField = reinterpret_cast<const quint8 *>(inBuf + HEAD_LENGTH_);
            int length = lengthField[0];
            if (SIZE_LENGTH_ == 2)
                length = HEAD_LENGTH_MSB_AHEAD_ ? (lengthField[0] << 8) | lengthField[1]
                                                : lengthField[0] | (lengthField[1] << 8);
            if (length == 0 || length > MAX_PAYLOAD_SIZE_) {
                Resynchronise();
                continue;
            }
            declaredPayloadSize = length;
            if (ENABLE_ROUND_UP_) {
                const int rest = length % ROUND_UP_NUM_;
                roundUpTmp = quint8(rest == 0 ? 0 : ROUND_UP_NUM_ - rest);
            }
            omitStream = length > iDS ? 'Y' : 'N';
            continue;
        }

        const int frameLength = declaredPayloadSize + Overhead();
        p += Take(inBuf + p, frameLength - p);
        if (p < frameLength)
            continue;
        ++sRecvPkg_Total;
        if (omitStream == 'N') {
            const int result = UnWrapInData(inBuf, payloadData, declaredPayloadSize);
            if (result == NP_SUCC_) {
                p = 0;
                if (payloadSize)
                    *payloadSize = declaredPayloadSize;
            } else {
                // A damaged length may have framed good frames inside this one: look again from
                // the byte after its head.
                Resynchronise();
            }
            return result;
        }
        // Too long for this receiver: omitted, whatever its checksum. Only a damaged one is
        // searched again, so that good frames it seemed to contain are not lost.
        ++sRecvPkg_Omit;
        if (Checksum_Verify(inBuf + HEAD_LENGTH_, SIZE_LENGTH_ + declaredPayloadSize, ReceivedChecksum()) ==
            NP_SUCC_)
            p = 0;
        else
            Resynchronise();
        return replayPos >= replayEnd && inQueue.empty() ? NP_QUEUE_EMPTY_ : NP_NORMAL_EXIT_;
    }
    return NP_QUEUE_EMPTY_;
}

int NimboProtocol::Take(char *out, int count)
{
    int taken = 0;
    if (replayPos < replayEnd) {
        taken = qMin(count, replayEnd - replayPos);
        if (out)
            std::memcpy(out, replayBuf + replayPos, size_t(taken));
        replayPos += taken;
    }
    if (taken < count)
        taken += inQueue.popMany(out ? out + taken : nullptr, count - taken);
    return taken;
}

void NimboProtocol::Resynchronise()
{
    // What followed the failed head goes back in front of what is still to be searched. It never
    // outgrows one frame: bytes taken from the replay come back shorter by the head, and bytes
    // taken from the queue only once the replay is used up.
    const int rest = replayEnd - replayPos;
    const int again = p - 1;
    std::memmove(replayBuf + again, replayBuf + replayPos, size_t(rest));
    std::memcpy(replayBuf, inBuf + 1, size_t(again));
    replayPos = 0;
    replayEnd = again + rest;
    p = 0;
}

quint16 NimboProtocol::ReceivedChecksum() const
{
    const quint8 *bytes =
        reinterpret_cast<const quint8 *>(inBuf + HEAD_LENGTH_ + SIZE_LENGTH_ + declaredPayloadSize);
    return CHECKSUM_LENGTH_ == 2 ? quint16(bytes[0] | (bytes[1] << 8)) : bytes[0];
}

int NimboProtocol::UnWrapInData(char *packageData, char **payloadData, int payloadSize)
{
    char *lengthField = packageData + HEAD_LENGTH_;
    const quint8 *checksumBytes = reinterpret_cast<const quint8 *>(lengthField + SIZE_LENGTH_ + payloadSize);
    quint16 received = checksumBytes[0];
    if (CHECKSUM_LENGTH_ == 2)
        received = quint16(received | (checksumBytes[1] << 8));

    if (Checksum_Verify(lengthField, SIZE_LENGTH_ + payloadSize, received) == NP_SUCC_) {
        ++sRecvPkg_Good;
        if (payloadData)
            *payloadData = lengthField + SIZE_LENGTH_;
        return NP_SUCC_;
    }
    ++sRecvPkg_Bad;
    if (payloadData)
        *payloadData = nullptr;
    return NP_FAIL_;
}
