#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <optional>

#include "forms/main.h"
#include "link/trace.h"
#include "ui/errorreport.h"
#include "ui/inistore.h"

namespace {

// --help and --version are answered before QApplication exists, so they need no display and
// open no window (help2man reads both when the package is built); --trace starts the trace. Every
// other argument, Qt's own such as -platform included, is left to QApplication first.
void DefineOptions(QCommandLineParser& parser) {
    // Whole words after one dash, as Qt's own options are written: -stylesheet is not -h.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(R"(
Configures and watches the Kestrel network module of a telecom multiplexer: connect to a
module, read, edit and write its network configuration; read and write the port switching
of a pair of multiplexers A and B; read and clear packet counters. The windows are in
Russian. The settings are kept in kestrel.ini beside the program, or in
~/.config/kestrel/kestrel.ini when the program's folder cannot be written.)"));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this text and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Print the version and exit."));
    const QCommandLineOption trace(
        QStringLiteral("trace"),
        QStringLiteral("Write one line per exchange with a module to FILE."),
        QStringLiteral("FILE"));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(trace);
}

std::optional<int> AnswerInfoOptions(int argc, char** argv) {
    QCommandLineParser parser;
    DefineOptions(parser);
    const QString help = QStringLiteral("help"), version = QStringLiteral("version"),
                  trace = QStringLiteral("trace");
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    parser.parse(arguments);  // what it does not know belongs to Qt
    if (parser.isSet(help)) {
        // The parser's own first line names the program by its path, or not at all.
        QString text = parser.helpText();
        text.remove(0, text.indexOf('\n'));
        std::printf(
            "Usage: kestrel [options]%s\nQt's own options (-platform, -style, -geometry "
            "and others) are passed on to Qt.\n",
            qPrintable(text));
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("kestrel %s\n", KESTREL_VERSION);
        return 0;
    }
    QString traceError;
    if (parser.isSet(trace) &&
        !StartTrace(parser.value(trace), kDefaultTraceCapBytes, &traceError)) {
        std::fprintf(stderr, "--trace %s: %s\n", qPrintable(parser.value(trace)),
                     qPrintable(traceError));
        return 2;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto status = AnswerInfoOptions(argc, argv))
        return *status;
    KestrelApplication app(argc, argv);
    // Qt has taken its own options out of the arguments by now; anything else unknown is a
    // mistake, answered with the usage code as the other programs do (not 1, which
    // QCommandLineParser::process() would give).
    QCommandLineParser parser;
    DefineOptions(parser);
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "kestrel: %s\nTry 'kestrel --help'.\n",
                     qPrintable(parser.errorText()));
        return 2;
    }
    // The settings folder is made only by the program that goes on to use it.
    const QString iniPath = IniStore::DefaultPath();
    QDir().mkpath(QFileInfo(iniPath).absolutePath());
    TMainForm form(iniPath);
    form.show();
    return app.exec();
}
