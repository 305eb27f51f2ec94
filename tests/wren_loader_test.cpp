// The feedback facade and its loader: starting (key, console lines, settings copied on the
// main loop), the user-data list, and what reaches the collector from the API message, the
// cache and a committed report.
#include "quillon/Quillon.h"
#include "wren/Wren.h"

#include "Wren/WrenDataHandler.h"
#include "Wren/WrenLoader.h"
#include "Wren/WrenPreferences.h"
#include "Wren/WrenReportData.h"
#include "platform/foundation/Files.h"
#include "platform/runtime/RunLoop.h"
#include "support/Collector.h"
#include "support/FeedbackEnv.h"
#include "support/HostProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <future>

using platform::Value;

namespace {

const char* kFinished = "[WRENSHAKE INFO] init finished!";
const char* kNoKey = "[WRENSHAKE ERROR] Application ID is nil, get it from websit.";

// Everything written to standard error while it lives.
class StderrCapture {
public:
    StderrCapture() {
        path_ = testenv::makeTempDir("wren-stderr") + "/stderr";
        fflush(stderr);
        saved_ = dup(2);
        int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        close(fd);
    }
    ~StderrCapture() { restore(); }
    std::string text() {
        restore();
        return testenv::HostProcess::readAll(path_);
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

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
}

// Runs what the start queued on the main loop (the tests run on the main thread).
void runPreload() { platform::RunLoop::main().runPending(); }

class ClosedListener : public QuillonDelegate, public WrenDelegate {
public:
    int closed = 0;
    void userClosedShakeReport() override { ++closed; }
};

TEST(WrenLoaderTest, StartTrimsTheKeyAndCopiesSettingsOnTheMainLoop) {
    WrenConfig config = WrenConfig::defaultConfig();
    config.enabledShake = false;  // the on-screen flow turns shaking on anyway
    config.reportOnlyWIFI = false;
    config.wayOfFeedback = 2;
    config.showCloseShakeOption = true;
    config.supportSelectFromImageLibrary = false;
    ClosedListener listener;
    config.wrenDelegate = &listener;

    StderrCapture capture;
    Wren::init(" \n  first   word\t second \n ", config);
    WrenLoader* loader = WrenLoader::activeInstance();
    ASSERT_NE(loader, nullptr);
    EXPECT_EQ(loader->appKey(), "first word second");
    Wren::setUserInfo("tester");
    // Nothing is copied before the main loop runs the preload.
    auto& p = WrenPreferences::sharedInstance();
    EXPECT_FALSE(p.appKey().has_value());
    EXPECT_FALSE(platform::fs::fileExists(wrenCacheDirectory()));
    EXPECT_EQ(count(capture.text(), kFinished), 1u);

    runPreload();
    EXPECT_EQ(p.appKey(), "first word second");
    EXPECT_EQ(p.userInfo(), "tester");
    EXPECT_TRUE(p.enabledShake());
    EXPECT_FALSE(p.reportOnlyWIFI());
    EXPECT_EQ(p.wayOfFeedback(), 2);
    EXPECT_TRUE(p.showCloseFeedbackOption());
    EXPECT_FALSE(p.supportSelectFromImageLibrary());
    EXPECT_TRUE(platform::fs::isDirectory(wrenCacheDirectory()));
    ASSERT_TRUE(loader->dataHandler().reportData().has_value());  // the cache was looked at

    // Later settings go straight to the preferences; user info only at the next start.
    Wren::enabledShakeReport(false);
    EXPECT_FALSE(p.enabledShake());
    Wren::switchWayOfFeedback(1);
    EXPECT_EQ(p.wayOfFeedback(), 1);
    Wren::setUserInfo("other");
    EXPECT_EQ(p.userInfo(), "tester");

    loader->windowControllerClosedShakeReport(nullptr);
    EXPECT_EQ(listener.closed, 1);

    // Starting again keeps the loader and replaces key and configuration.
    config.wrenDelegate = nullptr;
    config.enabledReportUI = false;
    Wren::init("second", config);
    EXPECT_EQ(WrenLoader::activeInstance(), loader);
    runPreload();
    EXPECT_EQ(p.appKey(), "second");
    EXPECT_EQ(p.userInfo(), "other");
    EXPECT_FALSE(p.enabledShake());
    loader->windowControllerClosedShakeReport(nullptr);  // no delegate: nothing happens
    EXPECT_EQ(listener.closed, 1);
}

TEST(WrenLoaderTest, MissingKeyPrintsTheErrorAndLeavesTheSideUnstarted) {
    StderrCapture capture;
    Wren::init("");
    Wren::init(std::nullopt);
    Wren::init(" \t\n ");
    Wren::setUserData("v", "k");
    Wren::feedbackWithMessage("hello", nullptr);
    Wren::enabledShakeReport(true);
    Wren::removeAllUserData();
    const std::string text = capture.text();
    EXPECT_EQ(count(text, kNoKey), 3u);
    EXPECT_EQ(count(text, kFinished), 0u);
    EXPECT_EQ(WrenLoader::activeInstance(), nullptr);
    runPreload();
    EXPECT_FALSE(WrenPreferences::sharedInstance().enabledShake());
}

TEST(WrenLoaderTest, CacheDirectoryFailureIsReportedAndStartGoesOn) {
    // A file where the Caches directory should be: "quillon" cannot be made inside it.
    const std::string caches = platform::fs::cachesDirectory();
    ASSERT_TRUE(platform::fs::createDirectories(platform::fs::deletingLastPathComponent(caches)));
    ASSERT_TRUE(platform::fs::writeAtomically(caches, "not a directory"));
    StderrCapture capture;
    Wren::init("key");
    runPreload();
    EXPECT_EQ(count(capture.text(), "create dir error:"), 1u);
    EXPECT_TRUE(WrenPreferences::sharedInstance().enabledShake());
    EXPECT_TRUE(WrenLoader::activeInstance()->dataHandler().reportData().has_value());
}

TEST(WrenLoaderTest, UserDataKeepsTheNewest101AndRemovesOneEntryPerNilValue) {
    WrenConfig config = WrenConfig::defaultConfig();
    config.enabledReportUI = false;
    Wren::init("key", config);
    WrenLoader& loader = *WrenLoader::activeInstance();

    for (int i = 1; i <= 102; ++i) Wren::setUserData("v" + std::to_string(i), "k" + std::to_string(i));
    Value list = loader.userData();
    ASSERT_EQ(list.size(), 101u);
    EXPECT_EQ(list.front(), (Value{{"k2", "v2"}}));
    EXPECT_EQ(list.back(), (Value{{"k102", "v102"}}));

    Wren::removeAllUserData();
    EXPECT_TRUE(loader.userData().empty());

    // The same key twice stays twice; a nil value removes only the oldest of them.
    Wren::setUserData("same", "dup");
    Wren::setUserData("x", "other");
    Wren::setUserData("same", "dup");
    Wren::setUserData(std::nullopt, "dup");
    EXPECT_EQ(loader.userData(), (Value::array({Value{{"other", "x"}}, Value{{"dup", "same"}}})));
    Wren::setUserData(std::nullopt, "missing");
    Wren::setUserData("ignored", "");
    Wren::setUserData("ignored", std::nullopt);
    Wren::setUserData("", "blank");  // an empty value is a value
    EXPECT_EQ(loader.userData(),
              (Value::array({Value{{"other", "x"}}, Value{{"dup", "same"}}, Value{{"blank", ""}}})));
}

class WrenLoaderCollectorTest : public ::testing::Test {
protected:
    void SetUp() override {
        collector_ = std::make_unique<testenv::Collector>();
        testenv::useBundle(Value{{"WrenFeedbackHost", collector_->host()}, {"WrenFileStoreHost", collector_->host()}});
        testenv::useModem("262", "01", "CTRadioAccessTechnologyLTE");
        testenv::useLink(testenv::Link::WiFi);
    }
    void TearDown() override {
        platform::setReachabilitySource(nullptr);
        platform::telephony::setTelephonySourceForTesting(nullptr);
    }

