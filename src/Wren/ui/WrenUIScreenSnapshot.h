// What is on screen as a bitmap: a view (or a view controller's view), every window of the
// application composed, the status bar band cut off a full-screen image, and a save of an
// image into the user's pictures folder (Linux has no photo album). Main thread only.
#pragma once

#include <quillon/ui.h>

#include <functional>
#include <memory>
#include <string>

class WrenUIScreenSnapshot {
public:
    using WindowFilter = std::function<bool(const quillon::ui::Window&)>;

    // The view drawn at its bounds size and the screen's scale; opaque when the view is.
    static std::shared_ptr<quillon::ui::Image> screenSnapshotByView(const std::shared_ptr<quillon::ui::View>& view);
    static std::shared_ptr<quillon::ui::Image> screenSnapshotByTopController(
        const std::shared_ptr<quillon::ui::ViewController>& controller);
    // The main screen made of every window the filter accepts, back to front, on a
    // transparent background. Windows on another screen are left out.
    static std::shared_ptr<quillon::ui::Image> screenSnapshot(const WindowFilter& filter);
    // A new image (scale 1) without the status bar's band at the top: the band is the status
    // bar height times 3 on a 1242 x 2208 pixel screen mode and times 2 on any other.
    static std::shared_ptr<quillon::ui::Image> cutStatusBarHeightForImage(const std::shared_ptr<quillon::ui::Image>& image);
    // Writes the image without its status bar band as a PNG file into the pictures folder
    // (xdg-user-dir PICTURES, else ~/Pictures), from the main run loop; returns at once.
    static void saveToImageLibraryByImage(const std::shared_ptr<quillon::ui::Image>& image);
    // Renders the view and saves it like saveToImageLibraryByImage.
    static void saveToImageLibraryByView(const std::shared_ptr<quillon::ui::View>& view);

    // The folder the saves go to (made when missing at save time).
    static std::string picturesDirectory();
};
