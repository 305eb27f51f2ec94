// Screen back ends: where the display pass's picture goes and where input comes from.
// They form a chain, as SDL's own video drivers do: the requested one is tried, and when it
// is not available (no display, no library) the headless screen takes over.
#pragma once

#include "quillon/ui/Geometry.h"

#include <cairo.h>

#include <memory>
#include <string>

namespace quillon::ui::detail {

class Backend {
public:
    virtual ~Backend() = default;
    virtual const char* name() const = 0;
    // Shows the screen's picture (pixels of the screen's size).
    virtual void present(cairo_surface_t* screen) = 0;
};

// An SDL2 window of `points` (the picture is `scale` times larger and shown scaled), polled
// on the main run loop. Null, with the reason in `why`, when SDL2 cannot open a window.
std::unique_ptr<Backend> makeSdlBackend(Size points, double scale, std::string& why);

}  // namespace quillon::ui::detail
