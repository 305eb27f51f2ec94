// Reading the application's recent console messages back: the log file the logger writes,
// a real journal file, the newest-101 rule and the text form.
#include "SyslogClient/SyslogClient.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/LogFile.h"
#include "platform/foundation/Logger.h"
#include "platform/system/SystemLog.h"
#include "support/FeedbackEnv.h"
#include "support/TestEnv.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>

using platform::LogEntry;
using platform::LogFile;

namespace {

class SyslogTest : public ::testing::Test {
protected:
    void SetUp() override { testenv::useBundle(platform::dict()); }
    void TearDown() override {
        platform::setSystemLogSource(nullptr);
        LogFile::setMaxBytes(1024 * 1024);
    }

    // A log file of its own with `n` messages "m<i>" of the application, one message of
    // another sender after each.
    static std::string writeLog(int n, std::size_t maxBytes = 64 * 1024 * 1024) {
        const std::string path = testenv::makeTempDir("log") + "/console.log";
        for (int i = 0; i < n; ++i) {
            LogFile::append(path, LogEntry{1000.0 + i, 7, "WrenHost", "m" + std::to_string(i)}, maxBytes);
            LogFile::append(path, LogEntry{1000.5 + i, 8, "Other", "o" + std::to_string(i)}, maxBytes);
        }
        return path;
    }
};

TEST_F(SyslogTest, LoggerLinesComeBackAsTheNewest101InLogOrder) {
    for (int i = 0; i < 250; ++i) platform::logf("message %d", i);
    // Another sender's lines in the same file are not the application's.
    LogFile::append(LogFile::defaultPath(), LogEntry{1e9, 1, "Other", "foreign"}, LogFile::maxBytes());

    EXPECT_EQ(platform::systemLogSource()->name(), "file");
    const auto lines = SyslogClient::logs();
    ASSERT_EQ(lines.size(), 101u);
    const std::regex shape(R"(\[\d+\.\d{6}\] message (\d+))");
    for (size_t i = 0; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, shape)) << lines[i];
        EXPECT_EQ(std::stoi(m[1]), 149 + static_cast<int>(i));
    }
    struct stat st;
    ASSERT_EQ(stat(LogFile::defaultPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(SyslogTest, LimitIsInclusiveOf101AndOtherSendersAreSkipped) {
    for (int n : {0, 1, 101, 102}) {
        platform::setSystemLogSource(platform::makeFileLogSource(writeLog(n)));
        const auto lines = SyslogClient::logs();
        ASSERT_EQ(lines.size(), static_cast<size_t>(std::min(n, 101))) << n;
        if (n > 0) {
            EXPECT_EQ(lines.front(), platform::format("[%f] m%d", 1000.0 + std::max(0, n - 101), std::max(0, n - 101)));
            EXPECT_EQ(lines.back(), platform::format("[%f] m%d", 1000.0 + n - 1, n - 1));
        }
    }
    const auto other = SyslogClient::getLogs({"Sender", "Other"});
    EXPECT_EQ(other.back(), "[1101.500000] o101");
    EXPECT_EQ(SyslogClient::getLogs({"PID", "8"}).size(), 101u);
    EXPECT_TRUE(SyslogClient::getLogs({"Facility", "x"}).empty());
}

TEST_F(SyslogTest, RotationBoundsTheFileAndTheTailSpansBothGenerations) {
    // Small limit: the file rotates many times; what is left is read across the two files.
    const std::string path = writeLog(400, 8 * 1024);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_LE(st.st_size, 8 * 1024 + 64);
    ASSERT_TRUE(platform::fs::fileExists(LogFile::rotatedPath(path)));

    platform::setSystemLogSource(platform::makeFileLogSource(path));
    std::vector<std::string> all;
    platform::systemLogSource()->search({"Sender", "WrenHost"}, [&](const platform::LogMessage& m) {
        all.push_back(m.message);
        return true;
    });
    ASSERT_GT(all.size(), 101u);
    EXPECT_EQ(all.back(), "m399");
    const auto lines = SyslogClient::logs();
    ASSERT_EQ(lines.size(), 101u);
    // The tail equals the last 101 of a forward read, whichever file each line came from.
    for (size_t i = 0; i < 101; ++i) EXPECT_NE(lines[i].find("] " + all[all.size() - 101 + i]), std::string::npos);
}

TEST_F(SyslogTest, EntriesKeepNewlinesTabsAndBackslashes) {
    const LogEntry in{12.25, 99, "we\tird", "line one\nline\ttwo \\n end\r"};
    LogEntry out;
    const std::string line = LogFile::encode(in);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    ASSERT_TRUE(LogFile::decode(line, out));
    EXPECT_EQ(out.time, in.time);
    EXPECT_EQ(out.pid, in.pid);
    EXPECT_EQ(out.sender, in.sender);
    EXPECT_EQ(out.message, in.message);
    EXPECT_FALSE(LogFile::decode("garbage without tabs", out));

    platform::log("first\nsecond");
    // A long message is kept to its first 1024 bytes, so logged reports cannot snowball.
    platform::log(std::string(5000, 'x'));
    const auto lines = SyslogClient::logs();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("] first\nsecond"), std::string::npos);
    EXPECT_EQ(lines[1].substr(lines[1].find("] ") + 2), std::string(1024, 'x'));
}

TEST_F(SyslogTest, TextFormHasTheHeaderAndGmtDates) {
    EXPECT_EQ(SyslogClient::allEntriesForApp(), "All timestamps are GMT.\n\n");
    EXPECT_EQ(SyslogClient::allEntriesForProcess(), "All timestamps are GMT.\n\n");

    const std::string path = LogFile::defaultPath();
    const long pid = static_cast<long>(getpid());
    LogFile::append(path, LogEntry{1700000000.75, pid, "WrenHost", "evening"}, LogFile::maxBytes());
    LogFile::append(path, LogEntry{1700000000.0, pid + 1, "WrenHost", "other process"}, LogFile::maxBytes());
    LogFile::append(path, LogEntry{1699920000.0, pid, "Someone", "midnight"}, LogFile::maxBytes());
    EXPECT_EQ(SyslogClient::allEntriesForApp(),
              "All timestamps are GMT.\n\n[Nov 14, 10:13:20 PM] evening\n[Nov 14, 10:13:20 PM] other process\n");
    EXPECT_EQ(SyslogClient::allEntriesForProcess(),
              "All timestamps are GMT.\n\n[Nov 14, 10:13:20 PM] evening\n[Nov 14, 12:00:00 AM] midnight\n");
}

// A real journal file, written by systemd-journal-remote from the export format.
TEST_F(SyslogTest, JournalSourceMatchesIdentifierAndPidAndReadsTheTail) {
    const char* tool = "/lib/systemd/systemd-journal-remote";
    if (access(tool, X_OK) != 0) GTEST_SKIP() << "systemd-journal-remote is not installed (scripts/setup-deps)";
    const std::string dir = testenv::makeTempDir("journal");
    const std::string exportPath = dir + "/in.export";
    const std::string journal = dir + "/test.journal";
    {
        FILE* f = std::fopen(exportPath.c_str(), "w");
        ASSERT_NE(f, nullptr);
        for (int i = 0; i < 250; ++i) {
            const bool mine = i % 5 != 4;  // every fifth entry is another program's
            std::fprintf(f,
                         "__CURSOR=s=0;i=%d\n__REALTIME_TIMESTAMP=%lld\n__MONOTONIC_TIMESTAMP=%d\n"
                         "_BOOT_ID=0123456789abcdef0123456789abcdef\nMESSAGE=%s %d\nSYSLOG_IDENTIFIER=%s\n_PID=%d\n\n",
                         i, 1700000000000000LL + i * 1000000LL + 250000, i + 1, mine ? "mine" : "theirs", i,
                         mine ? "WrenHost" : "Other", mine ? 4242 : 77);
        }
        std::fclose(f);
    }
    pid_t child = fork();
    if (child == 0) {
        freopen(exportPath.c_str(), "r", stdin);
        freopen("/dev/null", "w", stderr);
        execl(tool, tool, "-o", journal.c_str(), "-", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    platform::setSystemLogSource(platform::makeJournalLogSource({journal}));
    const auto lines = SyslogClient::logs();
    ASSERT_EQ(lines.size(), 101u);
    // 200 entries are the application's; the newest 101 of them start at entry 123.
    EXPECT_EQ(lines.front(), "[1700000123.250000] mine 123");
    EXPECT_EQ(lines.back(), "[1700000248.250000] mine 248");
    const auto theirs = SyslogClient::getLogs({"PID", "77"});
    ASSERT_EQ(theirs.size(), 50u);
    EXPECT_EQ(theirs.front(), "[1700000004.250000] theirs 4");
    const std::string text = SyslogClient::runQuery({"PID", "77"});
    EXPECT_EQ(text.rfind("All timestamps are GMT.\n\n[Nov 14, 10:13:24 PM] theirs 4\n", 0), 0u);
}

}  // namespace

// The journal copy of a line: one datagram in journald's native format, a multi-line message
// in the length-prefixed form.
TEST(ApplicationLog, LinesGoToTheJournalSocketInItsNativeFormat)
{
    const std::string dir = testenv::makeTempDir("journal-socket");
    const std::string path = dir + "/socket";
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    platform::LogFile::setJournalSocketForTesting(path);
    auto receive = [&] {
        char buf[4096];
        timeval tv{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    };
    const std::string sender = platform::LogFile::senderName();

    platform::appendToApplicationLog("one line\n");
    EXPECT_EQ(receive(), "MESSAGE=one line\nSYSLOG_IDENTIFIER=" + sender + "\nPRIORITY=5\n");

    platform::appendToApplicationLog("config={\n a:1\n}");
    const std::string body = "config={\n a:1\n}";
    std::string expected = "MESSAGE\n";
    expected += static_cast<char>(body.size());
    expected += std::string(7, '\0');
    expected += body + "\nSYSLOG_IDENTIFIER=" + sender + "\nPRIORITY=5\n";
    EXPECT_EQ(receive(), expected);

    platform::LogFile::setJournalSocketForTesting("");
    ::close(fd);
}

// The file is kept open between lines; once another process has rotated it, the next line
// goes to a new file at the path.
TEST_F(SyslogTest, ALineAfterTheFileWasRotatedElsewhereGoesToTheFileAtThePath) {
    const std::string path = testenv::makeTempDir("rotated") + "/console.log";
    LogFile::append(path, LogEntry{1.0, 7, "WrenHost", "before"}, 1 << 20);
    ASSERT_EQ(::rename(path.c_str(), (path + ".1").c_str()), 0);
    LogFile::append(path, LogEntry{2.0, 7, "WrenHost", "after"}, 1 << 20);
    const auto current = platform::fs::readFile(path);
    ASSERT_TRUE(current);
    EXPECT_NE(current->find("after"), std::string::npos);
    EXPECT_EQ(current->find("before"), std::string::npos);
}
