// Every window of the utility at once against simulated modules that answer each request at
// random (seeded): a good answer, type 255, no answer, a close without answer, an answer in two
// segments, or a late one. Runs until a given number of requests has reached the modules, lets
// everything on its way end, and checks that every exchange ended in its answer, its
// wrong-answer line or its time-out line, that nothing stays open, and that memory came back.
//
//   soak_faults [EXCHANGES [SEED [TIMER_MS [CLOSE_EVERY]]]]
//   defaults: 20000 exchanges, seed 1, 20 ms, a statistics window closed every EXCHANGES/200
//
// The main window's Timer runs every TIMER_MS, so a time-out comes after two to three of them;
// the modules delay answers by up to four ticks, so some answers come after their time-out.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include <QtWidgets>
#include "forms/currentlinks.h"
#include "forms/main.h"
#include "ui/speedbutton.h"

#include "forms/settings.h"
#include "forms/stat.h"
#include "forms/switch.h"
#include "link/exchange.h"
#include "link/pending.h"
#include "sim/simulator.h"
#include "support/process_stats.h"
#include "support/windows.h"
#include "ui/errorreport.h"
#include "ui/optionlist.h"
#include "ui/radiogroup.h"
#include "ui/stringgrid.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer holds freed memory in quarantine and pads every block, so the resident size
// says nothing about leaks there; LeakSanitizer checks at exit instead.
constexpr bool kMemoryBounded = false;
#else
constexpr bool kMemoryBounded = true;
#endif

namespace {

// Module 1 and 2: the switching pair A and B; 3 to 6: one per statistics window; 7: the
// settings window's module; 8: the module of the current-links window and the selective reset.
constexpr int kModules = 8;
constexpr int kSettingsModule = 6;
constexpr int kLinksModule = 7;
constexpr int kFirstStatModule = 2;

enum Window { Settings, Switching, Links, Stat1, Stat2, Stat3, Stat4, kWindows };
const char* const kWindowNames[kWindows] = {"settings",     "switching",    "current links",
                                            "statistics 1", "statistics 2", "statistics 3",
                                            "statistics 4"};

// The event log lines by which each window ends an exchange. A good answer to a statistics
// read, a switching read or a current-links read writes no line of its own.
struct Lines {
    QStringList ok, wrong, timeout;
};
const Lines& LinesOf(int window) {
    static const Lines settings{
        {QStringLiteral("Соединение с удаленным мультиплексором установлено"),
         QStringLiteral("Конфигурация считана"), QStringLiteral("Конфигурация установлена")},
        {QStringLiteral("Ошибочный ответ мультиплексора на команду установления соединения"),
         QStringLiteral("Ошибочный ответ мультиплексора на команду чтения текущих настроек!"),
         QStringLiteral("Ошибочный ответ мультиплексора на команду сохранения настроек!")},
        {QStringLiteral("Не могу установить соединение с удаленным мультиплексором!"),
         QStringLiteral("Не могу прочитать настройки удаленного мультиплексора!"),
         QStringLiteral(
             "Нет ответа от удаленного мультиплексора на команду сохранения настроек!")}};
    static const Lines switching{
        {QStringLiteral("Текущие коммутационные настройки мультиплексора А успешно сохранены"),
         QStringLiteral("Текущие коммутационные настройки мультиплексора В успешно сохранены"),
         QStringLiteral("Сброс настроек мультиплексора А произведен"),
         QStringLiteral("Сброс настроек мультиплексора B произведен")},
        {QStringLiteral(
             "Ошибочный ответ мультиплексора на команду запроса коммутационных настроек"),
         QStringLiteral("Ошибочный ответ мультиплексора A на команду сохранения коммутационных "
                        "настроек!"),
         QStringLiteral("Ошибочный ответ мультиплексора B на команду сохранения коммутационных "
                        "настроек!")},
        {QStringLiteral("Нет ответа от мультиплексора A на запрос коммутационных настроек!"),
         QStringLiteral("Нет ответа от мультиплексора B на запрос коммутационных настроек!"),
         QStringLiteral(
             "Нет ответа от мультиплексора A на команду сохранения коммутационных настроек!"),
         QStringLiteral(
             "Нет ответа от мультиплексора B на команду сохранения коммутационных настроек!")}};
    static const Lines links{
        {},
        {QStringLiteral("Ошибочный ответ мультиплексора на запрос коммутационных настроек!")},
        {QStringLiteral("Нет ответа от мультиплексора A на запрос коммутационных настроек")}};
    // The four statistics windows write the same lines; they are counted together.
    static const Lines statistics{
        {QStringLiteral("Статистика сброшена")},
        {QStringLiteral("Ошибочный ответ мультиплексора на запрос статистики!"),
         QStringLiteral("Ошибочный ответ мультиплексора на команду сброса статистики!")},
        {QStringLiteral("Нет ответа от удаленного мультиплексора на запрос статистики!"),
         QStringLiteral("Нет ответа от удаленного мультиплексора на команду сброса статистики!")}};
    switch (window) {
        case Settings:
            return settings;
        case Switching:
            return switching;
        case Links:
            return links;
        default:
            return statistics;
    }
}

struct Tally {
    uint64_t sent = 0;       // requests the modules received
    uint64_t answered = 0;   // handed to the window's handler as its answer
    uint64_t timedOut = 0;   // handed to the window's handler as its time-out
    uint64_t abandoned = 0;  // given up by closing the window while it waited
    int okLines = 0, wrongLines = 0, timeoutLines = 0;
};

const char* const kStopCaption = "Прекратить";

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const uint64_t target = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 20000;
    const uint32_t seed = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 1;
    const int timerMs = argc > 3 ? std::atoi(argv[3]) : 20;
    const int maxDelayMs = 4 * timerMs;
    // Exchanges between two closes of a statistics window.
    const uint64_t closeEvery = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : target / 200;
    const long memoryBoundKb = 2048;

