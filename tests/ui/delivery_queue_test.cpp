// Delivery to the window thread: the meeting point of the monitor and transfer
// threads with the window.
#include "ui/delivery_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace orvante::ui {
namespace {

using namespace std::chrono_literals;

TEST(DeliveryQueue, SendFromAnotherThreadRunsOnTheWindowThreadAndWaits) {
    DeliveryQueue queue;
    const auto windowThread = std::this_thread::get_id();
    std::atomic<bool> returned{false};
    std::thread::id ranOn;
    std::thread sender([&] {
        queue.Send([&] { ranOn = std::this_thread::get_id(); });
        returned = true;
    });
    ASSERT_TRUE(queue.WaitForTask(5s));
    EXPECT_FALSE(returned);
    EXPECT_EQ(queue.RunPending(), 1u);
    sender.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(ranOn, windowThread);
}

TEST(DeliveryQueue, SendOnTheWindowThreadRunsInline) {
    DeliveryQueue queue;
    bool ran = false;
    queue.Send([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_EQ(queue.RunPending(), 0u);
}

TEST(DeliveryQueue, TasksRunInTheOrderQueued) {
    DeliveryQueue queue;
    std::vector<int> order;
    for (int i = 0; i < 5; ++i) queue.Post([&order, i] { order.push_back(i); });
    queue.RunPending();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

// The notifier wakes the window thread; a task queued while it is owed a run, or while
// it has promised to come back, must not wake it again, and none may be left unannounced.
TEST(DeliveryQueue, NotifiesOnceForEachRunTheWindowThreadOwes) {
    DeliveryQueue queue;
    int notified = 0;
    queue.SetNotifier([&] { ++notified; });
    auto post = [&] { queue.Post([] {}); };
    struct Step {
        const char* what;
        std::function<std::size_t()> act;
        std::size_t ran;
        int notifiedAfter;
    };
    const Step steps[] = {
        {"a first task notifies", [&] { post(); return std::size_t{0}; }, 0, 1},
        {"a second before the run does not", [&] { post(); return std::size_t{0}; }, 0, 1},
        {"the run takes both", [&] { return queue.RunPending(); }, 2, 1},
        {"the next task notifies again", [&] { post(); return std::size_t{0}; }, 0, 2},
        {"a run that comes back takes it", [&] { return queue.RunPendingAndComeBack(); }, 1, 2},
        {"tasks until it comes back do not notify", [&] { post(); post(); return std::size_t{0}; },
         0, 2},
        {"it comes back and takes them", [&] { return queue.RunPendingAndComeBack(); }, 2, 2},
        {"it comes back to nothing", [&] { return queue.RunPendingAndComeBack(); }, 0, 2},
        {"so the next task notifies", [&] { post(); return std::size_t{0}; }, 0, 3},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        EXPECT_EQ(step.act(), step.ran);
        EXPECT_EQ(notified, step.notifiedAfter);
    }
}

TEST(DeliveryQueue, RunPendingLeavesTasksQueuedByTasksForLater) {
    DeliveryQueue queue;
    int runs = 0;
    std::function<void()> requeue = [&] {
        ++runs;
        queue.Post(requeue);
    };
    queue.Post(requeue);
    EXPECT_EQ(queue.RunPending(), 1u);
    EXPECT_EQ(runs, 1);
}

// The window thread waits for another thread that itself waits on a delivery.
TEST(DeliveryQueue, WaitServingRunsDeliveriesUntilTheConditionHolds) {
    DeliveryQueue queue;
    std::atomic<bool> finished{false};
    int delivered = 0;
    std::thread monitor([&] {
        for (int i = 0; i < 100; ++i) queue.Send([&] { ++delivered; });
        finished = true;
        queue.Wake();
    });
    queue.WaitServing([&] { return finished.load(); });
    monitor.join();
    EXPECT_EQ(delivered, 100);
}

TEST(DeliveryQueue, AbandonedSendReturnsAndItsTaskStillRunsLater) {
    DeliveryQueue queue;
    std::atomic<bool> giveUp{false};
    std::atomic<bool> returned{false};
    bool ran = false;
    std::thread sender([&] {
        const bool done =
            queue.SendUnlessAbandoned([&] { ran = true; }, [&] { return giveUp.load(); });
        EXPECT_FALSE(done);
        returned = true;
    });
    ASSERT_TRUE(queue.WaitForTask(5s));
    giveUp = true;
    queue.Wake();
    sender.join();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(ran);
    queue.RunPending();
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace orvante::ui
