// The switching window against the simulated pair: read both, edit the matrices, write both.
#include <QtTest>

#include <QtWidgets>
#include "forms/currentlinks.h"
#include "forms/main.h"
#include "ui/speedbutton.h"

#include "forms/settings.h"
#include "forms/stat.h"
#include "forms/switch.h"
#include "link/pending.h"
#include "sim/simulator.h"
#include "support/app_fixture.h"
#include "support/marks.h"
#include "support/sim_windows.h"
#include "support/waits.h"
#include "support/windows.h"
#include "ui/radiogroup.h"
#include "ui/stringgrid.h"

namespace {

const QString kReadWrongAnswer =
    QStringLiteral("Ошибочный ответ мультиплексора на команду запроса коммутационных настроек");
const QString kSavedA =
    QStringLiteral("Текущие коммутационные настройки мультиплексора А успешно сохранены");
const QString kSavedB =
    QStringLiteral("Текущие коммутационные настройки мультиплексора В успешно сохранены");
// The simulated B's one-sided half, which the matrices never show and a write removes.
const QString kOneSided = QStringLiteral("Будет удалена односторонняя связь: В ТФ3 → А ТФ4");
const QString kWriteWrongA = QStringLiteral(
    "Ошибочный ответ мультиплексора A на команду сохранения коммутационных настроек!");
const QString kNoWriteAnswerB =
    QStringLiteral("Нет ответа от мультиплексора B на команду сохранения коммутационных настроек!");
const QString kSameAddresses = QStringLiteral("Не допустимо использование одинаковых Ip-адресов!");

using Requests = std::vector<std::vector<uint8_t>>;
const std::vector<uint8_t> kReadRequest{3, 32};

// The simulated pair as the window shows it: the three agreed links, B's missing TMO6 (column 6),
// A's transit TMO3 switched over the session to a third module (row 9), A's missing transit TF4
// (row 8); B's TF3, which names A's TF4 without an answer, shows nothing.
const QStringList kPairTmo = Rows(
    "XVXXXXXXXXXX .X...X...X.. XXXXXXXXXVXX .X...X...X.. .X...X...X.. .X...X...X.. "
    ".X...X...X.. .X...X...X.. XXXXXXXXXXXX .X...X...X.. .X...X...X.. .X...X...X..");
const QStringList kPairTf = Rows(
    "XXXXXVXX .....X.. .....X.. .....X.. "
    ".....X.. .....X.. .....X.. XXXXXXXX");

}  // namespace

class SwitchTest : public QObject, SimWindowsFixture {
    Q_OBJECT

    SimModule& A() { return sim->module(0); }
    SimModule& B() { return sim->module(1); }

    template <class T>
    T* C(const char* name) {
        T* control =
            SwitchWindow() ? SwitchWindow()->findChild<T*>(QString::fromLatin1(name)) : nullptr;
        if (!control)
            qFatal("no control %s", name);
        return control;
    }
    StringGrid* Tmo() { return C<StringGrid>("StringGridSwitchTMO"); }
    StringGrid* Tf() { return C<StringGrid>("StringGridSwitchTF"); }

    static QStringList Marks(const StringGrid* grid) { return GridMarks(grid); }