    SimulatorOptions options;
    options.quiet = true;
    options.recordRequests = false;
    std::vector<Endpoint> endpoints;
    for (int i = 0; i < kModules; ++i)
        endpoints.push_back(Endpoint{{127, 0, 0, static_cast<uint8_t>(i + 1)}, 0});
    Simulator sim(endpoints, options);
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "simulator did not start: %s\n", error.c_str());
        return 2;
    }
    sim.setRate(50);  // counters change every second, so automatic answers record changes
    std::vector<ModuleState> seeded;
    for (int i = 0; i < kModules; ++i) {
        sim.module(i).setMisbehaviourForAll(
            Misbehaviour{MisbehaviourKind::Random, maxDelayMs, seed});
        seeded.push_back(sim.module(i).state());
    }
    // Resets clear the links; the modules get them back so later resets have work to do.
    const auto restoreLinks = [&](int module) {
        ModuleState links;
        links.switching = seeded[static_cast<size_t>(module)].switching;
        sim.module(module).apply(links);
    };
    // Every switching write a module receives keeps what the module holds of its own (bytes 0
    // to 3 and 7 of each entry): a block built from another module's read, or from none, does not.
    std::atomic<int> foreignWrites{0};
    std::atomic<int> switchingWrites{0};
    for (int m : {0, 1, kLinksModule}) {
        sim.module(m).setWriteWatcher([&](const SwitchingBlock& before, const SwitchingBlock& w) {
            ++switchingWrites;
            for (int port = 0; port < kPortCount; ++port) {
                const int at = PortEntryOffsetOf(port);
                for (int i : {0, 1, 2, 3, 7}) {
                    if (w[at + i] != before[at + i]) {
                        ++foreignWrites;
                        return;
                    }
                }
            }
        });
    }
    const auto address = [](int module) { return QStringLiteral("127.0.0.%1").arg(module + 1); };
    const auto port = [&](int module) { return QString::number(sim.port(module)); };

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());  // the statistics logs go here
    QStringList reports;
    SetErrorReportSink([&](const QString& text) { reports << text; });
    auto form = std::make_unique<TMainForm>(dir.filePath(QStringLiteral("kestrel.ini")));
    form->Timer->setInterval(timerMs);
    form->show();

    SettingsWindow()->EditMuxIp->setText(address(kSettingsModule));
    SettingsWindow()->EditMuxPort->setText(port(kSettingsModule));
    form->SettingsButton->click();

    // A statistics window is opened into the first free slot, and remembers its module there.
    const auto openStatWindow = [&](int n) {
        form->ButtonStatClick();
        TStatForm* w = StatWindow(n);
        w->EditStatIp->setText(address(kFirstStatModule + n));
        w->EditStatPort->setText(port(kFirstStatModule + n));
        w->TimerRequestStat->setInterval(timerMs / 4 + 1);
        w->RadioGroupRequestType->button(1)->click();
    };
    for (int n = 0; n < kStatSlots; ++n)
        openStatWindow(n);

    TSwitchForm* sw = nullptr;
    TCurLinksForm* links = nullptr;
    const auto chooseResetType = [&](int index) {
        sw->ComboBoxSwResetType->setCurrentIndex(index);
        RunGuarded([&] { sw->ComboBoxSwResetTypeChange(); });
    };
    // "Селективный" opens the current-links window, or shows the one that is open.
    const auto openLinksWindow = [&] {
        chooseResetType(1);
        links = LinksWindow();
        links->EditIp->setText(address(kLinksModule));
        links->EditPort->setText(port(kLinksModule));
    };
    const auto openSwitchWindow = [&] {
        form->ButtonSwitching->click();
        sw = SwitchWindow();
        sw->ComboBoxSwIpA->setEditText(address(0));
        sw->EditSwPortA->setText(port(0));
        sw->ComboBoxSwIpB->setEditText(address(1));
        sw->EditSwPortB->setText(port(1));
    };
    openSwitchWindow();
    openLinksWindow();
    QCoreApplication::processEvents();

    const auto windowOf = [&](const QObject* window) -> int {
        if (window == SettingsWindow())
            return Settings;
        if (window == SwitchWindow())
            return Switching;
        if (window == LinksWindow())
            return Links;
        for (int n = 0; n < kStatSlots; ++n) {
            if (window == StatWindow(n))
                return Stat1 + n;
        }
        return -1;
    };
    Tally tally[kWindows];
    int strayEnds = 0;
    SetExchangeWatcher([&](const Continuation& c, ExchangeEnd end) {
        const int w = windowOf(c.window);
        if (w < 0) {
            ++strayEnds;
            return;
        }
        // A close counts what had reached its module; a connect under way ends unseen.
        ++(end == ExchangeEnd::Answered    ? tally[w].answered
           : end == ExchangeEnd::Abandoned ? tally[w].abandoned
                                           : tally[w].timedOut);
    });

    // The event log is read and emptied as it goes: a log that keeps every line of a long run
    // would hide a leak behind its own growth.
    std::map<QString, int> lines;
    const auto drainLog = [&] {
        const QString text = form->Memo->toPlainText();
        for (const QString& line : text.split(QLatin1Char('\n'))) {
            if (!line.isEmpty() && !line.startsWith(QStringLiteral("********")))
                ++lines[line];
        }
        form->Memo->clear();
    };
    const auto received = [&] {
        uint64_t n = 0;
        for (int i = 0; i < kModules; ++i)
            n += sim.module(i).requestCount();
        return n;
    };

    const int fdStart = OpenFdCount();
    const long rssStart = StatusKb("VmRSS:");
    long rssWarm = -1;
    long rssHalf = -1;
    long rssFirstHalfMax = -1;  // sampled every hundredth of the run
    uint64_t nextSample = 0;
    int fdWarm = -1;

    // The operator: presses whatever is idle, as often as the windows allow.
    bool issuing = true;
    int settingsStep = 0;
    int switchStep = 0;
    int statRestarts = 0;  // after a clear that failed
    int statRenewals = 0;  // a running automatic mode stopped and started again
    std::array<uint64_t, kStatSlots> statRestartAt{};
    uint64_t lastClose = 0;
    uint64_t lastOtherClose = 0;
    int nextOtherClose = 0;
    int nextClose = 0;
    int closed = 0;
    const auto statIdle = [](TStatForm* w) {
        return w->Flow.PendingStatType == Awaiting::None &&
               w->Flow.PendingClearType == Awaiting::None;
    };
    const auto operate = [&] {
        if (!issuing)
            return;
        TSettingsForm* s = SettingsWindow();
        if (s->Flow.ConnectState == Awaiting::None && s->Flow.ApplyState == Awaiting::None) {
            // A write needs a configuration read into the window; its fields are empty otherwise.
            if (settingsStep++ % 3 == 2 && !s->EditLocalIp->text().isEmpty())
                s->ButtonSetCurOptions->click();
            else
                s->ButtonMuxConnection->click();
        }
        // Now and then a statistics window is closed whatever it waits for, and opened again.
        if (received() - lastClose > closeEvery) {
            lastClose = received();
            const int n = nextClose++ % kStatSlots;
            TStatForm* w = StatWindow(n);
            w->close();
            ++closed;
            openStatWindow(n);
            statRestartAt[n] = received();
        }
        // Less often the switching or the current-links window, in turn.
        if (received() - lastOtherClose > 3 * closeEvery) {
            lastOtherClose = received();
            if (nextOtherClose++ % 2 == 0) {
                sw->close();
                openSwitchWindow();
            } else {
                links->close();
            }
            ++closed;
            openLinksWindow();
        }
        for (int n = 0; n < kStatSlots; ++n) {
            TStatForm* w = StatWindow(n);
            if (!w->RequestButton->isEnabled())
                continue;  // busy while the settings window waits
            const bool running = w->RequestButton->text() == QString::fromUtf8(kStopCaption);
            // Automatic mode whose clear failed waits for the operator; so does any run after
            // a while, so that logs are finished and new ones started all along.
            const bool stuck = running && !w->TimerRequestStat->isActive();
            const bool due = received() - statRestartAt[n] > target / 20;
            if (statIdle(w) && (!running || stuck || due)) {
                if (running) {
                    w->RequestButton->click();  // stop: the log is finished
                    ++(stuck ? statRestarts : statRenewals);
                }
                w->RequestButton->click();  // start: clear, then a request every tick
                statRestartAt[n] = received();
            }
        }
        if (MainWindow()->Pair.SwConnectState != Awaiting::None ||
            MainWindow()->Pair.SwSetState != Awaiting::None ||
            MainWindow()->Pair.SwResetState != Awaiting::None ||
            MainWindow()->Pair.PendingLinksType != Awaiting::None)
            return;
        const int op = switchStep++ % 8;
        switch (op) {
            case 0:
                sw->SwConnectButton->click();
                break;
            case 1:
                sw->SwSetButton->click();  // only after a whole read of A and B
                break;
            case 2:
            case 3:
            case 4:
                restoreLinks(0);
                restoreLinks(1);
                chooseResetType(0);                               // "Все настройки"
                sw->ComboBoxSwResetFor->setCurrentIndex(op - 2);  // A, B, A and B
                sw->SwResetButton->click();
                break;
            case 5:
                restoreLinks(kLinksModule);
                chooseResetType(1);
                links->ButtonConnect->click();
                break;
            case 6:
                // The first session with a link is chosen, then reset at the links' module.
                for (int row = 1; row <= 6; ++row) {
                    if (links->StringGridCurLinks->cellText(2, row).isEmpty()) {
                        links->StringGridCurLinksDblClick(2, row);
                        break;
                    }
                }
                sw->SwResetButton->click();
                break;
            default:
                links->ButtonConnect->click();
                break;
        }
    };

    QTimer operatorTimer;
    operatorTimer.setInterval(1);
    QObject::connect(&operatorTimer, &QTimer::timeout, [&] { RunGuarded([&] { operate(); }); });
    QTimer logTimer;
    logTimer.setInterval(100);
    QObject::connect(&logTimer, &QTimer::timeout, drainLog);
    operatorTimer.start();
    logTimer.start();

    // The longest the GUI thread did not answer a timer (including time it got no core at all).
    qint64 gapMs = 0;
    QElapsedTimer sinceTick;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { gapMs = std::max(gapMs, sinceTick.restart()); });
    sinceTick.start();
    tick.start(10);
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer stall;
    stall.start();
    uint64_t lastReceived = 0;
    bool hung = false;
    while (received() < target) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const uint64_t now = received();
        if (now != lastReceived) {
            lastReceived = now;
            stall.restart();
        } else if (stall.elapsed() > 15000) {
            hung = true;
            break;
        }
        if (now >= nextSample && now < target / 2) {
            rssFirstHalfMax = std::max(rssFirstHalfMax, StatusKb("VmRSS:"));
            nextSample = now + target / 100;
        }
        if (rssHalf < 0 && now >= target / 2)
            rssHalf = StatusKb("VmRSS:");
        if (rssWarm < 0 && now >= target / 10) {
            rssWarm = StatusKb("VmRSS:");
            fdWarm = OpenFdCount();
        }
    }
    const double seconds = clock.elapsed() / 1000.0;

    // Nothing new is pressed; what is on its way ends by its answer or its time-out, the
    // automatic modes are stopped as soon as nothing of theirs is on its way.
    issuing = false;
    QElapsedTimer settle;
    settle.start();
    const auto busy = [&] {
        int n = MainWindow()->Pending.count() + OpenExchangeCount();
        n += SettingsWindow()->Flow.ConnectState != Awaiting::None ||
             SettingsWindow()->Flow.ApplyState != Awaiting::None;
        n += MainWindow()->Pair.SwConnectState != Awaiting::None ||
             MainWindow()->Pair.SwSetState != Awaiting::None ||
             MainWindow()->Pair.SwResetState != Awaiting::None;
        n += MainWindow()->Pair.PendingLinksType != Awaiting::None;
        for (TStatForm* w : StatWindowList()) {
            n += !statIdle(w);
            n += w->RequestButton->text() == QString::fromUtf8(kStopCaption);
        }
        return n;
    };
    while (busy() > 0 && settle.elapsed() < 30000) {
        for (TStatForm* w : StatWindowList()) {
            w->TimerRequestStat->stop();
            if (statIdle(w) && w->RequestButton->text() == QString::fromUtf8(kStopCaption))
                w->RequestButton->click();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    operatorTimer.stop();
    logTimer.stop();
    drainLog();
    const bool settled = busy() == 0;
    const bool threadsEnded = WaitForReceiveThreads(5000);
    // The modules let go of a connection once the utility has closed its end; a late answer
    // is held for its delay first.
    QElapsedTimer closing;
    closing.start();
    while (sim.openConnections() > 0 && closing.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const int simOpen = sim.openConnections();
    const int pending = MainWindow()->Pending.count();
    const int open = OpenExchangeCount();
    const int fdEnd = OpenFdCount();
    const long rssEnd = StatusKb("VmRSS:");
    const long peak = StatusKb("VmHWM:");

    // What the modules received, by window, and how they treated it.
    for (int m = 0; m < kModules; ++m) {
        for (int type = 0; type < 256; ++type) {
            uint64_t n = 0;
            for (int k = 0; k < kMisbehaviourKinds; ++k)
                n += sim.module(m).replies(static_cast<uint8_t>(type), MisbehaviourKind(k));
            if (n == 0)
                continue;
            int w = Switching;
            if (m == kSettingsModule)
                w = Settings;
            else if (m >= kFirstStatModule && m < kFirstStatModule + kStatSlots)
                w = Stat1 + (m - kFirstStatModule);
            else if (m == kLinksModule && type == CmdReadSwitching)
                w = Links;
            tally[w].sent += n;
        }
    }
    std::map<MisbehaviourKind, uint64_t> kinds;
    for (int m = 0; m < kModules; ++m) {
        for (int type = 0; type < 256; ++type) {
            for (int k = 0; k < kMisbehaviourKinds; ++k)
                kinds[MisbehaviourKind(k)] +=
                    sim.module(m).replies(static_cast<uint8_t>(type), MisbehaviourKind(k));
        }
    }
    // Lines, by window; the four statistics windows share theirs and are checked together.
    Tally statistics;
    for (int w = 0; w < kWindows; ++w) {
        Tally& t = w >= Stat1 ? statistics : tally[w];
        if (w >= Stat1) {
            statistics.sent += tally[w].sent;
            statistics.answered += tally[w].answered;
            statistics.timedOut += tally[w].timedOut;
            statistics.abandoned += tally[w].abandoned;
            if (w != Stat1)
                continue;
        }
        for (const QString& line : LinesOf(w).ok)
            t.okLines += lines[line];
        for (const QString& line : LinesOf(w).wrong)
            t.wrongLines += lines[line];
        for (const QString& line : LinesOf(w).timeout)
            t.timeoutLines += lines[line];
    }

    bool accounted = strayEnds == 0;
    std::printf("%-14s %8s %8s %8s %8s %8s %8s\n", "window", "sent", "answers", "wrong", "time-out",
                "closed", "ok lines");
    const auto row = [&](const char* name, const Tally& t, bool lineChecks) {
        const long answers = static_cast<long>(t.answered) - t.wrongLines;
        std::printf("%-14s %8llu %8ld %8d %8llu %8llu %8d\n", name,
                    static_cast<unsigned long long>(t.sent), answers, t.wrongLines,
                    static_cast<unsigned long long>(t.timedOut),
                    static_cast<unsigned long long>(t.abandoned), t.okLines);
        bool ok = t.sent == t.answered + t.timedOut + t.abandoned;
        if (lineChecks) {
            ok = ok && t.timedOut == static_cast<uint64_t>(t.timeoutLines) && answers >= t.okLines;
        }
        if (!ok) {
            std::printf(
                "  UNACCOUNTED: %llu answered + %llu timed out for %llu sent; %d time-out "
                "lines, %d ok lines\n",
                static_cast<unsigned long long>(t.answered),
                static_cast<unsigned long long>(t.timedOut),
                static_cast<unsigned long long>(t.sent), t.timeoutLines, t.okLines);
        }
        accounted = accounted && ok;
    };
    row(kWindowNames[Settings], tally[Settings], true);
    row(kWindowNames[Switching], tally[Switching], true);
    row(kWindowNames[Links], tally[Links], true);
    for (int n = 0; n < kStatSlots; ++n)
        row(kWindowNames[Stat1 + n], tally[Stat1 + n], false);
    row("statistics", statistics, true);
    // A settings exchange always ends in a line of its own.
    const bool settingsExact =
        tally[Settings].answered ==
        static_cast<uint64_t>(tally[Settings].okLines + tally[Settings].wrongLines);
    accounted = accounted && settingsExact;

    uint64_t total = 0;
    for (const Tally& t : tally)
        total += t.sent;
    std::printf("\nexchanges      %llu in %.1f s (seed %u, Timer %d ms, delays up to %d ms)\n",
                static_cast<unsigned long long>(total), seconds, seed, timerMs, maxDelayMs);
    std::printf("modules chose ");
    for (const auto& [kind, n] : kinds) {
        if (n > 0)
            std::printf(" %s %llu", MisbehaviourName(kind), static_cast<unsigned long long>(n));
    }
    std::printf(
        "\nautomatic mode %d runs restarted after their clear failed, %d stopped and "
        "started again\n",
        statRestarts, statRenewals);
    std::printf(
        "windows closed %d while working and opened again; %d "
        "statistics windows exist at the end\n",
        closed, static_cast<int>(form->findChildren<TStatForm*>().size()));
    std::printf("event log lines");
    int sendErrors = 0;
    for (const auto& [line, n] : lines) {
        bool known = false;
        for (int w : {Settings, Switching, Links, Stat1}) {
            const Lines& l = LinesOf(w);
            known =
                known || l.ok.contains(line) || l.wrong.contains(line) || l.timeout.contains(line);
        }
        std::printf("\n  %6d  %s%s", n, line.toUtf8().constData(), known ? "" : "  (other)");
        if (line.startsWith(QStringLiteral("Ошибка при работе с сетью")))
            sendErrors += n;
    }
    std::printf("\n\nsettled        %s\n", settled ? "yes" : "NO: windows still waiting");
    std::printf("pending slots  %d, open exchanges %d, receive threads %s\n", pending, open,
                threadsEnded ? "ended" : "STILL RUNNING");
    std::printf("module sockets %d open\n", simOpen);
    std::printf("descriptors    %d at the start, %d after %llu exchanges, %d at the end\n", fdStart,
                fdWarm, static_cast<unsigned long long>(target / 10), fdEnd);
    std::printf("peak memory    %ld kB (VmHWM)\n", peak);
    // The first window cycles raise the resident size once (allocator and toolkit caches) and it
    // wavers by a megabyte or two after that; a leak goes on growing, so the end is bounded by
    // the highest level of the first half.
    const long growth = rssEnd - rssFirstHalfMax;
    std::printf(
        "memory         VmRSS %ld kB at the start, %ld kB after %llu exchanges, at most "
        "%ld kB in the first half, %ld kB after %llu, %ld kB at the end: %+ld kB over the "
        "first half's highest (bound %ld kB)\n",
        rssStart, rssWarm, static_cast<unsigned long long>(target / 10), rssFirstHalfMax, rssHalf,
        static_cast<unsigned long long>(target / 2), rssEnd, growth, memoryBoundKb);
    if (!kMemoryBounded)
        std::printf(
            "               not bounded under AddressSanitizer: its quarantine keeps freed "
            "memory; LeakSanitizer checks at exit\n");
    std::printf("error reports  %d\n", static_cast<int>(reports.size()));
    for (const QString& r : reports)
        std::printf("  %s\n", r.toUtf8().constData());
    std::printf("send errors    %d\n", sendErrors);
    std::printf("switching      %d writes received, %d not built from the module's own read\n",
                switchingWrites.load(), foreignWrites.load());
    std::printf("GUI thread     largest gap of a 10 ms timer %lld ms\n",
                static_cast<long long>(gapMs));
    std::fflush(stdout);

    SetExchangeWatcher({});
    form.reset();
    SetErrorReportSink({});
    WaitForReceiveThreads(5000);
    sim.stop();

    const bool ok = !hung && settled && accounted && threadsEnded && pending == 0 && open == 0 &&
                    simOpen == 0 && fdEnd == fdStart && rssFirstHalfMax > 0 &&
                    (!kMemoryBounded || growth <= memoryBoundKb) && reports.isEmpty() &&
                    sendErrors == 0 && total >= target && foreignWrites == 0;
    if (hung)
        std::printf("HUNG: no request reached a module for 15 s\n");
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
