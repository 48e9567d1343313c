#pragma once
// The shell of the programs without windows: the event log's lines go to standard error, each
// under the module it is about; there are no controls to lock or mark busy.
#include <QString>
#include <QStringList>
#include <cstdio>

#include "link/shell.h"

class StderrShell : public Shell {
  public:
    explicit StderrShell(FILE* out = stderr) : out_(out) {}
    // The module the next lines are about ("127.0.0.1:65530"), or none.
    void setModule(const QString& module);
    // The link says a failed connect or send in a line of its own, just before the exchange's
    // end reaches its owner, which names the module: held, that line goes out under the module
    // named next.
    void setHoldUnnamed(bool hold) { holdUnnamed_ = hold; }
    // Every line so far, without its module.
    const QStringList& history() const { return history_; }
    // Keeps lines to itself (the exporter logs only when asked).
    void setQuiet(bool quiet) { quiet_ = quiet; }

    void logEvent(const QString& text) override;
    void reportError(const QString& text) override { logEvent(text); }

    // Clears the status line a terminal shows, so that a log line does not run into it.
    void setStatusShown(bool shown) { statusShown_ = shown; }

  private:
    void write(const QString& module, const QString& text);

    FILE* out_;
    bool holdUnnamed_ = false;
    QString held_;
    QString module_;
    QStringList history_;
    bool quiet_ = false;
    bool statusShown_ = false;
};
