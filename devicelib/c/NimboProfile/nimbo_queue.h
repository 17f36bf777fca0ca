/*
 * Ring of bytes in a fixed array, for the bytes received but not yet examined by the framing.
 * Capacity c uses c + 1 slots: one slot stays free so that full and empty differ. A push into a
 * full ring overwrites the oldest byte.
 */
#ifndef NIMBO_QUEUE_H
#define NIMBO_QUEUE_H

#include "nimbo_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Usable bytes; override on the compiler command line to trade RAM for burst tolerance. */
#ifndef NP_IN_QUEUE_CAPACITY_
#define NP_IN_QUEUE_CAPACITY_ 256
#endif

#if NP_IN_QUEUE_CAPACITY_ < 1 || NP_IN_QUEUE_CAPACITY_ > 32766
#error "NP_IN_QUEUE_CAPACITY_ must lie in 1..32766"
#endif

typedef struct
{
    uint8_t buf[NP_IN_QUEUE_CAPACITY_ + 1];
    uint16_t start;
    uint16_t end;
} NimboQueue;

void NimboQueue_Init(NimboQueue *q);
/* Returns 1 when the ring was full and the oldest byte was overwritten, else 0. */
int NimboQueue_Push(NimboQueue *q, uint8_t c);
int NimboQueue_Empty(const NimboQueue *q);
/* The oldest byte; only meaningful when the ring is not empty. */
uint8_t NimboQueue_Front(const NimboQueue *q);
void NimboQueue_Pop(NimboQueue *q);
int NimboQueue_Size(const NimboQueue *q);
int NimboQueue_Capacity(const NimboQueue *q);
int NimboQueue_Free(const NimboQueue *q);

#ifdef __cplusplus
}
#endif

#endif /* NIMBO_QUEUE_H */
