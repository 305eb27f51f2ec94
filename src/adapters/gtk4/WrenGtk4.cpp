// The GTK 4 adapter: joins the feedback flow to a GTK 4 application window through the
// toolkit's embedding contract (quillon/ui/Embedding.h). It drives the library's main run loop
// from GLib's, turns the window's key chord and three-finger swipe into the flow's triggers,
// takes the window's screenshot with GTK's own renderer, shows the feedback screens in a
// modal window over the host's and feeds them GTK's input, and records the host's button
// clicks and stack pages in the operation trace.
#include <quillon/ui/Embedding.h>

#include <vector>

#include "../gtk-common/WrenGtkCommon.h"
#include "wren/WrenGtk.h"

namespace {

using wrengtk::host;
using wrengtk::hostContent;
using wrengtk::overlay;
using wrengtk::Overlay;

// The embedded screen follows the host's content size and scale; the device record gets the
// figures of the monitor the window is on.
void updateScreen() {
    GtkWidget* content = hostContent();
    if (!content) return;
    double w = gtk_widget_get_width(content), h = gtk_widget_get_height(content);
    if (w < 1 || h < 1) {
        int dw = 0, dh = 0;
        gtk_window_get_default_size(host().window, &dw, &dh);
        w = dw > 0 ? dw : 400;
        h = dh > 0 ? dh : 600;
    }
    wrengtk::setScreen(w, h, gtk_widget_get_scale_factor(content));
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(host().window));
    GdkMonitor* monitor =
        surface ? gdk_display_get_monitor_at_surface(gdk_surface_get_display(surface), surface) : nullptr;
    if (monitor) {
        GdkRectangle geometry;
        gdk_monitor_get_geometry(monitor, &geometry);
        quillon_embed_set_device_screen(geometry.width, geometry.height, gdk_monitor_get_scale_factor(monitor));
    }
}

// The host's content rendered by the window's own renderer, at the window's scale: the whole
// window (its background is the window's) cut to the content's bounds, so no decorations.
void takeScreenshot(gpointer) {
    GtkWidget* content = hostContent();
    GtkWidget* window = GTK_WIDGET(host().window);
    GskRenderer* renderer = window ? gtk_native_get_renderer(GTK_NATIVE(window)) : nullptr;
    graphene_rect_t bounds;
    if (!content || !renderer || !gtk_widget_get_mapped(content) ||
        !gtk_widget_compute_bounds(content, window, &bounds))
        return;
    const float scale = static_cast<float>(gtk_widget_get_scale_factor(content));
    if (bounds.size.width < 1 || bounds.size.height < 1) return;
    GdkPaintable* paintable = gtk_widget_paintable_new(window);
    GtkSnapshot* snapshot = gtk_snapshot_new();
    gtk_snapshot_scale(snapshot, scale, scale);
    gdk_paintable_snapshot(paintable, GDK_SNAPSHOT(snapshot), gdk_paintable_get_intrinsic_width(paintable),
                           gdk_paintable_get_intrinsic_height(paintable));
    GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
    g_object_unref(paintable);
    if (!node) return;
    graphene_rect_t viewport;
    graphene_rect_init(&viewport, bounds.origin.x * scale, bounds.origin.y * scale, bounds.size.width * scale,
                       bounds.size.height * scale);
    GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &viewport);
    gsk_render_node_unref(node);
    if (!texture) return;
    const int tw = gdk_texture_get_width(texture), th = gdk_texture_get_height(texture);
    // gdk_texture_download gives Cairo's ARGB32 (premultiplied, native byte order).
    std::vector<unsigned char> pixels(static_cast<std::size_t>(tw) * th * 4);
    gdk_texture_download(texture, pixels.data(), static_cast<gsize>(tw) * 4);
    g_object_unref(texture);
    wrengtk::supplyScreenshot(pixels.data(), tw, th, tw * 4, scale);
}

// ---------------------------------------------------------------- the feedback window

void drawPicture(GtkDrawingArea*, cairo_t* cr, int width, int height, gpointer) {
    wrengtk::paintPicture(cr, width, height);
}

gboolean overlayKey(GtkEventControllerKey*, guint keyval, guint, GdkModifierType, gpointer) {
    return wrengtk::feedbackKey(keyval);
}

void commitText(GtkIMContext*, const char* text, gpointer) {
    quillon_embed_text(text);
}

gboolean closeRequest(GtkWindow*, gpointer) {
    quillon_embed_back();  // the window goes when the flow's screens are gone
    return TRUE;
}

