// Request composition and answer dispatch.
#include <QtTest>
#include <algorithm>

#include "flows/commands.h"
#include "model/configblock.h"
#include "model/switchblock.h"
#include "support/recording_shell.h"

namespace {

class FakeWindow : public AnswerTarget {
  public:
    // A window that lists one module names its own snapshot; the others go by CurrentMux.
    explicit FakeWindow(MuxSnapshot* own = nullptr) : own_(own) {}
    MuxSnapshot* switchingAnswerTarget() override {
        return own_ ? own_ : AnswerTarget::switchingAnswerTarget();
    }
    ReceiveBuffer& receiveBuffer() override { return buffer; }
    void showStatistics(const uint8_t* block) override {
        shownStatistics.assign(block, block + 468);
    }
    void answer(std::initializer_list<uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), buffer.begin());
    }
    ReceiveBuffer buffer{};
    std::vector<uint8_t> shownStatistics;

  private:
    MuxSnapshot* own_;
};

bool AllZeroFrom(int offset) {
    return std::all_of(RequestBuffer.begin() + offset, RequestBuffer.end(),
                       [](uint8_t b) { return b == 0; });
}

}  // namespace

class FramingTest : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        OutgoingConfig.fill(0);
        OutgoingSwitching.fill(0);
    }

    void buildRequest_data() {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("length");
        QTest::newRow("connect") << 1 << 1 << 2;
        QTest::newRow("read config") << 1 << 2 << 2;
        QTest::newRow("write config") << 1 << 4 << 102;
        QTest::newRow("read statistics") << 2 << 8 << 2;
        QTest::newRow("clear statistics") << 2 << 16 << 2;
        QTest::newRow("read switching") << 3 << 32 << 2;
        QTest::newRow("write switching") << 3 << 64 << 162;
        QTest::newRow("unknown type") << 1 << 3 << 2;
        QTest::newRow("type chosen alone: 4 under group 2") << 2 << 4 << 102;
        QTest::newRow("type chosen alone: 64 under group 1") << 1 << 64 << 162;
        QTest::newRow("only the low byte is sent") << 3 << 0x140 << 2;
    }
    void buildRequest() {
        QFETCH(int, group);
        QFETCH(int, type);
        QFETCH(int, length);
        OutgoingConfig.fill(0xC1);
        OutgoingSwitching.fill(0x5A);
        RequestBuffer.fill(0xEE);
        QCOMPARE(BuildRequest(static_cast<uint8_t>(group), type), length);
        QCOMPARE(int(RequestBuffer[0]), group);
        QCOMPARE(int(RequestBuffer[1]), type & 0xFF);
        const uint8_t fill = length == 102 ? 0xC1 : 0x5A;
        for (int i = 2; i < length; ++i)
            QCOMPARE(int(RequestBuffer[i]), int(fill));
        QVERIFY(AllZeroFrom(length));
    }

    void laterRequestLeavesNoTraceOfPayload() {
        OutgoingSwitching.fill(0x77);
        QCOMPARE(BuildRequest(3, 64), 162);
        QCOMPARE(BuildRequest(2, 16), 2);
        QCOMPARE(int(RequestBuffer[0]), 2);
        QCOMPARE(int(RequestBuffer[1]), 16);
        QVERIFY(AllZeroFrom(2));
    }

    void configAnswers_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QStringList>("log");
        const QString wrong = QStringLiteral("Ошибочный ответ мультиплексора!");
        QTest::newRow("connected")
            << 1 << QStringList{"unlock", "idle", "log"}
            << QStringList{QStringLiteral("Соединение с удаленным мультиплексором установлено")};
        QTest::newRow("configuration") << 2 << QStringList{"show", "unlock", "idle", "log"}
                                       << QStringList{QStringLiteral("Конфигурация считана")};
        QTest::newRow("written") << 4 << QStringList{"log", "log", "idle", "lock"}
                                 << QStringList{
                                        QStringLiteral("Конфигурация установлена"),
                                        QStringLiteral(
                                            "Необходимо повторное соединение для продолжения "
                                            "работы с мультиплексором")};
        QTest::newRow("unsupported")
            << 255 << QStringList{"log", "log"}
            << QStringList{
                   QStringLiteral("Текущая верия ПО модуля не поддерживает данную команду!"),
                   wrong};
        QTest::newRow("unknown type") << 8 << QStringList{"log"} << QStringList{wrong};
        QTest::newRow("type zero") << 0 << QStringList{"log"} << QStringList{wrong};
    }
    void configAnswers() {
        QFETCH(int, type);
        QFETCH(QStringList, calls);
        QFETCH(QStringList, log);
        RecordingShell shell;
        FakeWindow window;
        window.answer({1, static_cast<uint8_t>(type)});
        for (int i = 0; i < 100; ++i)
            window.buffer[2 + i] = static_cast<uint8_t>(i + 1);
        LastReadConfig.fill(0);
        QCOMPARE(int(ParseAnswer(window)), type);
        QCOMPARE(shell.calls, calls);
        QCOMPARE(shell.log, log);
        // Every group-1 answer lands in LastReadConfig, whatever its type.
        for (int i = 0; i < 100; ++i)
            QCOMPARE(int(LastReadConfig[i]), i + 1);
    }

    void configAnswerInStatisticsWindowIsStillGroupOne() {
        RecordingShell shell;
        FakeWindow window;
        window.answer({1, 8});
        QCOMPARE(int(ParseAnswer(window)), 8);
        QCOMPARE(shell.log, QStringList{QStringLiteral("Ошибочный ответ мультиплексора!")});
        QVERIFY(window.shownStatistics.empty());
    }

    void statisticsAnswers_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<bool>("shown");
        QTest::newRow("statistics") << 8 << QStringList{"unlock", "idle"} << true;
        QTest::newRow("cleared") << 16 << QStringList{"log", "unlock", "idle"} << false;
        QTest::newRow("unsupported") << 255 << QStringList{"unlock", "idle"} << false;
    }
    void statisticsAnswers() {
        QFETCH(int, type);
        QFETCH(QStringList, calls);
        QFETCH(bool, shown);
        RecordingShell shell;
        FakeWindow window;
        window.answer({2, static_cast<uint8_t>(type)});
        window.buffer[2] = 0xAB;
        window.buffer[469] = 0xCD;
        QCOMPARE(int(ParseAnswer(window)), type);
        QCOMPARE(shell.calls, calls);
        QCOMPARE(!window.shownStatistics.empty(), shown);
        if (shown) {
            QCOMPARE(int(window.shownStatistics.front()), 0xAB);
            QCOMPARE(int(window.shownStatistics.back()), 0xCD);
        }
        if (type == 16)
            QCOMPARE(shell.log, QStringList{QStringLiteral("Статистика сброшена")});
    }

    void switchingAnswerGoesToSnapshotOfCurrentMux_data() {
        QTest::addColumn<int>("mux");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("toA");
        QTest::addColumn<bool>("toB");
        QTest::addColumn<bool>("listsA");
        QTest::newRow("A") << 0 << 32 << true << false << false;
        QTest::newRow("B") << 1 << 32 << false << true << false;
        QTest::newRow("B alone") << 2 << 32 << false << false << false;
        QTest::newRow("write answer") << 0 << 64 << false << false << false;
        QTest::newRow("window listing A, pair at B") << 1 << 32 << true << false << true;
        QTest::newRow("window listing A, write answer") << 1 << 64 << false << false << true;
    }
    void switchingAnswerGoesToSnapshotOfCurrentMux() {
        QFETCH(int, mux);
        QFETCH(int, type);
        QFETCH(bool, toA);
        QFETCH(bool, toB);
        QFETCH(bool, listsA);
        RecordingShell shell;
        FakeWindow window(listsA ? &SnapshotA : nullptr);
        window.answer({3, static_cast<uint8_t>(type)});
        for (int i = 0; i < 280; ++i)
            window.buffer[2 + i] = static_cast<uint8_t>(i % 251 + 1);
        SnapshotA.fill(0);
        SnapshotB.fill(0);
        CurrentMux = mux;
        QCOMPARE(int(ParseAnswer(window)), type);
        CurrentMux = 0;
        QCOMPARE(SnapshotA[0] == 1, toA);
        QCOMPARE(SnapshotB[0] == 1, toB);
        if (toA)
            QVERIFY(std::equal(SnapshotA.begin(), SnapshotA.end(), window.buffer.begin() + 2));
        if (toB)
            QVERIFY(std::equal(SnapshotB.begin(), SnapshotB.end(), window.buffer.begin() + 2));
        QVERIFY(shell.calls.isEmpty());
    }

    void unknownOrEmptyGroupChangesNothing_data() {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("type");
        QTest::newRow("never written") << 0 << 0;
        QTest::newRow("group 9") << 9 << 2;
        QTest::newRow("group 0 type 4") << 0 << 4;
    }
    void unknownOrEmptyGroupChangesNothing() {
        QFETCH(int, group);
        QFETCH(int, type);
        RecordingShell shell;
        FakeWindow window;
        window.answer({static_cast<uint8_t>(group), static_cast<uint8_t>(type)});
        LastReadConfig.fill(0x33);
        QCOMPARE(int(ParseAnswer(window)), type);
        QVERIFY(shell.calls.isEmpty());
        QCOMPARE(int(LastReadConfig[0]), 0x33);
    }

    void answerLengths_data() {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("length");
        QTest::newRow("connect") << 1 << 1 << 2;
        QTest::newRow("read config") << 1 << 2 << 102;
        QTest::newRow("write config") << 1 << 4 << 2;
        QTest::newRow("read statistics") << 2 << 8 << 470;
        QTest::newRow("clear statistics") << 2 << 16 << 2;
        QTest::newRow("read switching") << 3 << 32 << 282;
        QTest::newRow("write switching") << 3 << 64 << 2;
        QTest::newRow("unsupported") << 2 << 255 << 2;
        // A block comes only with its own group: a read type under another group is a header.
        QTest::newRow("read config type under group 3") << 3 << 2 << 2;
        QTest::newRow("read switching type under group 2") << 2 << 32 << 2;
    }
    void answerLengths() {
        QFETCH(int, group);
        QFETCH(int, type);
        QFETCH(int, length);
        QCOMPARE(AnswerLength(static_cast<uint8_t>(group), static_cast<uint8_t>(type)), length);
    }

    // What reaches the window: a whole answer of the asked group, or nothing at all.
    void takeAnswer_data() {
        QTest::addColumn<int>("asked");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("taken");
        const auto frame = [](int group, int type, int length) {
            QByteArray b(length, '\x5A');
            b[0] = char(group);
            if (length > 1)
                b[1] = char(type);
            return b;
        };
        QTest::newRow("whole read") << 3 << frame(3, 32, 282) << true;
        QTest::newRow("longer than whole") << 2 << frame(2, 8, 500) << true;
        QTest::newRow("header of a read") << 3 << frame(3, 32, 2) << false;
        QTest::newRow("read one byte short") << 1 << frame(1, 2, 101) << false;
        QTest::newRow("statistics cut in the middle") << 2 << frame(2, 8, 235) << false;
        QTest::newRow("half a header") << 2 << frame(2, 16, 1) << false;
        QTest::newRow("nothing") << 1 << QByteArray() << false;
        QTest::newRow("unsupported of the asked group") << 2 << frame(2, 255, 2) << true;
        QTest::newRow("other type of the asked group") << 1 << frame(1, 8, 2) << true;
        QTest::newRow("another group, whole") << 2 << frame(3, 32, 282) << false;
        QTest::newRow("another group's first byte alone") << 2 << frame(1, 0, 1) << false;
    }
    void takeAnswer() {
        QFETCH(int, asked);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, taken);
        ReceiveBuffer buffer;
        buffer.fill(0xEE);  // the previous answer must not shine through either way
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
        QCOMPARE(TakeAnswer(static_cast<uint8_t>(asked), data, int(bytes.size()), buffer), taken);
        const int kept = taken ? std::min<int>(int(bytes.size()), kFrameBufferSize) : 0;
        QVERIFY(std::equal(data, data + kept, buffer.begin()));
        QVERIFY(std::all_of(buffer.begin() + kept, buffer.end(), [](uint8_t b) { return b == 0; }));
    }
};

QTEST_APPLESS_MAIN(FramingTest)
#include "test_framing.moc"
