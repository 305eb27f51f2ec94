// Dispatch queues on plain threads. The global queue's pool and each serial queue's worker
// start on first use and are detached: they are never joined, and their state lives on the
// heap so that nothing they touch is destroyed while the process exits. A worker left without
// work for kIdleExit ends (a host that is not using the library keeps none of its
// threads); the next task starts one again.
//
// fork(): the child has none of the workers. Every work list is locked across the fork, and
// in the child its lock and condition are made afresh, the tasks queued by the parent are
// left to the parent (they are not run twice), and workers start again on the next task.
#include "platform/runtime/DispatchQueue.h"

#include <pthread.h>
#include <sys/mman.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

namespace platform {

namespace {

constexpr std::size_t kAltStackSize = 64 * 1024;
constexpr int kGlobalWorkers = 4;
constexpr auto kIdleExit = std::chrono::milliseconds(500);

// Alternate signal stacks of threads that ended, for the next thread to take. Never
// destroyed: detached threads may end while the process exits.
struct SpareStacks {
    std::mutex m;
    std::vector<void*> stacks;
};

SpareStacks& spareStacks()
{
    static SpareStacks* spare = new SpareStacks;
    return *spare;
}
thread_local void* ownAltStack = nullptr;
thread_local bool altStackChecked = false;

// The queue whose worker is the current thread (to run sync() from that queue inline
// instead of waiting for itself).
thread_local const void* currentQueue = nullptr;

// A FIFO of tasks served by `workers` threads. Shared with the worker threads, which keep it
// alive after its queue object is gone until they have run what was queued.
struct Worklist {
    std::mutex m;
    std::condition_variable cv;
    std::deque<DispatchQueue::Task> tasks;
    bool closed = false;  // no more tasks will come: workers exit when the list is empty
    int maxWorkers = 1;
    int started = 0;
    int starting = 0;      // started, not yet waiting or running: each will take a task
    std::size_t idle = 0;  // workers waiting for a task
};

// Every live work list, for the fork handlers.
struct ForkRegistry {
    std::mutex m;
    std::vector<std::weak_ptr<Worklist>> lists;
    std::vector<std::shared_ptr<Worklist>> locked;  // held from prepare to parent/child
};

ForkRegistry& forkRegistry()
{
    static ForkRegistry* registry = new ForkRegistry;
    return *registry;
}

void beforeFork()
{
    ForkRegistry& r = forkRegistry();
    r.m.lock();
    for (auto& weak : r.lists) {
        if (auto list = weak.lock()) {
            list->m.lock();
            r.locked.push_back(std::move(list));
        }
    }
}

void afterForkInParent()
{
    ForkRegistry& r = forkRegistry();
    for (auto& list : r.locked)
        list->m.unlock();
    r.locked.clear();
    r.m.unlock();
}

void afterForkInChild()
{
    ForkRegistry& r = forkRegistry();
    for (auto& list : r.locked) {
        // Waiters of the parent's threads may be recorded in them: start both afresh.
        new (&list->m) std::mutex;
        new (&list->cv) std::condition_variable;
        // The parent runs what it queued; the child keeps no copy to run again (leaked, as
        // their destructors may expect the parent's threads).
        new std::deque<DispatchQueue::Task>(std::move(list->tasks));
        list->tasks.clear();
        list->started = 0;
        list->starting = 0;
        list->idle = 0;
    }
    r.locked.clear();
    new (&r.m) std::mutex;
}

void registerForFork(const std::shared_ptr<Worklist>& list)
{
    static const bool installed = [] { return ::pthread_atfork(beforeFork, afterForkInParent, afterForkInChild) == 0; }();
    (void)installed;
    ForkRegistry& r = forkRegistry();
    std::lock_guard lock(r.m);
    std::erase_if(r.lists, [](const std::weak_ptr<Worklist>& w) { return w.expired(); });
    r.lists.push_back(list);
}

void workerLoop(std::shared_ptr<Worklist> list, const void* owner);

// Whether one more worker is wanted: tasks wait that no idle or starting worker will take,
// and the pool is not full. Called with the list locked; counts the worker as started.
bool wantsWorker(Worklist& list)
{
    if (list.started >= list.maxWorkers || list.tasks.size() <= list.idle + static_cast<std::size_t>(list.starting))
        return false;
    ++list.started;
    ++list.starting;
    return true;
}

void startWorker(const std::shared_ptr<Worklist>& list, const void* owner)
{
    try {
        std::thread(workerLoop, list, owner).detach();
    } catch (...) {
        std::lock_guard lock(list->m);
        --list->started;
        --list->starting;
        throw;
    }
}

// A worker that finds more tasks waiting starts the next one itself, so that a burst of
// tasks costs the thread that queued them one thread creation at most (a caller starts a
// worker only while none is starting).
void workerLoop(std::shared_ptr<Worklist> list, const void* owner)
{
    ensureAlternateSignalStack();
    currentQueue = owner;
    bool first = true;
    for (;;) {
        DispatchQueue::Task task;
        bool another = false;
        {
            std::unique_lock lock(list->m);
            if (first) {
                --list->starting;
                first = false;
            }
            ++list->idle;
            const bool woken = list->cv.wait_for(lock, kIdleExit,
                                                 [&] { return !list->tasks.empty() || list->closed; });
            --list->idle;
            if (list->tasks.empty()) {
                // Closed, or idle for long enough: the next task starts a worker again.
                if (!woken)
                    --list->started;
                lock.unlock();
                releaseAlternateSignalStack();
                return;
            }
            task = std::move(list->tasks.front());
            list->tasks.pop_front();
            another = wantsWorker(*list);
        }
        if (another) {
            try {
                startWorker(list, owner);
            } catch (...) {
                // The workers running take the tasks in turn.
            }
        }
        task();
    }
}

class ThreadQueue final : public DispatchQueue {
public:
    ThreadQueue(std::string label, int workers)
        : label_(std::move(label)), list_(std::make_shared<Worklist>())
    {
        list_->maxWorkers = workers;
        registerForFork(list_);
    }

