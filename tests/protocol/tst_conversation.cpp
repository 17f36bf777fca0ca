#include "nimboconversation.h"
#include "nimboprofile.h"
#include "testframes.h"

#include <QtTest>

using namespace testframes;

namespace {

struct Result
{
    unsigned at;
    quint16 peer;
    quint8 cmd;
    quint8 cmdRequest;
    int retVal;
};

struct Sent
{
    unsigned at;
    QByteArray frame;
};

// The link panel's two timers on a driven clock: a send tick every 5 ms, a conversation tick every 10 ms.
struct Clocked
{
    NimboObjectDictionary od;
    NimboProfile profile{&od};
    NimboConversation conversation{&profile, &od};
    unsigned now = 0;
    QVector<Result> results;
    QVector<Sent> sent;
    QVector<int> tickResults;

    void Step5ms()
    {
        now += 5;
        quint16 toId;
        char *data;
        int size;
        if (profile.Next_SendPkg(&toId, &data, &size) == NP_SUCC_)
            sent.append({now, QByteArray(data, size)});
        if (now % 10 == 0) {
            conversation.Set_Time(now);
            quint16 peer;
            quint8 cmd, cmdRequest;
            const int r = conversation.Tick(&peer, &cmd, &cmdRequest);
            tickResults.append(r);
            if (r == NP_SUCC_ || r == NP_FAIL_)
                results.append({now, peer, cmd, cmdRequest, r});
        }
    }
    void RunFor(unsigned ms)
    {
        for (unsigned t = 0; t < ms; t += 5)
            Step5ms();
    }
    void Receive(const QByteArray &payload)
    {
        const QByteArray frame = Frame(payload);
        profile.Drain(frame.constData(), frame.size(), [this](int r, const Np_Header &h) {
            conversation.Update_Recv(h.fromId(), h.cmd(), r);
        });
    }
    int WriteSettings(quint16 toId, quint32 word)
    {
        Np_Settings s{};
        s.settingsWord = word | (1u << NpSettingsBit::reliableWrite);
        if (od.Write_Np_Settings(toId, s) != NP_SUCC_)
            return NP_FAIL_;
        return conversation.Assign(toId, NP_CMD_SETTING, 0);
    }
    QVector<unsigned> SendTimes(quint8 cmd) const
    {
        QVector<unsigned> times;
        for (const Sent &s : sent)
            if (quint8(s.frame[3] & 0x7F) == cmd)
                times.append(s.at);
        return times;
    }
};

QByteArray Ack(quint16 fromId, quint8 cmdAck = 21)
{
    Np_Ack ack{};
    ack.header = Np_Header::Make(NP_CMD_ACK_, fromId, NP_ID_HOST_);
    ack.cmdAck = cmdAck;
    return Bytes(ack);
}

QByteArray Id(quint16 fromId)
{
    Np_Id id{};
    id.header = Np_Header::Make(NP_CMD_ID_, fromId, NP_ID_HOST_);
    id.fwVersion[0] = 31;
    id.nodeId = fromId;
    return Bytes(id);
}

} // namespace

class tst_Conversation : public QObject
{
    Q_OBJECT

private slots:
    void answeredWriteSucceedsWithinOneTick();
    void unansweredWriteIsSentFourTimesThenFails();
    void ackFromAnotherNodeIsNoAnswer();
    void answerToTheThirdSend();
    void broadcastIdentityRequestAnsweredByAnyNode();
    void requestAnsweredByTheRequestedRecordOnly();
    void newExchangeReplacesWaitingOne();
    void refusedAssignKeepsTheExchange();
    void answerThatWasNotStoredDoesNotCount();
    void resendWritesTheHostsSettings();
};

