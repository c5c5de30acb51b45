#pragma once

#include <mutex>

namespace zembra {

// A recursive lock: the owning thread may enter again, as the codec lock and the engine's
// locks are entered from nested calls on the same thread.
class TCriticalSection {
  public:
    void Enter() { FMutex.lock(); }
    void Leave() { FMutex.unlock(); }
    bool TryEnter() { return FMutex.try_lock(); }

    // BasicLockable, so std::lock_guard and std::unique_lock work on it.
    void lock() { Enter(); }
    void unlock() { Leave(); }
    bool try_lock() { return TryEnter(); }

  private:
    std::recursive_mutex FMutex;
};

}  // namespace zembra
