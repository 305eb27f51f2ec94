#include "Wren/ui/WrenUISnapshotEditor.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

using namespace quillon::ui;

namespace {

bool isPenUp(const std::uint16_t* p) { return p[0] == WrenUISnapshotEditor::kPenUp && p[1] == 0; }
bool isTrackEnd(const std::uint16_t* p) {
    return p[0] == WrenUISnapshotEditor::kPenUp && p[1] == WrenUISnapshotEditor::kPenUp;
}

const Touch* anyTouch(const TouchSet& touches) { return touches.empty() ? nullptr : touches.front().get(); }

}  // namespace

// The strokes drawn so far, in a transparent bitmap of the canvas's size at the screen's scale.
struct WrenUISnapshotEditor::Layer {
    Layer(Size size, double scale)
        : surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(1, static_cast<int>(std::ceil(size.width * scale))),
                                             std::max(1, static_cast<int>(std::ceil(size.height * scale))))),
          cr(cairo_create(surface)),
          context(cr),
          size(size) {
        cairo_surface_set_device_scale(surface, scale, scale);
    }
    ~Layer() {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    void clear() {
        cairo_save(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        cairo_paint(cr);
        cairo_restore(cr);
    }
    cairo_surface_t* surface;
    cairo_t* cr;
    GraphicsContext context;
    Size size;
};

std::shared_ptr<Image> QNCGContextResizeImage(const std::shared_ptr<Image>& image, double width, double height) {
    if (!image || !(width > 0) || !(height > 0)) return nullptr;
    ImageContext context(Size{width, height}, false, 0.0);
    context.context().drawImage(*image, Rect(0, 0, width, height));
    return context.image();
}

std::shared_ptr<WrenUISnapshotEditor> WrenUISnapshotEditor::defaultSnapshotEditor(const Rect& frame) {
    return std::make_shared<WrenUISnapshotEditor>(frame);
}

WrenUISnapshotEditor::WrenUISnapshotEditor(const Rect& frame)
    : View(frame),
      // Left uninitialised: pages are only touched as entries are written.
      trackData_(new std::uint16_t[kTrackCapacity]),
      mosaicTrackData_(new std::uint16_t[kTrackCapacity]),
      lineColor_(Color::blueColor()) {
    setBackgroundColor(Color::clearColor());
    setMultipleTouchEnabled(false);
}

WrenUISnapshotEditor::~WrenUISnapshotEditor() {
    killToucheDownTimer();
    killToucheEndTimer();
}

void WrenUISnapshotEditor::setLineWidth(double width) {
    lineWidth_ = width;
    invalidateLayer();
}

void WrenUISnapshotEditor::setLineColor(const Color& color) {
    lineColor_ = color;
    invalidateLayer();
}

void WrenUISnapshotEditor::setMosaicImage(std::shared_ptr<Image> image) {
    mosaicImage_ = std::move(image);
    invalidateLayer();
}

void WrenUISnapshotEditor::show() { setHidden(false); }

void WrenUISnapshotEditor::hide() {
    setHidden(true);
    reset();
}

void WrenUISnapshotEditor::setBackgroundImage(std::shared_ptr<Image> image) {
    backgroundImage_ = std::move(image);
    const Rect b = bounds();
    setBackgroundColor(Color::colorWithPatternImage(QNCGContextResizeImage(backgroundImage_, b.size.width, b.size.height)));
}

void WrenUISnapshotEditor::reset() {
    trackTotal_ = 0;
    mosaicTrackTotal_ = 0;
    lineWidth_ = kDefaultLineWidth;
    lineColor_ = Color::blueColor();
    penStyle_ = 0;
    invalidateLayer();
    setNeedsDisplay();
}

void WrenUISnapshotEditor::updateForSize(const Size& size) {
    Rect b = bounds();
    b.size = size;
    const bool portraitImage =
        !backgroundImage_ || backgroundImage_->size().width <= backgroundImage_->size().height;
    if (size.width > size.height && portraitImage) {
        b.size.width = size.width / 3.0;
    } else if (size.width <= size.height && !portraitImage) {
        b.size.height = size.height / 3.0;
    }
    setBounds(b);
    if (backgroundImage_)
        setBackgroundColor(
            Color::colorWithPatternImage(QNCGContextResizeImage(backgroundImage_, b.size.width, b.size.height)));
    invalidateLayer();
    setNeedsDisplay();
}

std::uint16_t WrenUISnapshotEditor::encodeCoordinate(double value, bool isX) {
    // Through single precision, truncated toward zero, as the track has always stored points.
    const float f = static_cast<float>(value);
    long v = std::isnan(f) ? 0 : static_cast<long>(std::clamp(std::trunc(f), -32768.0f, 32767.0f));
    // 0xFFFF in the x entry belongs to the markers.
    if (isX && v == -1) v = -2;
    return static_cast<std::uint16_t>(static_cast<std::int16_t>(v));
}

std::vector<std::uint16_t> WrenUISnapshotEditor::penTrack() const {
    return {trackData_.get(), trackData_.get() + trackTotal_};
}

std::vector<std::uint16_t> WrenUISnapshotEditor::mosaicTrack() const {
    return {mosaicTrackData_.get(), mosaicTrackData_.get() + mosaicTrackTotal_};
}

void WrenUISnapshotEditor::saveToucheTrack(const Point& point) {
    const bool mosaic = penStyle_ == 1;
    std::uint16_t* data = mosaic ? mosaicTrackData_.get() : trackData_.get();
    std::uint32_t& total = mosaic ? mosaicTrackTotal_ : trackTotal_;
    if (total + 2 > kTrackCapacity) return;
    data[total++] = encodeCoordinate(point.x, true);
    data[total++] = encodeCoordinate(point.y, false);
    // Stamps lie under the pen strokes: a stamp added after a stroke needs the full replay.
    if (mosaic && trackTotal_ > 0) invalidateLayer();
}

void WrenUISnapshotEditor::appendPenUp() {
    std::uint16_t* data = penStyle_ == 1 ? mosaicTrackData_.get() : trackData_.get();
    std::uint32_t& total = penStyle_ == 1 ? mosaicTrackTotal_ : trackTotal_;
    if (total + 2 > kTrackCapacity) return;
    data[total++] = kPenUp;
    data[total++] = 0;
}

// ---------------------------------------------------------------- timers

void WrenUISnapshotEditor::setToucheDownTimer() {
    killToucheDownTimer();
    toucheDownTimer_ = Timer::scheduledTimer(kTimerInterval, false, [this](Timer&) { onToucheDownAction(); });
}

void WrenUISnapshotEditor::killToucheDownTimer() {
    if (toucheDownTimer_) toucheDownTimer_->invalidate();
    toucheDownTimer_.reset();
}

// A touch that does not move becomes a dot.
void WrenUISnapshotEditor::onToucheDownAction() {
    killToucheDownTimer();
    saveToucheTrack(currentTouchesPoint_);
    setNeedsDisplayForNewEntries();
}

void WrenUISnapshotEditor::setToucheEndTimer() {
    killToucheEndTimer();
    toucheEndTimer_ = Timer::scheduledTimer(kTimerInterval, false, [this](Timer&) { onToucheEndAction(); });
}

void WrenUISnapshotEditor::killToucheEndTimer() {
    if (toucheEndTimer_) toucheEndTimer_->invalidate();
    toucheEndTimer_.reset();
}

// Closes the stroke at the last touch location.
void WrenUISnapshotEditor::onToucheEndAction() {
    killToucheEndTimer();
    saveToucheTrack(currentTouchesPoint_);
    appendPenUp();
    setNeedsDisplayForNewEntries();
    if (touchEnd_ && delegate_) delegate_->snapshotEditorDidEndEdit(this);
    end_ = true;
}

// ---------------------------------------------------------------- touches

void WrenUISnapshotEditor::touchesBegan(const TouchSet& touches, const Event& event) {
    const Touch* touch = anyTouch(touches);
    if (!touch) return;
    touchEnd_ = false;
    // A stroke whose end timer has not fired yet is closed now, without an end notification.
    if (!end_) onToucheEndAction();
    if (touch->tapCount() < 2) {
        currentTouchesPoint_ = touch->locationInView(this);
        setToucheDownTimer();
    } else {
        killToucheDownTimer();
    }
    end_ = false;
}

void WrenUISnapshotEditor::touchesMoved(const TouchSet& touches, const Event& event) {
    const Touch* touch = anyTouch(touches);
    if (!touch) return;
    if (trackTotal_ < kTrackLimit && mosaicTrackTotal_ < kTrackLimit) {
        killToucheDownTimer();
        saveToucheTrack(touch->locationInView(this));
        setNeedsDisplayForNewEntries();
        if (delegate_) delegate_->snapshotEditorDidBeginEdit(this);
    } else {
        setNeedsDisplay();
    }
}

void WrenUISnapshotEditor::touchesEnded(const TouchSet& touches, const Event& event) {
    const Touch* touch = anyTouch(touches);
    if (!touch) return;
    // Where the previous tap ended, for the double tap's tolerance.
    const Point previous = currentTouchesPoint_;
    const Point p = touch->locationInView(this);
    currentTouchesPoint_ = p;
    end_ = false;
    touchEnd_ = true;
    if (touch->tapCount() < 2) {
        setToucheEndTimer();
        return;
    }
    killToucheEndTimer();
    if (std::fabs(previous.x - p.x) < kDoubleTapTolerance && std::fabs(previous.y - p.y) < kDoubleTapTolerance &&
        delegate_)
        delegate_->snapshotEditorDoubleClick(this);
}

// ---------------------------------------------------------------- drawing
//
// The strokes live in a layer of the canvas's size at the screen's scale. A display pass adds
// to the layer only the entries recorded since the previous pass and shows the layer; the
// tracks are replayed whole into a cleared layer only after an invalidation (first display,
// a new size, reset, a new stroke style or stamp).

void WrenUISnapshotEditor::invalidateLayer() { layerValid_ = false; }

void WrenUISnapshotEditor::setNeedsDisplayForNewEntries() {
    if (!layerValid_) {
        penDirty_ = trackTotal_;
        mosaicDirty_ = mosaicTrackTotal_;
        setNeedsDisplay();
        return;
    }
    double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL;
    auto add = [&](Point p) {
        x0 = std::min(x0, p.x), y0 = std::min(y0, p.y), x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
    };
    // The pairs added since the last request, and the one before them where a segment starts.
    auto scan = [&](const std::uint16_t* data, std::uint32_t total, std::uint32_t& scanned, double extent) {
        if (scanned > total) scanned = 0;
        for (std::uint32_t i = scanned >= 2 ? scanned - 2 : 0; i + 1 < total; i += 2)
            if (!isPenUp(data + i) && !isTrackEnd(data + i)) {
                const Point p{decodeCoordinate(data[i]), decodeCoordinate(data[i + 1])};
                add(p);
                add({p.x + extent, p.y + extent});
            }
        scanned = total;
    };
    scan(trackData_.get(), trackTotal_, penDirty_, 0);
    scan(mosaicTrackData_.get(), mosaicTrackTotal_, mosaicDirty_, kMosaicStampSize);
    if (x0 > x1) return;
    const double pad = lineWidth_ / 2 + 2;
    setNeedsDisplayInRect(Rect(x0 - pad, y0 - pad, x1 - x0 + 2 * pad, y1 - y0 + 2 * pad));
}

void WrenUISnapshotEditor::setStrokeStyle(GraphicsContext& context) {
    context.setFlatness(15.0);
    context.setLineCap(LineCap::Round);
    context.setLineJoin(LineJoin::Round);
    context.setLineWidth(lineWidth_);
    context.setStrokeColor(lineColor_);
}

// Draws the track's pairs from the cursor on: a polyline per stroke, or with a stamp image
// the stamp at every point after a stroke's first. Both coordinates read back signed.
void WrenUISnapshotEditor::drawTouchTracks(GraphicsContext& context, const std::uint16_t* points, std::uint32_t total,
                                           const Image* image, TrackCursor& cursor) {
    std::uint32_t i = cursor.next;
    if (i + 1 >= total) return;
    bool open = cursor.penDown;
    context.beginPath();
    if (open) context.moveToPoint(cursor.last.x, cursor.last.y);
    for (; i + 1 < total; i += 2) {
        const std::uint16_t* p = points + i;
        if (isPenUp(p)) {
            open = false;
            continue;
        }
        if (!open && isTrackEnd(p)) {
            i = total;
            break;
        }
        const Point pt{decodeCoordinate(p[0]), decodeCoordinate(p[1])};
        if (!open) {
            context.moveToPoint(pt.x, pt.y);
            open = true;
        } else if (image) {
            context.drawImage(*image, Rect(pt, Size{kMosaicStampSize, kMosaicStampSize}));
        } else {
            context.addLineToPoint(pt.x, pt.y);
        }
        cursor.last = pt;
    }
    cursor.next = i;
    cursor.penDown = open;
    if (!image) context.strokePath();
    context.beginPath();
}

void WrenUISnapshotEditor::drawTouchTracks(GraphicsContext& context) {
    if (mosaicTrackTotal_ > 0)
        drawTouchTracks(context, mosaicTrackData_.get(), mosaicTrackTotal_, mosaicImage_.get(), mosaicCursor_);
    drawTouchTracks(context, trackData_.get(), trackTotal_, nullptr, penCursor_);
}

void WrenUISnapshotEditor::drawRect(const Rect& rect) {
    GraphicsContext* context = GraphicsContext::current();
    if (!context) return;
    const Size size = bounds().size;
    if (!layer_ || layer_->size != size) {
        layer_ = std::make_unique<Layer>(size, Screen::main().scale());
        layerValid_ = false;
    }
    // A track shorter than what the layer shows (reset) cannot be continued either.
    if (!layerValid_ || penCursor_.next > trackTotal_ || mosaicCursor_.next > mosaicTrackTotal_) {
        layer_->clear();
        penCursor_ = {};
        mosaicCursor_ = {};
        layerValid_ = true;
    }
    layer_->context.saveGState();
    setStrokeStyle(layer_->context);
    drawTouchTracks(layer_->context);
    layer_->context.restoreGState();
    cairo_surface_flush(layer_->surface);

    cairo_t* cr = context->cairo();
    cairo_save(cr);
    cairo_rectangle(cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
    cairo_clip(cr);
    cairo_set_source_surface(cr, layer_->surface, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
}

std::shared_ptr<Image> WrenUISnapshotEditor::mosaicImageFromImage(const std::shared_ptr<Image>& image,
                                                                 double blockPoints) {
    if (!image || !(blockPoints > 0)) return nullptr;
    const Size size = image->size();
    if (!(size.width > 0) || !(size.height > 0)) return nullptr;
    // One pixel per block, averaged by the downscale, then blown up without smoothing.
    const int cols = std::max(1, static_cast<int>(std::ceil(size.width / blockPoints)));
    const int rows = std::max(1, static_cast<int>(std::ceil(size.height / blockPoints)));
    cairo_surface_t* small = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, cols, rows);
    cairo_t* sc = cairo_create(small);
    double sx = 1, sy = 1;
    cairo_surface_get_device_scale(image->surface(), &sx, &sy);
    cairo_scale(sc, cols * sx / image->pixelWidth(), rows * sy / image->pixelHeight());
    cairo_set_source_surface(sc, image->surface(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(sc), CAIRO_FILTER_GOOD);
    cairo_paint(sc);
    cairo_destroy(sc);
    ImageContext out(size, false, image->scale());
    cairo_t* cr = out.context().cairo();
    cairo_save(cr);
    cairo_scale(cr, size.width / cols, size.height / rows);
    cairo_set_source_surface(cr, small, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(small);
    return out.image();
}
