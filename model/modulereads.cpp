#include "model/modulereads.h"

#include <algorithm>

std::optional<SwitchingRead>& ModuleReads::slot(Known& known, ReadKind kind) {
    return kind == ReadKind::Links ? known.links : known.switching;
}

const std::optional<SwitchingRead>& ModuleReads::slot(const Known& known, ReadKind kind) const {
    return kind == ReadKind::Links ? known.links : known.switching;
}

const ModuleReads::Known* ModuleReads::find(const ModuleEndpoint& module) const {
    const auto it = modules_.find(module);
    return it == modules_.end() ? nullptr : &it->second;
}

const ConfigBlockRead& ModuleReads::tookConfig(const ModuleEndpoint& module,
                                               const ConfigBlock& block) {
    auto& read = modules_[module].config;
    read = ConfigBlockRead{module, QDateTime::currentDateTimeUtc(), ++serials_, block};
    return *read;
}

const SwitchingRead& ModuleReads::tookSwitching(ReadKind kind, const ModuleEndpoint& module,
                                                const MuxSnapshot& snapshot) {
    auto& read = slot(modules_[module], kind == ReadKind::Config ? ReadKind::Switching : kind);
    read = SwitchingRead{module, QDateTime::currentDateTimeUtc(), ++serials_, snapshot};
    return *read;
}

SentCommand ModuleReads::sending(const ModuleEndpoint& module) {
    Known& known = modules_[module];
    known.config.reset();
    known.switching.reset();
    known.links.reset();
    return {module, ++known.commands};
}

std::optional<ConfigBlockRead> ModuleReads::confirmedConfig(const SentCommand& sent,
                                                            const ConfigBlock& block) {
    if (commandsTo(sent.module) != sent.number)
        return std::nullopt;  // another command went to the module after this one
    return tookConfig(sent.module, block);
}

std::optional<SwitchingRead> ModuleReads::confirmedSwitching(const SentCommand& sent,
                                                             const SwitchingRead& basis,
                                                             const SwitchingBlock& written) {
    if (!(basis.module == sent.module) || commandsTo(sent.module) != sent.number)
        return std::nullopt;
    MuxSnapshot now = basis.block;
    std::copy(written.begin(), written.end(), now.begin() + SnapshotOffset::Switching);
    return tookSwitching(ReadKind::Switching, sent.module, now);
}

const ConfigBlockRead* ModuleReads::config(const ModuleEndpoint& module) const {
    const Known* known = find(module);
    return known && known->config ? &*known->config : nullptr;
}

const SwitchingRead* ModuleReads::switching(ReadKind kind, const ModuleEndpoint& module) const {
    const Known* known = find(module);
    if (!known)
        return nullptr;
    const auto& read = slot(*known, kind);
    return read ? &*read : nullptr;
}

bool ModuleReads::current(ReadKind kind, const ModuleEndpoint& module, uint64_t serial) const {
    if (kind == ReadKind::Config) {
        const ConfigBlockRead* read = config(module);
        return read && read->serial == serial;
    }
    const SwitchingRead* read = switching(kind, module);
    return read && read->serial == serial;
}

uint64_t ModuleReads::commandsTo(const ModuleEndpoint& module) const {
    const Known* known = find(module);
    return known ? known->commands : 0;
}
