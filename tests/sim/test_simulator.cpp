// The module simulator, driven over real TCP connections on loopback the way the utility
// drives a module: one request, one answer.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <memory>
#include <mutex>
#include <set>

#include "link/protocol.h"
#include "model/bytes.h"
#include "model/configblock.h"
#include "model/statblock.h"
#include "model/switchblock.h"
#include "sim/cmdline.h"
#include "sim/simulator.h"
#include "support/sim_client.h"

namespace {

const char* const kAddress[] = {"127.0.0.1", "127.0.0.2"};
constexpr Ipv4 kIp[] = {{127, 0, 0, 1}, {127, 0, 0, 2}};
constexpr int kA = 0;
constexpr int kB = 1;

SimulatorOptions QuietManual() {
    SimulatorOptions options;
    options.quiet = true;
    options.manualClock = true;
    return options;
}

std::unique_ptr<Simulator> StartPair(std::string* error, SimulatorOptions options = QuietManual()) {
    auto simulator = std::make_unique<Simulator>(
        std::vector<Endpoint>{Endpoint{kIp[kA], 0}, Endpoint{kIp[kB], 0}}, std::move(options));
    if (!simulator->start(error))
        return nullptr;
    return simulator;
}

QByteArray Request(int group, int type, const QByteArray& payload = {}) {
    QByteArray request;
    request.append(static_cast<char>(group));
    request.append(static_cast<char>(type));
    return request + payload;
}

QByteArray Head(int group, int type) {
    return Request(group, type);
}

// Bytes that differ from their neighbours and from every seeded block.
QByteArray Pattern(int size, int seed) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((seed + 37 * i) & 0xFF);
    return bytes;
}

template <size_t N>
QByteArray ToBytes(const std::array<uint8_t, N>& block) {
    return QByteArray(reinterpret_cast<const char*>(block.data()), static_cast<qsizetype>(N));
}

QByteArray Ask(Simulator& simulator, int module, const QByteArray& request) {
    return Exchange(kAddress[module], simulator.port(module), request);
}

const uint8_t* Data(const QByteArray& bytes) {
    return reinterpret_cast<const uint8_t*>(bytes.constData());
}

// The 234 counters of a statistics answer.
std::vector<int> Counters(const QByteArray& answer) {
    std::vector<int> counters;
    for (int offset = 0; offset < kStatisticsBlockSize; offset += kCounterSize) {
        counters.push_back(GetU16(Data(answer) + kHeaderSize + offset));
    }
    return counters;
}

std::vector<int> ReadCounters(Simulator& simulator, int module) {
    const QByteArray answer = Ask(simulator, module, Request(GroupStatistics, CmdReadStatistics));
    if (answer.size() != kHeaderSize + kStatisticsBlockSize)
        return {};
    return Counters(answer);
}

bool AllZero(const std::vector<int>& counters) {
    return std::all_of(counters.begin(), counters.end(), [](int c) { return c == 0; });
}

// Each counter of `counters` is `factor` times that of `unit`, as a 16-bit counter would be.
bool ScaledBy(const std::vector<int>& counters, const std::vector<int>& unit, int factor) {
    if (counters.size() != unit.size())
        return false;
    for (size_t i = 0; i < unit.size(); ++i) {
        if (counters[i] != ((unit[i] * factor) & 0xFFFF))
            return false;
    }
    return true;
}

QString SimBinary() {
    return QCoreApplication::applicationDirPath() + "/../kestrel-sim";
}

struct Entry {
    int session, channel, crossPath;
};
Entry EntryOf(const QByteArray& snapshot, int port) {
    const uint8_t* entry = Data(snapshot) + SnapshotOffset::Switching + PortEntryOffsetOf(port);
    return {entry[PortEntryOffset::LinkSession], entry[PortEntryOffset::RemoteChannel],
            entry[PortEntryOffset::RemoteCrossPath]};
}

// Code of the first enabled session whose destination is `other`, or 0.
int PartnerCode(const QByteArray& snapshot, const Ipv4& other) {
    for (int session = 0; session < kSessionCount; ++session) {
        const uint8_t* record =
            Data(snapshot) + SnapshotOffset::Config + SessionRecordOffset(session);
        if (record[SessionOffset::Enable] != 0 &&
            std::equal(other.begin(), other.end(), record + SessionOffset::DestinationIp)) {
            return kFirstSessionCode + session;
        }
    }
    return 0;
}

}  // namespace

class TestSimulator : public QObject {
    Q_OBJECT

  private slots:
    void answers_data();
    void answers();
    void requestsOnOneConnectionAreFramedByType();
    void writeThenRead_data();
    void writeThenRead();
    void rejectedWriteStoresNothing_data();
    void rejectedWriteStoresNothing();
    void countersGrowWithTheClock();
    void clearZeroesAndRestartsCounters();
    void rateScalesGrowth_data();
    void rateScalesGrowth();
    void silentHoldsTheConnection_data();
    void silentHoldsTheConnection();
    void closeEndsWithoutBytes_data();
    void closeEndsWithoutBytes();
    void splitArrivesInTwoParts_data();
    void splitArrivesInTwoParts();
    void delayHoldsTheAnswer_data();
    void delayHoldsTheAnswer();
    void unsupportedAnswersGroupAndFF_data();
    void unsupportedAnswersGroupAndFF();
    void misbehaviourIsPerTypeAndModule();
    void silentConnectionDoesNotBlockOthers();
    void incompleteRequestTimesOut();
    void stopIsPromptWithConnectionsHeld();
    void requestsAreRecorded();
    void pairIsConsistent_data();
    void pairIsConsistent();
    void loneModuleHasAPartner_data();
    void loneModuleHasAPartner();
    void stateRoundTrip();
    void partialStateKeepsTheRest();
    void malformedStateIsReported_data();
    void malformedStateIsReported();
    void logLines_data();
    void logLines();
    void endpointParsing_data();
    void endpointParsing();
    void misbehaveRuleParsing_data();
    void misbehaveRuleParsing();
    void misbehaveNamesAServedModule_data();
    void misbehaveNamesAServedModule();
    void randomRepeatsItsSeedAndMeetsEveryKind();
    void randomPausesSpanTheirWholeRange_data();
    void randomPausesSpanTheirWholeRange();
    void helpNamesEveryOption();
    void helpAndVersionNeedNoDisplay_data();
    void helpAndVersionNeedNoDisplay();
    void badArgumentsExitWith2_data();
    void badArgumentsExitWith2();
    void busyAddressExitsWith1();
    void signalStopsAndSaves();
};

