// The shake chord to the feedback alert painted in the GTK 4 adapter's window over a real
// GTK 4 window (run it on a display: xvfb-run), and the edit screen's Submit to the report's
// arrival at a loopback server, each beside the same step on the headless screen measured
// first in the same run (a process embeds once and for good). The chord's handler updates the
// screen's figures and sends the shake; this sends the same shake. A host as an application
// is one: only the shared libraries and their public headers. The bench runs a copy of itself
// from a bundle of its own, whose Info.plist points every server host at its loopback server.
#include "../BenchTiming.h"

#include <netinet/in.h>
#include <poll.h>
#include <quillon/quillon.h>
#include <quillon/ui.h>
#include <quillon/ui/Embedding.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>
#include <wren/Wren.h>
#include <wren/WrenGtk.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
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

// The loopback server the bundle's hosts point at: answers a screenshot upload as the file
// store does and a report as the feedback server does, and notes when each report's body has
// arrived. One request a connection; anything else is answered 404.
struct Server {
    int fd = -1;
    std::atomic<int> reports{0};
    std::atomic<std::int64_t> lastReport{0};  // steady clock, ns
    std::thread thread;

    void start(int listening) {
        fd = listening;
        thread = std::thread([this] {
            for (int c; (c = accept(fd, nullptr, nullptr)) >= 0; close(c)) serve(c);
        });
    }
    void stop() {
        shutdown(fd, SHUT_RDWR);
        thread.join();
        close(fd);
    }
    void serve(int c) {
        std::string in;
        char buf[65536];
        std::size_t end = std::string::npos, length = 0;
        while (true) {
            if (end == std::string::npos && (end = in.find("\r\n\r\n")) != std::string::npos) {
                const auto at = in.find("Content-Length:");
                if (at != std::string::npos && at < end) length = std::strtoul(in.c_str() + at + 15, nullptr, 10);
            }
            if (end != std::string::npos && in.size() >= end + 4 + length) break;
            const ssize_t n = read(c, buf, sizeof buf);
            if (n <= 0 || in.size() > (64u << 20)) return;
            in.append(buf, static_cast<std::size_t>(n));
        }
        std::string body = "{}";
        const char* status = "404 Not Found";
        if (in.rfind("POST /cpi/pre ", 0) == 0) {
            lastReport = Clock::now().time_since_epoch().count();
            ++reports;
            body = R"({"code":0})", status = "200 OK";
        } else if (in.rfind("POST /fs.action ", 0) == 0) {
            body = R"({"code":0,"data":{"fileinfo":{"fileUrl":"http://127.0.0.1/files/1.jpg"}}})", status = "200 OK";
        }
        const std::string out = std::string("HTTP/1.1 ") + status + "\r\nContent-Type: application/json\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        if (write(c, out.data(), out.size()) < 0) return;
    }
};

// A bundle of the bench's own in a new HOME, with the loopback server's socket left open for
// the copy run from there; returns only on failure.
int runFromBundle(char** argv) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0)
        return 1;
    char home[] = "/tmp/quillon-gtk-bench-XXXXXX";
    if (!mkdtemp(home)) return 1;
    const std::filesystem::path bundle = std::filesystem::path(home) / "bundle";
    const std::string host = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    std::error_code error;
    std::filesystem::create_directories(bundle, error);
    std::filesystem::copy_file("/proc/self/exe", bundle / "gtk_feedback_bench", error);
    if (error) return 1;
    std::ofstream plist(bundle / "Info.plist");
    plist << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
             "<key>CFBundleIdentifier</key><string>org.example.gtkbench</string>\n";
    for (const char* key : {"QuillonCrashHost", "QuillonConfigHost", "WrenFeedbackHost", "WrenFileStoreHost"})
        plist << "<key>" << key << "</key><string>" << host << "</string>\n";
    plist << "</dict>\n</plist>\n";
    plist.close();
    setenv("HOME", home, 1);
    setenv("GTK_BENCH_SERVER_FD", std::to_string(fd).c_str(), 1);
    const std::string exe = (bundle / "gtk_feedback_bench").string();
    execv(exe.c_str(), argv);
    return 1;
}

// On the edit screen of `width` x `height` points: a tap on the picture (the drawing hint
// goes away), the comment card from the bottom bar's 备注, a comment, then 提交 at the top
// right. Returns when 提交 is released.
void writeAndSubmit(double width, double height, const std::function<void(double)>& wait) {
    auto tap = [&](double x, double y) {
        quillon_embed_touch(QN_EMBED_TOUCH_BEGAN, 1, x, y);
        quillon_embed_touch(QN_EMBED_TOUCH_ENDED, 1, x, y);
    };
    tap(20, height - 120);
    wait(0.5);
    tap(width / 2, height - 22);
    wait(0.5);
    quillon_embed_text("Total says 96.50, the expenses add up to 86.50");
    wait(0.1);
    tap(width - 28, 22);
}

