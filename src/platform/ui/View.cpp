#include "quillon/ui/View.h"

#include "platform/runtime/RunLoop.h"
#include "platform/ui/ViewInternals.h"
#include "quillon/ui/GestureRecognizer.h"
#include "quillon/ui/GraphicsContext.h"
#include "quillon/ui/Image.h"
#include "quillon/ui/Timer.h"
#include "quillon/ui/ViewController.h"
#include "quillon/ui/Window.h"

#include <algorithm>
#include <cmath>

namespace quillon::ui {

// ------------------------------------------------------------------ animations

namespace detail {
namespace {

struct Recording {
    double duration = 0, delay = 0;
    std::vector<std::pair<std::weak_ptr<View>, std::pair<Property, Value>>> changes;
};

std::vector<Recording>& recordings() {
    static auto* r = new std::vector<Recording>;
    return *r;
}

std::vector<std::weak_ptr<View>>& animatedViews() {
    static auto* v = new std::vector<std::weak_ptr<View>>;
    return *v;
}

std::shared_ptr<Timer>& driver() {
    static auto* t = new std::shared_ptr<Timer>;
    return *t;
}

double ease(double t) { return t * t * (3 - 2 * t); }
double mix(double a, double b, double t) { return a + (b - a) * t; }

Value modelValue(const View& v, Property p) {
    Value value;
    switch (p) {
        case Property::Bounds: value.rect = v.bounds(); break;
        case Property::Center: value.point = v.center(); break;
        case Property::Alpha: value.scalar = v.alpha(); break;
        case Property::Background: value.color = v.backgroundColor(); break;
        case Property::Transform: value.transform = v.transform(); break;
    }
    return value;
}

Value interpolate(Property p, const Value& a, const Value& b, double t) {
    Value v = b;
    switch (p) {
        case Property::Bounds:
            v.rect = Rect(mix(a.rect.x(), b.rect.x(), t), mix(a.rect.y(), b.rect.y(), t),
                          mix(a.rect.width(), b.rect.width(), t), mix(a.rect.height(), b.rect.height(), t));
            break;
        case Property::Center: v.point = {mix(a.point.x, b.point.x, t), mix(a.point.y, b.point.y, t)}; break;
        case Property::Alpha: v.scalar = mix(a.scalar, b.scalar, t); break;
        case Property::Background:
            if (a.color.pattern || b.color.pattern) {
                v.color = t < 1 ? a.color : b.color;
            } else {
                v.color = Color(mix(a.color.red, b.color.red, t), mix(a.color.green, b.color.green, t),
                                mix(a.color.blue, b.color.blue, t), mix(a.color.alpha, b.color.alpha, t));
            }
            break;
        case Property::Transform:
            v.transform = {mix(a.transform.a, b.transform.a, t),   mix(a.transform.b, b.transform.b, t),
                           mix(a.transform.c, b.transform.c, t),   mix(a.transform.d, b.transform.d, t),
                           mix(a.transform.tx, b.transform.tx, t), mix(a.transform.ty, b.transform.ty, t)};
            break;
    }
    return v;
}

Value presentationValue(const View& v, Property p) {
    for (const auto& a : v.presentation().animations) {
        if (a.property != p) continue;
        double now = mediaTime();
        double t = a.duration <= 0 ? 1.0 : std::clamp((now - a.start) / a.duration, 0.0, 1.0);
        return interpolate(p, a.from, a.to, ease(t));
    }
    return modelValue(v, p);
}

void finishAnimation(Animation& a, bool finished) {
    if (!a.group) return;
    auto group = a.group;
    a.group.reset();
    if (!finished) group->finished = false;
    if (--group->remaining == 0 && group->completion) {
        auto completion = std::move(group->completion);
        bool done = group->finished;
        platform::RunLoop::main().perform([completion, done] { completion(done); });
    }
}

void tick() {
    double now = mediaTime();
    auto& views = animatedViews();
    std::vector<Animation> ended;
    for (auto it = views.begin(); it != views.end();) {
        auto view = it->lock();
        if (!view) {
            it = views.erase(it);
            continue;
        }
        auto& list = view->presentation().animations;
        for (auto a = list.begin(); a != list.end();) {
            if (now >= a->start + a->duration) {
                ended.push_back(std::move(*a));
                a = list.erase(a);
            } else {
                ++a;
            }
        }
        it = list.empty() ? views.erase(it) : it + 1;
    }
    for (auto& a : ended) finishAnimation(a, true);
    markScreenDirty();
    if (views.empty() && driver()) {
        driver()->invalidate();
        driver().reset();
    }
}

void startDriver() {
    if (driver()) return;
    driver() = Timer::scheduledTimer(1.0 / 60, true, [](Timer&) { tick(); });
}

void addAnimation(View& view, Animation animation) {
    auto& list = view.presentation().animations;
    for (auto a = list.begin(); a != list.end(); ++a) {
        if (a->property == animation.property) {
            finishAnimation(*a, false);
            list.erase(a);
            break;
        }
    }
    list.push_back(std::move(animation));
    auto& views = animatedViews();
    auto self = view.weak_from_this();
    bool known = std::any_of(views.begin(), views.end(), [&](const std::weak_ptr<View>& w) {
        return !w.owner_before(self) && !self.owner_before(w);
    });
    if (!known) views.push_back(self);
    startDriver();
}

}  // namespace

bool isRecordingAnimations() { return !recordings().empty(); }

void willChange(View& view, Property property) {
    auto& rec = recordings().back();
    for (auto& c : rec.changes) {
        if (c.first.lock().get() == &view && c.second.first == property) return;  // first value wins
    }
    rec.changes.push_back({view.weak_from_this(), {property, presentationValue(view, property)}});
}

void willSet(View& view, Property property) {
    if (isRecordingAnimations()) {
        willChange(view, property);
    } else {
        cancelAnimation(view, property);
    }
}

void cancelAnimation(View& view, Property property) {
    auto& list = view.presentation().animations;
    for (auto a = list.begin(); a != list.end(); ++a) {
        if (a->property == property) {
            finishAnimation(*a, false);
            list.erase(a);
            return;
        }
    }
}

}  // namespace detail

void View::animate(double duration, const std::function<void()>& animations, std::function<void(bool)> completion) {
    animate(duration, 0, animations, std::move(completion));
}

void View::animate(double duration, double delay, const std::function<void()>& animations,
                   std::function<void(bool)> completion) {
    using namespace detail;
    recordings().push_back(Recording{std::max(duration, 0.0), std::max(delay, 0.0), {}});
    if (animations) animations();
    Recording rec = std::move(recordings().back());
    recordings().pop_back();

    auto group = std::make_shared<AnimationGroup>();
    group->completion = std::move(completion);
    double start = mediaTime() + rec.delay;
    std::vector<std::pair<std::shared_ptr<View>, Animation>> added;
    for (auto& change : rec.changes) {
        auto view = change.first.lock();
        if (!view) continue;
        Animation a{change.second.first, change.second.second, modelValue(*view, change.second.first), start,
                    rec.duration, group};
        added.push_back({view, std::move(a)});
    }
    group->remaining = static_cast<int>(added.size());
    if (added.empty() || rec.duration + rec.delay <= 0) {
        // Nothing to animate: the completion still runs, at the next turn of the loop (after
        // the delay, when one was asked for).
        for (auto& [view, a] : added) a.group.reset();
        if (group->completion) {
            auto c = std::move(group->completion);
            platform::RunLoop::main().performAfter(rec.delay, [c] { c(true); });
        }
        markScreenDirty();
        return;
    }
    for (auto& [view, a] : added) addAnimation(*view, std::move(a));
    markScreenDirty();
}

Rect View::presentationFrame() const {
    Rect b = detail::presentationValue(*this, detail::Property::Bounds).rect;
    Point c = detail::presentationValue(*this, detail::Property::Center).point;
    return Rect(c.x - b.width() / 2, c.y - b.height() / 2, b.width(), b.height());
}

double View::presentationAlpha() const { return detail::presentationValue(*this, detail::Property::Alpha).scalar; }

// ------------------------------------------------------------------ rendering

namespace detail {
namespace {

void roundedRectPath(cairo_t* cr, const Rect& r, double radius) {
    radius = std::min({radius, r.width() / 2, r.height() / 2});
    if (radius <= 0) {
        cairo_rectangle(cr, r.x(), r.y(), r.width(), r.height());
        return;
    }
    double x0 = r.x(), y0 = r.y(), x1 = r.maxX(), y1 = r.maxY();
    cairo_new_sub_path(cr);
    cairo_arc(cr, x1 - radius, y0 + radius, radius, -M_PI / 2, 0);
    cairo_arc(cr, x1 - radius, y1 - radius, radius, 0, M_PI / 2);
    cairo_arc(cr, x0 + radius, y1 - radius, radius, M_PI / 2, M_PI);
    cairo_arc(cr, x0 + radius, y0 + radius, radius, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void setColorSource(cairo_t* cr, const Color& color, double alpha) {
    if (color.pattern && color.pattern->surface()) {
        cairo_pattern_t* pattern = cairo_pattern_create_for_surface(color.pattern->surface());
        cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
        cairo_matrix_t m;
        cairo_matrix_init_scale(&m, color.pattern->scale(), color.pattern->scale());
        cairo_pattern_set_matrix(pattern, &m);
        cairo_set_source(cr, pattern);
        cairo_pattern_destroy(pattern);
        return;
    }
    cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha * alpha);
}

// Records drawRect when the content is stale; false when the view draws nothing.
bool updateRecording(View& view, const Rect& bounds) {
    auto& p = view.presentation();
    if (p.contentValid) return p.recording != nullptr;
    p.contentValid = true;
    p.dropContent();
    if (bounds.isEmpty()) return false;
    cairo_rectangle_t extents{bounds.x(), bounds.y(), bounds.width(), bounds.height()};
    cairo_surface_t* recording = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, &extents);
    cairo_t* cr = cairo_create(recording);
    {
        GraphicsContext context(cr);
        GraphicsContext::push(&context);
        view.drawRect(bounds);
        GraphicsContext::pop();
    }
    cairo_destroy(cr);
    double x, y, w, h;
    cairo_recording_surface_ink_extents(recording, &x, &y, &w, &h);
    if (w <= 0 || h <= 0) {
        cairo_surface_destroy(recording);
        return false;
    }
    p.recording = recording;
    return true;
}

// The content as a bitmap at `scale` device pixels per point (made again when the scale
// changes).
cairo_surface_t* contentRaster(View& view, const Rect& bounds, double scale) {
    auto& p = view.presentation();
    if (p.raster && p.rasterScale == scale) return p.raster;
    if (p.raster) cairo_surface_destroy(p.raster);
    p.raster = nullptr;
    int w = static_cast<int>(std::ceil(bounds.width() * scale - 1e-6));
    int h = static_cast<int>(std::ceil(bounds.height() * scale - 1e-6));
    if (w <= 0 || h <= 0 || static_cast<double>(w) * h > 64.0 * 1024 * 1024) return nullptr;
    cairo_surface_t* raster = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(raster);
    cairo_scale(cr, scale, scale);
    cairo_set_source_surface(cr, p.recording, -bounds.x(), -bounds.y());
    cairo_paint(cr);
    cairo_destroy(cr);
    p.raster = raster;
    p.rasterScale = scale;
    return raster;
}

// Device pixels per point of `cr` (the larger axis, two decimals).
double deviceScale(cairo_t* cr) {
    double x1 = 1, y1 = 0, x2 = 0, y2 = 1;
    cairo_user_to_device_distance(cr, &x1, &y1);
    cairo_user_to_device_distance(cr, &x2, &y2);
    double s = std::max(std::hypot(x1, y1), std::hypot(x2, y2));
    return std::max(0.01, std::round(s * 100) / 100);
}

void paintContent(View& view, cairo_t* cr, const Rect& bounds, double alpha) {
    double scale = deviceScale(cr);
    cairo_surface_t* raster = contentRaster(view, bounds, scale);
    cairo_save(cr);
    if (raster) {
        cairo_translate(cr, bounds.x(), bounds.y());
        cairo_scale(cr, 1 / scale, 1 / scale);
        cairo_set_source_surface(cr, raster, 0, 0);
    } else {
        cairo_set_source_surface(cr, view.presentation().recording, 0, 0);
    }
    cairo_paint_with_alpha(cr, alpha);
    cairo_restore(cr);
}

}  // namespace

void render(View& view, cairo_t* cr, bool isRoot) {
    if (view.isHidden()) return;
    double alpha = std::clamp(view.presentationAlpha(), 0.0, 1.0);
    if (alpha <= 0.001) return;
    Rect bounds = presentationValue(view, Property::Bounds).rect;
    cairo_save(cr);
    if (!isRoot) {
        Point center = presentationValue(view, Property::Center).point;
        AffineTransform t = presentationValue(view, Property::Transform).transform;
        cairo_translate(cr, center.x, center.y);
        if (!t.isIdentity()) {
            cairo_matrix_t m;
            cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
            cairo_transform(cr, &m);
        }
        cairo_translate(cr, -bounds.width() / 2, -bounds.height() / 2);
    }
    cairo_translate(cr, -bounds.x(), -bounds.y());

    // A translucent view with subviews is drawn in a group so that its parts fade together.
    bool group = alpha < 0.999 && !view.subviews().empty();
    double partAlpha = group ? 1.0 : alpha;
    if (group) cairo_push_group(cr);

    const double radius = view.cornerRadius();
    Color background = presentationValue(view, Property::Background).color;
    if (!background.isClear()) {
        cairo_new_path(cr);
        roundedRectPath(cr, bounds, radius);
        setColorSource(cr, background, partAlpha);
        if (background.pattern && partAlpha < 1) {
            cairo_save(cr);
            cairo_clip(cr);
            cairo_paint_with_alpha(cr, partAlpha);
            cairo_restore(cr);
        } else {
            cairo_fill(cr);
        }
    }
    const bool hasContent = updateRecording(view, view.bounds());
    bool clips = view.clipsToBounds();
    if (hasContent || (clips && !view.subviews().empty())) {
        cairo_save(cr);
        cairo_new_path(cr);
        roundedRectPath(cr, bounds, clips ? radius : 0);
        cairo_clip(cr);
        if (hasContent) paintContent(view, cr, view.bounds(), partAlpha);
        if (!clips) cairo_restore(cr);
    }
    for (const auto& sub : view.subviews()) {
        if (group) {
            render(*sub, cr, false);
        } else {
            // Without a group the subviews carry this view's alpha themselves.
            if (alpha < 0.999) {
                cairo_push_group(cr);
                render(*sub, cr, false);
                cairo_pop_group_to_source(cr);
                cairo_paint_with_alpha(cr, alpha);
            } else {
                render(*sub, cr, false);
            }
        }
    }
    if (clips && (hasContent || !view.subviews().empty())) cairo_restore(cr);
    if (view.borderWidth() > 0 && !view.borderColor().isClear()) {
        double w = view.borderWidth();
        cairo_new_path(cr);
        roundedRectPath(cr, bounds.insetBy(w / 2, w / 2), std::max(0.0, radius - w / 2));
        setColorSource(cr, view.borderColor(), partAlpha);
        cairo_set_line_width(cr, w);
        cairo_stroke(cr);
    }
    if (group) {
        cairo_pop_group_to_source(cr);
        cairo_paint_with_alpha(cr, alpha);
    }
    cairo_restore(cr);
}

void layoutTree(View& view) {
    view.layoutIfNeeded();
    // Copy: layout may change the subviews.
    auto subviews = view.subviews();
    for (const auto& sub : subviews) layoutTree(*sub);
}

}  // namespace detail

// ------------------------------------------------------------------ the view

View::View(const Rect& frame) : presentation_(std::make_unique<Presentation>()) {
    bounds_ = Rect(0, 0, frame.width(), frame.height());
    center_ = frame.center();
}

View::~View() {
    for (auto& r : recognizers_) r->setViewInternal(nullptr);
    for (auto& sub : subviews_) sub->superview_ = nullptr;
}

Rect View::frame() const {
    if (transform_.isIdentity()) {
        return Rect(center_.x - bounds_.width() / 2, center_.y - bounds_.height() / 2, bounds_.width(),
                    bounds_.height());
    }
    double w = bounds_.width() / 2, h = bounds_.height() / 2;
    Point corners[4] = {{-w, -h}, {w, -h}, {w, h}, {-w, h}};
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (auto& c : corners) {
        Point p = transform_.apply(c);
        x0 = std::min(x0, p.x), y0 = std::min(y0, p.y), x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
    }
    return Rect(center_.x + x0, center_.y + y0, x1 - x0, y1 - y0);
}

void View::setFrame(const Rect& frame) {
    Rect b = bounds_;
    b.size = frame.size;
    setCenter(frame.center());
    setBounds(b);
}

void View::setBounds(const Rect& bounds) {
    if (bounds == bounds_) return;
    detail::willSet(*this, detail::Property::Bounds);
    Size old = bounds_.size;
    if (!(bounds.origin == bounds_.origin)) presentation_->contentValid = false;  // scrolled: new content area
    bounds_ = bounds;
    if (!(old == bounds.size)) boundsSizeChanged(old);
    detail::markScreenDirty();
}

void View::boundsSizeChanged(Size oldSize) {
    presentation_->contentValid = false;  // the content is redrawn at the new size
    if (autoresizesSubviews_) resizeSubviewsWithOldSize(oldSize);
    setNeedsLayout();
}

void View::setCenter(Point center) {
    if (center == center_) return;
    detail::willSet(*this, detail::Property::Center);
    center_ = center;
    detail::markScreenDirty();
}

void View::setTransform(const AffineTransform& transform) {
    if (transform == transform_) return;
    detail::willSet(*this, detail::Property::Transform);
    transform_ = transform;
    detail::markScreenDirty();
}

void View::resizeSubviewsWithOldSize(Size oldSize) {
    Size newSize = bounds_.size;
    for (auto& sub : subviews_) {
        unsigned m = sub->autoresizingMask_;
        if (m == AutoresizingNone) continue;
        Rect f = sub->frame();
        // Each axis: the change is shared by the flexible parts in proportion to their sizes
        // (equally when they are all zero).
        auto share = [](double delta, double before, double size, double after, bool fb, bool fs, bool fa,
                        double& outBefore, double& outSize) {
            double total = (fb ? before : 0) + (fs ? size : 0) + (fa ? after : 0);
            int count = fb + fs + fa;
            outBefore = before, outSize = size;
            if (count == 0) return;
            auto part = [&](double v) { return total > 0 ? delta * v / total : delta / count; };
            if (fb) outBefore += part(before);
            if (fs) outSize += part(size);
        };
        double x, w, y, h;
        share(newSize.width - oldSize.width, f.x(), f.width(), oldSize.width - f.maxX(),
              m & AutoresizingFlexibleLeftMargin, m & AutoresizingFlexibleWidth, m & AutoresizingFlexibleRightMargin,
              x, w);
        share(newSize.height - oldSize.height, f.y(), f.height(), oldSize.height - f.maxY(),
              m & AutoresizingFlexibleTopMargin, m & AutoresizingFlexibleHeight, m & AutoresizingFlexibleBottomMargin,
              y, h);
        sub->setFrame(Rect(x, y, std::max(0.0, w), std::max(0.0, h)));
    }
}

void View::addSubview(std::shared_ptr<View> view) { insertSubview(std::move(view), subviews_.size()); }

void View::insertSubview(std::shared_ptr<View> view, std::size_t index) {
    if (!view || view.get() == this || isDescendantOfView(view.get())) return;
    if (view->superview_ == this) {
        auto it = std::find(subviews_.begin(), subviews_.end(), view);
        std::size_t current = static_cast<std::size_t>(it - subviews_.begin());
        subviews_.erase(it);
        if (index > current) --index;
        subviews_.insert(subviews_.begin() + static_cast<long>(std::min(index, subviews_.size())), view);
        detail::markScreenDirty();
        return;
    }
    view->removeFromSuperview();
    subviews_.insert(subviews_.begin() + static_cast<long>(std::min(index, subviews_.size())), view);
    view->superview_ = this;
    view->setWindowRecursive(window());
    view->didMoveToSuperview();
    detail::markScreenDirty();
}

void View::insertSubviewBelow(std::shared_ptr<View> view, const View* sibling) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](auto& s) { return s.get() == sibling; });
    insertSubview(std::move(view), static_cast<std::size_t>(it - subviews_.begin()));
}

