#include "fifobuffer.h"

#include <cstdio>
#include <stdexcept>

FifoBuffer::FifoBuffer(quint32 capacity) { setCapacity(capacity, true); }

void FifoBuffer::setCapacity(quint32 capacity, bool fill)
{
    capacityValue = capacity;
    // A raised capacity takes slots only as samples arrive, a lowered one keeps its slots until the next
    // append cuts the samples down.
    if (fill) {
        if (ring.size() < capacity)
            relayout(capacity, qMin<std::size_t>(count, capacity));
        for (quint32 i = 0; i < capacity; ++i)
            append(0.0, 0.0);
        placeholders = qMin<std::size_t>(count, placeholders + capacity);
    }
}

QPointF FifoBuffer::at(std::size_t i) const
{
    checkIndex(i);
    return drawn(slotAt(i));
}

QPointF FifoBuffer::stored(std::size_t i) const
{
    checkIndex(i);
    return slotAt(i);
}

QPointF FifoBuffer::sample(std::size_t i) const
{
    if (placeholdersHidden && i < placeholderCount() && placeholderCount() < count)
        i = placeholderCount();
    if (i >= count) {
        if (count == 0)
            return QPointF();
        i = count - 1;
    }
    return drawn(slotAt(i));
}

QPointF FifoBuffer::drawn(const QPointF &storedSample) const
{
    if (xyModeValue)
        return QPointF(storedSample.y(), storedSample.x());
    double dt = storedSample.y() - double(baseTimestampValue);
    // Time stamps are 32-bit microsecond counters that wrap every 71.6 minutes; going the shorter way
    // round keeps the samples just before a wrap beside those just after it.
    if (dt > 2147483648.0)
        dt -= 4294967296.0;
    else if (dt < -2147483648.0)
        dt += 4294967296.0;
    return QPointF(dt / 1000000.0, storedSample.x());
}

void FifoBuffer::checkIndex(std::size_t i) const
{
    if (i < count)
        return;
    char text[128];
    std::snprintf(text, sizeof text,
                  "vector::_M_range_check: __n (which is %zu) >= this->size() (which is %zu)", i, count);
    throw std::out_of_range(text);
}

void FifoBuffer::appendBeyondCapacity(double first, double second)
{
    // Reached only with capacity 0 or after the capacity was lowered below the number of samples.
    if (capacityValue == 0) {
        head = 0;
        count = 0;
        placeholders = 0;
        std::vector<QPointF>().swap(ring);
        return;
    }
    relayout(capacityValue, capacityValue - 1);
    append(first, second);
}

void FifoBuffer::grow()
{
    relayout(qMin<std::size_t>(capacityValue, qMax<std::size_t>(64, 2 * ring.size())), count);
}

// Moves the newest `keep` samples, oldest first, into a fresh ring of slotCount slots.
void FifoBuffer::relayout(std::size_t slotCount, std::size_t keep)
{
    std::vector<QPointF> fresh(slotCount);
    const std::size_t skip = count - keep;
    placeholders = placeholders > skip ? placeholders - skip : 0;
    for (std::size_t i = 0; i < keep; ++i)
        fresh[i] = slotAt(skip + i);
    ring.swap(fresh);
    head = 0;
    count = keep;
}
