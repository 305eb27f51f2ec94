// quillon-example-gtk3-feedback: the GTK 4 feedback example's household ledger in GTK 3, with
// crash reporting and the feedback flow. Its expenses add up to a wrong total: press
// Ctrl+Shift+Z, choose "我要反馈Bug", circle the total, describe it.
//
// What the application writes for the library is marked "libquillon" below: five lines.
#include <gtk/gtk.h>
#include <quillon/quillon.h>  // libquillon
#include <wren/Wren.h>        // libquillon
#include <wren/WrenGtk.h>     // libquillon

namespace {

const char* const kStyle =
    ".banner { background: #2e7d32; color: white; padding: 14px; font-weight: bold; font-size: 16px; }"
    ".total { font-size: 20px; font-weight: bold; padding: 12px; }";

GtkWidget* label(const char* text, const char* cssClass = nullptr) {
    GtkWidget* l = gtk_label_new(text);
    gtk_label_set_xalign(GTK_LABEL(l), 0);
    if (cssClass) gtk_style_context_add_class(gtk_widget_get_style_context(l), cssClass);
    return l;
}

GtkWidget* expensesPage() {
    GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    GtkWidget* list = gtk_list_box_new();
    const char* const expenses[][2] = {{"Groceries", "42.30"}, {"Electricity", "31.70"}, {"Bus pass", "12.50"}};
    for (const auto& e : expenses) {
        GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
        gtk_box_pack_start(GTK_BOX(row), label(e[0]), TRUE, TRUE, 0);
        gtk_box_pack_start(GTK_BOX(row), gtk_label_new(e[1]), FALSE, FALSE, 0);
        g_object_set(row, "margin", 10, nullptr);
        gtk_container_add(GTK_CONTAINER(list), row);
    }
    gtk_box_pack_start(GTK_BOX(page), list, FALSE, FALSE, 0);
    // 42.30 + 31.70 + 12.50 is 86.50: the ledger's bug.
    GtkWidget* total = label("Total 96.50", "total");
    gtk_label_set_xalign(GTK_LABEL(total), 1);
    gtk_box_pack_start(GTK_BOX(page), total, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(page), gtk_button_new_with_label("Add expense"), FALSE, FALSE, 12);
    return page;
}

GtkWidget* settingsPage() {
    GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    g_object_set(page, "margin", 12, nullptr);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    gtk_box_pack_start(GTK_BOX(row), label("Round to whole euros"), TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(row), gtk_switch_new(), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(page), row, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(page), gtk_button_new_with_label("Export to CSV"), FALSE, FALSE, 0);
    return page;
}

// A small window of its own, as an application's dialogs are.
void showAbout(GtkButton* button, gpointer) {
    GtkWidget* about = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(about), "About");
    gtk_window_set_transient_for(GTK_WINDOW(about), GTK_WINDOW(gtk_widget_get_toplevel(GTK_WIDGET(button))));
    gtk_window_set_default_size(GTK_WINDOW(about), 240, 120);
    GtkWidget* close = gtk_button_new_with_label("Household ledger 1.0 (close)");
    g_signal_connect_swapped(close, "clicked", G_CALLBACK(gtk_widget_destroy), about);
    gtk_container_add(GTK_CONTAINER(about), close);
    gtk_widget_show_all(about);
}

}  // namespace

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    quillonInit("example-app-key", "examples");  // libquillon: crash reporting
    WrenConfig config = WrenConfig::defaultConfig();
    config.reportOnlyWIFI = false;
    Wren::init("example-app-key", config);  // libquillon: feedback

    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, kStyle, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Household ledger");
    gtk_window_set_default_size(GTK_WINDOW(window), 360, 520);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_pack_start(GTK_BOX(box), label("Household ledger", "banner"), FALSE, FALSE, 0);
    GtkWidget* stack = gtk_stack_new();
    gtk_stack_add_titled(GTK_STACK(stack), expensesPage(), "expenses", "Expenses");
    gtk_stack_add_titled(GTK_STACK(stack), settingsPage(), "settings", "Settings");
    GtkWidget* switcher = gtk_stack_switcher_new();
    gtk_stack_switcher_set_stack(GTK_STACK_SWITCHER(switcher), GTK_STACK(stack));
    gtk_widget_set_halign(switcher, GTK_ALIGN_CENTER);
    gtk_box_pack_start(GTK_BOX(box), switcher, FALSE, FALSE, 8);
    gtk_box_pack_start(GTK_BOX(box), stack, TRUE, TRUE, 0);
    GtkWidget* about = gtk_button_new_with_label("About");
    g_signal_connect(about, "clicked", G_CALLBACK(showAbout), nullptr);
    gtk_box_pack_start(GTK_BOX(box), about, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window), box);

    wren_gtk_attach(GTK_WINDOW(window));  // libquillon: feedback over this window
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
