// The port matrices and the cross-check of A and B, without a window.
#include <QtTest>

#include "link/codecs.h"
#include "model/crosscheck.h"
#include "model/portmodel.h"
#include "support/marks.h"
#include "support/recording_shell.h"

Q_DECLARE_METATYPE(Matrix)

namespace {

const QString kNoPartnerA =
    QStringLiteral("В мультиплексоре А не сконфигурирована связь с мультиплексором В");
const QString kNoPartnerB =
    QStringLiteral("В мультиплексоре B не сконфигурирована связь с мультиплексором А");
const QString kBadChannel = QStringLiteral("CheckMuxSwitchSettings: Неправильный номер канала");
const QString kBadCrossPath = QStringLiteral("CheckMuxSwitchSettings: Неправильный кросс-путь");
const QString kInactive = QStringLiteral("Попытка доступа к неактивной ячейке!");
const QString kMixedKinds = QStringLiteral("Несовместимые типы портов в настройках коммутации");

const QString kIpA = QStringLiteral("10.0.0.1");
const QString kIpB = QStringLiteral("10.0.0.2");
constexpr uint8_t kPartnerA = 2;  // session 1 on both sides unless a test says otherwise
constexpr uint8_t kPartnerB = 2;

struct Link {
    int session, channel, crossPath;
    bool operator==(const Link&) const = default;
};

uint8_t* EntryAt(MuxSnapshot& s, int port) {
    return s.data() + SnapshotOffset::Switching + PortEntryOffsetOf(port);
}
Link EntryOf(MuxSnapshot& s, int port) {
    const uint8_t* e = EntryAt(s, port);
    return {e[4], e[5], e[6]};
}
void Put(MuxSnapshot& s, int group, int channel, Link l) {
    PutLink(s, PortIndex(group, channel), uint8_t(l.session), uint8_t(l.channel),
            uint8_t(l.crossPath));
}
void SetSession(MuxSnapshot& s, int session, uint8_t enable, const QString& ip) {
    uint8_t* record = s.data() + SnapshotOffset::Config + SessionRecordOffset(session - 1);
    record[SessionOffset::Enable] = enable;
    IpTextToBytes(ip, record + SessionOffset::DestinationIp);
}
void SetAvailable(MuxSnapshot& s, int group, int channel, bool available) {
    s[SnapshotOffset::Availability + PortIndex(group, channel)] = available ? 1 : 0;
}

// A pair whose session 1 on each side leads to the other, every port present and unlinked,
// and the module's own bytes of every entry marked so that any change to them stands out.
void SeedPair(PairSnapshots& pair) {
    for (MuxSnapshot* s : {&pair.SnapshotA, &pair.SnapshotB}) {
        s->fill(0);
        for (int port = 0; port < kPortCount; ++port) {
            uint8_t* e = EntryAt(*s, port);
            e[0] = uint8_t(0x10 + port);
            e[1] = 0x21;
            e[2] = 0x32;
            e[3] = uint8_t(s == &pair.SnapshotA ? 0xA0 : 0xB0);
            e[7] = uint8_t(0xE0 + port);
            PutLink(*s, port, 0, NoChannel, CrossPathNone);
            (*s)[SnapshotOffset::Availability + port] = 1;
        }
    }
    SetSession(pair.SnapshotA, 1, 1, kIpB);
    SetSession(pair.SnapshotB, 1, 1, kIpA);
}

// Both halves of an agreed link.
void PutAgreed(PairSnapshots& pair, int gA, int cA, int gB, int cB) {
    Put(pair.SnapshotA, gA, cA, {kPartnerA, cB, gB ? 8 : 4});
    Put(pair.SnapshotB, gB, cB, {kPartnerB, cA, gA ? 8 : 4});
}

ModuleEndpoint Module(const QString& ip) {
    return *ParseModuleEndpoint(ip, QStringLiteral("65530"));
}

// The marks of one matrix as rows of '.', 'V' and 'X', row 1 first.
QStringList Marks(const PortMatrix& m, Matrix which) {
    QStringList rows;
    for (int r = 1; r <= LinesOf(which); ++r) {
        QString row;
        for (int c = 1; c <= LinesOf(which); ++c) {
            const CellMark k = m.mark(which, c, r);
            row += k == CellMark::Link ? 'V' : k == CellMark::Block ? 'X' : '.';
        }
        rows << row;
    }
    return rows;
}

const QStringList kFreeTmo = Rows(
    "............ ............ ............ ............ ............ ............ "
    "............ ............ ............ ............ ............ ............");
const QStringList kFreeTf = Rows(
    "........ ........ ........ ........ "
    "........ ........ ........ ........");

}  // namespace

