#include "simulator.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

constexpr int64_t kProbeInterval = 10 * 1000000; // ns between checks whether a host opened the port
constexpr uint8_t kHead1 = 0xAA;
constexpr uint8_t kHead2 = 0x55;

int64_t MonotonicNs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace

Simulator::Simulator(const Options &options, const Recording *recording)
    : options_(options)
    , recording_(recording)
{
    if (!options_.seedGiven)
        options_.seed = std::random_device{}();
    random_.seed(options_.seed);
}

Simulator::~Simulator()
{
    if (signalFd_ >= 0)
        close(signalFd_);
    if (timerFd_ >= 0)
        close(timerFd_);
}

int64_t Simulator::Now() const { return MonotonicNs(); }

double Simulator::Seconds() const { return double(Now() - start_) / 1e9; }

void Simulator::At(int64_t due, std::function<void()> action) { agenda_.emplace(due, std::move(action)); }

bool Simulator::Setup(std::string *error)
{
    start_ = Now();
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGHUP);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    signal(SIGPIPE, SIG_IGN);
    signalFd_ = signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
    timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (signalFd_ < 0 || timerFd_ < 0) {
        *error = std::string("cannot set up signals and timers: ") + std::strerror(errno);
        return false;
    }
    if (!options_.logPath.empty() && !log_.Open(options_.logPath, error))
        return false;
    if (!line_.Open(error) || !line_.Publish(options_.portDir, error))
        return false;
    for (size_t i = 0; i < options_.nodes.size(); ++i)
        nodes_.emplace_back(new Node(options_.nodes[i], int(i), options_, *this));
    if (recording_)
        nodes_.front()->SetReplay(recording_, options_.speed, options_.loop, options_.control);
    controlOpen_ = options_.control;
    return true;
}

bool Simulator::LineTakesMore() const
{
    // A quarter of the queue: room for a burst, and the host never waits on an empty line.
    return line_.Connected() && line_.PendingBytes() < 16 * 1024;
}

void Simulator::ReplayPosition(double played, double total, bool ended)
{
    if (!options_.control)
        return;
    std::printf("position %s %s\n", FixedText(played, 3).c_str(), FixedText(total, 3).c_str());
    if (ended)
        std::printf("ended\n");
    std::fflush(stdout);
}

void Simulator::ReadControl()
{
    char buffer[256];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof(buffer));
    if (n <= 0) {
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            controlOpen_ = false; // the controller went away: the replay goes on as it is
        return;
    }
    controlInput_.append(buffer, size_t(n));
    size_t end;
    while ((end = controlInput_.find('\n')) != std::string::npos) {
        const std::string line = controlInput_.substr(0, end);
        controlInput_.erase(0, end + 1);
        Node &node = *nodes_.front();
        if (line == "play") {
            node.Play();
        } else if (line == "pause") {
            node.Pause();
        } else if (line.rfind("speed ", 0) == 0) {
            double speed = -1;
            if (ParseNumber(line.substr(6), &speed) && speed >= 0.0 && speed <= 1000.0)
                node.SetSpeed(speed);
        }
    }
    if (controlInput_.size() > 4096)
        controlInput_.clear(); // no line is that long
}

