// The feedback flow end to end against quillon-collector: a host screen, taps, a shake, the
// alert, a stroke on the screenshot, the comment card and Submit, driven by the event script;
// then what the collector stored. Offline, the report waits in the cache for the next start.
#include "Wren/WrenDataHandler.h"
#include "Wren/WrenLoader.h"
#include "platform/foundation/Files.h"
#include "platform/runtime/RunLoop.h"
#include "support/Collector.h"
#include "support/FeedbackEnv.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>
#include <quillon/ui.h>
#include <wren/Wren.h>

#include <algorithm>
#include <vector>

using namespace quillon::ui;
using platform::Value;

namespace {

// The host's own screen: a button whose taps the trace records.
class InvoiceViewController : public ViewController {
public:
    void viewDidLoad() override {
        ViewController::viewDidLoad();
        view()->setBackgroundColor(Color::whiteColor());
        auto pay = std::make_shared<Button>(Rect(100, 200, 175, 44));
        pay->setTitle("Pay");
        view()->addSubview(pay);
    }
};

// The quantisation table segments (DQT) of a JPEG, up to its scan: what its quality chose.
std::vector<Bytes> quantisationTables(const Bytes& jpeg) {
    std::vector<Bytes> tables;
    for (std::size_t at = 2; at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA;) {
        const std::size_t end = std::min(jpeg.size(), at + 2 + (std::size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]));
        if (jpeg[at + 1] == 0xDB) tables.emplace_back(jpeg.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                                      jpeg.begin() + static_cast<std::ptrdiff_t>(end));
        at = end;
    }
    return tables;
}

class FeedbackEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        testenv::useFreshHome();
        Value plist = platform::dict();
        plist["WrenFeedbackHost"] = collector.host();
        plist["WrenFileStoreHost"] = collector.host();
        testenv::useBundle(plist);
        link = testenv::useLink(testenv::Link::WiFi);
        WrenConfig config = WrenConfig::defaultConfig();
        config.reportOnlyWIFI = false;
        config.enabledReportUI = reportUIAtStart;
        Wren::init("e2e-app-key", config);
        Wren::setUserData("household", "ledger");
        run(0.1);  // the feedback side starts (and hooks the screens) before the host's first screen
        window = std::make_shared<Window>();
        window->setRootViewController(std::make_shared<InvoiceViewController>());
        window->makeKeyAndVisible();
        if (!reportUIAtStart) Wren::enabledShakeReport(true);
        run(0.2);
    }
    void TearDown() override { platform::setReachabilitySource(nullptr); }

    static void run(double seconds) { platform::RunLoop::main().runFor(seconds); }
    static void play(const std::string& script) {
        ASSERT_TRUE(EventScript::play(script, "e2e"));
        for (int i = 0; i < 600 && EventScript::isPlaying(); ++i) run(0.05);
        ASSERT_FALSE(EventScript::isPlaying());
        EXPECT_EQ(EventScript::linesSkipped(), 0);
    }
    // Taps on the host, a shake, the given alert button, a stroke from (60, 300) to
    // (300, 300), a comment and a contact, Submit.
    static std::string giveFeedback(int alertButton) {
        return "tap 187 222\ntap 187 222\nshake\nwait 0.3\nalert " + std::to_string(alertButton) +
               "\nwait 0.6\ntap 20 400\nwait 0.3\ndrag 60 300 300 300 20 0.3\nwait 0.5\n"
               "tap 187 645\nwait 0.4\ntype 付款按钮点了没反应\ntap 187 250\ntype qa@example.com\n"
               "tap 355 42\nwait 0.5\n";
    }

    bool reportUIAtStart = true;
    testenv::Collector collector;
    std::shared_ptr<testenv::LinkFlags> link;
    std::shared_ptr<Window> window;
};

