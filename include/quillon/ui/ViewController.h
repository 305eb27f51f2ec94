// View controllers: each owns a root view, loaded on first use of view(), and may present
// another view controller modally over its screen.
//
// viewDidLoad, viewWillAppear and viewWillDisappear go through the dynamic method tables
// (class "ViewController"): a subclass that overrides one and calls the base implementation
// reaches the table, where a replaced implementation (the operation trace's hook) runs and
// calls the original.
#pragma once

#include "quillon/ui/Object.h"
#include "quillon/ui/View.h"

#include <functional>
#include <memory>

namespace quillon::ui {

class Window;

class QUILLON_UI_EXPORT ViewController : public Object, public std::enable_shared_from_this<ViewController> {
public:
    ViewController();
    ~ViewController() override;
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    // The root view; loads it (loadView, then viewDidLoad) when needed.
    std::shared_ptr<View> view();
    bool isViewLoaded() const { return view_ != nullptr; }
    void setView(std::shared_ptr<View> view);

    // Makes the root view: a plain view of the main screen's size (override to make another).
    virtual void loadView();
    virtual void viewDidLoad();
    virtual void viewWillAppear(bool animated);
    virtual void viewDidAppear(bool animated) {}
    virtual void viewWillDisappear(bool animated);
    virtual void viewDidDisappear(bool animated) {}

    // Shows `controller`'s view full screen over this one's (sliding up from the bottom in
    // 0.3 s when animated); `completion` runs on the main loop once it is on screen.
    // Nothing happens when this controller already presents one.
    void presentViewController(std::shared_ptr<ViewController> controller, bool animated,
                               std::function<void()> completion);
    // Dismisses the controller this one presents (or, when it presents none, this one from
    // its presenter) and everything above it.
    void dismissViewController(bool animated, std::function<void()> completion);
    std::shared_ptr<ViewController> presentedViewController() const { return presented_; }
    std::shared_ptr<ViewController> presentingViewController() const { return presenting_.lock(); }

    // The window that shows this controller's view, or null.
    std::shared_ptr<Window> window() const;

private:
    friend class Window;
    std::shared_ptr<View> view_;
    std::shared_ptr<ViewController> presented_;
    std::weak_ptr<ViewController> presenting_;
    bool loading_ = false;
};

}  // namespace quillon::ui
