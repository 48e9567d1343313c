#pragma once
// A statistics window: reads and clears the counters of one module.
#include <QDateTime>
#include <functional>

#include "flows/statflow.h"
#include "forms/modulewindow.h"

class IniStore;
class QLineEdit;
class QPushButton;
class QTimer;
class RadioGroup;
class StringGrid;

class TStatForm : public ModuleWindow {
    Q_OBJECT
  public:
    // Whether another statistics window records into that working file.
    using WorkingFileTaken = std::function<bool(const QString& workingPath)>;

    // `slot` is the window's place among the four (0..3), under which `store` remembers its
    // module; `taken` answers for the other windows.
    TStatForm(int slot, QWidget* parent, PendingTable& pending, IniStore& store,
              WorkingFileTaken taken);
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
    // Announced before the request type changes to `next`.
    void RadioGroupRequestTypeChanging(int next);
    void FormStatClose();
    // The module the window asks; the main window gives the remembered one.
    void setModule(const QString& address, const QString& port);
    // Another window's exchange holds the shared busy state.
    void SetBusyControls(bool busy);
    // Whether the running automatic mode keeps its log in that working file.
    bool recordsInto(const QString& workingPath) const;

    // A statistics answer: both tables, and the change record while the automatic mode runs.
    void showStatistics(const uint8_t* block) override;

    // Requests, clears and the automatic mode with its log.
    StatFlow Flow;

    // Where the log's date-times come from; tests fix it.
    std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };

    enum Flow { FlowStat = 1, FlowClear = 2 };

  protected:
    void formClose() override { FormStatClose(); }

  private:
    void startAutomatic();
    void stopAutomatic();
    void showPress();
    void reportLogTrouble(StatLogFile::Trouble trouble, const QString& fileName, qint64 dropped);

    int slot_;
    IniStore& store_;
    WorkingFileTaken workingFileTaken_;
    bool closed_ = false;
    // Destroyed without a close: the main window, and its event log with it, are going.
    bool ending_ = false;
};
