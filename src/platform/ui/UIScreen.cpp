// The toolkit's main screen: its figures (shared with the device records through the
// platform layer's screen), the display pass on the main run loop and the back-end chain.
#include "quillon/ui/Screen.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Logger.h"
#include "platform/runtime/RunLoop.h"
#include "platform/ui/Backend.h"
#include "platform/ui/Embedded.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewInternals.h"
#include "quillon/ui/Application.h"
#include "quillon/ui/GraphicsContext.h"
#include "quillon/ui/Image.h"
#include "quillon/ui/Window.h"

#include <cairo.h>

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace quillon::ui {

namespace {

constexpr double kStatusBarHeight = 20;

struct Display {
    bool scheduled = false;
    bool chosen = false;
    std::unique_ptr<detail::Backend> backend;
    cairo_surface_t* surface = nullptr;
    std::uint64_t passes = 0;
};

Display& display() {
    static auto* d = new Display;
    return *d;
}

constexpr detail::BackendEntry kBackends[] = {
    {"embedded", detail::makeEmbeddedBackend, "host window"},
    {"sdl", detail::makeSdlBackend, "SDL window"},
    {"headless", detail::makeHeadlessBackend, "headless screen"},
};

std::string& requestOverride() {
    static auto* name = new std::string;
    return *name;
}

std::string requestedBackend() {
    if (!requestOverride().empty()) return requestOverride();
    if (const char* env = std::getenv("QUILLON_UI_BACKEND"); env && *env) return env;
    return platform::Bundle::main().infoString("QuillonUIBackend").value_or("headless");
}

void chooseBackend() {
    Display& d = display();
    if (d.chosen) return;
    d.chosen = true;
    d.backend.reset();
    Rect b = Screen::main().bounds();
    const std::string requested = requestedBackend();
    const detail::BackendEntry* entry = nullptr;
    for (const auto& e : kBackends)
        if (requested == e.name) entry = &e;
    if (!entry) {
        platform::logf("quillon-ui: unknown screen back end \"%s\"; using the headless screen", requested.c_str());
    } else {
        std::string why;
        d.backend = entry->make(b.size, Screen::main().scale(), why);
        if (d.backend) {
            if (requested != "headless")
                platform::logf("quillon-ui: %s of %g x %g points at scale %g", entry->what, b.width(), b.height(),
                               Screen::main().scale());
            return;
        }
        platform::logf("quillon-ui: no %s (%s); using the headless screen", entry->what, why.c_str());
    }
    std::string why;
    d.backend = detail::makeHeadlessBackend(b.size, Screen::main().scale(), why);
}

// The status bar as the screen shows it over the application: the time and a battery.
void drawStatusBar(cairo_t* cr, double width) {
    GraphicsContext context(cr);
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char clock[16];
    std::strftime(clock, sizeof clock, "%H:%M", &local);
    TextAttributes attributes;
    attributes.font = Font::boldSystemFontOfSize(12);
    attributes.alignment = TextAlignment::Center;
    double h = sizeOfText(clock, attributes).height;
    context.drawText(clock, Rect(0, (kStatusBarHeight - h) / 2, width, h), attributes);
    context.setStrokeColor(Color::blackColor());
    context.setFillColor(Color::blackColor());
    context.setLineWidth(1);
    context.strokeRect(Rect(width - 32.5, 6.5, 22, 9));
    context.fillRect(Rect(width - 31, 8, 17, 6));
    context.fillRect(Rect(width - 10, 9, 2, 4));
}

// Draws every visible window, back to front, and the status bar into `cr` (in points).
void composeScreen(cairo_t* cr) {
    cairo_save(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    for (const auto& window : Application::shared().windows()) {
        if (window->isHidden() || !window->isOnMainScreen()) continue;
        detail::layoutTree(*window);
        Rect f = window->presentationFrame();
        cairo_save(cr);
        cairo_translate(cr, f.x(), f.y());
        detail::render(*window, cr, true);
        cairo_restore(cr);
    }
    if (!Application::shared().isStatusBarHidden()) drawStatusBar(cr, Screen::main().bounds().width());
}

cairo_surface_t* screenSurface() {
    Display& d = display();
    Size pixels = Screen::main().currentModeSize();
    int w = static_cast<int>(std::lround(pixels.width)), h = static_cast<int>(std::lround(pixels.height));
    if (d.surface && (cairo_image_surface_get_width(d.surface) != w || cairo_image_surface_get_height(d.surface) != h)) {
        cairo_surface_destroy(d.surface);
        d.surface = nullptr;
    }
    if (!d.surface) d.surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    return d.surface;
}

void displayPass() {
    Display& d = display();
    d.scheduled = false;
    auto windows = Application::shared().windows();
    bool anyVisible = false;
    for (const auto& w : windows) anyVisible = anyVisible || !w->isHidden();
    if (!anyVisible) return;  // nothing on screen: nothing to draw
    chooseBackend();
    d.backend->prepare();
    cairo_surface_t* surface = screenSurface();
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, Screen::main().scale(), Screen::main().scale());
    composeScreen(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    ++d.passes;
    d.backend->present(surface);
}

class HeadlessBackend final : public detail::Backend {
public:
    const char* name() const override { return "headless"; }
    void present(cairo_surface_t*) override {}
};

}  // namespace

namespace detail {
std::unique_ptr<Backend> makeHeadlessBackend(Size, double, std::string&) { return std::make_unique<HeadlessBackend>(); }

void requestBackend(const char* name) {
    requestOverride() = name ? name : "";
    display().chosen = false;
    markScreenDirty();
}

void markScreenDirty() {
    Display& d = display();
    if (d.scheduled) return;
    d.scheduled = true;
    platform::RunLoop::main().perform(displayPass);
}
}  // namespace detail

Screen& Screen::main() {
    static auto* screen = new Screen;
    return *screen;
}

Rect Screen::bounds() const {
    Size embedded;
    double scale = 0;
    if (detail::embeddedScreen(embedded, scale)) return Rect(0, 0, embedded.width, embedded.height);
    auto b = platform::ui::Screen::main().bounds();
    return Rect(0, 0, b.width, b.height);
}

double Screen::scale() const {
    Size embedded;
    double scale = 0;
    if (detail::embeddedScreen(embedded, scale)) return scale;
    return platform::ui::Screen::main().scale();
}

Rect Screen::applicationFrame() const {
    Rect b = bounds();
    double bar = Application::shared().isStatusBarHidden() ? 0 : kStatusBarHeight;
    return Rect(0, bar, b.width(), b.height() - bar);
}

Size Screen::currentModeSize() const {
    Rect b = bounds();
    return {b.width() * scale(), b.height() * scale()};
}

std::string Screen::backendName() const {
    const Display& d = display();
    return d.backend ? d.backend->name() : "headless";
}

void Screen::setBounds(Size size, double scale) {
    platform::ui::Screen::main().setBounds(size.width, size.height);
    platform::ui::Screen::main().setScale(scale);
    detail::markScreenDirty();
}

void Screen::reset() {
    platform::ui::Screen::main().reset();
    detail::markScreenDirty();
}

std::shared_ptr<Image> Screen::capture() {
    ImageContext context(bounds().size, true, scale());
    composeScreen(context.context().cairo());
    return context.image();
}

void Screen::displayIfNeeded() {
    if (display().scheduled) displayPass();
}

std::uint64_t Screen::displayCount() const { return display().passes; }

}  // namespace quillon::ui
