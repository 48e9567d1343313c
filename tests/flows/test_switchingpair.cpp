// The switching pair's flows without a window, beside the settings flow, against simulated
// modules answered in-process: scripted event sequences, and seeded random ones that check every
// write against the modules and the matrices.
#include <QtTest>
#include <map>
#include <random>

#include "flows/commands.h"
#include "flows/settingsflow.h"
#include "flows/switchingpair.h"
#include "link/protocol.h"
#include "model/currentlinks.h"
#include "sim/simulator.h"
#include "support/config_texts.h"
#include "support/recording_shell.h"
#include "support/request_letters.h"

namespace {

const QString kPort = QStringLiteral("65530");
const QStringList kAddresses{"127.0.0.1", "127.0.0.2", "127.0.0.3"};  // A, B, and C apart

class FakeWindow : public AnswerTarget {
  public:
    explicit FakeWindow(MuxSnapshot* target = nullptr) : target_(target) {}
    MuxSnapshot* switchingAnswerTarget() override { return target_; }
    ReceiveBuffer& receiveBuffer() override { return buffer; }
    ReceiveBuffer buffer{};

  private:
    MuxSnapshot* target_;
};

// Bytes 4 to 6 of one port entry.
std::array<uint8_t, 3> LinkOf(const uint8_t* block, int port) {
    const uint8_t* e = block + PortEntryOffsetOf(port);
    return {e[PortEntryOffset::LinkSession], e[PortEntryOffset::RemoteChannel],
            e[PortEntryOffset::RemoteCrossPath]};
}

// The two windows and the settings flow as the program wires them, and the modules on the other
// side of the wire. Besides the flow's own rule, the bench judges every write it sends by what
// the modules hold and what was sent to them, without asking the flow.
class Bench {
  public:
    Bench()
        : sim({Endpoint{{127, 0, 0, 1}, 65530}, Endpoint{{127, 0, 0, 2}, 65530},
               Endpoint{{127, 0, 0, 3}, 65530}}) {
        choice = {kAddresses[0], kPort, kAddresses[1], kPort};
        pair.windowOpened(matrix);
    }
    ~Bench() { pair.windowClosed(); }

    int index(const QString& address) const { return int(kAddresses.indexOf(address)); }
    SimModule& module(const QString& address) { return sim.module(index(address)); }

