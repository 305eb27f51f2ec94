// The main screen: 375 x 667 points at scale 2 with a 20-point status bar when headless
// (the default); an SDL2 window on request (QUILLON_UI_BACKEND=sdl or the Info.plist key
// QuillonUIBackend = sdl). The screen's figures are the device record's screen figures too.
#pragma once

#include "quillon/ui/Export.h"
#include "quillon/ui/Geometry.h"

#include <cstdint>
#include <memory>
#include <string>

namespace quillon::ui {

class Image;

class QUILLON_UI_EXPORT Screen {
public:
    static Screen& main();

    Rect bounds() const;
    double scale() const;
    // The bounds less the status bar (when it shows).
    Rect applicationFrame() const;
    // The size in pixels of the screen's current mode.
    Size currentModeSize() const;
    // "headless" or "sdl".
    std::string backendName() const;

    // Describes another screen (tests, or a back end with another size). Also updates the
    // figures the device record reads.
    void setBounds(Size size, double scale);
    // Back to the headless figures.
    void reset();

    // What the screen shows now (every visible window and the status bar), at its scale.
    std::shared_ptr<Image> capture();
    // Runs a display pass now if anything changed (the run loop does it by itself).
    void displayIfNeeded();
    // Number of display passes that drew something (diagnostics, tests).
    std::uint64_t displayCount() const;

private:
    Screen() = default;
};

}  // namespace quillon::ui
