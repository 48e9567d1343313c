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
    // The snapshot of the flow that asked, or none. What the answer asks of the control states
    // goes into the shell's record, in order with the log lines.
    explicit FakeWindow(RecordingShell& shell, MuxSnapshot* own = nullptr)
        : own_(own), calls_(shell.calls) {}
    void lockModuleSettings(bool lock) override { calls_ << (lock ? "lock" : "unlock"); }
    void setBusy(bool busy) override { calls_ << (busy ? "busy" : "idle"); }
    void showReadConfig() override { calls_ << "show"; }
    MuxSnapshot* switchingAnswerTarget() override { return own_; }
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
    QStringList& calls_;
};

bool AllZeroFrom(const RequestFrame& request, int offset) {
    return std::all_of(request.RequestBuffer.begin() + offset, request.RequestBuffer.end(),
                       [](uint8_t b) { return b == 0; });
}

}  // namespace

class FramingTest : public QObject {
    Q_OBJECT
  private slots:
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
        // A payload longer than any block: the request takes what its type carries, no more.
        std::vector<uint8_t> payload(300, length == 102 ? 0xC1 : 0x5A);
        const RequestFrame request = BuildRequest(static_cast<uint8_t>(group), type, payload);
        QCOMPARE(request.length, length);
        QCOMPARE(int(request.RequestBuffer[0]), group);
        QCOMPARE(int(request.RequestBuffer[1]), type & 0xFF);
        for (int i = 2; i < length; ++i)
            QCOMPARE(int(request.RequestBuffer[i]), int(payload[0]));
        QVERIFY(AllZeroFrom(request, length));
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
        FakeWindow window(shell);
        window.answer({1, static_cast<uint8_t>(type)});
        for (int i = 0; i < 100; ++i)
            window.buffer[2 + i] = static_cast<uint8_t>(i + 1);
        QCOMPARE(int(ParseAnswer(window)), type);
        QCOMPARE(shell.calls, calls);
        QCOMPARE(shell.log, log);
    }

    void configAnswerInStatisticsWindowIsStillGroupOne() {
        RecordingShell shell;
        FakeWindow window(shell);
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
        FakeWindow window(shell);
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

    void switchingAnswerGoesToTheAskingFlow_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("target");
        QTest::addColumn<bool>("copied");
        QTest::newRow("read answer") << 32 << true << true;
        QTest::newRow("write answer") << 64 << true << false;
        QTest::newRow("unsupported") << 255 << true << false;
        QTest::newRow("read answer nobody asks for") << 32 << false << false;
    }
    void switchingAnswerGoesToTheAskingFlow() {
        QFETCH(int, type);
        QFETCH(bool, target);
        QFETCH(bool, copied);
        RecordingShell shell;
        MuxSnapshot snapshot{};
        FakeWindow window(shell, target ? &snapshot : nullptr);
        window.answer({3, static_cast<uint8_t>(type)});
        for (int i = 0; i < 280; ++i)
            window.buffer[2 + i] = static_cast<uint8_t>(i % 251 + 1);
        QCOMPARE(int(ParseAnswer(window)), type);
        QCOMPARE(std::equal(snapshot.begin(), snapshot.end(), window.buffer.begin() + 2), copied);
        if (!copied)
            QVERIFY(
                std::all_of(snapshot.begin(), snapshot.end(), [](uint8_t b) { return b == 0; }));
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
        MuxSnapshot snapshot;
        snapshot.fill(0x33);
        FakeWindow window(shell, &snapshot);
        window.answer({static_cast<uint8_t>(group), static_cast<uint8_t>(type)});
        QCOMPARE(int(ParseAnswer(window)), type);
        QVERIFY(shell.calls.isEmpty());
        QCOMPARE(int(snapshot[0]), 0x33);
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
