#include "fifobuffer.h"

#include <qwt_plot_curve.h>
#include <qwt_scale_map.h>

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

#include <deque>
#include <stdexcept>

namespace {

QVector<double> storedValues(const FifoBuffer &buffer)
{
    QVector<double> values;
    for (std::size_t i = 0; i < buffer.size(); ++i)
        values << buffer.stored(i).x();
    return values;
}

// Exposes the line drawing of a curve so that a test can ask it for more points than the series has.
class ProbeCurve : public QwtPlotCurve
{
public:
    using QwtPlotCurve::drawLines;
};

} // namespace

class TstFifoBuffer : public QObject
{
    Q_OBJECT

private slots:
    void appendRule_data();
    void appendRule();
    void ringMatchesReference();
    void rangeCheckStaysOutOfThePaintPath();
    void fillIsNotDrawn();
};

// Script: "aV" appends value V (time = V), "cN" sets the capacity to N.
void TstFifoBuffer::appendRule_data()
{
    QTest::addColumn<uint>("capacity");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QVector<double>>("expected");

    QTest::newRow("prefilled with zeros") << 4u << "" << QVector<double>{0, 0, 0, 0};
    QTest::newRow("k appends push out the k oldest") << 4u << "a1 a2" << QVector<double>{0, 0, 1, 2};
    QTest::newRow("wraps, oldest first") << 3u << "a1 a2 a3 a4 a5 a6 a7" << QVector<double>{5, 6, 7};
    QTest::newRow("lowered: kept until the next append")
        << 5u << "a1 a2 a3 a4 a5 c2" << QVector<double>{1, 2, 3, 4, 5};
    QTest::newRow("lowered: next append cuts down") << 5u << "a1 a2 a3 a4 a5 c2 a6" << QVector<double>{5, 6};
    QTest::newRow("raised: grows one per append") << 2u << "a1 a2 c4 a3" << QVector<double>{1, 2, 3};
    QTest::newRow("raised: full, then slides") << 2u << "a1 a2 c4 a3 a4 a5" << QVector<double>{2, 3, 4, 5};
    QTest::newRow("lowered, raised, then appended")
        << 6u << "a1 a2 a3 a4 a5 a6 c2 c4 a7" << QVector<double>{4, 5, 6, 7};
    QTest::newRow("capacity 0 stays empty") << 0u << "a1 a2" << QVector<double>{};
    QTest::newRow("lowered to 0 empties on append") << 3u << "a1 c0 a2" << QVector<double>{};
    QTest::newRow("from 0 up again") << 0u << "a1 c2 a2 a3 a4" << QVector<double>{3, 4};
}

void TstFifoBuffer::appendRule()
{
    QFETCH(uint, capacity);
    QFETCH(QString, script);
    QFETCH(QVector<double>, expected);

    FifoBuffer buffer(capacity);
    for (const QString &step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const double number = step.mid(1).toDouble();
        if (step.startsWith(QLatin1Char('a')))
            buffer.append(number, number);
        else
            buffer.setCapacity(quint32(number));
    }
    QCOMPARE(storedValues(buffer), expected);
    if (!expected.isEmpty())
        QCOMPARE(buffer.stored(buffer.size() - 1).y(), expected.last());
}

// Random appends and capacity changes against the rule written out with a deque; small rounds wrap the
// ring often, large ones make it grow in several steps.
void TstFifoBuffer::ringMatchesReference()
{
    QRandomGenerator random(20240611);
    for (int round = 0; round < 60; ++round) {
        const quint32 maxCapacity = round % 2 == 0 ? 16u : 300u;
        quint32 capacity = random.bounded(maxCapacity);
        FifoBuffer buffer(capacity);
        std::deque<double> reference(capacity, 0.0);
        for (int step = 1; step <= 1000; ++step) {
            if (random.bounded(25) == 0) {
                capacity = random.bounded(maxCapacity);
                buffer.setCapacity(capacity);
            } else {
                buffer.append(step, -step);
                reference.push_back(step);
                while (reference.size() > capacity)
                    reference.pop_front();
            }
            QCOMPARE(storedValues(buffer), QVector<double>(reference.begin(), reference.end()));
        }
    }
}

// Callers get the range check; Qwt's paint path, asked for more points than there are, gets the newest
// point again instead of an exception thrown out of a paint event.
void TstFifoBuffer::rangeCheckStaysOutOfThePaintPath()
{
    auto *buffer = new FifoBuffer(5);
    buffer->setXyMode(true);
    for (int i = 0; i < 5; ++i)
        buffer->append(i, i);
    try {
        buffer->at(5);
        QFAIL("no exception for an index at the end");
    } catch (const std::out_of_range &error) {
        QCOMPARE(QString::fromLatin1(error.what()),
                 QStringLiteral("vector::_M_range_check: __n (which is 5) >= this->size() (which is 5)"));
    }
    QVERIFY_EXCEPTION_THROWN(FifoBuffer(0).stored(0), std::out_of_range);
    QCOMPARE(buffer->sample(1000), QPointF(4, 4));
    QCOMPARE(FifoBuffer(0).sample(0), QPointF());

    ProbeCurve curve;
    curve.setData(buffer);
    QImage image(50, 50, QImage::Format_RGB32);
    image.fill(Qt::black);
    QwtScaleMap xMap;
    xMap.setPaintInterval(0, 50);
    xMap.setScaleInterval(0, 5);
    QwtScaleMap yMap;
    yMap.setPaintInterval(50, 0);
    yMap.setScaleInterval(0, 5);
    QPainter painter(&image);
    try {
        curve.drawLines(&painter, xMap, yMap, QRectF(0, 0, 50, 50), 0, 40);
    } catch (...) {
        QFAIL("the paint path threw");
    }
}

// An X-Y plot's first samples: no line from the origin, and once the fill has left, every sample drawn.
void TstFifoBuffer::fillIsNotDrawn()
{
    FifoBuffer buffer(4);
    buffer.setXyMode(true);
    buffer.setPlaceholdersHidden(true);
    buffer.append(0.5, 0.25); // (value, other axis)
    buffer.append(0.7, 0.35);
    QCOMPARE(buffer.size(), std::size_t(4));
    QCOMPARE(buffer.placeholderCount(), std::size_t(2));
    for (std::size_t i = 0; i < 3; ++i)
        QCOMPARE(buffer.sample(i), QPointF(0.25, 0.5));
    QCOMPARE(buffer.sample(3), QPointF(0.35, 0.7));
    QCOMPARE(buffer.at(0), QPointF(0, 0)); // stored as the buffer starts
    buffer.append(0.9, 0.45);
    buffer.append(1.1, 0.55);
    QCOMPARE(buffer.placeholderCount(), std::size_t(0));
    QCOMPARE(buffer.sample(0), QPointF(0.25, 0.5));
    QCOMPARE(buffer.sample(3), QPointF(0.55, 1.1));
    // A refill is fill again.
    buffer.setCapacity(4, true);
    QCOMPARE(buffer.placeholderCount(), std::size_t(4));
}

QTEST_MAIN(TstFifoBuffer)
#include "tst_fifobuffer.moc"
