#include "nimboprotocol.h"
#include "nimboqueue.h"
#include "testframes.h"

#include <QRandomGenerator>
#include <QtTest>

#include <deque>

using namespace testframes;

namespace {

struct Counters
{
    quint32 total, badHead, goodHead, pkgTotal, omit, good, bad;
    bool operator==(const Counters &o) const
    {
        return total == o.total && badHead == o.badHead && goodHead == o.goodHead && pkgTotal == o.pkgTotal &&
               omit == o.omit && good == o.good && bad == o.bad;
    }
};

Counters Snapshot(const NimboProtocol &p)
{
    return {quint32(p.GetStatistic_Recv_Byte_Total()),
            p.RecvByteBadHead(),
            p.RecvByteGoodHead(),
            quint32(p.GetStatistic_Recv_Pkg_Total()),
            p.RecvPkgOmit(),
            p.RecvPkgGood(),
            p.RecvPkgBad()};
}

char *Data(QByteArray &b) { return b.data(); }

// Feeds bytes once, then drains; collects every payload and every result code.
struct Feed
{
    QVector<QByteArray> payloads;
    QVector<int> results;
};

Feed FeedAndDrain(NimboProtocol &p, QByteArray bytes)
{
    Feed f;
    char *payload = nullptr;
    int size = 0;
    int r = p.AssembleInputPackage(Data(bytes), bytes.size(), &payload, &size);
    for (;;) {
        f.results.append(r);
        if (r == NP_SUCC_)
            f.payloads.append(QByteArray(payload, size));
        if (r == NP_QUEUE_EMPTY_)
            break;
        r = p.AssembleInputPackage(nullptr, 0, &payload, &size);
    }
    return f;
}

NimboProtocol *NewProtocol()
{
    auto *p = new NimboProtocol;
    p->Init(44, 44);
    return p;
}

// Exposes the protected checksum hooks.
class OpenProtocol : public NimboProtocol
{
public:
    using NimboProtocol::Checksum_Generate;
    using NimboProtocol::Checksum_Verify;
};

QByteArray Noise(int n, quint32 seed, bool allowHead)
{
    QRandomGenerator rng(seed);
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i) {
        char c;
        do {
            c = char(rng.bounded(256));
        } while (!allowHead && quint8(c) == 0xAA);
        b[i] = c;
    }
    return b;
}

} // namespace

Q_DECLARE_METATYPE(Counters)

class tst_Framing : public QObject
{
    Q_OBJECT

private slots:
    void crcCheckValueAndTable();
    void goldenFramesBuildAndParse();
    void everySplitOfAFrame();
    void threeFramesInOneCall();
    void noiseCostsBadHeadBytesOnly();
    void falseSecondHeadByte();
    void intactFramesSurviveDamage_data();
    void intactFramesSurviveDamage();
    void badLengthResynchronises_data();
    void badLengthResynchronises();
    void oversizedFrameIsOmittedWhole();
    void singleBitFlip_data();
    void singleBitFlip();
    void truncatedFrameAtEveryOffset();
    void queueOverflowLosesOldestBytes();
    void createOutputPackageLimits_data();
    void createOutputPackageLimits();
    void initRules();
    void sumChecksumOptions_data();
    void sumChecksumOptions();
    void ratesGuardZeroDenominators();
    void roundUp();
    void queueMatchesModel();
};

void tst_Framing::crcCheckValueAndTable()
{
    QCOMPARE(NimboProtocol::Crc16("123456789", 9), quint16(0x4B37));
    QCOMPARE(BitwiseCrc16("123456789"), quint16(0x4B37));
    QRandomGenerator rng(7);
    for (int n = 0; n < 300; ++n) {
        const QByteArray data = Noise(n, rng.generate(), true);
        QCOMPARE(NimboProtocol::Crc16(data.constData(), data.size()), BitwiseCrc16(data));
    }
    OpenProtocol p;
    QByteArray text("123456789");
    QCOMPARE(p.Checksum_Generate(text.data(), text.size()), quint16(0x4B37));
    QCOMPARE(p.Checksum_Verify(text.data(), text.size(), 0x4B37), NP_SUCC_);
    QCOMPARE(p.Checksum_Verify(text.data(), text.size(), 0x4B36), NP_FAIL_);
}

