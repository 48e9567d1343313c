#include "link/protocol.h"

#include <algorithm>
#include <cstring>

int RequestLength(uint8_t type) {
    switch (type) {
        case CmdWriteConfig:
            return kHeaderSize + kConfigPayloadSize;
        case CmdWriteSwitching:
            return kHeaderSize + kSwitchingWritePayloadSize;
        default:
            return kHeaderSize;
    }
}

int AnswerLength(uint8_t group, uint8_t type) {
    if (group == GroupConfig && type == CmdReadConfig)
        return kHeaderSize + kConfigPayloadSize;
    if (group == GroupStatistics && type == CmdReadStatistics)
        return kHeaderSize + kStatisticsPayloadSize;
    if (group == GroupSwitching && type == CmdReadSwitching)
        return kHeaderSize + kSwitchingReadPayloadSize;
    return kHeaderSize;
}

AnswerState JudgeAnswer(uint8_t askedGroup, const uint8_t* bytes, int length) {
    if (length < 1)
        return AnswerState::Partial;
    if (bytes[0] != askedGroup)
        return AnswerState::Foreign;
    if (length < kHeaderSize || length < AnswerLength(bytes[0], bytes[1]))
        return AnswerState::Partial;
    return AnswerState::Whole;
}

bool TakeAnswer(uint8_t askedGroup, const uint8_t* bytes, int length, ReceiveBuffer& into) {
    into.fill(0);
    if (JudgeAnswer(askedGroup, bytes, length) != AnswerState::Whole)
        return false;
    std::copy_n(bytes, std::min(length, kFrameBufferSize), into.begin());
    return true;
}

const char* CommandTypeName(uint8_t type) {
    switch (type) {
        case CmdConnect:
            return "connect";
        case CmdReadConfig:
            return "read-config";
        case CmdWriteConfig:
            return "write-config";
        case CmdReadStatistics:
            return "read-statistics";
        case CmdClearStatistics:
            return "clear-statistics";
        case CmdReadSwitching:
            return "read-switching";
        case CmdWriteSwitching:
            return "write-switching";
        default:
            return nullptr;
    }
}
