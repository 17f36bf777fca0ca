#include "nimboconversation.h"

#include "nimboobjectdictionary.h"
#include "nimboprofile.h"

NimboConversation::NimboConversation(NimboProfile *profile_i, NimboObjectDictionary *dictionary,
                                     QObject *parent)
    : QObject(parent)
    , nOD(dictionary)
    , profile(profile_i)
{}

int NimboConversation::Send()
{
    if (!profile || !nOD)
        return NP_FAIL_;
    if (pendingCmd == NP_CMD_SETTING) {
        if (nOD->Write_Np_Settings(peer, settingsToWrite) != NP_SUCC_)
            return NP_MUTEX_LOCKED_;
        return profile->Queue_SendPkg(peer, NP_CMD_SETTING);
    }
    if (nOD->Write_Np_Request(peer, cmdRequest) != NP_SUCC_)
        return NP_FAIL_;
    return profile->Queue_SendPkg(peer, NP_CMD_REQUEST_);
}

int NimboConversation::Assign(quint16 toId, quint8 cmd, quint8 cmdRequest_i)
{
    if (cmd != NP_CMD_SETTING && cmd != NP_CMD_REQUEST_)
        return NP_FAIL_;
    int result;
    if (cmd == NP_CMD_SETTING) {
        // The settings record was built in the dictionary by the caller.
        Np_Settings built;
        result = nOD ? nOD->Read_Np_Settings(&built) : NP_FAIL_;
        if (result == NP_SUCC_)
            result = profile ? profile->Queue_SendPkg(toId, NP_CMD_SETTING) : NP_FAIL_;
        if (result != NP_SUCC_)
            return result;
        settingsToWrite = built;
    } else {
        if (!nOD || !profile || nOD->Write_Np_Request(toId, cmdRequest_i) != NP_SUCC_)
            return NP_FAIL_;
        result = profile->Queue_SendPkg(toId, NP_CMD_REQUEST_);
        if (result != NP_SUCC_)
            return result;
    }
    peer = toId;
    pendingCmd = cmd;
    cmdRequest = cmdRequest_i;
    answerState = kWaiting;
    retryCount = 0;
    lastSend = now;
    return NP_SUCC_;
}

void NimboConversation::Update_Recv(quint16 fromId, quint8 cmd, int result)
{
    if (pendingCmd == 0 || result != NP_SUCC_)
        return;
    // Any node's Np_Id is considered, so that an identity request broadcast to 0 is answered by
    // whichever node replies first.
    if (fromId != peer && cmd != NP_CMD_ID_)
        return;
    const bool answer = pendingCmd == NP_CMD_SETTING ? cmd == NP_CMD_ACK_ : cmd == cmdRequest;
    if (answer)
        answerState = kAnswered;
}

void NimboConversation::Clear()
{
    pendingCmd = 0;
    cmdRequest = 0;
    peer = NP_ID_UNSPECIFIED_;
}

int NimboConversation::Tick(quint16 *peer_o, quint8 *cmd_o, quint8 *cmdRequest_o)
{
    if (peer_o)
        *peer_o = peer;
    if (cmd_o)
        *cmd_o = pendingCmd;
    if (cmdRequest_o)
        *cmdRequest_o = cmdRequest;

    if (pendingCmd == 0)
        return NP_NORMAL_EXIT_;
    if (answerState == kAnswered) {
        Clear();
        return NP_SUCC_;
    }
    if (now - lastSend <= timeOut)
        return NP_NORMAL_EXIT_;
    if (retryCount >= maxRetries) {
        Clear();
        return NP_FAIL_;
    }
    // A re-send refused because the record is still queued is lost, but the attempt counts.
    Send();
    ++retryCount;
    lastSend = now;
    return NP_TIMEOUT_;
}