void tst_Framing::goldenFramesBuildAndParse()
{
    const auto golden = LoadGoldenFrames();
    QVERIFY2(golden.size() >= 21, "tests/data/frames.json missing or incomplete");
    QScopedPointer<NimboProtocol> p(NewProtocol());
    for (const GoldenFrame &g : golden) {
        QByteArray payload = g.payload;
        char *frame = nullptr;
        int frameSize = 0;
        QCOMPARE(p->CreateOutputPackage(payload.data(), payload.size(), &frame, &frameSize), NP_SUCC_);
        QCOMPARE(QByteArray(frame, frameSize).toHex(), g.frame.toHex());
        QCOMPARE(Frame(g.payload).toHex(), g.frame.toHex());

        const Feed f = FeedAndDrain(*p, g.frame);
        QCOMPARE(f.payloads.size(), 1);
        QCOMPARE(f.payloads.first().toHex(), g.payload.toHex());
    }
    QCOMPARE(p->GetStatistic_Send_Pkg_Total(), golden.size());
    QCOMPARE(int(p->RecvPkgGood()), golden.size());
}

void tst_Framing::everySplitOfAFrame()
{
    const QByteArray payload = Payload(41, 40, 2, 8);
    const QByteArray frame = Frame(payload);
    QCOMPARE(frame.size(), 13);
    // Every cut into three pieces (empty pieces included): only the call with the last byte succeeds.
    for (int a = 0; a <= frame.size(); ++a) {
        for (int b = a; b <= frame.size(); ++b) {
            QScopedPointer<NimboProtocol> p(NewProtocol());
            const QByteArray pieces[3] = {frame.left(a), frame.mid(a, b - a), frame.mid(b)};
            int successes = 0;
            for (int i = 0; i < 3; ++i) {
                const Feed f = FeedAndDrain(*p, pieces[i]);
                const bool completes = (i == 2 && !pieces[2].isEmpty()) ||
                                       (i == 1 && pieces[2].isEmpty() && !pieces[1].isEmpty()) ||
                                       (i == 0 && pieces[1].isEmpty() && pieces[2].isEmpty());
                QCOMPARE(f.payloads.size(), completes ? 1 : 0);
                if (completes)
                    QCOMPARE(f.payloads.first(), payload);
                successes += f.payloads.size();
            }
            QCOMPARE(successes, 1);
            QCOMPARE(p->GetStatistic_Recv_Pkg_Total(), 1);
            QCOMPARE(p->RecvByteBadHead(), 0u);
        }
    }
}

void tst_Framing::threeFramesInOneCall()
{
    QScopedPointer<NimboProtocol> p(NewProtocol());
    const QByteArray a = Payload(35, 40, 2, 20, 1), b = Payload(22, 41, 2, 16, 2),
                     c = Payload(24, 42, 0, 44, 3);
    const Feed f = FeedAndDrain(*p, Frame(a) + Frame(b) + Frame(c));
    QCOMPARE(f.results, (QVector<int>{NP_SUCC_, NP_SUCC_, NP_SUCC_, NP_QUEUE_EMPTY_}));
    QCOMPARE(f.payloads, (QVector<QByteArray>{a, b, c}));
    // Byte by byte gives the same frames.
    QScopedPointer<NimboProtocol> q(NewProtocol());
    QVector<QByteArray> got;
    const QByteArray all = Frame(a) + Frame(b) + Frame(c);
    for (char ch : all) {
        const Feed one = FeedAndDrain(*q, QByteArray(1, ch));
        got += one.payloads;
    }
    QCOMPARE(got, (QVector<QByteArray>{a, b, c}));
}

void tst_Framing::noiseCostsBadHeadBytesOnly()
{
    QScopedPointer<NimboProtocol> p(NewProtocol());
    const QByteArray noise = Noise(500, 11, false);
    const QByteArray payload = Payload(35, 40, 2, 20);
    const Feed f = FeedAndDrain(*p, noise + Frame(payload) + noise + Frame(payload));
    QCOMPARE(f.payloads.size(), 2);
    const Counters c = Snapshot(*p);
    QCOMPARE(c.badHead, 1000u);
    QCOMPARE(c.goodHead, 2u);
    QCOMPARE(c.pkgTotal, 2u);
    QCOMPARE(c.good, 2u);
    QCOMPARE(c.total, quint32(1000 + 2 * 25));
}

