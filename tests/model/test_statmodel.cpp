// The statistics block as the tables show it, the change record and the text log on disk.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "model/bytes.h"
#include "model/statlogfile.h"
#include "model/statmodel.h"

namespace {

// A table held in plain texts, with its headings, counting the writes it gets.
class PlainCells : public StatCells {
  public:
    PlainCells(const QStringList& rows, const QStringList& columns)
        : texts_(rows.size() + 1, QStringList(columns.size() + 1)) {
        for (int r = 0; r < rows.size(); ++r)
            texts_[r + 1][0] = rows[r];
        for (int c = 0; c < columns.size(); ++c)
            texts_[0][c + 1] = columns[c];
    }
    QString cellText(int column, int row) const override { return texts_[row][column]; }
    void setCellText(int column, int row, const QString& text) override {
        texts_[row][column] = text;
        ++writes;
    }
    int writes = 0;

  private:
    QList<QStringList> texts_;
};

// A log's reports as texts: the file's name, after "left " or "dropped N " for those kinds.
StatLogFile::FailureReport Recorder(QStringList& reports) {
    return [&reports](StatLogFile::Trouble t, const QString& name, qint64 n) {
        const char* kinds[] = {"", "left ", "dropped "};
        reports << kinds[int(t)] + (n ? QString::number(n) + " " : "") + name;
    };
}

PlainCells SessionTable() {
    return PlainCells(kSessionRowHeadings, kSessionColumnHeadings);
}
PlainCells TotalsTable() {
    return PlainCells(kTotalsRowHeadings, kTotalsColumnHeadings);
}

// Every counter holds a value of its own: the counter at byte offset o holds 1000 + o / 2.
StatisticsBlock DistinctBlock() {
    StatisticsBlock block{};
    for (int o = 0; o < kStatisticsBlockSize; o += 2)
        PutU16(block.data() + o, static_cast<uint16_t>(1000 + o / 2));
    return block;
}
int DistinctValue(int offset) {
    return 1000 + offset / 2;
}

void Put(StatisticsBlock& block, int offset, int value) {
    PutU16(block.data() + offset, static_cast<uint16_t>(value));
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

}  // namespace

class StatModelTest : public QObject {
    Q_OBJECT
  private slots:
    // Each of the 96 + 10 cells against the offsets of the module's block, written out here
    // rather than computed, so that a wrong record, counter or pair shows as one failing row.
    void cellsTakeTheirCounters_data() {
        QTest::addColumn<bool>("totals");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("expected");
        const int recordOffset[] = {56, 280, 84, 308, 112, 336, 140, 364, 168, 392, 196, 420};
        // Byte offsets within a record of the counter(s) each column shows.
        const QList<QList<int>> columnCounters = {{0, 16}, {4}, {8},  {20},
                                                  {2, 18}, {6}, {10}, {22}};
        for (int r = 1; r <= 12; ++r) {
            for (int c = 1; c <= 8; ++c) {
                int value = 0;
                for (int inRecord : columnCounters[c - 1])
                    value += DistinctValue(recordOffset[r - 1] + inRecord);
                QTest::addRow("%s %s", qPrintable(kSessionRowHeadings[r - 1]),
                              qPrintable(kSessionColumnHeadings[c - 1]))
                    << false << c << r << value;
            }
        }
        // Totals columns 1..5: TxPLIS t0, TxToNetwork(1) t2, TxToPLIS t4, RxPLIS t1,
        // TxToNetwork(2) t3.
        const int totalsCounter[] = {0, 4, 8, 2, 6};
        for (int r = 1; r <= 2; ++r) {
            for (int c = 1; c <= 5; ++c) {
                QTest::addRow("%s %s", qPrintable(kTotalsRowHeadings[r - 1]),
                              qPrintable(kTotalsColumnHeadings[c - 1]))
                    << true << c << r << DistinctValue((r == 1 ? 448 : 458) + totalsCounter[c - 1]);
            }
        }
    }
    void cellsTakeTheirCounters() {
        QFETCH(bool, totals);
        QFETCH(int, column);
        QFETCH(int, row);
        QFETCH(int, expected);
        const StatisticsBlock block = DistinctBlock();
        PlainCells cells = totals ? TotalsTable() : SessionTable();
        if (totals)
            ShowTotals(block, cells);
        else
            ShowSessions(block, cells);
        QCOMPARE(cells.cellText(column, row), QString::number(expected));
    }

