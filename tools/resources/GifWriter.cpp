#include "GifWriter.h"

#include <gif_lib.h>

#include <cstdlib>
#include <cstring>

namespace gifwriter {

namespace {

int appendToBuffer(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

}  // namespace

std::vector<std::uint8_t> write(int width, int height, const std::vector<std::uint32_t>& palette,
                                const std::vector<Frame>& frames, bool loopForever) {
    std::vector<std::uint8_t> out;
    if (palette.empty() || palette.size() > 256) return out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, appendToBuffer, &error);
    if (!gif) return out;
    int colors = 2;
    while (colors < static_cast<int>(palette.size())) colors *= 2;
    ColorMapObject* map = GifMakeMapObject(colors, nullptr);
    for (int i = 0; i < colors; ++i) {
        const std::uint32_t c = i < static_cast<int>(palette.size()) ? palette[i] : 0;
        map->Colors[i] = GifColorType{static_cast<GifByteType>(c >> 16), static_cast<GifByteType>(c >> 8),
                                      static_cast<GifByteType>(c)};
    }
    gif->SWidth = width;
    gif->SHeight = height;
    gif->SColorResolution = 8;
    gif->SBackGroundColor = 0;
    gif->SColorMap = map;
    bool ok = true;
    for (const Frame& frame : frames) {
        if (!ok) break;
        if (frame.width <= 0 || frame.height <= 0 ||
            frame.indexes.size() != static_cast<std::size_t>(frame.width) * frame.height) {
            ok = false;
            break;
        }
        SavedImage* image = GifMakeSavedImage(gif, nullptr);
        if (!image) {
            ok = false;
            break;
        }
        image->ImageDesc = GifImageDesc{frame.left, frame.top, frame.width, frame.height, false, nullptr};
        image->RasterBits = static_cast<GifByteType*>(std::malloc(frame.indexes.size()));
        std::memcpy(image->RasterBits, frame.indexes.data(), frame.indexes.size());
        // The looping block goes before the first image, where players look for it.
        if (loopForever && gif->ImageCount == 1) {
            static const GifByteType netscape[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
            static const GifByteType loop[] = {1, 0, 0};
            ok = GifAddExtensionBlock(&image->ExtensionBlockCount, &image->ExtensionBlocks, APPLICATION_EXT_FUNC_CODE,
                                      sizeof netscape, const_cast<GifByteType*>(netscape)) == GIF_OK &&
                 GifAddExtensionBlock(&image->ExtensionBlockCount, &image->ExtensionBlocks, CONTINUE_EXT_FUNC_CODE,
                                      sizeof loop, const_cast<GifByteType*>(loop)) == GIF_OK;
        }
        if (ok && frame.delayCentiseconds) {
            GraphicsControlBlock gcb{};
            gcb.DisposalMode = frame.disposal;
            gcb.UserInputFlag = false;
            gcb.DelayTime = *frame.delayCentiseconds;
            gcb.TransparentColor = frame.transparentIndex < 0 ? NO_TRANSPARENT_COLOR : frame.transparentIndex;
            GifByteType bytes[4];
            EGifGCBToExtension(&gcb, bytes);
            ok = GifAddExtensionBlock(&image->ExtensionBlockCount, &image->ExtensionBlocks, GRAPHICS_EXT_FUNC_CODE, 4,
                                      bytes) == GIF_OK;
        }
    }
    if (!ok) {
        EGifCloseFile(gif, &error);
        return {};
    }
    if (EGifSpew(gif) != GIF_OK) return {};  // EGifSpew closes the file either way
    return out;
}

std::uint8_t nearest(const std::vector<std::uint32_t>& palette, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    std::uint8_t best = 0;
    long bestDistance = -1;
    for (std::size_t i = 0; i < palette.size() && i < 256; ++i) {
        const long dr = static_cast<long>((palette[i] >> 16) & 0xff) - r;
        const long dg = static_cast<long>((palette[i] >> 8) & 0xff) - g;
        const long db = static_cast<long>(palette[i] & 0xff) - b;
        const long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<std::uint8_t>(i);
        }
    }
    return best;
}

}  // namespace gifwriter
