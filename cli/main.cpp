// kestrel-cli: the utility's reads, writes and counters for scripts and many modules at once.
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

#include "cli/commands.h"
#include "cli/inputfile.h"
#include "cli/statspoller.h"
#include "headless/clishell.h"
#include "link/exchange.h"
#include "link/trace.h"

namespace {

const char kDescription[] =
    "Командная строка модуля Kestrel.\n\n"
    "  config read ADDR[:PORT] [--json]          конфигурация модуля (key=value или JSON)\n"
    "  config write ADDR[:PORT] FILE [--yes]     разница с модулем; запись только с --yes,\n"
    "                                            затем проверка чтением\n"
    "  stats ADDR[:PORT]... [--every S] [--count N] [--csv FILE] [--json] [--separator C]\n"
    "                                            счётчики: строка на модуль и ответ\n"
    "  stats clear ADDR[:PORT]... --yes          сброс статистики\n"
    "  switching A[:PORT] B[:PORT] [--json]      согласованные связи и заблокированные порты\n"
    "Модули можно перечислить и в файле --targets. Файл конфигурации (не больше 1 МиБ) - то,\n"
    "что выводит config read: строки key=value (поле, которого нет, не меняется) или JSON\n"
    "целиком; поле, заданное дважды, неизвестное или с неверным значением, - ошибка (код 2).\n"
    "local_ip и mac меняются только с --identity.\n\n"
    "Коды выхода: 0 выполнено, 1 анализ или проверка чтением не прошли либо не удалась запись\n"
    "в стандартный вывод, 2 ошибка в командной строке или во входном файле, 3 изменение без\n"
    "--yes, 4 модуль недоступен, молчит или отвечает неверно.\n\n"
    "Столбцы CSV (stats):\n";

// The CSV header broken after separators into lines a manual page can show; without the line
// breaks it is exactly the header stats writes.
QString WrappedCsvHeader() {
    const QStringList names = StatsCsvHeader(QLatin1Char(',')).trimmed().split(QLatin1Char(','));
    QString text;
    qsizetype lineLength = 0;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (i > 0) {
            text += QLatin1Char(',');
            if (lineLength + names[i].size() > 90) {
                text += QLatin1Char('\n');
                lineLength = 0;
            }
        }
        text += names[i];
        lineLength += names[i].size() + 1;
    }
    return text;
}

int Usage(const QString& text) {
    std::fprintf(stderr, "%s\nСм. kestrel-cli --help\n", text.toUtf8().constData());
    return Exit::Usage;
}

// Every address of `texts`, or a usage error for the first that is none.
bool Modules(const QStringList& texts, QList<ModuleAddress>& out, QString* bad) {
    for (const QString& t : texts) {
        const auto m = ParseModuleAddress(t);
        if (!m) {
            *bad = QStringLiteral("Неверный адрес модуля: %1").arg(t);
            return false;
        }
        out << *m;
    }
    return true;
}

