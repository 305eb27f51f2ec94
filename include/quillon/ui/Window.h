// Windows: the roots of view trees on the screen. The application's key window gets the
// keyboard and is what the event script's coordinates refer to.
//
// sendEvent goes through the dynamic method tables (class "Window"): a replaced
// implementation (the operation trace's hook) sees every event and calls the original,
// which delivers the touches to gesture recognisers and views.
#pragma once

#include "quillon/ui/View.h"

#include <memory>

namespace quillon::ui {

class ViewController;

// Window levels: windows of a higher level are in front.
constexpr double WindowLevelNormal = 0;
constexpr double WindowLevelAlert = 2000;

class QUILLON_UI_EXPORT Window : public View {
public:
    // A window of the main screen's bounds.
    Window();
    explicit Window(const Rect& frame);
    ~Window() override;

    std::shared_ptr<ViewController> rootViewController() const { return root_; }
    // Puts the controller's view in the window (filling it) and makes it appear.
    void setRootViewController(std::shared_ptr<ViewController> controller);
    // Shows the window in front of the others of its level and makes it the key window.
    void makeKeyAndVisible();
    void makeKeyWindow();
    // Shows the window without making it key.
    void makeVisible();
    bool isKeyWindow() const;
    double windowLevel() const { return level_; }
    void setWindowLevel(double level);
    // The screen the window is on (the main screen unless set otherwise).
    bool isOnMainScreen() const { return onMainScreen_; }
    void setOnMainScreen(bool on) { onMainScreen_ = on; }

    // Delivers an event (through the method tables).
    virtual void sendEvent(Event& event);
    // The first responder in this window, or null.
    std::shared_ptr<View> firstResponder() const { return firstResponder_.lock(); }

    // What the window shows, as an image of its bounds at the screen's scale.
    std::shared_ptr<Image> snapshotImage();

    // Internal.
    void setFirstResponderInternal(const std::shared_ptr<View>& view) { firstResponder_ = view; }
    void deliverEvent(Event& event);  // the original sendEvent

private:
    std::shared_ptr<ViewController> root_;
    std::weak_ptr<View> firstResponder_;
    double level_ = WindowLevelNormal;
    bool onMainScreen_ = true;
};

}  // namespace quillon::ui
