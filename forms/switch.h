#pragma once
// The switching window: port links between multiplexers A and B.
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

#include "forms/modulewindow.h"
#include "ui/inistore.h"
#include "ui/stringgrid.h"

// The texts of a matrix cell: a link between the row's port of A and the column's port of B,
// and a cell that cannot take a link.
inline const QString LinkMark = QStringLiteral("     V");
inline const QString BlockMark = QStringLiteral("     X");

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

    void ComboBoxSwIpAChange();
    void ComboBoxSwIpBChange();
    void FormSwitchClose();

  protected:
    void closeEvent(QCloseEvent* event) override;
};
