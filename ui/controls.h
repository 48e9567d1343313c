#pragma once
// Small builders for the controls the windows lay out by hand: each gets its object name and
// geometry in one call.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRect>
#include <QStringList>

QLabel* MakeLabel(const QString& text, const QRect& geometry, QWidget* parent);
QPushButton* MakeButton(const QString& name, const QString& caption, const QRect& geometry,
                        QWidget* parent);
// An editable address list whose typed text the window alone decides to add.
QComboBox* MakeAddressBox(const QString& name, const QRect& geometry, QWidget* parent);
// A centred edit for a port number.
QLineEdit* MakePortEdit(const QString& name, const QRect& geometry, QWidget* parent);
// A fixed list with nothing chosen.
QComboBox* MakeChoiceBox(const QString& name, const QStringList& items, const QRect& geometry,
                         QWidget* parent);
// A text typed over a chosen address is a new address, not an edit of the chosen one.
void DropChoiceOnTyping(QComboBox* box);
