// A value that host threads set and other threads (the crash path among them) read: every
// access copies under a lock, so a reader never sees a half-written value. A reader waits
// for the lock a bounded time only (a thread that faulted while holding it cannot stall the
// crash path) and then reads the empty value.
#pragma once

#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

template <class T>
class QuillonGuardedValue {
public:
    QuillonGuardedValue() = default;
    QuillonGuardedValue(const QuillonGuardedValue&) = delete;
    QuillonGuardedValue& operator=(const QuillonGuardedValue&) = delete;

    T load() const {
        std::unique_lock lock(m_, std::try_to_lock);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        while (!lock.owns_lock()) {
            if (std::chrono::steady_clock::now() >= deadline) return T();
            std::this_thread::yield();
            lock.try_lock();
        }
        return value_;
    }
    void store(T value) {
        {
            std::lock_guard lock(m_);
            std::swap(value_, value);
        }
        // The old value is released outside the lock.
    }
    QuillonGuardedValue& operator=(T value) {
        store(std::move(value));
        return *this;
    }
    operator T() const { return load(); }
    friend bool operator==(const QuillonGuardedValue& a, const T& b) { return a.load() == b; }

private:
    mutable std::mutex m_;
    T value_{};
};
