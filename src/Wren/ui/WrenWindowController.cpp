#include "Wren/ui/WrenWindowController.h"

#include "Wren/WrenPreferences.h"
#include "Wren/WrenWindowControllerDelegate.h"
#include "Wren/ui/WrenReportPromptView.h"
#include "Wren/ui/WrenUIScreenSnapshot.h"
#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Logger.h"
#include "platform/runtime/DispatchQueue.h"

#include <chrono>
#include <cmath>
#include <exception>

namespace ui = quillon::ui;

namespace {

std::atomic<double (*)()> gClock{nullptr};

double currentTime() {
    double (*clock)() = gClock.load();
    return clock ? clock() : platform::now();
}

}  // namespace

WrenWindowController& WrenWindowController::sharedInstance() {
    // Never destroyed: the hooks and the notifications refer to it for the whole process.
    static WrenWindowController* controller = [] {
        auto* created = new WrenWindowController;
        installHooks();
        return created;
    }();
    return *controller;
}

WrenWindowController::WrenWindowController()
    : motionManager_(std::make_shared<ui::MotionManager>()) {
    motionManager_->setAccelerometerUpdateInterval(kAccelerometerInterval);
    swipeGesture_ = std::make_shared<ui::SwipeGestureRecognizer>([this](ui::GestureRecognizer&) { swipeGestureAction(); });
    swipeGesture_->setNumberOfTouchesRequired(3);

    // Coming back always resumes sampling, whatever the way of feedback or the flow's state.
    auto stop = [this](const std::string&, const void*) { stopAccelerometer(); };
    auto start = [this](const std::string&, const void*) { startAccelerometer(); };
    ui::NotificationCenter::addObserver(ui::UIApplicationDidEnterBackgroundNotification, true, stop);
    ui::NotificationCenter::addObserver(ui::UIApplicationWillResignActiveNotification, true, stop);
    ui::NotificationCenter::addObserver(ui::UIApplicationDidBecomeActiveNotification, true, start);
    ui::NotificationCenter::addObserver(ui::UIApplicationWillEnterForegroundNotification, true, start);
}

WrenWindowController::~WrenWindowController() = default;

void WrenWindowController::setClockForTesting(double (*clock)()) { gClock.store(clock); }

void WrenWindowController::setPreferences(WrenPreferences* preferences) { preferences_.store(preferences); }

void WrenWindowController::setDelegate(WrenWindowControllerDelegate* delegate) { delegate_.store(delegate); }

void WrenWindowController::setDeviceInfoSource(std::function<platform::Value()> source) {
    std::lock_guard lock(deviceInfoMutex_);
    deviceInfoSource_ = std::move(source);
}

std::int64_t WrenWindowController::wayOfFeedback() const {
    WrenPreferences* preferences = preferences_.load();
    return preferences ? preferences->wayOfFeedback() : 0;
}

// ---------------------------------------------------------------- triggers

std::shared_ptr<ui::Window> WrenWindowController::chooseWindow() {
    auto& application = ui::Application::shared();
    std::shared_ptr<ui::Window> window = application.keyWindow();
    // A window subclass (an overlay of the host's, say) is not the application window.
    const ui::Window* key = window.get();
    if (!key || typeid(*key) != typeid(ui::Window)) {
        const auto windows = application.windows();
        window = windows.empty() ? nullptr : windows.front();
    }
    appWindow_ = window;
    return window;
}

void WrenWindowController::enabledMonitorShakeEvent(bool enabled) {
    if (!chooseWindow()) platform::log("[WRENSHAKE ERROR] UIApplication key window is nil.");

    if (enabled) {
        switchWayOfFeedback(wayOfFeedback());
    } else {
        stopAccelerometer();
        removeSwipeGesture(topViewController(currentViewController()));
    }
}

void WrenWindowController::switchWayOfFeedback(std::int64_t way) {
    stopAccelerometer();
    if (way == 0) {
        startAccelerometer();
    } else if (way == 1 || way == 2) {
        swipeGesture_->setDirection(way == 1 ? kSwipeUp : kSwipeDown);
        // On the screen that shows: a presented one covers the root's view.
        addSwipeGesture(topViewController(currentViewController()));
    }
}

