// The plain C interface: converts its strings and forwards to the Quillon class.
#include "quillon/Quillon.h"
#include "quillon/quillon.h"

namespace {

Quillon::String text(const char* s) {
    if (!s) return std::nullopt;
    return std::string(s);
}

// Nothing may unwind into a C caller.
template <class F>
void noThrow(F&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

}  // namespace

extern "C" {

void quillonInit(const char* appKey, const char* channel) {
    quillonInitWithConfig(appKey, channel, QUILLON_INIT_MONITOR_EXCEPTION | QUILLON_INIT_USE_LOCATION_INFO);
}

void quillonInitWithConfig(const char* appKey, const char* channel, QuillonInitFlags flags) {
    noThrow([&] {
        QuillonConfig config = QuillonConfig::defaultConfig();
        config.enabledMonitorException = (flags & QUILLON_INIT_MONITOR_EXCEPTION) != 0;
        config.enabledShakeFeedback = (flags & QUILLON_INIT_SHAKE_FEEDBACK) != 0;
        config.useLocationInfo = (flags & QUILLON_INIT_USE_LOCATION_INFO) != 0;
        config.reportOnlyWIFI = (flags & QUILLON_INIT_REPORT_ONLY_WIFI) != 0;
        config.printLogForDebug = (flags & QUILLON_INIT_PRINT_LOG_FOR_DEBUG) != 0;
        Quillon::init(text(appKey), text(channel), config);
    });
}

void quillonSetUserInfo(const char* userInfo) {
    noThrow([&] { Quillon::setUserInfo(text(userInfo)); });
}

void quillonLeaveBreadcrumb(const char* breadcrumb) {
    noThrow([&] { Quillon::leaveBreadcrumbWithString(text(breadcrumb)); });
}

void quillonReportException(int32_t type, const char* message, const char* stackTrace) {
    noThrow([&] { Quillon::reportCustomizedException(type, text(message), text(stackTrace)); });
}

}  // extern "C"