    // One event of a script: "read", "write", "reset A|B|Both|- all|none|sel", "links A|B|C",
    // "mark N", "toggle C R", "answer", "wrong", "cut", "lost", "timeout", "senderror", "close",
    // "open", "ipA X", "ipB X", "config A|B C|B|A" (the settings window points the module's
    // first session at another module and writes it), "cutA P" (A's port P holds a half over
    // its first session that names no far port), "expect A|B P s c x" (the module's port P
    // holds s, c, x).
    void event(const QString& text) {
        const QStringList w = text.split(' ');
        const QString& e = w[0];
        if (e == "read")
            take(pair.pressRead(choice));
        else if (e == "write") {
            const SwitchingPair::Step step = pair.pressWrite(choice);
            if (step.sends()) {  // the blocks are built from the matrices as they are now
                writePair = {choice.ipA, choice.ipB};
                pressed = matrix;
            }
            take(step);
        } else if (e == "reset") {
            choice.resetTarget = w[1] == "A"      ? ResetTarget::A
                                 : w[1] == "B"    ? ResetTarget::B
                                 : w[1] == "Both" ? ResetTarget::Both
                                                  : ResetTarget::None;
            choice.resetType = w[2] == "all"   ? ResetType::All
                               : w[2] == "sel" ? ResetType::Selective
                                               : ResetType::None;
            const SwitchingPair::Step step =
                pair.pressReset(choice, linksOpen ? std::optional(links) : std::nullopt);
            if (step.sends()) {  // the reset in force until its last step, whatever is chosen next
                resetType = choice.resetType;
                chosen = links.chosen;
            }
            take(step);
        } else if (e == "links") {
            links.ip = kAddresses[int(QString("ABC").indexOf(w[1]))];
            linksOpen = true;
            take(pair.pressLinks(links.ip, links.port));
        } else if (e == "mark") {
            const int n = w[1].toInt() - 1;
            if (table[n].choice.isEmpty())
                links.chosen[n] = !links.chosen[n];
        } else if (e == "toggle") {
            matrix.Toggle(Matrix::Tmo, w[1].toInt(), w[2].toInt());
        } else if (e == "answer" || e == "wrong" || e == "cut" || e == "lost") {
            end(e);
        } else if (e == "timeout") {
            if (open) {
                if (index(open->step.address) >= 0)
                    reach(MisbehaviourKind::Silent);  // the module heard it and did nothing
                open.reset();
                if (pair.openExchange() == SwitchingPair::Op::Links)
                    pair.linksTimedOut();
                else
                    take(pair.timedOut(choice));
            }
        } else if (e == "senderror") {
            if (open) {
                open.reset();
                if (pair.openExchange() == SwitchingPair::Op::Links)
                    pair.linksSendFailed();
                else
                    take(pair.sendFailed(choice));
            }
        } else if (e == "close") {
            open.reset();
            pair.windowClosed();
        } else if (e == "open") {
            if (!open || open->step.op == SwitchingPair::Op::Links) {
                matrix = PortMatrix();  // a new window has matrices of its own
                pair.windowOpened(matrix);
            }
        } else if (e == "ipA" || e == "ipB") {
            (e == "ipA" ? choice.ipA : choice.ipB) = w[1];
        } else if (e == "config") {
            configure(kAddresses[int(QString("ABC").indexOf(w[1]))],
                      kAddresses[int(QString("ABC").indexOf(w[2]))]);
        } else if (e == "cutA") {
            SwitchingBlock block = sim.module(0).switching();
            uint8_t* entry = block.data() + PortEntryOffsetOf(w[1].toInt());
            entry[PortEntryOffset::LinkSession] = kFirstSessionCode;
            entry[PortEntryOffset::RemoteChannel] = NoChannel;
            entry[PortEntryOffset::RemoteCrossPath] = CrossPathNone;
            ModuleState state;
            state.switching = block;
            sim.module(0).apply(state);
        } else if (e == "expect") {
            const SwitchingBlock held = sim.module(w[1] == "A" ? 0 : 1).switching();
            const std::array<uint8_t, 3> wanted{uint8_t(w[3].toInt()), uint8_t(w[4].toInt()),
                                                uint8_t(w[5].toInt())};
            if (LinkOf(held.data(), w[2].toInt()) != wanted)
                violations << text + " does not hold";
        } else {
            qFatal("unknown event %s", qPrintable(text));
        }
    }

    // Each module's requests as letters: r a switching read, w a switching write, c any
    // configuration command.
    QString requests() {
        return RequestLetters(sim, 3, [](const auto& r) {
            return r[0] == GroupConfig ? 'c' : r.size() == 2 ? 'r' : 'w';
        });
    }

    Simulator sim;
    ModuleReads reads;
    SwitchingPair pair{reads};
    ControlStates controls;  // no windows to lock or free
    SettingsFlow settings{reads, controls};
    PortMatrix matrix;
    PairChoice choice;
    LinksChoice links{kAddresses[0], kPort, {}};
    bool linksOpen = false;
    LinkRows table{};
    RecordingShell shell;
    QStringList violations;

  private:
    struct Open {
        SwitchingPair::Step step;
        std::vector<uint8_t> request;
        uint64_t command = 0;  // a write: its number among the commands to its module
    };

    // The settings window, between two events: connect, read, and a write that points the
    // module's first session at `to`. Each command goes to the module and its answer comes back
    // at once; a refused step ends it.
    void configure(const QString& address, const QString& to) {
        SimModule& m = module(address);
        const auto exchange = [&](uint8_t type) {
            const RequestFrame request = BuildRequest(GroupConfig, type, settings.OutgoingConfig);
            const std::vector<uint8_t> answer =
                m.handle({request.data(), request.data() + request.length}).bytes;
            FakeWindow window;
            TakeAnswer(GroupConfig, answer.data(), int(answer.size()), window.buffer);
            if (type == CmdWriteConfig)
                ++commands[index(address)];
            return window;
        };
        SettingsFlow::Step step = settings.pressConnect(address, kPort);
        while (step.sends()) {
            FakeWindow window = exchange(step.type);
            settings.connectSent(step, true);
            step = settings.connectEnded(Sender::Answer, window, address, kPort);
        }
        ConfigTexts texts = TextsOf(settings.LastReadConfig);
        texts.sessions[0].DestinationIp = to;
        if (!settings.pressApply(address, kPort, texts).sends())
            return;
        settings.applySent(true);
        FakeWindow window = exchange(CmdWriteConfig);
        settings.applyEnded(Sender::Answer, window);
    }

