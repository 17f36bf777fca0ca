#ifndef MARGBENCH_FILTERSTATE_H
#define MARGBENCH_FILTERSTATE_H

#include <cstdint>

// What the filter starts from, taken from the sample that initialised it.
struct FilterState
{
    float gyroBias[3] = {}; // rad/s, subtracted from the rates before every update
    // 0..2 the accelerometer direction (unit); 3..5 the magnetic field; 6 the field's norm (1: the
    // local Earth field, as calibrated data read); 7 its dip below the plane normal to the
    // accelerometer (rad); 8 1 when a magnetometer was present, else 0.
    float initialData[9] = {0, 0, 0, 0, 0, 0, 1, 0, 0};
    float initialHeading = 0; // rad: the heading offset that points x to magnetic north
    int32_t reset = 1;        // 1 until the filter has started from this state

    void Reset() { *this = FilterState(); }
};

#endif // MARGBENCH_FILTERSTATE_H
