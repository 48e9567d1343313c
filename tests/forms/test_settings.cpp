// The settings window against a simulated module: connect, read, edit, write.
#include <QtTest>

#include <QtWidgets>
#include "forms/main.h"
#include "ui/speedbutton.h"

#include "forms/settings.h"
#include "forms/stat.h"
#include "forms/switch.h"
#include "link/codecs.h"
#include "link/pending.h"
#include "model/bytes.h"
#include "sim/simulator.h"
#include "support/app_fixture.h"
#include "support/sim_windows.h"
#include "support/waits.h"
#include "support/windows.h"
#include "ui/optionlist.h"
#include "ui/radiogroup.h"
#include "ui/stringgrid.h"

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

class SettingsTest : public QObject, SimWindowsFixture {
    Q_OBJECT

    TSettingsForm* s = nullptr;

    SimModule& module() { return sim->module(0); }

    // Controls are found the way tools find them: by their objectName.
    template <class T>
    T* C(const char* name) {
        T* control = SettingsWindow()->findChild<T*>(QString::fromLatin1(name));
        if (!control)
            qFatal("no control %s", name);
        return control;
    }
    template <class T>
    T* Main(const char* name) {
        T* control = app->form->findChild<T*>(QString::fromLatin1(name));
        if (!control)
            qFatal("no control %s", name);
        return control;
    }
    // Check box of session index + 1.
    QCheckBox* Sock(int index) {
        return C<QCheckBox>(QStringLiteral("CheckBoxSock%1").arg(index + 1).toLatin1().constData());
    }
    std::vector<std::vector<uint8_t>> requests() { return module().requests(); }

    void connectAndRead() {
        const auto reads = app->messages().count(kRead);
        C<QPushButton>("ButtonMuxConnection")->click();
        QTRY_COMPARE(app->messages().count(kRead), reads + 1);
        QCOMPARE(s->Flow.ConnectState, Awaiting::None);
    }

  private slots:
    void init() {
        QVERIFY(startPair());
        s = SettingsWindow();
        C<QLineEdit>("EditMuxIp")->setText("127.0.0.1");
        C<QLineEdit>("EditMuxPort")->setText(port(0));
        Main<SpeedButton>("SettingsButton")->click();
    }
    void cleanup() { QVERIFY(stopPair()); }

    void connectAndReadFillsTheWindow() {
        module().setMisbehaviour(CmdReadConfig, Misbehaviour{MisbehaviourKind::Delay, 300});
        C<QPushButton>("ButtonMuxConnection")->click();
        // Request sent: fields cleared and locked, connection group and both buttons disabled.
        QCOMPARE(s->Flow.ConnectState, Awaiting::Connect);
        QVERIFY(!C<QGroupBox>("GroupBoxConnection")->isEnabled());
        QVERIFY(!C<QPushButton>("ButtonMuxConnection")->isEnabled());
        QVERIFY(!C<QPushButton>("ButtonSetCurOptions")->isEnabled());
        QVERIFY(!C<QGroupBox>("GroupBoxModuleSettings")->isEnabled());
        // Connect answered, read sent: fields enabled but empty, buttons enabled.
        QTRY_COMPARE(s->Flow.ConnectState, Awaiting::ReadConfig);
        QCOMPARE(app->messages(), QStringList{kConnected});
        QVERIFY(C<QGroupBox>("GroupBoxModuleSettings")->isEnabled());
        QVERIFY(C<QLineEdit>("EditLocalIp")->text().isEmpty());
        QVERIFY(C<QPushButton>("ButtonMuxConnection")->isEnabled());
        QVERIFY(C<QPushButton>("ButtonSetCurOptions")->isEnabled());
        // Configuration answered: filled and enabled.
        QTRY_COMPARE(s->Flow.ConnectState, Awaiting::None);
        QCOMPARE(app->messages(), (QStringList{kConnected, kRead}));
        QCOMPARE(requests(), (std::vector<std::vector<uint8_t>>{{1, 1}, {1, 2}}));
        QCOMPARE(C<QLineEdit>("EditLocalIp")->text(), QString("127.0.0.1"));
        QCOMPARE(C<QLineEdit>("EditLocalMac")->text(), QString("02-4B-53-49-4D-01"));
        QCOMPARE(C<QLineEdit>("EditSubnetwork")->text(), QString("255.255.255.0"));
        QCOMPARE(C<QLineEdit>("EditGateway")->text(), QString("127.0.0.254"));
        QCOMPARE(C<QLineEdit>("EditControlPort")->text(),
                 QString::number(GetU16(&module().config()[ConfigOffset::ControlPort])));
        QVERIFY(Sock(0)->isChecked());
        QVERIFY(!Sock(1)->isChecked());
        QVERIFY(Sock(2)->isChecked());
        QCOMPARE(Items(C<QComboBox>("ComboBoxSockets")), (QStringList{"1", "3"}));
        QCOMPARE(app->form->Sessions[0].DestinationIp, QString("127.0.0.2"));
        QCOMPARE(app->form->Sessions[0].Tos, QString("10111000"));
        QCOMPARE(C<OptionList>("KsPinStateListBox")->value("p1 pp"), QString("Высокий"));
        QCOMPARE(C<OptionList>("KsPinStateListBox")->value("p2 pp"), QString("Низкий"));
        QCOMPARE(C<OptionList>("KsPinStateListBox")->value("flow control"), QString("Включен"));
        QVERIFY(!C<OptionList>("KsPinStateListBox")->isHidden());
        QVERIFY(C<QGroupBox>("GroupBoxConnection")->isEnabled());
        QCOMPARE(MainWindow()->Pending.count(), 0);
    }