    void take(const SwitchingPair::Step& step) {
        if (!step.sends())
            return;
        if (open)
            violations << "a second exchange while one is open";
        const RequestFrame request =
            BuildRequest(GroupSwitching, step.type, pair.OutgoingSwitching);
        open = Open{step, std::vector<uint8_t>(request.data(), request.data() + request.length)};
        if (step.type == CmdWriteSwitching) {
            checkWrite(step, open->request.data() + kHeaderSize);
            open->command = commands[index(step.address)];
        }
    }

    // The first enabled session of a module whose destination is `other`, as a code, or 0.
    uint8_t sessionTowards(const QString& address, const QString& other) {
        const ConfigBlock config = module(address).config();
        const auto to = ParseModuleEndpoint(other, kPort);
        for (int n = 0; to && n < kSessionCount; ++n) {
            const uint8_t* record = config.data() + SessionRecordOffset(n);
            if (record[SessionOffset::Enable] != 0 &&
                std::equal(to->ip.begin(), to->ip.end(), record + SessionOffset::DestinationIp))
                return uint8_t(kFirstSessionCode + n);
        }
        return 0;
    }

    // The rules every write keeps, judged against the module as it is now:
    // - what a module holds of its own (bytes 0 to 3 and 7) goes back unchanged;
    // - a link over a session that does not lead to the other module changes only by a reset
    //   that chose it, and no link is written over a session that does not lead there;
    // - a write of the pair writes what the matrices show;
    // - the block was built from a whole read of the module that no command has ended since
    //   (a write that stopped may go again, as it was, when nothing else went to the module).
    void checkWrite(const SwitchingPair::Step& step, const uint8_t* out) {
        const int m = index(step.address);
        if (m < 0) {
            violations << "a write to " + step.address + ", which nobody read";
            return;
        }
        const SwitchingBlock held = module(step.address).switching();
        const bool write = step.op == SwitchingPair::Op::Write;
        const bool toB = write && step.address == writePair.second;
        const QString other = toB ? writePair.first : writePair.second;
        const uint8_t partner = write ? sessionTowards(step.address, other) : 0;
        const QString where = step.address + " by " + QString::number(int(step.op));
        for (int port = 0; port < kPortCount; ++port) {
            const int at = PortEntryOffsetOf(port);
            for (int i : {0, 1, 2, 3, 7}) {
                if (out[at + i] != held[at + i])
                    violations << "carried byte " + QString::number(at + i) + " changed at " +
                                      where;
            }
            const auto before = LinkOf(held.data(), port);
            const auto after = LinkOf(out, port);
            if (before == after)
                continue;
            const bool reset = step.op == SwitchingPair::Op::Reset;
            if (IsSessionCode(before[0])) {
                const bool resetAll = reset && resetType == ResetType::All;
                const bool resetChosen = reset && resetType == ResetType::Selective &&
                                         chosen[before[0] - kFirstSessionCode];
                const bool shown = write && before[0] == partner;
                if (!resetAll && !resetChosen && !shown)
                    violations << "link of port " + QString::number(port) + " over session code " +
                                      QString::number(before[0]) + " changed at " + where;
            }
            if (IsSessionCode(after[0]) && (!write || after[0] != partner))
                violations << "link of port " + QString::number(port) + " written over session " +
                                  QString::number(after[0]) + " that does not lead to " + other +
                                  " at " + where;
        }
        if (write)
            checkGrids(toB, out, where);
        const std::vector<uint8_t> block(out, out + kSwitchingBlockSize);
        if (readAt[m] != commands[m] && !(resendsOnly[m] && lastBlock[m] == block))
            violations << "block built from a read that a command ended, at " + where;
        resendsOnly[m] = readAt[m] == commands[m] || (resendsOnly[m] && lastBlock[m] == block);
        lastBlock[m] = block;
        ++commands[m];
    }

