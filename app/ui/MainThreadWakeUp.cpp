#include "app/ui/MainThreadWakeUp.h"

#include <QObject>
#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

#include "util/MainThread.h"

namespace zembra {

namespace {

// One descriptor for the life of the process: a worker may still hold a copy of the wake-up
// after the window has removed it, and a closed number could by then name another file.
int WakeFd() {
    static const int Fd = [] {
        const int F = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (F < 0) throw std::runtime_error("Cannot create the main thread's wake-up descriptor");
        return F;
    }();
    return Fd;
}

// One call per posted event, the event for the next one posted before the call runs: a call
// that opens a box runs the event loop inside itself, and the calls queued behind it (another
// task's start, its pictures, a worker waiting for an answer) must still run there.
void PumpStep(QObject* Owner) {
    if (!MainThreadCallsWaiting()) return;
    QMetaObject::invokeMethod(
        Owner, [Owner] { PumpStep(Owner); }, Qt::QueuedConnection);
    PumpMainThreadQueue(1);
}

}  // namespace

void InstallMainThreadWakeUp(QObject* Owner) {
    const int Fd = WakeFd();
    auto* Notifier = new QSocketNotifier(Fd, QSocketNotifier::Read, Owner);
    QObject::connect(Notifier, &QSocketNotifier::activated, Owner, [Fd, Owner] {
        uint64_t Count = 0;
        // Empty or not, the counter is reset; calls queued after this read wake us again.
        [[maybe_unused]] const ssize_t Got = read(Fd, &Count, sizeof Count);
        // The calls run from a posted event, not from here: a call may open a box, and the event
        // loop does not watch a notifier again while that notifier's own signal is still being
        // handled, so every later call (a running task's progress, a preview's picture, the
        // worker waiting for it) would stand still until the box was closed.
        QMetaObject::invokeMethod(
            Owner, [Owner] { PumpStep(Owner); }, Qt::QueuedConnection);
    });
    QObject::connect(Owner, &QObject::destroyed, [] { SetMainThreadWakeUp(nullptr); });
    SetMainThreadWakeUp([Fd] {
        const uint64_t One = 1;
        // A full counter (EAGAIN) means a wake-up is already pending.
        [[maybe_unused]] const ssize_t Put = write(Fd, &One, sizeof One);
    });
}

}  // namespace zembra
