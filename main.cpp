#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <cstring>

#include "forms/main.h"
#include "link/trace.h"
#include "ui/errorreport.h"
#include "ui/inistore.h"

int main(int argc, char** argv) {
    // Answered before any window or display is needed, as installed desktop tools do.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("kestrel %s\n", KESTREL_VERSION);
        return 0;
    }
    KestrelApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption trace(QStringLiteral("trace"),
                                   QStringLiteral("Записывать каждый обмен с модулем в FILE."),
                                   QStringLiteral("FILE"));
    parser.addOption(trace);
    parser.process(app);
    QString traceError;
    if (parser.isSet(trace) && !StartTrace(parser.value(trace), kDefaultTraceCapBytes, &traceError)) {
        std::fprintf(stderr, "--trace %s: %s\n", qPrintable(parser.value(trace)),
                     qPrintable(traceError));
        return 2;
    }
    // The settings folder is made only by the program that goes on to use it.
    const QString iniPath = IniStore::DefaultPath();
    QDir().mkpath(QFileInfo(iniPath).absolutePath());
    TMainForm form(iniPath);
    form.show();
    return app.exec();
}
