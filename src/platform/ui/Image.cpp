#include "quillon/ui/Image.h"

#include "platform/foundation/Bundle.h"
#include "quillon/ui/Screen.h"

#include <cairo.h>
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace quillon::ui {

namespace {

cairo_surface_t* newSurface(int w, int h) {
    if (w <= 0 || h <= 0 || static_cast<std::size_t>(w) * h * 4 > ImageSource::kMaxPixelBytes * 4) return nullptr;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    return s;
}

bool readFile(const std::string& path, Bytes& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool fileExists(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return static_cast<bool>(in);
}

// <prefix>/share/quillon as seen from where this library was loaded (<prefix>/lib or
// <prefix>/lib/<multiarch>).
std::vector<std::string> installedDataFolders() {
    std::vector<std::string> folders;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&installedDataFolders), &info) && info.dli_fname) {
        std::string dir = info.dli_fname;
        dir = dir.substr(0, dir.rfind('/'));
        for (int up = 0; up < 2 && !dir.empty(); ++up) {
            dir = dir.substr(0, dir.rfind('/'));
            folders.push_back(dir + "/share/quillon");
        }
    }
#ifdef QUILLON_UI_DATADIR
    folders.push_back(QUILLON_UI_DATADIR);
#endif
    return folders;
}

}  // namespace

// ------------------------------------------------------------------ Image

Image::Image(cairo_surface_t* surface, double scale, bool opaque)
    : surface_(surface), scale_(scale > 0 ? scale : 1.0), opaque_(opaque) {}

Image::~Image() {
    if (surface_) cairo_surface_destroy(surface_);
}

std::shared_ptr<Image> Image::create(int pixelWidth, int pixelHeight, double scale, bool opaque) {
    cairo_surface_t* s = newSurface(pixelWidth, pixelHeight);
    if (!s) return nullptr;
    if (opaque) {
        cairo_t* cr = cairo_create(s);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_paint(cr);
        cairo_destroy(cr);
    }
    return std::shared_ptr<Image>(new Image(s, scale, opaque));
}

std::shared_ptr<Image> Image::withSurface(cairo_surface_t* surface, double scale, bool opaque) {
    if (!surface || cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE ||
        cairo_image_surface_get_format(surface) != CAIRO_FORMAT_ARGB32)
        return nullptr;
    return std::shared_ptr<Image>(new Image(cairo_surface_reference(surface), scale, opaque));
}

std::shared_ptr<Image> Image::imageWithData(const Bytes& data, double scale) { return decodeImage(data, scale); }

std::shared_ptr<Image> Image::imageWithContentsOfFile(const std::string& path) {
    Bytes data;
    if (!readFile(path, data)) return nullptr;
    double scale = 1.0;
    if (path.size() > 7 && path.compare(path.size() - 7, 3, "@2x") == 0) scale = 2.0;
    if (path.size() > 7 && path.compare(path.size() - 7, 3, "@3x") == 0) scale = 3.0;
    return decodeImage(data, scale);
}

std::optional<std::string> Image::pathForResource(const std::string& name) {
    if (name.empty() || name.find("..") != std::string::npos) return std::nullopt;
    std::vector<std::string> folders{platform::Bundle::main().bundlePath()};
    for (auto& f : installedDataFolders()) folders.push_back(f);
    if (const char* extra = std::getenv("QUILLON_UI_RESOURCE_PATH")) {
        std::string list = extra;
        std::size_t start = 0;
        while (start <= list.size()) {
            std::size_t end = list.find(':', start);
            if (end == std::string::npos) end = list.size();
            if (end > start) folders.push_back(list.substr(start, end - start));
            start = end + 1;
        }
    }
    for (const auto& folder : folders) {
        std::string path = folder + "/" + name;
        if (fileExists(path)) return path;
    }
    return std::nullopt;
}

std::shared_ptr<Image> Image::imageNamed(const std::string& name) {
    auto path = pathForResource(name);
    return path ? imageWithContentsOfFile(*path) : nullptr;
}

std::shared_ptr<Image> Image::animatedImageWithImages(std::vector<std::shared_ptr<Image>> images, double duration) {
    images.erase(std::remove(images.begin(), images.end(), nullptr), images.end());
    if (images.empty()) return nullptr;
    auto& first = images.front();
    std::shared_ptr<Image> animated(new Image(cairo_surface_reference(first->surface_), first->scale_, first->opaque_));
    animated->images_ = std::move(images);
    animated->duration_ = duration;
    return animated;
}

Size Image::size() const { return {pixelWidth() / scale_, pixelHeight() / scale_}; }
int Image::pixelWidth() const { return surface_ ? cairo_image_surface_get_width(surface_) : 0; }
int Image::pixelHeight() const { return surface_ ? cairo_image_surface_get_height(surface_) : 0; }
int Image::stride() const { return surface_ ? cairo_image_surface_get_stride(surface_) : 0; }
const std::uint8_t* Image::bytes() const { return surface_ ? cairo_image_surface_get_data(surface_) : nullptr; }

Color Image::pixelAt(int x, int y) const {
    if (!surface_ || x < 0 || y < 0 || x >= pixelWidth() || y >= pixelHeight()) return Color::clearColor();
    cairo_surface_flush(surface_);
    std::uint32_t p;
    std::memcpy(&p, bytes() + static_cast<std::size_t>(y) * stride() + static_cast<std::size_t>(x) * 4, 4);
    double a = (p >> 24) & 0xff;
    if (a == 0) return Color::clearColor();
    return {((p >> 16) & 0xff) / a, ((p >> 8) & 0xff) / a, (p & 0xff) / a, a / 255.0};
}

std::shared_ptr<Image> Image::croppedToPixelRect(const Rect& pixelRect) const {
    Rect r = pixelRect.intersection(Rect(0, 0, pixelWidth(), pixelHeight()));
    int x0 = static_cast<int>(std::floor(r.x())), y0 = static_cast<int>(std::floor(r.y()));
    int w = static_cast<int>(std::ceil(r.maxX())) - x0, h = static_cast<int>(std::ceil(r.maxY())) - y0;
    cairo_surface_t* s = newSurface(w, h);
    if (!s) return nullptr;
    cairo_surface_flush(surface_);
    unsigned char* dst = cairo_image_surface_get_data(s);
    int dstStride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < h; ++y)
        std::memcpy(dst + y * dstStride, bytes() + static_cast<std::size_t>(y0 + y) * stride() + x0 * 4,
                    static_cast<std::size_t>(w) * 4);
    cairo_surface_mark_dirty(s);
    return std::shared_ptr<Image>(new Image(s, 1.0, opaque_));
}

std::shared_ptr<Image> Image::withScale(double scale) const {
    std::shared_ptr<Image> image(new Image(cairo_surface_reference(surface_), scale, opaque_));
    image->images_ = images_;
    image->duration_ = duration_;
    return image;
}

}  // namespace quillon::ui