void tst_Framing::falseSecondHeadByte()
{
    // AA AA 55 ...: the second AA is no second head byte, but it starts the frame that follows,
    // which is kept.
    QScopedPointer<NimboProtocol> p(NewProtocol());
    const QByteArray payload = Payload(35, 40, 2, 20);
    const QByteArray frame = Frame(payload);
    const Feed f = FeedAndDrain(*p, QByteArray(1, char(0xAA)) + frame + frame);
    QCOMPARE(f.payloads, (QVector<QByteArray>{payload, payload}));
    const Counters c = Snapshot(*p);
    QVERIFY(!frame.mid(1).contains(char(0xAA)));
    QCOMPARE(c.goodHead, 3u); // the stray AA and both frames' AA
    QCOMPARE(c.badHead, 0u);
    QCOMPARE(c.pkgTotal, 2u);
}

void tst_Framing::intactFramesSurviveDamage_data()
{
    QTest::addColumn<int>("damage");
    for (int damage = 0; damage < kStreamDamageKinds; ++damage)
        QTest::newRow(StreamDamageName(damage)) << damage;
}

void tst_Framing::intactFramesSurviveDamage()
{
    // 20,000 frames, one in four damaged or followed by noise, fed in random pieces: every frame
    // that arrived intact comes out, in order, and nothing else does.
    QFETCH(int, damage);
    QVector<QByteArray> intact;
    const QByteArray stream = DamagedStream(damage, 20000, quint32(17 + damage), 2, &intact);
    QScopedPointer<NimboProtocol> p(NewProtocol());
    QRandomGenerator rng{quint32(damage)};
    QVector<QByteArray> received;
    for (int at = 0; at < stream.size();) {
        const int piece = qMin(int(rng.bounded(1, 300)), stream.size() - at);
        received += FeedAndDrain(*p, stream.mid(at, piece)).payloads;
        at += piece;
    }
    QCOMPARE(received.size(), intact.size());
    QVERIFY(received == intact);
    const Counters c = Snapshot(*p);
    QCOMPARE(c.good, quint32(intact.size()));
    QCOMPARE(c.total, quint32(stream.size()));
}

void tst_Framing::badLengthResynchronises_data()
{
    QTest::addColumn<int>("length");
    for (int length : {0, 121, 122, 200, 255})
        QTest::addRow("length %d", length) << length;
}

void tst_Framing::badLengthResynchronises()
{
    QFETCH(int, length);
    QScopedPointer<NimboProtocol> p(NewProtocol());
    const QByteArray payload = Payload(35, 40, 2, 20);
    QByteArray junk("\xAA\x55", 2);
    junk.append(char(length));
    junk.append(QByteArray(5, '\x11')); // bytes that a wrongly accepted length would swallow
    const Feed f = FeedAndDrain(*p, junk + Frame(payload));
    QCOMPARE(f.payloads, QVector<QByteArray>{payload});
    const Counters c = Snapshot(*p);
    QCOMPARE(c.pkgTotal, 1u);
    QCOMPARE(c.goodHead, 2u);
    QCOMPARE(c.badHead, 7u); // searched again from the byte after the failed head: 55, length, 5 bytes
}

void tst_Framing::oversizedFrameIsOmittedWhole()
{
    QScopedPointer<NimboProtocol> p(NewProtocol());
    const QByteArray big = Frame(Payload(43, 40, 2, 100));
    const QByteArray payload = Payload(35, 40, 2, 20);
    const Feed f = FeedAndDrain(*p, big + Frame(payload));
    QCOMPARE(f.results.first(), NP_NORMAL_EXIT_);
    QCOMPARE(f.payloads, QVector<QByteArray>{payload});
    Counters c = Snapshot(*p);
    QCOMPARE(c.pkgTotal, 2u);
    QCOMPARE(c.omit, 1u);
    QCOMPARE(c.bad, 0u);
    QCOMPARE(c.good, 1u);
    QCOMPARE(c.badHead, 0u);

    // A damaged one still counts as omitted, not bad, but its bytes are searched again.
    QByteArray damaged = big;
    damaged[damaged.size() - 1] = char(damaged[damaged.size() - 1] ^ 0xFF);
    const Feed again = FeedAndDrain(*p, damaged + Frame(payload));
    QCOMPARE(again.payloads, QVector<QByteArray>{payload});
    c = Snapshot(*p);
    QCOMPARE(c.omit, 2u);
    QCOMPARE(c.bad, 0u);
    QVERIFY(c.badHead > 0u);
    const quint32 badHeadBefore = c.badHead;

    // Alone in a call it reports that the queue is exhausted.
    const Feed alone = FeedAndDrain(*p, big);
    QCOMPARE(alone.results, QVector<int>{NP_QUEUE_EMPTY_});
    QCOMPARE(p->RecvPkgOmit(), 3u);
    QCOMPARE(Snapshot(*p).badHead, badHeadBefore);
    QVERIFY(qAbs(p->GetStatistic_Recv_Pkg_OmitRate() - 3.0f / 5.0f) < 1e-6f);
}

