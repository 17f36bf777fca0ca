// The C library's receive path: frame assembly in any cut, resynchronisation after noise and bad
// lengths, checksum failures, the node's address filter and the record length check.

#include <QtTest>

#include "devicelib_c.h"

namespace {

constexpr quint16 kNode = 40;

QByteArray Rpy(int toId, int fromId = 2, int res = 0) { return Payload(NP_CMD_RPY_, fromId, toId, 20, res); }

} // namespace

class TestDevicelibFraming : public QObject
{
    Q_OBJECT

private slots:
    void crcCheckValue();
    void frameInAnyCut();
    void resynchronises_data();
    void resynchronises();
    void everyFlippedBitIsRejected();
    void intactFramesSurviveDamage_data();
    void intactFramesSurviveDamage();
    void severalFramesInOneCall();
    void largeChunkLosesNothing();
    void createRefusesBadSizes_data();
    void createRefusesBadSizes();
    void addressFilter_data();
    void addressFilter();
    void nodeIdChange();
    void recordLengths_data();
    void recordLengths();
    void sendUsesOwnId();
};

void TestDevicelibFraming::crcCheckValue()
{
    QCOMPARE(devc::NimboProtocol_Crc16(reinterpret_cast<const uint8_t *>("123456789"), 9), quint16(0x4B37));
}

void TestDevicelibFraming::frameInAnyCut()
{
    const QByteArray frame = IndependentFrame(Rpy(kNode));
    for (int cut = 0; cut <= frame.size(); ++cut) {
        CNode node(kNode);
        QCOMPARE(node.Feed(frame.left(cut)), cut == frame.size() ? 1 : 0);
        QCOMPARE(node.Feed(frame.mid(cut)), cut == frame.size() ? 0 : 1);
        QCOMPARE(node.received.size(), 1);
        QCOMPARE(node.received.first(), Rpy(kNode));
    }
    CNode bytewise(kNode);
    for (int i = 0; i < frame.size(); ++i)
        QCOMPARE(bytewise.Feed(frame.mid(i, 1)), i == frame.size() - 1 ? 1 : 0);
}

void TestDevicelibFraming::resynchronises_data()
{
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<quint32>("badHead");
    QTest::addColumn<quint32>("omitted");

    QTest::newRow("noise") << QByteArray("\x01\x55\x00\xFF\x13", 5) << 5u << 0u;
    // The second AA is no second head byte but starts a frame of its own, whose length (the real
    // frame's AA) fails: searched again from its 55, a bad head, the real frame is found.
    QTest::newRow("double head") << QByteArray("\xAA\xAA\x55", 3) << 1u << 0u;
    // A bad length: the 55 and the length byte are searched again, as bad heads.
    QTest::newRow("length 0") << QByteArray("\xAA\x55\x00", 3) << 2u << 0u;
    QTest::newRow("length 121") << QByteArray("\xAA\x55\x79", 3) << 2u << 0u;
    QTest::newRow("length 255") << QByteArray("\xAA\x55\xFF", 3) << 2u << 0u;
    QByteArray longFrame = IndependentFrame(Payload(NP_CMD_RPY_, 2, kNode, 100));
    QTest::newRow("length 100 skipped whole") << longFrame << 0u << 1u;
}

void TestDevicelibFraming::resynchronises()
{
    QFETCH(QByteArray, prefix);
    QFETCH(quint32, badHead);
    QFETCH(quint32, omitted);
    CNode node(kNode);
    QCOMPARE(node.Feed(prefix + IndependentFrame(Rpy(kNode))), 1);
    QCOMPARE(node.received.first(), Rpy(kNode));
    QCOMPARE(node.link.protocol.sRecvByte_BadHead, badHead);
    QCOMPARE(node.link.protocol.sRecvPkg_Omit, omitted);
    QCOMPARE(node.link.protocol.sRecvPkg_Bad, 0u);
}

void TestDevicelibFraming::intactFramesSurviveDamage_data()
{
    QTest::addColumn<int>("damage");
    for (int damage = 0; damage < testframes::kStreamDamageKinds; ++damage)
        QTest::newRow(testframes::StreamDamageName(damage)) << damage;
}

