#pragma once
// Frame of every request and answer: group byte, type byte, fixed payload chosen by the command.
#include <array>
#include <cstdint>

enum CommandGroup : uint8_t {
    GroupConfig = 1,
    GroupStatistics = 2,
    GroupSwitching = 3,
};

enum CommandType : uint8_t {
    CmdConnect = 1,
    CmdReadConfig = 2,
    CmdWriteConfig = 4,
    CmdReadStatistics = 8,
    CmdClearStatistics = 16,
    CmdReadSwitching = 32,
    CmdWriteSwitching = 64,
    AnswerUnsupported = 255,
};

constexpr int kFrameBufferSize = 2000;
// Payloads on the wire: the configuration block (read and written), the 20 port entries a
// switching write carries, what a switching read answers (configuration, entries, availability)
// and the statistics block.
constexpr int kConfigPayloadSize = 100;
constexpr int kSwitchingWritePayloadSize = 160;
constexpr int kSwitchingReadPayloadSize = 280;
constexpr int kStatisticsPayloadSize = 468;
constexpr int kHeaderSize = 2;
using FrameBuffer = std::array<uint8_t, kFrameBufferSize>;
using ReceiveBuffer = FrameBuffer;

// Whole length of a request, header included; the payload goes by the type alone.
int RequestLength(uint8_t type);

// Whole length of an answer that carries this group and type, header included: the three reads
// carry their block, every other answer is its header alone.
int AnswerLength(uint8_t group, uint8_t type);

// How far the bytes received so far make an answer to a request of `askedGroup`.
enum class AnswerState {
    Partial,  // fewer bytes than its own group and type call for (or no header yet)
    Whole,
    Foreign,  // another group than the request's: nothing of it belongs to the asking window
};
AnswerState JudgeAnswer(uint8_t askedGroup, const uint8_t* bytes, int length);

// What the asking window's ReceiveBuffer holds after an exchange: the answer if it is whole and
// of the asked group, otherwise nothing at all (zeros), exactly as when the module closed without
// a word, so that every window takes its wrong-answer path. True when the answer was taken.
bool TakeAnswer(uint8_t askedGroup, const uint8_t* bytes, int length, ReceiveBuffer& into);

// "read-config" and friends for the seven commands, nullptr for any other type: the names the
// simulator's options and the exchange trace use.
const char* CommandTypeName(uint8_t type);
