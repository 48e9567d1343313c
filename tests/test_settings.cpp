// The settings window against a simulated module: connect, read, edit, write.
#include <QtTest>

#include "forms/main.h"
#include "forms/settings.h"
#include "link/pending.h"
#include "model/bytes.h"
#include "sim/simulator.h"
#include "support/app_fixture.h"

namespace {

const QString kConnected = QStringLiteral("Соединение с удаленным мультиплексором установлено");
const QString kRead = QStringLiteral("Конфигурация считана");
const QString kWritten = QStringLiteral("Конфигурация установлена");
const QString kReconnect =
    QStringLiteral("Необходимо повторное соединение для продолжения работы с мультиплексором");

void Choose(QComboBox* box, int index) {
    box->setCurrentIndex(index);
    emit box->activated(index);
}

void Type(QLineEdit* edit, const QString& text) {
    edit->clear();
    QTest::keyClicks(edit, text);
}

QList<int> Block(const std::vector<uint8_t>& bytes, int from, int n) {
    QList<int> out;
    for (int i = 0; i < n; ++i)
        out << bytes[from + i];
    return out;
}

QStringList Items(const QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

}  // namespace

class SettingsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Simulator> sim;
    std::unique_ptr<AppFixture> app;
    TSettingsForm* s = nullptr;

    SimModule& module() { return sim->module(0); }
    std::vector<std::vector<uint8_t>> requests() { return module().requests(); }

    void connectAndRead() {
        const auto reads = app->messages().count(kRead);
        s->ButtonMuxConnection->click();
        QTRY_COMPARE(app->messages().count(kRead), reads + 1);
        QCOMPARE(s->ConnectState, 0);
    }

  private slots:
    void init() {
        SimulatorOptions options;
        options.quiet = true;
        options.manualClock = true;
        sim = std::make_unique<Simulator>(
            std::vector<Endpoint>{Endpoint{{127, 0, 0, 1}, 0}, Endpoint{{127, 0, 0, 2}, 0}},
            options);
        QVERIFY(sim->start());
        app = std::make_unique<AppFixture>();
        s = SettingsForm;
        s->EditMuxIp->setText("127.0.0.1");
        s->EditMuxPort->setText(QString::number(sim->port(0)));
        app->form->SettingsButton->click();
    }
    void cleanup() {
        app.reset();
        sim->stop();
        QVERIFY(WaitForReceiveThreads(5000));
    }

    void connectAndReadFillsTheWindow() {
        module().setMisbehaviour(CmdReadConfig, Misbehaviour{MisbehaviourKind::Delay, 300});
        s->ButtonMuxConnection->click();
        // Request sent: fields cleared and locked, connection group and both buttons disabled.
        QCOMPARE(s->ConnectState, 1);
        QVERIFY(!s->GroupBoxConnection->isEnabled());
        QVERIFY(!s->ButtonMuxConnection->isEnabled());
        QVERIFY(!s->ButtonSetCurOptions->isEnabled());
        QVERIFY(!s->GroupBoxModuleSettings->isEnabled());
        // Connect answered, read sent: fields enabled but empty, buttons enabled.
        QTRY_COMPARE(s->ConnectState, 2);
        QCOMPARE(app->messages(), QStringList{kConnected});
        QVERIFY(s->GroupBoxModuleSettings->isEnabled());
        QVERIFY(s->EditLocalIp->text().isEmpty());
        QVERIFY(s->ButtonMuxConnection->isEnabled());
        QVERIFY(s->ButtonSetCurOptions->isEnabled());
        // Configuration answered: filled and enabled.
        QTRY_COMPARE(s->ConnectState, 0);
        QCOMPARE(app->messages(), (QStringList{kConnected, kRead}));
        QCOMPARE(requests(), (std::vector<std::vector<uint8_t>>{{1, 1}, {1, 2}}));
        QCOMPARE(s->EditLocalIp->text(), QString("127.0.0.1"));
        QCOMPARE(s->EditLocalMac->text(), QString("02-4B-53-49-4D-01"));
        QCOMPARE(s->EditSubnetwork->text(), QString("255.255.255.0"));
        QCOMPARE(s->EditGateway->text(), QString("127.0.0.254"));
        QCOMPARE(s->EditControlPort->text(),
                 QString::number(GetU16(&module().config()[ConfigOffset::ControlPort])));
        QVERIFY(s->CheckBoxSock[0]->isChecked());
        QVERIFY(!s->CheckBoxSock[1]->isChecked());
        QVERIFY(s->CheckBoxSock[2]->isChecked());
        QCOMPARE(Items(s->ComboBoxSockets), (QStringList{"1", "3"}));
        QCOMPARE(app->form->Sessions[0].DestinationIp, QString("127.0.0.2"));
        QCOMPARE(app->form->Sessions[0].Tos, QString("10111000"));
        QCOMPARE(s->KsPinStateListBox->value("p1 pp"), QString("Высокий"));
        QCOMPARE(s->KsPinStateListBox->value("p2 pp"), QString("Низкий"));
        QCOMPARE(s->KsPinStateListBox->value("flow control"), QString("Включен"));
        QVERIFY(!s->KsPinStateListBox->isHidden());
        QVERIFY(s->GroupBoxConnection->isEnabled());
        QCOMPARE(PendingRequestCount(), 0);
    }

