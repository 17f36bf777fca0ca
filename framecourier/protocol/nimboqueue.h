#ifndef NIMBOQUEUE_H
#define NIMBOQUEUE_H

#include "framecourier_global.h"

#include <memory>

// Ring of bytes with one slot that is never used: capacity c means c + 1 slotCount. A push into a full
// ring overwrites the oldest byte.
class FRAMECOURIER_EXPORT NimboQueue
{
public:
    explicit NimboQueue(int capacity = 32);

    NimboQueue(const NimboQueue &) = delete;
    NimboQueue &operator=(const NimboQueue &) = delete;

    // Returns 1 when the ring was full and the oldest byte was overwritten, else 0.
    int push(char c)
    {
        buf[end] = c;
        if (++end == slotCount)
            end = 0;
        if (end == start) {
            if (++start == slotCount)
                start = 0;
            return 1;
        }
        return 0;
    }
    bool empty() const { return start == end; }
    char front() const { return buf[start]; }
    void pop()
    {
        if (start != end && ++start == slotCount)
            start = 0;
    }

    // Reallocates to capacity + 1 slotCount and empties the ring.
    void resize(int capacity);

    int capacity() const { return slotCount - 1; }
    int size() const { return end >= start ? end - start : end + slotCount - start; }

    // Bulk forms of push and pop with the same overwrite rule; they move runs with memcpy.
    // pushMany returns the number of bytes overwritten.
    int pushMany(const char *data, int n);
    // Moves up to n bytes from the front into dst (nullptr discards them); returns how many.
    int popMany(char *dst, int n);
    // Pointer to the front byte and the length of the run that is contiguous in memory.
    const char *frontRun(int *length) const
    {
        *length = (end >= start ? end : slotCount) - start;
        return buf.get() + start;
    }

private:
    std::unique_ptr<char[]> buf;
    int slotCount = 0;
    int start = 0;
    int end = 0;
};

#endif // NIMBOQUEUE_H
