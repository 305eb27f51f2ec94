// The on-screen feedback flow: shake and swipe triggers, the alert's buttons, the edit screen
// reached with the screenshot, the commit and the "sent" prompt, the operation trace and its
// hooks, the snapshot class, the prompts, the placeholder text view and animated GIFs.
#include "GifWriter.h"
#include "Wren/WrenLoader.h"
#include "Wren/WrenPreferences.h"
#include "Wren/WrenWindowControllerDelegate.h"
#include "Wren/ui/ImageAnimatedGIF.h"
#include "Wren/ui/QNCGContextAddRoundRect.h"
#include "Wren/ui/QNHookInstaller.h"
#include "Wren/ui/QNTextView.h"
#include "Wren/ui/WrenReportPromptView.h"
#include "Wren/ui/WrenSnapshotPromptView.h"
#include "Wren/ui/WrenUIScreenSnapshot.h"
#include "Wren/ui/WrenWindowController.h"
#include "platform/foundation/Files.h"
#include "platform/runtime/ObjectRuntime.h"
#include "platform/runtime/RunLoop.h"
#include "platform/ui/MethodTables.h"
#include "support/TestEnv.h"
#include "wren/Wren.h"

#include <gtest/gtest.h>

#include <quillon/ui.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace ui = quillon::ui;
using platform::Value;

namespace {

bool runUntil(const std::function<bool()>& done, double seconds = 3.0) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        platform::RunLoop::main().runOnce(0.01);
    }
    return true;
}

void expectNear(const ui::Rect& a, const ui::Rect& b) {
    EXPECT_NEAR(a.x(), b.x(), 1e-9);
    EXPECT_NEAR(a.y(), b.y(), 1e-9);
    EXPECT_NEAR(a.width(), b.width(), 1e-9);
    EXPECT_NEAR(a.height(), b.height(), 1e-9);
}

void runFor(double seconds) { platform::RunLoop::main().runFor(seconds); }

class SettingsViewController : public ui::ViewController {};

class WrenTestView : public ui::View {
public:
    using ui::View::View;
};

struct Delegate : WrenWindowControllerDelegate {
    bool windowController(WrenWindowController*, const Value& report, const Value& device) override {
        reports.push_back(report);
        devices.push_back(device);
        return true;
    }
    void windowControllerClosedShakeReport(WrenWindowController*) override { ++closed; }
    std::vector<Value> reports, devices;
    int closed = 0;
};

// A key window with a host screen, the window controller started on it with a way of feedback.
struct Flow {
    explicit Flow(std::int64_t way = 0, bool closeOption = false) {
        ui::MotionManager::setSimulated(true);
        root = std::make_shared<SettingsViewController>();
        window = std::make_shared<ui::Window>();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        prefs.setWayOfFeedback(way);
        prefs.setShowCloseFeedbackOption(closeOption);
        wc.setPreferences(&prefs);
        wc.setDelegate(&delegate);
        wc.setDeviceInfoSource([] { return Value{{"dv", "test"}}; });
        wc.enabledMonitorShakeEvent(true);
        runFor(0.05);
    }
    std::shared_ptr<ui::AlertView> shake(double x, double y, double z) {
        ui::MotionManager::injectAccelerometerSample(x, y, z);
        runUntil([] { return ui::AlertView::visibleAlert() != nullptr; }, 0.5);
        return ui::AlertView::visibleAlert();
    }
    WrenWindowController& wc = WrenWindowController::sharedInstance();
    WrenPreferences prefs;
    Delegate delegate;
    std::shared_ptr<SettingsViewController> root;
    std::shared_ptr<ui::Window> window;
};

std::size_t attachedCount(const std::shared_ptr<ui::View>& view, const std::shared_ptr<ui::GestureRecognizer>& g) {
    std::size_t n = 0;
    for (const auto& r : view->gestureRecognizers()) n += r == g;
    return n;
}

void play(const std::string& script) {
    bool done = false;
    ASSERT_TRUE(ui::EventScript::play(script, "flow", [&] { done = true; }));
    ASSERT_TRUE(runUntil([&] { return done; }, 10.0));
}

bool sentPromptShown(const std::shared_ptr<ui::ViewController>& host) {
    for (const auto& v : host->view()->subviews())
        if (std::dynamic_pointer_cast<WrenReportPromptView>(v)) return true;
    return false;
}

