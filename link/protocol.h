#pragma once
// Frame of every request and answer: group byte, type byte, fixed payload chosen by the command.
#include <array>
#include <cstdint>
#include <functional>

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
constexpr int kHeaderSize = 2;
using FrameBuffer = std::array<uint8_t, kFrameBufferSize>;
using ReceiveBuffer = FrameBuffer;

// The one buffer in which every request is composed.
extern FrameBuffer RequestBuffer;

// Composes the request (group, type) in RequestBuffer and returns its length. The payload is
// chosen by the type alone. May raise ConversionError when the configuration cannot be encoded.
int BuildRequest(uint8_t group, int32_t type);

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

// Installs what fills OutgoingConfig from the settings window before a configuration write.
void SetConfigComposer(std::function<void()> composer);

enum class WindowKind { Statistics, Settings, Switching, CurrentLinks };

// What ParseAnswer needs of a window that talks to a module.
class AnswerTarget {
  public:
    virtual ~AnswerTarget() = default;
    virtual WindowKind windowKind() const = 0;
    virtual ReceiveBuffer& receiveBuffer() = 0;
    // Group 2, type 8: the window shows the 468-byte statistics block.
    virtual void showStatistics(const uint8_t* block) { (void)block; }
};

// Dispatches the answer in the window's ReceiveBuffer by group and type; returns the type byte.
uint8_t ParseAnswer(AnswerTarget& window);
