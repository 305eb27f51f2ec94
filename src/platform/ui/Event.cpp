#include "quillon/ui/Event.h"

#include "quillon/ui/View.h"
#include "quillon/ui/Window.h"

namespace quillon::ui {

Touch::Touch(std::shared_ptr<Window> window, Point location, int tapCount, double timestamp)
    : tapCount_(tapCount), timestamp_(timestamp), location_(location), previous_(location), window_(window) {}

void Touch::update(TouchPhase phase, Point location, double timestamp) {
    phase_ = phase;
    previous_ = location_;
    location_ = location;
    timestamp_ = timestamp;
}

Point Touch::locationInView(const View* view) const {
    if (!view) return location_;
    return view->convertPointFromView(location_, nullptr);
}

Point Touch::previousLocationInView(const View* view) const {
    if (!view) return previous_;
    return view->convertPointFromView(previous_, nullptr);
}

TouchSet Event::touchesForView(const View* view) const {
    TouchSet result;
    for (const auto& t : touches_) {
        if (t->view().get() == view) result.push_back(t);
    }
    return result;
}

}  // namespace quillon::ui
