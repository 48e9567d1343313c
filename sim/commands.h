#pragma once
// What the simulated module knows about the command set beyond link/protocol.h: which group
// each command belongs to, how long a request is, and the names used on the command line.
#include <cstdint>
#include <optional>
#include <string_view>

// True for the seven (group, type) pairs that a module answers in kind.
bool IsKnownCommand(uint8_t group, uint8_t type);

// A decimal number within [0, limit]; nothing before or after it.
std::optional<int> ParseNumber(std::string_view text, int limit);

// "read-config" and friends for the seven commands, nullptr for any other type.
const char* CommandName(uint8_t type);

// A command name or a decimal type number 0..255.
std::optional<uint8_t> ParseCommandType(std::string_view text);

// How one command type is mistreated. `ms` is the pause of Split and Delay.
enum class MisbehaviourKind { Normal, Silent, Unsupported, Close, Split, Delay };

struct Misbehaviour {
    MisbehaviourKind kind = MisbehaviourKind::Normal;
    int ms = 0;
    bool operator==(const Misbehaviour&) const = default;
};

constexpr int kDefaultSplitPauseMs = 200;

// "normal", "silent", "unsupported", "close", "split", "split:MS", "delay:MS".
std::optional<Misbehaviour> ParseMisbehaviour(std::string_view text);
