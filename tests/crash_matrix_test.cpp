// Crashes of a real host process (tests/programs/quillon_crash_host), each against a
// collector on loopback with the test's own HOME: reported at once when the network is
// usable, stored and sent by the next launch when it is not.
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/Value.h"
#include "reliclass/QuillonConfiguration.h"
#include "reliclass/QuillonDataFileManager.h"
#include "support/Collector.h"
#include "support/CrashFixtures.h"
#include "support/HostProcess.h"
#include "support/TestEnv.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <thread>
#include <sstream>
#include <string>
#include <vector>

using ::testing::HasSubstr;

namespace {

struct CrashKind {
    const char* kind;
    const char* name;    // expected exception name ("" when only the reason is pinned)
    const char* reason;  // expected reason
};

void PrintTo(const CrashKind& k, std::ostream* os) { *os << k.kind; }

const CrashKind kKinds[] = {
    {"segv", "exception Signal", "Application received signal SIGSEGV"},
    {"abrt", "exception Signal", "Application received signal SIGABRT"},
    {"fpe", "exception Signal", "Application received signal SIGFPE"},
    {"ill", "exception Signal", "Application received signal SIGILL"},
    {"bus", "exception Signal", "Application received signal SIGBUS"},
    {"trap", "exception Signal", "Application received signal SIGTRAP"},
    {"pipe", "exception Signal", "Application received signal SIGPIPE"},
    {"cxx", "", "the host gave up"},
    {"platform", "HostInconsistency", "the ledger does not balance"},
    {"stackoverflow", "exception Signal", "Application received signal SIGSEGV"},
    {"bg-loop", "exception Signal", "Application received signal SIGSEGV"},
    {"bg-blocked", "exception Signal", "Application received signal SIGSEGV"},
    // No turn of the main loop between initialisation and the fault.
    {"at-init", "exception Signal", "Application received signal SIGSEGV"},
};

const char* kBundleId = "org.example.crash-host";

// "%-3d %-35s 0x%016lx 0x%016lx %s + %d"
const std::regex kBacktraceLine(R"(^(\d  |\d\d |\d{3,}) \S.{34,} 0x[0-9a-f]{16} 0x[0-9a-f]{16} .* \+ -?\d+$)");

std::vector<platform::Value> crashRecords(const platform::Value& records) {
    std::vector<platform::Value> out;
    for (const auto& r : records)
        if (platform::textOrEmpty(r, "item_ac") == "submit") out.push_back(r);
    return out;
}

// Waits until a record matching `pred` has arrived.
template <class Pred>
bool waitForRecord(testenv::Collector& collector, Pred pred, double timeoutSeconds = 20.0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    do {
        for (const auto& r : collector.records())
            if (pred(r)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

#if defined(__SANITIZE_THREAD__)
// Under the thread sanitizer: the crash handlers call what a dying process may call but a
// signal handler normally should not (they report from the main thread, by design), and the
// collector's HTTP library is not instrumented. Neither is a race of ours; both would end
// the children with the sanitizer's exit code.
void relaxSanitizerForChildren() {
    static bool done = [] {
        const std::string dir = testenv::makeTempDir("quillon-tsan");
        std::ofstream(dir + "/suppressions") << "called_from_lib:libcpp-httplib.so\n";
        std::string options = std::getenv("TSAN_OPTIONS") ? std::getenv("TSAN_OPTIONS") : "";
        options += " report_signal_unsafe=0 suppressions=" + dir + "/suppressions";
        setenv("TSAN_OPTIONS", options.c_str(), 1);
        return true;
    }();
    (void)done;
}
#else
void relaxSanitizerForChildren() {}
#endif

class CrashHost {
public:
    explicit CrashHost(const std::string& collectorHost) {
        bundleDir_ = testenv::makeTempDir("quillon-crash-bundle");
        testenv::writeInfoPlist(bundleDir_, kBundleId, collectorHost);
        // This process reads the same sandbox as the host.
        platform::Bundle::main().reloadFrom(bundleDir_);
        outDir_ = testenv::makeTempDir("quillon-crash-out");
    }
    std::vector<std::string> argv(const std::string& kind, const std::vector<std::string>& options = {}) const {
        std::vector<std::string> a{testenv::executableDirectory() + "/quillon_crash_host", bundleDir_, kind};
        a.insert(a.end(), options.begin(), options.end());
        return a;
    }
    testenv::HostResult run(const std::string& kind, const std::vector<std::string>& options = {}) const {
        return testenv::runHost(argv(kind, options), outDir_);
    }
    const std::string& outDir() const { return outDir_; }

    static std::int64_t storedCrashes() {
        return QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath()).getCacheRecordCount();
    }

private:
    std::string bundleDir_, outDir_;
};

std::string describe(const testenv::HostResult& r) {
    std::ostringstream s;
    s << "status " << r.status << " (exit " << r.exitCode() << ", signal " << r.termSignal() << ")"
      << (r.timedOut ? " timed out" : "") << "\n--- stdout\n" << r.out << "\n--- stderr\n" << r.err;
    return s.str();
}

void expectCrashRecord(const platform::Value& record, const CrashKind& k) {
    if (*k.name) EXPECT_EQ(platform::textOrEmpty(record, "name"), k.name);
    else EXPECT_FALSE(platform::textOrEmpty(record, "name").empty());
    EXPECT_EQ(platform::textOrEmpty(record, "reason"), k.reason);
    // Every line after the reason is a backtrace line.
    std::istringstream bt(platform::textOrEmpty(record, "backtrace"));
    std::string line;
    int lines = 0;
    while (std::getline(bt, line)) {
        ++lines;
        EXPECT_TRUE(std::regex_match(line, kBacktraceLine)) << "line: " << line;
    }
    EXPECT_GT(lines, 0);
    // The user string and the breadcrumbs travel with the crash.
    const platform::Value& body = record["body"];
    const platform::Value& csc = body["data"]["csc"];
    ASSERT_TRUE(csc.is_array());
    ASSERT_EQ(csc.size(), 2u);
    EXPECT_EQ(csc[0]["une"], "tester@example.org");
    const platform::Value& crumbs = csc[1]["bbs"];
    ASSERT_TRUE(crumbs.is_array());
    ASSERT_GE(crumbs.size(), 3u);
    EXPECT_EQ(crumbs[1]["nm"], "crash host started");
    EXPECT_EQ(crumbs[2]["nm"], std::string("about to ") + k.kind);
}

class CrashMatrixTest : public ::testing::TestWithParam<CrashKind> {};

TEST_P(CrashMatrixTest, OnlineCrashIsSentAtOnce) {
    const CrashKind& k = GetParam();
    testenv::Collector collector;
    CrashHost host(collector.host());
    testenv::HostResult r = host.run(k.kind);
    ASSERT_TRUE(r.exited()) << describe(r);
    ASSERT_EQ(r.exitCode(), 246) << describe(r);
    // The report was sent before the process ended.
    auto crashes = crashRecords(collector.records());
    ASSERT_EQ(crashes.size(), 1u) << describe(r);
    expectCrashRecord(crashes[0], k);
    EXPECT_EQ(CrashHost::storedCrashes(), 0);
}

TEST_P(CrashMatrixTest, OfflineCrashIsStoredAndSentByTheNextLaunch) {
    const CrashKind& k = GetParam();
    testenv::Collector collector;
    CrashHost host(collector.host());
    testenv::HostResult r = host.run(k.kind, {"offline"});
    ASSERT_EQ(r.exitCode(), 246) << describe(r);
    EXPECT_TRUE(crashRecords(collector.records()).empty());
    ASSERT_EQ(CrashHost::storedCrashes(), 1);

    // The next launch sends the stored crash and empties the list (the program exits 0 once
    // its stores are empty).
    testenv::HostResult next = host.run("none");
    ASSERT_EQ(next.exitCode(), 0) << describe(next);
    auto crashes = crashRecords(collector.records());
    ASSERT_EQ(crashes.size(), 1u);
    EXPECT_EQ(platform::textOrEmpty(crashes[0], "ac"), "submore");
    expectCrashRecord(crashes[0], k);
    EXPECT_EQ(CrashHost::storedCrashes(), 0);
}

// Before any collector or host starts.
[[maybe_unused]] const bool kRelaxed = (relaxSanitizerForChildren(), true);

INSTANTIATE_TEST_SUITE_P(Kinds, CrashMatrixTest, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<CrashKind>& info) {
                             std::string n = info.param.kind;
                             for (auto& c : n)
                                 if (c == '-') c = '_';
                             return n;
                         });

TEST(CrashHostTest, DelegateHearsOfTheCrashBeforeTheEnd) {
    testenv::Collector collector;
    CrashHost host(collector.host());
    testenv::HostResult r = host.run("platform", {"delegate"});
    ASSERT_EQ(r.exitCode(), 246) << describe(r);
    // A raised exception carries its stack; the delegate gets it as lines.
    EXPECT_THAT(r.out, ::testing::MatchesRegex("(.|\n)*DELEGATE lines=[1-9][0-9]*\n(.|\n)*"));
    testenv::HostResult s = host.run("segv", {"delegate"});
    ASSERT_EQ(s.exitCode(), 246) << describe(s);
    EXPECT_THAT(s.out, HasSubstr("DELEGATE lines="));
}

TEST(CrashHostTest, TheEleventhEventIsNotReported) {
    testenv::Collector collector;
    CrashHost host(collector.host());
    // Nine events already counted: the tenth is still reported.
    testenv::HostResult tenth = host.run("segv", {"count=9"});
    ASSERT_EQ(tenth.exitCode(), 246) << describe(tenth);
    ASSERT_EQ(crashRecords(collector.records()).size(), 1u);
    // Ten counted: the handler stands aside and the signal takes its default course.
    testenv::HostResult eleventh = host.run("segv", {"count=10"});
    EXPECT_FALSE(eleventh.exited() && eleventh.exitCode() == 246) << describe(eleventh);
    EXPECT_EQ(eleventh.termSignal(), SIGSEGV) << describe(eleventh);
    EXPECT_EQ(crashRecords(collector.records()).size(), 1u);
    EXPECT_EQ(CrashHost::storedCrashes(), 0);
}

TEST(CrashHostTest, ExtensionCrashNoticeIsReportedFromTheGroupContainer) {
    testenv::Collector collector;
    CrashHost host(collector.host());
    const std::string group = "group.org.example.crash-host";
    const std::string container = platform::fs::dataHome() + "/app-groups/" + group;
    ASSERT_TRUE(platform::fs::createDirectories(container));
    testenv::HostProcess app(host.argv("none", {"group=" + group, "stay"}), host.outDir());
    ASSERT_TRUE(app.waitForOutput("READY")) << app.errors();

    platform::Value payload = platform::dict();
    payload["exception"] = platform::dict();
    payload["exception"]["name"] = "WidgetCrash";
    payload["exception"]["reason"] = "timeline provider died";
    payload["exception"]["stacktrace"] =
        "0   widget                              0x0000000000401000 0x0000000000001000 main + 16";
    payload["info"] = platform::dict();
    payload["info"]["bi"] = "org.example.crash-host.widget";
    ASSERT_TRUE(platform::fs::writeAtomically(container + "/qlmon.appex.crashed",
                                              *platform::toXMLPropertyList(payload)));
    testenv::HostResult notify = testenv::runHost(
        {testenv::executableDirectory() + "/../tools/notify/quillon-notify", "post", "qlmon.appex.crashed"},
        host.outDir());
    ASSERT_EQ(notify.exitCode(), 0) << describe(notify);

    ASSERT_TRUE(waitForRecord(collector, [](const platform::Value& r) {
        return platform::textOrEmpty(r, "name") == "WidgetCrash";
    }));
    for (const auto& r : collector.records()) {
        if (platform::textOrEmpty(r, "name") != "WidgetCrash") continue;
        EXPECT_EQ(platform::textOrEmpty(r, "reason"), "timeline provider died");
        EXPECT_THAT(platform::textOrEmpty(r, "backtrace"), HasSubstr("widget"));
    }
}

}  // namespace

// ------------------------------------------------------------------ hardening of the crash path

namespace {

// A configuration saved by an earlier run, as the host will load it at launch.
void saveServerTimeout(std::int64_t to) {
    auto& config = QuillonConfiguration::shareConfiguration();
    config.to = to;
    config.configRequestTime = static_cast<double>(std::time(nullptr));
    ASSERT_TRUE(config.saveConfigurationToFile());
}

// Accepts connections (in the kernel's backlog) and never answers.
class SilentServer {
public:
    SilentServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd_, 16) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            ADD_FAILURE() << "no listening socket";
        port_ = ntohs(addr.sin_port);
    }
    ~SilentServer() { ::close(fd_); }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    int fd_ = -1;
    int port_ = 0;
};