void WrenWindowController::startAccelerometer() {
    motionManager_->startAccelerometerUpdates(
        std::make_shared<ui::OperationQueue>(),
        [this](const ui::AccelerometerData* data, const std::optional<std::string>& error) {
            if (error) platform::log(platform::format("motion error:%s", error->c_str()));
            const ui::Acceleration a = data ? data->acceleration : ui::Acceleration{};
            outputAccelertionData(a.x, a.y, a.z);
        });
}

void WrenWindowController::stopAccelerometer() { motionManager_->stopAccelerometerUpdates(); }

bool WrenWindowController::isAccelerometerActive() const { return motionManager_->isAccelerometerActive(); }

void WrenWindowController::outputAccelertionData(double x, double y, double z) {
    if (std::sqrt(x * x + y * y) > kShakeThreshold) {
        stopAccelerometer();
        ui::performOnMainThread([this] { showAlertView(); });
    }
}

void WrenWindowController::swipeGestureAction() { showAlertView(); }

// ---------------------------------------------------------------- alert

bool WrenWindowController::isFlowOnScreen() const {
    std::shared_ptr<ui::AlertView> alert = alert_.lock();
    return (alert && alert->isVisible()) || snapshotEditController_;
}

void WrenWindowController::showAlertView() {
    // One flow at a time: a shake or a swipe over the alert or an edit screen opens nothing.
    if (isFlowOnScreen()) return;
    std::vector<std::string> others{"我要提建议", "我要反馈Bug"};
    WrenPreferences* preferences = preferences_.load();
    if (preferences && preferences->showCloseFeedbackOption()) others.emplace_back("关闭摇一摇反馈");
    auto alert = std::make_shared<ui::AlertView>("反馈问题", "摇一摇即可向开发者反馈问题", this, "不小心摇了一下", others);
    alert_ = alert;
    markOwnView(alert);
    // The alert keeps itself alive while it is on screen.
    alert->show();
    isRecordOperation_.store(false);
}

void WrenWindowController::alertView(ui::AlertView& alert, std::int64_t buttonIndex) {
    const std::int64_t way = wayOfFeedback();
    switch (buttonIndex) {
    case 0:
        rearmTrigger();
        break;
    case 1:
    case 2:
        if (WrenPreferences* preferences = preferences_.load()) preferences->setFeedbackType(buttonIndex == 1 ? 2 : 0);
        collectDeviceInfo();
        snapshotAndShowEditController();
        break;
    case 3:
        if (way == 0)
            stopAccelerometer();
        else if (way == 1 || way == 2)
            removeSwipeGesture(topViewController(currentViewController()));
        if (WrenWindowControllerDelegate* delegate = delegate_.load()) delegate->windowControllerClosedShakeReport(this);
        break;
    default:
        break;
    }
}

void WrenWindowController::rearmTrigger() {
    const std::int64_t way = wayOfFeedback();
    if (way == 0)
        startAccelerometer();
    else if (way == 1 || way == 2)
        addSwipeGesture(topViewController(currentViewController()));
    isRecordOperation_.store(true);
}

// ---------------------------------------------------------------- device record

void WrenWindowController::collectDeviceInfo() {
    std::function<platform::Value()> source;
    {
        std::lock_guard lock(deviceInfoMutex_);
        source = deviceInfoSource_;
        deviceInfoPending_ = static_cast<bool>(source);
    }
    if (!source) return;
    platform::DispatchQueue::global().async([this, source] {
        platform::Value info = source();
        std::lock_guard lock(deviceInfoMutex_);
        deviceInfo_ = std::move(info);
        deviceInfoPending_ = false;
        deviceInfoReady_.notify_all();
    });
}