    ~ThreadQueue() override
    {
        {
            std::lock_guard lock(list_->m);
            list_->closed = true;
        }
        list_->cv.notify_all();
    }

    void async(Task task) override
    {
        bool start = false;
        {
            std::lock_guard lock(list_->m);
            list_->tasks.push_back(std::move(task));
            // While a worker is starting, it starts the next one if more are wanted.
            start = list_->starting == 0 && wantsWorker(*list_);
        }
        list_->cv.notify_one();
        if (start)
            startWorker(list_, this);
    }

    void sync(Task task) override
    {
        if (currentQueue == this) {
            task();  // waiting for ourselves would never end
            return;
        }
        struct Done {
            std::mutex m;
            std::condition_variable cv;
            bool done = false;
        };
        auto done = std::make_shared<Done>();
        async([done, &task] {
            task();
            {
                std::lock_guard lock(done->m);
                done->done = true;
            }
            done->cv.notify_all();
        });
        std::unique_lock lock(done->m);
        done->cv.wait(lock, [&] { return done->done; });
    }

    const std::string& label() const override { return label_; }

private:
    std::string label_;
    std::shared_ptr<Worklist> list_;
};

}  // namespace

DispatchQueue& DispatchQueue::global()
{
    static DispatchQueue* queue = new ThreadQueue("com.apple.root.default-qos", kGlobalWorkers);
    return *queue;
}

std::shared_ptr<DispatchQueue> DispatchQueue::serial(std::string label)
{
    return std::make_shared<ThreadQueue>(std::move(label), 1);
}

void ensureAlternateSignalStack()
{
    if (altStackChecked)
        return;
    altStackChecked = true;
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) &&
        current.ss_size >= kAltStackSize)
        return;  // the thread has a big enough one already
    // Mapped rather than taken from the heap so that a runtime that unmaps the alternate
    // stack of an exiting thread (the address sanitizer does) releases it correctly.
    // It is never released by us: a signal may arrive while the thread is ending.
    void* mem = nullptr;
    {
        SpareStacks& spare = spareStacks();
        std::lock_guard lock(spare.m);
        if (!spare.stacks.empty()) {
            mem = spare.stacks.back();
            spare.stacks.pop_back();
        }
    }
    if (!mem)
        mem = ::mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (mem == MAP_FAILED)
        return;
    stack_t stack{};
    stack.ss_sp = mem;
    stack.ss_size = kAltStackSize;
    stack.ss_flags = 0;
    if (::sigaltstack(&stack, nullptr) != 0)
        ::munmap(mem, kAltStackSize);
    else
        ownAltStack = mem;
}

void releaseAlternateSignalStack()
{
    altStackChecked = false;
    if (!ownAltStack)
        return;
    stack_t current{};
    // Only the stack given above, and not while a handler runs on it.
    if (::sigaltstack(nullptr, &current) != 0 || current.ss_sp != ownAltStack || (current.ss_flags & SS_ONSTACK))
        return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    if (::sigaltstack(&off, nullptr) != 0)
        return;
    SpareStacks& spare = spareStacks();
    std::lock_guard lock(spare.m);
    spare.stacks.push_back(ownAltStack);
    ownAltStack = nullptr;
}

}  // namespace platform