// The modules of a --targets file: ADDRESS[:PORT] a line; blank lines and '#' comments skipped.
bool ReadTargets(const QString& path, QList<ModuleAddress>& out, QString* error) {
    QByteArray data;
    if (!ReadInputFile(path, &data, error))
        return false;
    const QStringList lines = QString::fromUtf8(data).split(QLatin1Char('\n'));
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = lines[n].section(QLatin1Char('#'), 0, 0).trimmed();
        if (line.isEmpty())
            continue;
        const auto m = ParseModuleAddress(line);
        if (!m) {
            *error = QStringLiteral("%1, строка %2: неверный адрес модуля: %3")
                         .arg(path)
                         .arg(n + 1)
                         .arg(line);
            return false;
        }
        out << *m;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kestrel-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTREL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription) + WrappedCsvHeader());
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Вывод в JSON."));
    const QCommandLineOption yes(QStringLiteral("yes"),
                                 QStringLiteral("Записать (сбросить) на самом деле."));
    const QCommandLineOption identity(
        QStringLiteral("identity"),
        QStringLiteral("config write: разрешить смену адреса модуля (local_ip, mac)."));
    const QCommandLineOption every(QStringLiteral("every"),
                                   QStringLiteral("Опрос каждые SECONDS секунд."),
                                   QStringLiteral("SECONDS"));
    const QCommandLineOption count(
        QStringLiteral("count"),
        QStringLiteral("Число опросов (по умолчанию 1, с --every без конца)."),
        QStringLiteral("N"));
    const QCommandLineOption csv(QStringLiteral("csv"),
                                 QStringLiteral("Дописывать строки в файл CSV."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption separator(QStringLiteral("separator"),
                                       QStringLiteral("Разделитель CSV (по умолчанию \",\")."),
                                       QStringLiteral("C"), QStringLiteral(","));
    const QCommandLineOption parallel(
        QStringLiteral("parallel"),
        QStringLiteral("Запросов одновременно (1..%1, по умолчанию %1).").arg(kMaxParallel),
        QStringLiteral("N"), QString::number(kMaxParallel));
    const QCommandLineOption timeout(
        QStringLiteral("timeout"),
        QStringLiteral("Ждать ответа на команду SECONDS секунд (0.1..60, по умолчанию 3)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption targets(
        QStringLiteral("targets"),
        QStringLiteral("Модули из FILE (ADDR[:PORT] в строке, # комментарий) вдобавок к "
                       "перечисленным."),
        QStringLiteral("FILE"));
    const QCommandLineOption trace(QStringLiteral("trace"),
                                   QStringLiteral("Записывать каждый обмен с модулем в FILE."),
                                   QStringLiteral("FILE"));
    parser.addOptions(
        {json, yes, identity, every, count, csv, separator, parallel, timeout, targets, trace});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("config read|write, stats [clear], switching"));
    // process() would exit 1 on an unknown option, the code of a failed read-back.
    if (!parser.parse(QCoreApplication::arguments()))
        return Usage(parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp(0);
    if (parser.isSet(version))
        parser.showVersion();

    QStringList args = parser.positionalArguments();
    const QString command = args.value(0);
    QString bad;
    if (parser.isSet(timeout)) {
        bool ok = false;
        const double seconds = parser.value(timeout).toDouble(&ok);
        if (!ok || seconds < 0.1 || seconds > 60)
            return Usage(QStringLiteral("--timeout: ожидается число секунд от 0.1 до 60"));
        SetAnswerTimeoutMs(qRound(seconds * 1000));
    }
    QList<ModuleAddress> listed;
    if (parser.isSet(targets)) {
        if (command == QLatin1String("config"))
            return Usage(QStringLiteral("--targets: только для stats и switching"));
        if (!ReadTargets(parser.value(targets), listed, &bad))
            return Usage(bad);
    }
    QString traceError;
    if (parser.isSet(trace) && !StartTrace(parser.value(trace), kDefaultTraceCapBytes, &traceError))
        return Usage(QStringLiteral("--trace %1: %2").arg(parser.value(trace), traceError));
    StderrShell shell;
    SetShell(&shell);
    QTextStream out(stdout);

    if (command == QLatin1String("config")) {
        const QString sub = args.value(1);
        const auto module = ParseModuleAddress(args.value(2));
        if (module)
            shell.setModule(module->text());
        if (sub == QLatin1String("read") && args.size() == 3 && module)
            return FinishOutput(ConfigRead(*module, parser.isSet(json), out), out);
        if (sub == QLatin1String("write") && args.size() == 4 && module) {
            QByteArray file;
            if (!ReadInputFile(args[3], &file, &bad))
                return Usage(bad);
            return FinishOutput(
                ConfigWrite(*module, file, parser.isSet(yes), parser.isSet(identity), out), out);
        }
        return Usage(
            QStringLiteral("Ожидается: config read ADDR[:PORT] или config write ADDR[:PORT] FILE"));
    }
    if (command == QLatin1String("switching")) {
        QList<ModuleAddress> pair;
        if (!Modules(args.mid(1), pair, &bad) || (pair += listed).size() != 2)
            return Usage(QStringLiteral("Ожидается: switching A[:PORT] B[:PORT]"));
        return FinishOutput(Switching(pair[0], pair[1], parser.isSet(json), out, shell), out);
    }
    if (command == QLatin1String("stats") && args.value(1) == QLatin1String("clear")) {
        QList<ModuleAddress> modules;
        if (!Modules(args.mid(2), modules, &bad) || (modules += listed).isEmpty())
            return Usage(QStringLiteral("Ожидается: stats clear ADDR[:PORT]... --yes"));
        return FinishOutput(StatsClear(modules, parser.isSet(yes), out), out);
    }
    if (command == QLatin1String("stats")) {
        QList<ModuleAddress> modules;
        if (!Modules(args.mid(1), modules, &bad) || (modules += listed).isEmpty())
            return Usage(bad.isEmpty() ? QStringLiteral("Ожидается: stats ADDR[:PORT]...") : bad);
        StatsOptions options;
        bool ok = true;
        if (parser.isSet(every)) {
            const double seconds = parser.value(every).toDouble(&ok);
            if (!ok || seconds < 0.1 || seconds > 86400)
                return Usage(QStringLiteral("--every: ожидается число секунд от 0.1"));
            options.everyMs = static_cast<int>(seconds * 1000);
            options.count = 0;
        }
        if (parser.isSet(count)) {
            options.count = parser.value(count).toInt(&ok);
            if (!ok || options.count < 1)
                return Usage(QStringLiteral("--count: ожидается целое число от 1"));
            if (options.count > 1 && !parser.isSet(every))
                options.everyMs = 3000;
        }
        options.parallel = parser.value(parallel).toInt(&ok);
        if (!ok || options.parallel < 1 || options.parallel > kMaxParallel)
            return Usage(
                QStringLiteral("--parallel: ожидается число от 1 до %1").arg(kMaxParallel));
        if (parser.value(separator).size() != 1)
            return Usage(QStringLiteral("--separator: ожидается один знак"));
        options.separator = parser.value(separator).at(0);
        options.csvPath = parser.value(csv);
        options.json = parser.isSet(json);
        options.status = ::isatty(STDERR_FILENO) == 1;
        options.timeoutMs = parser.isSet(timeout) ? qRound(parser.value(timeout).toDouble() * 1000)
                                                  : kDefaultAnswerTimeoutMs;
        StatsPoller poller(modules, options, shell);
        if (!poller.open())
            return Exit::Usage;
        poller.start([](int code) { QCoreApplication::exit(code); });
        return QCoreApplication::exec();
    }
    return Usage(command.isEmpty() ? QStringLiteral("Не задана команда")
                                   : QStringLiteral("Неизвестная команда: %1").arg(command));
}
