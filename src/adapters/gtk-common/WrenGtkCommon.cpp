#include "WrenGtkCommon.h"

#include <quillon/quillon.h>
#include <quillon/ui/Embedding.h>

#include <glib-unix.h>

#include <algorithm>
#include <cmath>

namespace wrengtk {
namespace {

constexpr int kPointerFinger = 100;
constexpr const char* kWatched = "wren-watched";
constexpr const char* kShownPage = "wren-shown-page";

gboolean runLibraryWork(gint, GIOCondition, gpointer) {
    QNMainLoopRunPending();
    return G_SOURCE_CONTINUE;
}

// The page's name in the stack, or its widget type.
const char* visiblePage(GtkStack* stack) {
    const char* name = gtk_stack_get_visible_child_name(stack);
    if (name && *name) return name;
    GtkWidget* child = gtk_stack_get_visible_child(stack);
    return child ? G_OBJECT_TYPE_NAME(child) : nullptr;
}

struct PageChange {
    gchar* before;
    gchar* now;
};

gboolean recordPageChange(gpointer data) {
    auto* change = static_cast<PageChange*>(data);
    if (change->before) quillon_embed_trace_screen(change->before, 0);
    if (change->now) quillon_embed_trace_screen(change->now, 1);
    g_free(change->before);
    g_free(change->now);
    delete change;
    return G_SOURCE_REMOVE;
}

// Recorded once the event that changed the page is handled, so that the click which changed
// it comes first in the trace, as a tap on the toolkit's own screens does.
void stackChanged(GtkStack* stack, GParamSpec*, gpointer) {
    const auto* before = static_cast<const char*>(g_object_get_data(G_OBJECT(stack), kShownPage));
    const char* now = visiblePage(stack);
    if (g_strcmp0(before, now) == 0) return;
    g_idle_add_full(G_PRIORITY_HIGH_IDLE, recordPageChange, new PageChange{g_strdup(before), g_strdup(now)}, nullptr);
    g_object_set_data_full(G_OBJECT(stack), kShownPage, g_strdup(now), g_free);
}

bool inHostWindow(GtkWidget* widget) {
#if GTK_MAJOR_VERSION >= 4
    return host().window && gtk_widget_get_root(widget) == GTK_ROOT(host().window);
#else
    return host().window && gtk_widget_get_toplevel(widget) == GTK_WIDGET(host().window);
#endif
}

gboolean buttonClicked(GSignalInvocationHint*, guint count, const GValue* values, gpointer) {
    if (count < 1) return TRUE;
    auto* button = static_cast<GtkWidget*>(g_value_get_object(&values[0]));
    if (!GTK_IS_WIDGET(button) || !inHostWindow(button)) return TRUE;
#if GTK_MAJOR_VERSION < 4
    // A radio button the user clicked makes its group's active one emit "clicked" as it goes
    // off: one tap, one entry.
    if (GTK_IS_RADIO_BUTTON(button) && !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button))) return TRUE;
#endif
    quillon_embed_trace_tap(G_OBJECT_TYPE_NAME(button));
    watchStacks(GTK_WIDGET(host().window));  // stacks made since the last look
    return TRUE;
}

#if GTK_MAJOR_VERSION < 4
void watchChild(GtkWidget* child, gpointer) { watchStacks(child); }
#endif

}  // namespace

Host& host() {
    static auto* h = new Host;
    return *h;
}

void watchMainLoop() {
    static bool watched = false;
    if (watched) return;
    watched = true;
    g_unix_fd_add(QNMainLoopFileDescriptor(), G_IO_IN, runLibraryWork, nullptr);
}

bool isShakeChord(guint keyval, GdkModifierType state) {
    return (keyval == GDK_KEY_z || keyval == GDK_KEY_Z) && (state & GDK_CONTROL_MASK) && (state & GDK_SHIFT_MASK);
}

int swipeDirection(double vx, double vy) {
    if (std::fabs(vy) >= std::fabs(vx)) return vy < 0 ? QN_EMBED_SWIPE_UP : QN_EMBED_SWIPE_DOWN;
    return vx < 0 ? QN_EMBED_SWIPE_LEFT : QN_EMBED_SWIPE_RIGHT;
}

void setScreen(double width, double height, double scale) {
    Host& h = host();
    h.width = width, h.height = height, h.scale = scale;
    quillon_embed_set_screen(width, height, scale);
}

void paintPicture(cairo_t* cr, int width, int height) {
    QNEmbedPicture p{};
    if (!quillon_embed_picture(&p) || p.width < 1 || p.height < 1) return;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(const_cast<unsigned char*>(p.pixels),
                                                                   CAIRO_FORMAT_ARGB32, p.width, p.height, p.stride);
    cairo_save(cr);
    cairo_scale(cr, static_cast<double>(width) / p.width, static_cast<double>(height) / p.height);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(surface);
}

void touch(int phase, double x, double y, int width, int height) {
    const Host& h = host();
    quillon_embed_touch(phase, kPointerFinger, x * h.width / std::max(1, width), y * h.height / std::max(1, height));
}

void supplyScreenshot(const unsigned char* pixels, int width, int height, int stride, double scale) {
    QNEmbedPicture picture{pixels, width, height, stride, scale};
    quillon_embed_supply_screenshot(&picture);
}

void watchStacks(GtkWidget* widget) {
    if (GTK_IS_STACK(widget) && !g_object_get_data(G_OBJECT(widget), kWatched)) {
        g_object_set_data(G_OBJECT(widget), kWatched, GINT_TO_POINTER(1));
        const char* now = visiblePage(GTK_STACK(widget));
        if (now) quillon_embed_trace_screen(now, 1);
        g_object_set_data_full(G_OBJECT(widget), kShownPage, g_strdup(now), g_free);
        g_signal_connect(widget, "notify::visible-child", G_CALLBACK(stackChanged), nullptr);
    }
#if GTK_MAJOR_VERSION >= 4
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child))
        watchStacks(child);
#else
    if (GTK_IS_CONTAINER(widget)) gtk_container_forall(GTK_CONTAINER(widget), watchChild, nullptr);
#endif
}

void traceButtonClicks() {
    static bool hooked = false;
    if (hooked) return;
    hooked = true;
    g_signal_add_emission_hook(g_signal_lookup("clicked", GTK_TYPE_BUTTON), 0, buttonClicked, nullptr, nullptr);
}

}  // namespace wrengtk
