#pragma once
// The main window: the three window buttons, the event log, the time-out timer, the settings
// store, and the windows it opens, which it owns and passes what each needs.
#include <QPointer>
#include <QWidget>
#include <array>

#include "flows/switchingpair.h"
#include "link/pending.h"
#include "link/shell.h"
#include "model/modulereads.h"
#include "model/sessions.h"
#include "ui/inistore.h"

class QPlainTextEdit;
class QTimer;
class SpeedButton;

class ModuleWindow;
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
    void reportError(const QString& text) override;

    void SettingsButtonClick();
    void ButtonStatClick();
    void ButtonSwitchingClick();
    void FormClose();
    // One tick of Timer: the windows' commands count down to their time-outs.
    void TimerTimeout();

    // The settings window, made hidden when first asked for: the main window shows alone at
    // start-up, and the others come into being when they are first wanted.
    TSettingsForm* settingsWindow();
    // A switching window, made hidden if none is open.
    TSwitchForm* makeSwitchingWindow();
    // The windows as they are now; null where none is open.
    TSwitchForm* switchingWindow() const;
    TStatForm* statWindow(int slot) const;
    TCurLinksForm* linksWindow() const;
    // The current-links window of the selective reset, made if need be, and shown.
    TCurLinksForm* openLinksWindow();

    IniStore& RegIniFile() { return RegIniFile_; }

    SpeedButton* SettingsButton;
    SpeedButton* ButtonStat;
    SpeedButton* ButtonSwitching;
    QPlainTextEdit* Memo;
    QTimer* Timer;
    SessionTable Sessions;
    // What the program knows of each module, the switching pair's flows that the switching and
    // the current-links windows drive, and the time-outs of every window's commands; all live as
    // long as the program.
    ModuleReads Reads;
    SwitchingPair Pair{Reads};
    PendingTable Pending;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // A window made here: what its flows ask of the shared control states comes here.
    void adopt(ModuleWindow* window);
    // The shared control states, told to every window that has them.
    void setBusy(bool busy);
    void lockModuleSettings(bool lock);
    // A window the buttons open was closed: its button is released.
    void settingsWindowClosed();
    void switchingWindowClosed();
    void linksWindowClosed();

    IniStore RegIniFile_;
    QPointer<TSettingsForm> settings_;
    QPointer<TSwitchForm> switching_;
    std::array<QPointer<TStatForm>, kStatSlots> stats_;
    QPointer<TCurLinksForm> links_;
    // The state the shared controls were last told, for a window made later.
    bool settingsLocked_ = true;
    bool busy_ = false;
};
