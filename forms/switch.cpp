#include "forms/switch.h"

#include <QCloseEvent>
#include <QLabel>
#include <QSignalBlocker>
#include <stdexcept>

#include "forms/currentlinks.h"
#include "forms/main.h"
#include "link/codecs.h"
#include "link/pending.h"
#include "link/shell.h"
#include "model/crosscheck.h"
#include "model/switchblock.h"
#include "model/switchreset.h"

namespace {

constexpr int kClientWidth = 722;
constexpr int kClientHeight = 530;
constexpr int kMargin = 8;
constexpr int kGap = 8;

constexpr int kTmoSize = 13;
constexpr int kTfSize = 9;
constexpr int kHeadingColumnWidth = 66;
constexpr int kPortColumnWidth = 53;
constexpr int kPortRowHeight = 18;

constexpr int kControlHeight = 26;

const QString kCorner = QStringLiteral("    A \\ B");
const QString kDefaultPort = QStringLiteral("65530");
const QString kSection = QStringLiteral("SwitchSettings");

QStringList PortHeadings(const QString& kind, int ports) {
    QStringList headings;
    for (int i = 1; i <= ports; ++i)
        headings << kind + QString::number(i);
    for (int i = 1; i <= ports; ++i)
        headings << QStringLiteral("Тр.") + kind + QString::number(i);
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
    QFont font = grid->font();
    font.setPointSize(8);  // a transit port's name must fit a matrix column
    grid->setFont(font);
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
    const int frame = 2 * grid->frameWidth();
    grid->resize(kHeadingColumnWidth + (size - 1) * kPortColumnWidth + frame,
                 size * kPortRowHeight + frame);
    return grid;
}

QLabel* MakeLabel(const QString& text, const QRect& geometry, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(geometry);
    return label;
}

QPushButton* MakeButton(const QString& name, const QString& caption, const QRect& geometry,
                        QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    return button;
}

QComboBox* MakeAddressBox(const QString& name, const QRect& geometry, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setEditable(true);
    // The window itself decides when a typed address joins the list, and no completion may
    // change what the operator typed.
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setCompleter(nullptr);
    box->setGeometry(geometry);
    return box;
}

QLineEdit* MakePortEdit(const QString& name, const QRect& geometry, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setAlignment(Qt::AlignCenter);
    edit->setGeometry(geometry);
    return edit;
}

QComboBox* MakeChoiceBox(const QString& name, const QStringList& items, const QRect& geometry,
                         QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->addItems(items);
    box->setCurrentIndex(-1);
    box->setGeometry(geometry);
    return box;
}

// A write of the switching and a reset end in the same lines when the module fails them.
QString NoSaveAnswer(bool atA) {
    return atA ? QStringLiteral(
                     "Нет ответа от мультиплексора A на команду сохранения "
                     "коммутационных настроек!")
               : QStringLiteral(
                     "Нет ответа от мультиплексора B на команду сохранения "
                     "коммутационных настроек!");
}
QString WrongSaveAnswer(bool atA) {
    return atA ? QStringLiteral(
                     "Ошибочный ответ мультиплексора A на команду сохранения "
                     "коммутационных настроек!")
               : QStringLiteral(
                     "Ошибочный ответ мультиплексора B на команду сохранения "
                     "коммутационных настроек!");
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

// A text typed over a chosen address is a new address, not an edit of the chosen one: the
// choice is dropped and the typed text kept.
void DropChoiceOnTyping(QComboBox* box) {
    QObject::connect(box->lineEdit(), &QLineEdit::textEdited, box, [box] {
        if (box->currentIndex() < 0)
            return;
        QLineEdit* edit = box->lineEdit();
        const QString text = edit->text();
        const int cursor = edit->cursorPosition();
        {
            const QSignalBlocker block(box);
            box->setCurrentIndex(-1);
        }
        edit->setText(text);
        edit->setCursorPosition(cursor);
    });
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

TSwitchForm::TSwitchForm(QWidget* parent) : ModuleWindow(parent) {
    setObjectName(QStringLiteral("SwitchForm"));
    setWindowTitle(QStringLiteral("Коммутация"));
    setFixedSize(kClientWidth, kClientHeight);

    SnapshotA.fill(0);
    SnapshotB.fill(0);
    CurrentMux = 0;
    PartnerSessionA = 0;
    PartnerSessionB = 0;

    // The TMO matrix across the top; below it the TF matrix with the pair group under it, and
    // the reset group in the column beside both.
    StringGridSwitchTMO = MakePortGrid(QStringLiteral("StringGridSwitchTMO"), kTmoSize,
                                       PortHeadings(QStringLiteral("ТМО"), 6), this);
    StringGridSwitchTMO->move(kMargin, kMargin);
    StringGridSwitchTF = MakePortGrid(QStringLiteral("StringGridSwitchTF"), kTfSize,
                                      PortHeadings(QStringLiteral("ТФ"), 4), this);
    const int tfTop = StringGridSwitchTMO->geometry().bottom() + 1 + kGap;
    StringGridSwitchTF->move(kMargin, tfTop);

    const int pairTop = StringGridSwitchTF->geometry().bottom() + 1 + kGap;
    const int leftWidth = StringGridSwitchTF->width();
    GroupBoxPair = new QGroupBox(QStringLiteral("Выбор пары"), this);
    GroupBoxPair->setObjectName(QStringLiteral("GroupBoxPair"));
    GroupBoxPair->setGeometry(kMargin, pairTop, leftWidth, kClientHeight - kMargin - pairTop);

    constexpr int kRowA = 24;
    constexpr int kRowB = 58;
    const int buttonLeft = leftWidth - 10 - 110;
    MakeLabel(QStringLiteral("IP А"), QRect(10, kRowA, 34, kControlHeight), GroupBoxPair);
    ComboBoxSwIpA = MakeAddressBox(QStringLiteral("ComboBoxSwIpA"),
                                   QRect(46, kRowA, 160, kControlHeight), GroupBoxPair);
    MakeLabel(QStringLiteral("Порт A"), QRect(220, kRowA, 50, kControlHeight), GroupBoxPair);
    EditSwPortA = MakePortEdit(QStringLiteral("EditSwPortA"), QRect(272, kRowA, 64, kControlHeight),
                               GroupBoxPair);
    MakeLabel(QStringLiteral("IP B"), QRect(10, kRowB, 34, kControlHeight), GroupBoxPair);
    ComboBoxSwIpB = MakeAddressBox(QStringLiteral("ComboBoxSwIpB"),
                                   QRect(46, kRowB, 160, kControlHeight), GroupBoxPair);
    MakeLabel(QStringLiteral("Порт B"), QRect(220, kRowB, 50, kControlHeight), GroupBoxPair);
    EditSwPortB = MakePortEdit(QStringLiteral("EditSwPortB"), QRect(272, kRowB, 64, kControlHeight),
                               GroupBoxPair);
    SwConnectButton = MakeButton(QStringLiteral("SwConnectButton"), QStringLiteral("Соединиться"),
                                 QRect(buttonLeft, kRowA, 110, kControlHeight), GroupBoxPair);
    SwSetButton = MakeButton(QStringLiteral("SwSetButton"), QStringLiteral("Установить"),
                             QRect(buttonLeft, kRowB, 110, kControlHeight), GroupBoxPair);
    SwSetButton->setEnabled(false);  // nothing has been read that could be written back

    const int resetLeft = kMargin + leftWidth + kGap;
    const int resetWidth = kClientWidth - kMargin - resetLeft;
    GroupBoxSwitchReset = new QGroupBox(QStringLiteral("Сброс настроек"), this);
    GroupBoxSwitchReset->setObjectName(QStringLiteral("GroupBoxSwitchReset"));
    GroupBoxSwitchReset->setGeometry(resetLeft, tfTop, resetWidth, kClientHeight - kMargin - tfTop);
    const int inner = resetWidth - 20;
    MakeLabel(QStringLiteral("Тип сброса:"), QRect(10, 24, inner, 18), GroupBoxSwitchReset);
    ComboBoxSwResetType =
        MakeChoiceBox(QStringLiteral("ComboBoxSwResetType"),
                      {QStringLiteral("Все настройки"), QStringLiteral("Селективный")},
                      QRect(10, 42, inner, kControlHeight), GroupBoxSwitchReset);
    MakeLabel(QStringLiteral("Сброс для:"), QRect(10, 78, inner, 18), GroupBoxSwitchReset);
    ComboBoxSwResetFor =
        MakeChoiceBox(QStringLiteral("ComboBoxSwResetFor"),
                      {QStringLiteral("Мультиплексора  А"), QStringLiteral("Мультиплексора  В"),
                       QStringLiteral("Мультиплексоров А и В")},
                      QRect(10, 96, inner, kControlHeight), GroupBoxSwitchReset);
    // On the line of "Установить", so that the three command buttons read as one row.
    const int resetButtonTop = pairTop + kRowB - tfTop;
    SwResetButton = MakeButton(QStringLiteral("SwResetButton"), QStringLiteral("Сброс"),
                               QRect(resetWidth - 10 - 110, resetButtonTop, 110, kControlHeight),
                               GroupBoxSwitchReset);

    DropChoiceOnTyping(ComboBoxSwIpA);
    DropChoiceOnTyping(ComboBoxSwIpB);
    connect(ComboBoxSwIpA, &QComboBox::currentIndexChanged, this,
            [this] { RunGuarded([this] { ComboBoxSwIpAChange(); }); });
    connect(ComboBoxSwIpB, &QComboBox::currentIndexChanged, this,
            [this] { RunGuarded([this] { ComboBoxSwIpBChange(); }); });
    connect(SwConnectButton, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { SwConnectButtonClick(Sender::Operator); }); });
    connect(SwSetButton, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { SwSetButtonClick(Sender::Operator); }); });
    connect(SwResetButton, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { SwResetButtonClick(Sender::Operator); }); });
    connect(ComboBoxSwResetType, &QComboBox::activated, this,
            [this] { RunGuarded([this] { ComboBoxSwResetTypeChange(); }); });
    connect(StringGridSwitchTF, &QTableWidget::cellDoubleClicked, this,
            [this] { RunGuarded([this] { StringGridSwitchTFDblClick(); }); });
    connect(StringGridSwitchTMO, &QTableWidget::cellDoubleClicked, this,
            [this] { RunGuarded([this] { StringGridSwitchTMODblClick(); }); });
    Matrix_.setObserver([this](Matrix m, int column, int row) { showCell(m, column, row); });
}

