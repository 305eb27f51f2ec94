// The event script as integrators use it, the motion sensor's sources and the lifecycle.
#include "UiTestSupport.h"
#include "platform/system/SystemRoot.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

using namespace quillon::ui;

namespace {

TEST(EventScript, BadLinesAreNamedAndSkippedAndSnapshotsArePng) {
    uitest::Screen screen;
    screen.root->view()->setBackgroundColor(Color::greenColor());
    const std::string path = testenv::makeTempDir() + "/shot.png";
    testing::internal::CaptureStderr();
    ASSERT_TRUE(uitest::play("# a comment\n"
                             "\n"
                             "jump 1 2\n"
                             "tap 10\n"
                             "wait -1\n"
                             "swipe sideways\n"
                             "wait 0.01  # a trailing comment\n"
                             "snapshot " + path + "\n"));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("test:3: unknown command: \"jump 1 2\"; skipped"), std::string::npos) << err;
    EXPECT_NE(err.find("test:4: expected tap X Y"), std::string::npos);
    EXPECT_NE(err.find("test:5: expected wait SECONDS"), std::string::npos);
    EXPECT_NE(err.find("test:6: expected swipe"), std::string::npos);
    EXPECT_EQ(EventScript::linesSkipped(), 4);
    EXPECT_EQ(EventScript::commandsDelivered(), 2);
    auto shot = Image::imageWithContentsOfFile(path);
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->pixelWidth(), 750);
    EXPECT_EQ(shot->pixelHeight(), 1334);
    EXPECT_EQ(shot->pixelAt(400, 700).green, 1.0);
}

TEST(EventScript, ShakeAndAccelSamplesReachTheHandlerBeforeTheNextLine) {
    uitest::Screen screen;
    MotionManager::setSimulated(true);
    MotionManager motion;
    motion.setAccelerometerUpdateInterval(0.1);
    std::vector<Acceleration> samples;  // filled on the main loop, as the window controller does
    std::vector<size_t> seenByNextLine;
    motion.startAccelerometerUpdates(std::make_shared<OperationQueue>(), [&](const AccelerometerData* d, const auto&) {
        ASSERT_FALSE(isMainThread());
        Acceleration a = d->acceleration;
        performOnMainThread([&samples, a] { samples.push_back(a); });
    });
    // A tap between the samples lands after each sample's main-loop work.
    auto probe = std::make_shared<Button>(Rect(0, 100, 100, 100));
    probe->setAction([&] { seenByNextLine.push_back(samples.size()); });
    screen.root->view()->addSubview(probe);
    ASSERT_TRUE(uitest::play("accel 1.6 1.6 5.0\ntap 50 150\nshake\ntap 50 150\n"));
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[0].x, 1.6);
    EXPECT_EQ(samples[0].z, 5.0);
    EXPECT_EQ(samples[1].x, 3.0);
    EXPECT_EQ(seenByNextLine, (std::vector<size_t>{1, 2}));

    motion.stopAccelerometerUpdates();
    ASSERT_TRUE(uitest::play("shake\n"));
    uitest::runFor(0.05);
    EXPECT_EQ(samples.size(), 2u);
}

TEST(MotionManager, ReadsTheIioAccelerometerInG) {
    const std::string root = testenv::makeTempDir();
    const std::string dev = root + "/sys/bus/iio/devices/iio:device0";
    std::filesystem::create_directories(dev);
    auto put = [&](const char* name, const char* value) { std::ofstream(dev + "/" + name) << value << "\n"; };
    put("in_accel_x_raw", "1000");
    put("in_accel_y_raw", "-500");
    put("in_accel_z_raw", "0");
    put("in_accel_scale", "0.019613");  // m/s^2 per unit: 1000 units are 2 g
    platform::sys::setSystemRootForTesting(root);
    MotionManager::setSimulated(false);
    MotionManager motion;
    motion.setAccelerometerUpdateInterval(0.02);
    std::atomic<int> count{0};
    Acceleration last;
    motion.startAccelerometerUpdates(OperationQueue::mainQueue(), [&](const AccelerometerData* d, const auto& error) {
        ASSERT_TRUE(d) << error.value_or("");
        last = d->acceleration;
        ++count;
    });
    ASSERT_TRUE(uitest::runUntil([&] { return count >= 2; }));
    EXPECT_NEAR(last.x, 2.0, 1e-3);
    EXPECT_NEAR(last.y, -1.0, 1e-3);
    motion.stopAccelerometerUpdates();
    int stopped = count;
    uitest::runFor(0.1);
    EXPECT_EQ(count, stopped);
    platform::sys::setSystemRootForTesting("");
}

TEST(EventScript, BackgroundAndForegroundPostTheFourNotificationsInOrder) {
    uitest::Screen screen;
    std::vector<std::string> names;
    for (const char* name : {UIApplicationWillResignActiveNotification, UIApplicationDidEnterBackgroundNotification,
                             UIApplicationWillEnterForegroundNotification, UIApplicationDidBecomeActiveNotification}) {
        NotificationCenter::addObserver(name, true, [&](const std::string& n, const void* object) {
            EXPECT_EQ(object, &Application::shared());
            names.push_back(n);
        });
    }
    ASSERT_TRUE(uitest::play("background\nwait 0.01\nforeground\nwait 0.01\n"));
    EXPECT_EQ(names, (std::vector<std::string>{"UIApplicationWillResignActiveNotification",
                                               "UIApplicationDidEnterBackgroundNotification",
                                               "UIApplicationWillEnterForegroundNotification",
                                               "UIApplicationDidBecomeActiveNotification"}));
    EXPECT_EQ(Application::shared().applicationState(), ApplicationState::Active);
}

TEST(Screen, HeadlessFiguresAreTheDeviceRecordsAndImageContextsUseThem) {
    EXPECT_EQ(Screen::main().bounds(), Rect(0, 0, 375, 667));
    EXPECT_EQ(Screen::main().scale(), 2.0);
    EXPECT_EQ(Screen::main().applicationFrame(), Rect(0, 20, 375, 647));
    EXPECT_EQ(Application::shared().statusBarFrame(), Rect(0, 0, 375, 20));
    Screen::main().setBounds({414, 736}, 3);
    beginImageContext({10, 10}, false, 0);
    auto image = imageFromCurrentImageContext();
    endImageContext();
    EXPECT_EQ(image->pixelWidth(), 30);
    EXPECT_EQ(Screen::main().currentModeSize(), (Size{1242, 2208}));
    Screen::main().reset();
    EXPECT_EQ(Screen::main().backendName(), "headless");
}

}  // namespace
