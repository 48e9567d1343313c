#pragma once
// Requests composed from the program's outgoing blocks, and answers taken into its blocks and
// handed to the window that asked.
#include <cstdint>

#include "link/protocol.h"
#include "model/configblock.h"
#include "model/switchblock.h"

// The one buffer in which every request is composed: written by BuildRequest, read by the send
// that follows at once on the GUI thread (the exchange takes its own copy).
extern FrameBuffer RequestBuffer;

// Composes the request (group, type) in RequestBuffer and returns its length. The payload is
// chosen by the type alone: OutgoingConfig for a configuration write, OutgoingSwitching for a
// switching write, as they stand; whoever sends a write fills its block first.
int BuildRequest(uint8_t group, int32_t type);

// What ParseAnswer needs of a window that talks to a module.
class AnswerTarget {
  public:
    virtual ~AnswerTarget() = default;
    virtual ReceiveBuffer& receiveBuffer() = 0;
    // Group 2, type 8: the window shows the 468-byte statistics block.
    virtual void showStatistics(const uint8_t* block) { (void)block; }
    // Group 3, type 32: where the answer's snapshot goes, or nowhere. The switching window's
    // goes to the multiplexer it stands with (CurrentMux); a window that lists one module says
    // its own.
    virtual MuxSnapshot* switchingAnswerTarget();
};

// Dispatches the answer in the window's ReceiveBuffer by group and type; returns the type byte.
uint8_t ParseAnswer(AnswerTarget& window);