    // The two sums are 16-bit: they wrap at 65536 and never show a sign or a fifth digit.
    void sumsWrap_data() {
        QTest::addColumn<int>("column");  // 1 SortLost(1): c0 + c8; 5 SortLost(2): c1 + c9
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<QString>("shown");
        QTest::newRow("65535 + 1") << 1 << 65535 << 1 << "0";
        QTest::newRow("65535 + 65535") << 1 << 65535 << 65535 << "65534";
        QTest::newRow("40000 + 40000") << 5 << 40000 << 40000 << "14464";
        QTest::newRow("largest without wrap") << 5 << 65000 << 535 << "65535";
    }
    void sumsWrap() {
        QFETCH(int, column);
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(QString, shown);
        StatisticsBlock block{};
        const int record = 56;  // S1 Local
        Put(block, record + (column == 1 ? 0 : 2), first);
        Put(block, record + (column == 1 ? 16 : 18), second);
        PlainCells cells = SessionTable();
        ShowSessions(block, cells);
        QCOMPARE(cells.cellText(column, 1), shown);
    }

    // Records 0 and 1 of both sections and the counters c6, c7, c12 and c13 of every record are
    // carried but never shown.
    void unshownBytesChangeNothing() {
        StatisticsBlock block{};
        for (int o = 0; o < 56; ++o) {
            block[o] = 0xFF;
            block[224 + o] = 0xFF;
        }
        for (int record = 0; record < 16; ++record) {
            for (int inRecord : {12, 14, 24, 26})
                Put(block, record * 28 + inRecord, 0xFFFF);
        }
        PlainCells sessions = SessionTable();
        PlainCells totals = TotalsTable();
        ShowSessions(block, sessions);
        ShowTotals(block, totals);
        for (int r = 1; r <= 12; ++r) {
            for (int c = 1; c <= 8; ++c)
                QCOMPARE(sessions.cellText(c, r), QStringLiteral("0"));
        }
        for (int r = 1; r <= 2; ++r) {
            for (int c = 1; c <= 5; ++c)
                QCOMPARE(totals.cellText(c, r), QStringLiteral("0"));
        }
    }

    // Only changed cells are written and recorded, in table order, with the headings the
    // table holds.
    void changeRecording() {
        PlainCells sessions = SessionTable();
        ZeroCells(sessions, StatTable::SessionColumns, StatTable::SessionRows);
        StatisticsBlock block{};
        Put(block, 336 + 6, 17);      // S3 Transit Udf(2)
        Put(block, 56 + 22, 9);       // S1 Local PIB(2)
        Put(block, 56 + 0, 3);        // S1 Local SortLost(1)
        Put(block, 280 + 8, 4);       // S1 Transit Reject(1)
        Put(block, 420 + 16, 65535);  // S6 Transit SortLost(1)
        sessions.writes = 0;
        QCOMPARE(RecordSessionChanges(block, sessions),
                 (QStringList{"S1 Local SortLost(1) = 3", "S1 Local PIB(2) = 9",
                              "S1 Transit Reject(1) = 4", "S3 Transit Udf(2) = 17",
                              "S6 Transit SortLost(1) = 65535"}));
        QCOMPARE(sessions.writes, 5);
        QCOMPARE(sessions.cellText(6, 6), QStringLiteral("17"));

        // The same answer again: nothing written, nothing recorded.
        sessions.writes = 0;
        QVERIFY(RecordSessionChanges(block, sessions).isEmpty());
        QCOMPARE(sessions.writes, 0);

        // A counter back to zero is a change as well.
        Put(block, 56 + 22, 0);
        QCOMPARE(RecordSessionChanges(block, sessions), QStringList{"S1 Local PIB(2) = 0"});
    }

    void logBlock() {
        QCOMPARE(LogBlock("07.12.2026 23:55:08", {"S1 Local Udf(1) = 1", "S2 Local Reject(1) = 4"}),
                 (QStringList{"07.12.2026 23:55:08", "", "S1 Local Udf(1) = 1",
                              "S2 Local Reject(1) = 4", "*********************************", ""}));
        QCOMPARE(ChangeLine("S3 Transit", "Udf(2)", "17"),
                 QStringLiteral("S3 Transit Udf(2) = 17"));
    }

    void dateTimeText_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::newRow("Russian") << "ru_RU"
                                 << "07.12.2026 23:55:08";
        QTest::newRow("slashes, AM/PM") << "en_US"
                                        << "12/7/26 11:55:08 PM";
        QTest::newRow("blanks after dots") << "sk_SK"
                                           << "7. 12. 2026 23:55:08";
        QTest::newRow("quoted literal t kept") << "bg_BG"
                                               << "7.12.26 г. 23:55:08 ч.";
        QTest::newRow("zone in brackets") << "ca_ES"
                                          << "7/12/26 23:55:08";
    }
    void dateTimeText() {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QCOMPARE(StatDateTimeText(QDateTime(QDate(2026, 12, 7), QTime(23, 55, 8)), QLocale(locale)),
                 text);
    }

