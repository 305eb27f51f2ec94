#include "platform/foundation/Files.h"
#include "platform/system/Keychain.h"
#include "reliclass/QuillonMyKeyChainHelper.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

using platform::Value;
namespace keychain = platform::keychain;
namespace fs = platform::fs;

namespace {

std::vector<std::string> itemFiles() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(fs::keychainDirectory())) {
        names.push_back(e.path().string());
    }
    return names;
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Every test starts from an empty store, also when tests share a process.
class Keychain : public testing::Test {
protected:
    void SetUp() override { std::filesystem::remove_all(fs::keychainDirectory()); }
};
class KeyChainHelper : public Keychain {};

}  // namespace

TEST_F(Keychain, StatusesOfAddCopyRemove) {
    platform::Bytes out;
    EXPECT_EQ(keychain::copyMatching("svc", "acct", &out), keychain::kItemNotFound);
    EXPECT_EQ(keychain::remove("svc", "acct"), keychain::kItemNotFound);
    EXPECT_EQ(keychain::add("svc", "acct", {1, 2, 3}), keychain::kSuccess);
    EXPECT_EQ(keychain::add("svc", "acct", {9}), keychain::kDuplicateItem);
    EXPECT_EQ(keychain::add("svc", "other", {}), keychain::kSuccess);
    // Names that would concatenate alike are still different items.
    EXPECT_EQ(keychain::add("sv", "cacct", {7}), keychain::kSuccess);
    ASSERT_EQ(keychain::copyMatching("svc", "acct", &out), keychain::kSuccess);
    EXPECT_EQ(out, (platform::Bytes{1, 2, 3}));
    ASSERT_EQ(keychain::copyMatching("svc", "other", &out), keychain::kSuccess);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(keychain::remove("svc", "acct"), keychain::kSuccess);
    EXPECT_EQ(keychain::copyMatching("svc", "acct", &out), keychain::kItemNotFound);

    EXPECT_EQ(modeOf(fs::keychainDirectory()), 0700u);
    auto files = itemFiles();
    EXPECT_EQ(files.size(), 2u);  // no temporary files left behind
    for (const auto& f : files) EXPECT_EQ(modeOf(f), 0600u) << f;
}

TEST_F(Keychain, ServiceNamesStayInsideTheStore) {
    const std::string outside = fs::dataHome() + "/x";
    EXPECT_EQ(keychain::add("../../x", "../../x", {1}), keychain::kSuccess);
    EXPECT_EQ(keychain::add("a/b\0c", "/etc/passwd", {2}), keychain::kSuccess);
    EXPECT_FALSE(fs::fileExists(outside));
    EXPECT_FALSE(fs::fileExists(fs::dataHome() + "/../x"));
    EXPECT_EQ(itemFiles().size(), 2u);
    platform::Bytes out;
    ASSERT_EQ(keychain::copyMatching("../../x", "../../x", &out), keychain::kSuccess);
    EXPECT_EQ(out, platform::Bytes{1});
}

TEST_F(Keychain, CorruptItemReadsAsMissing) {
    ASSERT_EQ(keychain::add("svc", "svc", {1}), keychain::kSuccess);
    auto files = itemFiles();
    ASSERT_EQ(files.size(), 1u);
    ASSERT_TRUE(fs::writeAtomically(files[0], "garbage"));
    platform::Bytes out;
    EXPECT_EQ(keychain::copyMatching("svc", "svc", &out), keychain::kItemNotFound);
}

TEST_F(KeyChainHelper, QueryShape) {
    Value q = QuillonMyKeyChainHelper::getKeyChainQuery("QNDeviceUUIDKey");
    EXPECT_EQ(q.dump(), R"({"class":"genp","svce":"QNDeviceUUIDKey","acct":"QNDeviceUUIDKey","pdmn":"ck"})");
}

