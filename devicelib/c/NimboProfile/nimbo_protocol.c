#include "nimbo_protocol.h"

#include <string.h>

#define NP_BODY_OFFSET_ 3 /* two head bytes and the length byte */

int NimboProtocol_Init(NimboProtocol *np, int iDataMaxSize, int oDataMaxSize)
{
    memset(np, 0, sizeof(*np));
    np->checksumOption = NP_CHECKSUM_2_BYTES_CRC_;
    np->checksumLength = 2;
    NimboQueue_Init(&np->inQueue);
    if (iDataMaxSize < 1 || iDataMaxSize > NP_MAX_IN_PAYLOAD_ || oDataMaxSize < 1 ||
        oDataMaxSize > NP_MAX_OUT_PAYLOAD_)
        return NP_FAIL_;
    np->iDS = iDataMaxSize;
    np->oDS = oDataMaxSize;
    return NP_SUCC_;
}

void NimboProtocol_SetChecksumOption(NimboProtocol *np, int option)
{
    if (option == NP_CHECKSUM_2_BYTES_SUM_ || option == NP_CHECKSUM_2_BYTES_CRC_) {
        np->checksumOption = (uint8_t)option;
        np->checksumLength = 2;
    } else {
        np->checksumOption = NP_CHECKSUM_1_BYTE_SUM_;
        np->checksumLength = 1;
    }
}