void TestSimulator::answers_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("head");

    QTest::newRow("connect") << Request(1, 1) << 2 << Head(1, 1);
    QTest::newRow("read config") << Request(1, 2) << 102 << Head(1, 2);
    QTest::newRow("write config") << Request(1, 4, Pattern(100, 1)) << 2 << Head(1, 4);
    QTest::newRow("read statistics") << Request(2, 8) << 470 << Head(2, 8);
    QTest::newRow("clear statistics") << Request(2, 16) << 2 << Head(2, 16);
    QTest::newRow("read switching") << Request(3, 32) << 282 << Head(3, 32);
    QTest::newRow("write switching") << Request(3, 64, Pattern(160, 2)) << 2 << Head(3, 64);
    QTest::newRow("statistics read in group 1") << Request(1, 8) << 2 << Head(1, 0xFF);
    QTest::newRow("connect in group 2") << Request(2, 1) << 2 << Head(2, 0xFF);
    QTest::newRow("switching read in group 1") << Request(1, 32) << 2 << Head(1, 0xFF);
    QTest::newRow("group 9") << Request(9, 2) << 2 << Head(9, 0xFF);
    QTest::newRow("group 0 type 0") << Request(0, 0) << 2 << Head(0, 0xFF);
    QTest::newRow("type 3") << Request(1, 3) << 2 << Head(1, 0xFF);
    QTest::newRow("type 255") << Request(3, 255) << 2 << Head(3, 0xFF);
    QTest::newRow("config write in group 3")
        << Request(3, 4, Pattern(100, 3)) << 2 << Head(3, 0xFF);
    QTest::newRow("switching write in group 1")
        << Request(1, 64, Pattern(160, 4)) << 2 << Head(1, 0xFF);
}

void TestSimulator::answers() {
    QFETCH(QByteArray, request);
    QFETCH(int, length);
    QFETCH(QByteArray, head);
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());

    const QByteArray answer = Ask(*simulator, kA, request);
    QCOMPARE(answer.size(), length);
    QCOMPARE(answer.left(kHeaderSize), head);
    if (head.at(1) != static_cast<char>(AnswerUnsupported)) {
        QCOMPARE(answer.size(),
                 AnswerLength(static_cast<uint8_t>(head.at(0)), static_cast<uint8_t>(head.at(1))));
    }
}

void TestSimulator::requestsOnOneConnectionAreFramedByType() {
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());
    // The rejected write still carries 100 bytes; read any other way they would be taken for
    // requests of their own.
    const QByteArray requests = Request(3, 4, QByteArray(100, '\x01')) + Request(1, 1) +
                                Request(3, 64, Pattern(160, 9)) + Request(3, 32);
    const QByteArray answers = Ask(*simulator, kA, requests);

    QCOMPARE(answers.size(), 2 + 2 + 2 + 282);
    QCOMPARE(answers.left(6), Head(3, 0xFF) + Head(1, 1) + Head(3, 64));
    QCOMPARE(answers.mid(6, 2), Head(3, 32));
    QCOMPARE(answers.mid(8 + SnapshotOffset::Switching, kSwitchingBlockSize), Pattern(160, 9));
}

void TestSimulator::writeThenRead_data() {
    QTest::addColumn<QByteArray>("write");
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<int>("offset");

    QTest::newRow("config, read back") << Request(1, 4, Pattern(100, 5)) << Request(1, 2) << 2;
    QTest::newRow("config, all ones")
        << Request(1, 4, QByteArray(100, '\xFF')) << Request(1, 2) << 2;
    QTest::newRow("config, in the switching read")
        << Request(1, 4, Pattern(100, 6)) << Request(3, 32) << 2 + SnapshotOffset::Config;
    QTest::newRow("switching") << Request(3, 64, Pattern(160, 7)) << Request(3, 32)
                               << 2 + SnapshotOffset::Switching;
    QTest::newRow("switching, all zero")
        << Request(3, 64, QByteArray(160, '\0')) << Request(3, 32) << 2 + SnapshotOffset::Switching;
}

void TestSimulator::writeThenRead() {
    QFETCH(QByteArray, write);
    QFETCH(QByteArray, read);
    QFETCH(int, offset);
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());
    const QByteArray otherBefore = Ask(*simulator, kB, read);
    const QByteArray before = Ask(*simulator, kA, read);
    const QByteArray payload = write.mid(kHeaderSize);

    QCOMPARE(Ask(*simulator, kA, write), write.left(kHeaderSize));
    const QByteArray after = Ask(*simulator, kA, read);

    QCOMPARE(after.size(), before.size());
    QCOMPARE(after.mid(offset, payload.size()), payload);
    // Only the written part changes, and only on the module written to.
    QCOMPARE(after.left(offset), before.left(offset));
    QCOMPARE(after.mid(offset + payload.size()), before.mid(offset + payload.size()));
    QCOMPARE(Ask(*simulator, kB, read), otherBefore);
}

void TestSimulator::rejectedWriteStoresNothing_data() {
    QTest::addColumn<QByteArray>("write");
    QTest::newRow("config write in group 2") << Request(2, 4, Pattern(100, 11));
    QTest::newRow("switching write in group 1") << Request(1, 64, Pattern(160, 12));
}

void TestSimulator::rejectedWriteStoresNothing() {
    QFETCH(QByteArray, write);
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());
    const QByteArray before = Ask(*simulator, kA, Request(3, 32));

    QCOMPARE(Ask(*simulator, kA, write), Head(write.at(0), 0xFF));
    QCOMPARE(Ask(*simulator, kA, Request(3, 32)), before);
}

void TestSimulator::countersGrowWithTheClock() {
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());

    const std::vector<int> start = ReadCounters(*simulator, kA);
    QCOMPARE(start.size(), size_t(kStatisticsBlockSize / kCounterSize));
    QVERIFY(AllZero(start));

    simulator->clock().advance(std::chrono::milliseconds(999));
    QVERIFY2(AllZero(ReadCounters(*simulator, kA)), "a part of a second counts as nothing");
    simulator->clock().advance(std::chrono::milliseconds(1));
    const std::vector<int> oneSecond = ReadCounters(*simulator, kA);
    QVERIFY(!AllZero(oneSecond));

    simulator->clock().advance(std::chrono::seconds(4));
    QVERIFY(ScaledBy(ReadCounters(*simulator, kA), oneSecond, 5));

    // Sessions 1 and 2 carry traffic, local and transit; the totals follow. Nothing else moves.
    const QByteArray answer = Ask(*simulator, kA, Request(2, 8));
    const uint8_t* block = Data(answer) + kHeaderSize;
    const auto recordIsZero = [&](bool transit, int session) {
        const uint8_t* record = block + StatRecordOffset(transit, session);
        return std::all_of(record, record + StatOffset::RecordSize,
                           [](uint8_t b) { return b == 0; });
    };
    for (const bool transit : {false, true}) {
        for (int session = 1; session <= kSessionCount; ++session) {
            const bool busy = session <= 2;
            QVERIFY2(
                recordIsZero(transit, session) != busy,
                qPrintable(
                    QString("session %1, %2").arg(session).arg(transit ? "transit" : "local")));
        }
        const int firstUnused = transit ? StatOffset::TransitSection : StatOffset::LocalSection;
        QVERIFY(std::all_of(block + firstUnused, block + StatRecordOffset(transit, 1),
                            [](uint8_t b) { return b == 0; }));
        for (int total = 0; total < kTotalsCounters; ++total) {
            QVERIFY(GetU16(block + StatTotalOffset(transit, total)) > 0);
        }
    }
}

void TestSimulator::clearZeroesAndRestartsCounters() {
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());
    simulator->clock().advance(std::chrono::seconds(7));
    const std::vector<int> sevenSeconds = ReadCounters(*simulator, kA);
    QVERIFY(!AllZero(sevenSeconds));

    QCOMPARE(Ask(*simulator, kA, Request(2, 16)), Head(2, 16));
    QVERIFY(AllZero(ReadCounters(*simulator, kA)));
    QCOMPARE(ReadCounters(*simulator, kB), sevenSeconds);

    // Counting starts again at the clear, not at the start.
    simulator->clock().advance(std::chrono::seconds(1));
    QVERIFY(ScaledBy(sevenSeconds, ReadCounters(*simulator, kA), 7));
}

