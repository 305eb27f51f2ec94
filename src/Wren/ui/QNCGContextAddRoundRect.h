// Adds a closed rounded-rectangle path to a drawing context, rounding only the corners named
// by the mask.
#pragma once

#include <quillon/ui.h>

#include <cstdint>

// Corner bits: 1 top left, 2 top right, 4 bottom left, 8 bottom right; 15 rounds all four.
enum QNRectCorner : std::uint32_t {
    kQNRectCornerTopLeft = 1,
    kQNRectCornerTopRight = 2,
    kQNRectCornerBottomLeft = 4,
    kQNRectCornerBottomRight = 8,
    kQNRectCornerAll = 15,
};

void QNCGContextAddRoundRect(quillon::ui::GraphicsContext& context, const quillon::ui::Rect& rect,
                             std::uint32_t corners, double radius);
