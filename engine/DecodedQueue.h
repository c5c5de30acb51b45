#pragma once

// What the decode-ahead thread hands to the job's thread, in the order it was read, through a
// queue of bounded length.

#include <condition_variable>
#include <cstddef>
#include <deque>
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
    TFramePtr Frame;
    TPacketPtr Packet;
    std::string Message;
    std::exception_ptr Failure;
    // Every input stream's clock as it was when the item was made.
    std::vector<TStreamClock> Clocks;
};

// One thread pushes, one pops. Push waits while the queue is full, Pop while it is empty;
// Close ends both waits for good.
class TDecodedQueue {
  public:
    explicit TDecodedQueue(size_t Capacity) : FCapacity(Capacity == 0 ? 1 : Capacity) {}
    // False, and the item dropped, once the queue is closed.
    bool Push(TDecodedItem&& Item);
    // False when the queue is closed and empty.
    bool Pop(TDecodedItem& Item);
    void Close();
    bool Closed() const;

  private:
    void WakePopper(bool OnMain);

    const size_t FCapacity;
    mutable std::mutex FLock;
    std::condition_variable FNotFull;
    std::condition_variable FNotEmpty;
    std::deque<TDecodedItem> FItems;
    bool FClosed = false;
    // A thread waits in Push or Pop: only then is there anyone to wake.
    bool FPusherWaiting = false;
    bool FPopperWaiting = false;
    bool FPopperOnMain = false;  // and waits in WaitInMainThread
};

}  // namespace zembra
