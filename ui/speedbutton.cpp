#include "ui/speedbutton.h"

SpeedButton::SpeedButton(const QString& name, const QString& caption, bool staysDown,
                         QWidget* parent)
    : QToolButton(parent) {
    setObjectName(name);
    setText(caption);
    setCheckable(staysDown);
    setAutoRaise(false);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
}