class PortModelTest : public QObject {
    Q_OBJECT

    std::unique_ptr<RecordingShell> shell;
    std::unique_ptr<PortMatrix> matrix;
    PairSnapshots pair;
    MuxSnapshot& SnapshotA = pair.SnapshotA;
    MuxSnapshot& SnapshotB = pair.SnapshotB;
    uint8_t& PartnerSessionA = pair.PartnerSessionA;
    uint8_t& PartnerSessionB = pair.PartnerSessionB;

    int check() { return CheckMuxSwitchSettings(*matrix, pair, Module(kIpA), Module(kIpB)); }
    QStringList tmo() const { return Marks(*matrix, Matrix::Tmo); }
    QStringList tf() const { return Marks(*matrix, Matrix::Tf); }
    bool everyCount(Matrix m, uint8_t value) {
        for (int r = 1; r <= LinesOf(m); ++r) {
            for (int c = 1; c <= LinesOf(m); ++c) {
                if (matrix->count(m, c, r) != value)
                    return false;
            }
        }
        return true;
    }

  private slots:
    void init() {
        shell = std::make_unique<RecordingShell>();
        matrix = std::make_unique<PortMatrix>();
        PartnerSessionA = 0;
        PartnerSessionB = 0;
        SeedPair(pair);
    }
    void cleanup() { shell.reset(); }

    void portLines_data() {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("channel");
        QTest::addColumn<Matrix>("matrix");
        QTest::addColumn<int>("line");
        QTest::newRow("ТМО1") << 0 << 0 << Matrix::Tmo << 1;
        QTest::newRow("ТМО6") << 0 << 5 << Matrix::Tmo << 6;
        QTest::newRow("Тр.ТМО1") << 1 << 0 << Matrix::Tmo << 7;
        QTest::newRow("Тр.ТМО6") << 1 << 5 << Matrix::Tmo << 12;
        QTest::newRow("ТФ1") << 0 << 6 << Matrix::Tf << 1;
        QTest::newRow("ТФ4") << 0 << 9 << Matrix::Tf << 4;
        QTest::newRow("Тр.ТФ1") << 1 << 6 << Matrix::Tf << 5;
        QTest::newRow("Тр.ТФ4") << 1 << 9 << Matrix::Tf << 8;
    }
    void portLines() {
        QFETCH(int, group);
        QFETCH(int, channel);
        QFETCH(Matrix, matrix);
        QFETCH(int, line);
        const PortLine at = LineOfPort(group, channel);
        QCOMPARE(at.matrix, matrix);
        QCOMPARE(at.line, line);
        const PortId back = PortOfLine(matrix, line);
        QCOMPARE(back.group, group);
        QCOMPARE(back.channel, channel);
    }

    // ----- partner sessions -----

