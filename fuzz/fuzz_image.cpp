// PNG and JPEG data from outside: decoding never crashes, never reads out of bounds, stays
// within the pixel limit and turns EXIF-oriented images without leaving the bitmap. The first
// byte picks the format, whose signature is put in front of the rest, so that every input
// reaches a decoder.
#include <quillon/ui/Image.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const std::uint8_t kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    static const std::uint8_t kJpeg[] = {0xFF, 0xD8, 0xFF};
    quillon::ui::Bytes bytes;
    if (data[0] & 1) {
        bytes.assign(std::begin(kPng), std::end(kPng));
    } else {
        bytes.assign(std::begin(kJpeg), std::end(kJpeg));
    }
    bytes.insert(bytes.end(), data + 1, data + size);
    if (auto image = quillon::ui::decodeImage(bytes)) {
        const std::size_t pixels = static_cast<std::size_t>(image->pixelWidth()) * image->pixelHeight();
        if (pixels == 0 || pixels * 4 > quillon::ui::ImageSource::kMaxPixelBytes) __builtin_trap();
        (void)image->pixelAt(image->pixelWidth() - 1, image->pixelHeight() - 1);
    }
    return 0;
}
