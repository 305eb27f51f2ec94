// The crash core in process: backtrace lines, the signal's exception object, the event
// limit, the crash record, sending or storing a report, the launch sequence and the
// extensions' notices.
#include "platform/runtime/DarwinNotifyCenter.h"
#include "reliclass/QuillonConfiguration.h"
#include "platform/foundation/Bundle.h"
#include "reliclass/QuillonCustomizedException.h"
#include "reliclass/QuillonCustomizedReportManager.h"
#include "reliclass/QuillonDataFileManager.h"
#include "reliclass/QuillonLogDataManager.h"
#include "reliclass/QuillonReportDataUnit.h"
#include "reliclass/QuillonThrowSite.h"
#include "reliclass/QuillonUncaughtExceptionHandler.h"
#include "support/Collector.h"
#include "support/CrashFixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <thread>
#include <stdexcept>
#include <regex>
#include <vector>

using platform::Value;
using testenv::readPlist;
using ::testing::ElementsAre;

namespace {

const std::regex kLine(R"(^[0-9]+ +[^ ]+ +0x[0-9a-f]{16} 0x[0-9a-f]{16} .+ \+ -?[0-9]+$)");

std::vector<std::string> keysOf(const Value& v) {
    std::vector<std::string> keys;
    for (const auto& item : v.items()) keys.push_back(item.key());
    return keys;
}

Value storedCrashes() {
    Value list = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath()).getReportData();
    return list.is_array() ? list : platform::array();
}

std::vector<platform::Exception> gDelivered;
void recordDelivery(const platform::Exception& e) { gDelivered.push_back(e); }

}  // namespace

// ------------------------------------------------------------------ backtrace lines

TEST(BacktraceLineTest, FieldsArePaddedAndAddressesHaveSixteenHexDigits) {
    const std::string line = QuillonUncaughtExceptionHandler::formatBacktraceLine(
        3, "libfoo.so.1", 0x7f0012345678, 0x7f0012300000, "do_work", 0x7f0012345600);
    EXPECT_EQ(line,
              "3   libfoo.so.1                         0x00007f0012345678 0x0000000000045678 do_work + 120");
    // A missing symbol prints the platform's rendering of a missing string, and the offset
    // counts from address zero (cut to 32 bits).
    EXPECT_EQ(QuillonUncaughtExceptionHandler::formatBacktraceLine(12, "app", 0x401234, 0x400000, nullptr, 0),
              "12  app                                 0x0000000000401234 0x0000000000001234 (null) + 4198964");
}

TEST(BacktraceLineTest, ALineFitsTheFixedBufferAndStaysValidText) {
    // An image name of two-byte characters cut at the buffer's end leaves no half character.
    std::string longName;
    for (int i = 0; i < 600; ++i) longName += "\xc3\xa9";
    const std::string line = QuillonUncaughtExceptionHandler::formatBacktraceLine(0, longName.c_str(), 1, 0, "f", 0);
    EXPECT_LE(line.size(), 1023u);
    EXPECT_GE(line.size(), 1022u);
    EXPECT_NE(static_cast<unsigned char>(line.back()), 0xc3);
    EXPECT_NO_THROW((void)platform::toJSON(Value(line), false));
}

TEST(BacktraceLineTest, CurrentThreadBacktraceIsNumberedFromZeroInTheLineLayout) {
    const auto lines = QuillonUncaughtExceptionHandler::exceptionBacktrace();
    ASSERT_FALSE(lines.empty());
    EXPECT_LE(lines.size(), 128u);
    bool sawTests = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], kLine)) << lines[i];
        EXPECT_EQ(std::stoi(lines[i]), static_cast<int>(i));
        if (lines[i].find("quillon_tests") != std::string::npos) sawTests = true;
    }
    EXPECT_TRUE(sawTests);
}

TEST(BacktraceLineTest, AddressesThatNoImageHoldsProduceNoLine) {
    int local = 0;
    const auto lines = QuillonUncaughtExceptionHandler::symbolicate({&local, nullptr, reinterpret_cast<void*>(1)});
    EXPECT_TRUE(lines.empty());
}

