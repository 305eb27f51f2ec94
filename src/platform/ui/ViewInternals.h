// The display machinery behind views: presentation values (animations), cached content and
// rendering, and the display pass scheduling. Main thread only.
#pragma once

#include "quillon/ui/View.h"

#include <cairo.h>

#include <functional>
#include <memory>
#include <vector>

namespace quillon::ui {

namespace detail {

enum class Property { Bounds, Center, Alpha, Background, Transform };

struct Value {
    Rect rect;
    Point point;
    double scalar = 0;
    Color color;
    AffineTransform transform;
};

struct AnimationGroup {
    std::function<void(bool)> completion;
    int remaining = 0;
    bool finished = true;
};

struct Animation {
    Property property;
    Value from, to;
    double start = 0, duration = 0;
    std::shared_ptr<AnimationGroup> group;
};

// Schedules a display pass on the main run loop (coalesced).
void markScreenDirty();
// While an animation block runs: captures the presentation value before a change.
bool isRecordingAnimations();
void willChange(View& view, Property property);
// Outside an animation block: a change of the property ends its running animation.
void cancelAnimation(View& view, Property property);
// Draws the view tree into `cr`. The root is drawn in its own coordinate system (bounds
// origin at the current origin); subviews at their presentation positions.
void render(View& view, cairo_t* cr, bool isRoot);
// Lays out the tree (layoutSubviews where needed), top-down.
void layoutTree(View& view);

}  // namespace detail

// A view's drawn content: drawRect recorded once (vector), and that recording rasterised at
// the scale it is shown at, so that display passes and snapshots only composite bitmaps.
struct View::Presentation {
    cairo_surface_t* recording = nullptr;  // null when drawRect drew nothing
    cairo_surface_t* raster = nullptr;
    double rasterScale = 0;
    bool contentValid = false;
    std::vector<detail::Animation> animations;
    void dropContent() {
        if (recording) cairo_surface_destroy(recording);
        if (raster) cairo_surface_destroy(raster);
        recording = raster = nullptr;
        rasterScale = 0;
    }
    ~Presentation() { dropContent(); }
};

}  // namespace quillon::ui
