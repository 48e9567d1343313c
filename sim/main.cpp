// kestrel-sim: simulated Kestrel modules for trying the utility without hardware.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/cmdline.h"
#include "sim/simulator.h"

namespace {

constexpr int kExitBind = 1;
constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
    // Blocked before any thread exists, so every thread inherits the mask and the signals wait
    // for sigwait() below instead of interrupting a handler thread.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::string error;
    const auto line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), &error);
    if (!line) {
        std::fprintf(stderr, "kestrel-sim: %s\nTry 'kestrel-sim --help'.\n", error.c_str());
        return kExitUsage;
    }
    if (line->help) {
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    }
    if (line->version) {
        std::printf("kestrel-sim %s\n", KESTREL_VERSION);
        return 0;
    }

    SimulatorOptions options;
    options.quiet = line->quiet;
    options.readTimeoutMs = line->readTimeoutMs;
    Simulator simulator(line->endpoints, options);
    ApplyRules(simulator, line->rules);
    simulator.setRate(line->rate);
    if (!line->stateFile.empty() && !simulator.loadState(line->stateFile, &error)) {
        std::fprintf(stderr, "kestrel-sim: %s\n", error.c_str());
        return kExitUsage;
    }
    if (!simulator.start(&error)) {
        std::fprintf(stderr, "kestrel-sim: %s\n", error.c_str());
        return kExitBind;
    }
    for (int i = 0; i < simulator.moduleCount(); ++i) {
        std::printf("module %d (%s) listening on %s\n", i + 1, i % 2 == 0 ? "A" : "B",
                    EndpointText(simulator.endpoint(i).ip, simulator.port(i)).c_str());
    }
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    simulator.stop();
    if (!line->quiet)
        std::printf("stopped by signal %d\n", received);

    if (!line->saveFile.empty() && !simulator.saveState(line->saveFile, &error)) {
        std::fprintf(stderr, "kestrel-sim: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
