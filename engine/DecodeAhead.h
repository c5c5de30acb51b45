#pragma once

// Decoding ahead: while a processor is free, a helper thread of the job reads its input and
// decodes it, and the job's own thread does everything after decoding (sync, resampling,
// filters, hooks, encoding, muxing, progress, previews) with the frames it is handed, in the
// order the one-thread loop would have made them.

#include <atomic>
#include <cstddef>
#include <exception>
#include <string>
#include <memory>
#include <vector>

#include "binding/FFmpegHolders.h"
#include "engine/DecodedQueue.h"
#include "engine/Transcoder.h"
#include "util/ProcessorLoad.h"
#include "util/Thread.h"

namespace zembra {

// Counts, while it lives, one running packet loop of this process: the component's running
// tasks.
class TRunningLoop {
  public:
    TRunningLoop();
    ~TRunningLoop();
    TRunningLoop(const TRunningLoop&) = delete;
    TRunningLoop& operator=(const TRunningLoop&) = delete;
    // True while fewer loops run than the process has processors to run on.
    static bool FreeProcessor();
    static int Processors();
    // How many loops run now, this one included.
    static int Running();
};

// The value of ZEMBRA_DECODE_AHEAD (null: unset) allows decoding ahead unless it is "0".
bool DecodeAheadAllowed(const char* Setting);
// How many runs of this process have decoded ahead so far.
int64_t DecodeAheadRunCount();

class TDecodeAhead {
  public:
    // Reads the job's one input file; Capacity items at most wait in the queue.
    TDecodeAhead(TTranscoder& Owner, TPauseGate& Gate, size_t Capacity);
    // Makes the helper leave wherever it waits, and waits for it.
    ~TDecodeAhead();
    TDecodeAhead(const TDecodeAhead&) = delete;
    TDecodeAhead& operator=(const TDecodeAhead&) = delete;

    // Starts the helper, its clocks taken from the input streams as they are now.
    void Start();
    TDecodedQueue& Queue() { return FQueue; }
    // Waits for the helper once it has passed its last item (End or HandBack).
    void Finish();

    // The decoding code on the helper thread passes on what it makes: Frame's content goes
    // into the slot's own frame (copied), a packet is referenced.
    void PassFrame(TInputStreamState& Ist, AVFrame* Frame);
    void PassPacket(TInputStreamState& Ist, const AVPacket* Packet);

  private:
    class TReader;
    void Read();
    // A free slot with the item's kind, input and clocks set; null once the queue is closed.
    TDecodedItem* BeginItem(TDecodedItem::TKind Kind, int Input);
    void Pass(TDecodedItem::TKind Kind, int Input = -1);
    void PassError(int Input, std::string Message, std::exception_ptr Failure);
    int IndexOf(const TInputStreamState& Ist) const;
    // True once outside work has left no processor free for a while.
    bool MachineBusy();

    TTranscoder& FOwner;
    TPauseGate& FGate;
    TDecodedQueue FQueue;
    std::vector<TStreamClock> FClocks;  // the helper's; the job's thread takes them with each item
    TPacketPtr FPacket;
    std::atomic<bool> FLeave{false};
    // The helper's readings of the machine's processor time.
    TProcessorTimes FLoad;
    bool FLoadKnown = false;
    int64_t FLoadReadAt = 0;
    int FBusyReadings = 0;
    std::unique_ptr<TThread> FThread;
};

}  // namespace zembra
