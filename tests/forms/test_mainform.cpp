// The main window: start-up state, the event log, the settings store and the window buttons.
#include <QtTest>

#include <QtWidgets>
#include "forms/main.h"
#include "ui/speedbutton.h"

#include "forms/settings.h"
#include "forms/stat.h"
#include "forms/switch.h"
#include "link/pending.h"
#include "support/app_fixture.h"
#include "support/windows.h"
#include "ui/optionlist.h"
#include "ui/radiogroup.h"
#include "ui/stringgrid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QTabWidget>
#include <QToolButton>

class MainFormTest : public QObject {
    Q_OBJECT
  private slots:
    void startUpState() {
        AppFixture app;
        TMainForm* m = app.form.get();
        QCOMPARE(m->objectName(), QStringLiteral("MainForm"));
        QCOMPARE(m->windowTitle(), QStringLiteral("Kestrel_1.06"));
        QCOMPARE(m->size(), QSize(417, 504));
        QCOMPARE(m->minimumSize(), m->maximumSize());
        QCOMPARE(app.memoLines(), QStringList{QString()});
        QVERIFY(!m->Memo->isReadOnly());
        QVERIFY(m->Timer->isActive());
        QCOMPARE(m->Timer->interval(), 3000);

        QVERIFY(SettingsWindow());
        QVERIFY(!SettingsWindow()->isVisible());
        QCOMPARE(SettingsWindow()->PageControl1->currentIndex(), 0);
        QCOMPARE(SettingsWindow()->Flow.ConnectState, Awaiting::None);
        QCOMPARE(SettingsWindow()->Flow.ApplyState, Awaiting::None);
        QVERIFY(!SwitchWindow());  // made when first shown
        for (TStatForm* w : StatWindowList())
            QVERIFY(!w);

        // Module fields locked and empty, the option list hidden, the connection group usable.
        for (const char* name : {"GroupBoxModuleSettings", "GroupBoxSocketSelect",
                                 "GroupBoxSettingsOptions", "GroupBoxTos"}) {
            QWidget* w = SettingsWindow()->findChild<QWidget*>(name);
            QVERIFY2(w && !w->isEnabled(), name);
        }
        for (const char* name :
             {"EditLocalIp", "EditLocalMac", "EditSubnetwork", "EditGateway", "EditControlPort",
              "EditDestinationIp", "EditDestinationPort", "EditLocalPort", "EditTOS"}) {
            auto* e = SettingsWindow()->findChild<QLineEdit*>(name);
            QVERIFY2(e && e->text().isEmpty(), name);
        }
        QVERIFY(SettingsWindow()->KsPinStateListBox->isHidden());
        QVERIFY(SettingsWindow()->GroupBoxConnection->isEnabled());
        QVERIFY(SettingsWindow()->ButtonMuxConnection->isEnabled());
        for (const SessionSettings& s : m->Sessions) {
            QCOMPARE(int(s.Enabled), 0);
            QVERIFY(s.DestinationIp.isEmpty() && s.Tos.isEmpty());
        }
        QCOMPARE(MainWindow()->Pending.count(), 0);
    }

    void logEvent_data() {
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("empty text") << QStringList{QString()};
        QTest::newRow("russian") << QStringList{QStringLiteral("Конфигурация считана")};
        QTest::newRow("two in order")
            << QStringList{QStringLiteral("первая"), QStringLiteral("вторая")};
        QStringList many;
        for (int n = 0; n < kLogLineLimit / 2 + 3; ++n)
            many << QString::number(n);
        QTest::newRow("beyond the bound, the oldest go first") << many;
    }
    void logEvent() {
        QFETCH(QStringList, texts);
        AppFixture app;
        for (const QString& t : texts)
            LogEvent(t);
        QStringList expected{QString()};
        for (const QString& t : texts)
            expected << t << QString(98, QLatin1Char('*'));
        QCOMPARE(app.memoLines(),
                 expected.mid(std::max<qsizetype>(0, expected.size() - kLogLineLimit)));
    }

