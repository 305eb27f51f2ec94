// The feedback side's conductor on screen. It watches for the gesture that opens feedback (a
// shake of the device, or a three-finger swipe), asks in an alert what the user wants, takes a
// screenshot of the top screen, presents the edit screen behind a white flash and, when the
// user submits, hands the marked-up image, the comment, the contact, the operation trace and
// the device record to its delegate. It also keeps the operation trace: taps in windows and
// screen changes, recorded through hooks on the toolkit's window and view-controller classes.
#pragma once

#include "Wren/WrenScreens.h"
#include "Wren/ui/WrenUISnapshotEditController.h"
#include "platform/foundation/Value.h"

#include <quillon/ui.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class WrenReportPromptView;

class WrenWindowController final : public WrenScreens,
                                   public quillon::ui::AlertViewDelegate,
                                   public WrenUISnapshotEditControllerDelegate {
public:
    // A sample whose magnitude in the x-y plane exceeds this (single-precision 2.2) is a shake.
    static constexpr double kShakeThreshold = static_cast<double>(2.2f);
    static constexpr double kAccelerometerInterval = 0.1;
    // The trace keeps the newest this many entries.
    static constexpr std::size_t kOperationRecordLimit = 101;
    // How long a submission waits for the device record still being collected.
    static constexpr double kDeviceInfoWaitSeconds = 1.0;
    // Swipe directions of the recogniser for ways 1 and 2.
    static constexpr std::uint32_t kSwipeUp = 4;
    static constexpr std::uint32_t kSwipeDown = 8;

    // Created on first use; the first use also installs the trace's hooks.
    static WrenWindowController& sharedInstance();

    // From the loader.
    void setPreferences(WrenPreferences* preferences) override;
    void setDelegate(WrenWindowControllerDelegate* delegate) override;
    void setDeviceInfoSource(std::function<platform::Value()> source) override;
    void enabledMonitorShakeEvent(bool enabled) override;
    void switchWayOfFeedback(std::int64_t way) override;

    // Triggers. outputAccelertionData runs on the sensor's queue.
    void outputAccelertionData(double x, double y, double z);
    void swipeGestureAction();

    // The alert's buttons: 0 accidental, 1 suggestion, 2 bug, 3 switch shake feedback off.
    void alertView(quillon::ui::AlertView& alert, std::int64_t buttonIndex) override;
    // The edit screen's events: 0 submit, 1 back; every event restarts the accelerometer.
    void snapshotEditController(WrenUISnapshotEditController* controller, std::int32_t event) override;

    void startAccelerometer();
    void stopAccelerometer();
    void showAlertView();
    void showFlashInView(const std::shared_ptr<quillon::ui::View>& view);
    void hideFlashView(const std::shared_ptr<quillon::ui::View>& flash);
    void snapshotAndShowEditController();
    // Dismisses the edit screen; the "sent" prompt follows when `sent` is set.
    void dismiss(const std::shared_ptr<WrenUISnapshotEditController>& controller, bool sent);
    void hidePrompt(const std::shared_ptr<WrenReportPromptView>& prompt);
    // Main thread: attaches the swipe recogniser to the controller's view unless it is there.
    void addSwipeGesture(const std::shared_ptr<quillon::ui::ViewController>& controller);
    void removeSwipeGesture(const std::shared_ptr<quillon::ui::ViewController>& controller);
    bool findGesture(const std::shared_ptr<quillon::ui::GestureRecognizer>& gesture,
                     const std::shared_ptr<quillon::ui::View>& view) const;

    // Main thread: the library's own screens (the alert, the edit screen) are marked, and a
    // view belongs to the library when it or an ancestor is marked or has a "Wren" class name.
    // Taps on them stay out of the trace.
    void markOwnView(const std::shared_ptr<quillon::ui::View>& view);
    bool isOwnView(const std::shared_ptr<quillon::ui::View>& view) const;

    // The operation trace. Appending is serialised (taps arrive on the main thread, screen
    // changes from the global queue) and never throws.
    void appendOperationRecord(const std::string& text);
    std::vector<std::string> operationRecord() const;
    bool isRecordOperation() const { return isRecordOperation_.load(); }
    void setIsRecordOperation(bool record) { isRecordOperation_.store(record); }

    // The controller a given one presents, and that one's, down to the last.
    static std::shared_ptr<quillon::ui::ViewController> topViewController(
        std::shared_ptr<quillon::ui::ViewController> controller);
    // The root view controller of the window the flow works in.
    std::shared_ptr<quillon::ui::ViewController> currentViewController() const;

    // The alert or an edit screen is up (main thread).
    bool isFlowOnScreen() const;

    // State, for tests and the console.
    std::shared_ptr<quillon::ui::Window> appWindow() const { return appWindow_.lock(); }
    std::shared_ptr<WrenUISnapshotEditController> snapshotEditController() const { return snapshotEditController_; }
    std::shared_ptr<quillon::ui::SwipeGestureRecognizer> swipeGesture() const { return swipeGesture_; }
    std::shared_ptr<quillon::ui::MotionManager> motionManager() const { return motionManager_; }
    std::shared_ptr<quillon::ui::AlertView> alert() const { return alert_.lock(); }
    std::int64_t toolsBarEvent() const { return toolsBarEvent_; }
    bool isAccelerometerActive() const;

    // The way of feedback from the preferences (0 without preferences).
    std::int64_t wayOfFeedback() const;

    // Tests: the clock the trace's time stamps read (seconds since 1970), null for the real one.
    static void setClockForTesting(double (*clock)());

    WrenWindowController(const WrenWindowController&) = delete;
    WrenWindowController& operator=(const WrenWindowController&) = delete;

private:
    WrenWindowController();
    ~WrenWindowController();

    // The application window the flow works in: the key window unless it is of a window
    // subclass, else the first window. Stored in appWindow_.
    std::shared_ptr<quillon::ui::Window> chooseWindow();
    // Back to listening: the trigger of the way of feedback on the screen that shows, and the trace.
    void rearmTrigger();
    // Puts the trace's replacements into the toolkit's method tables (once).
    static void installHooks();
    // Collects the device record on the global queue; a submission waits for it (bounded).
    void collectDeviceInfo();
    platform::Value waitForDeviceInfo();

    std::shared_ptr<WrenUISnapshotEditController> snapshotEditController_;
    std::atomic<WrenWindowControllerDelegate*> delegate_{nullptr};
    std::weak_ptr<quillon::ui::Window> appWindow_;
    std::atomic<bool> isRecordOperation_{true};
    std::atomic<WrenPreferences*> preferences_{nullptr};
    std::int64_t toolsBarEvent_ = 0;

    std::mutex deviceInfoMutex_;
    std::condition_variable deviceInfoReady_;
    platform::Value deviceInfo_;
    bool deviceInfoPending_ = false;
    std::function<platform::Value()> deviceInfoSource_;

    std::shared_ptr<quillon::ui::SwipeGestureRecognizer> swipeGesture_;
    std::shared_ptr<quillon::ui::MotionManager> motionManager_;
    std::weak_ptr<quillon::ui::AlertView> alert_;
    std::vector<std::weak_ptr<quillon::ui::View>> ownViews_;  // main thread

    mutable std::mutex recordMutex_;
    std::deque<std::string> operationRecord_;
};
