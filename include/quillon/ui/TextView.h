// A multi-line editable text. Return inserts a line break (after the delegate allowed it).
// Every change made by typing posts TextViewTextDidChangeNotification with the text view as
// the object (setText posts nothing, as on the platform).
//
// The text wraps at the view's width (between words, and inside a word too long for a line)
// and scrolls vertically: typing and caret moves scroll to keep the caret in view, and a
// drag scrolls the text. Typing inserts at the caret and Backspace erases before it; the
// arrow keys move the caret (Up on the first line goes to the start, Down on the last to the
// end) and a tap places it at the character tapped.
#pragma once

#include "quillon/ui/GraphicsContext.h"
#include "quillon/ui/View.h"

#include <optional>
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

    // The caret as a character (code point) index; setText puts it at the end.
    std::size_t caretPosition() const { return caret_; }
    void setCaretPosition(std::size_t position);
    // Where the caret is drawn, in the view's coordinates (after scrolling).
    Rect caretRect() const;
    // The scrolled text: the whole text's size with the insets, and how far its top is
    // scrolled above the view's top (x is always 0; y within 0 ... content height - height).
    Size contentSize() const;
    Point contentOffset() const;
    void setContentOffset(Point offset);
    // Scrolls the least that brings the caret into view.
    void scrollCaretToVisible();

    bool canBecomeFirstResponder() const override { return editable_; }
    void insertText(const std::string& text) override;
    void deleteBackward() override;
    void returnKey() override;
    void arrowKey(ArrowKey key) override;
    void drawRect(const Rect& rect) override;
    void touchesBegan(const TouchSet& touches, const Event& event) override;
    void touchesMoved(const TouchSet& touches, const Event& event) override;
    void touchesEnded(const TouchSet& touches, const Event& event) override;

private:
    // False when the delegate refused the change.
    bool replace(Range range, const std::string& replacement);
    // The caret index nearest a point in the text's own coordinates (unscrolled, inset removed).
    std::size_t positionAt(Point point) const;
    std::string text_;
    std::size_t caret_ = 0;
    double offset_ = 0;
    std::optional<double> caretGoalX_;  // kept over successive Up and Down
    double dragged_ = 0;                 // distance the current touch moved

    Font font_ = Font::systemFontOfSize(12.0);
    Color textColor_ = Color::blackColor();
    int returnKeyType_ = 0;
    bool editable_ = true;
    EdgeInsets inset_{8, 5, 8, 5};
    TextViewDelegate* delegate_ = nullptr;
};

}  // namespace quillon::ui