void TestDevicelibFraming::intactFramesSurviveDamage()
{
    // The node's framer, like the host's, searches a failed frame's bytes again.
    QFETCH(int, damage);
    QVector<QByteArray> intact;
    const QByteArray stream = testframes::DamagedStream(damage, 5000, quint32(3 + damage), 2, &intact);
    devc::NimboProtocol protocol;
    devc::NimboProtocol_Init(&protocol, 44, 44);
    QVector<QByteArray> received;
    for (int at = 0; at < stream.size();) {
        const int piece = qMin(qMin(1 + at % 97, devc::NimboProtocol_InQueueFree(&protocol)), int(stream.size()) - at);
        const uint8_t *bytes = reinterpret_cast<const uint8_t *>(stream.constData() + at);
        const uint8_t *payload = nullptr;
        int size = 0;
        for (int r = devc::NimboProtocol_AssembleInputPackage(&protocol, bytes, piece, &payload, &size);
             r != NP_QUEUE_EMPTY_; r = devc::NimboProtocol_AssembleInputPackage(&protocol, nullptr, 0, &payload, &size))
            if (r == NP_SUCC_)
                received.append(QByteArray(reinterpret_cast<const char *>(payload), size));
        at += piece;
    }
    QCOMPARE(received.size(), intact.size());
    QVERIFY(received == intact);
}

void TestDevicelibFraming::everyFlippedBitIsRejected()
{
    const QByteArray good = IndependentFrame(Rpy(kNode));
    // Payload and checksum bits: one bad package, and the next frame still comes through.
    for (int bit = 3 * 8; bit < good.size() * 8; ++bit) {
        QByteArray bad = good;
        bad[bit / 8] = char(bad[bit / 8] ^ (1 << (bit % 8)));
        CNode node(kNode);
        QCOMPARE(node.Feed(bad + good), 1);
        QCOMPARE(node.link.protocol.sRecvPkg_Bad, 1u);
        QCOMPARE(node.received.first(), Rpy(kNode));
    }
    // Length bits: the frame is misread, but nothing corrupted is ever delivered.
    for (int bit = 0; bit < 8; ++bit) {
        QByteArray bad = good;
        bad[2] = char(bad[2] ^ (1 << bit));
        CNode node(kNode);
        node.Feed(bad + good.repeated(6));
        for (const QByteArray &r : node.received)
            QCOMPARE(r, Rpy(kNode));
        QVERIFY(!node.received.isEmpty());
    }
}

void TestDevicelibFraming::severalFramesInOneCall()
{
    CNode node(kNode);
    const QByteArray a = Payload(NP_CMD_REQUEST_, 2, kNode, 8);
    const QByteArray b = Payload(NP_CMD_NSO_, 8, kNode, 16);
    const QByteArray c = Payload(NP_CMD_CALIB_, 2, 0, 16);
    QCOMPARE(node.Feed(IndependentFrame(a) + IndependentFrame(b) + IndependentFrame(c)), 3);
    QCOMPARE(node.received, (QVector<QByteArray>{a, b, c}));
}

void TestDevicelibFraming::largeChunkLosesNothing()
{
    // Far more than the receive ring holds, in one call: nothing may be overwritten unread.
    QByteArray stream;
    for (int i = 0; i < 300; ++i) {
        QByteArray p = Rpy(kNode);
        p[4] = char(i & 0xFF);
        p[5] = char(i >> 8);
        stream += IndependentFrame(p) + QByteArray(i % 7, '\x11');
    }
    QVERIFY(stream.size() > 20 * devc::NimboQueue_Capacity(nullptr));
    CNode node(kNode);
    QCOMPARE(node.Feed(stream), 300);
    for (int i = 0; i < 300; ++i)
        QCOMPARE(quint8(node.received[i][4]) | quint8(node.received[i][5]) << 8, i);
}

void TestDevicelibFraming::createRefusesBadSizes_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("45, above the output buffer") << 45;
    QTest::newRow("121, above the framing") << 121;
}

