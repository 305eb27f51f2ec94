// Touches and events as the window delivers them.
#pragma once

#include "quillon/ui/Export.h"
#include "quillon/ui/Geometry.h"

#include <memory>
#include <vector>

namespace quillon::ui {

class GestureRecognizer;
class View;
class Window;

enum class TouchPhase { Began = 0, Moved = 1, Stationary = 2, Ended = 3, Cancelled = 4 };

// One finger on the screen, from touch-down to lift. The same object is passed with every
// event of the sequence.
class QUILLON_UI_EXPORT Touch {
public:
    TouchPhase phase() const { return phase_; }
    int tapCount() const { return tapCount_; }
    double timestamp() const { return timestamp_; }
    // The view the touch began in (hit-tested at touch-down) and its window.
    std::shared_ptr<View> view() const { return view_.lock(); }
    std::shared_ptr<Window> window() const { return window_.lock(); }
    // Location in `view`'s coordinates (null: the window's).
    Point locationInView(const View* view) const;
    Point previousLocationInView(const View* view) const;

    // The screen sources create touches; location in the window's coordinates.
    Touch(std::shared_ptr<Window> window, Point location, int tapCount, double timestamp);
    void update(TouchPhase phase, Point location, double timestamp);
    void setView(std::shared_ptr<View> view) { view_ = view; }
    void setTapCount(int count) { tapCount_ = count; }
    Point windowLocation() const { return location_; }
    // Delivery state kept by the window: the gesture recognisers that see this touch, and
    // whether the view still gets it (not after a recogniser cancelled it).
    std::vector<std::weak_ptr<GestureRecognizer>>& recognizers() { return recognizers_; }
    bool deliversToView() const { return deliversToView_; }
    void setDeliversToView(bool on) { deliversToView_ = on; }

private:
    TouchPhase phase_ = TouchPhase::Began;
    int tapCount_ = 1;
    double timestamp_ = 0;
    Point location_, previous_;
    std::weak_ptr<View> view_;
    std::weak_ptr<Window> window_;
    std::vector<std::weak_ptr<GestureRecognizer>> recognizers_;
    bool deliversToView_ = true;
};

using TouchSet = std::vector<std::shared_ptr<Touch>>;

// The arrow keys, as the first responder receives them (View::arrowKey).
enum class ArrowKey { Left = 0, Right = 1, Up = 2, Down = 3 };

enum class EventType { Touches = 0, Motion = 1, Presses = 3 };

class QUILLON_UI_EXPORT Event {
public:
    Event(EventType type, TouchSet touches, double timestamp) : type_(type), touches_(std::move(touches)), timestamp_(timestamp) {}
    EventType type() const { return type_; }
    double timestamp() const { return timestamp_; }
    // Every touch of the event (for a touch event), in the order the fingers went down.
    const TouchSet& allTouches() const { return touches_; }
    // The touches whose view is `view`.
    TouchSet touchesForView(const View* view) const;

private:
    EventType type_;
    TouchSet touches_;
    double timestamp_;
};

}  // namespace quillon::ui
