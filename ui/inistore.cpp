#include "ui/inistore.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

IniStore::IniStore(QString path) : path_(std::move(path)) {}

QString IniStore::DefaultPath() {
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    return exe.absolutePath() + QLatin1Char('/') + exe.completeBaseName() + QStringLiteral(".ini");
}

// Reads every well-formed "key=value" under a "[section]"; anything else is skipped.
QList<IniStore::Entry> IniStore::load() const {
    QList<Entry> entries;
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return entries;
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Utf8);
    QString section;
    bool inSection = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inSection = line.endsWith(QLatin1Char(']')) && line.size() > 2;
            section = inSection ? line.mid(1, line.size() - 2).trimmed() : QString();
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (!inSection || eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1);
        bool replaced = false;
        for (Entry& e : entries) {
            if (e.section.compare(section, Qt::CaseInsensitive) == 0 &&
                e.key.compare(key, Qt::CaseInsensitive) == 0) {
                e.value = value;
                replaced = true;
            }
        }
        if (!replaced)
            entries.append({section, key, value});
    }
    return entries;
}

QString IniStore::ReadString(const QString& section, const QString& key,
                             const QString& fallback) const {
    for (const Entry& e : load()) {
        if (e.section.compare(section, Qt::CaseInsensitive) == 0 &&
            e.key.compare(key, Qt::CaseInsensitive) == 0)
            return e.value;
    }
    return fallback;
}

bool IniStore::WriteString(const QString& section, const QString& key, const QString& value) {
    QList<Entry> entries = load();
    bool found = false;
    for (Entry& e : entries) {
        if (e.section.compare(section, Qt::CaseInsensitive) == 0 &&
            e.key.compare(key, Qt::CaseInsensitive) == 0) {
            e.value = value;
            found = true;
        }
    }
    if (!found) {
        // Keep a new key with the rest of its section.
        int insertAt = static_cast<int>(entries.size());
        for (int i = 0; i < entries.size(); ++i) {
            if (entries[i].section.compare(section, Qt::CaseInsensitive) == 0)
                insertAt = i + 1;
        }
        entries.insert(insertAt, {section, key, value});
    }
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream out(&file);
    out.setEncoding(QStringConverter::Utf8);
    QString current;
    bool first = true;
    for (const Entry& e : entries) {
        if (first || e.section.compare(current, Qt::CaseInsensitive) != 0) {
            if (!first)
                out << '\n';
            out << '[' << e.section << "]\n";
            current = e.section;
            first = false;
        }
        out << e.key << '=' << e.value << '\n';
    }
    out.flush();
    return file.commit();
}
