#include "link/trace.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "link/connection.h"
#include "link/shell.h"

namespace {

// A plain descriptor and one write() per line: the trace costs no buffering of its own and
// every line is in the file as soon as its exchange has ended.
int g_fd = -1;
QByteArray g_path;
qint64 g_size = 0;
qint64 g_cap = kDefaultTraceCapBytes;
// A full disk fails every line after the first: the log hears of it once per trace, not per line.
bool g_failureReported = false;

QByteArray Hex(const uint8_t* bytes, int length) {
    if (length <= 0)
        return QByteArrayLiteral("-");
    return QByteArray::fromRawData(reinterpret_cast<const char*>(bytes), length).toHex();
}

// From the C library: a QDateTime's local offset costs more than the rest of the line.
QByteArray LocalTime() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char text[64];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = local.tm_gmtoff / 60;
    const long magnitude = offset < 0 ? -offset : offset;
    std::snprintf(text + n, sizeof text - n, ".%03ld%c%02ld:%02ld", now.tv_nsec / 1000000,
                  offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return QByteArray(text);
}

void ReportFailure(const QString& what) {
    if (g_failureReported)
        return;
    g_failureReported = true;
    LogEvent(
        QStringLiteral("Трасса %1: %2: %3")
            .arg(QFile::decodeName(g_path), what, QString::fromLocal8Bit(std::strerror(errno))));
}

// O_NOFOLLOW: a link planted where the trace goes would have it append to any file its user can
// write, and the rotation reopens the path, so it is refused there too.
bool Open() {
    g_fd = ::open(g_path.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (g_fd < 0)
        return false;
    struct stat st {};
    g_size = ::fstat(g_fd, &st) == 0 ? st.st_size : 0;
    return true;
}

// Keeps one older file beside the current one, so the trace never takes more than twice its cap.
// A rotation that fails ends the trace rather than let the file grow past its cap.
void Rotate() {
    ::close(g_fd);
    g_fd = -1;
    if (::rename(g_path.constData(), (g_path + ".1").constData()) != 0 || !Open())
        ReportFailure(QStringLiteral("не удалось начать новый файл, трасса остановлена"));
}

}  // namespace

bool StartTrace(const QString& path, qint64 capBytes, QString* error) {
    StopTrace();
    g_failureReported = false;
    g_path = QFile::encodeName(path);
    g_cap = capBytes;
    if (!Open()) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

void StopTrace() {
    if (g_fd >= 0)
        ::close(g_fd);
    g_fd = -1;
}

bool TraceOn() {
    return g_fd >= 0;
}

const char* TraceOutcomeName(TraceOutcome outcome) {
    switch (outcome) {
        case TraceOutcome::Answer:
            return "answer";
        case TraceOutcome::WrongAnswer:
            return "wrong-answer";
        case TraceOutcome::Closed:
            return "closed";
        case TraceOutcome::TimeOut:
            return "time-out";
        case TraceOutcome::SendError:
            return "send-error";
        case TraceOutcome::Abandoned:
            return "abandoned";
    }
    return "?";
}

void TraceExchange(const TcpConnection& c, TraceOutcome outcome, const uint8_t* answer,
                   int length) {
    if (g_fd < 0)
        return;
    char address[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &c.remoteAddress.sin_addr, address, sizeof address);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - c.started)
            .count();
    const uint8_t type = c.request.size() > 1 ? c.request[1] : 0;
    const char* name = CommandTypeName(type);
    QByteArray line = LocalTime();
    line += ' ';
    line += address;
    line += ':' + QByteArray::number(ntohs(c.remoteAddress.sin_port)) + ' ';
    line += name ? QByteArray(name) : QByteArray::number(type);
    line += ' ' + Hex(c.request.data(), static_cast<int>(c.request.size()));
    line += ' ' + Hex(answer, length);
    line += ' ' + QByteArray::number(ms, 'f', 3);
    line += ' ';
    line += TraceOutcomeName(outcome);
    line += '\n';
    if (g_size > 0 && g_size + line.size() > g_cap)
        Rotate();
    if (g_fd < 0)
        return;
    const ssize_t written = ::write(g_fd, line.constData(), static_cast<size_t>(line.size()));
    if (written > 0)
        g_size += written;
    if (written != line.size())
        ReportFailure(QStringLiteral("не удалось записать строку"));
}