// ------------------------------------------------------------------ capture

TEST(CaptureTest, SignalNamesAndReasonText) {
    EXPECT_EQ(QuillonUncaughtExceptionHandler::signalReason(SIGSEGV), "Application received signal SIGSEGV");
    EXPECT_EQ(QuillonUncaughtExceptionHandler::signalName(SIGABRT), "SIGABRT");
    EXPECT_EQ(QuillonUncaughtExceptionHandler::signalName(SIGTRAP), "SIGTRAP");
    EXPECT_EQ(QuillonUncaughtExceptionHandler::signalName(SIGPIPE), "SIGPIPE");
    EXPECT_EQ(QuillonUncaughtExceptionHandler::signalName(SIGBUS), "SIGBUS");
    EXPECT_EQ(QuillonUncaughtExceptionHandler::signalReason(SIGKILL), "Application received signal ");
}

TEST(CaptureTest, ElevenEventsReachTheReportTenTimesAndTheSignalCarriesItsTrace) {
    QuillonUncaughtExceptionHandler::setReportHook(&recordDelivery);
    gDelivered.clear();
    QuillonSignalHandler(SIGSEGV);
    for (int i = 0; i < 5; ++i) QuillonHandleException(platform::Exception("E", "r" + std::to_string(i)));
    for (int i = 0; i < 5; ++i) QuillonSignalHandler(SIGFPE);
    QuillonUncaughtExceptionHandler::setReportHook(nullptr);

    ASSERT_EQ(gDelivered.size(), 10u);
    EXPECT_EQ(QuillonUncaughtExceptionCount.load(), 11);
    const platform::Exception& signal = gDelivered.front();
    EXPECT_EQ(signal.name(), "exception Signal");
    EXPECT_EQ(signal.reason(), "Application received signal SIGSEGV");
    EXPECT_EQ(platform::integerValue(signal.userInfo()["exception Signal"]), SIGSEGV);
    const std::string trace = platform::textOrEmpty(signal.userInfo(), "stack trace");
    ASSERT_FALSE(trace.empty());
    EXPECT_TRUE(std::regex_match(trace.substr(0, trace.find('\n')), kLine)) << trace;
    EXPECT_EQ(gDelivered[1].reason(), "r0");
}

TEST(CaptureTest, TheUncaughtExceptionObjectIsNamedByItsTypeAndTracedFromItsThrow) {
    quillon::throwsite::setEnabled(true);
    try {
        throw std::out_of_range("slot 7 of 3");
    } catch (...) {
        auto e = QuillonUncaughtExceptionHandler::currentExceptionObject();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->name(), "std::out_of_range");
        EXPECT_EQ(e->reason(), "slot 7 of 3");
        // The recorded throw site: __cxa_throw is among the first frames.
        const auto lines = QuillonUncaughtExceptionHandler::symbolicate(e->callStackReturnAddresses());
        ASSERT_GE(lines.size(), 2u);
        EXPECT_TRUE(lines[0].find("__cxa_throw") != std::string::npos ||
                    lines[1].find("__cxa_throw") != std::string::npos)
            << lines[0] << "\n" << lines[1];
    }
    try {
        QuillonCustomizedException::exceptionWithName("Custom", "why", platform::dict(), std::string("note")).raise();
    } catch (...) {
        auto e = QuillonUncaughtExceptionHandler::currentExceptionObject();
        auto* custom = dynamic_cast<QuillonCustomizedException*>(e.get());
        ASSERT_NE(custom, nullptr);
        EXPECT_EQ(custom->name(), "Custom");
        EXPECT_EQ(custom->message(), "note");
    }
    try {
        throw 42;
    } catch (...) {
        auto e = QuillonUncaughtExceptionHandler::currentExceptionObject();
        EXPECT_EQ(e->name(), "int");
        EXPECT_EQ(e->reason(), "");
    }
    EXPECT_EQ(QuillonUncaughtExceptionHandler::currentExceptionObject(), nullptr);
}

// ------------------------------------------------------------------ the crash record

