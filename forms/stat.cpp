#include "forms/stat.h"

#include <QDateTime>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "link/shell.h"
#include "model/statmodel.h"
#include "ui/controls.h"
#include "ui/inistore.h"
#include "ui/radiogroup.h"
#include "ui/stringgrid.h"

namespace {

constexpr int kClientWidth = 657;
constexpr int kClientHeight = 417;

constexpr int kSessionColumns = StatTable::SessionColumns;
constexpr int kSessionRows = StatTable::SessionRows;
constexpr int kSessionColumnWidth = 70;
constexpr int kTotalsColumns = StatTable::TotalsColumns;
constexpr int kTotalsRows = StatTable::TotalsRows;
constexpr int kRowHeight = 26;
constexpr int kAutoRequestMs = 3000;

const QString kRequestCaption = QStringLiteral("Запросить");
const QString kStartCaption = QStringLiteral("Начать");
const QString kStopCaption = QStringLiteral("Прекратить");

const QString kLogNotWritten = QStringLiteral("Не удалось записать файл статистики: ");
const QString kLogLeftInWorkingFile =
    QStringLiteral("Не удалось переименовать файл статистики, запись осталась в файле: ");
const QString kLogLinesDropped =
    QStringLiteral("В файл статистики %1 не попало строк, пока он не записывался: %2");

// A string grid as the statistics processing sees it; what is written through it reaches the
// view as one change when it goes.
class GridCells : public StatCells {
  public:
    explicit GridCells(StringGrid* grid) : grid_(grid) { grid_->beginBatch(); }
    ~GridCells() override { grid_->endBatch(); }
    GridCells(const GridCells&) = delete;
    GridCells& operator=(const GridCells&) = delete;
    QString cellText(int column, int row) const override { return grid_->cellText(column, row); }
    void setCellText(int column, int row, const QString& text) override {
        grid_->setCellText(column, row, text);
    }

  private:
    StringGrid* grid_;
};

}  // namespace

void TStatForm::reportLogTrouble(StatLogFile::Trouble trouble, const QString& fileName,
                                 qint64 dropped) {
    QString text;
    switch (trouble) {
        case StatLogFile::Trouble::NotWritten:
            text = kLogNotWritten + fileName;
            break;
        case StatLogFile::Trouble::LeftInWorkingFile:
            text = kLogLeftInWorkingFile + fileName;
            break;
        case StatLogFile::Trouble::LinesDropped:
            text = kLogLinesDropped.arg(fileName).arg(dropped);
            break;
    }
    // While the main window closes its event log goes with it: the operator would never read
    // the line there.
    if (ending_)
        ReportError(text);
    else
        LogEvent(text);
}

namespace {

const QList<int> kTotalsColumnWidths = {102, 103, 102, 102, 102, 102};

void WriteHeadings(StringGrid* grid, const QStringList& rows, const QStringList& columns) {
    for (int r = 0; r < rows.size(); ++r)
        grid->setCellText(0, r + 1, rows[r]);
    for (int c = 0; c < columns.size(); ++c)
        grid->setCellText(c + 1, 0, columns[c]);
}

}  // namespace