void View::insertSubviewAbove(std::shared_ptr<View> view, const View* sibling) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](auto& s) { return s.get() == sibling; });
    std::size_t index = it == subviews_.end() ? subviews_.size() : static_cast<std::size_t>(it - subviews_.begin()) + 1;
    insertSubview(std::move(view), index);
}

void View::removeFromSuperview() {
    View* parent = superview_;
    if (!parent) return;
    auto self = shared_from_this();  // keeps this view alive until we are done (the parent owns it)
    if (auto w = window()) {
        auto responder = w->firstResponder();
        if (responder && (responder.get() == this || responder->isDescendantOfView(this))) responder->resignFirstResponder();
    }
    auto& list = parent->subviews_;
    list.erase(std::remove(list.begin(), list.end(), self), list.end());
    superview_ = nullptr;
    setWindowRecursive(nullptr);
    didMoveToSuperview();
    detail::markScreenDirty();
}

void View::bringSubviewToFront(const View* view) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](auto& s) { return s.get() == view; });
    if (it == subviews_.end()) return;
    auto keep = *it;
    subviews_.erase(it);
    subviews_.push_back(keep);
    detail::markScreenDirty();
}

void View::sendSubviewToBack(const View* view) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](auto& s) { return s.get() == view; });
    if (it == subviews_.end()) return;
    auto keep = *it;
    subviews_.erase(it);
    subviews_.insert(subviews_.begin(), keep);
    detail::markScreenDirty();
}

