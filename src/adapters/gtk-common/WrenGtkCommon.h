// What the GTK 3 and GTK 4 adapters share: compiled into each with its own GTK, so only calls
// that are the same in both (or told apart here by GTK_MAJOR_VERSION) live here.
#pragma once

#include <gtk/gtk.h>

namespace wrengtk {

// The host window and the embedded screen's figures (points), main thread only.
struct Host {
    GtkWindow* window = nullptr;
    double width = 0, height = 0, scale = 1;
};
Host& host();
// The window the feedback screens show in, over the host's (made when they first come up).
struct Overlay {
    GtkWindow* window = nullptr;
    GtkWidget* area = nullptr;
    GtkIMContext* im = nullptr;
    GtkGesture* drag = nullptr;
};
Overlay& overlay();
// What the user sees of the host window: its child, without the title bar or other decorations.
GtkWidget* hostContent();

// What each adapter does its own way.
struct Toolkit {
    void (*updateScreen)();                    // the screen from the host's size and monitor
    void (*takeScreenshot)(void* user);        // supplies the host's screenshot
    void (*screensShown)(void* user, int on);  // shows or hides the feedback window
    void (*needsDisplay)(void* user);          // redraws the feedback window
};

// Attaches the flow to `window`: the library's main run loop from GLib's, the embedded screen,
// the trace of the window's buttons and stacks. 1 when attached (again to the same window),
// 0 when another window is or `window` is null. The adapter adds its triggers after.
int attach(GtkWindow* window, const Toolkit& toolkit);
// A key on the host window: Ctrl+Shift+Z, the desktop's shake, is taken.
gboolean hostKey(guint keyval, GdkModifierType state);
// A three-finger swipe on the host window with this velocity.
void hostSwipe(GtkGestureSwipe* gesture, double vx, double vy, gpointer);
// A key in the feedback window: Return, Backspace, and Escape (Back) are taken.
gboolean feedbackKey(guint keyval);
// The feedback window's drag gesture on `area` as one finger.
void connectDrag(GtkGesture* drag, GtkWidget* area);
// Sets the embedded screen to `width` x `height` points at `scale` (and remembers it).
void setScreen(double width, double height, double scale);
// Paints the toolkit's last picture over `width` x `height` of the feedback window.
void paintPicture(cairo_t* cr, int width, int height);
// Hands a host screenshot of Cairo ARGB32 pixels to the toolkit.
void supplyScreenshot(const unsigned char* pixels, int width, int height, int stride, double scale);

// Operation trace: the visible pages of every GtkStack under `widget` (watched once each; the
// page shown now is recorded as appearing), and a hook on every GtkButton's "clicked" that
// records those of the host window, and the host's other windows (dialogs) as screens appearing
// when mapped and disappearing when unmapped (attach starts all three).
void watchStacks(GtkWidget* widget);
void traceButtonClicks();
void traceWindows();

}  // namespace wrengtk
