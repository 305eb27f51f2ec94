// The GTK 3 adapter: the GTK 4 adapter's work (src/adapters/gtk4/) with GTK 3's calls: the
// screenshot is the window's content drawn into a Cairo surface (gtk_widget_draw), and the
// feedback window takes its input from gestures and key-press events.
#include <quillon/ui/Embedding.h>

#include "../gtk-common/WrenGtkCommon.h"
#include "wren/WrenGtk.h"

namespace {

using wrengtk::host;
using wrengtk::hostContent;
using wrengtk::overlay;
using wrengtk::Overlay;

void updateScreen() {
    GtkWidget* content = hostContent();
    if (!content) return;
    double w = gtk_widget_get_allocated_width(content), h = gtk_widget_get_allocated_height(content);
    if (w <= 1 || h <= 1) {
        int dw = 0, dh = 0;
        gtk_window_get_default_size(host().window, &dw, &dh);
        w = dw > 0 ? dw : 400;
        h = dh > 0 ? dh : 600;
    }
    wrengtk::setScreen(w, h, gtk_widget_get_scale_factor(content));
    GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(host().window));
    GdkMonitor* monitor =
        surface ? gdk_display_get_monitor_at_window(gdk_window_get_display(surface), surface) : nullptr;
    if (monitor) {
        GdkRectangle geometry;
        gdk_monitor_get_geometry(monitor, &geometry);
        quillon_embed_set_device_screen(geometry.width, geometry.height, gdk_monitor_get_scale_factor(monitor));
    }
}

// The whole window drawn (its background is the window's) and cut to the content's
// allocation, so no decorations, at the window's scale.
void takeScreenshot(gpointer) {
    GtkWidget* content = hostContent();
    if (!content || !gtk_widget_get_mapped(content)) return;
    GtkAllocation at;
    gtk_widget_get_allocation(content, &at);
    const int scale = gtk_widget_get_scale_factor(content);
    if (at.width < 1 || at.height < 1) return;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, at.width * scale, at.height * scale);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, scale, scale);
    cairo_translate(cr, content == GTK_WIDGET(host().window) ? 0 : -at.x,
                    content == GTK_WIDGET(host().window) ? 0 : -at.y);
    gtk_widget_draw(GTK_WIDGET(host().window), cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS)
        wrengtk::supplyScreenshot(cairo_image_surface_get_data(surface), at.width * scale, at.height * scale,
                                  cairo_image_surface_get_stride(surface), scale);
    cairo_surface_destroy(surface);
}

// ---------------------------------------------------------------- the feedback window

gboolean drawPicture(GtkWidget* area, cairo_t* cr, gpointer) {
    wrengtk::paintPicture(cr, gtk_widget_get_allocated_width(area), gtk_widget_get_allocated_height(area));
    return TRUE;
}

gboolean overlayKey(GtkWidget*, GdkEventKey* event, gpointer) {
    return gtk_im_context_filter_keypress(overlay().im, event) || wrengtk::feedbackKey(event->keyval);
}

gboolean overlayKeyUp(GtkWidget*, GdkEventKey* event, gpointer) {
    return gtk_im_context_filter_keypress(overlay().im, event);
}

void commitText(GtkIMContext*, const char* text, gpointer) {
    quillon_embed_text(text);
}

gboolean closeRequest(GtkWidget*, GdkEvent*, gpointer) {
    quillon_embed_back();
    return TRUE;
}

void areaRealized(GtkWidget* area, gpointer) {
    gtk_im_context_set_client_window(overlay().im, gtk_widget_get_window(area));
}