void tst_Conversation::answeredWriteSucceedsWithinOneTick()
{
    Clocked c;
    QCOMPARE(c.WriteSettings(5, 0x21), NP_SUCC_);
    c.RunFor(100);
    QCOMPARE(c.SendTimes(21), QVector<unsigned>{5});
    QVERIFY(c.results.isEmpty());
    c.Receive(Ack(5));
    c.Step5ms();
    c.Step5ms();
    QCOMPARE(c.results.size(), 1);
    const Result r = c.results.first();
    QCOMPARE(r.at, 110u);
    QCOMPARE(int(r.peer), 5);
    QCOMPARE(int(r.cmd), 21);
    QCOMPARE(int(r.cmdRequest), 0);
    QCOMPARE(r.retVal, NP_SUCC_);
    c.RunFor(2000);
    QCOMPARE(c.results.size(), 1);
    QCOMPARE(c.SendTimes(21).size(), 1);
    QCOMPARE(c.conversation.PendingCmd(), quint8(0));
    // The frame carried the settings with reliableWrite set, to node 5, from the host.
    const auto s = FromBytes<Np_Settings>(c.sent.first().frame.mid(3, 24));
    QCOMPARE(int(s.header.toId()), 5);
    QCOMPARE(int(s.header.fromId()), 2);
    QVERIFY(NpSettingsBit::Get(s.settingsWord, NpSettingsBit::reliableWrite));
}

void tst_Conversation::unansweredWriteIsSentFourTimesThenFails()
{
    Clocked c;
    c.RunFor(50);
    QCOMPARE(c.WriteSettings(5, 0), NP_SUCC_); // at 50 ms
    c.RunFor(2000);
    // Re-sent 310 ms after each send, queued at 50, 360, 670, 980 and framed on the next 5 ms tick.
    QCOMPARE(c.SendTimes(21), (QVector<unsigned>{55, 365, 675, 985}));
    QCOMPARE(c.results.size(), 1);
    QCOMPARE(c.results.first().at, 50u + 1240u);
    QCOMPARE(int(c.results.first().peer), 5);
    QCOMPARE(int(c.results.first().cmd), 21);
    QCOMPARE(c.results.first().retVal, NP_FAIL_);
    QCOMPARE(c.tickResults.count(NP_TIMEOUT_), 3);
}

void tst_Conversation::ackFromAnotherNodeIsNoAnswer()
{
    Clocked c;
    c.WriteSettings(5, 0);
    c.RunFor(100);
    c.Receive(Ack(6));
    c.Receive(Id(6)); // any node's Np_Id is looked at, but it is not an Np_Ack
    c.RunFor(2000);
    QCOMPARE(c.results.size(), 1);
    QCOMPARE(int(c.results.first().peer), 5);
    QCOMPARE(c.results.first().retVal, NP_FAIL_);
    QCOMPARE(c.SendTimes(21).size(), 4);
}

void tst_Conversation::answerToTheThirdSend()
{
    Clocked c;
    c.WriteSettings(40, 0);
    c.RunFor(700); // sends at 5, 315, 625
    QCOMPARE(c.SendTimes(21).size(), 3);
    c.Receive(Ack(40, 99)); // cmdAck is not examined
    c.RunFor(10);
    QCOMPARE(c.results.size(), 1);
    QCOMPARE(c.results.first().retVal, NP_SUCC_);
    c.RunFor(1000);
    QCOMPARE(c.SendTimes(21).size(), 3);
}

void tst_Conversation::broadcastIdentityRequestAnsweredByAnyNode()
{
    Clocked c;
    QCOMPARE(c.conversation.Assign(0, NP_CMD_REQUEST_, NP_CMD_ID_), NP_SUCC_);
    c.RunFor(20);
    QCOMPARE(c.SendTimes(12).size(), 1);
    const auto request = FromBytes<Np_Request>(c.sent.first().frame.mid(3, 8));
    QCOMPARE(int(request.header.toId()), 0);
    QCOMPARE(int(request.cmdRequest), 24);
    c.Receive(Id(47));
    c.RunFor(10);
    QCOMPARE(c.results.size(), 1);
    const Result r = c.results.first();
    QCOMPARE(int(r.peer), 0);
    QCOMPARE(int(r.cmd), 12);
    QCOMPARE(int(r.cmdRequest), 24);
    QCOMPARE(r.retVal, NP_SUCC_);
}