    void undoTakesBackOnlyTheOperatorsTyping() {
        AppFixture app;
        LogEvent(QStringLiteral("первая"));
        app.form->Memo->moveCursor(QTextCursor::End);
        QTest::keyClicks(app.form->Memo, "abc");
        LogEvent(QStringLiteral("вторая"));
        app.form->Memo->moveCursor(QTextCursor::End);
        QTest::keyClicks(app.form->Memo, "de");
        const QString stars(98, QLatin1Char('*'));
        QStringList expected{QString(), QStringLiteral("первая"), stars + "abc",
                             QStringLiteral("вторая"), stars + "de"};
        QCOMPARE(app.memoLines(), expected);
        for (int i = 0; i < 20; ++i)
            app.form->Memo->undo();
        expected.last() = stars;
        QCOMPARE(app.memoLines(), expected);
        // The log keeps no history of its own lines, however long it runs.
        for (int i = 0; i < 200; ++i)
            LogEvent(QStringLiteral("строка"));
        QCOMPARE(app.form->Memo->document()->availableUndoSteps(), 0);
    }

    void settingsFileThatCannotBeWrittenIsReportedOnce() {
        AppFixture app;
        QVERIFY(QDir().mkpath(app.iniPath()));  // a folder where the file should go
        app.form->close();
        QCOMPARE(app.errors.size(), 1);
        QVERIFY2(app.errors[0].contains(app.iniPath()), qPrintable(app.errors[0]));
        QVERIFY(QFileInfo(app.iniPath()).isDir());
    }

    void settingsButtonShowsAndHides() {
        AppFixture app;
        SpeedButton* b = app.form->SettingsButton;
        SettingsWindow()->EditMuxIp->setText(QStringLiteral("10.1.2.3"));
        b->click();
        QVERIFY(b->isChecked());
        QVERIFY(SettingsWindow()->isVisible());
        b->click();
        QVERIFY(!b->isChecked());
        QVERIFY(!SettingsWindow()->isVisible());
        b->click();
        QCOMPARE(SettingsWindow()->EditMuxIp->text(), QStringLiteral("10.1.2.3"));
        QCOMPARE(SettingsWindow()->LabelLocalIp->text(), QStringLiteral("10.1.2.3"));
        // The window's own close raises the button again and keeps the window.
        SettingsWindow()->close();
        QVERIFY(!b->isChecked());
        QVERIFY(SettingsWindow());
    }

    void settingsStoreDefaultsAndClose() {
        AppFixture app;
        QVERIFY(!QFile::exists(app.iniPath()));
        QCOMPARE(SettingsWindow()->EditMuxIp->text(), QString());
        QCOMPARE(SettingsWindow()->EditMuxPort->text(), QStringLiteral("65530"));
        SettingsWindow()->EditMuxIp->setText(QStringLiteral("192.168.5.6"));
        SettingsWindow()->EditMuxPort->setText(QStringLiteral("4001"));
        app.form->close();
        IniStore store(app.iniPath());
        QCOMPARE(store.ReadString("ConnectionSettings", "MuxIp", "x"),
                 QStringLiteral("192.168.5.6"));
        QCOMPARE(store.ReadString("ConnectionSettings", "MuxPort", "x"), QStringLiteral("4001"));
    }

    void storedAddressIsShownAtStart() {
        QTemporaryDir dir;
        const QString path = dir.filePath("kestrel.ini");
        IniStore(path).WriteString("ConnectionSettings", "MuxIp", "10.9.8.7");
        IniStore(path).WriteString("ConnectionSettings", "MuxPort", "1234");
        TMainForm form(path);
        QCOMPARE(SettingsWindow()->EditMuxIp->text(), QStringLiteral("10.9.8.7"));
        QCOMPARE(SettingsWindow()->EditMuxPort->text(), QStringLiteral("1234"));
        QCOMPARE(SettingsWindow()->LabelLocalIp->text(), QStringLiteral("10.9.8.7"));
    }

    void fourStatisticsSlots() {
        AppFixture app;
        for (int n = 0; n < 4; ++n) {
            app.form->ButtonStat->click();
            QVERIFY(StatWindow(n));
            QCOMPARE(StatWindow(n)->objectName(), QStringLiteral("StatForm%1").arg(n));
        }
        const auto before = StatWindowList();
        app.form->ButtonStat->click();
        QCOMPARE(StatWindowList(), before);
        QCOMPARE(app.form->findChildren<TStatForm*>().size(), 4);
    }

