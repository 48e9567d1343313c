#pragma once
// The current-links window: per session, whether one module's switching carries a link.
#include "flows/switchingpair.h"
#include "forms/modulewindow.h"
#include "model/currentlinks.h"

class QLineEdit;
class QPushButton;
class StringGrid;

class TCurLinksForm : public ModuleWindow {
    Q_OBJECT
  public:
    // `pair` holds the read this window lists; it outlives the window.
    TCurLinksForm(QWidget* parent, PendingTable& pending, SwitchingPair& pair);
    ~TCurLinksForm() override;

    // The answer lists one module, into the pair's current-links read.
    MuxSnapshot* switchingAnswerTarget() override { return pair_.answerTarget(); }

    StringGrid* StringGridCurLinks;
    QLineEdit* EditIp;
    QLineEdit* EditPort;
    QPushButton* ButtonConnect;

    // The three-entry handler of "Соединиться": the operator's press, the answer, the time-out.
    void ButtonConnectClick(Sender sender);
    // Shows the pair's current-links read; every fill drops the earlier choices.
    void FillLinksTable();
    // Chooses or frees the session of a data cell.
    void StringGridCurLinksDblClick(int column, int row);
    void FormClose();

    // "Соединиться" here, and the switching window's command buttons while it exists (through
    // commandStateChanged).
    void showCommandState();
    void showOwnCommandState();
    // The target of a selective reset: the typed address and port, and the chosen sessions.
    LinksChoice choice() const;

  signals:
    // The pair's command state changed here: the switching window's buttons follow.
    void commandStateChanged();
    // The window is closing: the selective reset is over and its target may be chosen again.
    void selectiveResetEnded();

  protected:
    void formClose() override { FormClose(); }

  private:
    SwitchingPair& pair_;
    // The pair counts this window among its own until it closes or goes.
    bool open_ = true;
};
