#include "cli/configtext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "link/codecs.h"

#include "link/shell.h"

namespace {

// The options in the order of Options(), under names a script can type.
const char* const kOptionNames[kOptionCount] = {
    "priority_port1", "priority_port2", "priority_port3", "link_port1_port2", "flow_control"};
const char* const kSessionKeys[] = {"enabled", "destination_ip", "local_port", "destination_port",
                                    "tos"};
const char* const kTopKeys[] = {"local_ip", "mac", "mask", "gateway", "control_port"};

QString SessionKey(int session, const char* key) {
    return QStringLiteral("session%1.%2").arg(session + 1).arg(QLatin1String(key));
}

QString Bool(bool on) {
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

bool Set(ConfigFields& fields, const QString& key, const QString& value) {
    for (auto& f : fields) {
        if (f.first == key) {
            f.second = value;
            return true;
        }
    }
    return false;
}

QString Get(const ConfigFields& fields, const QString& key) {
    for (const auto& f : fields) {
        if (f.first == key)
            return f.second;
    }
    return {};
}

// What a field's value must be, checked with the very conversion a write makes of it: a value
// that cannot be written is refused under its own name before anything goes to the module.
QString ValueError(const QString& key, const QString& value) {
    const bool flag = key.endsWith(QLatin1String(".enabled")) ||
                      std::any_of(std::begin(kOptionNames), std::end(kOptionNames),
                                  [&](const char* name) { return key == QLatin1String(name); });
    if (flag)
        return value == QLatin1String("0") || value == QLatin1String("1")
                   ? QString()
                   : QStringLiteral("ожидается 0 или 1");
    uint8_t bytes[6];
    try {
        if (key == QLatin1String("mac"))
            MacTextToBytes(value, bytes);
        else if (key.endsWith(QLatin1String("_port")))
            TextToInt(value);
        else if (key.endsWith(QLatin1String(".tos")))
            BitsTextToByte(value);
        else
            IpTextToBytes(value, bytes);
    } catch (const ConversionError& e) {
        return e.text();
    }
    return {};
}

// Sets `key` (named `name` in the file) once; false with the reason for an unknown key, a key
// given twice or a value that cannot be written.
bool Take(ConfigFields& fields, QSet<QString>& seen, const QString& key, const QString& name,
          const QString& value, QString* error) {
    if (seen.contains(key)) {
        *error = QStringLiteral("Поле %1 задано дважды").arg(name);
        return false;
    }
    seen.insert(key);
    if (!Set(fields, key, value)) {
        *error = QStringLiteral("Неизвестное поле: %1").arg(name);
        return false;
    }
    const QString why = ValueError(key, value);
    if (!why.isEmpty())
        *error = name + QStringLiteral(": ") + why;
    return why.isEmpty();
}

// The JSON type config read --json gives a field: a number for ports, true/false for flags.
QString JsonText(const QJsonValue& v, const QString& key, const QString& name, QString* error) {
    if (key.endsWith(QLatin1String("_port"))) {
        // Whole and in range here: a fraction or a huge number would otherwise pass as 0.
        const double d = v.toDouble(-1);
        if (v.isDouble() && d >= 0 && d <= 65535 && d == std::floor(d))
            return QString::number(qint64(d));
        *error = name + QStringLiteral(": ожидается целое число от 0 до 65535");
    } else if (ValueError(key, QStringLiteral("0")).isEmpty()) {
        if (v.isBool())
            return Bool(v.toBool());
        *error = name + QStringLiteral(": ожидается true или false");
    } else if (v.isString()) {
        return v.toString();
    } else {
        *error = name + QStringLiteral(": ожидается строка");
    }
    return {};
}

// Takes the object `o` whose every key must be one of `keys` and no key may be missing:
// `field(jsonKey)` names the field it sets.
bool MergeJsonObject(const QJsonObject& o, const QStringList& keys, const QString& prefix,
                     const std::function<QString(const QString&)>& field, ConfigFields& fields,
                     QSet<QString>& seen, QString* error) {
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (!keys.contains(it.key())) {
            *error = QStringLiteral("Неизвестное поле: %1%2").arg(prefix, it.key());
            return false;
        }
    }
    for (const QString& key : keys) {
        const QString name = prefix + key;
        if (!o.contains(key)) {
            *error = QStringLiteral("Нет поля %1").arg(name);
            return false;
        }
        const QString value = JsonText(o.value(key), field(key), name, error);
        if (!error->isEmpty() || !Take(fields, seen, field(key), name, value, error))
            return false;
    }
    return true;
}

QStringList Keys(const char* const* begin, const char* const* end) {
    QStringList keys;
    for (auto k = begin; k != end; ++k)
        keys << QLatin1String(*k);
    return keys;
}

// The JSON must have the shape config read --json gives it: every key, six sessions, nothing else.
bool MergeJson(const QJsonObject& o, ConfigFields& fields, QString* error) {
    QSet<QString> seen;
    const auto same = [](const QString& key) { return key; };
    const QString sessionsKey = QStringLiteral("sessions"), optionsKey = QStringLiteral("options");
    QJsonObject top = o;
    top.remove(sessionsKey);
    top.remove(optionsKey);
    if (!MergeJsonObject(top, Keys(std::begin(kTopKeys), std::end(kTopKeys)), {}, same, fields,
                         seen, error))
        return false;
    if (!o.value(sessionsKey).isArray()) {
        *error = QStringLiteral("sessions: ожидается массив из %1 сессий").arg(kSessionCount);
        return false;
    }
    const QJsonArray sessions = o.value(sessionsKey).toArray();
    if (sessions.size() != kSessionCount) {
        *error = sessions.size() > kSessionCount
                     ? QStringLiteral("sessions[%1]: у модуля %1 сессий").arg(kSessionCount)
                     : QStringLiteral("sessions: ожидается %1 сессий").arg(kSessionCount);
        return false;
    }
    for (int i = 0; i < kSessionCount; ++i) {
        const QString name = QStringLiteral("sessions[%1]").arg(i);
        if (!sessions[i].isObject()) {
            *error = name + QStringLiteral(": ожидается объект");
            return false;
        }
        const auto field = [i](const QString& key) {
            return SessionKey(i, key.toLatin1().constData());
        };
        if (!MergeJsonObject(sessions[i].toObject(),
                             Keys(std::begin(kSessionKeys), std::end(kSessionKeys)),
                             name + QLatin1Char('.'), field, fields, seen, error))
            return false;
    }
    if (!o.value(optionsKey).isObject()) {
        *error = QStringLiteral("options: ожидается объект");
        return false;
    }
    return MergeJsonObject(o.value(optionsKey).toObject(),
                           Keys(std::begin(kOptionNames), std::end(kOptionNames)),
                           QStringLiteral("options."), same, fields, seen, error);
}

// The first key that the JSON text gives twice in one object, as a path ("sessions[2].tos");
// empty when there is none. QJsonDocument keeps the last of them without a word, so a file
// edited by hand could write what its reader never saw. `json` is known to parse.
QString DuplicateJsonKey(const QByteArray& json) {
    struct Frame {
        bool object = false;
        QSet<QString> keys;
        QString key;
        int index = 0;
        bool expectKey = true;
    };
    std::vector<Frame> stack;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '{' || c == '[') {
            stack.emplace_back();
            stack.back().object = c == '{';
        } else if ((c == '}' || c == ']') && !stack.empty()) {
            stack.pop_back();
        } else if (c == ',' && !stack.empty()) {
            stack.back().expectKey = true;
            ++stack.back().index;
        } else if (c == '"') {
            const qsizetype start = i;
            for (++i; i < json.size() && json[i] != '"'; ++i) {
                if (json[i] == '\\')
                    ++i;
            }
            if (stack.empty() || !stack.back().object || !stack.back().expectKey)
                continue;
            const QByteArray raw = json.mid(start, i - start + 1);
            Frame& f = stack.back();
            f.expectKey = false;
            f.key = raw.contains('\\')
                        ? QJsonDocument::fromJson('[' + raw + ']').array().at(0).toString()
                        : QString::fromUtf8(raw.mid(1, raw.size() - 2));
            if (f.keys.contains(f.key)) {
                QString path;
                for (const Frame& outer : stack)
                    path += !outer.object    ? QStringLiteral("[%1]").arg(outer.index)
                            : path.isEmpty() ? outer.key
                                             : QLatin1Char('.') + outer.key;
                return path;
            }
            f.keys.insert(f.key);
        }
    }
    return {};
}

}  // namespace

