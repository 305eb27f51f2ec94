// JPEG (libjpeg-turbo), PNG (Cairo) and GIF (giflib) for the toolkit's images.
#include "quillon/ui/Image.h"

#include "platform/foundation/Logger.h"

#include <cairo.h>
#include <gif_lib.h>
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <new>

namespace quillon::ui {

namespace {

constexpr std::size_t kMaxPixelBytes = ImageSource::kMaxPixelBytes;

// Whether one bitmap of w x h fits the pixel limit.
bool fitsLimit(std::size_t w, std::size_t h) { return w > 0 && h > 0 && w * h <= kMaxPixelBytes / 4; }

cairo_surface_t* newSurface(int w, int h) {
    if (!fitsLimit(w, h)) return nullptr;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    return s;
}

std::shared_ptr<Image> adopt(cairo_surface_t* s, double scale, bool opaque) {
    if (!s) return nullptr;
    cairo_surface_mark_dirty(s);
    auto image = Image::withSurface(s, scale, opaque);
    cairo_surface_destroy(s);
    return image;
}

bool looksLikePNG(const Bytes& d) { return d.size() >= 8 && std::memcmp(d.data(), "\x89PNG\r\n\x1a\n", 8) == 0; }
bool looksLikeJPEG(const Bytes& d) { return d.size() >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF; }
bool looksLikeGIF(const Bytes& d) { return d.size() >= 6 && (std::memcmp(d.data(), "GIF87a", 6) == 0 || std::memcmp(d.data(), "GIF89a", 6) == 0); }

// ------------------------------------------------------------------ JPEG

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void jpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }
void jpegQuiet(j_common_ptr, int) {}
void jpegNoOutput(j_common_ptr) {}

// Kept free of C++ objects with destructors, since libjpeg's errors leave by longjmp.
bool encodeJpegRaw(const unsigned char* pixels, int w, int h, int stride, int quality, unsigned char** out,
                   unsigned long* outSize) {
    jpeg_compress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = jpegFail;
    error.mgr.output_message = jpegNoOutput;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, out, outSize);
    info.image_width = static_cast<JDIMENSION>(w);
    info.image_height = static_cast<JDIMENSION>(h);
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;  // Cairo's ARGB32 in memory on a little-endian machine
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.dct_method = JDCT_ISLOW;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + static_cast<std::size_t>(info.next_scanline) * stride);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

// What the EXIF orientation (1-8) of the APP1 markers says, 1 when none is found.
int exifOrientation(jpeg_decompress_struct& info) {
    for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next) {
        const unsigned char* p = m->data;
        const std::size_t n = m->data_length;
        if (m->marker != JPEG_APP0 + 1 || n < 14 || std::memcmp(p, "Exif\0\0", 6) != 0) continue;
        const unsigned char* tiff = p + 6;
        const std::size_t size = n - 6;
        const bool big = tiff[0] == 'M' && tiff[1] == 'M';
        if (!big && !(tiff[0] == 'I' && tiff[1] == 'I')) continue;
        auto u16 = [&](std::size_t at) {
            return big ? unsigned(tiff[at] << 8 | tiff[at + 1]) : unsigned(tiff[at + 1] << 8 | tiff[at]);
        };
        auto u32 = [&](std::size_t at) { return big ? (u16(at) << 16 | u16(at + 2)) : (u16(at + 2) << 16 | u16(at)); };
        const std::size_t ifd = u32(4);
        if (ifd > size || size - ifd < 2) continue;
        const std::size_t entries = u16(ifd);
        for (std::size_t i = 0; i < entries && ifd + 2 + (i + 1) * 12 <= size; ++i) {
            const std::size_t e = ifd + 2 + i * 12;
            if (u16(e) != 0x0112 || u16(e + 2) != 3) continue;  // Orientation, SHORT
            const unsigned value = u16(e + 8);
            return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
        }
    }
    return 1;
}

