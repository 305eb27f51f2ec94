// The crash side's property-list store: queues, limits, failure counts, the exception pool,
// and what happens to damaged or unwritable files.
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Files.h"
#include "reliclass/QuillonConfiguration.h"
#include "reliclass/QuillonDataFileManager.h"
#include "support/CrashFixtures.h"
#include "support/HostProcess.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

using platform::Value;

namespace {

Value payload(const std::string& tag) {
    Value p = platform::dict();
    p["ac"] = "submit";
    Value body = platform::dict();
    body["tag"] = tag;
    p["body"] = body;
    return p;
}

Value readRoot(const std::string& path) {
    auto text = platform::fs::readFile(path);
    EXPECT_TRUE(text.has_value());
    auto root = platform::parseXMLPropertyList(text.value_or(""));
    EXPECT_TRUE(root.has_value());
    return root.value_or(Value());
}

Value exceptionEntry(const std::string& et) {
    Value data = platform::dict();
    data["name"] = "cpp";
    data["et"] = et;
    data["ct"] = "1";
    Value post = platform::dict();
    post["data"] = data;
    Value entry = platform::dict();
    entry["ac"] = "exception";
    entry["post"] = post;
    return entry;
}

std::vector<std::string> tags(const Value& payloads) {
    std::vector<std::string> out;
    for (const auto& p : payloads) out.push_back(p["body"]["tag"].get<std::string>());
    return out;
}

}  // namespace

TEST(CrashStore, QueueNumbersEntriesNewestFirstAndRestartsWhenEmptied) {
    auto store = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath());
    ASSERT_TRUE(store.saveReportData(payload("a")));
    Value root = readRoot(store.filePath());
    EXPECT_EQ(root["cacheCount"], 1);
    ASSERT_EQ(root["datalist"].size(), 1u);
    const Value& first = root["datalist"][0];
    EXPECT_EQ(first["dataId"], "1000");
    EXPECT_EQ(first["uploadfailed"], 0);
    EXPECT_EQ(first["1000"]["body"]["tag"], "a");
    EXPECT_EQ(first.size(), 3u);

    ASSERT_TRUE(store.saveReportData(payload("b")));
    ASSERT_TRUE(store.saveReportData(payload("c")));
    root = readRoot(store.filePath());
    EXPECT_EQ(root["cacheCount"], 3);
    EXPECT_EQ(root["datalist"][0]["dataId"], "1002");
    EXPECT_EQ(tags(store.getReportData()), (std::vector<std::string>{"c", "b", "a"}));
    EXPECT_EQ(store.getCacheRecordCount(), 3);

    store.delReportSuccessData();
    EXPECT_EQ(store.getCacheRecordCount(), 0);
    EXPECT_EQ(readRoot(store.filePath())["cacheCount"], 3);  // left as it was
    ASSERT_TRUE(store.saveReportData(payload("d")));
    root = readRoot(store.filePath());
    EXPECT_EQ(root["cacheCount"], 1);
    EXPECT_EQ(root["datalist"][0]["dataId"], "1000");
}

TEST(CrashStore, LimitsEvictTheOldestAndZeroOrNegativeLimitsKeepTheNewest) {
    auto& config = QuillonConfiguration::shareConfiguration();
    auto crash = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath());
    for (int i = 0; i < 25; ++i) ASSERT_TRUE(crash.saveReportData(payload(std::to_string(i))));
    auto got = tags(crash.getReportData());
    ASSERT_EQ(got.size(), 20u);  // mc
    EXPECT_EQ(got.front(), "24");
    EXPECT_EQ(got.back(), "5");

    // Other queues use ic.
    config.ic = 3;
    auto init = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::initDataPath());
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(init.saveReportData(payload(std::to_string(i))));
    EXPECT_EQ(tags(init.getReportData()), (std::vector<std::string>{"4", "3", "2"}));

    for (std::int64_t limit : {0, -1}) {
        config.ic = limit;
        ASSERT_TRUE(init.saveReportData(payload("x")));  // must return, not loop
        ASSERT_TRUE(init.saveReportData(payload("y")));
        EXPECT_EQ(tags(init.getReportData()), (std::vector<std::string>{"y"}));
    }
    config.ic = 50;
}

