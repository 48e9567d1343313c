// Resetting the switching of A, B, both, or only the links of chosen sessions, against the
// simulated pair; and the blocks a reset writes, without a window.
#include <QtTest>

#include <QtWidgets>

#include "forms/currentlinks.h"
#include "forms/main.h"
#include "forms/switch.h"
#include "link/pending.h"
#include "model/switchreset.h"
#include "sim/commands.h"
#include "sim/simulator.h"
#include "support/app_fixture.h"
#include "support/marks.h"
#include "support/sim_windows.h"
#include "support/waits.h"
#include "support/windows.h"
#include "ui/speedbutton.h"
#include "ui/stringgrid.h"

namespace {

using Requests = std::vector<std::vector<uint8_t>>;
const std::vector<uint8_t> kRead{3, 32};
const QString kDoneA = QStringLiteral("Сброс настроек мультиплексора А произведен");
const QString kDoneB = QStringLiteral("Сброс настроек мультиплексора B произведен");

// The link fields (bytes 4 to 6) of every entry of a written block, and whether every other
// byte is what the module held before.
struct Written {
    QList<QList<int>> links;
    bool carriedKept = true;
};
Written Inspect(const std::vector<uint8_t>& request, const SwitchingBlock& before) {
    Written w;
    for (int port = 0; port < kPortCount; ++port) {
        const int at = 2 + PortEntryOffsetOf(port);
        w.links << QList<int>{request[at + 4], request[at + 5], request[at + 6]};
        for (int i : {0, 1, 2, 3, 7})
            w.carriedKept = w.carriedKept && request[at + i] == before[PortEntryOffsetOf(port) + i];
    }
    return w;
}
QList<QList<int>> Links(const SwitchingBlock& block) {
    QList<QList<int>> out;
    for (int port = 0; port < kPortCount; ++port) {
        const uint8_t* e = &block[PortEntryOffsetOf(port)];
        out << QList<int>{e[4], e[5], e[6]};
    }
    return out;
}
const QList<QList<int>> kAllUnlinked(kPortCount, QList<int>{0, NoChannel, 0});

QString Classify(const std::vector<uint8_t>& request, const SwitchingBlock& held) {
    const Written sent = Inspect(request, held);
    if (!sent.carriedKept)
        return "foreign";
    if (sent.links == kAllUnlinked)
        return "all";
    if (sent.links == Links(held))
        return "same";
    for (int n = 1; n <= kSessionCount; ++n) {
        QList<QList<int>> without = Links(held);
        for (QList<int>& link : without) {
            if (link[0] == n + 1)
                link = {0, NoChannel, 0};
        }
        if (sent.links == without)
            return "sel" + QString::number(n);
    }
    return "other";
}

std::vector<uint8_t> Writes(const Requests& requests, int n) {
    int seen = 0;
    for (const auto& r : requests) {
        if (r.size() == 162 && seen++ == n)
            return r;
    }
    return {};
}

}  // namespace

class SwitchResetTest : public QObject, SimWindowsFixture {
    Q_OBJECT

    TSwitchForm* w = nullptr;
    SwitchingBlock heldA{}, heldB{};

    SimModule& A() { return sim->module(0); }
    SimModule& B() { return sim->module(1); }

