#include "sim/statefile.h"

#include <algorithm>
#include <limits>

#include "sim/commands.h"
#include "sim/hex.h"

namespace {

template <size_t N>
std::string HexLine(const char* key, const std::optional<std::array<uint8_t, N>>& block) {
    if (!block)
        return {};
    return std::string(key) + '=' + ToHex(block->data(), block->size(), '\0') + '\n';
}

template <size_t N>
bool ReadBlock(std::string_view value, std::optional<std::array<uint8_t, N>>& block,
               std::string& why) {
    const auto bytes = FromHex(value);
    if (!bytes) {
        why = "not hexadecimal bytes";
        return false;
    }
    if (bytes->size() != N) {
        why = std::to_string(bytes->size()) + " bytes instead of " + std::to_string(N);
        return false;
    }
    block.emplace();
    std::copy(bytes->begin(), bytes->end(), block->begin());
    return true;
}

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

}  // namespace

std::string FormatState(const std::vector<ModuleState>& modules) {
    std::string text = "# kestrel-sim module state\n";
    for (size_t i = 0; i < modules.size(); ++i) {
        text += "module=" + std::to_string(i + 1) + '\n';
        text += HexLine("config", modules[i].config);
        text += HexLine("switching", modules[i].switching);
        text += HexLine("availability", modules[i].availability);
        text += HexLine("counters", modules[i].counters);
    }
    return text;
}

std::optional<std::vector<ModuleState>> ParseState(std::string_view text, int moduleCount,
                                                   std::string* error) {
    std::vector<ModuleState> modules(static_cast<size_t>(std::max(moduleCount, 0)));
    size_t current = 0;
    int lineNumber = 0;
    const auto fail = [&](const std::string& why) {
        if (error)
            *error = "line " + std::to_string(lineNumber) + ": " + why;
        return std::nullopt;
    };
    while (!text.empty()) {
        ++lineNumber;
        const size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#')
            continue;

        const size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            return fail("expected KEY=VALUE");
        const std::string_view key = Trim(line.substr(0, equals));
        const std::string_view value = Trim(line.substr(equals + 1));
        if (key == "module") {
            const auto parsed = ParseNumber(value, std::numeric_limits<int>::max());
            if (!parsed)
                return fail("module number expected");
            const int number = *parsed;
            if (number < 1 || number > moduleCount) {
                return fail("module " + std::to_string(number) + " does not exist (there are " +
                            std::to_string(moduleCount) + ")");
            }
            current = static_cast<size_t>(number - 1);
            continue;
        }
        if (current >= modules.size())
            return fail("no module to load into");
        ModuleState& state = modules[current];
        std::string why;
        bool ok = false;
        if (key == "config") {
            ok = ReadBlock(value, state.config, why);
        } else if (key == "switching") {
            ok = ReadBlock(value, state.switching, why);
        } else if (key == "availability") {
            ok = ReadBlock(value, state.availability, why);
        } else if (key == "counters") {
            ok = ReadBlock(value, state.counters, why);
        } else {
            why = "unknown key \"" + std::string(key) + "\"";
        }
        if (!ok)
            return fail(std::string(key) + ": " + why);
    }
    return modules;
}
