#include "forms/main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include "forms/currentlinks.h"
#include "forms/modulewindow.h"
#include "forms/settings.h"
#include "forms/stat.h"
#include "forms/switch.h"
#include "ui/errorreport.h"
#include "ui/speedbutton.h"

TMainForm::TMainForm(const QString& iniPath) : QWidget(nullptr), RegIniFile_(iniPath) {
    SetShell(this);
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Kestrel_1.06"));
    setFixedSize(417, 504);

    SettingsButton =
        new SpeedButton(QStringLiteral("SettingsButton"), QStringLiteral("Настройки"), true, this);
    SettingsButton->setGeometry(8, 6, 89, 22);
    ButtonStat =
        new SpeedButton(QStringLiteral("ButtonStat"), QStringLiteral("Статистика"), false, this);
    ButtonStat->setGeometry(104, 6, 89, 22);
    ButtonSwitching = new SpeedButton(QStringLiteral("ButtonSwitching"),
                                      QStringLiteral("Коммутация"), true, this);
    ButtonSwitching->setGeometry(200, 6, 89, 22);

    Memo = new QPlainTextEdit(this);
    Memo->setObjectName(QStringLiteral("Memo"));
    Memo->setGeometry(8, 32, 401, 465);
    Memo->setPlainText(QString());  // one empty line

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(kTimeoutTickMs);

    connect(SettingsButton, &QToolButton::clicked, this, [this] { SettingsButtonClick(); });
    connect(ButtonStat, &QToolButton::clicked, this, [this] { ButtonStatClick(); });
    connect(ButtonSwitching, &QToolButton::clicked, this, [this] { ButtonSwitchingClick(); });
    connect(Timer, &QTimer::timeout, this, [this] { TimerTimeout(); });

    Sessions = {};
    Timer->start();
}

TMainForm::~TMainForm() {
    Timer->stop();
    // The windows go first, while the shell they log to, the time-out table and the pair they
    // use still exist; a closed one still waiting for its deletion among them.
    for (ModuleWindow* w : findChildren<ModuleWindow*>(Qt::FindDirectChildrenOnly))
        delete w;
    if (CurrentShell() == this)
        SetShell(nullptr);
    WaitForReceiveThreads(1000);
}

void TMainForm::TimerTimeout() {
    Pending.tick();
}

void TMainForm::adopt(ModuleWindow* window) {
    connect(window, &ModuleWindow::busyAsked, this, [this](bool busy) { setBusy(busy); });
    connect(window, &ModuleWindow::moduleSettingsLockAsked, this,
            [this](bool lock) { lockModuleSettings(lock); });
}

TSettingsForm* TMainForm::settingsWindow() {
    if (settings_)
        return settings_;
    Sessions = {};
    settings_ = new TSettingsForm(this, Pending, Reads, Sessions, RegIniFile_);
    adopt(settings_);
    connect(settings_, &ModuleWindow::closed, this, [this] { settingsWindowClosed(); });
    // The pages are run through once so that every page has been set up by its page-change
    // handler and the first page is the one shown.
    for (int page : {2, 1, 0, 2, 1, 0})
        settings_->selectPage(page);
    // Made later than the other windows, it starts as they have left the shared controls.
    settings_->LockModuleSettings(settingsLocked_);
    Sessions = {};
    if (busy_)
        settings_->SetBusyControls(true);
    return settings_;
}

TSwitchForm* TMainForm::switchingWindow() const {
    return switching_;
}

TSwitchForm* TMainForm::makeSwitchingWindow() {
    if (switching_)
        return switching_;
    switching_ = new TSwitchForm(this, Pending, Pair, RegIniFile_);
    adopt(switching_);
    connect(switching_, &ModuleWindow::closed, this, [this] { switchingWindowClosed(); });
    switching_->setLinksWindow(links_);
    connect(switching_, &TSwitchForm::linksWindowWanted, this, [this] { openLinksWindow(); });
    return switching_;
}

TStatForm* TMainForm::statWindow(int slot) const {
    return slot >= 0 && slot < kStatSlots ? stats_[slot].data() : nullptr;
}

TCurLinksForm* TMainForm::linksWindow() const {
    return links_;
}

TCurLinksForm* TMainForm::openLinksWindow() {
    if (!links_) {
        // A window of its own beside the switching window, owned here like the others; its size
        // is fixed where it is built.
        links_ = new TCurLinksForm(this, Pending, Pair);
        adopt(links_);
        connect(links_, &ModuleWindow::closed, this, [this] { linksWindowClosed(); });
        // The pair's two windows: the switching window, whichever it is by then, follows this
        // one's command state and its close.
        connect(links_, &TCurLinksForm::commandStateChanged, this, [this] {
            if (switching_)
                switching_->showOwnCommandState();
        });
        connect(links_, &TCurLinksForm::selectiveResetEnded, this, [this] {
            if (switching_)
                switching_->SelectiveResetEnded();
        });
        if (switching_)
            switching_->setLinksWindow(links_);
    }
    links_->showCommandState();
    links_->show();
    return links_;
}