    void readWhileOnTheSessionsPageShowsTheFirstSession() {
        C<QTabWidget>("PageControl1")->setCurrentIndex(1);
        connectAndRead();
        QCOMPARE(C<QComboBox>("ComboBoxSockets")->currentText(), QString("1"));
        QCOMPARE(C<QLineEdit>("EditDestinationIp")->text(), QString("127.0.0.2"));
        QCOMPARE(C<QLineEdit>("EditTOS")->text(), QString("10111000"));
        QCOMPARE(C<QComboBox>("ComboBoxTOS")->currentIndex(), 3);
        QVERIFY(C<QGroupBox>("GroupBoxSettingsOptions")->isEnabled());
    }

    void applyWritesTheWindowAndLocksAgain() {
        connectAndRead();
        C<QPushButton>("ButtonSetCurOptions")->click();
        QCOMPARE(s->Flow.ApplyState, Awaiting::WriteConfig);
        QVERIFY(!C<QPushButton>("ButtonMuxConnection")->isEnabled());
        QVERIFY(!C<QPushButton>("ButtonSetCurOptions")->isEnabled());
        QTRY_COMPARE(s->Flow.ApplyState, Awaiting::None);
        QCOMPARE(app->messages(), (QStringList{kConnected, kRead, kWritten, kReconnect}));
        const std::vector<uint8_t> write = requests().back();
        QCOMPARE(int(write.size()), 102);
        QCOMPARE(Block(write, 0, 2), (QList<int>{1, 4}));
        // The module now holds exactly the block that was sent.
        const ConfigBlock held = module().config();
        QVERIFY(std::equal(held.begin(), held.end(), write.begin() + 2));
        QVERIFY(C<QLineEdit>("EditLocalIp")->text().isEmpty());
        QVERIFY(!C<QGroupBox>("GroupBoxModuleSettings")->isEnabled());
        QVERIFY(C<OptionList>("KsPinStateListBox")->isHidden());
        QVERIFY(C<QPushButton>("ButtonMuxConnection")->isEnabled());
    }

