// The breadcrumb trail: a marker entry for the start of the run followed by the newest 100
// developer-supplied text lines, kept in memory only, for the crash report.
//
// Entries are dictionaries { "tm": nanoseconds since 1970 (integer), "nm": text }. Recording
// is safe from any thread; timestamps never decrease along the trail.
#pragma once

#include "platform/foundation/Value.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

class QuillonLogDataManager {
public:
    static constexpr std::size_t kMaxBreadcrumbs = 100;
    static constexpr std::size_t kMaxTextLength = 200;  // UTF-16 units; this long or longer is dropped

    // Created once; nullptr after releaseSharedInstance (no new store is made then).
    static QuillonLogDataManager* sharedInstance();
    // The store when it exists, nullptr otherwise; never creates it.
    static QuillonLogDataManager* activeInstance();
    // Makes the store unreachable. Its memory is kept, as another thread may still be
    // recording into it.
    static void releaseSharedInstance();

    // Drops the oldest breadcrumb when the trail is full, then records `text` when it is
    // shorter than 200 UTF-16 units. Returns the number of entries, marker included.
    std::int64_t cacheWithString(std::string_view text);
    // A copy of the trail, oldest first, the marker at index 0.
    platform::Value cacheLogs() const;
    // Every entry of the trail added to the collected dictionary (timestamp text -> text;
    // equal timestamps collapse), which is returned. Entries stay collected after pruning.
    platform::Value reportData();
    // The trail is never persisted.
    bool cacheToFile() const { return false; }

    // Number of UTF-16 units of UTF-8 text, counted up to `limit` at most.
    static std::size_t utf16Length(std::string_view text, std::size_t limit);

private:
    QuillonLogDataManager();
    std::string getTimestamp() const;
    std::int64_t timestampNow() const;

    struct Entry {
        std::int64_t tm = 0;
        std::string nm;
    };
    static platform::Value entryValue(const Entry& e);

    // Readers (the crash path among them) wait for it at most a bounded time.
    bool lockForReading() const;

    mutable std::mutex mutex_;
    Entry marker_;
    // Breadcrumbs in a ring: the oldest at head_, count_ of them. Slots keep their string
    // capacity, so a full trail records without allocating.
    std::array<Entry, kMaxBreadcrumbs> ring_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    std::int64_t lastTm_ = 0;
    platform::Value logDict_;
};
