// Four statistics windows in automatic mode against four simulated modules, with a short
// request interval, until a given number of statistics requests has been sent. Reports what
// was sent, answered and timed out, the memory, and checks each window's finished log.
//
//   soak_stat [REQUESTS [INTERVAL_MS]]     defaults: 3000 requests, 20 ms
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRadioButton>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <string>

#include "forms/main.h"
#include "forms/stat.h"
#include "link/exchange.h"
#include "link/pending.h"
#include "sim/simulator.h"
#include "ui/errorreport.h"

namespace {

// Kilobytes of a "VmRSS:" or "VmHWM:" line of /proc/self/status.
long StatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::string(field).size()));
    }
    return -1;
}

int CountStatRequests(Simulator& sim) {
    int n = 0;
    for (int m = 0; m < sim.moduleCount(); ++m) {
        for (const auto& request : sim.module(m).requests())
            n += request.size() >= 2 && request[1] == CmdReadStatistics ? 1 : 0;
    }
    return n;
}

// Cheap enough to ask between events: every request so far, the four clears included.
int CountAllRequests(Simulator& sim) {
    int n = 0;
    for (int m = 0; m < sim.moduleCount(); ++m)
        n += static_cast<int>(sim.module(m).requestCount());
    return n;
}

int CountMessages(const QString& memo, const QString& message) {
    return static_cast<int>(memo.count(message));
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int target = argc > 1 ? std::atoi(argv[1]) : 3000;
    const int intervalMs = argc > 2 ? std::atoi(argv[2]) : 20;

    SimulatorOptions options;
    options.quiet = true;
    std::vector<Endpoint> endpoints;
    for (uint8_t host = 1; host <= 4; ++host)
        endpoints.push_back(Endpoint{{127, 0, 0, host}, 0});
    Simulator sim(endpoints, options);
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 2;
    }
    // Fast counters, so that nearly every answer changes cells and writes a block.
    sim.setRate(50);

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QStringList reports;
    SetErrorReportSink([&](const QString& text) { reports << text; });
    auto form = std::make_unique<TMainForm>(dir.filePath("kestrel.ini"));
    for (int n = 0; n < 4; ++n) {
        form->ButtonStatClick();
        TStatForm* w = StatWindows[n];
        w->EditStatIp->setText(QStringLiteral("127.0.0.%1").arg(n + 1));
        w->EditStatPort->setText(QString::number(sim.port(n)));
        w->TimerRequestStat->setInterval(intervalMs);
        w->RadioGroupRequestType->button(1)->click();
        w->RequestButton->click();
    }

    QElapsedTimer clock;
    clock.start();
    long rssAfterWarmUp = -1;
    int sent = 0;
    while ((sent = CountAllRequests(sim) - 4) < target) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (rssAfterWarmUp < 0 && sent >= target / 10)
            rssAfterWarmUp = StatusKb("VmRSS:");
        if (clock.elapsed() > 600000) {
            std::fprintf(stderr, "gave up after 10 minutes\n");
            break;
        }
    }
    const double seconds = clock.elapsed() / 1000.0;
    // Let the requests on their way arrive, then stop every window.
    QElapsedTimer settle;
    settle.start();
    for (TStatForm* w : StatWindows)
        w->TimerRequestStat->stop();
    while (settle.elapsed() < 2000) {
        bool waiting = false;
        for (TStatForm* w : StatWindows)
            waiting = waiting || w->PendingStatType != 0;
        if (!waiting)
            break;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    int unanswered = 0;
    for (TStatForm* w : StatWindows)
        unanswered += w->PendingStatType != 0 ? 1 : 0;
    for (TStatForm* w : StatWindows)
        w->RequestButton->click();  // stop: the finished log
    sent = CountStatRequests(sim);
    const long rssEnd = StatusKb("VmRSS:");
    const long peak = StatusKb("VmHWM:");

    const QString memo = form->Memo->toPlainText();
    const int timeouts = CountMessages(
        memo, QStringLiteral("Нет ответа от удаленного мультиплексора на запрос статистики!"));
    const int wrong =
        CountMessages(memo, QStringLiteral("Ошибочный ответ мультиплексора на запрос статистики!"));
    const int unwritten =
        CountMessages(memo, QStringLiteral("Не удалось записать файл статистики: "));
    const int answers = sent - timeouts - unanswered;

    // Every window's finished log: whole blocks, each ended by its asterisk line.
    const QStringList logs = QDir::current().entryList({"*.txt"}, QDir::Files);
    int blocks = 0;
    bool wellFormed = logs.size() == 4;
    for (const QString& name : logs) {
        QFile f(name);
        wellFormed = wellFormed && !name.contains(".part.") && f.open(QIODevice::ReadOnly);
        const QByteArray text = f.readAll();
        const int n = static_cast<int>(text.count("*********************************\n\n"));
        blocks += n;
        wellFormed = wellFormed && n > 0 && text.endsWith("*********************************\n\n");
    }

    std::printf("requests sent      %d in %.1f s (interval %d ms, 4 windows)\n", sent, seconds,
                intervalMs);
    std::printf("answers            %d\n", answers);
    std::printf("time-outs          %d\n", timeouts);
    std::printf("wrong answers      %d\n", wrong);
    std::printf("on their way       %d (abandoned at the stop)\n", unanswered);
    std::printf("log blocks         %d in %d files%s\n", static_cast<int>(blocks),
                static_cast<int>(logs.size()), wellFormed ? "" : " (MALFORMED)");
    std::printf("unwritten logs     %d\n", unwritten);
    std::printf("pending slots      %d, open exchanges %d at the end\n", PendingRequestCount(),
                OpenExchangeCount());
    std::printf("peak memory        %ld kB (VmHWM)\n", peak);
    std::printf("memory growth      %ld kB (VmRSS %ld kB after %d requests, %ld kB at the end)\n",
                rssEnd - rssAfterWarmUp, rssAfterWarmUp, target / 10, rssEnd);
    std::printf("error reports      %d\n", static_cast<int>(reports.size()));

    form.reset();
    SetErrorReportSink({});
    sim.stop();
    WaitForReceiveThreads(5000);
    const bool ok = wellFormed && timeouts == 0 && wrong == 0 && unwritten == 0 &&
                    reports.isEmpty() && sent >= target;
    return ok ? 0 : 1;
}
