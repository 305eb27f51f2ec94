// The motion sensor: accelerometer samples in g at the requested interval.
//
// The source is the Linux IIO accelerometer (/sys/bus/iio/devices/iio:device*/in_accel_
// {x,y,z}_raw times the scale) when the machine has one; otherwise, and whenever an event
// script or a test drives the screen, a simulated source that delivers exactly the samples
// injected with injectAccelerometerSample, each once, in order. Injected samples (the event
// script's, the SDL window's shake chord) reach every active manager, whatever its source.
#pragma once

#include "quillon/ui/Export.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quillon::ui {

class OperationQueue;

struct Acceleration {
    double x = 0, y = 0, z = 0;
};

struct AccelerometerData {
    Acceleration acceleration;
    double timestamp = 0;
};

class QUILLON_UI_EXPORT MotionManager {
public:
    // data is null for a missing sample; error is set when the source failed.
    using AccelerometerHandler = std::function<void(const AccelerometerData* data, const std::optional<std::string>& error)>;

    MotionManager();
    ~MotionManager();
    MotionManager(const MotionManager&) = delete;
    MotionManager& operator=(const MotionManager&) = delete;

    double accelerometerUpdateInterval() const;
    void setAccelerometerUpdateInterval(double seconds);
    bool isAccelerometerAvailable() const;
    bool isAccelerometerActive() const;
    // Samples go to `handler` on `queue` until stopped; a running start is replaced.
    void startAccelerometerUpdates(std::shared_ptr<OperationQueue> queue, AccelerometerHandler handler);
    void stopAccelerometerUpdates();

    // The simulated source.
    static void injectAccelerometerSample(double x, double y, double z, std::function<void()> delivered = {});
    // Forces the simulated source (tests, event scripts) or lets the machine decide again.
    static void setSimulated(bool simulated);
    static bool isSimulated();

    struct Impl;  // internal

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace quillon::ui
