#ifndef NIMBOPROTOCOL_H
#define NIMBOPROTOCOL_H

#include "framecourier_global.h"
#include "nimboqueue.h"
#include "nimbotypes.h"

#include <QtCore/QtGlobal>

// Frames payloads for the serial line (head bytes, length, payload, checksum) and finds, checks and
// unwraps frames in an arbitrary byte stream. Knows nothing of records.
class FRAMECOURIER_EXPORT NimboProtocol
{
public:
    NimboProtocol();
    virtual ~NimboProtocol();

    NimboProtocol(const NimboProtocol &) = delete;
    NimboProtocol &operator=(const NimboProtocol &) = delete;

    virtual int Init(int iDataMaxSize, int oDataMaxSize);
    // The frame pointer refers to this object's output buffer until the next call.
    virtual int CreateOutputPackage(char *payloadData, int payloadSize, char **packageData, int *packageSize);
    // Feed new bytes, then call again with no bytes until NP_QUEUE_EMPTY_. The payload pointer refers to
    // this object's input buffer until the next call.
    virtual int AssembleInputPackage(char *rawData, int rawDataLenth, char **payloadData, int *payloadSize);
    virtual int TotalBytesOfMemoryUsed();

    void SetChecksumOption(char option);
    int GetInDataMaxSize() const { return iDS; }
    int GetOutDataMaxSize() const { return oDS; }
    quint8 GetRoundUp() const { return roundUpTmp; }
    // Raw bytes that one AssembleInputPackage call can take without overwriting unread ones.
    int GetInQueueCapacity() const { return inQueue.capacity(); }
    // False until Init succeeded, or when a width field is not 1 or 2: then every call fails.
    bool IsUsable() const { return inBuf && outBuf && ValidWidths() && inQueue.capacity() > 0; }

    int GetStatistic_Recv_Byte_Total() const { return int(sRecvByte_Total); }
    float GetStatistic_Recv_Byte_BadHeadRate() const { return Rate(sRecvByte_BadHead, sRecvByte_Total); }
    int GetStatistic_Recv_Pkg_Total() const { return int(sRecvPkg_Total); }
    float GetStatistic_Recv_Pkg_OmitRate() const { return Rate(sRecvPkg_Omit, sRecvPkg_Total); }
    float GetStatistic_Recv_Pkg_BadRate() const { return Rate(sRecvPkg_Bad, sRecvPkg_Total); }
    float GetStatistic_Recv_Pkg_GoodRate() const { return Rate(sRecvPkg_Good, sRecvPkg_Total); }
    int GetStatistic_Send_Pkg_Total() const { return int(sSendPkg); }

    // Raw counters, for monitors and tests that need exact numbers.
    quint32 RecvByteBadHead() const { return sRecvByte_BadHead; }
    quint32 RecvByteGoodHead() const { return sRecvByte_GoodHead; }
    quint32 RecvPkgOmit() const { return sRecvPkg_Omit; }
    quint32 RecvPkgGood() const { return sRecvPkg_Good; }
    quint32 RecvPkgBad() const { return sRecvPkg_Bad; }

    // CRC-16/MODBUS (reflected 0xA001, start 0xFFFF, no final XOR).
    static quint16 Crc16(const char *data, int dataLength);

protected:
    virtual int UnWrapInData(char *packageData, char **payloadData, int payloadSize);
    virtual quint16 Checksum_Generate(char *data, int dataLength);
    virtual int Checksum_Verify(char *data, int dataLength, quint16 checksumToBeVerified);

    int iDS = 0;
    int oDS = 0;
    int totalMem = 13;
    quint32 sRecvByte_Total = 0;
    quint32 sRecvByte_BadHead = 0;
    quint32 sRecvByte_GoodHead = 0;
    quint32 sRecvPkg_Total = 0;
    quint32 sRecvPkg_Omit = 0;
    quint32 sRecvPkg_Good = 0;
    quint32 sRecvPkg_Bad = 0;
    quint32 sSendPkg = 0;
    quint8 HEAD_1_ = 0xAA;
    quint8 HEAD_2_ = 0x55;
    qint8 HEAD_LENGTH_ = 2;
    quint8 HEAD_LENGTH_MSB_AHEAD_ = 0;
    qint8 SIZE_LENGTH_ = 1;
    int MAX_PAYLOAD_SIZE_ = 120;
    qint8 CHECKSUM_LENGTH_ = 2;
    quint8 ENABLE_ROUND_UP_ = 1;
    qint8 ROUND_UP_NUM_ = 4;
    quint8 roundUpTmp = 0;
    quint8 CHECKSUM_OPTION_ = NP_CHECKSUM_2_BYTES_CRC_;
    char *outBuf = nullptr;
    char *inBuf = nullptr;
    int p = 0; // index into inBuf where the next byte of the frame being assembled goes
    NimboQueue inQueue{32};
    char omitStream = 'N';
    int declaredPayloadSize = 0;

private:
    static bool ValidWidth(qint8 w) { return w == 1 || w == 2; }
    bool ValidWidths() const
    {
        return ValidWidth(HEAD_LENGTH_) && ValidWidth(SIZE_LENGTH_) && ValidWidth(CHECKSUM_LENGTH_);
    }
    int Overhead() const { return HEAD_LENGTH_ + SIZE_LENGTH_ + CHECKSUM_LENGTH_; }
    static float Rate(quint32 num, quint32 den) { return den == 0 ? 0.0f : float(num) / float(den); }
    void FreeBuffers();
    // Takes count bytes (out may be null): first those of a failed frame, then the queue's.
    int Take(char *out, int count);
    // After a failed head, length or checksum: the bytes after the failed head are searched again.
    void Resynchronise();
    // The checksum field of the frame in inBuf.
    quint16 ReceivedChecksum() const;
    // Number of head and length bytes; the body starts here.
    int BodyOffset() const { return HEAD_LENGTH_ + SIZE_LENGTH_; }
    int inBufSize = 0;
    int outBufSize = 0;
    char *replayBuf = nullptr; // bytes of a failed frame still to be searched, [replayPos, replayEnd)
    int replayPos = 0;
    int replayEnd = 0;
};

#endif // NIMBOPROTOCOL_H