// Shake, "我要反馈Bug", and once the edit screen's flash is gone a comment and 提交: the
// milliseconds from 提交's release to the report's arrival, `runs` times. `until` runs the
// main loop until its condition holds or `seconds` passed, and says which.
bool measureSubmits(Server& server, int runs, ui::Size screen, std::vector<double>& out,
                    const std::function<void(double)>& wait,
                    const std::function<bool(const std::function<bool()>&, double)>& until) {
    for (int i = 0; i < runs; ++i) {
        if (!until([] { return ui::AlertView::visibleAlert() == nullptr; }, 5)) return false;
        quillon_embed_shake();
        if (!until([] { return ui::AlertView::visibleAlert() != nullptr; }, 5)) return false;
        ui::AlertView::visibleAlert()->pressButton(2);
        wait(1.2);
        const int reports = server.reports;
        writeAndSubmit(screen.width, screen.height, wait);
        const auto start = Clock::now().time_since_epoch().count();
        if (!until([&] { return server.reports > reports; }, 10)) return false;
        out.push_back(static_cast<double>(server.lastReport - start) / 1e6);
        wait(1.5);  // the "sent" prompt's second
    }
    return true;
}

}  // namespace

int main(int, char** argv) {
    if (!gtk_init_check()) {
        std::printf("gtk_feedback_bench: no display (run it under xvfb-run)\n");
        return 0;
    }
    const char* serverFd = getenv("GTK_BENCH_SERVER_FD");
    if (!serverFd) return runFromBundle(argv);
    Server server;
    server.start(std::atoi(serverFd));
    const std::string home = getenv("HOME");
    ui::MotionManager::setSimulated(true);
    WrenConfig config = WrenConfig::defaultConfig();
    config.reportOnlyWIFI = false;
    Wren::init("bench-app-key", config);
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
    const int submitRuns = 10;
    std::vector<double> headlessSubmit, gtkSubmit;
    const bool headlessSent = measureSubmits(
        server, submitRuns, ui::Screen::main().bounds().size, headlessSubmit, [](double s) { QNRunMainLoopFor(s); },
        [](const std::function<bool()>& done, double seconds) {
            const auto end = Clock::now() + std::chrono::duration<double>(seconds);
            runLibraryUntil([&] { return done() || Clock::now() > end; });
            return done();
        });
    screen->setHidden(true);
    screen.reset();  // the flow presents its edit screen over the key window: the host stand-in from here

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
    // GLib's loop as the application runs it, woken each millisecond to look at the server.
    const guint tick = g_timeout_add(1, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    auto gtkUntil = [](const std::function<bool()>& done, double seconds) {
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        iterateUntil([&] { return done() || Clock::now() > end; });
        return done();
    };
    GtkWidget* content = gtk_window_get_child(GTK_WINDOW(window));
    const ui::Size area{static_cast<double>(gtk_widget_get_width(content)), static_cast<double>(gtk_widget_get_height(content))};
    const bool gtkSent = measureSubmits(
        server, submitRuns, area, gtkSubmit, [&](double s) { gtkUntil([] { return false; }, s); }, gtkUntil);
    g_source_remove(tick);
    std::printf("chord to alert painted in the GTK 4 feedback window (360x520): median %.2f ms\n", median(gtk));
    std::printf("baseline: shake to alert drawn on the headless screen (750x1334): median %.2f ms\n", median(headless));
    std::printf("difference: %+.2f ms (goal: at most 50 ms above the headless screen)\n",
                median(gtk) - median(headless));
    if (!headlessSent || !gtkSent) {
        std::printf("submit: no report arrived at the loopback server (headless %zu, GTK 4 %zu of %d)\n",
                    headlessSubmit.size(), gtkSubmit.size(), submitRuns);
    } else {
        std::printf("提交 to the report on the wire, GTK 4 feedback window (%gx%g): median %.2f ms\n", area.width,
                    area.height, median(gtkSubmit));
        std::printf("baseline: 提交 to the report on the wire, headless screen: median %.2f ms\n", median(headlessSubmit));
        std::printf("difference: %+.2f ms\n", median(gtkSubmit) - median(headlessSubmit));
    }
    server.stop();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return 0;
}
