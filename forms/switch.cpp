#include "forms/switch.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <stdexcept>

#include "forms/currentlinks.h"
#include "link/codecs.h"
#include "link/shell.h"
#include "model/switchblock.h"
#include "ui/controls.h"
#include "ui/inistore.h"
#include "ui/stringgrid.h"

namespace {

constexpr int kClientWidth = 722;
constexpr int kClientHeight = 530;
constexpr int kMargin = 8;
constexpr int kGap = 8;

constexpr int kHeadingColumnWidth = 66;
constexpr int kPortColumnWidth = 53;
constexpr int kPortRowHeight = 18;

const QString kCorner = QStringLiteral("    A \\ B");

// The reset choices as the two lists show them, item by item: the flow gets the value of the
// chosen item, never its text.
const std::array<std::pair<QString, ResetType>, 2> kResetTypes{{
    {QStringLiteral("Все настройки"), ResetType::All},
    {QStringLiteral("Селективный"), ResetType::Selective},
}};
const std::array<std::pair<QString, ResetTarget>, 3> kResetTargets{{
    {QStringLiteral("Мультиплексора  А"), ResetTarget::A},
    {QStringLiteral("Мультиплексора  В"), ResetTarget::B},
    {QStringLiteral("Мультиплексоров А и В"), ResetTarget::Both},
}};

const QString kDefaultPort = QStringLiteral("65530");
const QString kSection = QStringLiteral("SwitchSettings");

QStringList PortHeadings(Matrix matrix) {
    QStringList headings;
    for (int line = 1; line <= LinesOf(matrix); ++line)
        headings << PortName(matrix, line);
    return headings;
}

StringGrid::CellLook MarkLook(int, int, const QString& text) {
    if (text == LinkMark)
        return {QColor(0, 0, 128), true};
    if (text == BlockMark)
        return {QColor(192, 192, 192), true};
    return {};
}

// Rows stand for the ports of A and columns for those of B, so both heading lines carry the
// same port names.
StringGrid* MakePortGrid(const QString& name, int size, const QStringList& headings,
                         QWidget* parent) {
    auto* grid = new StringGrid(name, size, size, parent);
    grid->setColumnWidth(0, kHeadingColumnWidth);
    for (int i = 1; i < size; ++i)
        grid->setColumnWidth(i, kPortColumnWidth);
    for (int i = 0; i < size; ++i)
        grid->setRowHeight(i, kPortRowHeight);
    grid->setCellText(0, 0, kCorner);
    for (int i = 1; i < size; ++i) {
        grid->setCellText(i, 0, headings[i - 1]);
        grid->setCellText(0, i, headings[i - 1]);
    }
    grid->setCellLook(MarkLook);
    grid->resize(grid->wholeSize());
    return grid;
}

// Addresses remembered per multiplexer: far more than an operator keeps in a drop-down list, and
// few enough that a damaged or hostile count cannot make the window take minutes and hundreds
// of megabytes to open.
constexpr int kMaxRememberedAddresses = 100;

int ReadNumber(const QHash<QString, QString>& section, const QString& key,
               const QString& fallback) {
    const QString text = section.value(key.toLower(), fallback);
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok)
        throw ConversionError(QStringLiteral("Неверное число \"%1\"").arg(text));
    return value;
}

void LoadSide(const QHash<QString, QString>& section, const QString& side, QComboBox* box,
              QLineEdit* port, QStringList& ports) {
    const int count =
        std::min(ReadNumber(section, QStringLiteral("Count") + side, QStringLiteral("0")),
                 kMaxRememberedAddresses);
    const int index = ReadNumber(section, QStringLiteral("ItemIndex") + side, QStringLiteral("0"));
    {
        // The box would choose its first item by itself; the stored choice is applied below.
        const QSignalBlocker block(box);
        for (int n = 0; n < count; ++n) {
            box->addItem(section.value(QStringLiteral("ip%1%2").arg(side.toLower()).arg(n)));
            ports.append(
                section.value(QStringLiteral("port%1%2").arg(side.toLower()).arg(n), kDefaultPort));
        }
        box->setCurrentIndex(-1);
    }
    if (count == 0 || index == -1) {
        port->setText(kDefaultPort);
        return;
    }
    if (index < 0 || index >= box->count() || index >= ports.size()) {
        throw std::out_of_range(
            QStringLiteral("Индекс списка вне границ (%1)").arg(index).toStdString());
    }
    box->setCurrentIndex(index);
    port->setText(ports[index]);
}