TEST(CrashRecordTest, RecordShapeForASignal) {
    QuillonLogDataManager::sharedInstance()->cacheWithString("opened settings");
    auto& unit = QuillonReportDataUnit::shareStance();
    Value info = platform::dict();
    info["exception Signal"] = 11;
    info["stack trace"] = "0   app 0x1 0x1 main + 1\n1   app 0x2 0x2 start + 2";
    QuillonCustomizedException exception("exception Signal", "Application received signal SIGSEGV", info);

    Value record = unit.getCrashData(1, exception, std::nullopt);
    EXPECT_THAT(keysOf(record), ElementsAre("dei", "nwt", "data", "mach"));
    const Value& event = record["data"];
    EXPECT_THAT(keysOf(event), ElementsAre("name", "et", "tm", "csc", "ty"));
    EXPECT_EQ(event["name"], "exception Signal");
    EXPECT_EQ(event["et"], "Application received signal SIGSEGV\n0   app 0x1 0x1 main + 1\n1   app 0x2 0x2 start + 2");
    EXPECT_TRUE(std::regex_match(event["tm"].get<std::string>(), std::regex("[0-9]{10,}")));
    EXPECT_EQ(event["ty"], "2");
    const Value& csc = event["csc"];
    ASSERT_TRUE(csc.is_array());
    ASSERT_EQ(csc.size(), 2u);
    EXPECT_EQ(csc[0], Value::parse(R"({"une":""})"));
    ASSERT_TRUE(csc[1]["bbs"].is_array());
    ASSERT_EQ(csc[1]["bbs"].size(), 2u);
    EXPECT_EQ(csc[1]["bbs"][0]["nm"], "tm");
    EXPECT_EQ(csc[1]["bbs"][1]["nm"], "opened settings");
}

TEST(CrashRecordTest, MessageOnlyWhenGivenAndUserWhenSet) {
    auto& unit = QuillonReportDataUnit::shareStance();
    unit.setQuillonUserInfo("user-42");
    platform::Exception exception("NSRangeException", "index 3 beyond bounds");
    Value withEmpty = unit.getCrashData(1, exception, std::string());
    ASSERT_TRUE(platform::find(withEmpty["data"], "msg"));
    EXPECT_EQ(withEmpty["data"]["msg"], "");
    EXPECT_EQ(withEmpty["data"]["csc"][0]["une"], "user-42");
    // No stack trace in the user info: the trace is empty.
    EXPECT_EQ(withEmpty["data"]["et"], "index 3 beyond bounds\n");
    EXPECT_FALSE(platform::find(unit.getCrashData(1, exception, std::nullopt)["data"], "msg"));
}

TEST(CrashRecordTest, AnExceptionIsTracedFromItsRaisePointAndAnUnraisedOneHasNoTrace) {
    auto& unit = QuillonReportDataUnit::shareStance();
    platform::Exception unraised("E", "never thrown");
    EXPECT_EQ(unit.stackTraceWithException(unraised), "");
    EXPECT_EQ(unit.getCrashData(0, unraised, std::nullopt)["data"]["et"], "never thrown\n");
    try {
        platform::Exception("E", "thrown").raise();
    } catch (const platform::Exception& e) {
        const std::string trace = unit.stackTraceWithException(e);
        ASSERT_FALSE(trace.empty());
        EXPECT_TRUE(std::regex_match(trace.substr(0, trace.find('\n')), kLine));
        EXPECT_EQ(unit.getCrashData(0, e, std::nullopt)["data"]["et"], "thrown\n" + trace);
    }
}

// ------------------------------------------------------------------ send or store

TEST(CrashSubmissionTest, WithoutNetworkTheReportIsStoredOnceAndLaterHostCrashesAreIgnored) {
    testenv::useHosts("127.0.0.1:1");
    testenv::setOnline(false);
    auto& unit = QuillonReportDataUnit::shareStance();
    unit.reportDataToServer(0, platform::Exception("First", "boom"), std::nullopt, false);
    unit.reportDataToServer(0, platform::Exception("Second", "boom"), std::nullopt, false);
    EXPECT_TRUE(unit.isCrashReported());
    Value stored = storedCrashes();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0]["ac"], "submit");
    EXPECT_EQ(stored[0]["body"]["data"]["name"], "First");
}

