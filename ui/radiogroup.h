#pragma once
// A captioned group of mutually exclusive choices laid out in columns; the owner hears of a
// change before it happens (the change itself is always allowed).
#include <QGroupBox>
#include <QList>
#include <QStringList>

class QRadioButton;

class RadioGroup : public QGroupBox {
    Q_OBJECT
  public:
    // Items fill the columns top to bottom, as many rows as the longest column needs.
    RadioGroup(const QString& name, const QString& caption, const QStringList& items, int columns,
               QWidget* parent);

    int itemIndex() const { return index_; }
    // -1 clears the choice. Emits itemIndexChanging first whenever the choice really changes.
    void setItemIndex(int index);
    int count() const { return static_cast<int>(buttons_.size()); }
    QRadioButton* button(int index) const;

  signals:
    // `current` is still the chosen item while the handler runs.
    void itemIndexChanging(int current, int next);
    void itemIndexChanged(int index);

  private:
    QList<QRadioButton*> buttons_;
    int index_ = -1;
};
