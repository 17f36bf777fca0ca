// Framing of the serial line: AA 55, payload length (1..120), payload, checksum over the length byte
// and the payload (CRC-16/MODBUS by default, low byte first).
//
// Sending: CreateOutputPackage wraps one payload into a frame in the object's own output buffer.
// Receiving: AssembleInputPackage takes raw bytes from the line, finds frames in them, checks them
// and hands back one payload per call; call it again with no bytes until it returns
// NP_QUEUE_EMPTY_. Frames longer than the receive size are skipped whole.
#ifndef NIMBOPROTOCOL_H
#define NIMBOPROTOCOL_H

#include "nimboqueue.h"
#include "nimbotypes.h"

// Bytes received but not yet examined; a board with little memory may want fewer.
#ifndef NP_IN_QUEUE_CAPACITY_
#if defined(__AVR__)
#define NP_IN_QUEUE_CAPACITY_ 64
#else
#define NP_IN_QUEUE_CAPACITY_ 256
#endif
#endif

class NimboProtocol
{
public:
    static const uint8_t kHead1 = 0xAA;
    static const uint8_t kHead2 = 0x55;
    static const uint8_t kMaxPayload = 120;
    static const uint8_t kOverhead = 5; // two head bytes, length, two checksum bytes

    NimboProtocol();

    // Largest payloads accepted on receive and sent; at most NP_MAX_RECORD_SIZE_ each.
    int Init(int inMaxSize, int outMaxSize);
    // NP_CHECKSUM_2_BYTES_SUM_ or NP_CHECKSUM_2_BYTES_CRC_; anything else selects the 1-byte sum.
    void SetChecksumOption(uint8_t option);

    static uint16_t Crc16(const uint8_t *data, int length);
    uint16_t Checksum(const uint8_t *data, int length) const;

    // The frame refers to the object's output buffer until the next call.
    int CreateOutputPackage(const uint8_t *payload, int payloadSize, const uint8_t **frame, int *frameSize);

    // After a damaged frame (a wrong second head byte, length or checksum) the search goes on from
    // the byte after its head, so no intact frame is lost to noise or to a damaged length byte.
    // NP_SUCC_ with one payload (valid until the next call), NP_FAIL_ for a checksum mismatch,
    // NP_NORMAL_EXIT_ after skipping an over-long frame with bytes still queued, NP_QUEUE_EMPTY_ when
    // every queued byte has been examined. Pass at most InQueueFree() bytes per call: more would
    // overwrite the oldest unread ones.
    int AssembleInputPackage(const uint8_t *raw, int rawLength, const uint8_t **payload, int *payloadSize);
    int InQueueFree() const { return int(inQueue.Free()); }

    // Statistics since construction.
    uint32_t RecvByteTotal() const { return sRecvByte_Total; }
    uint32_t RecvByteBadHead() const { return sRecvByte_BadHead; }
    uint32_t RecvPkgTotal() const { return sRecvPkg_Total; }
    uint32_t RecvPkgGood() const { return sRecvPkg_Good; }
    uint32_t RecvPkgBad() const { return sRecvPkg_Bad; }
    uint32_t RecvPkgOmit() const { return sRecvPkg_Omit; }
    uint32_t SendPkg() const { return sSendPkg; }

private:
    static const uint8_t kBodyOffset = 3; // two head bytes and the length byte

    int UnwrapInData(const uint8_t **payload, int *payloadSize);
    bool ChecksumMatches() const;
    // The next byte to look at: first those of a failed frame, then the queue's.
    bool TakeByte(uint8_t *c);
    // After a failed head, length or checksum the bytes after the failed head are searched again.
    void Resynchronise();

    int iDS;
    int oDS;
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
    uint8_t outBuf[NP_MAX_RECORD_SIZE_ + kOverhead];
    // Room for the longest frame the length allows: a skipped frame is kept while it arrives, so
    // that a damaged one can be searched again for the frames it seemed to contain.
    uint8_t inBuf[kMaxPayload + kOverhead];
    int p;     // where the next byte of the frame being assembled goes; 0 = hunting for a frame
    bool omit; // the current frame is longer than iDS: skipped, not delivered
    uint8_t replay[kMaxPayload + kOverhead]; // bytes of a failed frame still to be searched
    int replayPos;
    int replayEnd;
    int declaredPayloadSize;
    NimboQueue<NP_IN_QUEUE_CAPACITY_> inQueue;
};

#endif // NIMBOPROTOCOL_H
