#include "flows/settingsflow.h"

#include <algorithm>
#include <cstring>

#include "flows/commands.h"
#include "link/shell.h"

namespace {

const QString kCloseSwitching = QStringLiteral("Закройте соединение в меню Коммутация!");
const QString kReadBeforeWrite =
    QStringLiteral("Перед сохранением настроек считайте конфигурацию этого мультиплексора");
const QString kControlPortZero =
    QStringLiteral("Настройки не сохранены: порт управления 0 отключит модуль от сети управления");
const QString kOwnAddressZero = QStringLiteral(
    "Настройки не сохранены: локальный IP 0.0.0.0 отключит модуль от сети управления");

// A block that would cut the module off from the network it is managed over, so that nobody
// could reach it again to put it right: the reason, or the empty text.
QString CutsModuleOff(const ConfigBlock& b) {
    if (b[ConfigOffset::ControlPort] == 0 && b[ConfigOffset::ControlPort + 1] == 0)
        return kControlPortZero;
    if (std::all_of(b.begin() + ConfigOffset::LocalIp, b.begin() + ConfigOffset::LocalIp + 4,
                    [](uint8_t octet) { return octet == 0; }))
        return kOwnAddressZero;
    return {};
}

}  // namespace

SettingsFlow::Step SettingsFlow::pressConnect(const QString& address, const QString& port) {
    // A press while an answer is awaited is not an answer: the answer comes by itself.
    if (ConnectState != Awaiting::None)
        return {};
    controls_.lockModuleSettings(true);
    if (SendingCommand()) {
        LogEvent(kCloseSwitching);
        return {};
    }
    if (CheckMuxAddress(address, port))
        return {};
    return {CmdConnect, address, port};
}

SettingsFlow::Step SettingsFlow::connectEnded(Sender sender, AnswerTarget& window,
                                              const QString& address, const QString& port) {
    if (EndsUnanswered(sender)) {
        controls_.setBusy(false);
        // A send that failed has had its line; only silence gets one of its own.
        if (sender == Sender::Timeout && ConnectState == Awaiting::Connect) {
            LogEvent(QStringLiteral("Не могу установить соединение с удаленным мультиплексором!"));
        } else if (sender == Sender::Timeout && ConnectState == Awaiting::ReadConfig) {
            LogEvent(QStringLiteral("Не могу прочитать настройки удаленного мультиплексора!"));
        }
        ConnectState = Awaiting::None;
        return {};
    }
    if (ConnectState == Awaiting::None)
        return {};  // a late answer: its flow has ended
    controls_.lockModuleSettings(true);
    std::memcpy(LastReadConfig.data(), &window.receiveBuffer()[kHeaderSize], kConfigBlockSize);
    if (ConnectState == Awaiting::Connect) {
        if (ParseAnswer(window) == CmdConnect)
            return {CmdReadConfig, address, port};
        LogEvent(
            QStringLiteral("Ошибочный ответ мультиплексора на команду установления соединения"));
    } else {
        if (ParseAnswer(window) != CmdReadConfig) {
            LogEvent(QStringLiteral(
                "Ошибочный ответ мультиплексора на команду чтения текущих настроек!"));
        } else if (readingFrom_) {
            ReadFrom = readingFrom_;
            readSerial_ = reads_.tookConfig(*readingFrom_, LastReadConfig).serial;
        }
    }
    controls_.setBusy(false);
    ConnectState = Awaiting::None;
    return {};
}

void SettingsFlow::connectSent(const Step& step, bool sent) {
    if (!sent) {
        // Whichever step could not go, the flow is idle: nothing of it may stay busy.
        controls_.setBusy(false);
        ConnectState = Awaiting::None;
        return;
    }
    ConnectState = Awaiting{step.type};
    readingFrom_ = ParseModuleEndpoint(step.address, step.port);
    if (step.type == CmdConnect)
        controls_.setBusy(true);
}

SettingsFlow::Step SettingsFlow::pressApply(const QString& address, const QString& port,
                                            const ConfigTexts& texts) {
    if (ApplyState != Awaiting::None)
        return {};
    if (SendingCommand()) {
        LogEvent(kCloseSwitching);
        return {};
    }
    if (CheckMuxAddress(address, port))
        return {};
    // Only what was read from this very module goes back to it: fields that hold no whole read,
    // or another module's, would overwrite its configuration with what nobody chose.
    // A command to the module since (a switching write, a reset, another write) ends the read.
    if (!holdsCurrentRead() || ParseModuleEndpoint(address, port) != ReadFrom) {
        LogEvent(kReadBeforeWrite);
        return {};
    }
    EncodeConfig(texts, OutgoingConfig);
    if (const QString refusal = CutsModuleOff(OutgoingConfig); !refusal.isEmpty()) {
        LogEvent(refusal);
        return {};
    }
    sent_ = reads_.sending(*ReadFrom);
    return {CmdWriteConfig, address, port};
}

bool SettingsFlow::holdsCurrentRead() const {
    return ReadFrom && reads_.current(ReadKind::Config, *ReadFrom, readSerial_);
}

void SettingsFlow::applyEnded(Sender sender, AnswerTarget& window) {
    if (EndsUnanswered(sender)) {
        if (sender == Sender::Timeout && ApplyState == Awaiting::WriteConfig) {
            LogEvent(QStringLiteral(
                "Нет ответа от удаленного мультиплексора на команду сохранения настроек!"));
        }
        ApplyState = Awaiting::None;
        controls_.setBusy(false);
        return;
    }
    if (ApplyState != Awaiting::WriteConfig)
        return;
    if (ParseAnswer(window) != CmdWriteConfig) {
        LogEvent(QStringLiteral("Ошибочный ответ мультиплексора на команду сохранения настроек!"));
    } else if (sent_) {
        // The module holds what was written: the fields may go on from there.
        if (const auto renewed = reads_.confirmedConfig(*sent_, OutgoingConfig))
            readSerial_ = renewed->serial;
    }
    sent_.reset();
    controls_.setBusy(false);
    ApplyState = Awaiting::None;
}

void SettingsFlow::applySent(bool sent) {
    ApplyState = sent ? Awaiting::WriteConfig : Awaiting::None;
    controls_.setBusy(sent);
}
