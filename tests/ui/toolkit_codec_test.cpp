// JPEG, PNG and GIF: what comes back out of what goes in, GIF frames composited as a browser
// shows them, CMYK and EXIF-oriented JPEGs, and the limits that keep a small hostile file from
// allocating without bound or ending the process.
#include <quillon/ui.h>

#include "Wren/ui/ImageAnimatedGIF.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include <jpeglib.h>  // after <cstdio>, which it needs

using namespace quillon::ui;

// The sanitizers reserve terabytes of shadow memory, which no address limit leaves room for.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define UNDER_SANITIZER 1
#endif
#endif

namespace {

struct Frame {
    int left, top, width, height;
    std::vector<GifByteType> pixels;  // palette indexes: 0 red, 1 green, 2 blue, 3 white
    int disposal = DISPOSAL_UNSPECIFIED;
    int delay = 10;
    int transparent = NO_TRANSPARENT_COLOR;
    bool control = true;
};

int writeBytes(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

Bytes makeGif(int width, int height, const std::vector<Frame>& frames) {
    Bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, writeBytes, &error);
    GifColorType colors[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    ColorMapObject* map = GifMakeMapObject(4, colors);
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, width, height, 2, 0, map);
    for (const auto& f : frames) {
        if (f.control) {
            GraphicsControlBlock gcb{f.disposal, false, f.delay, f.transparent};
            GifByteType ext[4];
            EGifGCBToExtension(&gcb, ext);
            EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext);
        }
        EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, false, nullptr);
        for (int y = 0; y < f.height; ++y)
            EGifPutLine(gif, const_cast<GifByteType*>(f.pixels.data() + y * f.width), f.width);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

Frame fill(int left, int top, int w, int h, GifByteType index) {
    return Frame{left, top, w, h, std::vector<GifByteType>(static_cast<size_t>(w * h), index)};
}

// 'r', 'g', 'b', 'w' or '.' (transparent) for a pixel.
char at(const Image& image, int x, int y) {
    Color c = image.pixelAt(x, y);
    if (c.alpha == 0) return '.';
    if (c.red > 0.9 && c.green > 0.9) return 'w';
    return c.red > 0.9 ? 'r' : c.green > 0.9 ? 'g' : c.blue > 0.9 ? 'b' : '?';
}

std::string row(const Image& image, int y) {
    std::string s;
    for (int x = 0; x < image.pixelWidth(); ++x) s += at(image, x, y);
    return s;
}

TEST(Gif, FramesAreCompositedWithTransparencyAndEachDisposal) {
    Frame background = fill(0, 0, 4, 2, 0);            // red everywhere
    Frame square = fill(0, 0, 2, 2, 2);                // blue, then cleared to transparent
    square.disposal = DISPOSE_BACKGROUND;
    Frame dot = fill(3, 1, 1, 1, 1);                   // green
    Frame cover = fill(0, 0, 4, 2, 3);                 // white over all but one transparent pixel, then undone
    cover.pixels[1] = 1;
    cover.transparent = 1;
    cover.disposal = DISPOSE_PREVIOUS;
    Frame last = fill(2, 0, 1, 1, 2);                  // blue
    auto source = ImageSource::createWithData(makeGif(4, 2, {background, square, dot, cover, last}));
    ASSERT_TRUE(source);
    ASSERT_EQ(source->count(), 5u);
    EXPECT_TRUE(source->isGIF());
    EXPECT_EQ(row(*source->createImageAtIndex(1), 0), "bbrr");
    EXPECT_EQ(row(*source->createImageAtIndex(2), 0), "..rr");
    EXPECT_EQ(row(*source->createImageAtIndex(2), 1), "..rg");
    EXPECT_EQ(row(*source->createImageAtIndex(3), 0), "w.ww");  // the transparent pixel shows what was there
    EXPECT_EQ(row(*source->createImageAtIndex(4), 0), "..br");  // back to frame 2, plus the new pixel
    EXPECT_EQ(row(*source->createImageAtIndex(4), 1), "..rg");
    EXPECT_EQ(source->createImageAtIndex(5), nullptr);
}

TEST(Gif, DelaysAreReportedClampedAndUnclamped) {
    Frame zero = fill(0, 0, 1, 1, 0), one = fill(0, 0, 1, 1, 0), slow = fill(0, 0, 1, 1, 0), none = fill(0, 0, 1, 1, 0);
    zero.delay = 0, one.delay = 1, slow.delay = 50, none.control = false;
    auto source = ImageSource::createWithData(makeGif(1, 1, {zero, one, slow, none}));
    ASSERT_TRUE(source);
    auto p0 = source->propertiesAtIndex(0)->gif, p1 = source->propertiesAtIndex(1)->gif;
    auto p2 = source->propertiesAtIndex(2)->gif, p3 = source->propertiesAtIndex(3)->gif;
    ASSERT_TRUE(p0 && p1 && p2 && p3);
    EXPECT_EQ(*p0->unclampedDelayTime, 0.0);
    EXPECT_EQ(*p0->delayTime, 0.1);
    EXPECT_EQ(*p1->unclampedDelayTime, 0.01);
    EXPECT_EQ(*p1->delayTime, 0.1);
    EXPECT_EQ(*p2->delayTime, 0.5);
    EXPECT_FALSE(p3->delayTime.has_value());
    EXPECT_FALSE(p3->unclampedDelayTime.has_value());
    EXPECT_FALSE(source->propertiesAtIndex(4).has_value());
}

TEST(Gif, HeldBytesStayWithin64MiBAndFramesBeforeDamageAreKept) {
    // Two 4096 x 2040 canvases leave 256 KiB of the 64 MiB for the frames' indexes.
    std::vector<Frame> three(3, fill(0, 0, 256, 256, 1)), five(5, fill(0, 0, 256, 256, 1));
    auto fits = ImageSource::createWithData(makeGif(4096, 2040, three));
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->count(), 3u);
    fits.reset();
    EXPECT_EQ(ImageSource::createWithData(makeGif(4096, 2040, five)), nullptr);
    EXPECT_EQ(ImageSource::createWithData(makeGif(8192, 8192, {fill(0, 0, 1, 1, 0)})), nullptr);

