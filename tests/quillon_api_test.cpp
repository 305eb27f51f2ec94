// The public crash API in the test process: console lines of the launch sequence, what the
// initialisers start, the C interface's flags, the server bar and the forwarding to the
// breadcrumb trail, the coordinator and the exception pool.
#include "quillon/Quillon.h"
#include "quillon/quillon.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Files.h"
#include "reliclass/QuillonConfiguration.h"
#include "reliclass/QuillonDataFileManager.h"
#include "reliclass/QuillonLogDataManager.h"
#include "reliclass/QuillonReportDataUnit.h"
#include "support/HostProcess.h"
#include "support/TestEnv.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

namespace {

// Collects what is written to standard error while it lives.
class StderrCapture {
public:
    StderrCapture() {
        path_ = testenv::makeTempDir("quillon-stderr") + "/stderr";
        fflush(stderr);
        saved_ = dup(2);
        int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        close(fd);
    }
    ~StderrCapture() { restore(); }
    // The logger's entries, without their time and process prefix.
    std::vector<std::string> entries() {
        restore();
        const std::string text = testenv::HostProcess::readAll(path_);
        static const std::regex prefix(R"((^|\n)\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} [^\[\n]+\[\d+:\d+\] )");
        std::vector<std::pair<size_t, size_t>> marks;  // (start of prefix, start of message)
        for (auto it = std::sregex_iterator(text.begin(), text.end(), prefix); it != std::sregex_iterator(); ++it)
            marks.emplace_back(static_cast<size_t>(it->position()) + it->str(1).size(),
                               static_cast<size_t>(it->position() + it->length()));
        std::vector<std::string> out;
        for (size_t i = 0; i < marks.size(); ++i) {
            size_t end = i + 1 < marks.size() ? marks[i + 1].first : text.size();
            std::string entry = text.substr(marks[i].second, end - marks[i].second);
            if (!entry.empty() && entry.back() == '\n') entry.pop_back();
            out.push_back(entry);
        }
        return out;
    }

private:
    void restore() {
        if (saved_ < 0) return;
        fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        saved_ = -1;
    }
    std::string path_;
    int saved_ = -1;
};

std::string dump(int monitor, int shake, int alert, int location, int wifi, int debug,
                 const std::string& delegate = "(null)") {
    return "[QUILLON INFO] config={\n crashDelegate:" + delegate + "\n enabledMonitorException:" +
           std::to_string(monitor) + "\n enabledShakeReport:" + std::to_string(shake) +
           "\n alertBtnCloseShakeFeedback:" + std::to_string(alert) + "\n useLocationInfo:" +
           std::to_string(location) + "\n reportOnlyWIFI:" + std::to_string(wifi) +
           "\n printLogForDebug:" + std::to_string(debug) + "\n}";
}

const char* kFinished = "[QUILLON INFO] (2.1.3) init finished!";
const char* kNoKey = "[QUILLON ERROR] Application ID is nil, get it from websit.";
const char* kNoGroup = "[QUILLON ERROR] Application group id is nil, get it from project.";

QuillonConfig nothingEnabled() {
    QuillonConfig c = QuillonConfig::defaultConfig();
    c.enabledMonitorException = false;
    return c;
}

class QuillonApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The servers are a closed port: what the coordinator sends in the background fails
        // at once and changes nothing these tests look at.
        bundleDir_ = testenv::makeTempDir("quillon-bundle");
        testenv::writeInfoPlist(bundleDir_, "org.example.api-test", "127.0.0.1:1");
        platform::Bundle::main().reloadFrom(bundleDir_);
    }
    static std::uint64_t poolCount() {
        return QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::exceptionDataPath())
            .getExceptionDataCount();
    }
    // The pool's entries (the dictionaries among its values).
    static platform::Value poolEntries() {
        platform::Value all =
            QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::exceptionDataPath()).getExceptionDatas();
        platform::Value entries = platform::array();
        if (all.is_array())
            for (const auto& v : all)
                if (v.is_object()) entries.push_back(v);
        return entries;
    }
    std::string bundleDir_;
};

TEST_F(QuillonApiTest, DefaultConfigValues) {
    const QuillonConfig c = QuillonConfig::defaultConfig();
    EXPECT_EQ(c.crashDelegate, nullptr);
    EXPECT_TRUE(c.enabledMonitorException);
    EXPECT_FALSE(c.enabledShakeFeedback);
    EXPECT_FALSE(c.alertBtnCloseShakeFeedback);
    EXPECT_FALSE(c.useLocationInfo);
    EXPECT_TRUE(c.reportOnlyWIFI);
    EXPECT_FALSE(c.printLogForDebug);
    EXPECT_EQ(QuillonVersionNumber, 1.0);
    EXPECT_STREQ(reinterpret_cast<const char*>(QuillonVersionString), "@(#)PROGRAM:Quillon  PROJECT:Quillon-1\n");
}

