#include "cli/BatchFeeder.h"

#include <algorithm>

namespace zembra::cli {

TBatchFeeder::TBatchFeeder(size_t ItemCount, int32_t Threads)
    : FItemCount(ItemCount),
      FThreads(Threads),
      FAhead(2 * static_cast<size_t>(std::max(Threads, 1)) + 16),
      FCap(8 * FAhead),
      FStarted(new std::atomic<bool>[FCap]) {
    FTasks.reserve(FCap);
    for (size_t I = 0; I < FCap; ++I) FStarted[I] = false;
}

void TBatchFeeder::AddTasks(size_t Limit, const std::function<void(size_t)>& AddItem,
                            const std::function<bool()>& Interrupted) {
    for (; FNextItem < FItemCount && FTasks.size() < std::min(Limit, FCap); ++FNextItem) {
        if (Interrupted()) break;
        AddItem(FNextItem);
    }
}

void TBatchFeeder::List(TTaskEntry Entry) {
    FTasks.push_back(std::move(Entry));
    FListed = FTasks.size();
}

void TBatchFeeder::Unlist() {
    FListed = FTasks.size() - 1;
    FTasks.pop_back();
}

const TTaskEntry* TBatchFeeder::Entry(int32_t Index) const {
    return Index >= 0 && static_cast<size_t>(Index) < FListed.load() ? &FTasks[static_cast<size_t>(Index)]
                                                                     : nullptr;
}

void TBatchFeeder::MarkStarted(int32_t Index) {
    if (Entry(Index)) FStarted[static_cast<size_t>(Index)] = true;
}

bool TBatchFeeder::Started(int32_t Index) const {
    return Entry(Index) && FStarted[static_cast<size_t>(Index)].load();
}

bool TBatchFeeder::Room(bool Stopping) const {
    return FThreads > 0 && !Stopping && FNextItem < FItemCount && FTasks.size() < FCap &&
           FTasks.size() < FEnded.load() + FAhead;
}

void TBatchFeeder::EndRun(size_t Ran) {
    FListed = FTasks.size() - Ran;
    FTasks.erase(FTasks.begin(), FTasks.begin() + static_cast<std::ptrdiff_t>(Ran));
    // The tasks left wait for the next run: none of them has started.
    for (size_t I = 0; I < FCap; ++I) FStarted[I] = false;
}

}  // namespace zembra::cli