TEST_F(KeyChainHelper, SaveReadDelete) {
    EXPECT_TRUE(QuillonMyKeyChainHelper::getTokenWithService("QNDeviceUUIDKey").is_null());
    QuillonMyKeyChainHelper::saveToken("first", "QNDeviceUUIDKey");
    QuillonMyKeyChainHelper::saveToken("second", "QNDeviceUUIDKey");
    EXPECT_EQ(QuillonMyKeyChainHelper::getTokenWithService("QNDeviceUUIDKey"), "second");
    EXPECT_EQ(itemFiles().size(), 1u);

    QuillonMyKeyChainHelper::saveUserEmail("", "mail");
    EXPECT_EQ(QuillonMyKeyChainHelper::getEmailWithService("mail"), "");
    QuillonMyKeyChainHelper::deleteWithEmailService("mail");
    EXPECT_TRUE(QuillonMyKeyChainHelper::getEmailWithService("mail").is_null());

    QuillonMyKeyChainHelper::saveUserName("name", "same", "secret", "same");
    EXPECT_EQ(QuillonMyKeyChainHelper::getPasswordWithService("same"), "secret");
    EXPECT_EQ(QuillonMyKeyChainHelper::getUserNameWithService("same"), "secret");

    Value uid = platform::dict();
    uid["id"] = -12;
    uid["name"] = "Zoë";
    QuillonMyKeyChainHelper::saveUid(uid, "uid", "uname", "uname", "tok", "token");
    EXPECT_EQ(QuillonMyKeyChainHelper::getUidWithService("uid"), uid);
    EXPECT_EQ(QuillonMyKeyChainHelper::getUnameWithService("uname"), "uname");
    EXPECT_EQ(QuillonMyKeyChainHelper::getTokenWithService("token"), "tok");
    QuillonMyKeyChainHelper::deleteWithUidService("uid", "uname", "token");
    EXPECT_TRUE(QuillonMyKeyChainHelper::getUidWithService("uid").is_null());
    EXPECT_TRUE(QuillonMyKeyChainHelper::getUnameWithService("uname").is_null());
    EXPECT_TRUE(QuillonMyKeyChainHelper::getTokenWithService("token").is_null());
}

TEST_F(KeyChainHelper, ItemsOutliveTheSandbox) {
    QuillonMyKeyChainHelper::saveToken("device-id", "QNDeviceUUIDKey");
    ASSERT_TRUE(fs::createDirectories(fs::documentsDirectory()));
    std::filesystem::remove_all(fs::sandboxDirectory());
    EXPECT_EQ(QuillonMyKeyChainHelper::getTokenWithService("QNDeviceUUIDKey"), "device-id");
}

TEST_F(KeyChainHelper, UnreadableItemIsReportedAndReadsAsNull) {
    ASSERT_EQ(keychain::add("QNDeviceUUIDKey", "QNDeviceUUIDKey", {'n', 'o', 'p', 'e'}), keychain::kSuccess);
    testing::internal::CaptureStderr();
    Value v = QuillonMyKeyChainHelper::getTokenWithService("QNDeviceUUIDKey");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(v.is_null());
    EXPECT_NE(err.find("SDK error:NSInvalidArgumentException: "), std::string::npos) << err;
}

TEST_F(Keychain, ConcurrentAddsCreateOneItem) {
    std::atomic<int> successes{0}, duplicates{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            int rc = keychain::add("race", "race", platform::Bytes(1000, static_cast<std::uint8_t>(t)));
            if (rc == keychain::kSuccess) ++successes;
            if (rc == keychain::kDuplicateItem) ++duplicates;
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(successes.load(), 1);
    EXPECT_EQ(duplicates.load(), 3);
    platform::Bytes out;
    ASSERT_EQ(keychain::copyMatching("race", "race", &out), keychain::kSuccess);
    ASSERT_EQ(out.size(), 1000u);
    EXPECT_EQ(out, platform::Bytes(1000, out[0]));  // one writer's data, whole
    EXPECT_EQ(itemFiles().size(), 1u);
}

TEST_F(Keychain, TheNextLaunchRemovesTemporaryFilesOfDeadProcessesAndKeepsTheItem) {
    // An earlier launch stored the item and died; its pid is free now.
    pid_t earlier = fork();
    if (earlier == 0) _exit(keychain::add("device", "device", {4, 2}) == keychain::kSuccess ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(earlier, &status, 0), earlier);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(itemFiles().size(), 1u);
    const std::string item = itemFiles()[0];
    const std::string dead = item + ".new-" + std::to_string(earlier) + "-7-0";
    const std::string deadNested = dead + ".tmp-Ab12Cd";
    const std::string live = item + ".new-" + std::to_string(getppid()) + "-9-0";
    for (const auto& f : {dead, deadNested, live}) ASSERT_TRUE(fs::writeAtomically(f, "partial"));

    // This process's first write clears what dead processes left; a live writer keeps its file.
    ASSERT_EQ(keychain::update("other", "other", {1}), keychain::kSuccess);
    EXPECT_FALSE(fs::fileExists(dead));
    EXPECT_FALSE(fs::fileExists(deadNested));
    EXPECT_TRUE(fs::fileExists(live));
    platform::Bytes out;
    ASSERT_EQ(keychain::copyMatching("device", "device", &out), keychain::kSuccess);
    EXPECT_EQ(out, (platform::Bytes{4, 2}));
    // Replacing keeps exactly one file for the item.
    ASSERT_EQ(keychain::update("device", "device", {5}), keychain::kSuccess);
    ASSERT_EQ(keychain::copyMatching("device", "device", &out), keychain::kSuccess);
    EXPECT_EQ(out, (platform::Bytes{5}));
    EXPECT_EQ(itemFiles().size(), 3u);  // the two items and the live writer's file
}
