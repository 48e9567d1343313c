// Four statistics windows in automatic mode against four modules of the simulator, run as a
// process of its own so that the memory figures are the utility's alone, with a short request
// interval, until a given number of statistics requests has been sent. Reports what was sent,
// answered and timed out and the memory, and checks each window's finished log.
//
//   soak_stat [REQUESTS [INTERVAL_MS]]     defaults: 3000 requests, 20 ms
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>
#include <string>

#include <QtWidgets>
#include "forms/main.h"
#include "ui/speedbutton.h"

#include "forms/stat.h"
#include "link/exchange.h"
#include "link/pending.h"
#include "support/process_stats.h"
#include "support/windows.h"
#include "ui/errorreport.h"
#include "ui/radiogroup.h"
#include "ui/stringgrid.h"

namespace {

// What the simulator's log says it received and answered.
struct SimCounts {
    QList<int> ports;
    int statRequests = 0;
    int statAnswers = 0;
    int clears = 0;
    QByteArray partial;

    void take(const QByteArray& output) {
        partial += output;
        int end;
        while ((end = partial.indexOf('\n')) >= 0) {
            const QByteArray line = partial.left(end);
            partial.remove(0, end + 1);
            static const QRegularExpression listening(
                QStringLiteral("listening on [0-9.]+:(\\d+)"));
            const auto m = listening.match(QString::fromLatin1(line));
            if (m.hasMatch())
                ports << m.captured(1).toInt();
            else if (line.contains(" -> ") && line.endsWith("  02 08"))
                ++statRequests;
            else if (line.contains(" <- ") && line.contains("  02 08 "))
                ++statAnswers;
            else if (line.contains(" -> ") && line.endsWith("  02 10"))
                ++clears;
        }
    }
};

int Count(const QString& memo, const QString& message) {
    return static_cast<int>(memo.count(message));
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int target = argc > 1 ? std::atoi(argv[1]) : 3000;
    const int intervalMs = argc > 2 ? std::atoi(argv[2]) : 20;

    // Fast counters, so that an answer changes cells every second.
    QProcess sim;
    SimCounts counts;
    QObject::connect(&sim, &QProcess::readyReadStandardOutput,
                     [&] { counts.take(sim.readAllStandardOutput()); });
    sim.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../kestrel-sim"),
              {"--rate", "50", "127.0.0.1:0", "127.0.0.2:0", "127.0.0.3:0", "127.0.0.4:0"});
    QElapsedTimer startUp;
    startUp.start();
    while (counts.ports.size() < 4 && startUp.elapsed() < 5000) {
        sim.waitForReadyRead(100);
        counts.take(sim.readAllStandardOutput());
    }
    if (counts.ports.size() < 4) {
        std::fprintf(stderr, "simulator did not start: %s\n",
                     sim.readAllStandardError().constData());
        return 2;
    }

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QStringList reports;
    SetErrorReportSink([&](const QString& text) { reports << text; });
    auto form = std::make_unique<TMainForm>(dir.filePath("kestrel.ini"));
    for (int n = 0; n < 4; ++n) {
        form->ButtonStatClick();
        TStatForm* w = StatWindow(n);
        w->EditStatIp->setText(QStringLiteral("127.0.0.%1").arg(n + 1));
        w->EditStatPort->setText(QString::number(counts.ports[n]));
        w->TimerRequestStat->setInterval(intervalMs);
        w->RadioGroupRequestType->button(1)->click();
        w->RequestButton->click();
    }

    QElapsedTimer clock;
    clock.start();
    long rssAfterWarmUp = -1;
    while (counts.statRequests < target && clock.elapsed() < 600000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (rssAfterWarmUp < 0 && counts.statRequests >= target / 10)
            rssAfterWarmUp = StatusKb("VmRSS:");
    }
    const double seconds = clock.elapsed() / 1000.0;
    // No new requests; those on their way are answered, then every window stops.
    for (TStatForm* w : StatWindowList())
        w->TimerRequestStat->stop();
    QElapsedTimer settle;
    settle.start();
    auto waiting = [] {
        int n = 0;
        for (TStatForm* w : StatWindowList())
            n += w->Flow.PendingStatType != Awaiting::None ? 1 : 0;
        return n;
    };
    while (waiting() > 0 && settle.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const int unanswered = waiting();
    for (TStatForm* w : StatWindowList())
        w->RequestButton->click();  // stop: the finished log
    const long rssEnd = StatusKb("VmRSS:");
    const long peak = StatusKb("VmHWM:");

    const QString memo = form->Memo->toPlainText();
    const int timeouts = Count(
        memo, QStringLiteral("Нет ответа от удаленного мультиплексора на запрос статистики!"));
    const int wrong =
        Count(memo, QStringLiteral("Ошибочный ответ мультиплексора на запрос статистики!"));
    const int unwritten = Count(memo, QStringLiteral("Не удалось записать файл статистики: "));

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
    const int pending = MainWindow()->Pending.count();
    const int open = OpenExchangeCount();

    form.reset();
    SetErrorReportSink({});
    WaitForReceiveThreads(5000);
    sim.terminate();
    sim.waitForFinished(5000);
    counts.take(sim.readAllStandardOutput());

    std::printf("requests sent      %d in %.1f s (interval %d ms, 4 windows), and %d clears\n",
                counts.statRequests, seconds, intervalMs, counts.clears);
    std::printf("answers            %d sent by the modules\n", counts.statAnswers);
    std::printf("time-outs          %d\n", timeouts);
    std::printf("wrong answers      %d\n", wrong);
    std::printf("still on their way %d at the stop\n", unanswered);
    std::printf("log blocks         %d in %d files%s\n", blocks, static_cast<int>(logs.size()),
                wellFormed ? "" : " (MALFORMED)");
    std::printf("unwritten logs     %d\n", unwritten);
    std::printf("pending slots      %d, open exchanges %d after the stop\n", pending, open);
    std::printf("peak memory        %ld kB (VmHWM of the utility)\n", peak);
    std::printf("memory growth      %+ld kB (VmRSS %ld kB after %d requests, %ld kB at the end)\n",
                rssEnd - rssAfterWarmUp, rssAfterWarmUp, target / 10, rssEnd);
    std::printf("error reports      %d\n", static_cast<int>(reports.size()));

    const bool ok = wellFormed && timeouts == 0 && wrong == 0 && unwritten == 0 &&
                    reports.isEmpty() && counts.statRequests >= target &&
                    counts.statAnswers == counts.statRequests && pending == 0 && open == 0;
    return ok ? 0 : 1;
}