TEST_F(QuillonApiTest, NothingEnabledPrintsThreeLinesAndStartsNothing) {
    StderrCapture capture;
    Quillon::init("app-key", "store", nothingEnabled());
    EXPECT_THAT(capture.entries(),
                ElementsAre("[QUILLON INFO] init:app-key channel:store", dump(0, 0, 0, 0, 1, 0), kFinished));
    auto& runtime = QuillonConfiguration::shareConfiguration();
    EXPECT_FALSE(runtime.enabledMonitorException);
    EXPECT_FALSE(runtime.printLogForDebug);
    EXPECT_EQ(QuillonLogDataManager::activeInstance(), nullptr);
    auto* unit = QuillonReportDataUnit::activeInstance();
    EXPECT_TRUE(unit == nullptr || !unit->appKey.has_value());
}

TEST_F(QuillonApiTest, MissingOrBlankKeyStopsAfterTheErrorLine) {
    {
        StderrCapture capture;
        Quillon::init("", "ch");
        EXPECT_THAT(capture.entries(), ElementsAre("[QUILLON INFO] init: channel:ch", dump(1, 0, 0, 0, 1, 0), kNoKey));
    }
    {
        StderrCapture capture;
        Quillon::init(" \t\n ");
        EXPECT_THAT(capture.entries(),
                    ElementsAre("[QUILLON INFO] init: \t\n  channel:(null)", dump(1, 0, 0, 0, 1, 0), kNoKey));
    }
    {
        StderrCapture capture;
        quillonInit(nullptr, nullptr);
        EXPECT_THAT(capture.entries(),
                    ElementsAre("[QUILLON INFO] init:(null) channel:(null)", dump(1, 0, 0, 1, 0, 0), kNoKey));
    }
    EXPECT_EQ(QuillonLogDataManager::activeInstance(), nullptr);
    auto* unit = QuillonReportDataUnit::activeInstance();
    EXPECT_TRUE(unit == nullptr || !unit->appKey.has_value());
}

TEST_F(QuillonApiTest, KeyIsTrimmedAndSettingsCopiedWhenMonitoring) {
    QuillonConfig config = QuillonConfig::defaultConfig();
    config.reportOnlyWIFI = false;
    config.useLocationInfo = true;
    StderrCapture capture;
    Quillon::init("  demo  key \n", "beta", config);
    auto entries = capture.entries();
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries[0], "[QUILLON INFO] init:  demo  key \n channel:beta");
    EXPECT_EQ(entries[1], dump(1, 0, 0, 1, 0, 0));
    EXPECT_EQ(entries.back(), kFinished);

    auto& unit = QuillonReportDataUnit::shareStance();
    EXPECT_EQ(unit.appKey, std::optional<std::string>("demo key"));
    EXPECT_EQ(unit.channel, std::optional<std::string>("beta"));
    auto& runtime = QuillonConfiguration::shareConfiguration();
    EXPECT_TRUE(runtime.enabledMonitorException);
    EXPECT_TRUE(runtime.useLocationInfo);
    EXPECT_FALSE(runtime.reportOnlyWIFI);
    EXPECT_FALSE(QuillonConfiguration::isLogEnabled());
    ASSERT_NE(QuillonLogDataManager::activeInstance(), nullptr);
}

TEST_F(QuillonApiTest, QuillonInitIsFlagsFiveNotTheDefaultConfig) {
    StderrCapture capture;
    quillonInit("c-key", "c-channel");
    auto entries = capture.entries();
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries[0], "[QUILLON INFO] init:c-key channel:c-channel");
    // Monitor and location on; reportOnlyWIFI off, unlike defaultConfig (1 0 0 0 1 0).
    EXPECT_EQ(entries[1], dump(1, 0, 0, 1, 0, 0));
    EXPECT_EQ(entries.back(), kFinished);
    auto& runtime = QuillonConfiguration::shareConfiguration();
    EXPECT_TRUE(runtime.useLocationInfo);
    EXPECT_FALSE(runtime.reportOnlyWIFI);
    EXPECT_EQ(QuillonReportDataUnit::shareStance().appKey, std::optional<std::string>("c-key"));
}

