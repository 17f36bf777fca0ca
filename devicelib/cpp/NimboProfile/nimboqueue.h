// Ring of bytes in a fixed array, for the bytes received but not yet examined by the framing.
// Capacity c uses c + 1 slots: one stays free so that full and empty differ. A push into a full
// ring overwrites the oldest byte.
#ifndef NIMBOQUEUE_H
#define NIMBOQUEUE_H

#include "nimbotypes.h"

template <uint16_t Capacity>
class NimboQueue
{
    static_assert(Capacity >= 1 && Capacity <= 32766, "NimboQueue capacity must lie in 1..32766");

public:
    NimboQueue()
        : start(0)
        , end(0)
    {}

    void Clear() { start = end = 0; }

    // True when the ring was full and its oldest byte was overwritten.
    bool Push(uint8_t c)
    {
        buf[end] = c;
        end = Next(end);
        if (end == start) {
            start = Next(start);
            return true;
        }
        return false;
    }

    bool Empty() const { return start == end; }
    // The oldest byte; only meaningful when the ring is not empty.
    uint8_t Front() const { return buf[start]; }
    void Pop()
    {
        if (start != end)
            start = Next(start);
    }
    uint16_t Size() const { return end >= start ? uint16_t(end - start) : uint16_t(end + kSlots - start); }
    static uint16_t GetCapacity() { return Capacity; }
    uint16_t Free() const { return uint16_t(Capacity - Size()); }

private:
    static const uint16_t kSlots = Capacity + 1;
    static uint16_t Next(uint16_t i) { return uint16_t(i + 1 == kSlots ? 0 : i + 1); }

    uint8_t buf[kSlots];
    uint16_t start;
    uint16_t end;
};

#endif // NIMBOQUEUE_H
