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

// The main window's shell (or none), but the event log lines are only counted: a text view
// taking a million lines is not what these targets are after, and it slows them a hundredfold.
class CountingShell : public Shell {
  public:
    explicit CountingShell(Shell* window) : window_(window) {}
    void logEvent(const QString&) override { ++lines; }
    void lockModuleSettings(bool lock) override {
        if (window_)
            window_->lockModuleSettings(lock);
    }
    void setBusy(bool busy) override {
        if (window_)
            window_->setBusy(busy);
    }
    void showReadConfig() override {
        if (window_)
            window_->showReadConfig();
    }
    // An answer or a typed text never reaches the error report in these targets unless
    // something is wrong.
    void reportError(const QString& text) override { Broken("error report: " + text); }
    long lines = 0;

  private:
    Shell* window_;
};

QString& ScratchPath() {
    static QString* path = new QString;
    return *path;
}

}  // namespace

void FuzzWithoutWindows() {
    static CountingShell* shell = new CountingShell(nullptr);
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
        SetShell(new CountingShell(made));
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