void SaveSide(QList<std::pair<QString, QString>>& values, const QString& side, const QComboBox* box,
              const QStringList& ports) {
    for (int n = 0; n < box->count(); ++n) {
        values.append({QStringLiteral("Ip%1%2").arg(side).arg(n), box->itemText(n)});
        values.append({QStringLiteral("Port%1%2").arg(side).arg(n), ports.value(n)});
    }
    values.append({QStringLiteral("Count") + side, QString::number(box->count())});
    values.append({QStringLiteral("ItemIndex") + side, QString::number(box->currentIndex())});
}

}  // namespace

TSwitchForm::TSwitchForm(QWidget* parent, PendingTable& pending, SwitchingPair& pair,
                         IniStore& store)
    : ModuleWindow(parent, pending), pair_(pair), store_(store) {
    setObjectName(QStringLiteral("SwitchForm"));
    setWindowTitle(QStringLiteral("Коммутация"));
    setFixedSize(kClientWidth, kClientHeight);

    // The TMO matrix across the top; below it the TF matrix with the pair group under it, and
    // the reset group in the column beside both.
    StringGridSwitchTMO = MakePortGrid(QStringLiteral("StringGridSwitchTMO"), kTmoGridSize,
                                       PortHeadings(Matrix::Tmo), this);
    StringGridSwitchTMO->move(kMargin, kMargin);
    StringGridSwitchTF = MakePortGrid(QStringLiteral("StringGridSwitchTF"), kTfGridSize,
                                      PortHeadings(Matrix::Tf), this);
    const int tfTop = StringGridSwitchTMO->geometry().bottom() + 1 + kGap;
    StringGridSwitchTF->move(kMargin, tfTop);

    const int pairTop = StringGridSwitchTF->geometry().bottom() + 1 + kGap;
    const int leftWidth = StringGridSwitchTF->width();
    GroupBoxPair = MakeGroup(QStringLiteral("GroupBoxPair"), QStringLiteral("Выбор пары"), this,
                             QRect(kMargin, pairTop, leftWidth, kClientHeight - kMargin - pairTop));

    constexpr int kRowA = 24;
    constexpr int kRowB = 58;
    const int buttonLeft = leftWidth - 10 - 110;
    // One line per multiplexer: its address list and its port.
    auto addressLine = [this](const QString& ipLabel, const QString& portLabel, const QString& side,
                              int top, QComboBox*& box, QLineEdit*& port) {
        MakeLabel(ipLabel, QRect(10, top, 34, kControlHeight), GroupBoxPair);
        box = MakeAddressBox(QStringLiteral("ComboBoxSwIp") + side,
                             QRect(46, top, 160, kControlHeight), GroupBoxPair);
        MakeLabel(portLabel, QRect(220, top, 50, kControlHeight), GroupBoxPair);
        port = MakeCentredEdit(QStringLiteral("EditSwPort") + side,
                               QRect(272, top, 64, kControlHeight), GroupBoxPair);
    };
    addressLine(QStringLiteral("IP А"), QStringLiteral("Порт A"), QStringLiteral("A"), kRowA,
                ComboBoxSwIpA, EditSwPortA);
    addressLine(QStringLiteral("IP B"), QStringLiteral("Порт B"), QStringLiteral("B"), kRowB,
                ComboBoxSwIpB, EditSwPortB);
    SwConnectButton = MakeButton(QStringLiteral("SwConnectButton"), QStringLiteral("Соединиться"),
                                 QRect(buttonLeft, kRowA, 110, kControlHeight), GroupBoxPair);
    SwSetButton = MakeButton(QStringLiteral("SwSetButton"), QStringLiteral("Установить"),
                             QRect(buttonLeft, kRowB, 110, kControlHeight), GroupBoxPair);

    const int resetLeft = kMargin + leftWidth + kGap;
    const int resetWidth = kClientWidth - kMargin - resetLeft;
    GroupBoxSwitchReset =
        MakeGroup(QStringLiteral("GroupBoxSwitchReset"), QStringLiteral("Сброс настроек"), this,
                  QRect(resetLeft, tfTop, resetWidth, kClientHeight - kMargin - tfTop));
    const int inner = resetWidth - 20;
    MakeLabel(QStringLiteral("Тип сброса:"), QRect(10, 24, inner, 18), GroupBoxSwitchReset);
    ComboBoxSwResetType =
        MakeChoiceBox(QStringLiteral("ComboBoxSwResetType"), Captions(kResetTypes),
                      QRect(10, 42, inner, kControlHeight), GroupBoxSwitchReset);
    MakeLabel(QStringLiteral("Сброс для:"), QRect(10, 78, inner, 18), GroupBoxSwitchReset);
    ComboBoxSwResetFor =
        MakeChoiceBox(QStringLiteral("ComboBoxSwResetFor"), Captions(kResetTargets),
                      QRect(10, 96, inner, kControlHeight), GroupBoxSwitchReset);
    // On the line of "Установить", so that the three command buttons read as one row.
    const int resetButtonTop = pairTop + kRowB - tfTop;
    SwResetButton = MakeButton(QStringLiteral("SwResetButton"), QStringLiteral("Сброс"),
                               QRect(resetWidth - 10 - 110, resetButtonTop, 110, kControlHeight),
                               GroupBoxSwitchReset);

    DropChoiceOnTyping(ComboBoxSwIpA);
    DropChoiceOnTyping(ComboBoxSwIpB);
    connect(ComboBoxSwIpA, &QComboBox::currentIndexChanged, this,
            Guarded([this] { ComboBoxSwIpAChange(); }));
    connect(ComboBoxSwIpB, &QComboBox::currentIndexChanged, this,
            Guarded([this] { ComboBoxSwIpBChange(); }));
    connect(SwConnectButton, &QPushButton::clicked, this,
            Guarded([this] { SwConnectButtonClick(Sender::Operator); }));
    connect(SwSetButton, &QPushButton::clicked, this,
            Guarded([this] { SwSetButtonClick(Sender::Operator); }));
    connect(SwResetButton, &QPushButton::clicked, this,
            Guarded([this] { SwResetButtonClick(Sender::Operator); }));
    connect(ComboBoxSwResetType, &QComboBox::activated, this,
            Guarded([this] { ComboBoxSwResetTypeChange(); }));
    connect(StringGridSwitchTF, &QTableWidget::cellDoubleClicked, this,
            Guarded([this] { StringGridSwitchTFDblClick(); }));
    connect(StringGridSwitchTMO, &QTableWidget::cellDoubleClicked, this,
            Guarded([this] { StringGridSwitchTMODblClick(); }));
    Matrix_.setObserver([this](Matrix m, int column, int row) { showCell(m, column, row); });
    pair_.windowOpened(Matrix_);
    // The current-links window may be waiting for its answer as this window opens.
    showCommandState();
}

