// The shake chord to the feedback alert painted in the GTK 4 adapter's window over a real
// GTK 4 window (run it on a display: xvfb-run), beside the same step on the headless screen
// measured first in the same run (a process embeds once and for good). The chord's handler
// updates the screen's figures and sends the shake; this sends the same shake. A host as an
// application is one: only the shared libraries and their public headers.
#include "../BenchTiming.h"

#include <poll.h>
#include <quillon/quillon.h>
#include <quillon/ui.h>
#include <quillon/ui/Embedding.h>
#include <stdlib.h>
#include <wren/Wren.h>
#include <wren/WrenGtk.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

namespace ui = quillon::ui;
using Clock = std::chrono::steady_clock;

using benchtiming::median;

namespace {

double since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

GtkWindow* feedbackWindow() {
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint i = 0; i < g_list_model_get_n_items(toplevels); ++i) {
        auto* w = static_cast<GtkWindow*>(g_list_model_get_item(toplevels, i));
        g_object_unref(w);
        if (g_strcmp0(gtk_window_get_title(w), "Feedback") == 0) return w;
    }
    return nullptr;
}

int gPaints = 0;
void painted(GdkFrameClock*, gpointer) {
    ++gPaints;
}

void iterateUntil(const std::function<bool()>& done) {
    while (!done()) g_main_context_iteration(nullptr, TRUE);
}

// The library's main run loop without GTK's: wait for its descriptor, run what is due.
void runLibraryUntil(const std::function<bool()>& done) {
    pollfd fd{QNMainLoopFileDescriptor(), POLLIN, 0};
    while (!done()) {
        poll(&fd, 1, 1);
        QNMainLoopRunPending();
    }
}

}  // namespace

int main() {
    if (!gtk_init_check()) {
        std::printf("gtk_feedback_bench: no display (run it under xvfb-run)\n");
        return 0;
    }
    char home[] = "/tmp/quillon-gtk-bench-XXXXXX";
    if (!mkdtemp(home)) return 1;
    setenv("HOME", home, 1);
    ui::MotionManager::setSimulated(true);
    Wren::init("bench-app-key", WrenConfig::defaultConfig());
    const int runs = 20;

    // The headless screen, with a host screen of the toolkit's own.
    auto screen = std::make_shared<ui::Window>();
    screen->setRootViewController(std::make_shared<ui::ViewController>());
    screen->makeKeyAndVisible();
    QNRunMainLoopFor(0.2);  // the feedback side starts its trigger
    std::vector<double> headless, gtk;
    for (int i = 0; i < runs; ++i) {
        const std::uint64_t passes = ui::Screen::main().displayCount();
        const auto start = Clock::now();
        quillon_embed_shake();
        runLibraryUntil([&] { return ui::AlertView::visibleAlert() && ui::Screen::main().displayCount() > passes; });
        headless.push_back(since(start));
        ui::AlertView::visibleAlert()->pressButton(0);
        QNRunMainLoopFor(0.01);
    }
    screen->setHidden(true);

    // A GTK 4 window attached: until the feedback window painted the alert.
    GtkWidget* window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), 360, 520);
    gtk_window_set_child(GTK_WINDOW(window), gtk_label_new("Household ledger"));
    wren_gtk_attach(GTK_WINDOW(window));
    gtk_window_present(GTK_WINDOW(window));
    iterateUntil([&] { return gtk_widget_get_mapped(window); });
    for (int i = 0; i < 200; ++i) g_main_context_iteration(nullptr, FALSE);
    for (int i = 0; i < runs; ++i) {
        const int paints = gPaints;
        const auto start = Clock::now();
        quillon_embed_shake();
        iterateUntil([&] {
            GtkWindow* feedback = feedbackWindow();
            if (!feedback || !gtk_widget_get_mapped(GTK_WIDGET(feedback))) return false;
            GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(feedback));
            if (clock && !g_object_get_data(G_OBJECT(clock), "bench")) {
                g_object_set_data(G_OBJECT(clock), "bench", GINT_TO_POINTER(1));
                g_signal_connect(clock, "after-paint", G_CALLBACK(painted), nullptr);
            }
            return gPaints > paints;
        });
        gtk.push_back(since(start));
        quillon_embed_back();
        iterateUntil([] {
            GtkWindow* feedback = feedbackWindow();
            return !feedback || !gtk_widget_get_visible(GTK_WIDGET(feedback));
        });
        for (int k = 0; k < 50; ++k) g_main_context_iteration(nullptr, FALSE);
    }
    std::printf("chord to alert painted in the GTK 4 feedback window (360x520): median %.2f ms\n", median(gtk));
    std::printf("baseline: shake to alert drawn on the headless screen (750x1334): median %.2f ms\n", median(headless));
    std::printf("difference: %+.2f ms (goal: at most 50 ms above the headless screen)\n",
                median(gtk) - median(headless));
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return 0;
}