    void choose(QComboBox* box, int index) {
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    bool idle() const {
        return MainWindow()->Pair.SwConnectState == Awaiting::None &&
               MainWindow()->Pair.SwSetState == Awaiting::None &&
               MainWindow()->Pair.SwResetState == Awaiting::None;
    }
    void readBoth() {
        w->SwConnectButton->click();
        QTRY_VERIFY(idle());
        heldA = A().switching();
        heldB = B().switching();
    }
    // Presses "Сброс" and waits for the re-read that follows every reset.
    void resetAndReread(int readsBefore) {
        w->SwResetButton->click();
        const auto readsOfB = [this] {
            const Requests requests = B().requests();
            return std::count(requests.begin(), requests.end(), kRead);
        };
        QTRY_VERIFY(idle() && readsOfB() > readsBefore);
    }

  private slots:
    // ----- without a window -----

    void unlinkChosenSessions_data() {
        QTest::addColumn<QList<int>>("chosen");    // sessions 1..6 marked
        QTest::addColumn<QList<int>>("unlinked");  // ports whose link is cleared
        QTest::addColumn<bool>("any");
        // Ports 0..5 carry sessions 1, 1, 2, 6, none (0) and a stray code 9.
        QTest::newRow("session 1 on two ports") << QList<int>{1} << QList<int>{0, 1} << true;
        QTest::newRow("sessions 2 and 6") << QList<int>{2, 6} << QList<int>{2, 3} << true;
        QTest::newRow("a session without links") << QList<int>{4} << QList<int>{} << true;
        QTest::newRow("none chosen") << QList<int>{} << QList<int>{} << false;
    }
    void unlinkChosenSessions() {
        QFETCH(QList<int>, chosen);
        QFETCH(QList<int>, unlinked);
        QFETCH(bool, any);
        MuxSnapshot s{};
        for (int i = 0; i < kSnapshotSize; ++i)
            s[i] = static_cast<uint8_t>(i * 13 + 1);
        const int codes[] = {2, 2, 3, 7, 0, 9};
        for (int port = 0; port < 6; ++port)
            PutLink(s, port, static_cast<uint8_t>(codes[port]), static_cast<uint8_t>(port), 4);
        std::array<bool, kSessionCount> choices{};
        for (int n = 0; n < kSessionCount; ++n)
            choices[n] = chosen.contains(n + 1);
        MuxSnapshot expected = s;
        for (int port : unlinked)
            PutLink(expected, port, 0, NoChannel, CrossPathNone);
        QCOMPARE(UnlinkChosenSessions(s, choices), any);
        QVERIFY(s == expected);
        UnlinkAllPorts(s);
        for (int i = 0; i < kSnapshotSize; ++i) {
            const int inEntry = (i - SnapshotOffset::Switching) % kPortEntrySize;
            const bool link = i >= SnapshotOffset::Switching && i < SnapshotOffset::Availability &&
                              inEntry >= 4 && inEntry <= 6;
            const int want = !link ? expected[i] : inEntry == 5 ? NoChannel : 0;
            QCOMPARE(int(s[i]), want);
        }
    }

    // ----- the window against the simulated pair -----

    void init() {
        if (QByteArray(QTest::currentTestFunction()).startsWith("unlink"))
            return;
        QVERIFY(startPair());
        app->form->ButtonSwitching->click();
        w = SwitchWindow();
        QVERIFY(w);
        w->ComboBoxSwIpA->setEditText("127.0.0.1");
        w->EditSwPortA->setText(port(0));
        w->ComboBoxSwIpB->setEditText("127.0.0.2");
        w->EditSwPortB->setText(port(1));
        readBoth();
    }
    void cleanup() { QVERIFY(stopPair()); }

    void resetOf_data() {
        QTest::addColumn<int>("target");  // item of ComboBoxSwResetFor
        QTest::addColumn<int>("type");    // item of ComboBoxSwResetType; -1 none chosen
        QTest::addColumn<bool>("toA");
        QTest::addColumn<bool>("toB");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("A and B, all") << 2 << 0 << true << true << QStringList{kDoneA, kDoneB};
        QTest::newRow("B alone, all") << 1 << 0 << false << true << QStringList{kDoneB};
        QTest::newRow("A alone, no type") << 0 << -1 << true << false << QStringList{kDoneA};
    }
    void resetOf() {
        QFETCH(int, target);
        QFETCH(int, type);
        QFETCH(bool, toA);
        QFETCH(bool, toB);
        QFETCH(QStringList, log);
        const size_t aBefore = A().requests().size();
        const size_t bBefore = B().requests().size();
        if (type >= 0)
            choose(w->ComboBoxSwResetType, type);
        choose(w->ComboBoxSwResetFor, target);
        resetAndReread(1);
        QCOMPARE(app->messages(), log);
        QCOMPARE(MainWindow()->Pair.CurrentMux, 0);
        QCOMPARE(MainWindow()->Pair.SwResetScope, 0);
        // What each module was sent: A first; then both read again, A first.
        const Requests allA = A().requests();
        const Requests allB = B().requests();
        const Requests a(allA.begin() + aBefore, allA.end());
        const Requests b(allB.begin() + bBefore, allB.end());
        QCOMPARE(a.size(), size_t(toA ? 2 : 1));
        QCOMPARE(b.size(), size_t(toB ? 2 : 1));
        QCOMPARE(a.back(), kRead);
        QCOMPARE(b.back(), kRead);
        const auto expected = [&](const SwitchingBlock& held) {
            return type == 0 ? kAllUnlinked : Links(held);
        };
        if (toA) {
            QCOMPARE(a[0].size(), size_t(162));
            const Written sent = Inspect(a[0], heldA);
            QCOMPARE(sent.links, expected(heldA));
            QVERIFY(sent.carriedKept);
        }
        if (toB) {
            QCOMPARE(b[0].size(), size_t(162));
            const Written sent = Inspect(b[0], heldB);
            QCOMPARE(sent.links, expected(heldB));
            QVERIFY(sent.carriedKept);
        }
        if (type == 0 && target == 2) {
            // Both cleared: only the ports that do not exist are left blocked.
            const QStringList tmo = Rows(
                ".....X...... .....X...... .....X...... .....X...... .....X...... .....X...... "
                ".....X...... .....X...... .....X...... .....X...... .....X...... .....X......");
            QCOMPARE(GridMarks(w->StringGridSwitchTMO), tmo);
            QCOMPARE(GridMarks(w->StringGridSwitchTF), Rows("........ ........ ........ ........ "
                                                            "........ ........ ........ XXXXXXXX"));
        }
    }

    void selectiveResetClearsOnlyTheChosenSessions() {
        choose(w->ComboBoxSwResetFor, 0);
        choose(w->ComboBoxSwResetType, 1);
        QVERIFY(LinksWindow() && LinksWindow()->isVisible());
        QCOMPARE(w->ComboBoxSwResetFor->currentIndex(), -1);
        QVERIFY(!w->ComboBoxSwResetFor->isEnabled());
        TCurLinksForm* links = LinksWindow();
        links->EditIp->setText("127.0.0.1");
        links->EditPort->setText(port(0));
        // Nothing chosen yet.
        w->SwResetButton->click();
        QCOMPARE(app->messages(), QStringList{"Не выбрано ни одной сессии!"});
        links->ButtonConnect->click();
        QTRY_COMPARE(MainWindow()->Pair.PendingLinksType, Awaiting::None);
        // A read in the links window changes no module: the pair's write stands.
        QVERIFY(w->SwSetButton->isEnabled());
        emit links->StringGridCurLinks->cellDoubleClicked(1, 2);  // S1, the partner session
        QCOMPARE(links->StringGridCurLinks->cellText(2, 1), SelectMark);
        const size_t aBefore = A().requests().size();
        resetAndReread(1);
        QCOMPARE(app->messages().mid(1), QStringList{kDoneA});
        const Written sent = Inspect(A().requests()[aBefore], heldA);
        QList<QList<int>> expected = Links(heldA);
        for (QList<int>& link : expected) {
            if (link[0] == kFirstSessionCode)
                link = {0, NoChannel, 0};
        }
        QCOMPARE(sent.links, expected);
        QVERIFY(sent.links != Links(heldA));  // the partner session did carry links
        QVERIFY(sent.carriedKept);
        QCOMPARE(Writes(B().requests(), 0), std::vector<uint8_t>{});
        // Back to "Все настройки", the target can be chosen again.
        choose(w->ComboBoxSwResetType, 0);
        QVERIFY(w->ComboBoxSwResetFor->isEnabled());
    }

    void missingAddressesAndRefusals_data() {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("addressB");
        QTest::addColumn<QString>("portB");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("no target and no current-links window") << -1 << "127.0.0.2"
                                                               << "65530" << QStringList{};
        QTest::newRow("B without a port")
            << 1 << "127.0.0.2"
            << "" << QStringList{"Не задан Ip-адрес или номер порта мультиплексора B"};
        QTest::newRow("A and B, B without an address")
            << 2 << ""
            << "65530" << QStringList{"Не задан Ip-адрес или номер порта мультиплексора B"};
        QTest::newRow("B refused by the check")
            << 1 << "127.0.2"
            << "65530" << QStringList{"Некорректный формат IP-адреса!"};
    }
    void missingAddressesAndRefusals() {
        QFETCH(int, target);
        QFETCH(QString, addressB);
        QFETCH(QString, portB);
        QFETCH(QStringList, log);
        const size_t aBefore = A().requests().size();
        w->ComboBoxSwIpB->setEditText(addressB);
        w->EditSwPortB->setText(portB);
        choose(w->ComboBoxSwResetType, 0);
        choose(w->ComboBoxSwResetFor, target);
        w->SwResetButton->click();
        QCOMPARE(app->messages(), log);
        QCOMPARE(MainWindow()->Pair.CurrentMux, 0);
        QCOMPARE(MainWindow()->Pair.SwResetState, Awaiting::None);
        QVERIFY(app->errors.isEmpty());
        QVERIFY(SettleExchanges());
        QCOMPARE(A().requests().size(), aBefore);
    }

    // Whatever the operator does, a module is written only what was built from a whole read of
    // that very module plus the operator's choice. Each module's requests after the script, as
    // tokens: r a read; a write as "same" (links as the module held them), "all" (every link
    // gone), "selN" (only session N's gone), "other", or "foreign" (bytes not the module's own).
    void nothingIsWrittenThatNobodyChose_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        const QString selective = "type 1,links A,mark 1,";
        for (const char* how : {"unsupported", "close", "silent"}) {
            QTest::addRow("selective reset after a links read that failed: %s", how)
                << selective + "mis A read " + how + ",links A,reset"
                << "A:rr";
        }
        QTest::newRow("selective reset after the switching window was reopened")
            << selective + "reopen,type 1,reset"
            << "A:rsel1r B:r";
        QTest::newRow("selective reset pressed twice") << selective + "reset,reset"
                                                       << "A:rsel1r B:r";
        QTest::newRow("all settings after selective, no target") << selective + "type 0,reset"
                                                                 << "A:r";
        // What the program knows of a module outlives the window that read it.
        QTest::newRow("reset in a reopened window") << "reopen,type 0,for 0,reset"
                                                    << "A:allr B:r";
        QTest::newRow("reset without a type in a reopened window") << "reopen,for 2,reset"
                                                                   << "A:samer B:samer";
        QTest::newRow("write after an analysis without a partner on A") << "nopartner,read,set"
                                                                        << "A:r B:r";
        // A half that names no far port is unlinked: the write goes, and writes it unlinked.
        QTest::newRow("write after far channel 170") << "port0 2 170 4,read,set"
                                                     << "A:rother B:rother";
        QTest::newRow("write after a wrong cross-path") << "port0 2 1 5,read,set"
                                                        << "A:r B:r";
        QTest::newRow("write after a reset that timed out")
            << "mis A write silent,type 0,for 0,reset,mis A write normal,set"
            << "A:all";
        QTest::newRow("write after a selective reset refused by its address")
            << "type 1,links A,mark 3,read,linksip 127.0.0,reset,set"
            << "A:rrsame B:rother";
        QTest::newRow("reset of A after a read refused at B")
            << "ipB 127.0.2,read,ipB 127.0.0.2,type 0,for 0,reset"
            << "A:rallr B:r";
        QTest::newRow("reset of A after a write that timed out at B")
            << "mis B write silent,set,mis B write normal,type 0,for 0,reset"
            << "A:sameallr B:otherr";
        QTest::newRow("one module under two spellings") << "ipB 127.0.0.001,read"
                                                        << "";
    }
    void nothingIsWrittenThatNobodyChose() {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        app->form->Timer->setInterval(50);
        const size_t aBefore = A().requests().size();
        const size_t bBefore = B().requests().size();
        for (const QString& step : script.split(',')) {
            const QStringList word = step.split(' ');
            const QString& op = word[0];
            if (op == "type" || op == "for")
                choose(op == "type" ? w->ComboBoxSwResetType : w->ComboBoxSwResetFor,
                       word[1].toInt());
            else if (op == "links" || op == "linksip" || op == "mark") {
                TCurLinksForm* links = LinksWindow();
                QVERIFY(links);
                if (op == "mark")
                    emit links->StringGridCurLinks->cellDoubleClicked(word[1].toInt(), 2);
                else if (op == "linksip")
                    links->EditIp->setText(word[1]);
                else {
                    links->EditIp->setText("127.0.0.1");
                    links->EditPort->setText(port(0));
                    links->ButtonConnect->click();
                }
            } else if (op == "mis") {
                const uint8_t type = word[2] == "read" ? CmdReadSwitching : CmdWriteSwitching;
                const std::optional<Misbehaviour> how = ParseMisbehaviour(word[3].toStdString());
                QVERIFY(how);
                (word[1] == "A" ? A() : B()).setMisbehaviour(type, *how);
            } else if (op == "reopen") {
                w->close();
                app->form->ButtonSwitching->click();
                w = SwitchWindow();
                w->ComboBoxSwIpA->setEditText("127.0.0.1");
                w->EditSwPortA->setText(port(0));
                w->ComboBoxSwIpB->setEditText("127.0.0.2");
                w->EditSwPortB->setText(port(1));
            } else if (op == "nopartner" || op == "port0") {
                ModuleState state = A().state();
                if (op == "nopartner") {
                    (*state.config)[SessionRecordOffset(0) + SessionOffset::Enable] = 0;
                } else {  // port 0 of A: session code, far channel, cross-path
                    uint8_t* e = state.switching->data() + PortEntryOffsetOf(0);
                    for (int i = 0; i < 3; ++i)
                        e[PortEntryOffset::LinkSession + i] = uint8_t(word[i + 1].toInt());
                }
                A().apply(state);
                heldA = A().switching();
            } else if (op == "ipB") {
                w->ComboBoxSwIpB->setEditText(word[1]);
            } else if (op == "read") {
                w->SwConnectButton->click();
            } else if (op == "set") {
                w->SwSetButton->click();
            } else if (op == "reset") {
                w->SwResetButton->click();
            } else {
                QFAIL(qPrintable("unknown step " + step));
            }
            // Every exchange, and the re-read that follows a reset, runs to its end.
            QTRY_VERIFY_WITH_TIMEOUT(idle() &&
                                         MainWindow()->Pair.PendingLinksType == Awaiting::None &&
                                         MainWindow()->Pending.count() == 0,
                                     3000);
            QVERIFY(SettleExchanges());
        }
        QString got;
        for (const auto& [name, module, held, before] :
             {std::tuple{'A', &A(), heldA, aBefore}, std::tuple{'B', &B(), heldB, bBefore}}) {
            const Requests all = module->requests();
            QString tokens;
            for (size_t i = before; i < all.size(); ++i)
                tokens += all[i] == kRead ? QStringLiteral("r") : Classify(all[i], held);
            if (!tokens.isEmpty())
                got += QString(got.isEmpty() ? "" : " ") + name + ':' + tokens;
        }
        QCOMPARE(got, expected);
    }

    void timeoutAtBLeavesTheWindowUsable() {
        app->form->Timer->setInterval(100);
        B().setMisbehaviour(CmdWriteSwitching, Misbehaviour{MisbehaviourKind::Silent, 0});
        choose(w->ComboBoxSwResetType, 0);
        choose(w->ComboBoxSwResetFor, 1);
        w->SwResetButton->click();
        QVERIFY(!w->SwConnectButton->isEnabled());
        QTRY_COMPARE(app->messages(),
                     QStringList{"Нет ответа от мультиплексора B на команду сохранения "
                                 "коммутационных настроек!"});
        QCOMPARE(MainWindow()->Pair.CurrentMux, 0);
        QVERIFY(w->SwConnectButton->isEnabled());
        QVERIFY(w->SwResetButton->isEnabled());
        QCOMPARE(MainWindow()->Pending.count(), 0);
        // The next read starts at A.
        const size_t aBefore = A().requests().size();
        w->SwConnectButton->click();
        QTRY_COMPARE(A().requests().size(), aBefore + 1);
        QCOMPARE(A().requests().back(), kRead);
        QTRY_VERIFY(idle());
    }
};

QTEST_MAIN(SwitchResetTest)
#include "test_switchreset.moc"
