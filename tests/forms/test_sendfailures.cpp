// Every step of every flow that sends, its send failing at once the way the link really can: no
// descriptor left for the step's socket. The window (or command) ends as after any failed
// exchange: its line logged once, its controls as the idle state says, nothing else sent.
#include <sys/resource.h>
#include <QComboBox>
#include <QPushButton>
#include <QtTest>

#include "cli/commands.h"
#include "forms/currentlinks.h"
#include "forms/main.h"
#include "forms/settings.h"
#include "forms/stat.h"
#include "forms/switch.h"
#include "headless/clishell.h"
#include "link/pending.h"
#include "support/app_fixture.h"
#include "support/sim_windows.h"
#include "support/waits.h"
#include "support/windows.h"
#include "ui/radiogroup.h"
#include "ui/stringgrid.h"

namespace {

const QString kNoSocket = NetError::Connect1;

// From its making on, no new descriptor can be had but `spare`: the soft limit comes down to the
// lowest free descriptor's number. The limit goes back up when it goes.
class NoDescriptorLeft {
  public:
    explicit NoDescriptorLeft(int spare = 0) {
        getrlimit(RLIMIT_NOFILE, &saved_);
        const int lowest = dup(STDERR_FILENO);
        close(lowest);
        rlimit low = saved_;
        low.rlim_cur = rlim_t(lowest + spare);
        setrlimit(RLIMIT_NOFILE, &low);
    }
    ~NoDescriptorLeft() { setrlimit(RLIMIT_NOFILE, &saved_); }

  private:
    rlimit saved_{};
};

}  // namespace

class SendFailuresTest : public QObject, SimWindowsFixture {
    Q_OBJECT

    std::optional<NoDescriptorLeft> noDescriptor;
    int answersToGo = -1;  // exchanges still to be answered before the descriptors run out
    int spare = 0;         // descriptors the step under test needs before its socket
    QTemporaryDir logs;    // the automatic mode's log goes to the working folder

