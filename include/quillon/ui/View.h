// Views: a retained tree of rectangles that draw themselves, take touches and animate.
//
// A view is created from its frame (in its superview's coordinates) and held by
// std::shared_ptr; its superview keeps its subviews. Only the main thread touches views.
// Drawing: the display pass calls drawRect for views whose content is stale (after
// setNeedsDisplay, or a size change) and composites every visible view back to front.
#pragma once

#include "quillon/ui/Color.h"
#include "quillon/ui/Event.h"
#include "quillon/ui/Export.h"
#include "quillon/ui/Geometry.h"
#include "quillon/ui/Object.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillon::ui {

class GestureRecognizer;
class GraphicsContext;
class Window;
class ViewController;

// Autoresizing: which margins and dimensions follow a change of the superview's size.
enum AutoresizingMask : unsigned {
    AutoresizingNone = 0,
    AutoresizingFlexibleLeftMargin = 1,
    AutoresizingFlexibleWidth = 2,
    AutoresizingFlexibleRightMargin = 4,
    AutoresizingFlexibleTopMargin = 8,
    AutoresizingFlexibleHeight = 16,
    AutoresizingFlexibleBottomMargin = 32,
};

enum class ContentMode { ScaleToFill = 0, ScaleAspectFit = 1, ScaleAspectFill = 2, Center = 4, TopLeft = 7 };

class QUILLON_UI_EXPORT View : public Object, public std::enable_shared_from_this<View> {
public:
    explicit View(const Rect& frame = Rect());
    ~View() override;
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    // Geometry. The frame is in the superview's coordinates; the bounds' origin is the
    // coordinate of the view's top-left corner in its own system (0, 0 unless scrolled).
    Rect frame() const;
    virtual void setFrame(const Rect& frame);
    Rect bounds() const { return bounds_; }
    virtual void setBounds(const Rect& bounds);
    Point center() const { return center_; }
    void setCenter(Point center);
    AffineTransform transform() const { return transform_; }
    void setTransform(const AffineTransform& transform);
    unsigned autoresizingMask() const { return autoresizingMask_; }
    void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
    bool autoresizesSubviews() const { return autoresizesSubviews_; }
    void setAutoresizesSubviews(bool on) { autoresizesSubviews_ = on; }

    // The tree.
    std::shared_ptr<View> superview() const { return superview_ ? superview_->weak_from_this().lock() : nullptr; }
    const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
    void addSubview(std::shared_ptr<View> view);
    void insertSubview(std::shared_ptr<View> view, std::size_t index);
    void insertSubviewBelow(std::shared_ptr<View> view, const View* sibling);
    void insertSubviewAbove(std::shared_ptr<View> view, const View* sibling);
    void removeFromSuperview();
    void bringSubviewToFront(const View* view);
    void sendSubviewToBack(const View* view);
    bool isDescendantOfView(const View* view) const;
    // The window the view is in, or null.
    std::shared_ptr<Window> window() const;
    // This view or the first descendant (depth first) with the tag; null when none.
    std::shared_ptr<View> viewWithTag(std::int64_t tag);
    // The view controller whose root view this is, if any.
    std::shared_ptr<ViewController> viewController() const;

