#include "ptyline.h"

#include "simulatedlink.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// A host that stops reading should not make the simulator hold seconds of stale data; beyond
// this much the newest frames are lost, as when a UART's buffer overruns.
constexpr size_t kMaxPending = 64 * 1024;

bool MakeDirectories(const std::string &path, std::string *error)
{
    std::string partial;
    std::string::size_type start = 0;
    while (start <= path.size()) {
        const std::string::size_type slash = path.find('/', start);
        partial = path.substr(0, slash == std::string::npos ? path.size() : slash);
        if (!partial.empty() && mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            *error = "cannot create " + partial + ": " + std::strerror(errno);
            return false;
        }
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *error = path + " is not a directory";
        return false;
    }
    return true;
}

} // namespace

PtyLine::~PtyLine()
{
    Unpublish();
    if (master_ >= 0)
        close(master_);
}

bool PtyLine::Open(std::string *error)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        *error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    const char *name = ptsname(master_);
    if (!name) {
        *error = std::string("ptsname: ") + std::strerror(errno);
        return false;
    }
    slave_ = name;

    // Raw mode lives in the slave's settings and survives the host's opening and closing; the
    // open-and-close also puts the master into the hang-up state that means "nobody connected".
    const int slave = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        *error = "cannot open " + slave_ + ": " + std::strerror(errno);
        return false;
    }
    struct termios tio;
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tcsetattr(slave, TCSANOW, &tio);
    }
    close(slave);
    connected_ = false;
    return true;
}

bool PtyLine::Publish(const std::string &dir, std::string *error)
{
    if (!MakeDirectories(dir, error))
        return false;
    // Two simulators starting together must not pick the same name.
    const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        *error = "cannot open " + dir + ": " + std::strerror(errno);
        return false;
    }
    flock(dirFd, LOCK_EX);
    ClearStaleLinks(dir);
    bool done = false;
    for (int n = 0; n < 1000 && !done; ++n) {
        const std::string path = dir + "/ttyKSIM" + std::to_string(n);
        struct stat st;
        if (lstat(path.c_str(), &st) == 0)
            continue;
        // The pid file first: a gateway that sees the link must find who stands behind it.
        const std::string pidFile = simulatedlink::PidFileOf(path);
        const std::string temporary = pidFile + ".new";
        std::FILE *file = std::fopen(temporary.c_str(), "w");
        if (!file)
            continue;
        const bool written = std::fputs(simulatedlink::PidFileText(long(getpid())).c_str(), file) >= 0;
        if (std::fclose(file) != 0 || !written || rename(temporary.c_str(), pidFile.c_str()) != 0) {
            unlink(temporary.c_str());
            continue;
        }
        if (symlink(slave_.c_str(), path.c_str()) == 0) {
            link_ = path;
            done = true;
        } else {
            unlink(pidFile.c_str());
        }
    }
    flock(dirFd, LOCK_UN);
    close(dirFd);
    if (!done)
        *error = "no free port name in " + dir;
    return done;
}

void PtyLine::Unpublish()
{
    if (link_.empty())
        return;
    char target[4096];
    const ssize_t n = readlink(link_.c_str(), target, sizeof(target) - 1);
    if (n >= 0 && std::string(target, size_t(n)) == slave_ && simulatedlink::PidOf(link_) == long(getpid())) {
        unlink(link_.c_str());
        unlink(simulatedlink::PidFileOf(link_).c_str());
    }
    link_.clear();
}

void PtyLine::ClearStaleLinks(const std::string &dir)
{
    DIR *d = opendir(dir.c_str());
    if (!d)
        return;
    std::vector<std::string> stale;
    while (const dirent *entry = readdir(d)) {
        const std::string name = entry->d_name;
        if (name.rfind("ttyKSIM", 0) != 0)
            continue;
        const size_t dot = name.find('.');
        const std::string link = dir + "/" + name.substr(0, dot);
        // Links of simulators killed before they could remove them, their pid files, and pid files
        // whose link is gone.
        if (!simulatedlink::IsLive(link))
            stale.push_back(dir + "/" + name);
    }
    closedir(d);
    for (const std::string &path : stale)
        unlink(path.c_str());
}

bool PtyLine::Probe()
{
    if (connected_ || master_ < 0)
        return connected_;
    struct pollfd p = {master_, POLLIN, 0};
    if (poll(&p, 1, 0) >= 0 && !(p.revents & POLLHUP))
        connected_ = true;
    return connected_;
}

void PtyLine::DiscardSlaveInput()
{
    // Flushing through the master does not reach the slave's input queue; only the slave can.
    const int slave = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave >= 0) {
        tcflush(slave, TCIFLUSH);
        close(slave);
    }
}

void PtyLine::Hangup()
{
    connected_ = false;
    out_.clear();
    outHead_ = 0;
    DiscardSlaveInput();
}

int PtyLine::Read(uint8_t *buffer, int max)
{
    if (!connected_)
        return 0;
    const ssize_t n = read(master_, buffer, size_t(max));
    if (n > 0)
        return int(n);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return 0;
    return -1;
}

PtyLine::Queued PtyLine::Enqueue(const uint8_t *data, int size)
{
    if (!connected_)
        return Queued::Offline;
    if (out_.size() - outHead_ + size_t(size) > kMaxPending)
        return Queued::Overrun;
    out_.append(reinterpret_cast<const char *>(data), size_t(size));
    return Queued::Yes;
}

void PtyLine::Flush()
{
    while (connected_ && outHead_ < out_.size()) {
        const ssize_t n = write(master_, out_.data() + outHead_, out_.size() - outHead_);
        if (n > 0) {
            outHead_ += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EIO)
            Hangup();
        break;
    }
    if (outHead_ == out_.size()) {
        out_.clear();
        outHead_ = 0;
    } else if (outHead_ > kMaxPending) {
        out_.erase(0, outHead_);
        outHead_ = 0;
    }
}
