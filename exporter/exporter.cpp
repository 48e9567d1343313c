#include "exporter/exporter.h"

#include <sys/resource.h>
#include <unistd.h>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "headless/clishell.h"

#include "flows/statflow.h"
#include "link/codecs.h"
#include "link/shell.h"
#include "model/statcolumns.h"

namespace {

const QByteArray kTextFormat = QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8");
const char* const kFailureNames[] = {"timeout", "send_error", "wrong_answer", "queue_full",
                                     "expired"};
// The longest scrape time-out taken from a header: what Prometheus allows is far below it.
constexpr double kMaxScrapeSeconds = 3600;

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

namespace {

// Each counter's line up to its value, made once: a probe only appends the numbers.
const std::vector<QByteArray>& CounterLinePrefixes() {
    static const std::vector<QByteArray> prefixes = [] {
        std::vector<QByteArray> out;
        for (const StatColumn& c : StatColumns()) {
            out.push_back(
                c.total
                    ? "kestrel_packets_total{section=\"" + c.section.toLatin1() + "\",counter=\"" +
                          c.counter.toLatin1() + "\",path=\"" + c.path.toLatin1() + "\"} "
                    : "kestrel_session_events_total{session=\"" + c.session.toLatin1() +
                          "\",section=\"" + c.section.toLatin1() + "\",counter=\"" +
                          c.counter.toLatin1() + "\",path=\"" + c.path.toLatin1() + "\"} ");
        }
        return out;
    }();
    return prefixes;
}

}  // namespace

QByteArray ProbeMetrics(bool success, double seconds, const CounterTotals* totals) {
    QByteArray out;
    out +=
        "# HELP probe_success Whether the module answered with its whole statistics block.\n"
        "# TYPE probe_success gauge\n"
        "probe_success ";
    out += success ? "1\n" : "0\n";
    out +=
        "# HELP probe_duration_seconds How long the probe took.\n"
        "# TYPE probe_duration_seconds gauge\n"
        "probe_duration_seconds ";
    out += Number(seconds);
    out += '\n';
    if (!totals || totals->totals().empty())
        return out;
    static const QByteArray kHelp[2] = {
        "# HELP kestrel_session_events_total A session's counter of one section and path, "
        "counted on across the module's 16-bit wrap since the exporter first read it.\n"
        "# TYPE kestrel_session_events_total counter\n",
        "# HELP kestrel_packets_total A section's packet total, counted on across the module's "
        "16-bit wrap since the exporter first read it.\n"
        "# TYPE kestrel_packets_total counter\n"};
    const std::vector<StatColumn>& columns = StatColumns();
    const std::vector<QByteArray>& prefixes = CounterLinePrefixes();
    // One allocation, filled in place: a probe's answer is most of the exporter's own work.
    qsizetype size = out.size() + kHelp[0].size() + kHelp[1].size();
    for (const QByteArray& prefix : prefixes)
        size += prefix.size() + std::numeric_limits<quint64>::digits10 + 2;
    const qsizetype start = out.size();
    out.resize(size);
    char* at = out.data() + start;
    char* const end = out.data() + size;
    const auto put = [&](const QByteArray& text) {
        std::memcpy(at, text.constData(), static_cast<size_t>(text.size()));
        at += text.size();
    };
    for (const bool total : {false, true}) {
        put(kHelp[total]);
        for (size_t i = 0; i < columns.size(); ++i) {
            if (columns[i].total != total)
                continue;
            put(prefixes[i]);
            at = std::to_chars(at, end, totals->totals()[i]).ptr;
            *at++ = '\n';
        }
    }
    out.truncate(at - out.data());
    return out;
}

void CounterTotals::add(const StatisticsBlock& block) {
    const std::vector<StatColumn>& columns = StatColumns();
    std::vector<uint16_t> now(columns.size());
    for (size_t i = 0; i < columns.size(); ++i)
        now[i] = StatColumnValue(block, columns[i]);
    if (last_.empty()) {
        totals_.assign(now.begin(), now.end());
        last_ = std::move(now);
        return;
    }
    int counted = 0;
    bool allFell = true;
    for (size_t i = 0; i < now.size(); ++i) {
        if (last_[i] == 0)
            continue;
        ++counted;
        allFell = allFell && now[i] < last_[i];
    }
    // A clear takes every counter back to zero at once, and what came after it is the rise; a
    // counter that wrapped grows by the distance around the 16-bit circle. A module with a single
    // counter moving cannot tell the two apart: its wraps come every 65536 events, a clear only
    // when an operator asks, so its fall is read as a wrap.
    const bool cleared = counted > 1 && allFell;
    for (size_t i = 0; i < now.size(); ++i)
        totals_[i] += cleared ? now[i] : uint16_t(now[i] - last_[i]);
    last_ = std::move(now);
}

QByteArray ProcessMetrics() {
    QByteArray out =
        "# HELP kestrel_exporter_build_info The exporter's version.\n"
        "# TYPE kestrel_exporter_build_info gauge\n"
        "kestrel_exporter_build_info{version=\"" KESTREL_VERSION "\"} 1\n";
    QFile statFile(QStringLiteral("/proc/self/stat"));
    if (!statFile.open(QIODevice::ReadOnly))
        return out;
    // The fields after the command's name, which is in parentheses and may hold spaces.
    const QByteArray stat = statFile.readAll();
    const QList<QByteArray> f = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (f.size() < 22)
        return out;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    const double page = static_cast<double>(sysconf(_SC_PAGESIZE));
    // Fields 14, 15 (user and system time), 22 (start), 23 (virtual size), 24 (resident pages),
    // counted from the process id as field 1.
    const double cpu = (f[11].toDouble() + f[12].toDouble()) / tick;
    double bootTime = 0;
    QFile procStat(QStringLiteral("/proc/stat"));
    if (procStat.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : procStat.readAll().split('\n')) {
            if (line.startsWith("btime "))
                bootTime = line.mid(6).trimmed().toDouble();
        }
    }
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    const int open =
        static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files).size());
    out +=
        "# HELP process_cpu_seconds_total Total user and system CPU time spent in seconds.\n"
        "# TYPE process_cpu_seconds_total counter\n"
        "process_cpu_seconds_total " +
        Number(cpu) +
        "\n# HELP process_resident_memory_bytes Resident memory size in bytes.\n"
        "# TYPE process_resident_memory_bytes gauge\n"
        "process_resident_memory_bytes " +
        Number(f[21].toDouble() * page) +
        "\n# HELP process_virtual_memory_bytes Virtual memory size in bytes.\n"
        "# TYPE process_virtual_memory_bytes gauge\n"
        "process_virtual_memory_bytes " +
        Number(f[20].toDouble()) +
        "\n# HELP process_open_fds Number of open file descriptors.\n"
        "# TYPE process_open_fds gauge\n"
        "process_open_fds " +
        QByteArray::number(open) +
        "\n# HELP process_max_fds Maximum number of open file descriptors.\n"
        "# TYPE process_max_fds gauge\n"
        "process_max_fds " +
        Number(static_cast<double>(files.rlim_cur)) +
        "\n# HELP process_start_time_seconds Start time of the process since unix epoch in "
        "seconds.\n"
        "# TYPE process_start_time_seconds gauge\n"
        "process_start_time_seconds " +
        Number(bootTime + f[19].toDouble() / tick) + "\n";
    return out;
}

