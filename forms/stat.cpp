#include "forms/stat.h"

#include <QCloseEvent>
#include <QGroupBox>

#include "forms/main.h"
#include "link/pending.h"
#include "link/shell.h"

namespace {

constexpr int kClientWidth = 657;
constexpr int kClientHeight = 417;

constexpr int kSessionColumns = 9;
constexpr int kSessionRows = 13;
constexpr int kSessionColumnWidth = 70;
constexpr int kTotalsColumns = 6;
constexpr int kTotalsRows = 3;
constexpr int kRowHeight = 26;
constexpr int kAutoRequestMs = 3000;

const QString kRequestCaption = QStringLiteral("Запросить");
const QString kStartCaption = QStringLiteral("Начать");

const QStringList kSessionRowHeadings = {
    QStringLiteral("S1 Local"),   QStringLiteral("S1 Transit"), QStringLiteral("S2 Local"),
    QStringLiteral("S2 Transit"), QStringLiteral("S3 Local"),   QStringLiteral("S3 Transit"),
    QStringLiteral("S4 Local"),   QStringLiteral("S4 Transit"), QStringLiteral("S5 Local"),
    QStringLiteral("S5 Transit"), QStringLiteral("S6 Local"),   QStringLiteral("S6 Transit")};
const QStringList kSessionColumnHeadings = {
    QStringLiteral("SortLost(1)"), QStringLiteral("Udf(1)"),      QStringLiteral("Reject(1)"),
    QStringLiteral("PIB(1)"),      QStringLiteral("SortLost(2)"), QStringLiteral("Udf(2)"),
    QStringLiteral("Reject(2)"),   QStringLiteral("PIB(2)")};
const QStringList kTotalsRowHeadings = {QStringLiteral("Loc"), QStringLiteral("Tr")};
const QStringList kTotalsColumnHeadings = {
    QStringLiteral("TxPLIS"), QStringLiteral("TxToNetwork(1)"), QStringLiteral("TxToPLIS"),
    QStringLiteral("RxPLIS"), QStringLiteral("TxToNetwork(2)")};
const QList<int> kTotalsColumnWidths = {102, 103, 102, 102, 102, 102};

void WriteHeadings(StringGrid* grid, const QStringList& rows, const QStringList& columns) {
    for (int r = 0; r < rows.size(); ++r)
        grid->setCellText(0, r + 1, rows[r]);
    for (int c = 0; c < columns.size(); ++c)
        grid->setCellText(c + 1, 0, columns[c]);
}

// The grids' cells are sized in whole pixels per column; the tables' texts are set a point
// smaller than the controls so that every heading fits its column.
void UseGridFont(StringGrid* grid) {
    QFont font = grid->font();
    font.setPointSize(8);
    grid->setFont(font);
}

int SumOfColumnWidths(const StringGrid* grid) {
    int sum = 0;
    for (int c = 0; c < grid->columnCount(); ++c)
        sum += grid->columnWidth(c);
    return sum;
}

int SumOfRowHeights(const StringGrid* grid) {
    int sum = 0;
    for (int r = 0; r < grid->rowCount(); ++r)
        sum += grid->rowHeight(r);
    return sum;
}

// Grid widget just large enough for every cell, so that no scroll bar appears.
QSize WholeGridSize(const StringGrid* grid) {
    const int frame = 2 * grid->frameWidth();
    return {SumOfColumnWidths(grid) + frame, SumOfRowHeights(grid) + frame};
}

QGroupBox* MakeGroup(const QString& caption, const QRect& geometry, QWidget* parent) {
    auto* group = new QGroupBox(caption, parent);
    group->setGeometry(geometry);
    return group;
}

}  // namespace

