#include "nimboprofile.h"
#include "testframes.h"

#include <QSignalSpy>
#include <QtTest>

using namespace testframes;

namespace {

struct Link
{
    NimboObjectDictionary od;
    NimboProfile profile{&od};

    // Received bytes through the drain loop; returns every result code in order.
    QVector<int> Receive(const QByteArray &bytes)
    {
        QVector<int> results;
        profile.Drain(bytes.constData(), bytes.size(), [&](int r, const Np_Header &) { results.append(r); });
        return results;
    }

    // Every frame the scheduler hands out, one per call, until it has nothing.
    QVector<QByteArray> SendAll(QVector<quint16> *toIds = nullptr)
    {
        QVector<QByteArray> frames;
        for (int guard = 0; guard < 64; ++guard) {
            quint16 toId = 0xFFFF;
            char *data = nullptr;
            int size = 0;
            const int r = profile.Next_SendPkg(&toId, &data, &size);
            if (r == NP_NORMAL_EXIT_)
                break;
            if (r == NP_SUCC_) {
                frames.append(QByteArray(data, size));
                if (toIds)
                    toIds->append(toId);
            }
        }
        return frames;
    }
};

quint8 CmdOfFrame(const QByteArray &frame) { return quint8(frame[3] & 0x7F); }

QByteArray PayloadOfFrame(const QByteArray &frame) { return frame.mid(3, quint8(frame[2])); }

} // namespace

class tst_Profile : public QObject
{
    Q_OBJECT

private slots:
    void destinationFilter_data();
    void destinationFilter();
    void everyTypeDispatchedToItsSignal_data();
    void everyTypeDispatchedToItsSignal();
    void extendedRawIsStoredButNotSignalled();
    void signalsDeclaredInOrder();
    void requestAnsweredFromStore();
    void requestsThatAreNotAnswered();
    void queuedRecordIsProtected();
    void schedulerRoundRobin();
    void ackGoesFirst();
    void queueRefusals();
    void drainLosesNothingInLargeChunks();
    void receiverMayQueueDuringDispatch();
    void framesAreWhatTheDictionaryHolds();
};

void tst_Profile::destinationFilter_data()
{
    QTest::addColumn<int>("toId");
    QTest::addColumn<int>("res");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("broadcast") << 0 << 0 << true;
    QTest::newRow("host") << 2 << 0 << true;
    QTest::newRow("host service identity") << 8 << 0 << true;
    QTest::newRow("unspecified") << 1 << 0 << false;
    QTest::newRow("node 5") << 5 << 0 << false;
    QTest::newRow("node 40") << 40 << 0 << false;
    QTest::newRow("host with res set") << 2 << 1 << false;
    QTest::newRow("broadcast with res 4") << 0 << 4 << false;
}

void tst_Profile::destinationFilter()
{
    QFETCH(int, toId);
    QFETCH(int, res);
    QFETCH(bool, accepted);
    Link link;
    QSignalSpy spy(&link.profile, SIGNAL(Sig_RX_Data(Np_RPY)));
    const QByteArray payload = Payload(35, 40, toId, 20, 3, res);
    QCOMPARE(link.Receive(Frame(payload)),
             (QVector<int>{accepted ? NP_SUCC_ : NP_NORMAL_EXIT_, NP_QUEUE_EMPTY_}));
    QCOMPARE(spy.count(), accepted ? 1 : 0);
    Np_RPY stored;
    QCOMPARE(link.od.Read_Np_RPY(&stored), NP_SUCC_);
    QCOMPARE(Bytes(stored) == payload, accepted);
}

