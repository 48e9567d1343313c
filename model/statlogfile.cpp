#include "model/statlogfile.h"

#include <unistd.h>

#include <QStringEncoder>
#include <cstdio>

namespace {

#ifdef Q_OS_WIN
constexpr char kLineEnd[] = "\r\n";
#else
constexpr char kLineEnd[] = "\n";
#endif

constexpr QIODevice::OpenMode kCreate =
    QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered;

// The text in the locale's own encoding, as the operator's other text files are.
QByteArray Encode(const QStringList& lines) {
    QStringEncoder encoder(QStringEncoder::System);
    QByteArray out;
    for (const QString& line : lines) {
        out += encoder.encode(line);
        out += kLineEnd;
    }
    return out;
}

}  // namespace

StatLogFile::StatLogFile(const QString& workingPath, FailureReport report)
    : workingPath_(workingPath), report_(std::move(report)) {
    file_.setFileName(workingPath_);
    created_ = file_.open(kCreate);
    if (!created_)
        failed(workingPath_);
}

StatLogFile::~StatLogFile() {
    file_.close();
}

void StatLogFile::append(const QStringList& lines) {
    unwritten_ += Encode(lines);
    if (!created_) {
        created_ = file_.open(kCreate);
        if (!created_) {
            failed(workingPath_);
            return;
        }
    }
    if (writeUnwritten(file_))
        failing_ = false;
    else
        failed(workingPath_);
}

bool StatLogFile::finish(const QString& finalPath) {
    bool moved = false;
    if (created_) {
        writeUnwritten(file_);
        file_.close();
        // rename() replaces a file of the final name in one step; a folder of that name stays.
        moved = std::rename(QFile::encodeName(workingPath_).constData(),
                            QFile::encodeName(finalPath).constData()) == 0;
        if (!moved) {
            // The working file keeps what it holds; the operator is told which log is missing.
            report_(finalPath);
            return false;
        }
        if (unwritten_.isEmpty())
            return true;
    }
    QFile final(finalPath);
    const bool written = final.open(moved ? QIODevice::Append | QIODevice::Unbuffered : kCreate) &&
                         writeUnwritten(final);
    if (!written)
        report_(finalPath);
    return written;
}

bool StatLogFile::writeUnwritten(QFile& file) {
    while (!unwritten_.isEmpty()) {
        const qint64 n = file.write(unwritten_);
        if (n <= 0)
            return false;
        unwritten_.remove(0, n);
    }
    // On the device, not only in the kernel's cache: a power cut keeps what was appended.
    return ::fsync(file.handle()) == 0;
}

void StatLogFile::failed(const QString& path) {
    if (failing_)
        return;
    failing_ = true;
    report_(path);
}