void TestSimulator::rateScalesGrowth_data() {
    QTest::addColumn<int>("rate");
    QTest::newRow("stopped") << 0;
    QTest::newRow("normal") << 1;
    QTest::newRow("three times") << 3;
}

void TestSimulator::rateScalesGrowth() {
    QFETCH(int, rate);
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());
    simulator->module(kB).setRate(rate);
    simulator->clock().advance(std::chrono::seconds(4));

    const std::vector<int> reference = ReadCounters(*simulator, kA);
    QVERIFY(!AllZero(reference));
    QVERIFY(ScaledBy(ReadCounters(*simulator, kB), reference, rate));
}

void TestSimulator::silentHoldsTheConnection_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("connect") << Request(1, 1);
    QTest::newRow("read config") << Request(1, 2);
    QTest::newRow("write switching") << Request(3, 64, Pattern(160, 13));
}

void TestSimulator::silentHoldsTheConnection() {
    QFETCH(QByteArray, request);
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());
    const uint8_t type = static_cast<uint8_t>(request.at(1));
    simulator->module(kB).setMisbehaviour(type, Misbehaviour{MisbehaviourKind::Silent});
    const SwitchingBlock switchingBefore = simulator->module(kB).switching();

    SimClient client(kAddress[kB], simulator->port(kB));
    QVERIFY(client.connected());
    QVERIFY(client.send(request));
    const SimClient::Received received = client.receive(300);
    QCOMPARE(received.bytes, QByteArray());
    QVERIFY2(!received.closed, "a silent module keeps the connection open");
    QTRY_COMPARE(simulator->module(kB).requestCount(), size_t(1));
    QCOMPARE(simulator->module(kB).switching(), switchingBefore);
    QCOMPARE(simulator->openConnections(), 1);

    // The same command still works on the other module.
    QCOMPARE(Ask(*simulator, kA, request).left(kHeaderSize), request.left(kHeaderSize));

    client.close();
    QTRY_COMPARE(simulator->openConnections(), 0);
}

void TestSimulator::closeEndsWithoutBytes_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("value");
    const int close = int(MisbehaviourKind::Close);
    const int cut = int(MisbehaviourKind::Cut);
    QTest::newRow("connect") << Request(1, 1) << close << 0;
    QTest::newRow("read statistics") << Request(2, 8) << close << 0;
    QTest::newRow("write config") << Request(1, 4, Pattern(100, 14)) << close << 0;
    QTest::newRow("read switching cut at 150") << Request(3, 32) << cut << 150;
    QTest::newRow("read config cut to its header") << Request(1, 2) << cut << 2;
    QTest::newRow("clear cut to one byte") << Request(2, 16) << cut << 1;
    QTest::newRow("cut longer than the answer") << Request(1, 1) << cut << 5;
    QTest::newRow("write switching, group 1")
        << Request(3, 64, Pattern(160, 17)) << int(MisbehaviourKind::Group) << 1;
    QTest::newRow("read statistics, group 3") << Request(2, 8) << int(MisbehaviourKind::Group) << 3;
}

// A module that closes early, or answers with another group, has still done the work unless it
// closed without a word.
void TestSimulator::closeEndsWithoutBytes() {
    QFETCH(QByteArray, request);
    QFETCH(int, kind);
    QFETCH(int, value);
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());
    simulator->clock().advance(std::chrono::seconds(2));
    // A write's answer is its header; asking for it would already carry the write out.
    const QByteArray normal =
        request.size() > kHeaderSize ? request.left(kHeaderSize) : Ask(*simulator, kA, request);
    const auto how = MisbehaviourKind(kind);
    simulator->setMisbehaviour(static_cast<uint8_t>(request.at(1)), Misbehaviour{how, 0, 0, value});
    const ModuleState before = simulator->module(kA).state();
    const size_t requestsBefore = simulator->module(kA).requestCount();

    SimClient client(kAddress[kA], simulator->port(kA));
    QVERIFY(client.send(request));
    const SimClient::Received received = client.receive(2000);
    QByteArray expected;
    if (how == MisbehaviourKind::Cut)
        expected = normal.left(value);
    if (how == MisbehaviourKind::Group)
        expected = QByteArray(1, char(value)) + normal.mid(1);
    QCOMPARE(received.bytes, expected);
    QCOMPARE(received.closed, how != MisbehaviourKind::Group);
    QCOMPARE(simulator->module(kA).requestCount(), requestsBefore + 1);
    const ModuleState after = simulator->module(kA).state();
    const bool written = how != MisbehaviourKind::Close && request.size() > kHeaderSize;
    QCOMPARE(after.config != before.config || after.switching != before.switching, written);
}

void TestSimulator::splitArrivesInTwoParts_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("connect") << Request(1, 1);
    QTest::newRow("read config") << Request(1, 2);
    QTest::newRow("read statistics") << Request(2, 8);
    QTest::newRow("read switching") << Request(3, 32);
    QTest::newRow("write switching") << Request(3, 64, Pattern(160, 15));
}

void TestSimulator::splitArrivesInTwoParts() {
    QFETCH(QByteArray, request);
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());
    simulator->clock().advance(std::chrono::seconds(3));  // counters that are not all zero
    const uint8_t type = static_cast<uint8_t>(request.at(1));
    const QByteArray normal = Ask(*simulator, kA, request);
    constexpr int kPauseMs = 150;
    simulator->module(kA).setMisbehaviour(type, Misbehaviour{MisbehaviourKind::Split, kPauseMs});

    SimClient client(kAddress[kA], simulator->port(kA));
    QVERIFY(client.send(request));
    const SimClient::Received received = client.receive(3000, normal.size());
    QCOMPARE(received.bytes, normal);
    QCOMPARE(received.chunks.size(), size_t(2));
    const auto gap = received.chunks[1].at - received.chunks[0].at;
    QVERIFY2(
        gap >= std::chrono::milliseconds(kPauseMs - 30),
        qPrintable(QString("gap %1 ms")
                       .arg(std::chrono::duration_cast<std::chrono::milliseconds>(gap).count())));
}

void TestSimulator::delayHoldsTheAnswer_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("connect") << Request(1, 1);
    QTest::newRow("read switching") << Request(3, 32);
}

void TestSimulator::delayHoldsTheAnswer() {
    QFETCH(QByteArray, request);
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());
    const QByteArray normal = Ask(*simulator, kB, request);
    constexpr int kDelayMs = 300;
    simulator->module(kB).setMisbehaviour(static_cast<uint8_t>(request.at(1)),
                                          Misbehaviour{MisbehaviourKind::Delay, kDelayMs});

    SimClient client(kAddress[kB], simulator->port(kB));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(client.send(request));
    const SimClient::Received received = client.receive(3000, normal.size());
    QVERIFY(timer.elapsed() >= kDelayMs);
    QCOMPARE(received.bytes, normal);
}

