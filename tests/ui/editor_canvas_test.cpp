// The drawing canvas: the tracks its touches leave (entries and markers exactly), its timers,
// double taps, reset, the track limit, coordinates off the canvas, resizing and drawing.
#include "Wren/ui/WrenUISnapshotEditor.h"
#include "platform/runtime/RunLoop.h"

#include <gtest/gtest.h>
#include <quillon/ui.h>

#include <vector>

using namespace quillon::ui;
using Track = std::vector<std::uint16_t>;

namespace {

struct Notices : WrenUISnapshotEditorDelegate {
    int began = 0, ended = 0, doubles = 0;
    void snapshotEditorDidBeginEdit(WrenUISnapshotEditor*) override { ++began; }
    void snapshotEditorDidEndEdit(WrenUISnapshotEditor*) override { ++ended; }
    void snapshotEditorDoubleClick(WrenUISnapshotEditor*) override { ++doubles; }
};

class CanvasTest : public ::testing::Test {
protected:
    void SetUp() override {
        Screen::main().reset();
        window = std::make_shared<Window>();
        root = std::make_shared<ViewController>();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        canvas = WrenUISnapshotEditor::defaultSnapshotEditor(root->view()->bounds());
        canvas->setDelegate(&notices);
        root->view()->addSubview(canvas);
        Screen::main().displayIfNeeded();
    }
    void TearDown() override { canvas->setDelegate(nullptr); }

    static void run(double seconds) { platform::RunLoop::main().runFor(seconds); }
    static void tap(double x, double y, int count = 1) {
        input::touchDown(0, x, y, count);
        input::touchUp(0, x, y);
    }
    static void drag(std::initializer_list<Point> points) {
        auto p = points.begin();
        input::touchDown(0, p->x, p->y);
        for (++p; p != points.end(); ++p) input::touchMove(0, p->x, p->y);
        input::touchUp(0, (points.end() - 1)->x, (points.end() - 1)->y);
    }
    // A move delivered straight to the canvas (fast enough to fill a track).
    void moveTo(double x, double y) {
        auto touch = std::make_shared<Touch>(window, Point{x, y}, 1, 0);
        touch->update(TouchPhase::Moved, {x, y}, 0);
        canvas->touchesMoved({touch}, Event(EventType::Touches, {touch}, 0));
    }