TStatForm::TStatForm(int slot, QWidget* parent) : ModuleWindow(parent), slot_(slot) {
    setObjectName(QStringLiteral("StatForm%1").arg(slot));
    setWindowTitle(QStringLiteral("Статистика"));
    setFixedSize(kClientWidth, kClientHeight);

    // The top band: four groups side by side, the same height, over the session table.
    constexpr int kBandTop = 4;
    constexpr int kBandHeight = 62;
    constexpr int kInnerTop = 24;
    constexpr int kControlHeight = 26;

    QGroupBox* control =
        MakeGroup(QStringLiteral("Управление"), QRect(4, kBandTop, 196, kBandHeight), this);
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

    QGroupBox* ipGroup =
        MakeGroup(QStringLiteral("Ip адрес"), QRect(464, kBandTop, 122, kBandHeight), this);
    EditStatIp = new QLineEdit(ipGroup);
    EditStatIp->setObjectName(QStringLiteral("EditStatIp"));
    EditStatIp->setAlignment(Qt::AlignCenter);
    EditStatIp->setGeometry(6, kInnerTop, 110, kControlHeight);

    QGroupBox* portGroup =
        MakeGroup(QStringLiteral("Порт"), QRect(590, kBandTop, 63, kBandHeight), this);
    EditStatPort = new QLineEdit(portGroup);
    EditStatPort->setObjectName(QStringLiteral("EditStatPort"));
    EditStatPort->setAlignment(Qt::AlignCenter);
    EditStatPort->setGeometry(6, kInnerTop, 51, kControlHeight);

    StringGrid_ = new StringGrid(QStringLiteral("StringGrid"), kSessionColumns, kSessionRows, this);
    UseGridFont(StringGrid_);
    StringGrid_->setUniformSizes(kSessionColumnWidth, kRowHeight);
    WriteHeadings(StringGrid_, kSessionRowHeadings, kSessionColumnHeadings);
    const QSize sessionSize = WholeGridSize(StringGrid_);
    constexpr int kGridTop = kBandTop + kBandHeight + 6;
    StringGrid_->setGeometry((kClientWidth - sessionSize.width()) / 2, kGridTop,
                             sessionSize.width(), sessionSize.height());

    // The totals table starts on the last pixel row of the window, so only its top edge is
    // inside; it still receives every answer.
    StringGrid2 = new StringGrid(QStringLiteral("StringGrid2"), kTotalsColumns, kTotalsRows, this);
    UseGridFont(StringGrid2);
    StringGrid2->setColumnWidths(kTotalsColumnWidths);
    for (int r = 0; r < kTotalsRows; ++r)
        StringGrid2->setRowHeight(r, kRowHeight);
    WriteHeadings(StringGrid2, kTotalsRowHeadings, kTotalsColumnHeadings);
    const QSize totalsSize = WholeGridSize(StringGrid2);
    StringGrid2->setGeometry((kClientWidth - totalsSize.width()) / 2, kClientHeight - 1,
                             totalsSize.width(), totalsSize.height());
    StringGrid2->setEnabled(false);

    TimerRequestStat = new QTimer(this);
    TimerRequestStat->setObjectName(QStringLiteral("TimerRequestStat"));
    TimerRequestStat->setInterval(kAutoRequestMs);

    connect(RadioGroupRequestType, &RadioGroup::itemIndexChanging, this, [this](int current, int) {
        RunGuarded([&] { RadioGroupRequestTypeChanging(current); });
    });
}

TStatForm::~TStatForm() {
    // Destroyed without a close (the main window going away): the slot must not keep a
    // dangling window.
    for (TStatForm*& w : StatWindows) {
        if (w == this)
            w = nullptr;
    }
}

void TStatForm::RadioGroupRequestTypeChanging(int current) {
    RequestButton->setText(current == 0 ? kStartCaption : kRequestCaption);
}

void TStatForm::FormStatClose() {
    ReleasePendingRequests(this);
    int n = -1;
    for (int i = 0; i < kStatSlots; ++i) {
        if (StatWindows[i] == this)
            n = i;
    }
    if (n < 0)
        return;
    if (MainForm) {
        IniStore& store = MainForm->RegIniFile();
        store.WriteString(QStringLiteral("Statistic"), QStringLiteral("MuxIp%1").arg(n),
                          EditStatIp->text());
        store.WriteString(QStringLiteral("Statistic"), QStringLiteral("MuxPort%1").arg(n),
                          EditStatPort->text());
    }
    // Emptied now rather than on deletion, so that the very next press can reuse the slot.
    StatWindows[n] = nullptr;
    deleteLater();
}

void TStatForm::closeEvent(QCloseEvent* event) {
    RunGuarded([this] { FormStatClose(); });
    event->accept();
}
