// What the loader needs of the on-screen feedback flow. The flow (the window controller and
// its screens) lives in the UI library, which libquillon never links: the loader loads it on
// demand and reaches the window controller through quillon_ui_wren_screens().
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>

class WrenPreferences;
class WrenWindowControllerDelegate;

class WrenScreens {
public:
    // Name of the UI library's entry point: extern "C" WrenScreens* quillon_ui_wren_screens().
    static constexpr const char* kEntryPoint = "quillon_ui_wren_screens";
    using EntryPoint = WrenScreens* (*)();

    // Not owned; read for the way of feedback and the switch-off option, written for the
    // feedback type.
    virtual void setPreferences(WrenPreferences* preferences) = 0;
    // Not owned; receives the committed feedback and the switch-off choice.
    virtual void setDelegate(WrenWindowControllerDelegate* delegate) = 0;
    // Collects the feedback device record (the loader's own collector, so the UI library
    // needs nothing of libquillon's internals). Called on a background queue.
    virtual void setDeviceInfoSource(std::function<platform::Value()> source) = 0;
    // Starts the trigger chosen by the preferences' way of feedback, or stops every trigger.
    virtual void enabledMonitorShakeEvent(bool enabled) = 0;
    // 0 shake, 1 three-finger swipe up, 2 three-finger swipe down, other values no trigger.
    virtual void switchWayOfFeedback(std::int64_t way) = 0;

protected:
    ~WrenScreens() = default;
};