void tst_Profile::everyTypeDispatchedToItsSignal_data()
{
    QTest::addColumn<QString>("signature");
    QTest::addColumn<int>("cmd");
    QTest::addColumn<int>("size");
    const struct
    {
        const char *type;
        int cmd, size;
    } types[] = {{"Np_HeartBeat", 11, 4}, {"Np_Request", 12, 8},         {"Np_Ack", 13, 8},
                 {"Np_Settings", 21, 24}, {"Np_Status", 22, 16},         {"Np_Calib", 23, 16},
                 {"Np_Id", 24, 44},       {"Np_Id_Ext", 27, 16},         {"Np_NodeCtrl", 25, 28},
                 {"Np_NSO", 26, 16},      {"Np_Raw_GyroAccMag", 41, 44}, {"Np_Q_s1_s", 31, 24},
                 {"Np_Q_s1_e", 32, 24},   {"Np_Euler_s1_s", 33, 20},     {"Np_Euler_s1_e", 34, 20},
                 {"Np_RPY", 35, 20},      {"Np_Gravity", 36, 20},        {"Np_Combo", 43, 32},
                 {"Np_Customized", 44, 8}};
    for (const auto &t : types)
        QTest::newRow(t.type) << QString("2Sig_RX_Data(%1)").arg(t.type) << t.cmd << t.size;
}

void tst_Profile::everyTypeDispatchedToItsSignal()
{
    QFETCH(QString, signature);
    QFETCH(int, cmd);
    QFETCH(int, size);
    Link link;
    // One spy per overload: the record must reach exactly its own.
    QVector<QSignalSpy *> spies;
    const QMetaObject *mo = link.profile.metaObject();
    int own = -1;
    for (int i = mo->methodOffset(); i < mo->methodCount(); ++i) {
        const QMetaMethod m = mo->method(i);
        if (m.methodType() != QMetaMethod::Signal)
            continue;
        if ("2" + m.methodSignature() == signature.toLatin1())
            own = spies.size();
        spies.append(new QSignalSpy(&link.profile, ("2" + m.methodSignature()).constData()));
    }
    QVERIFY(own >= 0);
    // An id's firmware bytes must not switch to the legacy layout in the middle of the test.
    QByteArray payload = Payload(cmd, 40, 2, size, cmd);
    if (cmd == 24)
        payload[4] = 31;
    QCOMPARE(link.Receive(Frame(payload)).first(), NP_SUCC_);
    for (int i = 0; i < spies.size(); ++i) {
        QCOMPARE(spies[i]->count(), i == own ? 1 : 0);
        if (i == own) {
            const QVariant arg = spies[i]->first().first();
            QCOMPARE(
                QByteArray(static_cast<const char *>(arg.constData()), QMetaType::sizeOf(arg.userType())),
                payload);
        }
    }
    qDeleteAll(spies);
}

void tst_Profile::extendedRawIsStoredButNotSignalled()
{
    Link link;
    QSignalSpy spy(&link.profile, SIGNAL(Sig_RX_Data(Np_Raw_GyroAccMag_Ext)));
    QSignalSpy raw(&link.profile, SIGNAL(Sig_RX_Data(Np_Raw_GyroAccMag)));
    const QByteArray payload = Payload(42, 40, 2, 44, 1);
    QCOMPARE(link.Receive(Frame(payload)).first(), NP_FAIL_);
    QCOMPARE(spy.count() + raw.count(), 0);
    Np_Raw_GyroAccMag_Ext stored;
    QCOMPARE(link.od.Read_Np_Raw_GyroAccMag_Ext(&stored), NP_SUCC_);
    QCOMPARE(Bytes(stored), payload);
}

void tst_Profile::signalsDeclaredInOrder()
{
    const auto &order = kRecordTypesInSignalOrder;
    const QMetaObject &mo = NimboProfile::staticMetaObject;
    int n = 0;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
        const QMetaMethod m = mo.method(i);
        if (m.methodType() != QMetaMethod::Signal)
            continue;
        QVERIFY(n < 20);
        QCOMPARE(m.methodSignature(), QByteArray("Sig_RX_Data(") + order[n] + ")");
        QCOMPARE(m.parameterNames().size(), 1);
        ++n;
    }
    QCOMPARE(n, 20);
}

