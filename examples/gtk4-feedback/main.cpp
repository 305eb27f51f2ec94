// quillon-example-gtk4-feedback: a GTK 4 household ledger with crash reporting and the
// feedback flow. Its expenses page adds up to a wrong total, the thing a tester would report:
// press Ctrl+Shift+Z (or shake the device), choose "我要反馈Bug", circle the total, describe it.
//
// What the application writes for the library is marked "libquillon" below: five lines.
#include <gtk/gtk.h>
#include <quillon/quillon.h>  // libquillon
#include <wren/Wren.h>        // libquillon
#include <wren/WrenGtk.h>     // libquillon

namespace {

struct Expense {
    const char* what;
    const char* amount;
};
constexpr Expense kExpenses[] = {{"Groceries", "42.30"}, {"Electricity", "31.70"}, {"Bus pass", "12.50"}};

const char* const kStyle =
    ".banner { background: #2e7d32; color: white; padding: 14px; font-weight: bold; font-size: 16px; }"
    ".total { font-size: 20px; font-weight: bold; padding: 12px; }";

GtkWidget* expensesPage() {
    GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    GtkWidget* list = gtk_list_box_new();
    for (const Expense& e : kExpenses) {
        GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
        GtkWidget* what = gtk_label_new(e.what);
        gtk_widget_set_hexpand(what, TRUE);
        gtk_label_set_xalign(GTK_LABEL(what), 0);
        gtk_box_append(GTK_BOX(row), what);
        gtk_box_append(GTK_BOX(row), gtk_label_new(e.amount));
        gtk_widget_set_margin_start(row, 12), gtk_widget_set_margin_end(row, 12);
        gtk_widget_set_margin_top(row, 10), gtk_widget_set_margin_bottom(row, 10);
        gtk_list_box_append(GTK_LIST_BOX(list), row);
    }
    gtk_box_append(GTK_BOX(page), list);
    // 42.30 + 31.70 + 12.50 is 86.50: the ledger's bug.
    GtkWidget* total = gtk_label_new("Total 96.50");
    gtk_widget_add_css_class(total, "total");
    gtk_label_set_xalign(GTK_LABEL(total), 1);
    gtk_box_append(GTK_BOX(page), total);
    GtkWidget* add = gtk_button_new_with_label("Add expense");
    gtk_widget_set_margin_start(add, 12), gtk_widget_set_margin_end(add, 12);
    gtk_box_append(GTK_BOX(page), add);
    return page;
}

GtkWidget* settingsPage() {
    GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_widget_set_margin_start(page, 12), gtk_widget_set_margin_end(page, 12), gtk_widget_set_margin_top(page, 12);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    GtkWidget* label = gtk_label_new("Round to whole euros");
    gtk_widget_set_hexpand(label, TRUE);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_box_append(GTK_BOX(row), label);
    gtk_box_append(GTK_BOX(row), gtk_switch_new());
    gtk_box_append(GTK_BOX(page), row);
    gtk_box_append(GTK_BOX(page), gtk_button_new_with_label("Export to CSV"));
    return page;
}

// A small window of its own, as an application's dialogs are.
void showAbout(GtkButton* button, gpointer) {
    GtkWidget* about = gtk_window_new();
    gtk_window_set_title(GTK_WINDOW(about), "About");
    gtk_window_set_transient_for(GTK_WINDOW(about), GTK_WINDOW(gtk_widget_get_root(GTK_WIDGET(button))));
    gtk_window_set_default_size(GTK_WINDOW(about), 240, 120);
    GtkWidget* close = gtk_button_new_with_label("Household ledger 1.0 (close)");
    g_signal_connect_swapped(close, "clicked", G_CALLBACK(gtk_window_destroy), about);
    gtk_window_set_child(GTK_WINDOW(about), close);
    gtk_window_present(GTK_WINDOW(about));
}

}  // namespace

int main() {
    gtk_init();
    quillonInit("example-app-key", "examples");  // libquillon: crash reporting
    WrenConfig config = WrenConfig::defaultConfig();
    config.reportOnlyWIFI = false;
    Wren::init("example-app-key", config);  // libquillon: feedback

    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, kStyle, -1);
    gtk_style_context_add_provider_for_display(gdk_display_get_default(), GTK_STYLE_PROVIDER(css),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

    GtkWidget* window = gtk_window_new();
    gtk_window_set_title(GTK_WINDOW(window), "Household ledger");
    gtk_window_set_default_size(GTK_WINDOW(window), 360, 520);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    GtkWidget* banner = gtk_label_new("Household ledger");
    gtk_widget_add_css_class(banner, "banner");
    gtk_label_set_xalign(GTK_LABEL(banner), 0);
    gtk_box_append(GTK_BOX(box), banner);
    GtkWidget* stack = gtk_stack_new();
    gtk_stack_add_titled(GTK_STACK(stack), expensesPage(), "expenses", "Expenses");
    gtk_stack_add_titled(GTK_STACK(stack), settingsPage(), "settings", "Settings");
    gtk_widget_set_vexpand(stack, TRUE);
    GtkWidget* switcher = gtk_stack_switcher_new();
    gtk_stack_switcher_set_stack(GTK_STACK_SWITCHER(switcher), GTK_STACK(stack));
    gtk_widget_set_halign(switcher, GTK_ALIGN_CENTER);
    gtk_widget_set_margin_top(switcher, 8), gtk_widget_set_margin_bottom(switcher, 8);
    gtk_box_append(GTK_BOX(box), switcher);
    gtk_box_append(GTK_BOX(box), stack);
    GtkWidget* about = gtk_button_new_with_label("About");
    g_signal_connect(about, "clicked", G_CALLBACK(showAbout), nullptr);
    gtk_box_append(GTK_BOX(box), about);
    gtk_window_set_child(GTK_WINDOW(window), box);

    wren_gtk_attach(GTK_WINDOW(window));  // libquillon: feedback over this window
    gtk_window_present(GTK_WINDOW(window));
    while (g_list_model_get_n_items(gtk_window_get_toplevels()) > 0) g_main_context_iteration(nullptr, TRUE);
    return 0;
}
