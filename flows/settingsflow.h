#pragma once
// The settings window's two flows without a window: connect and read one module's
// configuration, and write it back. A write goes only to the module whose whole configuration
// the window holds, and never a block that would cut the module off from its management network.
//
// The window turns the operator's presses, answers, time-outs and send errors into calls here and
// sends the Step a call returns. The event log is told through the shell; the shared control
// states through the window that runs the flow.
#include <QString>
#include <cstdint>
#include <optional>

#include "flows/commands.h"
#include "link/codecs.h"
#include "link/exchange.h"
#include "model/configcodec.h"
#include "model/modulereads.h"

class SettingsFlow {
  public:
    // Send command `type` of group 1 to address:port, or nothing.
    using Step = CommandStep;

    // What the program knows of each module: the flow reads into it and tells it of every write.
    // `controls` hears what the flow asks of the shared control states.
    SettingsFlow(ModuleReads& reads, ControlStates& controls)
        : reads_(reads), controls_(controls) {}

    // "Соединиться": the connect, then the read of the configuration.
    Step pressConnect(const QString& address, const QString& port);
    // The end of the connect flow's exchange; an answer is parsed from `window`. The read goes to
    // the address the window shows by then; its answer makes the flow hold that module.
    Step connectEnded(Sender sender, AnswerTarget& window, const QString& address,
                      const QString& port);
    // After the window tried to send `step` of the connect flow.
    void connectSent(const Step& step, bool sent);

    // "Установить текущую конфигурацию": the texts the window holds become OutgoingConfig (a text
    // that does not convert raises ConversionError before anything is sent). Once the write is
    // on its way no read of the module stands; the module's confirmation makes what was written
    // its configuration read.
    Step pressApply(const QString& address, const QString& port, const ConfigTexts& texts);
    void applyEnded(Sender sender, AnswerTarget& window);
    void applySent(bool sent);

    // The fields were emptied: they hold no module's configuration any more.
    void fieldsCleared() { ReadFrom.reset(); }
    // Whether the fields hold a whole read of the module that is still its current one.
    bool holdsCurrentRead() const;

    Awaiting ConnectState = Awaiting::None;  // or Connect, then ReadConfig
    Awaiting ApplyState = Awaiting::None;    // or WriteConfig
    // The module whose whole configuration the fields hold; empty while they hold none.
    std::optional<ModuleEndpoint> ReadFrom;
    // The payload of the last configuration answer: what the window shows after a read.
    ConfigBlock LastReadConfig{};
    // The block of the next write: the read module's bytes, with the fields over them.
    ConfigBlock OutgoingConfig{};

  private:
    ModuleReads& reads_;
    ControlStates& controls_;
    std::optional<ModuleEndpoint> readingFrom_;  // where the awaited configuration comes from
    uint64_t readSerial_ = 0;                    // the read the fields hold
    std::optional<SentCommand> sent_;            // the write awaiting its answer
};
