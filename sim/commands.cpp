#include "sim/commands.h"

#include <charconv>

#include "link/protocol.h"
#include "model/configblock.h"
#include "model/switchblock.h"

namespace {

struct GroupedCommand {
    uint8_t group;
    uint8_t type;
};

constexpr GroupedCommand kCommands[] = {
    {GroupConfig, CmdConnect},
    {GroupConfig, CmdReadConfig},
    {GroupConfig, CmdWriteConfig},
    {GroupStatistics, CmdReadStatistics},
    {GroupStatistics, CmdClearStatistics},
    {GroupSwitching, CmdReadSwitching},
    {GroupSwitching, CmdWriteSwitching},
};

}  // namespace

std::optional<int> ParseNumber(std::string_view text, int limit) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < 0 || value > limit) {
        return std::nullopt;
    }
    return value;
}

bool IsKnownCommand(uint8_t group, uint8_t type) {
    for (const GroupedCommand& command : kCommands) {
        if (command.group == group && command.type == type)
            return true;
    }
    return false;
}

const char* CommandName(uint8_t type) {
    return CommandTypeName(type);
}

std::optional<uint8_t> ParseCommandType(std::string_view text) {
    for (const GroupedCommand& command : kCommands) {
        if (text == CommandTypeName(command.type))
            return command.type;
    }
    if (auto number = ParseNumber(text, 255))
        return static_cast<uint8_t>(*number);
    return std::nullopt;
}

std::optional<Misbehaviour> ParseMisbehaviour(std::string_view text) {
    if (text.rfind("random:", 0) == 0) {
        const std::string_view rest = text.substr(7);
        const size_t colon = rest.find(':');
        const auto seed = ParseNumber(rest.substr(0, colon), 0x7FFFFFFF);
        if (!seed)
            return std::nullopt;
        int maxDelay = kDefaultRandomDelayMs;
        if (colon != std::string_view::npos) {
            const auto ms = ParseNumber(rest.substr(colon + 1), 3600 * 1000);
            if (!ms)
                return std::nullopt;
            maxDelay = *ms;
        }
        return Misbehaviour{MisbehaviourKind::Random, maxDelay, static_cast<uint32_t>(*seed)};
    }
    const size_t colon = text.find(':');
    const std::string_view name = text.substr(0, colon);
    std::optional<int> ms;
    if (colon != std::string_view::npos) {
        // An hour of pause is already far beyond any time-out of the utility.
        ms = ParseNumber(text.substr(colon + 1), 3600 * 1000);
        if (!ms)
            return std::nullopt;
    }
    const bool hasMs = ms.has_value();
    if (name == "normal" && !hasMs)
        return Misbehaviour{MisbehaviourKind::Normal, 0};
    if (name == "silent" && !hasMs)
        return Misbehaviour{MisbehaviourKind::Silent, 0};
    if (name == "unsupported" && !hasMs)
        return Misbehaviour{MisbehaviourKind::Unsupported, 0};
    if (name == "close" && !hasMs)
        return Misbehaviour{MisbehaviourKind::Close, 0};
    if (name == "split") {
        return Misbehaviour{MisbehaviourKind::Split, ms.value_or(kDefaultSplitPauseMs)};
    }
    if (name == "delay" && hasMs)
        return Misbehaviour{MisbehaviourKind::Delay, *ms};
    if (name == "cut" && hasMs && *ms <= kFrameBufferSize)
        return Misbehaviour{MisbehaviourKind::Cut, 0, 0, *ms};
    if (name == "group" && hasMs && *ms <= 255)
        return Misbehaviour{MisbehaviourKind::Group, 0, 0, *ms};
    return std::nullopt;
}

Misbehaviour DrawMisbehaviour(std::mt19937& generator, int maxDelayMs) {
    static constexpr MisbehaviourKind kChoices[] = {
        MisbehaviourKind::Normal, MisbehaviourKind::Unsupported, MisbehaviourKind::Silent,
        MisbehaviourKind::Close,  MisbehaviourKind::Split,       MisbehaviourKind::Delay,
    };
    constexpr uint32_t kChoiceCount = sizeof kChoices / sizeof kChoices[0];
    Misbehaviour how{kChoices[generator() % kChoiceCount], 0, 0};
    // Drawn for every kind, so that one kind's pause never shifts the kinds that follow.
    const uint32_t pause = generator();
    if (how.kind == MisbehaviourKind::Split)
        how.ms = static_cast<int>(pause % (kRandomSplitPauseMs + 1));
    else if (how.kind == MisbehaviourKind::Delay)
        how.ms = static_cast<int>(pause % (static_cast<uint32_t>(maxDelayMs) + 1));
    return how;
}

const char* MisbehaviourName(MisbehaviourKind kind) {
    switch (kind) {
        case MisbehaviourKind::Normal:
            return "normal";
        case MisbehaviourKind::Silent:
            return "silent";
        case MisbehaviourKind::Unsupported:
            return "unsupported";
        case MisbehaviourKind::Close:
            return "close";
        case MisbehaviourKind::Split:
            return "split";
        case MisbehaviourKind::Delay:
            return "delay";
        case MisbehaviourKind::Random:
            return "random";
        case MisbehaviourKind::Cut:
            return "cut";
        case MisbehaviourKind::Group:
            return "group";
    }
    return "?";
}
