#include "ui/optionlist.h"

#include <QGridLayout>
#include <QLabel>

OptionList::OptionList(const QString& name, const QString& labelHeading,
                       const QString& valueHeading, QWidget* parent)
    : QWidget(parent), grid_(new QGridLayout(this)) {
    setObjectName(name);
    grid_->setContentsMargins(4, 4, 4, 4);
    grid_->setHorizontalSpacing(16);
    auto* left = new QLabel(labelHeading, this);
    auto* right = new QLabel(valueHeading, this);
    QFont bold = left->font();
    bold.setBold(true);
    left->setFont(bold);
    right->setFont(bold);
    grid_->addWidget(left, 0, 0);
    grid_->addWidget(right, 0, 1);
    grid_->setColumnStretch(0, 1);
    grid_->setColumnStretch(1, 1);
}

void OptionList::addRow(const QString& label, const QString& key, const QString& value) {
    grid_->addWidget(new QLabel(label, this), rows_, 0);
    auto* button = new QPushButton(value, this);
    button->setObjectName(key);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(
        QStringLiteral("QPushButton { color: palette(link); text-decoration: underline; "
                       "border: none; text-align: left; padding: 0px; }"));
    connect(button, &QPushButton::clicked, this,
            [this, button] { emit paramClick(button->objectName(), button->text()); });
    grid_->addWidget(button, rows_, 1);
    ++rows_;
}

void OptionList::addEmptyRow() {
    grid_->addWidget(new QLabel(QString(), this), rows_, 0);
    ++rows_;
}

QPushButton* OptionList::valueButton(const QString& key) const {
    return findChild<QPushButton*>(key, Qt::FindDirectChildrenOnly);
}

QString OptionList::value(const QString& key) const {
    const QPushButton* b = valueButton(key);
    return b ? b->text() : QString();
}

void OptionList::setValue(const QString& key, const QString& value) {
    if (QPushButton* b = valueButton(key))
        b->setText(value);
}
