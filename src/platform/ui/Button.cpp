#include "quillon/ui/Button.h"

#include "quillon/ui/Image.h"

#include <algorithm>
#include <cmath>

namespace quillon::ui {

Button::Button(const Rect& frame) : View(frame) { setOpaque(false); }

void Button::setTitle(const std::string& title) {
    title_ = title;
    setNeedsDisplay();
}

void Button::setTitleColor(const Color& color) {
    titleColor_ = color;
    setNeedsDisplay();
}

void Button::setFont(const Font& font) {
    font_ = font;
    setNeedsDisplay();
}

void Button::setImage(std::shared_ptr<Image> image) {
    image_ = std::move(image);
    setNeedsDisplay();
}

void Button::setEnabled(bool enabled) {
    enabled_ = enabled;
    setNeedsDisplay();
}

void Button::sendActions() {
    if (enabled_ && action_) {
        auto action = action_;  // the action may replace itself
        action();
    }
}

void Button::drawRect(const Rect&) {
    auto* context = GraphicsContext::current();
    if (!context) return;
    Rect b = bounds();
    TextAttributes attributes;
    attributes.font = font_;
    attributes.alignment = TextAlignment::Center;
    attributes.numberOfLines = 1;
    attributes.lineBreakMode = LineBreakMode::TruncateTail;
    attributes.color = titleColor_.withAlpha(titleColor_.alpha * (!enabled_ ? 0.35 : highlighted_ ? 0.4 : 1.0));
    Size text = title_.empty() ? Size{} : sizeOfText(title_, attributes, b.width());
    Size icon = image_ ? image_->size() : Size{};
    double total = icon.height + text.height;
    double y = b.y() + (b.height() - total) / 2;
    if (image_) {
        context->drawImage(*image_, Rect(b.x() + (b.width() - icon.width) / 2, y, icon.width, icon.height),
                           highlighted_ ? 0.4 : 1.0);
        y += icon.height;
    }
    if (!title_.empty()) context->drawText(title_, Rect(b.x(), y, b.width(), text.height), attributes);
}

Size Button::sizeThatFits(Size) const {
    TextAttributes attributes;
    attributes.font = font_;
    Size text = title_.empty() ? Size{} : sizeOfText(title_, attributes);
    Size icon = image_ ? image_->size() : Size{};
    return {std::ceil(std::max(text.width, icon.width)) + 12, std::ceil(text.height + icon.height) + 12};
}

void Button::touchesBegan(const TouchSet&, const Event&) {
    if (!enabled_) return;
    highlighted_ = true;
    setNeedsDisplay();
}

void Button::touchesMoved(const TouchSet& touches, const Event&) {
    if (!enabled_ || touches.empty()) return;
    // The platform keeps a touch "inside" up to 70 points beyond the edges.
    bool inside = bounds().insetBy(-70, -70).contains(touches.front()->locationInView(this));
    if (inside != highlighted_) {
        highlighted_ = inside;
        setNeedsDisplay();
    }
}

void Button::touchesEnded(const TouchSet& touches, const Event&) {
    bool fire = enabled_ && !touches.empty() && bounds().insetBy(-70, -70).contains(touches.front()->locationInView(this));
    highlighted_ = false;
    setNeedsDisplay();
    if (fire) sendActions();
}

void Button::touchesCancelled(const TouchSet&, const Event&) {
    highlighted_ = false;
    setNeedsDisplay();
}

}  // namespace quillon::ui
