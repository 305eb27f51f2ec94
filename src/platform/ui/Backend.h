// Screen back ends: where the display pass's picture goes and where input comes from.
// They form a chain of {name, make} entries, as SDL's own video drivers do: the requested one
// is tried, and when it is not available (no display, no library, no host) the headless
// screen, a real entry that shows nothing, takes over.
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
    // Runs before each display pass composes the screen.
    virtual void prepare() {}
    // Shows the screen's picture (pixels of the screen's size).
    virtual void present(cairo_surface_t* screen) = 0;
};

using BackendMaker = std::unique_ptr<Backend> (*)(Size points, double scale, std::string& why);
struct BackendEntry {
    const char* name;
    BackendMaker make;
    const char* what;  // in console lines: "SDL window"
};

// Shows nothing; always available.
std::unique_ptr<Backend> makeHeadlessBackend(Size points, double scale, std::string& why);
// The picture goes to a host toolkit's window (quillon/ui/Embedding.h); available once a host
// started embedding.
std::unique_ptr<Backend> makeEmbeddedBackend(Size points, double scale, std::string& why);
// The next display pass chooses the back end again, asking for `name` first.
void requestBackend(const char* name);

// An SDL2 window of `points` (the picture is `scale` times larger and shown scaled), polled
// on the main run loop. Null, with the reason in `why`, when SDL2 cannot open a window.
std::unique_ptr<Backend> makeSdlBackend(Size points, double scale, std::string& why);

}  // namespace quillon::ui::detail
