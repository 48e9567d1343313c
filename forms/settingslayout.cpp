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
#include "ui/optionlist.h"

namespace {

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

}  // namespace

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