// CMYK (or YCCK, which libjpeg turns into CMYK) to opaque BGRA in place. Files with an Adobe
// marker (Photoshop's) store the inks inverted, 255 meaning none.
void cmykToBgra(unsigned char* row, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x, row += 4) {
        unsigned c = row[0], m = row[1], y = row[2], k = row[3];
        if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        row[0] = static_cast<unsigned char>((y * k + 127) / 255);
        row[1] = static_cast<unsigned char>((m * k + 127) / 255);
        row[2] = static_cast<unsigned char>((c * k + 127) / 255);
        row[3] = 255;
    }
}

// A progressive file of thousands of scans costs a full pass over the image each: refused.
constexpr int kMaxJpegScans = 1000;
void jpegProgress(j_common_ptr common) {
    auto* info = reinterpret_cast<j_decompress_ptr>(common);
    if (info->input_scan_number > kMaxJpegScans) std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

// Kept free of C++ objects with destructors, since libjpeg's errors leave by longjmp.
// `orientation` receives the EXIF orientation, which the caller applies.
cairo_surface_t* decodeJpegRaw(const unsigned char* data, std::size_t size, int* orientation) {
    jpeg_decompress_struct info;
    JpegError error;
    jpeg_progress_mgr progress;
    cairo_surface_t* volatile surface = nullptr;
    info.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = jpegFail;
    error.mgr.emit_message = jpegQuiet;
    error.mgr.output_message = jpegNoOutput;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        if (surface) cairo_surface_destroy(surface);
        return nullptr;
    }
    jpeg_create_decompress(&info);
    // libjpeg's own buffers: a progressive file keeps every coefficient (two bytes a sample,
    // up to four samples a pixel), which for an image at the pixel limit is twice its bytes.
    info.mem->max_memory_to_use = static_cast<long>(2 * kMaxPixelBytes);
    progress.progress_monitor = jpegProgress;
    info.progress = &progress;
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        return nullptr;
    }
    if (!fitsLimit(info.image_width, info.image_height)) {
        jpeg_destroy_decompress(&info);
        platform::log("Image: JPEG data not decoded: it needs more than 64 MiB");
        return nullptr;
    }
    *orientation = exifOrientation(info);
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(&info);
    surface = newSurface(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
    if (!surface) {
        jpeg_destroy_decompress(&info);
        return nullptr;
    }
    unsigned char* pixels = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels + static_cast<std::size_t>(info.output_scanline) * stride;
        jpeg_read_scanlines(&info, &row, 1);
        if (cmyk) cmykToBgra(row, info.output_width, info.saw_Adobe_marker);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return surface;
}

// The image turned upright as EXIF `orientation` (2-8) says, as image viewers show it.
cairo_surface_t* orient(cairo_surface_t* s, int orientation) {
    if (!s || orientation < 2 || orientation > 8) return s;
    const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    const bool swap = orientation >= 5;
    cairo_surface_t* out = newSurface(swap ? h : w, swap ? w : h);
    if (!out) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    const unsigned char* src = cairo_image_surface_get_data(s);
    const int srcStride = cairo_image_surface_get_stride(s);
    unsigned char* dst = cairo_image_surface_get_data(out);
    const int dstStride = cairo_image_surface_get_stride(out);
    const int dw = cairo_image_surface_get_width(out), dh = cairo_image_surface_get_height(out);
    for (int dy = 0; dy < dh; ++dy) {
        auto* row = reinterpret_cast<std::uint32_t*>(dst + static_cast<std::size_t>(dy) * dstStride);
        for (int dx = 0; dx < dw; ++dx) {
            int sx = dx, sy = dy;
            switch (orientation) {
                case 2: sx = w - 1 - dx; break;                   // mirrored
                case 3: sx = w - 1 - dx, sy = h - 1 - dy; break;  // upside down
                case 4: sy = h - 1 - dy; break;                   // mirrored upside down
                case 5: sx = dy, sy = dx; break;                  // transposed
                case 6: sx = dy, sy = h - 1 - dx; break;          // turned a quarter clockwise
                case 7: sx = w - 1 - dy, sy = h - 1 - dx; break;  // transversed
                case 8: sx = w - 1 - dy, sy = dx; break;          // turned a quarter anticlockwise
            }
            std::memcpy(&row[dx], src + static_cast<std::size_t>(sy) * srcStride + static_cast<std::size_t>(sx) * 4, 4);
        }
    }
    cairo_surface_destroy(s);
    return out;
}

