#include "quillon/ui/TextField.h"

#include "platform/ui/Utf8.h"

#include <algorithm>

namespace quillon::ui {

TextField::TextField(const Rect& frame) : View(frame) { setOpaque(false); }

void TextField::setText(const std::string& text) {
    text_ = text;
    setNeedsDisplay();
}

void TextField::setPlaceholder(const std::string& placeholder) {
    placeholder_ = placeholder;
    setNeedsDisplay();
}

void TextField::setFont(const Font& font) {
    font_ = font;
    setNeedsDisplay();
}

void TextField::setTextColor(const Color& color) {
    textColor_ = color;
    setNeedsDisplay();
}

std::size_t TextField::length() const { return utf8::length(text_); }

void TextField::insertText(const std::string& text) {
    if (text.empty()) return;
    // A line break never goes into a one-line field: it is the Return key.
    if (text == "\n") {
        returnKey();
        return;
    }
    Range range{length(), 0};
    if (delegate_ && !delegate_->textFieldShouldChangeCharactersInRange(*this, range, text)) return;
    text_ += text;
    setNeedsDisplay();
}

void TextField::deleteBackward() {
    std::size_t n = length();
    if (n == 0) return;
    Range range{n - 1, 1};
    if (delegate_ && !delegate_->textFieldShouldChangeCharactersInRange(*this, range, "")) return;
    text_.erase(utf8::offset(text_, n - 1));
    setNeedsDisplay();
}

void TextField::returnKey() {
    if (delegate_) delegate_->textFieldShouldReturn(*this);
}

void TextField::touchesEnded(const TouchSet&, const Event&) { becomeFirstResponder(); }

void TextField::drawRect(const Rect&) {
    auto* context = GraphicsContext::current();
    if (!context) return;
    Rect b = bounds();
    TextAttributes attributes;
    attributes.font = font_;
    attributes.numberOfLines = 1;
    attributes.lineBreakMode = LineBreakMode::TruncateTail;
    const bool empty = text_.empty();
    attributes.color = empty ? Color(0.78, 0.78, 0.8, 1) : textColor_;
    const std::string& shown = empty ? placeholder_ : text_;
    double lineHeight = font_.lineHeight();
    double y = b.y() + (b.height() - lineHeight) / 2;
    context->saveGState();
    context->clipToRect(b);
    if (!shown.empty()) context->drawText(shown, Rect(b.x(), y, b.width(), lineHeight), attributes);
    if (isFirstResponder()) {
        // The caret after the text.
        double x = empty ? b.x() : b.x() + std::min(sizeOfText(text_, attributes).width, b.width() - 2);
        context->setFillColor(Color(0.0, 0.478, 1.0, 1.0));
        context->fillRect(Rect(x + 1, y, 2, lineHeight));
    }
    context->restoreGState();
}

}  // namespace quillon::ui
