#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "component/OptionRecords.h"
#include "engine/FFmpeg.h"
#include "probe/AVProbe.h"
#include "util/CriticalSection.h"

namespace zembra {

class TCustomRUvivoVOV;

// A task's identity: given once in the process and never again, and kept while the task's index
// moves with removals before it. 0 names no task.
using TTaskId = uint64_t;

// One task: the engine, the records it was configured with, and a probe describing its input.
// Once its output is set the task holds no open file until it starts: the component opens its
// files again from the records, the same way, on the thread that runs it.
class TTaskFFmpeg : public TFFmpeg {
  public:
    TTaskFFmpeg();
    ~TTaskFFmpeg() override;

    TTaskId Id() const { return FId; }
    const TInputOptions& InputOptions() const { return FInputOptions; }
    const TOutputOptions& OutputOptions() const { return FOutputOptions; }
    // Describes the opened input until the task has its output; the input is released then,
    // so the probe is closed first.
    TAVProbe& Probe() { return *FProbe; }
    // Stops the conversion and waits until no thread touches the engine any more: a stop alone
    // returns once the worker reports its end, while the worker still runs the report.
    void StopAndWait();

  protected:
    void ReopenFiles() override;

  private:
    friend class TCustomRUvivoVOV;

    const TTaskId FId;
    // What the files were opened with: the names and the records (when one was given).
    std::u16string FInputFileName;
    std::u16string FOutputFileName;
    bool FHasInputOptions = false;
    bool FHasOutputOptions = false;
    TInputOptions FInputOptions;
    TOutputOptions FOutputOptions;
    // Set by the component when it releases the files.
    std::function<void(TTaskFFmpeg&)> FReopen;
    std::unique_ptr<TAVProbe> FProbe;
    // Guarded by the component's event lock: whether the end of this task was counted in the
    // current run, and whether the task left the list (its reports then go nowhere).
    bool FCounted = false;
    bool FDetached = false;
    // Guarded by the event lock too: the task was started on a worker of the current run and
    // has not reported its end yet, so its end frees a place for the next task.
    bool FHoldsSlot = false;
    // Guarded by the event lock: added during a run, the task joins it once it has its output.
    bool FAwaitingOutput = false;
};

using TTaskPtr = std::unique_ptr<TTaskFFmpeg>;

// The task list. Every operation but Count runs under the list's lock; Count is a copy kept
// beside the list so that a worker can read it while a waiting stop holds the lock.
class TFFmpegList {
  public:
    TFFmpegList() = default;
    ~TFFmpegList();
    TFFmpegList(const TFFmpegList&) = delete;
    TFFmpegList& operator=(const TFFmpegList&) = delete;

    // nullptr outside the list.
    TTaskFFmpeg* Items(int32_t Index);
    // -1 when no task of the list has that id.
    int32_t IndexOf(TTaskId Id);
    int32_t Count() const { return FCount.load(); }
    // Gives the engine its position as its index.
    int32_t Add(TTaskPtr Engine);
    // Frees the engine; the ones behind move down and are renumbered.
    void Delete(int32_t Index);
    void Clear();
    // The same, handing the engines back instead of freeing them: freeing a running engine
    // waits for it, and that wait must not happen under the list's lock.
    TTaskPtr Extract(int32_t Index);
    std::vector<TTaskPtr> ExtractAll();

    void StopAll(bool Wait);
    void PauseAll();
    void ResumeAll();
    void SetPreviewAll(bool On);
    void SetPreviewBitmapAll(bool On);

    // The lockable list itself.
    std::vector<TTaskPtr>& LockList();
    void UnlockList();

  private:
    void SetPreviewBit(uint8_t Bit, bool On);
    void Renumber(size_t From);

    TCriticalSection FLock;
    std::vector<TTaskPtr> FList;
    std::atomic<int32_t> FCount{0};
};

// Takes a lock; on the main thread the run-on-main-thread queue is pumped while it waits,
// because the holder may be a worker waiting for the main thread.
void EnterPumping(TCriticalSection& Lock);

}  // namespace zembra
