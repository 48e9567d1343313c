#include "cli/clishell.h"

void StderrShell::logEvent(const QString& text) {
    history_ << text;
    if (history_.size() > 1000)  // a long poll keeps only the latest
        history_.removeFirst();
    if (quiet_)
        return;
    const QByteArray line =
        (module_.isEmpty() ? text : module_ + QStringLiteral(": ") + text).toUtf8();
    if (statusShown_) {
        std::fputs("\r\033[K", out_);
        statusShown_ = false;
    }
    std::fprintf(out_, "%s\n", line.constData());
    std::fflush(out_);
}
