// The main run loop.
//
// Tasks live in a map ordered by (due time, sequence number), so equal due times keep their
// submission order. fileDescriptor() is an epoll descriptor holding two descriptors:
//  - an eventfd, written when a task is due right away (perform, performAfter <= 0) or when
//    stop() wants to wake the loop;
//  - a timerfd, armed at the due time of the earliest delayed task.
// The epoll descriptor is readable while either of them is, so a host loop that polls it
// wakes exactly when work is due. Collecting a batch drains both and re-arms the timer.
//
// fork(): the queue lock is held across the fork; the child gets descriptors of its own (the
// inherited ones are shared with the parent, which would drain the child's wake-ups) and
// keeps the tasks that were queued, as they are part of the state it copied.
//
// performAndWait() with a time-out never waits for the queue lock longer than its time-out
// (try_lock with short naps), which keeps the crash path (a background thread in a signal
// handler) bounded even when the lock is held by the thread that faulted.
#include "platform/runtime/RunLoop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <new>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::int64_t secondsToNs(double seconds)
{
    if (!(seconds > 0))  // also catches NaN
        return 0;
    if (seconds > 1e9)  // ~31 years: treat as "far future" without overflowing
        seconds = 1e9;
    return std::int64_t(seconds * 1e9);
}

void drain(int fd)
{
    std::uint64_t value;
    while (::read(fd, &value, sizeof value) == sizeof value) {
    }
}

// State shared between a performAndWait() caller and the task it queued.
struct WaitState {
    std::mutex m;
    std::condition_variable cv;
    bool started = false;
    bool done = false;
    bool cancelled = false;
};

}  // namespace

struct RunLoop::Impl {
    using Key = std::pair<std::int64_t, std::uint64_t>;  // due time (ns), sequence

    std::mutex m;
    std::map<Key, Task> tasks;
    std::unordered_map<TimerId, Key> keys;
    std::uint64_t nextSeq = 1;
    bool eventSignalled = false;
    std::int64_t armedFor = 0;  // due time the timer is armed for, 0 when disarmed

    std::atomic<bool> stopRequested{false};
    std::atomic<std::uint64_t> tasksRun{0};

    int eventFd = -1;
    int timerFd = -1;
    int epollFd = -1;

    Impl()
    {
        openDescriptors();
    }

    static inline Impl* mainImpl = nullptr;  // the main run loop's, for the fork handlers
    static void beforeFork();
    static void afterForkInParent();
    static void afterForkInChild();

    void openDescriptors()
    {
        eventFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        epollFd = ::epoll_create1(EPOLL_CLOEXEC);
        if (eventFd < 0 || timerFd < 0 || epollFd < 0)
            std::abort();  // out of descriptors at start-up: nothing sensible to do
        for (int fd : {eventFd, timerFd}) {
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.fd = fd;
            ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev);
        }
    }

    // All of the following expect `m` to be held.
    void signalEvent()
    {
        if (eventSignalled)
            return;
        eventSignalled = true;
        std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(eventFd, &one, sizeof one);
    }

    void armTimer(std::int64_t due)
    {
        if (due == armedFor)
            return;
        armedFor = due;
        itimerspec expiry{};
        if (due > 0) {
            expiry.it_value.tv_sec = due / 1000000000;
            expiry.it_value.tv_nsec = due % 1000000000;
        }
        ::timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &expiry, nullptr);
    }

    // Makes the descriptors reflect the queue: eventfd for work due now, timer for later.
    void updateWakeups(std::int64_t now)
    {
        if (tasks.empty()) {
            armTimer(0);
            return;
        }
        std::int64_t due = tasks.begin()->first.first;
        if (due <= now) {
            signalEvent();
            armTimer(0);
        } else {
            armTimer(due);
        }
    }

    TimerId insert(std::int64_t due, Task task)
    {
        TimerId id = nextSeq++;
        Key key{due, id};
        tasks.emplace(key, std::move(task));
        keys.emplace(id, key);
        if (tasks.begin()->first == key)
            updateWakeups(nowNs());
        return id;
    }

    bool remove(TimerId id)
    {
        auto it = keys.find(id);
        if (it == keys.end())
            return false;
        tasks.erase(it->second);
        keys.erase(it);
        return true;
    }

    // Takes every task due now, in order, and resets the descriptors for what remains.
    std::vector<Task> collectDue()
    {
        std::vector<Task> batch;
        std::lock_guard lock(m);
        drain(eventFd);
        drain(timerFd);
        eventSignalled = false;
        armedFor = -1;  // the timer fired or is about to be re-armed: force a re-arm
        std::int64_t now = nowNs();
        while (!tasks.empty() && tasks.begin()->first.first <= now) {
            auto node = tasks.extract(tasks.begin());
            keys.erase(node.key().second);
            batch.push_back(std::move(node.mapped()));
        }
        updateWakeups(now);
        return batch;
    }

    int runBatch()
    {
        auto batch = collectDue();
        for (auto& task : batch) {
            task();
            tasksRun.fetch_add(1, std::memory_order_relaxed);
        }
        return int(batch.size());
    }

    // Earliest due time, or -1 when the queue is empty.
    std::int64_t earliestDue()
    {
        std::lock_guard lock(m);
        return tasks.empty() ? -1 : tasks.begin()->first.first;
    }
};

