#pragma once
// A shell that records what the device link asks of the application, for tests without windows.
#include <QStringList>

#include "link/shell.h"

class RecordingShell : public Shell {
  public:
    RecordingShell() { SetShell(this); }
    ~RecordingShell() override {
        if (CurrentShell() == this)
            SetShell(nullptr);
    }
    void logEvent(const QString& text) override {
        log << text;
        calls << "log";
    }
    void reportError(const QString& text) override { errors << text; }

    QStringList log;     // LogEvent texts in order
    QStringList calls;   // every call in order
    QStringList errors;  // default error reports
};
