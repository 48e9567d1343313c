#pragma once
// A main window on a temporary settings file, as the program starts it, for GUI tests.
#include <QLabel>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include <QtWidgets>
#include "forms/main.h"
#include "ui/speedbutton.h"
#include "ui/stringgrid.h"

#include "forms/settings.h"
#include "link/exchange.h"
#include "ui/errorreport.h"
#include "ui/optionlist.h"

class AppFixture {
  public:
    // `ini`, when given, is the settings file as the operator left it before the start.
    explicit AppFixture(const QString& ini = QString()) : dir_(std::make_unique<QTemporaryDir>()) {
        if (!ini.isEmpty()) {
            QFile file(iniPath());
            if (!file.open(QIODevice::WriteOnly) || file.write(ini.toUtf8()) <= 0 || !file.flush())
                qFatal("the settings file cannot be written");
        }
        SetErrorReportSink([this](const QString& text) { errors << text; });
        form = std::make_unique<TMainForm>(iniPath());
    }
    ~AppFixture() {
        form.reset();
        SetErrorReportSink({});
        WaitForReceiveThreads(5000);
    }

    QString iniPath() const { return dir_->filePath(QStringLiteral("kestrel.ini")); }

    // The event log as lines, the first (empty) line included.
    QStringList memoLines() const { return form->Memo->toPlainText().split(QLatin1Char('\n')); }
    // Only the messages: every other line after the first, without the asterisk lines.
    QStringList messages() const {
        QStringList lines = memoLines();
        QStringList out;
        for (int i = 1; i + 1 < lines.size(); i += 2)
            out << lines[i];
        return out;
    }

    template <class T>
    static T* find(QWidget* root, const QString& name) {
        return root->findChild<T*>(name);
    }

    QStringList errors;
    std::unique_ptr<TMainForm> form;

  private:
    std::unique_ptr<QTemporaryDir> dir_;
};