TEST(CrashStore, FailedCountsChargeOnlyTheOldestAndDropAtTheRetryLimit) {
    auto& config = QuillonConfiguration::shareConfiguration();
    auto store = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath());
    EXPECT_FALSE(store.updateFailedCount());  // empty queue
    store.saveReportData(payload("old"));
    store.saveReportData(payload("new"));
    ASSERT_TRUE(store.updateFailedCount());
    Value root = readRoot(store.filePath());
    EXPECT_EQ(root["datalist"][1]["uploadfailed"], 1);
    EXPECT_EQ(root["datalist"][0]["uploadfailed"], 0);
    ASSERT_TRUE(store.updateFailedCount());  // rc = 2: dropped at the second failure
    EXPECT_EQ(tags(store.getReportData()), (std::vector<std::string>{"new"}));

    config.rc = 1;
    ASSERT_TRUE(store.updateFailedCount());
    EXPECT_EQ(store.getCacheRecordCount(), 0);
    config.rc = 2;
}

TEST(CrashStore, DeletingByIdKeepsEntriesSavedMeanwhile) {
    auto store = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath());
    store.saveReportData(payload("a"));
    store.saveReportData(payload("b"));
    std::vector<std::string> inFlight;
    for (const auto& e : store.getReportEntries()) inFlight.push_back(e["dataId"].get<std::string>());
    store.saveReportData(payload("c"));  // arrives while the batch is out
    ASSERT_TRUE(store.delReportSuccessData(inFlight));
    EXPECT_EQ(tags(store.getReportData()), (std::vector<std::string>{"c"}));
    store.deleteLastData();
    EXPECT_EQ(store.getCacheRecordCount(), 0);
}

TEST(CrashStore, ExceptionPoolCountsRepeatsAndEvictsTheOldestAtTheLimit) {
    auto pool = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::exceptionDataPath());
    ASSERT_TRUE(pool.saveException(exceptionEntry("A"), "A", 20));
    ASSERT_TRUE(pool.saveException(exceptionEntry("A"), "A", 20));
    EXPECT_TRUE(pool.isHaveException("A"));
    EXPECT_EQ(pool.getExceptionDataCount(), 2u);
    Value root = readRoot(pool.filePath());
    EXPECT_EQ(root["datalist"]["A"]["post"]["data"]["ct"], "2");
    EXPECT_EQ(root["cacheCount"], 0);

    ASSERT_TRUE(pool.saveException(exceptionEntry("B"), "B", 20));
    Value all = pool.getExceptionDatas();
    EXPECT_EQ(all.size(), 3u);  // two entries and the "eplist" array

    // Total 3 reaches a limit of 3: the oldest identifier goes before C is stored.
    ASSERT_TRUE(pool.saveException(exceptionEntry("C"), "C", 3));
    EXPECT_FALSE(pool.isHaveException("A"));
    EXPECT_TRUE(pool.isHaveException("B"));
    EXPECT_TRUE(pool.isHaveException("C"));
    root = readRoot(pool.filePath());
    EXPECT_EQ(root["datalist"]["eplist"], Value::parse(R"(["B","C"])"));

    ASSERT_TRUE(pool.deleteExceptionDatas(std::vector<std::string>{"B"}));
    EXPECT_FALSE(pool.isHaveException("B"));
    EXPECT_EQ(pool.getExceptionDataCount(), 1u);
    ASSERT_TRUE(pool.deleteExceptionDatas());
    EXPECT_EQ(pool.getExceptionDataCount(), 0u);
    EXPECT_EQ(pool.getExceptionDatas().size(), 0u);
}

TEST(CrashStore, UnreadableFileIsMovedAsideAndAFreshOneStarted) {
    auto store = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath());
    store.saveReportData(payload("lost"));
    ASSERT_TRUE(platform::fs::writeAtomically(store.filePath(), "this is not a property list"));
    ASSERT_TRUE(store.saveReportData(payload("next")));
    EXPECT_EQ(tags(store.getReportData()), (std::vector<std::string>{"next"}));
    int aside = 0;
    for (const auto& e : std::filesystem::directory_iterator(platform::fs::deletingLastPathComponent(store.filePath()))) {
        const std::string name = e.path().filename().string();
        if (name.rfind("CrashData.unreadable-", 0) == 0) {
            ++aside;
            EXPECT_EQ(platform::fs::readFile(e.path().string()), "this is not a property list");
        }
    }
    EXPECT_EQ(aside, 1);
}