// Seconds from a crash report reaching a server that never answers to the host's exit, with
// the server's time-out "to" saved by an earlier run.
double secondsFromReportToExit(std::int64_t to) {
    testenv::Collector collector({"--answer", "noanswer"});
    CrashHost host(collector.host());
    saveServerTimeout(to);
    testenv::HostProcess child(host.argv("segv"), host.outDir());
    const bool arrived = waitForRecord(collector, [](const platform::Value& r) {
        return platform::textOrEmpty(r, "ac") == "submit";
    });
    const auto seen = std::chrono::steady_clock::now();
    const testenv::HostResult r = child.wait(30);
    EXPECT_TRUE(arrived) << describe(r);
    EXPECT_EQ(r.exitCode(), 246) << describe(r);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - seen).count();
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(CrashHardeningTest, ASecondCrashWaitsForTheReportInProgress) {
    // A server that takes the connection and never reads it: the first report's send outlasts
    // the hand-off, during which the second thread faults.
    SilentServer server;
    CrashHost host(server.host());
    testenv::HostResult r = host.run("two-threads");
    ASSERT_EQ(r.exitCode(), 246) << describe(r);
    auto stored = QuillonDataFileManager::fileManagerWith(QuillonDataFileManager::crashDataPath()).getReportData();
    ASSERT_EQ(stored.size(), 1u) << describe(r);
    EXPECT_EQ(stored[0]["body"]["data"]["name"], "exception Signal");
    EXPECT_EQ(stored[0]["body"]["data"]["et"].get<std::string>().rfind("Application received signal SIGSEGV\n", 0), 0u);
}

