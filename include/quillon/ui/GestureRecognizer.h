// Gesture recognisers: attached to a view, they see the touches that begin in that view or
// its subviews (before the view does) and call their action when they recognise a gesture.
// A recognised gesture cancels the touches in the view (touchesCancelled) unless
// cancelsTouchesInView is off.
#pragma once

#include "quillon/ui/Event.h"
#include "quillon/ui/Export.h"
#include "quillon/ui/Geometry.h"
#include "quillon/ui/Object.h"

#include <functional>
#include <memory>

namespace quillon::ui {

class View;

enum class GestureRecognizerState { Possible = 0, Began = 1, Changed = 2, Ended = 3, Cancelled = 4, Failed = 5 };

class QUILLON_UI_EXPORT GestureRecognizer : public Object, public std::enable_shared_from_this<GestureRecognizer> {
public:
    using Action = std::function<void(GestureRecognizer&)>;

    GestureRecognizer() = default;
    explicit GestureRecognizer(Action action) : action_(std::move(action)) {}
    ~GestureRecognizer() override;

    void setAction(Action action) { action_ = std::move(action); }
    std::shared_ptr<View> view() const { return view_.lock(); }
    GestureRecognizerState state() const { return state_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }
    bool cancelsTouchesInView() const { return cancelsTouchesInView_; }
    void setCancelsTouchesInView(bool cancels) { cancelsTouchesInView_ = cancels; }
    // Where the gesture happened (the centroid of its touches), in `view`'s coordinates.
    Point locationInView(const View* view) const;
    std::size_t numberOfTouches() const { return touchCount_; }

    // Delivery, by the window.
    virtual void touchesBegan(const TouchSet& touches, const Event& event) {}
    virtual void touchesMoved(const TouchSet& touches, const Event& event) {}
    virtual void touchesEnded(const TouchSet& touches, const Event& event) {}
    virtual void touchesCancelled(const TouchSet& touches, const Event& event);
    // Back to Possible once every touch of the sequence has lifted.
    virtual void reset();

    // Internal: set by View::addGestureRecognizer.
    void setViewInternal(const std::shared_ptr<View>& view) { view_ = view; }

protected:
    // Moves to `state`; Ended (or Began/Changed) calls the action.
    void setState(GestureRecognizerState state);
    Point centroid_;  // window coordinates
    std::size_t touchCount_ = 0;

private:
    Action action_;
    std::weak_ptr<View> view_;
    GestureRecognizerState state_ = GestureRecognizerState::Possible;
    bool enabled_ = true;
    bool cancelsTouchesInView_ = true;
};

// Recognises taps: `numberOfTapsRequired` taps with `numberOfTouchesRequired` fingers that
// move at most 10 points.
class QUILLON_UI_EXPORT TapGestureRecognizer : public GestureRecognizer {
public:
    using GestureRecognizer::GestureRecognizer;
    int numberOfTapsRequired() const { return taps_; }
    void setNumberOfTapsRequired(int n) { taps_ = n; }
    int numberOfTouchesRequired() const { return touches_; }
    void setNumberOfTouchesRequired(int n) { touches_ = n; }

    void touchesBegan(const TouchSet& touches, const Event& event) override;
    void touchesMoved(const TouchSet& touches, const Event& event) override;
    void touchesEnded(const TouchSet& touches, const Event& event) override;
    void reset() override;

private:
    int taps_ = 1;
    int touches_ = 1;
    std::size_t down_ = 0, maxDown_ = 0;
    Point start_;
    bool failed_ = false;
};

enum SwipeGestureRecognizerDirection : unsigned {
    SwipeDirectionRight = 1,
    SwipeDirectionLeft = 2,
    SwipeDirectionUp = 4,
    SwipeDirectionDown = 8,
};

// Recognises a swipe: `numberOfTouchesRequired` fingers moving together at least 50 points
// in one of the allowed directions, within 0.5 s.
class QUILLON_UI_EXPORT SwipeGestureRecognizer : public GestureRecognizer {
public:
    using GestureRecognizer::GestureRecognizer;
    unsigned direction() const { return direction_; }
    void setDirection(unsigned direction) { direction_ = direction; }
    int numberOfTouchesRequired() const { return touches_; }
    void setNumberOfTouchesRequired(int n) { touches_ = n; }

    void touchesBegan(const TouchSet& touches, const Event& event) override;
    void touchesMoved(const TouchSet& touches, const Event& event) override;
    void touchesEnded(const TouchSet& touches, const Event& event) override;
    void reset() override;

private:
    void evaluate(const Event& event);
    unsigned direction_ = SwipeDirectionRight;
    int touches_ = 1;
    std::size_t maxDown_ = 0;
    Point start_;
    double startTime_ = 0;
    bool failed_ = false;
};

}  // namespace quillon::ui
