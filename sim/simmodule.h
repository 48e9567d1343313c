#pragma once
// One simulated module: the blocks it reports, the counters that run on their own, how it
// treats each command type, and the requests it has received.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "model/configblock.h"
#include "model/statblock.h"
#include "model/switchblock.h"
#include "sim/commands.h"

using PortAvailabilityBlock = std::array<uint8_t, kPortAvailabilitySize>;
using Ipv4 = std::array<uint8_t, 4>;

// Time as the counters see it. A running clock follows the steady clock; a manual clock stands
// still until advance() moves it. Both can be pushed forward so tests need not sleep.
class SimClock {
  public:
    using Clock = std::chrono::steady_clock;
    explicit SimClock(bool manual = false) : manual_(manual), origin_(Clock::now()) {}
    Clock::time_point now() const {
        const auto base = manual_ ? origin_ : Clock::now();
        return base + std::chrono::nanoseconds(offsetNs_.load());
    }
    void advance(std::chrono::milliseconds step) {
        offsetNs_ += std::chrono::duration_cast<std::chrono::nanoseconds>(step).count();
    }

  private:
    const bool manual_;
    const Clock::time_point origin_;
    std::atomic<int64_t> offsetNs_{0};
};

// Whatever a state file says about one module; a missing part leaves the module as it is.
struct ModuleState {
    std::optional<ConfigBlock> config;
    std::optional<SwitchingBlock> switching;
    std::optional<PortAvailabilityBlock> availability;
    std::optional<StatisticsBlock> counters;
};

// A module of a pair is side A (it holds the first half of every seeded link) or side B.
enum class ModuleRole { A, B };

struct ModuleSeed {
    Ipv4 ownIp{};
    Ipv4 partnerIp{};
    uint16_t controlPort = 0;
    ModuleRole role = ModuleRole::A;
    int number = 1;  // 1-based; marks the MAC address and the module's own PortEntry bytes
};

class SimModule {
  public:
    SimModule(const ModuleSeed& seed, std::shared_ptr<const SimClock> clock);

    // The answer of a well-behaved module; runs the command (writes, clear) as a side effect.
    // Unknown (group, type) pairs and short requests get group + AnswerUnsupported.
    std::vector<uint8_t> answer(const std::vector<uint8_t>& request);

    // What the server does with one whole request: records it, then runs and answers it as the
    // misbehaviour of its type says. Silent and Close leave `bytes` empty and run nothing, nor
    // does Unsupported: a module that does not answer in kind did not do the work.
    struct Reply {
        Misbehaviour how;
        std::vector<uint8_t> bytes;
    };
    Reply handle(const std::vector<uint8_t>& request);

    void setMisbehaviour(uint8_t type, Misbehaviour how);
    void setMisbehaviourForAll(Misbehaviour how);
    Misbehaviour misbehaviour(uint8_t type) const;

    // Multiplies the growth of the counters per second; 0 stops them.
    void setRate(int rate);
    int rate() const;

    ConfigBlock config() const;
    SwitchingBlock switching() const;
    PortAvailabilityBlock availability() const;
    StatisticsBlock statistics() const;
    void setControlPort(uint16_t port);

    ModuleState state() const;  // every part present
    void apply(const ModuleState& state);

    std::vector<std::vector<uint8_t>> requests() const;
    size_t requestCount() const;
    // Off, only the counts are kept: a long run would otherwise hold every request it received.
    void setRecording(bool on);
    // Requests of a type answered (or not) in a kind, Random resolved to what it chose.
    uint64_t replies(uint8_t type, MisbehaviourKind kind) const;

    // Told of every switching write the module carries out, with the block it held before; runs
    // on the serving thread, so that a soak can judge each write when it lands.
    using WriteWatcher =
        std::function<void(const SwitchingBlock& before, const SwitchingBlock& written)>;
    void setWriteWatcher(WriteWatcher watcher);

  private:
    std::vector<uint8_t> answerLocked(const std::vector<uint8_t>& request);
    StatisticsBlock countersAt(SimClock::Clock::time_point now) const;
    void settleCounters(SimClock::Clock::time_point now);

    const std::shared_ptr<const SimClock> clock_;
    mutable std::mutex mutex_;
    ConfigBlock config_{};
    SwitchingBlock switching_{};
    PortAvailabilityBlock availability_{};
    // The counters as of tick_; whole seconds since then are added when they are read.
    StatisticsBlock counters_{};
    SimClock::Clock::time_point tick_;
    int rate_ = 1;
    std::array<Misbehaviour, 256> misbehaviour_{};
    const int number_;
    std::mt19937 chaos_;
    bool recording_ = true;
    size_t requestCount_ = 0;
    std::vector<std::vector<uint8_t>> requests_;
    std::array<std::array<uint64_t, kMisbehaviourKinds>, 256> replies_{};
    WriteWatcher writeWatcher_;
};
