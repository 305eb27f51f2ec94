// A host adapter's key chord (one shake sample) to the feedback alert drawn and handed to the
// host, on the embedded screen (quillon/ui/Embedding.h) of a 360 x 520 host window whose
// screenshot the host supplies, beside the same step on the headless screen in the same run
// (measured first: a process embeds once and for good). The host's own drawing of the picture
// (GTK's, Qt's) comes after and is not part of these figures.
#include "../BenchTiming.h"
#include "Wren/WrenPreferences.h"
#include "Wren/ui/WrenWindowController.h"
#include "platform/runtime/RunLoop.h"
#include "support/TestEnv.h"

#include <quillon/ui.h>
#include <quillon/ui/Embedding.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace ui = quillon::ui;
using Clock = std::chrono::steady_clock;

using benchtiming::median;

namespace {

void runUntil(const std::function<bool()>& done) {
    while (!done()) platform::RunLoop::main().runOnce(0.001);
}

// Shake, until `drawn` says the alert reached the screen; then the cancel button.
std::vector<double> shakes(int runs, const std::function<bool()>& drawn, const std::function<void()>& reset) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        reset();
        const auto start = Clock::now();
        quillon_embed_shake();  // the chord's call; the same sample as the headless shake
        runUntil(drawn);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        ui::AlertView::visibleAlert()->pressButton(0);
        platform::RunLoop::main().runFor(0.01);
    }
    return ms;
}

struct Host {
    std::vector<unsigned char> pixels = std::vector<unsigned char>(360 * 520 * 4, 0xEE);
    bool shown = false;
    int draws = 0;
};

}  // namespace

int main() {
    testenv::useFreshHome();
    ui::MotionManager::setSimulated(true);
    WrenPreferences prefs;
    WrenWindowController& wc = WrenWindowController::sharedInstance();
    wc.setPreferences(&prefs);

    // The headless screen with a host screen of the toolkit's own.
    auto window = std::make_shared<ui::Window>();
    window->setRootViewController(std::make_shared<ui::ViewController>());
    window->makeKeyAndVisible();
    wc.enabledMonitorShakeEvent(true);
    platform::RunLoop::main().runFor(0.05);
    std::uint64_t passes = 0;
    const auto headless = shakes(
        40, [&] { return ui::AlertView::visibleAlert() && ui::Screen::main().displayCount() > passes; },
        [&] { passes = ui::Screen::main().displayCount(); });
    window->setHidden(true);

    // The embedded screen: the alert is up once the host was told to show it and to draw.
    Host host;
    QNEmbedHost embed{};
    embed.user = &host;
    embed.needs_display = [](void* user) { ++static_cast<Host*>(user)->draws; };
    embed.screens_shown = [](void* user, int on) { static_cast<Host*>(user)->shown = on != 0; };
    embed.take_screenshot = [](void* user) {
        auto* h = static_cast<Host*>(user);
        QNEmbedPicture p{h->pixels.data(), 360, 520, 360 * 4, 1.0};
        quillon_embed_supply_screenshot(&p);
    };
    quillon_embed_start(&embed, 360, 520, 1.0);
    platform::RunLoop::main().runFor(0.05);
    int draws = 0;
    const auto embedded = shakes(
        40, [&] { return host.shown && host.draws > draws; },
        [&] {
            runUntil([&] { return !host.shown; });
            draws = host.draws;
        });

    std::printf("chord to alert drawn, embedded 360x520 (host screenshot, picture handed over): median %.2f ms\n",
                median(embedded));
    std::printf("baseline: shake to alert drawn on the headless screen (750x1334):            median %.2f ms\n",
                median(headless));
    std::printf("difference: %+.2f ms (goal: at most 50 ms above the headless screen)\n",
                median(embedded) - median(headless));
    return 0;
}
