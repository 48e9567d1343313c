#pragma once
// A statistics window: reads and clears the counters of one module.
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "forms/modulewindow.h"
#include "ui/radiogroup.h"
#include "ui/stringgrid.h"

class TStatForm : public ModuleWindow {
    Q_OBJECT
  public:
    // `slot` is the window's place in StatWindows (0..3).
    TStatForm(int slot, QWidget* parent);
    ~TStatForm() override;

    WindowKind windowKind() const override { return WindowKind::Statistics; }
    int slot() const { return slot_; }

    QPushButton* RequestButton;
    QPushButton* ClearButton;
    RadioGroup* RadioGroupRequestType;
    QLineEdit* EditStatIp;
    QLineEdit* EditStatPort;
    StringGrid* StringGrid_;
    StringGrid* StringGrid2;
    QTimer* TimerRequestStat;

    // Announced before the request type changes: the request button names what a click will do.
    void RadioGroupRequestTypeChanging(int current);
    void FormStatClose();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    int slot_;
};
