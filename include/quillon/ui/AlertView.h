// A modal alert: a title, a message and buttons, drawn as a card over a dimmed screen in a
// window of its own above the application's windows. The cancel button has index 0 (when
// given), the other buttons follow in order. Pressing a button calls the delegate with its
// index and then dismisses the alert.
#pragma once

#include "quillon/ui/View.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quillon::ui {

class AlertView;
class Window;

class QUILLON_UI_EXPORT AlertViewDelegate {
public:
    virtual ~AlertViewDelegate() = default;
    virtual void alertView(AlertView& alertView, std::int64_t buttonIndex) {}
};

class QUILLON_UI_EXPORT AlertView : public View {
public:
    AlertView(std::string title, std::string message, AlertViewDelegate* delegate, std::string cancelButtonTitle,
              std::vector<std::string> otherButtonTitles);
    ~AlertView() override;

    const std::string& title() const { return title_; }
    const std::string& message() const { return message_; }
    AlertViewDelegate* delegate() const { return delegate_; }
    std::int64_t numberOfButtons() const { return static_cast<std::int64_t>(buttons_.size()); }
    std::string buttonTitleAtIndex(std::int64_t index) const;
    // 0 when there is a cancel button, -1 otherwise.
    std::int64_t cancelButtonIndex() const { return hasCancel_ ? 0 : -1; }
    bool isVisible() const { return visible_; }

    // Puts the alert on screen (it stays alive while shown).
    void show();
    // Takes it off screen without a delegate call.
    void dismissWithClickedButtonIndex(std::int64_t index, bool animated);
    // Presses button `index` as a tap would: the delegate, then the dismissal. False when
    // the alert is not on screen or has no such button.
    bool pressButton(std::int64_t index);
    // The button's rectangle in the alert's (full-screen) coordinates.
    Rect buttonRect(std::int64_t index) const;
    Rect cardRect() const { return card_; }

    // The alert on screen, topmost first (null when none).
    static std::shared_ptr<AlertView> visibleAlert();

    void drawRect(const Rect& rect) override;
    void layoutSubviews() override;
    void touchesBegan(const TouchSet& touches, const Event& event) override;
    void touchesMoved(const TouchSet& touches, const Event& event) override;
    void touchesEnded(const TouchSet& touches, const Event& event) override;
    void touchesCancelled(const TouchSet& touches, const Event& event) override;

private:
    std::int64_t buttonAt(Point p) const;
    std::string title_, message_;
    AlertViewDelegate* delegate_;
    std::vector<std::string> buttons_;
    bool hasCancel_ = false;
    bool visible_ = false;
    std::int64_t highlighted_ = -1;
    Rect card_;
    std::vector<Rect> buttonRects_;
    std::shared_ptr<Window> window_;
};

}  // namespace quillon::ui
