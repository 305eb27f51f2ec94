// JPEG (libjpeg-turbo), PNG (Cairo) and GIF (giflib) for the toolkit's images.
#include "quillon/ui/Image.h"

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

namespace quillon::ui {

namespace {

constexpr std::size_t kMaxPixelBytes = ImageSource::kMaxPixelBytes;

bool fitsLimit(std::size_t w, std::size_t h, std::size_t frames = 1) {
    if (w == 0 || h == 0) return false;
    return w * h <= kMaxPixelBytes / 4 / std::max<std::size_t>(frames, 1);
}

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

cairo_surface_t* decodeJpegRaw(const unsigned char* data, std::size_t size) {
    jpeg_decompress_struct info;
    JpegError error;
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
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || !fitsLimit(info.image_width, info.image_height)) {
        jpeg_destroy_decompress(&info);
        return nullptr;
    }
    info.out_color_space = JCS_EXT_BGRA;
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
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return surface;
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

cairo_surface_t* decodePng(const Bytes& data) {
    // The IHDR chunk comes first: refuse oversized images before anything is allocated.
    if (data.size() < 24 || !fitsLimit(bigEndian32(&data[16]), bigEndian32(&data[20]))) return nullptr;
    PngReader reader{&data, 0};
    cairo_surface_t* s = cairo_image_surface_create_from_png_stream(pngRead, &reader);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    if (cairo_image_surface_get_format(s) != CAIRO_FORMAT_ARGB32) {
        // Grey, RGB24 or A8 PNGs: redraw as ARGB32 so that every image has one pixel format.
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

struct GifFrameInfo {
    int disposal = DISPOSAL_UNSPECIFIED;
    int transparent = NO_TRANSPARENT_COLOR;
    int delayCentiseconds = 0;
    bool hasControl = false;
};

// Decodes and composites every frame. False when the data is not a GIF or breaks the pixel
// limit; a file damaged after some frames keeps the frames before the damage.
bool decodeGif(const Bytes& data, std::vector<std::shared_ptr<Image>>& frames, std::vector<ImageProperties>& properties) {
    GifReader reader{&data, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, gifRead, &error);
    if (!gif) return false;
    struct Closer {
        GifFileType* gif;
        ~Closer() {
            int e;
            DGifCloseFile(gif, &e);
        }
    } closer{gif};

    const int W = gif->SWidth, H = gif->SHeight;
    if (!fitsLimit(W, H)) return false;
    const std::size_t pixels = static_cast<std::size_t>(W) * H;
    std::vector<std::uint32_t> canvas(pixels, 0), previous;
    std::vector<GifByteType> line;
    GifFrameInfo control;
    bool damaged = false;
    int prevDisposal = DISPOSAL_UNSPECIFIED;
    int prevX = 0, prevY = 0, prevW = 0, prevH = 0;

    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) {
            damaged = true;
            break;
        }
        if (type == TERMINATE_RECORD_TYPE) break;
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) {
                damaged = true;
                break;
            }
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
                GraphicsControlBlock gcb;
                DGifExtensionToGCB(ext[0], ext + 1, &gcb);
                control.disposal = gcb.DisposalMode;
                control.transparent = gcb.TransparentColor;
                control.delayCentiseconds = gcb.DelayTime;
                control.hasControl = true;
            }
            while (ext) {
                if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) {
                    damaged = true;
                    break;
                }
            }
            if (damaged) break;
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif) == GIF_ERROR) {
            damaged = true;
            break;
        }
        // Every composited frame is kept: the frames so far plus this one must fit the limit.
        if (!fitsLimit(W, H, frames.size() + 1)) return false;
        const GifImageDesc& d = gif->Image;
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;

        // Dispose of the previous frame as it asked.
        if (prevDisposal == DISPOSE_BACKGROUND) {
            for (int y = std::max(prevY, 0); y < std::min(prevY + prevH, H); ++y)
                for (int x = std::max(prevX, 0); x < std::min(prevX + prevW, W); ++x) canvas[y * W + x] = 0;
        } else if (prevDisposal == DISPOSE_PREVIOUS && !previous.empty()) {
            canvas = previous;
        }
        if (control.disposal == DISPOSE_PREVIOUS) previous = canvas;

        if (d.Width <= 0 || d.Height <= 0) {
            damaged = true;
            break;
        }
        line.resize(static_cast<std::size_t>(d.Width));
        static const int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
        int passes = d.Interlace ? 4 : 1;
        bool ok = true;
        for (int pass = 0; pass < passes && ok; ++pass) {
            int start = d.Interlace ? kStart[pass] : 0, step = d.Interlace ? kStep[pass] : 1;
            for (int row = start; row < d.Height; row += step) {
                if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) {
                    ok = false;
                    break;
                }
                int y = d.Top + row;
                if (y < 0 || y >= H) continue;
                for (int col = 0; col < d.Width; ++col) {
                    int x = d.Left + col;
                    if (x < 0 || x >= W) continue;
                    int index = line[col];
                    if (index == control.transparent || !map || index >= map->ColorCount) continue;
                    const GifColorType& c = map->Colors[index];
                    canvas[static_cast<std::size_t>(y) * W + x] =
                        0xFF000000u | (std::uint32_t(c.Red) << 16) | (std::uint32_t(c.Green) << 8) | c.Blue;
                }
            }
        }
        if (!ok) {
            damaged = true;
            break;
        }
        cairo_surface_t* s = newSurface(W, H);
        if (!s) return false;
        unsigned char* dst = cairo_image_surface_get_data(s);
        int stride = cairo_image_surface_get_stride(s);
        for (int y = 0; y < H; ++y)
            std::memcpy(dst + static_cast<std::size_t>(y) * stride, canvas.data() + static_cast<std::size_t>(y) * W,
                        static_cast<std::size_t>(W) * 4);
        frames.push_back(adopt(s, 1.0, false));
        ImageProperties p;
        p.pixelWidth = W;
        p.pixelHeight = H;
        p.gif = GifProperties{};
        if (control.hasControl) {
            double seconds = control.delayCentiseconds / 100.0;
            p.gif->unclampedDelayTime = seconds;
            // As browsers show them: 0 and 1 centisecond read as 0.1 s.
            p.gif->delayTime = control.delayCentiseconds <= 1 ? 0.1 : seconds;
        }
        properties.push_back(p);

        prevDisposal = control.disposal;
        prevX = d.Left, prevY = d.Top, prevW = d.Width, prevH = d.Height;
        control = GifFrameInfo{};
    }
    return !(damaged && frames.empty());
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