TStatForm::TStatForm(int slot, QWidget* parent, PendingTable& pending, IniStore& store,
                     WorkingFileTaken taken)
    : ModuleWindow(parent, pending),
      slot_(slot),
      store_(store),
      workingFileTaken_(std::move(taken)) {
    setObjectName(QStringLiteral("StatForm%1").arg(slot));
    setWindowTitle(QStringLiteral("Статистика"));
    setFixedSize(kClientWidth, kClientHeight);

    // The top band: four groups side by side, the same height, over the session table.
    constexpr int kBandTop = 4;
    constexpr int kBandHeight = 62;
    constexpr int kInnerTop = 24;

    QGroupBox* control = MakeGroup(QString(), QStringLiteral("Управление"), this,
                                   QRect(4, kBandTop, 196, kBandHeight));
    RequestButton = new QPushButton(kRequestCaption, control);
    RequestButton->setObjectName(QStringLiteral("RequestButton"));
    // Wide enough for the longest caption the button takes, "Прекратить".
    RequestButton->setGeometry(8, kInnerTop, 88, kControlHeight);
    ClearButton = new QPushButton(QStringLiteral("Сбросить"), control);
    ClearButton->setObjectName(QStringLiteral("ClearButton"));
    ClearButton->setGeometry(100, kInnerTop, 88, kControlHeight);

    RadioGroupRequestType =
        new RadioGroup(QStringLiteral("RadioGroupRequestType"), QStringLiteral("Тип запроса"),
                       {QStringLiteral("Одиночный"), QStringLiteral("Автоматический")}, 2, this);
    RadioGroupRequestType->setGeometry(204, kBandTop, 256, kBandHeight);
    RadioGroupRequestType->setItemIndex(0);

    QGroupBox* ipGroup = MakeGroup(QString(), QStringLiteral("Ip адрес"), this,
                                   QRect(464, kBandTop, 122, kBandHeight));
    EditStatIp = MakeCentredEdit(QStringLiteral("EditStatIp"),
                                 QRect(6, kInnerTop, 110, kControlHeight), ipGroup);

    QGroupBox* portGroup =
        MakeGroup(QString(), QStringLiteral("Порт"), this, QRect(590, kBandTop, 63, kBandHeight));
    EditStatPort = MakeCentredEdit(QStringLiteral("EditStatPort"),
                                   QRect(6, kInnerTop, 51, kControlHeight), portGroup);

    StringGrid_ = new StringGrid(QStringLiteral("StringGrid"), kSessionColumns, kSessionRows, this);
    StringGrid_->setUniformSizes(kSessionColumnWidth, kRowHeight);
    WriteHeadings(StringGrid_, kSessionRowHeadings, kSessionColumnHeadings);
    const QSize sessionSize = StringGrid_->wholeSize();
    constexpr int kGridTop = kBandTop + kBandHeight + 6;
    StringGrid_->setGeometry((kClientWidth - sessionSize.width()) / 2, kGridTop,
                             sessionSize.width(), sessionSize.height());

    // The totals table starts on the last pixel row of the window, so only its top edge is
    // inside; it still receives every answer.
    StringGrid2 = new StringGrid(QStringLiteral("StringGrid2"), kTotalsColumns, kTotalsRows, this);
    StringGrid2->setColumnWidths(kTotalsColumnWidths);
    for (int r = 0; r < kTotalsRows; ++r)
        StringGrid2->setRowHeight(r, kRowHeight);
    WriteHeadings(StringGrid2, kTotalsRowHeadings, kTotalsColumnHeadings);
    const QSize totalsSize = StringGrid2->wholeSize();
    StringGrid2->setGeometry((kClientWidth - totalsSize.width()) / 2, kClientHeight - 1,
                             totalsSize.width(), totalsSize.height());
    StringGrid2->setEnabled(false);

    TimerRequestStat = new QTimer(this);
    TimerRequestStat->setObjectName(QStringLiteral("TimerRequestStat"));
    TimerRequestStat->setInterval(kAutoRequestMs);

    connect(RadioGroupRequestType, &RadioGroup::itemIndexChanging, this,
            Guarded([this](int, int next) { RadioGroupRequestTypeChanging(next); }));
    connect(RequestButton, &QPushButton::clicked, this,
            Guarded([this] { RequestButtonClick(Sender::Operator); }));
    connect(ClearButton, &QPushButton::clicked, this,
            Guarded([this] { ClearButtonClick(Sender::Operator); }));
    connect(TimerRequestStat, &QTimer::timeout, this, Guarded([this] { TimerRequestStatTimer(); }));
}

TStatForm::~TStatForm() {
    // The main window going away destroys its statistics windows without a close: a running
    // record is finished all the same.
    ending_ = true;
    Flow.finishLog(EditStatIp->text(), Now());
}

void TStatForm::setModule(const QString& address, const QString& port) {
    EditStatIp->setText(address);
    EditStatPort->setText(port);
}

bool TStatForm::recordsInto(const QString& workingPath) const {
    return Flow.log() && Flow.log()->workingPath() == workingPath;
}

void TStatForm::SetBusyControls(bool busy) {
    RequestButton->setEnabled(!busy);
}

void TStatForm::RadioGroupRequestTypeChanging(int next) {
    Flow.setMode(next == 1 ? StatMode::Automatic : StatMode::Single);
    showPress();
}

