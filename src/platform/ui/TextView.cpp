#include "quillon/ui/TextView.h"

#include "platform/runtime/NotificationCenter.h"
#include "platform/ui/Text.h"
#include "platform/ui/Utf8.h"
#include "quillon/ui/Event.h"

#include <algorithm>
#include <cmath>

namespace quillon::ui {

const char* const TextViewTextDidChangeNotification = "UITextViewTextDidChangeNotification";

namespace {

// A touch that moves further than this scrolls; a shorter one is a tap.
constexpr double kDragDistance = 6.0;
constexpr double kCaretWidth = 2.0;

TextAttributes attributesOf(const TextView& view) {
    TextAttributes attributes;
    attributes.font = view.font();
    attributes.color = view.textColor();
    attributes.lineBreakMode = LineBreakMode::WordWrap;
    return attributes;
}

// The area the text wraps in, in the view's coordinates before scrolling.
Rect textArea(const TextView& view) {
    Rect b = view.bounds();
    EdgeInsets inset = view.textContainerInset();
    return Rect(b.x() + inset.left, b.y() + inset.top, std::max(b.width() - inset.left - inset.right, 1.0),
                std::max(b.height() - inset.top - inset.bottom, 0.0));
}

// The text laid out as drawText lays it out (measuring context, same wrapping).
struct Layout {
    explicit Layout(const TextView& view)
        : layout(text::makeLayout(nullptr, view.text(), attributesOf(view), textArea(view).width())) {}
    ~Layout() { g_object_unref(layout); }
    Layout(const Layout&) = delete;
    Layout& operator=(const Layout&) = delete;
    PangoLayout* layout;
};

double points(int pangoUnits) { return static_cast<double>(pangoUnits) / PANGO_SCALE; }

}  // namespace

TextView::TextView(const Rect& frame) : View(frame) {
    setBackgroundColor(Color::whiteColor());
    setClipsToBounds(true);
}

void TextView::setText(const std::string& text) {
    text_ = text;
    caret_ = length();
    caretGoalX_.reset();
    if (isFirstResponder()) {
        scrollCaretToVisible();
    } else {
        setContentOffset(contentOffset());
    }
    setNeedsDisplay();
}

void TextView::setFont(const Font& font) {
    font_ = font;
    setContentOffset(contentOffset());
    setNeedsDisplay();
}

void TextView::setTextColor(const Color& color) {
    textColor_ = color;
    setNeedsDisplay();
}

std::size_t TextView::length() const { return utf8::length(text_); }

void TextView::setCaretPosition(std::size_t position) {
    caret_ = std::min(position, length());
    caretGoalX_.reset();
    scrollCaretToVisible();
    setNeedsDisplay();
}

Size TextView::contentSize() const {
    Layout layout(*this);
    Size text = text::layoutSize(layout.layout);
    return {bounds().width(), inset_.top + std::max(text.height, font_.lineHeight()) + inset_.bottom};
}

Point TextView::contentOffset() const { return {0, offset_}; }

void TextView::setContentOffset(Point offset) {
    double most = std::max(contentSize().height - bounds().height(), 0.0);
    double y = std::clamp(offset.y, 0.0, most);
    if (y == offset_) return;
    offset_ = y;
    setNeedsDisplay();
}

Rect TextView::caretRect() const {
    Layout layout(*this);
    PangoRectangle strong;
    pango_layout_get_cursor_pos(layout.layout, static_cast<int>(utf8::offset(text_, caret_)), &strong, nullptr);
    Rect area = textArea(*this);
    double x = std::min(points(strong.x), area.width() - kCaretWidth);
    double height = strong.height > 0 ? points(strong.height) : font_.lineHeight();
    return Rect(area.x() + std::max(x, 0.0), area.y() + points(strong.y) - offset_, kCaretWidth, height);
}

void TextView::scrollCaretToVisible() {
    Rect caret = caretRect();
    Rect b = bounds();
    double y = offset_;
    if (caret.maxY() + inset_.bottom > b.maxY()) y += caret.maxY() + inset_.bottom - b.maxY();
    if (caret.y() - inset_.top < b.y()) y -= b.y() - (caret.y() - inset_.top);
    setContentOffset(Point{0, y});
}

std::size_t TextView::positionAt(Point point) const {
    Layout layout(*this);
    int index = 0, trailing = 0;
    pango_layout_xy_to_index(layout.layout, static_cast<int>(point.x * PANGO_SCALE),
                             static_cast<int>(point.y * PANGO_SCALE), &index, &trailing);
    std::size_t position = utf8::length(text_.substr(0, static_cast<std::size_t>(std::max(index, 0))));
    return std::min(position + static_cast<std::size_t>(std::max(trailing, 0)), length());
}

bool TextView::replace(Range range, const std::string& replacement) {
    if (delegate_ && !delegate_->textViewShouldChangeTextInRange(*this, range, replacement)) return false;
    std::size_t from = utf8::offset(text_, range.location);
    std::size_t to = utf8::offset(text_, range.location + range.length);
    text_.replace(from, to - from, replacement);
    caret_ = range.location + utf8::length(replacement);
    caretGoalX_.reset();
    scrollCaretToVisible();
    setNeedsDisplay();
    platform::Notification n;
    n.name = TextViewTextDidChangeNotification;
    n.object = this;
    platform::NotificationCenter::defaultCenter().post(n);
    if (delegate_) delegate_->textViewDidChange(*this);
    return true;
}

void TextView::insertText(const std::string& text) {
    if (!editable_ || text.empty()) return;
    replace(Range{std::min(caret_, length()), 0}, text);
}

void TextView::deleteBackward() {
    std::size_t at = std::min(caret_, length());
    if (!editable_ || at == 0) return;
    replace(Range{at - 1, 1}, "");
}

void TextView::returnKey() { insertText("\n"); }

void TextView::arrowKey(ArrowKey key) {
    std::size_t at = std::min(caret_, length());
    if (key == ArrowKey::Left || key == ArrowKey::Right) {
        setCaretPosition(key == ArrowKey::Left ? (at > 0 ? at - 1 : 0) : at + 1);
        return;
    }
    // Up and Down keep the column the first of them started from.
    Rect caret = caretRect();
    Rect area = textArea(*this);
    double goal = caretGoalX_.value_or(caret.x() - area.x());
    double y = caret.y() + offset_ - area.y() + (key == ArrowKey::Up ? -caret.height() / 2 : caret.height() * 1.5);
    std::size_t position;
    if (y < 0) {
        position = 0;
    } else if (y >= contentSize().height - inset_.top - inset_.bottom) {
        position = length();
    } else {
        position = positionAt(Point{goal, y});
    }
    setCaretPosition(position);
    caretGoalX_ = goal;
}

void TextView::touchesBegan(const TouchSet&, const Event&) { dragged_ = 0; }

void TextView::touchesMoved(const TouchSet& touches, const Event&) {
    if (touches.empty()) return;
    Point now = touches.front()->locationInView(this), before = touches.front()->previousLocationInView(this);
    dragged_ += std::hypot(now.x - before.x, now.y - before.y);
    if (dragged_ > kDragDistance) setContentOffset(Point{0, offset_ - (now.y - before.y)});
}

void TextView::touchesEnded(const TouchSet& touches, const Event&) {
    if (dragged_ > kDragDistance) return;
    becomeFirstResponder();
    if (touches.empty()) return;
    Point at = touches.front()->locationInView(this);
    Rect area = textArea(*this);
    setCaretPosition(positionAt(Point{at.x - area.x(), at.y - area.y() + offset_}));
}

void TextView::drawRect(const Rect&) {
    auto* context = GraphicsContext::current();
    if (!context) return;
    Rect b = bounds();
    Rect area = textArea(*this);
    context->saveGState();
    context->clipToRect(b);
    context->drawText(text_, Rect(area.x(), area.y() - offset_, area.width(), area.height() + offset_),
                      attributesOf(*this));
    if (isFirstResponder()) {
        context->setFillColor(Color(0.0, 0.478, 1.0, 1.0));
        context->fillRect(caretRect());
    }
    context->restoreGState();
}

}  // namespace quillon::ui
