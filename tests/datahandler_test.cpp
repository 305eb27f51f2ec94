// Submission and the one-report cache against the reference collector: each state of the
// cache, the Wi-Fi-only rule, and which send may empty the cache.
#include "Wren/WrenDataHandler.h"
#include "Wren/WrenPreferences.h"
#include "Wren/WrenReportData.h"
#include "platform/foundation/Files.h"
#include "support/Collector.h"
#include "support/FeedbackEnv.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using platform::Value;

namespace {

class DataHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        collector_ = std::make_unique<testenv::Collector>();
        testenv::useBundle(Value{{"WrenFeedbackHost", collector_->host()}, {"WrenFileStoreHost", collector_->host()}});
        testenv::useModem("262", "01", "CTRadioAccessTechnologyLTE");
        link_ = testenv::useLink(testenv::Link::WiFi);
        auto& p = WrenPreferences::sharedInstance();
        p.setAppKey("fb-key");
        p.setFeedbackType(0);
        p.setReportOnlyWIFI(true);
    }
    void TearDown() override {
        platform::setReachabilitySource(nullptr);
        platform::telephony::setTelephonySourceForTesting(nullptr);
    }

    static Value report(const std::string& comment, bool withImage = true) {
        Value r = platform::dict();
        if (withImage) r["modifiedImageData"] = platform::bytesValue(platform::Bytes(64, 0xab));
        r["commentText"] = comment;
        r["contactText"] = "c@" + comment;
        r["operation"] = Value::array({"tap " + comment});
        r["userData"] = Value::array({Value{{"who", comment}}});
        return r;
    }
    static Value device(const std::string& und) { return Value{{"und", und}, {"sysname", 1}}; }

    // Runs one submission (or the start-up send) and waits until it is over.
    static bool run(WrenDataHandler& h, const std::function<void()>& start) {
        auto done = std::make_shared<std::promise<bool>>();
        h.setFinishedHandler([done](bool sent) { done->set_value(sent); });
        start();
        auto f = done->get_future();
        EXPECT_EQ(f.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        h.setFinishedHandler(nullptr);
        return f.get();
    }
    static bool submit(WrenDataHandler& h, const Value& r, const Value& d) {
        return run(h, [&] { h.reportData(r, d); });
    }
    static std::optional<WrenReportData> onDisk() { return WrenReportData::unarchiveObjectWithFile(wrenReportDataPath()); }

    // Uploads the file store accepted (it keeps refused ones too).
    size_t storedFiles() {
        size_t n = 0;
        for (const auto& f : collector_->files()) n += f["answer"] == "ok";
        return n;
    }
    void answers(const std::string& fs, const std::string& pre) {
        collector_->setPolicy(Value{{"endpoints", {{"fs", {{"mode", fs}}}, {"pre", {{"mode", pre}}}}}});
    }

    std::unique_ptr<testenv::Collector> collector_;
    std::shared_ptr<testenv::LinkFlags> link_;
};

