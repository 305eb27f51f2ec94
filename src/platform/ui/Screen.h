// The main screen: bounds in points, scale and the device's orientation.
//
// Until a display back end exists the main screen is headless, with fixed figures: 375 x 667
// points at scale 2.0 (a 750 x 1334 pixel portrait phone screen), orientation portrait (1).
// The setters let tests (and a future display back end) describe another screen.
#pragma once

// Reachable from the UI library, which uses this process's one copy of the platform layer.
#pragma GCC visibility push(default)

namespace platform::ui {

// Device orientations: 0 unknown, 1 portrait, 2 portrait upside down, 3 landscape left,
// 4 landscape right, 5 face up, 6 face down.
enum DeviceOrientation : int {
    kOrientationUnknown = 0,
    kOrientationPortrait = 1,
    kOrientationPortraitUpsideDown = 2,
    kOrientationLandscapeLeft = 3,
    kOrientationLandscapeRight = 4,
    kOrientationFaceUp = 5,
    kOrientationFaceDown = 6,
};

struct Size {
    double width = 0;
    double height = 0;
};

class Screen {
public:
    static Screen& main();

    Size bounds() const;
    double scale() const;
    int deviceOrientation() const;

    void setBounds(double width, double height);
    void setScale(double scale);
    void setDeviceOrientation(int orientation);
    // Back to the headless figures.
    void reset();

private:
    Screen();
};

}  // namespace platform::ui

#pragma GCC visibility pop