void TestSimulator::unsupportedAnswersGroupAndFF_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("read config") << Request(1, 2);
    QTest::newRow("clear statistics") << Request(2, 16);
    QTest::newRow("write switching") << Request(3, 64, Pattern(160, 16));
}

void TestSimulator::unsupportedAnswersGroupAndFF() {
    QFETCH(QByteArray, request);
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());
    simulator->clock().advance(std::chrono::seconds(2));
    simulator->setMisbehaviour(static_cast<uint8_t>(request.at(1)),
                               Misbehaviour{MisbehaviourKind::Unsupported});
    const ModuleState before = simulator->module(kA).state();

    QCOMPARE(Ask(*simulator, kA, request), Head(request.at(0), 0xFF));
    // Not carried out: nothing written, nothing cleared.
    const ModuleState after = simulator->module(kA).state();
    QCOMPARE(after.switching, before.switching);
    QCOMPARE(after.counters, before.counters);
}

void TestSimulator::misbehaviourIsPerTypeAndModule() {
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());
    simulator->module(kB).setMisbehaviour(CmdReadConfig, Misbehaviour{MisbehaviourKind::Close});

    QCOMPARE(Ask(*simulator, kB, Request(1, 2)), QByteArray());
    QCOMPARE(Ask(*simulator, kB, Request(1, 1)), Head(1, 1));
    QCOMPARE(Ask(*simulator, kA, Request(1, 2)).size(), 102);

    simulator->module(kB).setMisbehaviour(CmdReadConfig, Misbehaviour{});
    QCOMPARE(Ask(*simulator, kB, Request(1, 2)).size(), 102);
}

void TestSimulator::silentConnectionDoesNotBlockOthers() {
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());
    simulator->module(kA).setMisbehaviour(CmdConnect, Misbehaviour{MisbehaviourKind::Silent});
    SimClient silent(kAddress[kA], simulator->port(kA));
    QVERIFY(silent.send(Request(1, 1)));
    QTRY_COMPARE(simulator->module(kA).requestCount(), size_t(1));

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(Ask(*simulator, kA, Request(1, 2)).size(), 102);
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(silent.receive(50).bytes, QByteArray());
}

void TestSimulator::incompleteRequestTimesOut() {
    SimulatorOptions options = QuietManual();
    options.readTimeoutMs = 200;
    std::string error;
    auto simulator = StartPair(&error, options);
    QVERIFY2(simulator, error.c_str());

    SimClient client(kAddress[kA], simulator->port(kA));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(client.send(Request(1, 4, Pattern(10, 17))));  // 90 bytes short
    const SimClient::Received received = client.receive(3000);
    QVERIFY(received.closed);
    QCOMPARE(received.bytes.size(), 0);
    QVERIFY(timer.elapsed() >= 150);
    QCOMPARE(simulator->module(kA).requestCount(), size_t(0));
    QVERIFY(simulator->module(kA).config() != ConfigBlock{});
}

void TestSimulator::stopIsPromptWithConnectionsHeld() {
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());
    simulator->setMisbehaviour(CmdReadConfig, Misbehaviour{MisbehaviourKind::Silent});
    simulator->setMisbehaviour(CmdConnect, Misbehaviour{MisbehaviourKind::Delay, 20000});
    simulator->setMisbehaviour(CmdReadSwitching, Misbehaviour{MisbehaviourKind::Split, 20000});
    SimClient silentA(kAddress[kA], simulator->port(kA));
    SimClient silentB(kAddress[kB], simulator->port(kB));
    SimClient delayed(kAddress[kA], simulator->port(kA));
    SimClient split(kAddress[kB], simulator->port(kB));
    SimClient idle(kAddress[kB], simulator->port(kB));
    QVERIFY(silentA.send(Request(1, 2)));
    QVERIFY(silentB.send(Request(1, 2)));
    QVERIFY(delayed.send(Request(1, 1)));
    QVERIFY(split.send(Request(3, 32)));
    QTRY_COMPARE(simulator->module(kA).requestCount(), size_t(2));
    QTRY_COMPARE(simulator->module(kB).requestCount(), size_t(2));
    QTRY_COMPARE(simulator->openConnections(), 5);

    QElapsedTimer timer;
    timer.start();
    simulator->stop();
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString("%1 ms").arg(timer.elapsed())));
    QCOMPARE(simulator->openConnections(), 0);
    for (SimClient* client : {&silentA, &silentB, &delayed, &idle}) {
        const SimClient::Received received = client->receive(1000);
        QVERIFY(received.closed);
        QCOMPARE(received.bytes.size(), 0);
    }
    const SimClient::Received half = split.receive(1000);
    QVERIFY(half.closed);
    QCOMPARE(half.bytes.size(), (2 + kSnapshotSize) / 2);
    QVERIFY(!SimClient(kAddress[kA], simulator->port(kA)).connected());
}

void TestSimulator::requestsAreRecorded() {
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());
    const QList<QByteArray> toA = {Request(1, 1), Request(1, 4, Pattern(100, 18)), Request(7, 7)};
    const QList<QByteArray> toB = {Request(3, 64, Pattern(160, 19)), Request(2, 16)};
    QCOMPARE(Ask(*simulator, kA, toA.join()).size(), 6);
    for (const QByteArray& request : toB)
        QCOMPARE(Ask(*simulator, kB, request).size(), 2);

    const auto recorded = [&](int module) {
        QList<QByteArray> list;
        for (const auto& request : simulator->module(module).requests()) {
            list.append(QByteArray(reinterpret_cast<const char*>(request.data()),
                                   static_cast<qsizetype>(request.size())));
        }
        return list;
    };
    QCOMPARE(recorded(kA), toA);
    QCOMPARE(recorded(kB), toB);
    QCOMPARE(simulator->module(kB).requestCount(), size_t(2));
}

void TestSimulator::pairIsConsistent_data() {
    QTest::addColumn<int>("first");
    QTest::newRow("A on 127.0.0.1") << 0;
    QTest::newRow("A on 127.0.0.2") << 1;
}

