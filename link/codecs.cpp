#include "link/codecs.h"

#include <QStringList>

#include "link/shell.h"

namespace {

bool IsDecimal(const QString& text) {
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// Plain decimal digits with a value up to `limit`, or -1. Leading zeros do not count: an
// operator who pads "65530" to "0065530" means the same port. However long the text, the value
// never grows past the limit, so nothing overflows.
int DecimalUpTo(const QString& text, int limit) {
    if (!IsDecimal(text))
        return -1;
    int value = 0;
    for (QChar c : text) {
        value = value * 10 + (c.unicode() - u'0');
        if (value > limit)
            return -1;
    }
    return value;
}

}  // namespace

bool ParseIpv4(const QString& text, uint8_t* out) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i) {
        const int v = DecimalUpTo(parts[i], 255);
        if (v < 0)
            return false;
        bytes[i] = static_cast<uint8_t>(v);
    }
    if (out)
        std::copy(bytes, bytes + 4, out);
    return true;
}

void IpTextToBytes(const QString& text, uint8_t* out) {
    if (!ParseIpv4(text, out)) {
        throw ConversionError(
            QStringLiteral("Неверный IP-адрес \"%1\": нужны четыре числа от 0 до 255 через точку")
                .arg(text));
    }
}

QString IpBytesToText(const uint8_t* bytes) {
    return QStringLiteral("%1.%2.%3.%4").arg(bytes[0]).arg(bytes[1]).arg(bytes[2]).arg(bytes[3]);
}

void MacTextToBytes(const QString& text, uint8_t* out) {
    const QStringList parts = text.split(QLatin1Char('-'));
    uint8_t bytes[6];
    bool good = parts.size() == 6;
    for (int i = 0; good && i < 6; ++i) {
        const QString& part = parts[i];
        bool ok = false;
        const uint value = part.toUInt(&ok, 16);
        good = ok && part.size() >= 1 && part.size() <= 2 && !part.startsWith(QLatin1Char('+'));
        for (QChar c : part)
            good = good && QStringLiteral("0123456789abcdefABCDEF").contains(c);
        bytes[i] = static_cast<uint8_t>(value);
    }
    if (!good) {
        throw ConversionError(
            QStringLiteral("Неверный MAC-адрес \"%1\": нужны шесть шестнадцатеричных чисел "
                           "из одной или двух цифр через \"-\"")
                .arg(text));
    }
    std::copy(bytes, bytes + 6, out);
}

QString MacBytesToText(const uint8_t* bytes) {
    QStringList parts;
    for (int i = 0; i < 6; ++i) {
        parts << QStringLiteral("%1").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
    }
    return parts.join(QLatin1Char('-'));
}

int TextToInt(const QString& text) {
    const int value = DecimalUpTo(text, 65535);
    if (value < 0) {
        throw ConversionError(
            QStringLiteral("Неверное число \"%1\": нужно целое число от 0 до 65535").arg(text));
    }
    return value;
}

QString WordToText(uint16_t value) {
    return QString::number(value);
}

uint16_t BitsTextToByte(const QString& text) {
    if (text.isEmpty())
        return 0;
    bool good = text.size() == 8;
    uint16_t value = 0;
    for (int k = 0; good && k < 8; ++k) {
        const QChar c = text[7 - k];
        good = c == QLatin1Char('0') || c == QLatin1Char('1');
        if (c == QLatin1Char('1'))
            value |= static_cast<uint16_t>(1u << k);
    }
    if (!good) {
        throw ConversionError(
            QStringLiteral("Неверное значение TOS \"%1\": нужны восемь символов \"0\" или \"1\"")
                .arg(text));
    }
    return value;
}

QString ByteToBitsText(uint16_t value) {
    QString text;
    for (int bit = 7; bit >= 0; --bit) {
        text += (value & (1u << bit)) ? QLatin1Char('1') : QLatin1Char('0');
    }
    return text;
}

bool IsBadIpText(const QString& text) {
    return !ParseIpv4(text, nullptr);
}

int ParsePortText(const QString& text) {
    const int value = DecimalUpTo(text, 65535);
    return value >= 1 ? value : -1;
}

bool CheckMuxAddress(const QString& address, const QString& port) {
    bool refuse = false;
    if (IsBadIpText(address)) {
        LogEvent(QStringLiteral("Некорректный формат IP-адреса!"));
        refuse = true;
    }
    if (port.isEmpty()) {
        LogEvent(QStringLiteral("Введите номер порта удаленного мультиплексора!"));
        refuse = true;
    } else if (ParsePortText(port) < 0) {
        LogEvent(QStringLiteral("Некорректный номер порта!"));
        refuse = true;
    }
    return refuse;
}

std::optional<ModuleEndpoint> ParseModuleEndpoint(const QString& address, const QString& port) {
    ModuleEndpoint endpoint;
    endpoint.port = ParsePortText(port);
    if (endpoint.port < 0 || !ParseIpv4(address, endpoint.ip.data()))
        return std::nullopt;
    return endpoint;
}
