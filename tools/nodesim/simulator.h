#ifndef NODESIM_SIMULATOR_H
#define NODESIM_SIMULATOR_H

#include "eventlog.h"
#include "node.h"
#include "options.h"
#include "ptyline.h"

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

// The bus: every node on one line, a scheduler of timed work, the fault injection on the way out
// and the event loop that waits on the line, a timer and the termination signals.
class Simulator : public NodeBus
{
public:
    // recording: what the single node replays (outliving the simulator), or null.
    explicit Simulator(const Options &options, const Recording *recording = nullptr);
    ~Simulator() override;

    // Creates and publishes the port and opens the log; prints nothing.
    bool Setup(std::string *error);
    const std::string &PortPath() const { return line_.LinkPath(); }
    // Runs until SIGINT, SIGTERM, SIGHUP or the --exit-after time; returns the exit status.
    int Run();

    int64_t Now() const override;
    void At(int64_t due, std::function<void()> action) override;
    void Transmit(uint16_t nodeId, const uint8_t *frame, int size, const char *note, bool muted) override;
    void LogReceived(uint16_t nodeId, const uint8_t *payload, int size, const char *fault) override;
    int LatencyMs() const override { return options_.latencyMs; }
    bool LineConnected() const override { return line_.Connected(); }
    bool LineTakesMore() const override;
    void ReplayPosition(double played, double total, bool ended) override;

private:
    void RunDue();
    void ReadLine();
    // The --control lines from standard input.
    void ReadControl();
    double Seconds() const;

    Options options_;
    PtyLine line_;
    EventLog log_;
    std::vector<std::unique_ptr<Node>> nodes_;
    std::multimap<int64_t, std::function<void()>> agenda_;
    std::mt19937_64 random_;
    std::uniform_real_distribution<double> unit_{0.0, 1.0};
    int64_t start_ = 0;
    int signalFd_ = -1;
    int timerFd_ = -1;
    const Recording *recording_ = nullptr;
    std::string controlInput_; // a control line not complete yet
    bool controlOpen_ = false;
};

#endif // NODESIM_SIMULATOR_H
