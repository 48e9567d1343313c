// kestrel-exporter: the Prometheus multi-target exporter of the modules' counters.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#include "exporter/exporter.h"
#include "exporter/http.h"
#include "headless/clishell.h"
#include "link/codecs.h"
#include "link/exchange.h"
#include "link/trace.h"

namespace {

int Usage(const QString& text) {
    std::fprintf(stderr, "%s\nСм. kestrel-exporter --help\n", text.toUtf8().constData());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kestrel-exporter"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTREL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Экспортёр Prometheus для модулей Kestrel.\n\n"
        "  GET /probe?target=ADDR[:PORT]  счётчики одного модуля (probe_success, "
        "probe_duration_seconds,\n"
        "                                 kestrel_session_events_total, kestrel_packets_total)\n"
        "  GET /metrics                   собственные показатели экспортёра и процесса\n"
        "  GET /                          страница со ссылками; GET /-/healthy, /-/ready\n\n"
        "--web.config.file включает TLS (tls_server_config: cert_file, key_file) и базовую\n"
        "аутентификацию (basic_auth_users: имя: хэш bcrypt) для всех адресов."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption listen(
        QStringLiteral("listen"),
        QStringLiteral("Адрес и порт HTTP (по умолчанию 127.0.0.1:10653)."),
        QStringLiteral("ADDR:PORT"), QStringLiteral("127.0.0.1:10653"));
    const QCommandLineOption allow(
        QStringLiteral("allow"),
        QStringLiteral("Диапазон адресов, которые разрешено опрашивать (CIDR, можно несколько, "
                       "через запятую). Без него не опрашивается ничего."),
        QStringLiteral("RANGE"));
    const QCommandLineOption concurrency(
        QStringLiteral("concurrency"),
        QStringLiteral("Опросов одновременно (1..%1).").arg(kMaxConcurrency), QStringLiteral("N"),
        QString::number(ExporterOptions{}.concurrency));
    const QCommandLineOption timeout(
        QStringLiteral("probe-timeout"),
        QStringLiteral("Предел опроса, если Prometheus его не сообщил, с."),
        QStringLiteral("SECONDS"), QStringLiteral("5"));
    const QCommandLineOption offset(QStringLiteral("timeout-offset"),
                                    QStringLiteral("Запас до предела опроса Prometheus, с."),
                                    QStringLiteral("SECONDS"), QStringLiteral("0.5"));
    const QCommandLineOption trace(QStringLiteral("trace"),
                                   QStringLiteral("Записывать каждый обмен с модулем в FILE."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption quiet(QStringLiteral("quiet"),
                                   QStringLiteral("Не писать журнал событий в stderr."));
    const QCommandLineOption webConfig(
        QStringLiteral("web.config.file"),
        QStringLiteral("Файл настроек TLS и базовой аутентификации (YAML, как у экспортёров "
                       "Prometheus); читается один раз при запуске."),
        QStringLiteral("FILE"));
    const QCommandLineOption maxConnections(
        QStringLiteral("max-connections"),
        QStringLiteral("Открытых соединений HTTP не больше N (по умолчанию %1).")
            .arg(HttpLimits{}.connections),
        QStringLiteral("N"), QString::number(HttpLimits{}.connections));
    const QCommandLineOption idleTimeout(
        QStringLiteral("idle-timeout"),
        QStringLiteral("Соединение, молчащее столько секунд, закрывается (по умолчанию %1).")
            .arg(HttpLimits{}.idleSeconds),
        QStringLiteral("SECONDS"), QString::number(HttpLimits{}.idleSeconds));
    parser.addOptions({listen, allow, concurrency, timeout, offset, trace, quiet, webConfig,
                       maxConnections, idleTimeout});
    // parse(), not process(): a wrong command line is a usage error, exit code 2.
    if (!parser.parse(QCoreApplication::arguments()))
        return Usage(parser.errorText());
    if (parser.isSet(help))
        parser.showHelp(0);
    if (parser.isSet(version))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return Usage(
            QStringLiteral("Лишние аргументы: %1").arg(parser.positionalArguments().join(' ')));

    ExporterOptions options;
    for (const QString& list : parser.values(allow)) {
        for (const QString& range : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const auto subnet = QHostAddress::parseSubnet(range.trimmed());
            if (subnet.first.protocol() != QAbstractSocket::IPv4Protocol)
                return Usage(QStringLiteral("--allow: ожидается диапазон IPv4 вида 10.0.0.0/8: %1")
                                 .arg(range));
            options.allow << subnet;
        }
    }
    bool ok = false;
    options.concurrency = parser.value(concurrency).toInt(&ok);
    if (!ok || options.concurrency < 1 || options.concurrency > kMaxConcurrency)
        return Usage(
            QStringLiteral("--concurrency: ожидается число от 1 до %1").arg(kMaxConcurrency));
    const double timeoutSeconds = parser.value(timeout).toDouble(&ok);
    if (!ok || timeoutSeconds < 0.1 || timeoutSeconds > 600)
        return Usage(QStringLiteral("--probe-timeout: ожидается число секунд от 0.1"));
    options.timeoutMs = static_cast<int>(timeoutSeconds * 1000);
    const double offsetSeconds = parser.value(offset).toDouble(&ok);
    if (!ok || offsetSeconds < 0 || offsetSeconds > 60)
        return Usage(QStringLiteral("--timeout-offset: ожидается число секунд от 0"));
    options.offsetMs = static_cast<int>(offsetSeconds * 1000);

    const QString listenText = parser.value(listen);
    const int colon = listenText.lastIndexOf(QLatin1Char(':'));
    const QHostAddress listenAddress(listenText.left(colon));
    const int listenPort = colon < 0 ? -1 : ParsePortText(listenText.mid(colon + 1));
    if (listenAddress.isNull() || listenPort < 0)
        return Usage(QStringLiteral("--listen: ожидается ADDR:PORT, например 127.0.0.1:10653"));
    HttpLimits limits;
    limits.connections = parser.value(maxConnections).toInt(&ok);
    if (!ok || limits.connections < 1 || limits.connections > 1000000)
        return Usage(QStringLiteral("--max-connections: ожидается число от 1 до 1000000"));
    limits.idleSeconds = parser.value(idleTimeout).toInt(&ok);
    if (!ok || limits.idleSeconds < 1 || limits.idleSeconds > 3600)
        return Usage(QStringLiteral("--idle-timeout: ожидается целое число секунд от 1 до 3600"));
    WebConfig web;
    if (parser.isSet(webConfig)) {
        QString error;
        const auto read = ReadWebConfig(parser.value(webConfig), &error);
        if (!read)
            return Usage(QStringLiteral("--web.config.file %1").arg(error));
        web = *read;
    }
    // The connections, the modules dialled at once and a margin for the rest must fit in the
    // open-files limit: a server that runs out of descriptors can take no one, /metrics included.
    const quint64 files = RaiseOpenFilesLimit();
    const quint64 spare = static_cast<quint64>(options.concurrency) + 64;
    if (files > spare && static_cast<quint64>(limits.connections) > files - spare) {
        limits.connections = static_cast<int>(files - spare);
        std::fprintf(stderr, "Предел открытых файлов %llu: соединений HTTP не больше %d\n",
                     static_cast<unsigned long long>(files), limits.connections);
    }

    StderrShell shell;
    shell.setQuiet(parser.isSet(quiet));
    shell.setHoldUnnamed(true);
    SetShell(&shell);
    QString traceError;
    if (parser.isSet(trace) && !StartTrace(parser.value(trace), kDefaultTraceCapBytes, &traceError))
        return Usage(QStringLiteral("--trace %1: %2").arg(parser.value(trace), traceError));
    // A module that takes no connection is given up within 2 s; one that takes it and keeps
    // silent after its answer time-out: together under the default probe bound.
    ConnectTimeoutMs = 2000;

    Exporter exporter(options, &shell);
    HttpServer server([&](const HttpRequest& request,
                          HttpRespond respond) { exporter.handle(request, std::move(respond)); },
                      limits, std::move(web));
    QString reason;
    const quint16 port = server.listen(listenAddress, static_cast<quint16>(listenPort), &reason);
    if (port == 0) {
        std::fprintf(stderr, "Не удалось слушать %s: %s\n", listenText.toUtf8().constData(),
                     reason.toUtf8().constData());
        return 1;
    }
    std::printf("kestrel-exporter слушает %s:%u\n", listenAddress.toString().toUtf8().constData(),
                port);
    std::fflush(stdout);
    return QCoreApplication::exec();
}
