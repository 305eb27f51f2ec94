// Draws the feedback screens' images with the toolkit and writes them into a folder:
//   hand.2.0.7.gif     the snapshot prompt's animated hand tracing a circle round a problem
//   success.2.0.7.png  the report prompt's success mark
//   pen.2.0.7.png, text.2.0.7.png, reset.2.0.7.png   the edit screen's bottom-bar icons
// Icons are drawn at three times the size they show at (they are drawn at a third of their
// pixel size). Usage: wren-resources OUTPUT_DIRECTORY
#include "GifWriter.h"

#include <quillon/ui.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace ui = quillon::ui;

namespace {

constexpr double kPi = 3.14159265358979323846;

// A closed or open polyline through the points of an arc (angles in radians, y downwards).
void addArc(ui::GraphicsContext& g, double cx, double cy, double rx, double ry, double from, double to, bool move) {
    const int steps = std::max(2, static_cast<int>(std::fabs(to - from) / (kPi / 48)));
    for (int i = 0; i <= steps; ++i) {
        const double a = from + (to - from) * i / steps;
        const double x = cx + rx * std::cos(a), y = cy + ry * std::sin(a);
        if (i == 0 && move)
            g.moveToPoint(x, y);
        else
            g.addLineToPoint(x, y);
    }
}

std::shared_ptr<ui::Image> drawIcon(double pixels, void (*draw)(ui::GraphicsContext&, double)) {
    ui::ImageContext image(ui::Size{pixels, pixels}, false, 1.0);
    ui::GraphicsContext& g = image.context();
    g.setLineCap(ui::LineCap::Round);
    g.setLineJoin(ui::LineJoin::Round);
    draw(g, pixels);
    return image.image();
}

const ui::Color kIconColor{0.0, 0.5, 1.0, 1.0};

void drawSuccess(ui::GraphicsContext& g, double s) {
    g.setFillColor(ui::Color(0.22, 0.72, 0.40, 1.0));
    g.fillEllipseInRect(ui::Rect(s * 0.04, s * 0.04, s * 0.92, s * 0.92));
    g.setStrokeColor(ui::Color::whiteColor());
    g.setLineWidth(s * 0.09);
    g.beginPath();
    g.moveToPoint(s * 0.28, s * 0.52);
    g.addLineToPoint(s * 0.44, s * 0.67);
    g.addLineToPoint(s * 0.73, s * 0.35);
    g.strokePath();
}

void drawPen(ui::GraphicsContext& g, double s) {
    // A pencil lying from the bottom left to the top right.
    g.saveGState();
    g.translateCTM(s * 0.5, s * 0.5);
    g.rotateCTM(-kPi / 4);
    const double w = s * 0.17, len = s * 0.72;
    g.setStrokeColor(kIconColor);
    g.setLineWidth(s * 0.055);
    g.beginPath();
    g.moveToPoint(-len / 2, 0);                 // the tip
    g.addLineToPoint(-len / 2 + w, -w / 2);
    g.addLineToPoint(len / 2, -w / 2);
    g.addLineToPoint(len / 2, w / 2);
    g.addLineToPoint(-len / 2 + w, w / 2);
    g.closePath();
    g.strokePath();
    g.beginPath();
    g.moveToPoint(-len / 2 + w, -w / 2);
    g.addLineToPoint(-len / 2 + w, w / 2);
    g.moveToPoint(len / 2 - w * 0.8, -w / 2);
    g.addLineToPoint(len / 2 - w * 0.8, w / 2);
    g.strokePath();
    g.restoreGState();
}

void drawText(ui::GraphicsContext& g, double s) {
    // A note: a sheet with a folded corner and three lines of writing.
    g.setStrokeColor(kIconColor);
    g.setLineWidth(s * 0.055);
    const double l = s * 0.22, t = s * 0.14, r = s * 0.78, b = s * 0.86, fold = s * 0.16;
    g.beginPath();
    g.moveToPoint(l, t);
    g.addLineToPoint(r - fold, t);
    g.addLineToPoint(r, t + fold);
    g.addLineToPoint(r, b);
    g.addLineToPoint(l, b);
    g.closePath();
    g.moveToPoint(r - fold, t);
    g.addLineToPoint(r - fold, t + fold);
    g.addLineToPoint(r, t + fold);
    for (int i = 0; i < 3; ++i) {
        const double y = s * (0.44 + 0.13 * i);
        g.moveToPoint(s * 0.33, y);
        g.addLineToPoint(i == 2 ? s * 0.55 : s * 0.67, y);
    }
    g.strokePath();
}

void drawReset(ui::GraphicsContext& g, double s) {
    // An arrow going three quarters round, back to where it started.
    g.setStrokeColor(kIconColor);
    g.setLineWidth(s * 0.065);
    const double c = s * 0.5, radius = s * 0.3;
    g.beginPath();
    addArc(g, c, c, radius, radius, -kPi * 0.35, kPi * 1.25, true);
    g.strokePath();
    const double a = -kPi * 0.35;
    const double x = c + radius * std::cos(a), y = c + radius * std::sin(a);
    g.setFillColor(kIconColor);
    g.beginPath();
    g.moveToPoint(x + s * 0.13, y - s * 0.02);
    g.addLineToPoint(x - s * 0.07, y - s * 0.12);
    g.addLineToPoint(x - s * 0.01, y + s * 0.11);
    g.closePath();
    g.fillPath();
}

// The hand: an index finger pointing up-left with its tip at (x, y), the fist below right.
void drawHand(ui::GraphicsContext& g, double x, double y, double s) {
    const ui::Color skin(0.98, 0.82, 0.66, 1.0), outline(0.35, 0.22, 0.12, 1.0);
    g.saveGState();
    g.translateCTM(x, y);
    g.rotateCTM(-kPi / 7);
    g.setLineWidth(s * 0.012);
    g.setStrokeColor(outline);
    g.setFillColor(skin);
    auto shape = [&](const ui::Rect& r, double radius) {
        // Filled, then outlined: the fill consumes the path, so it is laid down twice.
        for (bool outline : {false, true}) {
            g.beginPath();
            g.moveToPoint(r.x() + radius, r.y());
            g.addArcToPoint(r.maxX(), r.y(), r.maxX(), r.maxY(), radius);
            g.addArcToPoint(r.maxX(), r.maxY(), r.x(), r.maxY(), radius);
            g.addArcToPoint(r.x(), r.maxY(), r.x(), r.y(), radius);
            g.addArcToPoint(r.x(), r.y(), r.maxX(), r.y(), radius);
            g.closePath();
            if (outline)
                g.strokePath();
            else
                g.fillPath();
        }
    };
    const double f = s * 0.075;  // finger width
    shape(ui::Rect(-s * 0.09, s * 0.16, s * 0.30, s * 0.28), s * 0.06);                  // palm
    shape(ui::Rect(-s * 0.14, s * 0.20, f * 0.9, s * 0.15), f * 0.45);                   // thumb
    for (int i = 0; i < 3; ++i) shape(ui::Rect(-s * 0.02 + f * i, s * 0.11, f, s * 0.12), f * 0.5);  // folded fingers
    shape(ui::Rect(-f / 2, 0, f, s * 0.24), f * 0.5);                                    // index finger
    g.restoreGState();
}

std::vector<std::uint8_t> drawHandAnimation(int pixels) {
    const std::vector<std::uint32_t> palette{0xffffff, 0xfad1a8, 0x5a381f, 0xe53935, 0xdddddd, 0xa0a0a0, 0xc98d5e,
                                             0xf2b08a};
    const double s = pixels;
    const int frames = 12;
    const double cx = s * 0.42, cy = s * 0.40, rx = s * 0.24, ry = s * 0.17;
    std::vector<gifwriter::Frame> out;
    for (int i = 0; i <= frames; ++i) {
        ui::ImageContext image(ui::Size{s, s}, true, 1.0);
        ui::GraphicsContext& g = image.context();
        g.setLineCap(ui::LineCap::Round);
        g.setLineJoin(ui::LineJoin::Round);
        g.setFillColor(ui::Color::whiteColor());
        g.fillRect(ui::Rect(0, 0, s, s));
        // The "problem": a few grey bars of a screen.
        g.setFillColor(ui::Color(0.87, 0.87, 0.87, 1.0));
        for (int row = 0; row < 3; ++row) g.fillRect(ui::Rect(s * 0.26, s * (0.32 + 0.07 * row), s * (row == 1 ? 0.22 : 0.32), s * 0.035));
        const double start = -kPi / 2, end = start + 2 * kPi * i / frames;
        g.setStrokeColor(ui::Color(0.9, 0.22, 0.21, 1.0));
        g.setLineWidth(s * 0.022);
        if (i > 0) {
            g.beginPath();
            addArc(g, cx, cy, rx, ry, start, end, true);
            g.strokePath();
        }
        drawHand(g, cx + rx * std::cos(end), cy + ry * std::sin(end), s);
        std::shared_ptr<ui::Image> bitmap = image.image();
        gifwriter::Frame frame;
        frame.width = frame.height = pixels;
        frame.indexes.resize(static_cast<std::size_t>(pixels) * pixels);
        for (int y = 0; y < pixels; ++y)
            for (int x = 0; x < pixels; ++x) {
                const ui::Color c = bitmap->pixelAt(x, y);
                frame.indexes[static_cast<std::size_t>(y) * pixels + x] =
                    gifwriter::nearest(palette, static_cast<std::uint8_t>(std::lround(c.red * 255)),
                                       static_cast<std::uint8_t>(std::lround(c.green * 255)),
                                       static_cast<std::uint8_t>(std::lround(c.blue * 255)));
            }
        // The finished circle stays up a little longer before the loop starts again.
        frame.delayCentiseconds = i == frames ? 60 : 10;
        out.push_back(std::move(frame));
    }
    return gifwriter::write(pixels, pixels, palette, out, true);
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) return false;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    struct Icon {
        const char* name;
        double pixels;
        void (*draw)(ui::GraphicsContext&, double);
    };
    const Icon icons[] = {{"success.2.0.7.png", 150, drawSuccess},
                          {"pen.2.0.7.png", 84, drawPen},
                          {"text.2.0.7.png", 84, drawText},
                          {"reset.2.0.7.png", 84, drawReset}};
    bool ok = true;
    for (const Icon& icon : icons) {
        std::shared_ptr<ui::Image> image = drawIcon(icon.pixels, icon.draw);
        if (!image || !writeFile(dir + "/" + icon.name, ui::encodePNG(*image))) {
            std::fprintf(stderr, "wren-resources: cannot write %s/%s\n", dir.c_str(), icon.name);
            ok = false;
        }
    }
    if (!writeFile(dir + "/hand.2.0.7.gif", drawHandAnimation(200))) {
        std::fprintf(stderr, "wren-resources: cannot write %s/hand.2.0.7.gif\n", dir.c_str());
        ok = false;
    }
    return ok ? 0 : 1;
}