// Shakes, presses the alert's bug button and waits for the edit screen.
std::shared_ptr<WrenUISnapshotEditController> openEditScreen(Flow& flow) {
    auto alert = flow.shake(3.0, 0, 0);
    if (!alert) return nullptr;
    alert->pressButton(2);
    auto edit = flow.wc.snapshotEditController();
    if (!runUntil([&] { return edit && WrenWindowController::topViewController(flow.root) == edit; })) return nullptr;
    return edit;
}

}  // namespace

TEST(WrenFlow, ShakeThresholdAndAlertButtons) {
    Flow flow(0, true);
    // The threshold is the single-precision 2.2 widened; a sample of exactly that is not above it.
    const double threshold = static_cast<double>(2.2f);
    EXPECT_EQ(flow.shake(threshold, 0, 0), nullptr);
    EXPECT_EQ(flow.shake(1.5, 1.5, 9.0), nullptr);
    auto alert = flow.shake(0, threshold + 1e-9, 0);
    ASSERT_NE(alert, nullptr);
    EXPECT_FALSE(flow.wc.isAccelerometerActive());
    EXPECT_FALSE(flow.wc.isRecordOperation());
    EXPECT_EQ(alert->title(), "反馈问题");
    EXPECT_EQ(alert->message(), "摇一摇即可向开发者反馈问题");
    ASSERT_EQ(alert->numberOfButtons(), 4);
    EXPECT_EQ(alert->buttonTitleAtIndex(0), "不小心摇了一下");
    EXPECT_EQ(alert->buttonTitleAtIndex(1), "我要提建议");
    EXPECT_EQ(alert->buttonTitleAtIndex(2), "我要反馈Bug");
    EXPECT_EQ(alert->buttonTitleAtIndex(3), "关闭摇一摇反馈");

    // Accidental: listening again, trace on.
    alert->pressButton(0);
    EXPECT_TRUE(flow.wc.isAccelerometerActive());
    EXPECT_TRUE(flow.wc.isRecordOperation());

    // Switch-off: trigger stopped, delegate told; the foreground resumes sampling anyway.
    alert = flow.shake(1.6, 1.6, 5.0);
    ASSERT_NE(alert, nullptr);
    alert->pressButton(3);
    EXPECT_FALSE(flow.wc.isAccelerometerActive());
    EXPECT_EQ(flow.delegate.closed, 1);
    ui::Application::shared().enterBackground();
    ui::Application::shared().enterForeground();
    EXPECT_TRUE(runUntil([&] { return flow.wc.isAccelerometerActive(); }));

    flow.prefs.setShowCloseFeedbackOption(false);
    alert = flow.shake(3.0, 0, 0);
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->numberOfButtons(), 3);
}

