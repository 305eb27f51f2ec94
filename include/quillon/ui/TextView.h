// A multi-line editable text. Return inserts a line break (after the delegate allowed it).
// Every change made by typing or setText posts TextViewTextDidChangeNotification with the
// text view as the object (setText posts nothing, as on the platform).
#pragma once

#include "quillon/ui/GraphicsContext.h"
#include "quillon/ui/View.h"

#include <string>

namespace quillon::ui {

class TextView;

QUILLON_UI_EXPORT extern const char* const TextViewTextDidChangeNotification;

class QUILLON_UI_EXPORT TextViewDelegate {
public:
    virtual ~TextViewDelegate() = default;
    virtual bool textViewShouldChangeTextInRange(TextView& view, Range range, const std::string& replacement) {
        return true;
    }
    virtual void textViewDidChange(TextView& view) {}
    virtual void textViewDidBeginEditing(TextView& view) {}
    virtual void textViewDidEndEditing(TextView& view) {}
};

class QUILLON_UI_EXPORT TextView : public View {
public:
    explicit TextView(const Rect& frame = Rect());

    const std::string& text() const { return text_; }
    // Replaces the text (no delegate call, no notification).
    virtual void setText(const std::string& text);
    Font font() const { return font_; }
    void setFont(const Font& font);
    Color textColor() const { return textColor_; }
    void setTextColor(const Color& color);
    int returnKeyType() const { return returnKeyType_; }
    void setReturnKeyType(int type) { returnKeyType_ = type; }
    bool isEditable() const { return editable_; }
    void setEditable(bool editable) { editable_ = editable; }
    void setDelegate(TextViewDelegate* delegate) { delegate_ = delegate; }
    TextViewDelegate* delegate() const { return delegate_; }
    std::size_t length() const;
    // Inset of the text from the view's edges (8 points at the top and bottom, 5 at the sides).
    EdgeInsets textContainerInset() const { return inset_; }

    bool canBecomeFirstResponder() const override { return editable_; }
    void insertText(const std::string& text) override;
    void deleteBackward() override;
    void returnKey() override;
    void drawRect(const Rect& rect) override;
    void touchesEnded(const TouchSet& touches, const Event& event) override;
    void touchesBegan(const TouchSet& touches, const Event& event) override {}

private:
    void replace(Range range, const std::string& replacement);
    std::string text_;
    Font font_ = Font::systemFontOfSize(12.0);
    Color textColor_ = Color::blackColor();
    int returnKeyType_ = 0;
    bool editable_ = true;
    EdgeInsets inset_{8, 5, 8, 5};
    TextViewDelegate* delegate_ = nullptr;
};

}  // namespace quillon::ui
