#include "quillon/ui/TextView.h"

#include "platform/runtime/NotificationCenter.h"
#include "platform/ui/Utf8.h"

#include <algorithm>
#include <cmath>

namespace quillon::ui {

const char* const TextViewTextDidChangeNotification = "UITextViewTextDidChangeNotification";

TextView::TextView(const Rect& frame) : View(frame) {
    setBackgroundColor(Color::whiteColor());
    setClipsToBounds(true);
}

void TextView::setText(const std::string& text) {
    text_ = text;
    setNeedsDisplay();
}

void TextView::setFont(const Font& font) {
    font_ = font;
    setNeedsDisplay();
}

void TextView::setTextColor(const Color& color) {
    textColor_ = color;
    setNeedsDisplay();
}

std::size_t TextView::length() const { return utf8::length(text_); }

void TextView::replace(Range range, const std::string& replacement) {
    if (delegate_ && !delegate_->textViewShouldChangeTextInRange(*this, range, replacement)) return;
    std::size_t from = utf8::offset(text_, range.location);
    std::size_t to = utf8::offset(text_, range.location + range.length);
    text_.replace(from, to - from, replacement);
    setNeedsDisplay();
    platform::Notification n;
    n.name = TextViewTextDidChangeNotification;
    n.object = this;
    platform::NotificationCenter::defaultCenter().post(n);
    if (delegate_) delegate_->textViewDidChange(*this);
}

void TextView::insertText(const std::string& text) {
    if (!editable_ || text.empty()) return;
    replace(Range{length(), 0}, text);
}

void TextView::deleteBackward() {
    std::size_t n = length();
    if (!editable_ || n == 0) return;
    replace(Range{n - 1, 1}, "");
}

void TextView::returnKey() { insertText("\n"); }

void TextView::touchesEnded(const TouchSet&, const Event&) { becomeFirstResponder(); }

void TextView::drawRect(const Rect&) {
    auto* context = GraphicsContext::current();
    if (!context) return;
    Rect b = bounds();
    Rect area(b.x() + inset_.left, b.y() + inset_.top, b.width() - inset_.left - inset_.right,
              b.height() - inset_.top - inset_.bottom);
    TextAttributes attributes;
    attributes.font = font_;
    attributes.color = textColor_;
    attributes.lineBreakMode = LineBreakMode::WordWrap;
    context->saveGState();
    context->clipToRect(b);
    context->drawText(text_, area, attributes);
    if (isFirstResponder()) {
        // The caret at the end of the last line.
        std::size_t lastBreak = text_.rfind('\n');
        std::string lastLine = lastBreak == std::string::npos ? text_ : text_.substr(lastBreak + 1);
        double lineHeight = font_.lineHeight();
        Size all = text_.empty() ? Size{0, lineHeight} : sizeOfText(text_ + (text_.back() == '\n' ? " " : ""), attributes, area.width());
        Size last = sizeOfText(lastLine.empty() ? " " : lastLine, attributes, area.width());
        double x = lastLine.empty() ? 0 : std::fmod(last.width, std::max(area.width(), 1.0));
        context->setFillColor(Color(0.0, 0.478, 1.0, 1.0));
        context->fillRect(Rect(area.x() + std::min(x, area.width() - 2), area.y() + all.height - lineHeight, 2, lineHeight));
    }
    context->restoreGState();
}

}  // namespace quillon::ui
