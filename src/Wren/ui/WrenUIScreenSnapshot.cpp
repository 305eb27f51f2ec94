#include "Wren/ui/WrenUIScreenSnapshot.h"

#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/Logger.h"
#include "platform/ui/Embedded.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/stat.h>
#include <sys/wait.h>

namespace ui = quillon::ui;

std::shared_ptr<ui::Image> WrenUIScreenSnapshot::screenSnapshotByView(const std::shared_ptr<ui::View>& view) {
    if (!view) return nullptr;
    ui::ImageContext image(view->bounds().size, view->isOpaque(), 0.0);
    if (!ui::currentContext()) return nullptr;
    view->renderInContext(image.context());
    return image.image();
}

std::shared_ptr<ui::Image> WrenUIScreenSnapshot::screenSnapshotByTopController(
    const std::shared_ptr<ui::ViewController>& controller) {
    // An embedding host's window is drawn by the host's toolkit: the host supplies its picture.
    if (ui::detail::isEmbeddingStandIn(controller.get()))
        if (std::shared_ptr<ui::Image> host = ui::detail::hostScreenshot()) return host;
    return controller ? screenSnapshotByView(controller->view()) : nullptr;
}

std::shared_ptr<ui::Image> WrenUIScreenSnapshot::screenSnapshot(const WindowFilter& filter) {
    ui::Screen& screen = ui::Screen::main();
    ui::ImageContext image(screen.bounds().size, false, 0.0);
    if (!ui::currentContext()) return nullptr;
    ui::GraphicsContext& context = image.context();
    for (const std::shared_ptr<ui::Window>& window : ui::Application::shared().windows()) {
        if (!window || !filter || !filter(*window)) continue;
        if (!window->isOnMainScreen()) continue;
        const ui::Rect bounds = window->bounds();
        const ui::Point center = window->center();
        context.saveGState();
        context.translateCTM(center.x, center.y);
        context.concatCTM(window->transform());
        // The layer's anchor point is its middle.
        context.translateCTM(-bounds.size.width * 0.5, -bounds.size.height * 0.5);
        window->renderInContext(context);
        context.restoreGState();
    }
    return image.image();
}

std::shared_ptr<ui::Image> WrenUIScreenSnapshot::cutStatusBarHeightForImage(const std::shared_ptr<ui::Image>& image) {
    if (!image) return nullptr;
    const float statusBarHeight = static_cast<float>(ui::Application::shared().statusBarFrame().size.height);
    const ui::Size mode = ui::Screen::main().currentModeSize();
    const double factor = (mode.width == 1242 && mode.height == 2208) ? 3 : 2;
    const double band = statusBarHeight * factor;
    return image->croppedToPixelRect(ui::Rect(0, band, image->pixelWidth(), image->pixelHeight() - band));
}

std::string WrenUIScreenSnapshot::picturesDirectory() {
    const char* home = std::getenv("HOME");
    const std::string homeDir = home ? home : "";
    std::string answer;
    // xdg-user-dir answers the home directory itself when no pictures folder is configured.
    if (FILE* pipe = popen("xdg-user-dir PICTURES 2>/dev/null", "r")) {
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, pipe)) answer += buffer;
        const int status = pclose(pipe);
        if (status != 0) answer.clear();
    }
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '/')) answer.pop_back();
    if (!answer.empty() && answer != homeDir && answer.front() == '/') return answer;
    return homeDir + "/Pictures";
}

namespace {

void writeToPictures(const std::shared_ptr<ui::Image>& image) {
    if (!image) return;
    const std::string dir = WrenUIScreenSnapshot::picturesDirectory();
    if (!platform::fs::fileExists(dir) && !platform::fs::createDirectories(dir, 0755)) {
        platform::log(platform::format("[WRENSHAKE ERROR] cannot create %s", dir.c_str()));
        return;
    }
    std::string stamp = platform::formatLocalDateTime(platform::now());
    for (char& c : stamp)
        if (c == ':') c = '-';
    std::string path;
    for (int n = 1; n < 1000; ++n) {
        path = platform::format("%s/Snapshot %s%s.png", dir.c_str(), stamp.c_str(),
                                n == 1 ? "" : platform::format(" (%d)", n).c_str());
        if (!platform::fs::fileExists(path)) break;
    }
    if (!ui::writePNG(*image, path)) platform::log(platform::format("[WRENSHAKE ERROR] cannot write %s", path.c_str()));
}

}  // namespace

void WrenUIScreenSnapshot::saveToImageLibraryByImage(const std::shared_ptr<ui::Image>& image) {
    std::shared_ptr<ui::Image> cut = cutStatusBarHeightForImage(image);
    if (!cut) return;
    ui::performOnMainThread([cut] { writeToPictures(cut); });
}

void WrenUIScreenSnapshot::saveToImageLibraryByView(const std::shared_ptr<ui::View>& view) {
    if (!view) return;
    std::shared_ptr<ui::Image> image;
    {
        ui::ImageContext context(view->bounds().size, false, 0.0);
        if (!ui::currentContext()) return;
        context.context().saveGState();
        view->renderInContext(context.context());
        context.context().restoreGState();
        image = context.image();
    }
    saveToImageLibraryByImage(image);
}
