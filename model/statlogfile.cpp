#include "model/statlogfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFileInfo>
#include <QStringEncoder>
#include <cerrno>
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

// Names tried for a finished log: the wanted one, then "_2", "_3", ... before its extension.
constexpr int kNameTries = 1000;
QString NumberedName(const QString& path, int n) {
    if (n == 1)
        return path;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const QString number = QStringLiteral("_%1").arg(n);
    if (dot <= slash + 1)
        return path + number;
    return path.left(dot) + number + path.mid(dot);
}

// Whether anything, a dangling link included, has that name.
bool Taken(const QString& path) {
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
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
    const QByteArray encoded = Encode(lines);
    if (unwritten_.size() + encoded.size() > kUnwrittenLimit) {
        // A log that has not been writable for hours must not take the memory of the program
        // with it; the block goes whole, so the file never holds a torn one.
        dropped_ += lines.size();
    } else {
        unwritten_ += encoded;
    }
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

bool StatLogFile::moveToFreeName(const QString& finalPath) {
    const QByteArray from = QFile::encodeName(workingPath_);
    for (int n = 1; n <= kNameTries; ++n) {
        finalPath_ = NumberedName(finalPath, n);
        const QByteArray to = QFile::encodeName(finalPath_);
        // Taken and moved in one step, so that a log finished at the same moment by another
        // window or program is never replaced.
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) ==
            0)
            return true;
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS)
            return false;
        // A file system that cannot refuse to replace: looked at first, then moved.
        if (Taken(finalPath_))
            continue;
        return std::rename(from.constData(), to.constData()) == 0;
    }
    return false;
}

bool StatLogFile::createFreeName(const QString& finalPath, QFile& file) {
    for (int n = 1; n <= kNameTries; ++n) {
        finalPath_ = NumberedName(finalPath, n);
        file.setFileName(finalPath_);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            return true;
        if (!Taken(finalPath_))
            break;
    }
    finalPath_ = finalPath;
    return false;
}

bool StatLogFile::finish(const QString& finalPath) {
    bool written = false;
    if (created_) {
        writeUnwritten(file_);
        file_.close();
        if (!moveToFreeName(finalPath)) {
            // The record is whole in the working file: that is the name the operator needs.
            finalPath_ = workingPath_;
            report_(Trouble::LeftInWorkingFile, workingPath_, 0);
        } else if (unwritten_.isEmpty()) {
            written = true;
        } else {
            QFile final(finalPath_);
            written =
                final.open(QIODevice::Append | QIODevice::Unbuffered) && writeUnwritten(final);
            if (!written)
                report_(Trouble::NotWritten, finalPath_, 0);
        }
    } else {
        QFile final;
        written = createFreeName(finalPath, final) && writeUnwritten(final);
        if (!written)
            report_(Trouble::NotWritten, finalPath_, 0);
    }
    if (dropped_ > 0)
        report_(Trouble::LinesDropped, finalPath_, dropped_);
    dropped_ = 0;
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
    report_(Trouble::NotWritten, path, 0);
}
