#include "cli/commands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "cli/configtext.h"
#include "flows/settingsflow.h"
#include "flows/statflow.h"
#include "flows/switchingpair.h"
#include "headless/clishell.h"
#include "model/configblock.h"
#include "model/crosscheck.h"

namespace {

int g_answerTimeoutMs = kDefaultAnswerTimeoutMs;

void Say(const QString& text) {
    LogEvent(text);
}

// The settings window's connect and read through `flow`; true when the configuration came whole
// (then in the flow's LastReadConfig, and the flow holds whose it is).
bool Connect(SettingsFlow& flow, ModuleLink& link) {
    const ModuleAddress& module = link.module();
    SettingsFlow::Step step = flow.pressConnect(module.address, module.port);
    while (step.sends()) {
        const Sender sender = link.exchange(GroupConfig, step.type);
        flow.connectSent(step, true);
        step = flow.connectEnded(sender, link, module.address, module.port);
    }
    return flow.ReadFrom.has_value();
}

std::optional<ConfigBlock> ReadConfig(ModuleReads& reads, const ModuleAddress& module) {
    ModuleLink link(module);
    link.setTimeoutMs(g_answerTimeoutMs);
    SettingsFlow flow(reads, link);
    if (!Connect(flow, link))
        return std::nullopt;
    return flow.LastReadConfig;
}

// The fields that say which module this is on a network.
const char* const kIdentityFields[] = {"local_ip", "mac"};

}  // namespace

void SetAnswerTimeoutMs(int ms) {
    g_answerTimeoutMs = ms;
}

int FinishOutput(int code, QTextStream& out) {
    out.flush();
    const bool failed = out.status() != QTextStream::Ok;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout) && !failed)
        return code;
    const QString why = std::ferror(stdout) ? QString::fromLocal8Bit(std::strerror(errno))
                                            : QStringLiteral("запись не удалась");
    std::fprintf(stderr, "Не удалось записать в стандартный вывод: %s\n", why.toUtf8().constData());
    return Exit::Failed;
}

int ConfigRead(const ModuleAddress& module, bool json, QTextStream& out) {
    ModuleReads reads;
    const auto block = ReadConfig(reads, module);
    if (!block)
        return Exit::Unreachable;
    const ConfigFields fields = ConfigToFields(DecodeConfig(*block));
    if (json)
        out << QJsonDocument(FieldsToJson(fields)).toJson(QJsonDocument::Indented);
    else
        out << FieldsToText(fields);
    return Exit::Done;
}

