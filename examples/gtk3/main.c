/* quillon-example-gtk3: a GTK 3 application that reports its crashes.
 *
 *   quillon-example-gtk3          a window with a "Crash" button
 *   quillon-example-gtk3 crash    clicks the button by itself after half a second
 *
 * The library's main-thread work runs from GTK's main loop: g_unix_fd_add watches the
 * library's descriptor and calls QNMainLoopRunPending() when it is readable. */
#include <quillon/quillon.h>

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <string.h>

struct document {
    char title[64];
    int pages;
};

struct document* volatile open_document = NULL; /* nothing open */

/* Not static: exported functions appear by name in the crash report's backtrace. */
__attribute__((noinline)) void example_print_document(GtkButton* button, gpointer data) {
    quillonLeaveBreadcrumb("clicked 'Crash'");
    open_document->pages += 1; /* no document open: SIGSEGV */
}

static gboolean run_library_work(gint fd, GIOCondition condition, gpointer data) {
    QNMainLoopRunPending();
    return G_SOURCE_CONTINUE;
}

static gboolean click_by_itself(gpointer button) {
    gtk_button_clicked(GTK_BUTTON(button));
    return G_SOURCE_REMOVE;
}

int main(int argc, char** argv) {
    const int crash_by_itself = argc > 1 && strcmp(argv[1], "crash") == 0;
    quillonInit("example-app-key", "examples");
    gtk_init(&argc, &argv);
    g_unix_fd_add(QNMainLoopFileDescriptor(), G_IO_IN, run_library_work, NULL);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Quillon GTK 3 example");
    gtk_window_set_default_size(GTK_WINDOW(window), 320, 120);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    GtkWidget* button = gtk_button_new_with_label("Crash");
    g_signal_connect(button, "clicked", G_CALLBACK(example_print_document), NULL);
    gtk_container_add(GTK_CONTAINER(window), button);
    gtk_widget_show_all(window);
    quillonLeaveBreadcrumb("window shown");
    if (crash_by_itself) g_timeout_add(500, click_by_itself, button);
    gtk_main();
    return 0;
}
