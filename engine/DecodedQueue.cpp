#include "engine/DecodedQueue.h"

#include "util/MainThread.h"

namespace zembra {

TDecodedQueue::TDecodedQueue(size_t Capacity) : FSlots(Capacity == 0 ? 1 : Capacity) {}

TDecodedItem* TDecodedQueue::BeginPush() {
    std::unique_lock<std::mutex> L(FLock);
    if (!FClosed && FFilled == FSlots.size()) {
        FPusherWaiting = true;
        FNotFull.wait(L, [this] { return FClosed || FFilled < FSlots.size(); });
        FPusherWaiting = false;
    }
    if (FClosed) return nullptr;
    return &FSlots[(FHead + FFilled) % FSlots.size()];
}

void TDecodedQueue::EndPush() {
    bool Wake = false, OnMain = false;
    {
        std::lock_guard<std::mutex> G(FLock);
        if (FClosed || FFilled == FSlots.size()) return;
        ++FFilled;
        Wake = FPopperWaiting;
        OnMain = FPopperOnMain;
    }
    if (Wake) WakePopper(OnMain);
}

TDecodedItem* TDecodedQueue::BeginPop() {
    std::unique_lock<std::mutex> L(FLock);
    if (!FClosed && FFilled == 0) {
        FPopperWaiting = true;
        if (IsMainThread()) {
            // A job run on the main thread: the pusher's log lines wait for the main thread,
            // so it keeps running them while it waits.
            FPopperOnMain = true;
            L.unlock();
            WaitInMainThread([this] {
                std::lock_guard<std::mutex> G(FLock);
                return FClosed || FFilled > 0;
            });
            L.lock();
            FPopperOnMain = false;
        } else {
            FNotEmpty.wait(L, [this] { return FClosed || FFilled > 0; });
        }
        FPopperWaiting = false;
    }
    if (FFilled == 0) return nullptr;
    return &FSlots[FHead];
}

void TDecodedQueue::EndPop() {
    bool Wake = false;
    {
        std::lock_guard<std::mutex> G(FLock);
        if (FFilled == 0) return;
        FHead = (FHead + 1) % FSlots.size();
        --FFilled;
        // A full ring wakes its pusher only once it is half empty: handing over item by item
        // would wake a thread at every frame, and a wake costs more than decoding a frame of
        // sound.
        Wake = FPusherWaiting && FFilled <= FSlots.size() / 2;
    }
    if (Wake) FNotFull.notify_one();
}

void TDecodedQueue::Close() {
    {
        std::lock_guard<std::mutex> G(FLock);
        FClosed = true;
    }
    FNotFull.notify_all();
    WakePopper(true);
}

void TDecodedQueue::WakePopper(bool OnMain) {
    FNotEmpty.notify_all();
    if (OnMain) NotifyMainThread();
}

bool TDecodedQueue::Closed() const {
    std::lock_guard<std::mutex> G(FLock);
    return FClosed;
}

}  // namespace zembra
