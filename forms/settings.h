#pragma once
// The settings window: connect to a module, read its configuration, edit it and write it back.
#include <array>

#include "flows/settingsflow.h"
#include "forms/modulewindow.h"
#include "model/sessions.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class IniStore;
class OptionList;

class TSettingsForm : public ModuleWindow {
    Q_OBJECT
  public:
    // `sessions` holds the session records the fields edit and `store` the remembered module;
    // both belong to the main window.
    TSettingsForm(QWidget* parent, PendingTable& pending, ModuleReads& reads,
                  SessionTable& sessions, const IniStore& store);
    ~TSettingsForm() override;

    // The three-entry handlers: the operator's click, the answer, the time-out.
    void ButtonMuxConnectionClick(Sender sender);
    void ButtonSetCurOptionsClick(Sender sender);

    // Control-state helpers the main window drives.
    void LockModuleSettings(bool lock);
    void SetBusyControls(bool busy);
    // Shows the flow's LastReadConfig (a configuration answer).
    void ShowReadConfig();
    void showReadConfig() override { ShowReadConfig(); }
    // What the fields hold, as typed, for a write.
    ConfigTexts configTexts() const;
    void selectPage(int index);
    // The module the connection fields name, as typed.
    QString moduleAddress() const;
    QString modulePort() const;

    // Editing handlers, run for the operator's changes and for programmatic ones alike.
    void CheckBoxSockClick(int session);  // 1..6
    void CheckBoxSockAllClick();
    void ComboBoxSocketsChange();
    void EditDestinationIpChange();
    void EditDestinationPortChange();
    void EditLocalPortChange();
    void ComboBoxTOSChange();
    void EditTOSChange();
    void KsPinStateListBoxParamClick(const QString& key, const QString& value);
    void PageControl1Change();
    void EditMuxIpChange();
    void FormClose();

    // The session selected in ComboBoxSockets (1..6), or 0.
    int selectedSession() const;

    // Connect, read and write: what the window's presses and answers set going.
    SettingsFlow Flow;

    QPushButton* ButtonSetCurOptions;
    QTabWidget* PageControl1;
    QWidget* Vantor;
    QWidget* Sockets;
    QWidget* TabSheetSwitch;

    QGroupBox* GroupBoxConnection;
    QLineEdit* EditMuxIp;
    QLineEdit* EditMuxPort;
    QPushButton* ButtonMuxConnection;

    QGroupBox* GroupBoxModuleSettings;
    QLineEdit* EditLocalIp;
    QLineEdit* EditLocalMac;
    QLineEdit* EditSubnetwork;
    QLineEdit* EditGateway;
    QLineEdit* EditControlPort;

    QGroupBox* GroupBoxSocketSelect;
    std::array<QCheckBox*, kSessionCount> CheckBoxSock;  // CheckBoxSock1..CheckBoxSock6
    QCheckBox* CheckBoxSockAll;

    QLabel* LabelLocalIp;
    QGroupBox* GroupBoxSettingsOptions;
    QLineEdit* EditDestinationIp;
    QLineEdit* EditDestinationPort;
    QComboBox* ComboBoxSockets;
    QLineEdit* EditLocalPort;
    QGroupBox* GroupBoxTos;
    QComboBox* ComboBoxTOS;
    QLineEdit* EditTOS;

    OptionList* KsPinStateListBox;

    enum Flow { FlowConnect = 1, FlowApply = 2 };

  protected:
    void formClose() override { FormClose(); }

  private:
    void buildVantorPage();
    void buildSocketsPage();
    void buildOptionsPage();
    void connectHandlers();
    void addSessionEntry(int session);
    void removeSessionEntries(int session);
    SessionSettings* selectedRecord();
    // The fields of the selected session, which ComboBoxSockets itself is not among.
    void setSessionFieldsEnabled(bool enabled);

    SessionTable& sessions_;
};

// The TOS presets of ComboBoxTOS after "Задано пользователем".
extern const std::array<QString, 3> kTosPresetBits;
