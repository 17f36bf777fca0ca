// The exported C++ library's framer, on its own: the same long damaged streams as the host's and
// the C library's, so that every exported framer keeps the intact frames.

#include "nimboprotocol.h"
#include "testframes.h"

#include <QtTest/QtTest>

class TestDevicelibCpp : public QObject
{
    Q_OBJECT

private slots:
    void intactFramesSurviveDamage_data();
    void intactFramesSurviveDamage();
};

void TestDevicelibCpp::intactFramesSurviveDamage_data()
{
    QTest::addColumn<int>("damage");
    for (int damage = 0; damage < testframes::kStreamDamageKinds; ++damage)
        QTest::newRow(testframes::StreamDamageName(damage)) << damage;
}

void TestDevicelibCpp::intactFramesSurviveDamage()
{
    QFETCH(int, damage);
    QVector<QByteArray> intact;
    const QByteArray stream = testframes::DamagedStream(damage, 5000, quint32(5 + damage), 2, &intact);
    NimboProtocol protocol;
    QCOMPARE(protocol.Init(NP_MAX_RECORD_SIZE_, NP_MAX_RECORD_SIZE_), NP_SUCC_);
    QVector<QByteArray> received;
    for (int at = 0; at < stream.size();) {
        const int piece = qMin(qMin(1 + at % 97, protocol.InQueueFree()), int(stream.size()) - at);
        const uint8_t *bytes = reinterpret_cast<const uint8_t *>(stream.constData() + at);
        const uint8_t *payload = nullptr;
        int size = 0;
        for (int r = protocol.AssembleInputPackage(bytes, piece, &payload, &size); r != NP_QUEUE_EMPTY_;
             r = protocol.AssembleInputPackage(nullptr, 0, &payload, &size))
            if (r == NP_SUCC_)
                received.append(QByteArray(reinterpret_cast<const char *>(payload), size));
        at += piece;
    }
    QCOMPARE(received.size(), intact.size());
    QVERIFY(received == intact);
    QCOMPARE(protocol.RecvPkgGood(), quint32(intact.size()));
}

QTEST_APPLESS_MAIN(TestDevicelibCpp)
#include "tst_devicelib_cpp.moc"
