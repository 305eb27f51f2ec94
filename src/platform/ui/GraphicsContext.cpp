#include "quillon/ui/GraphicsContext.h"

#include "platform/ui/Text.h"
#include "quillon/ui/Image.h"
#include "quillon/ui/Screen.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

namespace quillon::ui {

// ------------------------------------------------------------------ text

namespace text {
namespace {

const cairo_font_options_t* fontOptions() {
    // Unhinted outlines and metrics: text looks and measures the same at every scale and on
    // every back end.
    static cairo_font_options_t* options = [] {
        cairo_font_options_t* o = cairo_font_options_create();
        cairo_font_options_set_antialias(o, CAIRO_ANTIALIAS_GRAY);
        cairo_font_options_set_hint_style(o, CAIRO_HINT_STYLE_NONE);
        cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_OFF);
        return o;
    }();
    return options;
}

PangoFontDescription* describe(const Font& font) {
    PangoFontDescription* d = pango_font_description_new();
    pango_font_description_set_family(d, font.family.empty() ? kSystemFamilies : font.family.c_str());
    pango_font_description_set_absolute_size(d, font.pointSize * PANGO_SCALE);
    pango_font_description_set_weight(d, font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    return d;
}

PangoContext* measuringContext() {
    thread_local PangoContext* context = [] {
        PangoFontMap* map = pango_cairo_font_map_get_default();
        PangoContext* c = pango_font_map_create_context(map);
        pango_cairo_context_set_font_options(c, fontOptions());
        pango_context_set_round_glyph_positions(c, FALSE);
        return c;
    }();
    return context;
}

}  // namespace

PangoLayout* makeLayout(cairo_t* cr, const std::string& str, const TextAttributes& attributes, double width) {
    PangoLayout* layout;
    if (cr) {
        PangoContext* context = pango_cairo_create_context(cr);
        pango_cairo_context_set_font_options(context, fontOptions());
        pango_context_set_round_glyph_positions(context, FALSE);
        layout = pango_layout_new(context);
        g_object_unref(context);
    } else {
        layout = pango_layout_new(measuringContext());
    }
    PangoFontDescription* d = describe(attributes.font);
    pango_layout_set_font_description(layout, d);
    pango_font_description_free(d);
    pango_layout_set_text(layout, str.data(), static_cast<int>(str.size()));
    switch (attributes.alignment) {
        case TextAlignment::Center: pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER); break;
        case TextAlignment::Right: pango_layout_set_alignment(layout, PANGO_ALIGN_RIGHT); break;
        default: pango_layout_set_alignment(layout, PANGO_ALIGN_LEFT); break;
    }
    if (width > 0) {
        pango_layout_set_width(layout, static_cast<int>(width * PANGO_SCALE));
        bool chars = attributes.lineBreakMode == LineBreakMode::CharWrap;
        pango_layout_set_wrap(layout, chars ? PANGO_WRAP_CHAR : PANGO_WRAP_WORD_CHAR);
        if (attributes.numberOfLines > 0) {
            pango_layout_set_height(layout, -attributes.numberOfLines);
            if (attributes.lineBreakMode != LineBreakMode::Clip) pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
        }
    }
    return layout;
}

Size layoutSize(PangoLayout* layout) {
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    return {static_cast<double>(logical.width) / PANGO_SCALE, static_cast<double>(logical.height) / PANGO_SCALE};
}

}  // namespace text

double Font::lineHeight() const {
    PangoLayout* layout = text::makeLayout(nullptr, "Ag", TextAttributes{*this}, 0);
    Size size = text::layoutSize(layout);
    g_object_unref(layout);
    return size.height;
}

Size sizeOfText(const std::string& str, const TextAttributes& attributes, double maxWidth) {
    PangoLayout* layout = text::makeLayout(nullptr, str, attributes, maxWidth);
    Size size = text::layoutSize(layout);
    g_object_unref(layout);
    return size;
}

// ------------------------------------------------------------------ the context

struct GraphicsContext::State {
    struct Saved {
        Color fill, stroke;
        double alpha;
    };
    std::vector<Saved> stack;
};

