// Texts of the edit fields to and from wire bytes, and the address check before a command.
#include <QtTest>

#include "link/codecs.h"
#include "support/recording_shell.h"

using Bytes = QList<int>;

namespace {
Bytes ToList(const uint8_t* p, int n) {
    Bytes out;
    for (int i = 0; i < n; ++i)
        out << p[i];
    return out;
}
}  // namespace

class CodecsTest : public QObject {
    Q_OBJECT
  private slots:
    void isBadIpText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("bad");
        QTest::newRow("plain") << "192.168.0.24" << false;
        QTest::newRow("all zero") << "0.0.0.0" << false;
        QTest::newRow("all 255") << "255.255.255.255" << false;
        QTest::newRow("leading zeros") << "010.001.000.009" << false;
        QTest::newRow("many leading zeros") << "0000192.168.00001.0000010" << false;
        QTest::newRow("padded 256") << "0000256.0.0.1" << true;
        QTest::newRow("two dots") << "192.168.0" << true;
        QTest::newRow("four dots") << "1.2.3.4.5" << true;
        QTest::newRow("256") << "256.0.0.1" << true;
        QTest::newRow("empty") << "" << true;
        QTest::newRow("negative") << "-1.2.3.4" << true;
        QTest::newRow("plus sign") << "+1.2.3.4" << true;
        QTest::newRow("empty part") << "1..2.3" << true;
        QTest::newRow("trailing dot") << "1.2.3." << true;
        QTest::newRow("leading dot") << ".1.2.3" << true;
        QTest::newRow("blank") << "1.2.3. 4" << true;
        QTest::newRow("trailing blank") << "1.2.3.4 " << true;
        QTest::newRow("letters") << "a.b.c.d" << true;
        QTest::newRow("hex") << "0x1.2.3.4" << true;
        QTest::newRow("huge part") << "1.2.3.99999999999" << true;
        QTest::newRow("arabic-indic digits") << QString::fromUtf8("١.2.3.4") << true;
    }
    void isBadIpText() {
        QFETCH(QString, text);
        QFETCH(bool, bad);
        QCOMPARE(IsBadIpText(text), bad);
        // The encoder agrees with the check on every text.
        uint8_t out[4] = {};
        bool raised = false;
        try {
            IpTextToBytes(text, out);
        } catch (const ConversionError&) {
            raised = true;
        }
        QCOMPARE(raised, bad);
    }

    void ipRoundTrip_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Bytes>("bytes");
        QTest::newRow("example") << "192.168.0.24" << Bytes{0xC0, 0xA8, 0x00, 0x18};
        QTest::newRow("edges") << "0.255.1.254" << Bytes{0, 255, 1, 254};
        // Decimal, never octal: what the check accepted is what is written and dialled.
        QTest::newRow("zero-padded") << "192.168.001.010" << Bytes{192, 168, 1, 10};
    }
    void ipRoundTrip() {
        QFETCH(QString, text);
        QFETCH(Bytes, bytes);
        uint8_t out[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        IpTextToBytes(text, out);
        QCOMPARE(ToList(out, 4), bytes);
        QCOMPARE(int(out[4]), 0xEE);  // exactly four octets written
        QCOMPARE(IpBytesToText(out),
                 QString("%1.%2.%3.%4").arg(bytes[0]).arg(bytes[1]).arg(bytes[2]).arg(bytes[3]));
    }

    void ipErrorNamesTheText() {
        uint8_t out[4] = {1, 2, 3, 4};
        try {
            IpTextToBytes(QStringLiteral("300.1.1.1"), out);
            QFAIL("300 must not become an octet");
        } catch (const ConversionError& e) {
            QVERIFY(e.text().contains(QStringLiteral("300.1.1.1")));
        }
        QCOMPARE(ToList(out, 4), (Bytes{1, 2, 3, 4}));
    }

    void macRoundTrip_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Bytes>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("example") << "00-1A-2B-3C-4D-5E" << Bytes{0, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}
                                 << "00-1A-2B-3C-4D-5E";
        QTest::newRow("single digits")
            << "a-b-c-d-e-f" << Bytes{10, 11, 12, 13, 14, 15} << "0A-0B-0C-0D-0E-0F";
        QTest::newRow("lower case")
            << "1a-ff-00-7f-80-c3" << Bytes{0x1A, 0xFF, 0, 0x7F, 0x80, 0xC3} << "1A-FF-00-7F-80-C3";
    }
    void macRoundTrip() {
        QFETCH(QString, text);
        QFETCH(Bytes, bytes);
        QFETCH(QString, shown);
        uint8_t out[7] = {0, 0, 0, 0, 0, 0, 0x99};
        MacTextToBytes(text, out);
        QCOMPARE(ToList(out, 6), bytes);
        QCOMPARE(int(out[6]), 0x99);
        QCOMPARE(MacBytesToText(out), shown);
    }

    void macRefusals_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("three digits") << "123-0-0-0-0-0";
        QTest::newRow("empty part") << "00--2B-3C-4D-5E";
        QTest::newRow("five parts") << "00-1A-2B-3C-4D";
        QTest::newRow("seven parts") << "00-1A-2B-3C-4D-5E-6F";
        QTest::newRow("colons") << "00:1A:2B:3C:4D:5E";
        QTest::newRow("not hex") << "00-1G-2B-3C-4D-5E";
        QTest::newRow("prefix") << "0x1-0-0-0-0-0";
        QTest::newRow("empty") << "";
        QTest::newRow("blank") << "00-1A-2B-3C-4D- 5";
    }
    void macRefusals() {
        QFETCH(QString, text);
        uint8_t out[6] = {};
        QVERIFY_THROWS_EXCEPTION(ConversionError, MacTextToBytes(text, out));
    }

    void numbers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");  // -1: refused
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("default port") << "65530" << 65530;
        QTest::newRow("largest") << "65535" << 65535;
        QTest::newRow("leading zeros") << "00080" << 80;
        QTest::newRow("port padded to seven") << "0065530" << 65530;
        QTest::newRow("port padded to twenty") << "00000000000000065535" << 65535;
        QTest::newRow("padded 65536") << "000000065536" << -1;
        QTest::newRow("all zeros") << "0000000000" << 0;
        QTest::newRow("65536") << "65536" << -1;
        QTest::newRow("70000") << "70000" << -1;
        QTest::newRow("negative") << "-1" << -1;
        QTest::newRow("plus") << "+5" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("letters") << "abc" << -1;
        QTest::newRow("blank") << " 80" << -1;
        QTest::newRow("hex") << "0x50" << -1;
        QTest::newRow("overflowing") << "99999999999999999999" << -1;
    }
    void numbers() {
        QFETCH(QString, text);
        QFETCH(int, value);
        if (value < 0) {
            QVERIFY_THROWS_EXCEPTION(ConversionError, TextToInt(text));
        } else {
            QCOMPARE(TextToInt(text), value);
            QCOMPARE(WordToText(static_cast<uint16_t>(value)), QString::number(value));
        }
    }

    void wordIsUnsigned() {
        QCOMPARE(WordToText(0), QStringLiteral("0"));
        QCOMPARE(WordToText(0xFFFF), QStringLiteral("65535"));
        QCOMPARE(WordToText(static_cast<uint16_t>(-6)), QStringLiteral("65530"));
    }

    void bits_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");  // -1: refused
        QTest::newRow("real time") << "10110000" << 0xB0;
        QTest::newRow("expedited") << "10111000" << 0xB8;
        QTest::newRow("normal") << "00000000" << 0;
        QTest::newRow("all") << "11111111" << 0xFF;
        QTest::newRow("lowest bit") << "00000001" << 1;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("short") << "1011" << -1;
        QTest::newRow("long") << "101100001" << -1;
        QTest::newRow("a two") << "00000002" << -1;
        QTest::newRow("letter") << "0000000x" << -1;
        QTest::newRow("blank") << "0000 000" << -1;
    }
    void bits() {
        QFETCH(QString, text);
        QFETCH(int, value);
        if (value < 0) {
            QVERIFY_THROWS_EXCEPTION(ConversionError, BitsTextToByte(text));
            return;
        }
        QCOMPARE(int(BitsTextToByte(text)), value);
        if (!text.isEmpty())
            QCOMPARE(ByteToBitsText(static_cast<uint16_t>(value)), text);
    }

    void bitsTextIgnoresHighByte() {
        QCOMPARE(ByteToBitsText(0x01B8), QStringLiteral("10111000"));
        QCOMPARE(ByteToBitsText(0), QStringLiteral("00000000"));
    }

    void checkMuxAddress_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QStringList>("log");
        const QString badIp = QStringLiteral("Некорректный формат IP-адреса!");
        const QString noPort = QStringLiteral("Введите номер порта удаленного мультиплексора!");
        const QString badPort = QStringLiteral("Некорректный номер порта!");
        QTest::newRow("good") << "10.0.0.1"
                              << "65530" << false << QStringList{};
        QTest::newRow("lowest port") << "10.0.0.1"
                                     << "1" << false << QStringList{};
        QTest::newRow("highest port") << "10.0.0.1"
                                      << "65535" << false << QStringList{};
        QTest::newRow("padded port and address") << "010.000.000.001"
                                                 << "0065530" << false << QStringList{};
        QTest::newRow("bad address, empty port") << "10.0.0"
                                                 << "" << true << QStringList{badIp, noPort};
        QTest::newRow("bad address only") << "10.0.0.256"
                                          << "80" << true << QStringList{badIp};
        QTest::newRow("empty port only") << "10.0.0.1"
                                         << "" << true << QStringList{noPort};
        QTest::newRow("letters") << "10.0.0.1"
                                 << "abc" << true << QStringList{badPort};
        QTest::newRow("too large") << "10.0.0.1"
                                   << "70000" << true << QStringList{badPort};
        QTest::newRow("65536") << "10.0.0.1"
                               << "65536" << true << QStringList{badPort};
        QTest::newRow("zero") << "10.0.0.1"
                              << "0" << true << QStringList{badPort};
        QTest::newRow("negative") << "10.0.0.1"
                                  << "-5" << true << QStringList{badPort};
        QTest::newRow("bad address, bad port") << "x"
                                               << "1e3" << true << QStringList{badIp, badPort};
    }
    void checkMuxAddress() {
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(bool, refused);
        QFETCH(QStringList, log);
        RecordingShell shell;
        QCOMPARE(CheckMuxAddress(address, port), refused);
        QCOMPARE(shell.log, log);
    }
};

QTEST_APPLESS_MAIN(CodecsTest)
#include "test_codecs.moc"