TEST(WrenFlow, FeedbackButtonsPresentTheEditScreenAndSubmitOnce) {
    Flow flow;
    auto alert = flow.shake(3.0, 0, 0);
    ASSERT_NE(alert, nullptr);
    const double opened = ui::mediaTime();
    alert->pressButton(1);
    EXPECT_EQ(flow.prefs.feedbackType(), 2);
    auto edit = flow.wc.snapshotEditController();
    ASSERT_NE(edit, nullptr);
    // A white flash over the whole editor: in at once, out after 0.25 s, gone 0.3 s after that.
    const auto flash = edit->view()->subviews().back();
    EXPECT_EQ(flash->backgroundColor(), ui::Color::whiteColor());
    expectNear(flash->frame(), edit->view()->bounds());
    EXPECT_EQ(flash->alpha(), 1.0);
    ASSERT_TRUE(runUntil([&] { return flash->alpha() == 0.0; }));
    const double faded = ui::mediaTime();
    EXPECT_GE(faded - opened, 0.25);
    ASSERT_TRUE(runUntil([&] { return flash->superview() == nullptr; }));
    EXPECT_GE(ui::mediaTime() - faded, 0.2);  // 0.3 s, less what polling adds to `faded`
    ASSERT_EQ(WrenWindowController::topViewController(flow.root), edit);
    // The screenshot is the host screen at the screen's scale.
    ASSERT_NE(edit->originalImage(), nullptr);
    EXPECT_EQ(edit->originalImage()->pixelWidth(), 750);

    // A pen event restarts sampling and the trace, and the screen stays.
    flow.wc.snapshotEditController(edit.get(), 10);
    EXPECT_TRUE(flow.wc.isAccelerometerActive());
    EXPECT_TRUE(flow.wc.isRecordOperation());
    EXPECT_EQ(flow.wc.snapshotEditController(), edit);

    flow.wc.appendOperationRecord("tap:Marker");
    edit->commentView()->setText("合计不对");
    edit->contactView()->setText("qa@example.com");
    flow.wc.snapshotEditController(edit.get(), 0);
    ASSERT_EQ(flow.delegate.reports.size(), 1u);
    const Value& report = flow.delegate.reports[0];
    const auto jpeg = report["modifiedImageData"].get_binary();
    ASSERT_GT(jpeg.size(), 2u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    EXPECT_EQ(report["commentText"], "合计不对");
    EXPECT_EQ(report["contactText"], "qa@example.com");
    // Screen records reach the trace from a background queue, so the marker need not be last.
    const auto& ops = report["operation"];
    EXPECT_TRUE(std::any_of(ops.begin(), ops.end(),
                            [](const Value& op) { return op.get<std::string>().ends_with(" tap:Marker"); }));
    EXPECT_EQ(flow.delegate.devices[0]["dv"], "test");

    // Dismissed, then the "sent" prompt in the host screen for a second.
    ASSERT_TRUE(runUntil([&] { return flow.wc.snapshotEditController() == nullptr; }));
    EXPECT_TRUE(runUntil([&] { return sentPromptShown(flow.root); }, 0.5));
    EXPECT_TRUE(runUntil([&] { return !sentPromptShown(flow.root); }, 3.0));
    EXPECT_EQ(flow.delegate.reports.size(), 1u);
}

TEST(WrenFlow, BackSendsNothingAndSubmitWaitsBoundedForTheDeviceRecord) {
    Flow flow;
    auto alert = flow.shake(3.0, 0, 0);
    ASSERT_NE(alert, nullptr);
    alert->pressButton(2);
    EXPECT_EQ(flow.prefs.feedbackType(), 0);
    auto edit = flow.wc.snapshotEditController();
    ASSERT_TRUE(runUntil([&] { return WrenWindowController::topViewController(flow.root) == edit; }));
    flow.wc.snapshotEditController(edit.get(), 1);
    ASSERT_TRUE(runUntil([&] { return flow.wc.snapshotEditController() == nullptr; }));
    runFor(0.2);
    EXPECT_TRUE(flow.delegate.reports.empty());
    EXPECT_FALSE(sentPromptShown(flow.root));

    // A slow device record is waited for; one slower than the bound is not.
    for (double delay : {0.3, 1.6}) {
        flow.wc.setDeviceInfoSource([delay] {
            std::this_thread::sleep_for(std::chrono::duration<double>(delay));
            return Value{{"dv", delay}};
        });
        alert = flow.shake(3.0, 0, 0);
        ASSERT_NE(alert, nullptr);
        alert->pressButton(2);
        edit = flow.wc.snapshotEditController();
        const auto start = std::chrono::steady_clock::now();
        flow.wc.snapshotEditController(edit.get(), 0);
        const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ASSERT_FALSE(flow.delegate.devices.empty());
        if (delay < 1) {
            EXPECT_EQ(flow.delegate.devices.back()["dv"], delay);
        } else {
            EXPECT_LT(waited, 1.5);
        }
        ASSERT_TRUE(runUntil([&] { return flow.wc.snapshotEditController() == nullptr; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(delay < 1 ? 0 : 700));
    }
}

TEST(WrenFlow, SwipeRecogniserAttachedOnceAndOnAppearingScreens) {
    Flow flow(1);
    auto swipe = flow.wc.swipeGesture();
    EXPECT_EQ(swipe->numberOfTouchesRequired(), 3);
    for (int i = 0; i < 3; ++i) flow.wc.switchWayOfFeedback(1);
    EXPECT_EQ(attachedCount(flow.root->view(), swipe), 1u);
    EXPECT_EQ(swipe->direction(), WrenWindowController::kSwipeUp);
    flow.wc.switchWayOfFeedback(2);
    EXPECT_EQ(swipe->direction(), WrenWindowController::kSwipeDown);
    EXPECT_EQ(attachedCount(flow.root->view(), swipe), 1u);
    EXPECT_FALSE(flow.wc.isAccelerometerActive());

    // A screen presented by the host gets the recogniser through the appearance hook.
    auto next = std::make_shared<SettingsViewController>();
    flow.root->presentViewController(next, false, nullptr);
    EXPECT_TRUE(runUntil([&] { return attachedCount(next->view(), swipe) == 1; }));

    // A three-finger swipe down opens the alert.
    bool done = false;
    ui::EventScript::play("swipe down 3\n", "swipe", [&] { done = true; });
    EXPECT_TRUE(runUntil([&] { return done && ui::AlertView::visibleAlert() != nullptr; }));

    flow.wc.switchWayOfFeedback(3);
    EXPECT_FALSE(flow.wc.isAccelerometerActive());
}

TEST(WrenFlow, NoSecondFlowWhileOneIsOnScreenAndEventsActOnTheirSender) {
    Flow flow;
    auto alert = flow.shake(3.0, 0, 0);
    ASSERT_NE(alert, nullptr);
    flow.wc.swipeGestureAction();
    runFor(0.05);
    EXPECT_EQ(ui::AlertView::visibleAlert(), alert);
    alert->pressButton(2);
    auto edit = flow.wc.snapshotEditController();
    ASSERT_TRUE(runUntil([&] { return WrenWindowController::topViewController(flow.root) == edit; }));
    // Note restarts the accelerometer; a shake over the edit screen then opens nothing, and
    // Back leaves the edit screen.
    play("tap 20 400\nwait 0.3\ntap 187 645\nwait 0.3\nshake\nwait 0.3\n");
    EXPECT_EQ(ui::AlertView::visibleAlert(), nullptr);
    play("tap 20 42\n");
    EXPECT_TRUE(runUntil([&] { return WrenWindowController::topViewController(flow.root) == flow.root; }));
    EXPECT_EQ(flow.wc.snapshotEditController(), nullptr);

    // An edit screen other than the stored one is closed by its own Back all the same.
    auto other = std::make_shared<WrenUISnapshotEditController>();
    other->setDelegate(&flow.wc);
    flow.root->presentViewController(other, false, nullptr);
    flow.wc.snapshotEditController(other.get(), 1);
    EXPECT_TRUE(runUntil([&] { return flow.root->presentedViewController() == nullptr; }));
}

TEST(WrenFlow, ReportThatGoesNowhereShowsNoSentPrompt) {
    Flow flow;
    // No delegate, or the loader with no device record (which it drops).
    for (WrenWindowControllerDelegate* delegate : {static_cast<WrenWindowControllerDelegate*>(nullptr),
                                                   static_cast<WrenWindowControllerDelegate*>(&WrenLoader::sharedInstance())}) {
        flow.wc.setDelegate(delegate);
        flow.wc.setDeviceInfoSource(nullptr);
        auto edit = openEditScreen(flow);
        ASSERT_NE(edit, nullptr);
        flow.wc.snapshotEditController(edit.get(), 0);
        ASSERT_TRUE(runUntil([&] { return flow.wc.snapshotEditController() == nullptr; }));
        EXPECT_FALSE(runUntil([&] { return sentPromptShown(flow.root); }, 0.5));
    }
}

TEST(WrenFlow, SwipeReArmedOnThePresentedScreen) {
    Flow flow(1, true);
    auto swipe = flow.wc.swipeGesture();
    auto next = std::make_shared<SettingsViewController>();
    flow.root->presentViewController(next, false, nullptr);
    ASSERT_TRUE(runUntil([&] { return attachedCount(next->view(), swipe) == 1; }));
    // Accidental twice: the swipe on the screen that shows opens the alert each time.
    for (int button : {0, 0, 3}) {
        play("swipe up 3\n");
        auto alert = ui::AlertView::visibleAlert();
        ASSERT_NE(alert, nullptr) << button;
        ASSERT_TRUE(alert->pressButton(button));
    }
    // Switched off: the recogniser is gone from the screen that shows.
    EXPECT_EQ(attachedCount(next->view(), swipe), 0u);
}

TEST(WrenFlow, LoaderStartsTheTriggerOnlyWithTheReportUI) {
    for (bool reportUI : {false, true}) {
        ui::MotionManager::setSimulated(true);
        auto window = std::make_shared<ui::Window>();
        window->setRootViewController(std::make_shared<ui::ViewController>());
        window->makeKeyAndVisible();
        WrenConfig config = WrenConfig::defaultConfig();
        config.enabledShake = false;
        config.enabledReportUI = reportUI;
        Wren::init("flow-key", config);
        runFor(0.1);
        WrenScreens* screens = WrenLoader::sharedInstance().loadedScreens(false);
        if (!reportUI) {
            EXPECT_EQ(screens, nullptr);
            continue;
        }
        ASSERT_EQ(screens, &WrenWindowController::sharedInstance());
        EXPECT_TRUE(WrenWindowController::sharedInstance().isAccelerometerActive());
        Wren::switchWayOfFeedback(1);
        EXPECT_FALSE(WrenWindowController::sharedInstance().isAccelerometerActive());
        EXPECT_EQ(attachedCount(window->rootViewController()->view(), WrenWindowController::sharedInstance().swipeGesture()), 1u);
    }
}

TEST(WrenTrace, TapsScreensLimitPausesAndTimeStamps) {
    setenv("TZ", "UTC", 1);
    tzset();
    WrenWindowController::setClockForTesting([] { return 1481105702.0; });
    Flow flow;
    auto button = std::make_shared<ui::Button>(ui::Rect(10, 100, 100, 40));
    auto own = std::make_shared<WrenTestView>(ui::Rect(10, 200, 100, 40));
    flow.root->view()->addSubview(button);
    flow.root->view()->addSubview(own);
    bool done = false;
    ui::EventScript::play("tap 50 120\ntap 50 220\n", "taps", [&] { done = true; });
    ASSERT_TRUE(runUntil([&] { return done; }));
    runFor(0.1);
    auto trace = flow.wc.operationRecord();
    auto has = [&](const std::string& entry) { return std::find(trace.begin(), trace.end(), entry) != trace.end(); };
    EXPECT_TRUE(has("2016-12-07 10:15:02 viewDidLoad:SettingsViewController"));
    EXPECT_TRUE(has("2016-12-07 10:15:02 viewWillAppear:SettingsViewController"));
    EXPECT_TRUE(has("2016-12-07 10:15:02 tap:Button"));
    for (const auto& entry : trace) EXPECT_EQ(entry.find("WrenTestView"), std::string::npos) << entry;

    // While the alert is up nothing is recorded.
    ASSERT_NE(flow.shake(3.0, 0, 0), nullptr);
    const std::size_t before = flow.wc.operationRecord().size();
    flow.wc.appendOperationRecord("tap:Hidden");
    EXPECT_EQ(flow.wc.operationRecord().size(), before);
    ui::AlertView::visibleAlert()->pressButton(0);

    for (int i = 0; i < 150; ++i) flow.wc.appendOperationRecord("tap:N" + std::to_string(i));
    trace = flow.wc.operationRecord();
    ASSERT_EQ(trace.size(), WrenWindowController::kOperationRecordLimit);
    EXPECT_EQ(trace.back(), "2016-12-07 10:15:02 tap:N149");
    EXPECT_EQ(trace.front(), "2016-12-07 10:15:02 tap:N49");
}

TEST(WrenTrace, FeedbackScreensTapsStayOutAfterToolEvents) {
    Flow flow;
    ASSERT_NE(openEditScreen(flow), nullptr);
    // Note switches recording back on; then the comment field, the contact field and the mask.
    play("tap 20 400\nwait 0.3\ntap 187 645\nwait 0.5\ntap 187 150\ntap 187 250\ntap 187 500\n");
    EXPECT_TRUE(flow.wc.isRecordOperation());
    for (const auto& entry : flow.wc.operationRecord()) EXPECT_EQ(entry.find(" tap:"), std::string::npos) << entry;
}

TEST(WrenTrace, OriginalCallbackGetsTheAnimatedFlagAndTopControllerFollowsPresentation) {
    Flow flow;
    // What the original viewWillAppear: (kept under its renamed selector) receives.
    static std::vector<bool> flags;
    using platform::ObjectRuntime;
    const std::string renamed = QNHookInstaller::getReplacementMethod(ui::kViewWillAppearSelector);
    void (*record)(ui::Object&, bool) = [](ui::Object&, bool animated) { flags.push_back(animated); };
    platform::Imp original =
        ObjectRuntime::replaceMethod(ui::kViewControllerClass, renamed, platform::toImp(record), "v@:B");
    ASSERT_NE(original, nullptr);
    auto next = std::make_shared<SettingsViewController>();
    flow.root->presentViewController(next, true, nullptr);
    EXPECT_EQ(WrenWindowController::topViewController(flow.root), next);
    EXPECT_EQ(WrenWindowController::topViewController(nullptr), nullptr);
    next->dismissViewController(false, nullptr);
    ObjectRuntime::replaceMethod(ui::kViewControllerClass, renamed, original, "v@:B");
    EXPECT_EQ(flags, (std::vector<bool>{true, false}));
}

TEST(QNHookInstallerTest, MissingMethodsAndSecondInstallation) {
    using platform::ObjectRuntime;
    void (*imp)() = [] {};
    void (*other)() = [] {};
    ASSERT_TRUE(ObjectRuntime::registerClass("HookOriginal"));
    ASSERT_TRUE(ObjectRuntime::registerClass("HookTarget"));
    ObjectRuntime::addMethod("HookOriginal", "run", imp, "v@:");
    ObjectRuntime::addMethod("HookTarget", "run", other, "v@:");
    EXPECT_FALSE(QNHookInstaller::installInstanceMethodHookWithOriginal("HookOriginal", "missing", "HookTarget", "run"));
    EXPECT_FALSE(QNHookInstaller::installInstanceMethodHookWithOriginal("HookOriginal", "run", "HookTarget", "missing"));
    EXPECT_FALSE(QNHookInstaller::installInstanceMethodHookWithOriginal("NoSuchClass", "run", "HookTarget", "run"));
    EXPECT_EQ(ObjectRuntime::lookup("HookOriginal", "run"), imp);
    EXPECT_EQ(ObjectRuntime::lookup("HookOriginal", "hookxx_run"), nullptr);

    EXPECT_TRUE(QNHookInstaller::installInstanceMethodHookWithOriginal("HookOriginal", "run", "HookTarget", "run"));
    EXPECT_EQ(ObjectRuntime::lookup("HookOriginal", "run"), other);
    EXPECT_EQ(ObjectRuntime::lookup("HookOriginal", "hookxx_run"), imp);
    EXPECT_FALSE(QNHookInstaller::installInstanceMethodHookWithOriginal("HookOriginal", "run", "HookTarget", "run"));
    EXPECT_EQ(ObjectRuntime::lookup("HookOriginal", "hookxx_run"), imp);

    // The toolkit's table is hooked once, however often the window controller is reached.
    WrenWindowController::sharedInstance();
    EXPECT_NE(ObjectRuntime::lookup("Window", "hookxx_sendEvent:"), nullptr);
    EXPECT_FALSE(QNHookInstaller::installInstanceMethodHookWithOriginal("Window", "sendEvent:", "WrenWindowController",
                                                                        "sendEvent:"));
}

TEST(WrenUIScreenSnapshotTest, StatusBarCropFilterAndTransparency) {
    auto image = ui::Image::create(750, 1334, 2.0);
    auto cut = WrenUIScreenSnapshot::cutStatusBarHeightForImage(image);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->pixelHeight(), 1334 - 40);
    EXPECT_EQ(cut->scale(), 1.0);
    ui::Screen::main().setBounds(ui::Size{414, 736}, 3.0);
    image = ui::Image::create(1242, 2208, 3.0);
    EXPECT_EQ(WrenUIScreenSnapshot::cutStatusBarHeightForImage(image)->pixelHeight(), 2208 - 60);
    ui::Application::shared().setStatusBarHidden(true);
    EXPECT_EQ(WrenUIScreenSnapshot::cutStatusBarHeightForImage(image)->pixelHeight(), 2208);
    ui::Application::shared().setStatusBarHidden(false);
    ui::Screen::main().reset();

    auto window = std::make_shared<ui::Window>();
    window->setBackgroundColor(ui::Color::redColor());
    window->makeKeyAndVisible();
    auto offscreen = std::make_shared<ui::Window>(ui::Rect(0, 0, 100, 100));
    offscreen->setBackgroundColor(ui::Color::blueColor());
    offscreen->setOnMainScreen(false);
    offscreen->makeKeyAndVisible();
    window->makeKeyWindow();
    auto none = WrenUIScreenSnapshot::screenSnapshot([](const ui::Window&) { return false; });
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->pixelWidth(), 750);
    EXPECT_EQ(none->pixelHeight(), 1334);
    EXPECT_EQ(none->pixelAt(375, 667).alpha, 0.0);
    auto all = WrenUIScreenSnapshot::screenSnapshot([](const ui::Window&) { return true; });
    EXPECT_EQ(all->pixelAt(10, 10), ui::Color::redColor());  // the external screen's window is left out
    EXPECT_EQ(all->pixelAt(700, 1300), ui::Color::redColor());

    // Saving writes a PNG without the status bar into the configured pictures folder.
    const std::string home = testenv::home();
    platform::fs::createDirectories(home + "/.config");
    platform::fs::writeAtomically(home + "/.config/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    EXPECT_EQ(WrenUIScreenSnapshot::picturesDirectory(), home + "/Bilder");
    WrenUIScreenSnapshot::saveToImageLibraryByImage(all);
    runFor(0.1);
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(home + "/Bilder")) files.push_back(entry.path());
    ASSERT_EQ(files.size(), 1u);
    auto saved = ui::Image::imageWithContentsOfFile(files[0]);
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->pixelHeight(), 1334 - 40);
}

