#pragma once
// The settings store: an INI text file beside the executable. Every value is a text read with
// a default and written to disk at once. The file is the operator's too: a write changes the
// line of its key and nothing else, so comments, blank lines and lines the program cannot read
// stay as they were. Reads take the file as it was loaded at the first read, and loaded again
// after each write of this store; a write itself starts from the file as it is on disk then, so
// an edit made meanwhile outside is kept, and seen from then on.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

class IniStore {
  public:
    explicit IniStore(QString path);

    QString ReadString(const QString& section, const QString& key, const QString& fallback) const;
    // Every key of a section with its value, keys in lower case (they are read without regard
    // to case), for a window that reads many keys at once.
    QHash<QString, QString> ReadSection(const QString& section) const;
    // Writes the file at once (atomically where its folder allows, directly otherwise). On
    // failure the file on disk is unchanged, the default error report tells the operator once
    // (until a write succeeds again) and false is returned. Line breaks and other control
    // characters are removed from the value: pasted into a field, they would otherwise start
    // new lines, sections and keys in the file.
    bool WriteString(const QString& section, const QString& key, const QString& value);
    // Several keys of one section in one write of the file.
    bool WriteStrings(const QString& section, const QList<std::pair<QString, QString>>& values);

    const QString& path() const { return path_; }
    // The store named after the running executable with ".ini", in the executable's folder, or
    // in the operator's configuration folder when the executable's folder cannot be written.
    // Only names it: the folder is made by whoever goes on to use the path.
    static QString DefaultPath();

  private:
    // One line of the file as it is on disk, and what it means.
    struct Line {
        QByteArray raw;   // the line's bytes, its end of line included
        QString section;  // the section it belongs to; empty outside a good section
        QString key;      // non-empty for a "key=value" line inside a good section
        QString value;
        bool header = false;  // a well-formed "[section]" line
    };
    // The file as it is on disk now.
    QList<Line> load() const;
    // The file as reads see it: loaded at the first read, and again after a write.
    const QList<Line>& loaded() const;
    // False (and told once) when the path names a device, a pipe or a socket: reading it could
    // block or never end, writing it could harm it.
    bool regularOrAbsent() const;
    QString path_;
    bool failureReported_ = false;
    mutable bool irregularReported_ = false;
    mutable std::optional<QList<Line>> loaded_;
};
