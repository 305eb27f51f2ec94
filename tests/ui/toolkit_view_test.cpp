// Views, windows, view controllers, touches and animations, driven through the API and the
// event script and checked on the pictures they make.
#include "UiTestSupport.h"
#include "platform/runtime/ObjectRuntime.h"
#include "platform/ui/MethodTables.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace quillon::ui;

namespace {

bool near(const Color& c, double r, double g, double b, double tolerance = 0.02) {
    return std::abs(c.red - r) < tolerance && std::abs(c.green - g) < tolerance && std::abs(c.blue - b) < tolerance;
}

TEST(View, TreeRendersAtScaleWithAlphaHiddenClippingAndTags) {
    uitest::Screen screen;
    auto root = screen.root->view();
    root->setBackgroundColor(Color::whiteColor());
    auto red = std::make_shared<View>(Rect(10, 10, 100, 100));
    red->setBackgroundColor(Color::redColor());
    red->setClipsToBounds(true);
    auto child = std::make_shared<View>(Rect(50, 50, 100, 100));  // half outside: clipped
    child->setBackgroundColor(Color::blueColor());
    child->setTag(7);
    red->addSubview(child);
    auto faded = std::make_shared<View>(Rect(200, 10, 50, 50));
    faded->setBackgroundColor(Color::blackColor());
    faded->setAlpha(0.5);
    auto hidden = std::make_shared<View>(Rect(200, 100, 50, 50));
    hidden->setBackgroundColor(Color::greenColor());
    hidden->setHidden(true);
    root->addSubview(red);
    root->addSubview(faded);
    root->addSubview(hidden);
    EXPECT_EQ(root->viewWithTag(7), child);
    EXPECT_EQ(root->viewWithTag(8), nullptr);
    EXPECT_EQ(child->window(), screen.window);

    auto image = screen.window->snapshotImage();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixelWidth(), 750);
    EXPECT_EQ(image->pixelHeight(), 1334);
    EXPECT_EQ(image->scale(), 2.0);
    EXPECT_TRUE(near(image->pixelAt(30, 30), 1, 0, 0));      // red at (15, 15) pt
    EXPECT_TRUE(near(image->pixelAt(150, 150), 0, 0, 1));    // the child at (75, 75) pt
    EXPECT_TRUE(near(image->pixelAt(250, 150), 1, 1, 1));    // clipped part of the child
    EXPECT_TRUE(near(image->pixelAt(450, 50), 0.5, 0.5, 0.5));  // half-transparent black on white
    EXPECT_TRUE(near(image->pixelAt(450, 250), 1, 1, 1));    // hidden
    EXPECT_EQ(root->hitTest({75, 75}), child);
    EXPECT_EQ(root->hitTest({225, 125}), root);  // hidden views take no touches
    EXPECT_EQ(child->convertPointToView({0, 0}, nullptr), (Point{60, 60}));

    child->removeFromSuperview();
    EXPECT_EQ(child->window(), nullptr);
    EXPECT_TRUE(near(screen.window->snapshotImage()->pixelAt(150, 150), 1, 0, 0));
}

class Card : public View {
public:
    Card() : View(Rect(0, 0, 100, 100)) {
        inner = std::make_shared<View>(Rect(10, 10, 20, 20));
        addSubview(inner);  // built in the constructor, before any shared_ptr owns the card
        inner->addGestureRecognizer(std::make_shared<TapGestureRecognizer>());
    }
    std::shared_ptr<View> inner;
};

TEST(View, SubviewsAddedInAConstructorKnowTheirSuperview) {
    auto card = std::make_shared<Card>();
    EXPECT_EQ(card->inner->superview(), card);
    EXPECT_EQ(card->inner->gestureRecognizers().front()->view(), card->inner);
    EXPECT_EQ(card->inner->convertPointToView({0, 0}, card.get()), (Point{10, 10}));
}

TEST(View, AutoresizingFollowsTheSuperviewsSize) {
    auto parent = std::make_shared<View>(Rect(0, 0, 100, 100));
    auto fill = std::make_shared<View>(Rect(10, 10, 80, 80));
    fill->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    auto corner = std::make_shared<View>(Rect(80, 80, 10, 10));
    corner->setAutoresizingMask(AutoresizingFlexibleLeftMargin | AutoresizingFlexibleTopMargin);
    parent->addSubview(fill);
    parent->addSubview(corner);
    parent->setFrame(Rect(0, 0, 200, 150));
    EXPECT_EQ(fill->frame(), Rect(10, 10, 180, 130));
    EXPECT_EQ(corner->frame(), Rect(180, 130, 10, 10));
}