    void open() {
        if (!app->form->ButtonSwitching->isChecked())
            app->form->ButtonSwitching->click();
        QVERIFY(SwitchWindow() && SwitchWindow()->isVisible());
    }
    void setAddresses(const QString& a, const QString& portA, const QString& b,
                      const QString& portB) {
        C<QComboBox>("ComboBoxSwIpA")->setEditText(a);
        C<QLineEdit>("EditSwPortA")->setText(portA);
        C<QComboBox>("ComboBoxSwIpB")->setEditText(b);
        C<QLineEdit>("EditSwPortB")->setText(portB);
    }
    void setPair() { setAddresses("127.0.0.1", port(0), "127.0.0.2", port(1)); }
    bool idle() const {
        return MainWindow()->Pair.SwConnectState == Awaiting::None &&
               MainWindow()->Pair.SwSetState == Awaiting::None;
    }
    void readBoth() {
        C<QPushButton>("SwConnectButton")->click();
        QTRY_VERIFY(idle());
        QCOMPARE(MainWindow()->Pair.CurrentMux, 0);
    }
    void writeBoth() {
        C<QPushButton>("SwSetButton")->click();
        QTRY_VERIFY(idle());
    }
    void doubleClick(StringGrid* grid, int column, int row) {
        const QRect rect = grid->visualItemRect(grid->item(row, column));
        // The first click makes the cell current, the second press is the double click.
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, rect.center());
    }
    // The command controls as the operator sees them: connect, set, reset.
    QList<bool> commands() {
        return {C<QPushButton>("SwConnectButton")->isEnabled(),
                C<QPushButton>("SwSetButton")->isEnabled(),
                C<QPushButton>("SwResetButton")->isEnabled()};
    }

  private slots:
    void init() {
        QVERIFY(startPair());
        open();
        setPair();
    }
    void cleanup() { QVERIFY(stopPair()); }

    void readShowsTheAgreedLinks() {
        A().setMisbehaviour(CmdReadSwitching, Misbehaviour{MisbehaviourKind::Delay, 300});
        C<QPushButton>("SwConnectButton")->click();
        QCOMPARE(commands(), (QList<bool>{false, false, false}));
        // A press while the window waits sends nothing more.
        SwitchWindow()->SwConnectButtonClick(Sender::Operator);
        SwitchWindow()->SwSetButtonClick(Sender::Operator);
        // A request from those presses would reach A about when the read does; A holds its
        // answer 300 ms, so B cannot have been asked yet.
        QVERIFY(QTest::qWaitFor([this] { return A().requestCount() > 0; }));
        AllowFor(100, [this] { return A().requestCount() > 1 || B().requestCount() > 0; });
        QCOMPARE(A().requests(), Requests{kReadRequest});
        QVERIFY(B().requests().empty());  // B is asked only once A has answered
        QTRY_VERIFY(idle());
        QCOMPARE(A().requests(), Requests{kReadRequest});
        QCOMPARE(B().requests(), Requests{kReadRequest});
        QCOMPARE(MainWindow()->Pair.CurrentMux, 0);
        QCOMPARE(Marks(Tmo()), kPairTmo);
        QCOMPARE(Marks(Tf()), kPairTf);
        QVERIFY(app->messages().isEmpty());
        QCOMPARE(commands(), (QList<bool>{true, true, true}));
        QCOMPARE(MainWindow()->Pending.count(), 0);
        // Each side's address joins its list with its port.
        QCOMPARE(C<QComboBox>("ComboBoxSwIpA")->count(), 1);
        QCOMPARE(C<QComboBox>("ComboBoxSwIpA")->currentIndex(), 0);
        QCOMPARE(SwitchWindow()->PortListA, QStringList{port(0)});
        QCOMPARE(C<QComboBox>("ComboBoxSwIpB")->itemText(0), QString("127.0.0.2"));
        QCOMPARE(SwitchWindow()->PortListB, QStringList{port(1)});
    }

    void editWriteAndReadAgain() {
        readBoth();
        const SwitchingBlock seededA = A().switching();
        const SwitchingBlock seededB = B().switching();
        doubleClick(Tmo(), 3, 2);  // TMO2 of A with TMO3 of B
        doubleClick(Tf(), 6, 1);   // the TF link goes
        doubleClick(Tmo(), 4, 9);  // a port of another session: nothing
        doubleClick(Tmo(), 0, 3);  // headings: nothing
        doubleClick(Tf(), 2, 0);
        const QStringList tmo = Rows(
            "XVXXXXXXXXXX XXVXXXXXXXXX XXXXXXXXXVXX .XX..X...X.. .XX..X...X.. .XX..X...X.. "
            ".XX..X...X.. .XX..X...X.. XXXXXXXXXXXX .XX..X...X.. .XX..X...X.. .XX..X...X..");
        const QStringList tf = Rows(
            "........ ........ ........ ........ "
            "........ ........ ........ XXXXXXXX");
        QCOMPARE(Marks(Tmo()), tmo);
        QCOMPARE(Marks(Tf()), tf);

        A().setMisbehaviour(CmdWriteSwitching, Misbehaviour{MisbehaviourKind::Delay, 200});
        C<QPushButton>("SwSetButton")->click();
        QCOMPARE(commands(), (QList<bool>{false, false, false}));
        QTRY_COMPARE(A().requestCount(), size_t(2));
        QCOMPARE(B().requestCount(), size_t(1));  // B waits for A's answer
        QTRY_VERIFY(idle());
        QCOMPARE(app->messages(), (QStringList{kOneSided, kSavedA, kSavedB}));
        QCOMPARE(A().requests().back().size(), size_t(162));
        QCOMPARE(B().requests().back().size(), size_t(162));
        QCOMPARE(MainWindow()->Pair.CurrentMux, 0);
        QCOMPARE(commands(), (QList<bool>{true, true, true}));
        QCOMPARE(MainWindow()->Pending.count(),
                 0);  // no time-out left to come for an answered write
        // The module's own bytes of every entry go back as they came.
        const SwitchingBlock heldA = A().switching();
        const SwitchingBlock heldB = B().switching();
        for (int port = 0; port < kPortCount; ++port) {
            for (int i : {0, 1, 2, 3, 7}) {
                QCOMPARE(heldA[8 * port + i], seededA[8 * port + i]);
                QCOMPARE(heldB[8 * port + i], seededB[8 * port + i]);
            }
        }
        QCOMPARE(int(heldA[8 * 1 + 4]), 2);  // TMO2 of A: session 1, B's TMO3
        QCOMPARE(int(heldA[8 * 1 + 5]), 2);
        QCOMPARE(int(heldA[8 * 1 + 6]), 4);
        QCOMPARE(int(heldA[8 * 12 + 4]), 4);  // the other session's link is kept

        readBoth();
        QCOMPARE(Marks(Tmo()), tmo);
        QCOMPARE(Marks(Tf()), tf);
        QCOMPARE(app->messages(), (QStringList{kOneSided, kSavedA, kSavedB}));
    }

    // The settings window writes A's configuration between the switching read and the write:
    // the session the pair linked over may lead elsewhere now, so nothing goes until a new read.
    void configurationWriteEndsTheSwitchingRead() {
        readBoth();
        TSettingsForm* settings = SettingsWindow();
        settings->EditMuxIp->setText("127.0.0.1");
        settings->EditMuxPort->setText(port(0));
        settings->ButtonMuxConnection->click();
        QTRY_VERIFY(settings->Flow.holdsCurrentRead() &&
                    settings->Flow.ConnectState == Awaiting::None);
        settings->ButtonSetCurOptions->click();
        QTRY_VERIFY(settings->Flow.ApplyState == Awaiting::None &&
                    !settings->Flow.holdsCurrentRead());
        QCOMPARE(commands(), (QList<bool>{true, false, true}));
        emit C<QPushButton>("SwSetButton")->clicked();  // a press that reaches the handler
        QVERIFY(SettleExchanges());
        QCOMPARE(A().requestCount(), size_t(4));  // the read, the connect, its read, its write
        QCOMPARE(B().requestCount(), size_t(1));
        QCOMPARE(app->messages().last(),
                 "Перед записью считайте коммутационные настройки мультиплексоров А и В");
    }

    void errorAnswerFromAEndsTheRead() {
        A().setMisbehaviour(CmdReadSwitching, Misbehaviour{MisbehaviourKind::Unsupported, 0});
        C<QPushButton>("SwConnectButton")->click();
        QTRY_VERIFY(idle());
        QCOMPARE(app->messages(), QStringList{kReadWrongAnswer});
        QVERIFY(SettleExchanges());
        QVERIFY(B().requests().empty());
        QCOMPARE(MainWindow()->Pair.CurrentMux, 0);
        // Only the address asked is remembered, in its own list.
        QCOMPARE(C<QComboBox>("ComboBoxSwIpA")->count(), 1);
        QCOMPARE(C<QComboBox>("ComboBoxSwIpB")->count(), 0);
        // Nothing was read that could be written back.
        QCOMPARE(commands(), (QList<bool>{true, false, true}));
    }

    void errorAnswerFromADuringWriteStillWritesB() {
        readBoth();
        A().setMisbehaviour(CmdWriteSwitching, Misbehaviour{MisbehaviourKind::Unsupported, 0});
        writeBoth();
        QCOMPARE(app->messages(), (QStringList{kOneSided, kWriteWrongA, kSavedB}));
        QCOMPARE(B().requests().back().size(), size_t(162));
        QCOMPARE(MainWindow()->Pair.CurrentMux, 0);
    }

    void readTimeouts_data() {
        QTest::addColumn<int>("silent");
        QTest::addColumn<QString>("line");
        QTest::newRow("A") << 0
                           << "Нет ответа от мультиплексора A на запрос коммутационных настроек!";
        QTest::newRow("B") << 1
                           << "Нет ответа от мультиплексора B на запрос коммутационных настроек!";
    }
    void readTimeouts() {
        QFETCH(int, silent);
        QFETCH(QString, line);
        app->form->Timer->setInterval(100);
        sim->module(silent).setMisbehaviour(CmdReadSwitching,
                                            Misbehaviour{MisbehaviourKind::Silent, 0});
        C<QPushButton>("SwConnectButton")->click();
        QTRY_COMPARE(app->messages(), QStringList{line});
        QVERIFY(idle());
        QCOMPARE(MainWindow()->Pair.CurrentMux, 0);
        QCOMPARE(commands(), (QList<bool>{true, false, true}));
        QCOMPARE(MainWindow()->Pending.count(), 0);
        // Answered again, the next press reads both from A.
        sim->module(silent).setMisbehaviour(CmdReadSwitching, Misbehaviour{});
        readBoth();
        QCOMPARE(Marks(Tmo()), kPairTmo);
        QCOMPARE(A().requestCount(), size_t(2));
    }

    // Pressed again with the matrices as they were, the write goes on at B with B's block as
    // built; after an edit it starts over at A with both blocks built anew.
    void timeoutAtBDuringWriteResumesAtB_data() {
        QTest::addColumn<bool>("edited");
        QTest::newRow("as it was") << false;
        QTest::newRow("edited in between") << true;
    }
    void timeoutAtBDuringWriteResumesAtB() {
        QFETCH(bool, edited);
        app->form->Timer->setInterval(100);
        readBoth();
        doubleClick(Tmo(), 3, 2);
        B().setMisbehaviour(CmdWriteSwitching, Misbehaviour{MisbehaviourKind::Silent, 0});
        C<QPushButton>("SwSetButton")->click();
        QTRY_COMPARE(app->messages(), (QStringList{kOneSided, kSavedA, kNoWriteAnswerB}));
        QCOMPARE(MainWindow()->Pair.CurrentMux, 1);
        QCOMPARE(commands(), (QList<bool>{true, true, true}));
        QCOMPARE(MainWindow()->Pending.count(), 0);  // or the timer would come back on every tick
        const std::vector<uint8_t> firstToB = B().requests().back();
        QCOMPARE(firstToB.size(), size_t(162));

        if (edited)
            doubleClick(Tmo(), 3, 2);
        B().setMisbehaviour(CmdWriteSwitching, Misbehaviour{});
        writeBoth();
        // The failed write ended B's read: after an edit only a new read may build a write.
        QStringList expected{kOneSided, kSavedA, kNoWriteAnswerB};
        expected << (edited ? QStringLiteral("Перед записью считайте коммутационные настройки "
                                             "мультиплексоров А и В")
                            : kSavedB);
        QCOMPARE(app->messages(), expected);
        QCOMPARE(B().requests().back(), firstToB);
        QCOMPARE(A().requestCount(), size_t(2));  // the read and the write
        QCOMPARE(MainWindow()->Pair.CurrentMux, 0);
    }

    void equalAddressesAreRefusedOnAPress() {
        setAddresses("127.0.0.1", port(0), "127.0.0.1", port(1));
        C<QPushButton>("SwConnectButton")->click();
        QCOMPARE(app->messages(), QStringList{kSameAddresses});
        QVERIFY(idle());
        QVERIFY(SettleExchanges());
        QVERIFY(A().requests().empty());
        QCOMPARE(C<QComboBox>("ComboBoxSwIpA")->count(), 0);
    }

    // Made equal while A's answer is awaited, the texts do not hold up the read under way, and
    // the analysis pairs the modules that answered; a write waits until the texts name them.
    void equalAddressesDoNotStopAReadUnderWay() {
        A().setMisbehaviour(CmdReadSwitching, Misbehaviour{MisbehaviourKind::Delay, 200});
        C<QPushButton>("SwConnectButton")->click();
        C<QComboBox>("ComboBoxSwIpA")->setEditText("127.0.0.2");
        QTRY_VERIFY(idle());
        QCOMPARE(B().requests(), Requests{kReadRequest});
        QCOMPARE(app->messages(), QStringList{});
        QCOMPARE(commands(), (QList<bool>{true, true, true}));
        C<QPushButton>("SwSetButton")->click();
        QCOMPARE(app->messages(),
                 QStringList{"Адреса мультиплексоров не те, что были считаны: считайте "
                             "коммутационные настройки снова"});
        QVERIFY(SettleExchanges());
        QCOMPARE(A().requestCount(), size_t(1));
        QCOMPARE(B().requestCount(), size_t(1));
    }

    // Another window's answer ends its own busy state, not this window's wait: the command
    // buttons, and the current-links window's, stay shut until the read has ended.
    void otherWindowsAnswersLeaveTheWaitingWindowShut() {
        A().setMisbehaviour(CmdReadSwitching, Misbehaviour{MisbehaviourKind::Delay, 400});
        C<QPushButton>("SwConnectButton")->click();
        QComboBox* type = C<QComboBox>("ComboBoxSwResetType");
        type->setCurrentIndex(1);
        emit type->activated(1);
        QVERIFY(LinksWindow());
        app->form->ButtonStat->click();
        TStatForm* stat = StatWindow(0);
        stat->EditStatIp->setText("127.0.0.1");
        stat->EditStatPort->setText(port(0));
        stat->RequestButton->click();
        QTRY_COMPARE(stat->Flow.PendingStatType, Awaiting::None);
        QCOMPARE(commands(), (QList<bool>{false, false, false}));
        QVERIFY(!LinksWindow()->ButtonConnect->isEnabled());
        LinksWindow()->ButtonConnectClick(Sender::Operator);  // a press that gets through anyway
        QTRY_VERIFY(idle());
        // Each command connects on its own thread: the two may reach the module in any order.
        Requests got = A().requests();
        std::sort(got.begin(), got.end());
        QCOMPARE(got, Requests({{2, 8}, kReadRequest}));
        QCOMPARE(commands(), (QList<bool>{true, true, true}));
        QVERIFY(LinksWindow()->ButtonConnect->isEnabled());
        LinksWindow()->close();
    }

    void closingWhileWaitingEndsTheRead() {
        A().setMisbehaviour(CmdReadSwitching, Misbehaviour{MisbehaviourKind::Delay, 200});
        C<QPushButton>("SwConnectButton")->click();
        SwitchWindow()->close();
        QVERIFY(!SwitchWindow());
        QVERIFY(SettleExchanges());  // past A's answer, had the close not given the read up
        QVERIFY(B().requests().empty());
        QCOMPARE(MainWindow()->Pending.count(), 0);
        QVERIFY(app->messages().isEmpty());
    }

    void addressesAreRememberedAcrossOpenings() {
        readBoth();
        // A second read with the entry still chosen replaces it instead of adding one.
        readBoth();
        QVERIFY(SwitchWindow()->close());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        open();
        QCOMPARE(C<QComboBox>("ComboBoxSwIpA")->count(), 1);
        QCOMPARE(C<QComboBox>("ComboBoxSwIpA")->currentText(), QString("127.0.0.1"));
        QCOMPARE(C<QLineEdit>("EditSwPortA")->text(), port(0));
        QCOMPARE(C<QComboBox>("ComboBoxSwIpB")->currentText(), QString("127.0.0.2"));
        QCOMPARE(C<QLineEdit>("EditSwPortB")->text(), port(1));
        // A typed address is a new entry beside the old one.
        C<QComboBox>("ComboBoxSwIpB")->setCurrentIndex(-1);
        C<QComboBox>("ComboBoxSwIpB")->setEditText("127.0.0.2");
        readBoth();
        QCOMPARE(SwitchWindow()->PortListB.size(), 2);
        QCOMPARE(C<QComboBox>("ComboBoxSwIpB")->currentIndex(), 1);
    }
};

QTEST_MAIN(SwitchTest)
#include "test_switch.moc"
