// Helpers of the toolkit's tests: run the main loop until something happened, and build a
// key window with a root view controller.
#pragma once

#include "platform/runtime/RunLoop.h"

#include <quillon/ui.h>

#include <chrono>
#include <functional>
#include <memory>

namespace uitest {

// Runs the main run loop until `done` answers true or `seconds` passed; returns `done()`.
inline bool runUntil(const std::function<bool()>& done, double seconds = 5.0) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        platform::RunLoop::main().runOnce(0.01);
    }
    return true;
}

inline void runFor(double seconds) { platform::RunLoop::main().runFor(seconds); }

struct Screen {
    std::shared_ptr<quillon::ui::Window> window = std::make_shared<quillon::ui::Window>();
    std::shared_ptr<quillon::ui::ViewController> root;

    explicit Screen(std::shared_ptr<quillon::ui::ViewController> controller =
                        std::make_shared<quillon::ui::ViewController>())
        : root(std::move(controller)) {
        window->setRootViewController(root);
        window->makeKeyAndVisible();
    }
};

// Plays a script and runs the loop until it is done.
inline bool play(const std::string& script, double seconds = 10.0) {
    bool finished = false;
    if (!quillon::ui::EventScript::play(script, "test", [&] { finished = true; })) return false;
    return runUntil([&] { return finished; }, seconds);
}

}  // namespace uitest
