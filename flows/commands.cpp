#include "flows/commands.h"

#include <algorithm>
#include <cstring>

#include "link/shell.h"

RequestFrame BuildRequest(uint8_t group, int32_t type, std::span<const uint8_t> payload) {
    RequestFrame r;
    r.RequestBuffer[0] = group;
    r.RequestBuffer[1] = static_cast<uint8_t>(type);
    size_t size = 0;
    switch (type) {
        case CmdWriteConfig:
            size = kConfigBlockSize;
            break;
        case CmdWriteSwitching:
            size = kSwitchingBlockSize;
            break;
        default:
            // Only the two write commands carry a payload; any other value, also one whose low
            // byte happens to be 4 or 64, is a header alone.
            r.length = kHeaderSize;
            return r;
    }
    std::copy_n(payload.begin(), std::min(size, payload.size()), &r.RequestBuffer[kHeaderSize]);
    r.length = RequestLength(static_cast<uint8_t>(type));
    return r;
}

namespace {

uint8_t ParseConfigAnswer(AnswerTarget& window, uint8_t type) {
    switch (type) {
        case CmdConnect:
            window.lockModuleSettings(false);
            window.setBusy(false);
            LogEvent(QStringLiteral("Соединение с удаленным мультиплексором установлено"));
            break;
        case CmdReadConfig:
            window.showReadConfig();
            window.lockModuleSettings(false);
            window.setBusy(false);
            LogEvent(QStringLiteral("Конфигурация считана"));
            break;
        case CmdWriteConfig:
            LogEvent(QStringLiteral("Конфигурация установлена"));
            LogEvent(QStringLiteral(
                "Необходимо повторное соединение для продолжения работы с мультиплексором"));
            window.setBusy(false);
            window.lockModuleSettings(true);
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
    window.lockModuleSettings(false);
    window.setBusy(false);
}

void ParseSwitchingAnswer(AnswerTarget& window, const ReceiveBuffer& buffer, uint8_t type) {
    if (type != CmdReadSwitching)
        return;
    if (MuxSnapshot* target = window.switchingAnswerTarget())
        std::memcpy(target->data(), &buffer[kHeaderSize], kSnapshotSize);
}

}  // namespace

uint8_t ParseAnswer(AnswerTarget& window) {
    const ReceiveBuffer& buffer = window.receiveBuffer();
    const uint8_t group = buffer[0];
    const uint8_t type = buffer[1];
    switch (group) {
        case GroupConfig:
            ParseConfigAnswer(window, type);
            break;
        case GroupStatistics:
            ParseStatisticsAnswer(window, buffer, type);
            break;
        case GroupSwitching:
            ParseSwitchingAnswer(window, buffer, type);
            break;
        default:
            break;
    }
    return type;
}
