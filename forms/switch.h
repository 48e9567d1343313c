#pragma once
// The switching window: port links between multiplexers A and B.
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

#include "forms/modulewindow.h"
#include "model/portmodel.h"
#include "ui/inistore.h"
#include "ui/stringgrid.h"

class TSwitchForm : public ModuleWindow {
    Q_OBJECT
  public:
    explicit TSwitchForm(QWidget* parent);
    ~TSwitchForm() override;

    WindowKind windowKind() const override { return WindowKind::Switching; }
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

    // The three-entry handlers: the operator's click, the answer, the time-out.
    void SwConnectButtonClick(Sender sender);
    void SwSetButtonClick(Sender sender);

    // The reset group: the three-entry handler of "Сброс", and the reset type's change, which
    // opens the current-links window for the selective reset.
    void SwResetButtonClick(Sender sender);
    void ComboBoxSwResetTypeChange();

    // The command buttons, and "Соединиться" of the current-links window while it is open.
    void setCommandControlsEnabled(bool enabled);
    // The snapshots were emptied outside this window: nothing may be written until a new read.
    void SnapshotsDiscarded();

    void ComboBoxSwIpAChange();
    void ComboBoxSwIpBChange();
    void StringGridSwitchTFDblClick();
    void StringGridSwitchTMODblClick();
    void FormSwitchClose();

    // What both grids show; the grids are redrawn from it.
    PortMatrix& matrix() { return Matrix_; }

    int SwConnectState = 0;  // 0 idle, 32 awaiting CmdReadSwitching
    int SwSetState = 0;      // 0 idle, 64 awaiting CmdWriteSwitching
    int SwResetState = 0;    // 0 idle, 64 awaiting CmdWriteSwitching of a reset
    int SwResetScope = 0;    // 0 none, 1 one multiplexer, 2 both A and B

    enum Flow { FlowConnect = 1, FlowSet = 2, FlowReset = 3 };

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    bool waiting() const { return SwConnectState != 0 || SwSetState != 0 || SwResetState != 0; }
    // Chooses the reset's target and prepares its blocks; false when nothing is to be sent.
    bool prepareReset(QString& address, QString& port);
    void resetStep(const QString& address, const QString& port);
    void stageOutgoing();
    void currentMuxAddress(QString& address, QString& port) const;
    bool mayStepTo(const QString& address, const QString& port);
    void endReset();
    void readStep();
    void writeStep();
    void rememberAddress(QComboBox* box, QLineEdit* port, QStringList& ports);
    void showCell(Matrix m, int column, int row);
    void toggleCurrentCell(StringGrid* grid, Matrix m);

    PortMatrix Matrix_;
    // Both snapshots hold a whole read of A and B, so a write has something to build on.
    bool ReadComplete_ = false;
    // SnapshotA holds this window's read of A, not emptied or refilled by another window since.
    bool SnapshotAHeld_ = false;
};