// One scrape's probe: the answer it owes and its deadline, on a precise timer, since a probe
// that ends late is lost whole with its scrape.
struct Exporter::Probe {
    HttpRespond respond;
    QElapsedTimer clock;
    QDeadlineTimer deadline;
    QTimer* timer = nullptr;
    Module* module = nullptr;
    bool answered = false;
};

// One module: its exchange while one runs, the probes that its next or its running exchange
// answers, and its counters' totals.
struct Exporter::Module {
    ModuleAddress address;
    std::unique_ptr<ModuleLink> link;
    StatFlow flow;
    std::vector<std::unique_ptr<Probe>> probes;
    std::optional<std::multimap<qint64, Module*>::iterator> queued;
    CounterTotals totals;
    quint64 lastUse = 0;
};

Exporter::Exporter(ExporterOptions options, StderrShell* shell)
    : options_(std::move(options)), shell_(shell) {}

// The probes' timers are the exporter's children: QObject's destructor deletes them after the
// members, and nothing in between runs the event loop, so none can fire at a probe that is gone.
Exporter::~Exporter() = default;

void Exporter::handle(const HttpRequest& request, HttpRespond respond) {
    if (request.method != "GET" && request.method != "HEAD") {
        respond({405, "text/plain; charset=utf-8", "Only GET and HEAD are served.\n"});
        return;
    }
    if (request.path == "/probe") {
        RunGuarded([&] { probe(request, std::move(respond)); });
    } else if (request.path == "/metrics") {
        respond({200, kTextFormat, ownMetrics() + ProcessMetrics()});
    } else if (request.path == "/-/healthy") {
        respond({200, "text/plain; charset=utf-8", "Healthy\n"});
    } else if (request.path == "/-/ready") {
        respond({200, "text/plain; charset=utf-8", "Ready\n"});
    } else if (request.path == "/") {
        respond({200, "text/html; charset=utf-8",
                 "<!DOCTYPE html>\n<html><head><title>Kestrel Exporter</title></head><body>\n"
                 "<h1>Kestrel Exporter</h1>\n<p>Version " KESTREL_VERSION "</p>\n<ul>\n"
                 "<li><a href=\"/metrics\">/metrics</a>: the exporter's own metrics</li>\n"
                 "<li>/probe?target=ADDR[:PORT]: one module's counters</li>\n"
                 "<li><a href=\"/-/healthy\">/-/healthy</a>, "
                 "<a href=\"/-/ready\">/-/ready</a></li>\n"
                 "</ul>\n</body></html>\n"});
    } else {
        respond({404, "text/plain; charset=utf-8", "Not found: see /\n"});
    }
}

