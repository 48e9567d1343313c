#pragma once
// The settings store: an INI text file beside the executable. Every value is a text read with
// a default and written to disk at once. The file is the operator's too: a write changes the
// line of its key and nothing else, so comments, blank lines and lines the program cannot read
// stay as they were.
#include <QByteArray>
#include <QList>
#include <QString>

class IniStore {
  public:
    explicit IniStore(QString path);

    QString ReadString(const QString& section, const QString& key, const QString& fallback) const;
    // Writes the file at once (atomically). On failure the file on disk is unchanged, the
    // default error report tells the operator once (until a write succeeds again) and false
    // is returned.
    bool WriteString(const QString& section, const QString& key, const QString& value);

    const QString& path() const { return path_; }
    // The store named after the running executable with ".ini", in the executable's folder, or
    // in the operator's configuration folder when the executable's folder cannot be written.
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
    QList<Line> load() const;
    QString path_;
    bool failureReported_ = false;
};
