#pragma once
// What the simulated module knows about the command set beyond link/protocol.h: which group
// each command belongs to, how long a request is, and the names used on the command line.
#include <cstdint>
#include <optional>
#include <random>
#include <string_view>

// True for the seven (group, type) pairs that a module answers in kind.
bool IsKnownCommand(uint8_t group, uint8_t type);

// A decimal number within [0, limit]; nothing before or after it. The simulator reads every
// number it is given (options, rules, ports, the state file) with this one.
std::optional<int> ParseNumber(std::string_view text, int limit);

// "read-config" and friends for the seven commands, nullptr for any other type.
const char* CommandName(uint8_t type);

// A command name or a decimal type number 0..255.
std::optional<uint8_t> ParseCommandType(std::string_view text);

// How one command type is mistreated. `ms` is the pause of Split and Delay, and the longest
// delay Random may choose. Random picks one of the first six kinds for every request, from a
// generator started at `seed`, so that a run can be repeated exactly. Cut sends only the first
// `value` bytes of the answer and closes; Group answers with `value` as its group byte.
enum class MisbehaviourKind {
    Normal,
    Silent,
    Unsupported,
    Close,
    Split,
    Delay,
    Random,
    Cut,
    Group
};
constexpr int kMisbehaviourKinds = 9;

struct Misbehaviour {
    MisbehaviourKind kind = MisbehaviourKind::Normal;
    int ms = 0;
    uint32_t seed = 0;
    int value = 0;
    bool operator==(const Misbehaviour&) const = default;
};

constexpr int kDefaultSplitPauseMs = 200;
constexpr int kDefaultRandomDelayMs = 200;
// The pause between the two parts of a split chosen at random: short, so that the parts still
// belong to one answer however slowly the client reads.
constexpr int kRandomSplitPauseMs = 20;

// "normal", "silent", "unsupported", "close", "split", "split:MS", "delay:MS",
// "random:SEED", "random:SEED:MS", "cut:N", "group:G".
std::optional<Misbehaviour> ParseMisbehaviour(std::string_view text);

// One draw of Random: every kind but Normal and Random itself as likely as a good answer, the
// pauses of Split and Delay drawn too. Only the generator's raw output is used, so a seed gives
// the same sequence with any standard library.
Misbehaviour DrawMisbehaviour(std::mt19937& generator, int maxDelayMs);

// "normal", "silent" and so on, as the command line spells them.
const char* MisbehaviourName(MisbehaviourKind kind);