    void readWhileOnTheSessionsPageShowsTheFirstSession() {
        s->PageControl1->setCurrentIndex(1);
        connectAndRead();
        QCOMPARE(s->ComboBoxSockets->currentText(), QString("1"));
        QCOMPARE(s->EditDestinationIp->text(), QString("127.0.0.2"));
        QCOMPARE(s->EditTOS->text(), QString("10111000"));
        QCOMPARE(s->ComboBoxTOS->currentIndex(), 3);
        QVERIFY(s->GroupBoxSettingsOptions->isEnabled());
    }

    void applyWritesTheWindowAndLocksAgain() {
        connectAndRead();
        s->ButtonSetCurOptions->click();
        QCOMPARE(s->ApplyState, 4);
        QVERIFY(!s->ButtonMuxConnection->isEnabled());
        QVERIFY(!s->ButtonSetCurOptions->isEnabled());
        QTRY_COMPARE(s->ApplyState, 0);
        QCOMPARE(app->messages(), (QStringList{kConnected, kRead, kWritten, kReconnect}));
        const std::vector<uint8_t> write = requests().back();
        QCOMPARE(int(write.size()), 102);
        QCOMPARE(Block(write, 0, 2), (QList<int>{1, 4}));
        // The module now holds exactly the block that was sent.
        const ConfigBlock held = module().config();
        QVERIFY(std::equal(held.begin(), held.end(), write.begin() + 2));
        QVERIFY(s->EditLocalIp->text().isEmpty());
        QVERIFY(!s->GroupBoxModuleSettings->isEnabled());
        QVERIFY(s->KsPinStateListBox->isHidden());
        QVERIFY(s->ButtonMuxConnection->isEnabled());
    }

    void unsupportedConnect() {
        module().setMisbehaviour(CmdConnect, Misbehaviour{MisbehaviourKind::Unsupported, 0});
        s->ButtonMuxConnection->click();
        QTRY_COMPARE(app->messages().size(), 3);
        QCOMPARE(
            app->messages(),
            (QStringList{QStringLiteral("Текущая верия ПО модуля не поддерживает данную команду!"),
                         QStringLiteral("Ошибочный ответ мультиплексора!"),
                         QStringLiteral("Ошибочный ответ мультиплексора на команду "
                                        "установления соединения")}));
        QCOMPARE(s->ConnectState, 0);
        QVERIFY(s->ButtonMuxConnection->isEnabled());
        QVERIFY(s->ButtonSetCurOptions->isEnabled());
        QCOMPARE(requests().size(), size_t(1));
    }

