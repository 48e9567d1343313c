#pragma once
// The switching window: port links between multiplexers A and B.
#include <QPointer>
#include <QStringList>

#include "flows/switchingpair.h"
#include "forms/modulewindow.h"
#include "model/portmodel.h"

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class IniStore;
class StringGrid;
class TCurLinksForm;

class TSwitchForm : public ModuleWindow {
    Q_OBJECT
  public:
    // `pair` decides every step and `store` keeps the address lists; both outlive the window.
    TSwitchForm(QWidget* parent, PendingTable& pending, SwitchingPair& pair, IniStore& store);
    ~TSwitchForm() override;

    // Fills the address lists from the SwitchSettings section.
    void LoadSettings(const IniStore& store);

    StringGrid* StringGridSwitchTF;
    StringGrid* StringGridSwitchTMO;
    QGroupBox* GroupBoxPair;
    QComboBox* ComboBoxSwIpA;
    QLineEdit* EditSwPortA;
    QComboBox* ComboBoxSwIpB;
    QLineEdit* EditSwPortB;
    QPushButton* SwConnectButton;
    QPushButton* SwSetButton;
    QGroupBox* GroupBoxSwitchReset;
    QComboBox* ComboBoxSwResetType;
    QComboBox* ComboBoxSwResetFor;
    QPushButton* SwResetButton;

    // Port texts; entry i belongs to item i of the address box of A or B.
    QStringList PortListA;
    QStringList PortListB;

    // The three-entry handlers: the operator's click, the answer, the time-out. The pair flow
    // decides every step; these map its steps to sends and its states to the controls.
    void SwConnectButtonClick(Sender sender);
    void SwSetButtonClick(Sender sender);

    // The reset group: the three-entry handler of "Сброс", and the reset type's change, which
    // opens the current-links window for the selective reset.
    void SwResetButtonClick(Sender sender);
    void ComboBoxSwResetTypeChange();

    // The command buttons as the pair flow allows them, and the current-links window's too.
    void showCommandState();
    void showOwnCommandState();
    // Another window's exchange began (true) or ended: the buttons follow, but never while the
    // pair or the current-links window waits.
    void SetBusyControls(bool busy);
    // What the window holds for the flow: the four address texts and the reset choice.
    PairChoice choice() const;
    // The current-links window closed: the target of a reset can be chosen again.
    void SelectiveResetEnded();
    // The current-links window of the selective reset, while one is open.
    void setLinksWindow(TCurLinksForm* window) { links_ = window; }

    void ComboBoxSwIpAChange();
    void ComboBoxSwIpBChange();
    void StringGridSwitchTFDblClick();
    void StringGridSwitchTMODblClick();
    void FormSwitchClose();

    // What both grids show; the grids are redrawn from it.
    PortMatrix& matrix() { return Matrix_; }
    SwitchingPair& pair() { return pair_; }
    // A read's answer goes into the snapshot the pair reads at.
    MuxSnapshot* switchingAnswerTarget() override { return pair_.answerTarget(); }

    enum Flow { FlowConnect = 1, FlowSet = 2, FlowReset = 3 };

  signals:
    // The selective reset was chosen: its sessions are picked in the current-links window.
    void linksWindowWanted();

  protected:
    void formClose() override { FormSwitchClose(); }

  private:
    void handle(SwitchingPair::Op op, Sender sender);
    void run(SwitchingPair::Step step);
    bool sendStep(const SwitchingPair::Step& step);
    void rememberAddress(QComboBox* box, QLineEdit* port, QStringList& ports);
    void showCell(Matrix m, int column, int row);
    void toggleCurrentCell(StringGrid* grid, Matrix m);

    SwitchingPair& pair_;
    IniStore& store_;
    QPointer<TCurLinksForm> links_;
    // The pair counts this window among its own until it closes or goes.
    bool open_ = true;
    PortMatrix Matrix_;
};