void tst_Framing::singleBitFlip_data()
{
    QTest::addColumn<int>("byteIndex");
    QTest::addColumn<int>("bit");
    // Payload and checksum bytes; length flips are a case of their own below.
    for (int byte = 3; byte < 13; ++byte)
        for (int bit = 0; bit < 8; ++bit)
            QTest::addRow("byte %d bit %d", byte, bit) << byte << bit;
    for (int bit = 0; bit < 8; ++bit)
        QTest::addRow("length bit %d", bit) << 2 << bit;
}

void tst_Framing::singleBitFlip()
{
    QFETCH(int, byteIndex);
    QFETCH(int, bit);
    QScopedPointer<NimboProtocol> p(NewProtocol());
    QByteArray frame = Frame(Payload(12, 40, 2, 8, 9));
    frame[byteIndex] = char(frame[byteIndex] ^ (1 << bit));
    const int length = quint8(frame[2]);
    // Trailing zero bytes complete whatever length the flip produced.
    const Feed f = FeedAndDrain(*p, frame + QByteArray(130, '\0'));
    QVERIFY(f.payloads.isEmpty());
    const Counters c = Snapshot(*p);
    if (length == 0 || length > 120) {
        QCOMPARE(c.pkgTotal, 0u);
    } else if (length > 44) {
        QCOMPARE(c.omit, 1u);
        QCOMPARE(c.bad, 0u);
    } else {
        QVERIFY(f.results.contains(NP_FAIL_));
        QCOMPARE(c.bad, 1u);
        QCOMPARE(c.good, 0u);
        QCOMPARE(c.pkgTotal, 1u);
    }
}

void tst_Framing::truncatedFrameAtEveryOffset()
{
    // A frame cut off after k bytes, then intact frames: the parser never hands out a payload that
    // was not sent, its counters stay consistent, and it recovers within the following frames.
    const QByteArray good = Payload(35, 40, 2, 20, 5);
    const QByteArray cut = Frame(Payload(41, 40, 2, 44, 6));
    for (int k = 1; k < cut.size(); ++k) {
        QScopedPointer<NimboProtocol> p(NewProtocol());
        QByteArray stream = cut.left(k);
        for (int i = 0; i < 4; ++i)
            stream += Frame(good);
        const Feed f = FeedAndDrain(*p, stream);
        for (const QByteArray &payload : f.payloads)
            QCOMPARE(payload, good);
        QVERIFY2(f.payloads.size() >= 2,
                 qPrintable(QString("offset %1: %2 frames").arg(k).arg(f.payloads.size())));
        const Counters c = Snapshot(*p);
        QCOMPARE(c.pkgTotal, c.good + c.bad + c.omit);
        QCOMPARE(c.total, quint32(stream.size()));
    }
}

void tst_Framing::queueOverflowLosesOldestBytes()
{
    QScopedPointer<NimboProtocol> p(NewProtocol());
    QCOMPARE(p->GetInQueueCapacity(), 2200);
    const QByteArray first = Payload(35, 40, 2, 20, 1);
    const QByteArray last = Payload(35, 40, 2, 20, 2);
    const QByteArray stream = Frame(first) + Noise(2200, 3, false) + Frame(last);
    const Feed f = FeedAndDrain(*p, stream);
    QCOMPARE(f.payloads, QVector<QByteArray>{last});
    QCOMPARE(p->GetStatistic_Recv_Byte_Total(), stream.size());
    // Exactly what fits is kept: 2200 bytes ending in the frame.
    QScopedPointer<NimboProtocol> q(NewProtocol());
    const QByteArray fits = Noise(2200 - 25, 4, false) + Frame(last);
    QCOMPARE(FeedAndDrain(*q, Frame(first)).payloads.size(), 1);
    QCOMPARE(FeedAndDrain(*q, fits).payloads.size(), 1);
    QCOMPARE(q->RecvByteBadHead(), quint32(2200 - 25));
}