    void timeouts_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("apply");
        QTest::addColumn<QString>("line");
        QTest::newRow("connect") << int(CmdConnect) << false
                                 << "Не могу установить соединение с удаленным мультиплексором!";
        QTest::newRow("read") << int(CmdReadConfig) << false
                              << "Не могу прочитать настройки удаленного мультиплексора!";
        QTest::newRow("write")
            << int(CmdWriteConfig) << true
            << "Нет ответа от удаленного мультиплексора на команду сохранения настроек!";
    }
    void timeouts() {
        QFETCH(int, type);
        QFETCH(bool, apply);
        QFETCH(QString, line);
        app->form->Timer->setInterval(100);
        if (apply)
            connectAndRead();
        module().setMisbehaviour(uint8_t(type), Misbehaviour{MisbehaviourKind::Silent, 0});
        (apply ? s->ButtonSetCurOptions : s->ButtonMuxConnection)->click();
        QTRY_VERIFY(app->messages().contains(line));
        QCOMPARE(app->messages().last(), line);
        QCOMPARE(s->ConnectState, 0);
        QCOMPARE(s->ApplyState, 0);
        QVERIFY(s->ButtonMuxConnection->isEnabled());
        QVERIFY(s->ButtonSetCurOptions->isEnabled());
        QCOMPARE(PendingRequestCount(), 0);
    }

    void lateAnswerStartsNothing() {
        app->form->Timer->setInterval(100);
        module().setMisbehaviour(CmdConnect, Misbehaviour{MisbehaviourKind::Delay, 1000});
        s->ButtonMuxConnection->click();
        QTRY_COMPARE(app->messages().size(), 1);
        QTest::qWait(1300);
        QCOMPARE(requests().size(), size_t(1));
        QCOMPARE(app->messages(),
                 QStringList{"Не могу установить соединение с удаленным мультиплексором!"});
    }

    void pressWhileConfigurationIsAwaitedIsIgnored() {
        module().setMisbehaviour(CmdReadConfig, Misbehaviour{MisbehaviourKind::Delay, 300});
        s->ButtonMuxConnection->click();
        QTRY_COMPARE(s->ConnectState, 2);
        s->ButtonMuxConnection->click();
        QCOMPARE(s->ConnectState, 2);
        QTRY_COMPARE(s->ConnectState, 0);
        QCOMPARE(app->messages(), (QStringList{kConnected, kRead}));
        QCOMPARE(requests().size(), size_t(2));
        QCOMPARE(s->EditLocalIp->text(), QString("127.0.0.1"));
    }

    void addressChecksSendNothing_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("empty port")
            << "127.0.0.1"
            << "" << QStringList{"Введите номер порта удаленного мультиплексора!"};
        QTest::newRow("bad address") << "127.0.0"
                                     << "65530" << QStringList{"Некорректный формат IP-адреса!"};
        QTest::newRow("port 70000") << "127.0.0.1"
                                    << "70000" << QStringList{"Некорректный номер порта!"};
    }
    void addressChecksSendNothing() {
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(QStringList, log);
        connectAndRead();
        const size_t before = requests().size();
        s->EditMuxIp->setText(address);
        s->EditMuxPort->setText(port);
        s->ButtonMuxConnection->click();
        QCOMPARE(app->messages().mid(2), log);
        QVERIFY(s->EditLocalIp->text().isEmpty());  // the connect entry clears the fields first
        QCOMPARE(s->ConnectState, 0);
        QTest::qWait(50);
        QCOMPARE(requests().size(), before);
    }

    void writeThatCannotBeBuiltSendsNothing() {
        connectAndRead();
        const size_t before = requests().size();
        s->EditLocalMac->setText("02:4B:53:49:4D:01");
        s->ButtonSetCurOptions->click();
        QCOMPARE(app->errors.size(), 1);
        QVERIFY(app->errors[0].contains("02:4B:53:49:4D:01"));
        QCOMPARE(s->ApplyState, 0);
        QVERIFY(s->ButtonSetCurOptions->isEnabled());
        QTest::qWait(50);
        QCOMPARE(requests().size(), before);
        // Mended, the same write goes out.
        s->EditLocalMac->setText("02-4B-53-49-4D-01");
        s->ButtonSetCurOptions->click();
        QTRY_COMPARE(requests().size(), before + 1);
    }

    void roundTripChangesExactlyWhatWasEdited() {
        // A deselected session with bytes of its own: a write must not wipe them.
        ConfigBlock start = module().config();
        uint8_t* s4 = &start[SessionRecordOffset(3)];
        PutU16(s4 + SessionOffset::LocalPort, 7004);
        PutU16(s4 + SessionOffset::DestinationPort, 8004);
        s4[SessionOffset::Enable] = 0;
        s4[SessionOffset::DestinationIp] = 10;
        s4[SessionOffset::DestinationIp + 3] = 4;
        PutU16(s4 + SessionOffset::Tos, 0x00A0);
        ModuleState state;
        state.config = start;
        module().apply(state);

        connectAndRead();
        s->EditControlPort->setText("4321");
        s->PageControl1->setCurrentIndex(1);
        QCOMPARE(s->ComboBoxSockets->currentText(), QString("1"));
        Type(s->EditDestinationIp, "10.20.30.40");
        s->PageControl1->setCurrentIndex(2);
        s->KsPinStateListBox->valueButton("pv 12")->click();
        s->ButtonSetCurOptions->click();
        QTRY_COMPARE(s->ApplyState, 0);

        s->PageControl1->setCurrentIndex(0);
        connectAndRead();
        ConfigBlock expected = start;
        PutU16(&expected[ConfigOffset::ControlPort], 4321);
        const uint8_t ip[] = {10, 20, 30, 40};
        std::copy(std::begin(ip), std::end(ip),
                  &expected[SessionRecordOffset(0) + SessionOffset::DestinationIp]);
        PutU32(&expected[ConfigOffset::OptionFlags],
               GetU32(&start[ConfigOffset::OptionFlags]) | LinkPort1Port2);
        const ConfigBlock held = module().config();
        for (int i = 0; i < kConfigBlockSize; ++i)
            QVERIFY2(held[i] == expected[i], qPrintable(QString("byte %1").arg(i)));
        QCOMPARE(s->EditControlPort->text(), QString("4321"));
        QCOMPARE(app->form->Sessions[0].DestinationIp, QString("10.20.30.40"));
        QCOMPARE(s->KsPinStateListBox->value("pv 12"), QString("Включено"));
        QVERIFY(!s->CheckBoxSock[3]->isChecked());
    }

    void closingHidesAndCancelsTheTimeout() {
        app->form->Timer->setInterval(100);
        module().setMisbehaviour(CmdConnect, Misbehaviour{MisbehaviourKind::Delay, 700});
        s->ButtonMuxConnection->click();
        s->close();
        QVERIFY(!app->form->SettingsButton->isChecked());
        QCOMPARE(PendingRequestCount(), 0);
        // No time-out while hidden; the answer still ends the connect and starts the read.
        QTRY_VERIFY_WITH_TIMEOUT(app->messages().contains(kRead), 3000);
        QCOMPARE(app->messages(), (QStringList{kConnected, kRead}));
    }

    void reopeningWhileWaitingBoundsTheWaitAgain() {
        app->form->Timer->setInterval(100);
        module().setMisbehaviour(CmdConnect, Misbehaviour{MisbehaviourKind::Silent, 0});
        s->ButtonMuxConnection->click();
        s->close();
        QTest::qWait(500);
        QVERIFY(app->messages().isEmpty());
        app->form->SettingsButton->click();
        QTRY_COMPARE(app->messages(),
                     QStringList{"Не могу установить соединение с удаленным мультиплексором!"});
        QVERIFY(s->ButtonMuxConnection->isEnabled());
    }

    void editMuxIpShowsOnTheSessionsPage() {
        Type(s->EditMuxIp, "10.0.0.9");
        QCOMPARE(s->LabelLocalIp->text(), QString("10.0.0.9"));
    }

    // ----- editing, with the module fields unlocked as after a read -----

    void ticksListTheSessionsSorted() {
        ::LockModuleSettings(false);
        SessionTable& sessions = app->form->Sessions;
        sessions[1].DestinationIp = "10.0.0.2";
        sessions[1].LocalPort = "2002";
        sessions[1].DestinationPort = "3002";
        sessions[1].Tos = "10110000";
        for (int n : {5, 2, 6})
            s->CheckBoxSock[n - 1]->click();
        QCOMPARE(Items(s->ComboBoxSockets), (QStringList{"2", "5", "6"}));
        QCOMPARE(s->ComboBoxSockets->currentIndex(), -1);
        for (int n : {2, 5, 6})
            QCOMPARE(int(sessions[n - 1].Enabled), 1);
        s->PageControl1->setCurrentIndex(1);
        QCOMPARE(s->ComboBoxSockets->currentText(), QString("2"));
        QCOMPARE(s->EditDestinationIp->text(), QString("10.0.0.2"));
        QCOMPARE(s->EditLocalPort->text(), QString("2002"));
        QCOMPARE(s->EditDestinationPort->text(), QString("3002"));
        QCOMPARE(s->EditTOS->text(), QString("10110000"));
        QCOMPARE(s->ComboBoxTOS->currentIndex(), 2);
        QVERIFY(s->GroupBoxSettingsOptions->isEnabled());
        QVERIFY(s->GroupBoxTos->isEnabled());
    }

    void untickAndTickAgain_data() {
        QTest::addColumn<int>("session");
        QTest::addColumn<bool>("keeps");
        QTest::newRow("session 3 keeps its texts") << 3 << true;
        QTest::newRow("session 6 is reset") << 6 << false;
    }
    void untickAndTickAgain() {
        QFETCH(int, session);
        QFETCH(bool, keeps);
        ::LockModuleSettings(false);
        s->PageControl1->setCurrentIndex(1);
        s->CheckBoxSock[session - 1]->click();
        s->PageControl1->setCurrentIndex(0);
        s->PageControl1->setCurrentIndex(1);
        Type(s->EditDestinationIp, "10.6.6.6");
        Type(s->EditLocalPort, "1006");
        Type(s->EditDestinationPort, "2006");
        Choose(s->ComboBoxTOS, 3);
        s->CheckBoxSock[session - 1]->click();
        QCOMPARE(int(app->form->Sessions[session - 1].Enabled), 0);
        QVERIFY(Items(s->ComboBoxSockets).isEmpty());
        s->CheckBoxSock[session - 1]->click();
        s->PageControl1->setCurrentIndex(0);
        s->PageControl1->setCurrentIndex(1);
        QCOMPARE(s->EditDestinationIp->text(), keeps ? QString("10.6.6.6") : QString());
        QCOMPARE(s->EditLocalPort->text(), keeps ? QString("1006") : QString());
        QCOMPARE(s->EditDestinationPort->text(), keeps ? QString("2006") : QString());
        QCOMPARE(s->EditTOS->text(), keeps ? QString("10111000") : QString());
    }

    void allTicksEveryBoxOnce() {
        ::LockModuleSettings(false);
        s->CheckBoxSock[0]->click();
        s->CheckBoxSock[3]->click();
        s->CheckBoxSockAll->click();
        QCOMPARE(Items(s->ComboBoxSockets), (QStringList{"1", "2", "3", "4", "5", "6"}));
        for (const SessionSettings& r : app->form->Sessions)
            QCOMPARE(int(r.Enabled), 1);
        s->CheckBoxSock[1]->click();  // a single box does not touch "Все"
        QVERIFY(s->CheckBoxSockAll->isChecked());
        s->CheckBoxSockAll->click();
        QVERIFY(Items(s->ComboBoxSockets).isEmpty());
        for (QCheckBox* box : s->CheckBoxSock)
            QVERIFY(!box->isChecked());
        for (const SessionSettings& r : app->form->Sessions)
            QCOMPARE(int(r.Enabled), 0);
    }

    void tosPresets_data() {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("bits");
        QTest::newRow("normal") << 1 << "00000000";
        QTest::newRow("real time") << 2 << "10110000";
        QTest::newRow("expedited forwarding") << 3 << "10111000";
    }
    void tosPresets() {
        QFETCH(int, choice);
        QFETCH(QString, bits);
        ::LockModuleSettings(false);
        s->CheckBoxSock[1]->click();
        s->PageControl1->setCurrentIndex(1);
        Choose(s->ComboBoxTOS, choice);
        QCOMPARE(s->EditTOS->text(), bits);
        QCOMPARE(app->form->Sessions[1].Tos, bits);
        // Typed the other way round, the preset is found again.
        Choose(s->ComboBoxTOS, 0);
        QVERIFY(s->EditTOS->text().isEmpty());
        QVERIFY(app->form->Sessions[1].Tos.isEmpty());
        Type(s->EditTOS, bits);
        QCOMPARE(s->ComboBoxTOS->currentIndex(), choice);
        QCOMPARE(app->form->Sessions[1].Tos, bits);
        Type(s->EditTOS, "00000001");
        QCOMPARE(s->ComboBoxTOS->currentIndex(), 0);
    }

    void optionClicksToggleAndSendNothing_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("p1 pp") << "p1 pp"
                               << "Низкий"
                               << "Высокий";
        QTest::newRow("p2 pp") << "p2 pp"
                               << "Низкий"
                               << "Высокий";
        QTest::newRow("p3 pp") << "p3 pp"
                               << "Низкий"
                               << "Высокий";
        QTest::newRow("pv 12") << "pv 12"
                               << "Выключено"
                               << "Включено";
        QTest::newRow("flow control") << "flow control"
                                      << "Выключен"
                                      << "Включен";
    }
    void optionClicksToggleAndSendNothing() {
        QFETCH(QString, key);
        QFETCH(QString, first);
        QFETCH(QString, second);
        ::LockModuleSettings(false);
        QPushButton* value = s->KsPinStateListBox->findChild<QPushButton*>(key);
        QVERIFY(value);
        QCOMPARE(value->text(), first);
        value->click();
        QCOMPARE(value->text(), second);
        value->click();
        QCOMPARE(value->text(), first);
        s->KsPinStateListBoxParamClick(key, "something else");
        QCOMPARE(value->text(), first);
        QTest::qWait(20);
        QCOMPARE(requests().size(), size_t(0));
    }

    void noSessionDisablesTheSessionsPage() {
        ::LockModuleSettings(false);
        s->EditDestinationIp->setText("1.1.1.1");
        s->EditTOS->setText("11110000");
        s->PageControl1->setCurrentIndex(1);
        QVERIFY(!s->GroupBoxSettingsOptions->isEnabled());
        QVERIFY(!s->GroupBoxTos->isEnabled());
        QVERIFY(s->EditDestinationIp->text().isEmpty());
        QCOMPARE(s->EditTOS->text(), QString("11110000"));
    }

    void typedSessionNumberSelects_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("selected");
        QTest::newRow("listed") << "4" << 4;
        QTest::newRow("not listed") << "3" << 0;
        QTest::newRow("not a session") << "x" << 0;
    }
    void typedSessionNumberSelects() {
        QFETCH(QString, typed);
        QFETCH(int, selected);
        ::LockModuleSettings(false);
        app->form->Sessions[3].DestinationIp = "10.4.4.4";
        s->CheckBoxSock[1]->click();
        s->CheckBoxSock[3]->click();
        s->PageControl1->setCurrentIndex(1);  // selects "2"
        const SessionTable before = app->form->Sessions;
        s->ComboBoxSockets->lineEdit()->selectAll();
        QTest::keyClicks(s->ComboBoxSockets->lineEdit(), typed);
        QCOMPARE(s->selectedSession(), selected);
        Type(s->EditDestinationPort, "999");
        for (int i = 0; i < 6; ++i) {
            const QString expected = i + 1 == selected ? QString("999") : before[i].DestinationPort;
            QCOMPARE(app->form->Sessions[i].DestinationPort, expected);
        }
        if (selected)
            QCOMPARE(s->EditDestinationIp->text(), QString("10.4.4.4"));
    }
};

QTEST_MAIN(SettingsTest)
#include "test_settings.moc"