void Exporter::probe(const HttpRequest& request, HttpRespond respond) {
    QString refusal;
    const auto address =
        ProbeTarget(request.query.queryItemValue(QStringLiteral("target"), QUrl::FullyDecoded),
                    options_, &refusal);
    // Ends before Prometheus gives the scrape up, so a silent module shows as a failed probe.
    int bound = options_.timeoutMs;
    const QByteArray scrapeText = request.header("x-prometheus-scrape-timeout-seconds");
    if (address && !scrapeText.isEmpty()) {
        bool ok = false;
        const double scrape = scrapeText.toDouble(&ok);
        if (!ok || !std::isfinite(scrape) || scrape <= 0 || scrape > kMaxScrapeSeconds)
            refusal = QStringLiteral(
                          "X-Prometheus-Scrape-Timeout-Seconds: ожидается число секунд больше 0 "
                          "и не больше %1, получено \"%2\"")
                          .arg(kMaxScrapeSeconds)
                          .arg(QString::fromLatin1(scrapeText.left(64)));
        else
            bound = std::max(100, static_cast<int>(scrape * 1000) - options_.offsetMs);
    }
    if (!address || !refusal.isEmpty()) {
        ++refused_;
        respond({400, "text/plain; charset=utf-8", (refusal + QLatin1Char('\n')).toUtf8()});
        return;
    }
    Module& module = moduleFor(*address);
    auto owned = std::make_unique<Probe>();
    Probe* p = owned.get();
    p->clock.start();
    p->deadline = QDeadlineTimer(bound, Qt::PreciseTimer);
    p->respond = std::move(respond);
    p->module = &module;
    p->timer = new QTimer(this);
    p->timer->setSingleShot(true);
    p->timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(p->timer, &QTimer::timeout, this,
                     [this, p] { RunGuarded([&] { expire(*p); }); });
    p->timer->start(bound);
    module.probes.push_back(std::move(owned));
    // A module already asked, or about to be, is not dialled again: the probe takes that answer.
    if (module.link)
        return;
    const qint64 due = p->deadline.deadlineNSecs();
    if (module.queued) {
        if ((*module.queued)->first <= due)
            return;
        queue_.erase(*module.queued);
    } else if (static_cast<int>(queue_.size()) >= options_.queueLimit) {
        answer(*p, QueueFull, &module);
        module.probes.pop_back();
        return;
    }
    module.queued = queue_.emplace(due, &module);
    dispatch();
}

Exporter::Module& Exporter::moduleFor(const ModuleAddress& address) {
    const QString key = address.text();
    auto it = modules_.find(key);
    if (it == modules_.end()) {
        forget();
        auto m = std::make_unique<Module>();
        m->address = address;
        it = modules_.emplace(key, std::move(m)).first;
    }
    it->second->lastUse = ++useClock_;
    return *it->second;
}