    Bytes two = makeGif(2, 2, {fill(0, 0, 2, 2, 0), fill(0, 0, 2, 2, 1)});
    two.resize(two.size() - 8);  // cut into the second frame
    auto damaged = ImageSource::createWithData(two);
    ASSERT_TRUE(damaged);
    EXPECT_EQ(damaged->count(), 1u);
    EXPECT_EQ(ImageSource::createWithData(Bytes{'G', 'I', 'F', '8', '9', 'a', 1}), nullptr);
    EXPECT_EQ(ImageSource::createWithData(Bytes{1, 2, 3}), nullptr);
}

TEST(Gif, ALongAnimationOpensFrameByFrameAndAGifWithoutFramesIsNoImage) {
    // 45 frames of 660 x 666 are 79 MB as bitmaps: the source holds their indexes only.
    std::vector<Frame> frames;
    for (int i = 0; i < 45; ++i) frames.push_back(fill(0, 0, 660, 666, static_cast<GifByteType>(i % 3)));
    frames[44] = fill(100, 100, 10, 10, 3);
    auto source = ImageSource::createWithData(makeGif(660, 666, frames));
    ASSERT_TRUE(source);
    ASSERT_EQ(source->count(), 45u);
    auto last = source->createImageAtIndex(44);
    ASSERT_TRUE(last);
    EXPECT_EQ(at(*last, 105, 105), 'w');
    EXPECT_EQ(at(*last, 5, 5), 'g');  // frame 43 around it
    EXPECT_EQ(at(*source->createImageAtIndex(1), 5, 5), 'g');  // back to an earlier frame
    EXPECT_EQ(at(*source->createImageAtIndex(2), 5, 5), 'b');

    Bytes empty = makeGif(4, 4, {});
    EXPECT_EQ(ImageSource::createWithData(empty), nullptr);
    EXPECT_EQ(decodeImage(empty), nullptr);
}

std::shared_ptr<Image> halves() {
    ImageContext context(Size{375, 667}, true, 0);
    context.context().setFillColor(Color::redColor());
    context.context().fillRect(Rect(0, 0, 375, 333));
    context.context().setFillColor(Color(0, 0, 1, 0.5));
    context.context().fillRect(Rect(0, 333, 375, 334));
    return context.image();
}