void tst_Conversation::requestAnsweredByTheRequestedRecordOnly()
{
    Clocked c;
    QCOMPARE(c.conversation.Assign(40, NP_CMD_REQUEST_, NP_CMD_SETTING), NP_SUCC_);
    c.RunFor(20);
    c.Receive(Ack(40));
    c.Receive(Payload(35, 40, 2, 20));
    Np_Settings other{};
    other.header = Np_Header::Make(21, 41, 2);
    c.Receive(Bytes(other)); // right record, wrong node
    c.RunFor(100);
    QVERIFY(c.results.isEmpty());
    Np_Settings answer{};
    answer.header = Np_Header::Make(21, 40, 2);
    c.Receive(Bytes(answer));
    c.RunFor(10);
    QCOMPARE(c.results.size(), 1);
    QCOMPARE(int(c.results.first().cmdRequest), 21);
    QCOMPARE(c.results.first().retVal, NP_SUCC_);
}

void tst_Conversation::newExchangeReplacesWaitingOne()
{
    Clocked c;
    c.conversation.Assign(40, NP_CMD_REQUEST_, NP_CMD_SETTING);
    c.RunFor(100);
    QCOMPARE(c.WriteSettings(40, 0), NP_SUCC_);
    c.RunFor(20);
    Np_Settings answer{};
    answer.header = Np_Header::Make(21, 40, 2);
    c.Receive(Bytes(answer)); // would have answered the request
    c.Receive(Ack(40));
    c.RunFor(2000);
    QCOMPARE(c.results.size(), 1);
    QCOMPARE(int(c.results.first().cmd), 21);
    QCOMPARE(c.results.first().retVal, NP_SUCC_);
    QCOMPARE(c.SendTimes(12).size(), 1);
}

void tst_Conversation::refusedAssignKeepsTheExchange()
{
    Clocked c;
    QCOMPARE(c.WriteSettings(40, 0), NP_SUCC_);
    // Still queued (no send tick yet): a second write of the same record is refused.
    Np_Settings s{};
    QCOMPARE(c.od.Write_Np_Settings(41, s), NP_MUTEX_LOCKED_);
    QCOMPARE(c.conversation.Assign(41, NP_CMD_SETTING, 0), NP_MUTEX_LOCKED_);
    QCOMPARE(c.conversation.Assign(41, 22, 0), NP_FAIL_);
    c.RunFor(20);
    c.Receive(Ack(40));
    c.RunFor(10);
    QCOMPARE(c.results.size(), 1);
    QCOMPARE(int(c.results.first().peer), 40);
}

void tst_Conversation::answerThatWasNotStoredDoesNotCount()
{
    // The host's own request record is queued when the node's request-shaped answer arrives: refused
    // by the dictionary, so it is no answer.
    Clocked c;
    c.conversation.Assign(40, NP_CMD_REQUEST_, NP_CMD_REQUEST_);
    Np_Request theirs{};
    theirs.header = Np_Header::Make(12, 40, 2);
    c.Receive(Bytes(theirs));
    c.RunFor(10);
    QVERIFY(c.results.isEmpty());
    c.Receive(Bytes(theirs)); // now stored: counts
    c.RunFor(10);
    QCOMPARE(c.results.size(), 1);
    QCOMPARE(c.results.first().retVal, NP_SUCC_);
}

void tst_Conversation::resendWritesTheHostsSettings()
{
    // The node's own settings, arriving after the first send (its periodic settings answer), must not
    // be what the re-send writes back to it.
    Clocked c;
    c.WriteSettings(40, 0xABC);
    c.RunFor(20);
    Np_Settings theirs{};
    theirs.header = Np_Header::Make(21, 40, 2);
    theirs.settingsWord = 0x5;
    c.Receive(Bytes(theirs));
    c.RunFor(400);
    const QVector<unsigned> times = c.SendTimes(21);
    QCOMPARE(times.size(), 2);
    const auto resent = FromBytes<Np_Settings>(c.sent.last().frame.mid(3, 24));
    QCOMPARE(resent.settingsWord, 0xABCu | (1u << NpSettingsBit::reliableWrite));
    QCOMPARE(int(resent.header.fromId()), 2);
    QCOMPARE(int(resent.header.toId()), 40);
}

QTEST_GUILESS_MAIN(tst_Conversation)
#include "tst_conversation.moc"
