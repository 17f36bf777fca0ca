/*
 * Framing of the serial line: AA 55, payload length (1..120), payload, checksum over the length
 * byte and the payload (CRC-16/MODBUS by default, low byte first).
 *
 * Building: NimboProtocol_CreateOutputPackage wraps one payload into a frame in the object's own
 * output buffer. Receiving: NimboProtocol_AssembleInputPackage takes raw bytes from the line, finds
 * frames in them, checks them and hands back one payload per call; call it again with no bytes
 * until it returns NP_QUEUE_EMPTY_. Frames longer than the receive size are skipped whole. After a
 * damaged frame (a wrong second head byte, length or checksum) the search goes on from the byte
 * after its head, so no intact frame is lost to noise or to a damaged length byte.
 */
#ifndef NIMBO_PROTOCOL_H
#define NIMBO_PROTOCOL_H

#include "nimbo_queue.h"
#include "nimbo_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define NP_HEAD_1_ 0xAAu
#define NP_HEAD_2_ 0x55u
#define NP_MAX_PAYLOAD_SIZE_ 120
#define NP_FRAME_OVERHEAD_ 5 /* two head bytes, length, two checksum bytes */

/* Largest payloads the buffers hold; the records are at most 44 bytes. */
#ifndef NP_MAX_IN_PAYLOAD_
#define NP_MAX_IN_PAYLOAD_ NP_MAX_RECORD_SIZE_
#endif
#ifndef NP_MAX_OUT_PAYLOAD_
#define NP_MAX_OUT_PAYLOAD_ NP_MAX_RECORD_SIZE_
#endif

#if NP_MAX_IN_PAYLOAD_ > NP_MAX_PAYLOAD_SIZE_ || NP_MAX_OUT_PAYLOAD_ > NP_MAX_PAYLOAD_SIZE_
#error "payload buffers larger than the framing allows"
#endif

typedef struct
{
    int iDS; /* largest payload accepted on receive */
    int oDS; /* largest payload that can be sent */

    /* Receive and send statistics; never reset while the object lives. */
    uint32_t sRecvByte_Total;
    uint32_t sRecvByte_BadHead;
    uint32_t sRecvByte_GoodHead;
    uint32_t sRecvPkg_Total;
    uint32_t sRecvPkg_Omit;
    uint32_t sRecvPkg_Good;
    uint32_t sRecvPkg_Bad;
    uint32_t sSendPkg;

    uint8_t checksumOption;
    uint8_t checksumLength;

    uint8_t outBuf[NP_MAX_OUT_PAYLOAD_ + NP_FRAME_OVERHEAD_];
    /* Room for the longest frame the length allows: a skipped frame is kept while it arrives, so
       that a damaged one can be searched again. */
    uint8_t inBuf[NP_MAX_PAYLOAD_SIZE_ + NP_FRAME_OVERHEAD_];
    int p;    /* where the next byte of the frame being assembled goes; 0 = hunting */
    int omit; /* the current frame is longer than iDS: skipped, not delivered */
    /* Bytes of a failed frame still to be searched, [replayPos, replayEnd). */
    uint8_t replay[NP_MAX_PAYLOAD_SIZE_ + NP_FRAME_OVERHEAD_];
    int replayPos;
    int replayEnd;
    int declaredPayloadSize;
    NimboQueue inQueue;
} NimboProtocol;

/* Sizes of at most NP_MAX_IN_PAYLOAD_ / NP_MAX_OUT_PAYLOAD_; anything else fails. */
int NimboProtocol_Init(NimboProtocol *np, int iDataMaxSize, int oDataMaxSize);
/* NP_CHECKSUM_2_BYTES_SUM_ or NP_CHECKSUM_2_BYTES_CRC_; any other value selects the 1-byte sum. */
void NimboProtocol_SetChecksumOption(NimboProtocol *np, int option);

uint16_t NimboProtocol_Crc16(const uint8_t *data, int length);
uint16_t NimboProtocol_Checksum(const NimboProtocol *np, const uint8_t *data, int length);

/* The frame refers to the object's output buffer until the next call. */
int NimboProtocol_CreateOutputPackage(NimboProtocol *np, const uint8_t *payload, int payloadSize,
                                      const uint8_t **frame, int *frameSize);

/*
 * Returns NP_SUCC_ with one payload (valid until the next call), NP_FAIL_ for a checksum mismatch,
 * NP_NORMAL_EXIT_ after skipping an over-long frame with bytes still queued, NP_QUEUE_EMPTY_ when
 * every queued byte has been examined. Pass at most NimboProtocol_InQueueFree bytes per call:
 * more would overwrite the oldest unread ones.
 */
int NimboProtocol_AssembleInputPackage(NimboProtocol *np, const uint8_t *raw, int rawLength,
                                       const uint8_t **payload, int *payloadSize);
int NimboProtocol_InQueueFree(const NimboProtocol *np);

#ifdef __cplusplus
}
#endif

#endif /* NIMBO_PROTOCOL_H */
