// The event script: a text file of commands that drives the screens (tests, demos, CI).
// When QUILLON_UI_SCRIPT names a file, it is played on the main run loop once the key window
// is visible. One command a line, each after the previous one was delivered; "#" starts a
// comment; coordinates are points in the key window; an unknown or malformed line prints a
// console line naming its number and is skipped.
//
//   wait SECONDS                        let the main loop run
//   accel X Y Z                         one accelerometer sample, in g
//   shake                               one sample of (3.0, 0.0, 0.0)
//   tap X Y                             a one-finger touch down and up (tap count 1)
//   doubletap X Y                       two taps 0.1 s apart (the second with tap count 2)
//   drag X1 Y1 X2 Y2 [STEPS] [SECONDS]  touch down, STEPS moves (default 10) over SECONDS (default 0.3), up
//   swipe up|down|left|right [TOUCHES]  a swipe of TOUCHES fingers (default 3) across the middle of the key window
//   type TEXT                           insert TEXT (UTF-8, the rest of the line) into the first responder
//   key return|backspace|left|right|up|down  the Return, Backspace or an arrow key on the first responder
//   alert N                             press button N of the alert on screen
//   background | foreground             the application's four lifecycle notifications, in the platform's order
//   snapshot PATH                       write what the key window shows (with an alert over it), as PNG, at the screen's scale
#pragma once

#include "quillon/ui/Export.h"
#include "quillon/ui/Geometry.h"
#include "quillon/ui/Event.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quillon::ui {

class QUILLON_UI_EXPORT EventScript {
public:
    // Plays `text` (named `name` in console lines) on the main run loop; `finished` runs
    // after the last command. False when a script is already playing.
    static bool play(const std::string& text, const std::string& name, std::function<void()> finished = {});
    static bool playFile(const std::string& path, std::function<void()> finished = {});
    static bool isPlaying();
    // Number of commands delivered and lines skipped by the current or last script.
    static int commandsDelivered();
    static int linesSkipped();
};

// Synthesised input on the key window, as the screens deliver it (what the script uses).
namespace input {
QUILLON_UI_EXPORT void touchDown(int finger, double x, double y, int tapCount = 1);
QUILLON_UI_EXPORT void touchMove(int finger, double x, double y);
QUILLON_UI_EXPORT void touchUp(int finger, double x, double y);
QUILLON_UI_EXPORT bool hasFirstResponder();
QUILLON_UI_EXPORT void typeText(const std::string& text);
QUILLON_UI_EXPORT void pressReturn();
QUILLON_UI_EXPORT void pressBackspace();
// Fingers 0, 1, ... each moving from its first point to its second in `steps` moves over
// `seconds`, then lifted; `then` runs after the lift.
QUILLON_UI_EXPORT void drag(const std::vector<std::pair<Point, Point>>& fingers, int steps, double seconds,
                            std::function<void()> then = {});
// A swipe of `touches` fingers side by side across the middle of the key window, along
// `direction` ((0, -1) up, (1, 0) right...). False without a key window.
QUILLON_UI_EXPORT bool swipe(Point direction, int touches, std::function<void()> then = {});
QUILLON_UI_EXPORT void pressArrow(ArrowKey key);
}  // namespace input

}  // namespace quillon::ui