    void partnerSessions_data() {
        QTest::addColumn<QList<int>>("sessionsA");  // session, enable byte; all towards B
        QTest::addColumn<QString>("addressB");      // the module B was read from
        QTest::addColumn<int>("partnerA");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("two matching sessions: the lower wins")
            << QList<int>{4, 1, 2, 1} << kIpB << 3 << 0 << QStringList{};
        QTest::newRow("enable byte 2 counts as enabled")
            << QList<int>{5, 2} << kIpB << 6 << 0 << QStringList{};
        QTest::newRow("a disabled session does not count")
            << QList<int>{2, 0, 6, 1} << kIpB << 7 << 0 << QStringList{};
        QTest::newRow("no session towards B")
            << QList<int>{} << kIpB << 0x55 << 1 << QStringList{kNoPartnerA};
        QTest::newRow("B read from a module no session leads to")
            << QList<int>{2, 1} << "10.0.0.9" << 0x55 << 1 << QStringList{kNoPartnerA};
    }
    void partnerSessions() {
        QFETCH(QList<int>, sessionsA);
        QFETCH(QString, addressB);
        QFETCH(int, partnerA);
        QFETCH(int, result);
        QFETCH(QStringList, log);
        SetSession(SnapshotA, 1, 1, QStringLiteral("10.9.9.9"));
        for (int i = 0; i + 1 < sessionsA.size(); i += 2)
            SetSession(SnapshotA, sessionsA[i], uint8_t(sessionsA[i + 1]), kIpB);
        PartnerSessionA = 0x55;
        PartnerSessionB = 0x66;
        PutAgreed(pair, 0, 0, 0, 0);
        QCOMPARE(CheckMuxSwitchSettings(*matrix, pair, Module(kIpA), Module(addressB)), result);
        QCOMPARE(int(PartnerSessionA), partnerA);
        QCOMPARE(shell->log, log);
        if (result == 0) {
            QCOMPARE(int(PartnerSessionB), int(kPartnerB));
        } else {
            // B is not looked at; nothing is shown and nothing blocks.
            QCOMPARE(int(PartnerSessionB), 0x66);
            QCOMPARE(tmo(), kFreeTmo);
            QVERIFY(everyCount(Matrix::Tmo, 255));
            QVERIFY(everyCount(Matrix::Tf, 255));
        }
    }

    void noPartnerAtB() {
        SetSession(SnapshotB, 1, 1, QStringLiteral("10.9.9.9"));
        PartnerSessionB = 0x66;
        QCOMPARE(check(), 1);
        QCOMPARE(shell->log, QStringList{kNoPartnerB});
        QCOMPARE(int(PartnerSessionA), int(kPartnerA));
        QCOMPARE(int(PartnerSessionB), 0x66);
    }

    // With every counter at 255 a double click places links and blocks nothing.
    void noPartnerLeavesEveryCellFree() {
        PutAgreed(pair, 0, 0, 0, 0);
        SetSession(SnapshotA, 1, 0, kIpB);
        QCOMPARE(check(), 1);
        matrix->Toggle(Matrix::Tmo, 2, 3);
        matrix->Toggle(Matrix::Tmo, 5, 3);
        QCOMPARE(
            tmo(),
            Rows("............ ............ .V..V....... ............ ............ ............ "
                 "............ ............ ............ ............ ............ ............"));
        matrix->Toggle(Matrix::Tmo, 2, 3);
        QCOMPARE(
            tmo(),
            Rows("............ ............ ....V....... ............ ............ ............ "
                 "............ ............ ............ ............ ............ ............"));
        QVERIFY(everyCount(Matrix::Tmo, 255));
    }

    // ----- ports that cannot take a link -----

