// Whole processes: a crash-only host maps none of the UI stack, the loader finds the UI
// library beside libquillon, and the SDL window shows what the headless screen shows.
#include "support/HostProcess.h"
#include "support/TestEnv.h"

#include <quillon/ui.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace {

TEST(UiLibrary, CrashOnlyHostMapsNoUiLibraryAndTheLoaderFindsIt) {
    const std::string dir = testenv::makeTempDir();
    auto result = testenv::runHost({UI_CRASH_ONLY_HOST}, dir);
    EXPECT_EQ(result.exitCode(), 0) << result.out << result.err;
    EXPECT_NE(result.out.find("mapped core "), std::string::npos);
    EXPECT_EQ(result.out.find("libcairo"), std::string::npos) << result.out;

    auto loaded = testenv::runHost({UI_CRASH_ONLY_HOST, "load"}, dir);
    EXPECT_EQ(loaded.exitCode(), 0) << loaded.out << loaded.err;
    EXPECT_NE(loaded.out.find("version 2.1.3"), std::string::npos) << loaded.out;
    EXPECT_NE(loaded.out.find("libquillon-ui.so"), std::string::npos);
    EXPECT_NE(loaded.out.find("libcairo"), std::string::npos);
    // One libquillon in the process: the UI library uses the host's.
    auto first = loaded.out.find("mapped core "), last = loaded.out.rfind("mapped core ");
    EXPECT_EQ(loaded.out.substr(first, loaded.out.find('\n', first) - first),
              loaded.out.substr(last, loaded.out.find('\n', last) - last));
}

// The path of xvfb-run, or "" when it is not installed.
std::string xvfbRun() {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        std::string path = std::string(dir) + "/xvfb-run";
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return "";
}

TEST(UiLibrary, TheSameScriptGivesTheSamePictureHeadlessAndInAnSdlWindow) {
    const std::string xvfb = xvfbRun();
    if (xvfb.empty()) GTEST_SKIP() << "xvfb-run is not installed";
    const std::string dir = testenv::makeTempDir();
    auto script = [&](const std::string& shot) {
        const std::string path = dir + "/" + shot + ".script";
        std::ofstream(path) << "tap 100 172\ntap 100 230\ntype 我的邮箱 me@example.com\nwait 0.2\nsnapshot " << dir
                            << "/" << shot << ".png\n";
        return path;
    };
    setenv("QUILLON_UI_BACKEND", "headless", 1);
    auto headless = testenv::runHost({UI_SHARED_HOST, script("headless")}, dir);
    ASSERT_EQ(headless.exitCode(), 0) << headless.err;
    EXPECT_NE(headless.out.find("backend headless"), std::string::npos);

    setenv("QUILLON_UI_BACKEND", "sdl", 1);
    auto windowed = testenv::runHost({xvfb, "-a", "-s", "-screen 0 800x800x24", UI_SHARED_HOST, script("sdl")}, dir);
    unsetenv("QUILLON_UI_BACKEND");
    ASSERT_EQ(windowed.exitCode(), 0) << windowed.err;
    EXPECT_NE(windowed.out.find("backend sdl"), std::string::npos) << windowed.err;

    auto a = quillon::ui::Image::imageWithContentsOfFile(dir + "/headless.png");
    auto b = quillon::ui::Image::imageWithContentsOfFile(dir + "/sdl.png");
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->pixelWidth(), b->pixelWidth());
    ASSERT_EQ(a->pixelHeight(), b->pixelHeight());
    size_t differing = 0;
    for (int y = 0; y < a->pixelHeight(); ++y)
        for (int x = 0; x < a->pixelWidth(); ++x)
            if (!(a->pixelAt(x, y) == b->pixelAt(x, y))) ++differing;
    EXPECT_EQ(differing, 0u);
    // Both played the whole script: the button was tapped and the field took the text.
    for (const auto* run : {&headless, &windowed}) {
        EXPECT_NE(run->out.find("status 已点击 tapped\nfield 我的邮箱 me@example.com\n"), std::string::npos) << run->out;
    }
}

TEST(UiLibrary, WithoutADisplayTheSdlRequestFallsBackToHeadlessWithAConsoleLine) {
    const std::string dir = testenv::makeTempDir();
    std::ofstream(dir + "/s.script") << "wait 0.01\n";
    setenv("QUILLON_UI_BACKEND", "sdl", 1);
    const char* display = std::getenv("DISPLAY");
    std::string saved = display ? display : "";
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    auto result = testenv::runHost({UI_SHARED_HOST, dir + "/s.script"}, dir);
    unsetenv("QUILLON_UI_BACKEND");
    if (!saved.empty()) setenv("DISPLAY", saved.c_str(), 1);
    EXPECT_EQ(result.exitCode(), 0);
    EXPECT_NE(result.out.find("backend headless"), std::string::npos);
    EXPECT_NE(result.err.find("no SDL window (no display: neither DISPLAY nor WAYLAND_DISPLAY is set); using the "
                              "headless screen"),
              std::string::npos)
        << result.err;
}

}  // namespace
