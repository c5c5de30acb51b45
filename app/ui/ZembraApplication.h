#pragma once

// The application object: titled "Zembra", and the place where an exception that reaches the
// event loop is caught and handed to the installed handler (the main window's message box).

#include <QApplication>
#include <exception>
#include <functional>

namespace zembra {

inline constexpr const char* kApplicationTitle = "Zembra";

using TExceptionHandler = std::function<void(const std::exception&)>;

class TZembraApplication : public QApplication {
    Q_OBJECT
  public:
    TZembraApplication(int& ArgCount, char** Args);
    bool notify(QObject* Receiver, QEvent* Event) override;
};

// The handler an exception at the event loop goes to; the main window installs its own.
void SetExceptionHandler(TExceptionHandler Handler);
// Calls the installed handler (nothing when none is installed).
void HandleException(const std::exception& E);

// Runs Proc, handing any exception to the installed handler instead of letting it cross Qt's
// event dispatch (which Qt does not promise to survive).
void Guarded(const std::function<void()>& Proc);

}  // namespace zembra