    void portsBlockedForGood_data() {
        QTest::addColumn<int>("mux");
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("channel");
        QTest::addColumn<bool>("foreign");  // switched over a session not towards the other side
        QTest::addColumn<int>("code");      // of that session
        QTest::addColumn<QStringList>("marks");
        QTest::newRow("A's transit TMO3 missing")
            << 0 << 1 << 2 << false << 0
            << Rows(
                   "............ ............ ............ ............ ............ ............ "
                   "............ ............ XXXXXXXXXXXX ............ ............ ............");
        QTest::newRow("B's TF2 missing") << 1 << 0 << 7 << false << 0
                                         << Rows(
                                                ".X...... .X...... .X...... .X...... "
                                                ".X...... .X...... .X...... .X......");
        QTest::newRow("A's TF1 over session 3") << 0 << 0 << 6 << true << 4
                                                << Rows(
                                                       "XXXXXXXX ........ ........ ........ "
                                                       "........ ........ ........ ........");
        QTest::newRow("B's TMO4 over session 3")
            << 1 << 0 << 3 << true << 4
            << Rows(
                   "...X........ ...X........ ...X........ ...X........ ...X........ ...X........ "
                   "...X........ ...X........ ...X........ ...X........ ...X........ ...X........");
        QTest::newRow("A's TMO5 over session 6, the last code")
            << 0 << 0 << 4 << true << 7
            << Rows(
                   "............ ............ ............ ............ XXXXXXXXXXXX ............ "
                   "............ ............ ............ ............ ............ ............");
    }
    void portsBlockedForGood() {
        QFETCH(int, mux);
        QFETCH(int, group);
        QFETCH(int, channel);
        QFETCH(bool, foreign);
        QFETCH(int, code);
        QFETCH(QStringList, marks);
        MuxSnapshot& side = mux == 0 ? SnapshotA : SnapshotB;
        const Link foreignLink{code, 1, 4};
        if (foreign)
            Put(side, group, channel, foreignLink);
        else
            SetAvailable(side, group, channel, false);
        QCOMPARE(check(), 0);
        QVERIFY(shell->log.isEmpty());
        const PortLine at = LineOfPort(group, channel);
        QCOMPARE(Marks(*matrix, at.matrix), marks);
        for (int a = 1; a <= LinesOf(at.matrix); ++a) {
            const int c = mux == 0 ? a : at.line;
            const int r = mux == 0 ? at.line : a;
            QCOMPARE(int(matrix->count(at.matrix, c, r)), 255);
            matrix->Toggle(at.matrix, c, r);
        }
        QCOMPARE(Marks(*matrix, at.matrix), marks);
        // Elsewhere the counters start from nothing.
        const int other = at.line == 1 ? 2 : 1;
        QCOMPARE(int(matrix->count(at.matrix, other, other)), 0);
        // A foreign link is left for its own session.
        if (foreign)
            QCOMPARE(EntryOf(side, PortIndex(group, channel)), foreignLink);
    }

    // Session codes outside 2..7 are no link; the entry is written back as unlinked.
    void entriesWithoutSessionAreNormalised_data() {
        QTest::addColumn<int>("session");
        QTest::newRow("code 1") << 1;
        QTest::newRow("code 8") << 8;
        QTest::newRow("code 0 with a far port") << 0;
    }
    void entriesWithoutSessionAreNormalised() {
        QFETCH(int, session);
        Put(SnapshotA, 0, 3, {session, 2, 4});
        Put(SnapshotB, 0, 2, {kPartnerB, 3, 4});  // points back, but A holds no link
        MuxSnapshot before = SnapshotA;
        QCOMPARE(check(), 0);
        QCOMPARE(EntryOf(SnapshotA, 3), (Link{0, NoChannel, 0}));
        QCOMPARE(EntryOf(SnapshotB, 2), (Link{kPartnerB, 3, 4}));
        QCOMPARE(tmo(), kFreeTmo);
        for (int i : {0, 1, 2, 3, 7})
            QCOMPARE(EntryAt(SnapshotA, 3)[i], EntryAt(before, 3)[i]);
    }

    // ----- links -----

