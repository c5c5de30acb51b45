#pragma once

class QObject;

namespace zembra {

// Makes the event loop of the calling (main) thread pump the main-thread queue whenever a
// worker queues a call. The worker's side is one write to an eventfd: it allocates nothing and
// posts no Qt event, so no object is made on a worker and freed by Qt on the main thread, and
// every call's data crosses through the queue's own mutex. Owner carries the notifier; when it
// goes, the wake-up is removed.
void InstallMainThreadWakeUp(QObject* Owner);

}  // namespace zembra