TSwitchForm::~TSwitchForm() {
    // The main window replaces and finally deletes its switching window without a close; the
    // store is written only by a close.
    if (SwitchForm == this)
        SwitchForm = nullptr;
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
// Read both multiplexers

void TSwitchForm::SwConnectButtonClick(Sender sender) {
    if (EndsUnanswered(sender)) {
        RemovePendingRequest(this, FlowConnect);
        if (sender == Sender::SendFailed) {
            CurrentMux = 0;  // as after a send that failed at once
        } else if (SwConnectState == CmdReadSwitching) {
            if (CurrentMux == 0) {
                LogEvent(QStringLiteral(
                    "Нет ответа от мультиплексора A на запрос коммутационных настроек!"));
            } else if (CurrentMux == 1) {
                LogEvent(QStringLiteral(
                    "Нет ответа от мультиплексора B на запрос коммутационных настроек!"));
                CurrentMux = 0;
            }
        }
        SwConnectState = 0;
        setCommandControlsEnabled(true);
        return;
    }
    if (sender == Sender::Answer) {
        // An answer that comes after the read has ended was given up with its time-out.
        if (SwConnectState != CmdReadSwitching)
            return;
        RemovePendingRequest(this, FlowConnect);
        const uint8_t type = ParseAnswer(*this);
        SwConnectState = 0;
        if (type != CmdReadSwitching) {
            LogEvent(QStringLiteral(
                "Ошибочный ответ мультиплексора на команду запроса коммутационных настроек"));
            CurrentMux = 0;
            setCommandControlsEnabled(true);
            return;
        }
        if (CurrentMux == 0) {
            SnapshotAHeld_ = true;
            CurrentMux = 1;
            readStep();
            return;
        }
        if (CurrentMux == 1) {
            if (CheckMuxSwitchSettings(Matrix_, ComboBoxSwIpA->currentText(),
                                       ComboBoxSwIpB->currentText()) != 0) {
                LogEvent(QStringLiteral("Ошибка анализа коммутационных настроек"));
            }
            // A read resumed at B completes nothing if A's snapshot went meanwhile: a write
            // would build A's block from whatever took its place.
            ReadComplete_ = SnapshotAHeld_;
            CurrentMux = 0;
        }
        setCommandControlsEnabled(true);
        return;
    }
    // A new command. One exchange of this window at a time: a press while it waits is not an
    // answer, and the answer comes by itself.
    if (waiting())
        return;
    if (ComboBoxSwIpA->currentText() == ComboBoxSwIpB->currentText()) {
        LogEvent(QStringLiteral("Не допустимо использование одинаковых Ip-адресов!"));
        return;
    }
    readStep();
}

// Sends the read to the multiplexer of CurrentMux; A's step starts from empty snapshots.
void TSwitchForm::readStep() {
    QString address;
    QString port;
    if (CurrentMux == 0) {
        SnapshotA.fill(0);
        SnapshotB.fill(0);
        ReadComplete_ = false;
        SnapshotAHeld_ = false;
    }
    currentMuxAddress(address, port);
    if (!mayStepTo(address, port))
        return;
    if (CurrentMux == 0)
        rememberAddress(ComboBoxSwIpA, EditSwPortA, PortListA);
    else
        rememberAddress(ComboBoxSwIpB, EditSwPortB, PortListB);
    if (!sendRequest(address, port, bind(FlowConnect, &TSwitchForm::SwConnectButtonClick),
                     GroupSwitching, CmdReadSwitching)) {
        SwConnectState = 0;
        CurrentMux = 0;
        setCommandControlsEnabled(true);
        return;
    }
    setCommandControlsEnabled(false);
    SwConnectState = CmdReadSwitching;
}

// The address and port of the multiplexer of CurrentMux: A for 0, B for 1, none otherwise.
void TSwitchForm::currentMuxAddress(QString& address, QString& port) const {
    if (CurrentMux == 0) {
        address = ComboBoxSwIpA->currentText();
        port = EditSwPortA->text();
    } else if (CurrentMux == 1) {
        address = ComboBoxSwIpB->currentText();
        port = EditSwPortB->text();
    }
}

// Whether a read or write step may go out to `address`; when it may not, the controls are given
// back.
bool TSwitchForm::mayStepTo(const QString& address, const QString& port) {
    if (CurrentConnection) {
        LogEvent(QStringLiteral("Закройте соединение в меню Коммутация!"));
        setCommandControlsEnabled(true);
        return false;
    }
    if (CheckMuxAddress(address, port)) {
        setCommandControlsEnabled(true);
        return false;
    }
    return true;
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

// ---------------------------------------------------------------------------------------------
// Write both multiplexers

void TSwitchForm::SwSetButtonClick(Sender sender) {
    if (EndsUnanswered(sender)) {
        RemovePendingRequest(this, FlowSet);
        if (sender == Sender::Timeout && SwSetState == CmdWriteSwitching) {
            LogEvent(NoSaveAnswer(CurrentMux == 0));
        }
        SwSetState = 0;
        setCommandControlsEnabled(true);
        return;
    }
    if (sender == Sender::Answer) {
        if (SwSetState != CmdWriteSwitching)
            return;
        RemovePendingRequest(this, FlowSet);
        const bool atA = CurrentMux == 0;
        if (ParseAnswer(*this) == CmdWriteSwitching) {
            LogEvent(atA ? QStringLiteral("Текущие коммутационные настройки мультиплексора А "
                                          "успешно сохранены")
                         : QStringLiteral("Текущие коммутационные настройки мультиплексора В "
                                          "успешно сохранены"));
        } else {
            LogEvent(WrongSaveAnswer(atA));
        }
        SwSetState = 0;
        if (atA) {
            // B is written whatever A answered.
            CurrentMux = 1;
            writeStep();
            return;
        }
        CurrentMux = 0;
        setCommandControlsEnabled(true);
        return;
    }
    if (waiting())
        return;
    // Both blocks are built once, at the start; a write resumed at B sends B's block as built.
    if (CurrentMux == 0)
        Matrix_.GridsToSnapshots(SnapshotA, SnapshotB, PartnerSessionA, PartnerSessionB);
    writeStep();
}

void TSwitchForm::writeStep() {
    QString address;
    QString port;
    stageOutgoing();
    currentMuxAddress(address, port);
    if (!mayStepTo(address, port))
        return;
    if (!sendRequest(address, port, bind(FlowSet, &TSwitchForm::SwSetButtonClick), GroupSwitching,
                     CmdWriteSwitching)) {
        SwSetState = 0;
        setCommandControlsEnabled(true);
        return;
    }
    setCommandControlsEnabled(false);
    SwSetState = CmdWriteSwitching;
}

// ---------------------------------------------------------------------------------------------
// Reset

namespace {
const QString kResetAll = QStringLiteral("Все настройки");
const QString kResetA = QStringLiteral("Мультиплексора  А");
const QString kResetB = QStringLiteral("Мультиплексора  В");
const QString kResetBoth = QStringLiteral("Мультиплексоров А и В");
const QString kNoAddressA = QStringLiteral("Не задан Ip-адрес или номер порта мультиплексора А");
const QString kNoAddressB = QStringLiteral("Не задан Ip-адрес или номер порта мультиплексора B");
}  // namespace

void TSwitchForm::SwResetButtonClick(Sender sender) {
    if (EndsUnanswered(sender)) {
        RemovePendingRequest(this, FlowReset);
        if (sender == Sender::Timeout && SwResetState == CmdWriteSwitching) {
            LogEvent(NoSaveAnswer(CurrentMux == 0));
        }
        SwResetState = 0;
        // B alone is not a step the window can resume from: the next read starts at A.
        if (CurrentMux == 2) {
            CurrentMux = 0;
            SwResetScope = 0;
        }
        setCommandControlsEnabled(true);
        return;
    }
    if (sender == Sender::Answer) {
        if (SwResetState != CmdWriteSwitching)
            return;
        RemovePendingRequest(this, FlowReset);
        const bool atA = CurrentMux == 0;
        if (ParseAnswer(*this) == CmdWriteSwitching) {
            LogEvent(atA ? QStringLiteral("Сброс настроек мультиплексора А произведен")
                         : QStringLiteral("Сброс настроек мультиплексора B произведен"));
        } else {
            LogEvent(WrongSaveAnswer(atA));
        }
        SwResetState = 0;
        if (atA && SwResetScope == 2) {
            CurrentMux = 1;
            resetStep(ComboBoxSwIpB->currentText(), EditSwPortB->text());
            return;
        }
        endReset();
        return;
    }
    if (waiting())
        return;
    QString address;
    QString port;
    if (!prepareReset(address, port)) {
        if (CurrentMux == 2)
            CurrentMux = 0;
        return;
    }
    resetStep(address, port);
}

bool TSwitchForm::prepareReset(QString& address, QString& port) {
    if (CurrentMux != 0) {
        // Resuming a reset of both at B.
        address = ComboBoxSwIpB->currentText();
        port = EditSwPortB->text();
        return true;
    }
    const QString addressA = ComboBoxSwIpA->currentText();
    const QString portA = EditSwPortA->text();
    const QString addressB = ComboBoxSwIpB->currentText();
    const QString portB = EditSwPortB->text();
    const bool all = ComboBoxSwResetType->currentText() == kResetAll;
    const QString target = ComboBoxSwResetFor->currentText();
    const auto usable = [](const QString& a, const QString& p, const QString& missing) {
        if (a.isEmpty() || p.isEmpty()) {
            LogEvent(missing);
            return false;
        }
        return !CheckMuxAddress(a, p);
    };
    if (target == kResetA) {
        if (!usable(addressA, portA, kNoAddressA))
            return false;
        if (all)
            UnlinkAllPorts(SnapshotA);
        address = addressA;
        port = portA;
        SwResetScope = 1;
        return true;
    }
    if (target == kResetB) {
        CurrentMux = 2;
        if (!usable(addressB, portB, kNoAddressB))
            return false;
        if (all)
            UnlinkAllPorts(SnapshotB);
        address = addressB;
        port = portB;
        SwResetScope = 1;
        return true;
    }
    if (target == kResetBoth) {
        if (!usable(addressA, portA, kNoAddressA) || !usable(addressB, portB, kNoAddressB))
            return false;
        if (all) {
            UnlinkAllPorts(SnapshotA);
            UnlinkAllPorts(SnapshotB);
        }
        address = addressA;
        port = portA;
        SwResetScope = 2;
        return true;
    }
    if (!target.isEmpty() || !CurLinksForm)
        return false;
    // The selective reset: the sessions chosen in the current-links window, at its module.
    std::array<QString, kSessionCount> choices;
    for (int n = 0; n < kSessionCount; ++n)
        choices[n] = CurLinksForm->StringGridCurLinks->cellText(2, n + 1);
    if (!UnlinkChosenSessions(SnapshotA, choices)) {
        LogEvent(QStringLiteral("Не выбрано ни одной сессии!"));
        return false;
    }
    address = CurLinksForm->EditIp->text();
    port = CurLinksForm->EditPort->text();
    if (CheckMuxAddress(address, port))
        return false;
    SwResetScope = 1;
    return true;
}

void TSwitchForm::resetStep(const QString& address, const QString& port) {
    stageOutgoing();
    if (!sendRequest(address, port, bind(FlowReset, &TSwitchForm::SwResetButtonClick),
                     GroupSwitching, CmdWriteSwitching)) {
        SwResetState = 0;
        if (CurrentMux == 2) {
            CurrentMux = 0;
            SwResetScope = 0;
        }
        setCommandControlsEnabled(true);
        return;
    }
    setCommandControlsEnabled(false);
    SwResetState = CmdWriteSwitching;
}

// The switching block of the multiplexer being written, A's at CurrentMux 0 and B's otherwise,
// goes into the outgoing request.
void TSwitchForm::stageOutgoing() {
    const MuxSnapshot& source = CurrentMux == 0 ? SnapshotA : SnapshotB;
    std::copy_n(source.begin() + SnapshotOffset::Switching, kSwitchingBlockSize,
                OutgoingSwitching.begin());
}

// After the last answer of a reset both multiplexers are read again, as if the operator had
// pressed "Соединиться".
void TSwitchForm::endReset() {
    if ((CurrentMux == 0 && SwResetScope == 1) || (CurrentMux == 1 && SwResetScope == 2) ||
        (CurrentMux == 2 && SwResetScope == 1)) {
        CurrentMux = 0;
        SwResetScope = 0;
    }
    setCommandControlsEnabled(true);
    SwConnectButtonClick(Sender::Window);
}

void TSwitchForm::ComboBoxSwResetTypeChange() {
    if (ComboBoxSwResetType->currentIndex() != 1) {
        // Back from the selective reset, the target can be chosen again.
        ComboBoxSwResetFor->setEnabled(true);
        return;
    }
    ComboBoxSwResetFor->setCurrentIndex(-1);
    ComboBoxSwResetFor->setEnabled(false);
    if (!CurLinksForm) {
        // Its size is fixed where it is built; it may not start a read while this window waits.
        CurLinksForm = new TCurLinksForm(nullptr);
        CurLinksForm->ButtonConnect->setEnabled(!waiting());
    }
    CurLinksForm->show();
}

void TSwitchForm::SnapshotsDiscarded() {
    ReadComplete_ = false;
    SnapshotAHeld_ = false;
    SwSetButton->setEnabled(false);
}

// ---------------------------------------------------------------------------------------------
// Matrices and control states

void TSwitchForm::setCommandControlsEnabled(bool enabled) {
    SwConnectButton->setEnabled(enabled);
    // Nothing may be written until a read of both has filled the snapshots again.
    SwSetButton->setEnabled(enabled && ReadComplete_);
    SwResetButton->setEnabled(enabled);
    if (CurLinksForm)
        CurLinksForm->ButtonConnect->setEnabled(enabled);
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
    if (MainForm) {
        // The whole section in one write of the file, however many addresses it holds.
        QList<std::pair<QString, QString>> values;
        SaveSide(values, QStringLiteral("A"), ComboBoxSwIpA, PortListA);
        SaveSide(values, QStringLiteral("B"), ComboBoxSwIpB, PortListB);
        MainForm->RegIniFile().WriteStrings(kSection, values);
    }
    ReleasePendingRequests(this);
    // A closed window goes on with nothing: an answer to it must not start the next step.
    AbandonExchanges(this);
    deleteLater();
    if (SwitchForm == this)
        SwitchForm = nullptr;
    // setChecked does not click, so the main window's handler is not entered again.
    if (MainForm && MainForm->ButtonSwitching->isChecked())
        MainForm->ButtonSwitching->setChecked(false);
}

void TSwitchForm::closeEvent(QCloseEvent* event) {
    RunGuarded([this] { FormSwitchClose(); });
    event->accept();
}
