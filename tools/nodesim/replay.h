#ifndef NODESIM_REPLAY_H
#define NODESIM_REPLAY_H

// A recording made by the program's recorder, read back for replay: the files BASE_RawData,
// BASE_RPY, BASE_Q_s1_e, BASE_Euler_s1_e and BASE_Gravity, whichever exist, each as ".txt" (rows
// only, or framed as a named matrix with comment lines) or ".csv" (a comment line, a header row,
// then rows with the node's and the host's time). Their records, merged in time order.

#include <cstdint>
#include <string>
#include <vector>

struct ReplayRecord
{
    double t = 0;    // the node's time, seconds
    uint8_t cmd = 0; // record type
    // Raw data: temperature, gyro x y z, acc x y z, mag x y z; RPY: roll, pitch, yaw; quaternion:
    // q1..q4; Euler: psi, theta, phi; gravity: x, y, z.
    float v[10] = {};
};

struct Recording
{
    std::vector<ReplayRecord> records; // in time order; records of one time in file order
    uint32_t outputs = 0;              // settings bits of the outputs held
    std::string name;                  // the last part of the base path

    double Duration() const { return records.empty() ? 0.0 : records.back().t - records.front().t; }
};

// The base path of a recording from the name of any of its files ("/d/run_RPY.csv" -> "/d/run");
// a name that is no file of a set comes back as it is.
std::string RecordingBase(const std::string &path);

// Reads the recording at base; false with a message that names the file (and the line) at fault.
bool LoadRecording(const std::string &base, Recording *out, std::string *error);

#endif // NODESIM_REPLAY_H