    std::shared_ptr<Window> window;
    std::shared_ptr<ViewController> root;
    std::shared_ptr<WrenUISnapshotEditor> canvas;
    Notices notices;
};

TEST_F(CanvasTest, TapDragAndTwoStrokesLeaveTheirEntriesAndOneMarkerBetween) {
    tap(100, 200);
    run(0.5);
    // The touch-down timer records the dot, the touch-end timer the lift and the marker.
    EXPECT_EQ(canvas->penTrack(), (Track{100, 200, 100, 200, 65535, 0}));
    EXPECT_EQ(notices.ended, 1);
    EXPECT_EQ(notices.began, 0);

    // The first move cancels the touch-down timer: the touch-down point is not recorded.
    drag({{10, 10}, {20.9, 20.2}, {30, 31}});
    EXPECT_EQ(notices.began, 2);
    run(0.5);
    EXPECT_EQ(canvas->penTrack(), (Track{100, 200, 100, 200, 65535, 0, 20, 20, 30, 31, 30, 31, 65535, 0}));
    EXPECT_EQ(notices.ended, 2);
}

TEST_F(CanvasTest, ATouchBeforeTheEndTimerClosesTheStrokeAtOnceWithoutNotice) {
    drag({{10, 10}, {20, 20}});
    input::touchDown(0, 50, 50);
    EXPECT_EQ(canvas->penTrack(), (Track{20, 20, 20, 20, 65535, 0}));
    EXPECT_EQ(notices.ended, 0);
    input::touchMove(0, 60, 60);
    input::touchUp(0, 60, 60);
    run(0.5);
    EXPECT_EQ(canvas->penTrack(), (Track{20, 20, 20, 20, 65535, 0, 60, 60, 60, 60, 65535, 0}));
    EXPECT_EQ(notices.ended, 1);
}

TEST_F(CanvasTest, DoubleTapCountsOnlyWhenBothTapsLandWithinTenPoints) {
    tap(100, 100);
    tap(104, 107, 2);
    EXPECT_EQ(notices.doubles, 1);
    run(0.5);
    EXPECT_EQ(notices.ended, 0);  // the interrupted stroke was closed by the second touch

    tap(200, 200);
    tap(215, 200, 2);  // the second tap is 15 points from the first
    run(0.5);
    EXPECT_EQ(notices.doubles, 1);
}

TEST_F(CanvasTest, ResetRestoresTheStyleButAPendingTimerStillRecords) {
    canvas->setLineWidth(9);
    canvas->setLineColor(Color::redColor());
    canvas->setPenStyle(1);
    input::touchDown(0, 30, 40);
    canvas->reset();
    EXPECT_EQ(canvas->lineWidth(), 3.0);
    EXPECT_EQ(canvas->lineColor(), Color::blueColor());
    EXPECT_EQ(canvas->penStyle(), 0);
    EXPECT_TRUE(canvas->penTrack().empty());
    run(0.3);
    EXPECT_EQ(canvas->penTrack(), (Track{30, 40}));
    EXPECT_TRUE(canvas->mosaicTrack().empty());
}

TEST_F(CanvasTest, MovesStopAtTheTrackLimitWhileTapsStillRecord) {
    input::touchDown(0, 1, 1);
    for (std::uint32_t n = 0; n < WrenUISnapshotEditor::kTrackLimit / 2; ++n) moveTo(n % 300, 5);
    EXPECT_EQ(canvas->trackTotal(), WrenUISnapshotEditor::kTrackLimit);
    const int began = notices.began;
    moveTo(7, 7);
    EXPECT_EQ(canvas->trackTotal(), WrenUISnapshotEditor::kTrackLimit);
    EXPECT_EQ(notices.began, began);
    input::touchUp(0, 7, 7);
    run(0.3);
    EXPECT_EQ(canvas->trackTotal(), WrenUISnapshotEditor::kTrackLimit + 4);
}

TEST_F(CanvasTest, CoordinatesOffTheCanvasReadBackAndNeverFormAMarker) {
    using E = WrenUISnapshotEditor;
    EXPECT_EQ(E::decodeCoordinate(E::encodeCoordinate(-5.7, true)), -5);
    EXPECT_EQ(E::decodeCoordinate(E::encodeCoordinate(-30, false)), -30);
    EXPECT_EQ(E::decodeCoordinate(E::encodeCoordinate(12.9, true)), 12);
    EXPECT_EQ(E::decodeCoordinate(E::encodeCoordinate(70000, true)), 32767);
    EXPECT_EQ(E::decodeCoordinate(E::encodeCoordinate(-70000, false)), -32768);
    EXPECT_NE(E::encodeCoordinate(-1, true), E::kPenUp);  // x -1 would read as a marker
    EXPECT_EQ(E::decodeCoordinate(E::encodeCoordinate(-1, false)), -1);

    drag({{50, 50}, {-1, 0}, {-20, -30}, {100000, 40}});
    run(0.5);
    const Track t = canvas->penTrack();
    ASSERT_EQ(t.size(), 10u);
    EXPECT_EQ(std::count(t.begin(), t.end(), E::kPenUp), 1);
    EXPECT_EQ(E::decodeCoordinate(t[2]), -20);
    EXPECT_EQ(E::decodeCoordinate(t[3]), -30);
    EXPECT_EQ(E::decodeCoordinate(t[4]), 32767);
}

TEST_F(CanvasTest, UpdateForSizeGivesAPortraitScreenshotAThirdOfALandscapeWidth) {
    ImageContext portrait(Size{375, 667}, true, 2);
    canvas->setBackgroundImage(portrait.image());
    canvas->updateForSize(Size{568, 320});
    EXPECT_DOUBLE_EQ(canvas->bounds().size.width, 568 / 3.0);
    EXPECT_DOUBLE_EQ(canvas->bounds().size.height, 320);
    canvas->updateForSize(Size{320, 568});
    EXPECT_EQ(canvas->bounds().size, (Size{320, 568}));

    ImageContext landscape(Size{667, 375}, true, 2);
    canvas->setBackgroundImage(landscape.image());
    canvas->updateForSize(Size{320, 568});
    EXPECT_DOUBLE_EQ(canvas->bounds().size.height, 568 / 3.0);
}

// The layer that takes each new point shows the same pixels as a replay of the whole track.
TEST_F(CanvasTest, IncrementalDrawingMatchesTheReplay) {
    input::touchDown(0, 40, 100);
    for (int i = 1; i <= 40; ++i) {
        input::touchMove(0, 40 + i * 5, 100 + (i % 7) * 3);
        Screen::main().displayIfNeeded();
    }
    input::touchUp(0, 240, 100);
    run(0.3);
    Screen::main().displayIfNeeded();
    const auto incremental = Screen::main().capture();
    canvas->invalidateLayer();
    canvas->setNeedsDisplay();
    Screen::main().displayIfNeeded();
    const auto replayed = Screen::main().capture();
    ASSERT_TRUE(incremental && replayed);

    const Color mid = incremental->pixelAt(static_cast<int>(2 * 142.5), static_cast<int>(2 * 106));
    EXPECT_GT(mid.blue, 0.8);
    EXPECT_LT(mid.red, 0.2);
    int differing = 0;
    for (int y = 180; y < 260; ++y)
        for (int x = 60; x < 500; ++x) {
            const Color a = incremental->pixelAt(x, y), b = replayed->pixelAt(x, y);
            differing += std::abs(a.blue - b.blue) > 0.25 || std::abs(a.red - b.red) > 0.25;
        }
    EXPECT_LT(differing, 40);
}

TEST_F(CanvasTest, MosaicModeStampsEveryPointAfterAStrokesFirst) {
    ImageContext stamp(Size{10, 10}, true, 1);
    stamp.context().setFillColor(Color::redColor());
    stamp.context().fillRect(Rect(0, 0, 10, 10));
    canvas->setMosaicImage(stamp.image());
    canvas->setPenStyle(1);
    drag({{50, 50}, {60, 300}, {200, 300}});
    run(0.5);
    Screen::main().displayIfNeeded();
    EXPECT_TRUE(canvas->penTrack().empty());
    EXPECT_EQ(canvas->mosaicTrack(), (Track{60, 300, 200, 300, 200, 300, 65535, 0}));
    const auto shot = Screen::main().capture();
    EXPECT_LT(shot->pixelAt(2 * 210, 2 * 310).green, 0.1);  // stamp at the second point
    EXPECT_GT(shot->pixelAt(2 * 70, 2 * 310).green, 0.5);   // none at the stroke's first
}

TEST(CanvasMosaicTest, StampIsAPixelatedCopy) {
    ImageContext source(Size{40, 40}, true, 2);
    source.context().setFillColor(Color::whiteColor());
    source.context().fillRect(Rect(0, 0, 40, 40));
    source.context().setFillColor(Color::redColor());
    source.context().fillRect(Rect(0, 0, 3, 40));  // a thin bar spreads over its block
    const auto mosaic = WrenUISnapshotEditor::mosaicImageFromImage(source.image(), 8);
    ASSERT_TRUE(mosaic);
    EXPECT_EQ(mosaic->size(), (Size{40, 40}));
    const Color a = mosaic->pixelAt(1, 10), b = mosaic->pixelAt(14, 10);
    EXPECT_NEAR(a.green, b.green, 0.02);  // one block, one colour
    EXPECT_GT(a.green, 0.3);              // the bar averaged with the white around it
    EXPECT_LT(a.green, 0.9);
}

}  // namespace
