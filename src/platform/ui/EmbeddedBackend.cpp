// The embedded screen: the picture goes to a host toolkit's window and the input comes from
// it (quillon/ui/Embedding.h). Inside the toolkit a stand-in window takes the host window's
// place: it is the key window the feedback flow presents from, and it shows the host's own
// picture as the backdrop the alert and the prompts are drawn over. The host is told to show
// its window only while something is on screen besides that backdrop.
#include <cairo.h>

#include <cmath>
#include <cstring>

#include "platform/foundation/Logger.h"
#include "platform/ui/Backend.h"
#include "platform/ui/Embedded.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewInternals.h"
#include "quillon/ui/Application.h"
#include "quillon/ui/Embedding.h"
#include "quillon/ui/EventScript.h"
#include "quillon/ui/Image.h"
#include "quillon/ui/ImageView.h"
#include "quillon/ui/MotionManager.h"
#include "quillon/ui/Screen.h"
#include "quillon/ui/ViewController.h"
#include "quillon/ui/Window.h"

namespace quillon::ui::detail {
namespace {

// Stands for the host window: its view shows the host's picture.
class HostStandInController final : public ViewController {
public:
    void loadView() override {
        auto backdrop = std::make_shared<ImageView>(Screen::main().bounds());
        backdrop->setContentMode(ContentMode::ScaleToFill);
        backdrop->setUserInteractionEnabled(true);
        setView(backdrop);
    }
    std::shared_ptr<ImageView> backdrop() { return std::static_pointer_cast<ImageView>(view()); }
};

struct Embedding {
    bool started = false;
    QNEmbedHost host{};
    Size points;
    double scale = 1;
    cairo_surface_t* picture = nullptr;  // the last presented screen (a reference)
    bool shown = false;
    std::shared_ptr<Window> standIn;
    std::shared_ptr<HostStandInController> standInController;
    std::shared_ptr<Image> supplied;  // filled by quillon_embed_supply_screenshot
};

Embedding& embedding() {
    static auto* e = new Embedding;
    return *e;
}

bool usable(double width, double height, double scale) {
    return std::isfinite(width) && std::isfinite(height) && std::isfinite(scale) && width >= 1 && height >= 1 &&
           scale > 0 && scale <= 8 && width * scale <= 16384 && height * scale <= 16384;
}

// Something besides the backdrop: another window (an alert), a presented screen, or a view
// over the backdrop (a prompt).
bool screensUp() {
    Embedding& e = embedding();
    for (const auto& window : Application::shared().windows())
        if (window != e.standIn && !window->isHidden()) return true;
    if (!e.standInController) return false;
    if (e.standInController->presentedViewController()) return true;
    return e.standInController->isViewLoaded() && !e.standInController->view()->subviews().empty();
}

class EmbeddedBackend final : public Backend {
public:
    const char* name() const override { return "embedded"; }

    void prepare() override {
        Embedding& e = embedding();
        const bool up = screensUp();
        if (up == e.shown) return;
        e.shown = up;
        // The backdrop is what the host shows at the moment the screens come up.
        if (e.standInController) e.standInController->backdrop()->setImage(up ? hostScreenshot() : nullptr);
        changed_ = true;
    }

    void present(cairo_surface_t* screen) override {
        Embedding& e = embedding();
        if (e.picture != screen) {
            if (e.picture) cairo_surface_destroy(e.picture);
            e.picture = cairo_surface_reference(screen);
        }
        if (changed_) {
            changed_ = false;
            if (e.host.screens_shown) e.host.screens_shown(e.host.user, e.shown ? 1 : 0);
        }
        if (e.host.needs_display) e.host.needs_display(e.host.user);
    }

private:
    bool changed_ = false;
};

void showStandIn() {
    Embedding& e = embedding();
    if (e.standIn) {
        e.standIn->setFrame(Screen::main().bounds());
        return;
    }
    e.standIn = std::make_shared<Window>(Screen::main().bounds());
    e.standInController = std::make_shared<HostStandInController>();
    e.standIn->setRootViewController(e.standInController);
    e.standIn->makeKeyAndVisible();
}

}  // namespace

std::unique_ptr<Backend> makeEmbeddedBackend(Size, double, std::string& why) {
    if (!embedding().started) {
        why = "no host window embeds the screen";
        return nullptr;
    }
    return std::make_unique<EmbeddedBackend>();
}

bool embeddedScreen(Size& points, double& scale) {
    const Embedding& e = embedding();
    if (!e.started) return false;
    points = e.points;
    scale = e.scale;
    return true;
}

std::shared_ptr<Image> hostScreenshot() {
    Embedding& e = embedding();
    if (!e.started || !e.host.take_screenshot) return nullptr;
    e.supplied.reset();
    e.host.take_screenshot(e.host.user);
    return std::move(e.supplied);
}

bool isEmbeddingStandIn(const Object* object) {
    const Embedding& e = embedding();
    if (!object || !e.standIn) return false;
    if (object == e.standIn.get() || object == e.standInController.get()) return true;
    return e.standInController->isViewLoaded() && object == e.standInController->view().get();
}

bool isOutsideHostTrace(const Object* object) {
    return isEmbeddingStandIn(object) || (embedding().started && screensUp());
}

}  // namespace quillon::ui::detail

