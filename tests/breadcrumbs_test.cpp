// The breadcrumb trail: marker, limits, pruning order, timestamps and concurrent recording.
#include "reliclass/QuillonLogDataManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {
std::int64_t nowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}
std::string repeat(const std::string& unit, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += unit;
    return s;
}
}  // namespace

TEST(Breadcrumbs, StoreStartsWithTheRunMarkerAndIsReleasedForGood) {
    EXPECT_EQ(QuillonLogDataManager::activeInstance(), nullptr);
    std::int64_t before = nowNanos();
    QuillonLogDataManager* store = QuillonLogDataManager::sharedInstance();
    std::int64_t after = nowNanos();
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(QuillonLogDataManager::activeInstance(), store);
    EXPECT_EQ(QuillonLogDataManager::sharedInstance(), store);

    platform::Value trail = store->cacheLogs();
    ASSERT_EQ(trail.size(), 1u);
    EXPECT_EQ(trail[0]["nm"], "tm");
    ASSERT_TRUE(trail[0]["tm"].is_number_integer());
    EXPECT_GE(trail[0]["tm"].get<std::int64_t>(), before - 1000);
    EXPECT_LE(trail[0]["tm"].get<std::int64_t>(), after + 1000);
    EXPECT_FALSE(store->cacheToFile());

    QuillonLogDataManager::releaseSharedInstance();
    EXPECT_EQ(QuillonLogDataManager::activeInstance(), nullptr);
    EXPECT_EQ(QuillonLogDataManager::sharedInstance(), nullptr);
}

TEST(Breadcrumbs, KeepsTheMarkerAndTheNewestHundred) {
    QuillonLogDataManager* store = QuillonLogDataManager::sharedInstance();
    for (int i = 0; i < 150; ++i) {
        std::int64_t count = store->cacheWithString("crumb " + std::to_string(i));
        EXPECT_EQ(count, std::min(i + 2, 101));
    }
    platform::Value trail = store->cacheLogs();
    ASSERT_EQ(trail.size(), 101u);
    EXPECT_EQ(trail[0]["nm"], "tm");
    for (int i = 1; i <= 100; ++i) EXPECT_EQ(trail[i]["nm"], "crumb " + std::to_string(i + 49));
    std::int64_t previous = 0;
    for (const auto& entry : trail) {
        EXPECT_GE(entry["tm"].get<std::int64_t>(), previous);
        previous = entry["tm"].get<std::int64_t>();
    }
}

TEST(Breadcrumbs, LengthLimitCountsUtf16UnitsAndPrunesFirst) {
    QuillonLogDataManager* store = QuillonLogDataManager::sharedInstance();
    EXPECT_EQ(store->cacheWithString(std::string(199, 'a')), 2);
    EXPECT_EQ(store->cacheWithString(std::string(200, 'a')), 2);
    EXPECT_EQ(store->cacheWithString(repeat("\xC3\xA9", 199)), 3);                 // é: one unit each
    EXPECT_EQ(store->cacheWithString(repeat("\xF0\x9F\x98\x80", 100)), 3);         // 😀: two units each
    EXPECT_EQ(store->cacheWithString(repeat("\xF0\x9F\x98\x80", 99) + "x"), 4);    // 199 units
    EXPECT_EQ(store->cacheWithString(""), 5);                                      // empty text is recorded

    for (int i = 0; i < 200; ++i) store->cacheWithString(std::to_string(i));
    ASSERT_EQ(store->cacheLogs().size(), 101u);
    // An over-long text into a full trail still removes the oldest breadcrumb.
    EXPECT_EQ(store->cacheWithString(std::string(300, 'z')), 100);
    platform::Value trail = store->cacheLogs();
    ASSERT_EQ(trail.size(), 100u);
    EXPECT_EQ(trail[1]["nm"], "101");
    EXPECT_EQ(trail[99]["nm"], "199");
}

TEST(Breadcrumbs, ReportDataCollectsEntriesByTimestamp) {
    QuillonLogDataManager* store = QuillonLogDataManager::sharedInstance();
    store->cacheWithString("first");
    platform::Value first = store->reportData();
    for (int i = 0; i < 120; ++i) store->cacheWithString("later");
    platform::Value data = store->reportData();
    platform::Value trail = store->cacheLogs();
    for (const auto& entry : trail) {
        std::string key = std::to_string(entry["tm"].get<std::int64_t>());
        ASSERT_TRUE(data.contains(key)) << key;
    }
    // Pruned entries stay collected; entries sharing a timestamp are one key.
    for (const auto& [key, value] : first.items()) EXPECT_EQ(data[key], value);
    EXPECT_LE(data.size(), 122u);
    EXPECT_GE(data.size(), first.size());
}

TEST(Breadcrumbs, ConcurrentRecordingKeepsEveryThreadsOrder) {
    QuillonLogDataManager* store = QuillonLogDataManager::sharedInstance();
    constexpr int kThreads = 4, kEach = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([store, t] {
            for (int i = 0; i < kEach; ++i) {
                std::int64_t n = store->cacheWithString("t" + std::to_string(t) + " " + std::to_string(i) +
                                                        std::string(static_cast<size_t>(i % 40), '.'));
                ASSERT_GE(n, 2);
                ASSERT_LE(n, 101);
            }
        });
    }
    threads.emplace_back([store] {
        for (int i = 0; i < 200; ++i) {
            platform::Value trail = store->cacheLogs();
            ASSERT_GE(trail.size(), 1u);
            ASSERT_LE(trail.size(), 101u);
            store->reportData();
        }
    });
    for (auto& th : threads) th.join();

    platform::Value trail = store->cacheLogs();
    ASSERT_EQ(trail.size(), 101u);
    std::vector<int> last(kThreads, -1);
    std::int64_t previous = 0;
    for (size_t i = 1; i < trail.size(); ++i) {
        std::string nm = trail[i]["nm"];
        int t = nm[1] - '0';
        int seq = std::stoi(nm.substr(3));
        EXPECT_GT(seq, last[t]) << nm;  // each thread's breadcrumbs in its own order
        last[t] = seq;
        EXPECT_GE(trail[i]["tm"].get<std::int64_t>(), previous);
        previous = trail[i]["tm"].get<std::int64_t>();
    }
    // The newest breadcrumb of the last thread to finish is in the trail.
    bool sawFinal = false;
    for (int t = 0; t < kThreads; ++t) sawFinal = sawFinal || last[t] == kEach - 1;
    EXPECT_TRUE(sawFinal);
}
