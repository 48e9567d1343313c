// One command on loopback through SendCommand, the receive thread and the hand-over to the
// event loop, beside the same exchange done with plain blocking sockets.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QObject>

#include "link/connection.h"
#include "link/exchange.h"
#include "link/protocol.h"
#include "link/trace.h"
#include "sim/simulator.h"

namespace {

Simulator* g_sim = nullptr;

void ThroughTheLink(benchmark::State& state) {
    QObject window;
    ReceiveBuffer buffer{};
    const QString port = QString::number(g_sim->port(0));
    bool answered = false;
    const Continuation done{&window, 1, [&](Sender) { answered = true; }};
    const uint8_t request[2] = {GroupConfig, CmdReadConfig};
    for (auto _ : state) {
        answered = false;
        const QString error =
            SendCommand(QStringLiteral("127.0.0.1"), port, done, request, 2, buffer);
        if (!error.isEmpty()) {
            state.SkipWithError(error.toStdString().c_str());
            break;
        }
        while (!answered)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        benchmark::DoNotOptimize(buffer[1]);
    }
}

// The same with the exchange trace written to a file (a line of 102 answer bytes in hex each).
void ThroughTheLinkTraced(benchmark::State& state) {
    const QString path = QDir::temp().filePath(QStringLiteral("bench_exchange_trace.log"));
    StartTrace(path);
    ThroughTheLink(state);
    StopTrace();
    QFile::remove(path);
    QFile::remove(path + QStringLiteral(".1"));
}

// The trace's own share: one line of a configuration read, formatted and written.
void TraceLine(benchmark::State& state) {
    const QString path = QDir::temp().filePath(QStringLiteral("bench_exchange_line.log"));
    StartTrace(path);
    TcpConnection c;
    c.remoteAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    c.remoteAddress.sin_port = htons(65530);
    c.request = {GroupConfig, CmdReadConfig};
    c.started = std::chrono::steady_clock::now();
    for (auto _ : state)
        TraceExchange(c, TraceOutcome::Answer, c.received.data(), 102);
    StopTrace();
    QFile::remove(path);
    QFile::remove(path + QStringLiteral(".1"));
}

// First argument 1: the statistics read a probe makes, which the exporter's cost per probe is set
// beside. Second argument: microseconds between exchanges, 0 for none; an exchange paced as
// Prometheus paces probes finds its threads asleep and pays for waking them.
void PlainSockets(benchmark::State& state) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(g_sim->port(0));
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    const uint8_t request[2] = {state.range(0) ? GroupStatistics : GroupConfig,
                                state.range(0) ? CmdReadStatistics : CmdReadConfig};
    const int length = AnswerLength(request[0], request[1]);
    uint8_t answer[2000];
    for (auto _ : state) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            state.SkipWithError("connect");
            ::close(fd);
            break;
        }
        ::send(fd, request, 2, MSG_NOSIGNAL);
        int got = 0;
        while (got < length) {
            const ssize_t n = ::recv(fd, answer + got, sizeof answer - got, 0);
            if (n <= 0)
                break;
            got += static_cast<int>(n);
        }
        ::close(fd);
        benchmark::DoNotOptimize(answer[1]);
        if (state.range(1) > 0) {
            state.PauseTiming();
            ::usleep(static_cast<useconds_t>(state.range(1)));
            state.ResumeTiming();
        }
    }
}

BENCHMARK(ThroughTheLink)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(ThroughTheLinkTraced)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(TraceLine)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(PlainSockets)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 7500})
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    SimulatorOptions options;
    options.quiet = true;
    Simulator sim({Endpoint{{127, 0, 0, 1}, 0}}, options);
    std::string error;
    if (!sim.start(&error)) {
        fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }
    g_sim = &sim;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    sim.stop();
    WaitForReceiveThreads(2000);
    return 0;
}