bool View::isDescendantOfView(const View* view) const {
    for (const View* v = this; v; v = v->superview_) {
        if (v == view) return true;
    }
    return false;
}

std::shared_ptr<Window> View::window() const {
    const View* top = this;
    while (top->superview_) top = top->superview_;
    auto* window = dynamic_cast<const Window*>(top);
    if (!window) return nullptr;
    return std::static_pointer_cast<Window>(const_cast<Window*>(window)->weak_from_this().lock());
}

void View::setWindowRecursive(const std::shared_ptr<Window>& window) {
    auto old = window_.lock();
    if (old == window) return;
    window_ = window;
    if (window) {
        presentation_->contentValid = false;
        needsLayout_ = true;
    }
    for (auto& sub : subviews_) sub->setWindowRecursive(window);
    didMoveToWindow();
}

std::shared_ptr<View> View::viewWithTag(std::int64_t tag) {
    if (tag_ == tag) return shared_from_this();
    for (auto& sub : subviews_) {
        if (auto found = sub->viewWithTag(tag)) return found;
    }
    return nullptr;
}

std::shared_ptr<ViewController> View::viewController() const { return viewController_.lock(); }

void View::setBackgroundColor(const Color& color) {
    if (color == backgroundColor_) return;
    detail::willSet(*this, detail::Property::Background);
    backgroundColor_ = color;
    detail::markScreenDirty();
}

