// Images: immutable bitmaps with a size in points and a scale (pixels per point), held by
// std::shared_ptr. Pixels are 32-bit premultiplied ARGB in native byte order (Cairo's
// ARGB32), rows `stride()` bytes apart. An animated image carries its frames and a duration.
//
// Image sources open encoded data (GIF, PNG, JPEG) and give its frame count, each frame as
// a fully composited image, and each frame's properties (the GIF delays).
//
// Codecs: JPEG through libjpeg-turbo (RGB, greyscale, CMYK and YCCK, EXIF orientation
// applied), PNG through Cairo (libpng), GIF through giflib.
#pragma once

#include "quillon/ui/Color.h"
#include "quillon/ui/Export.h"
#include "quillon/ui/Geometry.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct _cairo_surface cairo_surface_t;

namespace quillon::ui {

using Bytes = std::vector<std::uint8_t>;

class QUILLON_UI_EXPORT Image {
public:
    // A new transparent bitmap of `pixelWidth` x `pixelHeight`; its point size is the pixel
    // size divided by `scale`. Null when the size is not positive or too large.
    static std::shared_ptr<Image> create(int pixelWidth, int pixelHeight, double scale = 1.0, bool opaque = false);
    // Takes a reference to an ARGB32 image surface (the surface is not copied: do not draw
    // into it afterwards).
    static std::shared_ptr<Image> withSurface(cairo_surface_t* surface, double scale, bool opaque = false);
    // Decodes PNG, JPEG or GIF data (a GIF gives its first frame) at the given scale.
    static std::shared_ptr<Image> imageWithData(const Bytes& data, double scale = 1.0);
    static std::shared_ptr<Image> imageWithContentsOfFile(const std::string& path);
    // A resource by name: the main bundle (the executable's directory) first, then the
    // library's installed data folder (<prefix>/share/quillon/), then the folders named in
    // QUILLON_UI_RESOURCE_PATH (colon-separated; the build tree sets it for its programs).
    // A name ending in "@2x.png"/"@3x.png" gets that scale; others scale 1.
    static std::shared_ptr<Image> imageNamed(const std::string& name);
    // The path imageNamed would read, or nullopt.
    static std::optional<std::string> pathForResource(const std::string& name);
    // An animated image of `images` (each shown duration / count seconds), the size and
    // scale of the first. Null without images.
    static std::shared_ptr<Image> animatedImageWithImages(std::vector<std::shared_ptr<Image>> images, double duration);

    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    Size size() const;  // points
    double scale() const { return scale_; }
    int pixelWidth() const;
    int pixelHeight() const;
    bool isOpaque() const { return opaque_; }
    int stride() const;
    const std::uint8_t* bytes() const;
    // One pixel, un-premultiplied, as a colour (transparent outside the bitmap).
    Color pixelAt(int x, int y) const;
    cairo_surface_t* surface() const { return surface_; }

    // The pixels inside `pixelRect` as a new image of scale 1 (the platform's crop of a
    // bitmap); null when the rectangle does not meet the bitmap.
    std::shared_ptr<Image> croppedToPixelRect(const Rect& pixelRect) const;
    // The same pixels with another scale.
    std::shared_ptr<Image> withScale(double scale) const;

    // Animated images: the frames (empty for a still image) and the total duration.
    const std::vector<std::shared_ptr<Image>>& images() const { return images_; }
    double duration() const { return duration_; }

private:
    Image(cairo_surface_t* surface, double scale, bool opaque);
    cairo_surface_t* surface_ = nullptr;
    double scale_ = 1.0;
    bool opaque_ = false;
    std::vector<std::shared_ptr<Image>> images_;
    double duration_ = 0;
};

// Properties of one frame of an image source. `gif` is present for GIF frames; its delays
// are in seconds. The clamped delay is what browsers show (a delay of 0 or 0.01 s reads as
// 0.1 s); the unclamped one is the file's own value. A frame without a graphic control
// extension has neither.
struct GifProperties {
    std::optional<double> delayTime;
    std::optional<double> unclampedDelayTime;
};
struct ImageProperties {
    int pixelWidth = 0;
    int pixelHeight = 0;
    std::optional<GifProperties> gif;
};

// Encoded image data opened for reading frame by frame.
//
// GIF frames are composited as a browser shows them (transparency, disposal to background and
// to previous), one at a time when asked for: the source keeps each frame's palette indexes
// (one byte a pixel, only the part inside the canvas) and composites them in order, so asking
// for the frames in order costs one frame each. What a GIF source holds - the indexes, the
// palettes, one record per frame, and the canvas twice (the working canvas and the copy that
// disposal to previous restores) - must fit in kMaxPixelBytes (64 MiB), or the GIF is refused.
// A 45-frame 660 x 666 animation holds about 24 MB. Each image createImageAtIndex returns is a
// new canvas-sized bitmap (width x height x 4 bytes) owned by the caller: a caller that keeps
// every frame (an animated image) holds count() of them and should bound that itself.
//
// A PNG or JPEG gives one frame (JPEG turned upright by its EXIF orientation). A PNG whose
// chunks declare more bytes than the data holds is refused before anything is allocated.
//
// Decoding never ends the process: data too large for the limit, and an allocation that
// fails while decoding, give null (with one console line saying why), never a partial source.
// A GIF damaged after some frames keeps the frames before the damage; a GIF without any frame
// is not an image (null), so every source has count() >= 1.
class QUILLON_UI_EXPORT ImageSource {
public:
    static constexpr std::size_t kMaxPixelBytes = 64u * 1024 * 1024;

    // Null when the data is not an image this toolkit can open (or is refused).
    static std::shared_ptr<ImageSource> createWithData(const Bytes& data);
    static std::shared_ptr<ImageSource> createWithFile(const std::string& path);
    ~ImageSource();

    std::size_t count() const;
    // Frame `index` as a full-canvas image of scale 1; null out of range (or when memory for
    // the bitmap runs out). Safe to call from several threads.
    std::shared_ptr<Image> createImageAtIndex(std::size_t index) const;
    // nullopt out of range.
    std::optional<ImageProperties> propertiesAtIndex(std::size_t index) const;
    bool isGIF() const { return animation_ != nullptr; }

    struct Animation;

private:
    ImageSource();
    std::shared_ptr<Image> still_;
    std::unique_ptr<Animation> animation_;
};

// JPEG of the image at `quality` in 0…1 (alpha is flattened onto black); empty on failure.
QUILLON_UI_EXPORT Bytes encodeJPEG(const Image& image, double quality);
// PNG of the image (with its alpha); empty on failure.
QUILLON_UI_EXPORT Bytes encodePNG(const Image& image);
QUILLON_UI_EXPORT bool writePNG(const Image& image, const std::string& path);
// PNG, JPEG or GIF (first frame); null when the data cannot be decoded (as ImageSource).
QUILLON_UI_EXPORT std::shared_ptr<Image> decodeImage(const Bytes& data, double scale = 1.0);

}  // namespace quillon::ui
