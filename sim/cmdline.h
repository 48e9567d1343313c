#pragma once
// The command line of kestrel-sim, parsed apart from main() so that it can be tested.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/simulator.h"

// One --misbehave rule: [N:]TYPE=MODE.
struct MisbehaveRule {
    int module = 0;               // 1-based; 0 = every module
    std::optional<uint8_t> type;  // empty = every type ("all")
    Misbehaviour how;
};
std::optional<MisbehaveRule> ParseMisbehaveRule(std::string_view text);

struct SimCommandLine {
    bool help = false;
    bool version = false;
    bool quiet = false;
    std::vector<Endpoint> endpoints;
    std::vector<MisbehaveRule> rules;
    std::string stateFile;
    std::string saveFile;
    int rate = 1;
    int readTimeoutMs = kDefaultReadTimeoutMs;
};

// `args` without the program name. With no endpoint given, one module on 127.0.0.1:65530.
std::optional<SimCommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                               std::string* error);

// Applies the rules in order, so a later rule overrides an earlier one for the same type.
void ApplyRules(Simulator& simulator, const std::vector<MisbehaveRule>& rules);

std::string HelpText();
