// What the program knows of each module, the settings flow and a statistics flow, without a
// window, against simulated modules answered in-process.
#include <QtTest>

#include "flows/commands.h"
#include "flows/settingsflow.h"
#include "flows/statflow.h"
#include "model/modulereads.h"
#include "sim/simulator.h"
#include "support/config_texts.h"
#include "support/recording_shell.h"
#include "support/request_letters.h"

namespace {

const QString kPort = QStringLiteral("65530");
const QStringList kAddresses{"127.0.0.1", "127.0.0.2"};

class FakeWindow : public AnswerTarget {
  public:
    ReceiveBuffer& receiveBuffer() override { return buffer; }
    void showStatistics(const uint8_t*) override { ++shown; }
    ReceiveBuffer buffer{};
    int shown = 0;
};

char Letter(uint8_t type) {
    switch (type) {
        case CmdConnect:
            return 'c';
        case CmdReadConfig:
            return 'r';
        case CmdWriteConfig:
            return 'w';
        case CmdReadStatistics:
            return 's';
        case CmdClearStatistics:
            return 'z';
        default:
            return '?';
    }
}

ModuleEndpoint Module(const QString& letter) {
    return *ParseModuleEndpoint(kAddresses[letter == "A" ? 0 : 1], kPort);
}

// Two modules, the owner of reads, the settings flow that reads and writes through it, and a
// statistics flow; every command reaches its module, which answers as the script says.
class Bench {
  public:
    Bench() : sim({Endpoint{{127, 0, 0, 1}, 65530}, Endpoint{{127, 0, 0, 2}, 65530}}) {}

    // "connect X", "apply X [how]", "other X" (another flow sends X a switching write),
    // "stat X [how]", "clear X [how]", "auto X" (the automatic mode starts with its clear);
    // `how` is answer (the default), wrong or silent.
    void event(const QString& text) {
        const QStringList w = text.split(' ');
        const QString address = kAddresses[w[1] == "A" ? 0 : 1];
        const QString how = w.value(2, "answer");
        if (w[0] == "connect") {
            SettingsFlow::Step step = settings.pressConnect(address, kPort);
            while (step.sends()) {
                settings.connectSent(step, true);
                const Sender sender = deliver(address, GroupConfig, step.type, how, {});
                step = settings.connectEnded(sender, window, address, kPort);
            }
        } else if (w[0] == "apply") {
            ConfigTexts texts = TextsOf(settings.LastReadConfig);
            texts.sessions[1].Tos = QString::number(++tos);
            if (!settings.pressApply(address, kPort, texts).sends())
                return;
            settings.applySent(true);
            settings.applyEnded(
                deliver(address, GroupConfig, CmdWriteConfig, how, settings.OutgoingConfig),
                window);
        } else if (w[0] == "other") {
            reads.sending(Module(w[1]));
        } else if (w[0] == "stat") {
            const StatFlow::Step step = stat.request(address, kPort);
            if (!step.sends())
                return;
            stat.requestSent(true);
            stat.requestEnded(deliver(address, GroupStatistics, step.type, how, {}), window);
        } else if (w[0] == "clear" || w[0] == "auto") {
            if (w[0] == "auto") {
                stat.setMode(StatMode::Automatic);
                stat.start({}, {});
            }
            const StatFlow::Step step = stat.clear(address, kPort);
            if (!step.sends())
                return;
            stat.clearSent(true);
            stat.clearEnded(deliver(address, GroupStatistics, step.type, how, {}), window);
        } else {
            qFatal("unknown event %s", qPrintable(text));
        }
    }

    // Each module's requests: c connect, r a read, w a write, s statistics, z a clear.
    QString requests() {
        return RequestLetters(sim, 2, [](const auto& r) { return Letter(r[1]); });
    }

    Simulator sim;
    ModuleReads reads;
    FakeWindow window;
    SettingsFlow settings{reads, window};
    StatFlow stat;
    RecordingShell shell;

  private:
    Sender deliver(const QString& address, uint8_t group, uint8_t type, const QString& how,
                   std::span<const uint8_t> payload) {
        SimModule& m = sim.module(int(kAddresses.indexOf(address)));
        const RequestFrame request = BuildRequest(group, type, payload);
        m.setMisbehaviour(type, Misbehaviour{how == "wrong"    ? MisbehaviourKind::Unsupported
                                             : how == "silent" ? MisbehaviourKind::Silent
                                                               : MisbehaviourKind::Normal});
        const std::vector<uint8_t> answer =
            m.handle({request.data(), request.data() + request.length}).bytes;
        m.setMisbehaviour(type, Misbehaviour{});
        if (how == "silent")
            return Sender::Timeout;
        TakeAnswer(group, answer.data(), int(answer.size()), window.buffer);
        return Sender::Answer;
    }

