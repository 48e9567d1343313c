// The statistics window against a simulated module: single and automatic requests, clearing,
// time-outs and the text log.
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <QtWidgets>
#include "forms/main.h"
#include "ui/speedbutton.h"

#include "forms/stat.h"
#include "link/pending.h"
#include "model/statmodel.h"
#include "sim/simulator.h"
#include "support/app_fixture.h"
#include "support/sim_windows.h"
#include "support/waits.h"
#include "support/windows.h"
#include "ui/radiogroup.h"
#include "ui/stringgrid.h"

namespace {

const QString kStatNoAnswer =
    QStringLiteral("Нет ответа от удаленного мультиплексора на запрос статистики!");
const QString kClearNoAnswer =
    QStringLiteral("Нет ответа от удаленного мультиплексора на команду сброса статистики!");
const QString kStatWrong = QStringLiteral("Ошибочный ответ мультиплексора на запрос статистики!");
const QString kClearWrong =
    QStringLiteral("Ошибочный ответ мультиплексора на команду сброса статистики!");
const QString kCleared = QStringLiteral("Статистика сброшена");
const QString kNotWritten = QStringLiteral("Не удалось записать файл статистики: ");

const QDateTime kStart(QDate(2026, 12, 7), QTime(23, 55, 8));
const QDateTime kStop(QDate(2026, 12, 7), QTime(23, 59, 1));

QString LogName(const QDateTime& at, const QString& address) {
    return StatLogFileName(StatDateTimeText(at), address) + ".txt";
}

QStringList FileLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {"<missing>"};
    const QString text = QString::fromUtf8(f.readAll());
    if (!text.isEmpty() && !text.endsWith('\n'))
        return {"<unterminated>", text};
    QStringList lines = text.split('\n');
    lines.removeLast();
    return lines;
}

QStringList Texts(const QDir& dir) {
    return dir.entryList({"*.txt"}, QDir::Files, QDir::Name);
}

// The change lines of one second of simulated traffic on a zeroed module: sessions 1 and 2
// carry it, locally and in transit.
QStringList FirstSecondChanges() {
    QStringList lines;
    for (const char* s : {"S1", "S2"}) {
        lines << QStringLiteral("%1 Local Udf(1) = 1").arg(s)
              << QStringLiteral("%1 Local PIB(1) = 50").arg(s)
              << QStringLiteral("%1 Local PIB(2) = 48").arg(s)
              << QStringLiteral("%1 Transit SortLost(1) = 1").arg(s)
              << QStringLiteral("%1 Transit PIB(1) = 20").arg(s)
              << QStringLiteral("%1 Transit PIB(2) = 19").arg(s);
    }
    return lines;
}
// The next second: only the cells that moved.
QStringList SecondSecondChanges() {
    QStringList lines;
    for (const char* s : {"S1", "S2"}) {
        lines << QStringLiteral("%1 Local Udf(1) = 2").arg(s)
              << QStringLiteral("%1 Local PIB(1) = 100").arg(s)
              << QStringLiteral("%1 Local PIB(2) = 96").arg(s)
              << QStringLiteral("%1 Transit SortLost(1) = 2").arg(s)
              << QStringLiteral("%1 Transit PIB(1) = 40").arg(s)
              << QStringLiteral("%1 Transit PIB(2) = 38").arg(s);
    }
    return lines;
}

QStringList Block(const QDateTime& at, const QStringList& changes) {
    return QStringList{StatDateTimeText(at), ""} + changes +
           QStringList{"*********************************", ""};
}

}  // namespace

class StatTest : public QObject, SimWindowsFixture {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> cwd;
    QString previousCwd;
    TStatForm* w = nullptr;
    QDateTime now = kStart;

    SimModule& module() { return sim->module(0); }

    template <class T>
    T* C(const char* name) {
        T* control = w->findChild<T*>(QString::fromLatin1(name));
        if (!control)
            qFatal("no control %s", name);
        return control;
    }
    QPushButton* requestButton() { return C<QPushButton>("RequestButton"); }
    QPushButton* clearButton() { return C<QPushButton>("ClearButton"); }
    StringGrid* sessions() { return C<StringGrid>("StringGrid"); }
    StringGrid* totals() { return C<StringGrid>("StringGrid2"); }

