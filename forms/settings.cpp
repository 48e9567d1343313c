#include "forms/settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "link/shell.h"
#include "model/configcodec.h"
#include "ui/inistore.h"
#include "ui/optionlist.h"

const std::array<QString, 3> kTosPresetBits{QStringLiteral("00000000"), QStringLiteral("10110000"),
                                            QStringLiteral("10111000")};

TSettingsForm::TSettingsForm(QWidget* parent, PendingTable& pending, ModuleReads& reads,
                             SessionTable& sessions, const IniStore& store)
    : ModuleWindow(parent, pending), Flow(reads, *this), sessions_(sessions) {
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

    EditMuxIp->setText(
        store.ReadString(QStringLiteral("ConnectionSettings"), QStringLiteral("MuxIp"), QString()));
    EditMuxPort->setText(store.ReadString(QStringLiteral("ConnectionSettings"),
                                          QStringLiteral("MuxPort"), QStringLiteral("65530")));
    LabelLocalIp->setText(EditMuxIp->text());
    connectHandlers();
}

TSettingsForm::~TSettingsForm() = default;

void TSettingsForm::connectHandlers() {
    connect(ButtonMuxConnection, &QPushButton::clicked, this,
            Guarded([this] { ButtonMuxConnectionClick(Sender::Operator); }));
    connect(ButtonSetCurOptions, &QPushButton::clicked, this,
            Guarded([this] { ButtonSetCurOptionsClick(Sender::Operator); }));
    for (int i = 0; i < kSessionCount; ++i) {
        connect(CheckBoxSock[i], &QCheckBox::toggled, this,
                Guarded([this, i] { CheckBoxSockClick(i + 1); }));
    }
    connect(CheckBoxSockAll, &QCheckBox::toggled, this,
            Guarded([this] { CheckBoxSockAllClick(); }));
    connect(ComboBoxSockets, &QComboBox::activated, this,
            Guarded([this] { ComboBoxSocketsChange(); }));
    connect(ComboBoxSockets->lineEdit(), &QLineEdit::textEdited, this,
            Guarded([this] { ComboBoxSocketsChange(); }));
    connect(EditDestinationIp, &QLineEdit::textChanged, this,
            Guarded([this] { EditDestinationIpChange(); }));
    connect(EditDestinationPort, &QLineEdit::textChanged, this,
            Guarded([this] { EditDestinationPortChange(); }));
    connect(EditLocalPort, &QLineEdit::textChanged, this,
            Guarded([this] { EditLocalPortChange(); }));
    connect(ComboBoxTOS, &QComboBox::activated, this, Guarded([this] { ComboBoxTOSChange(); }));
    connect(EditTOS, &QLineEdit::textChanged, this, Guarded([this] { EditTOSChange(); }));
    connect(KsPinStateListBox, &OptionList::paramClick, this,
            Guarded([this](const QString& key, const QString& value) {
                KsPinStateListBoxParamClick(key, value);
            }));
    connect(PageControl1, &QTabWidget::currentChanged, this,
            Guarded([this] { PageControl1Change(); }));
    connect(EditMuxIp, &QLineEdit::textChanged, this, Guarded([this] { EditMuxIpChange(); }));
}

QString TSettingsForm::moduleAddress() const {
    return EditMuxIp->text();
}

QString TSettingsForm::modulePort() const {
    return EditMuxPort->text();
}

void TSettingsForm::selectPage(int index) {
    PageControl1->setCurrentIndex(index);
}

// ---------------------------------------------------------------------------------------------
// Connect and read

void TSettingsForm::ButtonMuxConnectionClick(Sender sender) {
    SettingsFlow::Step step;
    if (sender == Sender::Operator) {
        step = Flow.pressConnect(EditMuxIp->text(), EditMuxPort->text());
    } else {
        step = Flow.connectEnded(sender, *this, EditMuxIp->text(), EditMuxPort->text());
    }
    if (step.sends()) {
        Flow.connectSent(step,
                         sendRequest(step.address, step.port,
                                     bind(FlowConnect, &TSettingsForm::ButtonMuxConnectionClick),
                                     GroupConfig, step.type));
    }
}

void TSettingsForm::ButtonSetCurOptionsClick(Sender sender) {
    if (sender != Sender::Operator) {
        Flow.applyEnded(sender, *this);
        return;
    }
    const SettingsFlow::Step step =
        Flow.pressApply(EditMuxIp->text(), EditMuxPort->text(), configTexts());
    if (step.sends()) {
        Flow.applySent(sendRequest(step.address, step.port,
                                   bind(FlowApply, &TSettingsForm::ButtonSetCurOptionsClick),
                                   GroupConfig, step.type, Flow.OutgoingConfig));
    }
}

// ---------------------------------------------------------------------------------------------
// Control states

void TSettingsForm::LockModuleSettings(bool lock) {
    if (lock)
        Flow.fieldsCleared();
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
    const DecodedConfig d = DecodeConfig(Flow.LastReadConfig);
    EditLocalIp->setText(d.localIp);
    EditLocalMac->setText(d.localMac);
    EditSubnetwork->setText(d.subnetwork);
    EditGateway->setText(d.gateway);
    EditControlPort->setText(d.controlPort);
    SessionTable& sessions = sessions_;
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
    AdoptReadConfig(Flow.LastReadConfig, Flow.OutgoingConfig);
    for (int k = 0; k < kOptionCount; ++k) {
        KsPinStateListBox->setValue(Options()[k].key, d.optionValues[k]);
    }
    if (PageControl1->currentIndex() == 1)
        PageControl1Change();
}

ConfigTexts TSettingsForm::configTexts() const {
    ConfigTexts texts;
    texts.localIp = EditLocalIp->text();
    texts.localMac = EditLocalMac->text();
    texts.subnetwork = EditSubnetwork->text();
    texts.gateway = EditGateway->text();
    texts.controlPort = EditControlPort->text();
    texts.sessions = sessions_;
    for (int k = 0; k < kOptionCount; ++k) {
        texts.optionValues[k] = KsPinStateListBox->value(Options()[k].key);
    }
    return texts;
}

// ---------------------------------------------------------------------------------------------
// Sessions

int TSettingsForm::selectedSession() const {
    const int index = ComboBoxSockets->currentIndex();
    return index >= 0 ? ComboBoxSockets->itemText(index).toInt() : 0;
}

SessionSettings* TSettingsForm::selectedRecord() {
    const int n = selectedSession();
    return n >= 1 && n <= kSessionCount ? &sessions_[n - 1] : nullptr;
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
    SessionSettings& record = sessions_[session - 1];
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
    for (SessionSettings& record : sessions_)
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
    emit closed();
    // A flow that waits keeps its time-out: hidden or not, it ends with its answer or its
    // time-out line, so the busy state it set cannot outlive it and its connection is closed.
}
