#pragma once
// What the program knows of each module, and for how long: the last whole configuration read,
// switching read and current-links read of every module, keyed by the address and port the
// dialler reaches it at. A command that can change a module ends every read of it as it is sent,
// whatever comes back; only the module's confirmation of that very command makes what was sent
// the new read. Flows take their reads from here and tell it what they send, so no copy of a read
// outlives a command to its module.
#include <QDateTime>
#include <cstdint>
#include <map>
#include <optional>

#include "link/codecs.h"
#include "model/configblock.h"
#include "model/switchblock.h"

enum class ReadKind { Config, Switching, Links };

// One whole read: where and when it was taken. `serial` tells this read from every other one of
// the run, so a flow that built something on it can ask whether it still stands.
template <class Block>
struct ModuleRead {
    ModuleEndpoint module;
    QDateTime takenAt;
    uint64_t serial = 0;
    Block block{};
};
using ConfigBlockRead = ModuleRead<ConfigBlock>;
using SwitchingRead = ModuleRead<MuxSnapshot>;

// A command on its way to a module, as the owner counted it: the confirmation must name it.
struct SentCommand {
    ModuleEndpoint module;
    uint64_t number = 0;
};

class ModuleReads {
  public:
    // A whole answer came: it becomes the module's read of that kind.
    const ConfigBlockRead& tookConfig(const ModuleEndpoint& module, const ConfigBlock& block);
    const SwitchingRead& tookSwitching(ReadKind kind, const ModuleEndpoint& module,
                                       const MuxSnapshot& snapshot);

    // A command that can change `module` is being sent: every read of it ends now.
    SentCommand sending(const ModuleEndpoint& module);
    // The module confirmed `sent`, which carried `block`: when nothing else has gone to the
    // module since, what was sent is what it holds, and becomes its read. Empty otherwise.
    std::optional<ConfigBlockRead> confirmedConfig(const SentCommand& sent,
                                                   const ConfigBlock& block);
    // A switching write built on `basis` confirmed: when nothing else has gone to the module
    // since, `basis` with the written entries becomes its switching read.
    std::optional<SwitchingRead> confirmedSwitching(const SentCommand& sent,
                                                    const SwitchingRead& basis,
                                                    const SwitchingBlock& written);

    const ConfigBlockRead* config(const ModuleEndpoint& module) const;
    const SwitchingRead* switching(ReadKind kind, const ModuleEndpoint& module) const;
    // Whether a read taken earlier is still the module's current one of its kind.
    bool current(ReadKind kind, const ModuleEndpoint& module, uint64_t serial) const;
    // Commands sent to the module so far.
    uint64_t commandsTo(const ModuleEndpoint& module) const;

  private:
    struct Known {
        std::optional<ConfigBlockRead> config;
        std::optional<SwitchingRead> switching, links;
        uint64_t commands = 0;
    };
    struct Less {
        bool operator()(const ModuleEndpoint& a, const ModuleEndpoint& b) const {
            return a.ip != b.ip ? a.ip < b.ip : a.port < b.port;
        }
    };
    std::optional<SwitchingRead>& slot(Known& known, ReadKind kind);
    const std::optional<SwitchingRead>& slot(const Known& known, ReadKind kind) const;
    const Known* find(const ModuleEndpoint& module) const;

    std::map<ModuleEndpoint, Known, Less> modules_;
    uint64_t serials_ = 0;
};
