#pragma once
// The current-links window: per session, whether one module's switching carries a link.
#include <QLineEdit>
#include <QPushButton>

#include "forms/modulewindow.h"
#include "ui/stringgrid.h"

// The texts of the choice column: a session chosen for the selective reset, and one that
// cannot be chosen.
inline const QString SelectMark = QStringLiteral("    V");
inline const QString NoSelectMark = QStringLiteral("    X");

class TCurLinksForm : public ModuleWindow {
    Q_OBJECT
  public:
    explicit TCurLinksForm(QWidget* parent);
    ~TCurLinksForm() override;

    WindowKind windowKind() const override { return WindowKind::CurrentLinks; }

    StringGrid* StringGridCurLinks;
    QLineEdit* EditIp;
    QLineEdit* EditPort;
    QPushButton* ButtonConnect;

    void FormClose();

  protected:
    void closeEvent(QCloseEvent* event) override;
};