TEST(CrashSubmissionTest, AReportIsStoredWhenImmediateSendingIsOff) {
    auto collectorPtr = testenv::startCollector();
    auto& collector = *collectorPtr;
    testenv::useHosts(collector.host());
    testenv::setOnline(true);
    QuillonConfiguration::shareConfiguration().po = 1;
    QuillonReportDataUnit::shareStance().reportDataToServer(0, platform::Exception("E", "r"), std::nullopt, false);
    EXPECT_EQ(storedCrashes().size(), 1u);
    EXPECT_EQ(collector.records().size(), 0u);
}

TEST(CrashSubmissionTest, APendingRegistrationRidesAlongAndItsStoredCopyIsRemoved) {
    auto collectorPtr = testenv::startCollector();
    auto& collector = *collectorPtr;
    testenv::useHosts(collector.host());
    testenv::setOnline(true);
    auto& unit = QuillonReportDataUnit::shareStance();
    unit.appKey = "crash-key";
    Value registration = Value::parse(R"({"und":"device-1","sv":"2.1.3"})");
    unit.setInitCachData(registration);
    Value stored = platform::dict();
    stored["ac"] = "register";
    stored["body"] = registration;
    auto initStore = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::initDataPath());
    ASSERT_TRUE(initStore.saveReportData(stored));

    unit.reportDataToServer(1, platform::Exception("exception Signal", "Application received signal SIGBUS"),
                            std::nullopt, false);

    Value records = collector.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["ac"], "submore");
    EXPECT_EQ(records[0]["item_ac"], "submit");
    EXPECT_EQ(records[0]["name"], "exception Signal");
    EXPECT_EQ(records[1]["item_ac"], "register");
    EXPECT_EQ(records[1]["body"], registration);
    EXPECT_EQ(initStore.getCacheRecordCount(), 0);
    EXPECT_EQ(storedCrashes().size(), 0u);
}

TEST(CrashSubmissionTest, AFailedSendIsStoredForTheHostAndForAnExtension) {
    auto collectorPtr = testenv::startCollector({"--answer", "en1"});
    auto& collector = *collectorPtr;
    testenv::useHosts(collector.host());
    testenv::setOnline(true);
    auto& unit = QuillonReportDataUnit::shareStance();
    unit.reportDataToServer(0, platform::Exception("Host", "r"), std::nullopt, false);
    unit.reportDataToServer(1, platform::Exception("Appex", "r"), std::string("m"), true);
    EXPECT_EQ(collector.records().size(), 2u);
    Value stored = storedCrashes();
    ASSERT_EQ(stored.size(), 2u);
    std::vector<std::string> names{stored[0]["body"]["data"]["name"], stored[1]["body"]["data"]["name"]};
    EXPECT_THAT(names, ::testing::UnorderedElementsAre("Host", "Appex"));
}

// ------------------------------------------------------------------ launch sequence

TEST(LaunchTest, ConfigurationIsRequestedOnceAndStampedBeforeTheAnswer) {
    auto collectorPtr = testenv::startCollector({"--config-json", R"({"up":1,"rc":5,"to":4,"cv":7})"});
    auto& collector = *collectorPtr;
    testenv::useHosts(collector.host());
    testenv::setOnline(true);
    auto& config = QuillonConfiguration::shareConfiguration();
    auto& unit = QuillonReportDataUnit::shareStance();
    unit.initReportInterface(std::string("launch-key"), std::string("beta"));
    EXPECT_GT(config.configRequestTime.load(), 0);
    Value file = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::configurationPath()).getConfiguration();
    EXPECT_TRUE(platform::find(file, "crt")) << platform::describe(file);
    EXPECT_TRUE(testenv::waitUntil([&] { return config.cv.load() == 7; }));
    EXPECT_EQ(config.rc.load(), 5);

    const double stamp = config.configRequestTime.load();
    unit.initReportInterface(std::string("launch-key"), std::string("beta"));
    EXPECT_EQ(config.configRequestTime.load(), stamp);
    // Handlers arrive 0.2 s later on the main run loop; the registration is sent.
    EXPECT_TRUE(testenv::runMainLoopUntil([] { return QuillonUncaughtExceptionHandler::isInstalled(); }));
    Value records = collector.waitForRecords(3);
    int configs = 0, registers = 0;
    for (const auto& r : records) {
        configs += r["ac"] == "config";
        registers += r["ac"] == "register";
    }
    EXPECT_EQ(configs, 1);
    EXPECT_EQ(registers, 2);
    EXPECT_EQ(unit.appKey, "launch-key");
    EXPECT_EQ(unit.channel, "beta");
}

