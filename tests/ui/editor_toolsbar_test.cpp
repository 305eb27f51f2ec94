// The edit screen's tool bars: item rectangles before and after layout, hit testing and the
// events reported, highlights after reset, and icons versus labels.
#include "Wren/ui/WrenUISnapshotEditorToolsBar.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>
#include <quillon/ui.h>

#include <cstdlib>

using namespace quillon::ui;

namespace {

struct Events : WrenUISnapshotEditorToolsBarDelegate {
    std::vector<std::int32_t> seen;
    void snapshotEditorToolsBar(WrenUISnapshotEditorToolsBar*, std::int32_t event) override { seen.push_back(event); }
};

void touch(WrenUISnapshotEditorToolsBar& bar, double x, double y) {
    auto t = std::make_shared<Touch>(nullptr, Point{x, y}, 1, 0);
    const Event e(EventType::Touches, {t}, 0);
    bar.touchesBegan({t}, e);
    t->update(TouchPhase::Ended, {x, y}, 0);
    bar.touchesEnded({t}, e);
}

TEST(ToolsBarTest, TopBarSlotsBeforeAndAfterLayout) {
    Screen::main().reset();
    WrenUISnapshotEditorTopToolsBar bar(Rect(0, 0, 320, 64));
    const double w = 320 / 6.5;
    ASSERT_EQ(bar.items().size(), 3u);
    EXPECT_EQ(bar.items()[0]->rect, Rect(320 - w, 0, w, 64));
    EXPECT_EQ(bar.items()[1]->rect, Rect(320 - 2 * w, 0, w, 64));
    EXPECT_EQ(bar.items()[2]->rect, Rect(13.0, 0, w, 64));
    EXPECT_EQ(bar.items()[0]->label, "提交");
    EXPECT_FALSE(bar.items()[1]->label);
    EXPECT_EQ(bar.items()[2]->label, "返回");
    bar.update();
    EXPECT_EQ(bar.items()[2]->rect.origin.x, 15.0);

    Screen::main().setBounds(Size{667, 375}, 2);  // landscape: narrower slots
    bar.update();
    const double lw = 320 / 8.5;
    EXPECT_EQ(bar.items()[0]->rect, Rect(320 - lw, 0, lw, 64));
    EXPECT_EQ(bar.items()[1]->rect, Rect(320 - 2 * lw, 0, lw, 64));
    EXPECT_EQ(bar.items()[2]->rect.origin.x, 12.0);
    Screen::main().reset();
}

TEST(ToolsBarTest, TouchesReportTheItemsEventsAndResetRestoresTheHighlight) {
    WrenUISnapshotEditorTopToolsBar top(Rect(0, 0, 320, 64));
    Events events;
    top.setDelegate(&events);
    touch(top, 320 - 320 / 6.5 - 10, 30);  // the empty slot answers as Submit
    touch(top, 300, 30);
    touch(top, 30, 30);
    touch(top, 160, 30);  // no item here: nothing is reported and nothing stays highlighted
    EXPECT_EQ(events.seen, (std::vector<std::int32_t>{0, 0, 1}));
    EXPECT_FALSE(top.currentItem());
    touch(top, 30, 30);
    EXPECT_EQ(top.currentItem(), top.items()[2]);
    top.reset();
    EXPECT_FALSE(top.currentItem());

    WrenUISnapshotEditorBottomToolsBar bottom(Rect(0, 0, 320, 44));
    bottom.setDelegate(&events);
    EXPECT_EQ(bottom.currentItem(), bottom.items()[0]);
    events.seen.clear();
    for (double x : {50.0, 160.0, 300.0}) touch(bottom, x, 20);
    EXPECT_EQ(events.seen, (std::vector<std::int32_t>{10, 11, 12}));
    EXPECT_EQ(bottom.currentItem(), bottom.items()[2]);
    bottom.reset();
    EXPECT_EQ(bottom.currentItem(), bottom.items()[0]);
    bottom.setFrame(Rect(0, 0, 600, 44));
    bottom.update();
    EXPECT_EQ(bottom.items()[1]->rect, Rect(200, 0, 200, 44));
}

// With only the pen's icon in the resource folder, Pen shows its icon (at a third of its
// size) and Note and Reset their labels.
TEST(ToolsBarTest, MissingIconResourcesFallBackToLabels) {
    const std::string dir = testenv::makeTempDir("icons");
    {
        ImageContext icon(Size{90, 90}, true, 1);
        icon.context().setFillColor(Color::redColor());
        icon.context().fillRect(Rect(0, 0, 90, 90));
        ASSERT_TRUE(writePNG(*icon.image(), dir + "/pen.2.0.7.png"));
    }
    setenv("QUILLON_UI_RESOURCE_PATH", dir.c_str(), 1);
    if (Image::pathForResource("text.2.0.7.png")) GTEST_SKIP() << "the icons are installed beside the test";

    Screen::main().reset();
    auto window = std::make_shared<Window>();
    auto root = std::make_shared<ViewController>();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    auto bar = std::make_shared<WrenUISnapshotEditorBottomToolsBar>(Rect(0, 100, 375, 44));
    bar->reset();
    root->view()->addSubview(bar);
    ASSERT_TRUE(bar->items()[0]->icon);
    EXPECT_FALSE(bar->items()[1]->icon);
    EXPECT_FALSE(bar->items()[2]->icon);
    Screen::main().displayIfNeeded();
    const auto shot = Screen::main().capture();
    const double slot = 375 / 3.0;
    // The icon is 30 x 30 points, centred in its slot.
    EXPECT_GT(shot->pixelAt(static_cast<int>(2 * (slot / 2)), 2 * 122).red, 0.9);
    EXPECT_LT(shot->pixelAt(static_cast<int>(2 * (slot / 2 - 20)), 2 * 122).red, 0.9);
    // The labels are drawn in (0, 0.5, 1): look for that blue in Note's slot.
    int blue = 0;
    for (int y = 2 * 100; y < 2 * 144; ++y)
        for (int x = static_cast<int>(2 * slot); x < static_cast<int>(4 * slot); ++x) {
            const Color c = shot->pixelAt(x, y);
            blue += c.blue > 0.8 && c.red < 0.3 && c.green > 0.3 && c.green < 0.7;
        }
    EXPECT_GT(blue, 20);
}

}  // namespace
