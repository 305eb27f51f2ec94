#include "quillon/ui/MotionManager.h"

#include "platform/foundation/Logger.h"
#include "platform/runtime/RunLoop.h"
#include "platform/system/SystemRoot.h"
#include "quillon/ui/Timer.h"

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace quillon::ui {

namespace {

constexpr double kStandardGravity = 9.80665;

// An IIO accelerometer: in_accel_{x,y,z}_raw times in_accel_scale (m/s^2) gives g.
struct IioAccelerometer {
    std::string directory;
    double scale = 1;
};

std::optional<IioAccelerometer> findIioAccelerometer() {
    const std::string root = platform::sys::systemPath("/sys/bus/iio/devices");
    DIR* dir = opendir(root.c_str());
    if (!dir) return std::nullopt;
    std::vector<std::string> devices;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.rfind("iio:device", 0) == 0) devices.push_back(root + "/" + name);
    }
    closedir(dir);
    std::sort(devices.begin(), devices.end());
    for (const auto& d : devices) {
        std::string raw;
        if (!platform::sys::readSmallFile(d + "/in_accel_x_raw", raw)) continue;
        IioAccelerometer a{d, 1};
        std::string scale;
        if (platform::sys::readSmallFile(d + "/in_accel_scale", scale)) a.scale = std::strtod(scale.c_str(), nullptr);
        return a;
    }
    return std::nullopt;
}

bool readIio(const IioAccelerometer& a, Acceleration& out) {
    double v[3];
    const char* axes[3] = {"x", "y", "z"};
    for (int i = 0; i < 3; ++i) {
        std::string raw;
        if (!platform::sys::readSmallFile(a.directory + "/in_accel_" + axes[i] + "_raw", raw)) return false;
        char* end = nullptr;
        v[i] = std::strtod(raw.c_str(), &end);
        if (end == raw.c_str()) return false;
    }
    out = {v[0] * a.scale / kStandardGravity, v[1] * a.scale / kStandardGravity, v[2] * a.scale / kStandardGravity};
    return true;
}

std::atomic<int> gSimulated{-1};  // -1: the machine decides

bool simulatedNow() {
    int forced = gSimulated.load();
    if (forced >= 0) return forced == 1;
    if (std::getenv("QUILLON_UI_SCRIPT")) return true;
    return !findIioAccelerometer().has_value();
}

}  // namespace

struct MotionManager::Impl {
    std::mutex mutex;
    double interval = 0.1;
    bool active = false;
    bool simulated = false;
    std::shared_ptr<OperationQueue> queue;
    AccelerometerHandler handler;
    std::shared_ptr<Timer> timer;
    std::optional<IioAccelerometer> device;
    std::uint64_t generation = 0;
};

namespace {
std::mutex gManagersMutex;
std::vector<std::weak_ptr<MotionManager::Impl>>& managers() {
    static auto* list = new std::vector<std::weak_ptr<MotionManager::Impl>>;
    return *list;
}
}  // namespace

MotionManager::MotionManager() : impl_(std::make_shared<Impl>()) {
    std::lock_guard<std::mutex> lock(gManagersMutex);
    managers().push_back(impl_);
}

MotionManager::~MotionManager() { stopAccelerometerUpdates(); }

double MotionManager::accelerometerUpdateInterval() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->interval;
}

void MotionManager::setAccelerometerUpdateInterval(double seconds) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->interval = std::clamp(seconds, 0.01, 10.0);
}

bool MotionManager::isAccelerometerAvailable() const { return true; }

bool MotionManager::isAccelerometerActive() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->active;
}

void MotionManager::startAccelerometerUpdates(std::shared_ptr<OperationQueue> queue, AccelerometerHandler handler) {
    stopAccelerometerUpdates();
    bool simulated = simulatedNow();
    std::shared_ptr<Impl> impl = impl_;
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->queue = queue ? queue : std::make_shared<OperationQueue>();
    impl->handler = std::move(handler);
    impl->active = true;
    impl->simulated = simulated;
    std::uint64_t generation = ++impl->generation;
    if (simulated) return;  // samples arrive through injectAccelerometerSample
    impl->device = findIioAccelerometer();
    // The real sensor is read on the main run loop at the interval and handed to the queue.
    double interval = impl->interval;
    std::weak_ptr<Impl> weak = impl;
    platform::RunLoop::main().perform([weak, interval, generation] {
        auto timer = Timer::scheduledTimer(interval, true, [weak, generation](Timer& t) {
            auto impl = weak.lock();
            if (!impl) return t.invalidate();
            std::lock_guard<std::mutex> lock(impl->mutex);
            if (!impl->active || impl->generation != generation) return t.invalidate();
            AccelerometerData data;
            data.timestamp = mediaTime();
            bool ok = impl->device && readIio(*impl->device, data.acceleration);
            auto handler = impl->handler;
            impl->queue->addOperation([handler, data, ok] {
                std::optional<std::string> error;
                if (!ok) error = "the accelerometer could not be read";
                if (handler) handler(ok ? &data : nullptr, error);
            });
        });
        if (auto impl = weak.lock()) {
            std::lock_guard<std::mutex> lock(impl->mutex);
            if (impl->generation == generation && impl->active) {
                impl->timer = timer;
                return;
            }
        }
        timer->invalidate();
    });
}

void MotionManager::stopAccelerometerUpdates() {
    std::shared_ptr<Timer> timer;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->active = false;
        ++impl_->generation;
        timer = std::move(impl_->timer);
    }
    if (timer) {
        if (platform::RunLoop::isMainThread()) {
            timer->invalidate();
        } else {
            platform::RunLoop::main().perform([timer] { timer->invalidate(); });
        }
    }
}

void MotionManager::injectAccelerometerSample(double x, double y, double z, std::function<void()> delivered) {
    std::vector<std::shared_ptr<Impl>> targets;
    {
        std::lock_guard<std::mutex> lock(gManagersMutex);
        auto& list = managers();
        list.erase(std::remove_if(list.begin(), list.end(), [](const auto& w) { return w.expired(); }), list.end());
        for (const auto& w : list) {
            if (auto impl = w.lock()) targets.push_back(impl);
        }
    }
    // `delivered` runs once every active manager's handler has taken the sample.
    auto pending = std::make_shared<std::atomic<int>>(1);
    auto done = [pending, delivered] {
        if (pending->fetch_sub(1) == 1 && delivered) delivered();
    };
    AccelerometerData data;
    data.acceleration = {x, y, z};
    data.timestamp = mediaTime();
    for (const auto& impl : targets) {
        std::lock_guard<std::mutex> lock(impl->mutex);
        if (!impl->active || !impl->queue) continue;
        auto handler = impl->handler;
        pending->fetch_add(1);
        impl->queue->addOperation([handler, data, done] {
            if (handler) handler(&data, std::nullopt);
            done();
        });
    }
    done();
}

void MotionManager::setSimulated(bool simulated) { gSimulated = simulated ? 1 : 0; }

bool MotionManager::isSimulated() { return simulatedNow(); }

}  // namespace quillon::ui
