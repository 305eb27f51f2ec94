// The collector's web page in a real browser: headless Chromium loads the overview, a crash,
// a feedback report with its screenshot and the customized exceptions of a collector filled
// by real crashes of the crash host, the feedback side's submission path and pooled
// exceptions; the rendered DOM is read for the expected texts and screenshots are kept in
// the build folder.
#include "Wren/WrenDataHandler.h"
#include "Wren/WrenLoader.h"
#include "Wren/WrenPreferences.h"
#include "platform/foundation/Bundle.h"
#include "platform/runtime/RunLoop.h"
#include "support/Collector.h"
#include "support/FeedbackEnv.h"
#include "support/HostProcess.h"
#include "support/TestEnv.h"
#include "wren/Wren.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <sys/stat.h>

#include <cstdio>
#include <future>

using platform::Value;

namespace {

const char* kChromium = "/usr/bin/chromium";

// A phone-sized screenshot with a pen stroke across it, as JPEG.
std::string markedUpScreenshot() {
    const int w = 360, h = 640;
    std::vector<unsigned char> rgb(w * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char* p = &rgb[(y * w + x) * 3];
            const bool bar = y < 56, button = y > 520 && y < 580 && x > 40 && x < 320;
            const bool row = y > 80 && y < 480 && (y - 80) % 60 < 44 && x > 16 && x < 344;
            const int stroke = (x - 60) * 300 / 240 + 150 - y;  // the tester's red line
            const bool pen = x > 60 && x < 300 && stroke > -6 && stroke < 6;
            p[0] = pen ? 220 : bar ? 31 : button ? 46 : row ? 236 : 250;
            p[1] = pen ? 30 : bar ? 97 : button ? 134 : row ? 240 : 250;
            p[2] = pen ? 40 : bar ? 141 : button ? 193 : row ? 241 : 250;
        }
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = w;
    c.image_height = h;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = &rgb[c.next_scanline * w * 3];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::string bytes(reinterpret_cast<char*>(out), size);
    std::free(out);
    return bytes;
}

std::string envelope(const std::string& ac) {
    return Value{{"ak", "crash-host-key"}, {"tm", "1796700000"}, {"ac", ac}, {"pro", "5.2.0"}, {"ty", "1"}}.dump();
}

// One run of Chromium on a page; returns what it printed.
testenv::HostResult chromium(const std::vector<std::string>& extra, const std::string& url) {
    std::vector<std::string> argv = {kChromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                                     "--no-first-run", "--disable-background-networking", "--disable-component-update",
                                     "--disable-sync", "--hide-scrollbars",
                                     "--user-data-dir=" + testenv::makeTempDir("chromium-profile")};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(url);
    return testenv::runHost(argv, testenv::makeTempDir("chromium-out"), 90);
}

class CollectorBrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        struct stat st{};
        if (stat(kChromium, &st) != 0)
            GTEST_SKIP() << kChromium << " is not installed; scripts/setup-deps installs Debian's chromium";
    }
};

}  // namespace

