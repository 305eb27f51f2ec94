#include "quillon/ui/Label.h"

#include <algorithm>
#include <cmath>

namespace quillon::ui {

Label::Label(const Rect& frame) : View(frame) {
    attributes_.numberOfLines = 1;
    attributes_.lineBreakMode = LineBreakMode::TruncateTail;
    setUserInteractionEnabled(false);
    setOpaque(false);
}

void Label::setText(const std::string& text) {
    if (text == text_) return;
    text_ = text;
    setNeedsDisplay();
}

void Label::setFont(const Font& font) {
    attributes_.font = font;
    setNeedsDisplay();
}

void Label::setTextColor(const Color& color) {
    attributes_.color = color;
    setNeedsDisplay();
}

void Label::setTextAlignment(TextAlignment alignment) {
    attributes_.alignment = alignment;
    setNeedsDisplay();
}

void Label::setNumberOfLines(int lines) {
    attributes_.numberOfLines = lines < 0 ? 0 : lines;
    setNeedsDisplay();
}

void Label::setLineBreakMode(LineBreakMode mode) {
    attributes_.lineBreakMode = mode;
    setNeedsDisplay();
}

void Label::drawRect(const Rect&) {
    auto* context = GraphicsContext::current();
    if (!context || text_.empty()) return;
    // The text is centred vertically in the label, as the platform's labels do.
    Rect b = bounds();
    Size size = sizeOfText(text_, attributes_, b.width());
    double height = std::min(size.height, b.height());
    context->saveGState();
    context->clipToRect(b);
    context->drawText(text_, Rect(b.x(), b.y() + (b.height() - height) / 2, b.width(), height), attributes_);
    context->restoreGState();
}

Size Label::sizeThatFits(Size size) const {
    if (text_.empty()) return {0, 0};
    double width = attributes_.numberOfLines == 1 ? 0 : (size.width > 0 ? size.width : bounds().width());
    Size s = sizeOfText(text_, attributes_, width);
    return {std::ceil(s.width), std::ceil(s.height)};
}

}  // namespace quillon::ui
