#ifndef FIFOBUFFER_H
#define FIFOBUFFER_H

#include "chartdeck_global.h"

#include <qwt_series_data.h>

#include <QPointF>
#include <QRectF>

#include <cstddef>
#include <vector>

// Sample store of one curve. Samples are kept as (value, time) pairs, oldest first, in a ring; a full
// ring is never reallocated, a growing one doubles, so appending does not allocate per sample. The curve
// reads the samples with the two coordinates exchanged and, in Y-t mode, with the time made relative to
// baseTimestamp (in seconds).
class CHARTDECK_EXPORT FifoBuffer : public QwtSeriesData<QPointF>
{
public:
    // The buffer starts full: capacity samples (0, 0).
    explicit FifoBuffer(quint32 capacity);

    FifoBuffer(const FifoBuffer &) = delete;
    FifoBuffer &operator=(const FifoBuffer &) = delete;

    // Adds one sample at the end and then cuts the buffer down to its capacity. A buffer whose capacity
    // was raised therefore grows by one sample per append, one whose capacity was lowered shrinks on the
    // next append.
    void append(double first, double second)
    {
        if (count < capacityValue) {
            if (count == ring.size())
                grow();
            std::size_t tail = head + count;
            if (tail >= ring.size())
                tail -= ring.size();
            ring[tail] = QPointF(first, second);
            ++count;
        } else if (count == capacityValue && count != 0) {
            std::size_t tail = head + count;
            if (tail >= ring.size())
                tail -= ring.size();
            ring[tail] = QPointF(first, second);
            if (++head == ring.size())
                head = 0;
            if (placeholders > 0)
                --placeholders;
        } else {
            appendBeyondCapacity(first, second);
        }
    }

    // Sets the capacity; the stored samples stay until the next append. With fill, that many (0, 0)
    // samples are appended as well.
    void setCapacity(quint32 capacity, bool fill = false);
    quint32 capacity() const { return capacityValue; }

    void setBaseTimestamp(quint32 timestamp) { baseTimestampValue = timestamp; }
    quint32 baseTimestamp() const { return baseTimestampValue; }
    void setXyMode(bool on) { xyModeValue = on; }
    // The (0, 0) samples a new buffer starts with are not data: drawn, they would pull a line from the
    // origin (X-Y) or from the far left (Y-t) to the first real sample. When hidden, sample() gives the
    // oldest real sample in their place (segments of no length draw nothing); size(), at() and stored()
    // always count and see every sample.
    void setPlaceholdersHidden(bool hidden) { placeholdersHidden = hidden; }
    std::size_t placeholderCount() const { return qMin(placeholders, count); }
    bool xyMode() const { return xyModeValue; }

    // Point i as drawn. Throws std::out_of_range for an index at or beyond size().
    QPointF at(std::size_t i) const;
    // The stored (value, time) pair i, untransformed; same range check as at().
    QPointF stored(std::size_t i) const;

    std::size_t size() const override { return count; }
    // Qwt's paint path: never throws. An index beyond the end yields the newest point again, so a
    // painter that asks for more points than there are draws nothing extra.
    QPointF sample(std::size_t i) const override;
    // Fixed; it only matters to autoscaling.
    QRectF boundingRect() const override { return QRectF(-100.0, -10.0, 100.0, 10.0); }
    void setRectOfInterest(const QRectF &) override {}

private:
    const QPointF &slotAt(std::size_t i) const
    {
        std::size_t index = head + i;
        if (index >= ring.size())
            index -= ring.size();
        return ring[index];
    }
    QPointF drawn(const QPointF &storedSample) const;
    void checkIndex(std::size_t i) const;
    void appendBeyondCapacity(double first, double second);
    void grow();
    void relayout(std::size_t slotCount, std::size_t keep);

    std::vector<QPointF> ring;
    std::size_t head = 0;
    std::size_t count = 0;
    quint32 capacityValue = 0;
    quint32 baseTimestampValue = 0;
    bool xyModeValue = false;
    std::size_t placeholders = 0; // the oldest samples still in the buffer that are fill, not data
    bool placeholdersHidden = false;
};

#endif // FIFOBUFFER_H