TEST(LaunchTest, ABarredInstallationInstallsNoHandlerAndDoesNotRegister) {
    auto collectorPtr = testenv::startCollector();
    auto& collector = *collectorPtr;
    testenv::useHosts(collector.host());
    testenv::setOnline(true);
    auto& config = QuillonConfiguration::shareConfiguration();
    config.up = -1;
    config.configRequestTime = 1.0;  // due again: the configuration request still goes out
    QuillonReportDataUnit::shareStance().initReportInterface(std::string("barred-key"), std::nullopt);
    Value records = collector.waitForRecords(1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["ac"], "config");
    // Past the installation delay nothing was installed.
    platform::RunLoop::main().runFor(0.5);
    EXPECT_FALSE(QuillonUncaughtExceptionHandler::isInstalled());
    EXPECT_EQ(collector.records().size(), 1u);
}

TEST(LaunchTest, ARegistrationThatMeetsATransportErrorIsKeptInMemoryAndStored) {
    testenv::useHosts("127.0.0.1:1");
    testenv::setOnline(true);
    auto& unit = QuillonReportDataUnit::shareStance();
    unit.initFromQuillon();
    auto store = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::initDataPath());
    ASSERT_TRUE(testenv::waitUntil([&] { return store.getCacheRecordCount() == 1; }));
    Value list = store.getReportData();
    EXPECT_EQ(list[0]["ac"], "register");
    EXPECT_EQ(list[0]["body"], unit.initCachData());
    EXPECT_FALSE(unit.initCachData().is_null());
}

// ------------------------------------------------------------------ extension notices

class AppexTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A notification directory of this test's own, so that parallel tests never meet.
        runtimeDir_ = testenv::makeTempDir("runtime");
        ::setenv("XDG_RUNTIME_DIR", runtimeDir_.c_str(), 1);
        container_ = testenv::home() + "/.local/share/app-groups/group.org.example";
        ASSERT_TRUE(platform::fs::createDirectories(container_));
    }
    void writePayload(const std::string& name, const Value& payload) {
        ASSERT_TRUE(platform::fs::writeAtomically(container_ + "/" + name, *platform::toXMLPropertyList(payload)));
    }
    std::string runtimeDir_;
    std::string container_;
};

