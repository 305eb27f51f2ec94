// Feedback core: building a report body (101 log lines, 101 trace entries, 20 user-data
// entries), reading the newest 101 lines of a 100,000-message log, and one 200 KB screenshot
// upload plus report post to the loopback collector. Beside each, the baseline it is judged
// against: serialising the same body without the log read, a full forward scan of the same
// log, and a bare HTTP round trip to the same collector.
#include "SyslogClient/SyslogClient.h"
#include "Wren/WrenDataHandler.h"
#include "Wren/WrenImgCloudManager.h"
#include "Wren/WrenPreferences.h"
#include "Wren/WrenRequestManager.h"
#include "Wren/WrenURLProtocolManager.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/LogFile.h"
#include "platform/foundation/Logger.h"
#include "platform/net/Reachability.h"
#include "platform/net/URLSession.h"
#include "platform/system/SystemLog.h"
#include "support/FixedReachability.h"
#include "support/TestEnv.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <future>
#include <string>

extern char** environ;

using platform::Value;

namespace {

struct CollectorProcess {
    pid_t pid = -1;
    int port = 0;
    CollectorProcess() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], STDOUT_FILENO);
        char* argv[] = {const_cast<char*>(QUILLON_COLLECTOR_PATH), const_cast<char*>("--port"),
                        const_cast<char*>("0"), const_cast<char*>("--db"), const_cast<char*>(":memory:"), nullptr};
        const bool started = posix_spawn(&pid, argv[0], &fa, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&fa);
        close(fds[1]);
        std::string line;
        char c;
        while (started && read(fds[0], &c, 1) == 1 && c != '\n') line += c;
        close(fds[0]);
        const auto colon = line.rfind(':');
        if (colon != std::string::npos) port = std::atoi(line.c_str() + colon + 1);
    }
    ~CollectorProcess() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(port); }
};

// A private sandbox and a main bundle, once per process.
void setUpProcess(const std::string& host) {
    static bool once = (testenv::useFreshHome(), true);  // removed at exit
    (void)once;
    const std::string dir = std::string(getenv("HOME")) + "/bundle";
    platform::fs::createDirectories(dir);
    Value info = platform::dict();
    info["CFBundleIdentifier"] = "org.example.feedbackbench";
    info["CFBundleName"] = "FeedbackBench";
    info["WrenFeedbackHost"] = host;
    info["WrenFileStoreHost"] = host;
    platform::fs::writeAtomically(dir + "/Info.plist", *platform::toXMLPropertyList(info));
    platform::Bundle::main().reloadFrom(dir);
}

