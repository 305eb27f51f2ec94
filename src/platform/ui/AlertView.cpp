#include "quillon/ui/AlertView.h"

#include "quillon/ui/Application.h"
#include "quillon/ui/GraphicsContext.h"
#include "quillon/ui/Screen.h"
#include "quillon/ui/Window.h"

#include <algorithm>
#include <cmath>

namespace quillon::ui {

namespace {
constexpr double kCardWidth = 270;
constexpr double kButtonHeight = 44;
constexpr double kPadding = 16;

std::vector<std::weak_ptr<AlertView>>& shownAlerts() {
    static auto* alerts = new std::vector<std::weak_ptr<AlertView>>;
    return *alerts;
}

TextAttributes titleAttributes() {
    TextAttributes a;
    a.font = Font::boldSystemFontOfSize(17);
    a.alignment = TextAlignment::Center;
    return a;
}

TextAttributes messageAttributes() {
    TextAttributes a;
    a.font = Font::systemFontOfSize(13);
    a.alignment = TextAlignment::Center;
    return a;
}
}  // namespace

AlertView::AlertView(std::string title, std::string message, AlertViewDelegate* delegate, std::string cancelButtonTitle,
                     std::vector<std::string> otherButtonTitles)
    : View(Screen::main().bounds()), title_(std::move(title)), message_(std::move(message)), delegate_(delegate) {
    if (!cancelButtonTitle.empty()) {
        buttons_.push_back(std::move(cancelButtonTitle));
        hasCancel_ = true;
    }
    for (auto& b : otherButtonTitles) buttons_.push_back(std::move(b));
    setBackgroundColor(Color(0, 0, 0, 0.4));
    setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
}

AlertView::~AlertView() = default;

std::string AlertView::buttonTitleAtIndex(std::int64_t index) const {
    if (index < 0 || index >= numberOfButtons()) return "";
    return buttons_[static_cast<std::size_t>(index)];
}

void AlertView::layoutSubviews() {
    // The card: title and message, then the buttons. Two buttons sit side by side; more
    // are stacked, the cancel button last (as the platform lays them out).
    Rect b = bounds();
    double textWidth = kCardWidth - 2 * kPadding;
    double titleH = title_.empty() ? 0 : sizeOfText(title_, titleAttributes(), textWidth).height;
    double messageH = message_.empty() ? 0 : sizeOfText(message_, messageAttributes(), textWidth).height;
    double textH = kPadding + titleH + (titleH > 0 && messageH > 0 ? 4 : 0) + messageH + kPadding;
    std::size_t n = buttons_.size();
    bool sideBySide = n == 2;
    double buttonsH = n == 0 ? 0 : (sideBySide ? kButtonHeight : kButtonHeight * static_cast<double>(n));
    double h = textH + buttonsH;
    card_ = Rect(std::round((b.width() - kCardWidth) / 2), std::round((b.height() - h) / 2), kCardWidth, h);
    buttonRects_.assign(n, Rect());
    double y = card_.y() + textH;
    if (sideBySide) {
        buttonRects_[0] = Rect(card_.x(), y, kCardWidth / 2, kButtonHeight);
        buttonRects_[1] = Rect(card_.x() + kCardWidth / 2, y, kCardWidth / 2, kButtonHeight);
    } else {
        // Other buttons top to bottom, then the cancel button.
        std::size_t row = 0;
        for (std::size_t i = hasCancel_ ? 1 : 0; i < n; ++i, ++row)
            buttonRects_[i] = Rect(card_.x(), y + kButtonHeight * static_cast<double>(row), kCardWidth, kButtonHeight);
        if (hasCancel_ && n > 0)
            buttonRects_[0] = Rect(card_.x(), y + kButtonHeight * static_cast<double>(row), kCardWidth, kButtonHeight);
    }
    setNeedsDisplay();
}

Rect AlertView::buttonRect(std::int64_t index) const {
    if (index < 0 || index >= numberOfButtons()) return Rect();
    const_cast<AlertView*>(this)->layoutIfNeeded();
    return buttonRects_[static_cast<std::size_t>(index)];
}

void AlertView::drawRect(const Rect&) {
    auto* context = GraphicsContext::current();
    if (!context) return;
    context->saveGState();
    // The card.
    context->setFillColor(Color(0.97, 0.97, 0.97, 1));
    context->beginPath();
    double r = 13, x0 = card_.x(), y0 = card_.y(), x1 = card_.maxX(), y1 = card_.maxY();
    context->moveToPoint(x0, y0 + r);
    context->addArcToPoint(x0, y0, x1, y0, r);
    context->addArcToPoint(x1, y0, x1, y1, r);
    context->addArcToPoint(x1, y1, x0, y1, r);
    context->addArcToPoint(x0, y1, x0, y0, r);
    context->closePath();
    context->fillPath();

    double textWidth = kCardWidth - 2 * kPadding;
    double y = card_.y() + kPadding;
    if (!title_.empty()) {
        Size s = sizeOfText(title_, titleAttributes(), textWidth);
        context->drawText(title_, Rect(card_.x() + kPadding, y, textWidth, s.height), titleAttributes());
        y += s.height + 4;
    }
    if (!message_.empty()) {
        Size s = sizeOfText(message_, messageAttributes(), textWidth);
        context->drawText(message_, Rect(card_.x() + kPadding, y, textWidth, s.height), messageAttributes());
    }
    // Buttons with hairlines between them.
    context->setStrokeColor(Color(0.8, 0.8, 0.8, 1));
    context->setLineWidth(0.5);
    for (std::size_t i = 0; i < buttonRects_.size(); ++i) {
        const Rect& br = buttonRects_[i];
        if (static_cast<std::int64_t>(i) == highlighted_) {
            context->setFillColor(Color(0.85, 0.85, 0.85, 1));
            context->fillRect(br);
        }
        context->beginPath();
        context->moveToPoint(br.x(), br.y() + 0.25);
        context->addLineToPoint(br.maxX(), br.y() + 0.25);
        if (br.x() > card_.x()) {
            context->moveToPoint(br.x() + 0.25, br.y());
            context->addLineToPoint(br.x() + 0.25, br.maxY());
        }
        context->strokePath();
        TextAttributes a;
        a.font = (hasCancel_ && i == 0) ? Font::boldSystemFontOfSize(17) : Font::systemFontOfSize(17);
        a.color = Color(0.0, 0.478, 1.0, 1.0);
        a.alignment = TextAlignment::Center;
        a.numberOfLines = 1;
        a.lineBreakMode = LineBreakMode::TruncateTail;
        Size s = sizeOfText(buttons_[i], a, br.width() - 8);
        context->drawText(buttons_[i], Rect(br.x() + 4, br.y() + (br.height() - s.height) / 2, br.width() - 8, s.height),
                          a);
    }
    context->restoreGState();
}

void AlertView::show() {
    if (visible_) return;
    auto self = std::static_pointer_cast<AlertView>(shared_from_this());
    window_ = std::make_shared<Window>(Screen::main().bounds());
    window_->setWindowLevel(WindowLevelAlert);
    setFrame(window_->bounds());
    window_->addSubview(self);
    setNeedsLayout();
    visible_ = true;
    shownAlerts().push_back(self);
    window_->makeVisible();
}

void AlertView::dismissWithClickedButtonIndex(std::int64_t, bool) {
    if (!visible_) return;
    visible_ = false;
    auto self = shared_from_this();  // the window held us
    auto& alerts = shownAlerts();
    alerts.erase(std::remove_if(alerts.begin(), alerts.end(),
                                [&](const auto& w) { return w.expired() || w.lock().get() == this; }),
                 alerts.end());
    if (window_) {
        window_->setHidden(true);
        Application::shared().removeWindow(window_.get());
        removeFromSuperview();
        window_.reset();
    }
}

bool AlertView::pressButton(std::int64_t index) {
    if (!visible_ || index < 0 || index >= numberOfButtons()) return false;
    auto self = shared_from_this();  // the delegate may drop its reference
    if (delegate_) delegate_->alertView(*this, index);
    dismissWithClickedButtonIndex(index, true);
    return true;
}

std::shared_ptr<AlertView> AlertView::visibleAlert() {
    auto& alerts = shownAlerts();
    for (auto it = alerts.rbegin(); it != alerts.rend(); ++it) {
        if (auto a = it->lock(); a && a->visible_) return a;
    }
    return nullptr;
}

std::int64_t AlertView::buttonAt(Point p) const {
    for (std::size_t i = 0; i < buttonRects_.size(); ++i) {
        if (buttonRects_[i].contains(p)) return static_cast<std::int64_t>(i);
    }
    return -1;
}

void AlertView::touchesBegan(const TouchSet& touches, const Event&) {
    if (touches.empty()) return;
    highlighted_ = buttonAt(touches.front()->locationInView(this));
    setNeedsDisplay();
}

void AlertView::touchesMoved(const TouchSet& touches, const Event&) {
    if (touches.empty()) return;
    std::int64_t now = buttonAt(touches.front()->locationInView(this));
    if (now != highlighted_) {
        highlighted_ = now;
        setNeedsDisplay();
    }
}

void AlertView::touchesEnded(const TouchSet& touches, const Event&) {
    std::int64_t pressed = touches.empty() ? -1 : buttonAt(touches.front()->locationInView(this));
    highlighted_ = -1;
    setNeedsDisplay();
    if (pressed >= 0) pressButton(pressed);
}

void AlertView::touchesCancelled(const TouchSet&, const Event&) {
    highlighted_ = -1;
    setNeedsDisplay();
}

}  // namespace quillon::ui