    // A free cell of the matrices at the press unlinks both its ports; a link cell links them to
    // each other.
    void checkGrids(bool toB, const uint8_t* out, const QString& where) {
        for (Matrix mx : {Matrix::Tmo, Matrix::Tf}) {
            for (int r = 1; r <= LinesOf(mx); ++r) {
                for (int c = 1; c <= LinesOf(mx); ++c) {
                    const CellMark mark = pressed.mark(mx, c, r);
                    if (mark == CellMark::Block)
                        continue;
                    const PortId a = PortOfLine(mx, r);
                    const PortId b = PortOfLine(mx, c);
                    const PortId self = toB ? b : a;
                    const PortId far = toB ? a : b;
                    const auto link = LinkOf(out, PortIndex(self.group, self.channel));
                    const bool ok =
                        mark == CellMark::Free
                            ? link == std::array<uint8_t, 3>{0, NoChannel, CrossPathNone}
                            : IsSessionCode(link[0]) && link[1] == far.channel &&
                                  link[2] == CrossPathOf(far.group);
                    if (!ok)
                        violations << "cell " + QString::number(c) + "," + QString::number(r) +
                                          " not what was written at " + where;
                }
            }
        }
    }

    // The open request reaches its module, which answers (and works) as `how` says.
    std::vector<uint8_t> reach(MisbehaviourKind how) {
        SimModule& m = module(open->step.address);
        const uint8_t type = open->request[1];
        m.setMisbehaviour(type, Misbehaviour{how});
        std::vector<uint8_t> answer = m.handle(open->request).bytes;
        m.setMisbehaviour(type, Misbehaviour{});
        return answer;
    }

    void end(const QString& how) {
        if (!open)
            return;
        if (index(open->step.address) < 0)  // no module there: nothing ever answers
            return event("timeout");
        std::vector<uint8_t> answer =
            reach(how == "wrong" ? MisbehaviourKind::Unsupported : MisbehaviourKind::Normal);
        const Open o = *open;
        open.reset();
        if (how == "cut")
            answer.resize(answer.size() / 2);
        const bool toLinks = o.step.op == SwitchingPair::Op::Links;
        FakeWindow window(pair.answerTarget());
        const bool whole =
            TakeAnswer(GroupSwitching, answer.data(), int(answer.size()), window.buffer);
        if (how == "lost") {  // the module did the work, its answer never came
            if (toLinks)
                pair.linksTimedOut();
            else
                take(pair.timedOut(choice));
            return;
        }
        const int m = index(o.step.address);
        // A whole answer tells what the module holds: a read's, or the confirmation of a write
        // that is still the last command sent to it.
        if (whole && window.buffer[1] == o.request[1] &&
            (o.step.type != CmdWriteSwitching || o.command == commands[m]))
            readAt[m] = commands[m];
        if (toLinks) {
            if (pair.linksAnswered(ParseAnswer(window))) {
                table = CurrentLinkRows(pair.linksRead()->block);
                links.chosen = {};
            }
            return;
        }
        take(pair.answered(ParseAnswer(window), choice));
    }

    std::optional<Open> open;
    ResetType resetType = ResetType::None;
    std::array<bool, kSessionCount> chosen{};
    std::pair<QString, QString> writePair;
    PortMatrix pressed;
    // Per module: commands that can change it so far, their count at its last whole read, and
    // whether every command since that read was the same block again.
    std::array<uint64_t, 3> commands{}, readAt{};
    std::array<bool, 3> resendsOnly{};
    std::array<std::vector<uint8_t>, 3> lastBlock;
};

}  // namespace

