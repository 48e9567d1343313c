// The web configuration file: the part of YAML that its two settings need, read strictly, so that
// a file that means something else is refused with its line rather than half understood.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "exporter/http.h"

namespace {

// A file of at most kMaxWebFileBytes; otherwise nothing and the reason.
std::optional<QByteArray> ReadBounded(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QByteArray data = file.read(kMaxWebFileBytes + 1);
    if (data.size() > kMaxWebFileBytes) {
        *error = QStringLiteral("%1: больше %2 байт").arg(path).arg(kMaxWebFileBytes);
        return std::nullopt;
    }
    return data;
}

// The index of the quote that closes the quoted scalar `t` starts with, or -1: within single
// quotes '' is a quote of the text, within double quotes a backslash takes the next character.
qsizetype ClosingQuote(const QByteArray& t) {
    const char quote = t[0];
    for (qsizetype i = 1; i < t.size(); ++i) {
        if (quote == '"' && t[i] == '\\')
            ++i;
        else if (quote == '\'' && t[i] == quote && i + 1 < t.size() && t[i + 1] == quote)
            ++i;
        else if (t[i] == quote)
            return i;
    }
    return -1;
}

// One scalar: plain, 'single' ('' for a quote) or "double" (\" and \\ only), and what follows it
// (a comment or nothing). Empty error: done.
QByteArray Scalar(const QByteArray& text, QString* error) {
    const QByteArray t = text.trimmed();
    if (t.isEmpty() || t.startsWith('#'))
        return {};
    QByteArray out;
    if (t[0] == '\'' || t[0] == '"') {
        const char quote = t[0];
        qsizetype i = 1;
        for (; i < t.size(); ++i) {
            if (t[i] == quote && quote == '\'' && i + 1 < t.size() && t[i + 1] == '\'') {
                out += '\'';
                ++i;
            } else if (t[i] == quote) {
                break;
            } else if (quote == '"' && t[i] == '\\') {
                if (i + 1 >= t.size() || (t[i + 1] != '"' && t[i + 1] != '\\')) {
                    *error = QStringLiteral("в кавычках понятны только \\\" и \\\\");
                    return {};
                }
                out += t[++i];
            } else {
                out += t[i];
            }
        }
        if (i >= t.size()) {
            *error = QStringLiteral("кавычка не закрыта");
            return {};
        }
        const QByteArray rest = t.mid(i + 1).trimmed();
        if (!rest.isEmpty() && !rest.startsWith('#'))
            *error = QStringLiteral("лишнее после кавычки: %1").arg(QString::fromUtf8(rest));
        return out;
    }
    // YAML's indicators start something this file never holds: anchors, tags, flow collections,
    // block scalars, lists.
    if (QByteArray("[]{}&*!|>%@`-?,").contains(t[0])) {
        *error = QStringLiteral("непонятное значение: %1").arg(QString::fromUtf8(t));
        return {};
    }
    const qsizetype comment = t.indexOf(" #");
    out = (comment < 0 ? t : t.left(comment)).trimmed();
    if (out.contains(": ") || out.endsWith(':'))
        *error = QStringLiteral("непонятное значение: %1").arg(QString::fromUtf8(out));
    return out;
}

}  // namespace

