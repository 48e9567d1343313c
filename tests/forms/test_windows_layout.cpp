// The statistics, switching and current-links windows as built: names, captions, controls,
// tables, what their closing writes and frees, and that no caption is cut off.
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QStyleOptionGroupBox>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <optional>

#include <QtWidgets>
#include "forms/currentlinks.h"
#include "forms/main.h"
#include "ui/speedbutton.h"

#include "forms/stat.h"
#include "forms/switch.h"
#include "link/pending.h"
#include "support/app_fixture.h"
#include "support/windows.h"
#include "ui/radiogroup.h"
#include "ui/stringgrid.h"

namespace {

// The settings file read back without the program's own store, so that a fault in writing
// is not hidden by the same fault in reading.
std::optional<QString> IniValue(const QString& path, const QString& section, const QString& key) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Utf8);
    QString current;
    std::optional<QString> found;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.startsWith(QLatin1Char('['))) {
            current = line.mid(1, line.indexOf(QLatin1Char(']')) - 1);
        } else if (current == section && line.startsWith(key + QLatin1Char('='))) {
            found = line.mid(key.size() + 1);
        }
    }
    return found;
}

void RunDeferredDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// Opens (or finds) the window of that objectName the way the operator reaches it.
QWidget* OpenWindow(AppFixture& app, const QString& name) {
    if (name.startsWith(QStringLiteral("StatForm"))) {
        const int slot = name.mid(8).toInt();
        while (!StatWindow(slot)) {
            const auto before = StatWindowList();
            app.form->ButtonStat->click();
            if (StatWindowList() == before)
                return nullptr;
        }
        return StatWindow(slot);
    }
    if (name == QStringLiteral("SwitchForm")) {
        if (!app.form->ButtonSwitching->isChecked())
            app.form->ButtonSwitching->click();
        return SwitchWindow();
    }
    if (name == QStringLiteral("MainForm")) {
        app.form->show();
        return app.form.get();
    }
    if (name.startsWith(QStringLiteral("SettingsForm"))) {
        // "SettingsFormN" shows page N, with the module fields unlocked as after a read.
        if (!app.form->SettingsButton->isChecked())
            app.form->SettingsButton->click();
        SettingsWindow()->LockModuleSettings(false);
        SettingsWindow()->PageControl1->setCurrentIndex(name.mid(12).toInt());
        return SettingsWindow();
    }
    if (name == QStringLiteral("CurLinksForm")) {
        // The switching window's selective reset opens it as a window of its own.
        return MainWindow()->openLinksWindow();
    }
    return nullptr;
}

QString ControlText(const QObject* control) {
    if (auto* b = qobject_cast<const QAbstractButton*>(control))
        return b->text();
    if (auto* g = qobject_cast<const QGroupBox*>(control))
        return g->title();
    if (auto* e = qobject_cast<const QLineEdit*>(control))
        return e->text();
    if (auto* l = qobject_cast<const QLabel*>(control))
        return l->text();
    return QString();
}

QStringList Row0(const StringGrid* grid) {
    QStringList texts;
    for (int c = 0; c < grid->columnCount(); ++c)
        texts << grid->cellText(c, 0);
    return texts;
}

QStringList Column0(const StringGrid* grid) {
    QStringList texts;
    for (int r = 0; r < grid->rowCount(); ++r)
        texts << grid->cellText(0, r);
    return texts;
}

QStringList ComboItems(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

const QStringList kTmoHeadings = {
    QStringLiteral("    A \\ B"), QStringLiteral("ТМО1"),    QStringLiteral("ТМО2"),
    QStringLiteral("ТМО3"),       QStringLiteral("ТМО4"),    QStringLiteral("ТМО5"),
    QStringLiteral("ТМО6"),       QStringLiteral("Тр.ТМО1"), QStringLiteral("Тр.ТМО2"),
    QStringLiteral("Тр.ТМО3"),    QStringLiteral("Тр.ТМО4"), QStringLiteral("Тр.ТМО5"),
    QStringLiteral("Тр.ТМО6")};
const QStringList kTfHeadings = {
    QStringLiteral("    A \\ B"), QStringLiteral("ТФ1"),    QStringLiteral("ТФ2"),
    QStringLiteral("ТФ3"),        QStringLiteral("ТФ4"),    QStringLiteral("Тр.ТФ1"),
    QStringLiteral("Тр.ТФ2"),     QStringLiteral("Тр.ТФ3"), QStringLiteral("Тр.ТФ4")};

}  // namespace