TEST(CrashHardeningTest, AServerThatNeverAnswersLeavesTheCrashStoredWithinTheBudget) {
    testenv::Collector collector({"--answer", "noanswer"});
    CrashHost host(collector.host());
    saveServerTimeout(0);  // no usable time-out from the server
    testenv::HostResult r = host.run("segv");
    ASSERT_EQ(r.exitCode(), 246) << describe(r);
    ASSERT_EQ(CrashHost::storedCrashes(), 1) << describe(r);
}

TEST(CrashHardeningTest, TheServersTimeOutBoundsTheCrashTimeSend) {
    // The send gives up after the server's one second, not the default three.
    EXPECT_LT(secondsFromReportToExit(1), 2.0);
    // Outside 1..600 seconds the default three hold.
    const double fallback = secondsFromReportToExit(601);
    EXPECT_GT(fallback, 2.0);
    EXPECT_LT(fallback, 10.0);
}

TEST(CrashHardeningTest, AHostThatNeverRunsTheMainLoopIsStillCovered) {
    testenv::Collector collector;
    CrashHost host(collector.host());
    testenv::HostResult r = host.run("no-loop");
    ASSERT_EQ(r.exitCode(), 246) << describe(r);
    EXPECT_EQ(crashRecords(collector.records()).size(), 1u);
    EXPECT_EQ(count(r.err, "the main run loop did not run"), 1u) << r.err;
}

