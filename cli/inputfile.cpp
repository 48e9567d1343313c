#include "cli/inputfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

namespace {

QString ErrnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

}  // namespace

bool ReadInputFile(const QString& path, QByteArray* data, QString* error) {
    // O_NONBLOCK: opening a pipe without a writer would otherwise wait for one.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = QStringLiteral("Не удалось открыть файл %1: %2").arg(path, ErrnoText());
        return false;
    }
    struct stat st {};
    bool good = ::fstat(fd, &st) == 0;
    if (!good) {
        *error = QStringLiteral("Не удалось открыть файл %1: %2").arg(path, ErrnoText());
    } else if (!S_ISREG(st.st_mode)) {
        *error = QStringLiteral("%1: не обычный файл").arg(path);
        good = false;
    } else if (st.st_size > kMaxInputFileBytes) {
        *error = QStringLiteral("Файл %1 больше %2 байт").arg(path).arg(kMaxInputFileBytes);
        good = false;
    }
    // A file that grows while it is read is cut at one byte past the bound, and refused.
    data->resize(kMaxInputFileBytes + 1);
    qint64 length = 0;
    while (good && length < data->size()) {
        const ssize_t n = ::read(fd, data->data() + length, size_t(data->size() - length));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = QStringLiteral("Не удалось прочитать файл %1: %2").arg(path, ErrnoText());
            good = false;
        } else if (n == 0) {
            break;
        }
        length += n > 0 ? n : 0;
    }
    ::close(fd);
    if (good && length > kMaxInputFileBytes) {
        *error = QStringLiteral("Файл %1 больше %2 байт").arg(path).arg(kMaxInputFileBytes);
        good = false;
    }
    data->resize(good ? length : 0);
    return good;
}