TEST(Codecs, JpegAndPngRoundTrip) {
    auto image = halves();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixelWidth(), 750);  // scale 0: the screen's scale
    Bytes jpeg = encodeJPEG(*image, 0.1);
    ASSERT_GT(jpeg.size(), 100u);
    EXPECT_LT(jpeg.size(), 30000u);
    auto back = decodeImage(jpeg);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->pixelWidth(), 750);
    EXPECT_EQ(back->pixelHeight(), 1334);
    EXPECT_GT(back->pixelAt(300, 300).red, 0.8);
    EXPECT_NEAR(back->pixelAt(300, 1000).blue, 0.5, 0.1);  // half blue over the opaque context's black

    Bytes png = encodePNG(*image);
    auto exact = decodeImage(png, 2.0);
    ASSERT_TRUE(exact);
    EXPECT_EQ(exact->size().width, 375);
    EXPECT_EQ(exact->pixelAt(10, 10).red, 1.0);
    EXPECT_NEAR(exact->pixelAt(10, 1200).blue, 0.5, 0.01);
    auto source = ImageSource::createWithData(png);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->count(), 1u);
    EXPECT_FALSE(source->propertiesAtIndex(0)->gif.has_value());
    EXPECT_EQ(decodeImage(Bytes{0xFF, 0xD8, 0xFF, 0}), nullptr);
}

// A 16 x 8 CMYK (or YCCK) JPEG, red on the left and blue on the right, as Photoshop writes it
// (Adobe marker, inks inverted) or without the marker (inks as they are).
Bytes cmykJpeg(J_COLOR_SPACE space, bool adobe) {
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = 16, info.image_height = 8, info.input_components = 4, info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, space);
    info.write_Adobe_marker = adobe;
    jpeg_set_quality(&info, 100, TRUE);
    jpeg_start_compress(&info, TRUE);
    const std::array<unsigned char, 4> red{0, 255, 255, 0}, blue{255, 255, 0, 0};
    std::vector<unsigned char> line;
    for (int x = 0; x < 16; ++x)
        for (unsigned char ink : x < 8 ? red : blue) line.push_back(adobe ? 255 - ink : ink);
    while (info.next_scanline < 8) {
        JSAMPROW row = line.data();
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes bytes(out, out + size);
    std::free(out);
    return bytes;
}

TEST(Jpeg, CmykAndYcckFilesDecodeToTheirColours) {
    for (auto [space, adobe] : {std::pair{JCS_CMYK, true}, std::pair{JCS_YCCK, true}, std::pair{JCS_CMYK, false}}) {
        SCOPED_TRACE(space == JCS_YCCK ? "YCCK" : adobe ? "Adobe CMYK" : "CMYK");
        auto image = decodeImage(cmykJpeg(space, adobe));
        ASSERT_TRUE(image);
        EXPECT_EQ(std::string({at(*image, 2, 4), at(*image, 13, 4)}), "rb");  // away from the blurred edge
    }
}

// The JPEG with an EXIF APP1 marker (orientation only, in either byte order) after SOI.
Bytes withOrientation(Bytes jpeg, int orientation) {
    const bool big = orientation % 2 == 1;
    auto u16 = [big](unsigned v) {
        return big ? Bytes{std::uint8_t(v >> 8), std::uint8_t(v)} : Bytes{std::uint8_t(v), std::uint8_t(v >> 8)};
    };
    Bytes tiff = big ? Bytes{'M', 'M', 0, 42, 0, 0, 0, 8} : Bytes{'I', 'I', 42, 0, 8, 0, 0, 0};
    for (const Bytes& part : {u16(1), u16(0x0112), u16(3), u16(1), u16(0), u16(static_cast<unsigned>(orientation)),
                              u16(0), u16(0), u16(0), u16(0)})
        tiff.insert(tiff.end(), part.begin(), part.end());
    Bytes app1{0xFF, 0xE1};
    Bytes length = u16(static_cast<unsigned>(2 + 6 + tiff.size()));
    if (!big) std::swap(length[0], length[1]);  // marker lengths are always big-endian
    app1.insert(app1.end(), length.begin(), length.end());
    app1.insert(app1.end(), {'E', 'x', 'i', 'f', 0, 0});
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    return jpeg;
}