void TestSimulator::pairIsConsistent() {
    QFETCH(int, first);
    const int second = 1 - first;
    Simulator simulator({Endpoint{kIp[first], 0}, Endpoint{kIp[second], 0}}, QuietManual());
    std::string error;
    QVERIFY2(simulator.start(&error), error.c_str());
    const Ipv4 ip[] = {kIp[first], kIp[second]};
    QByteArray snapshot[2];
    for (int side : {kA, kB}) {
        const QByteArray answer =
            Exchange(kAddress[side == kA ? first : second], simulator.port(side), Request(3, 32));
        QCOMPARE(answer.size(), 2 + kSnapshotSize);
        snapshot[side] = answer.mid(kHeaderSize);
        const uint8_t* config = Data(snapshot[side]) + SnapshotOffset::Config;
        QVERIFY(std::equal(ip[side].begin(), ip[side].end(), config + ConfigOffset::LocalIp));
        QCOMPARE(GetU16(config + ConfigOffset::ControlPort), simulator.port(side));
    }
    const int partner[2] = {PartnerCode(snapshot[kA], ip[kB]), PartnerCode(snapshot[kB], ip[kA])};
    QCOMPARE(partner[kA], int(kFirstSessionCode));
    QCOMPARE(partner[kB], int(kFirstSessionCode));

    int tmoLocalLocal = 0, tmoWithTransit = 0, tf = 0;
    int foreign[2] = {0, 0}, oneSided[2] = {0, 0};
    for (int side : {kA, kB}) {
        const int other = 1 - side;
        int unavailable = 0;
        for (int port = 0; port < kPortCount; ++port) {
            const QByteArray& own = snapshot[side];
            const uint8_t* raw = Data(own) + SnapshotOffset::Switching + PortEntryOffsetOf(port);
            for (int i = 0; i < PortEntryOffset::CarriedHeadSize; ++i) {
                QVERIFY(raw[PortEntryOffset::CarriedHead + i] != 0);
            }
            QVERIFY(raw[PortEntryOffset::CarriedTail] != 0);
            const bool available = own.at(SnapshotOffset::Availability + port) != 0;
            const Entry entry = EntryOf(own, port);
            if (entry.session != partner[side] && entry.session >= kFirstSessionCode &&
                entry.session <= kLastSessionCode) {
                // Switched over another enabled session of its own module.
                const uint8_t* record = Data(own) + SnapshotOffset::Config +
                                        SessionRecordOffset(entry.session - kFirstSessionCode);
                QVERIFY(record[SessionOffset::Enable] != 0);
                QVERIFY(available);
                ++foreign[side];
                continue;
            }
            if (entry.session != partner[side]) {
                QCOMPARE(entry.session, 0);
                QCOMPARE(entry.channel, int(NoChannel));
                QCOMPARE(entry.crossPath, int(CrossPathNone));
                unavailable += available ? 0 : 1;
                continue;
            }
            QVERIFY2(available, "a link on a missing port");
            QVERIFY(entry.channel < 10);
            QVERIFY(entry.crossPath == CrossPathLocal || entry.crossPath == CrossPathTransit);
            const int farGroup = entry.crossPath == CrossPathTransit ? 1 : 0;
            const int farPort = PortIndex(farGroup, entry.channel);
            const Entry back = EntryOf(snapshot[other], farPort);
            if (back.session != partner[other]) {
                // A half that the other side does not hold: the far port is not linked at all.
                QCOMPARE(back.session, 0);
                ++oneSided[side];
                continue;
            }
            QCOMPARE(back.channel, port % 10);
            QCOMPARE(back.crossPath, int(port >= 10 ? CrossPathTransit : CrossPathLocal));
            QVERIFY(snapshot[other].at(SnapshotOffset::Availability + farPort) != 0);
            QCOMPARE(port % 10 >= 6, entry.channel >= 6);  // TMO with TMO, TF with TF
            if (side == kA) {
                if (entry.channel >= 6) {
                    ++tf;
                } else if (port < 10 && farGroup == 0) {
                    ++tmoLocalLocal;
                } else {
                    ++tmoWithTransit;
                }
            }
        }
        QVERIFY2(unavailable >= 1, "each side lacks a port");
    }
    QCOMPARE(foreign[kA], 1);
    QCOMPARE(foreign[kB], 0);
    QCOMPARE(oneSided[kA], 0);
    QCOMPARE(oneSided[kB], 1);
    QVERIFY(tmoLocalLocal >= 1);
    QVERIFY(tmoWithTransit >= 1);
    QVERIFY(tf >= 1);
}

void TestSimulator::loneModuleHasAPartner_data() {
    QTest::addColumn<int>("which");
    QTest::newRow("127.0.0.1") << 0;
    QTest::newRow("127.0.0.2") << 1;
}

void TestSimulator::loneModuleHasAPartner() {
    QFETCH(int, which);
    Simulator simulator({Endpoint{kIp[which], 0}}, QuietManual());
    std::string error;
    QVERIFY2(simulator.start(&error), error.c_str());
    const QByteArray answer = Exchange(kAddress[which], simulator.port(0), Request(1, 2));
    QCOMPARE(answer.size(), 102);
    const uint8_t* config = Data(answer) + kHeaderSize;
    const uint8_t* session1 = config + SessionRecordOffset(0);
    QCOMPARE(int(session1[SessionOffset::Enable]), 1);
    const Ipv4& own = kIp[which];
    QVERIFY(std::equal(own.begin(), own.end(), config + ConfigOffset::LocalIp));
    QVERIFY(!std::equal(own.begin(), own.end(), session1 + SessionOffset::DestinationIp));
    QVERIFY(session1[SessionOffset::DestinationIp] != 0);
}

void TestSimulator::stateRoundTrip() {
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());
    QCOMPARE(Ask(*simulator, kA, Request(1, 4, Pattern(100, 20))), Head(1, 4));
    QCOMPARE(Ask(*simulator, kB, Request(3, 64, Pattern(160, 21))), Head(3, 64));
    simulator->clock().advance(std::chrono::seconds(42));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string path = dir.filePath("pair.txt").toStdString();
    QVERIFY2(simulator->saveState(path, &error), error.c_str());

    Simulator restored({Endpoint{kIp[kA], 0}, Endpoint{kIp[kB], 0}}, QuietManual());
    QVERIFY(restored.module(kA).config() != simulator->module(kA).config());
    QVERIFY2(restored.loadState(path, &error), error.c_str());
    for (int module : {kA, kB}) {
        const ModuleState saved = simulator->module(module).state();
        const ModuleState loaded = restored.module(module).state();
        QCOMPARE(loaded.config, saved.config);
        QCOMPARE(loaded.switching, saved.switching);
        QCOMPARE(loaded.availability, saved.availability);
        QCOMPARE(loaded.counters, saved.counters);
    }
    QCOMPARE(ToBytes(*restored.module(kA).state().config), Pattern(100, 20));

    // Loaded counters go on from where they were.
    const StatisticsBlock loaded = restored.module(kA).statistics();
    restored.clock().advance(std::chrono::seconds(1));
    const StatisticsBlock later = restored.module(kA).statistics();
    const int offset = StatTotalOffset(false, TotalsIndex::TxPlis);
    QVERIFY(GetU16(later.data() + offset) > GetU16(loaded.data() + offset));
}

void TestSimulator::partialStateKeepsTheRest() {
    Simulator simulator({Endpoint{kIp[kA], 0}, Endpoint{kIp[kB], 0}}, QuietManual());
    const ModuleState before[2] = {simulator.module(kA).state(), simulator.module(kB).state()};
    QTemporaryDir dir;
    const QString path = dir.filePath("partial.txt");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("# only B's ports\r\n\nmodule=2\navailability = " + QByteArray(20, '\0').toHex() +
               "\r\n");
    file.close();
    std::string error;
    QVERIFY2(simulator.loadState(path.toStdString(), &error), error.c_str());

    QCOMPARE(simulator.module(kB).availability(), PortAvailabilityBlock{});
    QCOMPARE(simulator.module(kB).switching(), *before[kB].switching);
    QCOMPARE(simulator.module(kA).availability(), *before[kA].availability);
}