TEST(View, AnimationsMoveFromOldToNewValuesAndCompleteOnce) {
    uitest::Screen screen;
    auto v = std::make_shared<View>(Rect(0, 0, 100, 100));
    screen.root->view()->addSubview(v);
    std::vector<bool> completions;
    View::animate(0.2, [&] {
        v->setAlpha(0.0);
        v->setFrame(Rect(100, 0, 100, 100));
    }, [&](bool finished) { completions.push_back(finished); });
    EXPECT_EQ(v->alpha(), 0.0);  // the model value is the new one at once
    EXPECT_GT(v->presentationAlpha(), 0.99);
    uitest::runFor(0.1);
    EXPECT_GT(v->presentationAlpha(), 0.0);
    EXPECT_LT(v->presentationAlpha(), 1.0);
    EXPECT_GT(v->presentationFrame().x(), 0.0);
    EXPECT_LT(v->presentationFrame().x(), 100.0);
    ASSERT_TRUE(uitest::runUntil([&] { return !completions.empty(); }));
    EXPECT_EQ(completions, std::vector<bool>{true});
    EXPECT_EQ(v->presentationAlpha(), 0.0);

    // A later animation of the same property replaces the running one.
    View::animate(1.0, [&] { v->setAlpha(1.0); }, [&](bool finished) { completions.push_back(finished); });
    View::animate(0.05, [&] { v->setAlpha(0.5); }, [&](bool finished) { completions.push_back(finished); });
    ASSERT_TRUE(uitest::runUntil([&] { return completions.size() == 3; }));
    EXPECT_EQ(completions[1], false);
    EXPECT_EQ(completions[2], true);
    uitest::runFor(0.05);
    EXPECT_EQ(completions.size(), 3u);
}

// Records the calls that reach the view controller's method table (as the trace's hook does).
std::vector<std::string> gCalls;
platform::Imp gOriginalWillAppear = nullptr;
void hookedWillAppear(Object& self, bool animated) {
    gCalls.push_back("willAppear:" + self.className() + (animated ? ":animated" : ""));
    platform::fromImp<void(Object&, bool)>(gOriginalWillAppear)(self, animated);
}
void hookedDidLoad(Object& self) { gCalls.push_back("didLoad:" + self.className()); }
void hookedWillDisappear(Object& self, bool) { gCalls.push_back("willDisappear:" + self.className()); }

class SettingsViewController : public ViewController {
public:
    void viewWillAppear(bool animated) override {
        ViewController::viewWillAppear(animated);
        ++appearances;
    }
    int appearances = 0;
};
class PlainViewController : public ViewController {};

TEST(ViewController, PresentAndDismissGoThroughTheMethodTables) {
    registerToolkitClasses();
    using platform::ObjectRuntime;
    gOriginalWillAppear = ObjectRuntime::replaceMethod("ViewController", "viewWillAppear:",
                                                       platform::toImp(&hookedWillAppear), "v@:B");
    ObjectRuntime::replaceMethod("ViewController", "viewDidLoad", platform::toImp(&hookedDidLoad), "v@:");
    ObjectRuntime::replaceMethod("ViewController", "viewWillDisappear:", platform::toImp(&hookedWillDisappear), "v@:B");

    auto settings = std::make_shared<SettingsViewController>();
    uitest::Screen screen(settings);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"didLoad:SettingsViewController", "willAppear:SettingsViewController"}));
    EXPECT_EQ(settings->appearances, 1);

    gCalls.clear();
    auto modal = std::make_shared<PlainViewController>();
    bool presented = false;
    settings->presentViewController(modal, true, [&] { presented = true; });
    EXPECT_EQ(settings->presentedViewController(), modal);
    EXPECT_EQ(modal->presentingViewController(), settings);
    ASSERT_TRUE(uitest::runUntil([&] { return presented; }));
    EXPECT_EQ(gCalls, (std::vector<std::string>{"didLoad:PlainViewController", "willDisappear:SettingsViewController",
                                                "willAppear:PlainViewController:animated"}));
    EXPECT_EQ(modal->view()->window(), screen.window);
    EXPECT_EQ(settings->view()->window(), nullptr);  // full screen: the presenter's view left

    // Presenting again while presenting is refused.
    bool second = false;
    settings->presentViewController(std::make_shared<PlainViewController>(), false, [&] { second = true; });
    uitest::runFor(0.05);
    EXPECT_FALSE(second);

    gCalls.clear();
    bool dismissed = false;
    modal->dismissViewController(false, [&] { dismissed = true; });
    ASSERT_TRUE(uitest::runUntil([&] { return dismissed; }));
    EXPECT_EQ(gCalls, (std::vector<std::string>{"willDisappear:PlainViewController", "willAppear:SettingsViewController"}));
    EXPECT_EQ(settings->presentedViewController(), nullptr);
    EXPECT_EQ(settings->view()->window(), screen.window);
    EXPECT_EQ(modal->view()->window(), nullptr);
    EXPECT_EQ(settings->appearances, 2);
}

