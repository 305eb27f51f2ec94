#include "WrenGtkCommon.h"

#include <glib-unix.h>
#include <quillon/quillon.h>
#include <quillon/ui/Embedding.h>

#include <algorithm>
#include <cmath>

namespace wrengtk {
namespace {

constexpr int kPointerFinger = 100;
constexpr const char* kWatched = "wren-watched";
constexpr const char* kShownPage = "wren-shown-page";
constexpr const char* kShownWindow = "wren-shown-window";

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

// A window of the host's other than the attached one and the feedback window, such as a dialog
// (GTK 3's menus and tooltips are popup windows, not screens). Recorded under the name it had
// when it was mapped, so that its disappearing matches even if its title changed.
bool otherScreen(GtkWidget* widget) {
    if (!GTK_IS_WINDOW(widget) || !host().window) return false;
    if (static_cast<void*>(widget) == host().window || static_cast<void*>(widget) == overlay().window) return false;
#if GTK_MAJOR_VERSION < 4
    if (gtk_window_get_window_type(GTK_WINDOW(widget)) == GTK_WINDOW_POPUP) return false;
#endif
    return true;
}

gboolean windowMapped(GSignalInvocationHint*, guint count, const GValue* values, gpointer mapped) {
    if (count < 1) return TRUE;
    auto* widget = static_cast<GtkWidget*>(g_value_get_object(&values[0]));
    if (!otherScreen(widget)) return TRUE;
    if (mapped) {
        const char* title = gtk_window_get_title(GTK_WINDOW(widget));
        const char* name = title && *title ? title : G_OBJECT_TYPE_NAME(widget);
        g_object_set_data_full(G_OBJECT(widget), kShownWindow, g_strdup(name), g_free);
        quillon_embed_trace_screen(name, 1);
    } else if (const auto* name = static_cast<const char*>(g_object_get_data(G_OBJECT(widget), kShownWindow))) {
        quillon_embed_trace_screen(name, 0);
    }
    return TRUE;
}

#if GTK_MAJOR_VERSION < 4
void watchChild(GtkWidget* child, gpointer) {
    watchStacks(child);
}
#endif

Toolkit& toolkit() {
    static Toolkit t{};
    return t;
}

void watchMainLoop() {
    static bool watched = false;
    if (watched) return;
    watched = true;
    g_unix_fd_add(QNMainLoopFileDescriptor(), G_IO_IN, runLibraryWork, nullptr);
}

// The feedback window's area: its size, and where the drag began.
struct Drag {
    GtkWidget* area = nullptr;
    double x = 0, y = 0;
};
Drag gDrag;

// A point of the feedback window's area, in the embedded screen's points (the window may not
// be the host's size).
void touch(int phase, double x, double y) {
    const Host& h = host();
#if GTK_MAJOR_VERSION >= 4
    const int width = gtk_widget_get_width(gDrag.area), height = gtk_widget_get_height(gDrag.area);
#else
    const int width = gtk_widget_get_allocated_width(gDrag.area), height = gtk_widget_get_allocated_height(gDrag.area);
#endif
    quillon_embed_touch(phase, kPointerFinger, x * h.width / std::max(1, width), y * h.height / std::max(1, height));
}

void dragBegin(GtkGestureDrag*, double x, double y, gpointer) {
    gDrag.x = x, gDrag.y = y;
    touch(QN_EMBED_TOUCH_BEGAN, x, y);
}
void dragUpdate(GtkGestureDrag*, double dx, double dy, gpointer) {
    touch(QN_EMBED_TOUCH_MOVED, gDrag.x + dx, gDrag.y + dy);
}
void dragEnd(GtkGestureDrag*, double dx, double dy, gpointer) {
    touch(QN_EMBED_TOUCH_ENDED, gDrag.x + dx, gDrag.y + dy);
}

}  // namespace

Host& host() {
    static auto* h = new Host;
    return *h;
}

Overlay& overlay() {
    static auto* o = new Overlay;
    return *o;
}

GtkWidget* hostContent() {
    GtkWindow* window = host().window;
    if (!window) return nullptr;
#if GTK_MAJOR_VERSION >= 4
    GtkWidget* child = gtk_window_get_child(window);
#else
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(window));
#endif
    return child ? child : GTK_WIDGET(window);
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
    // A signal is known once its class is: an application may attach before it made a button.
    g_type_class_ref(GTK_TYPE_BUTTON);
    g_signal_add_emission_hook(g_signal_lookup("clicked", GTK_TYPE_BUTTON), 0, buttonClicked, nullptr, nullptr);
}

void traceWindows() {
    static bool hooked = false;
    if (hooked) return;
    hooked = true;
    g_signal_add_emission_hook(g_signal_lookup("map", GTK_TYPE_WIDGET), 0, windowMapped, GINT_TO_POINTER(1), nullptr);
    g_signal_add_emission_hook(g_signal_lookup("unmap", GTK_TYPE_WIDGET), 0, windowMapped, nullptr, nullptr);
}

int attach(GtkWindow* window, const Toolkit& adapter) {
    if (!window) return 0;
    if (host().window) return host().window == window ? 1 : 0;
    host().window = window;
    toolkit() = adapter;
    watchMainLoop();
    adapter.updateScreen();
    QNEmbedHost embed{};
    embed.needs_display = adapter.needsDisplay;
    embed.screens_shown = adapter.screensShown;
    embed.take_screenshot = adapter.takeScreenshot;
    if (!quillon_embed_start(&embed, host().width, host().height, host().scale)) {
        host().window = nullptr;
        return 0;
    }
    traceButtonClicks();
    traceWindows();
    watchStacks(GTK_WIDGET(window));
    return 1;
}

gboolean hostKey(guint keyval, GdkModifierType state) {
    const bool chord =
        (keyval == GDK_KEY_z || keyval == GDK_KEY_Z) && (state & GDK_CONTROL_MASK) && (state & GDK_SHIFT_MASK);
    if (!chord) return FALSE;
    toolkit().updateScreen();
    quillon_embed_shake();
    return TRUE;
}

void hostSwipe(GtkGestureSwipe*, double vx, double vy, gpointer) {
    toolkit().updateScreen();
    if (std::fabs(vy) >= std::fabs(vx))
        quillon_embed_swipe(vy < 0 ? QN_EMBED_SWIPE_UP : QN_EMBED_SWIPE_DOWN);
    else
        quillon_embed_swipe(vx < 0 ? QN_EMBED_SWIPE_LEFT : QN_EMBED_SWIPE_RIGHT);
}

gboolean feedbackKey(guint keyval) {
    switch (keyval) {
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
            quillon_embed_key(QN_EMBED_KEY_RETURN);
            return TRUE;
        case GDK_KEY_BackSpace:
            quillon_embed_key(QN_EMBED_KEY_BACKSPACE);
            return TRUE;
        case GDK_KEY_Escape:
            quillon_embed_back();
            return TRUE;
        default:
            return FALSE;
    }
}

void connectDrag(GtkGesture* drag, GtkWidget* area) {
    gDrag.area = area;
    g_signal_connect(drag, "drag-begin", G_CALLBACK(dragBegin), nullptr);
    g_signal_connect(drag, "drag-update", G_CALLBACK(dragUpdate), nullptr);
    g_signal_connect(drag, "drag-end", G_CALLBACK(dragEnd), nullptr);
}

}  // namespace wrengtk