    QString module(int m) const { return QString::number(sim->port(m)); }
    static void choose(QComboBox* box, int index) {
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    static bool idle() {
        const SwitchingPair& p = MainWindow()->Pair;
        const TSettingsForm* s = SettingsWindow();
        const TStatForm* w = StatWindow(0);
        return p.commandsEnabled() && s->Flow.ConnectState == Awaiting::None &&
               s->Flow.ApplyState == Awaiting::None &&
               (!w || (w->Flow.PendingStatType == Awaiting::None &&
                       w->Flow.PendingClearType == Awaiting::None));
    }
    QWidget* window(const QString& where) {
        if (where == "settings")
            return SettingsWindow();
        if (where == "stat")
            return StatWindow(0);
        if (where == "links")
            return LinksWindow();
        return SwitchWindow();
    }
    // One step of a row's preparation, run to its end.
    void runStep(const QString& step) {
        TSwitchForm* sw = SwitchWindow();
        if (step == "connect") {
            SettingsWindow()->ButtonMuxConnection->click();
        } else if (step == "automatic") {
            StatWindow(0)->RadioGroupRequestType->button(1)->click();
            spare = 1;  // the automatic mode opens its log before it sends its clear
        } else if (step == "read") {
            sw->SwConnectButton->click();
        } else if (step.startsWith("reset")) {  // "reset T F": type T, target F
            choose(sw->ComboBoxSwResetType, step.section(' ', 1, 1).toInt());
            choose(sw->ComboBoxSwResetFor, step.section(' ', 2, 2).toInt());
        } else if (step == "selective")
            choose(sw->ComboBoxSwResetType, 1);
        else if (step.startsWith("links") || step == "mark") {
            TCurLinksForm* links = LinksWindow();
            links->EditIp->setText("127.0.0.1");
            links->EditPort->setText(module(0));
            if (step == "linksread")
                links->ButtonConnect->click();
            else if (step == "mark")
                emit links->StringGridCurLinks->cellDoubleClicked(1, 2);
        }
        QTRY_VERIFY(idle());
    }
    int cli(const QString& command, const QString& answers) {
        const ModuleAddress a{"127.0.0.1", module(0)};
        const ModuleAddress b{"127.0.0.2", module(1)};
        QTextStream out(stdout);
        StderrShell shell(stdout);
        SetShell(&shell);
        answersToGo = answers.toInt();
        if (answersToGo == 0)
            noDescriptor.emplace(spare);
        const int code = command == "config read" ? ConfigRead(a, false, out)
                         : command == "config write"
                             ? ConfigWrite(a, "gateway=10.9.9.9\n", true, false, out)
                         : command == "clear" ? StatsClear({a}, true, out)
                                              : Switching(a, b, false, out, shell);
        noDescriptor.reset();
        SetShell(nullptr);
        const QStringList failures = shell.history().filter(kNoSocket);
        return failures.size() == 1 ? code : -failures.size();
    }

  private slots:
    void initTestCase() {
#if defined(__SANITIZE_ADDRESS__)
        // The sanitizers' runtime checks open pipes of their own: with no descriptor left they
        // report faults that are not there. The plain build runs the table.
        QSKIP("no descriptor can be left to the sanitizers' own checks");
#endif
        QDir::setCurrent(logs.path());
    }
    void init() {
        spare = 0;
        QVERIFY(startPair(false));
        // The step under test is sent when the answers before it have come.
        SetExchangeWatcher([this](const Continuation&, ExchangeEnd end) {
            if (end == ExchangeEnd::Answered && answersToGo > 0 && --answersToGo == 0)
                noDescriptor.emplace(spare);
        });
    }
    void cleanup() {
        noDescriptor.reset();
        answersToGo = -1;
        SetExchangeWatcher({});
        QVERIFY(stopPair());
    }

    void failedSendLeavesTheWindowUsable_data() {
        QTest::addColumn<QString>("where");    // the window, or cli
        QTest::addColumn<QString>("prepare");  // steps run to their end first
        QTest::addColumn<QString>("press");    // the control pressed, or the command run
        QTest::addColumn<int>("answers");      // answers before the failing step
        QTest::addColumn<QStringList>("log");  // after the press; the failure's line is last
        QTest::addColumn<QString>("enabled");  // controls enabled afterwards; for cli the exit
        QTest::addColumn<QString>("disabled");
        QTest::addColumn<QString>("received");  // requests the modules got: A and B
        const QString connected = "Соединение с удаленным мультиплексором установлено";
        const QString oneSided = "Будет удалена односторонняя связь: В ТФ3 → А ТФ4";
        const QString settings = "ButtonMuxConnection ButtonSetCurOptions GroupBoxConnection";
        const QString pair = "SwConnectButton SwResetButton";
        QTest::newRow("settings: connect")
            << "settings"
            << ""
            << "ButtonMuxConnection" << 0 << QStringList{} << settings << ""
            << "0 0";
        QTest::newRow("settings: read")
            << "settings"
            << ""
            << "ButtonMuxConnection" << 1 << QStringList{connected} << settings << ""
            << "1 0";
        QTest::newRow("settings: write")
            << "settings"
            << "connect"
            << "ButtonSetCurOptions" << 0 << QStringList{} << settings << ""
            << "2 0";
        QTest::newRow("statistics: single")
            << "stat"
            << ""
            << "RequestButton" << 0 << QStringList{} << "RequestButton ClearButton"
            << ""
            << "0 0";
        QTest::newRow("statistics: clear")
            << "stat"
            << ""
            << "ClearButton" << 0 << QStringList{} << "RequestButton ClearButton"
            << ""
            << "0 0";
        QTest::newRow("statistics: automatic")
            << "stat"
            << "automatic"
            << "RequestButton" << 0 << QStringList{} << "RequestButton"
            << "ClearButton"
            << "0 0";
        QTest::newRow("switching: read A")
            << "switch"
            << ""
            << "SwConnectButton" << 0 << QStringList{} << pair << "SwSetButton"
            << "0 0";
        QTest::newRow("switching: read B")
            << "switch"
            << ""
            << "SwConnectButton" << 1 << QStringList{} << pair << "SwSetButton"
            << "1 0";
        // A write on its way ends the reads it was built on, sent or not.
        QTest::newRow("switching: write A")
            << "switch"
            << "read"
            << "SwSetButton" << 0 << QStringList{oneSided} << pair << "SwSetButton"
            << "1 1";
        QTest::newRow("switching: write B")
            << "switch"
            << "read"
            << "SwSetButton" << 1
            << QStringList{oneSided,
                           "Текущие коммутационные настройки мультиплексора А успешно сохранены"}
            << pair + " SwSetButton"
            << ""
            << "2 1";
        QTest::newRow("switching: reset A")
            << "switch"
            << "read,reset 0 0"
            << "SwResetButton" << 0 << QStringList{} << pair << "SwSetButton"
            << "1 1";
        QTest::newRow("switching: reset B")
            << "switch"
            << "read,reset 0 1"
            << "SwResetButton" << 0 << QStringList{} << pair << "SwSetButton"
            << "1 1";
        QTest::newRow("switching: reset of both at B")
            << "switch"
            << "read,reset 0 2"
            << "SwResetButton" << 1 << QStringList{"Сброс настроек мультиплексора А произведен"}
            << pair << "SwSetButton"
            << "2 1";
        QTest::newRow("switching: the read after a reset")
            << "switch"
            << "read,reset 0 0"
            << "SwResetButton" << 1 << QStringList{"Сброс настроек мультиплексора А произведен"}
            << pair << "SwSetButton"
            << "2 1";
        QTest::newRow("switching: selective reset")
            << "switch"
            << "selective,links,linksread,mark"
            << "SwResetButton" << 0 << QStringList{} << pair + " ButtonConnect"
            << ""
            << "1 0";
        QTest::newRow("current links")
            << "links"
            << "selective,links"
            << "ButtonConnect" << 0 << QStringList{} << pair + " ButtonConnect"
            << ""
            << "0 0";
        QTest::newRow("kestrel-cli config read") << "cli"
                                                 << ""
                                                 << "config read" << 0 << QStringList{} << "4"
                                                 << ""
                                                 << "0 0";
        QTest::newRow("kestrel-cli config write") << "cli"
                                                  << ""
                                                  << "config write" << 2 << QStringList{} << "4"
                                                  << ""
                                                  << "2 0";
        QTest::newRow("kestrel-cli clear") << "cli"
                                           << ""
                                           << "clear" << 0 << QStringList{} << "4"
                                           << ""
                                           << "0 0";
        QTest::newRow("kestrel-cli switching") << "cli"
                                               << ""
                                               << "switching" << 1 << QStringList{} << "4"
                                               << ""
                                               << "1 0";
    }
    void failedSendLeavesTheWindowUsable() {
        QFETCH(QString, where);
        QFETCH(QString, prepare);
        QFETCH(QString, press);
        QFETCH(int, answers);
        QFETCH(QStringList, log);
        QFETCH(QString, enabled);
        QFETCH(QString, disabled);
        QFETCH(QString, received);
        const auto requests = [this] {
            return QString("%1 %2")
                .arg(sim->module(0).requestCount())
                .arg(sim->module(1).requestCount());
        };
        if (where == "cli") {
            QCOMPARE(QString::number(cli(press, QString::number(answers))), enabled);
            QVERIFY(SettleExchanges());
            QCOMPARE(requests(), received);
            return;
        }
        app = std::make_unique<AppFixture>();
        app->form->ButtonSwitching->click();
        setAddresses();
        if (where == "stat") {
            app->form->ButtonStat->click();
            StatWindow(0)->setModule("127.0.0.1", module(0));
        }
        for (const QString& step : prepare.split(',', Qt::SkipEmptyParts))
            runStep(step);
        const int before = int(app->messages().size());
        answersToGo = answers;
        if (answers == 0)
            noDescriptor.emplace(spare);
        window(where)->findChild<QPushButton*>(press)->click();
        QTRY_VERIFY(app->messages().size() > before + log.size());
        QTRY_VERIFY(idle());
        QVERIFY(SettleExchanges());
        if (app->messages().mid(before) != log + QStringList{kNoSocket})
            qWarning() << app->messages().mid(before);
        QCOMPARE(app->messages().mid(before), log + QStringList{kNoSocket});
        QCOMPARE(requests(), received);
        QCOMPARE(MainWindow()->Pending.count(), 0);
        QWidget* root = window(where);
        for (const QString& name : enabled.split(' ', Qt::SkipEmptyParts)) {
            QWidget* w = root->findChild<QWidget*>(name);
            if (!w)
                w = (name == "ButtonConnect" ? static_cast<QWidget*>(LinksWindow())
                                             : static_cast<QWidget*>(SwitchWindow()))
                        ->findChild<QWidget*>(name);
            QVERIFY2(w && w->isEnabled(), qPrintable(name + " is not enabled"));
        }
        for (const QString& name : disabled.split(' ', Qt::SkipEmptyParts))
            QVERIFY2(!root->findChild<QWidget*>(name)->isEnabled(),
                     qPrintable(name + " is enabled"));
    }

  private:
    void setAddresses() {
        TSwitchForm* sw = SwitchWindow();
        sw->ComboBoxSwIpA->setEditText("127.0.0.1");
        sw->EditSwPortA->setText(module(0));
        sw->ComboBoxSwIpB->setEditText("127.0.0.2");
        sw->EditSwPortB->setText(module(1));
        SettingsWindow()->EditMuxIp->setText("127.0.0.1");
        SettingsWindow()->EditMuxPort->setText(module(0));
    }
};

QTEST_MAIN(SendFailuresTest)
#include "test_sendfailures.moc"