void RunLoop::Impl::beforeFork()
{
    mainImpl->m.lock();
}

void RunLoop::Impl::afterForkInParent()
{
    mainImpl->m.unlock();
}

void RunLoop::Impl::afterForkInChild()
{
    Impl* impl = mainImpl;
    new (&impl->m) std::mutex;
    for (int fd : {impl->eventFd, impl->timerFd, impl->epollFd})
        ::close(fd);
    impl->openDescriptors();
    impl->eventSignalled = false;
    impl->armedFor = 0;
    impl->updateWakeups(nowNs());
}

RunLoop::RunLoop() : impl_(new Impl) {}
RunLoop::~RunLoop() = default;  // the main run loop is never destroyed

RunLoop& RunLoop::main()
{
    static RunLoop* loop = [] {
        auto* created = new RunLoop;
        Impl::mainImpl = created->impl_;
        ::pthread_atfork(Impl::beforeFork, Impl::afterForkInParent, Impl::afterForkInChild);
        return created;
    }();
    return *loop;
}

bool RunLoop::isMainThread()
{
    static thread_local const bool isMain = ::syscall(SYS_gettid) == ::getpid();
    return isMain;
}

void RunLoop::perform(Task task)
{
    std::lock_guard lock(impl_->m);
    impl_->insert(nowNs(), std::move(task));
}

RunLoop::TimerId RunLoop::performAfter(double seconds, Task task)
{
    std::int64_t due = nowNs() + secondsToNs(seconds);
    std::lock_guard lock(impl_->m);
    return impl_->insert(due, std::move(task));
}

void RunLoop::cancel(TimerId id)
{
    std::lock_guard lock(impl_->m);
    if (impl_->remove(id))
        impl_->updateWakeups(nowNs());
}

bool RunLoop::performAndWait(Task task, double timeoutSeconds)
{
    if (isMainThread()) {
        task();
        return true;
    }
    const bool bounded = timeoutSeconds >= 0;
    const auto deadline = Clock::now() + std::chrono::nanoseconds(secondsToNs(timeoutSeconds));

    auto state = std::make_shared<WaitState>();
    Task wrapper = [state, task = std::move(task)] {
        {
            std::lock_guard lock(state->m);
            if (state->cancelled)
                return;
            state->started = true;
        }
        task();
        {
            std::lock_guard lock(state->m);
            state->done = true;
        }
        state->cv.notify_all();
    };

    TimerId id;
    {
        std::unique_lock lock(impl_->m, std::defer_lock);
        if (bounded) {
            while (!lock.try_lock()) {
                if (Clock::now() >= deadline)
                    return false;  // never queued
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        } else {
            lock.lock();
        }
        id = impl_->insert(nowNs(), std::move(wrapper));
    }

    std::unique_lock lock(state->m);
    if (bounded) {
        if (state->cv.wait_until(lock, deadline, [&] { return state->done; }))
            return true;
        if (!state->started) {
            // The flag alone guarantees the task never runs; removing it from the queue
            // only frees it early, so do that only if the lock is free right now.
            state->cancelled = true;
            lock.unlock();
            std::unique_lock queueLock(impl_->m, std::try_to_lock);
            if (queueLock.owns_lock())
                impl_->remove(id);
            return false;
        }
        // Already running: wait for it to finish, as it may use the caller's state.
    }
    state->cv.wait(lock, [&] { return state->done; });
    return true;
}

void RunLoop::runFor(double seconds)
{
    const bool forever = seconds < 0;
    const std::int64_t deadline = forever ? 0 : nowNs() + secondsToNs(seconds);
    for (;;) {
        if (impl_->stopRequested.exchange(false))
            return;
        double wait = 3600.0;
        if (!forever) {
            std::int64_t left = deadline - nowNs();
            if (left <= 0)
                return;
            wait = double(left) / 1e9;
        }
        runOnce(wait);
    }
}

int RunLoop::runOnce(double maxWaitSeconds)
{
    std::int64_t due = impl_->earliestDue();
    std::int64_t now = nowNs();
    if (due < 0 || due > now) {
        std::int64_t waitNs = secondsToNs(maxWaitSeconds);
        if (due > now && due - now < waitNs)
            waitNs = due - now;
        if (waitNs > 0) {
            // Round up so the wait does not end just before the task is due.
            int ms = int(std::min<std::int64_t>((waitNs + 999999) / 1000000, 24 * 3600 * 1000));
            pollfd pfd{impl_->epollFd, POLLIN, 0};
            while (::poll(&pfd, 1, ms) < 0 && errno == EINTR) {
            }
        }
    }
    return impl_->runBatch();
}

int RunLoop::runPending()
{
    return impl_->runBatch();
}

void RunLoop::stop()
{
    impl_->stopRequested.store(true);
    std::lock_guard lock(impl_->m);
    impl_->signalEvent();
}

int RunLoop::fileDescriptor() const
{
    return impl_->epollFd;
}

std::uint64_t RunLoop::tasksRun() const
{
    return impl_->tasksRun.load(std::memory_order_relaxed);
}

}  // namespace platform