platform::Value WrenWindowController::waitForDeviceInfo() {
    std::unique_lock lock(deviceInfoMutex_);
    // A submission right after the alert may come before the record is ready: wait for it,
    // but never hold the screen for longer than this.
    deviceInfoReady_.wait_for(lock, std::chrono::duration<double>(kDeviceInfoWaitSeconds),
                              [this] { return !deviceInfoPending_; });
    return deviceInfo_;
}

// ---------------------------------------------------------------- edit screen

void WrenWindowController::snapshotAndShowEditController() {
    std::shared_ptr<ui::Window> window = appWindow_.lock();
    // A host that opened its window after the flow started still gets its screenshot.
    if (!window) window = chooseWindow();
    std::shared_ptr<ui::ViewController> top = topViewController(window ? window->rootViewController() : nullptr);
    if (!top) {
        // Nothing to present from: the flow ends here rather than wait for an edit screen
        // that never shows.
        rearmTrigger();
        return;
    }
    std::shared_ptr<ui::Image> image = WrenUIScreenSnapshot::screenSnapshotByTopController(top);
    const ui::Rect frame = ui::Screen::main().applicationFrame();
    auto edit = std::make_shared<WrenUISnapshotEditController>();
    snapshotEditController_ = edit;
    edit->setDelegate(this);
    edit->showWithImage(image);
    edit->updateViewSize(frame.size.width, frame.size.height + frame.origin.y);
    markOwnView(edit->view());
    showFlashInView(edit->view());
    top->presentViewController(edit, false, [edit] {
        platform::log(
            "[WRENSHAKE INFO] presentViewController presentViewController:snapshotEditController animated: completion");
        edit->showPromptView();
        edit->initCommentContainerView();
    });
}

void WrenWindowController::showFlashInView(const std::shared_ptr<ui::View>& view) {
    if (!view) return;
    auto flash = std::make_shared<ui::View>(view->bounds());
    flash->setBackgroundColor(ui::Color::whiteColor());
    flash->setAlpha(0.0);
    view->addSubview(flash);
    ui::View::animate(0.1, [flash] { flash->setAlpha(1.0); });
    ui::performAfterDelay(0.25, [this, flash] { hideFlashView(flash); });
}

void WrenWindowController::hideFlashView(const std::shared_ptr<ui::View>& flash) {
    ui::View::animate(0.2, [flash] {
        flash->setAlpha(0.0);
        ui::performAfterDelay(0.3, [flash] { flash->removeFromSuperview(); });
    });
}

void WrenWindowController::snapshotEditController(WrenUISnapshotEditController* controller, std::int32_t event) {
    startAccelerometer();
    isRecordOperation_.store(true);
    toolsBarEvent_ = event;
    if (!controller) return;
    // The screen that sent the event is the one acted on, stored or not.
    auto edit = std::static_pointer_cast<WrenUISnapshotEditController>(controller->weak_from_this().lock());
    if (!edit) return;
    if (event == 0) {
        std::shared_ptr<ui::Image> image = edit->modifiedImage();
        platform::Bytes jpeg;
        if (image) jpeg = ui::encodeJPEG(*image, 0.1);
        platform::Value report = platform::dict();
        report["modifiedImageData"] = platform::bytesValue(jpeg);
        report["commentText"] = edit->comment();
        report["contactText"] = edit->contact();
        platform::Value operation = platform::array();
        for (const std::string& entry : operationRecord()) operation.push_back(entry);
        report["operation"] = std::move(operation);
        WrenWindowControllerDelegate* delegate = delegate_.load();
        const bool taken = delegate && delegate->windowController(this, report, waitForDeviceInfo());
        // The tester is told it was sent only when it is on its way.
        if (!taken) platform::log("[WRENSHAKE ERROR] feedback was not taken for sending.");
        dismiss(edit, taken);
    } else if (event == 1) {
        dismiss(edit, false);
    }
}

