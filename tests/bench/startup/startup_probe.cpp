// Start-up of the utility to its first painted main window, beside a bare Qt window, offscreen.
//
//   startup_probe [RUNS]        runs each kind RUNS times (default 20), alternating, and prints
//                               the median and spread of the wall time and of the peak memory
//   startup_probe --one KIND    one start-up of KIND ("bare" or "kestrel"), then exit
//
// A run's wall time is taken from just before fork() to the exit of the child, so it covers
// loading the libraries, the application object, the window and its first paint; peak memory
// is the child's maximum resident set (wait4).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "forms/main.h"
#include "ui/errorreport.h"

namespace {

// Ends the process once the window has been painted for the first time.
class FirstPaint : public QObject {
  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    bool seen_ = false;
};

int OneStartUp(const char* kind, int argc, char** argv) {
    FirstPaint first;
    if (std::strcmp(kind, "bare") == 0) {
        QApplication app(argc, argv);
        QWidget window;
        window.resize(417, 504);  // the main window's size
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
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execl(self, self, "--one", kind, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s start-up failed (status %d)\n", kind, status);
        std::exit(1);
    }
    return {std::chrono::duration<double, std::milli>(end - start).count(), usage.ru_maxrss};
}

template <class T>
T Median(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (argc == 3 && std::strcmp(argv[1], "--one") == 0)
        return OneStartUp(argv[2], argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const char* kinds[] = {"bare", "kestrel"};
    std::vector<Sample> samples[2];
    for (const char* kind : kinds)
        Measure(argv[0], kind);  // warms the file cache; not counted
    for (int r = 0; r < runs; ++r) {
        for (int k = 0; k < 2; ++k)
            samples[k].push_back(Measure(argv[0], kinds[k]));
    }
    double medianMs[2];
    for (int k = 0; k < 2; ++k) {
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
    std::printf("ratio kestrel / bare: %.2f\n", medianMs[1] / medianMs[0]);
    return 0;
}