using namespace quillon::ui;

extern "C" int quillon_embed_start(const QNEmbedHost* host, double width, double height, double scale) {
    if (!host || !detail::usable(width, height, scale)) return 0;
    detail::Embedding& e = detail::embedding();
    e.host = *host;
    e.points = {width, height};
    e.scale = scale;
    e.started = true;
    // A host window has no phone status bar over it.
    Application::shared().setStatusBarHidden(true);
    detail::showStandIn();
    detail::requestBackend("embedded");
    return 1;
}

extern "C" void quillon_embed_set_screen(double width, double height, double scale) {
    detail::Embedding& e = detail::embedding();
    if (!e.started || !detail::usable(width, height, scale)) return;
    e.points = {width, height};
    e.scale = scale;
    detail::showStandIn();
    detail::markScreenDirty();
}

extern "C" void quillon_embed_set_device_screen(double width, double height, double scale) {
    if (!detail::usable(width, height, scale)) return;
    platform::ui::Screen::main().setBounds(width, height);
    platform::ui::Screen::main().setScale(scale);
}

extern "C" int quillon_embed_picture(QNEmbedPicture* picture) {
    const detail::Embedding& e = detail::embedding();
    if (!picture || !e.picture) return 0;
    picture->pixels = cairo_image_surface_get_data(e.picture);
    picture->width = cairo_image_surface_get_width(e.picture);
    picture->height = cairo_image_surface_get_height(e.picture);
    picture->stride = cairo_image_surface_get_stride(e.picture);
    picture->scale = e.scale;
    return 1;
}

extern "C" int quillon_embed_screens_shown(void) {
    return detail::embedding().started && detail::screensUp() ? 1 : 0;
}

extern "C" void quillon_embed_supply_screenshot(const QNEmbedPicture* picture) {
    if (!picture || !picture->pixels || picture->width < 1 || picture->height < 1 || picture->width > 16384 ||
        picture->height > 16384 || picture->stride < picture->width * 4 || !(picture->scale > 0))
        return;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, picture->width, picture->height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return;
    }
    cairo_surface_flush(surface);
    unsigned char* to = cairo_image_surface_get_data(surface);
    const int toStride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < picture->height; ++y)
        std::memcpy(to + static_cast<std::size_t>(y) * toStride,
                    picture->pixels + static_cast<std::size_t>(y) * picture->stride,
                    static_cast<std::size_t>(picture->width) * 4);
    cairo_surface_mark_dirty(surface);
    detail::embedding().supplied = Image::withSurface(surface, picture->scale);
    cairo_surface_destroy(surface);
}

extern "C" void quillon_embed_touch(int phase, int finger, double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y)) return;
    switch (phase) {
        case QN_EMBED_TOUCH_BEGAN:
            input::touchDown(finger, x, y, 1);
            break;
        case QN_EMBED_TOUCH_MOVED:
            input::touchMove(finger, x, y);
            break;
        case QN_EMBED_TOUCH_ENDED:
            input::touchUp(finger, x, y);
            break;
        default:
            break;
    }
}

extern "C" void quillon_embed_text(const char* utf8) {
    if (utf8 && *utf8) input::typeText(utf8);
}

extern "C" void quillon_embed_key(int key) {
    if (key == QN_EMBED_KEY_RETURN) input::pressReturn();
    if (key == QN_EMBED_KEY_BACKSPACE) input::pressBackspace();
}

extern "C" void quillon_embed_shake(void) {
    MotionManager::injectAccelerometerSample(3.0, 0.0, 0.0);
}

extern "C" void quillon_embed_swipe(int direction) {
    Point v;
    switch (direction) {
        case QN_EMBED_SWIPE_RIGHT:
            v = {1, 0};
            break;
        case QN_EMBED_SWIPE_LEFT:
            v = {-1, 0};
            break;
        case QN_EMBED_SWIPE_UP:
            v = {0, -1};
            break;
        case QN_EMBED_SWIPE_DOWN:
            v = {0, 1};
            break;
        default:
            return;
    }
    // Over the stand-in window, where the flow's own swipe recogniser is attached when a
    // swipe way of feedback is listening.
    if (!quillon_embed_screens_shown()) input::swipe(v, 3);
}
