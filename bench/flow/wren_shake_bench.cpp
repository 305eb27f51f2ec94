// From one accelerometer sample above the shake threshold to the feedback alert drawn on the
// headless screen (sensor queue, shake test, hop to the main loop, alert built and shown,
// display pass). Baseline, in the same run: a sample below the threshold delivered to the
// same handler plus a display pass of the same host screen with one view changed.
#include "Wren/WrenPreferences.h"
#include "Wren/ui/WrenWindowController.h"
#include "platform/runtime/RunLoop.h"
#include "support/TestEnv.h"

#include <quillon/ui.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <vector>

namespace ui = quillon::ui;
using Clock = std::chrono::steady_clock;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <class Pred>
void runUntil(Pred done) {
    while (!done()) platform::RunLoop::main().runOnce(0.001);
}

}  // namespace

int main() {
    testenv::useFreshHome();
    ui::MotionManager::setSimulated(true);
    auto root = std::make_shared<ui::ViewController>();
    auto window = std::make_shared<ui::Window>();
    window->setRootViewController(root);
    auto label = std::make_shared<ui::Label>(ui::Rect(20, 100, 300, 40));
    label->setText("账本 ledger");
    root->view()->addSubview(label);
    window->makeKeyAndVisible();
    ui::Screen::main().displayIfNeeded();

    WrenPreferences prefs;
    WrenWindowController& wc = WrenWindowController::sharedInstance();
    wc.setPreferences(&prefs);
    wc.enabledMonitorShakeEvent(true);
    platform::RunLoop::main().runFor(0.05);

    const int runs = 60;
    std::vector<double> shake, baseline;
    for (int i = 0; i < runs; ++i) {
        // Baseline: a quiet sample through the same path, and one display pass.
        std::atomic<bool> delivered{false};
        auto start = Clock::now();
        ui::MotionManager::injectAccelerometerSample(0.1, 0.1, 1.0, [&] { delivered = true; });
        runUntil([&] { return delivered.load(); });
        label->setText(i % 2 ? "账本 ledger" : "账本 ledger.");
        std::uint64_t passes = ui::Screen::main().displayCount();
        runUntil([&] { return ui::Screen::main().displayCount() > passes; });
        baseline.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());

        // The shake, until the alert is on the screen's surface.
        passes = ui::Screen::main().displayCount();
        start = Clock::now();
        ui::MotionManager::injectAccelerometerSample(3.0, 0.0, 0.0);
        runUntil([&] {
            return ui::AlertView::visibleAlert() != nullptr && ui::Screen::main().displayCount() > passes;
        });
        shake.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());

        ui::AlertView::visibleAlert()->pressButton(0);  // accidental: listening again
        platform::RunLoop::main().runFor(0.01);
    }
    std::printf("shake sample to alert drawn (headless 750x1334): median %.2f ms (goal <= 20 ms)\n", median(shake));
    std::printf("baseline (quiet sample + one display pass):      median %.2f ms\n", median(baseline));
    std::printf("ratio: %.2f\n", median(shake) / median(baseline));
    return 0;
}
