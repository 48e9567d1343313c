#pragma once
// A flat tool-bar style button; a "stays down" one toggles and can be raised by a second click.
#include <QToolButton>

class SpeedButton : public QToolButton {
    Q_OBJECT
  public:
    SpeedButton(const QString& name, const QString& caption, bool staysDown, QWidget* parent);
    bool down() const { return isChecked(); }
};
