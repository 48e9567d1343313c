#include "headless/clishell.h"

#include <utility>

void StderrShell::setModule(const QString& module) {
    module_ = module;
    if (!held_.isEmpty())
        write(module_, std::exchange(held_, QString()));
}

void StderrShell::logEvent(const QString& text) {
    history_ << text;
    if (history_.size() > 1000)  // a long poll keeps only the latest
        history_.removeFirst();
    if (!held_.isEmpty())
        write({}, std::exchange(held_, QString()));
    if (holdUnnamed_ && module_.isEmpty())
        held_ = text;
    else
        write(module_, text);
}

void StderrShell::write(const QString& module, const QString& text) {
    if (quiet_)
        return;
    const QByteArray line =
        (module.isEmpty() ? text : module + QStringLiteral(": ") + text).toUtf8();
    if (statusShown_) {
        std::fputs("\r\033[K", out_);
        statusShown_ = false;
    }
    std::fprintf(out_, "%s\n", line.constData());
    std::fflush(out_);
}