    void setBusyReachesEveryOpenWindow() {
        AppFixture app;
        app.form->ButtonStat->click();
        app.form->ButtonStat->click();
        app.form->ButtonSwitching->click();
        StatWindow(0)->setBusy(true);  // one window's exchange began
        QVERIFY(!SettingsWindow()->GroupBoxConnection->isEnabled());
        QVERIFY(!SettingsWindow()->ButtonMuxConnection->isEnabled());
        QVERIFY(!SettingsWindow()->ButtonSetCurOptions->isEnabled());
        QVERIFY(!SwitchWindow()->SwConnectButton->isEnabled());
        QVERIFY(!SwitchWindow()->SwResetButton->isEnabled());
        QVERIFY(!StatWindow(0)->RequestButton->isEnabled());
        QVERIFY(!StatWindow(1)->RequestButton->isEnabled());
        StatWindow(0)->setBusy(false);
        QVERIFY(SettingsWindow()->ButtonSetCurOptions->isEnabled());
        QVERIFY(SwitchWindow()->SwConnectButton->isEnabled());
        QVERIFY(StatWindow(1)->RequestButton->isEnabled());
    }

    void switchingButtonCreatesAndDestroys() {
        AppFixture app;
        QVERIFY(!SwitchWindow());  // made when first shown
        app.form->ButtonSwitching->click();
        QVERIFY(SwitchWindow());
        QVERIFY(SwitchWindow()->isVisible());
        app.form->ButtonSwitching->click();
        QTRY_VERIFY(!SwitchWindow());
        // Only the shown window wrote its section.
        QCOMPARE(IniStore(app.iniPath()).ReadString("SwitchSettings", "CountA", "x"),
                 QStringLiteral("0"));
    }

    void escapedErrorIsReportedAndTheProgramGoesOn() {
        AppFixture app;
        RunGuarded([] { throw ConversionError(QStringLiteral("Неверное число \"x\"")); });
        QCOMPARE(app.errors, QStringList{QStringLiteral("Неверное число \"x\"")});
        LogEvent(QStringLiteral("дальше"));
        QCOMPARE(app.messages(), QStringList{QStringLiteral("дальше")});
    }

