// The current-links window: one module's sessions with their links, chosen for a selective
// reset. The table logic without a window, then the window against a simulated module.
#include <QtTest>

#include <QtWidgets>

#include "forms/currentlinks.h"
#include "forms/main.h"
#include "forms/switch.h"
#include "link/pending.h"
#include "model/bytes.h"
#include "sim/simulator.h"
#include "support/app_fixture.h"
#include "support/sim_windows.h"
#include "support/waits.h"
#include "support/windows.h"
#include "ui/speedbutton.h"
#include "ui/stringgrid.h"

namespace {

const QString kNoAnswer =
    QStringLiteral("Нет ответа от мультиплексора A на запрос коммутационных настроек");
const QString kWrongAnswer =
    QStringLiteral("Ошибочный ответ мультиплексора на запрос коммутационных настроек!");

// A module's configuration and switching: session n + 1 enabled with `enable[n]`, destination
// 10.0.0.(n + 1), and port entries naming the session codes in `linked`.
struct Module {
    ConfigBlock config{};
    SwitchingBlock switching{};
    Module(std::array<uint8_t, kSessionCount> enable, std::initializer_list<int> linkedCodes) {
        for (int n = 0; n < kSessionCount; ++n) {
            uint8_t* r = &config[SessionRecordOffset(n)];
            r[SessionOffset::Enable] = enable[n];
            r[SessionOffset::DestinationIp] = 10;
            r[SessionOffset::DestinationIp + 3] = static_cast<uint8_t>(n + 1);
        }
        for (int port = 0; port < kPortCount; ++port)
            switching[PortEntryOffsetOf(port) + PortEntryOffset::RemoteChannel] = NoChannel;
        int port = kPortCount;  // from the last port down, so that every position counts
        for (int code : linkedCodes)
            switching[PortEntryOffsetOf(--port) + PortEntryOffset::LinkSession] =
                static_cast<uint8_t>(code);
    }
    MuxSnapshot snapshot() const {
        MuxSnapshot s{};
        std::copy(config.begin(), config.end(), s.begin() + SnapshotOffset::Config);
        std::copy(switching.begin(), switching.end(), s.begin() + SnapshotOffset::Switching);
        return s;
    }
};

QStringList Texts(const LinkRows& rows) {
    QStringList out;
    for (const LinkRow& r : rows)
        out << r.destination + "|" + r.choice;
    return out;
}

}  // namespace

class CurrentLinksTest : public QObject, SimWindowsFixture {
    Q_OBJECT

    TCurLinksForm* w = nullptr;

    SimModule& moduleA() { return sim->module(0); }
    void serve(const Module& m) {
        ModuleState state;
        state.config = m.config;
        state.switching = m.switching;
        moduleA().apply(state);
    }
    QString cell(int column, int row) { return w->StringGridCurLinks->cellText(column, row); }
    QStringList table() {
        QStringList out;
        for (int row = 1; row <= kSessionCount; ++row)
            out << cell(1, row) + "|" + cell(2, row);
        return out;
    }
    QPushButton* connectButton() { return w->findChild<QPushButton*>("ButtonConnect"); }

  private slots:
    void rows_data() {
        QTest::addColumn<QByteArray>("enable");
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<QStringList>("expected");
        const QString x = NoSelectMark;
        QTest::newRow("disabled even when a port names it; enable 2 counts as enabled")
            << QByteArray("\x00\x01\x02\x01\x00\x01", 6) << QList<int>{2, 3, 4}
            << QStringList{"DISABLED|" + x, "10.0.0.2|",     "10.0.0.3|",
                           "NO_LINK|" + x,  "DISABLED|" + x, "NO_LINK|" + x};
        QTest::newRow("S6 on the first port, S1 on none")
            << QByteArray("\x01\x01\x01\x01\x01\x01", 6) << QList<int>{7, 0, 1, 8, 170}
            << QStringList{"NO_LINK|" + x, "NO_LINK|" + x, "NO_LINK|" + x,
                           "NO_LINK|" + x, "NO_LINK|" + x, "10.0.0.6|"};
    }
    void rows() {
        QFETCH(QByteArray, enable);
        QFETCH(QList<int>, codes);
        QFETCH(QStringList, expected);
        std::array<uint8_t, kSessionCount> e{};
        std::copy(enable.begin(), enable.end(), e.begin());
        Module m(e, {});
        // The codes on every port from the first one on.
        for (int i = 0; i < codes.size(); ++i)
            m.switching[PortEntryOffsetOf(i) + PortEntryOffset::LinkSession] =
                static_cast<uint8_t>(codes[i]);
        QCOMPARE(Texts(CurrentLinkRows(m.snapshot())), expected);
    }

