#ifndef NODESIM_NODE_H
#define NODESIM_NODE_H

#include "motion.h"
#include "options.h"
#include "replay.h"
#include "sensormodel.h"

#include "nimbo_profile.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What a node needs from the simulated bus around it.
class NodeBus
{
public:
    virtual ~NodeBus() = default;
    virtual int64_t Now() const = 0; // CLOCK_MONOTONIC, ns
    virtual void At(int64_t due, std::function<void()> action) = 0;
    // note: extra JSON fields for the log line of this frame, or null. muted: logged, never sent.
    virtual void Transmit(uint16_t nodeId, const uint8_t *frame, int size, const char *note, bool muted) = 0;
    virtual void LogReceived(uint16_t nodeId, const uint8_t *payload, int size, const char *fault) = 0;
    virtual int LatencyMs() const = 0;
    // Whether the host has the line open, and whether it takes more now (its queue is short).
    virtual bool LineConnected() const = 0;
    virtual bool LineTakesMore() const = 0;
    // A replay moved on: seconds played of the total; ended at its end (without --loop).
    virtual void ReplayPosition(double played, double total, bool ended) = 0;
};

// One Kinetra node: its identity, settings and service objects, its own instance of the device
// library parsing everything that arrives on the line, and its stream of records.
class Node
{
public:
    Node(const NodeConfig &config, int index, const Options &options, NodeBus &bus);
    Node(const Node &) = delete;
    Node &operator=(const Node &) = delete;

    void Start();
    void Receive(const uint8_t *data, int size);
    uint16_t Id() const { return id_; }

    // Streams `recording` (which must outlive the node) in place of the synthetic motion; paused
    // until Play when startPaused.
    void SetReplay(const Recording *recording, double speed, bool loop, bool startPaused);
    void Play();
    void Pause();
    void SetSpeed(double speed);

private:
    struct ServiceObjects
    {
        uint32_t canSwitches;
        uint32_t canBaud;
        uint32_t nsoId[2];
        uint32_t npoId[8];
        uint32_t calibSwitches;
        uint32_t profileSwitches;
        uint32_t profileSwitchesExt;
    };

    static int WriteFrame(void *user, const uint8_t *frame, int frameSize);
    static void OnRecord(void *user, const Np_Header *header, const uint8_t *payload, int size);

    void Handle(const Np_Header &header, const std::vector<uint8_t> &payload);
    void HandleRequest(const Np_Header &header, const Np_Request &request);
    void HandleSettings(const Np_Header &header, const Np_Settings &settings);
    void HandleId(const Np_Id &id);
    void HandleNodeCtrl(const Np_NodeCtrl &ctrl);
    void HandleNso(const Np_Header &header, const Np_NSO &nso);
    void HandleCalib(const Np_Header &header, const Np_Calib &calib);
    void SendCalibAnswer(uint16_t toId, uint8_t type, uint8_t result, uint16_t progress);
    void RunMagCalibration(uint16_t toId);

    void SendIdentity(uint16_t toId);
    void SendSample(uint8_t cmd, uint16_t toId, int64_t at);
    void RestartStream(int64_t from);
    void Tick(uint64_t generation);
    void Reboot();
    void FinishBoot(uint64_t epoch);
    void ReplayStep(uint64_t generation);
    void SendRecorded(const ReplayRecord &record);
    // The replay's clock starts again from the next record, now.
    void Reanchor();

    bool HasOdrField() const { return fw_[0] * 10 + fw_[1] >= 300; }
    bool Legacy() const { return fw_[0] == 3 && fw_[1] != 0; }
    int StreamRate() const;
    uint32_t *ServiceObject(uint16_t index, uint8_t subIndex);

    NodeBus &bus_;
    NimboProfile link_;
    Motion motion_;
    SensorModel sensors_;
    bool logTruth_;
    uint64_t stampStartUs_ = 0; // the time stamp at boot
    std::string note_; // log fields for the frame being sent
    int index_;
    uint16_t id_;
    uint8_t fw_[4];
    uint8_t uuid_[20];
    char name_[12];
    int startOdr_;
    std::set<int> mute_;
    std::set<int> refuseNso_;

    Np_Settings settings_;
    Np_Settings savedSettings_;
    ServiceObjects nso_;
    ServiceObjects savedNso_;
    bool silenced_ = false;
    bool booting_ = false;
    double headingOffsetDeg_ = 0.0;

    int64_t bootNs_ = 0;
    uint64_t epoch_ = 0;      // reboots; work scheduled before one is dropped
    uint64_t generation_ = 0; // stream restarts
    int64_t tickBase_ = 0;
    int64_t tickIndex_ = 0;
    int tickRate_ = 0;

    uint64_t magRun_ = 0; // a new magnetometer calibration or an abort ends the running one
    bool magRunning_ = false;
    bool headingFixStarted_ = false;
    bool staticCalibStarted_ = false;

    const Recording *replay_ = nullptr;
    double replaySpeed_ = 1.0;
    bool replayLoop_ = false;
    bool replayPaused_ = false;
    bool replayEnded_ = false;
    size_t replayIndex_ = 0;
    int64_t replayAnchorNs_ = 0; // when the record at replayAnchorT_ is due
    double replayAnchorT_ = 0.0;
    float sentTemperature_ = NAN; // the last temperature a status record carried
    int64_t lastPositionNs_ = 0;
};

#endif // NODESIM_NODE_H
