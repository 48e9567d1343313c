#pragma once
// A statistics window's flows without a window: the single request, the clear, and the automatic
// mode, which clears the counters, then asks every tick and records each change in a text log.
//
// The window turns presses, ticks, answers, time-outs and send errors into calls here and sends
// the Step a call returns; the request button's caption follows press(), never the other way.
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <memory>

#include "flows/commands.h"
#include "link/exchange.h"
#include "model/statblock.h"
#include "model/statlogfile.h"

class StatCells;

enum class StatMode { Single, Automatic };

class StatFlow {
  public:
    // Send command `type` of group 2 to address:port, or nothing.
    using Step = CommandStep;
    // What a press of the request button does now.
    enum class Press { Request, Start, Stop };

    Press press() const;
    StatMode mode() const { return mode_; }
    // The request type; chosen only while the automatic mode does not run.
    void setMode(StatMode mode) { mode_ = mode; }
    bool running() const { return running_; }
    // The counters are asked every tick: the automatic mode runs and its clear was confirmed.
    bool ticking() const { return ticking_; }

    // A single request, or a tick of the automatic mode; skipped while an answer is awaited.
    Step request(const QString& address, const QString& port);
    void requestSent(bool sent);
    void requestEnded(Sender sender, AnswerTarget& window);

    Step clear(const QString& address, const QString& port);
    void clearSent(bool sent);
    // True when the answer confirmed the clear of a running automatic mode: ticking starts.
    bool clearEnded(Sender sender, AnswerTarget& window);

    // The automatic mode starts with its log in `workingPath` (an empty path keeps no log: the
    // tables alone, as a benchmark measures them); a single request still on its way is given
    // up, since its counts date from before the clear.
    void start(const QString& workingPath, StatLogFile::FailureReport report);
    // Stops ticking and finishes the log, named after `address` and `now`.
    void stop(const QString& address, const QDateTime& now);
    // Finishes a running log as a stop does; nothing when none runs.
    void finishLog(const QString& address, const QDateTime& now);
    const StatLogFile* log() const { return log_.get(); }

    // A statistics answer: the totals always; every session cell, or while ticking only the
    // changed ones, whose lines go to the log stamped `now`.
    void show(const uint8_t* block, StatCells& totals, StatCells& sessions, const QDateTime& now);

    Awaiting PendingStatType = Awaiting::None;   // or ReadStatistics
    Awaiting PendingClearType = Awaiting::None;  // or ClearStatistics
    QString StatLogName;                         // the last finished log's name, without ".txt"
    StatisticsBlock Block{};                     // the last statistics answer

  private:
    StatMode mode_ = StatMode::Single;
    bool running_ = false;
    bool ticking_ = false;
    std::unique_ptr<StatLogFile> log_;
};
