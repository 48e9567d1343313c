#pragma once
// The main window: the three window buttons, the event log, the time-out timer, the settings
// store and the program-wide state that the other windows share.
#include <QWidget>
#include <array>

#include "flows/switchingpair.h"
#include "link/shell.h"
#include "model/modulereads.h"
#include "model/sessions.h"
#include "ui/inistore.h"

class QPlainTextEdit;
class QTimer;
class SpeedButton;

class TSettingsForm;
class TSwitchForm;
class TStatForm;
class TCurLinksForm;

constexpr int kStatSlots = 4;
constexpr int kAsteriskLineLength = 98;
// Lines the event log keeps, the asterisk lines included; the oldest go first. A window whose
// module keeps answering wrongly adds some sixty megabytes a day otherwise.
constexpr int kLogLineLimit = 20000;

class TMainForm : public QWidget, public Shell {
    Q_OBJECT
  public:
    // `iniPath` names the settings file: main() chooses it, tests pass a file of their own.
    explicit TMainForm(const QString& iniPath);
    ~TMainForm() override;

    // Shell
    void logEvent(const QString& text) override;
    void lockModuleSettings(bool lock) override;
    void setBusy(bool busy) override;
    void showReadConfig() override;
    void reportError(const QString& text) override;

    void SettingsButtonClick();
    void ButtonStatClick();
    void ButtonSwitchingClick();
    void FormClose();
    // A window the buttons open was closed: its button is released.
    void settingsWindowClosed();
    void switchingWindowClosed();

    IniStore& RegIniFile() { return RegIniFile_; }
    // The program is ending: what the other windows still have to say goes to the error report.
    bool closing() const { return closing_; }

    SpeedButton* SettingsButton;
    SpeedButton* ButtonStat;
    SpeedButton* ButtonSwitching;
    QPlainTextEdit* Memo;
    QTimer* Timer;
    SessionTable Sessions;
    // What the program knows of each module, and the switching pair's flows that the switching
    // and the current-links windows drive; both live as long as the program.
    ModuleReads Reads;
    SwitchingPair Pair{Reads};

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    IniStore RegIniFile_;
    bool closing_ = false;
};

// The program's windows, GUI thread only. Each is set by the main window that creates it and
// emptied by the window itself as it goes; the others read them to make named calls.
extern TMainForm* MainForm;
extern TSettingsForm* SettingsForm;
extern TSwitchForm* SwitchForm;
extern std::array<TStatForm*, kStatSlots> StatWindows;
extern TCurLinksForm* CurLinksForm;