    void logFileName_data() {
        QTest::addColumn<QString>("dateTime");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("name");
        QTest::newRow("example") << "07.12.2026 23:55:08"
                                 << "192.168.0.24"
                                 << "07.12.2026_23.55.08_192.168.0.24";
        QTest::newRow("blank after a dot") << "7. 12. 2026 23:55:08"
                                           << "10.0.0.1"
                                           << "7.12.2026_23.55.08_10.0.0.1";
        QTest::newRow("date ending in a dot") << "2026. 12. 07. 23:55:08"
                                              << "10.0.0.1"
                                              << "2026.12.07.23.55.08_10.0.0.1";
        QTest::newRow("slashes") << "12/7/26 11:55:08 PM"
                                 << "10.0.0.1"
                                 << "12.7.26_11.55.08_PM_10.0.0.1";
        QTest::newRow("backslashes") << "07\\12\\2026 23:55:08"
                                     << "10.0.0.1"
                                     << "07.12.2026_23.55.08_10.0.0.1";
        QTest::newRow("slash in the address") << "07.12.2026 23:55:08"
                                              << "../x"
                                              << "07.12.2026_23.55.08_...x";
    }
    void logFileName() {
        QFETCH(QString, dateTime);
        QFETCH(QString, address);
        QFETCH(QString, name);
        QCOMPARE(StatLogFileName(dateTime, address), name);
        QCOMPARE(StatWorkingFileName(name), name + ".part");
    }

    // Every block is on disk as soon as it is appended; the finish moves the working file to its
    // final name, or the next free one: an older log is never replaced.
    void logFileGrowsOnDiskAndMoves() {
        QTemporaryDir dir;
        const QString working = dir.filePath("a.part.txt");
        const QString final = dir.filePath("a.txt");
        QFile old(final);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older log that is longer than the new one\n");
        old.close();
        QStringList reports;
        {
            StatLogFile log(working, Recorder(reports));
            QCOMPARE(ReadAll(working), QByteArray());
            log.append({"x", "", "Ж"});
            QCOMPARE(ReadAll(working), QByteArray("x\n\n\xD0\x96\n"));
            log.append({"y"});
            QCOMPARE(ReadAll(working), QByteArray("x\n\n\xD0\x96\ny\n"));
            QVERIFY(log.finish(final));
        }
        QCOMPARE(ReadAll(dir.filePath("a_2.txt")), QByteArray("x\n\n\xD0\x96\ny\n"));
        QVERIFY(!QFile::exists(working));
        QVERIFY(reports.isEmpty());
    }

    // A log that cannot be written is reported once, kept, and written when it can be again.
    void unwritableLogIsReportedAndKept() {
        QTemporaryDir dir;
        const QString folder = dir.filePath("later");
        const QString working = folder + "/a.part.txt";
        QStringList reports;
        StatLogFile log(working, Recorder(reports));
        QCOMPARE(reports, QStringList{working});
        log.append({"one"});
        log.append({"two"});
        QCOMPARE(reports, QStringList{working});  // not again for every block
        // Bounded: blocks that find no room are dropped whole, counted and told at the finish.
        for (int i = 0; i < 1050; ++i)
            log.append({QString(1000, 'z')});
        QVERIFY(QDir().mkpath(folder));
        log.append({"three"});
        QCOMPARE(ReadAll(working).size(), 8 + 1047 * 1001 + 6);
        QVERIFY(log.finish(folder + "/a.txt"));
        QCOMPARE(reports, (QStringList{working, "dropped 3 " + folder + "/a.txt"}));
    }

    void finishNeverLosesSilently() {
        QTemporaryDir dir;
        QStringList reports;
        const auto report = Recorder(reports);
        // No final name can be taken: the line names the working file, which keeps the record.
        {
            const QString working = dir.filePath("b.part.txt");
            StatLogFile log(working, report);
            log.append({"kept"});
            QVERIFY(!log.finish(dir.filePath("missing/b.txt")));
            QCOMPARE(reports, QStringList{"left " + working});
            QCOMPARE(ReadAll(working), QByteArray("kept\n"));
        }
        // No working file could ever be made and the final one cannot be either.
        reports.clear();
        {
            StatLogFile log(dir.filePath("none/c.part.txt"), report);
            log.append({"lost"});
            QVERIFY(!log.finish(dir.filePath("none/c.txt")));
            QCOMPARE(reports,
                     (QStringList{dir.filePath("none/c.part.txt"), dir.filePath("none/c.txt")}));
        }
        // No working file, but the final folder has appeared by the stop: the record is whole.
        reports.clear();
        {
            StatLogFile log(dir.filePath("late/d.part.txt"), report);
            log.append({"early"});
            QVERIFY(QDir(dir.path()).mkdir("late"));
            QVERIFY(log.finish(dir.filePath("late/d.txt")));
            QCOMPARE(ReadAll(dir.filePath("late/d.txt")), QByteArray("early\n"));
            QCOMPARE(reports, QStringList{dir.filePath("late/d.part.txt")});
        }
    }
};

QTEST_GUILESS_MAIN(StatModelTest)
#include "test_statmodel.moc"
