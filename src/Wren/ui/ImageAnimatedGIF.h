// Animated GIF bytes into one animated image that an image view plays. The image plays equally
// long frames, while a GIF gives every frame its own delay: the frames are repeated as often
// as their delay holds the greatest common divisor of all delays.
#pragma once

#include "platform/foundation/Value.h"

#include <quillon/ui.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Null when the data (or file) cannot be opened as an image or holds no frame.
std::shared_ptr<quillon::ui::Image> animatedImageWithAnimatedGIFData(const platform::Bytes& data);
std::shared_ptr<quillon::ui::Image> animatedImageWithAnimatedGIFURL(const std::string& path);

namespace animatedGIF {

// A frame's GIF timing as the image source reports it, in seconds; absent when the frame has
// no GIF properties.
struct FrameDelay {
    std::optional<double> unclampedDelayTime;
    std::optional<double> delayTime;
};

// The frame's delay in centiseconds: the unclamped delay (or, when it is missing or 0, the
// ordinary one) times 100, rounded half to even; 1 when there is none. Never below 1, so the
// unit below always exists.
std::int32_t delayCentiseconds(const std::optional<FrameDelay>& delay);
std::int64_t sum(const std::vector<std::int32_t>& delays);
std::int32_t pairGCD(std::int32_t a, std::int32_t b);
// 0 for an empty list.
std::int32_t vectorGCD(const std::vector<std::int32_t>& delays);
// For each output frame, the source frame it shows: frame i repeated delay / unit times.
std::vector<std::size_t> frameIndexes(const std::vector<std::int32_t>& delays, std::int32_t unit);

}  // namespace animatedGIF
