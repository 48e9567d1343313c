#pragma once
// kestrel-exporter's work: a probe reads one module's statistics and answers in the Prometheus text
// format; /metrics tells about the exporter itself. Prometheus decides what is probed and when;
// the exporter keeps no list of modules.
#include <QHostAddress>
#include <QHttpServer>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <array>
#include <deque>
#include <memory>
#include <optional>

#include "cli/modulelink.h"

struct ExporterOptions {
    QList<QPair<QHostAddress, int>> allow;  // the ranges a probe may dial; none: nothing is dialled
    int concurrency = 16;                   // probes talking to modules at once
    int timeoutMs = 5000;                   // a probe's bound when the scrape names none
    int offsetMs = 500;                     // kept free below the scrape's own time-out
    int queueLimit = 4096;                  // probes waiting for their turn
};

// "ADDR:PORT" (or "ADDR") of a module inside the allowed ranges; otherwise the reason it is
// refused.
std::optional<ModuleAddress> ProbeTarget(const QString& text, const ExporterOptions& options,
                                         QString* refusal);

// Hands the HTTP server sockets it can follow: the socket whose request is being read is known,
// so a probe that ends after its client has gone writes nothing.
class TrackingTcpServer : public QTcpServer {
  public:
    using QTcpServer::QTcpServer;
    QTcpSocket* reading() const { return reading_; }

  protected:
    void incomingConnection(qintptr descriptor) override;

  private:
    QPointer<QTcpSocket> reading_;
};

class Exporter : public QObject {
  public:
    explicit Exporter(ExporterOptions options);
    ~Exporter() override;
    // The port it listens on, 0 when it cannot.
    quint16 listen(const QHostAddress& address, quint16 port);

    // The exporter's own figures in the text format.
    QByteArray ownMetrics() const;
    int inFlight() const { return inFlight_; }

    enum Failure { Timeout, SendError, WrongAnswer, QueueFull, kFailureKinds };

  private:
    struct Probe;
    void probe(const QHttpServerRequest& request, QHttpServerResponder&& responder);
    void dispatch();
    void finish(Probe& probe, std::optional<Failure> failure);

    ExporterOptions options_;
    QHttpServer http_;
    TrackingTcpServer* tcp_ = nullptr;
    std::deque<std::unique_ptr<Probe>> waiting_;
    std::vector<std::unique_ptr<Probe>> running_;
    int inFlight_ = 0;
    quint64 succeeded_ = 0, refused_ = 0;  // succeeded_ also counts the round trips below
    std::array<quint64, kFailureKinds> failed_{};
    // Round trips of answered probes, in seconds: counts per upper bound, and their sum.
    static constexpr std::array<double, 10> kBuckets{0.0005, 0.001, 0.0025, 0.005, 0.01,
                                                     0.025,  0.05,  0.1,    0.25,  1.0};
    std::array<quint64, kBuckets.size()> buckets_{};
    double roundTripSum_ = 0;
};

// The probe's answer: success, duration and, when it succeeded, every counter of the block.
QByteArray ProbeMetrics(bool success, double seconds, const StatisticsBlock* block);
