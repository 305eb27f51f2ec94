// The edit screen. One more touch move on a canvas that already holds 10,000 points, from the
// event to the pixels updated on the headless screen, beside its baseline: the full replay of
// the same 10,000 round-joined points that every move would cost without the canvas's drawing
// layer. Submit to report stored by the loopback collector (snapshot of the screen, JPEG,
// signed upload, report post), beside its baseline: the same report handed to the loader with
// its JPEG already made.
#include "Wren/WrenLoader.h"
#include "Wren/ui/QNTextView.h"
#include "Wren/ui/WrenUISnapshotEditor.h"
#include "Wren/ui/WrenWindowController.h"
#include "platform/runtime/RunLoop.h"
#include "support/Collector.h"
#include "support/FeedbackEnv.h"
#include "support/TestEnv.h"

#include <benchmark/benchmark.h>
#include <quillon/ui.h>
#include <wren/Wren.h>

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

// A host screen and the feedback side pointed at a collector on loopback, once per process.
struct FeedbackScene {
    testenv::Collector collector;
    std::shared_ptr<Window> window;

    static FeedbackScene& shared() {
        static FeedbackScene* scene = new FeedbackScene;
        return *scene;
    }
    FeedbackScene() {
        testenv::useFreshHome();
        platform::Value plist = platform::dict();
        plist["WrenFeedbackHost"] = collector.host();
        plist["WrenFileStoreHost"] = collector.host();
        testenv::useBundle(plist);
        testenv::useLink(testenv::Link::WiFi);
        WrenConfig config = WrenConfig::defaultConfig();
        config.reportOnlyWIFI = false;
        Wren::init("bench-app-key", config);
        platform::RunLoop::main().runFor(0.1);
        window = std::make_shared<Window>();
        window->setRootViewController(std::make_shared<ViewController>());
        window->makeKeyAndVisible();
        platform::RunLoop::main().runFor(0.1);
    }
    // Runs the main loop until the collector holds a report; false after 5 s.
    bool waitForReport() {
        for (int i = 0; i < 10000; ++i) {
            platform::RunLoop::main().runOnce(0.0005);
            if (collector.get("/_collector/feedback").body.size() > 2) return true;
        }
        return false;
    }
};

void BM_Baseline_LoaderSubmitsReadyJPEG(benchmark::State& state) {
    FeedbackScene& scene = FeedbackScene::shared();
    const auto shot = Screen::main().capture();
    platform::Value commit = platform::dict();
    const Bytes jpeg = encodeJPEG(*shot, 0.1);
    commit["modifiedImageData"] = platform::bytesValue(platform::Bytes(jpeg.begin(), jpeg.end()));
    commit["commentText"] = "the total leaves out the rent";
    commit["contactText"] = "qa@example.com";
    commit["operation"] = platform::array();
    platform::Value device = platform::dict();
    device["model"] = "x86_64";
    for (auto _ : state) {
        state.PauseTiming();
        scene.collector.reset();
        state.ResumeTiming();
        WrenLoader::sharedInstance().windowController(nullptr, commit, device);
        if (!scene.waitForReport()) state.SkipWithError("the report did not arrive");
    }
}

void BM_SubmitToReportStored(benchmark::State& state) {
    FeedbackScene& scene = FeedbackScene::shared();
    WrenWindowController& flow = WrenWindowController::sharedInstance();
    auto alert = std::make_shared<AlertView>("", "", nullptr, "", std::vector<std::string>{});
    for (auto _ : state) {
        state.PauseTiming();
        scene.collector.reset();
        flow.alertView(*alert, 2);  // "bug": screenshot, edit screen
        std::shared_ptr<WrenUISnapshotEditController> editor;
        for (int i = 0; i < 200 && !(editor && editor->commentView()); ++i) {
            platform::RunLoop::main().runOnce(0.01);
            editor = flow.snapshotEditController();
        }
        if (!editor || !editor->commentView()) {
            state.SkipWithError("the edit screen did not open");
            break;
        }
        platform::RunLoop::main().runFor(0.3);  // the device record and the flash are done
        editor->commentView()->setText("the total leaves out the rent");
        state.ResumeTiming();
        editor->snapshotEditorToolsBar(editor->topToolsBar().get(), 0);
        if (!scene.waitForReport()) state.SkipWithError("the report did not arrive");
        state.PauseTiming();
        for (int i = 0; i < 200 && flow.snapshotEditController(); ++i) platform::RunLoop::main().runOnce(0.01);
        state.ResumeTiming();
    }
}

}  // namespace

BENCHMARK(BM_Baseline_FullReplayOf10000Points)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_OneMoreTouchMoveOn10000Points)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_Baseline_LoaderSubmitsReadyJPEG)->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK(BM_SubmitToReportStored)->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK_MAIN();