TEST(CrashHardeningTest, AnIgnoredSigpipeStaysIgnored) {
    testenv::Collector collector;
    CrashHost host(collector.host());
    testenv::HostResult r = host.run("pipe-ignored");
    ASSERT_EQ(r.exitCode(), 0) << describe(r);
    EXPECT_THAT(r.out, HasSubstr("EPIPE"));
    EXPECT_TRUE(crashRecords(collector.records()).empty());
}

TEST(CrashHardeningTest, AForkedChildWorksInTheBackgroundAndIsReported) {
    testenv::Collector collector;
    CrashHost host(collector.host());
    testenv::HostResult r;
    // The sanitizer's own threads do not survive a fork either; let the child go on.
    testenv::withChildSanitizerOptions("die_after_fork=0", [&] { r = host.run("fork"); });
    ASSERT_EQ(r.exitCode(), 246) << describe(r);
    EXPECT_THAT(r.out, HasSubstr("child async: done"));
    ASSERT_TRUE(waitForRecord(collector, [](const platform::Value& r) {
        if (platform::textOrEmpty(r, "item_ac") != "submit") return false;
        for (const auto& crumb : r["body"]["data"]["csc"][1]["bbs"])
            if (crumb["nm"] == "in the forked child") return true;
        return false;
    }, 5));
}