TEST_F(FeedbackEndToEnd, BugReportReachesTheCollectorWithImageTraceAndUserData) {
    play(giveFeedback(2));
    const Value feedback = collector.waitForFeedback(1);
    ASSERT_EQ(feedback.size(), 1u);
    const Value& body = feedback[0]["body"];
    const Value& data = body["messages"][0]["data"];
    EXPECT_EQ(data["type"], "PROBLEM");
    EXPECT_EQ(data["message"], "付款按钮点了没反应");
    EXPECT_EQ(data["contact"], "qa@example.com");
    EXPECT_NE(body["user_data"].dump().find("household"), std::string::npos);
    std::string trace;
    for (const auto& line : body["operatetrace"]) trace += line.get<std::string>() + "\n";
    EXPECT_NE(trace.find("InvoiceViewController"), std::string::npos) << trace;
    EXPECT_NE(trace.find("Button"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("WrenUISnapshotEditController"), std::string::npos) << trace;

    // The uploaded screenshot: the screen's pixels, the blue stroke along the drag.
    const Value files = collector.files();
    ASSERT_EQ(files.size(), 1u);
    const auto jpeg = collector.get("/_collector/files/" + std::to_string(files[0]["id"].get<std::int64_t>()) + ".jpg");
    const Bytes uploaded(jpeg.body.begin(), jpeg.body.end());
    const auto image = decodeImage(uploaded);
    ASSERT_TRUE(image);
    // Encoded at quality 0.1: the tables the toolkit's own encoder picks for 0.1.
    ASSERT_FALSE(quantisationTables(uploaded).empty());
    EXPECT_EQ(quantisationTables(uploaded), quantisationTables(encodeJPEG(*image, 0.1)));
    EXPECT_EQ(image->pixelWidth(), 750);
    EXPECT_EQ(image->pixelHeight(), 1334);
    int blue = 0;
    for (int x = 2 * 70; x <= 2 * 290; x += 20) {
        const Color c = image->pixelAt(x, 600);
        blue += c.blue > 0.6 && c.blue > c.red + 0.3 && c.blue > c.green + 0.3;
    }
    EXPECT_GE(blue, 10);
    const Color away = image->pixelAt(2 * 180, 2 * 450);
    EXPECT_LT(away.blue - away.red, 0.2);  // no stroke there, and no bars or card over the image
}

TEST_F(FeedbackEndToEnd, OfflineSuggestionIsCachedAndSentAtTheNextStart) {
    testenv::useLink(testenv::Link::None);
    play(giveFeedback(1));
    run(0.5);
    EXPECT_TRUE(collector.feedback().empty());
    EXPECT_TRUE(platform::fs::fileExists(platform::fs::cachesDirectory() + "/quillon/report.data"));

    // The next start sends what the cache holds.
    testenv::useLink(testenv::Link::WiFi);
    WrenLoader::sharedInstance().dataHandler().checkAndUploadCacheData();
    const Value feedback = collector.waitForFeedback(1);
    ASSERT_EQ(feedback.size(), 1u);
    const Value& data = feedback[0]["body"]["messages"][0]["data"];
    EXPECT_EQ(data["type"], "FEEDBACK");
    EXPECT_EQ(data["message"], "付款按钮点了没反应");
}

// Started without the report UI, switched on later: the screens are wired as at a start with it.
class LateShakeReport : public FeedbackEndToEnd {
protected:
    LateShakeReport() { reportUIAtStart = false; }
};

TEST_F(LateShakeReport, BugReportReachesTheCollector) {
    play(giveFeedback(2));
    const Value feedback = collector.waitForFeedback(1);
    ASSERT_EQ(feedback.size(), 1u);
    const Value& data = feedback[0]["body"]["messages"][0]["data"];
    EXPECT_EQ(data["type"], "PROBLEM");
    EXPECT_EQ(data["message"], "付款按钮点了没反应");
    EXPECT_EQ(data["contact"], "qa@example.com");
}

}  // namespace