void TestSimulator::malformedStateIsReported_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("where");
    const QByteArray goodConfig = "config=" + Pattern(100, 22).toHex() + "\n";

    QTest::newRow("no equals sign") << QByteArray("module=1\nconfig\n") << "line 2";
    QTest::newRow("not hexadecimal") << QByteArray("config=zz\n") << "line 1";
    QTest::newRow("odd digit count") << "availability=" + QByteArray(39, 'a') + "\n"
                                     << "line 1";
    QTest::newRow("short block") << QByteArray("\n\nswitching=0011\n") << "line 3";
    QTest::newRow("long block") << "availability=" + QByteArray(42, '0') + "\n"
                                << "line 1";
    QTest::newRow("unknown key") << QByteArray("colour=00\n") << "line 1";
    QTest::newRow("module 3 of 2") << QByteArray("module=3\n") << "line 1";
    QTest::newRow("module 0") << QByteArray("module=0\n") << "line 1";
    QTest::newRow("module not a number") << QByteArray("module=B\n") << "line 1";
    QTest::newRow("error after good lines") << "module=1\n" + goodConfig + "module=2\ncounters=00\n"
                                            << "line 4";
    QTest::newRow("binary junk") << QByteArray("\x01\x02\xFF\n", 4) << "line 1";
    // A whole block but for one digit: only the digit check can refuse it.
    QByteArray badLow = goodConfig;
    badLow[8] = 'g';
    QByteArray badHigh = goodConfig;
    badHigh[7] = 'G';
    QTest::newRow("one low digit not hexadecimal") << badLow << "line 1";
    QTest::newRow("one high digit not hexadecimal") << badHigh << "line 1";
}

void TestSimulator::malformedStateIsReported() {
    QFETCH(QByteArray, text);
    QFETCH(QString, where);
    Simulator simulator({Endpoint{kIp[kA], 0}, Endpoint{kIp[kB], 0}}, QuietManual());
    const ConfigBlock before = simulator.module(kA).config();
    QTemporaryDir dir;
    const QString path = dir.filePath("state.txt");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();

    std::string error;
    QVERIFY(!simulator.loadState(path.toStdString(), &error));
    QVERIFY2(QString::fromStdString(error).contains(where), error.c_str());
    // Nothing of a bad file is taken, not even its good lines.
    QCOMPARE(simulator.module(kA).config(), before);

    error.clear();
    QVERIFY(!simulator.loadState(dir.filePath("missing.txt").toStdString(), &error));
    QVERIFY(!error.empty());
}

void TestSimulator::logLines_data() {
    QTest::addColumn<bool>("quiet");
    QTest::newRow("logging") << false;
    QTest::newRow("quiet") << true;
}

void TestSimulator::logLines() {
    QFETCH(bool, quiet);
    std::mutex mutex;
    QStringList lines;
    SimulatorOptions options = QuietManual();
    options.quiet = quiet;
    options.log = [&](const std::string& line) {
        std::lock_guard lock(mutex);
        lines.append(QString::fromStdString(line));
    };
    std::string error;
    auto simulator = StartPair(&error, options);
    QVERIFY2(simulator, error.c_str());
    QCOMPARE(Ask(*simulator, kB, Request(1, 2)).size(), 102);
    simulator->stop();

    std::lock_guard lock(mutex);
    if (quiet) {
        QCOMPARE(lines, QStringList());
        return;
    }
    QCOMPARE(lines.size(), 2);
    const QString module = QString("127.0.0.2:%1").arg(simulator->port(kB));
    const QRegularExpression request(
        R"(^\d\d\d\d-\d\d-\d\d \d\d:\d\d:\d\d\.\d\d\d 127\.0\.0\.1:\d+ -> )" +
        QRegularExpression::escape(module) + R"(\s+01 02$)");
    QVERIFY2(request.match(lines[0]).hasMatch(), qPrintable(lines[0]));
    QVERIFY2(lines[1].contains(" <- " + module), qPrintable(lines[1]));
    QVERIFY2(lines[1].contains("01 02 7F 7F"), qPrintable(lines[1]));
    QVERIFY2(lines[1].endsWith("…(102 bytes)"), qPrintable(lines[1]));
}

void TestSimulator::endpointParsing_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("parsed");

    QTest::newRow("address alone") << "127.0.0.2" << true << "127.0.0.2:65530";
    QTest::newRow("any port") << "127.0.0.1:0" << true << "127.0.0.1:0";
    QTest::newRow("highest port") << "10.1.2.3:65535" << true << "10.1.2.3:65535";
    QTest::newRow("port too big") << "127.0.0.1:65536" << false << "";
    QTest::newRow("empty port") << "127.0.0.1:" << false << "";
    QTest::newRow("port with junk") << "127.0.0.1:80x" << false << "";
    QTest::newRow("host name") << "localhost" << false << "";
    QTest::newRow("three octets") << "1.2.3" << false << "";
    QTest::newRow("octet too big") << "1.2.3.256" << false << "";
}

void TestSimulator::endpointParsing() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QString, parsed);
    const auto endpoint = ParseEndpoint(text.toStdString());
    QCOMPARE(endpoint.has_value(), valid);
    if (endpoint)
        QCOMPARE(QString::fromStdString(EndpointText(endpoint->ip, endpoint->port)), parsed);
}

void TestSimulator::misbehaveRuleParsing_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("module");
    QTest::addColumn<int>("type");  // -1: every type
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("ms");
    const auto kind = [](MisbehaviourKind k) { return static_cast<int>(k); };

    QTest::newRow("name, all modules")
        << "read-config=silent" << true << 0 << 2 << kind(MisbehaviourKind::Silent) << 0;
    QTest::newRow("module and name") << "2:write-switching=unsupported" << true << 2 << 64
                                     << kind(MisbehaviourKind::Unsupported) << 0;
    QTest::newRow("split default pause") << "read-statistics=split" << true << 0 << 8
                                         << kind(MisbehaviourKind::Split) << kDefaultSplitPauseMs;
    QTest::newRow("split pause") << "1:clear-statistics=split:40" << true << 1 << 16
                                 << kind(MisbehaviourKind::Split) << 40;
    QTest::newRow("type number, delay")
        << "1:32=delay:750" << true << 1 << 32 << kind(MisbehaviourKind::Delay) << 750;
    QTest::newRow("unknown type number")
        << "3=close" << true << 0 << 3 << kind(MisbehaviourKind::Close) << 0;
    QTest::newRow("every type") << "all=close" << true << 0 << -1 << kind(MisbehaviourKind::Close)
                                << 0;
    QTest::newRow("back to normal")
        << "connect=normal" << true << 0 << 1 << kind(MisbehaviourKind::Normal) << 0;
    QTest::newRow("no mode") << "read-config" << false << 0 << 0 << 0 << 0;
    QTest::newRow("empty mode") << "read-config=" << false << 0 << 0 << 0 << 0;
    QTest::newRow("module 0") << "0:connect=silent" << false << 0 << 0 << 0 << 0;
    QTest::newRow("module letter") << "B:connect=silent" << false << 0 << 0 << 0 << 0;
    QTest::newRow("misspelt type") << "reed-config=silent" << false << 0 << 0 << 0 << 0;
    QTest::newRow("type 256") << "256=silent" << false << 0 << 0 << 0 << 0;
    QTest::newRow("delay without time") << "connect=delay" << false << 0 << 0 << 0 << 0;
    QTest::newRow("silent with time") << "connect=silent:5" << false << 0 << 0 << 0 << 0;
    QTest::newRow("split, bad time") << "connect=split:abc" << false << 0 << 0 << 0 << 0;
    QTest::newRow("negative delay") << "connect=delay:-1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("unknown mode") << "connect=sleepy" << false << 0 << 0 << 0 << 0;
    QTest::newRow("random, default delay")
        << "all=random:7" << true << 0 << -1 << kind(MisbehaviourKind::Random) << 200;
    QTest::newRow("random, longest delay") << "2:read-statistics=random:7:50" << true << 2 << 8
                                           << kind(MisbehaviourKind::Random) << 50;
    QTest::newRow("random without seed") << "all=random" << false << 0 << 0 << 0 << 0;
    QTest::newRow("random, bad seed") << "all=random:x" << false << 0 << 0 << 0 << 0;
    QTest::newRow("random, empty delay") << "all=random:7:" << false << 0 << 0 << 0 << 0;
    QTest::newRow("cut") << "1:read-switching=cut:150" << true << 1 << 32
                         << kind(MisbehaviourKind::Cut) << 150;
    QTest::newRow("cut to nothing")
        << "all=cut:0" << true << 0 << -1 << kind(MisbehaviourKind::Cut) << 0;
    QTest::newRow("cut without length") << "all=cut" << false << 0 << 0 << 0 << 0;
    QTest::newRow("cut past the buffer") << "all=cut:2001" << false << 0 << 0 << 0 << 0;
    QTest::newRow("group") << "read-statistics=group:3" << true << 0 << 8
                           << kind(MisbehaviourKind::Group) << 3;
    QTest::newRow("group 256") << "all=group:256" << false << 0 << 0 << 0 << 0;
}

