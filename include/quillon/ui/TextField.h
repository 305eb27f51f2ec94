// A one-line editable text. Tapping it makes it the first responder; keyboard text is
// inserted at the end, after the delegate allowed the change.
#pragma once

#include "quillon/ui/GraphicsContext.h"
#include "quillon/ui/View.h"

#include <string>

namespace quillon::ui {

class TextField;

// Return key kinds (the platform's values).
enum ReturnKeyType : int { ReturnKeyDefault = 0, ReturnKeyGo = 1, ReturnKeyDone = 9, ReturnKeySend = 7 };

class QUILLON_UI_EXPORT TextFieldDelegate {
public:
    virtual ~TextFieldDelegate() = default;
    // Whether `replacement` may replace the characters in `range` (insertion: length 0 at the
    // end; Backspace: the last character with an empty replacement).
    virtual bool textFieldShouldChangeCharactersInRange(TextField& field, Range range, const std::string& replacement) {
        return true;
    }
    // Return was pressed; the answer is ignored beyond the platform's meaning (no line break
    // is ever inserted in a text field).
    virtual bool textFieldShouldReturn(TextField& field) { return true; }
    virtual void textFieldDidBeginEditing(TextField& field) {}
    virtual void textFieldDidEndEditing(TextField& field) {}
};

class QUILLON_UI_EXPORT TextField : public View {
public:
    explicit TextField(const Rect& frame = Rect());

    const std::string& text() const { return text_; }
    void setText(const std::string& text);
    const std::string& placeholder() const { return placeholder_; }
    void setPlaceholder(const std::string& placeholder);
    Font font() const { return font_; }
    void setFont(const Font& font);
    Color textColor() const { return textColor_; }
    void setTextColor(const Color& color);
    int returnKeyType() const { return returnKeyType_; }
    void setReturnKeyType(int type) { returnKeyType_ = type; }
    void setDelegate(TextFieldDelegate* delegate) { delegate_ = delegate; }
    TextFieldDelegate* delegate() const { return delegate_; }
    // Number of characters (code points) of the text.
    std::size_t length() const;

    bool canBecomeFirstResponder() const override { return true; }
    void insertText(const std::string& text) override;
    void deleteBackward() override;
    void returnKey() override;
    void drawRect(const Rect& rect) override;
    void touchesEnded(const TouchSet& touches, const Event& event) override;
    void touchesBegan(const TouchSet& touches, const Event& event) override {}

private:
    std::string text_;
    std::string placeholder_;
    Font font_ = Font::systemFontOfSize(17.0);
    Color textColor_ = Color::blackColor();
    int returnKeyType_ = ReturnKeyDefault;
    TextFieldDelegate* delegate_ = nullptr;
};

}  // namespace quillon::ui
