#include "Wren/ui/QNCGContextAddRoundRect.h"

void QNCGContextAddRoundRect(quillon::ui::GraphicsContext& context, const quillon::ui::Rect& rect,
                             std::uint32_t corners, double radius) {
    const double x0 = rect.origin.x;
    const double y0 = rect.origin.y;
    const double x1 = x0 + rect.size.width;
    const double y1 = y0 + rect.size.height;
    auto r = [corners, radius](std::uint32_t corner) { return (corners & corner) ? radius : 0.0; };

    context.beginPath();
    context.moveToPoint(x0, y1 - radius);
    context.addArcToPoint(x0, y0, x1, y0, r(kQNRectCornerTopLeft));
    context.addArcToPoint(x1, y0, x1, y1, r(kQNRectCornerTopRight));
    context.addArcToPoint(x1, y1, x0, y1, r(kQNRectCornerBottomRight));
    context.addArcToPoint(x0, y1, x0, y0, r(kQNRectCornerBottomLeft));
    context.closePath();
}
