#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/RunLoop.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using platform::DispatchQueue;
using platform::Notification;
using platform::NotificationCenter;
using platform::RunLoop;

namespace {

// Runs the main loop until `done` holds (checked after each batch), at most `limit` seconds.
template <class Pred>
bool runUntil(Pred done, double limit = 10.0)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        RunLoop::main().runOnce(0.05);
    }
    return true;
}

}  // namespace

TEST(RunLoop, RunsTasksInDueOrderAndFifoAmongEqualTimes)
{
    auto& loop = RunLoop::main();
    ASSERT_TRUE(RunLoop::isMainThread());
    std::vector<std::string> order;
    loop.performAfter(0.06, [&] { order.push_back("late"); });
    loop.performAfter(0.02, [&] { order.push_back("soon"); });
    loop.perform([&] { order.push_back("a"); });
    loop.perform([&] { order.push_back("b"); });
    loop.performAfter(0, [&] { order.push_back("c"); });
    auto cancelled = loop.performAfter(0.01, [&] { order.push_back("cancelled"); });
    loop.cancel(cancelled);
    loop.performAfter(0.1, [&] { loop.stop(); });
    auto before = loop.tasksRun();
    loop.runFor(-1);
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c", "soon", "late"}));
    EXPECT_EQ(loop.tasksRun() - before, 6u);
}

TEST(RunLoop, TasksMayPostMoreAndRunForReturnsAtItsDeadline)
{
    auto& loop = RunLoop::main();
    int chain = 0;
    std::function<void()> step = [&] {
        if (++chain < 5)
            loop.perform(step);
        else
            loop.stop();
    };
    loop.perform(step);
    loop.runFor(60.0);
    EXPECT_EQ(chain, 5);
    EXPECT_EQ(loop.runPending(), 0);
    loop.runFor(0.05);  // nothing queued: returns at its deadline
}

TEST(RunLoop, DescriptorBecomesReadableWhenADelayedTaskIsDue)
{
    auto& loop = RunLoop::main();
    pollfd pfd{loop.fileDescriptor(), POLLIN, 0};
    EXPECT_EQ(poll(&pfd, 1, 0), 0) << "idle loop must not look busy";

    bool ran = false;
    loop.performAfter(0.05, [&] { ran = true; });
    EXPECT_EQ(poll(&pfd, 1, 0), 0) << "not due yet";
    ASSERT_EQ(poll(&pfd, 1, 10000), 1);
    EXPECT_EQ(loop.runPending(), 1);
    EXPECT_TRUE(ran);
    EXPECT_EQ(poll(&pfd, 1, 0), 0) << "drained after running";

    // A perform from another thread makes it readable right away.
    std::thread([&] { loop.perform([] {}); }).join();
    ASSERT_EQ(poll(&pfd, 1, 10000), 1);
    EXPECT_EQ(loop.runPending(), 1);
    EXPECT_EQ(poll(&pfd, 1, 0), 0);
}

TEST(RunLoop, PerformAndWaitRunsInlineOnTheMainThread)
{
    bool ran = false;
    EXPECT_TRUE(RunLoop::main().performAndWait([&] { ran = RunLoop::isMainThread(); }, 0));
    EXPECT_TRUE(ran);
}

TEST(RunLoop, PerformAndWaitFromBackgroundWhileMainRuns)
{
    auto& loop = RunLoop::main();
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> result{false};
    std::thread worker([&] {
        EXPECT_FALSE(RunLoop::isMainThread());
        result = loop.performAndWait([&] { ranOnMain = RunLoop::isMainThread(); }, 30.0);
        loop.perform([&] { loop.stop(); });
    });
    loop.runFor(60.0);
    worker.join();
    EXPECT_TRUE(result);
    EXPECT_TRUE(ranOnMain);
}

TEST(RunLoop, PerformAndWaitTimesOutWhenMainDoesNotRunAndNeverRunsLater)
{
    auto& loop = RunLoop::main();
    std::atomic<bool> ran{false};
    bool result = true;
    std::thread worker([&] { result = loop.performAndWait([&] { ran = true; }, 0.2); });
    worker.join();  // the main thread is not running the loop: this must still return
    EXPECT_FALSE(result);
    loop.runFor(0.1);
    EXPECT_EQ(loop.runPending(), 0);
    EXPECT_FALSE(ran);
}

