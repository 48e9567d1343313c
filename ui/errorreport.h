#pragma once
// The application-wide default error report: a message box for errors that escape a handler,
// after which the program goes on.
#include <QApplication>
#include <QString>
#include <functional>

// Shows the report (a modal message box unless a sink is installed).
void ShowErrorReport(const QString& text);
// Routes reports elsewhere (tests record them instead of blocking on a message box);
// an empty function restores the message box.
void SetErrorReportSink(std::function<void(const QString&)> sink);

// Catches what a handler lets escape into the event loop, so no exception ever crosses it.
class KestrelApplication : public QApplication {
  public:
    KestrelApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
