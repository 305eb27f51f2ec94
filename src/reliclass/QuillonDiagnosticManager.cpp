#include "reliclass/QuillonDiagnosticManager.h"

#include "reliclass/QuillonDeviceInfo.h"
#include "reliclass/QuillonGuard.h"

#include <optional>
#include <string>

namespace {
platform::Value arrayOf(const std::optional<std::string>& s) {
    platform::Value a = platform::array();
    if (s) a.push_back(*s);
    return a;
}
}  // namespace

QuillonDiagnosticManager& QuillonDiagnosticManager::defaultManager() {
    static QuillonDiagnosticManager* manager = new QuillonDiagnosticManager;
    return *manager;
}

platform::Value QuillonDiagnosticManager::getDiagnosticInfo() {
    return quillon::guarded(
        []() -> platform::Value {
            platform::Value tssd = arrayOf(QuillonDeviceInfo::totalDiskSpaceInBytes());
            platform::Value assd = arrayOf(QuillonDeviceInfo::freeDiskSpaceInBytes());
            platform::Value pow = arrayOf(QuillonDeviceInfo::batteryLevel());
            platform::Value mem = arrayOf(QuillonDeviceInfo::memoryUsage());
            platform::Value cpu = arrayOf(QuillonDeviceInfo::cpuUsagePercent());
            platform::Value snapshot = platform::dict();
            snapshot["tssd"] = std::move(tssd);
            snapshot["assd"] = std::move(assd);
            snapshot["pow"] = std::move(pow);
            snapshot["mem"] = std::move(mem);
            snapshot["cpu"] = std::move(cpu);
            return snapshot;
        },
        platform::Value());
}