void TMainForm::logEvent(const QString& text) {
    // The program's lines are not the operator's edits: an undo must never take them back, and
    // a log that runs for weeks must not keep a history of every line. Switching undo off and
    // on again drops the history, so the operator can undo only what was typed since.
    QTextDocument* log = Memo->document();
    log->setUndoRedoEnabled(false);
    QTextCursor cursor(log);
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    cursor.insertText(text);
    cursor.insertBlock();
    cursor.insertText(QString(kAsteriskLineLength, QLatin1Char('*')));
    // The oldest lines go by hand: the edit's own block limit would take the operator's undo
    // away altogether.
    if (const int excess = log->blockCount() - kLogLineLimit; excess > 0) {
        QTextCursor oldest(log);
        oldest.movePosition(QTextCursor::Start);
        oldest.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, excess);
        oldest.removeSelectedText();
    }
    log->setUndoRedoEnabled(true);
    Memo->verticalScrollBar()->setValue(Memo->verticalScrollBar()->maximum());
}

void TMainForm::lockModuleSettings(bool lock) {
    settingsLocked_ = lock;
    if (settings_)
        settings_->LockModuleSettings(lock);
}

void TMainForm::setBusy(bool busy) {
    busy_ = busy;
    if (settings_)
        settings_->SetBusyControls(busy);
    if (switching_)
        switching_->SetBusyControls(busy);
    for (TStatForm* w : stats_) {
        if (w)
            w->SetBusyControls(busy);
    }
}

void TMainForm::reportError(const QString& text) {
    ShowErrorReport(text);
}

void TMainForm::SettingsButtonClick() {
    if (SettingsButton->isChecked()) {
        settingsWindow()->show();
        settings_->raise();
    } else if (settings_) {
        settings_->close();
    }
}

void TMainForm::ButtonStatClick() {
    for (int n = 0; n < kStatSlots; ++n) {
        if (stats_[n])
            continue;
        // Two windows on one module started within the same second would share a working
        // file: each asks which the others record into.
        auto* w = new TStatForm(n, this, Pending, RegIniFile_, [this, n](const QString& path) {
            for (int other = 0; other < kStatSlots; ++other) {
                if (other != n && stats_[other] && stats_[other]->recordsInto(path))
                    return true;
            }
            return false;
        });
        stats_[n] = w;
        adopt(w);
        // Emptied at the close rather than at the deletion, so that the very next press can
        // reuse the slot.
        connect(w, &ModuleWindow::closed, this, [this, n] { stats_[n] = nullptr; });
        w->setModule(
            RegIniFile_.ReadString(QStringLiteral("Statistic"), QStringLiteral("MuxIp%1").arg(n),
                                   QStringLiteral("192.168.0.24")),
            RegIniFile_.ReadString(QStringLiteral("Statistic"), QStringLiteral("MuxPort%1").arg(n),
                                   QStringLiteral("65530")));
        w->show();
        return;
    }
}

void TMainForm::ButtonSwitchingClick() {
    if (!ButtonSwitching->isChecked()) {
        if (switching_)
            switching_->close();
        return;
    }
    delete switching_;  // a hidden one made for a test, or one left over
    makeSwitchingWindow()->LoadSettings(RegIniFile_);
    switching_->show();
}

// setChecked does not click, so the button's handler is not entered again.
void TMainForm::settingsWindowClosed() {
    if (SettingsButton->isChecked())
        SettingsButton->setChecked(false);
}

void TMainForm::switchingWindowClosed() {
    // The pair has no window any more; the current-links window's button follows the pair alone.
    switching_ = nullptr;
    if (links_)
        links_->showCommandState();
    if (ButtonSwitching->isChecked())
        ButtonSwitching->setChecked(false);
}

void TMainForm::linksWindowClosed() {
    links_ = nullptr;
    if (switching_) {
        switching_->setLinksWindow(nullptr);
        switching_->showCommandState();
    }
}

void TMainForm::FormClose() {
    // A settings window never opened holds what the file holds, defaults included.
    const QString address = settings_ ? settings_->moduleAddress()
                                      : RegIniFile_.ReadString(QStringLiteral("ConnectionSettings"),
                                                               QStringLiteral("MuxIp"), QString());
    const QString port =
        settings_ ? settings_->modulePort()
                  : RegIniFile_.ReadString(QStringLiteral("ConnectionSettings"),
                                           QStringLiteral("MuxPort"), QStringLiteral("65530"));
    RegIniFile_.WriteStrings(
        QStringLiteral("ConnectionSettings"),
        {{QStringLiteral("MuxIp"), address}, {QStringLiteral("MuxPort"), port}});
}

void TMainForm::closeEvent(QCloseEvent* event) {
    RunGuarded([this] { FormClose(); });
    event->accept();
    // Closing the main window ends the program, other windows included.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w != this && w->isVisible())
            w->hide();
    }
}
