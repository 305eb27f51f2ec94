// The edit screen: the refused and the accepted submit, the fields' limits and Return key,
// the remembered contact, the landscape layout, the hint's four seconds and the bars that
// follow the canvas.
#include "Wren/WrenUserData.h"
#include "Wren/ui/QNTextView.h"
#include "Wren/ui/WrenUISnapshotEditController.h"
#include "platform/foundation/Files.h"
#include "platform/runtime/RunLoop.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>
#include <quillon/ui.h>

using namespace quillon::ui;

namespace {

struct Forwarded : WrenUISnapshotEditControllerDelegate {
    std::vector<std::int32_t> events;
    void snapshotEditController(WrenUISnapshotEditController*, std::int32_t event) override { events.push_back(event); }
};

void run(double seconds) { platform::RunLoop::main().runFor(seconds); }

class EditScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        testenv::useFreshHome();
        platform::fs::createDirectories(platform::fs::cachesDirectory() + "/quillon");
        Screen::main().reset();
        window = std::make_shared<Window>();
        root = std::make_shared<ViewController>();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        open();
    }

    // As the window controller does it.
    void open() {
        ImageContext shot(Screen::main().bounds().size, true, 0);
        editor = std::make_shared<WrenUISnapshotEditController>();
        editor->setDelegate(&forwarded);
        editor->showWithImage(shot.image());
        const Rect app = Screen::main().applicationFrame();
        editor->updateViewSize(app.size.width, app.size.height + app.origin.y);
        bool shown = false;
        root->presentViewController(editor, false, [&] {
            editor->showPromptView();
            editor->initCommentContainerView();
            shown = true;
        });
        for (int i = 0; i < 100 && !shown; ++i) run(0.01);
        ASSERT_TRUE(shown);
    }
    void close() {
        root->dismissViewController(false, {});
        run(0.05);
    }
    void tapSubmit() {
        input::touchDown(0, 370, 40);
        input::touchUp(0, 370, 40);
    }

    std::shared_ptr<Window> window;
    std::shared_ptr<ViewController> root;
    std::shared_ptr<WrenUISnapshotEditController> editor;
    Forwarded forwarded;
};

TEST_F(EditScreenTest, SubmitWithoutCommentIsRefusedThenGoesThroughWithOne) {
    const auto card = editor->containerView();
    ASSERT_TRUE(card && editor->commentView() && editor->contactView());
    EXPECT_LT(card->frame().maxY(), 1.0);  // out of sight above the top edge
    EXPECT_EQ(editor->commentView()->placeholder(), "描述下遇到的问题");
    EXPECT_EQ(editor->contactView()->placeholder(), "留个联系方式吧");

    tapSubmit();
    EXPECT_TRUE(forwarded.events.empty());
    EXPECT_EQ(editor->commentView()->placeholderColor(), Color::redColor());
    EXPECT_NEAR(card->frame().origin.y, 2.0 + editor->topToolsBar()->frame().size.height, 1e-9);
    EXPECT_FALSE(editor->maskView()->isHidden());
    EXPECT_TRUE(editor->commentView()->isFirstResponder());
    EXPECT_FALSE(editor->topToolsBar()->currentItem());

    input::typeText("保存按钮没有反应");
    run(0.3);
    tapSubmit();
    EXPECT_EQ(forwarded.events, (std::vector<std::int32_t>{0}));
    EXPECT_EQ(editor->comment(), "保存按钮没有反应");
    // Everything but the canvas is out of the picture the delegate takes.
    EXPECT_EQ(editor->topToolsBar()->tag(), WrenUISnapshotEditController::kToolsBarHiddenTag);
    EXPECT_TRUE(editor->maskView()->isHidden());
    EXPECT_EQ(editor->commentView()->placeholderColor(), Color::lightGrayColor());
}

TEST_F(EditScreenTest, FieldsStopAtTheirLimitsAndCutPastes) {
    const auto contact = editor->contactView();
    const auto comment = editor->commentView();
    contact->becomeFirstResponder();
    for (int i = 0; i < 79; ++i) input::typeText("a");
    input::typeText("联");
    input::typeText("b");  // the 81st character
    EXPECT_EQ(contact->length(), 80u);
    input::pressBackspace();
    EXPECT_EQ(contact->length(), 79u);
    input::typeText("12345");  // a paste is cut to the room left
    EXPECT_EQ(contact->length(), 80u);
    EXPECT_EQ(contact->text().back(), '1');

    comment->becomeFirstResponder();
    input::typeText(std::string(349, 'x'));
    input::typeText("字");
    input::typeText("y");  // the 351st character
    EXPECT_EQ(comment->length(), 350u);
    EXPECT_EQ(WrenUISnapshotEditController::limitedReplacement("abc", Range{1, 2}, "wxyz", 4), "wxy");
    EXPECT_EQ(WrenUISnapshotEditController::limitedReplacement("abcd", Range{4, 0}, "e", 4), std::nullopt);
    EXPECT_EQ(WrenUISnapshotEditController::limitedReplacement("abcd", Range{3, 1}, "", 4), "");
}

