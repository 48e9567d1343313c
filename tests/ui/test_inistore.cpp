// The INI settings store: defaults, write-at-once, and tolerance of damaged files.
#include <sys/stat.h>
#include <unistd.h>
#include <QtTest>

#include "support/recording_shell.h"
#include "ui/inistore.h"

namespace {
void WriteFile(const QString& path, const QByteArray& content) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}
QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// A file an operator has edited by hand: comments, blanks, a damaged header with a key under
// it, a line the program cannot read, and no end of line after the last line.
const QByteArray kEdited =
    "; kestrel settings, edited by hand\r\n"
    "\r\n"
    "[ ConnectionSettings ]\r\n"
    "MuxIp = 127.0.0.1\r\n"
    "# the port of the lab module\r\n"
    "MuxPort\t=\t4464\r\n"
    "\r\n"
    "[Statistic\r\n"
    "MuxIp0=10.9.9.9\r\n"
    "what is this line\r\n"
    "[SwitchSettings]\r\n"
    "CountA=1";
}  // namespace

class IniStoreTest : public QObject {
    Q_OBJECT
  private slots:
    // A pipe or a device would block or never end: told once, left alone, defaults read.
    void missingFileGivesDefaults_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "";
        QTest::newRow("pipe") << "pipe";
        QTest::newRow("link to /dev/zero") << "zero";
    }
    void missingFileGivesDefaults() {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath("none.ini");
        QVERIFY(kind != "pipe" || ::mkfifo(QFile::encodeName(path), 0600) == 0);
        QVERIFY(kind != "zero" || QFile::link("/dev/zero", path));
        RecordingShell shell;
        IniStore store(path);
        QCOMPARE(store.ReadString("ConnectionSettings", "MuxPort", "65530"), QString("65530"));
        QCOMPARE(store.ReadString("ConnectionSettings", "MuxIp", ""), QString());
        QVERIFY(!QFileInfo(path).isFile());  // reading made no file
        QCOMPARE(store.WriteString("S", "K", "V"), kind.isEmpty());
        QCOMPARE(shell.errors.size(), kind.isEmpty() ? 0 : 1);
    }

    void writtenAtOnceAndReadBack() {
        QTemporaryDir dir;
        const QString path = dir.filePath("k.ini");
        IniStore store(path);
        QVERIFY(store.WriteString("Statistic", "MuxIp0", "10.0.0.5"));
        // Another store on the same file sees it: nothing written is held back in memory.
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
        // Read once: another store's write shows only after this store's own write, which keeps it.
        QVERIFY(store.WriteString("Statistic", "MuxIp0", "10.0.0.8"));
        QCOMPARE(again.ReadString("Statistic", "MuxIp0", "x"), QString("10.0.0.6"));
        QVERIFY(again.WriteString("Statistic", "MuxPort0", "4001"));
        QCOMPARE(again.ReadString("Statistic", "MuxIp0", "x"), QString("10.0.0.8"));
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
        // Pasted line breaks would start sections and keys: removed, with every control character.
        QTest::newRow("pasted lines, tab, bell") << "10.0.0.1\n[X]\r\nK=\t\a1";
    }
    void valuesKeepTheirText() {
        QFETCH(QString, value);
        QTemporaryDir dir;
        IniStore store(dir.filePath("k.ini"));
        QVERIFY(store.WriteString("S", "K", value));
        QCOMPARE(IniStore(dir.filePath("k.ini")).ReadString("S", "K", "default"),
                 value.contains('\n') ? "10.0.0.1[X]K=1" : value);
    }

    void blanksAroundNamesAndValuesMeanNothing() {
        QTemporaryDir dir;
        WriteFile(dir.filePath("k.ini"), kEdited);
        IniStore store(dir.filePath("k.ini"));
        QCOMPARE(store.ReadString("ConnectionSettings", "MuxIp", "d"), QString("127.0.0.1"));
        QCOMPARE(store.ReadString("connectionsettings", "muxport", "d"), QString("4464"));
        // A key under a damaged header belongs to no section.
        QCOMPARE(store.ReadString("Statistic", "MuxIp0", "d"), QString("d"));
    }

    void writeChangesOnlyItsLine_data() {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("expected");
        QByteArray changed = kEdited;
        changed.replace("MuxIp = 127.0.0.1", "MuxIp = 10.1.2.3");
        QTest::newRow("key in place") << "ConnectionSettings"
                                      << "MuxIp" << changed;
        changed = kEdited;
        changed.replace("MuxPort\t=\t4464", "MuxPort\t=\t10.1.2.3");
        QTest::newRow("key of another case") << "connectionsettings"
                                             << "MUXPORT" << changed;
        changed = kEdited;
        changed.replace("MuxPort\t=\t4464\r\n", "MuxPort\t=\t4464\r\nNew=10.1.2.3\r\n");
        QTest::newRow("new key at the end of its section") << "ConnectionSettings"
                                                           << "New" << changed;
        QTest::newRow("new key in the last section, no end of line")
            << "SwitchSettings"
            << "CountB" << kEdited + "\r\nCountB=10.1.2.3\r\n";
        QTest::newRow("the damaged section is added anew")
            << "Statistic"
            << "MuxIp0" << kEdited + "\r\n[Statistic]\r\nMuxIp0=10.1.2.3\r\n";
    }
    void writeChangesOnlyItsLine() {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QByteArray, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath("k.ini");
        WriteFile(path, kEdited);
        IniStore store(path);
        QVERIFY(store.ReadString(section, key, "d") != "10.1.2.3");
        QVERIFY(store.WriteString(section, key, "10.1.2.3"));
        QCOMPARE(ReadFile(path), expected);
        // Having read the file before its write, the store reads what it wrote.
        QCOMPARE(store.ReadString(section, key, "d"), QString("10.1.2.3"));
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

    // The atomic write needs the folder, the file does not (written as nobody: root ignores bits).
    void writableFileInAFolderThatIsNot() {
        QTemporaryDir dir;
        const QString path = dir.filePath("k.ini");
        WriteFile(path, "[S]\nK=old\n");
        QVERIFY(::chmod(QFile::encodeName(path), 0666) == 0 &&
                ::chmod(QFile::encodeName(dir.path()), 0555) == 0);
        const bool root = ::geteuid() == 0;
        QVERIFY(!root || ::seteuid(65534) == 0);
        const bool written = IniStore(path).WriteString("S", "K", "new");
        QVERIFY(!root || ::seteuid(0) == 0);
        ::chmod(QFile::encodeName(dir.path()), 0700);
        QVERIFY(written && ReadFile(path) == "[S]\nK=new\n");
    }

    void unwritableFileIsReportedOnceAndKeptIntact() {
        QTemporaryDir dir;
        // A folder in the way of the rename fails for root too.
        const QString blocked = dir.filePath("blocked.ini");
        QVERIFY(QDir(dir.path()).mkdir("blocked.ini"));
        RecordingShell shell;
        IniStore store(blocked);
        QVERIFY(!store.WriteString("S", "K", "V"));
        QVERIFY(!store.WriteString("S", "K2", "V"));
        QCOMPARE(shell.errors.size(), 1);
        QVERIFY2(shell.errors[0].contains(blocked), qPrintable(shell.errors[0]));
        QVERIFY(QFileInfo(blocked).isDir());
        // Told again after the file could be written once more and then failed anew.
        QVERIFY(QDir(dir.path()).rmdir("blocked.ini"));
        QVERIFY(store.WriteString("S", "K", "V"));
        QVERIFY(QFile::remove(blocked));
        QVERIFY(QDir(dir.path()).mkdir("blocked.ini"));
        QVERIFY(!store.WriteString("S", "K", "W"));
        QCOMPARE(shell.errors.size(), 2);
    }
};

QTEST_APPLESS_MAIN(IniStoreTest)
#include "test_inistore.moc"