void View::setHidden(bool hidden) {
    if (hidden == hidden_) return;
    hidden_ = hidden;
    detail::markScreenDirty();
}

void View::setAlpha(double alpha) {
    alpha = std::clamp(alpha, 0.0, 1.0);
    if (alpha == alpha_) return;
    detail::willSet(*this, detail::Property::Alpha);
    alpha_ = alpha;
    detail::markScreenDirty();
}

void View::setOpaque(bool opaque) { opaque_ = opaque; }
void View::setClipsToBounds(bool clips) {
    clipsToBounds_ = clips;
    detail::markScreenDirty();
}
void View::setCornerRadius(double radius) {
    cornerRadius_ = std::max(0.0, radius);
    detail::markScreenDirty();
}
void View::setBorderWidth(double width) {
    borderWidth_ = std::max(0.0, width);
    detail::markScreenDirty();
}
void View::setBorderColor(const Color& color) {
    borderColor_ = color;
    detail::markScreenDirty();
}
void View::setContentMode(ContentMode mode) {
    contentMode_ = mode;
    setNeedsDisplay();
}

void View::setNeedsDisplay() {
    presentation_->contentValid = false;
    detail::markScreenDirty();
}
void View::setNeedsDisplayInRect(const Rect&) { setNeedsDisplay(); }
void View::invalidateDisplay() { setNeedsDisplay(); }

