#ifndef NIMBOCONVERSATION_H
#define NIMBOCONVERSATION_H

#include "framecourier_global.h"
#include "nimbotypes.h"

#include <QtCore/QObject>

class NimboObjectDictionary;
class NimboProfile;

// Makes a settings write (answered by Np_Ack) or a record request (answered by the record) reliable:
// one outstanding exchange, re-sent after 300 ms of silence, at most 3 times, then failed.
class FRAMECOURIER_EXPORT NimboConversation : public QObject
{
    Q_OBJECT

public:
    static constexpr int kWaiting = 2;
    static constexpr int kAnswered = 4;

    NimboConversation(NimboProfile *profile, NimboObjectDictionary *dictionary, QObject *parent = nullptr);

    int Assign(quint16 toId, quint8 cmd, quint8 cmdRequest);
    void Update_Recv(quint16 fromId, quint8 cmd, int result);
    void Set_Time(unsigned ms) { now = ms; }
    int Tick(quint16 *peer, quint8 *cmd, quint8 *cmdRequest);
    // Forgets the exchange in progress without a result (its link has closed).
    void Abandon() { Clear(); }

    quint8 PendingCmd() const { return pendingCmd; }
    int RetryCount() const { return retryCount; }

private:
    int Send();
    void Clear();

    NimboObjectDictionary *nOD;
    NimboProfile *profile;
    quint32 now = 0;
    quint32 lastSend = 0;
    quint32 timeOut = 300;
    int maxRetries = 3;
    quint16 peer = NP_ID_UNSPECIFIED_;
    quint8 pendingCmd = 0;
    quint8 cmdRequest = 0;
    int answerState = kWaiting;
    int retryCount = 0;
    // What a settings exchange writes; re-sends rebuild it, since a node's own settings arriving
    // meanwhile replace the dictionary's copy.
    Np_Settings settingsToWrite{};
};

#endif // NIMBOCONVERSATION_H
