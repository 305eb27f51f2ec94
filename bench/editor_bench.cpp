// The edit screen's canvas: one more touch move on a canvas that already holds 10,000 points,
// from the event to the pixels updated on the headless screen, beside its baseline, the full
// replay of the same 10,000 round-joined points that every move would cost without the
// canvas's drawing layer.
#include "Wren/ui/WrenUISnapshotEditor.h"

#include <benchmark/benchmark.h>
#include <quillon/ui.h>

#include <cmath>
#include <memory>

using namespace quillon::ui;

namespace {

struct Scene {
    std::shared_ptr<Window> window;
    std::shared_ptr<ViewController> root;
    std::shared_ptr<WrenUISnapshotEditor> canvas;
    double t = 0;

    // A canvas over a screenshot with one finger down and 10,000 points drawn.
    Scene() {
        window = std::make_shared<Window>();
        root = std::make_shared<ViewController>();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        canvas = WrenUISnapshotEditor::defaultSnapshotEditor(root->view()->bounds());
        ImageContext shot(root->view()->bounds().size, true, 0);
        shot.context().setFillColor(Color(0.9, 0.95, 0.9, 1));
        shot.context().fillRect(Rect(0, 0, 375, 667));
        canvas->setBackgroundImage(shot.image());
        root->view()->addSubview(canvas);
        input::touchDown(0, 187, 333);
        for (int i = 0; i < 10000; ++i) move();
        Screen::main().displayIfNeeded();
    }
    // A scribble over the whole canvas.
    void move() {
        t += 0.05;
        input::touchMove(0, 187 + 170 * std::sin(t * 1.3), 333 + 300 * std::sin(t * 0.7));
    }
};

void BM_Baseline_FullReplayOf10000Points(benchmark::State& state) {
    Scene scene;
    for (auto _ : state) {
        scene.canvas->invalidateLayer();
        scene.canvas->setNeedsDisplay();
        Screen::main().displayIfNeeded();
    }
    state.counters["points"] = scene.canvas->trackTotal() / 2.0;
}

void BM_OneMoreTouchMoveOn10000Points(benchmark::State& state) {
    Scene scene;
    const auto before = Screen::main().displayCount();
    for (auto _ : state) {
        scene.move();
        Screen::main().displayIfNeeded();
    }
    if (Screen::main().displayCount() - before < static_cast<std::uint64_t>(state.iterations()))
        state.SkipWithError("a move drew nothing");
}

}  // namespace

BENCHMARK(BM_Baseline_FullReplayOf10000Points)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_OneMoreTouchMoveOn10000Points)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK_MAIN();
