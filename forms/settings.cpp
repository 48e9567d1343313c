#include "forms/settings.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>

#include "forms/main.h"
#include "link/codecs.h"
#include "link/shell.h"
#include "model/configcodec.h"

const std::array<QString, 3> kTosPresetBits{QStringLiteral("00000000"), QStringLiteral("10110000"),
                                            QStringLiteral("10111000")};

namespace {

const QString kReadBeforeWrite =
    QStringLiteral("Перед сохранением настроек считайте конфигурацию этого мультиплексора");
const QString kControlPortZero =
    QStringLiteral("Настройки не сохранены: порт управления 0 отключит модуль от сети управления");
const QString kOwnAddressZero = QStringLiteral(
    "Настройки не сохранены: локальный IP 0.0.0.0 отключит модуль от сети управления");

// A block that would cut the module off from the network it is managed over, so that nobody
// could reach it again to put it right: the reason, or the empty text.
QString CutsModuleOff(const ConfigBlock& b) {
    if (b[ConfigOffset::ControlPort] == 0 && b[ConfigOffset::ControlPort + 1] == 0)
        return kControlPortZero;
    if (std::all_of(b.begin() + ConfigOffset::LocalIp, b.begin() + ConfigOffset::LocalIp + 4,
                    [](uint8_t octet) { return octet == 0; }))
        return kOwnAddressZero;
    return {};
}

QLineEdit* NewEdit(const QString& name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    return edit;
}

QGroupBox* NewGroup(const QString& name, const QString& title, QWidget* parent) {
    auto* group = new QGroupBox(title, parent);
    group->setObjectName(name);
    return group;
}

// The main window creates this window and owns the session records.
SessionTable& Sessions() {
    return MainForm->Sessions;
}

}  // namespace

TSettingsForm::TSettingsForm(QWidget* parent) : ModuleWindow(parent) {
    setObjectName(QStringLiteral("SettingsForm"));
    setWindowTitle(QStringLiteral("Настройки"));

    auto* outer = new QVBoxLayout(this);
    ButtonSetCurOptions = new QPushButton(QStringLiteral("Установить текущую конфигурацию"), this);
    ButtonSetCurOptions->setObjectName(QStringLiteral("ButtonSetCurOptions"));
    outer->addWidget(ButtonSetCurOptions);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    outer->addWidget(PageControl1);
    buildVantorPage();
    buildSocketsPage();
    buildOptionsPage();
    // The page the window is designed on; start-up cycles the pages from here.
    PageControl1->setCurrentIndex(2);

    setFixedSize(sizeHint().expandedTo(QSize(440, 0)));

    const IniStore& store = MainForm->RegIniFile();
    EditMuxIp->setText(
        store.ReadString(QStringLiteral("ConnectionSettings"), QStringLiteral("MuxIp"), QString()));
    EditMuxPort->setText(store.ReadString(QStringLiteral("ConnectionSettings"),
                                          QStringLiteral("MuxPort"), QStringLiteral("65530")));
    LabelLocalIp->setText(EditMuxIp->text());
    ConnectState = 0;
    connectHandlers();
    SetConfigComposer([this] { ComposeOutgoingConfig(); });
}

TSettingsForm::~TSettingsForm() {
    SetConfigComposer({});
    if (SettingsForm == this)
        SettingsForm = nullptr;
}

