#pragma once

// The window of a batch's tasks in the component: files go in a few at a time while a run goes,
// and a run's ended tasks leave the list after it, so that memory does not grow with the size of
// the batch. A run takes at most Cap tasks (then the next run takes over). The entries are kept
// by the component's task ids, which the event handlers read.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace zembra::cli {

struct TTaskEntry {
    std::string Input;  // as given on the command line or found in a folder
    std::string Name;   // shown beside its progress
    std::u16string Output;
    std::string Copied;  // why the sound is copied unchanged; empty when it is encoded
    size_t Album = 0;    // with --replaygain album, the index of its album
};

class TBatchFeeder {
  public:
    // Threads: tasks at once, 0 for a sequential run (which returns only when it is over, so
    // nothing is added while it goes).
    TBatchFeeder(size_t ItemCount, int32_t Threads);

    size_t Ahead() const { return FAhead; }  // tasks kept waiting beyond the ended ones
    size_t Cap() const { return FCap; }      // tasks of one run at the most

    // Sets up tasks for the next items until the list holds Limit (at most Cap) or the items
    // run out; AddItem(item index) lists the item's entry or gives up on the item. Interrupted
    // stops it before the next item.
    void AddTasks(size_t Limit, const std::function<void(size_t)>& AddItem,
                  const std::function<bool()>& Interrupted);
    // Called by AddItem once the task exists and before it has its output (so before it can
    // run and report); Unlist takes the entry back when the task failed or left the component.
    void List(uint64_t TaskId, TTaskEntry Entry);
    void Unlist(uint64_t TaskId);

    // The event handlers' view, from any thread: the listed entry of a task, or nullptr. It stays
    // valid until the task is unlisted.
    const TTaskEntry* Entry(uint64_t TaskId) const;
    void TaskEnded() { ++FEnded; }
    // A task reported progress: it ran. One stopped without any report never started (a stop
    // ends the tasks that waited for their turn as well).
    void MarkStarted(uint64_t TaskId);
    bool Started(uint64_t TaskId) const;
    size_t EndedCount() const { return FEnded.load(); }

    void BeginRun() { FEnded = 0; }
    // Whether another task may join the run now.
    bool Room(bool Stopping) const;

    size_t Count() const;
    size_t NextItem() const { return FNextItem; }

  private:
    const size_t FItemCount;
    const int32_t FThreads;
    const size_t FAhead;
    const size_t FCap;
    size_t FNextItem = 0;
    struct TListed {
        TTaskEntry Entry;
        std::atomic<bool> Started{false};
    };
    mutable std::mutex FLock;  // the map itself; an entry is read by its task's handlers unlocked
    std::map<uint64_t, TListed> FTasks;
    std::atomic<size_t> FEnded{0};  // tasks of the current run that reported their end
};

}  // namespace zembra::cli