namespace {

std::vector<std::uint8_t> gif(const std::vector<std::optional<int>>& delays) {
    std::vector<gifwriter::Frame> frames;
    for (std::size_t i = 0; i < delays.size(); ++i) {
        gifwriter::Frame f;
        f.width = f.height = 4;
        f.indexes.assign(16, static_cast<std::uint8_t>(i % 4));
        f.delayCentiseconds = delays[i];
        frames.push_back(f);
    }
    return gifwriter::write(4, 4, {0xff0000, 0x00ff00, 0x0000ff, 0xffffff}, frames, true);
}

}  // namespace

TEST(AnimatedGIF, UnitFrameListAndDuration) {
    auto image = animatedImageWithAnimatedGIFData(gif({10, 20, 10}));
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->images().size(), 4u);
    EXPECT_DOUBLE_EQ(image->duration(), 0.4);
    EXPECT_EQ(image->images()[1], image->images()[2]);  // repeated, not copied
    EXPECT_EQ(image->images()[0]->pixelAt(0, 0), ui::Color::redColor());
    EXPECT_EQ(image->images()[1]->pixelAt(0, 0), ui::Color::greenColor());
    EXPECT_EQ(image->images()[3]->pixelAt(0, 0), ui::Color::blueColor());

    image = animatedImageWithAnimatedGIFData(gif({3, 7}));
    EXPECT_EQ(image->images().size(), 10u);
    image = animatedImageWithAnimatedGIFData(gif({50}));
    EXPECT_EQ(image->images().size(), 1u);
    EXPECT_DOUBLE_EQ(image->duration(), 0.5);
    image = animatedImageWithAnimatedGIFData(gif({std::nullopt, std::nullopt}));
    EXPECT_EQ(image->images().size(), 2u);
    EXPECT_DOUBLE_EQ(image->duration(), 0.02);
    // A delay of 0 in the file reads as the clamped 0.1 s.
    image = animatedImageWithAnimatedGIFData(gif({0}));
    EXPECT_DOUBLE_EQ(image->duration(), 0.1);
    // Another single-frame format: one frame of a centisecond.
    image = animatedImageWithAnimatedGIFData(ui::encodePNG(*ui::Image::create(2, 2)));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->images().size(), 1u);
    EXPECT_DOUBLE_EQ(image->duration(), 0.01);
    EXPECT_EQ(animatedImageWithAnimatedGIFData({1, 2, 3}), nullptr);

    // Delays that round to zero are clamped, so the unit always exists.
    EXPECT_EQ(animatedGIF::delayCentiseconds(animatedGIF::FrameDelay{0.004, std::nullopt}), 1);
    EXPECT_EQ(animatedGIF::delayCentiseconds(animatedGIF::FrameDelay{0.0, 0.1}), 10);
    EXPECT_EQ(animatedGIF::delayCentiseconds(animatedGIF::FrameDelay{0.125, 0.1}), 12);  // half to even
    EXPECT_EQ(animatedGIF::vectorGCD({}), 0);
    EXPECT_TRUE(animatedGIF::frameIndexes({}, 0).empty());
}

