#include "forms/currentlinks.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "link/codecs.h"
#include "link/shell.h"
#include "ui/controls.h"
#include "ui/stringgrid.h"

namespace {

constexpr int kClientWidth = 392;
constexpr int kClientHeight = 193;
constexpr int kRowHeight = 25;
constexpr int kFlowLinks = CmdReadSwitching;
constexpr int kAddressColumn = 1;
constexpr int kChoiceColumn = 2;

}  // namespace

TCurLinksForm::TCurLinksForm(QWidget* parent, PendingTable& pending, SwitchingPair& pair)
    : ModuleWindow(parent, pending), pair_(pair) {
    setObjectName(QStringLiteral("CurLinksForm"));
    setWindowTitle(QStringLiteral("Текущие связи"));
    setFixedSize(kClientWidth, kClientHeight);

    StringGridCurLinks =
        new StringGrid(QStringLiteral("StringGridCurLinks"), 3, kSessionCount + 1, this);
    StringGridCurLinks->setColumnWidths({70, 119, 39});
    for (int r = 0; r <= kSessionCount; ++r)
        StringGridCurLinks->setRowHeight(r, kRowHeight);
    StringGridCurLinks->setCellText(1, 0, QStringLiteral("        Destination IP"));
    StringGridCurLinks->setCellText(2, 0, QStringLiteral("Выбор"));
    for (int s = 1; s <= kSessionCount; ++s)
        StringGridCurLinks->setCellText(0, s, QStringLiteral("        S%1").arg(s));
    const int gridWidth = StringGridCurLinks->wholeSize().width();
    const int gridHeight = StringGridCurLinks->wholeSize().height();
    const int gridTop = (kClientHeight - gridHeight) / 2;
    StringGridCurLinks->setGeometry(8, gridTop, gridWidth, gridHeight);

    // The address column beside the table: label over field, the button level with the
    // table's last row.
    const int left = 8 + gridWidth + 12;
    const int width = kClientWidth - 8 - left;
    auto* ipLabel = new QLabel(QStringLiteral("IP-адрес:"), this);
    ipLabel->setGeometry(left, gridTop, width, 18);
    EditIp = new QLineEdit(this);
    EditIp->setObjectName(QStringLiteral("EditIp"));
    EditIp->setAlignment(Qt::AlignCenter);
    EditIp->setGeometry(left, gridTop + 18, width, kControlHeight);
    ipLabel->setBuddy(EditIp);

    auto* portLabel = new QLabel(QStringLiteral("Номер порта:"), this);
    portLabel->setGeometry(left, gridTop + 54, width, 18);
    EditPort = new QLineEdit(this);
    EditPort->setObjectName(QStringLiteral("EditPort"));
    EditPort->setAlignment(Qt::AlignCenter);
    EditPort->setGeometry(left, gridTop + 72, width, kControlHeight);
    portLabel->setBuddy(EditPort);

    ButtonConnect = new QPushButton(QStringLiteral("Соединиться"), this);
    ButtonConnect->setObjectName(QStringLiteral("ButtonConnect"));
    ButtonConnect->setGeometry(left, gridTop + gridHeight - kControlHeight, width, kControlHeight);

    connect(ButtonConnect, &QPushButton::clicked, this,
            Guarded([this] { ButtonConnectClick(Sender::Operator); }));
    connect(StringGridCurLinks, &QTableWidget::cellDoubleClicked, this,
            Guarded([this](int row, int column) { StringGridCurLinksDblClick(column, row); }));
}

TCurLinksForm::~TCurLinksForm() {
    if (open_) {
        open_ = false;
        pair_.linksWindowClosed();
    }
}

// Both windows' command controls: the switching pair and this read share one exchange.
void TCurLinksForm::showCommandState() {
    showOwnCommandState();
    emit commandStateChanged();
}

void TCurLinksForm::showOwnCommandState() {
    ButtonConnect->setEnabled(pair_.commandsEnabled());
}

LinksChoice TCurLinksForm::choice() const {
    LinksChoice c;
    c.ip = EditIp->text();
    c.port = EditPort->text();
    for (int n = 0; n < kSessionCount; ++n)
        c.chosen[n] = StringGridCurLinks->cellText(kChoiceColumn, n + 1) == SelectMark;
    return c;
}

void TCurLinksForm::ButtonConnectClick(Sender sender) {
    if (EndsUnanswered(sender) || sender == Sender::Answer) {
        if (pair_.openExchange() != SwitchingPair::Op::Links)
            return;
        if (sender == Sender::Timeout) {
            pair_.linksTimedOut();
        } else if (sender == Sender::SendFailed) {
            pair_.linksSendFailed();  // its line is in the log already
        } else {
            if (pair_.linksAnswered(ParseAnswer(*this)))
                FillLinksTable();
        }
        showCommandState();
        return;
    }
    const SwitchingPair::Step step = pair_.pressLinks(EditIp->text(), EditPort->text());
    if (step.sends() &&
        !sendRequest(step.address, step.port, bind(kFlowLinks, &TCurLinksForm::ButtonConnectClick),
                     GroupSwitching, step.type))
        pair_.linksSendFailed();
    showCommandState();
}

void TCurLinksForm::FillLinksTable() {
    const SwitchingRead* read = pair_.linksRead();
    if (!read)
        return;
    const LinkRows rows = CurrentLinkRows(read->block);
    for (int n = 0; n < kSessionCount; ++n) {
        StringGridCurLinks->setCellText(kAddressColumn, n + 1, rows[n].destination);
        StringGridCurLinks->setCellText(kChoiceColumn, n + 1, rows[n].choice);
    }
}

void TCurLinksForm::StringGridCurLinksDblClick(int column, int row) {
    if (column < 1 || row < 1)
        return;  // the headings are not cells the operator can choose
    StringGridCurLinks->setCellText(column, row,
                                    ToggledChoice(StringGridCurLinks->cellText(column, row)));
}

void TCurLinksForm::FormClose() {
    // Without chosen sessions the selective reset is over: the switching window's target
    // choice is offered again.
    emit selectiveResetEnded();
    endAndDelete();
    if (!open_)
        return;
    open_ = false;
    pair_.linksWindowClosed();
    emit closed();
}