uint16_t NimboProtocol_Crc16(const uint8_t *data, int length)
{
    /* Bitwise rather than a 512-byte table: frames are short and flash is scarce. */
    uint16_t crc = 0xFFFFu;
    int i;
    int bit;
    for (i = 0; i < length; ++i) {
        crc ^= data[i];
        for (bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (uint16_t)((crc >> 1) ^ 0xA001u) : (uint16_t)(crc >> 1);
    }
    return crc;
}

uint16_t NimboProtocol_Checksum(const NimboProtocol *np, const uint8_t *data, int length)
{
    uint32_t sum = 0;
    int i;
    if (np->checksumOption == NP_CHECKSUM_2_BYTES_CRC_)
        return NimboProtocol_Crc16(data, length);
    for (i = 0; i < length; ++i)
        sum += data[i];
    return np->checksumOption == NP_CHECKSUM_1_BYTE_SUM_ ? (uint16_t)(sum & 0xFFu)
                                                         : (uint16_t)(sum & 0xFFFFu);
}

int NimboProtocol_CreateOutputPackage(NimboProtocol *np, const uint8_t *payload, int payloadSize,
                                      const uint8_t **frame, int *frameSize)
{
    uint16_t checksum;
    uint8_t *out = np->outBuf;
    if (!payload || payloadSize < 1 || payloadSize > np->oDS)
        return NP_FAIL_;

    out[0] = NP_HEAD_1_;
    out[1] = NP_HEAD_2_;
    out[2] = (uint8_t)payloadSize;
    memcpy(out + NP_BODY_OFFSET_, payload, (size_t)payloadSize);
    checksum = NimboProtocol_Checksum(np, out + 2, payloadSize + 1);
    out[NP_BODY_OFFSET_ + payloadSize] = (uint8_t)(checksum & 0xFFu);
    if (np->checksumLength == 2)
        out[NP_BODY_OFFSET_ + payloadSize + 1] = (uint8_t)(checksum >> 8);

    if (frame)
        *frame = out;
    if (frameSize)
        *frameSize = NP_BODY_OFFSET_ + payloadSize + np->checksumLength;
    ++np->sSendPkg;
    return NP_SUCC_;
}

int NimboProtocol_InQueueFree(const NimboProtocol *np) { return NimboQueue_Free(&np->inQueue); }

/* Checks the complete frame in inBuf. */
static int ChecksumMatches(NimboProtocol *np);

static int UnwrapInData(NimboProtocol *np, const uint8_t **payload, int *payloadSize)
{
    const int n = np->declaredPayloadSize;
    if (!ChecksumMatches(np)) {
        ++np->sRecvPkg_Bad;
        return NP_FAIL_;
    }
    ++np->sRecvPkg_Good;
    if (payload)
        *payload = np->inBuf + NP_BODY_OFFSET_;
    if (payloadSize)
        *payloadSize = n;
    return NP_SUCC_;
}

/* The checksum field of the frame in inBuf matches its length byte and payload. */
static int ChecksumMatches(NimboProtocol *np)
{
    const int n = np->declaredPayloadSize;
    const uint8_t *checksumBytes = np->inBuf + NP_BODY_OFFSET_ + n;
    uint16_t received = checksumBytes[0];
    uint16_t expected = NimboProtocol_Checksum(np, np->inBuf + 2, n + 1);
    if (np->checksumLength == 2)
        received = (uint16_t)(received | ((unsigned)checksumBytes[1] << 8));
    else
        expected &= 0xFFu;
    return received == expected;
}

/* The next byte to look at: first those of a failed frame, then the queue's. */
static int TakeByte(NimboProtocol *np, uint8_t *c)
{
    if (np->replayPos < np->replayEnd) {
        *c = np->replay[np->replayPos++];
        return 1;
    }
    if (NimboQueue_Empty(&np->inQueue))
        return 0;
    *c = NimboQueue_Front(&np->inQueue);
    NimboQueue_Pop(&np->inQueue);
    return 1;
}

/* After a failed head, length or checksum, the bytes after the failed head are searched again,
   before what was still to be searched. They never outgrow one frame. */
static void Resynchronise(NimboProtocol *np)
{
    const int rest = np->replayEnd - np->replayPos;
    const int again = np->p - 1;
    memmove(np->replay + again, np->replay + np->replayPos, (size_t)rest);
    memcpy(np->replay, np->inBuf + 1, (size_t)again);
    np->replayPos = 0;
    np->replayEnd = again + rest;
    np->p = 0;
}

int NimboProtocol_AssembleInputPackage(NimboProtocol *np, const uint8_t *raw, int rawLength,
                                       const uint8_t **payload, int *payloadSize)
{
    int i;
    uint8_t c;
    if (payload)
        *payload = 0;
    if (payloadSize)
        *payloadSize = 0;
    if (np->iDS < 1)
        return NP_FAIL_;

    if (raw && rawLength > 0) {
        np->sRecvByte_Total += (uint32_t)rawLength;
        for (i = 0; i < rawLength; ++i)
            NimboQueue_Push(&np->inQueue, raw[i]);
    }

    while (TakeByte(np, &c)) {
        if (np->p == 0) {
            if (c == NP_HEAD_1_) {
                np->inBuf[np->p++] = c;
                np->omit = 0;
                ++np->sRecvByte_GoodHead;
            } else {
                ++np->sRecvByte_BadHead;
            }
        } else if (np->p == 1) {
            /* Not HEAD_2_: no frame, but this byte may start the next one. */
            np->inBuf[np->p++] = c;
            if (c != NP_HEAD_2_)
                Resynchronise(np);
        } else if (np->p == 2) {
            np->inBuf[np->p++] = c;
            if (c == 0 || c > NP_MAX_PAYLOAD_SIZE_) {
                Resynchronise(np);
            } else {
                np->declaredPayloadSize = c;
                np->omit = c > np->iDS;
            }
        } else {
            const int frameLength = np->declaredPayloadSize + NP_BODY_OFFSET_ + np->checksumLength;
            int result;
            np->inBuf[np->p++] = c;
            if (np->p < frameLength)
                continue;
            ++np->sRecvPkg_Total;
            if (!np->omit) {
                result = UnwrapInData(np, payload, payloadSize);
                if (result == NP_SUCC_)
                    np->p = 0;
                else
                    Resynchronise(np); /* a damaged length may have framed good frames */
                return result;
            }
            /* Skipped whatever its checksum; only a damaged one is searched again. */
            ++np->sRecvPkg_Omit;
            if (ChecksumMatches(np))
                np->p = 0;
            else
                Resynchronise(np);
            return np->replayPos >= np->replayEnd && NimboQueue_Empty(&np->inQueue) ? NP_QUEUE_EMPTY_
                                                                                    : NP_NORMAL_EXIT_;
        }
    }
    return NP_QUEUE_EMPTY_;
}