class SwitchingPairTest : public QObject {
    Q_OBJECT
  private slots:
    void script_data() {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("requests");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QString>("controls");  // all, commands (no write), or none
        const QString noB =
            "Нет ответа от мультиплексора B на команду сохранения коммутационных "
            "настроек!";
        const QString savedA =
            "Текущие коммутационные настройки мультиплексора А успешно сохранены";
        const QString savedB =
            "Текущие коммутационные настройки мультиплексора В успешно сохранены";
        const QString resetA = "Сброс настроек мультиплексора А произведен";
        const QString resetB = "Сброс настроек мультиплексора B произведен";
        const QString readA = "Перед сбросом считайте коммутационные настройки мультиплексора А";
        const QString readB = "Перед сбросом считайте коммутационные настройки мультиплексора В";
        const QString readBoth =
            "Перед записью считайте коммутационные настройки мультиплексоров А и В";
        const QString readLinks =
            "Перед сбросом считайте текущие связи мультиплексора в окне \"Текущие связи\"";
        const QString analysis = "Ошибка анализа коммутационных настроек";
        const QString otherModules =
            "Адреса мультиплексоров не те, что были считаны: считайте коммутационные настройки "
            "снова";
        const QString noA =
            "Нет ответа от мультиплексора A на команду сохранения коммутационных настроек!";
        const QString same = "Не допустимо использование одинаковых Ip-адресов!";
        // The seeded pair's one-sided half: the matrices never show it, a write removes it.
        const QString oneSided = "Будет удалена односторонняя связь: В ТФ3 → А ТФ4";
        const QString read = "read,answer,answer";

        QTest::newRow("read both") << read << "A:r B:r" << QStringList{} << "all";
        QTest::newRow("read under way") << "read,answer"
                                        << "A:r" << QStringList{} << "none";
        QTest::newRow("read that timed out at B starts again at A")
            << "read,answer,timeout,read,answer,answer"
            << "A:rr B:rr"
            << QStringList{"Нет ответа от мультиплексора B на запрос коммутационных настроек!"}
            << "all";
        QTest::newRow("read that could not be sent to B starts again at A")
            << "read,answer,senderror,read,answer"
            << "A:rr" << QStringList{} << "none";
        QTest::newRow("read refused at B ends the read; A's whole answer is enough to reset A")
            << "ipB 127.0.0.0.1,read,answer,reset A all,answer"
            << "A:rw" << QStringList{"Некорректный формат IP-адреса!", resetA} << "none";
        QTest::newRow("B silent: A alone is reset and read again")
            << "read,answer,timeout,reset A all,answer,answer,timeout"
            << "A:rwr B:rr"
            << QStringList{"Нет ответа от мультиплексора B на запрос коммутационных настроек!",
                           resetA,
                           "Нет ответа от мультиплексора B на запрос коммутационных настроек!"}
            << "commands";
        QTest::newRow("read cut at B")
            << "read,answer,cut,write" << "A:r B:r"
            << QStringList{"Ошибочный ответ мультиплексора на команду запроса коммутационных "
                           "настроек", readBoth} << "commands";
        QTest::newRow("no partner on B: no write")
            << "ipB 127.0.0.3,read,answer,answer,write"
            << "A:r C:r"
            << QStringList{"В мультиплексоре А не сконфигурирована связь с мультиплексором В",
                           analysis, readBoth}
            << "commands";
        QTest::newRow("write both")
            << read + ",toggle 3 2,write,answer,answer"
            << "A:rw B:rw" << QStringList{oneSided, savedA, savedB} << "all";
        // The link placed in the matrices' last line and written is no unseen half when it goes.
        QTest::newRow("confirmed writes are the next write's read")
            << read + ",toggle 12 12,write,answer,answer,toggle 12 12,write,answer,answer"
            << "A:rww B:rww" << QStringList{oneSided, savedA, savedB, savedA, savedB} << "all";
        QTest::newRow("write resumed at B")
            << read + ",write,answer,timeout,write,answer"
            << "A:rw B:rww" << QStringList{oneSided, savedA, noB, savedB} << "all";
        QTest::newRow("write edited after B's time-out needs a new read")
            << read + ",write,answer,timeout,toggle 3 2,write"
            << "A:rw B:rw" << QStringList{oneSided, savedA, noB, readBoth} << "commands";
        QTest::newRow("write stopped at B, reset of A goes to A")
            << read + ",write,answer,senderror,reset A all,answer,answer,answer"
            << "A:rwwr B:rr" << QStringList{oneSided, savedA, resetA} << "all";
        QTest::newRow("reset of both resumed at B")
            << read + ",reset Both all,answer,timeout,reset Both all,answer,answer,answer"
            << "A:rwr B:rwwr" << QStringList{resetA, noB, resetB} << "all";
        QTest::newRow("reset of both with another type needs a new read")
            << read + ",reset Both all,answer,timeout,reset Both none"
            << "A:rw B:rw" << QStringList{resetA, noB, readA} << "commands";
        // A reset ends the reads it was built on as it is sent, whatever comes back.
        QTest::newRow("re-read after a reset refused for equal addresses: no write")
            << read + ",reset Both all,answer,ipB 127.0.0.1,answer,ipB 127.0.0.2,write"
            << "A:rw B:rw" << QStringList{resetA, resetB, same, readBoth} << "commands";
        QTest::newRow("reset of both that B never answers: no write")
            << read + ",reset Both all,answer,timeout,write"
            << "A:rw B:rw" << QStringList{resetA, noB, readBoth} << "commands";
        QTest::newRow("reset whose answer is lost: no write")
            << read + ",reset A all,lost,write"
            << "A:rw B:r" << QStringList{noA, readBoth} << "commands";
        // The analysis pairs the modules read, whatever the boxes showed meanwhile.
        QTest::newRow("address edited while B answers and put back")
            << "read,answer,ipA 192.168.10.30,answer,ipA 127.0.0.1,toggle 3 2,write,answer,answer"
            << "A:rw B:rw" << QStringList{oneSided, savedA, savedB} << "all";
        QTest::newRow("addresses other than those read: no write")
            << read + ",ipA 127.0.0.3,write"
            << "A:r B:r" << QStringList{otherModules} << "all";
        // A configuration write is a command to the module: its switching read ends.
        QTest::newRow("configuration written between the read and the write")
            << read + ",config A C,toggle 3 2,write"
            << "A:rccc B:r"
            << QStringList{"Соединение с удаленным мультиплексором установлено",
                           "Конфигурация считана", "Конфигурация установлена",
                           "Необходимо повторное соединение для продолжения работы с "
                           "мультиплексором",
                           readBoth}
            << "commands";
        QTest::newRow("configuration written to B while A's reset waits: B's block stays")
            << read + ",reset Both all,config B A,answer"
            << "A:rw B:rccc"
            << QStringList{"Соединение с удаленным мультиплексором установлено",
                           "Конфигурация считана",
                           "Конфигурация установлена",
                           "Необходимо повторное соединение для продолжения работы с "
                           "мультиплексором",
                           resetA,
                           readB}
            << "commands";
        // A half that names no far port, as a cut leaves it: free, and written unlinked.
        QTest::newRow("a cut half does not lock the pair out")
            << "cutA 4,read,answer,answer,write,answer,answer,expect A 4 0 170 0"
            << "A:rw B:rw" << QStringList{oneSided, savedA, savedB} << "all";
        QTest::newRow("reset before any read")
            << "reset A all,reset B none,reset Both all"
            << "" << QStringList{readA, readB, readA} << "commands";
        QTest::newRow("reset of A after a read of another module")
            << read + ",ipA 127.0.0.3,reset A all"
            << "A:r B:r" << QStringList{readA} << "all";
        QTest::newRow("all settings without a target") << read + ",reset - all"
                                                       << "A:r B:r" << QStringList{} << "all";
        QTest::newRow("selective reset") << "links A,answer,mark 1,reset - sel,answer,answer,answer"
                                         << "A:rwr B:r" << QStringList{resetA} << "all";
        QTest::newRow("selective reset twice needs a new links read")
            << "links A,answer,mark 1,reset - sel,answer,answer,answer,reset - sel"
            << "A:rwr B:r" << QStringList{resetA, readLinks} << "all";
        QTest::newRow("selective reset after a refused links read")
            << "links A,answer,mark 1,links A,wrong,reset - sel"
            << "A:rr"
            << QStringList{"Ошибочный ответ мультиплексора на запрос коммутационных настроек!",
                           readLinks}
            << "commands";
        QTest::newRow("selective reset after a links read that timed out")
            << "links A,answer,mark 1,links A,timeout,reset - sel"
            << "A:rr"
            << QStringList{"Нет ответа от мультиплексора A на запрос коммутационных настроек",
                           readLinks}
            << "commands";
        QTest::newRow("selective reset after the switching window was reopened")
            << "links B,answer,mark 1,close,open,reset - sel,answer"
            << "B:rw" << QStringList{resetA} << "none";
        QTest::newRow("a links read of another module leaves the write as it was")
            << read + ",links C,answer,write,answer,answer"
            << "A:rw B:rw C:r" << QStringList{oneSided, savedA, savedB} << "all";
        QTest::newRow("a links read kept after a reset of its module is no ground")
            << "links A,answer,mark 1,read,answer,answer,reset A all,lost,reset - sel"
            << "A:rrw B:r" << QStringList{noA, readLinks} << "commands";
        QTest::newRow("presses while the read waits do nothing")
            << "read,write,reset A all,links C,read,answer,answer"
            << "A:r B:r" << QStringList{} << "all";
        QTest::newRow("same module under two spellings")
            << "ipB 127.000.0.001,read"
            << "" << QStringList{"Не допустимо использование одинаковых Ip-адресов!"} << "commands";
    }
    void script() {
        QFETCH(QString, events);
        QFETCH(QString, requests);
        QFETCH(QStringList, log);
        QFETCH(QString, controls);
        Bench bench;
        for (const QString& e : events.split(',', Qt::SkipEmptyParts))
            bench.event(e);
        QCOMPARE(bench.requests(), requests);
        QCOMPARE(bench.shell.log, log);
        QCOMPARE(!bench.pair.commandsEnabled() ? "none"
                 : bench.pair.writeEnabled()   ? "all"
                                               : "commands",
                 controls);
        QCOMPARE(bench.violations, QStringList{});
    }