void tst_Profile::requestAnsweredFromStore()
{
    Link link;
    Np_Settings settings{};
    settings.header = Np_Header::Make(21, 40, 2);
    settings.settingsWord = 0x12345;
    settings.odr = 200;
    QCOMPARE(link.Receive(Frame(Bytes(settings))).first(), NP_SUCC_);
    QVERIFY(link.SendAll().isEmpty());

    QSignalSpy requests(&link.profile, SIGNAL(Sig_RX_Data(Np_Request)));
    Np_Request request{};
    request.header = Np_Header::Make(12, 33, 2);
    request.cmdRequest = 21;
    QCOMPARE(link.Receive(Frame(Bytes(request))).first(), NP_SUCC_);
    QCOMPARE(requests.count(), 1);
    QVERIFY(link.profile.IsQueued(21));

    QVector<quint16> toIds;
    const QVector<QByteArray> sent = link.SendAll(&toIds);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(toIds, QVector<quint16>{33});
    Np_Settings expected = settings;
    expected.header.setToId(33); // the stored header, with the requester as destination
    QCOMPARE(sent.first(), Frame(Bytes(expected)));
    QVERIFY(!link.profile.IsQueued(21));
    QCOMPARE(link.od.Get_Flags(21), quint8(NimboObjectDictionary::FLAG_UNLOCKED));

    // A broadcast request is answered too.
    request.header = Np_Header::Make(12, 34, 0);
    link.Receive(Frame(Bytes(request)));
    QCOMPARE(link.SendAll(&toIds).size(), 1);
    QCOMPARE(toIds.last(), quint16(34));
}

void tst_Profile::requestsThatAreNotAnswered()
{
    Link link;
    // For a record the host never held; to the host's service identity; for a type without a slot.
    Np_Request request{};
    request.header = Np_Header::Make(12, 33, 2);
    request.cmdRequest = 22;
    QCOMPARE(link.Receive(Frame(Bytes(request))).first(), NP_SUCC_);
    QVERIFY(link.SendAll().isEmpty());

    link.Receive(Frame(Payload(22, 40, 2, 16)));
    request.header = Np_Header::Make(12, 33, 8);
    link.Receive(Frame(Bytes(request)));
    QVERIFY(link.SendAll().isEmpty());

    const QByteArray ext = Payload(42, 40, 2, 44, 1);
    link.Receive(Frame(ext));
    request.header = Np_Header::Make(12, 33, 2);
    request.cmdRequest = 42;
    link.Receive(Frame(Bytes(request)));
    QVERIFY(link.SendAll().isEmpty());
    // The entry is not left write-protected: a newer record still replaces it.
    QCOMPARE(link.od.Get_Flags(42), quint8(NimboObjectDictionary::FLAG_UNLOCKED));
    const QByteArray newer = Payload(42, 40, 2, 44, 2);
    link.Receive(Frame(newer));
    Np_Raw_GyroAccMag_Ext stored;
    link.od.Read_Np_Raw_GyroAccMag_Ext(&stored);
    QCOMPARE(Bytes(stored), newer);
}

void tst_Profile::queuedRecordIsProtected()
{
    Link link;
    Np_Settings mine{};
    mine.settingsWord = 0xAAAA;
    QCOMPARE(link.od.Write_Np_Settings(40, mine), NP_SUCC_);
    QCOMPARE(link.profile.Queue_SendPkg(40, 21), NP_SUCC_);

    QSignalSpy spy(&link.profile, SIGNAL(Sig_RX_Data(Np_Settings)));
    Np_Settings theirs{};
    theirs.header = Np_Header::Make(21, 40, 2);
    theirs.settingsWord = 0x5555;
    QCOMPARE(link.Receive(Frame(Bytes(theirs))).first(), NP_MUTEX_LOCKED_);
    QCOMPARE(spy.count(), 0);

    const QVector<QByteArray> sent = link.SendAll();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(FromBytes<Np_Settings>(PayloadOfFrame(sent.first())).settingsWord, 0xAAAAu);

    QCOMPARE(link.Receive(Frame(Bytes(theirs))).first(), NP_SUCC_);
    QCOMPARE(spy.count(), 1);
}

