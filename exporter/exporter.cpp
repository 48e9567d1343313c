#include "exporter/exporter.h"

#include <QElapsedTimer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTimer>
#include <QUrlQuery>
#include <cmath>

#include "flows/statflow.h"
#include "link/codecs.h"
#include "link/shell.h"
#include "model/statcolumns.h"

namespace {

const QByteArray kTextFormat = QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8");
const char* const kFailureNames[] = {"timeout", "send_error", "wrong_answer", "queue_full"};

QByteArray Number(double value) {
    return QByteArray::number(value, 'g', 9);
}

}  // namespace

std::optional<ModuleAddress> ProbeTarget(const QString& text, const ExporterOptions& options,
                                         QString* refusal) {
    const auto module = ParseModuleAddress(text);
    if (!module) {
        *refusal = QStringLiteral("target: ожидается ADDR[:PORT] с адресом IPv4, получено \"%1\"")
                       .arg(text);
        return std::nullopt;
    }
    // The address as the dialler reads it: another reading of the same text (a zero-padded part
    // taken for octal) could let the check pass one module and the connect reach another.
    const auto endpoint = ParseModuleEndpoint(module->address, module->port);
    const auto& ip = endpoint->ip;
    const QHostAddress address(quint32(ip[0]) << 24 | quint32(ip[1]) << 16 | quint32(ip[2]) << 8 |
                               ip[3]);
    for (const auto& range : options.allow) {
        if (address.isInSubnet(range))
            return module;
    }
    *refusal = QStringLiteral("target %1 вне разрешённых диапазонов (--allow)").arg(module->text());
    return std::nullopt;
}

QByteArray ProbeMetrics(bool success, double seconds, const StatisticsBlock* block) {
    QByteArray out;
    out +=
        "# HELP probe_success Whether the module answered with its whole statistics block.\n"
        "# TYPE probe_success gauge\n"
        "probe_success " +
        QByteArray(success ? "1" : "0") + "\n";
    out +=
        "# HELP probe_duration_seconds How long the probe took.\n"
        "# TYPE probe_duration_seconds gauge\n"
        "probe_duration_seconds " +
        Number(seconds) + "\n";
    if (!block)
        return out;
    out +=
        "# HELP kestrel_session_events_total A session's counter of one section and path, "
        "16 bits wide: it wraps at 65536.\n"
        "# TYPE kestrel_session_events_total counter\n";
    for (const StatColumn& c : StatColumns()) {
        if (c.total)
            continue;
        out += "kestrel_session_events_total{session=\"" + c.session.toLatin1() + "\",section=\"" +
               c.section.toLatin1() + "\",counter=\"" + c.counter.toLatin1() + "\",path=\"" +
               c.path.toLatin1() + "\"} " + QByteArray::number(StatColumnValue(*block, c)) + "\n";
    }
    out +=
        "# HELP kestrel_packets_total A section's packet total, 16 bits wide: it wraps at "
        "65536.\n"
        "# TYPE kestrel_packets_total counter\n";
    for (const StatColumn& c : StatColumns()) {
        if (!c.total)
            continue;
        out += "kestrel_packets_total{section=\"" + c.section.toLatin1() + "\",counter=\"" +
               c.counter.toLatin1() + "\",path=\"" + c.path.toLatin1() + "\"} " +
               QByteArray::number(StatColumnValue(*block, c)) + "\n";
    }
    return out;
}

// One probe: the HTTP answer it owes, the socket it goes back on (gone when the client left), and
// the module's exchange.
struct Exporter::Probe {
    std::optional<QHttpServerResponder> responder;
    QPointer<QTcpSocket> socket;
    ModuleAddress module;
    std::unique_ptr<ModuleLink> link;
    StatFlow flow;
    QElapsedTimer clock;
    QTimer deadline;
    bool finished = false;
};

void TrackingTcpServer::incomingConnection(qintptr descriptor) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    // Connected before the HTTP server's own handler, so it runs first on every read.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { reading_ = socket; });
    addPendingConnection(socket);
}

quint16 Exporter::listen(const QHostAddress& address, quint16 port) {
    tcp_ = new TrackingTcpServer(this);
    if (!tcp_->listen(address, port))
        return 0;
    http_.bind(tcp_);
    return tcp_->serverPort();
}

Exporter::Exporter(ExporterOptions options) : options_(std::move(options)) {
    http_.route(QStringLiteral("/probe"),
                [this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
                    RunGuarded([&] { probe(request, std::move(responder)); });
                });
    http_.route(QStringLiteral("/metrics"),
                [this] { return QHttpServerResponse(kTextFormat, ownMetrics()); });
}

Exporter::~Exporter() = default;

void Exporter::probe(const QHttpServerRequest& request, QHttpServerResponder&& responder) {
    const QUrlQuery query(request.url());
    QString refusal;
    const auto module = ProbeTarget(
        query.queryItemValue(QStringLiteral("target"), QUrl::FullyDecoded), options_, &refusal);
    if (!module) {
        ++refused_;
        responder.write((refusal + QLatin1Char('\n')).toUtf8(), "text/plain; charset=utf-8",
                        QHttpServerResponder::StatusCode::BadRequest);
        return;
    }
    auto p = std::make_unique<Probe>();
    p->clock.start();
    p->socket = tcp_ ? tcp_->reading() : nullptr;
    p->module = *module;
    p->responder.emplace(std::move(responder));
    // Ends before Prometheus gives the scrape up, so a silent module shows as a failed probe.
    int bound = options_.timeoutMs;
    bool ok = false;
    const double scrape =
        request.value(QByteArrayLiteral("X-Prometheus-Scrape-Timeout-Seconds")).toDouble(&ok);
    if (ok && scrape > 0)
        bound = std::max(100, static_cast<int>(scrape * 1000) - options_.offsetMs);
    p->deadline.setSingleShot(true);
    p->deadline.setInterval(bound);
    Probe* raw = p.get();
    QObject::connect(&p->deadline, &QTimer::timeout, this, [this, raw] {
        RunGuarded([&] {
            if (raw->link)
                raw->link->giveUp();  // ends through the exchange's own path
            else
                finish(*raw, Timeout);
        });
    });
    p->deadline.start();
    if (static_cast<int>(waiting_.size()) >= options_.queueLimit) {
        waiting_.push_back(std::move(p));
        finish(*raw, QueueFull);
        return;
    }
    waiting_.push_back(std::move(p));
    dispatch();
}

