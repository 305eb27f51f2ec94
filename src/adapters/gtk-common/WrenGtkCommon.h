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

// Runs the library's main run loop from GLib's (once per process).
void watchMainLoop();
// Ctrl+Shift+Z, the desktop's shake.
bool isShakeChord(guint keyval, GdkModifierType state);
// A swipe's direction (QN_EMBED_SWIPE_*) from its velocity.
int swipeDirection(double vx, double vy);
// Sets the embedded screen to `width` x `height` points at `scale` (and remembers it).
void setScreen(double width, double height, double scale);
// Paints the toolkit's last picture over `width` x `height` of the feedback window.
void paintPicture(cairo_t* cr, int width, int height);
// A pointer or touch at (x, y) of a feedback window area of `width` x `height`.
void touch(int phase, double x, double y, int width, int height);
// Hands a host screenshot of Cairo ARGB32 pixels to the toolkit.
void supplyScreenshot(const unsigned char* pixels, int width, int height, int stride, double scale);

// Operation trace: the visible pages of every GtkStack under `widget` (watched once each; the
// page shown now is recorded as appearing), and a hook on every GtkButton's "clicked" that
// records those of the host window.
void watchStacks(GtkWidget* widget);
void traceButtonClicks();

}  // namespace wrengtk
