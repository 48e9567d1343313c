#pragma once
// The simulated pair the GUI and link tests talk to: A on 127.0.0.1 and B on 127.0.0.2, each on
// a free port, quiet, with counters that move only when a test moves the clock.
#include <memory>
#include <string>

#include "sim/simulator.h"

inline std::unique_ptr<Simulator> StartSimulatedPair(std::string* error) {
    SimulatorOptions options;
    options.quiet = true;
    options.manualClock = true;
    auto sim = std::make_unique<Simulator>(
        std::vector<Endpoint>{Endpoint{{127, 0, 0, 1}, 0}, Endpoint{{127, 0, 0, 2}, 0}}, options);
    return sim->start(error) ? std::move(sim) : nullptr;
}
