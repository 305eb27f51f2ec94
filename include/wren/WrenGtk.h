/* libquillon-gtk4 (and libquillon-gtk3): the feedback flow over a GTK application window.
 *
 *     Wren::init("app-key", config);            // as without GTK
 *     wren_gtk_attach(GTK_WINDOW(main_window)); // the window whose content is the screenshot
 *
 * and link Quillon::gtk4 (pkg-config quillon-gtk4; the same for GTK 3). After attaching, the
 * library's main run loop runs from GLib's; Ctrl+Shift+Z on the window stands for a shake, a
 * three-finger swipe on it is the swipe way of feedback, and the accelerometer works as
 * without GTK. The feedback screens open in a window over the attached one, the screenshot is
 * the attached window's content, and the operation trace records clicks on the window's
 * buttons ("tap:" with the button's type name) and the pages of its GtkStacks appearing and
 * disappearing. Call on the main thread, after Wren::init. */
#ifndef WREN_WRENGTK_H
#define WREN_WRENGTK_H

#include <gtk/gtk.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Returns 1 when attached (again to the same window: nothing changes), 0 when another
 * window is attached already or `window` is null. The attachment ends with the window. */
__attribute__((visibility("default"))) int wren_gtk_attach(GtkWindow* window);

#ifdef __cplusplus
}
#endif

#endif /* WREN_WRENGTK_H */