std::shared_ptr<Image> decodeImage(const Bytes& data, double scale) {
    if (looksLikePNG(data)) return adopt(decodePng(data), scale, false);
    if (looksLikeJPEG(data)) return adopt(decodeJpegRaw(data.data(), data.size()), scale, true);
    if (looksLikeGIF(data)) {
        auto source = ImageSource::createWithData(data);
        auto first = source ? source->createImageAtIndex(0) : nullptr;
        return first ? first->withScale(scale) : nullptr;
    }
    return nullptr;
}

std::shared_ptr<ImageSource> ImageSource::createWithData(const Bytes& data) {
    std::shared_ptr<ImageSource> source(new ImageSource);
    if (looksLikeGIF(data)) {
        source->gif_ = true;
        if (!decodeGif(data, source->frames_, source->properties_)) return nullptr;
        return source;
    }
    auto image = decodeImage(data, 1.0);
    if (!image) return nullptr;
    source->frames_.push_back(image);
    source->properties_.push_back(ImageProperties{image->pixelWidth(), image->pixelHeight(), std::nullopt});
    return source;
}

std::shared_ptr<ImageSource> ImageSource::createWithFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return createWithData(data);
}

std::shared_ptr<Image> ImageSource::createImageAtIndex(std::size_t index) const {
    return index < frames_.size() ? frames_[index] : nullptr;
}

std::optional<ImageProperties> ImageSource::propertiesAtIndex(std::size_t index) const {
    if (index >= properties_.size()) return std::nullopt;
    return properties_[index];
}

}  // namespace quillon::ui