void tst_Framing::createOutputPackageLimits_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("result");
    QTest::newRow("1 byte") << 1 << NP_SUCC_;
    QTest::newRow("44 bytes, the largest record") << 44 << NP_SUCC_;
    QTest::newRow("45 bytes, past the output buffer") << 45 << NP_FAIL_;
    QTest::newRow("120 bytes") << 120 << NP_FAIL_;
    QTest::newRow("121 bytes") << 121 << NP_FAIL_;
    QTest::newRow("empty") << 0 << NP_FAIL_;
    QTest::newRow("negative") << -3 << NP_FAIL_;
}

void tst_Framing::createOutputPackageLimits()
{
    QFETCH(int, size);
    QFETCH(int, result);
    QScopedPointer<NimboProtocol> p(NewProtocol());
    QByteArray payload(200, '\x5A');
    char *frame = nullptr;
    int frameSize = -1;
    QCOMPARE(p->CreateOutputPackage(payload.data(), size, &frame, &frameSize), result);
    QCOMPARE(p->GetStatistic_Send_Pkg_Total(), result == NP_SUCC_ ? 1 : 0);
    if (result == NP_SUCC_)
        QCOMPARE(QByteArray(frame, frameSize), Frame(payload.left(size)));
}

void tst_Framing::initRules()
{
    NimboProtocol fresh;
    QCOMPARE(fresh.TotalBytesOfMemoryUsed(), 13);
    QVERIFY(!fresh.IsUsable());
    // Before Init nothing is framed and nothing crashes.
    QByteArray frame = Frame(Payload(35, 40, 2, 20));
    char *out = nullptr;
    int outSize = 0;
    QCOMPARE(fresh.AssembleInputPackage(frame.data(), frame.size(), &out, &outSize), NP_FAIL_);
    QCOMPARE(fresh.CreateOutputPackage(frame.data(), 8, &out, &outSize), NP_FAIL_);

    NimboProtocol p;
    QCOMPARE(p.Init(44, 44), NP_SUCC_);
    QCOMPARE(p.TotalBytesOfMemoryUsed(), 49 + 49 + 2200 + 32);
    QCOMPARE(p.GetInDataMaxSize(), 44);
    QCOMPARE(p.GetOutDataMaxSize(), 44);
    QCOMPARE(p.Init(121, 44), NP_FAIL_);
    QCOMPARE(p.TotalBytesOfMemoryUsed(), 0);
    QCOMPARE(p.Init(44, 121), NP_FAIL_);
    // A failed Init leaves the working buffers usable.
    QCOMPARE(FeedAndDrain(p, frame).payloads.size(), 1);
    QCOMPARE(p.Init(120, 120), NP_SUCC_);
    QCOMPARE(p.GetInQueueCapacity(), 6000);
    QCOMPARE(FeedAndDrain(p, Frame(Payload(35, 40, 2, 100))).payloads.size(), 1);
}

void tst_Framing::sumChecksumOptions_data()
{
    QTest::addColumn<int>("option");
    QTest::addColumn<int>("checksumBytes");
    QTest::newRow("1 byte sum") << int(NP_CHECKSUM_1_BYTE_SUM_) << 1;
    QTest::newRow("2 bytes sum") << int(NP_CHECKSUM_2_BYTES_SUM_) << 2;
    QTest::newRow("unknown option falls back to 1 byte sum") << 9 << 1;
}

void tst_Framing::sumChecksumOptions()
{
    QFETCH(int, option);
    QFETCH(int, checksumBytes);
    NimboProtocol p;
    p.Init(44, 44);
    p.SetChecksumOption(char(option));
    QByteArray payload = Payload(35, 40, 2, 20, 0xC3);
    int sum = payload.size();
    for (char c : payload)
        sum += quint8(c);
    char *frame = nullptr;
    int frameSize = 0;
    QCOMPARE(p.CreateOutputPackage(payload.data(), payload.size(), &frame, &frameSize), NP_SUCC_);
    QCOMPARE(frameSize, payload.size() + 3 + checksumBytes);
    const QByteArray built(frame, frameSize);
    QCOMPARE(quint8(built[3 + payload.size()]), quint8(sum & 0xFF));
    if (checksumBytes == 2)
        QCOMPARE(quint8(built[4 + payload.size()]), quint8((sum >> 8) & 0xFF));

    QCOMPARE(FeedAndDrain(p, built).payloads, QVector<QByteArray>{payload});
    QByteArray corrupt = built;
    corrupt[5] = char(corrupt[5] + 1);
    QVERIFY(FeedAndDrain(p, corrupt).results.contains(NP_FAIL_));
    QCOMPARE(p.RecvPkgBad(), 1u);
}

