// kestrel-cli run as a process against the simulated pair: what it prints, what it changes in the
// modules and how it exits, each exit code from a real failure.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "model/statcolumns.h"
#include "support/sim_pair.h"

namespace {

struct Run {
    int code = -1;
    QString out, err;
};

const QString kWritten = QStringLiteral("Конфигурация записана и проверена чтением");

class TestCli : public QObject {
    Q_OBJECT
    std::unique_ptr<Simulator> sim_;
    QTemporaryDir dir_;
    ModuleState seededA_, seededB_;

    QString at(int module) const {
        return QStringLiteral("127.0.0.%1:%2").arg(module + 1).arg(sim_->port(module));
    }
    // `A` and `B` in an argument stand for the two modules' ADDR:PORT, `@` for the temporary
    // folder, `>FILE` sends standard output there; a first argument `kestrel` runs the utility.
    Run cli(QStringList args) const {
        QStringList real;
        QProcess p;
        const QString program =
            args.value(0) == QLatin1String("kestrel") ? args.takeFirst() : "kestrel-cli";
        for (QString a : args) {
            if (a.startsWith('>'))
                p.setStandardOutputFile(a.mid(1));
            else
                real << (a == QLatin1String("A")   ? at(0)
                         : a == QLatin1String("B") ? at(1)
                                                   : a.replace(QLatin1Char('@'), dir_.path()));
        }
        p.start(QCoreApplication::applicationDirPath() + "/../" + program, real);
        if (!p.waitForFinished(30000))
            return {};
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
    void write(const QString& name, const QString& text) const {
        QFile file(dir_.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
    }
    // Links `port` of `module` over session 1 with `channel` at the other end.
    void link(int module, int port, int channel, uint8_t crossPath) {
        ModuleState s = sim_->module(module).state();
        uint8_t* entry = s.switching->data() + PortEntryOffsetOf(port);
        entry[PortEntryOffset::LinkSession] = kFirstSessionCode;
        entry[PortEntryOffset::RemoteChannel] = uint8_t(channel);
        entry[PortEntryOffset::RemoteCrossPath] = crossPath;
        sim_->module(module).apply(s);
    }
    void misbehave(int module, uint8_t type, MisbehaviourKind kind, int value = 0) {
        Misbehaviour how;
        how.kind = kind;
        how.ms = value;
        how.value = value;
        sim_->module(module).setMisbehaviour(type, how);
    }

  private slots:
    void initTestCase() {
        std::string error;
        sim_ = StartSimulatedPair(&error);
        QVERIFY2(sim_, error.c_str());
        seededA_ = sim_->module(0).state();
        seededB_ = sim_->module(1).state();
        QVERIFY(QFile::link(dir_.filePath("planted"), dir_.filePath("trace-link")));
        write("targets-bad", "# pair\n\n127.0.0.1\nA\n");
        write("targets", "\n" + at(1) + "  # B\n");
        // Exactly the bound, its last byte the last digit of A's port: a file cut short dials
        // another port.
        const QString last = "\n" + at(0);
        write("targets-whole", "#" + QString((1 << 20) - 1 - last.size(), 'x') + last);
    }
    void init() {
        for (int m : {0, 1})
            sim_->module(m).setMisbehaviourForAll({});
        sim_->module(0).apply(seededA_);
        sim_->module(1).apply(seededB_);
    }

    // Exit codes and messages, each from what a module really did.
    void exitCodes_data() {
        QTest::addColumn<QStringList>("args");
        // The command that misbehaves on A (a delay is 700 ms), 0 for none; -1: of B's TF ports
        // only the last exists; -2: A's TF2 is linked with B's last TF line.
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out");  // a line on standard output; after '!', one not there
        QTest::addColumn<QString>("err");  // a line on standard error; {A}, {B} the modules
        const int none = int(MisbehaviourKind::Normal);
        QTest::newRow("read") << QStringList{"config", "read", "A"} << 0 << none << 0
                              << "session1.destination_ip=127.0.0.2"
                              << "Конфигурация считана";
        QTest::newRow("read silent")
            << QStringList{"config", "read", "A"} << int(CmdConnect)
            << int(MisbehaviourKind::Silent) << 4 << ""
            << "Не могу установить соединение с удаленным мультиплексором!";
        QTest::newRow("read 255") << QStringList{"config", "read", "A"} << int(CmdReadConfig)
                                  << int(MisbehaviourKind::Unsupported) << 4 << ""
                                  << "Текущая верия ПО модуля не поддерживает данную команду!";
        QTest::newRow("stats closed") << QStringList{"stats", "A"} << int(CmdReadStatistics)
                                      << int(MisbehaviourKind::Close) << 4 << ""
                                      << "Ошибочный ответ мультиплексора на запрос статистики!";
        QTest::newRow("stats refused")
            << QStringList{"stats", "127.0.0.3:1"} << 0 << none << 4 << ""
            << "127.0.0.3:1: Модуль недоступен";
        QTest::newRow("clear without --yes")
            << QStringList{"stats", "clear", "A"} << 0 << none << 3 << "127.0.0.1"
            << "would change";
        QTest::newRow("clear") << QStringList{"stats", "clear", "A", "--yes"} << 0 << none << 0
                               << ""
                               << "Статистика сброшена";
        QTest::newRow("clear 255")
            << QStringList{"stats", "clear", "A", "--yes"} << int(CmdClearStatistics)
            << int(MisbehaviourKind::Unsupported) << 4 << ""
            << "";
        QTest::newRow("switching")
            << QStringList{"switching", "A", "B"} << 0 << none << 0 << "  A ТМО1 — B ТМО2"
            << "";
        QTest::newRow("switching blocked")
            << QStringList{"switching", "A", "B"} << 0 << none << 0 << "  B ТМО6: порт недоступен"
            << "";
        QTest::newRow("switching blocked, last line")
            << QStringList{"switching", "A", "B"} << 0 << none << 0 << "  A Тр.ТФ4: порт недоступен"
            << "";
        // Every cell of A's TF lines blocked for good but the last: the lines are not blocked.
        QTest::newRow("switching, only the last cell of a line free")
            << QStringList{"switching", "A", "B"} << -1 << none << 0 << "!A ТФ1:"
            << "";
        QTest::newRow("switching no partner")
            << QStringList{"switching", "A", "127.0.0.3:9"} << 0 << none << 4 << ""
            << "Ошибка соединения 3";
        QTest::newRow("counters that cannot be kept")
            << QStringList{"stats", "A", "--csv", "/dev/full"} << 0 << none << 1 << ""
            << "Не удалось записать файл /dev/full";
        QTest::newRow("one at a time")
            << QStringList{"stats", "A", "--parallel", "1"} << 0 << none << 0 << "time,module,"
            << "";
        QTest::newRow("too many at a time")
            << QStringList{"stats", "A", "--parallel", "17"} << 0 << none << 2 << ""
            << "--parallel: ожидается число от 1 до 16";
        QTest::newRow("a round a day")
            << QStringList{"stats", "A", "--every", "86400", "--count", "1"} << 0 << none << 0
            << "time,module,"
            << "";
        QTest::newRow("no rounds")
            << QStringList{"stats", "A", "--count", "0"} << 0 << none << 2 << ""
            << "--count: ожидается целое число от 1";
        QTest::newRow("bad address") << QStringList{"stats", "127.0.0.300"} << 0 << none << 2 << ""
                                     << "Неверный адрес модуля: 127.0.0.300";
        QTest::newRow("unknown command") << QStringList{"reboot", "A"} << 0 << none << 2 << ""
                                         << "Неизвестная команда: reboot";
        QTest::newRow("unknown option")
            << QStringList{"stats", "A", "--bogus"} << 0 << none << 2 << ""
            << "Unknown option 'bogus'";
        QTest::newRow("utility, unknown option")
            << QStringList{"kestrel", "-platform", "offscreen", "--bogus"} << 0 << none << 2 << ""
            << "Unknown option";
        QTest::newRow("read to a full disk")
            << QStringList{"config", "read", "A", ">/dev/full"} << 0 << none << 1 << ""
            << "стандартный вывод";
        QTest::newRow("counters to a full disk")
            << QStringList{"stats", "A", ">/dev/full"} << 0 << none << 1 << ""
            << "стандартный вывод";
        QTest::newRow("endless file")
            << QStringList{"config", "write", "B", "/dev/zero", "--yes"} << 0 << none << 2 << ""
            << "/dev/zero: не обычный файл";
        QTest::newRow("targets, exactly 1 MiB")
            << QStringList{"stats", "--targets", "@/targets-whole"} << 0 << none << 0 << ""
            << "{A}: ответили 1, без ответа 0";
        QTest::newRow("targets, bad line")
            << QStringList{"stats", "--targets", "@/targets-bad"} << 0 << none << 2 << ""
            << "строка 4";
        QTest::newRow("targets for a configuration")
            << QStringList{"config", "read", "A", "--targets", "@/targets"} << 0 << none << 2 << ""
            << "--targets: только для stats и switching";
        QTest::newRow("trace through a link")
            << QStringList{"stats", "A", "--trace", "@/trace-link"} << 0 << none << 2 << ""
            << "--trace";
        QTest::newRow("answer time-out out of range")
            << QStringList{"stats", "A", "--timeout", "61"} << 0 << none << 2 << ""
            << "--timeout";
        // A silent module given up at --timeout, not after the usual 3 s (the rounds' 1.9 s).
        QTest::newRow("answer time-out")
            << QStringList{"stats", "A", "B", "--timeout", "0.3", "--every", "1.9", "--count", "2"}
            << int(CmdReadStatistics) << int(MisbehaviourKind::Silent) << 4 << ""
            << "{A}: ответили 0, без ответа 2, опоздали 0";
        // One request out at a time: B waits for A's late answer, and is late for the next round.
        QTest::newRow("one out at a time")
            << QStringList{"stats", "A",       "--targets", "@/targets", "--parallel",
                           "1",     "--every", "0.4",       "--count",   "2"}
            << int(CmdReadStatistics) << int(MisbehaviourKind::Delay) << 0 << ""
            << "{B}: ответили 1, без ответа 0, опоздали 1";
        QTest::newRow("switching, a link to B's last port")
            << QStringList{"switching", "A", "B"} << -2 << none << 0 << "  A ТФ2 — B Тр.ТФ4"
            << "";
    }
    void exitCodes() {
        QFETCH(QStringList, args);
        QFETCH(int, type);
        QFETCH(int, kind);
        QFETCH(int, code);
        QFETCH(QString, out);
        QFETCH(QString, err);
        err.replace("{A}", at(0)).replace("{B}", at(1));
        if (type > 0)
            misbehave(0, uint8_t(type), MisbehaviourKind(kind),
                      kind == int(MisbehaviourKind::Delay) ? 700 : 0);
        if (type == -2) {
            link(0, PortIndex(0, 7), 9, CrossPathTransit);
            link(1, PortIndex(1, 9), 7, CrossPathLocal);
        }
        if (type == -1) {
            ModuleState b = seededB_;
            for (int port : {6, 7, 8, 9, 16, 17, 18})
                (*b.availability)[port] = 0;
            sim_->module(1).apply(b);
        }
        const Run r = cli(args);
        QVERIFY2(r.code == code, qPrintable(QString::number(r.code) + r.err));
        if (out.startsWith('!'))
            QVERIFY2(!r.out.contains(out.mid(1)) && r.out.contains(QStringLiteral("B ТФ1:")),
                     qPrintable(QString(r.out).replace('\n', '/')));
        else
            QVERIFY2(r.out.contains(out), qPrintable(r.out));
        QVERIFY2(r.err.contains(err), qPrintable(r.err));
    }

    // A's configuration written to B: the difference first, nothing written without --yes, then
    // written, read back and equal.
    void configCopy() {
        const Run a = cli({"config", "read", "A"});
        QCOMPARE(a.code, 0);
        QFile file(dir_.filePath(QStringLiteral("a.conf")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QString wanted = QString(a.out).replace(QLatin1String("flow_control=1"),
                                                      QLatin1String("flow_control=0"));
        file.write(wanted.toUtf8());
        file.close();
        const auto before = sim_->module(1).config();
        const Run refused = cli({"config", "write", "B", "@/a.conf", "--identity"});
        QCOMPARE(refused.code, 3);
        QVERIFY(refused.out.contains(QLatin1String("local_ip: 127.0.0.2 -> 127.0.0.1")));
        QVERIFY(refused.out.contains(QLatin1String("mac: 02-4B-53-49-4D-02 -> 02-4B-53-49-4D-01")));
        QVERIFY(refused.out.contains(QLatin1String("flow_control: 1 -> 0")));
        QVERIFY(sim_->module(1).config() == before);
        const Run written = cli({"config", "write", "B", "@/a.conf", "--yes", "--identity"});
        QVERIFY2(written.code == 0, qPrintable(written.err));
        QVERIFY2(written.err.contains(QStringLiteral("Конфигурация записана и проверена чтением")),
                 qPrintable(written.out + "|" + written.err));
        QCOMPARE(cli({"config", "read", "B"}).out, wanted);
        // The JSON it prints is taken back as well: nothing left to change.
        const Run json = cli({"config", "read", "B", "--json"});
        QFile jsonFile(dir_.filePath(QStringLiteral("b.json")));
        QVERIFY(jsonFile.open(QIODevice::WriteOnly));
        jsonFile.write(json.out.toUtf8());
        jsonFile.close();
        const Run same = cli({"config", "write", "B", "@/b.json"});
        QCOMPARE(same.code, 0);
        QVERIFY(same.out.isEmpty());
    }

    // Files refused whole with --yes, the field or line named, nothing written to B; a bound
    // itself is written.
    void configRefused_data() {
        QTest::addColumn<QString>("source");     // config read of this, `--json` as JSON
        QTest::addColumn<QStringList>("edits");  // pairs: first occurrence, replacement
        QTest::addColumn<QString>("err");
        const QString json = "B --json";
        for (const char* number : {"5001.7", "-0.4", "1e20", "true"})
            QTest::addRow("local port %s", number)
                << json << QStringList{"\"local_port\": 5001", QString("\"local_port\": ") + number}
                << "sessions[0].local_port:";
        QTest::newRow("port past 65535")
            << json << QStringList{"\"local_port\": 5001", "\"local_port\": 65536"}
            << "sessions[0].local_port: ожидается целое число от 0 до 65535";
        QTest::newRow("port 65535, written")
            << json << QStringList{"\"local_port\": 5001", "\"local_port\": 65535"} << kWritten;
        QTest::newRow("fraction out of range")
            << json << QStringList{"\"destination_port\": 5001", "\"destination_port\": 70000.5"}
            << "sessions[0].destination_port:";
        QTest::newRow("seventh session")
            << json << QStringList{"\"sessions\": [", "\"sessions\": [{},"} << "sessions[6]";
        QTest::newRow("sessions as an object")
            << json << QStringList{"\"sessions\": [", "\"sessions\": {\"s\": [", "]\n}", "]}}"}
            << "sessions:";
        QTest::newRow("key twice") << json << QStringList{"\"tos\": ", "\"tos\": \"1\", \"tos\": "}
                                   << "sessions[0].tos задано дважды";
        QTest::newRow("empty") << json << QStringList{"", ""} << "Файл пуст";
        QTest::newRow("text, only comments") << "B" << QStringList{"", "# none\n"} << "ни одного";
        QTest::newRow("text, key twice") << "B" << QStringList{"mask=", "mask=255.0.0.0\nmask="}
                                         << "Строка 4: Поле mask задано дважды";
        QTest::newRow("text, a session not written")
            << "B" << QStringList{"session2.local_port=0", "session2.local_port=70000"}
            << "session2.local_port:";
        QTest::newRow("another module's address") << "A" << QStringList{} << "(local_ip, mac)";
        QTest::newRow("over 1 MiB")
            << "B" << QStringList{"", "#" + QString(1 << 20, 'x') + "\n"} << "больше 1048576 байт";
    }
    void configRefused() {
        QFETCH(QString, source);
        QFETCH(QStringList, edits);
        QFETCH(QString, err);
        QString text = cli(QStringList{"config", "read"} + source.split(' ')).out;
        for (qsizetype i = 0; i + 1 < edits.size(); i += 2) {
            const qsizetype at = edits[i].isEmpty() ? 0 : text.indexOf(edits[i]);
            QVERIFY2(at >= 0, qPrintable(edits[i]));
            text.replace(at, edits[i].isEmpty() ? text.size() : edits[i].size(), edits[i + 1]);
        }
        write("refused.conf", text);
        const auto before = sim_->module(1).config();
        const Run r = cli({"config", "write", "B", "@/refused.conf", "--yes"});
        QVERIFY2(r.code == (err == kWritten ? 0 : 2) && r.err.contains(err), qPrintable(r.err));
        QCOMPARE(sim_->module(1).config() == before, err != kWritten);
    }

    // The manual page (help2man reads --help) lists the very CSV header stats writes.
    void csvHeaderInHelp() {
        const QString help = cli({"--help"}).out;
        const qsizetype from = help.indexOf('\n', help.indexOf(QStringLiteral("Столбцы CSV")));
        QVERIFY(from > 0);
        const QString listed =
            help.mid(from, help.indexOf("Options:") - from).remove(QRegularExpression("\\s"));
        QCOMPARE(listed, cli({"stats", "A"}).out.section('\n', 0, 0));
    }

    // CSV and JSON rows: one per module and answer, every column named; a module whose answer is
    // late is skipped for the round instead of being asked twice.
    void statsRows() {
        misbehave(1, CmdReadStatistics, MisbehaviourKind::Delay, 1200);
        const size_t requestsB = sim_->module(1).requestCount();
        const Run csv = cli({"stats", "A", "B", "--every", "0.4", "--count", "3", "--csv",
                             "@/rows.csv", "--separator", ";"});
        QCOMPARE(csv.code, 0);
        QFile file(dir_.filePath(QStringLiteral("rows.csv")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        const int columns = 2 + int(StatColumns().size());
        QCOMPARE(columns, 2 + 96 + 10);
        QCOMPARE(lines.value(0).split(';').size(), columns);
        QVERIFY(lines.value(0).startsWith(QLatin1String("time;module;s1_local_sortlost_1;")));
        QCOMPARE(lines.filter(at(0)).size(), 3);
        const int rowsB = int(lines.filter(at(1)).size());
        QVERIFY(rowsB >= 1 && rowsB < 3);
        QCOMPARE(sim_->module(1).requestCount() - requestsB, size_t(rowsB));
        QVERIFY(QRegularExpression(
                    QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d;)"))
                    .match(lines.value(1))
                    .hasMatch());
        for (const QString& line : lines)
            QCOMPARE(line.split(';').size(), columns);

        const Run json = cli({"stats", "A", "--json"});
        QCOMPARE(json.code, 0);
        const QJsonObject row = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(row.size(), columns);
        QCOMPARE(row.value(QLatin1String("module")).toString(), at(0));
        QVERIFY(row.value(QLatin1String("tr_txtonetwork_2")).isDouble());
    }
};

}  // namespace

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
