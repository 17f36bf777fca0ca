// kinetra-nodesim: a bus of simulated Kinetra nodes on a pseudo-terminal.

#include "options.h"
#include "replay.h"
#include "simulator.h"

#include <csignal>
#include <cstdio>

#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "kinetra-nodesim: %s\nTry 'kinetra-nodesim --help'.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }

    if (options.exitWithParent) {
        const pid_t parent = getppid();
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) // the parent ended before the request took effect
            return 0;
    }

    Recording recording;
    if (!options.replayBase.empty() && !LoadRecording(RecordingBase(options.replayBase), &recording, &error)) {
        std::fprintf(stderr, "kinetra-nodesim: %s\n", error.c_str());
        return 2;
    }
    Simulator simulator(options, options.replayBase.empty() ? nullptr : &recording);
    if (!simulator.Setup(&error)) {
        std::fprintf(stderr, "kinetra-nodesim: %s\n", error.c_str());
        return 1;
    }
    // Whoever started us waits for this line to learn the port.
    std::printf("%s\n", simulator.PortPath().c_str());
    std::fflush(stdout);
    return simulator.Run();
}
