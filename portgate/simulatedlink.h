#ifndef SIMULATEDLINK_H
#define SIMULATEDLINK_H

// The node simulator publishes its pseudo-terminal as a link "ttyKSIM<n>" in a port directory, with
// "ttyKSIM<n>.pid" beside it naming the simulator's process. A simulator killed outright leaves both
// behind, and the kernel soon gives its terminal number to another process, so a link that points at
// an existing terminal proves nothing: only a link whose pid file names a running simulator is a port.
//
// The pid file holds "PID START": the process id and the process's start time (clock ticks after boot,
// as /proc/PID/stat gives it). The pair names one process for good: a pid the kernel hands out again
// belongs to a process that started later. The process's name is not asked: a renamed copy of the
// simulator, or one run under valgrind, is as much a simulator.
// Shared by the gateway and the simulator; plain POSIX, no Qt.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace simulatedlink {

inline std::string PidFileOf(const std::string &link) { return link + ".pid"; }

// The start time of a running process (not a zombie), or 0 when there is none.
inline unsigned long long StartTimeOf(long pid)
{
    if (pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno != EPERM))
        return 0;
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/%ld/stat", pid);
    std::FILE *file = std::fopen(path, "r");
    if (!file)
        return 0;
    char stat[1024] = {};
    const size_t n = std::fread(stat, 1, sizeof(stat) - 1, file);
    std::fclose(file);
    // "pid (name) state ..." where the name may hold anything, spaces and parentheses too.
    const char *end = n > 0 ? std::strrchr(stat, ')') : nullptr;
    if (!end || end[1] != ' ' || end[2] == 'Z' || end[2] == 'X')
        return 0;
    // The state is field 3, the start time field 22.
    const char *field = end + 2;
    for (int i = 3; i < 22 && field; ++i) {
        field = std::strchr(field, ' ');
        if (field)
            ++field;
    }
    return field ? std::strtoull(field, nullptr, 10) : 0;
}

// What the simulator writes into its pid file.
inline std::string PidFileText(long pid) { return std::to_string(pid) + " " + std::to_string(StartTimeOf(pid)) + "\n"; }

// The process named by the link's pid file, or 0; start receives its start time (0 when the file
// has none).
inline long PidOf(const std::string &link, unsigned long long *start = nullptr)
{
    std::FILE *file = std::fopen(PidFileOf(link).c_str(), "r");
    if (!file)
        return 0;
    long pid = 0;
    unsigned long long started = 0;
    const int fields = std::fscanf(file, "%ld %llu", &pid, &started);
    std::fclose(file);
    if (fields < 1 || pid <= 0)
        return 0;
    if (start)
        *start = fields == 2 ? started : 0;
    return pid;
}

// The process that wrote the link's pid file is still running.
inline bool IsRunningSimulator(const std::string &link)
{
    unsigned long long start = 0;
    const long pid = PidOf(link, &start);
    return start != 0 && StartTimeOf(pid) == start;
}

// A link whose target exists and whose pid file names a running simulator.
inline bool IsLive(const std::string &link)
{
    struct stat st;
    if (::lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode) || ::stat(link.c_str(), &st) != 0)
        return false;
    return IsRunningSimulator(link);
}

} // namespace simulatedlink

#endif // SIMULATEDLINK_H
