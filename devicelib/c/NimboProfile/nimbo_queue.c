#include "nimbo_queue.h"

#define NP_QUEUE_SLOTS_ (NP_IN_QUEUE_CAPACITY_ + 1)

void NimboQueue_Init(NimboQueue *q)
{
    q->start = 0;
    q->end = 0;
}

int NimboQueue_Push(NimboQueue *q, uint8_t c)
{
    q->buf[q->end] = c;
    q->end = (uint16_t)((q->end + 1) % NP_QUEUE_SLOTS_);
    if (q->end == q->start) {
        q->start = (uint16_t)((q->start + 1) % NP_QUEUE_SLOTS_);
        return 1;
    }
    return 0;
}

int NimboQueue_Empty(const NimboQueue *q) { return q->start == q->end; }

uint8_t NimboQueue_Front(const NimboQueue *q) { return q->buf[q->start]; }

void NimboQueue_Pop(NimboQueue *q)
{
    if (q->start != q->end)
        q->start = (uint16_t)((q->start + 1) % NP_QUEUE_SLOTS_);
}

int NimboQueue_Size(const NimboQueue *q)
{
    return q->end >= q->start ? q->end - q->start : q->end + NP_QUEUE_SLOTS_ - q->start;
}

int NimboQueue_Capacity(const NimboQueue *q)
{
    (void)q;
    return NP_IN_QUEUE_CAPACITY_;
}

int NimboQueue_Free(const NimboQueue *q) { return NP_IN_QUEUE_CAPACITY_ - NimboQueue_Size(q); }
