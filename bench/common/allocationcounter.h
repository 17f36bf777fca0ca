#ifndef ALLOCATIONCOUNTER_H
#define ALLOCATIONCOUNTER_H

// Heap allocations made through operator new since the program started; a benchmark that links
// allocationcounter.cpp replaces the global operator new to count them.
long AllocationCount();

#endif // ALLOCATIONCOUNTER_H