    // Runs what `start` submits through the loader's data handler and waits until it is over.
    static bool run(const std::function<void()>& start) {
        WrenDataHandler& h = WrenLoader::activeInstance()->dataHandler();
        auto done = std::make_shared<std::promise<bool>>();
        h.setFinishedHandler([done](bool sent) { done->set_value(sent); });
        start();
        auto f = done->get_future();
        EXPECT_EQ(f.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        h.setFinishedHandler(nullptr);
        return f.get();
    }

    static void cacheReport(const std::string& comment) {
        WrenReportData r;
        r.haveData = true;
        r.modifiedImageKey = "http://files/cached.jpg";
        r.commentText = comment;
        r.deviceInfo = Value{{"und", "cached-device"}};
        r.reportId = "cached-id";
        ASSERT_TRUE(r.archiveRootObject(wrenReportDataPath()));
    }

    std::unique_ptr<testenv::Collector> collector_;
};

TEST_F(WrenLoaderCollectorTest, WithoutTheReportUINoCacheIsSentButMessagesAre) {
    cacheReport("from an earlier run");
    WrenConfig config = WrenConfig::defaultConfig();
    config.enabledReportUI = false;
    Wren::init("msg-key", config);
    runPreload();
    WrenLoader& loader = *WrenLoader::activeInstance();
    EXPECT_FALSE(WrenPreferences::sharedInstance().enabledShake());
    EXPECT_FALSE(loader.dataHandler().reportData().has_value());  // the cache was never read

    Wren::setUserData("v", "k");
    Wren::feedbackWithMessage("", nullptr);
    Wren::feedbackWithMessage(std::nullopt, nullptr);
    EXPECT_TRUE(run([] { Wren::feedbackWithMessage("the list is slow", nullptr); }));
    EXPECT_EQ(WrenPreferences::sharedInstance().feedbackType(), 4);

    const Value fb = collector_->feedback();
    ASSERT_EQ(fb.size(), 1u);
    const Value& body = fb[0]["body"];
    EXPECT_EQ(body["appkey"], "msg-key");
    EXPECT_EQ(body["user_data"], Value::object());  // the collector decodes the JSON text
    EXPECT_TRUE(body["device"].contains("model"));
    const Value& data = body["messages"][0]["data"];
    EXPECT_EQ(data["type"], "OTHER");
    EXPECT_EQ(data["message"], "the list is slow");
    // The earlier run's report still waits in the cache.
    auto cached = WrenReportData::unarchiveObjectWithFile(wrenReportDataPath());
    ASSERT_TRUE(cached);
    EXPECT_TRUE(cached->haveData);
    EXPECT_EQ(cached->commentText, "from an earlier run");
}

TEST_F(WrenLoaderCollectorTest, StartSendsTheCacheAndCommitsCarryUserDataOnlyWhenThereIsSome) {
    cacheReport("cached comment");
    Wren::init("ui-key");
    WrenLoader& loader = *WrenLoader::activeInstance();
    EXPECT_TRUE(run(runPreload));
    Value fb = collector_->feedback();
    ASSERT_EQ(fb.size(), 1u);
    EXPECT_EQ(fb[0]["body"]["messages"][0]["data"]["message"], "cached comment");
    EXPECT_EQ(fb[0]["body"]["device"], (Value{{"und", "cached-device"}}));

    Value report = platform::dict();
    report["modifiedImageData"] = platform::bytesValue(platform::Bytes(32, 0xd8));
    report["commentText"] = "no user data";
    report["contactText"] = "me@example.org";
    report["operation"] = Value::array({"tap Save"});
    const Value device{{"und", "dev"}};
    WrenPreferences::sharedInstance().setFeedbackType(0);
    EXPECT_TRUE(run([&] { loader.windowController(nullptr, report, device); }));

    Wren::setUserData("1", "a");
    Wren::setUserData("2", "b");
    report["commentText"] = "with user data";
    EXPECT_TRUE(run([&] { loader.windowController(nullptr, report, device); }));

    fb = collector_->feedback();
    ASSERT_EQ(fb.size(), 3u);
    for (size_t i = 1; i < 3; ++i) {
        const Value& body = fb[i]["body"];
        const Value& userData = body["user_data"];
        EXPECT_EQ(body["operatetrace"], Value::array({"tap Save"}));
        EXPECT_EQ(body["device"], device);
        if (body["messages"][0]["data"]["message"] == "no user data") {
            EXPECT_EQ(userData, Value::object());
        } else {
            EXPECT_EQ(userData, (Value{{"a", "1"}, {"b", "2"}}));
        }
        EXPECT_EQ(body["messages"][0]["data"]["type"], "PROBLEM");
    }
}

TEST(WrenLoaderTest, QuillonStartsTheFeedbackSideWhenShakeFeedbackIsEnabled) {
    testenv::useBundle(Value{{"WrenFeedbackHost", "127.0.0.1:1"}, {"WrenFileStoreHost", "127.0.0.1:1"}});
    QuillonConfig config = QuillonConfig::defaultConfig();
    config.enabledMonitorException = false;
    Quillon::init("crash-key", std::nullopt, config);
    EXPECT_EQ(WrenLoader::activeInstance(), nullptr);

    ClosedListener listener;
    config.crashDelegate = &listener;
    config.enabledShakeFeedback = true;
    config.alertBtnCloseShakeFeedback = true;
    config.reportOnlyWIFI = false;
    Quillon::init("  crash-key ", std::nullopt, config);
    WrenLoader* loader = WrenLoader::activeInstance();
    ASSERT_NE(loader, nullptr);
    EXPECT_EQ(loader->appKey(), "crash-key");
    runPreload();
    auto& p = WrenPreferences::sharedInstance();
    EXPECT_EQ(p.appKey(), "crash-key");
    EXPECT_TRUE(p.enabledShake());
    EXPECT_TRUE(p.showCloseFeedbackOption());
    EXPECT_FALSE(p.reportOnlyWIFI());
    EXPECT_EQ(p.wayOfFeedback(), 0);

    Quillon::setUserData("v", "k");
    EXPECT_EQ(loader->userData(), (Value::array({Value{{"k", "v"}}})));
    // The crash delegate hears about the switch-off when it is also a feedback delegate.
    loader->windowControllerClosedShakeReport(nullptr);
    EXPECT_EQ(listener.closed, 1);
}

}  // namespace
