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

    void ComboBoxSwIpAChange();
    void ComboBoxSwIpBChange();
    void StringGridSwitchTFDblClick();
    void StringGridSwitchTMODblClick();
    void FormSwitchClose();

    // What both grids show; the grids are redrawn from it.
    PortMatrix& matrix() { return Matrix_; }

    int SwConnectState = 0;  // 0 idle, 32 awaiting CmdReadSwitching
    int SwSetState = 0;      // 0 idle, 64 awaiting CmdWriteSwitching

    enum Flow { FlowConnect = 1, FlowSet = 2 };

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    bool waiting() const { return SwConnectState != 0 || SwSetState != 0; }
    void setCommandControlsEnabled(bool enabled);
    void readStep();
    void writeStep();
    void rememberAddress(QComboBox* box, QLineEdit* port, QStringList& ports);
    void showCell(Matrix m, int column, int row);
    void toggleCurrentCell(StringGrid* grid, Matrix m);

    PortMatrix Matrix_;
    // Both snapshots hold a whole read of A and B, so a write has something to build on.
    bool ReadComplete_ = false;
};
