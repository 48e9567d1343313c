// The configuration block: what a write carries and how a read is shown.
#include <QtTest>

#include "link/shell.h"
#include "model/bytes.h"
#include "model/configcodec.h"

using Bytes = QList<int>;

namespace {

Bytes Slice(const ConfigBlock& b, int offset, int n) {
    Bytes out;
    for (int i = 0; i < n; ++i)
        out << b[offset + i];
    return out;
}

ConfigTexts ModuleTexts() {
    ConfigTexts t;
    t.localIp = "192.168.0.24";
    t.localMac = "00-1A-2B-3C-4D-5E";
    t.subnetwork = "255.255.255.0";
    t.gateway = "192.168.0.1";
    t.controlPort = "65530";
    for (int k = 0; k < kOptionCount; ++k)
        t.optionValues[k] = Options()[k].clearText;
    return t;
}

SessionSettings Selected(QString ip, QString dport, QString lport, QString tos) {
    SessionSettings s;
    s.Enabled = 1;
    s.DestinationIp = ip;
    s.DestinationPort = dport;
    s.LocalPort = lport;
    s.Tos = tos;
    return s;
}

}  // namespace

class ConfigCodecTest : public QObject {
    Q_OBJECT
  private slots:
    void sessionRecordIsByteExact() {
        ConfigTexts t = ModuleTexts();
        t.sessions[2] = Selected("192.168.1.10", "5000", "6000", "10110000");
        ConfigBlock b{};
        EncodeConfig(t, b);
        QCOMPARE(Slice(b, 46, 12),
                 (Bytes{0x70, 0x17, 0x88, 0x13, 0x01, 0xC0, 0xA8, 0x01, 0x0A, 0x00, 0xB0, 0x00}));
        QCOMPARE(Slice(b, 0, 22),
                 (Bytes{0x7F, 0x7F, 192, 168, 0, 24,  0x00, 0x1A, 0x2B, 0x3C, 0x4D,
                        0x5E, 255,  255, 255, 0, 192, 168,  0,    1,    0xFA, 0xFF}));
        for (int i : {0, 1, 3, 4, 5})
            QCOMPARE(Slice(b, SessionRecordOffset(i), 12), Bytes(12, 0));
    }

    void optionWordCarriesTheBitsNobodyShows_data() {
        QTest::addColumn<uint>("before");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<uint>("after");
        const QStringList clear{"Низкий", "Низкий", "Низкий", "Выключено", "Выключен"};
        QTest::newRow("all clear keeps bit 31") << 0x80040807u << clear << 0x80000000u;
        QTest::newRow("read word written back")
            << 0x00040803u << QStringList{"Высокий", "Высокий", "Низкий", "Включено", "Включен"}
            << 0x00040803u;
        QTest::newRow("every shown bit set")
            << 0u << QStringList{"Высокий", "Высокий", "Высокий", "Включено", "Включен"}
            << 0x00040807u;
        QTest::newRow("unknown value text clears")
            << 0xFFFFFFFFu << QStringList{"высокий", "", "Высокий", "Включен", "Включено"}
            << (0xFFFFFFFFu & ~0x1u & ~0x2u & ~0x800u & ~0x40000u);
    }
    void optionWordCarriesTheBitsNobodyShows() {
        QFETCH(uint, before);
        QFETCH(QStringList, values);
        QFETCH(uint, after);
        ConfigTexts t = ModuleTexts();
        for (int k = 0; k < kOptionCount; ++k)
            t.optionValues[k] = values[k];
        ConfigBlock b{};
        PutU32(&b[ConfigOffset::OptionFlags], before);
        EncodeConfig(t, b);
        QCOMPARE(GetU32(&b[ConfigOffset::OptionFlags]), after);
    }

    void deselectedSessionKeepsItsBytes() {
        ConfigTexts t = ModuleTexts();
        t.sessions[1] = Selected("10.0.0.2", "1000", "2000", "10111000");
        ConfigBlock b{};
        EncodeConfig(t, b);
        const Bytes written = Slice(b, 34, 12);
        QCOMPARE(written[4], 1);
        t.sessions[1].Enabled = 0;
        t.sessions[1].DestinationIp = "not an address";  // never converted while deselected
        EncodeConfig(t, b);
        Bytes expected = written;
        expected[4] = 0;
        QCOMPARE(Slice(b, 34, 12), expected);
    }

    void selectedSessionWithoutTosIsWrittenWithZero() {
        ConfigTexts t = ModuleTexts();
        t.sessions[5] = Selected("1.2.3.4", "1", "2", "");
        ConfigBlock b{};
        b[SessionRecordOffset(5) + SessionOffset::Tos] = 0xB8;
        EncodeConfig(t, b);
        QCOMPARE(Slice(b, SessionRecordOffset(5) + SessionOffset::Tos, 2), (Bytes{0, 0}));
    }