// ------------------------------------------------------------------ PNG

struct PngReader {
    const Bytes* data;
    std::size_t offset;
};

cairo_status_t pngRead(void* closure, unsigned char* out, unsigned int length) {
    auto* r = static_cast<PngReader*>(closure);
    if (r->offset + length > r->data->size()) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, r->data->data() + r->offset, length);
    r->offset += length;
    return CAIRO_STATUS_SUCCESS;
}

cairo_status_t pngWrite(void* closure, const unsigned char* data, unsigned int length) {
    auto* out = static_cast<Bytes*>(closure);
    out->insert(out->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

// Whether every chunk up to IEND lies inside the data. libpng allocates a chunk's declared
// length before reading it (a 57-byte file can declare a 1 GiB text chunk), so a file whose
// chunks claim more than it holds is refused first; it could not be decoded anyway.
bool pngChunksFit(const Bytes& data) {
    std::size_t at = 8;
    while (data.size() - at >= 12) {
        const std::size_t length = bigEndian32(&data[at]);
        if (length > data.size() - at - 12) return false;
        if (std::memcmp(&data[at + 4], "IEND", 4) == 0) return true;
        at += 12 + length;
    }
    return false;
}

cairo_surface_t* decodePng(const Bytes& data) {
    // The IHDR chunk comes first: refuse oversized images before anything is allocated.
    if (data.size() < 24 || bigEndian32(&data[16]) == 0 || bigEndian32(&data[20]) == 0) return nullptr;
    if (!fitsLimit(bigEndian32(&data[16]), bigEndian32(&data[20]))) {
        platform::log("Image: PNG data not decoded: it needs more than 64 MiB");
        return nullptr;
    }
    if (!pngChunksFit(data)) {
        platform::log("Image: PNG data not decoded: a chunk claims more bytes than the data holds");
        return nullptr;
    }
    PngReader reader{&data, 0};
    cairo_surface_t* s = cairo_image_surface_create_from_png_stream(pngRead, &reader);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    {
        // Redrawn as ARGB32 so that every image has one pixel format (grey, RGB24 or A8 PNGs),
        // and without the PNG bytes Cairo's reader attaches: a surface carrying them cannot be
        // marked as changed (Cairo aborts).
        cairo_surface_t* argb = newSurface(cairo_image_surface_get_width(s), cairo_image_surface_get_height(s));
        if (argb) {
            cairo_t* cr = cairo_create(argb);
            cairo_set_source_surface(cr, s, 0, 0);
            cairo_paint(cr);
            cairo_destroy(cr);
        }
        cairo_surface_destroy(s);
        return argb;
    }
    return s;
}

// ------------------------------------------------------------------ GIF

struct GifReader {
    const Bytes* data;
    std::size_t offset;
};

int gifRead(GifFileType* gif, GifByteType* out, int length) {
    auto* r = static_cast<GifReader*>(gif->UserData);
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max(length, 0)), r->data->size() - r->offset);
    std::memcpy(out, r->data->data() + r->offset, n);
    r->offset += n;
    return static_cast<int>(n);
}

}  // namespace

struct ImageSource::Animation {
    // One GIF frame as read: its rectangle clipped to the canvas and where its palette indexes
    // and palette are kept.
    struct Frame {
        int left = 0, top = 0, width = 0, height = 0;
        std::size_t pixels = 0;       // offset into Animation::pixels
        std::uint32_t palette = 0;    // offset into Animation::palettes
        std::uint16_t colors = 0;     // palette entries (0: no palette, nothing is drawn)
        std::int16_t transparent = NO_TRANSPARENT_COLOR;
        std::uint16_t delay = 0;      // centiseconds
        std::uint8_t disposal = DISPOSAL_UNSPECIFIED;
        bool hasControl = false;
    };