void View::drawRect(const Rect&) {}

void View::renderInContext(GraphicsContext& context) {
    detail::layoutTree(*this);
    detail::render(*this, context.cairo(), true);
}

void View::setNeedsLayout() {
    needsLayout_ = true;
    detail::markScreenDirty();
}

void View::layoutIfNeeded() {
    if (!needsLayout_) return;
    needsLayout_ = false;
    layoutSubviews();
}

void View::layoutSubviews() {}

Size View::sizeThatFits(Size) const { return bounds_.size; }

void View::sizeToFit() {
    Size s = sizeThatFits(bounds_.size);
    Rect f = frame();
    setFrame(Rect(f.origin, s));
}

// Coordinates: a point of this view's system in its superview's, and back (model values).
namespace {
Point toSuperview(const View& v, Point p) {
    Rect b = v.bounds();
    Point q{p.x - b.x() - b.width() / 2, p.y - b.y() - b.height() / 2};
    q = v.transform().apply(q);
    return {v.center().x + q.x, v.center().y + q.y};
}

Point fromSuperview(const View& v, Point p) {
    Rect b = v.bounds();
    Point q{p.x - v.center().x, p.y - v.center().y};
    AffineTransform t = v.transform();
    if (!t.isIdentity()) {
        double det = t.a * t.d - t.b * t.c;
        if (det == 0) return {NAN, NAN};
        double x = q.x - t.tx, y = q.y - t.ty;
        q = {(t.d * x - t.c * y) / det, (-t.b * x + t.a * y) / det};
    }
    return {q.x + b.x() + b.width() / 2, q.y + b.y() + b.height() / 2};
}

// The point in the coordinates of the tree's root (the window).
Point toRoot(const View* v, Point p) {
    while (v && v->superview()) {
        p = toSuperview(*v, p);
        v = v->superview().get();
    }
    return p;
}

Point fromRoot(const View* v, Point p) {
    std::vector<const View*> chain;
    for (const View* x = v; x && x->superview(); x = x->superview().get()) chain.push_back(x);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) p = fromSuperview(**it, p);
    return p;
}
}  // namespace