    // Thousands of event orders; a failing seed is printed so that it can be replayed alone
    // (KESTREL_PAIR_SEED=N).
    void randomOrdersKeepTheRule() {
        static const QStringList kEvents{"read",
                                         "write",
                                         "reset A all",
                                         "reset B all",
                                         "reset Both all",
                                         "reset A none",
                                         "reset Both none",
                                         "reset - sel",
                                         "reset - all",
                                         "links A",
                                         "links B",
                                         "links C",
                                         "mark 1",
                                         "mark 2",
                                         "mark 3",
                                         "toggle 3 2",
                                         "toggle 2 1",
                                         "toggle 10 3",
                                         "toggle 4 4",
                                         "answer",
                                         "answer",
                                         "answer",
                                         "answer",
                                         "wrong",
                                         "cut",
                                         "lost",
                                         "timeout",
                                         "senderror",
                                         "close",
                                         "open",
                                         "ipA 127.0.0.1",
                                         "ipA 127.0.0.3",
                                         "ipB 127.0.0.2",
                                         "ipB 127.0.0.3",
                                         "ipA 192.168.10.30",
                                         "config A C",
                                         "config A B",
                                         "config B C",
                                         "config B A"};
        const bool one = qEnvironmentVariableIsSet("KESTREL_PAIR_SEED");
        const uint32_t first = one ? qEnvironmentVariableIntValue("KESTREL_PAIR_SEED") : 1;
        const uint32_t last = one ? first : 20000;
        for (uint32_t seed = first; seed <= last; ++seed) {
            std::mt19937 random(seed);
            Bench bench;
            QStringList done;
            // Every other pair starts with a half that a cut left on A (nobody else changes a
            // module behind the program's back).
            if (seed % 2 == 0) {
                done << "cutA 4";
                bench.event(done.back());
            }
            for (int i = 0; i < 80; ++i) {
                const QString e = kEvents[int(random() % kEvents.size())];
                done << e;
                try {
                    bench.event(e);
                } catch (const std::exception& x) {
                    bench.violations << QString("exception: ") + x.what();
                }
                if (!bench.violations.isEmpty()) {
                    QFAIL(qPrintable(QString("seed %1: %2 after %3")
                                         .arg(seed)
                                         .arg(bench.violations.join("; "), done.join(","))));
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(SwitchingPairTest)
#include "test_switchingpair.moc"
