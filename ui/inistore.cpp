#include "ui/inistore.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include "link/shell.h"

IniStore::IniStore(QString path) : path_(std::move(path)) {}

QString IniStore::DefaultPath() {
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    const QString name = exe.completeBaseName() + QStringLiteral(".ini");
    const QString beside = exe.absolutePath() + QLatin1Char('/') + name;
    if (QFileInfo(exe.absolutePath()).isWritable() || QFileInfo(beside).isWritable())
        return beside;
    // An installed program's folder (/usr/bin) is not the operator's to write: every write
    // would fail and nothing would be remembered, so the file lives in the operator's own
    // configuration folder instead.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/kestrel/") + name;
}

namespace {

bool Same(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool IsLineOrControl(QChar ch) {
    const QChar::Category c = ch.category();
    return c == QChar::Other_Control || c == QChar::Separator_Line ||
           c == QChar::Separator_Paragraph;
}

QByteArray EndOf(const QByteArray& raw) {
    if (raw.endsWith("\r\n"))
        return QByteArrayLiteral("\r\n");
    return raw.endsWith('\n') ? QByteArrayLiteral("\n") : QByteArray();
}

}  // namespace

// Blanks around section names, keys and values mean nothing. A "key=value" counts only under a
// well-formed "[section]"; everything else is kept on disk but not read.
bool IniStore::regularOrAbsent() const {
    struct stat info {};
    // What cannot be looked at is left to the open, which reports it as it always has.
    // A folder cannot be opened as a file at all: its write fails and is reported as any other.
    if (::stat(QFile::encodeName(path_).constData(), &info) != 0 || S_ISREG(info.st_mode) ||
        S_ISDIR(info.st_mode)) {
        irregularReported_ = false;
        return true;
    }
    if (!irregularReported_) {
        ReportError(QStringLiteral("Файл настроек %1 не является обычным файлом; "
                                   "используются настройки по умолчанию")
                        .arg(QDir::toNativeSeparators(path_)));
    }
    irregularReported_ = true;
    return false;
}

QList<IniStore::Line> IniStore::load() const {
    QList<Line> lines;
    if (!regularOrAbsent())
        return lines;
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    const QByteArray all = file.readAll();
    QString section;
    bool inSection = false;
    for (qsizetype at = 0; at < all.size();) {
        qsizetype end = all.indexOf('\n', at);
        end = end < 0 ? all.size() : end + 1;
        Line line;
        line.raw = all.mid(at, end - at);
        at = end;
        QString text = QString::fromUtf8(line.raw.chopped(EndOf(line.raw).size()));
        if (lines.isEmpty() && text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        text = text.trimmed();
        if (text.startsWith(QLatin1Char('['))) {
            inSection = text.endsWith(QLatin1Char(']')) && text.size() > 2;
            section = inSection ? text.mid(1, text.size() - 2).trimmed() : QString();
            line.header = inSection;
            line.section = section;
        } else if (inSection && !text.startsWith(QLatin1Char(';')) &&
                   !text.startsWith(QLatin1Char('#'))) {
            const qsizetype eq = text.indexOf(QLatin1Char('='));
            if (eq > 0) {
                line.section = section;
                line.key = text.left(eq).trimmed();
                line.value = text.mid(eq + 1).trimmed();
            }
        }
        lines.append(line);
    }
    return lines;
}

const QList<IniStore::Line>& IniStore::loaded() const {
    if (!loaded_)
        loaded_ = load();
    return *loaded_;
}

QString IniStore::ReadString(const QString& section, const QString& key,
                             const QString& fallback) const {
    QString found = fallback;
    for (const Line& line : loaded()) {
        if (!line.key.isEmpty() && Same(line.section, section) && Same(line.key, key))
            found = line.value;
    }
    return found;
}

QHash<QString, QString> IniStore::ReadSection(const QString& section) const {
    QHash<QString, QString> values;
    for (const Line& line : loaded()) {
        if (!line.key.isEmpty() && Same(line.section, section))
            values.insert(line.key.toLower(), line.value);
    }
    return values;
}

bool IniStore::WriteString(const QString& section, const QString& key, const QString& value) {
    return WriteStrings(section, {{key, value}});
}

bool IniStore::WriteStrings(const QString& section,
                            const QList<std::pair<QString, QString>>& values) {
    if (!regularOrAbsent())
        return false;
    QList<Line> lines = load();
    QByteArray eol = QByteArrayLiteral("\n");
    for (const Line& line : lines) {
        if (line.raw.endsWith("\r\n")) {
            eol = QByteArrayLiteral("\r\n");
            break;
        }
    }
    for (const auto& [key, value] : values) {
        // The last line of a key is the one a read takes, so that is the one to change.
        qsizetype keyLine = -1;
        qsizetype sectionEnd = -1;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const Line& line = lines[i];
            if (!Same(line.section, section) || line.section.isEmpty())
                continue;
            if (line.header || !line.key.isEmpty())
                sectionEnd = i;
            if (!line.key.isEmpty() && Same(line.key, key))
                keyLine = i;
        }
        QString clean = value;
        clean.removeIf(IsLineOrControl);
        const QByteArray newValue = clean.toUtf8();
        if (keyLine >= 0) {
            QByteArray& raw = lines[keyLine].raw;
            qsizetype valueAt = raw.indexOf('=') + 1;
            while (valueAt < raw.size() && (raw[valueAt] == ' ' || raw[valueAt] == '\t'))
                ++valueAt;
            raw = raw.left(valueAt) + newValue + EndOf(raw);
        } else {
            Line added;
            if (sectionEnd < 0) {
                if (!lines.isEmpty() && EndOf(lines.last().raw).isEmpty())
                    lines.last().raw += eol;
                Line header;
                header.raw = '[' + section.toUtf8() + ']' + eol;
                header.section = section;
                header.header = true;
                lines.append(header);
                sectionEnd = lines.size() - 1;
            } else if (EndOf(lines[sectionEnd].raw).isEmpty()) {
                lines[sectionEnd].raw += eol;
            }
            added.raw = key.toUtf8() + '=' + newValue + eol;
            added.section = section;
            added.key = key;
            lines.insert(sectionEnd + 1, added);
        }
    }

    QByteArray all;
    for (const Line& line : lines)
        all += line.raw;
    QSaveFile file(path_);
    // A file the operator may write in a folder they may not: written in place rather than not
    // at all.
    file.setDirectWriteFallback(true);
    bool written = file.open(QIODevice::WriteOnly) && file.write(all) == all.size();
    written = written && file.commit();
    // Read back whatever the write left on disk, whether it succeeded or not.
    loaded_.reset();
    if (!written) {
        if (!failureReported_) {
            ReportError(QStringLiteral("Не удалось записать файл настроек %1: %2")
                            .arg(QDir::toNativeSeparators(path_), file.errorString()));
        }
        failureReported_ = true;
        return false;
    }
    failureReported_ = false;
    return true;
}
