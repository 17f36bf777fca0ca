#include "nimboqueue.h"

#include <algorithm>
#include <cstring>

NimboQueue::NimboQueue(int capacity) { resize(capacity); }

void NimboQueue::resize(int capacity)
{
    slotCount = std::max(capacity, 0) + 1;
    buf.reset(new char[slotCount]);
    start = 0;
    end = 0;
}

int NimboQueue::pushMany(const char *data, int n)
{
    if (n <= 0)
        return 0;
    const int cap = capacity();
    const int before = size();
    int lost = std::max(0, before + n - cap);
    // Bytes that would be overwritten within this very call need not be written at all.
    if (n > cap) {
        data += n - cap;
        n = cap;
    }
    const int first = std::min(n, slotCount - end);
    std::memcpy(buf.get() + end, data, size_t(first));
    std::memcpy(buf.get(), data + first, size_t(n - first));
    end = (end + n) % slotCount;
    if (lost > 0) {
        // Only the newest cap bytes survive; the oldest survivor follows the end slot.
        start = (end + 1) % slotCount;
    }
    return lost;
}

int NimboQueue::popMany(char *dst, int n)
{
    int moved = 0;
    while (moved < n && !empty()) {
        int run = 0;
        const char *src = frontRun(&run);
        run = std::min(run, n - moved);
        if (dst)
            std::memcpy(dst + moved, src, size_t(run));
        moved += run;
        start = (start + run) % slotCount;
    }
    return moved;
}
