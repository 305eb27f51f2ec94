// Crashes in child processes, with the reporter started as a host would start it, against
// the reference collector: the exit status, what arrives online and what is stored offline
// and sent at the next launch.
#include "reliclass/QuillonDataFileManager.h"
#include "support/Collector.h"
#include "support/CrashFixtures.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <regex>
#include <thread>

using platform::Value;

namespace {

std::string childPath() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string self(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    return self.substr(0, self.rfind('/')) + "/crash_child";
}

struct Outcome {
    bool exited = false;
    int status = -1;
    int signal = 0;
};

class CrashProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        collector_ = testenv::startCollector();
        bundleDir_ = testenv::makeTempDir("bundle");
    }
    // The child shares this test's HOME, so its stores are the ones this process reads.
    void pointAt(const std::string& host) {
        Value info = platform::dict();
        info["CFBundleIdentifier"] = "org.example.crashchild";
        info["QuillonCrashHost"] = host;
        info["QuillonConfigHost"] = host;
        ASSERT_TRUE(platform::fs::writeAtomically(bundleDir_ + "/Info.plist", *platform::toXMLPropertyList(info)));
        platform::Bundle::main().reloadFrom(bundleDir_);
    }
    Outcome run(const std::string& network, const std::string& mode) {
        const std::string path = childPath();
        // The report is assembled inside the signal handler by design; that is the one
        // thread-sanitizer finding the children are allowed.
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "TSAN_OPTIONS=", 13) != 0) env.emplace_back(*e);
        const char* tsan = std::getenv("TSAN_OPTIONS");
        env.push_back(std::string("TSAN_OPTIONS=") + (tsan ? tsan : "") + " report_signal_unsafe=0");
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_t pid = ::fork();
        if (pid == 0) {
            ::execle(path.c_str(), path.c_str(), bundleDir_.c_str(), network.c_str(), mode.c_str(),
                     static_cast<char*>(nullptr), envp.data());
            ::_exit(127);
        }
        Outcome out;
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                ADD_FAILURE() << "child did not end: " << mode;
                return out;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        out.exited = WIFEXITED(status);
        out.status = out.exited ? WEXITSTATUS(status) : -1;
        out.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        return out;
    }
    // The crash record the collector got (the one "submit" item).
    Value crashRecord() {
        for (const auto& r : collector_->records())
            if (r["item_ac"] == "submit") return r;
        return Value();
    }
    std::unique_ptr<testenv::Collector> collector_;
    std::string bundleDir_;
};

const std::regex kLine(R"([0-9]+ +[^ ]+ +0x[0-9a-f]{16} 0x[0-9a-f]{16} .+ \+ -?[0-9]+)");

}  // namespace

TEST_F(CrashProcessTest, SegmentationFaultOnlineIsSentAndTheProcessEndsWith246) {
    pointAt(collector_->host());
    Outcome out = run("online", "segv");
    EXPECT_TRUE(out.exited);
    EXPECT_EQ(out.status, 246);
    Value record = crashRecord();
    ASSERT_FALSE(record.is_null());
    EXPECT_EQ(record["name"], "exception Signal");
    EXPECT_EQ(record["reason"], "Application received signal SIGSEGV");
    const Value& event = record["body"]["data"];
    EXPECT_EQ(event["ty"], "2");
    EXPECT_EQ(event["csc"][0]["une"], "child-user");
    EXPECT_EQ(event["csc"][1]["bbs"].back()["nm"], "before the crash");
    const std::string trace = record["backtrace"];
    EXPECT_TRUE(std::regex_search(trace, kLine)) << trace;
    EXPECT_EQ(QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath()).getCacheRecordCount(), 0);
    // The process ended without running atexit handlers.
    EXPECT_FALSE(platform::fs::fileExists(testenv::home() + "/atexit-ran"));
}