    int width = 0, height = 0;
    std::vector<Frame> frames;
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint32_t> palettes;  // opaque ARGB entries

    // Composition, frame after frame: `canvas` shows frames [0, next).
    std::mutex mutex;
    std::vector<std::uint32_t> canvas, previous;
    std::size_t next = 0;
    std::shared_ptr<Image> last;

    std::size_t heldBytes() const {
        return 2 * static_cast<std::size_t>(width) * height * 4 + pixels.size() + palettes.size() * 4 +
               frames.size() * sizeof(Frame);
    }
    void composite(const Frame& f);
    std::shared_ptr<Image> frame(std::size_t index);
};

void ImageSource::Animation::composite(const Frame& f) {
    if (next > 0) {
        // Dispose of the previous frame as it asked.
        const Frame& p = frames[next - 1];
        if (p.disposal == DISPOSE_BACKGROUND) {
            for (int y = p.top; y < p.top + p.height; ++y)
                std::fill_n(canvas.begin() + static_cast<std::ptrdiff_t>(y) * width + p.left, p.width, 0u);
        } else if (p.disposal == DISPOSE_PREVIOUS && !previous.empty()) {
            canvas = previous;
        }
    }
    if (f.disposal == DISPOSE_PREVIOUS) previous = canvas;
    const std::uint8_t* in = pixels.data() + f.pixels;
    const std::uint32_t* colors = palettes.data() + f.palette;
    for (int y = 0; y < f.height; ++y) {
        std::uint32_t* out = canvas.data() + static_cast<std::size_t>(f.top + y) * width + f.left;
        for (int x = 0; x < f.width; ++x) {
            const int index = *in++;
            if (index != f.transparent && index < f.colors) out[x] = colors[index];
        }
    }
    ++next;
}

std::shared_ptr<Image> ImageSource::Animation::frame(std::size_t index) {
    std::lock_guard<std::mutex> lock(mutex);
    if (last && next == index + 1) return last;
    last.reset();
    if (index + 1 < next || canvas.empty()) {
        canvas.assign(static_cast<std::size_t>(width) * height, 0);
        previous.clear();
        next = 0;
    }
    while (next <= index) composite(frames[next]);
    cairo_surface_t* s = newSurface(width, height);
    if (!s) return nullptr;
    unsigned char* dst = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < height; ++y)
        std::memcpy(dst + static_cast<std::size_t>(y) * stride, canvas.data() + static_cast<std::size_t>(y) * width,
                    static_cast<std::size_t>(width) * 4);
    last = adopt(s, 1.0, false);
    return last;
}