void Simulator::Transmit(uint16_t nodeId, const uint8_t *frame, int size, const char *note, bool muted)
{
    const uint8_t *payload = frame + 3;
    const int payloadSize = frame[2];
    const int cmd = payload[0] & 0x7F;
    const char *fault = nullptr;

    if (muted || options_.mute.count(cmd)) {
        fault = "mute";
    } else if (!line_.Connected()) {
        fault = "offline";
    } else if (options_.drop > 0 && unit_(random_) < options_.drop) {
        fault = "drop";
    } else {
        std::vector<uint8_t> bytes(frame, frame + size);
        if (options_.corrupt > 0 && unit_(random_) < options_.corrupt) {
            // A bit of the payload or checksum: the frame stays a frame, and fails its check.
            // Harsh: the length byte too, which misframes what follows.
            const int firstByte = options_.harsh ? 2 : 3;
            const int bit = std::uniform_int_distribution<int>(firstByte * 8, size * 8 - 1)(random_);
            bytes[size_t(bit / 8)] ^= uint8_t(1u << (bit % 8));
            fault = "corrupt";
        }
        // Noise never holds a head byte, so it costs the receiver nothing but bad-head bytes.
        // Harsh noise does, and whole false heads now and then.
        for (int i = 0; i < options_.noise; ++i) {
            if (options_.harsh && i + 1 < options_.noise && unit_(random_) < 0.1) {
                bytes.push_back(kHead1);
                bytes.push_back(kHead2);
                ++i;
                continue;
            }
            uint8_t c;
            do
                c = uint8_t(std::uniform_int_distribution<int>(0, 255)(random_));
            while (c == kHead1 && !options_.harsh);
            bytes.push_back(c);
        }
        if (line_.Enqueue(bytes.data(), int(bytes.size())) == PtyLine::Queued::Overrun)
            fault = "overrun";
    }
    log_.Record(Seconds(), "tx", nodeId, payload, payloadSize, fault, note);
}

void Simulator::LogReceived(uint16_t nodeId, const uint8_t *payload, int size, const char *fault)
{
    log_.Record(Seconds(), "rx", nodeId, payload, size, fault);
}

void Simulator::RunDue()
{
    const int64_t now = Now();
    while (!agenda_.empty() && agenda_.begin()->first <= now) {
        std::function<void()> action = std::move(agenda_.begin()->second);
        agenda_.erase(agenda_.begin());
        action();
    }
}

void Simulator::ReadLine()
{
    uint8_t buffer[4096];
    while (line_.Connected()) {
        const int n = line_.Read(buffer, int(sizeof(buffer)));
        if (n < 0) {
            line_.Hangup();
            return;
        }
        if (n == 0)
            return;
        // Every node hears the whole line and decides for itself what is addressed to it.
        for (const std::unique_ptr<Node> &node : nodes_)
            node->Receive(buffer, n);
        line_.Flush();
    }
}

int Simulator::Run()
{
    for (const std::unique_ptr<Node> &node : nodes_)
        node->Start();
    const int64_t exitAt = options_.exitAfter > 0 ? start_ + int64_t(options_.exitAfter * 1e9) : 0;
    int64_t nextProbe = Now();

    while (true) {
        RunDue();
        line_.Flush();
        log_.Flush();

        int64_t now = Now();
        if (exitAt && now >= exitAt)
            break;
        if (!line_.Connected() && now >= nextProbe) {
            if (!line_.Probe())
                nextProbe = now + kProbeInterval;
        }

        int64_t wake = agenda_.empty() ? now + 1000000000 : agenda_.begin()->first;
        if (exitAt && exitAt < wake)
            wake = exitAt;
        if (!line_.Connected() && nextProbe < wake)
            wake = nextProbe;
        if (wake > now) {
            struct itimerspec config = {};
            config.it_value.tv_sec = time_t(wake / 1000000000);
            config.it_value.tv_nsec = long(wake % 1000000000);
            timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &config, nullptr);

            struct pollfd fds[4] = {{signalFd_, POLLIN, 0}, {timerFd_, POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}};
            if (line_.Connected())
                fds[2] = {line_.Fd(), short(POLLIN | (line_.Pending() ? POLLOUT : 0)), 0};
            if (controlOpen_)
                fds[3] = {STDIN_FILENO, POLLIN, 0};
            if (poll(fds, 4, -1) < 0 && errno != EINTR)
                return 1;
            if (fds[3].fd >= 0 && (fds[3].revents & (POLLIN | POLLHUP)))
                ReadControl();
            if (fds[0].revents & POLLIN)
                break;
            if (fds[1].revents & POLLIN) {
                uint64_t expirations;
                while (read(timerFd_, &expirations, sizeof(expirations)) > 0) {
                }
            }
            if (fds[2].fd >= 0) {
                if (fds[2].revents & POLLIN)
                    ReadLine();
                if (line_.Connected() && (fds[2].revents & (POLLHUP | POLLERR)))
                    line_.Hangup();
            }
        }
    }
    log_.Flush();
    line_.Unpublish();
    return 0;
}