void tst_Profile::schedulerRoundRobin()
{
    Link link;
    link.od.Write_Np_Request(40, 24);
    link.od.Write_Np_Calib(40, 2, 1, 0xAA05, 0, 0);
    Np_Settings s{};
    link.od.Write_Np_Settings(40, s);
    link.Receive(Frame(Payload(35, 41, 2, 20)));
    link.Receive(Frame(Payload(41, 41, 2, 44)));

    // Queued in any order, sent in slot order from the rotation position.
    QCOMPARE(link.profile.Queue_SendPkg(50, 12), NP_SUCC_);
    QCOMPARE(link.profile.Queue_SendPkg(51, 23), NP_SUCC_);
    QCOMPARE(link.profile.Queue_SendPkg(52, 21), NP_SUCC_);
    QCOMPARE(link.profile.Queue_SendPkg(53, 35), NP_SUCC_);
    QCOMPARE(link.profile.Queue_SendPkg(54, 41), NP_SUCC_);
    QCOMPARE(link.profile.Queue_SendPkg(99, 21), NP_MUTEX_LOCKED_); // twice: once, to the first id
    QVector<quint16> toIds;
    QVector<QByteArray> sent = link.SendAll(&toIds);
    QVector<int> cmds;
    for (const QByteArray &f : sent)
        cmds.append(CmdOfFrame(f));
    QCOMPARE(cmds, (QVector<int>{41, 35, 21, 23, 12}));
    QCOMPARE(toIds, (QVector<quint16>{54, 53, 52, 51, 50}));
    QCOMPARE(link.profile.OnceIndex(), 14);

    // The rotation goes on from the slot after the last one sent: 26 (slot 14), then wrapping to 41.
    link.od.Write_Np_NSO(40, Np_NSO{});
    link.profile.Queue_SendPkg(40, 41);
    link.profile.Queue_SendPkg(40, 12);
    link.profile.Queue_SendPkg(40, 26);
    sent = link.SendAll();
    cmds.clear();
    for (const QByteArray &f : sent)
        cmds.append(CmdOfFrame(f));
    QCOMPARE(cmds, (QVector<int>{26, 41, 12}));

    // Interleaved: a record queued behind the rotation position waits for the wrap.
    link.profile.Queue_SendPkg(40, 21);
    link.profile.Queue_SendPkg(40, 12);
    quint16 toId;
    char *data;
    int size;
    QCOMPARE(link.profile.Next_SendPkg(&toId, &data, &size), NP_SUCC_);
    QCOMPARE(int(CmdOfFrame(QByteArray(data, size))), 21);
    link.profile.Queue_SendPkg(40, 41);
    QCOMPARE(link.profile.Next_SendPkg(&toId, &data, &size), NP_SUCC_);
    QCOMPARE(int(CmdOfFrame(QByteArray(data, size))), 12);
    QCOMPARE(link.profile.Next_SendPkg(&toId, &data, &size), NP_SUCC_);
    QCOMPARE(int(CmdOfFrame(QByteArray(data, size))), 41);
    QCOMPARE(link.profile.Next_SendPkg(&toId, &data, &size), NP_NORMAL_EXIT_);
}

void tst_Profile::ackGoesFirst()
{
    Link link;
    link.od.Write_Np_Request(40, 24);
    link.od.Write_Np_Ack(40, 21);
    link.profile.Queue_SendPkg(40, 12);
    link.profile.Queue_SendPkg(41, 13);
    QVector<quint16> toIds;
    const QVector<QByteArray> sent = link.SendAll(&toIds);
    QCOMPARE(sent.size(), 2);
    QCOMPARE(int(CmdOfFrame(sent[0])), 13);
    QCOMPARE(int(CmdOfFrame(sent[1])), 12);
    QCOMPARE(toIds, (QVector<quint16>{41, 40}));
    QCOMPARE(link.profile.OnceIndex(), 14);
}

void tst_Profile::queueRefusals()
{
    Link link;
    // Types without a slot are refused before anything is touched.
    for (quint8 cmd : {quint8(11), quint8(42), quint8(43), quint8(44)}) {
        link.Receive(Frame(Payload(cmd, 40, 2, link.od.Get_Size(cmd))));
        QCOMPARE(link.profile.Queue_SendPkg(40, cmd), NP_FAIL_);
        QCOMPARE(link.od.Get_Flags(cmd), quint8(NimboObjectDictionary::FLAG_UNLOCKED));
    }
    QCOMPARE(link.profile.Queue_SendPkg(40, 14), NP_FAIL_);
    QCOMPARE(link.profile.Queue_SendPkg(40, 22), NP_FAIL_); // never held
    // A reader holding the record blocks queueing.
    link.od.Write_Np_Request(40, 21);
    char *data;
    int len;
    link.od.Read(12, &data, &len);
    QCOMPARE(link.profile.Queue_SendPkg(40, 12), NP_MUTEX_LOCKED_);
    link.od.NOD_DB_SetReadProtect(12, false);
    QCOMPARE(link.profile.Queue_SendPkg(40, 12), NP_SUCC_);
    QCOMPARE(link.SendAll().size(), 1);
}