void Exporter::forget() {
    if (static_cast<int>(modules_.size()) < options_.rememberedModules)
        return;
    // The modules probed longest ago and idle now make room, an eighth at a time; one that comes
    // back starts its totals again, which Prometheus reads as a reset.
    std::vector<std::pair<quint64, QString>> idle;
    for (const auto& [key, m] : modules_) {
        if (!m->link && !m->queued && m->probes.empty())
            idle.emplace_back(m->lastUse, key);
    }
    std::sort(idle.begin(), idle.end());
    const size_t drop = std::min(idle.size(), std::max<size_t>(1, modules_.size() / 8));
    for (size_t i = 0; i < drop; ++i)
        modules_.erase(idle[i].second);
}

void Exporter::setLogModule(const Module* module) {
    if (shell_)
        shell_->setModule(module ? module->address.text() : QString());
}

void Exporter::dispatch() {
    while (inFlight_ < options_.concurrency && !queue_.empty()) {
        Module& m = *queue_.begin()->second;
        queue_.erase(queue_.begin());
        m.queued.reset();
        // A probe whose scrape has already ended is answered without a connection; the
        // exchange serves the latest of the others.
        qint64 latest = 0;
        for (auto& p : m.probes) {
            if (p->deadline.hasExpired())
                answer(*p, Expired, &m);
            else
                latest = std::max(latest, p->deadline.remainingTime());
        }
        std::erase_if(m.probes, [](const auto& p) { return p->answered; });
        if (m.probes.empty())
            continue;
        m.link = std::make_unique<ModuleLink>(m.address);
        m.link->setTimeoutMs(static_cast<int>(std::min<qint64>(options_.answerTimeoutMs, latest)));
        ++inFlight_;
        setLogModule(&m);
        const StatFlow::Step step = m.flow.request(m.address.address, m.address.port);
        const bool sent =
            step.sends() && m.link->send(GroupStatistics, step.type,
                                         [this, mp = &m](Sender s) { exchangeEnded(*mp, s); });
        m.flow.requestSent(sent);
        setLogModule(nullptr);
        if (!sent)
            exchangeEnded(m, Sender::SendFailed);
    }
}

void Exporter::exchangeEnded(Module& m, Sender sender) {
    if (!m.link)
        return;
    setLogModule(&m);
    m.flow.requestEnded(sender, *m.link);
    // The link's own line of a failed connect names no reason a reader of the log needs more.
    setLogModule(nullptr);
    const bool success = m.link->hasStatistics();
    if (success)
        m.totals.add(m.link->statistics());
    const std::optional<Failure> failure =
        success ? std::nullopt
                : std::optional(sender == Sender::Timeout      ? Timeout
                                : sender == Sender::SendFailed ? SendError
                                                               : WrongAnswer);
    // The link may be the one calling here: it goes once its call has returned.
    m.link.release()->deleteLater();
    --inFlight_;
    auto probes = std::move(m.probes);
    m.probes.clear();
    for (auto& p : probes)
        answer(*p, failure, &m);
    dispatch();
}

void Exporter::expire(Probe& p) {
    Module& m = *p.module;
    const auto it = std::find_if(m.probes.begin(), m.probes.end(),
                                 [&](const auto& q) { return q.get() == &p; });
    if (it == m.probes.end())
        return;
    const std::unique_ptr<Probe> held = std::move(*it);
    m.probes.erase(it);
    // Not dialled yet: the module is never asked for a scrape that has already ended.
    answer(*held, m.link ? Timeout : Expired, &m);
    if (!m.probes.empty())
        return;
    if (m.link) {
        m.link->giveUp();  // ends through the exchange's own path, freeing its slot
    } else if (m.queued) {
        queue_.erase(*m.queued);
        m.queued.reset();
    }
}

void Exporter::answer(Probe& p, std::optional<Failure> failure, const Module* module) {
    if (p.answered)
        return;
    p.answered = true;
    if (p.timer) {
        p.timer->stop();
        p.timer->deleteLater();
        p.timer = nullptr;
    }
    const double seconds = p.clock.nsecsElapsed() / 1e9;
    if (failure) {
        ++failed_[*failure];
    } else {
        ++succeeded_;
        roundTripSum_ += seconds;
        for (size_t i = 0; i < kBuckets.size(); ++i)
            buckets_[i] += seconds <= kBuckets[i] ? 1 : 0;
    }
    p.respond({200, kTextFormat,
               ProbeMetrics(!failure, seconds, failure || !module ? nullptr : &module->totals)});
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
