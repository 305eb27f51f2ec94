// Colours: red, green, blue and alpha in 0…1 (sRGB), or a pattern made of an image that is
// tiled from the top-left corner of the view it fills.
#pragma once

#include "quillon/ui/Export.h"

#include <memory>

namespace quillon::ui {

class Image;

struct QUILLON_UI_EXPORT Color {
    double red = 0, green = 0, blue = 0, alpha = 0;
    std::shared_ptr<Image> pattern;  // set for pattern colours; the components are then unused

    Color() = default;
    Color(double r, double g, double b, double a = 1.0) : red(r), green(g), blue(b), alpha(a) {}

    static Color colorWithRGBA(double r, double g, double b, double a) { return {r, g, b, a}; }
    static Color colorWithWhite(double white, double a) { return {white, white, white, a}; }
    static Color colorWithPatternImage(std::shared_ptr<Image> image);

    // The platform's named colours.
    static Color clearColor() { return {0, 0, 0, 0}; }
    static Color blackColor() { return {0, 0, 0, 1}; }
    static Color whiteColor() { return {1, 1, 1, 1}; }
    static Color darkGrayColor() { return {1.0 / 3, 1.0 / 3, 1.0 / 3, 1}; }
    static Color grayColor() { return {0.5, 0.5, 0.5, 1}; }
    static Color lightGrayColor() { return {2.0 / 3, 2.0 / 3, 2.0 / 3, 1}; }
    static Color redColor() { return {1, 0, 0, 1}; }
    static Color greenColor() { return {0, 1, 0, 1}; }
    static Color blueColor() { return {0, 0, 1, 1}; }

    Color withAlpha(double a) const {
        Color c = *this;
        c.alpha = a;
        return c;
    }
    bool isClear() const { return !pattern && alpha <= 0; }
    bool operator==(const Color& o) const {
        return red == o.red && green == o.green && blue == o.blue && alpha == o.alpha && pattern == o.pattern;
    }
};

}  // namespace quillon::ui
