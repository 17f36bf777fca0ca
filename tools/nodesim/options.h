#ifndef NODESIM_OPTIONS_H
#define NODESIM_OPTIONS_H

#include "motion.h"
#include "sensormodel.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

// One simulated node as given on the command line or filled in with defaults.
struct NodeConfig
{
    uint16_t id = 32;
    std::string name;
    uint8_t fw[4] = {31, 8, 2, 70};
    bool uuidGiven = false;
    uint8_t uuid[20] = {};
    std::set<int> mute; // record types this node never sends
};

struct Options
{
    std::string portDir;
    std::vector<NodeConfig> nodes;
    int odr = 100;
    std::string logPath;
    double drop = 0.0;
    double corrupt = 0.0;
    int noise = 0;
    bool harsh = false; // noise with head bytes, corruption of the length byte
    std::set<int> mute;
    std::set<int> refuseNso; // service objects whose writes every node refuses
    int latencyMs = 0;
    double exitAfter = 0.0; // 0: run until a signal
    double wrapIn = 0.0;    // s before the time stamps wrap at start; 0: they start at 0
    bool seedGiven = false;
    uint64_t seed = 0;
    bool help = false;
    bool exitWithParent = false; // for test runners: a killed test takes its simulator with it
    // What the nodes' sensors see and how well.
    MotionProfile motion = MotionProfile::Gentle;
    SensorErrors sensorErrors;
    double burstG = 0.0;
    double burstEvery = 0.0;
    bool logTruth = false; // the true attitude beside each logged raw record
    // Replay of a recording: its base path (empty: the synthetic motion), the pace (0: as fast as the
    // line takes), again from the start at its end, and play/pause/speed lines read from standard
    // input with the position written to standard output.
    std::string replayBase;
    double speed = 1.0;
    bool loop = false;
    bool control = false;
};

// Fills in every default (node list, names, port directory). On failure returns false with a
// message that names the offending argument.
bool ParseOptions(int argc, char **argv, Options *options, std::string *error);
std::string UsageText();

// Numbers as text with "." for the decimal point whatever the locale: the whole text must be one
// number (a leading "+" allowed); and a number with `decimals` digits after the point.
bool ParseNumber(const std::string &text, double *out);
std::string FixedText(double value, int decimals);
std::string DefaultPortDir();

#endif // NODESIM_OPTIONS_H