TEST(CrashStore, FailedWritesAreReportedAsFailuresAndPermissionsArePrivate) {
    auto store = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath());
    ASSERT_TRUE(store.saveReportData(payload("a")));
    struct stat st {};
    ASSERT_EQ(stat(store.filePath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string dir = platform::fs::deletingLastPathComponent(store.filePath());
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A payload holding null cannot be written as a property list.
    Value bad = payload("b");
    bad["body"]["null"] = nullptr;
    EXPECT_FALSE(store.saveReportData(bad));
    EXPECT_EQ(tags(store.getReportData()), (std::vector<std::string>{"a"}));

    // A read-only directory makes the atomic replace fail (not applicable to root).
    if (geteuid() != 0) {
        chmod(dir.c_str(), 0500);
        EXPECT_FALSE(store.saveReportData(payload("c")));
        chmod(dir.c_str(), 0700);
    }
}

// Readers run meanwhile: a save may change the remembered list in place only when no reader
// holds it, and every read sees a whole list.
TEST(CrashStore, ConcurrentSaversLoseNothing) {
    auto& config = QuillonConfiguration::shareConfiguration();
    config.ic = 1000;
    const std::string path = QuillonDataFileManager::initDataPath();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, path] {
            for (int i = 0; i < 5; ++i)
                QuillonDataFileManager::fileManagerWith(path).saveReportData(payload(std::to_string(t * 100 + i)));
        });
    }
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&] {
            while (!done.load()) {
                const Value list = QuillonDataFileManager::fileManagerWith(path).getReportData();
                if (list.is_array() && list.size() > 20) ++torn;
            }
        });
    }
    for (auto& th : threads) th.join();
    done.store(true);
    for (auto& th : readers) th.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(QuillonDataFileManager::fileManagerWith(path).getCacheRecordCount(), 20);
    config.ic = 50;
}

TEST(RuntimeConfiguration, DefaultsApplySaveAndReload) {
    auto& config = QuillonConfiguration::shareConfiguration();
    EXPECT_EQ(config.ic, 50);
    EXPECT_EQ(config.po, 0);
    EXPECT_EQ(config.mc, 20);
    EXPECT_EQ(config.ep, 20);
    EXPECT_EQ(config.cv, 0);
    EXPECT_EQ(config.up, 1);
    EXPECT_EQ(config.rc, 2);
    EXPECT_EQ(config.to, 3);
    EXPECT_EQ(config.configRequestTime, 0.0);

    // Null values, unknown keys and fixed limits change nothing; numeric strings count.
    config.updateConfigurationWithDic(Value::parse(R"({"up": null, "ic": 1, "mc": 1, "po": 1, "ep": 1, "rc": "5"})"));
    EXPECT_EQ(config.up, 1);
    EXPECT_EQ(config.ic, 50);
    EXPECT_EQ(config.mc, 20);
    EXPECT_EQ(config.po, 0);
    EXPECT_EQ(config.ep, 20);
    EXPECT_EQ(config.rc, 5);

    config.updateConfigurationWithDic(Value::parse(R"({"up": -1, "crt": 1700000000, "to": "abc"})"));
    EXPECT_EQ(config.up, -1);
    EXPECT_EQ(config.to, 0);  // non-numeric text reads as 0
    Value file = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::configurationPath()).getConfiguration();
    EXPECT_EQ(file["up"], "-1");
    EXPECT_EQ(file["rc"], "5");
    EXPECT_EQ(file["crt"], "1700000000");
    EXPECT_EQ(file.size(), 5u);

    // A fractional "crt" in the file reads back as its whole part.
    Value saved = file;
    saved["crt"] = "1700000000.75";
    QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::configurationPath()).saveConfiguration(saved);
    config.configRequestTime = 0;
    config.updateConfiguration();
    EXPECT_EQ(config.configRequestTime, 1700000000.0);
    EXPECT_EQ(config.up, -1);

    // nil: nothing applied, nothing saved.
    config.updateConfigurationWithDic(Value());
    EXPECT_EQ(config.up, -1);
}

