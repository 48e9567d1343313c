#include "ui/radiogroup.h"

#include <QGridLayout>
#include <QRadioButton>

namespace {

// A click asks the group instead of checking itself, so that the group can announce the change
// while the old item is still the chosen one.
class GroupItem : public QRadioButton {
  public:
    GroupItem(const QString& text, RadioGroup* group, int index)
        : QRadioButton(text, group), group_(group), index_(index) {
        // The group owns exclusivity; an auto-exclusive button would uncheck its peers itself.
        setAutoExclusive(false);
    }

  protected:
    void nextCheckState() override { group_->setItemIndex(index_); }

  private:
    RadioGroup* group_;
    int index_;
};

}  // namespace

RadioGroup::RadioGroup(const QString& name, const QString& caption, const QStringList& items,
                       int columns, QWidget* parent)
    : QGroupBox(caption, parent) {
    setObjectName(name);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 2, 6, 2);
    grid->setHorizontalSpacing(8);
    const int columnCount = columns < 1 ? 1 : columns;
    const int rows = (static_cast<int>(items.size()) + columnCount - 1) / columnCount;
    for (int i = 0; i < items.size(); ++i) {
        auto* item = new GroupItem(items[i], this, i);
        item->setObjectName(name + QStringLiteral("Item%1").arg(i));
        buttons_.append(item);
        grid->addWidget(item, i % rows, i / rows);  // at least one row once there is an item
    }
}

QRadioButton* RadioGroup::button(int index) const {
    return index >= 0 && index < buttons_.size() ? buttons_[index] : nullptr;
}

void RadioGroup::setItemIndex(int index) {
    if (index < -1 || index >= buttons_.size())
        index = -1;
    if (index == index_) {
        // A click on the chosen item must not uncheck it.
        if (QRadioButton* b = button(index))
            b->setChecked(true);
        return;
    }
    emit itemIndexChanging(index_, index);
    index_ = index;
    for (int i = 0; i < buttons_.size(); ++i)
        buttons_[i]->setChecked(i == index_);
    emit itemIndexChanged(index_);
}
