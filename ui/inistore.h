#pragma once
// The settings store: an INI text file beside the executable. Every value is a text read with
// a default and written to disk at once.
#include <QString>
#include <QStringList>

class IniStore {
  public:
    explicit IniStore(QString path);

    QString ReadString(const QString& section, const QString& key, const QString& fallback) const;
    // Writes the whole file at once; returns false when it could not be written.
    bool WriteString(const QString& section, const QString& key, const QString& value);

    const QString& path() const { return path_; }
    // The store named after the running executable with ".ini", in the executable's folder.
    static QString DefaultPath();

  private:
    struct Entry {
        QString section, key, value;
    };
    QList<Entry> load() const;
    QString path_;
};