void makeOverlay() {
    Overlay& o = overlay();
    o.window = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    g_object_ref_sink(o.window);
    gtk_window_set_title(o.window, "Feedback");
    gtk_window_set_transient_for(o.window, host().window);
    gtk_window_set_modal(o.window, TRUE);
    gtk_window_set_destroy_with_parent(o.window, TRUE);
    o.area = gtk_drawing_area_new();
    gtk_widget_set_can_focus(o.area, TRUE);
    gtk_widget_add_events(o.area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_BUTTON_MOTION_MASK |
                                      GDK_TOUCH_MASK | GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK);
    g_signal_connect(o.area, "draw", G_CALLBACK(drawPicture), nullptr);
    gtk_container_add(GTK_CONTAINER(o.window), o.area);

    o.drag = gtk_gesture_drag_new(o.area);
    wrengtk::connectDrag(o.drag, o.area);

    o.im = gtk_im_multicontext_new();
    g_signal_connect(o.im, "commit", G_CALLBACK(commitText), nullptr);
    g_signal_connect(o.area, "realize", G_CALLBACK(areaRealized), nullptr);
    g_signal_connect(o.window, "key-press-event", G_CALLBACK(overlayKey), nullptr);
    g_signal_connect(o.window, "key-release-event", G_CALLBACK(overlayKeyUp), nullptr);
    g_signal_connect(o.window, "delete-event", G_CALLBACK(closeRequest), nullptr);
}

void needsDisplay(gpointer) {
    if (overlay().area) gtk_widget_queue_draw(overlay().area);
}

void screensShown(gpointer, int shown) {
    Overlay& o = overlay();
    if (!host().window) return;
    if (!shown) {
        if (o.window) gtk_widget_hide(GTK_WIDGET(o.window));
        return;
    }
    if (!o.window) makeOverlay();
    const int w = static_cast<int>(host().width + 0.5), h = static_cast<int>(host().height + 0.5);
    gtk_widget_set_size_request(o.area, w, h);
    gtk_window_set_default_size(o.window, w, h);
    gtk_widget_show_all(GTK_WIDGET(o.window));
    gtk_window_present(o.window);
    gtk_widget_grab_focus(o.area);
    gtk_im_context_focus_in(o.im);
}

// ---------------------------------------------------------------- triggers and the host

gboolean hostKey(GtkWidget*, GdkEventKey* event, gpointer) {
    return wrengtk::hostKey(event->keyval, static_cast<GdkModifierType>(event->state));
}

void hostAllocated(GtkWidget*, GdkRectangle*, gpointer) {
    updateScreen();
}

void hostGone(gpointer, GObject*) {
    Overlay& o = overlay();
    host().window = nullptr;
    if (o.window) {
        gtk_widget_destroy(GTK_WIDGET(o.window));
        g_object_unref(o.window);
        if (o.drag) g_object_unref(o.drag);
        if (o.im) g_object_unref(o.im);
        o = Overlay{};
    }
}

}  // namespace

extern "C" int wren_gtk_attach(GtkWindow* window) {
    if (!window) return 0;
    if (host().window || !wrengtk::attach(window, {updateScreen, takeScreenshot, screensShown, needsDisplay}))
        return host().window == window ? 1 : 0;
    g_object_weak_ref(G_OBJECT(window), hostGone, nullptr);
    g_signal_connect(window, "size-allocate", G_CALLBACK(hostAllocated), nullptr);
    // Connected handlers run before the window's own, which passes keys to the focused widget.
    g_signal_connect(window, "key-press-event", G_CALLBACK(hostKey), nullptr);
    gtk_widget_add_events(GTK_WIDGET(window), GDK_TOUCH_MASK);
    // Three fingers: n-points can only be given at construction.
    auto* swipe =
        static_cast<GtkGesture*>(g_object_new(GTK_TYPE_GESTURE_SWIPE, "widget", window, "n-points", 3, nullptr));
    gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(swipe), GTK_PHASE_CAPTURE);
    g_signal_connect(swipe, "swipe", G_CALLBACK(wrengtk::hostSwipe), nullptr);
    // The gesture lives as long as the window.
    g_object_set_data_full(G_OBJECT(window), "wren-swipe", swipe, g_object_unref);
    return 1;
}
