#include "Wren/ui/QNTextView.h"

#include "platform/runtime/NotificationCenter.h"

namespace ui = quillon::ui;

QNTextView::QNTextView(const ui::Rect& frame) : ui::TextView(frame), placeholderColor_(ui::Color::lightGrayColor()) {
    // Any text view's change is looked at, as the placeholder only depends on this one's text.
    observer_ = platform::NotificationCenter::defaultCenter().addObserver(
        ui::TextViewTextDidChangeNotification, platform::NotificationCenter::Delivery::PostingThread,
        [this](const platform::Notification&) { textChanged(); });
}

QNTextView::~QNTextView() { platform::NotificationCenter::defaultCenter().removeObserver(observer_); }

void QNTextView::setText(const std::string& text) {
    ui::TextView::setText(text);
    textChanged();
}

void QNTextView::textChanged() {
    if (placeholder_.empty()) return;
    std::shared_ptr<ui::View> label = viewWithTag(kPlaceholderTag);
    if (!label) return;
    const double alpha = text().empty() ? 1.0 : 0.0;
    ui::View::animate(0.25, [label, alpha] { label->setAlpha(alpha); });
}

void QNTextView::update() { setNeedsDisplay(); }

void QNTextView::drawRect(const ui::Rect& rect) {
    if (!placeholder_.empty()) {
        if (!placeHolderLabel_) {
            auto label = std::make_shared<ui::Label>(ui::Rect(8.0, 8.0, bounds().size.width - 16.0, 0.0));
            label->setLineBreakMode(ui::LineBreakMode::WordWrap);
            label->setNumberOfLines(0);
            label->setFont(font());
            label->setBackgroundColor(ui::Color::clearColor());
            label->setTextColor(placeholderColor_);
            label->setAlpha(0.0);
            label->setTag(kPlaceholderTag);
            placeHolderLabel_ = label;
            addSubview(label);
        }
        placeHolderLabel_->setText(placeholder_);
        placeHolderLabel_->setTextColor(placeholderColor_);
        placeHolderLabel_->sizeToFit();
        sendSubviewToBack(placeHolderLabel_.get());
    }
    if (text().empty() && !placeholder_.empty())
        if (std::shared_ptr<ui::View> label = viewWithTag(kPlaceholderTag)) label->setAlpha(1.0);
    ui::TextView::drawRect(rect);
}