// Standard error goes to /dev/null while a benchmark runs: the report is logged each time.
struct QuietStderr {
    int saved = dup(STDERR_FILENO);
    QuietStderr() {
        int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        dup2(null, STDERR_FILENO);
        close(null);
    }
    ~QuietStderr() {
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
};

WrenURLProtocolManager fullReport() {
    WrenURLProtocolManager m;
    m.message = "The checkout button does nothing after the second tap on the cart screen.";
    m.contact = "tester@example.org";
    Value trace = Value::array();
    for (int i = 0; i < 101; ++i) trace.push_back(platform::format("2026-12-08 03:%02d:%02d tap UIButton<%d> in CartView", i % 60, i % 60, i));
    m.operationTrace = trace;
    Value user = Value::array();
    for (int i = 0; i < 20; ++i) user.push_back(Value{{"key" + std::to_string(i), "value number " + std::to_string(i)}});
    m.userDatas = user;
    m.deviceInfo = Value{{"und", "0123456789abcdef"}, {"model", "x86_64"}, {"sysver", "12"}, {"sysname", 1},
                         {"ram", {{"total", 8000000000LL}, {"free", 120000000}}},
                         {"network", {{"type", 1}, {"carrier", {{"isp", ""}, {"type", "1/(null)"}}}}}};
    m.appKey = "bench-key";
    m.modifiedImageKeys = Value::array({"http://127.0.0.1/_collector/files/1.jpg"});
    m.type = 0;
    return m;
}

void BM_MakeReportData_101Logs101Trace20UserData(benchmark::State& state) {
    setUpProcess("127.0.0.1:9");
    // A log of its own with 150 ordinary lines, so that the reports this benchmark logs do
    // not become the lines of the next report.
    const std::string path = std::string(getenv("HOME")) + "/short/console.log";
    for (int i = 0; i < 150; ++i) {
        platform::LogFile::append(path, platform::LogEntry{1700000000.0 + i, 4242, "FeedbackBench",
                                  platform::format("application line %d with some ordinary console text", i)},
                                  1 << 20);
    }
    platform::setSystemLogSource(platform::makeFileLogSource(path));
    const WrenURLProtocolManager m = fullReport();
    if (SyslogClient::logs().size() != 101) state.SkipWithError("expected 101 log lines");
    QuietStderr quiet;
    size_t bytes = 0;
    for (auto _ : state) {
        auto body = m.makeReportData();
        bytes = body ? body->size() : 0;
        benchmark::DoNotOptimize(body);
    }
    state.counters["body_KB"] = static_cast<double>(bytes) / 1024.0;
    platform::setSystemLogSource(nullptr);
}

// Baseline: the same body serialised without reading the log or logging it.
void BM_Baseline_SerialiseSameBody(benchmark::State& state) {
    const WrenURLProtocolManager m = fullReport();
    Value lines = Value::array();
    for (int i = 0; i < 101; ++i) {
        lines.push_back(platform::format("[%f] application line %d with some ordinary console text", 1700000049.0 + i, 49 + i));
    }
    Value body = Value::object();
    body["messages"] = m.dictMessages();
    body["operatetrace"] = *m.operationTrace;
    body["device"] = *m.deviceInfo;
    body["logs"] = platform::toJSON(lines, true);
    for (auto _ : state) benchmark::DoNotOptimize(platform::toJSON(body, true));
}

std::string bigLog() {
    static const std::string path = [] {
        setUpProcess("127.0.0.1:9");
        const std::string p = std::string(getenv("HOME")) + "/big/console.log";
        platform::fs::createDirectories(std::string(getenv("HOME")) + "/big");
        std::string text;
        for (int i = 0; i < 100000; ++i) {
            platform::LogEntry e{1700000000.0 + i * 0.01, 4242, i % 10 == 0 ? "Other" : "FeedbackBench",
                                 platform::format("console message number %d from the application", i)};
            text += platform::LogFile::encode(e) + "\n";
        }
        platform::fs::writeAtomically(p, text, 0600, false);
        return p;
    }();
    return path;
}

void BM_LogsTailOf100000Messages(benchmark::State& state) {
    platform::setSystemLogSource(platform::makeFileLogSource(bigLog()));
    for (auto _ : state) {
        auto lines = SyslogClient::logs();
        if (lines.size() != 101) state.SkipWithError("expected 101 lines");
        benchmark::DoNotOptimize(lines);
    }
    platform::setSystemLogSource(nullptr);
}

// Baseline: reading the whole log forward, keeping the last 101 (what a plain search does).
void BM_Baseline_LogsFullScanOf100000Messages(benchmark::State& state) {
    auto source = platform::makeFileLogSource(bigLog());
    for (auto _ : state) {
        std::deque<std::string> keep;
        source->search({"Sender", "FeedbackBench"}, [&](const platform::LogMessage& m) {
            if (keep.size() > 100) keep.pop_front();
            keep.push_back(platform::format("[%f] %s", m.time, m.message.c_str()));
            return true;
        });
        benchmark::DoNotOptimize(keep);
    }
}

void BM_Upload200KBAndPostReport(benchmark::State& state) {
    CollectorProcess collector;
    if (collector.port <= 0) {
        state.SkipWithError("collector did not start");
        return;
    }
    setUpProcess(collector.host());
    testenv::useFixedReachability(platform::kReachabilityReachable);
    WrenPreferences::sharedInstance().setAppKey("bench-key");
    WrenPreferences::sharedInstance().setReportOnlyWIFI(false);
    WrenDataHandler handler(WrenPreferences::sharedInstance());
    Value report = platform::dict();
    report["modifiedImageData"] = platform::bytesValue(platform::Bytes(200 * 1024, 0x7f));
    report["commentText"] = "bench";
    report["contactText"] = "bench@example.org";
    const Value device{{"und", "bench"}};
    std::optional<QuietStderr> quiet;
    if (getenv("FEEDBACK_BENCH_VERBOSE") == nullptr) quiet.emplace();
    int failures = 0;
    for (auto _ : state) {
        std::promise<bool> done;
        handler.setFinishedHandler([&](bool sent) { done.set_value(sent); });
        handler.reportData(report, device);
        failures += done.get_future().get() ? 0 : 1;
    }
    handler.setFinishedHandler(nullptr);
    platform::setReachabilitySource(nullptr);
    if (failures > 0) state.SkipWithError("a submission was cached instead of sent");
}

// Its first half alone: the signed 200 KB upload to the file store.
void BM_Upload200KBOnly(benchmark::State& state) {
    CollectorProcess collector;
    if (collector.port <= 0) {
        state.SkipWithError("collector did not start");
        return;
    }
    setUpProcess(collector.host());
    const platform::Bytes image(200 * 1024, 0x7f);
    int failures = 0;
    for (auto _ : state) {
        std::promise<bool> done;
        WrenImgCloudManager().uploadData(image, [&](const std::optional<WrenError>& e, const std::string&) {
            done.set_value(!e.has_value());
        });
        failures += done.get_future().get() ? 0 : 1;
    }
    if (failures > 0) state.SkipWithError("an upload failed");
}

// Its second half alone: building and posting the report that carries the stored file's URL.
void BM_PostReportOnly(benchmark::State& state) {
    CollectorProcess collector;
    if (collector.port <= 0) {
        state.SkipWithError("collector did not start");
        return;
    }
    setUpProcess(collector.host());
    testenv::useFixedReachability(platform::kReachabilityReachable);
    WrenPreferences::sharedInstance().setAppKey("bench-key");
    Value report = platform::dict();
    report["modifiedImageKey"] = "http://" + collector.host() + "/_collector/files/1.jpg";
    report["commentText"] = "bench";
    report["contactText"] = "bench@example.org";
    const Value device{{"und", "bench"}};
    std::optional<QuietStderr> quiet;
    if (getenv("FEEDBACK_BENCH_VERBOSE") == nullptr) quiet.emplace();
    int failures = 0;
    for (auto _ : state) {
        std::promise<bool> done;
        WrenRequestManager::requestDataReport(report, device, [&](bool ok) { done.set_value(ok); });
        failures += done.get_future().get() ? 0 : 1;
    }
    platform::setReachabilitySource(nullptr);
    if (failures > 0) state.SkipWithError("a post failed");
}

// Baseline: one bare POST of the same 200 KB to the file-store path of the same collector
// through the same session, unsigned (the collector reads the body, then refuses it).
void BM_Baseline_Bare200KBPost(benchmark::State& state) {
    CollectorProcess collector;
    if (collector.port <= 0) {
        state.SkipWithError("collector did not start");
        return;
    }
    platform::URLRequest r;
    r.url = "http://" + collector.host() + "/fs.action";
    r.setHeader("UPLOAD-JSON", "{\"apikey\":x}");
    r.method = "POST";
    r.body.assign(200 * 1024, '\x7f');
    for (auto _ : state) {
        std::promise<void> done;
        platform::URLSession::shared().dataTask(r, [&](const platform::URLResult&) { done.set_value(); });
        done.get_future().wait();
    }
}

}  // namespace

BENCHMARK(BM_Baseline_SerialiseSameBody)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_MakeReportData_101Logs101Trace20UserData)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_Baseline_LogsFullScanOf100000Messages)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK(BM_LogsTailOf100000Messages)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_Baseline_Bare200KBPost)->Unit(benchmark::kMillisecond)->Iterations(50)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK(BM_Upload200KBOnly)->Unit(benchmark::kMillisecond)->Iterations(50)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK(BM_PostReportOnly)->Unit(benchmark::kMillisecond)->Iterations(50)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK(BM_Upload200KBAndPostReport)->Unit(benchmark::kMillisecond)->Iterations(50)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK_MAIN();