Point View::convertPointToView(Point point, const View* view) const {
    Point root = toRoot(this, point);
    return view ? fromRoot(view, root) : root;
}

Point View::convertPointFromView(Point point, const View* view) const {
    Point root = view ? toRoot(view, point) : point;
    return fromRoot(this, root);
}

Rect View::convertRectToView(const Rect& rect, const View* view) const {
    Point a = convertPointToView(rect.origin, view);
    Point b = convertPointToView({rect.maxX(), rect.maxY()}, view);
    return Rect(std::min(a.x, b.x), std::min(a.y, b.y), std::fabs(b.x - a.x), std::fabs(b.y - a.y));
}

Rect View::convertRectFromView(const Rect& rect, const View* view) const {
    Point a = convertPointFromView(rect.origin, view);
    Point b = convertPointFromView({rect.maxX(), rect.maxY()}, view);
    return Rect(std::min(a.x, b.x), std::min(a.y, b.y), std::fabs(b.x - a.x), std::fabs(b.y - a.y));
}

bool View::pointInside(Point point) const { return bounds_.contains(point); }

std::shared_ptr<View> View::hitTest(Point point) {
    if (hidden_ || !userInteractionEnabled_ || alpha_ < 0.01) return nullptr;
    if (!pointInside(point)) return nullptr;
    for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
        auto sub = *it;  // a copy: hit tests may not change the tree, but be safe
        if (auto hit = sub->hitTest(fromSuperview(*sub, point))) return hit;
    }
    return shared_from_this();
}