    // Every data cell of both tables, as shown.
    QStringList cells() {
        QStringList out;
        for (int r = 1; r < 13; ++r)
            for (int c = 1; c < 9; ++c)
                out << sessions()->cellText(c, r);
        for (int r = 1; r < 3; ++r)
            for (int c = 1; c < 6; ++c)
                out << totals()->cellText(c, r);
        return out;
    }
    QStringList cellsOf(const StatisticsBlock& block) {
        QStringList out;
        for (int r = 1; r < 13; ++r)
            for (int c = 1; c < 9; ++c)
                out << CounterText(SessionCellValue(block, c, r));
        for (int r = 1; r < 3; ++r)
            for (int c = 1; c < 6; ++c)
                out << CounterText(TotalsCellValue(block, c, r));
        return out;
    }

    void goAutomatic() {
        w->TimerRequestStat->setInterval(20);
        C<RadioGroup>("RadioGroupRequestType")->button(1)->click();
        QCOMPARE(requestButton()->text(), QStringLiteral("Начать"));
    }
    // Waits until the module has answered `more` further statistics requests and the window
    // has taken the last of them.
    void waitForRequests(int more) {
        const size_t target = module().requestCount() + static_cast<size_t>(more);
        QTRY_VERIFY(module().requestCount() >= target);
        QTRY_COMPARE(w->Flow.PendingStatType, Awaiting::None);
    }
    void running() { QTRY_VERIFY(w->TimerRequestStat->isActive()); }