void TestDevicelibFraming::createRefusesBadSizes()
{
    QFETCH(int, size);
    devc::NimboProtocol protocol;
    QCOMPARE(devc::NimboProtocol_Init(&protocol, 44, 44), NP_SUCC_);
    const QByteArray payload(qMax(size, 1), '\x01');
    const uint8_t *frame = nullptr;
    int frameSize = -1;
    QCOMPARE(devc::NimboProtocol_CreateOutputPackage(
                 &protocol, reinterpret_cast<const uint8_t *>(payload.constData()), size, &frame, &frameSize),
             NP_FAIL_);
    QCOMPARE(protocol.sSendPkg, 0u);
    QCOMPARE(devc::NimboProtocol_Init(&protocol, 45, 44), NP_FAIL_);
}

void TestDevicelibFraming::addressFilter_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("own id") << Rpy(kNode) << true;
    QTest::newRow("broadcast") << Rpy(0) << true;
    QTest::newRow("host id") << Rpy(2) << false;
    QTest::newRow("another node") << Rpy(kNode + 1) << false;
    QTest::newRow("own id, res set") << Rpy(kNode, 2, 1) << false;
    QTest::newRow("from another node") << Rpy(kNode, 33) << true;
}

void TestDevicelibFraming::addressFilter()
{
    QFETCH(QByteArray, payload);
    QFETCH(bool, accepted);
    CNode node(kNode);
    QCOMPARE(node.Feed(IndependentFrame(payload)), accepted ? 1 : 0);
    QCOMPARE(node.link.sRecvPkg_NotForNode, accepted ? 0u : 1u);
    const uint8_t *stored = nullptr;
    QCOMPARE(devc::NimboOD_Read(&node.link.od, NP_CMD_RPY_, &stored, nullptr) == NP_SUCC_, accepted);
}

void TestDevicelibFraming::nodeIdChange()
{
    CNode node(kNode);
    QCOMPARE(devc::NimboProfile_SetNodeId(&node.link, 50), NP_SUCC_);
    QCOMPARE(node.Feed(IndependentFrame(Rpy(kNode))), 0);
    QCOMPARE(node.Feed(IndependentFrame(Rpy(50))), 1);
    QCOMPARE(devc::NimboProfile_SetNodeId(&node.link, 2048), NP_FAIL_);
    QCOMPARE(int(devc::NimboProfile_GetNodeId(&node.link)), 50);
}

void TestDevicelibFraming::recordLengths_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("settings 24, current") << 0 << Payload(NP_CMD_SETTING, 2, kNode, 24) << true;
    QTest::newRow("settings 20, current") << 0 << Payload(NP_CMD_SETTING, 2, kNode, 20) << false;
    QTest::newRow("settings 20, legacy") << 318 << Payload(NP_CMD_SETTING, 2, kNode, 20) << true;
    QTest::newRow("settings 24, legacy") << 318 << Payload(NP_CMD_SETTING, 2, kNode, 24) << false;
    QTest::newRow("request 12") << 0 << Payload(NP_CMD_REQUEST_, 2, kNode, 12) << false;
    QTest::newRow("unknown cmd 14") << 0 << Payload(14, 2, kNode, 8) << false;
    QTest::newRow("3 bytes") << 0 << HeaderBytes(NP_CMD_REQUEST_, 2, kNode).left(3) << false;
}

void TestDevicelibFraming::recordLengths()
{
    QFETCH(int, version);
    QFETCH(QByteArray, payload);
    QFETCH(bool, accepted);
    CNode node(kNode, version);
    QCOMPARE(node.Feed(IndependentFrame(payload)), accepted ? 1 : 0);
    QCOMPARE(node.link.protocol.sRecvPkg_Good, 1u);
    QCOMPARE(node.link.sRecvPkg_Refused + node.link.sRecvPkg_NotForNode, accepted ? 0u : 1u);
}

void TestDevicelibFraming::sendUsesOwnId()
{
    CNode node(kNode);
    QCOMPARE(devc::NimboProfile_Send_Np_Ack(&node.link, 8, 21), NP_SUCC_);
    QCOMPARE(node.sent, IndependentFrame(HeaderBytes(NP_CMD_ACK_, kNode, 8) + QByteArray("\x15\0\0\0", 4)));
    QCOMPARE(devc::NimboProfile_Send_Np_Ack(&node.link, 2048, 21), NP_FAIL_);
}

QTEST_GUILESS_MAIN(TestDevicelibFraming)
#include "tst_devicelib_framing.moc"
