// Every request a window sends, answered short or by another group: the window must end exactly
// as when the module closed without a word, and nothing of the answer may be shown or kept.
#include <QtTest>

#include <QtWidgets>
#include "forms/currentlinks.h"
#include "forms/main.h"
#include "ui/speedbutton.h"

#include "forms/settings.h"
#include "forms/stat.h"
#include "forms/switch.h"
#include "model/configblock.h"
#include "model/switchblock.h"
#include "sim/simulator.h"
#include "support/app_fixture.h"
#include "support/sim_pair.h"
#include "support/waits.h"
#include "support/windows.h"
#include "ui/optionlist.h"
#include "ui/radiogroup.h"
#include "ui/stringgrid.h"

namespace {

enum class Window { Settings, Statistics, Switching, CurrentLinks };

struct Request {
    const char* name;
    Window window;
    uint8_t type;
    int answerLength;
    const char* button;  // pressed for the request under test
    QString wrongLine;   // the window's own line for a wrong answer
};

const Request kRequests[] = {
    {"connect", Window::Settings, CmdConnect, 2, "ButtonMuxConnection",
     "Ошибочный ответ мультиплексора на команду установления соединения"},
    {"read config", Window::Settings, CmdReadConfig, 102, "ButtonMuxConnection",
     "Ошибочный ответ мультиплексора на команду чтения текущих настроек!"},
    {"write config", Window::Settings, CmdWriteConfig, 2, "ButtonSetCurOptions",
     "Ошибочный ответ мультиплексора на команду сохранения настроек!"},
    {"read statistics", Window::Statistics, CmdReadStatistics, 470, "RequestButton",
     "Ошибочный ответ мультиплексора на запрос статистики!"},
    {"clear statistics", Window::Statistics, CmdClearStatistics, 2, "ClearButton",
     "Ошибочный ответ мультиплексора на команду сброса статистики!"},
    {"read switching", Window::Switching, CmdReadSwitching, 282, "SwConnectButton",
     "Ошибочный ответ мультиплексора на команду запроса коммутационных настроек"},
    {"write switching", Window::Switching, CmdWriteSwitching, 2, "SwSetButton",
     "Ошибочный ответ мультиплексора A на команду сохранения коммутационных настроек!"},
    {"current links", Window::CurrentLinks, CmdReadSwitching, 282, "ButtonConnect",
     "Ошибочный ответ мультиплексора на запрос коммутационных настроек!"},
};

QString Hex(const uint8_t* data, size_t size) {
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).toHex());
}

// What the operator sees of a window and what the program keeps of the modules, with the
// simulator's ports (which change from run to run) written as "PORT".
QStringList Observed(QWidget* window, const QStringList& ports) {
    QStringList out;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->objectName().isEmpty())
            continue;
        QString text;
        if (auto* edit = qobject_cast<QLineEdit*>(w))
            text = edit->text();
        else if (auto* box = qobject_cast<QComboBox*>(w))
            text = box->currentText();
        else if (auto* button = qobject_cast<QAbstractButton*>(w))
            text = button->text() + (button->isChecked() ? "+" : "-");
        else if (auto* grid = qobject_cast<StringGrid*>(w)) {
            for (int r = 0; r < grid->rowCount(); ++r)
                for (int c = 0; c < grid->columnCount(); ++c)
                    text += grid->cellText(c, r) + '|';
        }
        for (const QString& port : ports)
            text.replace(port, QStringLiteral("PORT"));
        out << w->objectName() + (w->isEnabled() ? ":on:" : ":off:") + text;
    }
    const SwitchingPair& pair = MainWindow()->Pair;
    out << Hex(pair.SnapshotA.data(), pair.SnapshotA.size())
        << Hex(pair.SnapshotB.data(), pair.SnapshotB.size())
        << Hex(SettingsWindow()->Flow.LastReadConfig.data(),
               SettingsWindow()->Flow.LastReadConfig.size())
        << Hex(pair.OutgoingSwitching.data(), pair.OutgoingSwitching.size());
    if (const SwitchingRead* links = pair.linksRead())
        out << Hex(links->block.data(), links->block.size());
    return out;
}

}  // namespace

class AnswersTest : public QObject {
    Q_OBJECT

    struct Outcome {
        QStringList messages;
        QStringList observed;
        std::vector<std::vector<uint8_t>> requestsOfA;
    };