namespace {

using GifFrame = ImageSource::Animation::Frame;

enum class GifResult { Ok, NotGif, Refused, OutOfMemory };

// Reads every frame's indexes. A file damaged after some frames keeps the frames before the
// damage; a frame cut short is dropped.
GifResult readGif(const Bytes& data, ImageSource::Animation& a) {
    GifReader reader{&data, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, gifRead, &error);
    if (!gif) return error == D_GIF_ERR_NOT_ENOUGH_MEM ? GifResult::OutOfMemory : GifResult::NotGif;
    struct Closer {
        GifFileType* gif;
        ~Closer() {
            int e;
            DGifCloseFile(gif, &e);
        }
    } closer{gif};
    a.width = gif->SWidth, a.height = gif->SHeight;
    if (a.width <= 0 || a.height <= 0) return GifResult::NotGif;
    if (!fitsLimit(a.width, a.height) || a.heldBytes() > kMaxPixelBytes) return GifResult::Refused;

    // Palettes as opaque ARGB; the global one first (offset 0).
    auto addPalette = [&a](const ColorMapObject* map) {
        const auto offset = static_cast<std::uint32_t>(a.palettes.size());
        for (int i = 0; map && i < map->ColorCount; ++i) {
            const GifColorType& c = map->Colors[i];
            a.palettes.push_back(0xFF000000u | (std::uint32_t(c.Red) << 16) | (std::uint32_t(c.Green) << 8) | c.Blue);
        }
        return offset;
    };
    const std::uint16_t globalColors = gif->SColorMap ? static_cast<std::uint16_t>(gif->SColorMap->ColorCount) : 0;
    addPalette(gif->SColorMap);

    GifFrame control;
    std::vector<GifByteType> line;
    auto failed = [gif] { return gif->Error == D_GIF_ERR_NOT_ENOUGH_MEM ? GifResult::OutOfMemory : GifResult::Ok; };
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return failed();
        if (type == TERMINATE_RECORD_TYPE) return GifResult::Ok;
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) return failed();
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
                GraphicsControlBlock gcb;
                DGifExtensionToGCB(ext[0], ext + 1, &gcb);
                control.disposal = static_cast<std::uint8_t>(gcb.DisposalMode);
                control.transparent = static_cast<std::int16_t>(gcb.TransparentColor);
                control.delay = static_cast<std::uint16_t>(gcb.DelayTime);
                control.hasControl = true;
            }
            while (ext) {
                if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return failed();
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif) == GIF_ERROR) return failed();
        // giflib keeps a record (and a palette copy) of every image read, which this reader
        // never uses: drop it, so that a file of a million frames costs only our own records.
        GifFreeSavedImages(gif);
        gif->ImageCount = 0;
        const GifImageDesc& d = gif->Image;
        if (d.Width <= 0 || d.Height <= 0) return GifResult::Ok;

        GifFrame f = control;
        control = GifFrame{};
        f.left = std::clamp(d.Left, 0, a.width);
        f.top = std::clamp(d.Top, 0, a.height);
        f.width = std::clamp(d.Left + d.Width, 0, a.width) - f.left;
        f.height = std::clamp(d.Top + d.Height, 0, a.height) - f.top;
        const std::size_t area = static_cast<std::size_t>(f.width) * f.height;
        const std::size_t localColors = d.ColorMap ? static_cast<std::size_t>(d.ColorMap->ColorCount) : 0;
        if (a.heldBytes() + area + localColors * 4 + sizeof(GifFrame) > kMaxPixelBytes) return GifResult::Refused;
        const std::size_t palettesBefore = a.palettes.size();
        f.palette = d.ColorMap ? addPalette(d.ColorMap) : 0;
        f.colors = d.ColorMap ? static_cast<std::uint16_t>(localColors) : globalColors;
        f.pixels = a.pixels.size();
        a.pixels.resize(f.pixels + area);

        line.resize(static_cast<std::size_t>(d.Width));
        static const int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
        const int passes = d.Interlace ? 4 : 1;
        for (int pass = 0; pass < passes; ++pass) {
            const int start = d.Interlace ? kStart[pass] : 0, step = d.Interlace ? kStep[pass] : 1;
            for (int row = start; row < d.Height; row += step) {
                if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) {
                    // The frame is cut short: it and what follows are lost.
                    a.pixels.resize(f.pixels);
                    a.palettes.resize(palettesBefore);
                    return failed();
                }
                const int y = d.Top + row;
                if (y < f.top || y >= f.top + f.height || f.width == 0) continue;
                std::memcpy(a.pixels.data() + f.pixels + static_cast<std::size_t>(y - f.top) * f.width,
                            line.data() + (f.left - d.Left), static_cast<std::size_t>(f.width));
            }
        }
        a.frames.push_back(f);
    }
}

}  // namespace

// ------------------------------------------------------------------ public codecs

Bytes encodeJPEG(const Image& image, double quality) {
    if (!image.surface() || image.pixelWidth() <= 0 || image.pixelHeight() <= 0) return {};
    cairo_surface_flush(image.surface());
    int q = static_cast<int>(std::lround(std::clamp(quality, 0.0, 1.0) * 100));
    unsigned char* out = nullptr;
    unsigned long size = 0;
    bool ok = encodeJpegRaw(image.bytes(), image.pixelWidth(), image.pixelHeight(), image.stride(), std::max(q, 1),
                            &out, &size);
    Bytes result;
    if (ok && out) result.assign(out, out + size);
    std::free(out);
    return result;
}