void WrenWindowController::dismiss(const std::shared_ptr<WrenUISnapshotEditController>& controller, bool sent) {
    if (!controller) return;
    std::weak_ptr<WrenUISnapshotEditController> weak = controller;
    controller->dismissViewController(false, [this, weak, sent] {
        platform::log("[WRENSHAKE INFO] snapshotEditController dismissViewControllerAnimated: completion");
        if (snapshotEditController_ == weak.lock()) snapshotEditController_.reset();
        if (!sent) return;
        std::shared_ptr<ui::Window> window = appWindow_.lock();
        std::shared_ptr<ui::ViewController> top = topViewController(window ? window->rootViewController() : nullptr);
        if (!top) return;
        std::shared_ptr<WrenReportPromptView> prompt = WrenReportPromptView::showInView(top->view());
        ui::performAfterDelay(1.0, [this, prompt] { hidePrompt(prompt); });
    });
}

void WrenWindowController::hidePrompt(const std::shared_ptr<WrenReportPromptView>& prompt) {
    if (!prompt) return;
    ui::performOnMainThread([prompt] { prompt->hide(); });
}

// ---------------------------------------------------------------- swipe

void WrenWindowController::addSwipeGesture(const std::shared_ptr<ui::ViewController>& controller) {
    if (!swipeGesture_ || !controller) return;
    std::shared_ptr<ui::View> view = controller->view();
    if (!view || findGesture(swipeGesture_, view)) return;
    view->addGestureRecognizer(swipeGesture_);
}

void WrenWindowController::removeSwipeGesture(const std::shared_ptr<ui::ViewController>& controller) {
    if (!swipeGesture_ || !controller) return;
    if (std::shared_ptr<ui::View> view = controller->view()) view->removeGestureRecognizer(swipeGesture_);
}

bool WrenWindowController::findGesture(const std::shared_ptr<ui::GestureRecognizer>& gesture,
                                       const std::shared_ptr<ui::View>& view) const {
    if (!gesture || !view) return false;
    for (const auto& attached : view->gestureRecognizers())
        if (attached == gesture) return true;
    return false;
}

// ---------------------------------------------------------------- the library's own views

void WrenWindowController::markOwnView(const std::shared_ptr<ui::View>& view) {
    if (!view) return;
    std::erase_if(ownViews_, [](const std::weak_ptr<ui::View>& own) { return own.expired(); });
    ownViews_.push_back(view);
}

bool WrenWindowController::isOwnView(const std::shared_ptr<ui::View>& view) const {
    for (std::shared_ptr<ui::View> v = view; v; v = v->superview()) {
        if (v->classNameHasPrefix("Wren")) return true;
        for (const auto& own : ownViews_)
            if (own.lock() == v) return true;
    }
    return false;
}

// ---------------------------------------------------------------- operation trace

void WrenWindowController::appendOperationRecord(const std::string& text) {
    if (!isRecordOperation_.load()) return;
    try {
        std::string entry = platform::formatLocalDateTime(currentTime()) + " " + text;
        std::lock_guard lock(recordMutex_);
        if (operationRecord_.size() >= kOperationRecordLimit) operationRecord_.pop_front();
        operationRecord_.push_back(std::move(entry));
    } catch (const std::exception&) {
        // A record that cannot be made is dropped; the trace never disturbs the host.
    }
}

std::vector<std::string> WrenWindowController::operationRecord() const {
    std::lock_guard lock(recordMutex_);
    return {operationRecord_.begin(), operationRecord_.end()};
}

std::shared_ptr<ui::ViewController> WrenWindowController::topViewController(std::shared_ptr<ui::ViewController> controller) {
    while (controller) {
        std::shared_ptr<ui::ViewController> presented = controller->presentedViewController();
        if (!presented) break;
        controller = std::move(presented);
    }
    return controller;
}

std::shared_ptr<ui::ViewController> WrenWindowController::currentViewController() const {
    std::shared_ptr<ui::Window> window = appWindow_.lock();
    return window ? window->rootViewController() : nullptr;
}

// ---------------------------------------------------------------- entry point of the UI library

extern "C" __attribute__((visibility("default"))) WrenScreens* quillon_ui_wren_screens() {
    return &WrenWindowController::sharedInstance();
}