namespace {
thread_local std::vector<GraphicsContext*> contextStack;

void setSource(cairo_t* cr, const Color& color, double alpha) {
    if (color.pattern && color.pattern->surface()) {
        const Image& image = *color.pattern;
        cairo_pattern_t* pattern = cairo_pattern_create_for_surface(image.surface());
        cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
        cairo_matrix_t m;
        cairo_matrix_init_scale(&m, image.scale(), image.scale());  // points to the image's pixels
        cairo_pattern_set_matrix(pattern, &m);
        cairo_set_source(cr, pattern);
        cairo_pattern_destroy(pattern);
        return;
    }
    cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha * alpha);
}
}  // namespace

GraphicsContext::GraphicsContext(cairo_t* cr) : cr_(cairo_reference(cr)), saved_(std::make_unique<State>()) {}

GraphicsContext::~GraphicsContext() { cairo_destroy(cr_); }

GraphicsContext* GraphicsContext::current() { return contextStack.empty() ? nullptr : contextStack.back(); }
void GraphicsContext::push(GraphicsContext* context) { contextStack.push_back(context); }
void GraphicsContext::pop() {
    if (!contextStack.empty()) contextStack.pop_back();
}

void GraphicsContext::saveGState() {
    cairo_save(cr_);
    saved_->stack.push_back({fill_, stroke_, alpha_});
}

void GraphicsContext::restoreGState() {
    if (saved_->stack.empty()) return;  // unbalanced restore: ignored, as the platform does
    cairo_restore(cr_);
    fill_ = saved_->stack.back().fill;
    stroke_ = saved_->stack.back().stroke;
    alpha_ = saved_->stack.back().alpha;
    saved_->stack.pop_back();
}

void GraphicsContext::translateCTM(double tx, double ty) { cairo_translate(cr_, tx, ty); }
void GraphicsContext::scaleCTM(double sx, double sy) { cairo_scale(cr_, sx, sy); }
void GraphicsContext::rotateCTM(double radians) { cairo_rotate(cr_, radians); }
void GraphicsContext::concatCTM(const AffineTransform& t) {
    cairo_matrix_t m;
    cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
    cairo_transform(cr_, &m);
}
AffineTransform GraphicsContext::currentTransform() const {
    cairo_matrix_t m;
    cairo_get_matrix(cr_, &m);
    return {m.xx, m.yx, m.xy, m.yy, m.x0, m.y0};
}

void GraphicsContext::setFillColor(const Color& color) { fill_ = color; }
void GraphicsContext::setStrokeColor(const Color& color) { stroke_ = color; }
void GraphicsContext::setLineWidth(double width) { cairo_set_line_width(cr_, width); }
void GraphicsContext::setLineCap(LineCap cap) {
    cairo_set_line_cap(cr_, cap == LineCap::Round    ? CAIRO_LINE_CAP_ROUND
                            : cap == LineCap::Square ? CAIRO_LINE_CAP_SQUARE
                                                     : CAIRO_LINE_CAP_BUTT);
}
void GraphicsContext::setLineJoin(LineJoin join) {
    cairo_set_line_join(cr_, join == LineJoin::Round   ? CAIRO_LINE_JOIN_ROUND
                             : join == LineJoin::Bevel ? CAIRO_LINE_JOIN_BEVEL
                                                       : CAIRO_LINE_JOIN_MITER);
}
void GraphicsContext::setFlatness(double flatness) {
    // Cairo's tolerance plays the same part; kept within one device pixel so that round caps
    // and joins stay round at any requested flatness.
    cairo_set_tolerance(cr_, std::clamp(flatness * 0.05, 0.1, 1.0));
}
void GraphicsContext::setAlpha(double alpha) { alpha_ = std::clamp(alpha, 0.0, 1.0); }

void GraphicsContext::beginPath() { cairo_new_path(cr_); }
void GraphicsContext::moveToPoint(double x, double y) { cairo_move_to(cr_, x, y); }
void GraphicsContext::addLineToPoint(double x, double y) {
    if (cairo_has_current_point(cr_)) {
        cairo_line_to(cr_, x, y);
    } else {
        cairo_move_to(cr_, x, y);
    }
}