void TSettingsForm::buildVantorPage() {
    Vantor = new QWidget();
    Vantor->setObjectName(QStringLiteral("Vantor"));
    PageControl1->addTab(Vantor, QStringLiteral("Kestrel"));
    auto* page = new QVBoxLayout(Vantor);

    GroupBoxConnection =
        NewGroup(QStringLiteral("GroupBoxConnection"),
                 QStringLiteral("Подключение к удаленному мультиплексору:"), Vantor);
    auto* conn = new QGridLayout(GroupBoxConnection);
    EditMuxIp = NewEdit(QStringLiteral("EditMuxIp"), GroupBoxConnection);
    EditMuxPort = NewEdit(QStringLiteral("EditMuxPort"), GroupBoxConnection);
    ButtonMuxConnection = new QPushButton(QStringLiteral("Соединиться"), GroupBoxConnection);
    ButtonMuxConnection->setObjectName(QStringLiteral("ButtonMuxConnection"));
    conn->addWidget(new QLabel(QStringLiteral("IP-адрес мультиплексора:"), GroupBoxConnection), 0,
                    0);
    conn->addWidget(EditMuxIp, 0, 1);
    conn->addWidget(new QLabel(QStringLiteral("Номер порта(TCP):"), GroupBoxConnection), 1, 0);
    conn->addWidget(EditMuxPort, 1, 1);
    conn->addWidget(ButtonMuxConnection, 0, 2, 2, 1);
    page->addWidget(GroupBoxConnection);

    auto* lower = new QHBoxLayout();
    GroupBoxModuleSettings = NewGroup(QStringLiteral("GroupBoxModuleSettings"),
                                      QStringLiteral("Настройки модуля"), Vantor);
    auto* module = new QFormLayout(GroupBoxModuleSettings);
    EditLocalIp = NewEdit(QStringLiteral("EditLocalIp"), GroupBoxModuleSettings);
    EditLocalMac = NewEdit(QStringLiteral("EditLocalMac"), GroupBoxModuleSettings);
    EditSubnetwork = NewEdit(QStringLiteral("EditSubnetwork"), GroupBoxModuleSettings);
    EditGateway = NewEdit(QStringLiteral("EditGateway"), GroupBoxModuleSettings);
    EditControlPort = NewEdit(QStringLiteral("EditControlPort"), GroupBoxModuleSettings);
    module->addRow(QStringLiteral("Локальный IP:"), EditLocalIp);
    module->addRow(QStringLiteral("Локальный MAC:"), EditLocalMac);
    module->addRow(QStringLiteral("Маска подсети:"), EditSubnetwork);
    module->addRow(QStringLiteral("Основной шлюз:"), EditGateway);
    module->addRow(QStringLiteral("Порт управления:"), EditControlPort);
    lower->addWidget(GroupBoxModuleSettings, 1);

    GroupBoxSocketSelect =
        NewGroup(QStringLiteral("GroupBoxSocketSelect"), QStringLiteral("Выбор сессий"), Vantor);
    auto* select = new QGridLayout(GroupBoxSocketSelect);
    for (int i = 0; i < 6; ++i) {
        CheckBoxSock[i] = new QCheckBox(QString::number(i + 1), GroupBoxSocketSelect);
        CheckBoxSock[i]->setObjectName(QStringLiteral("CheckBoxSock%1").arg(i + 1));
        select->addWidget(CheckBoxSock[i], i % 3, i / 3);
    }
    CheckBoxSockAll = new QCheckBox(QStringLiteral("Все"), GroupBoxSocketSelect);
    CheckBoxSockAll->setObjectName(QStringLiteral("CheckBoxSockAll"));
    select->addWidget(CheckBoxSockAll, 3, 0, 1, 2);
    lower->addWidget(GroupBoxSocketSelect);
    page->addLayout(lower);
    page->addStretch(1);
}