void Exporter::dispatch() {
    while (inFlight_ < options_.concurrency && !waiting_.empty()) {
        std::unique_ptr<Probe> p = std::move(waiting_.front());
        waiting_.pop_front();
        if (p->finished)
            continue;
        Probe* raw = p.get();
        running_.push_back(std::move(p));
        raw->link = std::make_unique<ModuleLink>(raw->module);
        const StatFlow::Step step = raw->flow.request(raw->module.address, raw->module.port);
        ++inFlight_;
        const bool sent =
            step.sends() && raw->link->send(GroupStatistics, step.type, [this, raw](Sender s) {
                raw->flow.requestEnded(s, *raw->link);
                finish(*raw, raw->link->hasStatistics()
                                 ? std::nullopt
                                 : std::optional(s == Sender::Timeout      ? Timeout
                                                 : s == Sender::SendFailed ? SendError
                                                                           : WrongAnswer));
            });
        raw->flow.requestSent(sent);
        if (!sent)
            finish(*raw, SendError);
    }
}

void Exporter::finish(Probe& p, std::optional<Failure> failure) {
    if (p.finished)
        return;
    p.finished = true;
    p.deadline.stop();
    const double seconds = p.clock.nsecsElapsed() / 1e9;
    if (failure) {
        ++failed_[*failure];
    } else {
        ++succeeded_;
        roundTripSum_ += seconds;
        for (size_t i = 0; i < kBuckets.size(); ++i)
            buckets_[i] += seconds <= kBuckets[i] ? 1 : 0;
    }
    const QByteArray body =
        ProbeMetrics(!failure, seconds, failure ? nullptr : &p.link->statistics());
    // A client that left took its socket with it: nothing is written to what is gone.
    if (p.socket)
        p.responder->write(body, kTextFormat);
    else
        p.responder.reset();
    const bool wasRunning = p.link != nullptr;
    // The probe goes once its handler has returned: it may be the one calling here.
    QTimer::singleShot(0, this, [this, raw = &p] {
        running_.erase(std::remove_if(running_.begin(), running_.end(),
                                      [raw](const auto& q) { return q.get() == raw; }),
                       running_.end());
        waiting_.erase(std::remove_if(waiting_.begin(), waiting_.end(),
                                      [raw](const auto& q) { return q.get() == raw; }),
                       waiting_.end());
    });
    if (wasRunning) {
        --inFlight_;
        dispatch();
    }
}

QByteArray Exporter::ownMetrics() const {
    QByteArray out;
    out +=
        "# HELP kestrel_exporter_probes_total Probes served, by result.\n"
        "# TYPE kestrel_exporter_probes_total counter\n";
    out += "kestrel_exporter_probes_total{result=\"success\"} " + QByteArray::number(succeeded_) +
           "\n";
    quint64 failed = 0;
    for (quint64 f : failed_)
        failed += f;
    out += "kestrel_exporter_probes_total{result=\"failed\"} " + QByteArray::number(failed) + "\n";
    out +=
        "kestrel_exporter_probes_total{result=\"refused\"} " + QByteArray::number(refused_) + "\n";
    out +=
        "# HELP kestrel_exporter_probe_failures_total Failed probes, by kind.\n"
        "# TYPE kestrel_exporter_probe_failures_total counter\n";
    for (int k = 0; k < kFailureKinds; ++k)
        out += "kestrel_exporter_probe_failures_total{reason=\"" + QByteArray(kFailureNames[k]) +
               "\"} " + QByteArray::number(failed_[k]) + "\n";
    out +=
        "# HELP kestrel_exporter_probes_in_flight Probes talking to a module now.\n"
        "# TYPE kestrel_exporter_probes_in_flight gauge\n"
        "kestrel_exporter_probes_in_flight " +
        QByteArray::number(inFlight_) + "\n";
    out +=
        "# HELP kestrel_exporter_probe_round_trip_seconds Duration of the probes that "
        "succeeded.\n"
        "# TYPE kestrel_exporter_probe_round_trip_seconds histogram\n";
    for (size_t i = 0; i < kBuckets.size(); ++i)
        out += "kestrel_exporter_probe_round_trip_seconds_bucket{le=\"" + Number(kBuckets[i]) +
               "\"} " + QByteArray::number(buckets_[i]) + "\n";
    out += "kestrel_exporter_probe_round_trip_seconds_bucket{le=\"+Inf\"} " +
           QByteArray::number(succeeded_) + "\n";
    out += "kestrel_exporter_probe_round_trip_seconds_sum " + Number(roundTripSum_) + "\n";
    out +=
        "kestrel_exporter_probe_round_trip_seconds_count " + QByteArray::number(succeeded_) + "\n";
    return out;
}