    // Appearance.
    Color backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(const Color& color);
    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden);
    double alpha() const { return alpha_; }
    void setAlpha(double alpha);
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool opaque);
    bool clipsToBounds() const { return clipsToBounds_; }
    void setClipsToBounds(bool clips);
    // The layer's rounded corners and border (the corner radius also clips the background,
    // and the content when clipsToBounds is on).
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius);
    double borderWidth() const { return borderWidth_; }
    void setBorderWidth(double width);
    Color borderColor() const { return borderColor_; }
    void setBorderColor(const Color& color);
    ContentMode contentMode() const { return contentMode_; }
    void setContentMode(ContentMode mode);
    std::int64_t tag() const { return tag_; }
    void setTag(std::int64_t tag) { tag_ = tag; }

    // Drawing.
    void setNeedsDisplay();
    void setNeedsDisplayInRect(const Rect& rect);
    // Draws the view's content in its own coordinates into the current context.
    virtual void drawRect(const Rect& rect);
    // Renders the view and its subviews (as they are presented now, animations included)
    // into `context`, the view's bounds origin at the context's origin (the layer's
    // render-in-context).
    void renderInContext(GraphicsContext& context);

    // Layout.
    void setNeedsLayout();
    void layoutIfNeeded();
    virtual void layoutSubviews();
    virtual Size sizeThatFits(Size size) const;
    void sizeToFit();

    // Coordinates.
    Point convertPointToView(Point point, const View* view) const;    // view null: the window
    Point convertPointFromView(Point point, const View* view) const;  // view null: the window
    Rect convertRectToView(const Rect& rect, const View* view) const;
    Rect convertRectFromView(const Rect& rect, const View* view) const;

    // Touches. hitTest returns the deepest visible, interactive descendant containing the
    // point (in this view's coordinates), or null.
    virtual std::shared_ptr<View> hitTest(Point point);
    virtual bool pointInside(Point point) const;
    bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
    void setUserInteractionEnabled(bool enabled) { userInteractionEnabled_ = enabled; }
    bool isMultipleTouchEnabled() const { return multipleTouchEnabled_; }
    void setMultipleTouchEnabled(bool enabled) { multipleTouchEnabled_ = enabled; }
    // The defaults pass the touches on to the superview (the next responder).
    virtual void touchesBegan(const TouchSet& touches, const Event& event);
    virtual void touchesMoved(const TouchSet& touches, const Event& event);
    virtual void touchesEnded(const TouchSet& touches, const Event& event);
    virtual void touchesCancelled(const TouchSet& touches, const Event& event);

    // Gesture recognisers attached to this view.
    void addGestureRecognizer(std::shared_ptr<GestureRecognizer> recognizer);
    void removeGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer);
    const std::vector<std::shared_ptr<GestureRecognizer>>& gestureRecognizers() const { return recognizers_; }

    // The responder: keyboard text goes to the window's first responder.
    virtual bool canBecomeFirstResponder() const { return false; }
    bool becomeFirstResponder();
    bool resignFirstResponder();
    bool isFirstResponder() const;
    // Keyboard input on the first responder (the defaults do nothing).
    virtual void insertText(const std::string& text);
    virtual void deleteBackward();
    virtual void returnKey();
    virtual void arrowKey(ArrowKey key);

    // Animations: property changes made inside `animations` (frame, bounds, center, alpha,
    // background colour, transform) move from their old to their new values over `duration`
    // seconds; the properties read their new values at once. `completion` runs on the main
    // loop when the animation ends (finished false when a later one replaced it).
    static void animate(double duration, const std::function<void()>& animations,
                        std::function<void(bool finished)> completion = {});
    static void animate(double duration, double delay, const std::function<void()>& animations,
                        std::function<void(bool finished)> completion = {});
    // The values as the screen shows them now (mid-animation values while one runs).
    Rect presentationFrame() const;
    double presentationAlpha() const;

    // Internal: the display machinery.
    struct Presentation;
    Presentation& presentation() const { return *presentation_; }
    void setViewControllerInternal(const std::shared_ptr<ViewController>& vc) { viewController_ = vc; }

protected:
    // Called when the view moved to another window or superview.
    virtual void didMoveToWindow() {}
    // Called after the view became or stopped being the first responder.
    virtual void didBecomeFirstResponder() {}
    virtual void didResignFirstResponder() {}
    virtual void didMoveToSuperview() {}
    virtual void boundsSizeChanged(Size oldSize);

private:
    friend class Window;
    void setWindowRecursive(const std::shared_ptr<Window>& window);
    void resizeSubviewsWithOldSize(Size oldSize);
    void invalidateDisplay();

    Rect bounds_;
    Point center_;
    AffineTransform transform_;
    View* superview_ = nullptr;  // the superview owns this view; it clears the link when it goes
    std::weak_ptr<Window> window_;
    std::weak_ptr<ViewController> viewController_;
    std::vector<std::shared_ptr<View>> subviews_;
    std::vector<std::shared_ptr<GestureRecognizer>> recognizers_;
    Color backgroundColor_ = Color::clearColor();
    Color borderColor_ = Color::blackColor();
    double alpha_ = 1.0;
    double cornerRadius_ = 0;
    double borderWidth_ = 0;
    std::int64_t tag_ = 0;
    unsigned autoresizingMask_ = AutoresizingNone;
    ContentMode contentMode_ = ContentMode::ScaleToFill;
    bool hidden_ = false;
    bool opaque_ = true;
    bool clipsToBounds_ = false;
    bool userInteractionEnabled_ = true;
    bool multipleTouchEnabled_ = false;
    bool autoresizesSubviews_ = true;
    bool needsLayout_ = true;
    std::unique_ptr<Presentation> presentation_;
};

}  // namespace quillon::ui
