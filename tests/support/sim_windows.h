#pragma once
// The simulated pair and the program's main window on a temporary settings file, made before a
// test and taken down after it: the fixture of the suites that drive windows against modules.
#include <QTest>
#include <memory>
#include <string>

#include "link/exchange.h"
#include "support/app_fixture.h"
#include "support/sim_pair.h"

class SimWindowsFixture {
  protected:
    // Starts the pair and, unless told otherwise, the main window; false (and the reason given
    // to the test log) when the pair could not listen.
    [[nodiscard]] bool startPair(bool withWindows = true) {
        std::string error;
        sim = StartSimulatedPair(&error);
        if (!sim) {
            qWarning("the simulated pair: %s", error.c_str());
            return false;
        }
        if (withWindows)
            app = std::make_unique<AppFixture>();
        return true;
    }
    // The windows first, while the modules they wait for are still there; then the pair. False
    // while an exchange's thread is still running.
    [[nodiscard]] bool stopPair() {
        app.reset();
        if (sim)
            sim->stop();
        sim.reset();
        return WaitForReceiveThreads(5000);
    }
    QString port(int module = 0) const { return QString::number(sim->port(module)); }

    std::unique_ptr<Simulator> sim;
    std::unique_ptr<AppFixture> app;
};