TEST(Jpeg, ExifOrientationTurnsTheImageUprightAsViewersShowIt) {
    // Red, green / blue, white quadrants as stored.
    ImageContext context(Size{32, 16}, true, 1);
    const std::pair<Rect, Color> quadrants[] = {{Rect(0, 0, 16, 8), Color::redColor()},
                                                {Rect(16, 0, 16, 8), Color::greenColor()},
                                                {Rect(0, 8, 16, 8), Color::blueColor()},
                                                {Rect(16, 8, 16, 8), Color::whiteColor()}};
    for (const auto& [rect, color] : quadrants) {
        context.context().setFillColor(color);
        context.context().fillRect(rect);
    }
    const Bytes stored = encodeJPEG(*context.image(), 1.0);
    // Top row then bottom row of quadrants, for orientations 1 to 8.
    const char* shown[] = {"rg/bw", "gr/wb", "wb/gr", "bw/rg", "rb/gw", "br/wg", "wg/br", "gw/rb"};
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        auto image = decodeImage(withOrientation(stored, o));
        ASSERT_TRUE(image);
        const int w = image->pixelWidth(), h = image->pixelHeight();
        EXPECT_EQ(w, o >= 5 ? 16 : 32);
        EXPECT_EQ(h, o >= 5 ? 32 : 16);
        std::string seen{at(*image, w / 4, h / 4), at(*image, 3 * w / 4, h / 4), '/', at(*image, w / 4, 3 * h / 4),
                         at(*image, 3 * w / 4, 3 * h / 4)};
        EXPECT_EQ(seen, shown[o - 1]);
    }
}

// A GIF of `frames` one-pixel frames written byte by byte (23 bytes a frame).
Bytes onePixelFrames(std::size_t frames) {
    Bytes gif{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 255, 0, 0, 0, 0, 255};
    const std::uint8_t frame[] = {0x21, 0xF9, 4, 0, 10, 0, 0, 0,                    // 0.1 s
                                  0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0,                   // 1 x 1 at 0, 0
                                  2, 2, 0x44, 0x01, 0};                              // clear, 0, end
    gif.reserve(gif.size() + frames * sizeof frame + 1);
    for (std::size_t i = 0; i < frames; ++i) gif.insert(gif.end(), std::begin(frame), std::end(frame));
    gif.push_back(0x3B);
    return gif;
}

// Runs `body` in a child process whose address space is limited to `mib` MiB (0: no limit);
// the child's exit status (99: an exception escaped), or 128 + the signal that ended it.
int inLimitedChild(std::size_t mib, const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        rlimit limit{mib << 20, mib << 20};
        if (mib) setrlimit(RLIMIT_AS, &limit);
        try {
            _exit(body());
        } catch (...) {
            _exit(99);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

long maxResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(Codecs, HostileFilesFailCleanlyUnderAnAddressLimit) {
#ifdef UNDER_SANITIZER
    GTEST_SKIP() << "no address limit under a sanitizer";
#endif
    auto small = ImageSource::createWithData(onePixelFrames(3));
    ASSERT_TRUE(small);
    EXPECT_EQ(small->count(), 3u);

    // A million frames: a whole source or none, never an abort and never a partial one.
    const Bytes million = onePixelFrames(1000000);
    for (std::size_t mib : {256, 768}) {
        SCOPED_TRACE(mib);
        EXPECT_EQ(inLimitedChild(mib, [&] {
                      auto source = ImageSource::createWithData(million);
                      if (source && source->count() != 1000000) return 1;
                      return animatedImageWithAnimatedGIFData(million) ? 2 : 0;  // more frames than it plays
                  }),
                  0);
    }

    // 57 bytes declaring a 1 GiB text chunk: refused before libpng allocates it.
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 1, 0, 0, 0, 1,
              8, 6, 0, 0, 0, 0x1F, 0x15, 0xC4, 0x89, 0x40, 0, 0, 0, 't', 'E', 'X', 't', 'C', 'o', 'm', 'm', 'e', 'n', 't',
              0, 'a', 'b', 'c', 0, 0, 0, 0, 0};
    ASSERT_EQ(png.size(), 57u);
    EXPECT_EQ(inLimitedChild(0, [&] {
                  const long before = maxResidentKiB();
                  if (decodeImage(png)) return 1;
                  return maxResidentKiB() - before > 32 * 1024 ? 2 : 0;
              }),
              0);
}

}  // namespace
