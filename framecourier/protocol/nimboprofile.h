#ifndef NIMBOPROFILE_H
#define NIMBOPROFILE_H

#include "framecourier_global.h"
#include "nimboobjectdictionary.h"
#include "nimboprotocol.h"
#include "nimbotypes.h"

#include <QtCore/QObject>

#include <algorithm>

// Between the byte stream and the program: received frames become stored records and one typed
// Sig_RX_Data per record for the host; queued records leave one frame per Next_SendPkg call.
class FRAMECOURIER_EXPORT NimboProfile : public QObject
{
    Q_OBJECT

public:
    // Scheduler slots 1..20 (slot 0 is Np_Ack, outside the rotation); 16..20 are empty.
    static constexpr int kSlots = 20;
    static const quint8 (&kSlotCmd)[kSlots + 1];

    explicit NimboProfile(NimboObjectDictionary *nOD_i, QObject *parent = nullptr);
    ~NimboProfile() override;

    int On_RecvPkg(char *data, int dataSize, Np_Header *header);
    int On_SendPkg(quint8 cmd, quint16 *toId, char **pkgData, int *pkgSize);
    int Queue_SendPkg(quint16 toId, quint8 cmd);
    int Next_SendPkg(quint16 *toId, char **pkgData, int *pkgSize);

    // Feeds one received chunk through On_RecvPkg and drains it, calling afterEach(result, header)
    // after every call. A chunk larger than the framing's queue is fed in pieces that fit, so that no
    // unread byte is overwritten however large the chunk.
    template <typename AfterEach>
    void Drain(const char *data, int size, AfterEach &&afterEach);

    NimboProtocol *Protocol() const { return nP; }
    NimboObjectDictionary *Dictionary() const { return nOD; }
    bool IsQueued(quint8 cmd) const;
    int OnceIndex() const { return onceIndex; }
    // The record type of the newest frame Next_SendPkg built.
    quint8 LastSentCmd() const { return lastSentCmd; }

signals:
    void Sig_RX_Data(const Np_HeartBeat &np_Heartbeat);
    void Sig_RX_Data(const Np_Request &np_Request);
    void Sig_RX_Data(const Np_Ack &np_Ack);
    void Sig_RX_Data(const Np_Settings &np_Settings);
    void Sig_RX_Data(const Np_Status &np_Status);
    void Sig_RX_Data(const Np_Calib &np_Calib);
    void Sig_RX_Data(const Np_Id &np_Id);
    void Sig_RX_Data(const Np_Id_Ext &np_Id_Ext);
    void Sig_RX_Data(const Np_NodeCtrl &np_NodeCtrl);
    void Sig_RX_Data(const Np_NSO &np_NSO);
    void Sig_RX_Data(const Np_Raw_GyroAccMag &np_Raw_GyroAccMag);
    void Sig_RX_Data(const Np_Raw_GyroAccMag_Ext &np_Raw_GyroAccMag_Ext);
    void Sig_RX_Data(const Np_Q_s1_s &np_Q_s1_s);
    void Sig_RX_Data(const Np_Q_s1_e &np_Q_s1_e);
    void Sig_RX_Data(const Np_Euler_s1_s &np_Euler_s1_s);
    void Sig_RX_Data(const Np_Euler_s1_e &np_Euler_s1_e);
    void Sig_RX_Data(const Np_RPY &np_RPY);
    void Sig_RX_Data(const Np_Gravity &np_Gravity);
    void Sig_RX_Data(const Np_Combo &np_Combo);
    void Sig_RX_Data(const Np_Customized &np_Customized);

private:
    static int SlotOf(quint8 cmd);
    int Dispatch(quint8 cmd);
    template <typename T, typename Reader>
    void ReadAndEmit(Reader read);
    // What follows the signal of a received record: a node's request is answered from the store.
    template <typename T>
    void Signalled(const T &) {}
    void Signalled(const Np_Request &request);

    NimboObjectDictionary *nOD;
    NimboProtocol *nP;
    quint32 onceFlags = 0; // bit = scheduler slot
    int onceIndex = 1;
    quint8 lastSentCmd = 0;
};

template <typename AfterEach>
void NimboProfile::Drain(const char *data, int size, AfterEach &&afterEach)
{
    Np_Header header{};
    // An unusable framing fails every call; draining it would never reach NP_QUEUE_EMPTY_.
    if (!nP->IsUsable()) {
        afterEach(NP_FAIL_, header);
        return;
    }
    const int piece = nP->GetInQueueCapacity();
    int offset = 0;
    do {
        const int n = std::min(std::max(size - offset, 0), piece);
        int result = On_RecvPkg(const_cast<char *>(data) + offset, n, &header);
        afterEach(result, header);
        while (result != NP_QUEUE_EMPTY_) {
            result = On_RecvPkg(nullptr, 0, &header);
            afterEach(result, header);
        }
        offset += n;
    } while (offset < size);
}

#endif // NIMBOPROFILE_H
