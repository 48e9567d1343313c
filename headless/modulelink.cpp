#include "headless/modulelink.h"

#include <QEventLoop>
#include <cstring>

#include "link/codecs.h"
#include "link/shell.h"

namespace {
constexpr int kFlow = 1;
const QString kDefaultPort = QStringLiteral("65530");
}  // namespace

std::optional<ModuleAddress> ParseModuleAddress(const QString& text) {
    const int colon = text.indexOf(QLatin1Char(':'));
    ModuleAddress m{colon < 0 ? text : text.left(colon),
                    colon < 0 ? kDefaultPort : text.mid(colon + 1)};
    if (!ParseModuleEndpoint(m.address, m.port))
        return std::nullopt;
    return m;
}

ModuleLink::ModuleLink(ModuleAddress module, QObject* parent)
    : QObject(parent), module_(std::move(module)) {
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    connect(&deadline_, &QTimer::timeout, this, [this] { RunGuarded([this] { giveUp(); }); });
}

ModuleLink::~ModuleLink() {
    AbandonExchanges(this);
}

void ModuleLink::showStatistics(const uint8_t* block) {
    std::memcpy(statistics_.data(), block, statistics_.size());
    hasStatistics_ = true;
}

bool ModuleLink::send(uint8_t group, uint8_t type, std::function<void(Sender)> ended,
                      std::span<const uint8_t> payload) {
    if (busy_)
        return false;
    hasStatistics_ = false;
    const RequestFrame request = BuildRequest(group, type, payload);
    const Continuation handler{this, kFlow, [this](Sender s) { this->ended(s); }};
    ConnectionRef started;
    const QString error = SendCommand(module_.address, module_.port, handler, request.data(),
                                      request.length, buffer_, &started);
    if (!error.isEmpty()) {
        LogEvent(error);
        return false;
    }
    deadline_.start(timeoutMs_);
    busy_ = true;
    ended_ = std::move(ended);
    return true;
}

void ModuleLink::ended(Sender sender) {
    deadline_.stop();
    if (!busy_)
        return;
    busy_ = false;
    if (EndsUnanswered(sender))
        buffer_.fill(0);
    const auto ended = std::move(ended_);
    ended_ = nullptr;
    if (ended)
        ended(sender);
}

void ModuleLink::giveUp() {
    if (!busy_)
        return;
    AbandonExchanges(this);
    ended(Sender::Timeout);
}

Sender ModuleLink::exchange(uint8_t group, uint8_t type, std::span<const uint8_t> payload) {
    QEventLoop loop;
    Sender result = Sender::SendFailed;
    if (!send(
            group, type,
            [&](Sender s) {
                result = s;
                loop.quit();
            },
            payload))
        return Sender::SendFailed;
    loop.exec();
    return result;
}