    void choiceToggles_data() {
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("after");
        QTest::newRow("empty is chosen") << "" << SelectMark;
        QTest::newRow("chosen is freed") << SelectMark << "";
        QTest::newRow("cannot be chosen") << NoSelectMark << NoSelectMark;
        QTest::newRow("an address") << "10.0.0.1"
                                    << "10.0.0.1";
    }
    void choiceToggles() {
        QFETCH(QString, cell);
        QFETCH(QString, after);
        QCOMPARE(ToggledChoice(cell), after);
    }

    // ----- the window against a simulated module -----

    void init() {
        if (!QTest::currentTestFunction() ||
            QByteArray(QTest::currentTestFunction()).startsWith("window")) {
            QVERIFY(startPair());
            w = MainWindow()->openLinksWindow();
            w->EditIp->setText("127.0.0.1");
            w->EditPort->setText(port(0));
            w->show();
        }
    }
    void cleanup() { QVERIFY(stopPair()); }

    void windowListsTheLinksAndTheOperatorChooses() {
        serve(Module({1, 1, 0, 1, 1, 1}, {2, 4, 5, 5, 7}));
        app->form->ButtonSwitching->click();
        // Before any answer every data cell is empty, so any of them can be marked.
        emit w->StringGridCurLinks->cellDoubleClicked(3, 1);
        QCOMPARE(cell(1, 3), SelectMark);
        connectButton()->click();
        QCOMPARE(MainWindow()->Pair.PendingLinksType, Awaiting::ReadSwitching);
        for (QPushButton* b : {connectButton(), SwitchWindow()->SwConnectButton,
                               SwitchWindow()->SwSetButton, SwitchWindow()->SwResetButton})
            QVERIFY(!b->isEnabled());
        QTRY_COMPARE(MainWindow()->Pair.PendingLinksType, Awaiting::None);
        QCOMPARE(moduleA().requests(), (std::vector<std::vector<uint8_t>>{{3, 32}}));
        const QString x = NoSelectMark;
        QCOMPARE(table(), (QStringList{"10.0.0.1|", "NO_LINK|" + x, "DISABLED|" + x, "10.0.0.4|",
                                       "NO_LINK|" + x, "10.0.0.6|"}));
        for (QPushButton* b :
             {connectButton(), SwitchWindow()->SwConnectButton, SwitchWindow()->SwResetButton})
            QVERIFY(b->isEnabled());
        // The switching window has read nothing: no write.
        QVERIFY(!SwitchWindow()->SwSetButton->isEnabled());
        QVERIFY(app->messages().isEmpty());

        // Double clicks: a session with a link is chosen and freed; the others stay.
        QTableWidget* grid = w->StringGridCurLinks;
        const auto doubleClick = [grid](int column, int row) {
            emit grid->cellDoubleClicked(row, column);
        };
        doubleClick(2, 1);
        doubleClick(2, 4);
        doubleClick(2, 4);
        doubleClick(2, 6);
        doubleClick(2, 2);
        doubleClick(1, 1);
        doubleClick(0, 0);
        QCOMPARE(cell(2, 1), SelectMark);
        QCOMPARE(cell(2, 4), QString());
        QCOMPARE(cell(2, 6), SelectMark);
        QCOMPARE(cell(2, 2), NoSelectMark);
        QCOMPARE(cell(1, 1), QString("10.0.0.1"));
        QCOMPARE(cell(0, 0), QString());
        // A new answer drops every choice.
        connectButton()->click();
        QTRY_COMPARE(moduleA().requests().size(), size_t(2));
        QTRY_COMPARE(MainWindow()->Pair.PendingLinksType, Awaiting::None);
        QCOMPARE(cell(2, 1), QString());
        QCOMPARE(cell(2, 6), QString());
    }

