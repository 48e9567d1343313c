#pragma once
// Small builders for the controls the windows lay out by hand: each gets its object name and
// geometry in one call.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRect>
#include <QStringList>

// Height of every edit, list and button the windows place by hand.
constexpr int kControlHeight = 26;

QLabel* MakeLabel(const QString& text, const QRect& geometry, QWidget* parent);
QPushButton* MakeButton(const QString& name, const QString& caption, const QRect& geometry,
                        QWidget* parent);
// An editable address list whose typed text the window alone decides to add.
QComboBox* MakeAddressBox(const QString& name, const QRect& geometry, QWidget* parent);
// A named group box, placed at `geometry`, or by a layout when that is empty.
QGroupBox* MakeGroup(const QString& name, const QString& caption, QWidget* parent,
                     const QRect& geometry = {});
// A named edit that a layout places.
QLineEdit* MakeEdit(const QString& name, QWidget* parent);
// A centred edit for an address or a port number.
QLineEdit* MakeCentredEdit(const QString& name, const QRect& geometry, QWidget* parent);
// A fixed list with nothing chosen.
QComboBox* MakeChoiceBox(const QString& name, const QStringList& items, const QRect& geometry,
                         QWidget* parent);
// A choice list shown from a table of (caption, value) items: the captions, item by item, and the
// value of the item at `index`, or `none` while nothing is chosen.
template <class Table>
QStringList Captions(const Table& table) {
    QStringList captions;
    for (const auto& item : table)
        captions << item.first;
    return captions;
}
template <class Table, class Value>
Value ChosenValue(const Table& table, int index, Value none) {
    return index >= 0 && index < static_cast<int>(table.size()) ? table[index].second : none;
}

// A text typed over a chosen address is a new address, not an edit of the chosen one.
void DropChoiceOnTyping(QComboBox* box);
