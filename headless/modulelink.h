#pragma once
// One module as the programs without windows talk to it: the window-like object whose ReceiveBuffer
// takes its answers and whose own timer gives up a command that stays unanswered.
#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>

#include "flows/commands.h"
#include "link/exchange.h"
#include "model/statblock.h"

// "ADDRESS" or "ADDRESS:PORT" as typed; the port defaults to the module's usual one.
struct ModuleAddress {
    QString address, port;
    QString text() const { return address + QLatin1Char(':') + port; }
};
// Empty when the text is no dotted IPv4 address with an optional port 1..65535.
std::optional<ModuleAddress> ParseModuleAddress(const QString& text);

// How long a command waits for its answer unless told otherwise: the three seconds of the
// utility's time-out timer.
constexpr int kDefaultAnswerTimeoutMs = 3000;

class ModuleLink : public QObject, public AnswerTarget {
  public:
    explicit ModuleLink(ModuleAddress module, QObject* parent = nullptr);
    ~ModuleLink() override;

    // A command that has not ended `ms` after it left ends as a time-out, on a precise timer of
    // this link's own.
    void setTimeoutMs(int ms) { timeoutMs_ = ms; }

    const ModuleAddress& module() const { return module_; }
    ReceiveBuffer& receiveBuffer() override { return buffer_; }
    void showStatistics(const uint8_t* block) override;
    MuxSnapshot* switchingAnswerTarget() override { return snapshotTarget; }
    // Where a switching read's answer goes: the block of the flow that asked.
    MuxSnapshot* snapshotTarget = nullptr;

    // Sends command (group, type) as BuildRequest composes it (a write with `payload`) and
    // registers its time-out; `ended` hears once how it ended. False (the reason logged, `ended`
    // never called) when nothing left.
    bool send(uint8_t group, uint8_t type, std::function<void(Sender)> ended,
              std::span<const uint8_t> payload = {});
    // The same, waiting for the end in a local event loop: for commands that follow one another.
    // Returns Sender::SendFailed when the command could not even be sent.
    Sender exchange(uint8_t group, uint8_t type, std::span<const uint8_t> payload = {});
    bool busy() const { return busy_; }
    // Gives the open command up at once: its exchange is abandoned and `ended` hears a time-out.
    void giveUp();
    // Whether the last answer was whole and of the kind asked.
    bool answered(uint8_t group, uint8_t type) const {
        return buffer_[0] == group && buffer_[1] == type;
    }

    // The last statistics block and whether the last request brought one.
    const StatisticsBlock& statistics() const { return statistics_; }
    bool hasStatistics() const { return hasStatistics_; }

  private:
    void ended(Sender sender);

    ModuleAddress module_;
    ReceiveBuffer buffer_{};
    StatisticsBlock statistics_{};
    bool hasStatistics_ = false;
    bool busy_ = false;
    std::function<void(Sender)> ended_;
    int timeoutMs_ = kDefaultAnswerTimeoutMs;
    QTimer deadline_;
};