    // A write that timed out at B may resume there. A read of this window meanwhile sends B
    // nothing and takes nothing from the pair: the resumed write goes to B alone.
    void windowReadBetweenAnInterruptedWriteAndItsResumptionChangesNothing() {
        app->form->Timer->setInterval(50);
        app->form->ButtonSwitching->click();
        TSwitchForm* sw = SwitchWindow();
        sw->ComboBoxSwIpA->setEditText("127.0.0.1");
        sw->EditSwPortA->setText(port(0));
        sw->ComboBoxSwIpB->setEditText("127.0.0.2");
        sw->EditSwPortB->setText(port(1));
        sw->SwConnectButton->click();
        QTRY_VERIFY(MainWindow()->Pair.SwConnectState == Awaiting::None &&
                    sw->SwSetButton->isEnabled());

        sim->module(1).setMisbehaviour(CmdWriteSwitching, Misbehaviour{MisbehaviourKind::Silent});
        sw->SwSetButton->click();
        QTRY_VERIFY(MainWindow()->Pair.SwSetState == Awaiting::None &&
                    sw->SwConnectButton->isEnabled());
        QCOMPARE(MainWindow()->Pair.CurrentMux, 1);

        w->EditIp->setText("127.0.0.2");
        w->EditPort->setText(port(1));
        connectButton()->click();
        QTRY_COMPARE(MainWindow()->Pair.PendingLinksType, Awaiting::None);
        QVERIFY(sw->SwSetButton->isEnabled());
        sim->module(1).setMisbehaviour(CmdWriteSwitching, Misbehaviour{});
        const size_t toA = moduleA().requestCount();
        const size_t toB = sim->module(1).requestCount();
        sw->SwSetButton->click();
        QTRY_VERIFY(MainWindow()->Pair.SwSetState == Awaiting::None &&
                    sw->SwConnectButton->isEnabled());
        QVERIFY(SettleExchanges());
        QCOMPARE(moduleA().requestCount(), toA);
        QCOMPARE(sim->module(1).requestCount(), toB + 1);
        QCOMPARE(MainWindow()->Pair.CurrentMux, 0);
    }

    void windowEndsEveryOtherWay_data() {
        QTest::addColumn<int>("how");  // a Misbehaviour kind
        QTest::addColumn<QString>("line");
        QTest::newRow("silent") << int(MisbehaviourKind::Silent) << kNoAnswer;
        QTest::newRow("unsupported") << int(MisbehaviourKind::Unsupported) << kWrongAnswer;
        QTest::newRow("closed") << int(MisbehaviourKind::Close) << kWrongAnswer;
    }
    void windowEndsEveryOtherWay() {
        QFETCH(int, how);
        QFETCH(QString, line);
        app->form->Timer->setInterval(100);
        // A table from an earlier answer stays as it was.
        connectButton()->click();
        QTRY_COMPARE(MainWindow()->Pair.PendingLinksType, Awaiting::None);
        const QStringList before = table();
        QVERIFY(!before[0].isEmpty());
        moduleA().setMisbehaviour(CmdReadSwitching,
                                  Misbehaviour{static_cast<MisbehaviourKind>(how), 0});
        connectButton()->click();
        QTRY_COMPARE(app->messages(), QStringList{line});
        // Nothing more: no second line, no late answer.
        QVERIFY(OutlastTimeOuts(app->form->Timer));
        QVERIFY(SettleExchanges());
        QCOMPARE(app->messages(), QStringList{line});
        QCOMPARE(MainWindow()->Pair.PendingLinksType, Awaiting::None);
        QVERIFY(connectButton()->isEnabled());
        QCOMPARE(table(), before);
        // Once "Соединиться" is pressed again, the earlier read is no ground for a reset.
        QVERIFY(!MainWindow()->Pair.linksRead());
        QCOMPARE(MainWindow()->Pending.count(), 0);
        QTRY_COMPARE(sim->openConnections(), 0);
    }

    void windowRefusesABadAddress() {
        w->EditIp->setText("127.0.0");
        w->EditPort->setText("");
        connectButton()->click();
        QCOMPARE(app->messages(), (QStringList{"Некорректный формат IP-адреса!",
                                               "Введите номер порта удаленного мультиплексора!"}));
        QCOMPARE(MainWindow()->Pair.PendingLinksType, Awaiting::None);
        QVERIFY(connectButton()->isEnabled());
        QVERIFY(SettleExchanges());
        QVERIFY(moduleA().requests().empty());
    }

    void windowClosedWhileWaitingHearsNothingMore() {
        app->form->ButtonSwitching->click();
        SwitchWindow()->ComboBoxSwResetFor->setEnabled(false);
        SwitchWindow()->ComboBoxSwResetType->setCurrentIndex(1);
        moduleA().setMisbehaviour(CmdReadSwitching, Misbehaviour{MisbehaviourKind::Delay, 300});
        connectButton()->click();
        QPointer<TCurLinksForm> closing = w;
        w->close();
        QVERIFY(!LinksWindow());
        QTRY_VERIFY(!closing);
        QVERIFY(SwitchWindow()->ComboBoxSwResetFor->isEnabled());
        QCOMPARE(SwitchWindow()->ComboBoxSwResetType->currentIndex(), -1);
        for (QPushButton* b : {SwitchWindow()->SwConnectButton, SwitchWindow()->SwResetButton})
            QVERIFY(b->isEnabled());
        QCOMPARE(MainWindow()->Pending.count(), 0);
        QVERIFY(SettleExchanges());  // past the answer, had the close not given the read up
        QVERIFY(app->messages().isEmpty());
        QTRY_COMPARE(sim->openConnections(), 0);
    }
};

QTEST_MAIN(CurrentLinksTest)
#include "test_currentlinks.moc"