    void mainControls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<bool>("staysDown");
        QTest::newRow("settings") << "SettingsButton"
                                  << "Настройки" << QRect(8, 6, 89, 22) << true;
        QTest::newRow("statistics") << "ButtonStat"
                                    << "Статистика" << QRect(104, 6, 89, 22) << false;
        QTest::newRow("switching") << "ButtonSwitching"
                                   << "Коммутация" << QRect(200, 6, 89, 22) << true;
    }
    void mainControls() {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QRect, geometry);
        QFETCH(bool, staysDown);
        AppFixture app;
        auto* b = app.form->findChild<QToolButton*>(name);
        QVERIFY(b);
        QCOMPARE(b->text(), caption);
        QCOMPARE(b->geometry(), geometry);
        QCOMPARE(b->isCheckable(), staysDown);
        auto* memo = app.form->findChild<QPlainTextEdit*>("Memo");
        QVERIFY(memo);
        QCOMPARE(memo->geometry(), QRect(8, 32, 401, 465));
    }

    void settingsControls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("caption");
        const QList<std::tuple<const char*, const char*, QString>> rows{
            {"ButtonSetCurOptions", "QPushButton", "Установить текущую конфигурацию"},
            {"ButtonMuxConnection", "QPushButton", "Соединиться"},
            {"GroupBoxConnection", "QGroupBox", "Подключение к удаленному мультиплексору:"},
            {"GroupBoxModuleSettings", "QGroupBox", "Настройки модуля"},
            {"GroupBoxSocketSelect", "QGroupBox", "Выбор сессий"},
            {"GroupBoxSettingsOptions", "QGroupBox", "Настройки соединения"},
            {"GroupBoxTos", "QGroupBox", "Значение TOS"},
            {"CheckBoxSock1", "QCheckBox", "1"},
            {"CheckBoxSock2", "QCheckBox", "2"},
            {"CheckBoxSock3", "QCheckBox", "3"},
            {"CheckBoxSock4", "QCheckBox", "4"},
            {"CheckBoxSock5", "QCheckBox", "5"},
            {"CheckBoxSock6", "QCheckBox", "6"},
            {"CheckBoxSockAll", "QCheckBox", "Все"},
            {"EditMuxIp", "QLineEdit", ""},
            {"EditMuxPort", "QLineEdit", "65530"},
            {"EditLocalIp", "QLineEdit", ""},
            {"EditLocalMac", "QLineEdit", ""},
            {"EditSubnetwork", "QLineEdit", ""},
            {"EditGateway", "QLineEdit", ""},
            {"EditControlPort", "QLineEdit", ""},
            {"EditDestinationIp", "QLineEdit", ""},
            {"EditDestinationPort", "QLineEdit", ""},
            {"EditLocalPort", "QLineEdit", ""},
            {"EditTOS", "QLineEdit", ""},
            {"LabelLocalIp", "QLabel", ""},
            {"ComboBoxSockets", "QComboBox", ""},
            {"ComboBoxTOS", "QComboBox", ""},
            {"PageControl1", "QTabWidget", ""},
            {"KsPinStateListBox", "OptionList", ""},
        };
        for (const auto& [name, cls, caption] : rows)
            QTest::newRow(name) << name << cls << caption;
    }
    void settingsControls() {
        QFETCH(QString, name);
        QFETCH(QString, className);
        QFETCH(QString, caption);
        AppFixture app;
        QWidget* w = SettingsWindow()->findChild<QWidget*>(name);
        QVERIFY(w);
        QVERIFY(w->inherits(className.toLatin1().constData()));
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            QCOMPARE(b->text(), caption);
        if (auto* g = qobject_cast<QGroupBox*>(w))
            QCOMPARE(g->title(), caption);
        if (auto* e = qobject_cast<QLineEdit*>(w))
            QCOMPARE(e->text(), caption);
    }

    void settingsLabelsPagesAndItems() {
        AppFixture app;
        QStringList labels;
        for (QLabel* l : SettingsWindow()->findChildren<QLabel*>())
            labels << l->text();
        for (const char* text : {"IP-адрес мультиплексора:",
                                 "Номер порта(TCP):",
                                 "Локальный IP:",
                                 "Локальный MAC:",
                                 "Маска подсети:",
                                 "Основной шлюз:",
                                 "Порт управления:",
                                 "Текущий IP:",
                                 "IP-адрес назначения:",
                                 "Порт назначения(UDP):",
                                 "Сессия:",
                                 "Локальный порт(UDP):",
                                 "Тип обслуживания:",
                                 "Ручной ввод(8 бит):",
                                 "Параметр:",
                                 "Значение:",
                                 "Приоритет первого порта",
                                 "Приоритет второго порта",
                                 "Приоритет третьего порта",
                                 "Связь \"Порт1-Порт2\"",
                                 "Flow control"})
            QVERIFY2(labels.contains(QString::fromUtf8(text)), text);
        QTabWidget* pages = SettingsWindow()->PageControl1;
        QCOMPARE(pages->count(), 3);
        const QStringList names{"Vantor", "Sockets", "TabSheetSwitch"};
        const QStringList captions{"Kestrel", "Сессии", "Прочее"};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(pages->widget(i)->objectName(), names[i]);
            QCOMPARE(pages->tabText(i), captions[i]);
        }
        QComboBox* tos = SettingsWindow()->ComboBoxTOS;
        QStringList items;
        for (int i = 0; i < tos->count(); ++i)
            items << tos->itemText(i);
        QCOMPARE(items, (QStringList{"Задано пользователем", "Нормальное", "Реального времени",
                                     "Срочная переадресация"}));
        QVERIFY(SettingsWindow()->ComboBoxSockets->isEditable());
        OptionList* options = SettingsWindow()->KsPinStateListBox;
        const QStringList keys{"p1 pp", "p2 pp", "p3 pp", "pv 12", "flow control"};
        const QStringList start{"Низкий", "Низкий", "Низкий", "Выключено", "Выключен"};
        for (int k = 0; k < 5; ++k)
            QCOMPARE(options->value(keys[k]), start[k]);
        // The link of each value is a button named by its key, laid out in the rows' order.
        SettingsWindow()->LockModuleSettings(false);
        pages->setCurrentIndex(2);
        SettingsWindow()->show();
        QVERIFY(QTest::qWaitForWindowExposed(SettingsWindow()));
        int lastY = -1;
        for (const QString& key : keys) {
            QPushButton* value = options->findChild<QPushButton*>(key);
            QVERIFY(value);
            QVERIFY(value->y() > lastY);
            lastY = value->y();
        }
    }
};

QTEST_MAIN(MainFormTest)
#include "test_mainform.moc"