TEST_F(EditScreenTest, ReturnInTheContactFieldSubmitsAndTheContactIsRemembered) {
    editor->commentView()->becomeFirstResponder();
    input::typeText("第一行");
    input::pressReturn();  // a line break in the comment
    input::typeText("第二行");
    EXPECT_EQ(editor->comment(), "第一行\n第二行");
    editor->contactView()->becomeFirstResponder();
    input::typeText("qa@example.com");
    input::pressReturn();
    EXPECT_EQ(forwarded.events, (std::vector<std::int32_t>{0}));
    EXPECT_EQ(editor->contact(), "qa@example.com");

    close();
    open();
    EXPECT_EQ(editor->contact(), "qa@example.com");
    editor->contactView()->setText("other@example.com");
    editor->snapshotEditorToolsBar(editor->topToolsBar().get(), 1);  // Back stores it too
    const auto stored = WrenUserData::unarchiveObjectWithFile(platform::fs::cachesDirectory() + "/quillon/user.data");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->contact, "other@example.com");
    EXPECT_EQ(forwarded.events, (std::vector<std::int32_t>{0, 1}));
}

TEST_F(EditScreenTest, HintHidesAfterFourSecondsWithTheMask) {
    ASSERT_TRUE(editor->promptView());
    EXPECT_FALSE(editor->maskView()->isHidden());
    run(3.7);
    EXPECT_TRUE(editor->promptView());
    run(0.5);
    EXPECT_FALSE(editor->promptView());
    EXPECT_TRUE(editor->maskView()->isHidden());
}

TEST_F(EditScreenTest, BarsFollowTheCanvasAndToolEventsAct) {
    run(4.3);  // the hint is gone
    const auto top = editor->topToolsBar();
    const auto bottom = editor->bottomToolsBar();
    input::touchDown(0, 100, 300);
    input::touchMove(0, 150, 320);
    EXPECT_EQ(top->tag(), 999);
    EXPECT_EQ(bottom->tag(), 999);
    EXPECT_EQ(bottom->frame().origin.y, 667);
    input::touchUp(0, 150, 320);
    run(0.3);
    EXPECT_EQ(top->tag(), 998);
    EXPECT_EQ(bottom->frame().origin.y, 667 - 44);

    input::touchDown(0, 200, 400);
    input::touchUp(0, 200, 400);
    input::touchDown(0, 203, 404, 2);
    input::touchUp(0, 203, 404);
    EXPECT_EQ(top->tag(), 999);
    EXPECT_EQ(top->frame().origin.y, -top->frame().size.height);
    input::touchDown(0, 200, 400);
    input::touchUp(0, 200, 400);
    input::touchDown(0, 201, 401, 2);
    input::touchUp(0, 201, 401);
    EXPECT_EQ(top->tag(), 998);
    run(0.3);

    const auto canvas = editor->snapshotEditor();
    EXPECT_FALSE(canvas->penTrack().empty());
    input::touchDown(0, 310, 650);  // Reset
    input::touchUp(0, 310, 650);
    EXPECT_TRUE(canvas->penTrack().empty());
    input::touchDown(0, 190, 650);  // Note brings the card down
    input::touchUp(0, 190, 650);
    EXPECT_GT(editor->containerView()->frame().origin.y, 0);
    EXPECT_EQ(forwarded.events, (std::vector<std::int32_t>{12, 11}));
}

TEST(EditScreenLandscapeTest, BottomBarIs35Point2PointsHighInLandscape) {
    testenv::useFreshHome();
    Screen::main().setBounds(Size{667, 375}, 2);
    ImageContext shot(Size{375, 667}, true, 0);
    auto editor = std::make_shared<WrenUISnapshotEditController>();
    editor->showWithImage(shot.image());
    editor->updateViewSize(667, 375);
    const double s = editor->statusBarHeight();
    EXPECT_DOUBLE_EQ(editor->bottomToolsBar()->frame().size.height, 35.2);
    EXPECT_DOUBLE_EQ(editor->bottomToolsBar()->frame().origin.y, 375 - 35.2);
    EXPECT_DOUBLE_EQ(editor->bottomToolsBar()->frame().size.width, 667);
    EXPECT_DOUBLE_EQ(editor->topToolsBar()->frame().size.height, 0.8 * (44 + s));
    EXPECT_DOUBLE_EQ(editor->snapshotEditor()->bounds().size.width, 667 / 3.0);
    Screen::main().reset();
}

TEST_F(EditScreenTest, ALongCommentScrollsSoThatTheCaretStaysInSight) {
    const auto comment = editor->commentView();
    std::string script = "tap 187 655\nwait 0.5\n";  // the text tool opens the comment card
    for (int line = 1; line <= 12; ++line)
        script += "type 第" + std::to_string(line) + "行：点了保存按钮以后页面没有任何反应，再点一次就退出了\nkey return\n";
    const std::string shot = testenv::makeTempDir() + "/comment.png";
    bool finished = false;
    ASSERT_TRUE(EventScript::play(script + "wait 0.4\nsnapshot " + shot + "\n", "test", [&] { finished = true; }));
    for (int i = 0; i < 500 && !finished; ++i) run(0.01);
    ASSERT_TRUE(finished);
    EXPECT_EQ(comment->length(), 350u);
    EXPECT_GT(comment->contentOffset().y, comment->bounds().size.height);
    const Rect caret = comment->caretRect();
    EXPECT_GE(caret.minY(), 0.0);
    EXPECT_LE(caret.maxY(), comment->bounds().size.height);
    const Rect onScreen = comment->convertRectToView(caret, nullptr);
    auto picture = Image::imageWithContentsOfFile(shot);
    ASSERT_TRUE(picture);
    const Color c = picture->pixelAt(static_cast<int>(onScreen.midX() * 2), static_cast<int>(onScreen.midY() * 2));
    EXPECT_LT(c.red, 0.1);
    EXPECT_GT(c.blue, 0.9);
}

}  // namespace