    void agreedLinks_data() {
        QTest::addColumn<QList<int>>("ports");  // gA, cA, gB, cB
        QTest::addColumn<Matrix>("matrix");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("marks");
        QTest::newRow("TMO4 of A with transit TMO5 of B")
            << QList<int>{0, 3, 1, 4} << Matrix::Tmo << 11 << 4
            << Rows(
                   "..........X. ..........X. ..........X. XXXXXXXXXXVX ..........X. ..........X. "
                   "..........X. ..........X. ..........X. ..........X. ..........X. ..........X.");
        QTest::newRow("transit TMO6 of A with transit TMO1 of B")
            << QList<int>{1, 5, 1, 0} << Matrix::Tmo << 7 << 12
            << Rows(
                   "......X..... ......X..... ......X..... ......X..... ......X..... ......X..... "
                   "......X..... ......X..... ......X..... ......X..... ......X..... XXXXXXVXXXXX");
        QTest::newRow("transit TF2 of A with TF3 of B")
            << QList<int>{1, 7, 0, 8} << Matrix::Tf << 3 << 6
            << Rows(
                   "..X..... ..X..... ..X..... ..X..... "
                   "..X..... XXVXXXXX ..X..... ..X.....");
    }
    void agreedLinks() {
        QFETCH(QList<int>, ports);
        QFETCH(Matrix, matrix);
        QFETCH(int, column);
        QFETCH(int, row);
        QFETCH(QStringList, marks);
        PutAgreed(pair, ports[0], ports[1], ports[2], ports[3]);
        const MuxSnapshot a = SnapshotA;
        const MuxSnapshot b = SnapshotB;
        QCOMPARE(check(), 0);
        QVERIFY(shell->log.isEmpty());
        QCOMPARE(Marks(*this->matrix, matrix), marks);
        const bool tmoLink = matrix == Matrix::Tmo;
        QCOMPARE(Marks(*this->matrix, tmoLink ? Matrix::Tf : Matrix::Tmo),
                 tmoLink ? kFreeTf : kFreeTmo);
        QCOMPARE(int(this->matrix->count(matrix, column, row)), 0);
        QCOMPARE(int(this->matrix->count(matrix, column == 1 ? 2 : 1, row)), 1);
        QCOMPARE(int(this->matrix->count(matrix, column, row == 1 ? 2 : 1)), 1);
        QVERIFY(SnapshotA == a);
        QVERIFY(SnapshotB == b);
    }

    // A (0,3) and A (0,4) both name B (0,2); B (0,2) names A (0,4).
    void crossingPairKeepsTheConfirmedHalf() {
        PutAgreed(pair, 0, 4, 0, 2);
        Put(SnapshotA, 0, 3, {kPartnerA, 2, 4});
        QCOMPARE(check(), 0);
        QCOMPARE(
            tmo(),
            Rows("..X......... ..X......... ..X......... XXXXXXXXXXXX XXVXXXXXXXXX ..X......... "
                 "..X......... ..X......... ..X......... ..X......... ..X......... ..X........."));
        // The stale half is cut whole, so that once written it reads back as unlinked.
        QCOMPARE(EntryOf(SnapshotA, 3), (Link{0, NoChannel, 0}));
        QCOMPARE(EntryOf(SnapshotA, 4), (Link{kPartnerA, 2, 4}));
        QCOMPARE(EntryOf(SnapshotB, 2), (Link{kPartnerB, 4, 4}));
        // Only the cell the link crosses counts; removing the link frees it and no other.
        QCOMPARE(int(matrix->count(Matrix::Tmo, 3, 4)), 1);
        QCOMPARE(int(matrix->count(Matrix::Tmo, 5, 4)), 0);
        matrix->Toggle(Matrix::Tmo, 3, 5);
        QCOMPARE(
            tmo(),
            Rows("............ ............ ............ XX.XXXXXXXXX ............ ............ "
                 "............ ............ ............ ............ ............ ............"));
        // Checked again on what it left, the pair is clean.
        shell->log.clear();
        QCOMPARE(check(), 0);
        QVERIFY(shell->log.isEmpty());
    }