    void refusedTextsLeaveTheBlockUntouched_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::newRow("local address 300") << "localIp"
                                           << "192.168.0.300";
        QTest::newRow("empty local address") << "localIp"
                                             << "";
        QTest::newRow("mac with colons") << "localMac"
                                         << "00:1A:2B:3C:4D:5E";
        QTest::newRow("mask with three parts") << "subnetwork"
                                               << "255.255.0";
        QTest::newRow("gateway letters") << "gateway"
                                         << "gw";
        QTest::newRow("empty control port") << "controlPort"
                                            << "";
        QTest::newRow("control port 70000") << "controlPort"
                                            << "70000";
        QTest::newRow("session port 65536") << "sessionPort"
                                            << "65536";
        QTest::newRow("session tos short") << "sessionTos"
                                           << "1011";
        QTest::newRow("session address empty") << "sessionIp"
                                               << "";
    }
    void refusedTextsLeaveTheBlockUntouched() {
        QFETCH(QString, field);
        QFETCH(QString, text);
        ConfigTexts t = ModuleTexts();
        t.sessions[0] = Selected("10.0.0.2", "1000", "2000", "00000000");
        if (field == "localIp")
            t.localIp = text;
        if (field == "localMac")
            t.localMac = text;
        if (field == "subnetwork")
            t.subnetwork = text;
        if (field == "gateway")
            t.gateway = text;
        if (field == "controlPort")
            t.controlPort = text;
        if (field == "sessionPort")
            t.sessions[0].DestinationPort = text;
        if (field == "sessionTos")
            t.sessions[0].Tos = text;
        if (field == "sessionIp")
            t.sessions[0].DestinationIp = text;
        ConfigBlock b{};
        b.fill(0x5C);
        const ConfigBlock before = b;
        try {
            EncodeConfig(t, b);
            QFAIL("the write must be refused");
        } catch (const ConversionError& e) {
            QVERIFY2(text.isEmpty() || e.text().contains(text), qPrintable(e.text()));
        }
        QVERIFY(b == before);
    }

    void decodeShowsWhatTheModuleHolds() {
        ConfigBlock b{};
        const uint8_t head[] = {0x7F, 0x7F, 10,  1, 2, 3,  0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
                                0x0F, 255,  255, 0, 0, 10, 1,    2,    254,  0xFF, 0xFF};
        std::copy(std::begin(head), std::end(head), b.begin());
        uint8_t* s1 = &b[SessionRecordOffset(0)];
        PutU16(s1 + SessionOffset::LocalPort, 6000);
        PutU16(s1 + SessionOffset::DestinationPort, 65535);
        s1[SessionOffset::Enable] = 1;
        s1[SessionOffset::DestinationIp] = 192;
        s1[SessionOffset::DestinationIp + 3] = 7;
        PutU16(s1 + SessionOffset::Tos, 0x01B8);
        b[SessionRecordOffset(1) + SessionOffset::Enable] = 2;
        PutU32(&b[ConfigOffset::OptionFlags], 0x1u | 0x2u | 0x800u | 0x40000u);
        const DecodedConfig d = DecodeConfig(b);
        QCOMPARE(d.localIp, QString("10.1.2.3"));
        QCOMPARE(d.localMac, QString("0A-0B-0C-0D-0E-0F"));
        QCOMPARE(d.subnetwork, QString("255.255.0.0"));
        QCOMPARE(d.gateway, QString("10.1.2.254"));
        QCOMPARE(d.controlPort, QString("65535"));
        QVERIFY(d.sessions[0].selected);
        QCOMPARE(d.sessions[0].destinationIp, QString("192.0.0.7"));
        QCOMPARE(d.sessions[0].localPort, QString("6000"));
        QCOMPARE(d.sessions[0].destinationPort, QString("65535"));
        QCOMPARE(d.sessions[0].tos, QString("10111000"));
        QVERIFY(!d.sessions[1].selected);  // enable byte 2
        QCOMPARE(d.optionValues, (std::array<QString, kOptionCount>{"Высокий", "Высокий", "Низкий",
                                                                    "Включено", "Включен"}));
    }

    void writingBackWhatWasReadClearsOnlyTheTosHighBytes() {
        ConfigBlock read{};
        for (int i = 0; i < kConfigBlockSize; ++i)
            read[i] = static_cast<uint8_t>(i * 7 + 3);
        for (int i = 0; i < kSessionCount; ++i)
            read[SessionRecordOffset(i) + SessionOffset::Enable] = i % 2;
        PutU16(&read[SessionRecordOffset(1) + SessionOffset::Tos], 0x01B8);
        const DecodedConfig d = DecodeConfig(read);
        ConfigTexts t;
        t.localIp = d.localIp;
        t.localMac = d.localMac;
        t.subnetwork = d.subnetwork;
        t.gateway = d.gateway;
        t.controlPort = d.controlPort;
        for (int i = 0; i < kSessionCount; ++i) {
            const DecodedSession& s = d.sessions[i];
            t.sessions[i] = Selected(s.destinationIp, s.destinationPort, s.localPort, s.tos);
            t.sessions[i].Enabled = s.selected ? 1 : 0;
        }
        t.optionValues = d.optionValues;
        ConfigBlock out{};
        AdoptReadConfig(read, out);
        EncodeConfig(t, out);
        ConfigBlock expected = read;
        expected[0] = expected[1] = 0x7F;
        expected[94] = expected[95] = 0;
        for (int i = 0; i < kSessionCount; ++i) {
            expected[SessionRecordOffset(i) + SessionOffset::Spare] = 0;
            // Selected or not, no record carries the module's TOS high byte back.
            expected[SessionRecordOffset(i) + SessionOffset::Tos + 1] = 0;
        }
        for (int i = 0; i < kConfigBlockSize; ++i)
            QCOMPARE(int(out[i]), int(expected[i]));
    }
};

QTEST_APPLESS_MAIN(ConfigCodecTest)
#include "test_configcodec.moc"
