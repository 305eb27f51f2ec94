#include "quillon/ui/GestureRecognizer.h"

#include "quillon/ui/View.h"

#include <cmath>

namespace quillon::ui {

namespace {
Point centroidOf(const TouchSet& touches) {
    Point c;
    if (touches.empty()) return c;
    for (const auto& t : touches) {
        c.x += t->windowLocation().x;
        c.y += t->windowLocation().y;
    }
    return {c.x / touches.size(), c.y / touches.size()};
}

// The touches of the event that are still down.
std::size_t touchesDown(const Event& event) {
    std::size_t n = 0;
    for (const auto& t : event.allTouches()) {
        if (t->phase() != TouchPhase::Ended && t->phase() != TouchPhase::Cancelled) ++n;
    }
    return n;
}
}  // namespace

GestureRecognizer::~GestureRecognizer() = default;

Point GestureRecognizer::locationInView(const View* view) const {
    return view ? view->convertPointFromView(centroid_, nullptr) : centroid_;
}

void GestureRecognizer::touchesCancelled(const TouchSet&, const Event&) { setState(GestureRecognizerState::Cancelled); }

void GestureRecognizer::reset() {
    state_ = GestureRecognizerState::Possible;
    touchCount_ = 0;
}

void GestureRecognizer::setState(GestureRecognizerState state) {
    state_ = state;
    if (state == GestureRecognizerState::Ended || state == GestureRecognizerState::Began ||
        state == GestureRecognizerState::Changed) {
        if (action_) {
            auto self = shared_from_this();  // the action may detach the recogniser
            action_(*self);
        }
    }
}

// ------------------------------------------------------------------ tap

void TapGestureRecognizer::touchesBegan(const TouchSet& touches, const Event& event) {
    if (failed_) return;
    if (down_ == 0 && maxDown_ == 0) start_ = centroidOf(touches);
    down_ = touchesDown(event);
    maxDown_ = std::max(maxDown_, down_);
    touchCount_ = maxDown_;
    if (static_cast<int>(maxDown_) > touches_) failed_ = true;
    // Taps of a multi-tap gesture must come as the touches' tap counts say.
    for (const auto& t : touches) {
        if (t->tapCount() > taps_) failed_ = true;
    }
}

void TapGestureRecognizer::touchesMoved(const TouchSet& touches, const Event&) {
    Point c = centroidOf(touches);
    if (std::hypot(c.x - start_.x, c.y - start_.y) > 10) failed_ = true;
}

void TapGestureRecognizer::touchesEnded(const TouchSet& touches, const Event& event) {
    if (failed_) {
        if (touchesDown(event) == 0) setState(GestureRecognizerState::Failed);
        return;
    }
    centroid_ = centroidOf(touches);
    if (touchesDown(event) > 0) return;
    int tapCount = 0;
    for (const auto& t : touches) tapCount = std::max(tapCount, t->tapCount());
    if (static_cast<int>(maxDown_) == touches_ && tapCount == taps_) {
        setState(GestureRecognizerState::Ended);
    } else if (tapCount >= taps_) {
        setState(GestureRecognizerState::Failed);
    }
    // Otherwise more taps may follow (the touch's tap count tells).
    down_ = 0;
    maxDown_ = 0;
}

void TapGestureRecognizer::reset() {
    GestureRecognizer::reset();
    down_ = maxDown_ = 0;
    failed_ = false;
}

// ------------------------------------------------------------------ swipe

void SwipeGestureRecognizer::touchesBegan(const TouchSet&, const Event& event) {
    if (failed_ || state() != GestureRecognizerState::Possible) return;
    std::size_t down = touchesDown(event);
    if (maxDown_ == 0 || down > maxDown_) {
        // The gesture starts when the last finger is down.
        start_ = centroidOf(event.allTouches());
        startTime_ = event.timestamp();
    }
    maxDown_ = std::max(maxDown_, down);
    touchCount_ = maxDown_;
    if (static_cast<int>(maxDown_) > touches_) failed_ = true;
}

void SwipeGestureRecognizer::touchesMoved(const TouchSet&, const Event& event) { evaluate(event); }

void SwipeGestureRecognizer::touchesEnded(const TouchSet&, const Event& event) {
    evaluate(event);
    if (touchesDown(event) == 0 && state() == GestureRecognizerState::Possible) {
        failed_ = true;
    }
}

void SwipeGestureRecognizer::evaluate(const Event& event) {
    if (failed_ || state() != GestureRecognizerState::Possible) return;
    if (static_cast<int>(maxDown_) != touches_) return;
    Point c = centroidOf(event.allTouches());
    double dx = c.x - start_.x, dy = c.y - start_.y;
    if (event.timestamp() - startTime_ > 0.5) {
        failed_ = true;
        return;
    }
    double distance = std::hypot(dx, dy);
    if (distance < 50) return;
    unsigned dir;
    if (std::fabs(dx) > std::fabs(dy)) {
        dir = dx > 0 ? SwipeDirectionRight : SwipeDirectionLeft;
    } else {
        dir = dy > 0 ? SwipeDirectionDown : SwipeDirectionUp;
    }
    if (!(direction_ & dir)) {
        failed_ = true;
        return;
    }
    centroid_ = start_;
    setState(GestureRecognizerState::Ended);
}

void SwipeGestureRecognizer::reset() {
    GestureRecognizer::reset();
    maxDown_ = 0;
    failed_ = false;
}

}  // namespace quillon::ui