TEST_F(AppexTest, CrashAndExceptionNoticesBecomeReportsEvenAfterAHostCrash) {
    testenv::useHosts("127.0.0.1:1");
    testenv::setOnline(false);
    auto& unit = QuillonReportDataUnit::shareStance();
    unit.initReportInterface(std::string("host-key"), std::string("group.org.example"), std::nullopt);
    unit.reportDataToServer(0, platform::Exception("HostCrash", "r"), std::nullopt, false);
    ASSERT_EQ(storedCrashes().size(), 1u);

    Value crashed = Value::parse(R"({"exception":{"name":"AppexCrash","reason":"bad access",
        "stacktrace":"0   Ext 0x1 0x1 f + 1"},"info":{"CFBundleExecutable":"Widget",
        "CFBundleIdentifier":"org.example.host.widget","NSExtensionPointIdentifier":"widget-extension"}})");
    writePayload("qlmon.appex.crashed", crashed);
    ASSERT_TRUE(platform::DarwinNotifyCenter::post("qlmon.appex.crashed"));
    ASSERT_TRUE(testenv::runMainLoopUntil([] { return storedCrashes().size() == 2; }));

    Value exception = Value::parse(R"({"exception":{"name":"AppexException","reason":"caught",
        "stacktrace":"trace","message":"from the widget"}})");
    writePayload("qlmon.appex.exception", exception);
    ASSERT_TRUE(platform::DarwinNotifyCenter::post("qlmon.appex.exception"));
    ASSERT_TRUE(testenv::runMainLoopUntil([] { return storedCrashes().size() == 3; }));

    Value stored = storedCrashes();
    std::map<std::string, Value> byName, deviceOf;
    for (const auto& s : stored) {
        byName[s["body"]["data"]["name"]] = s["body"]["data"];
        deviceOf[s["body"]["data"]["name"]] = s["body"]["dei"];
    }
    ASSERT_EQ(byName.count("AppexCrash"), 1u);
    // Each report carries the identity of the one that crashed.
    EXPECT_EQ(deviceOf["AppexCrash"]["pgn"], "org.example.host.widget");
    EXPECT_EQ(deviceOf["AppexCrash"]["expid"], "widget-extension");
    EXPECT_EQ(deviceOf["HostCrash"]["pgn"], "org.example.crashcore");
    EXPECT_EQ(deviceOf["HostCrash"]["expid"], "");
    EXPECT_EQ(byName["AppexCrash"]["et"], "bad access\n0   Ext 0x1 0x1 f + 1");
    EXPECT_FALSE(platform::find(byName["AppexCrash"], "msg"));
    EXPECT_EQ(byName["AppexException"]["et"], "caught\ntrace");
    EXPECT_EQ(byName["AppexException"]["msg"], "from the widget");
    auto& config = QuillonConfiguration::shareConfiguration();
    EXPECT_TRUE(config.appex);
    // The exception notice leaves the crashed extension's identity in place.
    EXPECT_EQ(config.appexInfo, crashed["info"]);
}

TEST_F(AppexTest, AMissingPayloadGivesAnEmptyReport) {
    testenv::useHosts("127.0.0.1:1");
    testenv::setOnline(false);
    auto& unit = QuillonReportDataUnit::shareStance();
    unit.initReportInterface(std::string("host-key"), std::string("group.org.example"), std::nullopt);
    EXPECT_TRUE(unit.userInfo(std::string("qlmon.appex.crashed")).is_null());
    EXPECT_TRUE(unit.userInfo(std::string("")).is_null());
    ASSERT_TRUE(platform::DarwinNotifyCenter::post("qlmon.appex.crashed"));
    ASSERT_TRUE(testenv::runMainLoopUntil([] { return storedCrashes().size() == 1; }));
    EXPECT_EQ(storedCrashes()[0]["body"]["data"]["et"], "\n");
}

TEST_F(AppexTest, ObservingANameTwiceLeavesOneSubscription) {
    auto& unit = QuillonReportDataUnit::shareStance();
    auto& center = platform::DarwinNotifyCenter::center();
    unit.observerDarwinNotificationWithIdentifier("qlmon.appex.crashed");
    unit.observerDarwinNotificationWithIdentifier("qlmon.appex.crashed");
    EXPECT_EQ(center.observerCount("qlmon.appex.crashed"), 1u);
    unit.removeDarwinNotficationWithIdentifier("qlmon.appex.crashed");
    EXPECT_EQ(center.observerCount("qlmon.appex.crashed"), 0u);
}

// ------------------------------------------------------------------ shared fields under load

