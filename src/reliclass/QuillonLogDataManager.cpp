#include "reliclass/QuillonLogDataManager.h"

#include "platform/foundation/Logger.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {
std::atomic<QuillonLogDataManager*> gActive{nullptr};
std::once_flag gOnce;
QuillonLogDataManager* gCreated = nullptr;  // kept after release: a recorder may still use it
// Readers on the crash path wait at most this long for a recording thread.
constexpr std::chrono::milliseconds kReadWait{100};
}  // namespace

QuillonLogDataManager* QuillonLogDataManager::sharedInstance() {
    std::call_once(gOnce, [] {
        gCreated = new QuillonLogDataManager;
        gActive.store(gCreated, std::memory_order_release);
    });
    return gActive.load(std::memory_order_acquire);
}

QuillonLogDataManager* QuillonLogDataManager::activeInstance() { return gActive.load(std::memory_order_acquire); }

void QuillonLogDataManager::releaseSharedInstance() { gActive.store(nullptr, std::memory_order_release); }

QuillonLogDataManager::QuillonLogDataManager() : logDict_(platform::dict()) {
    marker_.tm = timestampNow();
    marker_.nm = "tm";
    lastTm_ = marker_.tm;
}

std::string QuillonLogDataManager::getTimestamp() const {
    double seconds = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    return platform::format("%.f", seconds * 1000000000.0);
}

// The value of getTimestamp() read back as a double and truncated, computed without the
// text round trip: "%.f" of a double that large is already its exact integer value.
std::int64_t QuillonLogDataManager::timestampNow() const {
    double seconds = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    return static_cast<std::int64_t>(std::nearbyint(seconds * 1000000000.0));
}

std::size_t QuillonLogDataManager::utf16Length(std::string_view text, std::size_t limit) {
    std::size_t units = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) == 0x80) continue;  // continuation byte
        units += c >= 0xF0 ? 2 : 1;        // four-byte sequences are surrogate pairs
        if (units >= limit) return units;
    }
    return units;
}

std::int64_t QuillonLogDataManager::cacheWithString(std::string_view text) {
    bool record = utf16Length(text, kMaxTextLength) < kMaxTextLength;
    std::int64_t now = record ? timestampNow() : 0;
    std::lock_guard<std::mutex> lock(mutex_);
    if (count_ == kMaxBreadcrumbs) {
        head_ = (head_ + 1) % kMaxBreadcrumbs;
        --count_;
    }
    if (record) {
        // The wall clock may step back; the trail's order is the recording order.
        if (now < lastTm_) now = lastTm_;
        lastTm_ = now;
        Entry& slot = ring_[(head_ + count_) % kMaxBreadcrumbs];
        slot.tm = now;
        slot.nm.assign(text.data(), text.size());
        ++count_;
    }
    return static_cast<std::int64_t>(count_ + 1);
}

bool QuillonLogDataManager::lockForReading() const {
    // Recording holds the lock for well under a microsecond; a holder that never lets go
    // (a thread that died inside it) costs a reader at most kReadWait.
    auto deadline = std::chrono::steady_clock::now() + kReadWait;
    while (!mutex_.try_lock()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

platform::Value QuillonLogDataManager::entryValue(const Entry& e) {
    platform::Value v = platform::dict();
    v["tm"] = e.tm;
    v["nm"] = e.nm;
    return v;
}

platform::Value QuillonLogDataManager::cacheLogs() const {
    platform::Value out = platform::array();
    if (!lockForReading()) return out;
    std::lock_guard<std::mutex> lock(mutex_, std::adopt_lock);
    out.push_back(entryValue(marker_));
    for (std::size_t i = 0; i < count_; ++i) out.push_back(entryValue(ring_[(head_ + i) % kMaxBreadcrumbs]));
    return out;
}

platform::Value QuillonLogDataManager::reportData() {
    if (!lockForReading()) return platform::dict();
    std::lock_guard<std::mutex> lock(mutex_, std::adopt_lock);
    logDict_[std::to_string(marker_.tm)] = marker_.nm;
    for (std::size_t i = 0; i < count_; ++i) {
        const Entry& e = ring_[(head_ + i) % kMaxBreadcrumbs];
        logDict_[std::to_string(e.tm)] = e.nm;
    }
    return logDict_;
}