TSwitchForm::~TSwitchForm() {
    // The main window replaces and finally deletes its switching window without a close; the
    // store is written only by a close.
    if (open_) {
        open_ = false;
        pair_.windowClosed();
    }
}

void TSwitchForm::LoadSettings(const IniStore& store) {
    const QHash<QString, QString> section = store.ReadSection(kSection);
    LoadSide(section, QStringLiteral("A"), ComboBoxSwIpA, EditSwPortA, PortListA);
    LoadSide(section, QStringLiteral("B"), ComboBoxSwIpB, EditSwPortB, PortListB);
}

void TSwitchForm::ComboBoxSwIpAChange() {
    const int index = ComboBoxSwIpA->currentIndex();
    if (index >= 0 && index < PortListA.size())
        EditSwPortA->setText(PortListA[index]);
}

void TSwitchForm::ComboBoxSwIpBChange() {
    const int index = ComboBoxSwIpB->currentIndex();
    if (index >= 0 && index < PortListB.size())
        EditSwPortB->setText(PortListB[index]);
}

// ---------------------------------------------------------------------------------------------
// The three flows

void TSwitchForm::SwConnectButtonClick(Sender sender) {
    handle(SwitchingPair::Op::Read, sender);
}

void TSwitchForm::SwSetButtonClick(Sender sender) {
    handle(SwitchingPair::Op::Write, sender);
}

void TSwitchForm::SwResetButtonClick(Sender sender) {
    handle(SwitchingPair::Op::Reset, sender);
}

namespace {
int FlowOf(SwitchingPair::Op op) {
    return op == SwitchingPair::Op::Read    ? TSwitchForm::FlowConnect
           : op == SwitchingPair::Op::Write ? TSwitchForm::FlowSet
                                            : TSwitchForm::FlowReset;
}
}  // namespace

void TSwitchForm::handle(SwitchingPair::Op op, Sender sender) {
    SwitchingPair::Step step;
    if (EndsUnanswered(sender) || sender == Sender::Answer) {
        // An end that is not the open exchange's was given up with it.
        if (pair_.openExchange() != op)
            return;
        step = pair_.ended(sender, *this, choice());
    } else if (op == SwitchingPair::Op::Read) {
        step = pair_.pressRead(choice());
    } else if (op == SwitchingPair::Op::Write) {
        step = pair_.pressWrite(choice());
    } else {
        step = pair_.pressReset(choice(), links_ ? std::optional(links_->choice()) : std::nullopt);
    }
    run(step);
}

// Sends what the flow decided, step after step while sends fail, and shows where it stands.
void TSwitchForm::run(SwitchingPair::Step step) {
    while (step.sends() && !sendStep(step))
        step = pair_.sendFailed(choice());
    showCommandState();
}

