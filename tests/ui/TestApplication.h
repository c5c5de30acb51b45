#pragma once

// The one application object of the widget tests, shared by every suite of the test program: the
// program's own (with its exception handler), whichever suite happens to run first.

#include <QApplication>

#include "app/ui/ZembraApplication.h"
#include "tests/ui/PrivateSessionBus.h"

namespace zembra::testing {

inline void EnsureTestApplication() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (QApplication::instance()) return;
    StartPrivateSessionBus();
    static int Argc = 1;
    static char Name[] = "ui_tests";
    static char* Argv[] = {Name, nullptr};
    // Never destroyed: at exit Qt's own statics go first, and a static application's clean-up
    // then crashes the process after every test has passed.
    static auto* App = new TZembraApplication(Argc, Argv);
    (void)App;
}

}  // namespace zembra::testing
