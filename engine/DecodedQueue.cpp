#include "engine/DecodedQueue.h"

#include <utility>

#include "util/MainThread.h"

namespace zembra {

bool TDecodedQueue::Push(TDecodedItem&& Item) {
    bool Wake = false, OnMain = false;
    {
        std::unique_lock<std::mutex> L(FLock);
        if (!FClosed && FItems.size() >= FCapacity) {
            FPusherWaiting = true;
            FNotFull.wait(L, [this] { return FClosed || FItems.size() < FCapacity; });
            FPusherWaiting = false;
        }
        if (FClosed) return false;
        FItems.push_back(std::move(Item));
        Wake = FPopperWaiting;
        OnMain = FPopperOnMain;
    }
    if (Wake) WakePopper(OnMain);
    return true;
}

bool TDecodedQueue::Pop(TDecodedItem& Item) {
    bool Wake = false;
    {
        std::unique_lock<std::mutex> L(FLock);
        if (!FClosed && FItems.empty()) {
            FPopperWaiting = true;
            if (IsMainThread()) {
                // A job run on the main thread: the pusher's log lines wait for the main thread,
                // so it keeps running them while it waits.
                FPopperOnMain = true;
                L.unlock();
                WaitInMainThread([this] {
                    std::lock_guard<std::mutex> G(FLock);
                    return FClosed || !FItems.empty();
                });
                L.lock();
                FPopperOnMain = false;
            } else {
                FNotEmpty.wait(L, [this] { return FClosed || !FItems.empty(); });
            }
            FPopperWaiting = false;
        }
        if (FItems.empty()) return false;
        Item = std::move(FItems.front());
        FItems.pop_front();
        // A full queue wakes its pusher only once it is half empty: handing over item by item
        // would wake a thread at every frame, which costs more than decoding a frame of sound.
        Wake = FPusherWaiting && FItems.size() <= FCapacity / 2;
    }
    if (Wake) FNotFull.notify_one();
    return true;
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