void GraphicsContext::addArcToPoint(double x1, double y1, double x2, double y2, double radius) {
    if (!cairo_has_current_point(cr_)) cairo_move_to(cr_, x1, y1);
    double x0, y0;
    cairo_get_current_point(cr_, &x0, &y0);
    double ux = x0 - x1, uy = y0 - y1, vx = x2 - x1, vy = y2 - y1;
    double lu = std::hypot(ux, uy), lv = std::hypot(vx, vy);
    double cross = (x1 - x0) * (y2 - y1) - (y1 - y0) * (x2 - x1);
    if (radius <= 0 || lu == 0 || lv == 0 || std::fabs(cross) < 1e-12) {
        cairo_line_to(cr_, x1, y1);  // no arc fits: the corner itself
        return;
    }
    ux /= lu, uy /= lu, vx /= lv, vy /= lv;
    double cosTheta = std::clamp(ux * vx + uy * vy, -1.0, 1.0);
    double theta = std::acos(cosTheta);
    double d = radius / std::tan(theta / 2);
    double t1x = x1 + ux * d, t1y = y1 + uy * d, t2x = x1 + vx * d, t2y = y1 + vy * d;
    double bx = ux + vx, by = uy + vy, lb = std::hypot(bx, by);
    double h = radius / std::sin(theta / 2);
    double cx = x1 + bx / lb * h, cy = y1 + by / lb * h;
    double a1 = std::atan2(t1y - cy, t1x - cx), a2 = std::atan2(t2y - cy, t2x - cx);
    cairo_line_to(cr_, t1x, t1y);
    if (cross > 0) {
        cairo_arc(cr_, cx, cy, radius, a1, a2);
    } else {
        cairo_arc_negative(cr_, cx, cy, radius, a1, a2);
    }
}

void GraphicsContext::addRect(const Rect& r) { cairo_rectangle(cr_, r.x(), r.y(), r.width(), r.height()); }
void GraphicsContext::addEllipseInRect(const Rect& r) {
    if (r.width() <= 0 || r.height() <= 0) return;
    cairo_save(cr_);
    cairo_translate(cr_, r.midX(), r.midY());
    cairo_scale(cr_, r.width() / 2, r.height() / 2);
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, 0, 0, 1, 0, 2 * M_PI);
    cairo_close_path(cr_);
    cairo_restore(cr_);
}
void GraphicsContext::closePath() { cairo_close_path(cr_); }
bool GraphicsContext::isPathEmpty() const {
    cairo_path_t* path = cairo_copy_path(cr_);
    bool empty = path->num_data == 0;
    cairo_path_destroy(path);
    return empty;
}
void GraphicsContext::fillPath() {
    setSource(cr_, fill_, alpha_);
    cairo_fill(cr_);
}
void GraphicsContext::strokePath() {
    setSource(cr_, stroke_, alpha_);
    cairo_stroke(cr_);
}
void GraphicsContext::clip() { cairo_clip(cr_); }

void GraphicsContext::fillRect(const Rect& r) {
    cairo_new_path(cr_);
    addRect(r);
    fillPath();
}
void GraphicsContext::strokeRect(const Rect& r) {
    cairo_new_path(cr_);
    addRect(r);
    strokePath();
}
void GraphicsContext::clearRect(const Rect& r) {
    cairo_save(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_CLEAR);
    cairo_new_path(cr_);
    addRect(r);
    cairo_fill(cr_);
    cairo_restore(cr_);
}
void GraphicsContext::clipToRect(const Rect& r) {
    cairo_new_path(cr_);
    addRect(r);
    cairo_clip(cr_);
}
void GraphicsContext::fillEllipseInRect(const Rect& r) {
    cairo_new_path(cr_);
    addEllipseInRect(r);
    fillPath();
}

