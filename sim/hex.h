#pragma once
// Hexadecimal text for frames in the log and blocks in state files.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Two upper-case digits per byte, joined by `separator` when it is not '\0'.
std::string ToHex(const uint8_t* data, size_t size, char separator = ' ');

// Pairs of hexadecimal digits with optional blanks between pairs; nothing else.
std::optional<std::vector<uint8_t>> FromHex(std::string_view text);

// A frame for a log line: all of it when short, else its start and "…(N bytes)".
std::string FrameForLog(const uint8_t* data, size_t size);
