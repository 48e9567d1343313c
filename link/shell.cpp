#include "link/shell.h"

namespace {
Shell* g_shell = nullptr;
}

void SetShell(Shell* shell) {
    g_shell = shell;
}
Shell* CurrentShell() {
    return g_shell;
}

void LogEvent(const QString& text) {
    if (g_shell)
        g_shell->logEvent(text);
}
void ReportError(const QString& text) {
    if (g_shell)
        g_shell->reportError(text);
}

void RunGuarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ReportError(QString::fromStdString(e.what()));
    } catch (...) {
        ReportError(QStringLiteral("Неизвестная ошибка"));
    }
}