void TestSimulator::misbehaveRuleParsing() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, module);
    QFETCH(int, type);
    QFETCH(int, kind);
    QFETCH(int, ms);
    const auto rule = ParseMisbehaveRule(text.toStdString());
    QCOMPARE(rule.has_value(), valid);
    if (!rule)
        return;
    QCOMPARE(rule->module, module);
    QCOMPARE(rule->type ? int(*rule->type) : -1, type);
    QCOMPARE(static_cast<int>(rule->how.kind), kind);
    const bool counted =
        rule->how.kind == MisbehaviourKind::Cut || rule->how.kind == MisbehaviourKind::Group;
    QCOMPARE(counted ? rule->how.value : rule->how.ms, ms);
}

// A rule may name any module that is served, the last one included, and no other.
void TestSimulator::misbehaveNamesAServedModule_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("valid");
    QTest::newRow("last of two") << QStringList{"--misbehave", "2:connect=silent", "127.0.0.1:0",
                                                "127.0.0.2:0"}
                                 << true;
    QTest::newRow("past the last of two")
        << QStringList{"--misbehave", "3:connect=silent", "127.0.0.1:0", "127.0.0.2:0"} << false;
    QTest::newRow("last of two, written inline")
        << QStringList{"--misbehave=2:connect=silent", "127.0.0.1:0", "127.0.0.2:0"} << true;
    QTest::newRow("the default module") << QStringList{"--misbehave", "1:connect=close"} << true;
    QTest::newRow("past the default module")
        << QStringList{"--misbehave", "2:connect=close"} << false;
}

void TestSimulator::misbehaveNamesAServedModule() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, valid);
    std::vector<std::string> args;
    for (const QString& a : arguments)
        args.push_back(a.toStdString());
    std::string error;
    const auto line = ParseCommandLine(args, &error);
    QCOMPARE(line.has_value(), valid);
    QCOMPARE(error.empty(), valid);
}

void TestSimulator::randomRepeatsItsSeedAndMeetsEveryKind() {
    constexpr int kRequests = 600;
    constexpr int kLongestDelay = 90;
    const auto clock = std::make_shared<SimClock>(true);
    std::vector<std::unique_ptr<SimModule>> modules;
    const auto run = [&](uint32_t seed, int number, bool recording, SimModule** keep = nullptr) {
        ModuleSeed moduleSeed;
        moduleSeed.ownIp = kIp[kA];
        moduleSeed.number = number;
        modules.push_back(std::make_unique<SimModule>(moduleSeed, clock));
        SimModule& module = *modules.back();
        module.setRecording(recording);
        module.setMisbehaviourForAll(Misbehaviour{MisbehaviourKind::Random, kLongestDelay, seed});
        std::vector<Misbehaviour> drawn;
        const QByteArray request = Request(GroupStatistics, CmdReadStatistics);
        for (int i = 0; i < kRequests; ++i) {
            const SimModule::Reply reply =
                module.handle(std::vector<uint8_t>(request.begin(), request.end()));
            drawn.push_back(reply.how);
            const size_t expected = reply.how.kind == MisbehaviourKind::Unsupported ? 2
                                    : reply.how.kind == MisbehaviourKind::Silent ||
                                            reply.how.kind == MisbehaviourKind::Close
                                        ? 0
                                        : 470;
            if (reply.bytes.size() != expected)
                return std::vector<Misbehaviour>{};
        }
        if (keep)
            *keep = &module;
        return drawn;
    };

    SimModule* recorded = nullptr;
    SimModule* counted = nullptr;
    const auto first = run(11, 1, true, &recorded);
    QCOMPARE(static_cast<int>(first.size()), kRequests);
    QVERIFY(first == run(11, 1, false, &counted));
    QVERIFY(first != run(12, 1, true));
    QVERIFY(first != run(11, 2, true));  // each module its own sequence

    for (int k = 0; k < kMisbehaviourKinds; ++k) {
        const auto kind = static_cast<MisbehaviourKind>(k);
        const auto n = std::count_if(first.begin(), first.end(),
                                     [&](const Misbehaviour& m) { return m.kind == kind; });
        // Cut and group are chosen only by name, so that a seed keeps its old sequence.
        if (kind == MisbehaviourKind::Random || kind == MisbehaviourKind::Cut ||
            kind == MisbehaviourKind::Group) {
            QCOMPARE(n, 0);
        } else {
            // Six kinds of 600 draws: far more than a handful each unless one never comes.
            QVERIFY2(n > 40, MisbehaviourName(kind));
        }
        QCOMPARE(recorded->replies(CmdReadStatistics, kind), static_cast<uint64_t>(n));
        QCOMPARE(counted->replies(CmdReadStatistics, kind), static_cast<uint64_t>(n));
    }
    int longestDelay = 0;
    int longestSplit = 0;
    for (const Misbehaviour& m : first) {
        if (m.kind == MisbehaviourKind::Delay)
            longestDelay = std::max(longestDelay, m.ms);
        if (m.kind == MisbehaviourKind::Split)
            longestSplit = std::max(longestSplit, m.ms);
    }
    QVERIFY(longestDelay > kLongestDelay / 2 && longestDelay <= kLongestDelay);
    QVERIFY(longestSplit > 0 && longestSplit <= kRandomSplitPauseMs);

    QCOMPARE(recorded->requests().size(), size_t(kRequests));
    QCOMPARE(counted->requestCount(), size_t(kRequests));
    QVERIFY(counted->requests().empty());
}

// "Up to MS" means every pause from 0 to MS can come, and none longer.
void TestSimulator::randomPausesSpanTheirWholeRange_data() {
    QTest::addColumn<int>("longestDelay");
    QTest::newRow("no delay") << 0;
    QTest::newRow("1 ms") << 1;
    QTest::newRow("2 ms") << 2;
    QTest::newRow("7 ms") << 7;
}