// The request button names what a press does now.
void TStatForm::showPress() {
    switch (Flow.press()) {
        case StatFlow::Press::Request:
            RequestButton->setText(kRequestCaption);
            break;
        case StatFlow::Press::Start:
            RequestButton->setText(kStartCaption);
            break;
        case StatFlow::Press::Stop:
            RequestButton->setText(kStopCaption);
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// Requests

void TStatForm::RequestButtonClick(Sender sender) {
    if (sender == Sender::Operator && Flow.press() == StatFlow::Press::Start) {
        startAutomatic();
        return;
    }
    if (sender == Sender::Operator && Flow.press() == StatFlow::Press::Stop) {
        stopAutomatic();
        return;
    }
    if (EndsUnanswered(sender) || sender == Sender::Answer) {
        Flow.requestEnded(sender, *this);
        return;
    }
    // A tick or a press while the answer is awaited is skipped: the answer comes by itself.
    const StatFlow::Step step = Flow.request(EditStatIp->text(), EditStatPort->text());
    if (step.sends()) {
        Flow.requestSent(sendRequest(step.address, step.port,
                                     bind(FlowStat, &TStatForm::RequestButtonClick),
                                     GroupStatistics, step.type));
    }
}

void TStatForm::TimerRequestStatTimer() {
    RequestButtonClick(Sender::Window);
}

void TStatForm::ClearButtonClick(Sender sender) {
    if (!EndsUnanswered(sender)) {
        GridCells sessions(StringGrid_);
        GridCells totals(StringGrid2);
        ZeroCells(sessions, kSessionColumns, kSessionRows);
        ZeroCells(totals, kTotalsColumns, kTotalsRows);
    }
    if (EndsUnanswered(sender) || sender == Sender::Answer) {
        if (Flow.clearEnded(sender, *this))
            TimerRequestStat->start();
        return;
    }
    const StatFlow::Step step = Flow.clear(EditStatIp->text(), EditStatPort->text());
    if (step.sends()) {
        Flow.clearSent(sendRequest(step.address, step.port,
                                   bind(FlowClear, &TStatForm::ClearButtonClick), GroupStatistics,
                                   step.type));
    }
}

void TStatForm::startAutomatic() {
    const QString name = StatLogFileName(StatDateTimeText(Now()), EditStatIp->text());
    QString working = StatWorkingFileName(name) + kStatLogExtension;
    // Two windows on one module started within the same second would write one working file
    // and the second would wipe the first's record: the later one takes its slot number too.
    if (workingFileTaken_ && workingFileTaken_(working))
        working = StatWorkingFileName(name) + QString::number(slot()) + kStatLogExtension;
    // A single request still on its way carries counts from before the clear: its answer must
    // not become the record's first block.
    abandon(FlowStat);
    Flow.start(working, [this](StatLogFile::Trouble trouble, const QString& file, qint64 dropped) {
        reportLogTrouble(trouble, file, dropped);
    });
    showPress();
    ClearButton->setEnabled(false);
    RadioGroupRequestType->setEnabled(false);
    ClearButtonClick(Sender::Window);
}

void TStatForm::stopAutomatic() {
    TimerRequestStat->stop();
    Flow.stop(EditStatIp->text(), Now());
    showPress();
    ClearButton->setEnabled(true);
    RadioGroupRequestType->setEnabled(true);
    abandon(FlowStat);
}

void TStatForm::showStatistics(const uint8_t* block) {
    GridCells totals(StringGrid2);
    GridCells sessions(StringGrid_);
    Flow.show(block, totals, sessions, Now());
}

// ---------------------------------------------------------------------------------------------
// Closing

void TStatForm::FormStatClose() {
    // A running record is finished as a stop would finish it; nothing more is asked.
    TimerRequestStat->stop();
    Flow.finishLog(EditStatIp->text(), Now());
    endExchanges();
    if (closed_)
        return;
    closed_ = true;
    store_.WriteStrings(QStringLiteral("Statistic"),
                        {{QStringLiteral("MuxIp%1").arg(slot_), EditStatIp->text()},
                         {QStringLiteral("MuxPort%1").arg(slot_), EditStatPort->text()}});
    emit closed();
    deleteLater();
}
