#ifndef NODESIM_PTYLINE_H
#define NODESIM_PTYLINE_H

#include <cstdint>
#include <string>

// The serial line: the master side of a pseudo-terminal whose slave side the host opens as its
// port, published as a link ttyKSIM<n> in the port directory.
//
// While no process has the slave open the line is "offline": the master reports a hang-up, so it
// is not polled for input (that would spin) and nothing is written to it (the kernel would keep
// it and hand a stale backlog to the next host). Frames sent meanwhile are lost, as on a real
// unconnected line. Probe() notices when a host opens the port again.
class PtyLine
{
public:
    enum class Queued { Yes, Offline, Overrun };

    PtyLine() = default;
    ~PtyLine();
    PtyLine(const PtyLine &) = delete;
    PtyLine &operator=(const PtyLine &) = delete;

    bool Open(std::string *error);
    // Publishes the line as the first free "ttyKSIM<n>" link in dir, with its pid file, after clearing
    // what killed simulators left there.
    bool Publish(const std::string &dir, std::string *error);
    void Unpublish();

    int Fd() const { return master_; }
    const std::string &LinkPath() const { return link_; }
    bool Connected() const { return connected_; }

    // Returns true when a host has opened the port since the line went offline.
    bool Probe();
    // The host closed the port: drop what it has not read and go offline.
    void Hangup();
    // Bytes the host wrote; 0 when there are none now, -1 when the host closed the port.
    int Read(uint8_t *buffer, int max);

    // Whole frames only, so that the bytes of two frames never interleave.
    Queued Enqueue(const uint8_t *data, int size);
    bool Pending() const { return outHead_ < out_.size(); }
    size_t PendingBytes() const { return out_.size() - outHead_; }
    // Writes as much as the line takes without blocking.
    void Flush();

private:
    static void ClearStaleLinks(const std::string &dir);

    void DiscardSlaveInput();

    int master_ = -1;
    std::string slave_;
    std::string link_;
    bool connected_ = false;
    std::string out_;
    size_t outHead_ = 0;
};

#endif // NODESIM_PTYLINE_H