TEST_F(CollectorBrowserTest, OverviewCrashFeedbackAndExceptionsRenderInChromium) {
    testenv::Collector collector;

    // Real crashes: the same SIGSEGV twice (one group), an uncaught C++ exception, a platform exception.
    const std::string bundle = testenv::makeTempDir("browser-bundle");
    testenv::writeInfoPlist(bundle, "org.example.crash-host", collector.host());
    platform::Bundle::main().reloadFrom(bundle);
    const std::string out = testenv::makeTempDir("browser-out");
    for (const char* kind : {"segv", "segv", "cxx", "platform"}) {
        const auto r = testenv::runHost({testenv::executableDirectory() + "/quillon_crash_host", bundle, kind}, out);
        ASSERT_EQ(r.exitCode(), 246) << kind << "\n" << r.err;
    }
    // Customized exceptions as the pool sends them: event texts inside JSON text.
    Value records = collector.records();
    Value crash;
    for (const auto& r : records)
        if (r["item_ac"] == "submit") crash = r["body"];
    ASSERT_FALSE(crash.is_null());
    Value batch = Value::array();
    for (auto [name, msg, ct] : {std::tuple{"lua", "attempt to index a nil value (field 'ledger')", "3"},
                                 std::tuple{"js", "TypeError: total is undefined", "1"}}) {
        Value post = crash;
        post["data"] = {{"name", name}, {"et", std::string("\nstack traceback:\n\tledger.lua:12: in function 'close'")},
                        {"tm", "1796700000"}, {"msg", msg}, {"ty", "3"}, {"ct", ct}};
        batch.push_back({{"ac", "exception"}, {"post", post.dump(2)}});
    }
    ASSERT_EQ(collector.post("/cpi/crash", batch.dump(2), {{"UPLOAD-JSON", envelope("submore")}}).status, 200);

    // Feedback through the feedback side's submission: screenshot upload, then the report.
    testenv::useBundle(Value{{"WrenFeedbackHost", collector.host()}, {"WrenFileStoreHost", collector.host()}});
    testenv::useModem("262", "01", "CTRadioAccessTechnologyLTE");
    testenv::useLink(testenv::Link::WiFi);
    Wren::init("browser-key");
    platform::RunLoop::main().runPending();
    Wren::setUserData("tester-42", "account");
    WrenLoader& loader = *WrenLoader::activeInstance();
    Value report = platform::dict();
    const std::string jpeg = markedUpScreenshot();
    report["modifiedImageData"] = platform::bytesValue(platform::Bytes(jpeg.begin(), jpeg.end()));
    report["commentText"] = "The total on the ledger screen is wrong";
    report["contactText"] = "tester@example.org";
    report["operation"] = Value::array({"2026-12-08 09:00:01 tap Ledger", "2026-12-08 09:00:04 show LedgerViewController"});
    WrenPreferences::sharedInstance().setFeedbackType(0);
    auto done = std::make_shared<std::promise<bool>>();
    loader.dataHandler().setFinishedHandler([done](bool sent) { done->set_value(sent); });
    loader.windowController(nullptr, report, Value{{"und", "device-1"}, {"model", "x86_64"}, {"sysver", "12"}});
    auto sent = done->get_future();
    ASSERT_EQ(sent.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    loader.dataHandler().setFinishedHandler(nullptr);
    ASSERT_TRUE(sent.get());
    platform::setReachabilitySource(nullptr);
    platform::telephony::setTelephonySourceForTesting(nullptr);

    std::int64_t crashId = 0;
    for (const auto& r : collector.records())
        if (r["item_ac"] == "submit" && r["name"] == "exception Signal") crashId = r["id"].get<std::int64_t>();
    ASSERT_GT(crashId, 0);
    const Value feedback = collector.feedback();
    ASSERT_EQ(feedback.size(), 1u);
    const std::string feedbackPath = "/feedback/" + std::to_string(feedback[0]["id"].get<std::int64_t>());

    struct Page {
        const char* name;
        std::string path;
        std::vector<std::string> texts;
    };
    const std::vector<Page> pages = {
        {"overview", "/", {"exception Signal", "Application received signal SIGSEGV", "the host gave up",
                           "HostInconsistency", "Crashes per day", "The total on the ledger screen is wrong"}},
        {"crash", "/crashes/" + std::to_string(crashId),
         {"Backtrace", "libc.so.6", "Device identifier", "Breadcrumbs", "about to segv", "tester@example.org",
          "Processor (all threads)"}},
        {"feedback", feedbackPath, {"The total on the ledger screen is wrong", "tester@example.org", "tap Ledger",
                                    "tester-42", "marked-up screenshot"}},
        {"exceptions", "/exceptions", {"Lua", "JavaScript", "attempt to index a nil value (field 'ledger')"}},
    };
    const std::string shots = QUILLON_SCREENSHOT_DIR;
    mkdir(shots.c_str(), 0755);
    for (const auto& page : pages) {
        SCOPED_TRACE(page.name);
        const auto dom = chromium({"--dump-dom"}, collector.url(page.path));
        ASSERT_EQ(dom.exitCode(), 0) << dom.err;
        for (const auto& t : page.texts) EXPECT_NE(dom.out.find(t), std::string::npos) << t;
        for (const auto& [suffix, size] : {std::pair{"", "1280,1800"}, std::pair{"-phone", "390,1600"}}) {
            const std::string file = shots + "/" + page.name + suffix + ".png";
            std::remove(file.c_str());
            const auto shot = chromium({"--window-size=" + std::string(size), "--screenshot=" + file},
                                       collector.url(page.path));
            struct stat st{};
            EXPECT_EQ(stat(file.c_str(), &st), 0) << shot.err;
            EXPECT_GT(st.st_size, 10000);
        }
    }
    // The screenshot the page shows is the uploaded one, served by the page itself.
    const auto dom = chromium({"--dump-dom"}, collector.url(feedbackPath));
    const auto img = dom.out.find("src=\"/files/");
    ASSERT_NE(img, std::string::npos);
    const std::string src = dom.out.substr(img + 5, dom.out.find('"', img + 5) - img - 5);
    EXPECT_EQ(collector.get(src).body, jpeg);
}
