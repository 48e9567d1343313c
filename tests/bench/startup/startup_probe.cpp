// Start-up of the utility to its first painted main window, beside a bare Qt window, offscreen.
//
//   startup_probe [RUNS]            runs each kind RUNS times (default 20), alternating, and
//                                   prints the median and spread of the wall time and of the
//                                   peak memory
//   startup_probe --one KIND [FD]   one start-up of KIND ("bare", "text" or "kestrel"), then
//                                   exit; the moment of the first paint is written to FD
//
// A run's wall time is taken from just before fork() to the first paint of the window, so it
// covers loading the libraries, the application object, the window and its first paint, but not
// the tear-down after it (the steady clock is the same in parent and child). Peak memory is the
// child's maximum resident set (wait4).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <QtWidgets>

#include "forms/main.h"
#include "ui/errorreport.h"
#include "ui/speedbutton.h"
#include "ui/stringgrid.h"

namespace {

using Clock = std::chrono::steady_clock;

// Tells the parent when the window has been painted for the first time, then ends the process.
class FirstPaint : public QObject {
  public:
    explicit FirstPaint(int fd) : fd_(fd) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            const std::int64_t ns = Clock::now().time_since_epoch().count();
            if (fd_ >= 0 && write(fd_, &ns, sizeof ns) != sizeof ns)
                std::fprintf(stderr, "cannot report the first paint\n");
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    int fd_;
    bool seen_ = false;
};

int OneStartUp(const char* kind, int fd, int argc, char** argv) {
    FirstPaint first(fd);
    if (std::strcmp(kind, "bare") == 0) {
        QApplication app(argc, argv);
        QWidget window;
        window.resize(417, 504);  // the main window's size
        window.installEventFilter(&first);
        window.show();
        return app.exec();
    }
    if (std::strcmp(kind, "text") == 0) {
        // The bare window with one line of text: the first text shown starts the font system,
        // which every window with a caption pays and the empty window does not.
        QApplication app(argc, argv);
        QWidget window;
        window.resize(417, 504);
        QLabel label(QStringLiteral("Настройки"), &window);
        window.installEventFilter(&first);
        window.show();
        return app.exec();
    }
    if (std::strcmp(kind, "kestrel") == 0) {
        // As main.cpp starts it; the settings file is a fresh one, as at a first start.
        KestrelApplication app(argc, argv);
        QTemporaryDir dir;
        TMainForm form(dir.filePath(QStringLiteral("kestrel.ini")));
        form.installEventFilter(&first);
        form.show();
        return app.exec();
    }
    std::fprintf(stderr, "unknown kind %s\n", kind);
    return 2;
}

struct Sample {
    double ms;
    long peakKb;
};

Sample Measure(const char* self, const char* kind) {
    int report[2];
    if (pipe(report) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    const std::string fd = std::to_string(report[1]);
    const std::int64_t start = Clock::now().time_since_epoch().count();
    const pid_t child = fork();
    if (child == 0) {
        close(report[0]);
        execl(self, self, "--one", kind, fd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(report[1]);
    std::int64_t painted = 0;
    const bool reported = read(report[0], &painted, sizeof painted) == sizeof painted;
    close(report[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (!reported || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s start-up failed (status %d)\n", kind, status);
        std::exit(1);
    }
    const double ms = static_cast<double>(painted - start) / 1e6;
    return {ms, usage.ru_maxrss};
}

template <class T>
T Median(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--one") == 0)
        return OneStartUp(argv[2], argc == 4 ? std::atoi(argv[3]) : -1, argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const char* kinds[] = {"bare", "text", "kestrel"};
    constexpr int kKinds = 3;
    std::vector<Sample> samples[kKinds];
    for (const char* kind : kinds)
        Measure(argv[0], kind);  // warms the file cache; not counted
    for (int r = 0; r < runs; ++r) {
        for (int k = 0; k < kKinds; ++k)
            samples[k].push_back(Measure(argv[0], kinds[k]));
    }
    double medianMs[kKinds];
    for (int k = 0; k < kKinds; ++k) {
        std::vector<double> ms;
        std::vector<long> kb;
        for (const Sample& s : samples[k]) {
            ms.push_back(s.ms);
            kb.push_back(s.peakKb);
        }
        medianMs[k] = Median(ms);
        std::printf(
            "%-8s start-up to first paint: median %.1f ms (min %.1f, max %.1f); "
            "peak memory median %.1f MB (max %.1f MB); %d runs\n",
            kinds[k], medianMs[k], *std::min_element(ms.begin(), ms.end()),
            *std::max_element(ms.begin(), ms.end()), Median(kb) / 1024.0,
            *std::max_element(kb.begin(), kb.end()) / 1024.0, runs);
    }
    std::printf("ratio kestrel / bare: %.2f; kestrel / text: %.2f\n", medianMs[2] / medianMs[0],
                medianMs[2] / medianMs[1]);
    return 0;
}