bool TSwitchForm::sendStep(const SwitchingPair::Step& step) {
    using Op = SwitchingPair::Op;
    if (step.op != Op::Reset && SendingCommand()) {
        LogEvent(QStringLiteral("Закройте соединение в меню Коммутация!"));
        return false;
    }
    if (step.op == Op::Read) {
        if (pair_.CurrentMux == 0)
            rememberAddress(ComboBoxSwIpA, EditSwPortA, PortListA);
        else
            rememberAddress(ComboBoxSwIpB, EditSwPortB, PortListB);
    }
    void (TSwitchForm::*handler)(Sender) = step.op == Op::Read ? &TSwitchForm::SwConnectButtonClick
                                           : step.op == Op::Write
                                               ? &TSwitchForm::SwSetButtonClick
                                               : &TSwitchForm::SwResetButtonClick;
    return sendRequest(step.address, step.port, bind(FlowOf(step.op), handler), GroupSwitching,
                       step.type, pair_.OutgoingSwitching);
}

PairChoice TSwitchForm::choice() const {
    PairChoice c;
    c.ipA = ComboBoxSwIpA->currentText();
    c.portA = EditSwPortA->text();
    c.ipB = ComboBoxSwIpB->currentText();
    c.portB = EditSwPortB->text();
    c.resetType = ChosenValue(kResetTypes, ComboBoxSwResetType->currentIndex(), ResetType::None);
    c.resetTarget =
        ChosenValue(kResetTargets, ComboBoxSwResetFor->currentIndex(), ResetTarget::None);
    return c;
}

// The address just used joins the list, or replaces the chosen item, with its port.
void TSwitchForm::rememberAddress(QComboBox* box, QLineEdit* port, QStringList& ports) {
    const QString text = box->currentText();
    const QString portText = port->text();
    const int index = box->currentIndex();
    if (index < 0) {
        ports.append(portText);
        box->addItem(text);
        box->setCurrentIndex(box->count() - 1);
        return;
    }
    box->setItemText(index, text);
    if (index < ports.size())
        ports[index] = portText;
}

void TSwitchForm::ComboBoxSwResetTypeChange() {
    if (ChosenValue(kResetTypes, ComboBoxSwResetType->currentIndex(), ResetType::None) !=
        ResetType::Selective) {
        // Back from the selective reset, the target can be chosen again.
        ComboBoxSwResetFor->setEnabled(true);
        return;
    }
    ComboBoxSwResetFor->setCurrentIndex(-1);
    ComboBoxSwResetFor->setEnabled(false);
    emit linksWindowWanted();
}

void TSwitchForm::SelectiveResetEnded() {
    ComboBoxSwResetFor->setEnabled(true);
    ComboBoxSwResetType->setCurrentIndex(-1);
}

// ---------------------------------------------------------------------------------------------
// Matrices and control states

void TSwitchForm::showCommandState() {
    showOwnCommandState();
    if (links_)
        links_->showOwnCommandState();
}

void TSwitchForm::showOwnCommandState() {
    const bool enabled = pair_.commandsEnabled();
    SwConnectButton->setEnabled(enabled);
    SwSetButton->setEnabled(pair_.writeEnabled());
    SwResetButton->setEnabled(enabled);
}

void TSwitchForm::SetBusyControls(bool busy) {
    const bool enabled = !busy && pair_.commandsEnabled();
    SwConnectButton->setEnabled(enabled);
    SwResetButton->setEnabled(enabled);
    // Another window's exchange may have been a write to a module the pair read.
    if (!busy)
        SwSetButton->setEnabled(pair_.writeEnabled());
}

void TSwitchForm::showCell(Matrix m, int column, int row) {
    StringGrid* grid = m == Matrix::Tmo ? StringGridSwitchTMO : StringGridSwitchTF;
    grid->setCellText(column, row, Matrix_.text(m, column, row));
}

void TSwitchForm::toggleCurrentCell(StringGrid* grid, Matrix m) {
    const int column = grid->currentColumn();
    const int row = grid->currentRow();
    if (column < 1 || row < 1)
        return;  // a heading
    Matrix_.Toggle(m, column, row);
}

void TSwitchForm::StringGridSwitchTFDblClick() {
    toggleCurrentCell(StringGridSwitchTF, Matrix::Tf);
}

void TSwitchForm::StringGridSwitchTMODblClick() {
    toggleCurrentCell(StringGridSwitchTMO, Matrix::Tmo);
}

void TSwitchForm::FormSwitchClose() {
    // The whole section in one write of the file, however many addresses it holds.
    QList<std::pair<QString, QString>> values;
    SaveSide(values, QStringLiteral("A"), ComboBoxSwIpA, PortListA);
    SaveSide(values, QStringLiteral("B"), ComboBoxSwIpB, PortListB);
    store_.WriteStrings(kSection, values);
    // A closed window goes on with nothing: an answer to it must not start the next step.
    endAndDelete();
    if (!open_)
        return;
    open_ = false;
    pair_.windowClosed();
    emit closed();
}
