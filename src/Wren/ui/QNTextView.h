// A multi-line text view that shows a placeholder text while it is empty. The placeholder is
// a label (tag 999) made on the first draw and faded in and out as the text empties and fills.
#pragma once

#include <quillon/ui.h>

#include <cstdint>
#include <memory>
#include <string>

class QNTextView : public quillon::ui::TextView {
public:
    static constexpr std::int64_t kPlaceholderTag = 999;

    explicit QNTextView(const quillon::ui::Rect& frame);
    ~QNTextView() override;

    const std::string& placeholder() const { return placeholder_; }
    void setPlaceholder(std::string placeholder) { placeholder_ = std::move(placeholder); }
    // Takes effect at the next redraw (update()).
    const quillon::ui::Color& placeholderColor() const { return placeholderColor_; }
    void setPlaceholderColor(const quillon::ui::Color& color) { placeholderColor_ = color; }
    std::shared_ptr<quillon::ui::Label> placeHolderLabel() const { return placeHolderLabel_; }

    // Sets the text and shows or hides the placeholder for it.
    void setText(const std::string& text) override;
    // Fades the placeholder out over 0.25 s when there is text, in when there is none.
    void textChanged();
    // Requests a redraw.
    void update();
    void drawRect(const quillon::ui::Rect& rect) override;

private:
    std::string placeholder_;
    quillon::ui::Color placeholderColor_;
    std::shared_ptr<quillon::ui::Label> placeHolderLabel_;
    std::uint64_t observer_ = 0;
};
