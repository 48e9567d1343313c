#pragma once
// kestrel-exporter's work: a probe reads one module's statistics and answers in the Prometheus text
// format; /metrics tells about the exporter itself. Prometheus decides what is probed and when;
// the exporter keeps no list of modules, only the last counters of those it has read, so that
// its totals outlive the modules' 16-bit wrap.
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "exporter/http.h"
#include "headless/modulelink.h"

class StderrShell;

struct ExporterOptions {
    QList<QPair<QHostAddress, int>> allow;  // the ranges a probe may dial; none: nothing is dialled
    int concurrency = 128;                  // modules talked to at once
    int timeoutMs = 5000;                   // a probe's bound when the scrape names none
    int offsetMs = 500;                     // kept free below the scrape's own time-out
    int queueLimit = 4096;                  // modules waiting for their turn
    int answerTimeoutMs = 3000;             // a module's own answer time-out within the bound
    int rememberedModules = 16384;          // modules whose last counters are kept
};
constexpr int kMaxConcurrency = 1024;

// "ADDR:PORT" (or "ADDR") of a module inside the allowed ranges; otherwise the reason it is
// refused.
std::optional<ModuleAddress> ProbeTarget(const QString& text, const ExporterOptions& options,
                                         QString* refusal);

// One module's counters as totals: each 16-bit counter grows by its wrapped difference from the
// last read, so a total is right while fewer than 65536 events fall between two reads. A clear
// (every counter that was not zero falls at once, two at least) restarts the count from the new
// values.
class CounterTotals {
  public:
    void add(const StatisticsBlock& block);
    // Per StatColumns() column; empty before the first read.
    const std::vector<quint64>& totals() const { return totals_; }

  private:
    std::vector<uint16_t> last_;
    std::vector<quint64> totals_;
};

class Exporter : public QObject {
  public:
    // `shell` (may be null) takes the event log: each line is put under its module.
    explicit Exporter(ExporterOptions options, StderrShell* shell = nullptr);
    ~Exporter() override;

    // Every HTTP request: the probe, the exporter's own metrics, the landing page and the
    // health endpoints.
    void handle(const HttpRequest& request, HttpRespond respond);
    // The exporter's own figures in the text format.
    QByteArray ownMetrics() const;
    int inFlight() const { return inFlight_; }
    int remembered() const { return static_cast<int>(modules_.size()); }

    enum Failure { Timeout, SendError, WrongAnswer, QueueFull, Expired, kFailureKinds };

  private:
    struct Probe;
    struct Module;
    void probe(const HttpRequest& request, HttpRespond respond);
    void dispatch();
    void exchangeEnded(Module& module, Sender sender);
    void answer(Probe& probe, std::optional<Failure> failure, const Module* module);
    void expire(Probe& probe);
    Module& moduleFor(const ModuleAddress& address);
    void forget();
    void setLogModule(const Module* module);

    ExporterOptions options_;
    StderrShell* shell_;
    // Modules by "ADDR:PORT": their exchange, the probes waiting for it, their totals.
    std::map<QString, std::unique_ptr<Module>> modules_;
    // Modules waiting for a slot, the earliest deadline first.
    std::multimap<qint64, Module*> queue_;
    int inFlight_ = 0;
    quint64 useClock_ = 0;
    quint64 succeeded_ = 0, refused_ = 0;  // succeeded_ also counts the round trips below
    std::array<quint64, kFailureKinds> failed_{};
    // Round trips of answered probes, in seconds: counts per upper bound, and their sum.
    static constexpr std::array<double, 10> kBuckets{0.0005, 0.001, 0.0025, 0.005, 0.01,
                                                     0.025,  0.05,  0.1,    0.25,  1.0};
    std::array<quint64, kBuckets.size()> buckets_{};
    double roundTripSum_ = 0;
};

// The probe's answer: success, duration and, when it succeeded, every counter as its total.
QByteArray ProbeMetrics(bool success, double seconds, const CounterTotals* totals);
// The exporter's build information and the process's own figures, as client libraries give them.
QByteArray ProcessMetrics();
