// The embedded screen as a host adapter sees it: the screen takes the host window's figures,
// the feedback screens come up over the host's own picture and go again on Back, a shake or a
// swipe goes through the flow's triggers, and the host's trace entries are kept only while no
// feedback screen is up (and never an entry of the stand-in window).
#include <gtest/gtest.h>
#include <quillon/ui.h>
#include <quillon/ui/Embedding.h>

#include <vector>

#include "UiTestSupport.h"
#include "Wren/WrenPreferences.h"
#include "Wren/ui/WrenWindowController.h"

namespace ui = quillon::ui;
using uitest::runFor;
using uitest::runUntil;

namespace {

struct FakeHost {
    int draws = 0;
    std::vector<int> shown;
    int screenshots = 0;
    std::vector<unsigned char> pixels = std::vector<unsigned char>(400 * 600 * 4);
    int stride = 400 * 4;  // a host may hand over a malformed picture

    FakeHost() {
        // An opaque red picture, at scale 2.
        for (std::size_t i = 0; i < pixels.size(); i += 4)
            pixels[i] = 0, pixels[i + 1] = 0, pixels[i + 2] = 255, pixels[i + 3] = 255;
        QNEmbedHost host{};
        host.user = this;
        host.needs_display = [](void* user) { ++static_cast<FakeHost*>(user)->draws; };
        host.screens_shown = [](void* user, int on) { static_cast<FakeHost*>(user)->shown.push_back(on); };
        host.take_screenshot = [](void* user) {
            auto* self = static_cast<FakeHost*>(user);
            ++self->screenshots;
            QNEmbedPicture p{self->pixels.data(), 400, 600, self->stride, 2.0};
            quillon_embed_supply_screenshot(&p);
        };
        EXPECT_EQ(quillon_embed_start(&host, 200, 300, 2.0), 1);
    }
};

std::string traceText() {
    std::string all;
    for (const auto& e : WrenWindowController::sharedInstance().operationRecord()) all += e.substr(20) + "\n";
    return all;
}

}  // namespace

TEST(Embedding, ScreensComeUpOverTheHostPictureAndGoOnBack) {
    ui::MotionManager::setSimulated(true);
    WrenWindowController& flow = WrenWindowController::sharedInstance();
    WrenPreferences prefs;
    flow.setPreferences(&prefs);
    QNEmbedHost bad{};
    EXPECT_EQ(quillon_embed_start(&bad, 0, 100, 1), 0);
    FakeHost host;
    flow.enabledMonitorShakeEvent(true);
    ASSERT_TRUE(runUntil([&] { return host.draws > 0; }));  // the stand-in's first picture
    EXPECT_EQ(ui::Screen::main().backendName(), "embedded");
    EXPECT_EQ(ui::Screen::main().bounds().width(), 200);
    EXPECT_EQ(ui::Screen::main().currentModeSize().height, 600);
    EXPECT_TRUE(host.shown.empty());
    EXPECT_EQ(quillon_embed_screens_shown(), 0);

    quillon_embed_trace_tap("GtkButton");
    quillon_embed_trace_tap("WrenOverlay");
    quillon_embed_trace_screen("settings", 1);
    quillon_embed_shake();
    ASSERT_TRUE(runUntil([&] { return !host.shown.empty(); }));
    EXPECT_EQ(host.shown, std::vector<int>{1});
    EXPECT_GE(host.screenshots, 1);
    QNEmbedPicture picture{};
    ASSERT_EQ(quillon_embed_picture(&picture), 1);
    EXPECT_EQ(picture.width, 400);
    EXPECT_EQ(picture.height, 600);
    // The corner shows the host's red picture under the alert's dimming.
    const unsigned char* corner = picture.pixels + 4 * 2;
    EXPECT_GT(corner[2], corner[1] + 40);
    EXPECT_GT(corner[2], corner[0] + 40);

    quillon_embed_trace_tap("GtkButton");  // under the screens: not recorded
    quillon_embed_trace_screen("expenses", 1);
    quillon_embed_back();
    EXPECT_EQ(ui::AlertView::visibleAlert(), nullptr);
    ASSERT_TRUE(runUntil([&] { return host.shown.size() == 2; }));
    EXPECT_EQ(host.shown.back(), 0);
    EXPECT_EQ(traceText(), "tap:GtkButton\nviewWillAppear:settings\n");

    // Way 1: a host swipe up reaches the flow's recogniser over the stand-in window; down does not.
    prefs.setWayOfFeedback(1);
    flow.switchWayOfFeedback(1);
    quillon_embed_swipe(QN_EMBED_SWIPE_DOWN);
    runFor(0.5);  // the swipe's 0.2 s of moves, and nothing after
    EXPECT_EQ(ui::AlertView::visibleAlert(), nullptr);
    quillon_embed_swipe(QN_EMBED_SWIPE_UP);
    ASSERT_TRUE(runUntil([] { return ui::AlertView::visibleAlert() != nullptr; }));
    ui::AlertView::visibleAlert()->pressButton(0);
    EXPECT_EQ(traceText(), "tap:GtkButton\nviewWillAppear:settings\n");
}

TEST(Embedding, TheEditScreenShowsTheHostsScreenshotAndBackClosesIt) {
    ui::MotionManager::setSimulated(true);
    WrenWindowController& flow = WrenWindowController::sharedInstance();
    WrenPreferences prefs;
    flow.setPreferences(&prefs);
    FakeHost host;
    flow.enabledMonitorShakeEvent(true);
    auto edit = [&] {
        quillon_embed_shake();
        EXPECT_TRUE(runUntil([] { return ui::AlertView::visibleAlert() != nullptr; }));
        ui::AlertView::visibleAlert()->pressButton(2);
        EXPECT_TRUE(runUntil([&] { return !host.shown.empty() && host.shown.back() == 1; }));
        return flow.snapshotEditController();
    };

    auto editor = edit();
    ASSERT_NE(editor, nullptr);
    runFor(1.0);  // the white flash over the screenshot is gone after 0.75 s
    const ui::Color middle = editor->modifiedImage()->pixelAt(20, 200);
    EXPECT_GT(middle.red, middle.green + 0.15);  // the host's red, dimmed under the hint
    quillon_embed_back();                        // the host closed its feedback window
    ASSERT_TRUE(runUntil([&] { return !flow.snapshotEditController() && host.shown.back() == 0; }));
    EXPECT_EQ(flow.toolsBarEvent(), 1);

    // A picture whose rows overlap is refused: the flow renders the stand-in instead of reading
    // past the host's buffer.
    host.stride = 16;
    editor = edit();
    ASSERT_NE(editor, nullptr);
    runFor(1.0);
    const ui::Color fallback = editor->modifiedImage()->pixelAt(20, 200);
    EXPECT_LT(fallback.red, fallback.green + 0.05);
    quillon_embed_back();
}
