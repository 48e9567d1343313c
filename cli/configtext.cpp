#include "cli/configtext.h"

#include <QJsonArray>
#include <QJsonDocument>

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

QString JsonText(const QJsonValue& v) {
    if (v.isBool())
        return Bool(v.toBool());
    if (v.isDouble())
        return QString::number(v.toInteger());
    return v.toString();
}

bool MergeJson(const QJsonObject& o, ConfigFields& fields, QString* error) {
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (it.key() == QLatin1String("sessions")) {
            const QJsonArray sessions = it.value().toArray();
            for (int i = 0; i < sessions.size() && i < kSessionCount; ++i) {
                const QJsonObject s = sessions[i].toObject();
                for (auto sit = s.begin(); sit != s.end(); ++sit) {
                    if (!Set(fields, SessionKey(i, sit.key().toLatin1().constData()),
                             JsonText(sit.value()))) {
                        *error = QStringLiteral("Неизвестное поле: sessions[%1].%2")
                                     .arg(i)
                                     .arg(sit.key());
                        return false;
                    }
                }
            }
        } else if (it.key() == QLatin1String("options")) {
            const QJsonObject opts = it.value().toObject();
            for (auto oit = opts.begin(); oit != opts.end(); ++oit) {
                if (!Set(fields, oit.key(), JsonText(oit.value()))) {
                    *error = QStringLiteral("Неизвестное поле: options.%1").arg(oit.key());
                    return false;
                }
            }
        } else if (!Set(fields, it.key(), JsonText(it.value()))) {
            *error = QStringLiteral("Неизвестное поле: %1").arg(it.key());
            return false;
        }
    }
    return true;
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
    if (file.trimmed().startsWith('{')) {
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(file, &parseError);
        if (!doc.isObject()) {
            *error = QStringLiteral("Ошибка в JSON: ") + parseError.errorString();
            return false;
        }
        return MergeJson(doc.object(), fields, error);
    }
    const QStringList lines = QString::fromUtf8(file).split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        const QString line = lines[n].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq < 0 || !Set(fields, line.left(eq).trimmed(), line.mid(eq + 1).trimmed())) {
            *error = QStringLiteral("Строка %1: неизвестное поле или нет знака \"=\": %2")
                         .arg(n + 1)
                         .arg(line);
            return false;
        }
    }
    return true;
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
