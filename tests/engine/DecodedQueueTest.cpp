// The ring between the decode-ahead helper and the job's thread: order, bounded slots that
// come round again with what they held, and closing from either side.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/DecodedQueue.h"

namespace zembra::testing {
namespace {

// Pushes Count items numbered from 0, each slot's Message recording how many times the slot
// was filled; stops early when the queue closes.
void PushNumbered(TDecodedQueue& Queue, int Count, std::atomic<int>& Pushed) {
    for (int I = 0; I < Count; ++I) {
        TDecodedItem* Slot = Queue.BeginPush();
        if (!Slot) return;
        Slot->Kind = TDecodedItem::TKind::Frame;
        Slot->Input = I;
        Slot->Message += 'x';
        Queue.EndPush();
        Pushed.fetch_add(1);
    }
    if (TDecodedItem* Slot = Queue.BeginPush()) {
        Slot->Kind = TDecodedItem::TKind::End;
        Queue.EndPush();
    }
}

// A thousand items through rings of several sizes, popped on another thread and on this one:
// they come in order, through no more slots than the ring has, each slot reused as it left it.
TEST(DecodedQueue, HandsItemsOverInOrderThroughItsOwnSlots) {
    for (const size_t Capacity : {size_t{1}, size_t{2}, size_t{7}, size_t{64}}) {
        for (const bool PopOnOtherThread : {true, false}) {
            TDecodedQueue Queue(Capacity);
            EXPECT_EQ(Queue.Capacity(), Capacity);
            std::atomic<int> Pushed{0};
            std::thread Pusher(PushNumbered, std::ref(Queue), 1000, std::ref(Pushed));
            std::vector<int> Order;
            std::set<const TDecodedItem*> Slots;
            size_t LongestHistory = 0;
            auto Pop = [&] {
                for (;;) {
                    TDecodedItem* Item = Queue.BeginPop();
                    if (!Item) break;
                    Slots.insert(Item);
                    const bool End = Item->Kind == TDecodedItem::TKind::End;
                    if (!End) {
                        Order.push_back(Item->Input);
                        LongestHistory = std::max(LongestHistory, Item->Message.size());
                    }
                    Queue.EndPop();
                    if (End) break;
                }
            };
            if (PopOnOtherThread) {
                std::thread Popper(Pop);
                Popper.join();
            } else {
                Pop();
            }
            Pusher.join();
            const std::string Name = std::to_string(Capacity) + (PopOnOtherThread ? " other" : " this");
            ASSERT_EQ(Order.size(), 1000u) << Name;
            for (int I = 0; I < 1000; ++I) ASSERT_EQ(Order[static_cast<size_t>(I)], I) << Name;
            EXPECT_LE(Slots.size(), Capacity) << Name;
            // 1001 fills over Capacity slots: each slot came round with what it held before.
            EXPECT_GE(LongestHistory, 1000 / Capacity) << Name;
        }
    }
}

// Closing ends a pusher waiting on a full ring and a popper waiting on an empty one; what was
// filled before the close is still handed over, and nothing is taken after it.
TEST(DecodedQueue, CloseEndsBothWaits) {
    {
        TDecodedQueue Queue(2);
        std::atomic<int> Pushed{0};
        std::thread Pusher(PushNumbered, std::ref(Queue), 100, std::ref(Pushed));
        while (Pushed.load() < 2) std::this_thread::yield();
        Queue.Close();
        Pusher.join();  // would hang if the full ring kept it waiting
        EXPECT_EQ(Pushed.load(), 2);
        EXPECT_TRUE(Queue.Closed());
        for (int I = 0; I < 2; ++I) {
            TDecodedItem* Item = Queue.BeginPop();
            ASSERT_NE(Item, nullptr);
            EXPECT_EQ(Item->Input, I);
            Queue.EndPop();
        }
        EXPECT_EQ(Queue.BeginPop(), nullptr);
        EXPECT_EQ(Queue.BeginPush(), nullptr);
    }
    {
        TDecodedQueue Queue(4);
        std::atomic<bool> Returned{false};
        TDecodedItem* Got = reinterpret_cast<TDecodedItem*>(1);
        std::thread Popper([&] {
            Got = Queue.BeginPop();
            Returned.store(true);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_FALSE(Returned.load());
        Queue.Close();
        Popper.join();
        EXPECT_EQ(Got, nullptr);
    }
}

}  // namespace
}  // namespace zembra::testing