// The store keeps what it last read or wrote, and must still see every change made behind
// its back: a replacement by another writer, an in-place rewrite, a removal.
TEST(CrashStore, ChangesByOtherWritersAreSeenAfterAnyRead) {
    auto store = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath());
    auto other = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::initDataPath());
    ASSERT_TRUE(store.saveReportData(payload("mine")));
    ASSERT_TRUE(other.saveReportData(payload("theirs")));
    ASSERT_EQ(tags(store.getReportData()), (std::vector<std::string>{"mine"}));

    // Replaced by a new file (what every writer does).
    ASSERT_TRUE(platform::fs::writeAtomically(store.filePath(), *platform::fs::readFile(other.filePath())));
    EXPECT_EQ(tags(store.getReportData()), (std::vector<std::string>{"theirs"}));
    ASSERT_TRUE(store.saveReportData(payload("next")));
    EXPECT_EQ(tags(store.getReportData()), (std::vector<std::string>{"next", "theirs"}));

    // Rewritten in place, same file.
    Value root = readRoot(other.filePath());
    root["datalist"][0]["1000"]["body"]["tag"] = "rewritten in place";
    {
        std::ofstream out(store.filePath(), std::ios::trunc);
        out << *platform::toXMLPropertyList(root);
    }
    EXPECT_EQ(tags(store.getReportData()), (std::vector<std::string>{"rewritten in place"}));

    // Removed: the next operation starts a fresh list.
    ASSERT_TRUE(platform::fs::removeFile(store.filePath()));
    EXPECT_EQ(store.getCacheRecordCount(), 0);
}

TEST(CrashStore, AMissingFileIsCreatedUnderTheLockSoNoFirstSaveIsLost) {
    // The child saves into this test's sandbox.
    const std::string bundle = testenv::makeTempDir("store-bundle");
    testenv::writeInfoPlist(bundle, "org.example.store-race", "127.0.0.1:1");
    platform::Bundle::main().reloadFrom(bundle);
    const std::string path = QuillonDataFileManager::initDataPath();
    const std::string dir = platform::fs::deletingLastPathComponent(path);
    ASSERT_TRUE(platform::fs::createDirectories(dir, 0700));
    ASSERT_FALSE(platform::fs::fileExists(path));

    // While another user holds the store's lock, first users (two threads here, two in a
    // child process) wait for it rather than create the file behind its back.
    const int lockFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(lockFd, LOCK_EX), 0);
    std::vector<std::thread> savers;
    for (int t = 0; t < 2; ++t)
        savers.emplace_back([path, t] {
            QuillonDataFileManager::fileManagerWith(path).saveReportData(payload("thread-" + std::to_string(t)));
        });
    testenv::HostProcess child({testenv::executableDirectory() + "/crash_child", bundle, "offline", "store-save"},
                               testenv::makeTempDir("store-child"));
    EXPECT_FALSE(testenv::waitUntil([&] { return platform::fs::fileExists(path); }, 0.5));
    // The lock holder is a first user too: it creates the file and saves into it.
    Value root = platform::dict();
    root["cacheCount"] = 1;
    root["datalist"] = platform::array();
    root["datalist"].push_back({{"1000", payload("holder")}, {"uploadfailed", 0}, {"dataId", "1000"}});
    ASSERT_TRUE(platform::fs::writeAtomically(path, *platform::toXMLPropertyList(root), 0600));
    ::close(lockFd);

    for (auto& t : savers) t.join();
    EXPECT_EQ(child.wait(30).exitCode(), 0);
    std::vector<std::string> got;
    for (const auto& p : QuillonDataFileManager::fileManagerWith(path).getReportData())
        got.push_back(p["body"]["tag"]);
    EXPECT_THAT(got, ::testing::UnorderedElementsAre("holder", "thread-0", "thread-1", "child-1", "child-2"));
}
