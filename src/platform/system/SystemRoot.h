// Where the system services read the machine's description files (/proc/device-tree,
// /sys/class, /etc, /usr/lib). Normally the real root; tests point it at a directory that
// holds a made-up tree so that each source and its fallbacks can be exercised.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Reachable from the UI library, which uses this process's one copy of the platform layer.
#pragma GCC visibility push(default)

namespace platform::sys {

// The absolute path as seen under the current root.
std::string systemPath(std::string_view absolutePath);
// Tests: read the description files under `root` instead; "" restores the real root.
// Set it before the services are used from other threads.
void setSystemRootForTesting(const std::string& root);

// Reads a whole small file (at most `limit` bytes) into `out`; false when it cannot be
// opened or read.
bool readSmallFile(const std::string& path, std::string& out, size_t limit = 4096);

// A source that tests may substitute for the real one. Readers take a plain atomic load (no
// lock, so the crash path can read it); substitutes are kept alive for the whole process,
// since a reader on another thread may still be using the previous one.
template <class T>
class Substitute {
public:
    T* get() const { return current_.load(std::memory_order_acquire); }
    void set(std::shared_ptr<T> source) {
        static std::mutex mutex;
        static auto* keep = new std::vector<std::shared_ptr<T>>();
        std::lock_guard<std::mutex> lock(mutex);
        if (source) keep->push_back(source);
        current_.store(source.get(), std::memory_order_release);
    }

private:
    std::atomic<T*> current_{nullptr};
};

}  // namespace platform::sys

#pragma GCC visibility pop
