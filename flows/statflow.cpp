#include "flows/statflow.h"

#include <cstring>

#include "flows/commands.h"
#include "link/codecs.h"
#include "link/shell.h"
#include "model/statmodel.h"

namespace {

const QString kNoStatAnswer =
    QStringLiteral("Нет ответа от удаленного мультиплексора на запрос статистики!");
const QString kWrongStatAnswer =
    QStringLiteral("Ошибочный ответ мультиплексора на запрос статистики!");
const QString kNoClearAnswer =
    QStringLiteral("Нет ответа от удаленного мультиплексора на команду сброса статистики!");
const QString kWrongClearAnswer =
    QStringLiteral("Ошибочный ответ мультиплексора на команду сброса статистики!");

}  // namespace

StatFlow::Press StatFlow::press() const {
    if (running_)
        return Press::Stop;
    return mode_ == StatMode::Automatic ? Press::Start : Press::Request;
}

StatFlow::Step StatFlow::request(const QString& address, const QString& port) {
    if (PendingStatType != Awaiting::None || CheckMuxAddress(address, port))
        return {};
    return {CmdReadStatistics, address, port};
}

void StatFlow::requestSent(bool sent) {
    if (sent)
        PendingStatType = Awaiting::ReadStatistics;
}

void StatFlow::requestEnded(Sender sender, AnswerTarget& window) {
    if (EndsUnanswered(sender)) {
        if (sender == Sender::Timeout && PendingStatType == Awaiting::ReadStatistics)
            LogEvent(kNoStatAnswer);
        PendingStatType = Awaiting::None;
        return;
    }
    if (PendingStatType == Awaiting::None)
        return;
    if (ParseAnswer(window) != CmdReadStatistics)
        LogEvent(kWrongStatAnswer);
    PendingStatType = Awaiting::None;
}

StatFlow::Step StatFlow::clear(const QString& address, const QString& port) {
    if (PendingClearType != Awaiting::None || CheckMuxAddress(address, port))
        return {};
    return {CmdClearStatistics, address, port};
}

void StatFlow::clearSent(bool sent) {
    if (sent)
        PendingClearType = Awaiting::ClearStatistics;
}

bool StatFlow::clearEnded(Sender sender, AnswerTarget& window) {
    if (EndsUnanswered(sender)) {
        if (sender == Sender::Timeout && PendingClearType == Awaiting::ClearStatistics)
            LogEvent(kNoClearAnswer);
        PendingClearType = Awaiting::None;
        return false;
    }
    if (PendingClearType == Awaiting::None)
        return false;
    PendingClearType = Awaiting::None;
    if (ParseAnswer(window) != CmdClearStatistics) {
        LogEvent(kWrongClearAnswer);
        return false;
    }
    ticking_ = running_;
    return ticking_;
}

void StatFlow::start(const QString& workingPath, StatLogFile::FailureReport report) {
    running_ = true;
    if (!workingPath.isEmpty())
        log_ = std::make_unique<StatLogFile>(workingPath, std::move(report));
    PendingStatType = Awaiting::None;
}

void StatFlow::stop(const QString& address, const QDateTime& now) {
    ticking_ = false;
    running_ = false;
    finishLog(address, now);
    // A request still on its way would only fill the tables after the record has closed.
    PendingStatType = Awaiting::None;
}

void StatFlow::finishLog(const QString& address, const QDateTime& now) {
    ticking_ = false;
    if (!log_)
        return;
    StatLogName = StatLogFileName(StatDateTimeText(now), address);
    log_->finish(StatLogName + kStatLogExtension);
    // Another log may have had the name already: the record took the next free one.
    if (log_->finalPath().endsWith(kStatLogExtension))
        StatLogName = log_->finalPath().chopped(kStatLogExtension.size());
    log_.reset();
}

void StatFlow::show(const uint8_t* block, StatCells& totals, StatCells& sessions,
                    const QDateTime& now) {
    std::memcpy(Block.data(), block, Block.size());
    ShowTotals(Block, totals);
    if (!ticking_) {
        ShowSessions(Block, sessions);
        return;
    }
    const QStringList changes = RecordSessionChanges(Block, sessions);
    if (!changes.isEmpty() && log_)
        log_->append(LogBlock(StatDateTimeText(now), changes));
}
