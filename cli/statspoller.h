#pragma once
// Polls the counters of many modules: a round every interval, a bounded number of requests out at
// once, never a second request to a module whose last one is still out (that module is late for
// the round). Each answer becomes a row, written and flushed at once.
#include <QFile>
#include <QList>
#include <QObject>
#include <QTimer>
#include <memory>
#include <vector>

#include "flows/statflow.h"
#include "headless/modulelink.h"

class StderrShell;

// Requests out at once at most: the windows' sixteen, so that a fleet is asked no harder than the
// utility asks it.
constexpr int kMaxParallel = 16;

struct StatsOptions {
    int everyMs = 0;
    int count = 1;                // rounds; 0 runs until stopped
    int parallel = kMaxParallel;  // requests out at once
    QString csvPath;              // rows appended here as CSV
    bool json = false;  // rows on standard output as JSON lines (else CSV there, without csvPath)
    QChar separator = QLatin1Char(',');
    bool status = false;                      // a status line on standard error
    int timeoutMs = kDefaultAnswerTimeoutMs;  // a command's answer time-out
};

class StatsPoller : public QObject {
  public:
    StatsPoller(const QList<ModuleAddress>& modules, StatsOptions options, StderrShell& shell);
    ~StatsPoller() override;
    // Opens the CSV file; false (logged) when it cannot be written.
    bool open();
    // Runs the rounds; `finished` hears the exit code once every round is done.
    void start(std::function<void(int)> finished);

    int answered() const { return answered_; }
    int failed() const { return failed_; }
    int late() const { return late_; }

  private:
    struct Module {
        std::unique_ptr<ModuleLink> link;
        StatFlow flow;
        bool queued = false;
        int answered = 0, failed = 0, late = 0;
    };
    void round();
    void dispatch();
    void ended(Module& m, Sender sender);
    void writeRow(const Module& m);
    void showStatus();
    void stopRounds();
    void finishIfDone();

    StatsOptions options_;
    StderrShell& shell_;
    std::vector<std::unique_ptr<Module>> modules_;
    QList<Module*> queue_;
    int inFlight_ = 0;
    int rounds_ = 0;
    int answered_ = 0, failed_ = 0, late_ = 0;
    QTimer timer_;
    QFile csv_;
    bool csvHeader_ = false;
    // A row that could not be written (to the CSV file or standard output) ends the run: counters
    // polled on without being kept would be lost without anyone knowing.
    bool outputFailed_ = false;
    std::function<void(int)> finished_;
};

// The header and rows of the CSV, and the JSON row: one place for the column names and order.
QString StatsCsvHeader(QChar separator);
QString StatsCsvRow(const QString& time, const QString& module, const StatisticsBlock& block,
                    QChar separator);
QByteArray StatsJsonRow(const QString& time, const QString& module, const StatisticsBlock& block);
// ISO 8601 local time with milliseconds and the offset from UTC: "2026-12-09T14:05:01.042+01:00".
QString IsoLocalTime(const QDateTime& at);