void View::touchesBegan(const TouchSet& touches, const Event& event) {
    if (auto parent = superview()) parent->touchesBegan(touches, event);
}
void View::touchesMoved(const TouchSet& touches, const Event& event) {
    if (auto parent = superview()) parent->touchesMoved(touches, event);
}
void View::touchesEnded(const TouchSet& touches, const Event& event) {
    if (auto parent = superview()) parent->touchesEnded(touches, event);
}
void View::touchesCancelled(const TouchSet& touches, const Event& event) {
    if (auto parent = superview()) parent->touchesCancelled(touches, event);
}

void View::addGestureRecognizer(std::shared_ptr<GestureRecognizer> recognizer) {
    if (!recognizer) return;
    if (std::find(recognizers_.begin(), recognizers_.end(), recognizer) != recognizers_.end()) return;
    if (auto other = recognizer->view()) other->removeGestureRecognizer(recognizer);
    recognizer->setViewInternal(this);
    recognizers_.push_back(std::move(recognizer));
}

void View::removeGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer) {
    auto it = std::find(recognizers_.begin(), recognizers_.end(), recognizer);
    if (it == recognizers_.end()) return;
    (*it)->setViewInternal(nullptr);
    recognizers_.erase(it);
}

bool View::becomeFirstResponder() {
    if (!canBecomeFirstResponder()) return false;
    auto w = window();
    if (!w) return false;
    auto current = w->firstResponder();
    if (current.get() == this) return true;
    if (current && !current->resignFirstResponder()) return false;
    w->setFirstResponderInternal(shared_from_this());
    didBecomeFirstResponder();
    setNeedsDisplay();
    return true;
}

bool View::resignFirstResponder() {
    auto w = window();
    if (!w || w->firstResponder().get() != this) return true;
    w->setFirstResponderInternal(nullptr);
    didResignFirstResponder();
    setNeedsDisplay();
    return true;
}

bool View::isFirstResponder() const {
    auto w = window();
    return w && w->firstResponder().get() == this;
}

void View::insertText(const std::string&) {}
void View::deleteBackward() {}
void View::returnKey() {}
void View::arrowKey(ArrowKey) {}

}  // namespace quillon::ui
