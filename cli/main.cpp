// kestrel-cli: the utility's reads, writes and counters for scripts and many modules at once.
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

#include "cli/clishell.h"
#include "cli/commands.h"
#include "cli/statspoller.h"
#include "link/exchange.h"
#include "link/pending.h"
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
    "  switching A[:PORT] B[:PORT] [--json]      согласованные связи и заблокированные порты\n\n"
    "Коды выхода: 0 выполнено, 1 анализ или проверка чтением не прошли, 2 ошибка в командной\n"
    "строке, 3 изменение без --yes, 4 модуль недоступен, молчит или отвечает неверно.";

int Usage(const QString& text) {
    std::fprintf(stderr, "%s\nСм. kestrel-cli --help\n", text.toUtf8().constData());
    return Exit::Usage;
}

// Every address of `texts`, or a usage error for the first that is none.
bool Modules(const QStringList& texts, QList<ModuleAddress>& out, QString* bad) {
    for (const QString& t : texts) {
        const auto m = ParseModuleAddress(t);
        if (!m) {
            *bad = t;
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
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Вывод в JSON."));
    const QCommandLineOption yes(QStringLiteral("yes"),
                                 QStringLiteral("Записать (сбросить) на самом деле."));
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
        QStringLiteral("Запросов одновременно (1..%1, по умолчанию %1).").arg(kPendingSlotCount),
        QStringLiteral("N"), QString::number(kPendingSlotCount));
    const QCommandLineOption trace(QStringLiteral("trace"),
                                   QStringLiteral("Записывать каждый обмен с модулем в FILE."),
                                   QStringLiteral("FILE"));
    parser.addOptions({json, yes, every, count, csv, separator, parallel, trace});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("config read|write, stats [clear], switching"));
    parser.process(app);

    QStringList args = parser.positionalArguments();
    QString traceError;
    if (parser.isSet(trace) && !StartTrace(parser.value(trace), kDefaultTraceCapBytes, &traceError))
        return Usage(QStringLiteral("--trace %1: %2").arg(parser.value(trace), traceError));
    StderrShell shell;
    SetShell(&shell);
    // The answer time-out of the utility's windows: a silent module is given up after 2 to 3 s.
    LinkClock clock(1000);
    QTextStream out(stdout);
    QString bad;

    const QString command = args.value(0);
    if (command == QLatin1String("config")) {
        const QString sub = args.value(1);
        const auto module = ParseModuleAddress(args.value(2));
        if (module)
            shell.setModule(module->text());
        if (sub == QLatin1String("read") && args.size() == 3 && module)
            return ConfigRead(*module, parser.isSet(json), out);
        if (sub == QLatin1String("write") && args.size() == 4 && module) {
            QFile file(args[3]);
            if (!file.open(QIODevice::ReadOnly))
                return Usage(QStringLiteral("Не удалось прочитать файл %1").arg(args[3]));
            return ConfigWrite(*module, file.readAll(), parser.isSet(yes), out);
        }
        return Usage(
            QStringLiteral("Ожидается: config read ADDR[:PORT] или config write ADDR[:PORT] FILE"));
    }
    if (command == QLatin1String("switching")) {
        QList<ModuleAddress> pair;
        if (args.size() != 3 || !Modules(args.mid(1), pair, &bad))
            return Usage(QStringLiteral("Ожидается: switching A[:PORT] B[:PORT]"));
        return Switching(pair[0], pair[1], parser.isSet(json), out, shell);
    }
    if (command == QLatin1String("stats") && args.value(1) == QLatin1String("clear")) {
        QList<ModuleAddress> modules;
        if (args.size() < 3 || !Modules(args.mid(2), modules, &bad))
            return Usage(QStringLiteral("Ожидается: stats clear ADDR[:PORT]... --yes"));
        return StatsClear(modules, parser.isSet(yes), out);
    }
    if (command == QLatin1String("stats")) {
        QList<ModuleAddress> modules;
        if (args.size() < 2 || !Modules(args.mid(1), modules, &bad))
            return Usage(bad.isEmpty() ? QStringLiteral("Ожидается: stats ADDR[:PORT]...")
                                       : QStringLiteral("Неверный адрес модуля: %1").arg(bad));
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
        if (!ok || options.parallel < 1 || options.parallel > kPendingSlotCount)
            return Usage(
                QStringLiteral("--parallel: ожидается число от 1 до %1").arg(kPendingSlotCount));
        if (parser.value(separator).size() != 1)
            return Usage(QStringLiteral("--separator: ожидается один знак"));
        options.separator = parser.value(separator).at(0);
        options.csvPath = parser.value(csv);
        options.json = parser.isSet(json);
        options.status = ::isatty(STDERR_FILENO) == 1;
        StatsPoller poller(modules, options, shell);
        if (!poller.open())
            return Exit::Usage;
        poller.start([](int code) { QCoreApplication::exit(code); });
        return QCoreApplication::exec();
    }
    return Usage(command.isEmpty() ? QStringLiteral("Не задана команда")
                                   : QStringLiteral("Неизвестная команда: %1").arg(command));
}