ConfigFields ConfigToFields(const DecodedConfig& d) {
    ConfigFields f;
    const QString top[] = {d.localIp, d.localMac, d.subnetwork, d.gateway, d.controlPort};
    for (int i = 0; i < 5; ++i)
        f.append({QLatin1String(kTopKeys[i]), top[i]});
    for (int i = 0; i < kSessionCount; ++i) {
        const DecodedSession& s = d.sessions[i];
        const QString values[] = {Bool(s.selected), s.destinationIp, s.localPort, s.destinationPort,
                                  s.tos};
        for (int k = 0; k < 5; ++k)
            f.append({SessionKey(i, kSessionKeys[k]), values[k]});
    }
    for (int k = 0; k < kOptionCount; ++k)
        f.append({QLatin1String(kOptionNames[k]), Bool(d.optionValues[k] == Options()[k].setText)});
    return f;
}

QString FieldsToText(const ConfigFields& fields) {
    QString text;
    for (const auto& [key, value] : fields)
        text += key + QLatin1Char('=') + value + QLatin1Char('\n');
    return text;
}

QJsonObject FieldsToJson(const ConfigFields& fields) {
    QJsonObject o;
    for (const char* key : kTopKeys) {
        const QString v = Get(fields, QLatin1String(key));
        o.insert(QLatin1String(key), key == kTopKeys[4] ? QJsonValue(v.toInt()) : QJsonValue(v));
    }
    QJsonArray sessions;
    for (int i = 0; i < kSessionCount; ++i) {
        QJsonObject s;
        s.insert(QStringLiteral("enabled"),
                 Get(fields, SessionKey(i, "enabled")) == QLatin1String("1"));
        s.insert(QStringLiteral("destination_ip"), Get(fields, SessionKey(i, "destination_ip")));
        s.insert(QStringLiteral("local_port"), Get(fields, SessionKey(i, "local_port")).toInt());
        s.insert(QStringLiteral("destination_port"),
                 Get(fields, SessionKey(i, "destination_port")).toInt());
        s.insert(QStringLiteral("tos"), Get(fields, SessionKey(i, "tos")));
        sessions.append(s);
    }
    o.insert(QStringLiteral("sessions"), sessions);
    QJsonObject options;
    for (const char* key : kOptionNames)
        options.insert(QLatin1String(key), Get(fields, QLatin1String(key)) == QLatin1String("1"));
    o.insert(QStringLiteral("options"), options);
    return o;
}

