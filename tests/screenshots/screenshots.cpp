// Pictures of every window of the utility after a real exchange with the simulated pair, for
// the README: the main window with its event log, the settings window after a read and its
// sessions page, a statistics window after an automatic run, the switching window after a read
// of A and B, and the current-links window after a read.
//
//   screenshots OUTPUT_DIR        (scripts/screenshots.sh runs it under a virtual X server)
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <memory>

#include <QtWidgets>
#include "forms/currentlinks.h"
#include "forms/main.h"
#include "ui/speedbutton.h"

#include "forms/settings.h"
#include "forms/stat.h"
#include "forms/switch.h"
#include "link/exchange.h"
#include "sim/simulator.h"
#include "support/windows.h"
#include "ui/errorreport.h"
#include "ui/optionlist.h"
#include "ui/radiogroup.h"
#include "ui/stringgrid.h"

namespace {

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void Settle(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: screenshots OUTPUT_DIR\n");
        return 2;
    }
    // Absolute before the working directory moves to the statistics log's temporary one.
    const QDir out(QDir(QString::fromLocal8Bit(argv[1])).absolutePath());
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 2;
    }

    SimulatorOptions options;
    options.quiet = true;
    // The modules' usual port, so the pictures show what an operator types; any free one when
    // a simulator of ./run holds it.
    std::unique_ptr<Simulator> simulator;
    std::string error;
    for (const uint16_t port : {kDefaultModulePort, uint16_t{0}}) {
        simulator = std::make_unique<Simulator>(
            std::vector<Endpoint>{Endpoint{{127, 0, 0, 1}, port}, Endpoint{{127, 0, 0, 2}, port}},
            options);
        if (simulator->start(&error))
            break;
        simulator.reset();
    }
    if (!simulator) {
        std::fprintf(stderr, "simulator did not start: %s\n", error.c_str());
        return 2;
    }
    Simulator& sim = *simulator;
    sim.setRate(20);  // counters that move visibly between two automatic requests
    const QString a = QStringLiteral("127.0.0.1");
    const QString b = QStringLiteral("127.0.0.2");
    const QString portA = QString::number(sim.port(0));
    const QString portB = QString::number(sim.port(1));

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());  // the statistics log goes here
    QStringList reports;
    SetErrorReportSink([&](const QString& text) { reports << text; });
    auto form = std::make_unique<TMainForm>(dir.filePath(QStringLiteral("kestrel.ini")));
    form->move(20, 20);
    form->show();

    bool ok = true;
    int saved = 0;
    const auto shoot = [&](QWidget* window, const char* name) {
        window->raise();
        Settle(300);  // the window has painted
        const QString path = out.filePath(QString::fromLatin1(name));
        if (!window->grab().save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
            ok = false;
            return;
        }
        ++saved;
        std::printf("%s\n", path.toLocal8Bit().constData());
    };
    const auto step = [&](bool done, const char* what) {
        if (!done) {
            std::fprintf(stderr, "no answer: %s\n", what);
            ok = false;
        }
    };

    // Settings: connect and read A, then its sessions page with the first session chosen.
    SettingsWindow()->EditMuxIp->setText(a);
    SettingsWindow()->EditMuxPort->setText(portA);
    form->SettingsButton->click();
    SettingsWindow()->move(460, 20);
    SettingsWindow()->ButtonMuxConnection->click();
    step(WaitFor([] { return SettingsWindow()->Flow.ConnectState == Awaiting::None; }),
         "settings read");
    shoot(SettingsWindow(), "settings.png");
    SettingsWindow()->selectPage(1);
    SettingsWindow()->ComboBoxSockets->setCurrentIndex(0);
    RunGuarded([] { SettingsWindow()->ComboBoxSocketsChange(); });
    shoot(SettingsWindow(), "sessions.png");
    SettingsWindow()->selectPage(0);

    // Statistics: an automatic run of a few requests against A, then stopped.
    form->ButtonStatClick();
    TStatForm* stat = StatWindow(0);
    stat->move(40, 60);
    stat->EditStatIp->setText(a);
    stat->EditStatPort->setText(portA);
    stat->TimerRequestStat->setInterval(1100);  // a second apart, so the counters have moved
    stat->RadioGroupRequestType->button(1)->click();
    stat->RequestButton->click();
    step(WaitFor([&] { return stat->TimerRequestStat->isActive(); }), "statistics clear");
    Settle(4000);
    step(WaitFor([&] { return stat->Flow.PendingStatType == Awaiting::None; }),
         "statistics request");
    stat->RequestButton->click();  // stop: the record is written
    shoot(stat, "statistics.png");

    // Switching: a read of A and B.
    form->ButtonSwitching->click();
    TSwitchForm* sw = SwitchWindow();
    sw->move(60, 40);
    sw->ComboBoxSwIpA->setEditText(a);
    sw->EditSwPortA->setText(portA);
    sw->ComboBoxSwIpB->setEditText(b);
    sw->EditSwPortB->setText(portB);
    sw->SwConnectButton->click();
    step(WaitFor([&] {
             return MainWindow()->Pair.SwConnectState == Awaiting::None &&
                    sw->SwSetButton->isEnabled();
         }),
         "switching read");
    shoot(sw, "switching.png");

    // Current links: opened by the selective reset, then a read of A.
    sw->ComboBoxSwResetType->setCurrentIndex(1);
    RunGuarded([&] { sw->ComboBoxSwResetTypeChange(); });
    TCurLinksForm* links = LinksWindow();
    if (!links) {
        std::fprintf(stderr, "the current-links window did not open\n");
        return 1;
    }
    links->move(120, 120);
    links->EditIp->setText(a);
    links->EditPort->setText(portA);
    links->ButtonConnect->click();
    step(WaitFor([&] { return MainWindow()->Pair.PendingLinksType == Awaiting::None; }),
         "current links read");
    links->StringGridCurLinksDblClick(2, 1);  // S1 chosen for a selective reset
    shoot(links, "currentlinks.png");

    shoot(form.get(), "main.png");

    form.reset();
    SetErrorReportSink({});
    WaitForReceiveThreads(5000);
    sim.stop();
    for (const QString& r : reports)
        std::fprintf(stderr, "error report: %s\n", r.toUtf8().constData());
    return ok && saved == 6 && reports.isEmpty() ? 0 : 1;
}
