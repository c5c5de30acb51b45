#include "app/ui/ZembraApplication.h"

#include <mutex>

namespace zembra {

namespace {
std::mutex gHandlerLock;
TExceptionHandler gHandler;
}  // namespace

TZembraApplication::TZembraApplication(int& ArgCount, char** Args) : QApplication(ArgCount, Args) {
    setApplicationName(kApplicationTitle);
    setOrganizationName(kApplicationTitle);
}

bool TZembraApplication::notify(QObject* Receiver, QEvent* Event) {
    try {
        return QApplication::notify(Receiver, Event);
    } catch (const std::exception& E) {
        HandleException(E);
    }
    return false;
}

void SetExceptionHandler(TExceptionHandler Handler) {
    std::lock_guard<std::mutex> G(gHandlerLock);
    gHandler = std::move(Handler);
}

void HandleException(const std::exception& E) {
    TExceptionHandler Handler;
    {
        std::lock_guard<std::mutex> G(gHandlerLock);
        Handler = gHandler;
    }
    if (Handler) Handler(E);
}

void Guarded(const std::function<void()>& Proc) {
    try {
        Proc();
    } catch (const std::exception& E) {
        HandleException(E);
    }
}

}  // namespace zembra
