#pragma once
// A statistics window: reads and clears the counters of one module.
#include <QDateTime>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>

#include "forms/modulewindow.h"
#include "model/statblock.h"
#include "model/statlogfile.h"
#include "ui/radiogroup.h"
#include "ui/stringgrid.h"

class TStatForm : public ModuleWindow {
    Q_OBJECT
  public:
    // `slot` is the window's place in StatWindows (0..3).
    TStatForm(int slot, QWidget* parent);
    ~TStatForm() override;

    int slot() const { return slot_; }

    QPushButton* RequestButton;
    QPushButton* ClearButton;
    RadioGroup* RadioGroupRequestType;
    QLineEdit* EditStatIp;
    QLineEdit* EditStatPort;
    StringGrid* StringGrid_;
    StringGrid* StringGrid2;
    QTimer* TimerRequestStat;

    // The three-entry handlers: the operator's click (or the window's own step), the answer,
    // the time-out.
    void RequestButtonClick(Sender sender);
    void ClearButtonClick(Sender sender);
    void TimerRequestStatTimer();
    // Announced before the request type changes: the request button names what a click will do.
    void RadioGroupRequestTypeChanging(int current);
    void FormStatClose();

    // A statistics answer: both tables, and the change record while the automatic mode runs.
    void showStatistics(const uint8_t* block) override;

    int PendingStatType = 0;   // 0, or CmdReadStatistics while its answer is awaited
    int PendingClearType = 0;  // 0, or CmdClearStatistics while its answer is awaited
    // The record of the running automatic mode; exists from its start to its stop.
    std::unique_ptr<StatLogFile> StatLog;
    QString StatLogName;      // the last finished log's name, without ".txt"
    StatisticsBlock Block{};  // this window's copy of the last statistics answer

    // Where the log's date-times come from; tests fix it.
    std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };

    enum Flow { FlowStat = 1, FlowClear = 2 };

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void startAutomatic();
    void stopAutomatic();
    // Finishes the running record as a stop does: the file named after this moment.
    void finishLog();

    int slot_;
};
