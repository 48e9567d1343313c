#include "ui/controls.h"

#include <QSignalBlocker>

QLabel* MakeLabel(const QString& text, const QRect& geometry, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(geometry);
    return label;
}

QPushButton* MakeButton(const QString& name, const QString& caption, const QRect& geometry,
                        QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    return button;
}

QComboBox* MakeAddressBox(const QString& name, const QRect& geometry, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setEditable(true);
    // The window itself decides when a typed address joins the list, and no completion may
    // change what the operator typed.
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setCompleter(nullptr);
    box->setGeometry(geometry);
    return box;
}

QGroupBox* MakeGroup(const QString& name, const QString& caption, QWidget* parent,
                     const QRect& geometry) {
    auto* group = new QGroupBox(caption, parent);
    group->setObjectName(name);
    if (!geometry.isNull())
        group->setGeometry(geometry);
    return group;
}

QLineEdit* MakeEdit(const QString& name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    return edit;
}

QLineEdit* MakeCentredEdit(const QString& name, const QRect& geometry, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setAlignment(Qt::AlignCenter);
    edit->setGeometry(geometry);
    return edit;
}

QComboBox* MakeChoiceBox(const QString& name, const QStringList& items, const QRect& geometry,
                         QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->addItems(items);
    box->setCurrentIndex(-1);
    box->setGeometry(geometry);
    return box;
}

// A text typed over a chosen address is a new address, not an edit of the chosen one: the
// choice is dropped and the typed text kept.
void DropChoiceOnTyping(QComboBox* box) {
    QObject::connect(box->lineEdit(), &QLineEdit::textEdited, box, [box] {
        if (box->currentIndex() < 0)
            return;
        QLineEdit* edit = box->lineEdit();
        const QString text = edit->text();
        const int cursor = edit->cursorPosition();
        {
            const QSignalBlocker block(box);
            box->setCurrentIndex(-1);
        }
        edit->setText(text);
        edit->setCursorPosition(cursor);
    });
}