TEST_F(CrashProcessTest, ASignalTheHandlersDoNotTakeEndsTheProcessWithThatSignal) {
    pointAt(collector_->host());
    Outcome out = run("online", "segv-over-limit");
    EXPECT_FALSE(out.exited);
    EXPECT_EQ(out.signal, SIGSEGV);
    EXPECT_TRUE(crashRecord().is_null());
}

TEST_F(CrashProcessTest, SegmentationFaultOfflineIsStoredAndSentAtTheNextLaunch) {
    pointAt(collector_->host());
    Outcome out = run("offline", "segv");
    EXPECT_EQ(out.status, 246);
    auto store = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath());
    Value stored = store.getReportData();
    ASSERT_TRUE(stored.is_array());
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0]["ac"], "submit");
    EXPECT_EQ(stored[0]["body"]["data"]["name"], "exception Signal");
    EXPECT_TRUE(crashRecord().is_null());

    Outcome flush = run("online", "flush");
    EXPECT_EQ(flush.status, 0);
    Value record = crashRecord();
    ASSERT_FALSE(record.is_null());
    EXPECT_EQ(record["ac"], "submore");
    EXPECT_EQ(record["reason"], "Application received signal SIGSEGV");
}

TEST_F(CrashProcessTest, UncaughtExceptionIsReportedWithItsTypeMessageAndThrowSite) {
    pointAt(collector_->host());
    for (const char* mode : {"cxx", "cxx-thread"}) {
        collector_->reset();
        Outcome out = run("online", mode);
        EXPECT_EQ(out.status, 246) << mode;
        Value record = crashRecord();
        ASSERT_FALSE(record.is_null()) << mode;
        EXPECT_EQ(record["name"], "std::runtime_error");
        EXPECT_EQ(record["reason"], "widget count out of range");
        const std::string trace = record["backtrace"];
        // The trace starts where the exception was thrown, not inside std::terminate.
        // (A sanitizer's own backtrace() may come first.)
        const auto cxaThrow = trace.find("__cxa_throw");
        ASSERT_NE(cxaThrow, std::string::npos) << trace;
        EXPECT_LE(std::count(trace.begin(), trace.begin() + static_cast<long>(cxaThrow), '\n'), 1) << trace;
        EXPECT_EQ(trace.find("terminate"), std::string::npos) << trace;
    }
}

TEST_F(CrashProcessTest, CrashesOnOtherThreadsStackOverflowAndAbortAreReportedOnline) {
    pointAt(collector_->host());
    // segv-blocked-main: the main thread never takes the report; it is made on the
    // crashing thread after the hand-off time.
    for (const char* mode : {"segv-thread", "segv-blocked-main", "overflow", "abort"}) {
        collector_->reset();
        Outcome out = run("online", mode);
        EXPECT_EQ(out.status, 246) << mode;
        Value record = crashRecord();
        ASSERT_FALSE(record.is_null()) << mode;
        EXPECT_EQ(record["name"], "exception Signal") << mode;
        const std::string expected = std::string(mode) == "abort" ? "SIGABRT" : "SIGSEGV";
        EXPECT_EQ(record["reason"], "Application received signal " + expected) << mode;
    }
}

TEST_F(CrashProcessTest, StackOverflowOnTheMainThreadIsStoredOffline) {
    // Offline, the whole 128-frame trace is kept in the store.
    pointAt(collector_->host());
    Outcome out = run("offline", "overflow");
    EXPECT_EQ(out.status, 246);
    Value stored = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath()).getReportData();
    ASSERT_TRUE(stored.is_array());
    ASSERT_EQ(stored.size(), 1u);
    const Value& event = stored[0]["body"]["data"];
    EXPECT_EQ(event["name"], "exception Signal");
    const std::string et = event["et"];
    EXPECT_EQ(et.rfind("Application received signal SIGSEGV\n0   ", 0), 0u) << et.substr(0, 200);
    EXPECT_GE(std::count(et.begin(), et.end(), '\n'), 100);
}
