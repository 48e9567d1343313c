#include "cli/statspoller.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "headless/clishell.h"
#include "cli/commands.h"
#include "model/statcolumns.h"

QString IsoLocalTime(const QDateTime& at) {
    const int offset = at.offsetFromUtc() / 60;
    return at.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
               .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0'));
}

QString StatsCsvHeader(QChar separator) {
    QString line = QStringLiteral("time") + separator + QStringLiteral("module");
    for (const StatColumn& c : StatColumns())
        line += separator + c.name;
    return line + QLatin1Char('\n');
}

QString StatsCsvRow(const QString& time, const QString& module, const StatisticsBlock& block,
                    QChar separator) {
    QString line = time + separator + module;
    for (const StatColumn& c : StatColumns())
        line += separator + QString::number(StatColumnValue(block, c));
    return line + QLatin1Char('\n');
}

QByteArray StatsJsonRow(const QString& time, const QString& module, const StatisticsBlock& block) {
    QJsonObject row{{QStringLiteral("time"), time}, {QStringLiteral("module"), module}};
    for (const StatColumn& c : StatColumns())
        row.insert(c.name, StatColumnValue(block, c));
    return QJsonDocument(row).toJson(QJsonDocument::Compact) + '\n';
}

StatsPoller::StatsPoller(const QList<ModuleAddress>& modules, StatsOptions options,
                         StderrShell& shell)
    : options_(std::move(options)), shell_(shell) {
    for (const ModuleAddress& address : modules) {
        auto m = std::make_unique<Module>();
        m->link = std::make_unique<ModuleLink>(address);
        m->link->setTimeoutMs(options_.timeoutMs);
        modules_.push_back(std::move(m));
    }
    timer_.setInterval(options_.everyMs);
    connect(&timer_, &QTimer::timeout, this, [this] { RunGuarded([this] { round(); }); });
}

StatsPoller::~StatsPoller() = default;

bool StatsPoller::open() {
    if (options_.csvPath.isEmpty())
        return true;
    csv_.setFileName(options_.csvPath);
    if (!csv_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        LogEvent(QStringLiteral("Не удалось открыть файл %1: %2")
                     .arg(options_.csvPath, csv_.errorString()));
        return false;
    }
    csvHeader_ = csv_.size() > 0;  // appending to an earlier run's rows
    return true;
}

void StatsPoller::start(std::function<void(int)> finished) {
    finished_ = std::move(finished);
    round();
    if (options_.count != 1)
        timer_.start();
}

void StatsPoller::round() {
    if (outputFailed_ || (options_.count > 0 && rounds_ >= options_.count))
        return;
    ++rounds_;
    if (options_.count > 0 && rounds_ >= options_.count)
        timer_.stop();
    for (auto& m : modules_) {
        if (m->queued || m->link->busy()) {
            ++late_;  // its tick would overlap its own request still out
            ++m->late;
            continue;
        }
        m->queued = true;
        queue_.append(m.get());
    }
    dispatch();
    finishIfDone();
}

void StatsPoller::dispatch() {
    while (inFlight_ < options_.parallel && !queue_.isEmpty()) {
        Module& m = *queue_.takeFirst();
        m.queued = false;
        shell_.setModule(m.link->module().text());
        const StatFlow::Step step = m.flow.request(m.link->module().address, m.link->module().port);
        const bool sent = step.sends() && m.link->send(GroupStatistics, step.type,
                                                       [this, &m](Sender s) { ended(m, s); });
        m.flow.requestSent(sent);
        shell_.setModule({});
        if (sent) {
            ++inFlight_;
        } else {
            ++failed_;
            ++m.failed;
            showStatus();
        }
    }
}

void StatsPoller::ended(Module& m, Sender sender) {
    --inFlight_;
    shell_.setModule(m.link->module().text());
    m.flow.requestEnded(sender, *m.link);
    // The link's own line of a failed connect names no module.
    if (sender == Sender::SendFailed)
        LogEvent(QStringLiteral("Модуль недоступен"));
    shell_.setModule({});
    if (m.link->hasStatistics()) {
        ++answered_;
        ++m.answered;
        writeRow(m);
    } else {
        ++failed_;
        ++m.failed;
    }
    showStatus();
    dispatch();
    finishIfDone();
}

void StatsPoller::writeRow(const Module& m) {
    const QString time = IsoLocalTime(QDateTime::currentDateTime());
    const QString module = m.link->module().text();
    if (csv_.isOpen()) {
        if (!csvHeader_) {
            csv_.write(StatsCsvHeader(options_.separator).toUtf8());
            csvHeader_ = true;
        }
        const QByteArray row =
            StatsCsvRow(time, module, m.link->statistics(), options_.separator).toUtf8();
        if (csv_.write(row) != row.size() || !csv_.flush()) {
            LogEvent(QStringLiteral("Не удалось записать файл %1: %2")
                         .arg(options_.csvPath, csv_.errorString()));
            stopRounds();
            return;
        }
    }
    QByteArray text;
    if (options_.json) {
        text = StatsJsonRow(time, module, m.link->statistics());
    } else if (!csv_.isOpen()) {
        if (!csvHeader_) {
            text = StatsCsvHeader(options_.separator).toUtf8();
            csvHeader_ = true;
        }
        text += StatsCsvRow(time, module, m.link->statistics(), options_.separator).toUtf8();
    }
    if (!text.isEmpty() &&
        (std::fwrite(text.constData(), 1, size_t(text.size()), stdout) != size_t(text.size()) ||
         std::fflush(stdout) != 0)) {
        LogEvent(QStringLiteral("Не удалось записать в стандартный вывод: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno))));
        stopRounds();
    }
}

void StatsPoller::stopRounds() {
    outputFailed_ = true;
    timer_.stop();
    for (Module* waiting : queue_)
        waiting->queued = false;
    queue_.clear();
}

void StatsPoller::showStatus() {
    if (!options_.status)
        return;
    const QByteArray line =
        QStringLiteral("\r\033[Kопрос %1: ответили %2, без ответа %3, опоздали %4")
            .arg(rounds_)
            .arg(answered_)
            .arg(failed_)
            .arg(late_)
            .toUtf8();
    std::fputs(line.constData(), stderr);
    std::fflush(stderr);
    shell_.setStatusShown(true);
}

void StatsPoller::finishIfDone() {
    const bool allRounds = outputFailed_ || (options_.count > 0 && rounds_ >= options_.count);
    if (!allRounds || inFlight_ > 0 || !queue_.isEmpty() || !finished_)
        return;
    if (options_.status)
        std::fputs("\n", stderr);
    // Which modules a long run lost is what its operator asks first, also in a log file.
    for (const auto& m : modules_) {
        shell_.setModule(m->link->module().text());
        LogEvent(QStringLiteral("ответили %1, без ответа %2, опоздали %3")
                     .arg(m->answered)
                     .arg(m->failed)
                     .arg(m->late));
    }
    shell_.setModule({});
    const auto finished = std::move(finished_);
    finished_ = nullptr;
    finished(outputFailed_ ? Exit::Failed : failed_ > 0 ? Exit::Unreachable : Exit::Done);
}
