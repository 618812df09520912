#include "runtime/helperqueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A first task that holds the one helper until Open, so the tasks after it wait in the queue.
class Gate {
public:
    explicit Gate(HelperQueue& queue) {
        queue.Post([this, shut = opened_.get_future().share()] {
            started_.count_down();
            // Bounded: a queue that fails to drop what it should fails the test, not the run.
            timedOut_ = shut.wait_for(10s) == std::future_status::timeout;
        });
        started_.wait();
    }
    void Open() { opened_.set_value(); }
    bool TimedOut() const { return timedOut_; }

private:
    std::atomic<bool> timedOut_{false};
    std::latch started_{1};
    std::promise<void> opened_;
};

TEST(HelperQueue, AFreeHelperTakesTheOldestOrTheNewestTask) {
    struct Case {
        HelperQueue::Order order;
        std::string expected;
    } cases[] = {
        {HelperQueue::Order::Oldest, "abc"},
        {HelperQueue::Order::Newest, "cba"},
    };
    for (const Case& c : cases) {
        HelperQueue queue(1, c.order);
        ASSERT_EQ(queue.Threads(), 1);
        Gate gate(queue);
        std::string ran;
        for (const char name : std::string("abc")) {
            queue.Post([&ran, name] { ran += name; });
        }
        gate.Open();
        queue.Wait();
        EXPECT_EQ(ran, c.expected) << c.expected;
    }
}

// The task that fails stops the rest, and its failure comes back from every later call:
// at once where the caller runs the tasks itself, else from the first call after it failed.
TEST(HelperQueue, AFailedTaskStopsTheQueueAndIsRaisedFromThenOn) {
    struct Case {
        int threads;
        std::string raised;
    } cases[] = {
        {0, "post b:b post c:b wait:b post d:b wait:b "},
        {1, "wait:b post d:b wait:b "},
    };
    for (const Case& c : cases) {
        HelperQueue queue(c.threads);
        ASSERT_EQ(queue.Threads(), c.threads);
        std::unique_ptr<Gate> gate = c.threads > 0 ? std::make_unique<Gate>(queue) : nullptr;
        std::string ran;
        std::string raised;
        auto call = [&](const std::string& where, auto&& step) {
            try {
                step();
            } catch (const std::runtime_error& failure) {
                raised += where + ":" + failure.what() + " ";
            }
        };
        auto post = [&](char name) {
            call(std::string("post ") + name, [&] {
                queue.Post([&ran, name] {
                    ran += name;
                    if (name == 'b') {
                        throw std::runtime_error("b");
                    }
                });
            });
        };
        post('a');
        post('b');
        post('c');
        if (gate) {
            gate->Open();
        }
        call("wait", [&] { queue.Wait(); });
        post('d');
        call("wait", [&] { queue.Wait(); });
        EXPECT_EQ(ran, "ab") << c.threads;
        EXPECT_EQ(raised, c.raised) << c.threads;
    }
}

TEST(HelperQueue, StopDropsWaitingTasksAndTheCallerGoesOnAlone) {
    HelperQueue queue(1);
    Gate gate(queue);
    bool ranWaiting = false;
    // The gate opens when the last copy of the waiting task goes: dropped unrun, if Stop drops it.
    auto opener = std::shared_ptr<Gate>(&gate, [](Gate* dropped) { dropped->Open(); });
    queue.Post([opener, &ranWaiting] { ranWaiting = true; });
    opener.reset();
    queue.Stop();
    EXPECT_FALSE(ranWaiting);
    EXPECT_FALSE(gate.TimedOut());
    EXPECT_EQ(queue.Threads(), 0);
    std::thread::id ranOn;
    queue.Post([&ranOn] { ranOn = std::this_thread::get_id(); });
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(HelperQueue, PostWaitsWhileTheMostTasksWait) {
    HelperQueue queue(1);
    Gate gate(queue);
    queue.Post([] {}, 2);
    queue.Post([] {}, 2);
    std::atomic<bool> opened{false};
    std::thread opener([&] {
        std::this_thread::sleep_for(50ms);
        opened = true;
        gate.Open();
    });
    queue.Post([] {}, 2);
    EXPECT_TRUE(opened);
    opener.join();
    queue.Wait();
}

}  // namespace
