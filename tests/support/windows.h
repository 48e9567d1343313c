#pragma once
// The program's windows as the main window holds them, for tests that reach into them.
#include <QApplication>

#include "forms/currentlinks.h"
#include "forms/main.h"
#include "forms/settings.h"
#include "forms/stat.h"
#include "forms/switch.h"

// The test's one main window.
inline TMainForm* MainWindow() {
    TMainForm* found = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* m = qobject_cast<TMainForm*>(w)) {
            if (found)
                qFatal("two main windows: say which one");
            found = m;
        }
    }
    return found;
}
// Made hidden when first asked for, as the settings button would make it.
inline TSettingsForm* SettingsWindow() {
    return MainWindow()->settingsWindow();
}
// The switching window now, or null; MainWindow()->makeSwitchingWindow() makes a hidden one.
inline TSwitchForm* SwitchWindow() {
    return MainWindow()->switchingWindow();
}
inline TStatForm* StatWindow(int slot) {
    return MainWindow()->statWindow(slot);
}
inline TCurLinksForm* LinksWindow() {
    return MainWindow()->linksWindow();
}
// The four statistics slots as they are now.
inline std::array<TStatForm*, kStatSlots> StatWindowList() {
    std::array<TStatForm*, kStatSlots> list{};
    for (int n = 0; n < kStatSlots; ++n)
        list[n] = StatWindow(n);
    return list;
}
