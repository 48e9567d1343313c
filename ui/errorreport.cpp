#include "ui/errorreport.h"

#include <QMessageBox>

namespace {
std::function<void(const QString&)> g_sink;
}

void SetErrorReportSink(std::function<void(const QString&)> sink) {
    g_sink = std::move(sink);
}

void ShowErrorReport(const QString& text) {
    if (g_sink) {
        g_sink(text);
        return;
    }
    QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Ошибка"), text);
}

KestrelApplication::KestrelApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool KestrelApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowErrorReport(QString::fromStdString(e.what()));
    } catch (...) {
        ShowErrorReport(QStringLiteral("Неизвестная ошибка"));
    }
    return false;
}
