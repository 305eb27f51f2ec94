// A view that draws a text.
#pragma once

#include "quillon/ui/GraphicsContext.h"
#include "quillon/ui/View.h"

#include <string>

namespace quillon::ui {

class QUILLON_UI_EXPORT Label : public View {
public:
    explicit Label(const Rect& frame = Rect());

    const std::string& text() const { return text_; }
    void setText(const std::string& text);
    Font font() const { return attributes_.font; }
    void setFont(const Font& font);
    Color textColor() const { return attributes_.color; }
    void setTextColor(const Color& color);
    TextAlignment textAlignment() const { return attributes_.alignment; }
    void setTextAlignment(TextAlignment alignment);
    // 1 by default; 0 for as many lines as the text needs.
    int numberOfLines() const { return attributes_.numberOfLines; }
    void setNumberOfLines(int lines);
    LineBreakMode lineBreakMode() const { return attributes_.lineBreakMode; }
    void setLineBreakMode(LineBreakMode mode);
    const TextAttributes& textAttributes() const { return attributes_; }

    void drawRect(const Rect& rect) override;
    // The text's size; with numberOfLines 0 wrapped at the given width (or the current one).
    Size sizeThatFits(Size size) const override;

private:
    std::string text_;
    TextAttributes attributes_;
};

}  // namespace quillon::ui
