#include "tests/fuzz/harness.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include <QtWidgets>

#include "forms/main.h"
#include "link/shell.h"
#include "ui/errorreport.h"
#include "ui/speedbutton.h"
#include "ui/stringgrid.h"

namespace {

[[noreturn]] void Broken(const QString& what) {
    std::fprintf(stderr, "%s\n", qPrintable(what));
    std::abort();
}

// In place of the main window's shell, the event log lines are only counted: a text view
// taking a million lines is not what these targets are after, and it slows them a hundredfold.
class CountingShell : public Shell {
  public:
    void logEvent(const QString&) override { ++lines; }
    // An answer or a typed text never reaches the error report in these targets unless
    // something is wrong.
    void reportError(const QString& text) override { Broken("error report: " + text); }
    long lines = 0;
};

QString& ScratchPath() {
    static QString* path = new QString;
    return *path;
}

}  // namespace

void FuzzWithoutWindows() {
    static CountingShell* shell = new CountingShell;
    SetShell(shell);
}

TMainForm& FuzzMainForm() {
    // Made once and never destroyed: libFuzzer leaves by exit(), and the windows must not be
    // torn down after the application that owns their fonts and styles.
    static TMainForm* form = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        SetErrorReportSink([](const QString& text) { Broken("error report: " + text); });
        static int argc = 1;
        static char name[] = "kestrel-fuzz";
        static char* argv[] = {name, nullptr};
        new KestrelApplication(argc, argv);
        auto* made = new TMainForm(FuzzScratchDir() + QStringLiteral("/kestrel.ini"));
        SetShell(new CountingShell);
        return made;
    }();
    return *form;
}

QString FuzzScratchDir() {
    static QTemporaryDir* dir = [] {
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                       : QDir::tempPath();
        auto* made = new QTemporaryDir(base + QStringLiteral("/kestrel-fuzz-XXXXXX"));
        ScratchPath() = made->path();
        std::atexit([] { QDir(ScratchPath()).removeRecursively(); });
        return made;
    }();
    return dir->path();
}

void SettleAfterInput() {
    // What the event loop would do between two answers; without it the queued calls of the
    // widgets pile up for the whole run.
    if (QCoreApplication::instance())
        QCoreApplication::sendPostedEvents();
}

void FuzzCheck(bool ok, const char* what) {
    if (!ok)
        Broken(QStringLiteral("broken rule: ") + QString::fromUtf8(what));
}
