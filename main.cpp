#include <QApplication>
#include <cstdio>
#include <cstring>

#include "forms/main.h"
#include "ui/errorreport.h"

int main(int argc, char** argv) {
    // Answered before any window or display is needed, as installed desktop tools do.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("kestrel %s\n", KESTREL_VERSION);
        return 0;
    }
    KestrelApplication app(argc, argv);
    TMainForm form;
    form.show();
    return app.exec();
}
