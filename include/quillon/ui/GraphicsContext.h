// 2-D drawing on Cairo, with text through Pango.
//
// A GraphicsContext draws in points with the origin at the top left. The current context is
// a per-thread stack: the display pass pushes one around each view's drawRect, and image
// contexts push theirs (beginImageContext … imageFromCurrentImageContext … endImageContext).
#pragma once

#include "quillon/ui/Color.h"
#include "quillon/ui/Export.h"
#include "quillon/ui/Geometry.h"

#include <memory>
#include <string>

typedef struct _cairo cairo_t;

namespace quillon::ui {

class Image;

// A font: the system font is a CJK-capable sans-serif (Noto Sans CJK where installed).
struct QUILLON_UI_EXPORT Font {
    std::string family;  // empty: the system font
    double pointSize = 17.0;
    bool bold = false;

    static Font systemFontOfSize(double size) { return Font{"", size, false}; }
    static Font boldSystemFontOfSize(double size) { return Font{"", size, true}; }
    // Height of one line of text in this font, in points.
    double lineHeight() const;
    bool operator==(const Font&) const = default;
};

enum class TextAlignment { Left = 0, Center = 1, Right = 2 };
enum class LineBreakMode { WordWrap = 0, CharWrap = 1, Clip = 2, TruncateTail = 4 };

struct TextAttributes {
    Font font = Font::systemFontOfSize(17.0);
    Color color = Color::blackColor();
    TextAlignment alignment = TextAlignment::Left;
    LineBreakMode lineBreakMode = LineBreakMode::WordWrap;
    int numberOfLines = 0;  // 0: as many as needed
};

// The size the text takes with `attributes`, wrapped at `maxWidth` (<= 0: no wrapping).
QUILLON_UI_EXPORT Size sizeOfText(const std::string& text, const TextAttributes& attributes, double maxWidth = 0);

enum class LineCap { Butt = 0, Round = 1, Square = 2 };
enum class LineJoin { Miter = 0, Round = 1, Bevel = 2 };

class QUILLON_UI_EXPORT GraphicsContext {
public:
    // Wraps a Cairo context (takes its own reference).
    explicit GraphicsContext(cairo_t* cr);
    ~GraphicsContext();
    GraphicsContext(const GraphicsContext&) = delete;
    GraphicsContext& operator=(const GraphicsContext&) = delete;

    // The context on top of this thread's stack, or null.
    static GraphicsContext* current();
    static void push(GraphicsContext* context);
    static void pop();

    cairo_t* cairo() const { return cr_; }

    void saveGState();
    void restoreGState();
    void translateCTM(double tx, double ty);
    void scaleCTM(double sx, double sy);
    void rotateCTM(double radians);
    void concatCTM(const AffineTransform& t);
    AffineTransform currentTransform() const;

    void setFillColor(const Color& color);
    void setStrokeColor(const Color& color);
    void setLineWidth(double width);
    void setLineCap(LineCap cap);
    void setLineJoin(LineJoin join);
    // The largest error allowed when curves are flattened, in device pixels.
    void setFlatness(double flatness);
    void setAlpha(double alpha);

    void beginPath();
    void moveToPoint(double x, double y);
    void addLineToPoint(double x, double y);
    // An arc of radius r tangent to the lines (current point → (x1, y1)) and ((x1, y1) → (x2, y2)),
    // joined by a straight line from the current point (the platform's arc-to-point).
    void addArcToPoint(double x1, double y1, double x2, double y2, double radius);
    void addRect(const Rect& rect);
    void addEllipseInRect(const Rect& rect);
    void closePath();
    bool isPathEmpty() const;
    void fillPath();
    void strokePath();
    void clip();

    void fillRect(const Rect& rect);
    void strokeRect(const Rect& rect);
    void clearRect(const Rect& rect);
    void clipToRect(const Rect& rect);
    void fillEllipseInRect(const Rect& rect);

    // Draws the image scaled into `rect` (top-left origin; the image is not flipped).
    void drawImage(const Image& image, const Rect& rect, double alpha = 1.0);
    // Draws the text wrapped in `rect` (alignment within its width, from its top).
    void drawText(const std::string& text, const Rect& rect, const TextAttributes& attributes);
    // Draws one run of text with its top-left corner at `point`.
    void drawText(const std::string& text, Point point, const TextAttributes& attributes);

private:
    cairo_t* cr_;
    Color fill_ = Color::blackColor();
    Color stroke_ = Color::blackColor();
    double alpha_ = 1.0;
    struct State;
    std::unique_ptr<State> saved_;
};

// Image contexts: an offscreen bitmap of `size` points at `scale` (0: the main screen's
// scale), opaque (starting black) or transparent, made the current context.
QUILLON_UI_EXPORT void beginImageContext(Size size, bool opaque, double scale);
// What the current image context holds so far, as an image of its scale; null when the
// current context is not an image context.
QUILLON_UI_EXPORT std::shared_ptr<Image> imageFromCurrentImageContext();
QUILLON_UI_EXPORT void endImageContext();
// The current context (the platform's "get current context"), or null.
inline GraphicsContext* currentContext() { return GraphicsContext::current(); }

// The same as a scope: the context is ended when the object goes away.
class QUILLON_UI_EXPORT ImageContext {
public:
    ImageContext(Size size, bool opaque, double scale) { beginImageContext(size, opaque, scale); }
    ~ImageContext() { endImageContext(); }
    ImageContext(const ImageContext&) = delete;
    ImageContext& operator=(const ImageContext&) = delete;
    GraphicsContext& context() { return *GraphicsContext::current(); }
    std::shared_ptr<Image> image() { return imageFromCurrentImageContext(); }
};

}  // namespace quillon::ui
