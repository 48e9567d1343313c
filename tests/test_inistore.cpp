// The INI settings store: defaults, write-at-once, and tolerance of damaged files.
#include <QtTest>

#include "ui/inistore.h"

namespace {
void WriteFile(const QString& path, const QByteArray& content) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}
}  // namespace

class IniStoreTest : public QObject {
    Q_OBJECT
  private slots:
    void missingFileGivesDefaults() {
        QTemporaryDir dir;
        IniStore store(dir.filePath("none.ini"));
        QCOMPARE(store.ReadString("ConnectionSettings", "MuxPort", "65530"), QString("65530"));
        QCOMPARE(store.ReadString("ConnectionSettings", "MuxIp", ""), QString());
        QVERIFY(!QFile::exists(dir.filePath("none.ini")));
    }

    void writtenAtOnceAndReadBack() {
        QTemporaryDir dir;
        const QString path = dir.filePath("k.ini");
        IniStore store(path);
        QVERIFY(store.WriteString("Statistic", "MuxIp0", "10.0.0.5"));
        // Another store on the same file sees it: nothing is held back in memory.
        QCOMPARE(IniStore(path).ReadString("Statistic", "MuxIp0", "x"), QString("10.0.0.5"));
        QVERIFY(store.WriteString("Statistic", "MuxIp0", "10.0.0.6"));
        QVERIFY(store.WriteString("SwitchSettings", "IpA0", "10.0.0.7"));
        QVERIFY(store.WriteString("Statistic", "MuxPort0", "4000"));
        IniStore again(path);
        QCOMPARE(again.ReadString("Statistic", "MuxIp0", "x"), QString("10.0.0.6"));
        QCOMPARE(again.ReadString("Statistic", "MuxPort0", "x"), QString("4000"));
        QCOMPARE(again.ReadString("SwitchSettings", "IpA0", "x"), QString("10.0.0.7"));
        // Same key in another section is another value.
        QCOMPARE(again.ReadString("SwitchSettings", "MuxIp0", "none"), QString("none"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        QCOMPARE(text.count("[Statistic]"), 1);
    }

    void valuesKeepTheirText_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("empty") << "";
        QTest::newRow("cyrillic") << QStringLiteral("Мультиплексор А");
        QTest::newRow("equals sign") << "a=b";
        QTest::newRow("minus one") << "-1";
    }
    void valuesKeepTheirText() {
        QFETCH(QString, value);
        QTemporaryDir dir;
        IniStore store(dir.filePath("k.ini"));
        QVERIFY(store.WriteString("S", "K", value));
        QCOMPARE(IniStore(dir.filePath("k.ini")).ReadString("S", "K", "default"), value);
    }

    void malformedLinesAreSkipped() {
        QTemporaryDir dir;
        const QString path = dir.filePath("k.ini");
        WriteFile(path,
                  "garbage before any section\n"
                  "[ConnectionSettings\n"
                  "MuxIp=1.1.1.1\n"
                  "[ConnectionSettings]\n"
                  "no equals sign here\n"
                  "=value without key\n"
                  "MuxPort=4464\r\n"
                  "\xff\xfe\x00 binary\n"
                  "[]\n"
                  "MuxIp=2.2.2.2\n");
        IniStore store(path);
        QCOMPARE(store.ReadString("ConnectionSettings", "MuxPort", "65530"), QString("4464"));
        QCOMPARE(store.ReadString("ConnectionSettings", "MuxIp", "d"), QString("d"));
        // Writing keeps what could be read and drops nothing fatal.
        QVERIFY(store.WriteString("ConnectionSettings", "MuxIp", "3.3.3.3"));
        QCOMPARE(IniStore(path).ReadString("ConnectionSettings", "MuxPort", "x"), QString("4464"));
        QCOMPARE(IniStore(path).ReadString("ConnectionSettings", "MuxIp", "x"), QString("3.3.3.3"));
    }

    void unwritableFileIsReportedNotFatal() {
        IniStore store("/proc/no/such/dir/k.ini");
        QVERIFY(!store.WriteString("S", "K", "V"));
        QCOMPARE(store.ReadString("S", "K", "d"), QString("d"));
    }
};

QTEST_APPLESS_MAIN(IniStoreTest)
#include "test_inistore.moc"
