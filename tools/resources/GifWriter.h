// A small GIF writer on giflib: indexed frames over one global palette, each with an optional
// graphic control block (delay, disposal, transparent index). The resource generator draws the
// prompt's animated hand with it; tests make GIF files of known timing with it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace gifwriter {

struct Frame {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> indexes;      // width * height palette indexes, row by row
    std::optional<int> delayCentiseconds;   // no graphic control block when absent
    int disposal = 0;                       // 0 none, 1 keep, 2 background, 3 previous
    int transparentIndex = -1;              // -1: none
};

// Palette entries are 0xRRGGBB (at most 256). Empty result when giflib refuses the input.
std::vector<std::uint8_t> write(int width, int height, const std::vector<std::uint32_t>& palette,
                                const std::vector<Frame>& frames, bool loopForever);

// The index of the palette entry nearest to an RGB colour.
std::uint8_t nearest(const std::vector<std::uint32_t>& palette, std::uint8_t r, std::uint8_t g, std::uint8_t b);

}  // namespace gifwriter
