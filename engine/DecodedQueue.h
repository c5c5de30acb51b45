#pragma once

// What the decode-ahead thread hands to the job's thread, in the order it was read, through a
// ring of slots of fixed number. A slot keeps its frame, packet and clocks when it comes round
// again, so that once the ring has gone round the hand-off allocates nothing: an allocation
// made on one thread and freed on the other costs both threads a lock of the allocator's, and
// sound comes in thousands of small frames.

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "binding/FFmpegHolders.h"
#include "engine/Transcoder.h"

namespace zembra {

struct TDecodedItem {
    enum class TKind {
        Frame,     // a decoded frame of input stream Input
        Packet,    // a packet of Input for the outputs that copy it
        Error,     // decoding Input failed: Message, or Failure to rethrow
        End,       // nothing more: the input ended or a stop was requested
        HandBack,  // the helper stopped early; the job's thread reads on from here
    };
    TKind Kind = TKind::End;
    int Input = -1;
    TFramePtr Frame;    // kept from the slot's last use while its buffers are the slot's alone
    TPacketPtr Packet;  // unreferenced once used
    std::string Message;
    std::exception_ptr Failure;
    // Every input stream's clock as it was when the item was made.
    std::vector<TStreamClock> Clocks;
};

// One thread fills slots, one empties them. BeginPush waits while every slot is taken,
// BeginPop while none is filled; Close ends both waits for good. Between Begin and End a slot
// belongs to the calling thread alone.
class TDecodedQueue {
  public:
    explicit TDecodedQueue(size_t Capacity);
    // The next free slot, as its last use left it; null once the queue is closed.
    TDecodedItem* BeginPush();
    // Hands the slot from BeginPush to the popper.
    void EndPush();
    // The oldest filled slot; null when the queue is closed and no slot is filled.
    TDecodedItem* BeginPop();
    // Gives the slot from BeginPop back to the pusher, with whatever it still holds.
    void EndPop();
    void Close();
    bool Closed() const;
    size_t Capacity() const { return FSlots.size(); }

  private:
    void WakePopper(bool OnMain);

    mutable std::mutex FLock;
    std::condition_variable FNotFull;
    std::condition_variable FNotEmpty;
    std::vector<TDecodedItem> FSlots;
    size_t FHead = 0;    // the oldest filled slot
    size_t FFilled = 0;  // filled slots from FHead on, the one being emptied included
    bool FClosed = false;
    // A thread waits in BeginPush or BeginPop: only then is there anyone to wake.
    bool FPusherWaiting = false;
    bool FPopperWaiting = false;
    bool FPopperOnMain = false;  // and waits in WaitInMainThread
};

}  // namespace zembra
