#pragma once
// A list of parameter rows: a label and a value that is a clickable link. Each value carries
// a key by which the program reads and sets it; the link button's objectName is the key.
#include <QPushButton>
#include <QString>
#include <QWidget>

class QGridLayout;

class OptionList : public QWidget {
    Q_OBJECT
  public:
    OptionList(const QString& name, const QString& labelHeading, const QString& valueHeading,
               QWidget* parent);

    // A row with a clickable value; an empty key gives an empty spacer row.
    void addRow(const QString& label, const QString& key, const QString& value);
    void addEmptyRow();

    QString value(const QString& key) const;
    void setValue(const QString& key, const QString& value);
    QPushButton* valueButton(const QString& key) const;

  signals:
    // The operator clicked a value; the handler may replace it with setValue.
    void paramClick(const QString& key, const QString& value);

  private:
    QGridLayout* grid_;
    int rows_ = 1;
};
