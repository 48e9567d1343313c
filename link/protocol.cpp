#include "link/protocol.h"

#include <algorithm>
#include <cstring>

#include "link/shell.h"
#include "model/configblock.h"
#include "model/statblock.h"
#include "model/switchblock.h"

FrameBuffer RequestBuffer{};

namespace {
std::function<void()> g_configComposer;
}

void SetConfigComposer(std::function<void()> composer) {
    g_configComposer = std::move(composer);
}

int BuildRequest(uint8_t group, int32_t type) {
    RequestBuffer.fill(0);
    RequestBuffer[0] = group;
    RequestBuffer[1] = static_cast<uint8_t>(type);
    switch (type) {
        case CmdWriteConfig:
            if (g_configComposer)
                g_configComposer();
            std::memcpy(&RequestBuffer[kHeaderSize], OutgoingConfig.data(), kConfigBlockSize);
            break;
        case CmdWriteSwitching:
            std::memcpy(&RequestBuffer[kHeaderSize], OutgoingSwitching.data(), kSwitchingBlockSize);
            break;
        default:
            // Only the two write commands carry a payload; any other value, also one whose low
            // byte happens to be 4 or 64, is a header alone.
            return kHeaderSize;
    }
    return RequestLength(static_cast<uint8_t>(type));
}

int RequestLength(uint8_t type) {
    switch (type) {
        case CmdWriteConfig:
            return kHeaderSize + kConfigBlockSize;
        case CmdWriteSwitching:
            return kHeaderSize + kSwitchingBlockSize;
        default:
            return kHeaderSize;
    }
}

int AnswerLength(uint8_t group, uint8_t type) {
    if (group == GroupConfig && type == CmdReadConfig)
        return kHeaderSize + kConfigBlockSize;
    if (group == GroupStatistics && type == CmdReadStatistics)
        return kHeaderSize + kStatisticsBlockSize;
    if (group == GroupSwitching && type == CmdReadSwitching)
        return kHeaderSize + kSnapshotSize;
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

namespace {

uint8_t ParseConfigAnswer(const ReceiveBuffer& buffer, uint8_t type) {
    std::memcpy(LastReadConfig.data(), &buffer[kHeaderSize], kConfigBlockSize);
    switch (type) {
        case CmdConnect:
            LockModuleSettings(false);
            SetBusy(false);
            LogEvent(QStringLiteral("Соединение с удаленным мультиплексором установлено"));
            break;
        case CmdReadConfig:
            if (Shell* shell = CurrentShell())
                shell->showReadConfig();
            LockModuleSettings(false);
            SetBusy(false);
            LogEvent(QStringLiteral("Конфигурация считана"));
            break;
        case CmdWriteConfig:
            LogEvent(QStringLiteral("Конфигурация установлена"));
            LogEvent(QStringLiteral(
                "Необходимо повторное соединение для продолжения работы с мультиплексором"));
            SetBusy(false);
            LockModuleSettings(true);
            break;
        case AnswerUnsupported:
            LogEvent(QStringLiteral("Текущая верия ПО модуля не поддерживает данную команду!"));
            LogEvent(QStringLiteral("Ошибочный ответ мультиплексора!"));
            break;
        default:
            LogEvent(QStringLiteral("Ошибочный ответ мультиплексора!"));
            break;
    }
    return type;
}

void ParseStatisticsAnswer(AnswerTarget& window, const ReceiveBuffer& buffer, uint8_t type) {
    if (type == CmdReadStatistics) {
        window.showStatistics(&buffer[kHeaderSize]);
    } else if (type == CmdClearStatistics) {
        LogEvent(QStringLiteral("Статистика сброшена"));
    }
    LockModuleSettings(false);
    SetBusy(false);
}

void ParseSwitchingAnswer(WindowKind kind, const ReceiveBuffer& buffer, uint8_t type) {
    if (type != CmdReadSwitching)
        return;
    MuxSnapshot* target = CurrentMux == 0 ? &SnapshotA : CurrentMux == 1 ? &SnapshotB : nullptr;
    // The current-links window lists SnapshotA; where the switching window stands with A and B
    // is none of its business.
    if (kind == WindowKind::CurrentLinks)
        target = &SnapshotA;
    if (target)
        std::memcpy(target->data(), &buffer[kHeaderSize], kSnapshotSize);
}

}  // namespace

uint8_t ParseAnswer(AnswerTarget& window) {
    const ReceiveBuffer& buffer = window.receiveBuffer();
    const uint8_t group = buffer[0];
    const uint8_t type = buffer[1];
    switch (group) {
        case GroupConfig:
            ParseConfigAnswer(buffer, type);
            break;
        case GroupStatistics:
            ParseStatisticsAnswer(window, buffer, type);
            break;
        case GroupSwitching:
            ParseSwitchingAnswer(window.windowKind(), buffer, type);
            break;
        default:
            break;
    }
    return type;
}