void TestSimulator::randomPausesSpanTheirWholeRange() {
    QFETCH(int, longestDelay);
    std::mt19937 generator(5);
    std::set<int> delays;
    std::set<int> splits;
    for (int i = 0; i < 3000; ++i) {
        const Misbehaviour how = DrawMisbehaviour(generator, longestDelay);
        if (how.kind == MisbehaviourKind::Delay)
            delays.insert(how.ms);
        else if (how.kind == MisbehaviourKind::Split)
            splits.insert(how.ms);
        else
            QCOMPARE(how.ms, 0);
    }
    const auto range = [](int last) {
        std::set<int> all;
        for (int ms = 0; ms <= last; ++ms)
            all.insert(ms);
        return all;
    };
    QCOMPARE(delays, range(longestDelay));
    QCOMPARE(splits, range(kRandomSplitPauseMs));
}

void TestSimulator::helpNamesEveryOption() {
    if (!QFileInfo::exists(SimBinary()))
        QSKIP("kestrel-sim has not been built");
    QProcess process;
    process.start(SimBinary(), {"--help"});
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QString help = QString::fromUtf8(process.readAllStandardOutput());
    for (const char* word : {"--help",
                             "--version",
                             "--quiet",
                             "--misbehave",
                             "--state",
                             "--save",
                             "--rate",
                             "--read-timeout",
                             "normal",
                             "silent",
                             "unsupported",
                             "close",
                             "split",
                             "delay",
                             "connect",
                             "read-config",
                             "write-config",
                             "read-statistics",
                             "clear-statistics",
                             "read-switching",
                             "write-switching",
                             "random:SEED",
                             "127.0.0.1:65530 127.0.0.2:65530"}) {
        QVERIFY2(help.contains(word), word);
    }
}

void TestSimulator::helpAndVersionNeedNoDisplay_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("firstLine");
    QTest::addColumn<QString>("alsoSays");
    QTest::newRow("utility version")
        << "kestrel" << QStringList{"--version"} << "kestrel " KESTREL_VERSION << "";
    QTest::newRow("utility help") << "kestrel" << QStringList{"--help"}
                                  << "Usage: kestrel [options]"
                                  << "--version";
    QTest::newRow("utility short help")
        << "kestrel" << QStringList{"-h"} << "Usage: kestrel [options]"
        << "-platform";
    // Qt's own one-dash words are not bundles of letters: -stylesheet holds no -h.
    QTest::newRow("utility version after a Qt option")
        << "kestrel" << QStringList{"-stylesheet=none.qss", "--version"}
        << "kestrel " KESTREL_VERSION << "";
    QTest::newRow("simulator version")
        << "kestrel-sim" << QStringList{"--version"} << "kestrel-sim " KESTREL_VERSION << "";
    QTest::newRow("simulator help") << "kestrel-sim" << QStringList{"--help"}
                                    << "Usage: kestrel-sim [options] [ADDRESS[:PORT] ...]"
                                    << "--misbehave";
}

// Answered without a display, without a window and without starting a module: an empty
// QT_QPA_PLATFORM and no DISPLAY make any QApplication abort.
void TestSimulator::helpAndVersionNeedNoDisplay() {
    QFETCH(QString, program);
    QFETCH(QStringList, options);
    QFETCH(QString, firstLine);
    QFETCH(QString, alsoSays);
    const QString binary = QCoreApplication::applicationDirPath() + "/../" + program;
    if (!QFileInfo::exists(binary))
        QSKIP("the program has not been built");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QString());
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    process.setProcessEnvironment(env);
    process.start(binary, options);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QString output = QString::fromUtf8(process.readAllStandardOutput());
    QCOMPARE(output.section('\n', 0, 0), firstLine);
    QVERIFY2(output.contains(alsoSays), qPrintable(output));
    QVERIFY(output.endsWith('\n'));
}

void TestSimulator::badArgumentsExitWith2_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("unknown option") << QStringList{"--frobnicate"};
    QTest::newRow("bad mode") << QStringList{"--misbehave", "read-config=sleepy"};
    QTest::newRow("rate without value") << QStringList{"--rate"};
    QTest::newRow("value for a switch") << QStringList{"--quiet=yes", "127.0.0.1:0"};
    QTest::newRow("negative rate") << QStringList{"--rate", "-1", "127.0.0.1:0"};
    QTest::newRow("bad address") << QStringList{"300.1.1.1"};
    QTest::newRow("module that does not exist")
        << QStringList{"--misbehave", "3:connect=silent", "127.0.0.1:0", "127.0.0.2:0"};
    QTest::newRow("missing state file")
        << QStringList{"--state", "/nonexistent/kestrel-state.txt", "127.0.0.1:0"};
}

void TestSimulator::badArgumentsExitWith2() {
    QFETCH(QStringList, arguments);
    if (!QFileInfo::exists(SimBinary()))
        QSKIP("kestrel-sim has not been built");
    QProcess process;
    process.start(SimBinary(), arguments);
    const bool finished = process.waitForFinished(5000);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    QVERIFY2(finished, "kept running");
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(!process.readAllStandardError().isEmpty());
}

void TestSimulator::busyAddressExitsWith1() {
    if (!QFileInfo::exists(SimBinary()))
        QSKIP("kestrel-sim has not been built");
    std::string error;
    auto simulator = StartPair(&error);
    QVERIFY2(simulator, error.c_str());
    QProcess process;
    process.start(SimBinary(), {"--quiet", QString("127.0.0.2:%1").arg(simulator->port(kB))});
    const bool finished = process.waitForFinished(5000);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    QVERIFY2(finished, "bound an address that is taken");
    QCOMPARE(process.exitCode(), 1);
}

void TestSimulator::signalStopsAndSaves() {
    if (!QFileInfo::exists(SimBinary()))
        QSKIP("kestrel-sim has not been built");
    QTemporaryDir dir;
    const QString savePath = dir.filePath("saved.txt");
    QProcess process;
    process.start(SimBinary(), {"--quiet", "--save", savePath, "127.0.0.1:0"});
    QVERIFY(process.waitForStarted(5000));
    const QRegularExpression listening(R"(listening on 127\.0\.0\.1:(\d+))");
    QString output;
    QRegularExpressionMatch match;
    QElapsedTimer timer;
    timer.start();
    while (!(match = listening.match(output)).hasMatch() && timer.elapsed() < 5000) {
        process.waitForReadyRead(100);
        output += QString::fromUtf8(process.readAllStandardOutput());
    }
    QVERIFY2(match.hasMatch(), qPrintable(output));
    const auto port = static_cast<uint16_t>(match.captured(1).toUInt());
    const QByteArray written = Pattern(100, 23);
    QCOMPARE(Exchange("127.0.0.1", port, Request(1, 4, written)), Head(1, 4));

    process.terminate();
    const bool finished = process.waitForFinished(5000);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    QVERIFY2(finished, "SIGTERM did not stop it");
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);

    Simulator reloaded({Endpoint{{127, 0, 0, 1}, port}}, QuietManual());
    std::string error;
    QVERIFY2(reloaded.loadState(savePath.toStdString(), &error), error.c_str());
    QCOMPARE(ToBytes(reloaded.module(0).config()), written);
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