void makeOverlay() {
    Overlay& o = overlay();
    o.window = GTK_WINDOW(gtk_window_new());
    g_object_ref_sink(o.window);
    gtk_window_set_title(o.window, "Feedback");
    gtk_window_set_transient_for(o.window, host().window);
    gtk_window_set_modal(o.window, TRUE);
    gtk_window_set_destroy_with_parent(o.window, TRUE);
    o.area = gtk_drawing_area_new();
    gtk_widget_set_focusable(o.area, TRUE);
    gtk_drawing_area_set_draw_func(GTK_DRAWING_AREA(o.area), drawPicture, nullptr, nullptr);
    gtk_window_set_child(o.window, o.area);

    // A mouse button or a finger is one touch.
    GtkGesture* drag = gtk_gesture_drag_new();
    wrengtk::connectDrag(drag, o.area);
    gtk_widget_add_controller(o.area, GTK_EVENT_CONTROLLER(drag));

    // Text through the input method (composed text included); Return and Backspace as keys.
    GtkEventController* keys = gtk_event_controller_key_new();
    o.im = gtk_im_multicontext_new();
    gtk_im_context_set_client_widget(o.im, o.area);
    g_signal_connect(o.im, "commit", G_CALLBACK(commitText), nullptr);
    gtk_event_controller_key_set_im_context(GTK_EVENT_CONTROLLER_KEY(keys), o.im);
    g_signal_connect(keys, "key-pressed", G_CALLBACK(overlayKey), nullptr);
    gtk_widget_add_controller(GTK_WIDGET(o.window), keys);
    g_signal_connect(o.window, "close-request", G_CALLBACK(closeRequest), nullptr);
}

void needsDisplay(gpointer) {
    if (overlay().area) gtk_widget_queue_draw(overlay().area);
}

void screensShown(gpointer, int shown) {
    Overlay& o = overlay();
    if (!host().window) return;
    if (!shown) {
        if (o.window) gtk_widget_set_visible(GTK_WIDGET(o.window), FALSE);
        return;
    }
    if (!o.window) makeOverlay();
    const int w = static_cast<int>(host().width + 0.5), h = static_cast<int>(host().height + 0.5);
    gtk_drawing_area_set_content_width(GTK_DRAWING_AREA(o.area), w);
    gtk_drawing_area_set_content_height(GTK_DRAWING_AREA(o.area), h);
    gtk_window_set_default_size(o.window, w, h);
    gtk_window_present(o.window);
    gtk_widget_grab_focus(o.area);
    gtk_im_context_focus_in(o.im);
}

// ---------------------------------------------------------------- triggers and the host

gboolean hostKey(GtkEventControllerKey*, guint keyval, guint, GdkModifierType state, gpointer) {
    return wrengtk::hostKey(keyval, state);
}

void hostChanged(GtkWidget*, gpointer) {
    updateScreen();
}
void hostResized(GObject*, GParamSpec*, gpointer) {
    updateScreen();
}

void hostGone(gpointer, GObject*) {
    Overlay& o = overlay();
    host().window = nullptr;
    if (o.window) {
        gtk_window_destroy(o.window);
        g_object_unref(o.window);
        o = Overlay{};
    }
}

}  // namespace

extern "C" int wren_gtk_attach(GtkWindow* window) {
    if (!window) return 0;
    if (host().window || !wrengtk::attach(window, {updateScreen, takeScreenshot, screensShown, needsDisplay}))
        return host().window == window ? 1 : 0;
    g_object_weak_ref(G_OBJECT(window), hostGone, nullptr);
    g_signal_connect(window, "realize", G_CALLBACK(hostChanged), nullptr);
    g_signal_connect(window, "notify::default-width", G_CALLBACK(hostResized), nullptr);
    g_signal_connect(window, "notify::default-height", G_CALLBACK(hostResized), nullptr);

    // Before the focused widget sees the key: the chord is the window's.
    GtkEventController* keys = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    g_signal_connect(keys, "key-pressed", G_CALLBACK(hostKey), nullptr);
    gtk_widget_add_controller(GTK_WIDGET(window), keys);

    // Three fingers: n-points can only be given at construction.
    auto* swipe = static_cast<GtkGesture*>(g_object_new(GTK_TYPE_GESTURE_SWIPE, "n-points", 3, nullptr));
    gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(swipe), GTK_PHASE_CAPTURE);
    g_signal_connect(swipe, "swipe", G_CALLBACK(wrengtk::hostSwipe), nullptr);
    gtk_widget_add_controller(GTK_WIDGET(window), GTK_EVENT_CONTROLLER(swipe));
    return 1;
}