void tst_Framing::ratesGuardZeroDenominators()
{
    NimboProtocol p;
    p.Init(44, 44);
    QCOMPARE(p.GetStatistic_Recv_Byte_BadHeadRate(), 0.0f);
    QCOMPARE(p.GetStatistic_Recv_Pkg_OmitRate(), 0.0f);
    QCOMPARE(p.GetStatistic_Recv_Pkg_BadRate(), 0.0f);
    QCOMPARE(p.GetStatistic_Recv_Pkg_GoodRate(), 0.0f);
    // Noise alone: bytes but no packages.
    FeedAndDrain(p, Noise(10, 1, false));
    QCOMPARE(p.GetStatistic_Recv_Byte_BadHeadRate(), 1.0f);
    QCOMPARE(p.GetStatistic_Recv_Pkg_GoodRate(), 0.0f);
    QByteArray bad = Frame(Payload(35, 40, 2, 20));
    bad[8] = char(bad[8] ^ 1);
    FeedAndDrain(p, Frame(Payload(35, 40, 2, 20)) + bad + Frame(Payload(35, 40, 2, 20)) +
                        Frame(Payload(35, 40, 2, 20)));
    QCOMPARE(p.GetStatistic_Recv_Pkg_BadRate(), 0.25f);
    QCOMPARE(p.GetStatistic_Recv_Pkg_GoodRate(), 0.75f);
}

void tst_Framing::roundUp()
{
    NimboProtocol p;
    p.Init(44, 44);
    FeedAndDrain(p, Frame(Payload(35, 40, 2, 20)));
    QCOMPARE(int(p.GetRoundUp()), 0);
    FeedAndDrain(p, Frame(Payload(35, 40, 2, 21)));
    QCOMPARE(int(p.GetRoundUp()), 3);
    FeedAndDrain(p, Frame(Payload(35, 40, 2, 23)));
    QCOMPARE(int(p.GetRoundUp()), 1);
}

void tst_Framing::queueMatchesModel()
{
    // The ring against a plain model, with single and bulk operations mixed at random.
    QRandomGenerator rng(42);
    for (int capacity : {1, 2, 7, 32, 100}) {
        NimboQueue q(capacity);
        QCOMPARE(q.capacity(), capacity);
        std::deque<char> model;
        for (int step = 0; step < 4000; ++step) {
            const int op = rng.bounded(4);
            if (op == 0) {
                const char c = char(rng.bounded(256));
                const bool full = int(model.size()) == capacity;
                QCOMPARE(q.push(c), full ? 1 : 0);
                model.push_back(c);
                if (full)
                    model.pop_front();
            } else if (op == 1) {
                const QByteArray data = Noise(rng.bounded(3 * capacity + 2), rng.generate(), true);
                const int lost = std::max(0, int(model.size()) + data.size() - capacity);
                QCOMPARE(q.pushMany(data.constData(), data.size()), lost);
                for (char c : data)
                    model.push_back(c);
                while (int(model.size()) > capacity)
                    model.pop_front();
            } else if (op == 2) {
                if (!model.empty())
                    QCOMPARE(q.front(), model.front());
                q.pop();
                if (!model.empty())
                    model.pop_front();
            } else {
                const int n = rng.bounded(capacity + 2);
                QByteArray out(n, '\0');
                const int moved = q.popMany(out.data(), n);
                QCOMPARE(moved, std::min(n, int(model.size())));
                for (int i = 0; i < moved; ++i) {
                    QCOMPARE(out[i], model.front());
                    model.pop_front();
                }
            }
            QCOMPARE(q.size(), int(model.size()));
            QCOMPARE(q.empty(), model.empty());
        }
        q.resize(capacity);
        QVERIFY(q.empty());
    }
}

QTEST_APPLESS_MAIN(tst_Framing)
#include "tst_framing.moc"
