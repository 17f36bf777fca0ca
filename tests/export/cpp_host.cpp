// A host program built from the exported C++ library exactly as the archive holds it: opens a serial
// port (here the node simulator's), asks every node for its identity, asks the first one for its
// settings and waits for one of its streamed records, printing what it decoded:
//
//   nimbo_cpp_host PORT
//   identity 32 Bow 31.8.2.70
//   settings odr 50 acc 210 word 0x...
//   rpy 1234567 -3.25 10.5 271.0
#include "nimboprofile.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Host
{
    int fd = -1;
    NimboProfile link;
    uint16_t firstNode = 0;
    bool settingsSeen = false;
    bool recordSeen = false;
};

int WriteFrame(void *user, const uint8_t *frame, int frameSize)
{
    Host *host = static_cast<Host *>(user);
    return write(host->fd, frame, size_t(frameSize)) == frameSize ? NP_SUCC_ : NP_FAIL_;
}

void OnRecord(void *user, const Np_Header &header, const uint8_t *payload, int size)
{
    Host *host = static_cast<Host *>(user);
    if (header.cmd == NP_CMD_ID_) {
        Np_Id id;
        if (NimboObjectDictionary::Decode(payload, size, id) != NP_SUCC_)
            return;
        char name[13] = {};
        std::memcpy(name, id.name, sizeof(id.name));
        std::printf("identity %u %s %u.%u.%u.%u\n", id.nodeId, name, id.fwVersion[0], id.fwVersion[1],
                    id.fwVersion[2], id.fwVersion[3]);
        if (!host->firstNode) {
            host->firstNode = id.nodeId;
            host->link.SetSettingsVersion(NimboObjectDictionary::VersionForFirmware(id.fwVersion));
        }
    } else if (header.cmd == NP_CMD_SETTING && header.fromId == host->firstNode && !host->settingsSeen) {
        Np_Settings s;
        if (NimboObjectDictionary::Decode(payload, size, s) != NP_SUCC_)
            return;
        std::printf("settings odr %u acc %u word 0x%08lx\n", s.odr, s.fusionParamAcc,
                    static_cast<unsigned long>(s.settingsWord));
        host->settingsSeen = true;
    } else if (header.cmd == NP_CMD_RPY_ && header.fromId == host->firstNode && !host->recordSeen) {
        Np_RPY r;
        if (NimboObjectDictionary::Decode(payload, size, r) != NP_SUCC_)
            return;
        std::printf("rpy %lu %.4f %.4f %.4f\n", static_cast<unsigned long>(r.timeStamp), double(r.roll),
                    double(r.pitch), double(r.yaw));
        host->recordSeen = true;
    }
    std::fflush(stdout);
}

// Reads and decodes for up to ms milliseconds, or until done() says so.
template <typename Done>
void Pump(Host &host, int ms, Done done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    uint8_t buffer[512];
    while (!done() && std::chrono::steady_clock::now() < end) {
        pollfd p{host.fd, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            const ssize_t n = read(host.fd, buffer, sizeof(buffer));
            if (n > 0)
                host.link.Receive(buffer, int(n));
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: nimbo_cpp_host PORT\n");
        return 2;
    }
    static Host host;
    host.fd = open(argv[1], O_RDWR | O_NOCTTY);
    if (host.fd < 0) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    termios t{};
    tcgetattr(host.fd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, B115200);
    tcsetattr(host.fd, TCSANOW, &t);
    host.link.Init(NP_ID_HOST_, WriteFrame, OnRecord, &host);

    host.link.SendRequest(NP_ID_BROADCAST_, NP_CMD_ID_);
    Pump(host, 1000, [] { return false; }); // every node answers within a second
    if (!host.firstNode)
        return 1;
    host.link.SendRequest(host.firstNode, NP_CMD_SETTING);
    Pump(host, 3000, [] { return host.settingsSeen && host.recordSeen; });
    std::printf("frames good %lu bad %lu\n", static_cast<unsigned long>(host.link.Protocol().RecvPkgGood()),
                static_cast<unsigned long>(host.link.Protocol().RecvPkgBad()));
    close(host.fd);
    return host.settingsSeen && host.recordSeen ? 0 : 1;
}
