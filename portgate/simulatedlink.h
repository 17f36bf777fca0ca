#ifndef SIMULATEDLINK_H
#define SIMULATEDLINK_H

// The node simulator publishes its pseudo-terminal as a link "ttyKSIM<n>" in a port directory, with
// "ttyKSIM<n>.pid" beside it naming the simulator's process. A simulator killed outright leaves both
// behind, and the kernel soon gives its terminal number to another process, so a link that points at
// an existing terminal proves nothing: only a link whose pid file names a running simulator is a port.
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

// The process name the kernel keeps for the simulator (at most 15 characters).
inline const char *SimulatorProcessName() { return "kinetra-nodesim"; }

inline std::string PidFileOf(const std::string &link) { return link + ".pid"; }

// The process named by the link's pid file, or 0.
inline long PidOf(const std::string &link)
{
    std::FILE *file = std::fopen(PidFileOf(link).c_str(), "r");
    if (!file)
        return 0;
    long pid = 0;
    if (std::fscanf(file, "%ld", &pid) != 1 || pid <= 0)
        pid = 0;
    std::fclose(file);
    return pid;
}

inline bool IsRunningSimulator(long pid)
{
    if (pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno != EPERM))
        return false;
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/%ld/comm", pid);
    std::FILE *file = std::fopen(path, "r");
    if (!file)
        return false;
    char name[32] = {};
    const bool read = std::fgets(name, sizeof(name), file) != nullptr;
    std::fclose(file);
    name[std::strcspn(name, "\n")] = '\0';
    if (!read || std::strcmp(name, SimulatorProcessName()) != 0)
        return false;
    // A killed simulator not yet reaped by its parent still has its name; its state says it is dead.
    std::snprintf(path, sizeof(path), "/proc/%ld/stat", pid);
    file = std::fopen(path, "r");
    if (!file)
        return false;
    char stat[256] = {};
    const size_t n = std::fread(stat, 1, sizeof(stat) - 1, file);
    std::fclose(file);
    const char *end = std::strrchr(stat, ')');
    return n > 0 && end && end[1] == ' ' && end[2] != 'Z' && end[2] != 'X';
}

// A link whose target exists and whose pid file names a running simulator.
inline bool IsLive(const std::string &link)
{
    struct stat st;
    if (::lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode) || ::stat(link.c_str(), &st) != 0)
        return false;
    return IsRunningSimulator(PidOf(link));
}

} // namespace simulatedlink

#endif // SIMULATEDLINK_H