    void halvesThatDoNotMeet_data() {
        QTest::addColumn<QList<int>>("entryA3");  // A's TMO4
        QTest::addColumn<QList<int>>("entryB2");  // B's TMO3
        QTest::addColumn<QList<int>>("entryA4");  // A's TMO5
        QTest::addColumn<QList<int>>("afterA3");
        QTest::addColumn<QList<int>>("afterB2");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("B names another port of A that does not name it back")
            << QList<int>{kPartnerA, 2, 4} << QList<int>{kPartnerB, 4, 4}
            << QList<int>{0, NoChannel, 0} << QList<int>{kPartnerA, NoChannel, 0}
            << QList<int>{kPartnerB, NoChannel, 0} << QStringList{};
        // Held by the other port only when that port names B's port back, channel and path.
        QTest::newRow("B names another port of A, which names another port of B")
            << QList<int>{kPartnerA, 2, 4} << QList<int>{kPartnerB, 4, 4}
            << QList<int>{kPartnerA, 5, 4} << QList<int>{kPartnerA, NoChannel, 0}
            << QList<int>{kPartnerB, NoChannel, 0} << QStringList{};
        QTest::newRow("B names a port of A over an unknown cross-path")
            << QList<int>{kPartnerA, 2, 4} << QList<int>{kPartnerB, 3, 9}
            << QList<int>{0, NoChannel, 0} << QList<int>{kPartnerA, NoChannel, 0}
            << QList<int>{kPartnerB, NoChannel, 0} << QStringList{};
        QTest::newRow("B's port is not linked")
            << QList<int>{kPartnerA, 2, 4} << QList<int>{0, NoChannel, 0}
            << QList<int>{0, NoChannel, 0} << QList<int>{kPartnerA, 2, 4}
            << QList<int>{0, NoChannel, 0} << QStringList{};
        QTest::newRow("B's port points at A, A's port is free")
            << QList<int>{0, NoChannel, 0} << QList<int>{kPartnerB, 3, 4}
            << QList<int>{0, NoChannel, 0} << QList<int>{0, NoChannel, 0}
            << QList<int>{kPartnerB, 3, 4} << QStringList{};
        QTest::newRow("TMO port of A names a TF channel")
            << QList<int>{kPartnerA, 7, 8} << QList<int>{0, NoChannel, 0}
            << QList<int>{0, NoChannel, 0} << QList<int>{kPartnerA, 7, 8}
            << QList<int>{0, NoChannel, 0} << QStringList{kMixedKinds};
    }
    void halvesThatDoNotMeet() {
        QFETCH(QList<int>, entryA3);
        QFETCH(QList<int>, entryB2);
        QFETCH(QList<int>, entryA4);
        QFETCH(QList<int>, afterA3);
        QFETCH(QList<int>, afterB2);
        QFETCH(QStringList, log);
        Put(SnapshotA, 0, 3, {entryA3[0], entryA3[1], entryA3[2]});
        Put(SnapshotB, 0, 2, {entryB2[0], entryB2[1], entryB2[2]});
        Put(SnapshotA, 0, 4, {entryA4[0], entryA4[1], entryA4[2]});
        // The TF port of B that A's TMO port names, naming A's port back.
        Put(SnapshotB, 1, 7, {kPartnerB, 3, 4});
        QCOMPARE(check(), 0);
        QCOMPARE(shell->log, log);
        QCOMPARE(tmo(), kFreeTmo);
        QCOMPARE(tf(), kFreeTf);
        QCOMPARE(EntryOf(SnapshotA, 3), (Link{afterA3[0], afterA3[1], afterA3[2]}));
        QCOMPARE(EntryOf(SnapshotB, 2), (Link{afterB2[0], afterB2[1], afterB2[2]}));
    }