void tst_Profile::drainLosesNothingInLargeChunks()
{
    Link link;
    int received = 0;
    quint32 lastStamp = 0;
    bool inOrder = true;
    QObject::connect(&link.profile, QOverload<const Np_RPY &>::of(&NimboProfile::Sig_RX_Data),
                     [&](const Np_RPY &r) {
                         inOrder = inOrder && (received == 0 || r.timeStamp == lastStamp + 1);
                         lastStamp = r.timeStamp;
                         ++received;
                     });
    // 1000 frames of 25 bytes in one chunk: eleven times the framing queue.
    QByteArray chunk;
    for (quint32 i = 0; i < 1000; ++i) {
        Np_RPY r{};
        r.header = Np_Header::Make(35, 40, 2);
        r.timeStamp = i + 1;
        r.roll = float(i);
        chunk += Frame(Bytes(r));
    }
    const QVector<int> results = link.Receive(chunk);
    QCOMPARE(received, 1000);
    QVERIFY(inOrder);
    QCOMPARE(results.count(NP_SUCC_), 1000);
    QCOMPARE(results.last(), NP_QUEUE_EMPTY_);
    QCOMPARE(link.profile.Protocol()->GetStatistic_Recv_Byte_Total(), chunk.size());
    QCOMPARE(link.profile.Protocol()->RecvByteBadHead(), 0u);

    // Three frames in one chunk: three successes, then the queue is empty.
    QCOMPARE(link.Receive(chunk.left(75)), (QVector<int>{NP_SUCC_, NP_SUCC_, NP_SUCC_, NP_QUEUE_EMPTY_}));
    // An empty chunk is one call that finds nothing.
    QCOMPARE(link.Receive(QByteArray()), QVector<int>{NP_QUEUE_EMPTY_});
}

void tst_Profile::receiverMayQueueDuringDispatch()
{
    // A receiver answering an Np_Id with a request queues it while On_RecvPkg is still running.
    Link link;
    QObject::connect(&link.profile, QOverload<const Np_Id &>::of(&NimboProfile::Sig_RX_Data),
                     [&](const Np_Id &id) {
                         link.od.Write_Np_Request(id.header.fromId(), 21);
                         QCOMPARE(link.profile.Queue_SendPkg(id.header.fromId(), 12), NP_SUCC_);
                     });
    QByteArray id = Payload(24, 45, 2, 44);
    id[4] = 31;
    link.Receive(Frame(id));
    QVector<quint16> toIds;
    const QVector<QByteArray> sent = link.SendAll(&toIds);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(toIds, QVector<quint16>{45});
    QCOMPARE(FromBytes<Np_Request>(PayloadOfFrame(sent.first())).cmdRequest, quint8(21));
}

void tst_Profile::framesAreWhatTheDictionaryHolds()
{
    // Every golden record the host can send goes out as the reference frame.
    Link link;
    for (const GoldenFrame &g : LoadGoldenFrames()) {
        if (g.record == "Np_Settings_V318" || g.cmd == 11 || g.cmd == 42 || g.cmd == 43 || g.cmd == 44)
            continue;
        QByteArray payload = g.payload;
        QCOMPARE(link.od.Write(payload.data(), payload.size(), nullptr), NP_SUCC_);
        QCOMPARE(link.profile.Queue_SendPkg(quint16(g.toId), quint8(g.cmd)), NP_SUCC_);
        const QVector<QByteArray> sent = link.SendAll();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().toHex(), g.frame.toHex());
    }
    QCOMPARE(link.profile.Protocol()->GetStatistic_Send_Pkg_Total(), 16);
}

QTEST_GUILESS_MAIN(tst_Profile)
#include "tst_profile.moc"
