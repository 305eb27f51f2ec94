// The application object: its windows, the key window, the status bar and the lifecycle.
#pragma once

#include "quillon/ui/Export.h"
#include "quillon/ui/Geometry.h"

#include <memory>
#include <vector>

namespace quillon::ui {

class Window;

// The four lifecycle notifications (posted on the library's notification center, object
// the application).
QUILLON_UI_EXPORT extern const char* const UIApplicationWillResignActiveNotification;
QUILLON_UI_EXPORT extern const char* const UIApplicationDidEnterBackgroundNotification;
QUILLON_UI_EXPORT extern const char* const UIApplicationWillEnterForegroundNotification;
QUILLON_UI_EXPORT extern const char* const UIApplicationDidBecomeActiveNotification;

enum class ApplicationState { Active = 0, Inactive = 1, Background = 2 };

class QUILLON_UI_EXPORT Application {
public:
    static Application& shared();

    std::shared_ptr<Window> keyWindow() const;
    // Visible windows, back to front (by level, then in the order they were shown).
    std::vector<std::shared_ptr<Window>> windows() const;

    Rect statusBarFrame() const;
    bool isStatusBarHidden() const { return statusBarHidden_; }
    void setStatusBarHidden(bool hidden);

    ApplicationState applicationState() const { return state_; }
    // Posts will-resign-active then did-enter-background.
    void enterBackground();
    // Posts will-enter-foreground then did-become-active.
    void enterForeground();

    // Internal, used by Window.
    void addWindow(const std::shared_ptr<Window>& window);
    void removeWindow(const Window* window);
    void setKeyWindow(const std::shared_ptr<Window>& window);

private:
    Application() = default;
    std::vector<std::weak_ptr<Window>> windows_;
    std::weak_ptr<Window> key_;
    bool statusBarHidden_ = false;
    ApplicationState state_ = ApplicationState::Active;
};

}  // namespace quillon::ui

// The UI library's version ("2.1.3"); also how a host or libquillon finds that it is loaded.
extern "C" QUILLON_UI_EXPORT const char* quillon_ui_version(void);
