#include "quillon/ui/Application.h"

#include "platform/runtime/NotificationCenter.h"
#include "platform/ui/ViewInternals.h"
#include "quillon/ui/Screen.h"
#include "quillon/ui/Window.h"

#include <algorithm>

namespace quillon::ui {

const char* const UIApplicationWillResignActiveNotification = "UIApplicationWillResignActiveNotification";
const char* const UIApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
const char* const UIApplicationWillEnterForegroundNotification = "UIApplicationWillEnterForegroundNotification";
const char* const UIApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";

Application& Application::shared() {
    static auto* application = new Application;
    return *application;
}

std::shared_ptr<Window> Application::keyWindow() const { return key_.lock(); }

std::vector<std::shared_ptr<Window>> Application::windows() const {
    std::vector<std::shared_ptr<Window>> result;
    for (const auto& w : windows_) {
        if (auto window = w.lock()) result.push_back(window);
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const auto& a, const auto& b) { return a->windowLevel() < b->windowLevel(); });
    return result;
}

Rect Application::statusBarFrame() const {
    if (statusBarHidden_) return Rect();
    return Rect(0, 0, Screen::main().bounds().width(), 20);
}

void Application::setStatusBarHidden(bool hidden) {
    statusBarHidden_ = hidden;
    detail::markScreenDirty();
}

namespace {
void postLifecycle(const Application* app, const char* name) {
    platform::Notification n;
    n.name = name;
    n.object = app;
    platform::NotificationCenter::defaultCenter().post(n);
}
}  // namespace

void Application::enterBackground() {
    state_ = ApplicationState::Inactive;
    postLifecycle(this, UIApplicationWillResignActiveNotification);
    state_ = ApplicationState::Background;
    postLifecycle(this, UIApplicationDidEnterBackgroundNotification);
}

void Application::enterForeground() {
    state_ = ApplicationState::Inactive;
    postLifecycle(this, UIApplicationWillEnterForegroundNotification);
    state_ = ApplicationState::Active;
    postLifecycle(this, UIApplicationDidBecomeActiveNotification);
}

void Application::addWindow(const std::shared_ptr<Window>& window) {
    // Shown (again): in front of the others of its level.
    windows_.erase(std::remove_if(windows_.begin(), windows_.end(),
                                  [&](const auto& w) { return w.expired() || w.lock() == window; }),
                   windows_.end());
    windows_.push_back(window);
}

void Application::removeWindow(const Window* window) {
    windows_.erase(std::remove_if(windows_.begin(), windows_.end(),
                                  [&](const auto& w) { return w.expired() || w.lock().get() == window; }),
                   windows_.end());
    if (key_.lock().get() == window) key_.reset();
    detail::markScreenDirty();
}

void Application::setKeyWindow(const std::shared_ptr<Window>& window) { key_ = window; }

}  // namespace quillon::ui

extern "C" const char* quillon_ui_version(void) { return QUILLON_UI_VERSION; }
