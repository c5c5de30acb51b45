#include "cli/BatchFeeder.h"

#include <algorithm>

namespace zembra::cli {

TBatchFeeder::TBatchFeeder(size_t ItemCount, int32_t Threads)
    : FItemCount(ItemCount),
      FThreads(Threads),
      FAhead(2 * static_cast<size_t>(std::max(Threads, 1)) + 16),
      FCap(8 * FAhead) {}

void TBatchFeeder::AddTasks(size_t Limit, const std::function<void(size_t)>& AddItem,
                            const std::function<bool()>& Interrupted) {
    for (; FNextItem < FItemCount && Count() < std::min(Limit, FCap); ++FNextItem) {
        if (Interrupted()) break;
        AddItem(FNextItem);
    }
}

void TBatchFeeder::List(uint64_t TaskId, TTaskEntry Entry) {
    std::lock_guard<std::mutex> G(FLock);
    FTasks[TaskId].Entry = std::move(Entry);
}

void TBatchFeeder::Unlist(uint64_t TaskId) {
    std::lock_guard<std::mutex> G(FLock);
    FTasks.erase(TaskId);
}

const TTaskEntry* TBatchFeeder::Entry(uint64_t TaskId) const {
    std::lock_guard<std::mutex> G(FLock);
    const auto It = FTasks.find(TaskId);
    return It == FTasks.end() ? nullptr : &It->second.Entry;
}

void TBatchFeeder::MarkStarted(uint64_t TaskId) {
    std::lock_guard<std::mutex> G(FLock);
    if (const auto It = FTasks.find(TaskId); It != FTasks.end()) It->second.Started = true;
}

bool TBatchFeeder::Started(uint64_t TaskId) const {
    std::lock_guard<std::mutex> G(FLock);
    const auto It = FTasks.find(TaskId);
    return It != FTasks.end() && It->second.Started.load();
}

size_t TBatchFeeder::Count() const {
    std::lock_guard<std::mutex> G(FLock);
    return FTasks.size();
}

bool TBatchFeeder::Room(bool Stopping) const {
    const size_t Listed = Count();
    return FThreads > 0 && !Stopping && FNextItem < FItemCount && Listed < FCap &&
           Listed < FEnded.load() + FAhead;
}

}  // namespace zembra::cli