TEST_F(QuillonApiTest, UpperFlagBitsCarryNothing) {
    StderrCapture capture;
    quillonInitWithConfig("k", "", 0xFFFFFFE0u);
    EXPECT_THAT(capture.entries(), ElementsAre("[QUILLON INFO] init:k channel:", dump(0, 0, 0, 0, 0, 0), kFinished));
    EXPECT_EQ(QuillonLogDataManager::activeInstance(), nullptr);
}

TEST_F(QuillonApiTest, AllFiveFlagsLeaveTheCloseButtonOff) {
    StderrCapture capture;
    quillonInitWithConfig("all-flags", "ch", 0x1Fu);
    auto entries = capture.entries();
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries[1], dump(1, 1, 0, 1, 1, 1));
    EXPECT_EQ(entries.back(), kFinished);
    EXPECT_TRUE(QuillonConfiguration::isLogEnabled());
    EXPECT_TRUE(QuillonConfiguration::shareConfiguration().printLogForDebug);
}

TEST_F(QuillonApiTest, DelegateIsDescribedInTheDump) {
    struct HostDelegate : QuillonDelegate {};
    static HostDelegate delegate;
    QuillonConfig config = nothingEnabled();
    config.crashDelegate = &delegate;
    StderrCapture capture;
    Quillon::init("k", std::nullopt, config);
    auto entries = capture.entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_THAT(entries[1], MatchesRegex(R"(\[QUILLON INFO\] config=\{
 crashDelegate:<.*HostDelegate: 0x[0-9a-f]+>
 enabledMonitorException:0
(.|
)*)"));
}

TEST_F(QuillonApiTest, GroupInitNeedsAnExistingContainer) {
    {
        StderrCapture capture;
        Quillon::init("k", "group.org.example", "ch", nothingEnabled());
        EXPECT_THAT(capture.entries(), ElementsAre("[QUILLON INFO] init:k groupid:group.org.example channel:ch",
                                                   dump(0, 0, 0, 0, 1, 0), kNoGroup));
    }
    {
        StderrCapture capture;
        Quillon::init("k", std::nullopt, "ch", nothingEnabled());
        EXPECT_THAT(capture.entries(), ElementsAre("[QUILLON INFO] init:k groupid:(null) channel:ch",
                                                   dump(0, 0, 0, 0, 1, 0), kNoGroup));
    }
    ASSERT_TRUE(platform::fs::createDirectories(platform::fs::dataHome() + "/app-groups/group.org.example"));
    {
        StderrCapture capture;
        Quillon::init("k", "group.org.example", "ch", nothingEnabled());
        EXPECT_THAT(capture.entries(), ElementsAre("[QUILLON INFO] init:k groupid:group.org.example channel:ch",
                                                   dump(0, 0, 0, 0, 1, 0), kFinished));
    }
    {
        // The key is checked before the group.
        StderrCapture capture;
        Quillon::init(" ", "missing.group", "ch", nothingEnabled());
        EXPECT_EQ(capture.entries().back(), kNoKey);
    }
}

TEST_F(QuillonApiTest, BreadcrumbsNeedTheReporterAndSkipEmptyStrings) {
    Quillon::leaveBreadcrumbWithString("before init");  // no store yet: lost
    quillonLeaveBreadcrumb("also lost");
    EXPECT_EQ(QuillonLogDataManager::activeInstance(), nullptr);

    Quillon::init("k", "ch");
    auto* trail = QuillonLogDataManager::activeInstance();
    ASSERT_NE(trail, nullptr);
    Quillon::leaveBreadcrumbWithString("first");
    Quillon::leaveBreadcrumbWithString("");            // dropped
    Quillon::leaveBreadcrumbWithString(std::nullopt);  // dropped
    quillonLeaveBreadcrumb(nullptr);                   // dropped
    quillonLeaveBreadcrumb("second");
    Quillon::leaveBreadcrumbWithFormat("%s", "");  // the format path records even an empty text
    Quillon::leaveBreadcrumbWithFormat("item %d of %s", 3, "nine");
    platform::Value logs = trail->cacheLogs();
    ASSERT_EQ(logs.size(), 5u);
    EXPECT_EQ(logs[0]["nm"], "tm");
    EXPECT_EQ(logs[1]["nm"], "first");
    EXPECT_EQ(logs[2]["nm"], "second");
    EXPECT_EQ(logs[3]["nm"], "");
    EXPECT_EQ(logs[4]["nm"], "item 3 of nine");
}

TEST_F(QuillonApiTest, UserInfoIsKeptWhenNotBarredAndNotEmpty) {
    Quillon::setUserInfo("before-init");  // the coordinator keeps it for later reports
    EXPECT_EQ(QuillonReportDataUnit::shareStance().user, std::optional<std::string>("before-init"));
    Quillon::setUserInfo("");
    quillonSetUserInfo(nullptr);
    EXPECT_EQ(QuillonReportDataUnit::shareStance().user, std::optional<std::string>("before-init"));
    quillonSetUserInfo("from C");
    EXPECT_EQ(QuillonReportDataUnit::shareStance().user, std::optional<std::string>("from C"));
}

TEST_F(QuillonApiTest, ServerBarDropsUserBreadcrumbsAndExceptions) {
    Quillon::init("k", "ch");
    auto& runtime = QuillonConfiguration::shareConfiguration();
    auto* trail = QuillonLogDataManager::activeInstance();
    ASSERT_NE(trail, nullptr);
    const std::uint64_t poolBefore = poolCount();

    runtime.up = -1;
    Quillon::setUserInfo("barred user");
    Quillon::leaveBreadcrumbWithString("barred crumb");
    Quillon::leaveBreadcrumbWithFormat("barred %d", 1);
    Quillon::reportCustomizedException(1, "barred message", "barred trace");
    Quillon::reportCustomizedException(std::runtime_error("barred"), "msg");
    EXPECT_FALSE(QuillonReportDataUnit::shareStance().user.load().has_value());
    EXPECT_EQ(trail->cacheLogs().size(), 1u);
    EXPECT_EQ(poolCount(), poolBefore);

    runtime.up = 1;
    Quillon::setUserInfo("allowed user");
    Quillon::leaveBreadcrumbWithString("allowed crumb");
    Quillon::reportCustomizedException(1, "allowed message", "allowed trace");
    EXPECT_EQ(QuillonReportDataUnit::shareStance().user, std::optional<std::string>("allowed user"));
    EXPECT_EQ(trail->cacheLogs().size(), 2u);
    EXPECT_EQ(poolCount(), poolBefore + 1);
}

TEST_F(QuillonApiTest, RuntimeReportsNeedATraceAndAKnownType) {
    Quillon::init("k", "ch");
    const std::uint64_t before = poolCount();
    Quillon::reportCustomizedException(1, "message", std::nullopt);  // no trace: nothing
    quillonReportException(1, "message", nullptr);
    quillonReportException(2, "message", "trace");  // type 2 is not a runtime
    quillonReportException(6, "message", "trace");
    EXPECT_EQ(poolCount(), before);

    quillonReportException(3, "attempt to call a nil value", "stack traceback:\n\tmain.lua:3");
    quillonReportException(3, "attempt to call a nil value", "stack traceback:\n\tmain.lua:3");
    Quillon::reportCustomizedException(4, std::nullopt, "at f (app.js:1:2)");  // no message
    EXPECT_GE(poolCount(), before + 2);
    bool sawLua = false;
    for (const auto& entry : poolEntries()) {
        const auto& data = entry["post"]["data"];
        if (data["name"] == "lua") {
            sawLua = true;
            EXPECT_EQ(data["ty"], "3");
            EXPECT_EQ(data["et"], "\nstack traceback:\n\tmain.lua:3");
            EXPECT_EQ(data["msg"], "attempt to call a nil value");
        }
    }
    EXPECT_TRUE(sawLua);
}

TEST_F(QuillonApiTest, CaughtCppExceptionIsNamedAfterItsTypeWithTheReportingStack) {
    Quillon::init("k", "ch");
    try {
        throw std::out_of_range("entry 43 of 42");
    } catch (const std::exception& e) {
        Quillon::reportCustomizedException(e, "summing the ledger");
    }
    platform::Value entries = poolEntries();
    ASSERT_EQ(entries.size(), 1u);
    const auto& data = entries[0]["post"]["data"];
    EXPECT_EQ(data["name"], "std::out_of_range");
    EXPECT_EQ(data["ty"], "2");
    EXPECT_EQ(data["msg"], "summing the ledger");
    const std::string et = data["et"].get<std::string>();
    ASSERT_THAT(et, StartsWith("entry 43 of 42\n"));
    // The first line of the stack is the reporting call in this test.
    std::string first = et.substr(et.find('\n') + 1);
    first = first.substr(0, first.find('\n'));
    EXPECT_THAT(first, MatchesRegex(R"(0  +quillon_tests +0x[0-9a-f]{16} 0x[0-9a-f]{16} .* \+ -?[0-9]+)"));
}

}  // namespace
