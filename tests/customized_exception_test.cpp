// Customized exceptions: type codes, records, pooling with counts, sending the pool when
// it is due, and clearing exactly what the server acknowledged.
#include "reliclass/QuillonConfiguration.h"
#include "reliclass/QuillonCustomizedException.h"
#include "reliclass/QuillonCustomizedReportManager.h"
#include "reliclass/QuillonDataFileManager.h"
#include "support/Collector.h"
#include "support/CrashFixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using platform::Value;

namespace {

QuillonDataFileManager pool() {
    return QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::exceptionDataPath());
}

// The pooled records, in no particular order.
std::vector<Value> pooledRecords() {
    std::vector<Value> out;
    Value all = pool().getExceptionDatas();
    if (!all.is_array()) return out;
    for (const auto& entry : all)
        if (entry.is_object()) out.push_back(entry);
    return out;
}

class CustomizedExceptionTest : public ::testing::Test {
protected:
    void SetUp() override {
        testenv::useHosts("127.0.0.1:1");
        testenv::setOnline(true);
    }
};

}  // namespace

TEST_F(CustomizedExceptionTest, TypeCodesNameTheRuntimeAndUnknownCodesAreDropped) {
    auto& manager = QuillonCustomizedReportManager::defaultManager();
    struct Case {
        int code;
        const char* name;
        const char* ty;
    };
    for (Case c : {Case{1, "cpp", "1"}, Case{3, "lua", "3"}, Case{4, "js", "4"}, Case{5, "C#", "5"}}) {
        manager.reportCustomizedException(c.code, std::string("msg ") + c.name, std::string("trace of ") + c.name);
    }
    manager.reportCustomizedException(2, std::string("m"), std::string("t"));
    manager.reportCustomizedException(6, std::string("m"), std::string("t"));

    auto records = pooledRecords();
    ASSERT_EQ(records.size(), 4u);
    std::map<std::string, Value> byName;
    for (const auto& r : records) {
        EXPECT_EQ(r["ac"], "exception");
        byName[r["post"]["data"]["name"]] = r["post"];
    }
    for (Case c : {Case{1, "cpp", "1"}, Case{3, "lua", "3"}, Case{4, "js", "4"}, Case{5, "C#", "5"}}) {
        ASSERT_EQ(byName.count(c.name), 1u) << c.name;
        const Value& event = byName[c.name]["data"];
        EXPECT_EQ(event["ty"], c.ty);
        EXPECT_EQ(event["ct"], "1");
        EXPECT_EQ(event["et"], std::string("\ntrace of ") + c.name);
        EXPECT_EQ(event["msg"], std::string("msg ") + c.name);
        EXPECT_TRUE(platform::find(byName[c.name], "dei"));
        EXPECT_TRUE(platform::find(byName[c.name], "mach"));
        EXPECT_EQ(event["csc"][0]["une"], "");
    }
    EXPECT_EQ(manager.handleCount(), 4u);
}

TEST_F(CustomizedExceptionTest, TheSameReportTwiceIsCountedAndAMissingMessageIsKept) {
    auto& manager = QuillonCustomizedReportManager::defaultManager();
    manager.reportCustomizedException(1, std::nullopt, std::string("frame 0\nframe 1"));
    manager.reportCustomizedException(1, std::nullopt, std::string("frame 0\nframe 1"));
    auto records = pooledRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["post"]["data"]["ct"], "2");
    EXPECT_FALSE(platform::find(records[0]["post"]["data"], "msg"));
    EXPECT_EQ(pool().getExceptionDataCount(), 2u);
    // Without a message the report is pooled under its event text alone.
    EXPECT_TRUE(manager.isHaveException("\nframe 0\nframe 1"));
}

TEST_F(CustomizedExceptionTest, AnExceptionObjectIsTracedFromItsReturnAddresses) {
    auto& manager = QuillonCustomizedReportManager::defaultManager();
    manager.reportCustomizedException(platform::Exception("NSInvalidArgumentException", "never raised"), 0,
                                      std::string("note"));
    try {
        QuillonCustomizedException::exceptionWithName("Raised", "raised", platform::dict(), std::string("m")).raise();
    } catch (const QuillonCustomizedException& e) {
        EXPECT_EQ(e.message(), "m");
        manager.reportCustomizedException(e, 0, std::string("note"));
    }
    std::map<std::string, Value> byName;
    for (const auto& r : pooledRecords()) byName[r["post"]["data"]["name"]] = r["post"]["data"];
    ASSERT_EQ(byName.size(), 2u);
    EXPECT_EQ(byName["NSInvalidArgumentException"]["et"], "never raised\n");
    EXPECT_EQ(byName["NSInvalidArgumentException"]["ty"], "2");
    const std::string et = byName["Raised"]["et"];
    EXPECT_EQ(et.rfind("raised\n0   ", 0), 0u) << et;
    EXPECT_TRUE(manager.isHaveException(et + "note"));
}

