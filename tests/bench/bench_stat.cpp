// One statistics answer taken into both tables of a statistics window while the automatic mode
// records changes, every session cell changing on every answer.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <QtWidgets>

#include "flows/commands.h"
#include "forms/main.h"
#include "forms/stat.h"
#include "model/bytes.h"
#include "model/statlogfile.h"
#include "support/windows.h"
#include "ui/errorreport.h"
#include "ui/speedbutton.h"
#include "ui/stringgrid.h"

namespace {

TStatForm* g_window = nullptr;

// Two answers that differ in every counter, so that each one changes all 96 session cells.
void PutAnswers(ReceiveBuffer& a, ReceiveBuffer& b) {
    for (ReceiveBuffer* buffer : {&a, &b}) {
        buffer->fill(0);
        (*buffer)[0] = GroupStatistics;
        (*buffer)[1] = CmdReadStatistics;
    }
    for (int o = 0; o < kStatisticsBlockSize; o += 2) {
        PutU16(&a[kHeaderSize + o], static_cast<uint16_t>(1000 + o));
        PutU16(&b[kHeaderSize + o], static_cast<uint16_t>(20000 + o));
    }
}

void Answers(benchmark::State& state, bool withLogFile) {
    TStatForm& w = *g_window;
    ReceiveBuffer a{}, b{};
    PutAnswers(a, b);
    QTemporaryDir dir;
    // The automatic mode as it runs once its clear is confirmed; the timer never fires here.
    w.Flow.start(withLogFile ? dir.filePath("bench.part.txt") : QString(), nullptr);
    w.Flow.PendingClearType = Awaiting::ClearStatistics;
    w.receiveBuffer().fill(0);
    w.receiveBuffer()[0] = GroupStatistics;
    w.receiveBuffer()[1] = CmdClearStatistics;
    if (!w.Flow.clearEnded(Sender::Answer, w))
        state.SkipWithError("the automatic mode did not start");
    bool second = false;
    for (auto _ : state) {
        w.receiveBuffer() = second ? b : a;
        second = !second;
        benchmark::DoNotOptimize(ParseAnswer(w));
    }
    // The finished log takes its name in the working folder: the temporary one.
    const QString folder = QDir::currentPath();
    QDir::setCurrent(dir.path());
    w.Flow.stop(QStringLiteral("127.0.0.1"), QDateTime::currentDateTime());
    QDir::setCurrent(folder);
}

void TablesAndChangeLines(benchmark::State& state) {
    Answers(state, false);
}
void WithTheLogFile(benchmark::State& state) {
    Answers(state, true);
}

// The floor: the same 106 numbers written straight into the two tables' cells, one batch per
// table, without the block mapping, the comparison with what is shown or the change lines.
void FloorPlainCellWrites(benchmark::State& state) {
    TStatForm& w = *g_window;
    bool second = false;
    for (auto _ : state) {
        const int base = second ? 20000 : 1000;
        second = !second;
        for (StringGrid* grid : {w.StringGrid_, w.StringGrid2}) {
            grid->beginBatch();
            for (int r = 1; r < grid->rowCount(); ++r) {
                for (int c = 1; c < grid->columnCount(); ++c)
                    grid->setCellText(c, r, QString::number(base + r * 16 + c));
            }
            grid->endBatch();
        }
    }
}

BENCHMARK(TablesAndChangeLines)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(WithTheLogFile)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(FloorPlainCellWrites)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    TMainForm form(dir.filePath("kestrel.ini"));
    form.ButtonStatClick();
    g_window = StatWindow(0);
    // Shown, as the operator has it: every changed cell schedules its repaint.
    g_window->show();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
