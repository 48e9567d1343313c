// The main window: start-up state, the event log, the settings store and the window buttons.
#include <QtTest>

#include "forms/main.h"
#include "forms/settings.h"
#include "forms/stat.h"
#include "forms/switch.h"
#include "link/pending.h"
#include "support/app_fixture.h"

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

        QVERIFY(SettingsForm);
        QVERIFY(!SettingsForm->isVisible());
        QCOMPARE(SettingsForm->PageControl1->currentIndex(), 0);
        QCOMPARE(SettingsForm->ConnectState, 0);
        QCOMPARE(SettingsForm->ApplyState, 0);
        QVERIFY(SwitchForm);
        QVERIFY(!SwitchForm->isVisible());
        for (TStatForm* w : StatWindows)
            QVERIFY(!w);

        // Module fields locked and empty, the option list hidden, the connection group usable.
        for (const char* name : {"GroupBoxModuleSettings", "GroupBoxSocketSelect",
                                 "GroupBoxSettingsOptions", "GroupBoxTos"}) {
            QWidget* w = SettingsForm->findChild<QWidget*>(name);
            QVERIFY2(w && !w->isEnabled(), name);
        }
        for (const char* name :
             {"EditLocalIp", "EditLocalMac", "EditSubnetwork", "EditGateway", "EditControlPort",
              "EditDestinationIp", "EditDestinationPort", "EditLocalPort", "EditTOS"}) {
            auto* e = SettingsForm->findChild<QLineEdit*>(name);
            QVERIFY2(e && e->text().isEmpty(), name);
        }
        QVERIFY(SettingsForm->KsPinStateListBox->isHidden());
        QVERIFY(SettingsForm->GroupBoxConnection->isEnabled());
        QVERIFY(SettingsForm->ButtonMuxConnection->isEnabled());
        for (const SessionSettings& s : m->Sessions) {
            QCOMPARE(int(s.Enabled), 0);
            QVERIFY(s.DestinationIp.isEmpty() && s.Tos.isEmpty());
        }
        QCOMPARE(PendingRequestCount(), 0);
    }

    void logEvent_data() {
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("empty text") << QStringList{QString()};
        QTest::newRow("russian") << QStringList{QStringLiteral("Конфигурация считана")};
        QTest::newRow("two in order")
            << QStringList{QStringLiteral("первая"), QStringLiteral("вторая")};
    }
    void logEvent() {
        QFETCH(QStringList, texts);
        AppFixture app;
        for (const QString& t : texts)
            LogEvent(t);
        QStringList expected{QString()};
        for (const QString& t : texts)
            expected << t << QString(98, QLatin1Char('*'));
        QCOMPARE(app.memoLines(), expected);
    }

    void settingsButtonShowsAndHides() {
        AppFixture app;
        SpeedButton* b = app.form->SettingsButton;
        SettingsForm->EditMuxIp->setText(QStringLiteral("10.1.2.3"));
        b->click();
        QVERIFY(b->isChecked());
        QVERIFY(SettingsForm->isVisible());
        b->click();
        QVERIFY(!b->isChecked());
        QVERIFY(!SettingsForm->isVisible());
        b->click();
        QCOMPARE(SettingsForm->EditMuxIp->text(), QStringLiteral("10.1.2.3"));
        QCOMPARE(SettingsForm->LabelLocalIp->text(), QStringLiteral("10.1.2.3"));
        // The window's own close raises the button again and keeps the window.
        SettingsForm->close();
        QVERIFY(!b->isChecked());
        QVERIFY(SettingsForm);
    }

    void settingsStoreDefaultsAndClose() {
        AppFixture app;
        QVERIFY(!QFile::exists(app.iniPath()));
        QCOMPARE(SettingsForm->EditMuxIp->text(), QString());
        QCOMPARE(SettingsForm->EditMuxPort->text(), QStringLiteral("65530"));
        SettingsForm->EditMuxIp->setText(QStringLiteral("192.168.5.6"));
        SettingsForm->EditMuxPort->setText(QStringLiteral("4001"));
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
        QCOMPARE(SettingsForm->EditMuxIp->text(), QStringLiteral("10.9.8.7"));
        QCOMPARE(SettingsForm->EditMuxPort->text(), QStringLiteral("1234"));
        QCOMPARE(SettingsForm->LabelLocalIp->text(), QStringLiteral("10.9.8.7"));
    }

    void fourStatisticsSlots() {
        AppFixture app;
        for (int n = 0; n < 4; ++n) {
            app.form->ButtonStat->click();
            QVERIFY(StatWindows[n]);
            QCOMPARE(StatWindows[n]->objectName(), QStringLiteral("StatForm%1").arg(n));
        }
        const auto before = StatWindows;
        app.form->ButtonStat->click();
        QCOMPARE(StatWindows, before);
        QCOMPARE(app.form->findChildren<TStatForm*>().size(), 4);
    }

    void setBusyReachesEveryOpenWindow() {
        AppFixture app;
        app.form->ButtonStat->click();
        app.form->ButtonStat->click();
        app.form->ButtonSwitching->click();
        SetBusy(true);
        QVERIFY(!SettingsForm->GroupBoxConnection->isEnabled());
        QVERIFY(!SettingsForm->ButtonMuxConnection->isEnabled());
        QVERIFY(!SettingsForm->ButtonSetCurOptions->isEnabled());
        QVERIFY(!SwitchForm->SwConnectButton->isEnabled());
        QVERIFY(!SwitchForm->SwResetButton->isEnabled());
        QVERIFY(!StatWindows[0]->RequestButton->isEnabled());
        QVERIFY(!StatWindows[1]->RequestButton->isEnabled());
        SetBusy(false);
        QVERIFY(SettingsForm->ButtonSetCurOptions->isEnabled());
        QVERIFY(SwitchForm->SwConnectButton->isEnabled());
        QVERIFY(StatWindows[1]->RequestButton->isEnabled());
    }

    void switchingButtonCreatesAndDestroys() {
        AppFixture app;
        TSwitchForm* hidden = SwitchForm;
        QVERIFY(hidden);
        app.form->ButtonSwitching->click();
        QVERIFY(SwitchForm);
        QVERIFY(SwitchForm->isVisible());
        app.form->ButtonSwitching->click();
        QTRY_VERIFY(!SwitchForm);
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
};

QTEST_MAIN(MainFormTest)
#include "test_mainform.moc"