void TSettingsForm::buildSocketsPage() {
    Sockets = new QWidget();
    Sockets->setObjectName(QStringLiteral("Sockets"));
    PageControl1->addTab(Sockets, QStringLiteral("Сессии"));
    auto* page = new QVBoxLayout(Sockets);

    auto* current = new QHBoxLayout();
    current->addWidget(new QLabel(QStringLiteral("Текущий IP:"), Sockets));
    LabelLocalIp = new QLabel(Sockets);
    LabelLocalIp->setObjectName(QStringLiteral("LabelLocalIp"));
    current->addWidget(LabelLocalIp, 1);
    page->addLayout(current);

    GroupBoxSettingsOptions = NewGroup(QStringLiteral("GroupBoxSettingsOptions"),
                                       QStringLiteral("Настройки соединения"), Sockets);
    auto* options = new QFormLayout(GroupBoxSettingsOptions);
    ComboBoxSockets = new QComboBox(GroupBoxSettingsOptions);
    ComboBoxSockets->setObjectName(QStringLiteral("ComboBoxSockets"));
    ComboBoxSockets->setEditable(true);
    ComboBoxSockets->setInsertPolicy(QComboBox::NoInsert);
    EditDestinationIp = NewEdit(QStringLiteral("EditDestinationIp"), GroupBoxSettingsOptions);
    EditDestinationPort = NewEdit(QStringLiteral("EditDestinationPort"), GroupBoxSettingsOptions);
    EditLocalPort = NewEdit(QStringLiteral("EditLocalPort"), GroupBoxSettingsOptions);
    options->addRow(QStringLiteral("Сессия:"), ComboBoxSockets);
    options->addRow(QStringLiteral("IP-адрес назначения:"), EditDestinationIp);
    options->addRow(QStringLiteral("Порт назначения(UDP):"), EditDestinationPort);
    options->addRow(QStringLiteral("Локальный порт(UDP):"), EditLocalPort);
    page->addWidget(GroupBoxSettingsOptions);

    GroupBoxTos = NewGroup(QStringLiteral("GroupBoxTos"), QStringLiteral("Значение TOS"), Sockets);
    auto* tos = new QFormLayout(GroupBoxTos);
    ComboBoxTOS = new QComboBox(GroupBoxTos);
    ComboBoxTOS->setObjectName(QStringLiteral("ComboBoxTOS"));
    ComboBoxTOS->addItems({QStringLiteral("Задано пользователем"), QStringLiteral("Нормальное"),
                           QStringLiteral("Реального времени"),
                           QStringLiteral("Срочная переадресация")});
    ComboBoxTOS->setCurrentIndex(-1);
    EditTOS = NewEdit(QStringLiteral("EditTOS"), GroupBoxTos);
    EditTOS->setMaxLength(8);
    tos->addRow(QStringLiteral("Тип обслуживания:"), ComboBoxTOS);
    tos->addRow(QStringLiteral("Ручной ввод(8 бит):"), EditTOS);
    page->addWidget(GroupBoxTos);
    page->addStretch(1);
}

void TSettingsForm::buildOptionsPage() {
    TabSheetSwitch = new QWidget();
    TabSheetSwitch->setObjectName(QStringLiteral("TabSheetSwitch"));
    PageControl1->addTab(TabSheetSwitch, QStringLiteral("Прочее"));
    auto* page = new QVBoxLayout(TabSheetSwitch);
    KsPinStateListBox =
        new OptionList(QStringLiteral("KsPinStateListBox"), QStringLiteral("Параметр:"),
                       QStringLiteral("Значение:"), TabSheetSwitch);
    const auto& o = Options();
    for (int k = 0; k < kOptionCount; ++k) {
        if (k == 4)
            KsPinStateListBox->addEmptyRow();
        KsPinStateListBox->addRow(o[k].label, o[k].key, o[k].clearText);
    }
    page->addWidget(KsPinStateListBox);
    page->addStretch(1);
}

void TSettingsForm::connectHandlers() {
    auto guarded = [](auto f) { return [f] { RunGuarded(f); }; };
    connect(ButtonMuxConnection, &QPushButton::clicked, this,
            guarded([this] { ButtonMuxConnectionClick(Sender::Operator); }));
    connect(ButtonSetCurOptions, &QPushButton::clicked, this,
            guarded([this] { ButtonSetCurOptionsClick(Sender::Operator); }));
    for (int i = 0; i < 6; ++i) {
        connect(CheckBoxSock[i], &QCheckBox::toggled, this,
                guarded([this, i] { CheckBoxSockClick(i + 1); }));
    }
    connect(CheckBoxSockAll, &QCheckBox::toggled, this,
            guarded([this] { CheckBoxSockAllClick(); }));
    connect(ComboBoxSockets, &QComboBox::activated, this,
            guarded([this] { ComboBoxSocketsChange(); }));
    connect(ComboBoxSockets->lineEdit(), &QLineEdit::textEdited, this,
            guarded([this] { ComboBoxSocketsChange(); }));
    connect(EditDestinationIp, &QLineEdit::textChanged, this,
            guarded([this] { EditDestinationIpChange(); }));
    connect(EditDestinationPort, &QLineEdit::textChanged, this,
            guarded([this] { EditDestinationPortChange(); }));
    connect(EditLocalPort, &QLineEdit::textChanged, this,
            guarded([this] { EditLocalPortChange(); }));
    connect(ComboBoxTOS, &QComboBox::activated, this, guarded([this] { ComboBoxTOSChange(); }));
    connect(EditTOS, &QLineEdit::textChanged, this, guarded([this] { EditTOSChange(); }));
    connect(KsPinStateListBox, &OptionList::paramClick, this,
            [this](const QString& key, const QString& value) {
                RunGuarded([&] { KsPinStateListBoxParamClick(key, value); });
            });
    connect(PageControl1, &QTabWidget::currentChanged, this,
            guarded([this] { PageControl1Change(); }));
    connect(EditMuxIp, &QLineEdit::textChanged, this, guarded([this] { EditMuxIpChange(); }));
}

