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
#include "forms/settings.h"
#include "forms/stat.h"
#include "forms/switch.h"
#include "link/pending.h"
#include "ui/errorreport.h"
#include "ui/speedbutton.h"

TMainForm* MainForm = nullptr;
TSettingsForm* SettingsForm = nullptr;
TSwitchForm* SwitchForm = nullptr;
std::array<TStatForm*, kStatSlots> StatWindows{};
TCurLinksForm* CurLinksForm = nullptr;

TMainForm::TMainForm(const QString& iniPath) : QWidget(nullptr), RegIniFile_(iniPath) {
    MainForm = this;
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
    connect(Timer, &QTimer::timeout, this, [] { TimerTimeout(); });

    Sessions = {};
    SettingsForm = new TSettingsForm(this, Reads);
    // The settings window's pages are run through once so that every page has been set up by
    // its page-change handler and the first page is the one shown.
    for (int page : {2, 1, 0, 2, 1, 0})
        SettingsForm->selectPage(page);
    LockModuleSettings(true);
    Sessions = {};
    StatWindows.fill(nullptr);
    CurLinksForm = nullptr;

    SwitchForm = new TSwitchForm(this, Pair);
    Timer->start();
}

TMainForm::~TMainForm() {
    closing_ = true;
    Timer->stop();
    // Child windows go first, while the shell they log to still exists.
    delete CurLinksForm;
    for (TStatForm* w : StatWindows)
        delete w;
    delete SwitchForm;
    delete SettingsForm;
    if (CurrentShell() == this)
        SetShell(nullptr);
    if (MainForm == this)
        MainForm = nullptr;
    WaitForReceiveThreads(1000);
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
    if (SettingsForm)
        SettingsForm->LockModuleSettings(lock);
}

void TMainForm::setBusy(bool busy) {
    if (SettingsForm)
        SettingsForm->SetBusyControls(busy);
    if (SwitchForm)
        SwitchForm->SetBusyControls(busy);
    for (TStatForm* w : StatWindows) {
        if (w)
            w->SetBusyControls(busy);
    }
}

void TMainForm::showReadConfig() {
    if (SettingsForm)
        SettingsForm->ShowReadConfig();
}

void TMainForm::reportError(const QString& text) {
    ShowErrorReport(text);
}

void TMainForm::SettingsButtonClick() {
    if (SettingsButton->isChecked()) {
        SettingsForm->show();
        SettingsForm->raise();
    } else {
        SettingsForm->close();
    }
}

void TMainForm::ButtonStatClick() {
    for (int n = 0; n < kStatSlots; ++n) {
        if (StatWindows[n])
            continue;
        auto* w = new TStatForm(n, this);
        StatWindows[n] = w;
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
        if (SwitchForm)
            SwitchForm->close();
        return;
    }
    delete SwitchForm;  // the hidden one of start-up, or one left over
    SwitchForm = new TSwitchForm(this, Pair);
    SwitchForm->LoadSettings(RegIniFile_);
    SwitchForm->show();
}

// setChecked does not click, so the button's handler is not entered again.
void TMainForm::settingsWindowClosed() {
    if (SettingsButton->isChecked())
        SettingsButton->setChecked(false);
}

void TMainForm::switchingWindowClosed() {
    if (ButtonSwitching->isChecked())
        ButtonSwitching->setChecked(false);
}

void TMainForm::FormClose() {
    RegIniFile_.WriteStrings(QStringLiteral("ConnectionSettings"),
                             {{QStringLiteral("MuxIp"), SettingsForm->moduleAddress()},
                              {QStringLiteral("MuxPort"), SettingsForm->modulePort()}});
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