class WindowsLayoutTest : public QObject {
    Q_OBJECT
  private slots:
    void windowFrame_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QSize>("size");
        for (int n = 0; n < kStatSlots; ++n) {
            QTest::addRow("StatForm%d", n)
                << QStringLiteral("StatForm%1").arg(n) << "Статистика" << QSize(657, 417);
        }
        QTest::newRow("SwitchForm") << "SwitchForm"
                                    << "Коммутация" << QSize(722, 530);
        QTest::newRow("CurLinksForm") << "CurLinksForm"
                                      << "Текущие связи" << QSize(392, 193);
    }
    void windowFrame() {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QSize, size);
        AppFixture app;
        QWidget* w = OpenWindow(app, name);
        QVERIFY(w);
        QVERIFY(w->isWindow());
        QVERIFY(w->isVisible());
        QCOMPARE(w->objectName(), name);
        QCOMPARE(w->windowTitle(), caption);
        QCOMPARE(w->size(), size);
        QCOMPARE(w->minimumSize(), size);
        QCOMPARE(w->maximumSize(), size);
        QVERIFY(app.errors.isEmpty());
    }

    void control_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        auto row = [](const char* window, const char* name, const char* cls, const QString& text,
                      bool enabled = true) {
            QTest::addRow("%s/%s", window, name) << window << name << cls << text << enabled;
        };
        row("StatForm0", "RequestButton", "QPushButton", "Запросить");
        row("StatForm0", "ClearButton", "QPushButton", "Сбросить");
        row("StatForm0", "RadioGroupRequestType", "RadioGroup", "Тип запроса");
        row("StatForm0", "EditStatIp", "QLineEdit", "192.168.0.24");
        row("StatForm0", "EditStatPort", "QLineEdit", "65530");
        row("StatForm0", "StringGrid", "StringGrid", QString());
        row("StatForm0", "StringGrid2", "StringGrid", QString(), false);
        row("SwitchForm", "StringGridSwitchTF", "StringGrid", QString());
        row("SwitchForm", "StringGridSwitchTMO", "StringGrid", QString());
        row("SwitchForm", "GroupBoxPair", "QGroupBox", "Выбор пары");
        row("SwitchForm", "ComboBoxSwIpA", "QComboBox", QString());
        row("SwitchForm", "EditSwPortA", "QLineEdit", "65530");
        row("SwitchForm", "ComboBoxSwIpB", "QComboBox", QString());
        row("SwitchForm", "EditSwPortB", "QLineEdit", "65530");
        row("SwitchForm", "SwConnectButton", "QPushButton", "Соединиться");
        row("SwitchForm", "SwSetButton", "QPushButton", "Установить", false);
        row("SwitchForm", "GroupBoxSwitchReset", "QGroupBox", "Сброс настроек");
        row("SwitchForm", "ComboBoxSwResetType", "QComboBox", QString());
        row("SwitchForm", "ComboBoxSwResetFor", "QComboBox", QString());
        row("SwitchForm", "SwResetButton", "QPushButton", "Сброс");
        row("CurLinksForm", "StringGridCurLinks", "StringGrid", QString());
        row("CurLinksForm", "EditIp", "QLineEdit", QString());
        row("CurLinksForm", "EditPort", "QLineEdit", QString());
        row("CurLinksForm", "ButtonConnect", "QPushButton", "Соединиться");
    }
    void control() {
        QFETCH(QString, window);
        QFETCH(QString, name);
        QFETCH(QString, className);
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        AppFixture app;
        QWidget* w = OpenWindow(app, window);
        QVERIFY(w);
        const auto found = w->findChildren<QWidget*>(name);
        QCOMPARE(found.size(), 1);
        QWidget* control = found.first();
        QCOMPARE(control->metaObject()->className(), className.toLatin1());
        QCOMPARE(ControlText(control), text);
        QCOMPARE(control->isEnabled(), enabled);
        QVERIFY(control->isVisible());
        if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            QCOMPARE(edit->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        }
    }

    // The statistics window's groups have no names of their own: each is found by what it holds.
    void unnamedGroup_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("title");
        QTest::newRow("Управление") << "RequestButton"
                                    << "Управление";
        QTest::newRow("Ip адрес") << "EditStatIp"
                                  << "Ip адрес";
        QTest::newRow("Порт") << "EditStatPort"
                              << "Порт";
    }
    void unnamedGroup() {
        QFETCH(QString, control);
        QFETCH(QString, title);
        AppFixture app;
        QWidget* w = OpenWindow(app, QStringLiteral("StatForm0"));
        QVERIFY(w);
        auto* held = w->findChild<QWidget*>(control);
        QVERIFY(held);
        auto* group = qobject_cast<QGroupBox*>(held->parentWidget());
        QVERIFY(group);
        QCOMPARE(group->title(), title);
    }

    void label_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("partner");
        QTest::addColumn<bool>("above");  // otherwise left of its partner, on the same line
        QTest::newRow("IP А") << "SwitchForm"
                              << "IP А"
                              << "ComboBoxSwIpA" << false;
        QTest::newRow("Порт A") << "SwitchForm"
                                << "Порт A"
                                << "EditSwPortA" << false;
        QTest::newRow("IP B") << "SwitchForm"
                              << "IP B"
                              << "ComboBoxSwIpB" << false;
        QTest::newRow("Порт B") << "SwitchForm"
                                << "Порт B"
                                << "EditSwPortB" << false;
        QTest::newRow("Тип сброса:") << "SwitchForm"
                                     << "Тип сброса:"
                                     << "ComboBoxSwResetType" << true;
        QTest::newRow("Сброс для:") << "SwitchForm"
                                    << "Сброс для:"
                                    << "ComboBoxSwResetFor" << true;
        QTest::newRow("IP-адрес:") << "CurLinksForm"
                                   << "IP-адрес:"
                                   << "EditIp" << true;
        QTest::newRow("Номер порта:") << "CurLinksForm"
                                      << "Номер порта:"
                                      << "EditPort" << true;
    }
    void label() {
        QFETCH(QString, window);
        QFETCH(QString, text);
        QFETCH(QString, partner);
        QFETCH(bool, above);
        AppFixture app;
        QWidget* w = OpenWindow(app, window);
        QVERIFY(w);
        QLabel* label = nullptr;
        for (QLabel* l : w->findChildren<QLabel*>()) {
            if (l->text() == text) {
                QVERIFY2(!label, "the label text appears twice");
                label = l;
            }
        }
        QVERIFY(label);
        auto* other = w->findChild<QWidget*>(partner);
        QVERIFY(other);
        // A label belongs to the group of its control.
        QCOMPARE(label->parentWidget(), other->parentWidget());
        const QRect l = label->geometry();
        const QRect o = other->geometry();
        if (above) {
            QVERIFY(l.bottom() < o.top());
            QVERIFY(o.top() - l.bottom() < 12);
            QVERIFY(l.left() < o.right() && o.left() < l.right());
        } else {
            QVERIFY(l.right() < o.left());
            QVERIFY(o.left() - l.right() < 12);
            QVERIFY(l.top() < o.bottom() && o.top() < l.bottom());
        }
    }

    void comboBox_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<bool>("editable");
        QTest::newRow("reset type")
            << "ComboBoxSwResetType" << QStringList{"Все настройки", "Селективный"} << false;
        QTest::newRow("reset target")
            << "ComboBoxSwResetFor"
            << QStringList{"Мультиплексора  А", "Мультиплексора  В", "Мультиплексоров А и В"}
            << false;
        QTest::newRow("address A") << "ComboBoxSwIpA" << QStringList{} << true;
        QTest::newRow("address B") << "ComboBoxSwIpB" << QStringList{} << true;
    }
    void comboBox() {
        QFETCH(QString, name);
        QFETCH(QStringList, items);
        QFETCH(bool, editable);
        AppFixture app;
        QVERIFY(OpenWindow(app, QStringLiteral("SwitchForm")));
        auto* box = SwitchWindow()->findChild<QComboBox*>(name);
        QVERIFY(box);
        QCOMPARE(ComboItems(box), items);
        QCOMPARE(box->isEditable(), editable);
        QCOMPARE(box->currentIndex(), -1);
        QCOMPARE(box->currentText(), QString());
    }

    void grid_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QList<int>>("columnWidths");
        QTest::addColumn<int>("rowCount");
        QTest::addColumn<int>("rowHeight");  // 0: not fixed, only uniform
        QTest::addColumn<QStringList>("headingRow");
        QTest::addColumn<QStringList>("headingColumn");
        QTest::newRow("sessions") << "StatForm0"
                                  << "StringGrid" << QList<int>{70, 70, 70, 70, 70, 70, 70, 70, 70}
                                  << 13 << 26
                                  << QStringList{"",          "SortLost(1)", "Udf(1)",
                                                 "Reject(1)", "PIB(1)",      "SortLost(2)",
                                                 "Udf(2)",    "Reject(2)",   "PIB(2)"}
                                  << QStringList{"",           "S1 Local", "S1 Transit", "S2 Local",
                                                 "S2 Transit", "S3 Local", "S3 Transit", "S4 Local",
                                                 "S4 Transit", "S5 Local", "S5 Transit", "S6 Local",
                                                 "S6 Transit"};
        QTest::newRow("totals") << "StatForm0"
                                << "StringGrid2" << QList<int>{102, 103, 102, 102, 102, 102} << 3
                                << 26 << QStringList{"",         "TxPLIS", "TxToNetwork(1)",
                                                     "TxToPLIS", "RxPLIS", "TxToNetwork(2)"}
                                << QStringList{"", "Loc", "Tr"};
        QTest::newRow("TMO") << "SwitchForm"
                             << "StringGridSwitchTMO" << QList<int>(13, 0) << 13 << 0
                             << kTmoHeadings << kTmoHeadings;
        QTest::newRow("TF") << "SwitchForm"
                            << "StringGridSwitchTF" << QList<int>(9, 0) << 9 << 0 << kTfHeadings
                            << kTfHeadings;
        QTest::newRow("links") << "CurLinksForm"
                               << "StringGridCurLinks" << QList<int>{70, 119, 39} << 7 << 25
                               << QStringList{"", "        Destination IP", "Выбор"}
                               << QStringList{"",           "        S1", "        S2",
                                              "        S3", "        S4", "        S5",
                                              "        S6"};
    }
    void grid() {
        QFETCH(QString, window);
        QFETCH(QString, name);
        QFETCH(QList<int>, columnWidths);
        QFETCH(int, rowCount);
        QFETCH(int, rowHeight);
        QFETCH(QStringList, headingRow);
        QFETCH(QStringList, headingColumn);
        AppFixture app;
        QWidget* w = OpenWindow(app, window);
        QVERIFY(w);
        auto* grid = w->findChild<StringGrid*>(name);
        QVERIFY(grid);
        QCOMPARE(grid->columnCount(), columnWidths.size());
        QCOMPARE(grid->rowCount(), rowCount);
        QCOMPARE(Row0(grid), headingRow);
        QCOMPARE(Column0(grid), headingColumn);

        int width = 0;
        for (int c = 0; c < grid->columnCount(); ++c) {
            if (columnWidths[c] > 0)
                QCOMPARE(grid->columnWidth(c), columnWidths[c]);
            width += grid->columnWidth(c);
        }
        int height = 0;
        for (int r = 0; r < grid->rowCount(); ++r) {
            QCOMPARE(grid->rowHeight(r), rowHeight > 0 ? rowHeight : grid->rowHeight(0));
            height += grid->rowHeight(r);
        }
        // The matrices' port columns are all alike, whatever the heading column takes.
        for (int c = 2; c < grid->columnCount(); ++c) {
            if (columnWidths[c] == 0)
                QCOMPARE(grid->columnWidth(c), grid->columnWidth(1));
        }
        // Every cell in view: no scroll bar, the viewport as large as the table.
        QVERIFY(grid->viewport()->width() >= width);
        QVERIFY(grid->viewport()->height() >= height);
        QVERIFY(!grid->horizontalScrollBar()->isVisible());
        QVERIFY(!grid->verticalScrollBar()->isVisible());

        for (int r = 1; r < grid->rowCount(); ++r) {
            for (int c = 1; c < grid->columnCount(); ++c)
                QCOMPARE(grid->cellText(c, r), QString());
        }
    }

    // The session table fits the window whole; the totals table starts on its last pixel row.
    void statisticsTablesPlacement() {
        AppFixture app;
        auto* w = static_cast<TStatForm*>(OpenWindow(app, QStringLiteral("StatForm0")));
        QVERIFY(w);
        QVERIFY(w->rect().contains(w->StringGrid_->geometry()));
        QCOMPARE(w->StringGrid2->geometry().top(), w->height() - 1);
        QCOMPARE(w->StringGrid2->size(), QSize(613 + 2 * w->StringGrid2->frameWidth(),
                                               78 + 2 * w->StringGrid2->frameWidth()));
        QVERIFY(!w->TimerRequestStat->isActive());
        QCOMPARE(w->TimerRequestStat->interval(), 3000);
        QCOMPARE(w->TimerRequestStat->objectName(), QStringLiteral("TimerRequestStat"));
        QCOMPARE(w->RadioGroupRequestType->itemIndex(), 0);
    }

    void radioGroupItems() {
        AppFixture app;
        auto* w = static_cast<TStatForm*>(OpenWindow(app, QStringLiteral("StatForm0")));
        QVERIFY(w);
        RadioGroup* group = w->RadioGroupRequestType;
        QCOMPARE(group->count(), 2);
        QCOMPARE(group->button(0)->text(), QStringLiteral("Одиночный"));
        QCOMPARE(group->button(1)->text(), QStringLiteral("Автоматический"));
        QVERIFY(group->button(0)->isChecked());
        QVERIFY(!group->button(1)->isChecked());
        // Two columns: the items side by side on one line.
        QCOMPARE(group->button(0)->y(), group->button(1)->y());
        QVERIFY(group->button(0)->geometry().right() < group->button(1)->x());
    }

    void requestTypeChange_data() {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QStringList>("captions");   // the request button after each click
        QTest::addColumn<QList<int>>("seenBefore");  // the index the announcement saw
        QTest::newRow("to automatic") << QList<int>{1} << QStringList{"Начать"} << QList<int>{0};
        QTest::newRow("and back") << QList<int>{1, 0} << QStringList{"Начать", "Запросить"}
                                  << QList<int>{0, 1};
        QTest::newRow("chosen item again")
            << QList<int>{0, 1, 1} << QStringList{"Запросить", "Начать", "Начать"} << QList<int>{0};
    }
    void requestTypeChange() {
        QFETCH(QList<int>, clicks);
        QFETCH(QStringList, captions);
        QFETCH(QList<int>, seenBefore);
        AppFixture app;
        auto* w = static_cast<TStatForm*>(OpenWindow(app, QStringLiteral("StatForm0")));
        QVERIFY(w);
        QList<int> seen;
        connect(w->RadioGroupRequestType, &RadioGroup::itemIndexChanging, this,
                [&](int, int) { seen << w->RadioGroupRequestType->itemIndex(); });
        for (int i = 0; i < clicks.size(); ++i) {
            w->RadioGroupRequestType->button(clicks[i])->click();
            QCOMPARE(w->RequestButton->text(), captions[i]);
            QCOMPARE(w->RadioGroupRequestType->itemIndex(), clicks[i]);
            QVERIFY(w->RadioGroupRequestType->button(clicks[i])->isChecked());
            QVERIFY(!w->RadioGroupRequestType->button(1 - clicks[i])->isChecked());
        }
        QCOMPARE(seen, seenBefore);
    }

    void statisticsSlotReuse_data() {
        QTest::addColumn<int>("slot");
        for (int n = 0; n < kStatSlots; ++n)
            QTest::addRow("slot %d", n) << n;
    }
    void statisticsSlotReuse() {
        QFETCH(int, slot);
        AppFixture app;
        for (int n = 0; n < kStatSlots; ++n) {
            QVERIFY(OpenWindow(app, QStringLiteral("StatForm%1").arg(n)));
            StatWindow(n)->EditStatIp->setText(QStringLiteral("10.0.0.%1").arg(n + 1));
            StatWindow(n)->EditStatPort->setText(QString::number(4000 + n));
        }
        const auto full = StatWindowList();
        app.form->ButtonStat->click();
        QCOMPARE(StatWindowList(), full);

        QPointer<TStatForm> closing = StatWindow(slot);
        QVERIFY(closing->close());
        QVERIFY(!StatWindow(slot));  // free at once, before the window is gone
        for (int n = 0; n < kStatSlots; ++n) {
            if (n != slot)
                QCOMPARE(StatWindow(n), full[n]);
        }
        RunDeferredDeletes();
        QVERIFY(!closing);

        const QString path = app.iniPath();
        for (int n = 0; n < kStatSlots; ++n) {
            const auto ip = IniValue(path, "Statistic", QStringLiteral("MuxIp%1").arg(n));
            const auto port = IniValue(path, "Statistic", QStringLiteral("MuxPort%1").arg(n));
            if (n == slot) {
                QCOMPARE(ip.value_or("(none)"), QStringLiteral("10.0.0.%1").arg(n + 1));
                QCOMPARE(port.value_or("(none)"), QString::number(4000 + n));
            } else {
                QVERIFY(!ip && !port);
            }
        }

        app.form->ButtonStat->click();
        QVERIFY(StatWindow(slot));
        QCOMPARE(StatWindow(slot)->objectName(), QStringLiteral("StatForm%1").arg(slot));
        QCOMPARE(StatWindow(slot)->EditStatIp->text(), QStringLiteral("10.0.0.%1").arg(slot + 1));
        QCOMPARE(StatWindow(slot)->EditStatPort->text(), QString::number(4000 + slot));
    }

    // Ending the program destroys open statistics windows without their close: nothing is
    // written and no slot keeps a destroyed window.
    void statisticsDestroyedWithoutClose() {
        AppFixture app;
        QVERIFY(OpenWindow(app, QStringLiteral("StatForm1")));
        StatWindow(1)->EditStatIp->setText(QStringLiteral("10.1.1.1"));
        const QPointer<TStatForm> window = StatWindow(1);
        app.form.reset();
        QVERIFY(!window);
        QVERIFY(!IniValue(app.iniPath(), "Statistic", "MuxIp0"));
        QVERIFY(!IniValue(app.iniPath(), "Statistic", "MuxIp1"));
    }

    void switchingLoad_data() {
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QStringList>("itemsA");
        QTest::addColumn<int>("indexA");
        QTest::addColumn<QString>("portA");
        QTest::addColumn<QStringList>("itemsB");
        QTest::addColumn<int>("indexB");
        QTest::addColumn<QString>("portB");
        QTest::newRow("no settings file")
            << QString() << QStringList{} << -1 << "65530" << QStringList{} << -1 << "65530";
        QTest::newRow("A chose its second, B none")
            << "[SwitchSettings]\nCountA=2\nItemIndexA=1\nIpA0=10.0.0.1\nPortA0=1001\n"
               "IpA1=10.0.0.2\nPortA1=1002\nCountB=1\nItemIndexB=-1\nIpB0=10.0.1.1\n"
               "PortB0=2001\n"
            << QStringList{"10.0.0.1", "10.0.0.2"} << 1 << "1002" << QStringList{"10.0.1.1"} << -1
            << "65530";
        QTest::newRow("no choice stored means the first")
            << "[SwitchSettings]\nCountA=2\nIpA0=10.0.0.1\nPortA0=1001\nIpA1=10.0.0.2\n"
               "PortA1=1002\nCountB=2\nIpB0=10.0.1.1\nPortB0=2001\nIpB1=10.0.1.2\n"
               "PortB1=2002\nItemIndexB=1\n"
            << QStringList{"10.0.0.1", "10.0.0.2"} << 0 << "1001"
            << QStringList{"10.0.1.1", "10.0.1.2"} << 1 << "2002";
        QTest::newRow("missing port and address")
            << "[SwitchSettings]\nCountA=1\nItemIndexA=0\nCountB=0\nItemIndexB=3\n"
            << QStringList{""} << 0 << "65530" << QStringList{} << -1 << "65530";
        QTest::newRow("count beyond the 100 the list holds")
            << "[SwitchSettings]\nCountA=2147483647\nItemIndexA=1\nIpA1=10.0.0.2\nPortA1=1002\n"
            << QStringList{"", "10.0.0.2"} + QStringList(98, "") << 1 << "1002" << QStringList{}
            << -1 << "65530";
    }
    void switchingLoad() {
        QFETCH(QString, ini);
        QFETCH(QStringList, itemsA);
        QFETCH(int, indexA);
        QFETCH(QString, portA);
        QFETCH(QStringList, itemsB);
        QFETCH(int, indexB);
        QFETCH(QString, portB);
        AppFixture app(ini);
        QVERIFY(OpenWindow(app, QStringLiteral("SwitchForm")));
        TSwitchForm* w = SwitchWindow();
        QCOMPARE(ComboItems(w->ComboBoxSwIpA), itemsA);
        QCOMPARE(w->ComboBoxSwIpA->currentIndex(), indexA);
        QCOMPARE(w->ComboBoxSwIpA->currentText(), indexA >= 0 ? itemsA[indexA] : QString());
        QCOMPARE(w->EditSwPortA->text(), portA);
        QCOMPARE(ComboItems(w->ComboBoxSwIpB), itemsB);
        QCOMPARE(w->ComboBoxSwIpB->currentIndex(), indexB);
        QCOMPARE(w->ComboBoxSwIpB->currentText(), indexB >= 0 ? itemsB[indexB] : QString());
        QCOMPARE(w->EditSwPortB->text(), portB);
        QCOMPARE(w->PortListA.size(), itemsA.size());
        QCOMPARE(w->PortListB.size(), itemsB.size());

        // Closing writes back what was loaded; opening again shows the same.
        QVERIFY(w->close());
        QVERIFY(!SwitchWindow());
        const QString path = app.iniPath();
        QCOMPARE(IniValue(path, "SwitchSettings", "CountA").value_or("(none)"),
                 QString::number(itemsA.size()));
        QCOMPARE(IniValue(path, "SwitchSettings", "ItemIndexA").value_or("(none)"),
                 QString::number(indexA));
        QCOMPARE(IniValue(path, "SwitchSettings", "CountB").value_or("(none)"),
                 QString::number(itemsB.size()));
        QCOMPARE(IniValue(path, "SwitchSettings", "ItemIndexB").value_or("(none)"),
                 QString::number(indexB));
        for (int n = 0; n < itemsA.size(); ++n) {
            QCOMPARE(IniValue(path, "SwitchSettings", QStringLiteral("IpA%1").arg(n)).value_or("-"),
                     itemsA[n]);
        }
        if (indexA >= 0) {
            QCOMPARE(IniValue(path, "SwitchSettings", QStringLiteral("PortA%1").arg(indexA))
                         .value_or("(none)"),
                     portA);
        }
        RunDeferredDeletes();
        QVERIFY(OpenWindow(app, QStringLiteral("SwitchForm")));
        QCOMPARE(ComboItems(SwitchWindow()->ComboBoxSwIpA), itemsA);
        QCOMPARE(SwitchWindow()->ComboBoxSwIpA->currentIndex(), indexA);
        QCOMPARE(SwitchWindow()->EditSwPortA->text(), portA);
        QCOMPARE(SwitchWindow()->ComboBoxSwIpB->currentIndex(), indexB);
        QCOMPARE(SwitchWindow()->EditSwPortB->text(), portB);
        QVERIFY(app.errors.isEmpty());
    }

    void switchingLoadRejects_data() {
        QTest::addColumn<QString>("ini");
        QTest::newRow("count not a number") << "[SwitchSettings]\nCountA=two\n";
        QTest::newRow("choice beyond the list") << "[SwitchSettings]\nCountA=1\nItemIndexA=1\n";
    }
    void switchingLoadRejects() {
        QFETCH(QString, ini);
        AppFixture app(ini);
        TSwitchForm w(nullptr, app.form->Pending, app.form->Pair, app.form->RegIniFile());
        bool raised = false;
        try {
            w.LoadSettings(app.form->RegIniFile());
        } catch (const std::exception&) {
            raised = true;
        }
        QVERIFY(raised);
    }

    void switchingChoiceSetsPort() {
        AppFixture app(
            "[SwitchSettings]\nCountA=2\nItemIndexA=-1\nIpA0=10.0.0.1\nPortA0=1001\n"
            "IpA1=10.0.0.2\nPortA1=1002\nCountB=2\nItemIndexB=-1\nIpB0=10.0.1.1\n"
            "PortB0=2001\nIpB1=10.0.1.2\nPortB1=2002\n");
        QVERIFY(OpenWindow(app, QStringLiteral("SwitchForm")));
        TSwitchForm* w = SwitchWindow();
        QCOMPARE(w->EditSwPortA->text(), QStringLiteral("65530"));
        w->ComboBoxSwIpA->setCurrentIndex(1);
        QCOMPARE(w->EditSwPortA->text(), QStringLiteral("1002"));
        w->ComboBoxSwIpA->setCurrentIndex(0);
        QCOMPARE(w->EditSwPortA->text(), QStringLiteral("1001"));
        w->ComboBoxSwIpB->setCurrentIndex(1);
        QCOMPARE(w->EditSwPortB->text(), QStringLiteral("2002"));
        w->ComboBoxSwIpB->setCurrentIndex(0);
        QCOMPARE(w->EditSwPortB->text(), QStringLiteral("2001"));
        QCOMPARE(w->EditSwPortA->text(), QStringLiteral("1001"));

        // Typing makes a new address: the choice goes, the port stays as the operator left it.
        w->EditSwPortA->setText(QStringLiteral("7777"));
        QTest::keyClicks(w->ComboBoxSwIpA->lineEdit(), QStringLiteral("9"));
        QCOMPARE(w->ComboBoxSwIpA->currentText(), QStringLiteral("10.0.0.19"));
        QCOMPARE(w->ComboBoxSwIpA->currentIndex(), -1);
        QCOMPARE(w->EditSwPortA->text(), QStringLiteral("7777"));
        QCOMPARE(ComboItems(w->ComboBoxSwIpA), (QStringList{"10.0.0.1", "10.0.0.2"}));

        QVERIFY(w->close());
        QCOMPARE(IniValue(app.iniPath(), "SwitchSettings", "ItemIndexA").value_or("(none)"),
                 QStringLiteral("-1"));
        QCOMPARE(IniValue(app.iniPath(), "SwitchSettings", "CountA").value_or("(none)"),
                 QStringLiteral("2"));
        QCOMPARE(IniValue(app.iniPath(), "SwitchSettings", "PortA1").value_or("(none)"),
                 QStringLiteral("1002"));
        QVERIFY(!IniValue(app.iniPath(), "SwitchSettings", "IpA2"));  // nothing past the list
    }

    void switchingCloseRaisesButton_data() {
        QTest::addColumn<bool>("byButton");  // otherwise the window's own close
        QTest::newRow("window closed") << false;
        QTest::newRow("button raised") << true;
    }
    void switchingCloseRaisesButton() {
        QFETCH(bool, byButton);
        AppFixture app;
        QVERIFY(OpenWindow(app, QStringLiteral("SwitchForm")));
        QPointer<TSwitchForm> w = SwitchWindow();
        QVERIFY(app.form->ButtonSwitching->isChecked());
        if (byButton) {
            app.form->ButtonSwitching->click();
        } else {
            QVERIFY(w->close());
        }
        QVERIFY(!SwitchWindow());
        QVERIFY(!app.form->ButtonSwitching->isChecked());
        QVERIFY(!w->isVisible());
        QVERIFY(IniValue(app.iniPath(), "SwitchSettings", "CountA"));
        RunDeferredDeletes();
        QVERIFY(!w);
        // Pressed again: a fresh window.
        app.form->ButtonSwitching->click();
        QVERIFY(SwitchWindow());
        QVERIFY(SwitchWindow()->isVisible());
    }

    // A hidden window is replaced and, at the end, the shown one deleted without a close;
    // neither writes the store.
    void switchingDeletedWithoutCloseWritesNothing() {
        AppFixture app;
        QPointer<TSwitchForm> hidden = MainWindow()->makeSwitchingWindow();
        QVERIFY(hidden);
        app.form->ButtonSwitching->click();
        QVERIFY(!hidden);
        const QPointer<TSwitchForm> shown = SwitchWindow();
        QVERIFY(shown);
        shown->ComboBoxSwIpA->setEditText(QStringLiteral("10.0.0.5"));
        app.form.reset();
        QVERIFY(!shown);
        QVERIFY(!IniValue(app.iniPath(), "SwitchSettings", "CountA"));
        QVERIFY(!IniValue(app.iniPath(), "SwitchSettings", "ItemIndexA"));
    }

    void switchingCellLook_data() {
        QTest::addColumn<QString>("grid");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("color");
        QTest::addColumn<bool>("bold");
        for (const char* grid : {"StringGridSwitchTMO", "StringGridSwitchTF"}) {
            QTest::addRow("%s link", grid) << grid << "     V" << QColor(0, 0, 128) << true;
            QTest::addRow("%s blocked", grid) << grid << "     X" << QColor(192, 192, 192) << true;
            QTest::addRow("%s free", grid) << grid << "" << QColor() << false;
            QTest::addRow("%s bare V", grid) << grid << "V" << QColor() << false;
            QTest::addRow("%s chosen session", grid) << grid << "    V" << QColor() << false;
        }
    }
    void switchingCellLook() {
        QFETCH(QString, grid);
        QFETCH(QString, text);
        QFETCH(QColor, color);
        QFETCH(bool, bold);
        AppFixture app;
        QVERIFY(OpenWindow(app, QStringLiteral("SwitchForm")));
        auto* g = SwitchWindow()->findChild<StringGrid*>(grid);
        QVERIFY(g);
        g->setCellText(3, 2, text);
        const StringGrid::CellLook look = g->cellLook(3, 2);
        QCOMPARE(look.color, color);
        QCOMPARE(look.bold, bold);
        // Headings keep the default look.
        QVERIFY(!g->cellLook(0, 1).color.isValid());
    }

    void currentLinksClose_data() {
        QTest::addColumn<bool>("withSwitching");
        QTest::newRow("switching window open") << true;
        QTest::newRow("alone") << false;
    }
    void currentLinksClose() {
        QFETCH(bool, withSwitching);
        AppFixture app;
        if (withSwitching) {
            QVERIFY(OpenWindow(app, QStringLiteral("SwitchForm")));
            SwitchWindow()->ComboBoxSwResetType->setCurrentIndex(1);
            SwitchWindow()->ComboBoxSwResetFor->setEnabled(false);
        } else {
            delete SwitchWindow();
            QVERIFY(!SwitchWindow());
        }
        QPointer<QWidget> w = OpenWindow(app, QStringLiteral("CurLinksForm"));
        QVERIFY(w);
        QVERIFY(w->close());
        QVERIFY(!LinksWindow());
        if (withSwitching) {
            QVERIFY(SwitchWindow()->ComboBoxSwResetFor->isEnabled());
            QCOMPARE(SwitchWindow()->ComboBoxSwResetType->currentIndex(), -1);
        }
        RunDeferredDeletes();
        QVERIFY(!w);
        QVERIFY(app.errors.isEmpty());
    }

    // Closing frees the window's slots of the pending-request table.
    void closeReleasesPendingSlots_data() {
        QTest::addColumn<QString>("window");
        QTest::newRow("statistics") << "StatForm2";
        QTest::newRow("switching") << "SwitchForm";
        QTest::newRow("current links") << "CurLinksForm";
    }
    void closeReleasesPendingSlots() {
        QFETCH(QString, window);
        AppFixture app;
        QWidget* w = OpenWindow(app, window);
        QVERIFY(w);
        const int before = MainWindow()->Pending.count();
        QVERIFY(MainWindow()->Pending.add(Continuation{w, 1, [](Sender) {}}, w, nullptr));
        QVERIFY(MainWindow()->Pending.add(Continuation{w, 2, [](Sender) {}}, w, nullptr));
        QCOMPARE(MainWindow()->Pending.count(), before + 2);
        QVERIFY(w->close());
        QCOMPARE(MainWindow()->Pending.count(), before);
    }

    void captionsFit_data() {
        QTest::addColumn<QString>("window");
        QTest::newRow("statistics") << "StatForm0";
        QTest::newRow("switching") << "SwitchForm";
        QTest::newRow("current links") << "CurLinksForm";
        QTest::newRow("main") << "MainForm";
        QTest::newRow("settings, Kestrel") << "SettingsForm0";
        QTest::newRow("settings, sessions") << "SettingsForm1";
        QTest::newRow("settings, other") << "SettingsForm2";
    }
    void captionsFit() {
        QFETCH(QString, window);
        AppFixture app;
        QWidget* w = OpenWindow(app, window);
        QVERIFY(w);
        auto* stat = qobject_cast<TStatForm*>(w);
        int checked = 0;
        for (QWidget* c : w->findChildren<QWidget*>()) {
            if (!c->isVisibleTo(w))
                continue;
            const QString what =
                QStringLiteral("%1 \"%2\"")
                    .arg(QString::fromLatin1(c->metaObject()->className()), ControlText(c));
            const QByteArray whatText = what.toUtf8();
            // The window's own controls lie wholly inside what holds them; the totals table is
            // the one placed past the edge on purpose.
            QWidget* holder = c->parentWidget();
            const bool ownControl = holder == w || qobject_cast<QGroupBox*>(holder);
            if (ownControl && !(stat && c == stat->StringGrid2)) {
                QVERIFY2(holder->rect().contains(c->geometry()), whatText.constData());
                // Nor does one cover another of the same holder.
                for (QWidget* other : holder->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                    if (other != c && other->isVisibleTo(w) && !other->isWindow() &&
                        other->geometry().intersects(c->geometry())) {
                        QFAIL(qPrintable(what + " overlaps " + ControlText(other)));
                    }
                }
            }
            const QFontMetrics fm = c->fontMetrics();
            if (auto* b = qobject_cast<QPushButton*>(c)) {
                QStyleOptionButton opt;
                opt.initFrom(b);
                opt.text = b->text();
                const QRect contents =
                    b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
                QVERIFY2(fm.horizontalAdvance(b->text()) + 4 <= contents.width(),
                         whatText.constData());
                QVERIFY2(b->height() >= b->sizeHint().height(), whatText.constData());
                ++checked;
            } else if (auto* t = qobject_cast<QToolButton*>(c)) {
                QVERIFY2(fm.horizontalAdvance(t->text()) + 6 <= t->width(), whatText.constData());
                QVERIFY2(t->height() >= fm.height() + 4, whatText.constData());
                ++checked;
            } else if (auto* r = qobject_cast<QRadioButton*>(c)) {
                QVERIFY2(r->width() >= r->sizeHint().width(), whatText.constData());
                ++checked;
            } else if (auto* l = qobject_cast<QLabel*>(c)) {
                if (l->text().isEmpty())
                    continue;
                QVERIFY2(fm.horizontalAdvance(l->text()) <= l->contentsRect().width(),
                         whatText.constData());
                QVERIFY2(fm.height() <= l->contentsRect().height(), whatText.constData());
                ++checked;
            } else if (auto* g = qobject_cast<QGroupBox*>(c)) {
                QStyleOptionGroupBox opt;
                opt.initFrom(g);
                opt.text = g->title();
                opt.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
                opt.lineWidth = 1;
                const QRect label = g->style()->subControlRect(QStyle::CC_GroupBox, &opt,
                                                               QStyle::SC_GroupBoxLabel, g);
                QVERIFY2(label.width() >= fm.horizontalAdvance(g->title()), whatText.constData());
                QVERIFY2(g->rect().contains(label), whatText.constData());
                // The first control sits below the title.
                for (QWidget* inside : g->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                    QVERIFY2(inside->y() > label.bottom(), whatText.constData());
                }
                ++checked;
            } else if (auto* box = qobject_cast<QComboBox*>(c)) {
                if (box->isEditable())
                    continue;
                // The longest item shows whole when chosen.
                QVERIFY2(box->width() >= box->sizeHint().width(), whatText.constData());
                ++checked;
            }
        }
        QVERIFY(checked >= 3);
    }

    // The request button changes its caption with the mode; each must fit without resizing.
    void requestButtonCaptionsFit_data() {
        QTest::addColumn<QString>("caption");
        QTest::newRow("single") << "Запросить";
        QTest::newRow("automatic, ready") << "Начать";
        QTest::newRow("automatic, running") << "Прекратить";
    }
    void requestButtonCaptionsFit() {
        QFETCH(QString, caption);
        AppFixture app;
        auto* w = static_cast<TStatForm*>(OpenWindow(app, QStringLiteral("StatForm0")));
        QVERIFY(w);
        QPushButton* b = w->RequestButton;
        b->setText(caption);
        QStyleOptionButton opt;
        opt.initFrom(b);
        opt.text = caption;
        const QRect contents = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
        QVERIFY(b->fontMetrics().horizontalAdvance(caption) + 4 <= contents.width());
    }

    // An address or a port at its longest shows whole in every field made for it.
    void fieldsFit_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::newRow("statistics address") << "StatForm0"
                                            << "EditStatIp"
                                            << "255.255.255.255";
        QTest::newRow("statistics port") << "StatForm0"
                                         << "EditStatPort"
                                         << "65535";
        QTest::newRow("address A") << "SwitchForm"
                                   << "ComboBoxSwIpA"
                                   << "255.255.255.255";
        QTest::newRow("port A") << "SwitchForm"
                                << "EditSwPortA"
                                << "65535";
        QTest::newRow("address B") << "SwitchForm"
                                   << "ComboBoxSwIpB"
                                   << "255.255.255.255";
        QTest::newRow("port B") << "SwitchForm"
                                << "EditSwPortB"
                                << "65535";
        QTest::newRow("links address") << "CurLinksForm"
                                       << "EditIp"
                                       << "255.255.255.255";
        QTest::newRow("links port") << "CurLinksForm"
                                    << "EditPort"
                                    << "65535";
    }
    void fieldsFit() {
        QFETCH(QString, window);
        QFETCH(QString, name);
        QFETCH(QString, text);
        AppFixture app;
        QWidget* w = OpenWindow(app, window);
        QVERIFY(w);
        QWidget* field = w->findChild<QWidget*>(name);
        QVERIFY(field);
        QLineEdit* edit = qobject_cast<QLineEdit*>(field);
        if (auto* box = qobject_cast<QComboBox*>(field))
            edit = box->lineEdit();
        QVERIFY(edit);
        w->show();
        QCoreApplication::processEvents();
        edit->setText(text);
        // The text's room inside the frame, less the margin the line edit keeps on each side.
        QStyleOptionFrame opt;
        opt.initFrom(edit);
        opt.lineWidth =
            edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) : 0;
        const QRect room = edit->style()->subElementRect(QStyle::SE_LineEditContents, &opt, edit);
        QVERIFY(edit->fontMetrics().horizontalAdvance(text) <= room.width() - 4);
    }

    // Every text the tables are built with fits its column; the marks fit the matrix cells.
    void tableTextsFit_data() {
        QTest::addColumn<QString>("window");
        QTest::newRow("statistics") << "StatForm0";
        QTest::newRow("switching") << "SwitchForm";
        QTest::newRow("current links") << "CurLinksForm";
    }
    void tableTextsFit() {
        QFETCH(QString, window);
        AppFixture app;
        QWidget* w = OpenWindow(app, window);
        QVERIFY(w);
        const auto grids = w->findChildren<StringGrid*>();
        QVERIFY(!grids.isEmpty());
        for (StringGrid* g : grids) {
            QFont bold = g->font();
            bold.setBold(true);
            const QFontMetrics plain(g->font());
            const QFontMetrics marks(bold);
            for (int r = 0; r < g->rowCount(); ++r) {
                for (int c = 0; c < g->columnCount(); ++c) {
                    const QString text = g->cellText(c, r);
                    const QByteArray where = QStringLiteral("%1 (%2,%3) \"%4\"")
                                                 .arg(g->objectName())
                                                 .arg(c)
                                                 .arg(r)
                                                 .arg(text)
                                                 .toUtf8();
                    QVERIFY2(
                        plain.horizontalAdvance(text) + StringGrid::kTextInset <= g->columnWidth(c),
                        where.constData());
                    QVERIFY2(plain.height() + StringGrid::kTextInset <= g->rowHeight(r),
                             where.constData());
                }
            }
            if (window == QStringLiteral("SwitchForm")) {
                for (int c = 1; c < g->columnCount(); ++c) {
                    QVERIFY(marks.horizontalAdvance(LinkMark) + StringGrid::kTextInset <=
                            g->columnWidth(c));
                    QVERIFY(marks.horizontalAdvance(BlockMark) + StringGrid::kTextInset <=
                            g->columnWidth(c));
                }
            }
        }
    }
};

QTEST_MAIN(WindowsLayoutTest)
#include "test_windows_layout.moc"
