// The settings window's three pages: its controls, their names and their layout. What the
// controls do is in settings.cpp.
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "forms/settings.h"
#include "model/configcodec.h"
#include "ui/controls.h"
#include "ui/optionlist.h"

namespace {

struct EditRow {
    QString label, name;
    QLineEdit** edit;
};
// Labelled edits in a form, each made and named in its row's order.
void AddEditRows(QFormLayout* form, QWidget* parent, std::initializer_list<EditRow> rows) {
    for (const EditRow& row : rows) {
        *row.edit = MakeEdit(row.name, parent);
        form->addRow(row.label, *row.edit);
    }
}

// A page of the tab control, laid out top to bottom.
QVBoxLayout* AddPage(QTabWidget* tabs, QWidget*& page, const QString& name,
                     const QString& caption) {
    page = new QWidget();
    page->setObjectName(name);
    tabs->addTab(page, caption);
    return new QVBoxLayout(page);
}

}  // namespace

void TSettingsForm::buildVantorPage() {
    auto* page = AddPage(PageControl1, Vantor, QStringLiteral("Vantor"), QStringLiteral("Kestrel"));

    GroupBoxConnection =
        MakeGroup(QStringLiteral("GroupBoxConnection"),
                  QStringLiteral("Подключение к удаленному мультиплексору:"), Vantor);
    auto* conn = new QGridLayout(GroupBoxConnection);
    EditMuxIp = MakeEdit(QStringLiteral("EditMuxIp"), GroupBoxConnection);
    EditMuxPort = MakeEdit(QStringLiteral("EditMuxPort"), GroupBoxConnection);
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
    GroupBoxModuleSettings = MakeGroup(QStringLiteral("GroupBoxModuleSettings"),
                                       QStringLiteral("Настройки модуля"), Vantor);
    auto* module = new QFormLayout(GroupBoxModuleSettings);
    AddEditRows(
        module, GroupBoxModuleSettings,
        {{QStringLiteral("Локальный IP:"), QStringLiteral("EditLocalIp"), &EditLocalIp},
         {QStringLiteral("Локальный MAC:"), QStringLiteral("EditLocalMac"), &EditLocalMac},
         {QStringLiteral("Маска подсети:"), QStringLiteral("EditSubnetwork"), &EditSubnetwork},
         {QStringLiteral("Основной шлюз:"), QStringLiteral("EditGateway"), &EditGateway},
         {QStringLiteral("Порт управления:"), QStringLiteral("EditControlPort"),
          &EditControlPort}});
    lower->addWidget(GroupBoxModuleSettings, 1);

    GroupBoxSocketSelect =
        MakeGroup(QStringLiteral("GroupBoxSocketSelect"), QStringLiteral("Выбор сессий"), Vantor);
    auto* select = new QGridLayout(GroupBoxSocketSelect);
    for (int i = 0; i < kSessionCount; ++i) {
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
    auto* page =
        AddPage(PageControl1, Sockets, QStringLiteral("Sockets"), QStringLiteral("Сессии"));

    auto* current = new QHBoxLayout();
    current->addWidget(new QLabel(QStringLiteral("Текущий IP:"), Sockets));
    LabelLocalIp = new QLabel(Sockets);
    LabelLocalIp->setObjectName(QStringLiteral("LabelLocalIp"));
    current->addWidget(LabelLocalIp, 1);
    page->addLayout(current);

    GroupBoxSettingsOptions = MakeGroup(QStringLiteral("GroupBoxSettingsOptions"),
                                        QStringLiteral("Настройки соединения"), Sockets);
    auto* options = new QFormLayout(GroupBoxSettingsOptions);
    ComboBoxSockets = new QComboBox(GroupBoxSettingsOptions);
    ComboBoxSockets->setObjectName(QStringLiteral("ComboBoxSockets"));
    ComboBoxSockets->setEditable(true);
    ComboBoxSockets->setInsertPolicy(QComboBox::NoInsert);
    options->addRow(QStringLiteral("Сессия:"), ComboBoxSockets);
    AddEditRows(options, GroupBoxSettingsOptions,
                {{QStringLiteral("IP-адрес назначения:"), QStringLiteral("EditDestinationIp"),
                  &EditDestinationIp},
                 {QStringLiteral("Порт назначения(UDP):"), QStringLiteral("EditDestinationPort"),
                  &EditDestinationPort},
                 {QStringLiteral("Локальный порт(UDP):"), QStringLiteral("EditLocalPort"),
                  &EditLocalPort}});
    page->addWidget(GroupBoxSettingsOptions);

    GroupBoxTos = MakeGroup(QStringLiteral("GroupBoxTos"), QStringLiteral("Значение TOS"), Sockets);
    auto* tos = new QFormLayout(GroupBoxTos);
    ComboBoxTOS = new QComboBox(GroupBoxTos);
    ComboBoxTOS->setObjectName(QStringLiteral("ComboBoxTOS"));
    ComboBoxTOS->addItems({QStringLiteral("Задано пользователем"), QStringLiteral("Нормальное"),
                           QStringLiteral("Реального времени"),
                           QStringLiteral("Срочная переадресация")});
    ComboBoxTOS->setCurrentIndex(-1);
    EditTOS = MakeEdit(QStringLiteral("EditTOS"), GroupBoxTos);
    EditTOS->setMaxLength(8);
    tos->addRow(QStringLiteral("Тип обслуживания:"), ComboBoxTOS);
    tos->addRow(QStringLiteral("Ручной ввод(8 бит):"), EditTOS);
    page->addWidget(GroupBoxTos);
    page->addStretch(1);
}

void TSettingsForm::buildOptionsPage() {
    auto* page = AddPage(PageControl1, TabSheetSwitch, QStringLiteral("TabSheetSwitch"),
                         QStringLiteral("Прочее"));
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