    // A half over the partner session that names no far port is what a cut link leaves (and
    // what a write of it puts back): unlinked, never a stop. Any other bad far end stops.
    void badEntriesStopTheAnalysis_data() {
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("crossPath");
        QTest::addColumn<QString>("line");
        const QString stopped =
            "VXXXXXXXXXXX X........... X........... X........... X........... X........... "
            "X........... X........... X........... X........... X........... X...........";
        const QString unlinked =
            "VXXXXXXXXXXX X......X.... X......X.... X......X.... X......X.... X......X.... "
            "XXXXXXXVXXXX X......X.... X......X.... X......X.... X......X.... X......X....";
        QTest::addColumn<QString>("marks");
        QTest::newRow("far channel 170, as a cut leaves it")
            << int(NoChannel) << 0 << QString() << unlinked;
        QTest::newRow("far channel 170 with a cross-path")
            << int(NoChannel) << 4 << QString() << unlinked;
        QTest::newRow("far channel 10") << 10 << 8 << kBadChannel << stopped;
        QTest::newRow("cross-path 0") << 2 << 0 << kBadCrossPath << stopped;
        QTest::newRow("cross-path 12") << 2 << 12 << kBadCrossPath << stopped;
    }
    void badEntriesStopTheAnalysis() {
        QFETCH(int, channel);
        QFETCH(int, crossPath);
        QFETCH(QString, line);
        QFETCH(QString, marks);
        PutAgreed(pair, 0, 0, 0, 0);  // before the bad port: shown
        Put(SnapshotA, 0, 4, {kPartnerA, channel, crossPath});
        PutAgreed(pair, 1, 0, 1, 1);  // after it: never looked at when the analysis stops
        QCOMPARE(check(), line.isEmpty() ? 0 : 1);
        QCOMPARE(shell->log, line.isEmpty() ? QStringList{} : QStringList{line});
        QCOMPARE(tmo(), Rows(qPrintable(marks)));
        if (line.isEmpty())
            QCOMPARE(EntryOf(SnapshotA, 4), (Link{0, NoChannel, 0}));
    }

    // B's port names A's port back but is missing: its column is blocked before any link.
    void linkOntoABlockedCellIsLogged() {
        PutAgreed(pair, 0, 1, 0, 1);
        PutAgreed(pair, 0, 2, 0, 3);
        SetAvailable(SnapshotB, 0, 1, false);
        QCOMPARE(check(), 0);
        QCOMPARE(shell->log, QStringList{kInactive});
        QCOMPARE(
            tmo(),
            Rows(".X.X........ .X.X........ XXXVXXXXXXXX .X.X........ .X.X........ .X.X........ "
                 ".X.X........ .X.X........ .X.X........ .X.X........ .X.X........ .X.X........"));
    }

    // ----- the operator's editing -----

    void placeLinkOnBlockedCellChangesNothing() {
        QVERIFY(matrix->PlaceLink(0, 1, 0, 1));
        QCOMPARE(
            tmo(),
            Rows(".X.......... XVXXXXXXXXXX .X.......... .X.......... .X.......... .X.......... "
                 ".X.......... .X.......... .X.......... .X.......... .X.......... .X.........."));
        const QStringList marks = tmo();
        const PortBlockCounts before = matrix->counts();
        QVERIFY(!matrix->PlaceLink(0, 1, 0, 4));  // cell (5, 2): blocked by the link's row
        QCOMPARE(shell->log, QStringList{kInactive});
        QCOMPARE(tmo(), marks);
        QVERIFY(matrix->counts().tmo == before.tmo);
        // Ports of different kinds have no cell at all.
        shell->log.clear();
        QVERIFY(!matrix->PlaceLink(0, 5, 0, 6));
        QVERIFY(!matrix->PlaceLink(0, 6, 1, 0));
        QVERIFY(shell->log.isEmpty());
        QCOMPARE(tmo(), marks);
        QCOMPARE(tf(), kFreeTf);
    }