  private slots:
    void init() {
        // The logs go to the current folder.
        cwd = std::make_unique<QTemporaryDir>();
        previousCwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(cwd->path()));
        QVERIFY(startPair());
        app->form->ButtonStat->click();
        w = StatWindow(0);
        QVERIFY(w);
        now = kStart;
        w->Now = [this] { return now; };
        C<QLineEdit>("EditStatIp")->setText("127.0.0.1");
        C<QLineEdit>("EditStatPort")->setText(port(0));
    }
    void cleanup() {
        QVERIFY(stopPair());
        QDir::setCurrent(previousCwd);
        cwd.reset();
    }

    void singleRequestFillsBothTables() {
        sim->clock().advance(std::chrono::seconds(7));
        const QStringList before = cells();
        QSignalSpy repaints(sessions()->model(), &QAbstractItemModel::dataChanged);
        requestButton()->click();
        QCOMPARE(w->Flow.PendingStatType, Awaiting::ReadStatistics);
        QTRY_COMPARE(w->Flow.PendingStatType, Awaiting::None);
        // The view hears of the whole table at once, not of 96 cells one by one.
        QCOMPARE(repaints.size(), 1);
        QCOMPARE(repaints[0][0].toModelIndex(), sessions()->model()->index(1, 1));
        QCOMPARE(repaints[0][1].toModelIndex(), sessions()->model()->index(12, 8));
        QCOMPARE(cells(), cellsOf(module().statistics()));
        QVERIFY(cells() != before);
        QCOMPARE(sessions()->cellText(4, 1), QStringLiteral("350"));  // S1 Local PIB(1)
        QCOMPARE(totals()->cellText(4, 2), QStringLiteral("273"));    // Tr RxPLIS
        QCOMPARE(module().requests(), (std::vector<std::vector<uint8_t>>{{2, 8}}));
        QCOMPARE(app->messages(), QStringList{});
        QCOMPARE(MainWindow()->Pending.count(), 0);
        QVERIFY(Texts(QDir::current()).isEmpty());  // single requests keep no log
    }

    void clearShowsZeroAtOnce() {
        sim->clock().advance(std::chrono::seconds(3));
        requestButton()->click();
        QTRY_COMPARE(w->Flow.PendingStatType, Awaiting::None);
        QCOMPARE(sessions()->cellText(4, 1), QStringLiteral("150"));
        module().setMisbehaviour(CmdClearStatistics, Misbehaviour{MisbehaviourKind::Delay, 300});
        clearButton()->click();
        QCOMPARE(cells(), QStringList(96 + 10, "0"));
        QCOMPARE(w->Flow.PendingClearType, Awaiting::ClearStatistics);
        QTRY_COMPARE(w->Flow.PendingClearType, Awaiting::None);
        QCOMPARE(app->messages(), QStringList{kCleared});
        QCOMPARE(module().statistics(), StatisticsBlock{});
        QCOMPARE(cells(), QStringList(96 + 10, "0"));
        QVERIFY(!w->TimerRequestStat->isActive());  // a clear in single mode starts nothing
    }

    // Both commands of a window may wait at once; a tick while the request waits is skipped.
    void requestAndClearPendingTogether() {
        module().setMisbehaviour(CmdReadStatistics, Misbehaviour{MisbehaviourKind::Delay, 300});
        module().setMisbehaviour(CmdClearStatistics, Misbehaviour{MisbehaviourKind::Delay, 300});
        requestButton()->click();
        clearButton()->click();
        QCOMPARE(w->Flow.PendingStatType, Awaiting::ReadStatistics);
        QCOMPARE(w->Flow.PendingClearType, Awaiting::ClearStatistics);
        QCOMPARE(MainWindow()->Pending.count(), 2);
        w->TimerRequestStatTimer();
        requestButton()->click();
        QTRY_COMPARE(module().requestCount(), size_t(2));
        QTRY_VERIFY(w->Flow.PendingStatType == Awaiting::None &&
                    w->Flow.PendingClearType == Awaiting::None);
        QCOMPARE(app->messages(), QStringList{kCleared});
        QCOMPARE(MainWindow()->Pending.count(), 0);
        QCOMPARE(module().requestCount(), size_t(2));
    }

    void noAnswer_data() {
        QTest::addColumn<bool>("clear");
        QTest::addColumn<QString>("message");
        QTest::newRow("statistics") << false << kStatNoAnswer;
        QTest::newRow("clear") << true << kClearNoAnswer;
    }
    void noAnswer() {
        QFETCH(bool, clear);
        QFETCH(QString, message);
        sim->setMisbehaviour(clear ? CmdClearStatistics : CmdReadStatistics,
                             Misbehaviour{MisbehaviourKind::Silent, 0});
        (clear ? clearButton() : requestButton())->click();
        QTRY_COMPARE(module().requestCount(), size_t(1));
        MainWindow()->Pending.tick();
        MainWindow()->Pending.tick();
        QCOMPARE(app->messages(), QStringList{});
        MainWindow()->Pending.tick();
        QCOMPARE(app->messages(), QStringList{message});
        QVERIFY(w->Flow.PendingStatType == Awaiting::None &&
                w->Flow.PendingClearType == Awaiting::None);
        QCOMPARE(MainWindow()->Pending.count(), 0);
        // The window is idle again: the next press asks anew.
        sim->setMisbehaviour(clear ? CmdClearStatistics : CmdReadStatistics, Misbehaviour{});
        (clear ? clearButton() : requestButton())->click();
        QTRY_VERIFY(w->Flow.PendingStatType == Awaiting::None &&
                    w->Flow.PendingClearType == Awaiting::None);
        QCOMPARE(module().requestCount(), size_t(2));
    }

    // An answer of another type is reported; the tables keep what they showed (after a clear,
    // "0"), and an automatic start whose clear failed stays clearing, without requests.
    void unsupportedAnswer_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<bool>("automatic");
        QTest::addColumn<QString>("message");
        QTest::newRow("statistics") << int(CmdReadStatistics) << false << kStatWrong;
        QTest::newRow("clear") << int(CmdClearStatistics) << false << kClearWrong;
        QTest::newRow("automatic start") << int(CmdClearStatistics) << true << kClearWrong;
    }
    void unsupportedAnswer() {
        QFETCH(int, command);
        QFETCH(bool, automatic);
        QFETCH(QString, message);
        sim->clock().advance(std::chrono::seconds(2));
        requestButton()->click();
        QTRY_COMPARE(w->Flow.PendingStatType, Awaiting::None);
        const QStringList shown = cells();
        sim->clock().advance(std::chrono::seconds(2));
        module().setMisbehaviour(command, Misbehaviour{MisbehaviourKind::Unsupported, 0});
        if (automatic) {
            goAutomatic();
            requestButton()->click();
        } else {
            (command == CmdClearStatistics ? clearButton() : requestButton())->click();
        }
        QTRY_VERIFY(w->Flow.PendingStatType == Awaiting::None &&
                    w->Flow.PendingClearType == Awaiting::None);
        QCOMPARE(cells(), command == CmdClearStatistics ? QStringList(106, "0") : shown);
        QCOMPARE(app->messages(), QStringList{message});
        if (automatic) {
            // Its timer is seen stopped below; only an exchange could still send.
            QVERIFY(SettleExchanges());
            QVERIFY(!w->TimerRequestStat->isActive());
            QCOMPARE(requestButton()->text(), QStringLiteral("Прекратить"));
            QCOMPARE(module().requestCount(), size_t(2));
        }
    }

    // A module nobody listens for, or an address that names none: one line, and the window is
    // idle again.
    void sendFailure_data() {
        QTest::addColumn<bool>("clear");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("line");
        const QString malformed = QStringLiteral("Некорректный формат IP-адреса!");
        QTest::newRow("statistics") << false << "127.0.0.1" << NetError::Connect3;
        QTest::newRow("clear") << true << "127.0.0.1" << NetError::Connect3;
        QTest::newRow("statistics, malformed address") << false << "127.0.0" << malformed;
        QTest::newRow("clear, malformed address") << true << "127.0.0" << malformed;
    }
    void sendFailure() {
        QFETCH(bool, clear);
        QFETCH(QString, address);
        QFETCH(QString, line);
        sim->stop();
        C<QLineEdit>("EditStatIp")->setText(address);
        (clear ? clearButton() : requestButton())->click();
        QTRY_COMPARE(app->messages(), QStringList{line});
        QVERIFY(w->Flow.PendingStatType == Awaiting::None &&
                w->Flow.PendingClearType == Awaiting::None);
        QCOMPARE(MainWindow()->Pending.count(), 0);
    }

    // Start: clear, then a request every interval; only changed cells are recorded, each block
    // on disk as soon as it is made; the stop names the file after its own moment.
    void automaticRun() {
        goAutomatic();
        requestButton()->click();
        QCOMPARE(requestButton()->text(), QStringLiteral("Прекратить"));
        QVERIFY(!clearButton()->isEnabled());
        QVERIFY(!C<RadioGroup>("RadioGroupRequestType")->isEnabled());
        QVERIFY(!w->TimerRequestStat->isActive());  // not before the clear is answered
        const QString working =
            StatLogFileName(StatDateTimeText(kStart), "127.0.0.1") + ".part.txt";
        QCOMPARE(Texts(QDir::current()), QStringList{working});
        running();
        QCOMPARE(module().requests().front(), (std::vector<uint8_t>{2, 16}));
        QCOMPARE(app->messages(), QStringList{kCleared});

        waitForRequests(2);  // a zeroed module: nothing changes, nothing is recorded
        QCOMPARE(FileLines(working), QStringList{});

        const QDateTime first = kStart.addSecs(3);
        now = first;
        sim->clock().advance(std::chrono::seconds(1));
        QTRY_COMPARE(sessions()->cellText(4, 3), QStringLiteral("50"));  // S2 Local PIB(1)
        QCOMPARE(FileLines(working), Block(first, FirstSecondChanges()));
        waitForRequests(3);  // the same answers again
        QCOMPARE(FileLines(working), Block(first, FirstSecondChanges()));

        const QDateTime second = kStart.addSecs(6);
        now = second;
        sim->clock().advance(std::chrono::seconds(1));
        QTRY_COMPARE(sessions()->cellText(4, 3), QStringLiteral("100"));
        QCOMPARE(totals()->cellText(1, 1), QStringLiteral("200"));  // Loc TxPLIS, not logged
        waitForRequests(1);

        now = kStop;
        requestButton()->click();
        QCOMPARE(requestButton()->text(), QStringLiteral("Начать"));
        QVERIFY(clearButton()->isEnabled());
        QVERIFY(C<RadioGroup>("RadioGroupRequestType")->isEnabled());
        QVERIFY(!w->TimerRequestStat->isActive());
        const QString final = LogName(kStop, "127.0.0.1");
        QCOMPARE(w->Flow.StatLogName + ".txt", final);
        QCOMPARE(Texts(QDir::current()), QStringList{final});
        QCOMPARE(FileLines(final),
                 Block(first, FirstSecondChanges()) + Block(second, SecondSecondChanges()));
        const size_t sent = module().requestCount();
        QVERIFY(SettleExchanges());  // the timer is stopped: only an exchange could still send
        QCOMPARE(module().requestCount(), sent);  // the stop ends the requests
        QCOMPARE(w->Flow.PendingStatType, Awaiting::None);
        QCOMPARE(MainWindow()->Pending.count(), 0);
    }

    void stopBeforeTheClearAnswerWritesAnEmptyFile() {
        module().setMisbehaviour(CmdClearStatistics, Misbehaviour{MisbehaviourKind::Delay, 400});
        goAutomatic();
        requestButton()->click();
        now = kStop;
        requestButton()->click();
        QCOMPARE(Texts(QDir::current()), QStringList{LogName(kStop, "127.0.0.1")});
        QCOMPARE(QFileInfo(LogName(kStop, "127.0.0.1")).size(), 0);
        // The late clear answer finds the mode stopped and starts nothing.
        QTRY_COMPARE(w->Flow.PendingClearType, Awaiting::None);
        QVERIFY(!w->TimerRequestStat->isActive());
        QCOMPARE(app->messages(), QStringList{kCleared});
    }

    void twoWindowsOnOneModuleKeepTheirOwnRecords() {
        goAutomatic();
        app->form->ButtonStat->click();
        TStatForm* second = StatWindow(1);
        QVERIFY(second);
        second->Now = [this] { return now; };
        second->EditStatIp->setText("127.0.0.1");
        second->EditStatPort->setText(port(0));
        second->TimerRequestStat->setInterval(20);
        second->RadioGroupRequestType->button(1)->click();
        requestButton()->click();
        second->RequestButton->click();  // the same second, the same module
        running();
        QTRY_VERIFY(second->TimerRequestStat->isActive());
        sim->clock().advance(std::chrono::seconds(1));
        QTRY_COMPARE(sessions()->cellText(4, 3), QStringLiteral("50"));
        QTRY_COMPARE(second->StringGrid_->cellText(4, 3), QStringLiteral("50"));
        QCOMPARE(Texts(QDir::current()).size(), 2);  // two working files
        now = kStop;
        requestButton()->click();
        const QStringList first = FileLines(LogName(kStop, "127.0.0.1"));
        QCOMPARE(first, Block(kStart, FirstSecondChanges()));
        second->RequestButton->click();  // the same second: the next free name
        QCOMPARE(FileLines(LogName(kStop, "127.0.0.1").replace(".txt", "_2.txt")), first);
        QCOMPARE(FileLines(LogName(kStop, "127.0.0.1")), first);
    }

    // Counts asked before the clear must not open the record of the run that clears them.
    void startGivesUpASingleRequestOnItsWay() {
        sim->clock().advance(std::chrono::seconds(100));
        module().setMisbehaviour(CmdReadStatistics, Misbehaviour{MisbehaviourKind::Delay, 300});
        requestButton()->click();
        goAutomatic();
        requestButton()->click();
        // Past the late answer, had the start not given it up, and into the automatic requests.
        QVERIFY(SettleExchanges());
        running();
        waitForRequests(2);
        QCOMPARE(FileLines(StatLogFileName(StatDateTimeText(kStart), "127.0.0.1") + ".part.txt"),
                 QStringList{});
    }

    void closingFinishesTheLog_data() {
        QTest::addColumn<bool>("mainWindow");
        QTest::newRow("statistics window") << false;
        QTest::newRow("main window") << true;
    }
    void closingFinishesTheLog() {
        QFETCH(bool, mainWindow);
        goAutomatic();
        requestButton()->click();
        running();
        sim->clock().advance(std::chrono::seconds(1));
        QTRY_COMPARE(sessions()->cellText(4, 3), QStringLiteral("50"));
        now = kStop;
        if (mainWindow) {
            app->form->close();
            app->form.reset();
        } else {
            w->close();
            QVERIFY(!StatWindow(0));
        }
        QCOMPARE(Texts(QDir::current()), QStringList{LogName(kStop, "127.0.0.1")});
        QCOMPARE(FileLines(LogName(kStop, "127.0.0.1")), Block(kStart, FirstSecondChanges()));
        if (!mainWindow) {
            const size_t sent = module().requestCount();
            // Five of the window's 20 ms intervals, had its timer outlived the close.
            AllowFor(100, [&] { return module().requestCount() > sent; });
            QCOMPARE(module().requestCount(), sent);
        }
    }

    // A folder that cannot hold the log: the operator is told, the automatic mode goes on.
    void unwritableFolderIsReported_data() {
        QTest::addColumn<bool>("mainWindow");  // finished by closing the main window
        QTest::newRow("stopped") << false;
        QTest::newRow("main window closed: to the error report") << true;
    }
    void unwritableFolderIsReported() {
        QFETCH(bool, mainWindow);
        QVERIFY(QDir::current().mkdir("gone"));
        QVERIFY(QDir::setCurrent("gone"));
        QVERIFY(QDir(cwd->path()).rmdir("gone"));  // the current folder no longer exists
        goAutomatic();
        requestButton()->click();
        running();
        const QString working =
            StatLogFileName(StatDateTimeText(kStart), "127.0.0.1") + ".part.txt";
        QCOMPARE(app->messages(), (QStringList{kNotWritten + working, kCleared}));
        sim->clock().advance(std::chrono::seconds(1));
        QTRY_COMPARE(sessions()->cellText(4, 3), QStringLiteral("50"));
        now = kStop;
        if (mainWindow) {  // its event log goes with it: the error report tells the operator
            app->form.reset();
            QCOMPARE(app->errors, QStringList{kNotWritten + LogName(kStop, "127.0.0.1")});
            return;
        }
        requestButton()->click();
        QCOMPARE(app->messages(), (QStringList{kNotWritten + working, kCleared,
                                               kNotWritten + LogName(kStop, "127.0.0.1")}));
    }
};

QTEST_MAIN(StatTest)
#include "test_stat.moc"