TEST_F(DataHandlerTest, CacheMovesThroughItsStatesAndEmptiesOnTheNextStart) {
    std::string storedKey;
    {
        WrenDataHandler h(WrenPreferences::sharedInstance());
        h.checkAndUploadCacheData();  // nothing cached yet

        // No network: cached with the image bytes, nothing sent.
        testenv::useLink(testenv::Link::None);
        EXPECT_FALSE(submit(h, report("one"), device("d1")));
        auto c = onDisk();
        ASSERT_TRUE(c);
        EXPECT_TRUE(c->haveData);
        EXPECT_EQ(c->commentText, "one");
        EXPECT_EQ(c->modifiedImageData, platform::Bytes(64, 0xab));
        EXPECT_FALSE(c->modifiedImageKey.has_value());

        // Failed upload: the second report replaces the first, still without a key.
        testenv::useLink(testenv::Link::WiFi);
        answers("http500", "ok");
        EXPECT_FALSE(submit(h, report("two"), device("d2")));
        c = onDisk();
        EXPECT_EQ(c->commentText, "two");
        EXPECT_EQ(c->contactText, "c@two");
        EXPECT_EQ(c->deviceInfo, device("d2"));
        EXPECT_FALSE(c->modifiedImageKey.has_value());

        // Stored image, failed post: cached with the file's URL.
        answers("ok", "http500");
        EXPECT_FALSE(submit(h, report("three"), device("d3")));
        c = onDisk();
        ASSERT_TRUE(c->modifiedImageKey.has_value());
        EXPECT_EQ(storedFiles(), 1u);
        EXPECT_EQ(c->commentText, "three");

        // An answer without "code" is no success either.
        answers("ok", "nocode");
        EXPECT_FALSE(submit(h, report("four"), device("d4")));
        EXPECT_EQ(onDisk()->commentText, "four");
        EXPECT_EQ(storedFiles(), 2u);
        storedKey = onDisk()->modifiedImageKey.value_or("");
    }
    struct stat st;
    ASSERT_EQ(stat(wrenReportDataPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Next start: the cached report goes out without uploading its image again.
    collector_->reset();
    answers("ok", "ok");
    WrenPreferences::sharedInstance().setFeedbackType(2);
    WrenDataHandler next(WrenPreferences::sharedInstance());
    EXPECT_TRUE(run(next, [&] { next.checkAndUploadCacheData(); }));
    EXPECT_EQ(storedFiles(), 0u);
    const Value fb = collector_->feedback();
    ASSERT_EQ(fb.size(), 1u);
    const Value& body = fb[0]["body"];
    EXPECT_EQ(body["appkey"], "fb-key");
    EXPECT_EQ(body["operatetrace"], Value::array());
    EXPECT_EQ(body["device"], device("d4"));
    const Value& data = body["messages"][0]["data"];
    EXPECT_EQ(data["type"], "FEEDBACK");
    EXPECT_EQ(data["message"], "four");
    EXPECT_EQ(data["contact"], "c@four");
    ASSERT_EQ(data["keys"]["modified"].size(), 1u);
    EXPECT_EQ(data["keys"]["modified"][0], storedKey);
    auto c = onDisk();
    EXPECT_FALSE(c->haveData);
    EXPECT_FALSE(c->commentText.has_value());
    EXPECT_FALSE(c->modifiedImageKey.has_value());
}

TEST_F(DataHandlerTest, WifiOnlyRuleAgainstACellularLink) {
    testenv::useLink(testenv::Link::Cellular);
    WrenDataHandler h(WrenPreferences::sharedInstance());
    EXPECT_FALSE(submit(h, report("cell"), device("d")));
    EXPECT_EQ(storedFiles(), 0u);
    EXPECT_TRUE(collector_->feedback().empty());
    EXPECT_TRUE(onDisk()->haveData);

    WrenPreferences::sharedInstance().setReportOnlyWIFI(false);
    EXPECT_TRUE(submit(h, report("cell2"), device("d")));
    const Value fb = collector_->feedback();
    ASSERT_EQ(fb.size(), 1u);
    EXPECT_EQ(fb[0]["body"]["messages"][0]["data"]["message"], "cell2");
    EXPECT_EQ(fb[0]["body"]["operatetrace"], Value::array({"tap cell2"}));
    EXPECT_EQ(fb[0]["body"]["user_data"], (Value{{"who", "cell2"}}));
    EXPECT_EQ(storedFiles(), 1u);
    // Another report went out; the cached one still waits.
    EXPECT_EQ(onDisk()->commentText, "cell");
    EXPECT_TRUE(onDisk()->haveData);
}

TEST_F(DataHandlerTest, OnlyTheCachedReportsOwnSendEmptiesTheCache) {
    testenv::useLink(testenv::Link::None);
    {
        WrenDataHandler first(WrenPreferences::sharedInstance());
        EXPECT_FALSE(submit(first, report("cached"), device("a")));
    }
    testenv::useLink(testenv::Link::WiFi);
    WrenDataHandler h(WrenPreferences::sharedInstance());
    EXPECT_TRUE(submit(h, report("fresh"), device("b")));
    EXPECT_TRUE(onDisk()->haveData);
    EXPECT_EQ(onDisk()->commentText, "cached");

    // The cached report (image pending) is uploaded with its image and then cleared.
    EXPECT_TRUE(run(h, [&] { h.checkAndUploadCacheData(); }));
    EXPECT_FALSE(onDisk()->haveData);
    EXPECT_EQ(storedFiles(), 2u);
    const Value fb = collector_->feedback();
    ASSERT_EQ(fb.size(), 2u);
    EXPECT_EQ(fb[1]["body"]["messages"][0]["data"]["message"], "cached");
    EXPECT_EQ(fb[1]["body"]["user_data"], Value::object());
}

TEST_F(DataHandlerTest, ReportBeforeTheStartUpLoadIsCachedNotLost) {
    // No start-up load has run in this handler; the failure still lands in the cache.
    WrenDataHandler h(WrenPreferences::sharedInstance());
    EXPECT_FALSE(h.reportData().has_value());
    testenv::useLink(testenv::Link::None);
    EXPECT_FALSE(submit(h, report("early"), device("e")));
    ASSERT_TRUE(onDisk());
    EXPECT_EQ(onDisk()->commentText, "early");
    EXPECT_TRUE(h.reportData().has_value());
}

TEST_F(DataHandlerTest, MessageWithoutImageStillGoesThroughTheUpload) {
    Value r{{"commentText", "api message"}};
    WrenDataHandler h(WrenPreferences::sharedInstance());
    WrenPreferences::sharedInstance().setFeedbackType(4);
    EXPECT_TRUE(submit(h, r, device("m")));
    const Value files = collector_->files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0]["size"], 0);
    const Value data = collector_->feedback()[0]["body"]["messages"][0]["data"];
    EXPECT_EQ(data["type"], "OTHER");
    EXPECT_FALSE(data.contains("contact"));

    answers("http500", "ok");
    EXPECT_FALSE(submit(h, r, device("m")));
    EXPECT_EQ(onDisk()->commentText, "api message");
    EXPECT_EQ(onDisk()->modifiedImageData, platform::Bytes());
}

TEST_F(DataHandlerTest, OverlappingFailuresLeaveOneWholeReport) {
    // Posts fail on the callback queue while the caller submits again: the cache ends up
    // holding one of the reports, never a mix of two.
    answers("ok", "http500");
    WrenDataHandler h(WrenPreferences::sharedInstance());
    auto left = std::make_shared<std::atomic<int>>(8);
    auto all = std::make_shared<std::promise<void>>();
    h.setFinishedHandler([left, all](bool) {
        if (--*left == 0) all->set_value();
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&h, t] {
            for (int i = 0; i < 4; ++i) h.reportData(report("r" + std::to_string(t * 10 + i)), device(std::to_string(t * 10 + i)));
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_EQ(all->get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
    h.setFinishedHandler(nullptr);
    const auto c = onDisk();
    ASSERT_TRUE(c && c->haveData && c->commentText);
    const std::string n = c->commentText->substr(1);
    EXPECT_EQ(c->contactText, "c@r" + n);
    EXPECT_EQ(c->deviceInfo, device(n));
    EXPECT_TRUE(c->modifiedImageKey.has_value());
}

}  // namespace