int ConfigWrite(const ModuleAddress& module, const QByteArray& file, bool yes, bool identity,
                QTextStream& out) {
    // A file that cannot be written is refused before the module is asked anything.
    ConfigFields parsed = ConfigToFields(DecodeConfig(ConfigBlock{}));
    QString error;
    if (!MergeConfigFile(file, parsed, &error)) {
        Say(error);
        return Exit::Usage;
    }
    // The write builds on this read of this module, as the settings window's does.
    ModuleReads reads;
    ModuleLink link(module);
    link.setTimeoutMs(g_answerTimeoutMs);
    SettingsFlow flow(reads, link);
    if (!Connect(flow, link))
        return Exit::Unreachable;
    const ConfigFields held = ConfigToFields(DecodeConfig(flow.LastReadConfig));
    ConfigFields wanted = held;
    if (!MergeConfigFile(file, wanted, &error)) {
        Say(error);
        return Exit::Usage;
    }
    AdoptReadConfig(flow.LastReadConfig, flow.OutgoingConfig);
    ConfigTexts texts;
    ConfigBlock encoded = flow.OutgoingConfig;
    try {
        texts = FieldsToTexts(wanted);
        EncodeConfig(texts, encoded);
    } catch (const ConversionError& e) {
        Say(e.text());
        return Exit::Usage;
    }
    // What the module will hold, as a read would show it: a deselected session's other fields
    // are not written, so they are not promised either.
    const ConfigFields promised = ConfigToFields(DecodeConfig(encoded));
    const QStringList difference = FieldDifferences(held, promised);
    for (const QString& line : difference)
        out << line << '\n';
    out.flush();
    if (difference.isEmpty()) {
        Say(QStringLiteral("Конфигурация модуля уже такая, записывать нечего"));
        return Exit::Done;
    }
    QStringList changed;
    for (int i = 0; i < held.size(); ++i) {
        for (const char* name : kIdentityFields) {
            if (held[i].first == QLatin1String(name) && held[i].second != promised[i].second)
                changed << held[i].first;
        }
    }
    if (!identity && !changed.isEmpty()) {
        Say(QStringLiteral("Файл меняет адрес модуля (%1): это поля другого модуля? "
                           "Чтобы их сменить, укажите --identity")
                .arg(changed.join(QStringLiteral(", "))));
        return Exit::Usage;
    }
    if (!yes) {
        Say(QStringLiteral("would change"));
        Say(QStringLiteral("Конфигурация не записана: для записи укажите --yes"));
        return Exit::WouldChange;
    }
    const SettingsFlow::Step write = flow.pressApply(module.address, module.port, texts);
    if (!write.sends())
        return Exit::Failed;  // refused by the flow's guards, which said why
    const Sender sender = link.exchange(GroupConfig, write.type, flow.OutgoingConfig);
    flow.applySent(true);
    flow.applyEnded(sender, link);
    if (!link.answered(GroupConfig, CmdWriteConfig))
        return Exit::Unreachable;
    const auto readBack = ReadConfig(reads, module);
    if (!readBack)
        return Exit::Unreachable;
    const QStringList left = FieldDifferences(promised, ConfigToFields(DecodeConfig(*readBack)));
    if (!left.isEmpty()) {
        Say(QStringLiteral("После записи модуль хранит не то, что записано:"));
        for (const QString& line : left)
            Say(line);
        return Exit::Failed;
    }
    Say(QStringLiteral("Конфигурация записана и проверена чтением"));
    return Exit::Done;
}

int StatsClear(const QList<ModuleAddress>& modules, bool yes, QTextStream& out) {
    if (!yes) {
        for (const ModuleAddress& m : modules)
            out << m.text() << '\n';
        Say(QStringLiteral("would change"));
        Say(QStringLiteral("Статистика не сброшена: для сброса укажите --yes"));
        return Exit::WouldChange;
    }
    auto* shell = static_cast<StderrShell*>(CurrentShell());
    int result = Exit::Done;
    for (const ModuleAddress& m : modules) {
        shell->setModule(m.text());
        ModuleLink link(m);
        link.setTimeoutMs(g_answerTimeoutMs);
        StatFlow flow;
        if (!flow.clear(m.address, m.port).sends()) {
            result = Exit::Unreachable;
            continue;
        }
        const Sender sender = link.exchange(GroupStatistics, CmdClearStatistics);
        flow.clearSent(true);
        flow.clearEnded(sender, link);
        if (!link.answered(GroupStatistics, CmdClearStatistics))
            result = Exit::Unreachable;
    }
    shell->setModule({});
    return result;
}

namespace {

struct BlockedPort {
    QString mux, port, reason;
};

// Why the cross-check shut a port's whole line: from what its module answered.
QString BlockReason(const MuxSnapshot& snapshot, int port, uint8_t partner, bool atA) {
    if (snapshot[SnapshotOffset::Availability + port] == 0)
        return QStringLiteral("порт недоступен");
    const uint8_t session = snapshot[SnapshotOffset::Switching + PortEntryOffsetOf(port) +
                                     PortEntryOffset::LinkSession];
    if (IsSessionCode(session) && session != partner)
        return atA ? QStringLiteral("скоммутирован через сессию не к мультиплексору В")
                   : QStringLiteral("скоммутирован через сессию не к мультиплексору А");
    return atA ? QStringLiteral("связь не подтверждена мультиплексором В")
               : QStringLiteral("связь не подтверждена мультиплексором А");
}

bool LineBlocked(const PortMatrix& matrix, Matrix m, int line, bool row) {
    for (int other = 1; other <= LinesOf(m); ++other) {
        if ((row ? matrix.count(m, other, line) : matrix.count(m, line, other)) != kBlockedForGood)
            return false;
    }
    return true;
}

}  // namespace

