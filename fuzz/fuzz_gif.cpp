// Image data from outside (GIF, PNG, JPEG): decoding never crashes, never reads out of
// bounds, and stays within the pixel limit.
#include <quillon/ui/Image.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillon::ui::Bytes bytes(data, data + size);
    if (auto source = quillon::ui::ImageSource::createWithData(bytes)) {
        for (std::size_t i = 0; i < source->count(); ++i) {
            auto image = source->createImageAtIndex(i);
            if (!image || image->pixelWidth() <= 0) __builtin_trap();
            (void)source->propertiesAtIndex(i);
        }
    }
    return 0;
}