    // Opens the request's window on the simulated pair, makes one good exchange of the same kind
    // (so that a broken answer would have something to overwrite), then presses the request with
    // `how` in force on A.
    static Outcome Run(const Request& request, Misbehaviour how) {
        std::string error;
        auto sim = StartSimulatedPair(&error);
        if (!sim)
            qFatal("%s", error.c_str());
        const QString portA = QString::number(sim->port(0));
        const QString portB = QString::number(sim->port(1));
        // Each module reports its listening port as its control port: the same in every run.
        for (int m : {0, 1})
            sim->module(m).setControlPort(65530);
        AppFixture app;
        QWidget* window = nullptr;
        std::function<bool()> idle;
        switch (request.window) {
            case Window::Settings: {
                TSettingsForm* s = SettingsWindow();
                s->EditMuxIp->setText("127.0.0.1");
                s->EditMuxPort->setText(portA);
                app.form->SettingsButton->click();
                window = s;
                idle = [s] {
                    return s->Flow.ConnectState == Awaiting::None &&
                           s->Flow.ApplyState == Awaiting::None;
                };
                s->ButtonMuxConnection->click();
                break;
            }
            case Window::Statistics: {
                app.form->ButtonStat->click();
                TStatForm* w = StatWindow(0);
                w->EditStatIp->setText("127.0.0.1");
                w->EditStatPort->setText(portA);
                window = w;
                idle = [w] {
                    return w->Flow.PendingStatType == Awaiting::None &&
                           w->Flow.PendingClearType == Awaiting::None;
                };
                w->RequestButton->click();
                break;
            }
            case Window::Switching: {
                app.form->ButtonSwitching->click();
                TSwitchForm* w = SwitchWindow();
                w->ComboBoxSwIpA->setEditText("127.0.0.1");
                w->EditSwPortA->setText(portA);
                w->ComboBoxSwIpB->setEditText("127.0.0.2");
                w->EditSwPortB->setText(portB);
                window = w;
                idle = [w] {
                    const SwitchingPair& pair = MainWindow()->Pair;
                    return pair.SwConnectState == Awaiting::None &&
                           pair.SwSetState == Awaiting::None && pair.CurrentMux == 0;
                };
                w->SwConnectButton->click();
                break;
            }
            case Window::CurrentLinks: {
                auto* w = MainWindow()->openLinksWindow();
                w->EditIp->setText("127.0.0.1");
                w->EditPort->setText(portA);
                w->show();
                window = w;
                idle = [w] { return MainWindow()->Pair.PendingLinksType == Awaiting::None; };
                w->ButtonConnect->click();
                break;
            }
        }
        if (!QTest::qWaitFor(idle, 5000))
            qFatal("the good exchange did not end");
        sim->clock().advance(std::chrono::seconds(5));  // a good answer now would differ
        sim->module(0).setMisbehaviour(request.type, how);
        const size_t before = sim->module(0).requestCount();
        window->findChild<QPushButton*>(request.button)->click();
        if (!QTest::qWaitFor([&] { return idle() && sim->module(0).requestCount() > before; },
                             5000) ||
            !QTest::qWaitFor(idle, 5000))
            qFatal("the exchange under test did not end");
        // Fields left by a read that broke off hold no configuration: nothing may be written.
        if (request.type == CmdReadConfig)
            SettingsWindow()->ButtonSetCurOptions->click();
        if (!SettleExchanges())  // anything more has come by now
            qFatal("an exchange did not end");
        Outcome outcome{app.messages(), Observed(window, {portA, portB}),
                        sim->module(0).requests()};
        if (request.window == Window::CurrentLinks)
            delete window;
        sim->stop();
        WaitForReceiveThreads(5000);
        return outcome;
    }

  private slots:
    void brokenAnswerIsNoAnswer_data() {
        QTest::addColumn<int>("request");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("value");
        const int cut = int(MisbehaviourKind::Cut);
        const int group = int(MisbehaviourKind::Group);
        for (int i = 0; i < int(std::size(kRequests)); ++i) {
            const Request& r = kRequests[i];
            const int length = r.answerLength;
            if (length > kHeaderSize) {
                QTest::addRow("%s, header alone", r.name) << i << cut << kHeaderSize;
                QTest::addRow("%s, cut in the middle", r.name) << i << cut << length / 2;
                QTest::addRow("%s, one byte short", r.name) << i << cut << length - 1;
            } else {
                QTest::addRow("%s, half a header", r.name) << i << cut << 1;
            }
            // Group 3 is the one that would land in the snapshots; the switching windows get 2.
            const int other = r.window == Window::Switching || r.window == Window::CurrentLinks
                                  ? GroupStatistics
                                  : GroupSwitching;
            QTest::addRow("%s, group %d", r.name, other) << i << group << other;
        }
    }
    void brokenAnswerIsNoAnswer() {
        QFETCH(int, request);
        QFETCH(int, kind);
        QFETCH(int, value);
        const Request& r = kRequests[request];
        const Outcome closed = Run(r, Misbehaviour{MisbehaviourKind::Close});
        const Outcome broken = Run(r, Misbehaviour{MisbehaviourKind(kind), 0, 0, value});
        QVERIFY2(broken.messages.contains(r.wrongLine), qPrintable(broken.messages.join('\n')));
        QCOMPARE(broken.messages, closed.messages);
        QCOMPARE(broken.observed, closed.observed);
        QCOMPARE(broken.requestsOfA, closed.requestsOfA);
        for (const auto& sent : broken.requestsOfA)
            QVERIFY(sent.size() == kHeaderSize || r.type != CmdReadConfig);
    }
};

QTEST_MAIN(AnswersTest)
#include "test_answers.moc"
