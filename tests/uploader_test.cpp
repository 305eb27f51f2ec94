// The uploader end to end against the reference collector on loopback: asynchronous and
// synchronous sends, and queue flushes under each answer the collector can give.
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Files.h"
#include "platform/net/Reachability.h"
#include "platform/net/URLSession.h"
#include "reliclass/QuillonConfiguration.h"
#include "reliclass/QuillonDataFileManager.h"
#include "reliclass/QuillonNetworkBuilder.h"
#include "reliclass/QuillonReportDataManager.h"
#include "reliclass/QuillonReportDataUnit.h"
#include "support/Collector.h"
#include "support/FixedReachability.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

using platform::Value;

namespace {

using FixedFlags = testenv::FixedReachability;

class UploaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        collector_ = std::make_unique<testenv::Collector>();
        // Point the deployment settings at this collector through the bundle's Info.plist.
        const std::string dir = testenv::makeTempDir("bundle");
        Value info = platform::dict();
        info["CFBundleIdentifier"] = "org.example.uploader";
        info["QuillonCrashHost"] = collector_->host();
        info["QuillonConfigHost"] = collector_->host();
        ASSERT_TRUE(platform::fs::writeAtomically(dir + "/Info.plist", *platform::toXMLPropertyList(info)));
        platform::Bundle::main().reloadFrom(dir);
        platform::setReachabilitySource(std::make_shared<FixedFlags>(platform::kReachabilityReachable));
        QuillonReportDataUnit::shareStance().appKey = "uploader-key";
        // As after a launch's first request: the crash-time send never loads the HTTP library.
        ASSERT_TRUE(platform::URLSession::loadTransport());
    }
    void TearDown() override { platform::setReachabilitySource(nullptr); }

    static Value crashPayload(const std::string& name) {
        return Value::parse(R"({"ac":"submit","body":{"data":{"name":")" + name +
                            R"(","et":"reason\n0   app  0x1 0x1 main + 1","ty":"2"}}})");
    }
    // Flushes and waits for the answer to be handled.
    static void flush(const std::string& path) {
        std::promise<void> done;
        QuillonReportDataManager::defaultManager().reportCacheData(path, [&] { done.set_value(); });
        ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    }

    std::unique_ptr<testenv::Collector> collector_;
};

}  // namespace

TEST_F(UploaderTest, AsyncSendDeliversTheBodyAndHandsBackResponseDataAndError) {
    auto request = QuillonNetworkBuilder::defaultBuilder().buildRequestWithReprotAction("register");
    request.body = platform::toJSON(Value::parse(R"({"und":"X","sv":"2.1.3"})"), true);
    std::promise<std::tuple<long, std::string, bool>> result;
    QuillonReportDataManager::defaultManager().reportData(
        request, [&](const auto& response, const auto& data, const auto& error) {
            result.set_value({response ? response->statusCode : 0, data.value_or(""), error.has_value()});
        });
    auto [status, data, failed] = result.get_future().get();
    EXPECT_EQ(status, 200);
    EXPECT_FALSE(failed);
    EXPECT_TRUE(QuillonReportDataManager::isSuccessAnswer(data));
    Value records = collector_->waitForRecords(1, 10);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["ak"], "uploader-key");
    EXPECT_EQ(records[0]["ac"], "register");
}

TEST_F(UploaderTest, SyncSendSucceedsAndFailsOnBadAnswers) {
    auto send = [] {
        auto request = QuillonNetworkBuilder::defaultBuilder().buildRequestWithReprotAction("submit");
        request.body = platform::toJSON(crashPayload("boom")["body"], true);
        return QuillonReportDataManager::defaultManager().reportSyncData(request);
    };
    EXPECT_TRUE(send());
    collector_->setPolicy(Value::parse(R"({"mode":"en1"})"));
    EXPECT_FALSE(send());
    collector_->setPolicy(Value::parse(R"({"mode":"garbage"})"));
    EXPECT_FALSE(send());
    collector_->setPolicy(Value::parse(R"({"mode":"http500"})"));
    EXPECT_FALSE(send());
}

// A crash before any request loaded the HTTP library: the send fails at once, without
// loading it, so the report is stored as offline.
TEST(UploaderCrashPath, SyncSendBeforeTheHTTPLibraryIsLoadedFailsAtOnce) {
    testenv::Collector collector;
    QuillonReportDataUnit::shareStance().appKey = "uploader-key";
    auto request = QuillonNetworkBuilder::defaultBuilder().buildRequestWithReprotAction("submit");
    request.url = "http://" + collector.host() + "/cpi/crash";
    request.body = "{}";
    ASSERT_FALSE(platform::URLSession::transportLoaded());
    EXPECT_FALSE(QuillonReportDataManager::defaultManager().reportSyncData(request));
    EXPECT_FALSE(platform::URLSession::transportLoaded());
    EXPECT_EQ(collector.records().size(), 0u);
}

TEST_F(UploaderTest, SyncSendGivesUpAfterTheConfiguredTimeOut) {
    collector_->setPolicy(Value::parse(R"({"mode":"noanswer"})"));
    QuillonConfiguration::shareConfiguration().to = 1;
    auto request = QuillonNetworkBuilder::defaultBuilder().buildRequestWithReprotAction("submit");
    request.body = "{}";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(QuillonReportDataManager::defaultManager().reportSyncData(request));
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(elapsed, 0.9);
    EXPECT_LT(elapsed, 10.0);  // bounded by the time-out, not by the server
}

TEST_F(UploaderTest, FlushSendsOneBatchNewestFirstAndClearsOnSuccess) {
    auto store = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath());
    store.saveReportData(crashPayload("first"));
    store.saveReportData(crashPayload("second"));
    flush(store.filePath());
    EXPECT_EQ(store.getCacheRecordCount(), 0);
    Value records = collector_->waitForRecords(2, 10);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["ac"], "submore");
    EXPECT_EQ(records[0]["item_ac"], "submit");
    EXPECT_EQ(records[0]["name"], "second");
    EXPECT_EQ(records[1]["name"], "first");
}

TEST_F(UploaderTest, FlushChargesTheOldestOnlyForAnHTTP200Failure) {
    auto store = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath());
    store.saveReportData(crashPayload("old"));
    store.saveReportData(crashPayload("new"));

    collector_->setPolicy(Value::parse(R"({"mode":"http500"})"));
    flush(store.filePath());
    EXPECT_EQ(store.getReportEntries()[1]["uploadfailed"], 0);

    collector_->setPolicy(Value::parse(R"({"mode":"garbage"})"));
    flush(store.filePath());
    EXPECT_EQ(store.getReportEntries()[1]["uploadfailed"], 1);

    collector_->setPolicy(Value::parse(R"({"mode":"en1"})"));
    flush(store.filePath());  // rc 2: the oldest is dropped
    ASSERT_EQ(store.getCacheRecordCount(), 1);
    EXPECT_EQ(store.getReportData()[0]["body"]["data"]["name"], "new");
}

TEST_F(UploaderTest, FlushWithoutUsableNetworkOrOnAMissingFileSendsNothing) {
    auto store = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath());
    flush(store.filePath());
    EXPECT_TRUE(platform::fs::fileExists(store.filePath()));  // created, nothing to send

    store.saveReportData(crashPayload("kept"));
    platform::setReachabilitySource(std::make_shared<FixedFlags>(0));
    const auto before = platform::fs::readFile(store.filePath());
    flush(store.filePath());
    EXPECT_EQ(platform::fs::readFile(store.filePath()), before);
    EXPECT_EQ(collector_->records().size(), 0u);
}