std::optional<WebConfig> ParseWebConfig(const QByteArray& text, const QString& folder,
                                        QString* error) {
    static const QRegularExpression bcrypt(
        QStringLiteral("^\\$2[aby]\\$(0[4-9]|[12][0-9]|3[01])\\$[./A-Za-z0-9]{53}$"));
    WebConfig config;
    QByteArray section;  // the top-level key the indented lines belong to
    int childIndent = -1;
    std::map<QByteArray, QByteArray> tls;
    bool seenTls = false, seenUsers = false, content = false;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const auto fail = [&](const QString& why) {
            *error = QStringLiteral("строка %1: %2").arg(n + 1).arg(why);
            return std::nullopt;
        };
        QByteArray line = lines[n];
        if (line.endsWith('\r'))
            line.chop(1);
        qsizetype indent = 0;
        while (indent < line.size() && (line[indent] == ' ' || line[indent] == '\t'))
            ++indent;
        const QByteArray body = line.mid(indent);
        if (body.isEmpty() || body.startsWith('#'))
            continue;
        if (line.left(indent).contains('\t'))
            return fail(QStringLiteral("табуляция в отступе: в YAML отступ только пробелами"));
        if (!content && indent == 0 && body.trimmed() == "---") {
            content = true;
            continue;
        }
        content = true;
        // "key:" or "key: value"; a quoted key may hold what a plain one cannot.
        QString why;
        qsizetype colon = -1;
        QByteArray key;
        if (body[0] == '\'' || body[0] == '"') {
            const qsizetype close = ClosingQuote(body);
            colon = close < 0 ? -1 : close + 1;
            if (colon < 0 || colon >= body.size() || body[colon] != ':')
                return fail(QStringLiteral("ожидается ключ: значение"));
            key = Scalar(body.left(colon), &why);
        } else {
            colon = body.indexOf(": ");
            if (colon < 0 && body.trimmed().endsWith(':'))
                colon = body.trimmed().size() - 1;
            if (colon <= 0)
                return fail(QStringLiteral("ожидается ключ: значение"));
            key = Scalar(body.left(colon), &why);
        }
        const QByteArray value = why.isEmpty() ? Scalar(body.mid(colon + 1), &why) : QByteArray();
        if (!why.isEmpty())
            return fail(why);
        if (indent == 0) {
            if (!value.isEmpty())
                return fail(QStringLiteral("у \"%1\" ожидаются вложенные строки")
                                .arg(QString::fromUtf8(key)));
            bool& seen = key == "tls_server_config" ? seenTls : seenUsers;
            if (key != "tls_server_config" && key != "basic_auth_users")
                return fail(QStringLiteral("неизвестный ключ \"%1\" (понятны tls_server_config и "
                                           "basic_auth_users)")
                                .arg(QString::fromUtf8(key)));
            if (seen)
                return fail(QStringLiteral("\"%1\" второй раз").arg(QString::fromUtf8(key)));
            seen = true;
            section = key;
            childIndent = -1;
            continue;
        }
        if (section.isEmpty())
            return fail(QStringLiteral("отступ без раздела"));
        if (childIndent < 0)
            childIndent = static_cast<int>(indent);
        if (indent != childIndent)
            return fail(QStringLiteral("отступ не как у строк выше"));
        if (value.isEmpty())
            return fail(QStringLiteral("у \"%1\" нет значения").arg(QString::fromUtf8(key)));
        if (section == "tls_server_config") {
            if (key != "cert_file" && key != "key_file")
                return fail(QStringLiteral("неизвестный ключ tls_server_config \"%1\" (понятны "
                                           "cert_file и key_file)")
                                .arg(QString::fromUtf8(key)));
            if (!tls.emplace(key, value).second)
                return fail(QStringLiteral("\"%1\" второй раз").arg(QString::fromUtf8(key)));
        } else {
            if (!bcrypt.match(QString::fromUtf8(value)).hasMatch())
                return fail(QStringLiteral("у пользователя \"%1\" ожидается хэш bcrypt ($2a$, "
                                           "$2b$ или $2y$)")
                                .arg(QString::fromUtf8(key)));
            if (!config.users.emplace(key, value).second)
                return fail(
                    QStringLiteral("пользователь \"%1\" второй раз").arg(QString::fromUtf8(key)));
        }
    }
    if (seenTls) {
        if (tls.size() != 2) {
            *error = QStringLiteral("tls_server_config: нужны и cert_file, и key_file");
            return std::nullopt;
        }
        const QDir base(folder);
        const auto cert = ReadBounded(base.filePath(QString::fromUtf8(tls["cert_file"])), error);
        const auto key = cert
                             ? ReadBounded(base.filePath(QString::fromUtf8(tls["key_file"])), error)
                             : std::nullopt;
        if (!cert || !key)
            return std::nullopt;
        if (!cert->contains("-----BEGIN") || !key->contains("-----BEGIN")) {
            *error = QStringLiteral("tls_server_config: сертификат и ключ ожидаются в PEM");
            return std::nullopt;
        }
        config.certPem = *cert;
        config.keyPem = *key;
    }
    return config;
}

std::optional<WebConfig> ReadWebConfig(const QString& path, QString* error) {
    const auto text = ReadBounded(path, error);
    if (!text)
        return std::nullopt;
    QString why;
    auto config = ParseWebConfig(*text, QFileInfo(path).absolutePath(), &why);
    if (!config)
        *error = QStringLiteral("%1: %2").arg(path, why);
    return config;
}