TEST_F(CustomizedExceptionTest, ThePoolIsSentWhenDueAndASuccessClearsIt) {
    auto collectorPtr = testenv::startCollector();
    auto& collector = *collectorPtr;
    testenv::useHosts(collector.host());
    auto& config = QuillonConfiguration::shareConfiguration();
    config.ep = 3;
    auto& manager = QuillonCustomizedReportManager::defaultManager();
    manager.reportCustomizedException(4, std::string("a"), std::string("ta"));
    manager.reportCustomizedException(4, std::string("b"), std::string("tb"));
    EXPECT_EQ(collector.records().size(), 0u);
    manager.reportCustomizedException(4, std::string("a"), std::string("ta"));  // third occurrence
    Value records = collector.waitForRecords(2);
    ASSERT_EQ(records.size(), 2u);
    for (const auto& r : records) {
        EXPECT_EQ(r["ac"], "submore");
        EXPECT_EQ(r["item_ac"], "exception");
        EXPECT_EQ(r["name"], "js");
    }
    ASSERT_TRUE(testenv::waitUntil([] { return pool().getExceptionDataCount() == 0; }));
}

TEST_F(CustomizedExceptionTest, AFailureAnswerKeepsThePool) {
    auto collectorPtr = testenv::startCollector({"--answer", "en1"});
    auto& collector = *collectorPtr;
    testenv::useHosts(collector.host());
    auto& manager = QuillonCustomizedReportManager::defaultManager();
    manager.reportCustomizedException(1, std::string("m"), std::string("t"));
    manager.reportDataToServer();
    Value records = collector.waitForRecords(1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["answer"], "en1");
    EXPECT_EQ(records[0]["body"]["data"]["msg"], "m");
    EXPECT_EQ(pool().getExceptionDataCount(), 1u);
}

TEST_F(CustomizedExceptionTest, ASuccessRemovesOnlyTheReportsThatWereSent) {
    auto collectorPtr = testenv::startCollector({"--answer", "slow", "--slow-ms", "1500"});
    auto& collector = *collectorPtr;
    testenv::useHosts(collector.host());
    auto& manager = QuillonCustomizedReportManager::defaultManager();
    manager.reportCustomizedException(3, std::string("sent"), std::string("t1"));
    manager.reportDataToServer();
    // While the answer is on its way, another report is pooled.
    ASSERT_EQ(collector.waitForRecords(1).size(), 1u);
    manager.reportCustomizedException(3, std::string("later"), std::string("t2"));
    ASSERT_TRUE(testenv::waitUntil([&] { return !manager.isHaveException("\nt1sent"); }));
    EXPECT_TRUE(manager.isHaveException("\nt2later"));
    EXPECT_EQ(pool().getExceptionDataCount(), 1u);
}

// A batch the server did not take is not rebuilt for every later report: they only pool,
// and the launch-time send still goes out.
TEST_F(CustomizedExceptionTest, AfterARefusedBatchReportsOnlyPoolForAWhile) {
    auto collectorPtr = testenv::startCollector({"--answer", "en1"});
    auto& collector = *collectorPtr;
    testenv::useHosts(collector.host());
    QuillonConfiguration::shareConfiguration().ep = 2;
    auto& manager = QuillonCustomizedReportManager::defaultManager();
    manager.reportCustomizedException(4, std::string("a"), std::string("ta"));
    manager.reportCustomizedException(4, std::string("b"), std::string("tb"));  // due: the batch goes out
    ASSERT_EQ(collector.waitForRecords(2).size(), 2u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // its answer is handled
    manager.reportCustomizedException(4, std::string("c"), std::string("tc"));
    manager.reportCustomizedException(4, std::string("d"), std::string("td"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(collector.records().size(), 2u);
    manager.reportDataToServer();
    EXPECT_GT(collector.waitForRecords(3).size(), 2u);
}
