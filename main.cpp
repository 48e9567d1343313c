#include <QApplication>

#include "forms/main.h"
#include "ui/errorreport.h"

int main(int argc, char** argv) {
    KestrelApplication app(argc, argv);
    TMainForm form;
    form.show();
    return app.exec();
}