TEST(QNTextViewTest, Placeholder) {
    Flow flow;
    auto plain = std::make_shared<QNTextView>(ui::Rect(0, 0, 200, 100));
    auto field = std::make_shared<QNTextView>(ui::Rect(0, 100, 200, 100));
    field->setPlaceholder("描述下遇到的问题");
    flow.root->view()->addSubview(plain);
    flow.root->view()->addSubview(field);
    ui::Screen::main().displayIfNeeded();
    EXPECT_EQ(plain->placeHolderLabel(), nullptr);
    plain->setText("x");
    EXPECT_EQ(plain->viewWithTag(QNTextView::kPlaceholderTag), nullptr);

    auto label = field->placeHolderLabel();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->tag(), 999);
    EXPECT_EQ(label->alpha(), 1.0);
    EXPECT_EQ(label->frame().origin.x, 8.0);
    field->setText("abc");
    EXPECT_EQ(label->alpha(), 0.0);
    field->setText("");
    EXPECT_EQ(label->alpha(), 1.0);
    field->becomeFirstResponder();
    ui::input::typeText("d");
    EXPECT_EQ(label->alpha(), 0.0);
}

TEST(WrenPrompts, GeometryPortraitLandscapeAndResources) {
    setenv("QUILLON_UI_RESOURCE_PATH", WREN_RESOURCE_DIR, 1);
    Flow flow;
    auto host = flow.root->view();
    auto prompt = WrenSnapshotPromptView::showInView(host);
    expectNear(prompt->frame(), ui::Rect(84.375, 233.45, 206.25, 200.1));
    EXPECT_FALSE(prompt->isUserInteractionEnabled());
    ASSERT_NE(prompt->handView(), nullptr);
    EXPECT_GT(prompt->handView()->image()->images().size(), 1u);
    EXPECT_NEAR(prompt->handView()->frame().origin.y, (200.1 - 100.05) / 6.0, 1e-9);
    prompt->hide();
    EXPECT_EQ(prompt->superview(), nullptr);

    auto report = WrenReportPromptView::showInView(host);
    expectNear(report->frame(), prompt->frame());
    EXPECT_EQ(report->borderWidth(), 1.0);
    report->hide();
    EXPECT_TRUE(runUntil([&] { return report->superview() == nullptr; }, 2.0));

    ui::Screen::main().setBounds(ui::Size{667, 375}, 2.0);
    auto wide = std::make_shared<ui::View>(ui::Rect(0, 0, 667, 375));
    expectNear(WrenReportPromptView::frameInHost(wide->bounds()), ui::Rect(216.775, 93.75, 233.45, 187.5));

    // Without the animation anywhere the hint has its lines and no image.
    setenv("QUILLON_UI_RESOURCE_PATH", testenv::makeTempDir("empty").c_str(), 1);
    EXPECT_EQ(WrenSnapshotPromptView::showInView(wide)->handView(), nullptr);
}

TEST(QNCGContextAddRoundRectTest, MaskRoundsOnlyTheNamedCorners) {
    ui::ImageContext image(ui::Size{40, 40}, false, 1.0);
    QNCGContextAddRoundRect(image.context(), ui::Rect(0, 0, 40, 40), kQNRectCornerTopLeft | kQNRectCornerBottomLeft, 10);
    image.context().setFillColor(ui::Color::blackColor());
    image.context().fillPath();
    auto bitmap = image.image();
    EXPECT_EQ(bitmap->pixelAt(0, 0).alpha, 0.0);
    EXPECT_EQ(bitmap->pixelAt(0, 39).alpha, 0.0);
    EXPECT_EQ(bitmap->pixelAt(39, 0).alpha, 1.0);
    EXPECT_EQ(bitmap->pixelAt(39, 39).alpha, 1.0);
    EXPECT_EQ(bitmap->pixelAt(20, 20).alpha, 1.0);
}
