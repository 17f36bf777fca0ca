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

// The append rule written out literally, as the reference for the ring.
struct ReferenceFifo
{
    std::deque<double> values;
    quint32 capacity;

    void append(double v)
    {
        values.push_back(v);
        while (values.size() > capacity)
            values.pop_front();
    }
};

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
    void readsExchangeCoordinates_data();
    void readsExchangeCoordinates();
    void rangeCheckForCallers();
    void paintPathNeverThrows();
};

// Script: "aV" appends value V (time = V), "cN" sets the capacity to N.
void TstFifoBuffer::appendRule_data()
{
    QTest::addColumn<uint>("capacity");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QVector<double>>("expected");

    QTest::newRow("prefilled with zeros") << 4u << "" << QVector<double>{0, 0, 0, 0};
    QTest::newRow("k appends push out the k oldest") << 4u << "a1 a2" << QVector<double>{0, 0, 1, 2};
    QTest::newRow("ring wraps many times, oldest first")
        << 3u << "a1 a2 a3 a4 a5 a6 a7 a8 a9 a10" << QVector<double>{8, 9, 10};
    QTest::newRow("lowered: samples stay until the next append")
        << 5u << "a1 a2 a3 a4 a5 c2" << QVector<double>{1, 2, 3, 4, 5};
    QTest::newRow("lowered: next append cuts down") << 5u << "a1 a2 a3 a4 a5 c2 a6" << QVector<double>{5, 6};
    QTest::newRow("raised: grows one per append") << 2u << "a1 a2 c4 a3" << QVector<double>{1, 2, 3};
    QTest::newRow("raised: full again, then slides")
        << 2u << "a1 a2 c4 a3 a4 a5" << QVector<double>{2, 3, 4, 5};
    QTest::newRow("lowered then raised before an append")
        << 6u << "a1 a2 a3 a4 a5 a6 c2 c4 a7" << QVector<double>{4, 5, 6, 7};
    QTest::newRow("capacity 0 stays empty") << 0u << "a1 a2" << QVector<double>{};
    QTest::newRow("lowered to 0 empties on append") << 3u << "a1 c0 a2" << QVector<double>{};
    QTest::newRow("from 0 up again") << 0u << "a1 c2 a2 a3 a4" << QVector<double>{3, 4};
    QTest::newRow("capacity 1") << 1u << "a1 a2 a3" << QVector<double>{3};
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
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(buffer.stored(std::size_t(i)).y(), expected[i]);
}

// Random mixes of appends and capacity changes, compared after every step; small rounds wrap the ring
// often, large ones make it grow in several steps.
void TstFifoBuffer::ringMatchesReference()
{
    QRandomGenerator random(20240611);
    for (int round = 0; round < 60; ++round) {
        const quint32 maxCapacity = round % 2 == 0 ? 16u : 300u;
        const quint32 start = random.bounded(maxCapacity);
        FifoBuffer buffer(start);
        ReferenceFifo reference{std::deque<double>(start, 0.0), start};
        for (int step = 0; step < 1000; ++step) {
            if (random.bounded(25) == 0) {
                const quint32 capacity = random.bounded(maxCapacity);
                buffer.setCapacity(capacity);
                reference.capacity = capacity;
            } else {
                const double v = step + 1;
                buffer.append(v, -v);
                reference.append(v);
            }
            QCOMPARE(buffer.capacity(), reference.capacity);
            QCOMPARE(storedValues(buffer), QVector<double>(reference.values.begin(), reference.values.end()));
        }
    }
}

void TstFifoBuffer::readsExchangeCoordinates_data()
{
    QTest::addColumn<bool>("xyMode");
    QTest::addColumn<uint>("base");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("time");
    QTest::addColumn<QPointF>("drawn");

    QTest::newRow("Y-t, origin 0") << false << 0u << 0.5 << 2000000.0 << QPointF(2.0, 0.5);
    QTest::newRow("Y-t, newest at 0") << false << 1500000u << -0.25 << 1500000.0 << QPointF(0.0, -0.25);
    QTest::newRow("Y-t, older to the left") << false << 1500000u << 1.0 << 1100000.0 << QPointF(-0.4, 1.0);
    QTest::newRow("Y-t, time going back lands right")
        << false << 1000000u << 1.0 << 1600000.0 << QPointF(0.6, 1.0);
    QTest::newRow("Y-t, origin above 2^31 is unsigned")
        << false << 3000000000u << 2.0 << 2999750000.0 << QPointF(-0.25, 2.0);
    QTest::newRow("Y-t, across the 32-bit wrap")
        << false << 500u << 3.0 << 4294966296.0 << QPointF(-0.0015, 3.0);
    QTest::newRow("XY, untransformed") << true << 1500000u << 0.3 << -0.7 << QPointF(-0.7, 0.3);
}

void TstFifoBuffer::readsExchangeCoordinates()
{
    QFETCH(bool, xyMode);
    QFETCH(uint, base);
    QFETCH(double, value);
    QFETCH(double, time);
    QFETCH(QPointF, drawn);

    FifoBuffer buffer(2);
    buffer.setXyMode(xyMode);
    buffer.setBaseTimestamp(base);
    buffer.append(value, time);
    QCOMPARE(buffer.sample(1).x(), drawn.x());
    QCOMPARE(buffer.sample(1).y(), drawn.y());
    QCOMPARE(buffer.at(1), buffer.sample(1));
    QCOMPARE(buffer.boundingRect(), QRectF(-100.0, -10.0, 100.0, 10.0));
}

void TstFifoBuffer::rangeCheckForCallers()
{
    FifoBuffer buffer(3);
    try {
        buffer.at(3);
        QFAIL("no exception for an index at the end");
    } catch (const std::out_of_range &error) {
        QCOMPARE(QString::fromLatin1(error.what()),
                 QStringLiteral("vector::_M_range_check: __n (which is 3) >= this->size() (which is 3)"));
    }
    FifoBuffer empty(0);
    QVERIFY_EXCEPTION_THROWN(empty.stored(0), std::out_of_range);
}

// Asked for more points than there are, the curve draws the newest point again instead of throwing
// out of the paint event.
void TstFifoBuffer::paintPathNeverThrows()
{
    auto *buffer = new FifoBuffer(5);
    buffer->setXyMode(true);
    for (int i = 0; i < 5; ++i)
        buffer->append(i, i);
    QCOMPARE(buffer->sample(5), QPointF(4, 4));
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
    painter.end();
    QVERIFY(image.pixelColor(45, 5) == QColor(Qt::black)); // nothing beyond the newest point (4, 4)
}

QTEST_MAIN(TstFifoBuffer)
#include "tst_fifobuffer.moc"