void TSettingsForm::selectPage(int index) {
    PageControl1->setCurrentIndex(index);
}

// ---------------------------------------------------------------------------------------------
// Connect and read

void TSettingsForm::sendConnectStep(uint8_t type) {
    if (!sendRequest(EditMuxIp->text(), EditMuxPort->text(),
                     bind(FlowConnect, &TSettingsForm::ButtonMuxConnectionClick), GroupConfig,
                     type)) {
        if (type == CmdReadConfig)
            SetBusy(false);
        ConnectState = 0;
        return;
    }
    ConnectState = type;
    ReadingFrom_ = ParseModuleEndpoint(EditMuxIp->text(), EditMuxPort->text());
    if (type == CmdConnect)
        SetBusy(true);
}

void TSettingsForm::ButtonMuxConnectionClick(Sender sender) {
    if (EndsUnanswered(sender)) {
        RemovePendingRequest(this, FlowConnect);
        ::SetBusy(false);
        // A send that failed has had its line; only silence gets one of its own.
        if (sender == Sender::Timeout && ConnectState == 1) {
            LogEvent(QStringLiteral("Не могу установить соединение с удаленным мультиплексором!"));
        } else if (sender == Sender::Timeout && ConnectState == 2) {
            LogEvent(QStringLiteral("Не могу прочитать настройки удаленного мультиплексора!"));
        }
        ConnectState = 0;
        return;
    }
    // A press while an answer is awaited is not an answer: the answer comes by itself.
    const bool isAnswer = sender == Sender::Answer;
    if ((ConnectState != 0) != isAnswer)
        return;

    ::LockModuleSettings(true);
    switch (ConnectState) {
        case 0:
            if (CurrentConnection) {
                LogEvent(QStringLiteral("Закройте соединение в меню Коммутация!"));
                return;
            }
            if (CheckMuxAddress(EditMuxIp->text(), EditMuxPort->text()))
                return;
            sendConnectStep(CmdConnect);
            break;
        case 1:
            RemovePendingRequest(this, FlowConnect);
            if (ParseAnswer(*this) == CmdConnect) {
                sendConnectStep(CmdReadConfig);
            } else {
                LogEvent(QStringLiteral(
                    "Ошибочный ответ мультиплексора на команду установления соединения"));
                ::SetBusy(false);
                ConnectState = 0;
            }
            break;
        case 2:
            RemovePendingRequest(this, FlowConnect);
            if (ParseAnswer(*this) != CmdReadConfig) {
                LogEvent(QStringLiteral(
                    "Ошибочный ответ мультиплексора на команду чтения текущих настроек!"));
            } else {
                ReadFrom = ReadingFrom_;
            }
            ::SetBusy(false);
            ConnectState = 0;
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// Apply

void TSettingsForm::ButtonSetCurOptionsClick(Sender sender) {
    if (EndsUnanswered(sender)) {
        RemovePendingRequest(this, FlowApply);
        if (sender == Sender::Timeout && ApplyState == CmdWriteConfig) {
            LogEvent(QStringLiteral(
                "Нет ответа от удаленного мультиплексора на команду сохранения настроек!"));
        }
        ApplyState = 0;
        ::SetBusy(false);
        return;
    }
    const bool isAnswer = sender == Sender::Answer;
    if ((ApplyState != 0) != isAnswer)
        return;

    if (ApplyState == 0) {
        if (CurrentConnection) {
            LogEvent(QStringLiteral("Закройте соединение в меню Коммутация!"));
            return;
        }
        if (CheckMuxAddress(EditMuxIp->text(), EditMuxPort->text()))
            return;
        // Only what was read from this very module goes back to it: fields that hold no whole
        // read, or another module's, would overwrite its configuration with what nobody chose.
        if (!ReadFrom || ParseModuleEndpoint(EditMuxIp->text(), EditMuxPort->text()) != ReadFrom) {
            LogEvent(kReadBeforeWrite);
            return;
        }
        // A text that does not convert raises while the block is composed, before anything is
        // sent.
        ComposeOutgoingConfig();
        if (const QString refusal = CutsModuleOff(OutgoingConfig); !refusal.isEmpty()) {
            LogEvent(refusal);
            return;
        }
        if (!sendRequest(EditMuxIp->text(), EditMuxPort->text(),
                         bind(FlowApply, &TSettingsForm::ButtonSetCurOptionsClick), GroupConfig,
                         CmdWriteConfig)) {
            ::SetBusy(false);
            ApplyState = 0;
            return;
        }
        ApplyState = CmdWriteConfig;
        ::SetBusy(true);
    } else if (ApplyState == CmdWriteConfig) {
        RemovePendingRequest(this, FlowApply);
        if (ParseAnswer(*this) != CmdWriteConfig) {
            LogEvent(
                QStringLiteral("Ошибочный ответ мультиплексора на команду сохранения настроек!"));
        }
        ::SetBusy(false);
        ApplyState = 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Control states

void TSettingsForm::LockModuleSettings(bool lock) {
    if (lock)
        ReadFrom.reset();  // the fields are cleared: they hold no module's configuration
    if (!lock) {
        Sockets->setEnabled(true);
        for (QGroupBox* g :
             {GroupBoxModuleSettings, GroupBoxSocketSelect, GroupBoxSettingsOptions, GroupBoxTos})
            g->setEnabled(true);
        KsPinStateListBox->show();
        for (QLineEdit* e :
             {EditLocalIp, EditLocalMac, EditSubnetwork, EditGateway, EditControlPort})
            e->update();
        return;
    }
    for (QGroupBox* g :
         {GroupBoxModuleSettings, GroupBoxSocketSelect, GroupBoxSettingsOptions, GroupBoxTos})
        g->setEnabled(false);
    KsPinStateListBox->hide();
    for (QLineEdit* e : {EditLocalIp, EditLocalMac, EditSubnetwork, EditGateway, EditControlPort}) {
        e->clear();
        e->update();
    }
    EditLocalIp->clear();
    EditDestinationPort->clear();
    EditLocalPort->clear();
    ComboBoxSockets->setCurrentIndex(-1);
    ComboBoxSockets->setEditText(QString());
    EditDestinationIp->clear();
    EditDestinationIp->update();
    ComboBoxTOS->setCurrentIndex(-1);
    ComboBoxTOS->update();
    EditTOS->clear();
    EditTOS->update();
    for (QCheckBox* box : CheckBoxSock)
        box->setChecked(false);
}

void TSettingsForm::SetBusyControls(bool busy) {
    GroupBoxConnection->setEnabled(!busy);
    ButtonMuxConnection->setEnabled(!busy);
    ButtonSetCurOptions->setEnabled(!busy);
    if (!busy) {
        EditMuxIp->update();
        EditMuxPort->update();
    }
}

// ---------------------------------------------------------------------------------------------
// The configuration block and the window

void TSettingsForm::ShowReadConfig() {
    const DecodedConfig d = DecodeConfig(LastReadConfig);
    EditLocalIp->setText(d.localIp);
    EditLocalMac->setText(d.localMac);
    EditSubnetwork->setText(d.subnetwork);
    EditGateway->setText(d.gateway);
    EditControlPort->setText(d.controlPort);
    SessionTable& sessions = Sessions();
    for (int i = 0; i < kSessionCount; ++i) {
        const DecodedSession& s = d.sessions[i];
        CheckBoxSock[i]->setChecked(s.selected);
        SessionSettings& record = sessions[i];
        record.DestinationIp = s.destinationIp;
        record.LocalPort = s.localPort;
        record.DestinationPort = s.destinationPort;
        if (s.selected)
            record.Tos = s.tos;
    }
    AdoptReadConfig(LastReadConfig, OutgoingConfig);
    for (int k = 0; k < kOptionCount; ++k) {
        KsPinStateListBox->setValue(Options()[k].key, d.optionValues[k]);
    }
    if (PageControl1->currentIndex() == 1)
        PageControl1Change();
}

void TSettingsForm::ComposeOutgoingConfig() {
    ConfigTexts texts;
    texts.localIp = EditLocalIp->text();
    texts.localMac = EditLocalMac->text();
    texts.subnetwork = EditSubnetwork->text();
    texts.gateway = EditGateway->text();
    texts.controlPort = EditControlPort->text();
    texts.sessions = Sessions();
    for (int k = 0; k < kOptionCount; ++k) {
        texts.optionValues[k] = KsPinStateListBox->value(Options()[k].key);
    }
    EncodeConfig(texts, OutgoingConfig);
}

// ---------------------------------------------------------------------------------------------
// Sessions

int TSettingsForm::selectedSession() const {
    const int index = ComboBoxSockets->currentIndex();
    return index >= 0 ? ComboBoxSockets->itemText(index).toInt() : 0;
}

SessionSettings* TSettingsForm::selectedRecord() {
    const int n = selectedSession();
    return n >= 1 && n <= kSessionCount ? &Sessions()[n - 1] : nullptr;
}

void TSettingsForm::addSessionEntry(int session) {
    const QString text = QString::number(session);
    const QString selected = ComboBoxSockets->currentIndex() >= 0
                                 ? ComboBoxSockets->itemText(ComboBoxSockets->currentIndex())
                                 : QString();
    const QString shown = ComboBoxSockets->currentText();
    int at = 0;
    while (at < ComboBoxSockets->count() && ComboBoxSockets->itemText(at) < text)
        ++at;
    ComboBoxSockets->insertItem(at, text);
    // Adding an entry selects nothing by itself.
    ComboBoxSockets->setCurrentIndex(selected.isEmpty() ? -1 : ComboBoxSockets->findText(selected));
    ComboBoxSockets->setEditText(shown);
}

void TSettingsForm::removeSessionEntries(int session) {
    const QString text = QString::number(session);
    const bool wasSelected = selectedSession() == session;
    for (int i = ComboBoxSockets->count() - 1; i >= 0; --i) {
        if (ComboBoxSockets->itemText(i) == text)
            ComboBoxSockets->removeItem(i);
    }
    if (wasSelected) {
        ComboBoxSockets->setCurrentIndex(-1);
        ComboBoxSockets->setEditText(QString());
    }
}

void TSettingsForm::CheckBoxSockClick(int session) {
    SessionSettings& record = Sessions()[session - 1];
    if (CheckBoxSock[session - 1]->isChecked()) {
        addSessionEntry(session);
        record.Enabled = 1;
        return;
    }
    if (ComboBoxSockets->count() == 0)
        return;
    removeSessionEntries(session);
    record.Enabled = 0;
    if (session == 6) {
        record.DestinationIp.clear();
        record.DestinationPort.clear();
        record.LocalPort.clear();
        record.Tos.clear();
    }
}

void TSettingsForm::CheckBoxSockAllClick() {
    const bool ticked = CheckBoxSockAll->isChecked();
    for (QCheckBox* box : CheckBoxSock)
        box->setChecked(ticked);
    if (!ticked) {
        ComboBoxSockets->clear();
        ComboBoxSockets->setEditText(QString());
    }
    for (SessionSettings& record : Sessions())
        record.Enabled = ticked ? 1 : 0;
}

void TSettingsForm::ComboBoxSocketsChange() {
    // Typed text selects the session it names, if that session is listed; otherwise nothing.
    const QString typed = ComboBoxSockets->currentText();
    const int index = ComboBoxSockets->findText(typed);
    if (index < 0) {
        // Nothing typed here may land in the session shown before: with no session selected
        // the fields are empty and closed, as on the page with no session at all.
        ComboBoxSockets->setCurrentIndex(-1);
        ComboBoxSockets->setEditText(typed);
        setSessionFieldsEnabled(false);
        EditDestinationIp->clear();
        EditLocalPort->clear();
        EditDestinationPort->clear();
        EditTOS->clear();
        return;
    }
    if (ComboBoxSockets->currentIndex() != index)
        ComboBoxSockets->setCurrentIndex(index);
    setSessionFieldsEnabled(true);
    const SessionSettings record = *selectedRecord();
    EditDestinationIp->setText(record.DestinationIp);
    EditLocalPort->setText(record.LocalPort);
    EditDestinationPort->setText(record.DestinationPort);
    EditTOS->setText(record.Tos);
    EditTOSChange();
}

void TSettingsForm::setSessionFieldsEnabled(bool enabled) {
    for (QWidget* w :
         {static_cast<QWidget*>(EditDestinationIp), static_cast<QWidget*>(EditLocalPort),
          static_cast<QWidget*>(EditDestinationPort), static_cast<QWidget*>(GroupBoxTos)})
        w->setEnabled(enabled);
}

void TSettingsForm::EditDestinationIpChange() {
    if (SessionSettings* r = selectedRecord())
        r->DestinationIp = EditDestinationIp->text();
}

void TSettingsForm::EditDestinationPortChange() {
    if (SessionSettings* r = selectedRecord())
        r->DestinationPort = EditDestinationPort->text();
}

void TSettingsForm::EditLocalPortChange() {
    if (SessionSettings* r = selectedRecord())
        r->LocalPort = EditLocalPort->text();
}

void TSettingsForm::ComboBoxTOSChange() {
    const int index = ComboBoxTOS->currentIndex();
    if (index == 0) {
        if (!EditTOS->text().isEmpty())
            EditTOS->setText(QString());
    } else if (index >= 1 && index <= 3) {
        const QString& bits = kTosPresetBits[index - 1];
        if (EditTOS->text() != bits)
            EditTOS->setText(bits);
    }
}

void TSettingsForm::EditTOSChange() {
    const QString text = EditTOS->text();
    int index = 0;
    for (int k = 0; k < 3; ++k) {
        if (text == kTosPresetBits[k])
            index = k + 1;
    }
    if (ComboBoxTOS->currentIndex() != index)
        ComboBoxTOS->setCurrentIndex(index);
    if (SessionSettings* r = selectedRecord())
        r->Tos = text;
}

void TSettingsForm::KsPinStateListBoxParamClick(const QString& key, const QString& value) {
    for (const OptionInfo& o : Options()) {
        if (o.key != key)
            continue;
        if (value == o.setText) {
            KsPinStateListBox->setValue(key, o.clearText);
        } else if (value == o.clearText) {
            KsPinStateListBox->setValue(key, o.setText);
        }
    }
}

void TSettingsForm::PageControl1Change() {
    if (PageControl1->currentIndex() != 1)
        return;
    if (ComboBoxSockets->count() > 0) {
        ComboBoxSockets->setCurrentIndex(0);
        ComboBoxSocketsChange();
        GroupBoxSettingsOptions->setEnabled(true);
        GroupBoxTos->setEnabled(true);
    } else {
        ComboBoxSockets->setCurrentIndex(-1);
        ComboBoxSockets->setEditText(QString());
        GroupBoxSettingsOptions->setEnabled(false);
        GroupBoxTos->setEnabled(false);
        EditDestinationIp->clear();
        EditLocalPort->clear();
        EditDestinationPort->clear();
    }
}

void TSettingsForm::EditMuxIpChange() {
    LabelLocalIp->setText(EditMuxIp->text());
}

// ---------------------------------------------------------------------------------------------
// Closing only hides: the window lives for the whole run.

void TSettingsForm::FormClose() {
    if (MainForm && MainForm->SettingsButton->isChecked())
        MainForm->SettingsButton->setChecked(false);
    // A flow that waits keeps its time-out: hidden or not, it ends with its answer or its
    // time-out line, so the busy state it set cannot outlive it and its connection is closed.
}

void TSettingsForm::closeEvent(QCloseEvent* event) {
    RunGuarded([this] { FormClose(); });
    event->accept();
}