Bytes encodePNG(const Image& image) {
    Bytes out;
    if (!image.surface()) return out;
    if (cairo_surface_write_to_png_stream(image.surface(), pngWrite, &out) != CAIRO_STATUS_SUCCESS) out.clear();
    return out;
}

bool writePNG(const Image& image, const std::string& path) {
    Bytes png = encodePNG(image);
    if (png.empty()) return false;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    return static_cast<bool>(file);
}

namespace {

// One console line for data that decoding refused or could not find memory for.
void refused(const char* kind, const char* why) { platform::logf("Image: %s data not decoded: %s", kind, why); }

std::shared_ptr<Image> decodeStill(const Bytes& data, double scale) {
    if (looksLikePNG(data)) return adopt(decodePng(data), scale, false);
    if (looksLikeJPEG(data)) {
        int orientation = 1;
        cairo_surface_t* s = decodeJpegRaw(data.data(), data.size(), &orientation);
        return adopt(orient(s, orientation), scale, true);
    }
    return nullptr;
}

}  // namespace

std::shared_ptr<Image> decodeImage(const Bytes& data, double scale) {
    if (looksLikeGIF(data)) {
        auto source = ImageSource::createWithData(data);
        auto first = source ? source->createImageAtIndex(0) : nullptr;
        return first ? first->withScale(scale) : nullptr;
    }
    try {
        return decodeStill(data, scale);
    } catch (const std::bad_alloc&) {
        refused(looksLikePNG(data) ? "PNG" : "JPEG", "out of memory");
        return nullptr;
    }
}

ImageSource::ImageSource() = default;
ImageSource::~ImageSource() = default;

std::shared_ptr<ImageSource> ImageSource::createWithData(const Bytes& data) {
    try {
        std::shared_ptr<ImageSource> source(new ImageSource);
        if (!looksLikeGIF(data)) {
            source->still_ = decodeStill(data, 1.0);
            return source->still_ ? source : nullptr;
        }
        source->animation_ = std::make_unique<Animation>();
        switch (readGif(data, *source->animation_)) {
            case GifResult::Refused: refused("GIF", "it needs more than 64 MiB"); return nullptr;
            case GifResult::OutOfMemory: refused("GIF", "out of memory"); return nullptr;
            case GifResult::NotGif: return nullptr;
            case GifResult::Ok: break;
        }
        if (source->animation_->frames.empty()) return nullptr;
        source->animation_->frames.shrink_to_fit();
        source->animation_->pixels.shrink_to_fit();
        return source;
    } catch (const std::bad_alloc&) {
        refused(looksLikeGIF(data) ? "GIF" : looksLikePNG(data) ? "PNG" : "JPEG", "out of memory");
        return nullptr;
    }
}

std::shared_ptr<ImageSource> ImageSource::createWithFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return createWithData(data);
}

std::size_t ImageSource::count() const { return animation_ ? animation_->frames.size() : 1; }

std::shared_ptr<Image> ImageSource::createImageAtIndex(std::size_t index) const {
    if (index >= count()) return nullptr;
    if (!animation_) return still_;
    try {
        return animation_->frame(index);
    } catch (const std::bad_alloc&) {
        refused("GIF", "out of memory for a frame");
        return nullptr;
    }
}

std::optional<ImageProperties> ImageSource::propertiesAtIndex(std::size_t index) const {
    if (index >= count()) return std::nullopt;
    if (!animation_) return ImageProperties{still_->pixelWidth(), still_->pixelHeight(), std::nullopt};
    const Animation::Frame& f = animation_->frames[index];
    ImageProperties p{animation_->width, animation_->height, GifProperties{}};
    if (f.hasControl) {
        const double seconds = f.delay / 100.0;
        p.gif->unclampedDelayTime = seconds;
        // As browsers show them: 0 and 1 centisecond read as 0.1 s.
        p.gif->delayTime = f.delay <= 1 ? 0.1 : seconds;
    }
    return p;
}

}  // namespace quillon::ui