TEST(DispatchQueue, SerialQueueRunsInSubmissionOrderOffTheMainThread)
{
    auto queue = DispatchQueue::serial("test.serial");
    EXPECT_EQ(queue->label(), "test.serial");
    std::vector<int> seen;
    std::atomic<bool> offMain{true};
    for (int i = 0; i < 200; ++i)
        queue->async([&, i] {
            seen.push_back(i);
            if (RunLoop::isMainThread())
                offMain = false;
        });
    queue->sync([] {});
    ASSERT_EQ(seen.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(seen[i], i);
    EXPECT_TRUE(offMain);

    // sync() from the queue's own worker runs inline instead of waiting for itself.
    std::promise<bool> nested;
    queue->async([&] {
        bool inner = false;
        queue->sync([&] { inner = true; });
        nested.set_value(inner);
    });
    EXPECT_TRUE(nested.get_future().get());
}

TEST(DispatchQueue, GlobalQueueRunsTasksConcurrently)
{
    // Four tasks that can only finish once all four are running at the same time.
    std::latch allRunning(4);
    std::latch finished(4);
    for (int i = 0; i < 4; ++i)
        DispatchQueue::global().async([&] {
            allRunning.arrive_and_wait();
            finished.count_down();
        });
    finished.wait();

    int value = 0;
    DispatchQueue::global().sync([&] { value = 42; });
    EXPECT_EQ(value, 42);
}

TEST(DispatchQueue, WorkerThreadsHaveAnAlternateSignalStack)
{
    auto probe = [] {
        stack_t current{};
        sigaltstack(nullptr, &current);
        return !(current.ss_flags & SS_DISABLE) && current.ss_size >= 64 * 1024;
    };
    bool global = false, serial = false;
    DispatchQueue::global().sync([&] { global = probe(); });
    DispatchQueue::serial("test.altstack")->sync([&] { serial = probe(); });
    EXPECT_TRUE(global);
    EXPECT_TRUE(serial);

    // Idempotent on a plain thread: the second call keeps the first stack.
    std::thread([&] {
        platform::ensureAlternateSignalStack();
        stack_t first{};
        sigaltstack(nullptr, &first);
        platform::ensureAlternateSignalStack();
        stack_t second{};
        sigaltstack(nullptr, &second);
        EXPECT_EQ(first.ss_sp, second.ss_sp);
        EXPECT_FALSE(first.ss_flags & SS_DISABLE);
    }).join();
}

// Idle workers end; the next task starts one again, still in order and with a signal stack.
TEST(DispatchQueue, IdleWorkersEndAndTheNextTaskStartsAnother)
{
    auto queue = DispatchQueue::serial("test.idle");
    pid_t first = 0;
    queue->sync([&] { first = static_cast<pid_t>(::syscall(SYS_gettid)); });
    const std::string task = "/proc/self/task/" + std::to_string(first);
    for (int i = 0; i < 100 && ::access(task.c_str(), F_OK) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(::access(task.c_str(), F_OK), 0) << "the idle worker is still running";

    std::vector<int> order;
    for (int i = 0; i < 50; ++i)
        queue->async([&order, i] { order.push_back(i); });
    bool stack = false;
    queue->sync([&] {
        stack_t current{};
        sigaltstack(nullptr, &current);
        stack = !(current.ss_flags & SS_DISABLE);
    });
    ASSERT_EQ(order.size(), 50u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_TRUE(stack);
}

TEST(NotificationCenter, DeliversOnMainQueueOrPostingThreadUntilRemoved)
{
    auto& center = NotificationCenter::defaultCenter();
    std::atomic<int> onMain{0}, onPoster{0}, wrongThread{0}, other{0};
    std::thread::id poster;
    std::mutex m;
    auto mainToken = center.addObserver("test.note", NotificationCenter::Delivery::MainQueue,
                                        [&](const Notification& n) {
                                            if (!RunLoop::isMainThread() || n.userInfo["k"] != 1)
                                                ++wrongThread;
                                            ++onMain;
                                        });
    auto postToken = center.addObserver("test.note", NotificationCenter::Delivery::PostingThread,
                                        [&](const Notification&) {
                                            std::lock_guard lock(m);
                                            if (std::this_thread::get_id() != poster)
                                                ++wrongThread;
                                            ++onPoster;
                                        });
    auto otherToken = center.addObserver("test.other", NotificationCenter::Delivery::PostingThread,
                                         [&](const Notification&) { ++other; });

    std::thread t([&] {
        {
            std::lock_guard lock(m);
            poster = std::this_thread::get_id();
        }
        center.post({"test.note", nullptr, platform::Value{{"k", 1}}});
    });
    t.join();
    EXPECT_EQ(onPoster, 1);
    EXPECT_TRUE(runUntil([&] { return onMain == 1; }));

    // A removed main-queue observer gets nothing, even when the post was already queued.
    std::thread([&] { center.post({"test.note", nullptr, platform::Value{{"k", 1}}}); }).join();
    center.removeObserver(mainToken);
    center.removeObserver(postToken);
    center.post({"test.note", nullptr, platform::Value{{"k", 1}}});
    RunLoop::main().runFor(0.05);
    EXPECT_EQ(onMain, 1);
    EXPECT_EQ(onPoster, 2);
    EXPECT_EQ(other, 0);
    EXPECT_EQ(wrongThread, 0);
    center.removeObserver(otherToken);
}
