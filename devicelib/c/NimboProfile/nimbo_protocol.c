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
static int UnwrapInData(NimboProtocol *np, const uint8_t **payload, int *payloadSize)
{
    const int n = np->declaredPayloadSize;
    const uint8_t *checksumBytes = np->inBuf + NP_BODY_OFFSET_ + n;
    uint16_t received = checksumBytes[0];
    uint16_t expected = NimboProtocol_Checksum(np, np->inBuf + 2, n + 1);
    if (np->checksumLength == 2) {
        received = (uint16_t)(received | ((unsigned)checksumBytes[1] << 8));
    } else {
        expected &= 0xFFu;
    }
    if (received != expected) {
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

int NimboProtocol_AssembleInputPackage(NimboProtocol *np, const uint8_t *raw, int rawLength,
                                       const uint8_t **payload, int *payloadSize)
{
    int i;
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

    while (!NimboQueue_Empty(&np->inQueue)) {
        const uint8_t c = NimboQueue_Front(&np->inQueue);
        NimboQueue_Pop(&np->inQueue);

        if (np->p == 0) {
            if (c == NP_HEAD_1_) {
                np->inBuf[np->p++] = c;
                np->omit = 0;
                ++np->sRecvByte_GoodHead;
            } else {
                ++np->sRecvByte_BadHead;
            }
        } else if (np->p == 1) {
            /* Not HEAD_2_: dropped, and not looked at again as a new HEAD_1_. */
            if (c == NP_HEAD_2_)
                np->inBuf[np->p++] = c;
            else
                np->p = 0;
        } else if (np->p == 2) {
            if (c == 0 || c > NP_MAX_PAYLOAD_SIZE_) {
                np->p = 0;
            } else {
                np->inBuf[np->p++] = c;
                np->declaredPayloadSize = c;
                np->omit = c > np->iDS;
            }
        } else {
            const int frameLength = np->declaredPayloadSize + NP_BODY_OFFSET_ + np->checksumLength;
            if (!np->omit)
                np->inBuf[np->p] = c;
            ++np->p;
            if (np->p == frameLength) {
                ++np->sRecvPkg_Total;
                np->p = 0;
                if (!np->omit)
                    return UnwrapInData(np, payload, payloadSize);
                ++np->sRecvPkg_Omit;
                return NimboQueue_Empty(&np->inQueue) ? NP_QUEUE_EMPTY_ : NP_NORMAL_EXIT_;
            }
        }
    }
    return NP_QUEUE_EMPTY_;
}
