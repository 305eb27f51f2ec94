// The system-wide notification center: posts from another process reach observers of the
// name, other names do not, and the directory is private to the user.
#include "platform/runtime/DarwinNotifyCenter.h"
#include "support/CrashFixtures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

std::mutex gMutex;
std::condition_variable gCv;
std::vector<std::string> gSeen;

void remember(platform::DarwinNotifyCenter*, const void*, const std::string& name, const void*, const platform::Value&) {
    std::lock_guard lock(gMutex);
    gSeen.push_back(name);
    gCv.notify_all();
}

bool waitForSeen(std::size_t n) {
    std::unique_lock lock(gMutex);
    return gCv.wait_for(lock, std::chrono::seconds(10), [&] { return gSeen.size() >= n; });
}

class DarwinNotifyTest : public ::testing::Test {
protected:
    void SetUp() override {
        runtimeDir_ = testenv::makeTempDir("runtime");
        ::setenv("XDG_RUNTIME_DIR", runtimeDir_.c_str(), 1);
    }
    std::string runtimeDir_;
};

}  // namespace

TEST_F(DarwinNotifyTest, APostFromAnotherProcessReachesTheObserversOfThatNameOnly) {
    auto& center = platform::DarwinNotifyCenter::center();
    int a = 0, b = 0;
    ASSERT_TRUE(center.addObserver(&a, remember, "qlmon.appex.crashed"));
    ASSERT_TRUE(center.addObserver(&b, remember, "other.name"));
    pid_t child = ::fork();
    if (child == 0) {
        bool ok = platform::DarwinNotifyCenter::post("qlmon.appex.crashed");
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_TRUE(waitForSeen(1));
    // A second post of the other name proves the first one delivered nothing more.
    ASSERT_TRUE(platform::DarwinNotifyCenter::post("other.name"));
    ASSERT_TRUE(waitForSeen(2));
    std::lock_guard lock(gMutex);
    EXPECT_EQ(gSeen, (std::vector<std::string>{"qlmon.appex.crashed", "other.name"}));
}

TEST_F(DarwinNotifyTest, RemovedObserversHearNothingAndPairsAreNotDoubled) {
    auto& center = platform::DarwinNotifyCenter::center();
    int a = 0, b = 0;
    ASSERT_TRUE(center.addObserver(&a, remember, "n1"));
    ASSERT_TRUE(center.addObserver(&a, remember, "n1"));
    ASSERT_TRUE(center.addObserver(&b, remember, "n2"));
    EXPECT_EQ(center.observerCount("n1"), 1u);
    center.removeObserver(&a, "n1");
    ASSERT_TRUE(platform::DarwinNotifyCenter::post("n1"));
    ASSERT_TRUE(platform::DarwinNotifyCenter::post("n2"));
    ASSERT_TRUE(waitForSeen(1));
    std::lock_guard lock(gMutex);
    EXPECT_EQ(gSeen, (std::vector<std::string>{"n2"}));
}

TEST_F(DarwinNotifyTest, NamesMustBeFileNamesAndTheDirectoryIsPrivate) {
    EXPECT_FALSE(platform::DarwinNotifyCenter::post(""));
    EXPECT_FALSE(platform::DarwinNotifyCenter::post("../escape"));
    EXPECT_FALSE(platform::DarwinNotifyCenter::post(".hidden"));
    EXPECT_FALSE(platform::DarwinNotifyCenter::center().addObserver(this, remember, "a/b"));
    auto dir = platform::DarwinNotifyCenter::directory();
    ASSERT_TRUE(dir);
    EXPECT_EQ(*dir, runtimeDir_ + "/quillon-notify");
    struct stat st{};
    ASSERT_EQ(::stat(dir->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // Each post leaves a counter in the name's file.
    ASSERT_TRUE(platform::DarwinNotifyCenter::post("counted"));
    ASSERT_TRUE(platform::DarwinNotifyCenter::post("counted"));
    EXPECT_EQ(platform::fs::readFile(*dir + "/counted"), "2\n");
}

TEST_F(DarwinNotifyTest, WithoutARuntimeDirectoryATmpDirectoryOfTheUserIsUsed) {
    ::unsetenv("XDG_RUNTIME_DIR");
    const std::string expected = "/tmp/quillon-notify-" + std::to_string(::geteuid());
    const bool existed = ::access(expected.c_str(), F_OK) == 0;
    auto dir = platform::DarwinNotifyCenter::directory();
    if (!existed) ::rmdir(expected.c_str());
    ASSERT_TRUE(dir);
    EXPECT_EQ(*dir, expected);
}