std::vector<std::string> gEvents;
platform::Imp gOriginalSendEvent = nullptr;
void hookedSendEvent(Object& self, Event& event) {
    platform::fromImp<void(Object&, Event&)>(gOriginalSendEvent)(self, event);
    for (const auto& t : event.allTouches()) {
        if (t->phase() == TouchPhase::Began) gEvents.push_back("tap:" + t->view()->className());
    }
}

TEST(Window, ScriptTapsReachButtonsThroughSendEventAndRecognisersSeeSwipes) {
    registerToolkitClasses();
    gOriginalSendEvent = platform::ObjectRuntime::replaceMethod("Window", "sendEvent:",
                                                                platform::toImp(&hookedSendEvent), "v@:@");
    uitest::Screen screen;
    auto button = std::make_shared<Button>(Rect(20, 100, 100, 44));
    int taps = 0;
    button->setAction([&] { ++taps; });
    screen.root->view()->addSubview(button);
    int swipes = 0, doubleTaps = 0;
    auto swipe = std::make_shared<SwipeGestureRecognizer>([&](GestureRecognizer&) { ++swipes; });
    swipe->setNumberOfTouchesRequired(3);
    swipe->setDirection(SwipeDirectionUp);
    screen.root->view()->addGestureRecognizer(swipe);
    screen.root->view()->addGestureRecognizer(swipe);  // once only
    EXPECT_EQ(screen.root->view()->gestureRecognizers().size(), 1u);
    auto doubleTap = std::make_shared<TapGestureRecognizer>([&](GestureRecognizer&) { ++doubleTaps; });
    doubleTap->setNumberOfTapsRequired(2);
    screen.root->view()->addGestureRecognizer(doubleTap);

    ASSERT_TRUE(uitest::play("tap 50 120\n"
                             "tap 300 600   # misses the button\n"
                             "swipe down\n"
                             "swipe up 2\n"
                             "swipe up\n"
                             "doubletap 200 400\n"));
    EXPECT_EQ(taps, 1);
    EXPECT_EQ(swipes, 1);      // three fingers upwards only
    EXPECT_EQ(doubleTaps, 1);  // the first tap of the pair is not a double tap
    ASSERT_GE(gEvents.size(), 2u);
    EXPECT_EQ(gEvents[0], "tap:Button");
    EXPECT_EQ(gEvents[1], "tap:View");
}

class Limit : public TextFieldDelegate {
public:
    bool textFieldShouldChangeCharactersInRange(TextField& field, Range, const std::string& text) override {
        return text.empty() || field.length() < 5;
    }
    bool textFieldShouldReturn(TextField&) override {
        ++returns;
        return true;
    }
    int returns = 0;
};

