#include "platform/ui/Screen.h"

#include <atomic>

namespace platform::ui {
namespace {
constexpr double kHeadlessWidth = 375;
constexpr double kHeadlessHeight = 667;
constexpr double kHeadlessScale = 2.0;

// Read from any thread (the crash path included) without a lock.
std::atomic<double> gWidth{kHeadlessWidth};
std::atomic<double> gHeight{kHeadlessHeight};
std::atomic<double> gScale{kHeadlessScale};
std::atomic<int> gOrientation{kOrientationPortrait};
}  // namespace

Screen::Screen() = default;

Screen& Screen::main() {
    static Screen* screen = new Screen;
    return *screen;
}

Size Screen::bounds() const { return {gWidth.load(std::memory_order_relaxed), gHeight.load(std::memory_order_relaxed)}; }
double Screen::scale() const { return gScale.load(std::memory_order_relaxed); }
int Screen::deviceOrientation() const { return gOrientation.load(std::memory_order_relaxed); }

void Screen::setBounds(double width, double height) {
    gWidth.store(width, std::memory_order_relaxed);
    gHeight.store(height, std::memory_order_relaxed);
}
void Screen::setScale(double scale) { gScale.store(scale, std::memory_order_relaxed); }
void Screen::setDeviceOrientation(int orientation) { gOrientation.store(orientation, std::memory_order_relaxed); }

void Screen::reset() {
    setBounds(kHeadlessWidth, kHeadlessHeight);
    setScale(kHeadlessScale);
    setDeviceOrientation(kOrientationPortrait);
}

}  // namespace platform::ui
