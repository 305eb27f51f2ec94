#include "quillon/ui/Window.h"

#include "platform/runtime/ObjectRuntime.h"
#include "platform/ui/MethodTables.h"
#include "platform/ui/ViewInternals.h"
#include "quillon/ui/Application.h"
#include "quillon/ui/GestureRecognizer.h"
#include "quillon/ui/GraphicsContext.h"
#include "quillon/ui/Image.h"
#include "quillon/ui/Screen.h"
#include "quillon/ui/ViewController.h"

#include <algorithm>

namespace quillon::ui {

void startEventScriptIfAsked();  // EventScript.cpp

Window::Window() : Window(Screen::main().bounds()) {}

Window::Window(const Rect& frame) : View(frame) {
    registerToolkitClasses();
    setHidden(true);
}

Window::~Window() = default;

void Window::setRootViewController(std::shared_ptr<ViewController> controller) {
    if (controller == root_) return;
    bool visible = !isHidden();
    if (root_ && root_->isViewLoaded()) {
        auto oldView = root_->view();
        if (visible) root_->viewWillDisappear(false);
        oldView->removeFromSuperview();
        if (visible) root_->viewDidDisappear(false);
    }
    root_ = std::move(controller);
    if (!root_) return;
    auto view = root_->view();
    view->setFrame(bounds());
    view->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    if (visible) root_->viewWillAppear(false);
    insertSubview(view, 0);
    if (visible) root_->viewDidAppear(false);
}

void Window::makeVisible() {
    auto self = std::static_pointer_cast<Window>(shared_from_this());
    Application::shared().addWindow(self);
    if (!isHidden()) return;
    bool appear = root_ != nullptr;
    if (appear) root_->viewWillAppear(false);
    setHidden(false);
    if (appear) root_->viewDidAppear(false);
    detail::markScreenDirty();
}

void Window::makeKeyAndVisible() {
    makeVisible();
    makeKeyWindow();
    startEventScriptIfAsked();
}

void Window::makeKeyWindow() {
    Application::shared().setKeyWindow(std::static_pointer_cast<Window>(shared_from_this()));
}

bool Window::isKeyWindow() const { return Application::shared().keyWindow().get() == this; }

void Window::setWindowLevel(double level) {
    level_ = level;
    detail::markScreenDirty();
}

void Window::sendEvent(Event& event) {
    registerToolkitClasses();
    auto imp = platform::ObjectRuntime::lookup(kWindowClass, kSendEventSelector);
    if (imp) platform::fromImp<void(Object&, Event&)>(imp)(*this, event);
}

void Window::deliverEvent(Event& event) {
    if (event.type() != EventType::Touches) return;
    auto self = std::static_pointer_cast<Window>(shared_from_this());

    // New touches find their view and the recognisers that watch it.
    for (const auto& t : event.allTouches()) {
        if (t->phase() != TouchPhase::Began || t->view()) continue;
        auto hit = hitTest(t->windowLocation());
        if (!hit) hit = self;
        t->setView(hit);
        for (auto v = hit; v; v = v->superview()) {
            for (const auto& r : v->gestureRecognizers()) {
                if (r->isEnabled()) t->recognizers().push_back(r);
            }
        }
        if (!hit->isMultipleTouchEnabled()) {
            for (const auto& other : event.allTouches()) {
                if (other != t && other->view() == hit && other->deliversToView()) t->setDeliversToView(false);
            }
        }
    }

    // Recognisers see the touches first.
    std::vector<std::shared_ptr<GestureRecognizer>> recognizers;
    for (const auto& t : event.allTouches()) {
        for (const auto& w : t->recognizers()) {
            auto r = w.lock();
            if (r && std::find(recognizers.begin(), recognizers.end(), r) == recognizers.end()) recognizers.push_back(r);
        }
    }
    auto owns = [](const std::shared_ptr<Touch>& t, const std::shared_ptr<GestureRecognizer>& r) {
        for (const auto& w : t->recognizers())
            if (w.lock() == r) return true;
        return false;
    };
    std::vector<std::pair<std::shared_ptr<View>, std::shared_ptr<Touch>>> cancelled;
    for (const auto& r : recognizers) {
        auto state = r->state();
        if (state == GestureRecognizerState::Failed || state == GestureRecognizerState::Ended ||
            state == GestureRecognizerState::Cancelled || !r->isEnabled() || !r->view())
            continue;
        for (TouchPhase phase : {TouchPhase::Began, TouchPhase::Moved, TouchPhase::Ended, TouchPhase::Cancelled}) {
            TouchSet subset;
            for (const auto& t : event.allTouches()) {
                if (t->phase() == phase && owns(t, r)) subset.push_back(t);
            }
            if (subset.empty()) continue;
            switch (phase) {
                case TouchPhase::Began: r->touchesBegan(subset, event); break;
                case TouchPhase::Moved: r->touchesMoved(subset, event); break;
                case TouchPhase::Ended: r->touchesEnded(subset, event); break;
                default: r->touchesCancelled(subset, event); break;
            }
        }
        state = r->state();
        bool recognized = state == GestureRecognizerState::Ended || state == GestureRecognizerState::Began ||
                          state == GestureRecognizerState::Changed;
        if (recognized && r->cancelsTouchesInView()) {
            for (const auto& t : event.allTouches()) {
                if (owns(t, r) && t->deliversToView()) {
                    t->setDeliversToView(false);
                    if (auto v = t->view()) cancelled.push_back({v, t});
                }
            }
        }
    }

    // Then the views, grouped by view and phase.
    for (TouchPhase phase : {TouchPhase::Began, TouchPhase::Moved, TouchPhase::Ended, TouchPhase::Cancelled}) {
        std::vector<std::shared_ptr<View>> views;
        for (const auto& t : event.allTouches()) {
            auto v = t->view();
            if (t->phase() == phase && t->deliversToView() && v && std::find(views.begin(), views.end(), v) == views.end())
                views.push_back(v);
        }
        for (const auto& v : views) {
            TouchSet set;
            for (const auto& t : event.allTouches()) {
                if (t->phase() == phase && t->deliversToView() && t->view() == v) set.push_back(t);
            }
            switch (phase) {
                case TouchPhase::Began: v->touchesBegan(set, event); break;
                case TouchPhase::Moved: v->touchesMoved(set, event); break;
                case TouchPhase::Ended: v->touchesEnded(set, event); break;
                default: v->touchesCancelled(set, event); break;
            }
        }
    }
    for (const auto& [view, touch] : cancelled) view->touchesCancelled({touch}, event);

    // The sequence is over when every finger is up: recognisers start afresh.
    bool allUp = std::all_of(event.allTouches().begin(), event.allTouches().end(), [](const auto& t) {
        return t->phase() == TouchPhase::Ended || t->phase() == TouchPhase::Cancelled;
    });
    if (allUp) {
        for (const auto& r : recognizers) r->reset();
    }
}

std::shared_ptr<Image> Window::snapshotImage() {
    ImageContext context(bounds().size, false, 0);
    renderInContext(context.context());
    return context.image();
}

}  // namespace quillon::ui
