#pragma once
// Requests composed as values from the block a flow owns, and answers dispatched to the window
// that asked.
#include <cstdint>
#include <span>

#include "link/protocol.h"
#include "model/configblock.h"
#include "model/switchblock.h"

// One request as it goes on the wire; the exchange that sends it takes its own copy.
struct RequestFrame {
    FrameBuffer RequestBuffer{};
    int length = 0;
    const uint8_t* data() const { return RequestBuffer.data(); }
};

// Composes the request (group, type). The two writes carry `payload`, the block their flow built
// (OutgoingConfig, OutgoingSwitching); any other type is its header alone.
RequestFrame BuildRequest(uint8_t group, int32_t type, std::span<const uint8_t> payload = {});

// What ParseAnswer needs of a window that talks to a module.
class AnswerTarget {
  public:
    virtual ~AnswerTarget() = default;
    virtual ReceiveBuffer& receiveBuffer() = 0;
    // Group 2, type 8: the window shows the 468-byte statistics block.
    virtual void showStatistics(const uint8_t* block) { (void)block; }
    // Group 3, type 32: where the answer's snapshot goes, or nowhere: the block of the flow
    // that asked.
    virtual MuxSnapshot* switchingAnswerTarget() { return nullptr; }
};

// Dispatches the answer in the window's ReceiveBuffer by group and type; returns the type byte.
// A configuration answer's block stays in the buffer for the settings flow to take.
uint8_t ParseAnswer(AnswerTarget& window);