int Switching(const ModuleAddress& a, const ModuleAddress& b, bool json, QTextStream& out,
              StderrShell& shell) {
    ModuleReads reads;
    SwitchingPair pair(reads);
    PortMatrix matrix;
    pair.windowOpened(matrix);
    const PairChoice choice{a.address, a.port, b.address, b.port};
    const qsizetype firstLine = shell.history().size();
    SwitchingPair::Step step = pair.pressRead(choice);
    while (step.sends()) {
        ModuleLink link({step.address, step.port});
        link.setTimeoutMs(g_answerTimeoutMs);
        link.snapshotTarget = pair.answerTarget();
        shell.setModule(link.module().text());
        const Sender sender = link.exchange(GroupSwitching, step.type);
        step = pair.ended(sender, link, choice);
    }
    shell.setModule({});
    if (!pair.analysis())
        return Exit::Unreachable;
    const bool analysed = pair.writeEnabled();
    const QStringList messages = shell.history().mid(firstLine);

    QStringList links;
    QList<BlockedPort> blocked;
    QJsonArray jsonLinks, jsonBlocked;
    for (Matrix m : {Matrix::Tmo, Matrix::Tf}) {
        for (int row = 1; row <= LinesOf(m); ++row) {
            for (int column = 1; column <= LinesOf(m); ++column) {
                if (matrix.mark(m, column, row) != CellMark::Link)
                    continue;
                links << QStringLiteral("A %1 — B %2").arg(PortName(m, row), PortName(m, column));
                jsonLinks.append(QJsonObject{{QStringLiteral("a"), PortName(m, row)},
                                             {QStringLiteral("b"), PortName(m, column)}});
            }
        }
        if (!analysed)
            continue;
        for (bool atA : {true, false}) {
            for (int line = 1; line <= LinesOf(m); ++line) {
                if (!LineBlocked(matrix, m, line, atA))
                    continue;
                const PortId id = PortOfLine(m, line);
                const MuxSnapshot& read = atA ? pair.analysis()->readA : pair.analysis()->readB;
                const BlockedPort port{
                    atA ? QStringLiteral("A") : QStringLiteral("B"), PortName(m, line),
                    BlockReason(read, PortIndex(id.group, id.channel),
                                atA ? pair.PartnerSessionA() : pair.PartnerSessionB(), atA)};
                blocked << port;
                jsonBlocked.append(QJsonObject{{QStringLiteral("mux"), port.mux},
                                               {QStringLiteral("port"), port.port},
                                               {QStringLiteral("reason"), port.reason}});
            }
        }
    }
    if (json) {
        const QJsonObject report{
            {QStringLiteral("a"), a.text()},
            {QStringLiteral("b"), b.text()},
            {QStringLiteral("analysis_ok"), analysed},
            {QStringLiteral("links"), jsonLinks},
            {QStringLiteral("blocked"), jsonBlocked},
            {QStringLiteral("messages"), QJsonArray::fromStringList(messages)}};
        out << QJsonDocument(report).toJson(QJsonDocument::Indented);
    } else {
        out << QStringLiteral("Согласованные связи (%1):\n").arg(links.size());
        for (const QString& l : links)
            out << "  " << l << '\n';
        out << QStringLiteral("Заблокированные порты (%1):\n").arg(blocked.size());
        for (const BlockedPort& p : blocked)
            out << "  " << p.mux << ' ' << p.port << ": " << p.reason << '\n';
        out << (analysed ? QStringLiteral("Анализ выполнен\n")
                         : QStringLiteral("Анализ не выполнен\n"));
    }
    return analysed ? Exit::Done : Exit::Failed;
}