TEST(TextControls, TypedTextGoesToTheFirstResponderWithinTheDelegatesLimits) {
    uitest::Screen screen;
    auto field = std::make_shared<TextField>(Rect(20, 100, 200, 40));
    auto text = std::make_shared<TextView>(Rect(20, 200, 200, 100));
    Limit limit;
    field->setDelegate(&limit);
    screen.root->view()->addSubview(field);
    screen.root->view()->addSubview(text);
    int changes = 0;
    auto token = NotificationCenter::addObserver(TextViewTextDidChangeNotification, false, [&](const std::string&, const void* o) {
        if (o == text.get()) ++changes;
    });

    ASSERT_TRUE(uitest::play("tap 100 120\ntype 联系方式abc\nkey backspace\ntype xyz\nkey return\n"
                             "tap 100 250\ntype 第一行\nkey return\ntype two\n"));
    EXPECT_EQ(field->text(), "联系方式ab");  // 7 taken at once into an empty field, one erased, "xyz" refused
    EXPECT_EQ(limit.returns, 1);
    EXPECT_EQ(text->text(), "第一行\ntwo");
    EXPECT_TRUE(text->isFirstResponder());
    EXPECT_FALSE(field->isFirstResponder());
    EXPECT_EQ(changes, 3);
    NotificationCenter::removeObserver(token);
}

TEST(TextControls, ALongTextScrollsToItsCaretWhichKeysTapsAndDragsMove) {
    uitest::Screen screen;
    // As the comment card: 14-point text, about eight lines high.
    auto text = std::make_shared<TextView>(Rect(10, 80, 355, 170));
    text->setFont(Font::systemFontOfSize(14));
    screen.root->view()->addSubview(text);
    const std::string dir = testenv::makeTempDir();
    std::string script = "tap 100 120\ntype 保存按钮点了没有反应，再点一次就闪退了。\n"
                         "type https://example.invalid/a/very/long/address/without/any/space/that/must/wrap/somewhere\n";
    for (int line = 1; line <= 10; ++line) script += "key return\ntype line " + std::to_string(line) + " 第" + std::to_string(line) + "行\n";
    ASSERT_TRUE(uitest::play(script + "snapshot " + dir + "/end.png\n"));

    const Rect field = text->frame();
    auto inView = [&](const Rect& caret) {
        return caret.minY() >= 0 && caret.maxY() <= field.height() && caret.minX() >= 0 && caret.maxX() <= field.width();
    };
    auto caretShown = [&](const std::string& png) {
        auto shot = Image::imageWithContentsOfFile(png);
        const Rect caret = text->caretRect();
        return shot && near(shot->pixelAt(static_cast<int>((field.x() + caret.midX()) * 2),
                                           static_cast<int>((field.y() + caret.midY()) * 2)),
                            0.0, 0.478, 1.0, 0.05);
    };
    EXPECT_GT(text->contentOffset().y, 100.0);
    EXPECT_EQ(text->caretPosition(), text->length());
    EXPECT_TRUE(inView(text->caretRect()));
    EXPECT_TRUE(caretShown(dir + "/end.png"));

    // Three lines up and two characters left, then typing goes in there.
    const Rect end = text->caretRect();
    ASSERT_TRUE(uitest::play("key up\nkey up\nkey up\nkey left\nkey left\ntype ^\nsnapshot " + dir + "/moved.png\n"));
    EXPECT_NEAR(text->caretRect().y(), end.y() - 3 * end.height(), 2.0);
    EXPECT_NE(text->text().find("line 7 第^7行"), std::string::npos);
    EXPECT_TRUE(caretShown(dir + "/moved.png"));

    // Up past the first line reaches the start, scrolled to the top; a drag scrolls back down.
    std::string ups;
    for (int i = 0; i < 20; ++i) ups += "key up\n";
    ASSERT_TRUE(uitest::play(ups));
    EXPECT_EQ(text->caretPosition(), 0u);
    EXPECT_EQ(text->contentOffset().y, 0.0);
    ASSERT_TRUE(uitest::play("drag 100 240 100 100\n"));
    EXPECT_GT(text->contentOffset().y, 100.0);
    EXPECT_EQ(text->caretPosition(), 0u);

    // A tap places the caret: the start of the second line, the end of the first.
    text->setText("abc\ndef\nghi");
    text->setContentOffset(Point{0, 0});
    const double line = text->caretRect().height();
    ASSERT_TRUE(uitest::play("tap 16 " + std::to_string(80 + 8 + 1.5 * line) + "\n"));
    EXPECT_EQ(text->caretPosition(), 4u);
    ASSERT_TRUE(uitest::play("tap 300 " + std::to_string(80 + 8 + 0.5 * line) + "\n"));
    EXPECT_EQ(text->caretPosition(), 3u);  // after "abc", before the line break
    ASSERT_TRUE(uitest::play("key down\n"));
    EXPECT_EQ(text->caretPosition(), 7u);
}