    void wrongAnswers_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<bool>("fieldsOpen");  // a refused read leaves no fields to edit
        const QString unsupported =
            QStringLiteral("Текущая верия ПО модуля не поддерживает данную команду!");
        const QString wrong = QStringLiteral("Ошибочный ответ мультиплексора!");
        QTest::newRow("connect")
            << int(CmdConnect)
            << QStringList{unsupported, wrong,
                           "Ошибочный ответ мультиплексора на команду установления соединения"}
            << false;
        QTest::newRow("read") << int(CmdReadConfig)
                              << QStringList{kConnected, unsupported, wrong,
                                             "Ошибочный ответ мультиплексора на команду чтения "
                                             "текущих настроек!"}
                              << false;
        QTest::newRow("write") << int(CmdWriteConfig)
                               << QStringList{kConnected, kRead, unsupported, wrong,
                                              "Ошибочный ответ мультиплексора на команду "
                                              "сохранения настроек!"}
                               << true;
    }
    void wrongAnswers() {
        QFETCH(int, type);
        QFETCH(QStringList, log);
        QFETCH(bool, fieldsOpen);
        const bool write = type == CmdWriteConfig;
        if (write)
            connectAndRead();
        module().setMisbehaviour(uint8_t(type), Misbehaviour{MisbehaviourKind::Unsupported, 0});
        C<QPushButton>(write ? "ButtonSetCurOptions" : "ButtonMuxConnection")->click();
        QTRY_COMPARE(app->messages().size(), log.size());
        QVERIFY(SettleExchanges());
        QCOMPARE(app->messages(), log);
        QCOMPARE(s->Flow.ConnectState, Awaiting::None);
        QCOMPARE(s->Flow.ApplyState, Awaiting::None);
        QVERIFY(C<QPushButton>("ButtonMuxConnection")->isEnabled());
        QVERIFY(C<QPushButton>("ButtonSetCurOptions")->isEnabled());
        QVERIFY(C<QGroupBox>("GroupBoxConnection")->isEnabled());
        QCOMPARE(MainWindow()->Pending.count(), 0);
        QCOMPARE(C<QGroupBox>("GroupBoxModuleSettings")->isEnabled(), fieldsOpen);
        // A refused write leaves what the operator was editing.
        QCOMPARE(C<QLineEdit>("EditLocalIp")->text(), write ? QString("127.0.0.1") : QString());
    }

    void sendErrors_data() {
        QTest::addColumn<bool>("apply");
        QTest::newRow("connect") << false;
        QTest::newRow("apply") << true;
    }
    void sendErrors() {
        QFETCH(bool, apply);
        connectAndRead();
        sim->stop();  // nobody listens there any more
        C<QPushButton>(apply ? "ButtonSetCurOptions" : "ButtonMuxConnection")->click();
        QVERIFY(!C<QPushButton>("ButtonMuxConnection")->isEnabled());  // until the connect fails
        QTRY_COMPARE(
            app->messages(),
            (QStringList{kConnected, kRead, "Ошибка при работе с сетью: Ошибка соединения 3"}));
        QCOMPARE(s->Flow.ConnectState, Awaiting::None);
        QCOMPARE(s->Flow.ApplyState, Awaiting::None);
        QVERIFY(C<QPushButton>("ButtonMuxConnection")->isEnabled());
        QVERIFY(C<QPushButton>("ButtonSetCurOptions")->isEnabled());
        QCOMPARE(MainWindow()->Pending.count(), 0);
        QCOMPARE(OpenExchangeCount(), 0);
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
        (apply ? C<QPushButton>("ButtonSetCurOptions") : C<QPushButton>("ButtonMuxConnection"))
            ->click();
        QTRY_VERIFY(app->messages().contains(line));
        QCOMPARE(app->messages().last(), line);
        QCOMPARE(s->Flow.ConnectState, Awaiting::None);
        QCOMPARE(s->Flow.ApplyState, Awaiting::None);
        QVERIFY(C<QPushButton>("ButtonMuxConnection")->isEnabled());
        QVERIFY(C<QPushButton>("ButtonSetCurOptions")->isEnabled());
        QCOMPARE(MainWindow()->Pending.count(), 0);
    }

    void lateAnswerStartsNothing() {
        app->form->Timer->setInterval(100);
        module().setMisbehaviour(CmdConnect, Misbehaviour{MisbehaviourKind::Delay, 1000});
        C<QPushButton>("ButtonMuxConnection")->click();
        QTRY_COMPARE(app->messages().size(), 1);
        QVERIFY(SettleExchanges());  // an exchange the time-out failed to end waits for the answer
        QCOMPARE(requests().size(), size_t(1));
        QCOMPARE(app->messages(),
                 QStringList{"Не могу установить соединение с удаленным мультиплексором!"});
    }

    void pressWhileConfigurationIsAwaitedIsIgnored() {
        module().setMisbehaviour(CmdReadConfig, Misbehaviour{MisbehaviourKind::Delay, 300});
        C<QPushButton>("ButtonMuxConnection")->click();
        QTRY_COMPARE(s->Flow.ConnectState, Awaiting::ReadConfig);
        C<QPushButton>("ButtonMuxConnection")->click();
        QCOMPARE(s->Flow.ConnectState, Awaiting::ReadConfig);
        QTRY_COMPARE(s->Flow.ConnectState, Awaiting::None);
        QCOMPARE(app->messages(), (QStringList{kConnected, kRead}));
        QCOMPARE(requests().size(), size_t(2));
        QCOMPARE(C<QLineEdit>("EditLocalIp")->text(), QString("127.0.0.1"));
    }

    void addressChecksSendNothing_data() {
        QTest::addColumn<bool>("apply");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QStringList>("log");
        for (bool apply : {false, true}) {
            const char* button = apply ? "apply" : "connect";
            QTest::addRow("%s, empty port", button)
                << apply << "127.0.0.1"
                << "" << QStringList{"Введите номер порта удаленного мультиплексора!"};
            QTest::addRow("%s, bad address", button)
                << apply << "127.0.0"
                << "65530" << QStringList{"Некорректный формат IP-адреса!"};
            QTest::addRow("%s, port 70000", button)
                << apply << "127.0.0.1"
                << "70000" << QStringList{"Некорректный номер порта!"};
        }
        // The fields hold A's configuration: it goes nowhere else. "=" keeps A's port.
        const QStringList readFirst{
            "Перед сохранением настроек считайте конфигурацию этого мультиплексора"};
        QTest::newRow("apply, another module") << true << "127.0.0.2"
                                               << "=" << readFirst;
        QTest::newRow("apply, another port") << true << "127.0.0.1"
                                             << "1" << readFirst;
        // A block that would cut the module off: "port:address" sets the module's fields.
        const QString cutOff = "Настройки не сохранены: %1 отключит модуль от сети управления";
        QTest::newRow("apply, control port 0")
            << true << "127.0.0.1"
            << "0:127.0.0.9" << QStringList{cutOff.arg("порт управления 0")};
        QTest::newRow("apply, own address 0.0.0.0")
            << true << "127.0.0.1"
            << "65:0.0.0.0" << QStringList{cutOff.arg("локальный IP 0.0.0.0")};
    }
    void addressChecksSendNothing() {
        QFETCH(bool, apply);
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(QStringList, log);
        connectAndRead();
        const size_t before = requests().size();
        C<QLineEdit>("EditMuxIp")->setText(address);
        if (port.contains(':')) {
            C<QLineEdit>("EditControlPort")->setText(port.section(':', 0, 0));
            C<QLineEdit>("EditLocalIp")->setText(port.section(':', 1));
        } else if (port != "=") {
            C<QLineEdit>("EditMuxPort")->setText(port);
        }
        C<QPushButton>(apply ? "ButtonSetCurOptions" : "ButtonMuxConnection")->click();
        QCOMPARE(app->messages().mid(2), log);
        QCOMPARE(s->Flow.ConnectState, Awaiting::None);
        QCOMPARE(s->Flow.ApplyState, Awaiting::None);
        // A connect attempt clears and locks the module fields first, sessions included; an
        // apply leaves them for the operator to mend the address.
        QCOMPARE(C<QLineEdit>("EditLocalIp")->text().isEmpty(), !apply);
        QCOMPARE(Sock(0)->isChecked(), apply);
        QCOMPARE(int(app->form->Sessions[0].Enabled), apply ? 1 : 0);
        QCOMPARE(Items(C<QComboBox>("ComboBoxSockets")).isEmpty(), !apply);
        QCOMPARE(C<QGroupBox>("GroupBoxModuleSettings")->isEnabled(), apply);
        QVERIFY(C<QPushButton>("ButtonSetCurOptions")->isEnabled());
        QVERIFY(SettleExchanges());
        QCOMPARE(requests().size(), before);
    }

    void writeThatCannotBeBuiltSendsNothing() {
        connectAndRead();
        const size_t before = requests().size();
        C<QLineEdit>("EditLocalMac")->setText("02:4B:53:49:4D:01");
        C<QPushButton>("ButtonSetCurOptions")->click();
        QCOMPARE(app->errors.size(), 1);
        QVERIFY(app->errors[0].contains("02:4B:53:49:4D:01"));
        QCOMPARE(s->Flow.ApplyState, Awaiting::None);
        QVERIFY(C<QPushButton>("ButtonSetCurOptions")->isEnabled());
        QVERIFY(SettleExchanges());
        QCOMPARE(requests().size(), before);
        // Mended, the same write goes out.
        C<QLineEdit>("EditLocalMac")->setText("02-4B-53-49-4D-01");
        C<QPushButton>("ButtonSetCurOptions")->click();
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
        C<QLineEdit>("EditControlPort")->setText("4321");
        C<QTabWidget>("PageControl1")->setCurrentIndex(1);
        QCOMPARE(C<QComboBox>("ComboBoxSockets")->currentText(), QString("1"));
        Type(C<QLineEdit>("EditDestinationIp"), "10.20.30.40");
        C<QTabWidget>("PageControl1")->setCurrentIndex(2);
        C<OptionList>("KsPinStateListBox")->valueButton("pv 12")->click();
        C<QPushButton>("ButtonSetCurOptions")->click();
        QTRY_COMPARE(s->Flow.ApplyState, Awaiting::None);

        C<QTabWidget>("PageControl1")->setCurrentIndex(0);
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
        QCOMPARE(C<QLineEdit>("EditControlPort")->text(), QString("4321"));
        QCOMPARE(app->form->Sessions[0].DestinationIp, QString("10.20.30.40"));
        QCOMPARE(C<OptionList>("KsPinStateListBox")->value("pv 12"), QString("Включено"));
        QVERIFY(!Sock(3)->isChecked());
    }

    void closingWhileWaitingKeepsTheAnswer() {
        module().setMisbehaviour(CmdConnect, Misbehaviour{MisbehaviourKind::Delay, 700});
        C<QPushButton>("ButtonMuxConnection")->click();
        s->close();
        QVERIFY(!Main<SpeedButton>("SettingsButton")->isChecked());
        QVERIFY(!s->isVisible());
        // Hidden, the window still takes its answer and goes on to the read.
        QTRY_VERIFY_WITH_TIMEOUT(app->messages().contains(kRead), 3000);
        QCOMPARE(app->messages(), (QStringList{kConnected, kRead}));
        QCOMPARE(MainWindow()->Pending.count(), 0);
    }

    void hiddenWindowWithASilentModuleStillTimesOut() {
        // The real timer: an operator who closes the window must not wait longer than anyone.
        Main<SpeedButton>("ButtonStat")->click();
        Main<SpeedButton>("ButtonSwitching")->click();
        QVERIFY(StatWindow(0) && SwitchWindow());
        module().setMisbehaviour(CmdConnect, Misbehaviour{MisbehaviourKind::Silent, 0});
        C<QPushButton>("ButtonMuxConnection")->click();
        QVERIFY(!StatWindow(0)->RequestButton->isEnabled());
        QVERIFY(!SwitchWindow()->SwConnectButton->isEnabled());
        QTRY_COMPARE(sim->openConnections(), 1);
        s->close();
        QTRY_VERIFY_WITH_TIMEOUT(!app->messages().isEmpty(), 9500);
        QCOMPARE(app->messages(),
                 QStringList{"Не могу установить соединение с удаленным мультиплексором!"});
        QCOMPARE(s->Flow.ConnectState, Awaiting::None);
        QVERIFY(StatWindow(0)->RequestButton->isEnabled());
        QVERIFY(SwitchWindow()->SwConnectButton->isEnabled());
        QVERIFY(SwitchWindow()->SwResetButton->isEnabled());
        QVERIFY(C<QPushButton>("ButtonMuxConnection")->isEnabled());
        QCOMPARE(MainWindow()->Pending.count(), 0);
        QTRY_COMPARE(sim->openConnections(), 0);
    }

    void zeroPaddedAddressAndPortReachTheModuleTyped_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("padPort");
        // Read as octal, "010" would be 127.0.0.8, where nobody listens.
        QTest::newRow("padded address") << "127.000.000.010" << false;
        QTest::newRow("port padded to seven digits") << "127.0.0.10" << true;
    }
    void zeroPaddedAddressAndPortReachTheModuleTyped() {
        QFETCH(QString, address);
        QFETCH(bool, padPort);
        SimulatorOptions options;
        options.quiet = true;
        options.manualClock = true;
        Simulator ten({Endpoint{{127, 0, 0, 10}, 0}}, options);
        std::string error;
        QVERIFY2(ten.start(&error), error.c_str());
        C<QLineEdit>("EditMuxIp")->setText(address);
        C<QLineEdit>("EditMuxPort")
            ->setText(padPort ? QString("00%1").arg(ten.port(0), 5, 10, QChar('0'))
                              : QString::number(ten.port(0)));
        connectAndRead();
        QCOMPARE(ten.module(0).requests(), (std::vector<std::vector<uint8_t>>{{1, 1}, {1, 2}}));
        QVERIFY(requests().empty());
        ten.stop();
    }

    void editMuxIpShowsOnTheSessionsPage() {
        Type(C<QLineEdit>("EditMuxIp"), "10.0.0.9");
        QCOMPARE(C<QLabel>("LabelLocalIp")->text(), QString("10.0.0.9"));
    }

    // ----- editing, with the module fields unlocked as after a read -----

    void ticksListTheSessionsSorted() {
        SettingsWindow()->LockModuleSettings(false);
        SessionTable& sessions = app->form->Sessions;
        sessions[1].DestinationIp = "10.0.0.2";
        sessions[1].LocalPort = "2002";
        sessions[1].DestinationPort = "3002";
        sessions[1].Tos = "10110000";
        for (int n : {5, 2, 6})
            Sock(n - 1)->click();
        QCOMPARE(Items(C<QComboBox>("ComboBoxSockets")), (QStringList{"2", "5", "6"}));
        QCOMPARE(C<QComboBox>("ComboBoxSockets")->currentIndex(), -1);
        for (int n : {2, 5, 6})
            QCOMPARE(int(sessions[n - 1].Enabled), 1);
        C<QTabWidget>("PageControl1")->setCurrentIndex(1);
        QCOMPARE(C<QComboBox>("ComboBoxSockets")->currentText(), QString("2"));
        QCOMPARE(C<QLineEdit>("EditDestinationIp")->text(), QString("10.0.0.2"));
        QCOMPARE(C<QLineEdit>("EditLocalPort")->text(), QString("2002"));
        QCOMPARE(C<QLineEdit>("EditDestinationPort")->text(), QString("3002"));
        QCOMPARE(C<QLineEdit>("EditTOS")->text(), QString("10110000"));
        QCOMPARE(C<QComboBox>("ComboBoxTOS")->currentIndex(), 2);
        QVERIFY(C<QGroupBox>("GroupBoxSettingsOptions")->isEnabled());
        QVERIFY(C<QGroupBox>("GroupBoxTos")->isEnabled());
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
        SettingsWindow()->LockModuleSettings(false);
        C<QTabWidget>("PageControl1")->setCurrentIndex(1);
        Sock(session - 1)->click();
        C<QTabWidget>("PageControl1")->setCurrentIndex(0);
        C<QTabWidget>("PageControl1")->setCurrentIndex(1);
        Type(C<QLineEdit>("EditDestinationIp"), "10.6.6.6");
        Type(C<QLineEdit>("EditLocalPort"), "1006");
        Type(C<QLineEdit>("EditDestinationPort"), "2006");
        Choose(C<QComboBox>("ComboBoxTOS"), 3);
        Sock(session - 1)->click();
        QCOMPARE(int(app->form->Sessions[session - 1].Enabled), 0);
        QVERIFY(Items(C<QComboBox>("ComboBoxSockets")).isEmpty());
        Sock(session - 1)->click();
        C<QTabWidget>("PageControl1")->setCurrentIndex(0);
        C<QTabWidget>("PageControl1")->setCurrentIndex(1);
        QCOMPARE(C<QLineEdit>("EditDestinationIp")->text(),
                 keeps ? QString("10.6.6.6") : QString());
        QCOMPARE(C<QLineEdit>("EditLocalPort")->text(), keeps ? QString("1006") : QString());
        QCOMPARE(C<QLineEdit>("EditDestinationPort")->text(), keeps ? QString("2006") : QString());
        QCOMPARE(C<QLineEdit>("EditTOS")->text(), keeps ? QString("10111000") : QString());
    }

    void allTicksEveryBoxOnce() {
        SettingsWindow()->LockModuleSettings(false);
        Sock(0)->click();
        Sock(3)->click();
        C<QCheckBox>("CheckBoxSockAll")->click();
        QCOMPARE(Items(C<QComboBox>("ComboBoxSockets")),
                 (QStringList{"1", "2", "3", "4", "5", "6"}));
        for (const SessionSettings& r : app->form->Sessions)
            QCOMPARE(int(r.Enabled), 1);
        Sock(1)->click();  // a single box does not touch "Все"
        QVERIFY(C<QCheckBox>("CheckBoxSockAll")->isChecked());
        C<QCheckBox>("CheckBoxSockAll")->click();
        QVERIFY(Items(C<QComboBox>("ComboBoxSockets")).isEmpty());
        for (int i = 0; i < 6; ++i)
            QVERIFY(!Sock(i)->isChecked());
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
        SettingsWindow()->LockModuleSettings(false);
        Sock(1)->click();
        C<QTabWidget>("PageControl1")->setCurrentIndex(1);
        Choose(C<QComboBox>("ComboBoxTOS"), choice);
        QCOMPARE(C<QLineEdit>("EditTOS")->text(), bits);
        QCOMPARE(app->form->Sessions[1].Tos, bits);
        // Typed the other way round, the preset is found again.
        Choose(C<QComboBox>("ComboBoxTOS"), 0);
        QVERIFY(C<QLineEdit>("EditTOS")->text().isEmpty());
        QVERIFY(app->form->Sessions[1].Tos.isEmpty());
        Type(C<QLineEdit>("EditTOS"), bits);
        QCOMPARE(C<QComboBox>("ComboBoxTOS")->currentIndex(), choice);
        QCOMPARE(app->form->Sessions[1].Tos, bits);
        Type(C<QLineEdit>("EditTOS"), "00000001");
        QCOMPARE(C<QComboBox>("ComboBoxTOS")->currentIndex(), 0);
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
        SettingsWindow()->LockModuleSettings(false);
        QPushButton* value = C<OptionList>("KsPinStateListBox")->findChild<QPushButton*>(key);
        QVERIFY(value);
        QCOMPARE(value->text(), first);
        value->click();
        QCOMPARE(value->text(), second);
        value->click();
        QCOMPARE(value->text(), first);
        s->KsPinStateListBoxParamClick(key, "something else");
        QCOMPARE(value->text(), first);
        QVERIFY(SettleExchanges());
        QCOMPARE(requests().size(), size_t(0));
    }

    void noSessionDisablesTheSessionsPage() {
        SettingsWindow()->LockModuleSettings(false);
        C<QLineEdit>("EditDestinationIp")->setText("1.1.1.1");
        C<QLineEdit>("EditTOS")->setText("11110000");
        C<QTabWidget>("PageControl1")->setCurrentIndex(1);
        QVERIFY(!C<QGroupBox>("GroupBoxSettingsOptions")->isEnabled());
        QVERIFY(!C<QGroupBox>("GroupBoxTos")->isEnabled());
        QVERIFY(C<QLineEdit>("EditDestinationIp")->text().isEmpty());
        QCOMPARE(C<QLineEdit>("EditTOS")->text(), QString("11110000"));
    }

    void typedSessionNumberSelects_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("selected");
        QTest::newRow("listed") << "3" << 3;
        QTest::newRow("not listed") << "2" << 0;
        QTest::newRow("not a session") << "x" << 0;
    }
    void typedSessionNumberSelects() {
        QFETCH(QString, typed);
        QFETCH(int, selected);
        connectAndRead();  // the module has sessions 1 and 3 selected
        C<QTabWidget>("PageControl1")->setCurrentIndex(1);  // selects "1"
        QCOMPARE(C<QLineEdit>("EditDestinationIp")->text(), app->form->Sessions[0].DestinationIp);
        const SessionTable before = app->form->Sessions;
        C<QComboBox>("ComboBoxSockets")->lineEdit()->selectAll();
        QTest::keyClicks(C<QComboBox>("ComboBoxSockets")->lineEdit(), typed);
        QCOMPARE(s->selectedSession(), selected);
        // With no listed session selected nothing shows and nothing can be typed.
        for (const char* name : {"EditDestinationIp", "EditDestinationPort", "EditLocalPort"}) {
            QLineEdit* edit = C<QLineEdit>(name);
            QCOMPARE(edit->isEnabled(), selected != 0);
            QCOMPARE(edit->text().isEmpty(), selected == 0);
        }
        QCOMPARE(C<QGroupBox>("GroupBoxTos")->isEnabled(), selected != 0);
        QCOMPARE(C<QLineEdit>("EditTOS")->text().isEmpty(), selected == 0);
        Type(C<QLineEdit>("EditDestinationPort"), "999");
        for (int i = 0; i < 6; ++i) {
            const QString expected = i + 1 == selected ? QString("999") : before[i].DestinationPort;
            QCOMPARE(app->form->Sessions[i].DestinationPort, expected);
        }
        if (selected)
            QCOMPARE(C<QLineEdit>("EditDestinationIp")->text(), before[2].DestinationIp);
        // Choosing a listed session again opens the fields.
        C<QTabWidget>("PageControl1")->setCurrentIndex(0);
        C<QTabWidget>("PageControl1")->setCurrentIndex(1);
        QVERIFY(C<QLineEdit>("EditDestinationIp")->isEnabled());
        QVERIFY(C<QGroupBox>("GroupBoxTos")->isEnabled());
    }

    void readBlockIsShownAsTheModuleMeansIt() {
        ConfigBlock block = module().config();
        PutU16(&block[ConfigOffset::ControlPort], 65535);
        uint8_t* s2 = &block[SessionRecordOffset(1)];
        s2[SessionOffset::Enable] = 1;
        PutU16(s2 + SessionOffset::Tos, 0x01B8);
        block[SessionRecordOffset(3) + SessionOffset::Enable] = 2;
        PutU16(&block[SessionRecordOffset(3) + SessionOffset::Tos], 0x0155);
        PutU32(&block[ConfigOffset::OptionFlags], 0x80000000u | 0x1u | 0x2u | 0x800u | 0x40000u);
        ModuleState state;
        state.config = block;
        module().apply(state);
        connectAndRead();
        QCOMPARE(C<QLineEdit>("EditControlPort")->text(), QString("65535"));
        QVERIFY(Sock(1)->isChecked());
        QCOMPARE(app->form->Sessions[1].Tos, QString("10111000"));
        QVERIFY(!Sock(3)->isChecked());
        QCOMPARE(int(app->form->Sessions[3].Enabled), 0);
        // A session that is not selected still shows what the module holds for it.
        const uint8_t* s4 = &block[SessionRecordOffset(3)];
        QCOMPARE(app->form->Sessions[3].LocalPort,
                 QString::number(GetU16(s4 + SessionOffset::LocalPort)));
        QCOMPARE(app->form->Sessions[3].DestinationPort,
                 QString::number(GetU16(s4 + SessionOffset::DestinationPort)));
        QCOMPARE(app->form->Sessions[3].DestinationIp,
                 IpBytesToText(s4 + SessionOffset::DestinationIp));
        const QStringList shown{"Высокий", "Высокий", "Низкий", "Включено", "Включен"};
        const QStringList keys{"p1 pp", "p2 pp", "p3 pp", "pv 12", "flow control"};
        for (int k = 0; k < 5; ++k)
            QCOMPARE(C<OptionList>("KsPinStateListBox")->value(keys[k]), shown[k]);
        // Written back unchanged: the same option word, TOS without its high byte, and the
        // session whose enable byte was 2 written as not selected.
        C<QPushButton>("ButtonSetCurOptions")->click();
        QTRY_COMPARE(s->Flow.ApplyState, Awaiting::None);
        const ConfigBlock held = module().config();
        QCOMPARE(GetU32(&held[ConfigOffset::OptionFlags]), 0x80040803u);
        QCOMPARE(GetU16(&held[SessionRecordOffset(1) + SessionOffset::Tos]), uint16_t(0x00B8));
        QCOMPARE(int(held[SessionRecordOffset(3) + SessionOffset::Enable]), 0);
        for (int i = 0; i < kSessionCount; ++i)
            QCOMPARE(int(held[SessionRecordOffset(i) + SessionOffset::Tos + 1]), 0);
        QCOMPARE(GetU16(&held[ConfigOffset::ControlPort]), uint16_t(65535));
    }
};

QTEST_MAIN(SettingsTest)
#include "test_settings.moc"
