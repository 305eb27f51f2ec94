#include "Wren/ui/ImageAnimatedGIF.h"

#include <cmath>

namespace ui = quillon::ui;

namespace animatedGIF {

std::int32_t delayCentiseconds(const std::optional<FrameDelay>& delay) {
    std::int32_t centiseconds = 1;
    if (!delay) return centiseconds;
    std::optional<double> seconds = delay->unclampedDelayTime;
    if (!seconds || *seconds == 0) seconds = delay->delayTime;
    // A GIF delay is at most 655.35 s; anything larger comes from a broken source.
    if (seconds && *seconds > 0 && *seconds < 1e7) centiseconds = static_cast<std::int32_t>(std::lrint(*seconds * 100));
    // A delay below 5 ms rounds to 0 and would leave no common unit.
    return centiseconds < 1 ? 1 : centiseconds;
}

std::int64_t sum(const std::vector<std::int32_t>& delays) {
    std::int64_t total = 0;
    for (std::int32_t d : delays) total += d;
    return total;
}

std::int32_t pairGCD(std::int32_t a, std::int32_t b) {
    if (a < b) std::swap(a, b);
    if (b == 0) return a;
    while (true) {
        const std::int32_t r = a % b;
        if (r == 0) return b;
        a = b;
        b = r;
    }
}

std::int32_t vectorGCD(const std::vector<std::int32_t>& delays) {
    if (delays.empty()) return 0;
    std::int32_t unit = delays.front();
    for (std::size_t i = 1; i < delays.size(); ++i) unit = pairGCD(delays[i], unit);
    return unit;
}

std::vector<std::size_t> frameIndexes(const std::vector<std::int32_t>& delays, std::int32_t unit) {
    std::vector<std::size_t> indexes;
    if (unit <= 0) return indexes;
    indexes.reserve(static_cast<std::size_t>(sum(delays) / unit));
    for (std::size_t i = 0; i < delays.size(); ++i) indexes.insert(indexes.end(), delays[i] / unit, i);
    return indexes;
}

}  // namespace animatedGIF

namespace {

// Output frames are references to the decoded frames, but a list of millions of them (a 1 cs
// frame beside a 10-minute one, many times over) is refused rather than allocated.
constexpr std::int64_t kMaxOutputFrames = 1 << 16;
// Every decoded frame is a bitmap of the whole canvas, all kept until the image is released.
constexpr std::size_t kMaxDecodedBytes = 4 * ui::ImageSource::kMaxPixelBytes;

std::shared_ptr<ui::Image> animatedImageWithAnimatedGIFImageSource(const ui::ImageSource& source) {
    const std::size_t count = source.count();
    // Each frame shows for at least one unit, so more frames than output frames is refused too.
    if (count == 0 || count > static_cast<std::size_t>(kMaxOutputFrames)) return nullptr;
    const std::optional<ui::ImageProperties> first = source.propertiesAtIndex(0);
    if (!first || static_cast<std::size_t>(first->pixelWidth) * static_cast<std::size_t>(first->pixelHeight) * 4 >
                      kMaxDecodedBytes / count)
        return nullptr;
    std::vector<std::shared_ptr<ui::Image>> images;
    std::vector<std::int32_t> delays;
    images.reserve(count);
    delays.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::shared_ptr<ui::Image> image = source.createImageAtIndex(i);
        if (!image) return nullptr;
        images.push_back(std::move(image));
        std::optional<animatedGIF::FrameDelay> delay;
        if (std::optional<ui::ImageProperties> properties = source.propertiesAtIndex(i); properties && properties->gif)
            delay = animatedGIF::FrameDelay{properties->gif->unclampedDelayTime, properties->gif->delayTime};
        delays.push_back(animatedGIF::delayCentiseconds(delay));
    }
    const std::int64_t total = animatedGIF::sum(delays);
    const std::int32_t unit = animatedGIF::vectorGCD(delays);
    if (unit <= 0 || total / unit > kMaxOutputFrames) return nullptr;
    std::vector<std::shared_ptr<ui::Image>> frames;
    for (std::size_t index : animatedGIF::frameIndexes(delays, unit)) frames.push_back(images[index]);
    return ui::Image::animatedImageWithImages(std::move(frames), static_cast<double>(total) / 100.0);
}

std::shared_ptr<ui::Image> animatedImageWithAnimatedGIFReleasingImageSource(std::shared_ptr<ui::ImageSource> source) {
    if (!source) return nullptr;
    return animatedImageWithAnimatedGIFImageSource(*source);
}

}  // namespace

std::shared_ptr<ui::Image> animatedImageWithAnimatedGIFData(const platform::Bytes& data) {
    return animatedImageWithAnimatedGIFReleasingImageSource(ui::ImageSource::createWithData(data));
}

std::shared_ptr<ui::Image> animatedImageWithAnimatedGIFURL(const std::string& path) {
    return animatedImageWithAnimatedGIFReleasingImageSource(ui::ImageSource::createWithFile(path));
}