void GraphicsContext::drawImage(const Image& image, const Rect& rect, double alpha) {
    if (!image.surface() || image.pixelWidth() <= 0 || image.pixelHeight() <= 0 || rect.isEmpty()) return;
    cairo_save(cr_);
    cairo_new_path(cr_);
    cairo_rectangle(cr_, rect.x(), rect.y(), rect.width(), rect.height());
    cairo_clip(cr_);
    cairo_translate(cr_, rect.x(), rect.y());
    cairo_scale(cr_, rect.width() / image.pixelWidth(), rect.height() / image.pixelHeight());
    cairo_set_source_surface(cr_, image.surface(), 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr_), CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_GOOD);
    cairo_paint_with_alpha(cr_, std::clamp(alpha * alpha_, 0.0, 1.0));
    cairo_restore(cr_);
}

void GraphicsContext::drawText(const std::string& str, const Rect& rect, const TextAttributes& attributes) {
    if (str.empty()) return;
    PangoLayout* layout = text::makeLayout(cr_, str, attributes, rect.width());
    cairo_save(cr_);
    cairo_set_source_rgba(cr_, attributes.color.red, attributes.color.green, attributes.color.blue,
                          attributes.color.alpha * alpha_);
    cairo_move_to(cr_, rect.x(), rect.y());
    pango_cairo_show_layout(cr_, layout);
    cairo_restore(cr_);
    g_object_unref(layout);
}

void GraphicsContext::drawText(const std::string& str, Point point, const TextAttributes& attributes) {
    if (str.empty()) return;
    PangoLayout* layout = text::makeLayout(cr_, str, attributes, 0);
    cairo_save(cr_);
    cairo_set_source_rgba(cr_, attributes.color.red, attributes.color.green, attributes.color.blue,
                          attributes.color.alpha * alpha_);
    cairo_move_to(cr_, point.x, point.y);
    pango_cairo_show_layout(cr_, layout);
    cairo_restore(cr_);
    g_object_unref(layout);
}

// ------------------------------------------------------------------ image contexts

namespace {
struct ImageContextEntry {
    cairo_surface_t* surface;
    GraphicsContext* context;
    double scale;
    bool opaque;
};
thread_local std::vector<ImageContextEntry> imageContexts;
}  // namespace

void beginImageContext(Size size, bool opaque, double scale) {
    if (scale <= 0) scale = Screen::main().scale();
    int w = std::max(0, static_cast<int>(std::ceil(size.width * scale - 1e-9)));
    int h = std::max(0, static_cast<int>(std::ceil(size.height * scale - 1e-9)));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(surface);
    if (opaque) {
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_paint(cr);
    }
    cairo_scale(cr, scale, scale);
    auto* context = new GraphicsContext(cr);
    cairo_destroy(cr);
    imageContexts.push_back({surface, context, scale, opaque});
    GraphicsContext::push(context);
}

std::shared_ptr<Image> imageFromCurrentImageContext() {
    if (imageContexts.empty() || GraphicsContext::current() != imageContexts.back().context) return nullptr;
    const ImageContextEntry& entry = imageContexts.back();
    cairo_surface_flush(entry.surface);
    int w = cairo_image_surface_get_width(entry.surface), h = cairo_image_surface_get_height(entry.surface);
    if (w <= 0 || h <= 0) return nullptr;
    cairo_surface_t* copy = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    if (cairo_surface_status(copy) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(copy);
        return nullptr;
    }
    int from = cairo_image_surface_get_stride(entry.surface), to = cairo_image_surface_get_stride(copy);
    const unsigned char* src = cairo_image_surface_get_data(entry.surface);
    unsigned char* dst = cairo_image_surface_get_data(copy);
    if (from == to) {
        std::memcpy(dst, src, static_cast<size_t>(from) * h);
    } else {
        for (int y = 0; y < h; ++y) std::memcpy(dst + y * to, src + y * from, static_cast<size_t>(w) * 4);
    }
    cairo_surface_mark_dirty(copy);
    auto image = Image::withSurface(copy, entry.scale, entry.opaque);
    cairo_surface_destroy(copy);
    return image;
}

void endImageContext() {
    if (imageContexts.empty()) return;
    ImageContextEntry entry = imageContexts.back();
    imageContexts.pop_back();
    if (GraphicsContext::current() == entry.context) GraphicsContext::pop();
    delete entry.context;
    cairo_surface_destroy(entry.surface);
}

}  // namespace quillon::ui