class Rows : public TableViewDataSource, public TableViewDelegate {
public:
    std::int64_t tableViewNumberOfRowsInSection(TableView&, std::int64_t) override { return rows; }
    std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(TableView& table, IndexPath path) override {
        auto cell = table.dequeueReusableCellWithIdentifier("cell");
        if (!cell) {
            cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, "cell");
            ++made;
        }
        cell->textLabel()->setText("row " + std::to_string(path.row));
        return cell;
    }
    double tableViewHeightForRowAtIndexPath(TableView&, IndexPath path) override { return path.row == 1 ? 1.0 : 50.0; }
    int rows = 3;
    int made = 0;
};

TEST(TableView, LaysOutRowsByHeightAndReusesCells) {
    uitest::Screen screen;
    auto table = std::make_shared<TableView>(Rect(0, 100, 300, 200), TableViewStyle::Plain);
    Rows rows;
    table->setDataSource(&rows);
    table->setDelegate(&rows);
    screen.root->view()->addSubview(table);
    table->layoutIfNeeded();
    ASSERT_EQ(table->visibleCells().size(), 3u);
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 2})->frame(), Rect(0, 51, 300, 50));
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 1})->frame().height(), 1.0);
    table->reloadData();
    EXPECT_EQ(rows.made, 3);  // the second load took the cells back from the pool
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 0})->textLabel()->text(), "row 0");
}

class Chooser : public AlertViewDelegate {
public:
    void alertView(AlertView&, std::int64_t index) override { chosen.push_back(index); }
    std::vector<std::int64_t> chosen;
};

TEST(AlertView, ShowsAboveTheAppAndReportsTheButtonPressedByScriptOrTap) {
    uitest::Screen screen;
    screen.root->view()->setBackgroundColor(Color::whiteColor());
    Chooser chooser;
    auto alert = std::make_shared<AlertView>("反馈问题", "摇一摇即可向开发者反馈问题", &chooser, "不小心摇了一下",
                                             std::vector<std::string>{"我要提建议", "我要反馈Bug"});
    EXPECT_EQ(alert->numberOfButtons(), 3);
    EXPECT_EQ(alert->buttonTitleAtIndex(0), "不小心摇了一下");
    alert->show();
    EXPECT_EQ(AlertView::visibleAlert(), alert);
    EXPECT_EQ(Application::shared().keyWindow(), screen.window);  // the app keeps the keyboard
    ASSERT_TRUE(uitest::play("alert 2\nalert 1\n"));
    EXPECT_EQ(chooser.chosen, std::vector<std::int64_t>{2});  // the second line finds no alert
    EXPECT_EQ(AlertView::visibleAlert(), nullptr);

    // A tap on a drawn button presses it; the screen shows the dimmed app and the card.
    auto again = std::make_shared<AlertView>("标题", "", &chooser, "取消", std::vector<std::string>{"好"});
    again->show();
    auto picture = Screen::main().capture();
    Rect card = again->cardRect();
    EXPECT_TRUE(near(picture->pixelAt(10, 700), 0.6, 0.6, 0.6, 0.05));  // white under 40 % black
    EXPECT_GT(picture->pixelAt(static_cast<int>(card.midX() * 2), static_cast<int>(card.y() * 2 + 10)).red, 0.9);
    // The script's snapshot of the key window shows the alert over it.
    const std::string shot = testenv::makeTempDir() + "/alert.png";
    ASSERT_TRUE(uitest::play("snapshot " + shot + "\n"));
    auto scripted = Image::imageWithContentsOfFile(shot);
    ASSERT_TRUE(scripted);
    EXPECT_TRUE(near(scripted->pixelAt(10, 700), 0.6, 0.6, 0.6, 0.05));
    EXPECT_GT(scripted->pixelAt(static_cast<int>(card.midX() * 2), static_cast<int>(card.y() * 2 + 10)).red, 0.9);
    Rect ok = again->buttonRect(1);
    ASSERT_TRUE(uitest::play("tap " + std::to_string(ok.midX()) + " " + std::to_string(ok.midY()) + "\n"));
    EXPECT_EQ(chooser.chosen, (std::vector<std::int64_t>{2, 1}));
}

}  // namespace
