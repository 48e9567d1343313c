#pragma once
// Requests composed as values from the block a flow owns, and answers dispatched to the window
// that asked.
#include <QString>
#include <cstdint>
#include <span>

#include "link/protocol.h"
#include "model/configblock.h"
#include "model/switchblock.h"

// What a window sends next for a flow of one command group: command `type` to address:port, or
// nothing.
struct CommandStep {
    uint8_t type = 0;
    QString address, port;
    bool sends() const { return type != 0; }
};

// The command whose answer a flow awaits, named as the answer's type byte names it; None while
// the flow awaits nothing.
enum class Awaiting : uint8_t {
    None = 0,
    Connect = CmdConnect,
    ReadConfig = CmdReadConfig,
    WriteConfig = CmdWriteConfig,
    ReadStatistics = CmdReadStatistics,
    ClearStatistics = CmdClearStatistics,
    ReadSwitching = CmdReadSwitching,
    WriteSwitching = CmdWriteSwitching,
};

// One request as it goes on the wire; the exchange that sends it takes its own copy.
struct RequestFrame {
    FrameBuffer RequestBuffer{};
    int length = 0;
    const uint8_t* data() const { return RequestBuffer.data(); }
};

// Composes the request (group, type). The two writes carry `payload`, the block their flow built
// (OutgoingConfig, OutgoingSwitching); any other type is its header alone.
RequestFrame BuildRequest(uint8_t group, int32_t type, std::span<const uint8_t> payload = {});

// What a flow, and the answers it parses, ask of the windows beside their data: the settings
// fields locked or open, every window's command controls busy or free, the configuration just
// read shown. The window that runs the flow passes these on to whoever owns the windows; a
// program without windows has nothing to lock and keeps the defaults, which do nothing.
class ControlStates {
  public:
    virtual ~ControlStates() = default;
    virtual void lockModuleSettings(bool lock) { (void)lock; }
    virtual void setBusy(bool busy) { (void)busy; }
    // Group 1, type 2: the settings window shows its flow's LastReadConfig.
    virtual void showReadConfig() {}
};

// What ParseAnswer needs of a window that talks to a module.
class AnswerTarget : public ControlStates {
  public:
    virtual ReceiveBuffer& receiveBuffer() = 0;
    // Group 2, type 8: the window shows the 468-byte statistics block.
    virtual void showStatistics(const uint8_t* block) { (void)block; }
    // Group 3, type 32: where the answer's snapshot goes, or nowhere: the block of the flow
    // that asked.
    virtual MuxSnapshot* switchingAnswerTarget() { return nullptr; }
};

// Dispatches the answer in the window's ReceiveBuffer by group and type; returns the type byte.
// A configuration answer's block stays in the buffer for the settings flow to take.
uint8_t ParseAnswer(AnswerTarget& window);