bool MergeConfigFile(const QByteArray& file, ConfigFields& fields, QString* error) {
    error->clear();
    if (file.trimmed().isEmpty()) {
        *error = QStringLiteral("Файл пуст");
        return false;
    }
    if (file.trimmed().startsWith('{')) {
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(file, &parseError);
        if (!doc.isObject()) {
            *error = QStringLiteral("Ошибка в JSON: ") + parseError.errorString();
            return false;
        }
        const QString twice = DuplicateJsonKey(file);
        if (!twice.isEmpty()) {
            *error = QStringLiteral("Поле %1 задано дважды").arg(twice);
            return false;
        }
        return MergeJson(doc.object(), fields, error);
    }
    QSet<QString> seen;
    const QStringList lines = QString::fromUtf8(file).split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        const QString line = lines[n].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) {
            *error = QStringLiteral("Строка %1: нет знака \"=\": %2").arg(n + 1).arg(line);
            return false;
        }
        const QString key = line.left(eq).trimmed();
        if (!Take(fields, seen, key, key, line.mid(eq + 1).trimmed(), error)) {
            *error = QStringLiteral("Строка %1: %2").arg(n + 1).arg(*error);
            return false;
        }
    }
    if (seen.isEmpty())
        *error = QStringLiteral("В файле нет ни одного поля");
    return !seen.isEmpty();
}

ConfigTexts FieldsToTexts(const ConfigFields& fields) {
    ConfigTexts t;
    t.localIp = Get(fields, QLatin1String(kTopKeys[0]));
    t.localMac = Get(fields, QLatin1String(kTopKeys[1]));
    t.subnetwork = Get(fields, QLatin1String(kTopKeys[2]));
    t.gateway = Get(fields, QLatin1String(kTopKeys[3]));
    t.controlPort = Get(fields, QLatin1String(kTopKeys[4]));
    for (int i = 0; i < kSessionCount; ++i) {
        SessionSettings& s = t.sessions[i];
        const QString enabled = Get(fields, SessionKey(i, "enabled"));
        if (enabled != QLatin1String("0") && enabled != QLatin1String("1"))
            throw ConversionError(SessionKey(i, "enabled") + QStringLiteral(": ожидается 0 или 1"));
        s.Enabled = enabled == QLatin1String("1") ? 1 : 0;
        s.DestinationIp = Get(fields, SessionKey(i, "destination_ip"));
        s.LocalPort = Get(fields, SessionKey(i, "local_port"));
        s.DestinationPort = Get(fields, SessionKey(i, "destination_port"));
        s.Tos = Get(fields, SessionKey(i, "tos"));
    }
    for (int k = 0; k < kOptionCount; ++k) {
        const QString v = Get(fields, QLatin1String(kOptionNames[k]));
        if (v != QLatin1String("0") && v != QLatin1String("1"))
            throw ConversionError(QLatin1String(kOptionNames[k]) +
                                  QStringLiteral(": ожидается 0 или 1"));
        t.optionValues[k] = v == QLatin1String("1") ? Options()[k].setText : Options()[k].clearText;
    }
    return t;
}

QStringList FieldDifferences(const ConfigFields& from, const ConfigFields& to) {
    QStringList lines;
    for (int i = 0; i < from.size() && i < to.size(); ++i) {
        if (from[i].second != to[i].second)
            lines << from[i].first + QStringLiteral(": ") + from[i].second +
                         QStringLiteral(" -> ") + to[i].second;
    }
    return lines;
}
