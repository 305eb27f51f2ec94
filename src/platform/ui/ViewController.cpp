#include "quillon/ui/ViewController.h"

#include "platform/foundation/Logger.h"
#include "platform/runtime/ObjectRuntime.h"
#include "platform/runtime/RunLoop.h"
#include "platform/ui/MethodTables.h"
#include "quillon/ui/Screen.h"
#include "quillon/ui/Window.h"

namespace quillon::ui {

namespace {
constexpr double kTransitionSeconds = 0.3;

void later(std::function<void()> completion) {
    if (completion) platform::RunLoop::main().perform(std::move(completion));
}
}  // namespace

ViewController::ViewController() { registerToolkitClasses(); }

ViewController::~ViewController() = default;

std::shared_ptr<View> ViewController::view() {
    if (!view_ && !loading_) {
        loading_ = true;
        loadView();
        if (!view_) setView(std::make_shared<View>(Screen::main().bounds()));
        loading_ = false;
        viewDidLoad();
    }
    return view_;
}

void ViewController::setView(std::shared_ptr<View> view) {
    if (view_) view_->setViewControllerInternal(nullptr);
    view_ = std::move(view);
    if (view_) view_->setViewControllerInternal(shared_from_this());
}

void ViewController::loadView() {
    auto v = std::make_shared<View>(Screen::main().bounds());
    v->setBackgroundColor(Color::whiteColor());
    setView(v);
}

void ViewController::viewDidLoad() {
    auto imp = platform::ObjectRuntime::lookup(kViewControllerClass, kViewDidLoadSelector);
    if (imp) platform::fromImp<void(Object&)>(imp)(*this);
}

void ViewController::viewWillAppear(bool animated) {
    auto imp = platform::ObjectRuntime::lookup(kViewControllerClass, kViewWillAppearSelector);
    if (imp) platform::fromImp<void(Object&, bool)>(imp)(*this, animated);
}

void ViewController::viewWillDisappear(bool animated) {
    auto imp = platform::ObjectRuntime::lookup(kViewControllerClass, kViewWillDisappearSelector);
    if (imp) platform::fromImp<void(Object&, bool)>(imp)(*this, animated);
}

std::shared_ptr<Window> ViewController::window() const { return view_ ? view_->window() : nullptr; }

void ViewController::presentViewController(std::shared_ptr<ViewController> controller, bool animated,
                                           std::function<void()> completion) {
    if (!controller || controller.get() == this) return;
    if (presented_) {
        platform::logf("Attempt to present %s on %s which is already presenting %s", controller->className().c_str(),
                       className().c_str(), presented_->className().c_str());
        return;
    }
    auto window = this->window();
    if (!window) {
        platform::logf("Attempt to present %s on %s whose view is not in the window hierarchy",
                       controller->className().c_str(), className().c_str());
        return;
    }
    auto self = shared_from_this();
    presented_ = controller;
    controller->presenting_ = self;
    auto view = controller->view();
    Rect bounds = window->bounds();
    view->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);

    // A full-screen presentation: the presenter's screen goes away once the new one is up.
    viewWillDisappear(animated);
    controller->viewWillAppear(animated);
    window->addSubview(view);
    auto finish = [self, controller, completion](bool) {
        if (self->view_ && self->presented_ == controller) self->view_->removeFromSuperview();
        self->viewDidDisappear(true);
        controller->viewDidAppear(true);
        if (completion) completion();
    };
    if (animated) {
        view->setFrame(bounds.offsetBy(0, bounds.height()));
        View::animate(kTransitionSeconds, [view, bounds] { view->setFrame(bounds); }, finish);
    } else {
        view->setFrame(bounds);
        if (view_) view_->removeFromSuperview();
        viewDidDisappear(false);
        controller->viewDidAppear(false);
        later(std::move(completion));
    }
}

void ViewController::dismissViewController(bool animated, std::function<void()> completion) {
    // This controller dismisses what it presents; one that presents nothing asks its presenter.
    std::shared_ptr<ViewController> presenter = presented_ ? shared_from_this() : presenting_.lock();
    if (!presenter || !presenter->presented_) {
        later(std::move(completion));
        return;
    }
    auto window = presenter->presented_->window();
    // The screens above the presenter, bottom to top; the top one is what shows.
    std::vector<std::shared_ptr<ViewController>> chain;
    for (auto c = presenter->presented_; c; c = c->presented_) chain.push_back(c);
    auto top = chain.back();
    auto topView = top->view_;

    top->viewWillDisappear(animated);
    presenter->viewWillAppear(animated);
    if (window && presenter->view_ && !presenter->view_->superview()) {
        presenter->view_->setFrame(window->bounds());
        window->insertSubviewBelow(presenter->view_, topView.get());
    }
    for (auto& c : chain) {
        if (c != top && c->view_) c->view_->removeFromSuperview();
    }
    auto finish = [presenter, chain, top, topView, completion](bool) {
        if (topView) topView->removeFromSuperview();
        for (auto& c : chain) {
            c->presented_.reset();
            c->presenting_.reset();
        }
        presenter->presented_.reset();
        top->viewDidDisappear(true);
        presenter->viewDidAppear(true);
        if (completion) completion();
    };
    if (animated && topView && window) {
        Rect bounds = window->bounds();
        View::animate(kTransitionSeconds, [topView, bounds] { topView->setFrame(bounds.offsetBy(0, bounds.height())); },
                      finish);
    } else {
        if (topView) topView->removeFromSuperview();
        for (auto& c : chain) {
            c->presented_.reset();
            c->presenting_.reset();
        }
        presenter->presented_.reset();
        top->viewDidDisappear(false);
        presenter->viewDidAppear(false);
        later(std::move(completion));
    }
}

}  // namespace quillon::ui
