// JPEG, PNG and GIF: what comes back out of what goes in, GIF frames composited as a browser
// shows them, and the pixel limit that keeps a small file from allocating without bound.
#include <quillon/ui.h>

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace quillon::ui;

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

TEST(Gif, RefusesMoreThan64MiBOfFramesAndKeepsFramesBeforeDamage) {
    // 2048 x 2048 pixels are 16 MiB a frame: four fit, five do not.
    std::vector<Frame> four(4, fill(0, 0, 1, 1, 0));
    auto fits = ImageSource::createWithData(makeGif(2048, 2048, four));
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->count(), 4u);
    fits.reset();
    std::vector<Frame> five(5, fill(0, 0, 1, 1, 0));
    EXPECT_EQ(ImageSource::createWithData(makeGif(2048, 2048, five)), nullptr);
    EXPECT_EQ(ImageSource::createWithData(makeGif(8192, 8192, {fill(0, 0, 1, 1, 0)})), nullptr);

    Bytes two = makeGif(2, 2, {fill(0, 0, 2, 2, 0), fill(0, 0, 2, 2, 1)});
    two.resize(two.size() - 8);  // cut into the second frame
    auto damaged = ImageSource::createWithData(two);
    ASSERT_TRUE(damaged);
    EXPECT_EQ(damaged->count(), 1u);
    EXPECT_EQ(ImageSource::createWithData(Bytes{'G', 'I', 'F', '8', '9', 'a', 1}), nullptr);
    EXPECT_EQ(ImageSource::createWithData(Bytes{1, 2, 3}), nullptr);
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

}  // namespace