TEST(CoordinatorRaceTest, UserAndExtensionFieldsChangeSafelyWhileReportsAreBuilt) {
    testenv::useHosts("127.0.0.1:1");
    testenv::setOnline(false);
    auto& unit = QuillonReportDataUnit::shareStance();
    unit.setQuillonUserInfo(std::string("user-start"));
    constexpr int kRounds = 20;
    std::atomic<bool> stop{false};
    std::thread users([&] {
        for (int i = 0; !stop.load(); ++i) unit.setQuillonUserInfo("user-" + std::to_string(i));
    });
    std::thread notices([&] {  // extension crash notices, each with its own extension
        for (int i = 0; i < kRounds; ++i) {
            Value payload = Value::parse(R"({"exception":{"name":"Ext","reason":"r","stacktrace":"t"}})");
            payload["info"] = {{"CFBundleExecutable", "Ext" + std::to_string(i)},
                               {"CFBundleIdentifier", "org.ext" + std::to_string(i)}};
            unit.handleNotification({QuillonReportDataUnit::kAppexCrashedNotification, &unit, payload}, 0);
        }
    });
    std::thread customized([&] {
        for (int i = 0; i < kRounds; ++i)
            QuillonCustomizedReportManager::defaultManager().reportCustomizedException(1, "m", "trace " + std::to_string(i));
    });
    std::vector<Value> hostRecords;  // the crash path's reads and the host's crash, meanwhile
    for (int i = 0; i < kRounds; ++i) hostRecords.push_back(unit.userAndBreadcrumbs());
    unit.reportDataToServer(0, platform::Exception("Host", "r"), std::nullopt, false);
    notices.join();
    customized.join();
    stop = true;
    users.join();

    const std::string hostId = platform::Bundle::main().infoString("CFBundleIdentifier").value_or("");
    for (const auto& csc : hostRecords) EXPECT_EQ(csc[0]["une"].get<std::string>().rfind("user-", 0), 0u);
    for (const auto& s : storedCrashes()) {  // the host's record names the host, each extension's one extension
        if (s["body"]["data"]["name"] == "Host") {
            EXPECT_EQ(s["body"]["dei"]["pgn"], hostId);
            EXPECT_EQ(s["body"]["dei"]["expid"], "");
            continue;
        }
        const std::string app = s["body"]["dei"]["appnm"];
        ASSERT_EQ(app.rfind("Ext", 0), 0u) << s;
        EXPECT_EQ(s["body"]["dei"]["pgn"], "org.ext" + app.substr(3));
    }
    auto pool = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::exceptionDataPath());
    ASSERT_TRUE(testenv::waitUntil([&] { return pool.getExceptionDataCount() == kRounds; }));
    for (const auto& entry : pool.getExceptionDatas()) {
        if (!entry.is_object()) continue;
        EXPECT_EQ(entry["post"]["dei"]["pgn"], hostId);
    }
}

// ------------------------------------------------------------------ the throw-site hook

namespace {

// Counts the frames it leaves while an exception unwinds them.
struct UnwindWitness {
    int* unwound;
    ~UnwindWitness() {
        if (std::uncaught_exceptions() == 1) ++*unwound;
    }
};

__attribute__((noinline)) int throwFrom(int depth, int* unwound) {
    UnwindWitness witness{unwound};
    if (depth == 0) throw std::out_of_range("deep");
    return throwFrom(depth - 1, unwound) + 1;
}

// Four threads of throws: through 20 frames, rethrown, carried in an exception_ptr.
int throwHeavily() {
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&good] {
            for (int i = 0; i < 200; ++i) {
                int unwound = 0;
                try {
                    throwFrom(20, &unwound);
                } catch (const std::out_of_range& e) {
                    good += unwound == 21 && std::string(e.what()) == "deep";
                }
                try {
                    try {
                        throw 7;
                    } catch (int) {
                        throw;
                    }
                } catch (int v) {
                    good += v == 7;
                }
                std::exception_ptr kept;
                try {
                    throw std::runtime_error("kept");
                } catch (...) {
                    kept = std::current_exception();
                }
                try {
                    std::rethrow_exception(kept);
                } catch (const std::runtime_error& e) {
                    good += std::string(e.what()) == "kept" && std::uncaught_exceptions() == 0;
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    return good.load();
}

}  // namespace

TEST(ThrowSiteTest, ExceptionsWorkWithTheHookWhetherOrNotTheRuntimeThrowIsFound) {
    quillon::throwsite::setEnabled(true);
    for (bool runtimeThrowFound : {true, false}) {
        if (!runtimeThrowFound) quillon::throwsite::forgetRuntimeThrowForTesting();
        EXPECT_EQ(throwHeavily(), 4 * 200 * 3) << runtimeThrowFound;
        try {
            throw std::logic_error("where");
        } catch (const std::logic_error& e) {
            EXPECT_GE(QuillonUncaughtExceptionHandler::throwSiteAddresses(&e).size(), 2u) << runtimeThrowFound;
        }
    }
}