    int tos = 0;
};

}  // namespace

class ModuleFlowsTest : public QObject {
    Q_OBJECT
  private slots:
    // The settings flow and the statistics flow: what each module received, what was logged,
    // and where the flows stand.
    void flows_data() {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("requests");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<bool>("holdsRead");  // the settings fields hold a current read
        const QString connected = "Соединение с удаленным мультиплексором установлено";
        const QString read = "Конфигурация считана";
        const QString written = "Конфигурация установлена";
        const QString again =
            "Необходимо повторное соединение для продолжения работы с мультиплексором";
        const QString readFirst =
            "Перед сохранением настроек считайте конфигурацию этого мультиплексора";
        const QString wrong = "Ошибочный ответ мультиплексора!";
        QTest::newRow("connect, read and write")
            << "connect A,apply A"
            << "A:crw" << QStringList{connected, read, written, again} << true;
        QTest::newRow("a confirmed write is the next write's read")
            << "connect A,apply A,apply A"
            << "A:crww" << QStringList{connected, read, written, again, written, again} << true;
        QTest::newRow("a write without a read sends nothing")
            << "apply A"
            << "" << QStringList{readFirst} << false;
        QTest::newRow("a read of A is no ground for a write to B")
            << "connect A,apply B"
            << "A:cr" << QStringList{connected, read, readFirst} << true;
        QTest::newRow("another flow's command to A ends the read")
            << "connect A,other A,apply A"
            << "A:cr" << QStringList{connected, read, readFirst} << false;
        QTest::newRow("another flow's command to B leaves A's read")
            << "connect A,other B,apply A"
            << "A:crw" << QStringList{connected, read, written, again} << true;
        QTest::newRow("a write answered wrongly ends the read")
            << "connect A,apply A wrong,apply A"
            << "A:crw"
            << QStringList{connected,
                           read,
                           "Текущая верия ПО модуля не поддерживает данную команду!",
                           wrong,
                           "Ошибочный ответ мультиплексора на команду сохранения настроек!",
                           readFirst}
            << false;
        QTest::newRow("a write that was never answered ends the read")
            << "connect A,apply A silent,apply A"
            << "A:crw"
            << QStringList{connected, read,
                           "Нет ответа от удаленного мультиплексора на команду сохранения "
                           "настроек!",
                           readFirst}
            << false;
        QTest::newRow("a connect answered wrongly holds nothing")
            << "connect A wrong"
            << "A:c"
            << QStringList{"Текущая верия ПО модуля не поддерживает данную команду!", wrong,
                           "Ошибочный ответ мультиплексора на команду установления соединения"}
            << false;
        QTest::newRow("statistics and clears") << "stat A,clear B,stat A wrong,clear A silent"
                                               << "A:ssz B:z"
                                               << QStringList{"Статистика сброшена",
                                                              "Ошибочный ответ мультиплексора на "
                                                              "запрос статистики!",
                                                              "Нет ответа от удаленного "
                                                              "мультиплексора на команду сброса "
                                                              "статистики!"}
                                               << false;
        QTest::newRow("statistics leave the configuration read")
            << "connect A,clear A,auto A,stat A,apply A"
            << "A:crzzsw"
            << QStringList{connected, read, "Статистика сброшена", "Статистика сброшена",
                           written,   again}
            << true;
    }
    void flows() {
        QFETCH(QString, events);
        QFETCH(QString, requests);
        QFETCH(QStringList, log);
        QFETCH(bool, holdsRead);
        Bench bench;
        for (const QString& e : events.split(',', Qt::SkipEmptyParts))
            bench.event(e);
        QCOMPARE(bench.requests(), requests);
        QCOMPARE(bench.shell.log, log);
        QCOMPARE(bench.settings.holdsCurrentRead(), holdsRead);
        for (Awaiting awaited : {bench.settings.ConnectState, bench.settings.ApplyState,
                                 bench.stat.PendingStatType, bench.stat.PendingClearType})
            QCOMPARE(awaited, Awaiting::None);
        QCOMPARE(bench.stat.ticking(), events.contains("auto"));
        QCOMPARE(bench.window.shown, int(events.count("stat A") - events.count("stat A wrong")));
    }
};

QTEST_GUILESS_MAIN(ModuleFlowsTest)
#include "test_moduleflows.moc"