    void togglingCounts() {
        const QStringList twoLinks = Rows(
            "XVXXXXXX .X..X... XXXXVXXX .X..X... "
            ".X..X... .X..X... .X..X... .X..X...");
        matrix->Toggle(Matrix::Tf, 2, 1);
        matrix->Toggle(Matrix::Tf, 5, 3);
        QCOMPARE(tf(), twoLinks);
        QCOMPARE(int(matrix->count(Matrix::Tf, 5, 1)), 2);  // in one link's row, the other's column
        // A blocked cell takes no click and logs nothing.
        matrix->Toggle(Matrix::Tf, 5, 1);
        QCOMPARE(tf(), twoLinks);
        QVERIFY(shell->log.isEmpty());
        matrix->Toggle(Matrix::Tf, 2, 1);
        QCOMPARE(tf(), Rows("....X... ....X... XXXXVXXX ....X... "
                            "....X... ....X... ....X... ....X..."));
        matrix->Toggle(Matrix::Tf, 5, 3);
        QCOMPARE(tf(), kFreeTf);
        QVERIFY(everyCount(Matrix::Tf, 0));
        QCOMPARE(tmo(), kFreeTmo);
    }

    // ----- back into the blocks -----

    void gridsToSnapshots_data() {
        QTest::addColumn<Matrix>("matrix");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("portA");
        QTest::addColumn<QList<int>>("entryA");
        QTest::addColumn<int>("portB");
        QTest::addColumn<QList<int>>("entryB");
        QTest::newRow("TMO row 8, column 2")
            << Matrix::Tmo << 2 << 8 << 11 << QList<int>{5, 1, 4} << 1 << QList<int>{6, 1, 8};
        QTest::newRow("TF row 1, column 5")
            << Matrix::Tf << 5 << 1 << 6 << QList<int>{5, 6, 8} << 16 << QList<int>{6, 6, 4};
    }
    void gridsToSnapshots() {
        QFETCH(Matrix, matrix);
        QFETCH(int, column);
        QFETCH(int, row);
        QFETCH(int, portA);
        QFETCH(QList<int>, entryA);
        QFETCH(int, portB);
        QFETCH(QList<int>, entryB);
        // Every entry starts linked to something, so that a free cell's clearing shows.
        for (int port = 0; port < kPortCount; ++port) {
            PutLink(SnapshotA, port, 3, 9, 8);
            PutLink(SnapshotB, port, 3, 9, 8);
        }
        // A's transit TMO6 row blocked for good: its entry is left as it is.
        this->matrix->MarkPortUnavailable(MuxA, 1, 5);
        this->matrix->Toggle(matrix, column, row);
        const MuxSnapshot a = SnapshotA;
        const MuxSnapshot b = SnapshotB;
        this->matrix->GridsToSnapshots(SnapshotA, SnapshotB, 5, 6);
        QCOMPARE(EntryOf(SnapshotA, portA), (Link{entryA[0], entryA[1], entryA[2]}));
        QCOMPARE(EntryOf(SnapshotB, portB), (Link{entryB[0], entryB[1], entryB[2]}));
        QCOMPARE(EntryOf(SnapshotA, 15), (Link{3, 9, 8}));
        for (int port = 0; port < kPortCount; ++port) {
            if (port != portA && port != 15)
                QCOMPARE(EntryOf(SnapshotA, port), (Link{0, NoChannel, 0}));
            if (port != portB)
                QCOMPARE(EntryOf(SnapshotB, port), (Link{0, NoChannel, 0}));
            for (int i : {0, 1, 2, 3, 7}) {
                QCOMPARE(EntryAt(SnapshotA, port)[i], a[SnapshotOffset::Switching + 8 * port + i]);
                QCOMPARE(EntryAt(SnapshotB, port)[i], b[SnapshotOffset::Switching + 8 * port + i]);
            }
        }
        // Nothing outside the switching blocks is touched.
        QVERIFY(std::equal(a.begin(), a.begin() + SnapshotOffset::Switching, SnapshotA.begin()));
        QVERIFY(std::equal(b.begin() + SnapshotOffset::Availability, b.end(),
                           SnapshotB.begin() + SnapshotOffset::Availability));
    }
};

QTEST_MAIN(PortModelTest)
#include "test_portmodel.moc"
