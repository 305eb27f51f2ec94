// The system battery, read from /sys/class/power_supply: the first supply (in name order)
// whose type is "Battery" and whose scope is not "Device" (batteries of mice and other
// peripherals carry scope "Device"). Servers, containers and desktops have none.
#pragma once

namespace platform::battery {

enum class State { Unknown = 0, Unplugged = 1, Charging = 2, Full = 3 };

struct Status {
    double level = -1.0;  // 0.0 .. 1.0; -1.0 when not known
    State state = State::Unknown;
};

// The current status; {-1.0, Unknown} without a system battery. The supply directory is
// read under platform::sys::systemPath, so tests can lay out a made-up tree.
Status status();

}  // namespace platform::battery
