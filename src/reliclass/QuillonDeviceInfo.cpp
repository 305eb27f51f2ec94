#include "reliclass/QuillonDeviceInfo.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/Logger.h"
#include "platform/system/Battery.h"
#include "platform/system/DeviceIdentity.h"
#include "platform/system/Location.h"
#include "platform/system/ProcessMetrics.h"
#include "platform/system/Telephony.h"
#include "platform/ui/Screen.h"
#include "reliclass/QuillonConfiguration.h"
#include "reliclass/QuillonGuard.h"
#include "reliclass/QuillonMyKeyChainHelper.h"
#include "reliclass/QuillonReportDataUnit.h"
#include "reliclass/QuillonRreachability.h"

#include <sys/random.h>

#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <random>
#include <utility>

#include <quillon/detail/RecordKeys.h>

namespace keys = quillon::record;

namespace {

// Text-or-empty for optional strings.
std::string orEmpty(const std::optional<std::string>& s) { return s ? *s : std::string(); }
// How the platform's formatter prints a missing object.
std::string orNull(const std::optional<std::string>& s) { return s ? *s : std::string("(null)"); }

double versionNumber(const std::string& version) { return std::strtod(version.c_str(), nullptr); }

// The operating-system version does not change under a running process; read it once.
// Read once and never destroyed: background threads may still use them while the process exits.
const std::optional<std::string>& cachedOSVersion() {
    static const auto* version = new std::optional<std::string>(platform::device::osVersion());
    return *version;
}

const std::string& cachedHardwareModel() {
    static const auto* model = new std::string(platform::device::hardwareModel());
    return *model;
}

std::string appVersionAndBuild() {
    return orNull(QuillonDeviceInfo::getAPPVersion()) + "(" + orNull(QuillonDeviceInfo::getAppBuildVersion()) + ")";
}

// The report record's fields that cannot change under a running process, once prepared.
struct FixedFields {
    std::string appName, bundleId, identifier, versionAndBuild, osVersion, model;
    std::int64_t screenHeight = 0, screenWidth = 0;
};
// Replaced whole, never freed: a crash on another thread may be reading it.
std::atomic<const FixedFields*> gFixedFields{nullptr};

int reachabilityStatus() {
    auto reachability = QuillonRreachability::reachabilityForInternetConnection();
    return reachability ? reachability->currentReachabilityStatus() : 0;
}

}  // namespace

std::string QuillonDeviceInfo::createUUID() {
    unsigned char b[16];
    if (::getrandom(b, sizeof b, 0) != static_cast<ssize_t>(sizeof b)) {
        std::random_device rd;
        for (auto& c : b) c = static_cast<unsigned char>(rd());
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return platform::format("%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1], b[2],
                            b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
}

std::optional<std::string> QuillonDeviceInfo::getDeviceUUID() {
    return quillon::guarded(
        []() -> std::optional<std::string> {
            auto storedIdentifier = []() -> std::optional<std::string> {
                platform::Value stored = QuillonMyKeyChainHelper::getTokenWithService(kDeviceUUIDKey);
                if (auto text = platform::stringValue(stored); text && !text->empty()) return text;
                return std::nullopt;
            };
            if (auto stored = storedIdentifier()) return *stored;

            // First use: two threads must not each store an identifier of their own.
            static std::mutex creation;
            std::lock_guard<std::mutex> lock(creation);
            if (auto stored = storedIdentifier()) return *stored;
            std::string identifier;
            if (versionNumber(getIOSVersion()) < 6.0) {
                identifier = createUUID();
            } else {
                auto vendor = platform::device::vendorIdentifier(platform::Bundle::main().sandboxName());
                identifier = vendor && !vendor->empty() ? *vendor : createUUID();
            }
            QuillonMyKeyChainHelper::saveToken(platform::Value(identifier), kDeviceUUIDKey);
            return identifier;
        },
        std::optional<std::string>());
}

std::string QuillonDeviceInfo::getIOSVersion() { return orEmpty(cachedOSVersion()); }

std::optional<std::string> QuillonDeviceInfo::getAPPVersion() {
    return platform::Bundle::main().infoString("CFBundleShortVersionString");
}
std::optional<std::string> QuillonDeviceInfo::getAppBuildVersion() {
    return platform::Bundle::main().infoString("CFBundleVersion");
}
std::optional<std::string> QuillonDeviceInfo::getAppName() {
    return platform::Bundle::main().infoString("CFBundleExecutable");
}
std::optional<std::string> QuillonDeviceInfo::getBoundleID() {
    return platform::Bundle::main().infoString("CFBundleIdentifier");
}

std::string QuillonDeviceInfo::getScreenSize() {
    auto width = static_cast<long long>(platform::ui::Screen::main().bounds().width);
    return width == 320 ? "1" : "2";
}

std::string QuillonDeviceInfo::modelName(const std::string& m) {
    static const std::pair<const char*, const char*> kTable[] = {
        {"iPhone1,1", "iPhone"},        {"iPhone1,2", "iPhone 3G"},     {"iPhone2,1", "iPhone 3GS"},
        {"iPhone3,1", "iPhone 4"},      {"iPhone3,2", "iPhone 4"},      {"iPhone3,3", "iPhone 4"},
        {"iPhone4,1", "iPhone 4S"},     {"iPhone5,1", "iPhone 5"},      {"iPhone5,2", "iPhone 5"},
        {"iPhone5,3", "iPhone 5C"},     {"iPhone5,4", "iPhone 5C"},     {"iPhone6,2", "iPhone 5S"},
        {"iPhone6,1", "iPhone 5S"},     {"iPhone7,1", "iPhone 6 Plus"}, {"iPhone7,2", "iPhone 6"},
        {"iPod4,1", "iPod touch 4"},    {"iPod5,1", "iPod touch 5"},    {"iPod3,1", "iPod touch 3"},
        {"iPod2,1", "iPod touch 2"},    {"iPod1,1", "iPod touch"},      {"iPad3,2", "iPad 3"},
        {"iPad3,1", "iPad 3"},          {"iPad3,3", "iPad 3"},          {"iPad2,2", "iPad 2"},
        {"iPad2,1", "iPad 2"},          {"iPad2,3", "iPad 2"},          {"iPad2,4", "iPad 2"},
        {"iPad1,1", "iPad 1"},          {"iPad2,5", "ipad mini"},       {"iPad2,6", "ipad mini"},
        {"iPad2,7", "ipad mini"},       {"iPad3,4", "ipad 4"},          {"iPad3,5", "ipad 4"},
        {"iPad3,6", "ipad 4"},
    };
    for (const auto& [machine, name] : kTable) {
        if (m == machine) return name;
    }
    return m;
}

std::optional<std::string> QuillonDeviceInfo::getDeviceType() {
    return quillon::guarded([]() -> std::optional<std::string> { return modelName(cachedHardwareModel()); },
                            std::optional<std::string>());
}

platform::Value QuillonDeviceInfo::getCarrierInfo() {
    return quillon::guarded(
        []() -> platform::Value {
            platform::telephony::CarrierInfo carrier = platform::telephony::carrierInfo();
            std::string nt;
            if (reachabilityStatus() == 2) {
                nt = "1";
            } else {
                nt = "0";
                if (versionNumber(getIOSVersion()) >= 7.0) nt = "0/" + orNull(carrier.radioAccessTechnology);
            }
            platform::Value record = platform::dict();
            record["nt"] = nt;
            record["isp"] = orEmpty(carrier.mobileCountryCode) + orEmpty(carrier.mobileNetworkCode);
            return record;
        },
        platform::Value());
}

std::string QuillonDeviceInfo::preferredLanguage() {
    std::string locale;
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (v && *v) {
            locale = v;
            break;
        }
    }
    locale = locale.substr(0, locale.find(':'));  // LANGUAGE is a list
    locale = locale.substr(0, locale.find('.'));  // encoding
    std::string modifier;
    if (size_t at = locale.find('@'); at != std::string::npos) {
        modifier = locale.substr(at + 1);
        locale.resize(at);
    }
    if (locale.empty() || locale == "C" || locale == "POSIX") return "en";
    std::string language = locale.substr(0, locale.find('_'));
    std::string region = locale.find('_') == std::string::npos ? "" : locale.substr(locale.find('_') + 1);
    if (language == "zh") {
        if (region == "TW" || region == "HK" || region == "MO") return "zh-Hant";
        return "zh-Hans";
    }
    return region.empty() ? language : language + "-" + region;
}

std::string QuillonDeviceInfo::getSysLanguage() { return preferredLanguage() == "zh-Hans" ? "0" : "1"; }

std::string QuillonDeviceInfo::getScreenOrientation() {
    switch (platform::ui::Screen::main().deviceOrientation()) {
        case platform::ui::kOrientationPortrait:
        case platform::ui::kOrientationPortraitUpsideDown:
            return "portrait";
        case platform::ui::kOrientationLandscapeLeft:
        case platform::ui::kOrientationLandscapeRight:
            return "landscape";
        default:
            return "undefined";
    }
}

bool QuillonDeviceInfo::isReachableNetWork() {
    int status = reachabilityStatus();
    if (QuillonConfiguration::shareConfiguration().reportOnlyWIFI) return status == 2;
    return status != 0;
}

void QuillonDeviceInfo::currentLocation(const std::function<void(double, double)>& completion) {
    if (!QuillonConfiguration::shareConfiguration().useLocationInfo) {
        completion(0, 0);
        return;
    }
    platform::location::LocationProvider* provider = platform::location::provider();
    if (!provider) {
        completion(0, 0);
        return;
    }
    if (!provider->servicesEnabled()) {
        QuillonConfiguration::logWithLevel(2, "locationServicesEnabled isn't enabled!");
        completion(0, 0);
        return;
    }
    auto location = provider->heldLocation();
    if (location) completion(location->latitude, location->longitude);
    else completion(0, 0);
}

platform::Value QuillonDeviceInfo::getDeviceInfo() {
    return quillon::guarded(
        []() -> platform::Value {
            QuillonConfiguration& config = QuillonConfiguration::shareConfiguration();
            const FixedFields* fixed = gFixedFields.load(std::memory_order_acquire);
            platform::Value record = platform::dict();
            const QuillonConfiguration::AppexRecord appex = config.appexForRecord();
            if (appex.appex) {
                const platform::Value& info = appex.info;
                record["appnm"] = platform::textOrEmpty(info, "CFBundleExecutable");
                record["pgn"] = platform::textOrEmpty(info, "CFBundleIdentifier");
                record["expid"] = platform::textOrEmpty(info, "NSExtensionPointIdentifier");
                record["uuid"] = platform::textOrEmpty(info, "UUID");
            } else {
                record["appnm"] = fixed ? fixed->appName : orEmpty(getAppName());
                record["pgn"] = fixed ? fixed->bundleId : orEmpty(getBoundleID());
                record["expid"] = "";
                record["uuid"] = executableUUID();
            }
            record[keys::kDeviceId] = fixed ? fixed->identifier : orEmpty(getDeviceUUID());
            record[keys::kAppVersion] = fixed ? fixed->versionAndBuild : appVersionAndBuild();
            record["on"] = 2;
            record[keys::kOsVersion] = fixed ? fixed->osVersion : getIOSVersion();
            record["mt"] = fixed ? fixed->model : orEmpty(getDeviceType());
            record["chid"] = orEmpty(QuillonReportDataUnit::shareStance().channel);
            record["ori"] = getScreenOrientation();
            if (fixed) {
                record["sh"] = fixed->screenHeight;
                record["sw"] = fixed->screenWidth;
            } else {
                platform::ui::Size bounds = platform::ui::Screen::main().bounds();
                record["sh"] = static_cast<std::int64_t>(bounds.height);
                record["sw"] = static_cast<std::int64_t>(bounds.width);
            }
            currentLocation([&record](double latitude, double longitude) {
                platform::Value loc = platform::dict();
                loc["lot"] = longitude;
                loc["lat"] = latitude;
                record["loc"] = std::move(loc);
            });
            return record;
        },
        platform::Value());
}

void QuillonDeviceInfo::prepareFixedFields() {
    quillon::guarded([] {
        auto identifier = getDeviceUUID();
        if (!identifier || identifier->empty()) return;  // read afresh until there is one
        auto* fixed = new FixedFields;
        fixed->appName = orEmpty(getAppName());
        fixed->bundleId = orEmpty(getBoundleID());
        fixed->identifier = *identifier;
        fixed->versionAndBuild = appVersionAndBuild();
        fixed->osVersion = getIOSVersion();
        fixed->model = orEmpty(getDeviceType());
        platform::ui::Size bounds = platform::ui::Screen::main().bounds();
        fixed->screenHeight = static_cast<std::int64_t>(bounds.height);
        fixed->screenWidth = static_cast<std::int64_t>(bounds.width);
        gFixedFields.store(fixed, std::memory_order_release);
        // The first answers of these sources are the slow ones (a bus connection, a netlink
        // dump); later ones come from what the sources remember.
        platform::telephony::carrierInfo();
        reachabilityStatus();
    });
}

platform::Value QuillonDeviceInfo::getDeviceInfoForInit() {
    return quillon::guarded(
        []() -> platform::Value {
            platform::Value record = platform::dict();
            record["uuid"] = executableUUID();
            record[keys::kDeviceId] = orEmpty(getDeviceUUID());
            record[keys::kAppVersion] = appVersionAndBuild();
            record["on"] = 2;
            record[keys::kOsVersion] = getIOSVersion();
            record["mt"] = orEmpty(getDeviceType());
            record["sv"] = kSDKVersion;
            record["an"] = orEmpty(getAppName());
            record["pgn"] = orEmpty(getBoundleID());
            record["st"] = getScreenSize();
            record["chid"] = orEmpty(QuillonReportDataUnit::shareStance().channel);
            record[keys::kProtocol] = kProtocolVersion;
            return record;
        },
        platform::Value());
}

platform::Value QuillonDeviceInfo::getDeviceInfoForConfig() {
    return quillon::guarded(
        []() -> platform::Value {
            platform::Value record = platform::dict();
            record[keys::kDeviceId] = orEmpty(getDeviceUUID());
            record["mt"] = orEmpty(getDeviceType());
            record[keys::kOsVersion] = getIOSVersion();
            record["on"] = 2;
            record["sv"] = kSDKVersion;
            record["cv"] = QuillonConfiguration::shareConfiguration().cv.load(std::memory_order_relaxed);
            return record;
        },
        platform::Value());
}

// ------------------------------------------------------------------ resource metrics

std::optional<std::string> QuillonDeviceInfo::totalDiskSpaceInBytes() {
    return quillon::guarded(
        []() -> std::optional<std::string> {
            // Documents may not exist yet: measure the file system that will hold it, that of
            // its nearest existing ancestor.
            std::string path = platform::fs::documentsDirectory();
            std::optional<platform::metrics::FileSystemSize> fs;
            while (!(fs = platform::metrics::fileSystemSize(path)) && path != "/" && !path.empty()) {
                path = platform::fs::deletingLastPathComponent(path);
            }
            std::int64_t total = fs ? static_cast<std::int64_t>(fs->blocks * fs->blockSize) : -1;
            return platform::format("%" PRId64, total);
        },
        std::optional<std::string>());
}

std::optional<std::string> QuillonDeviceInfo::freeDiskSpaceInBytes() {
    return quillon::guarded(
        []() -> std::optional<std::string> {
            auto fs = platform::metrics::fileSystemSize("/var");
            std::int64_t free = fs ? static_cast<std::int64_t>(fs->blockSize * fs->freeBlocks) : -1;
            return platform::format("%" PRId64, free);
        },
        std::optional<std::string>());
}

std::optional<std::string> QuillonDeviceInfo::batteryLevel() {
    return quillon::guarded(
        []() -> std::optional<std::string> {
            return platform::format("%f", static_cast<double>(static_cast<float>(platform::battery::status().level)));
        },
        std::optional<std::string>());
}

std::optional<std::string> QuillonDeviceInfo::memoryTotal() {
    return quillon::guarded(
        []() -> std::optional<std::string> {
            auto memory = platform::metrics::processMemory();
            if (!memory) return std::nullopt;
            return platform::format("%lu", static_cast<unsigned long>(memory->virtualBytes));
        },
        std::optional<std::string>());
}

std::string QuillonDeviceInfo::memoryUsage() {
    return quillon::guarded(
        []() -> std::string {
            auto memory = platform::metrics::processMemory();
            if (!memory) return std::string();
            return platform::format("%lu", static_cast<unsigned long>(memory->residentBytes));
        },
        std::string());
}

std::optional<std::string> QuillonDeviceInfo::cpuUsagePercent() {
    return quillon::guarded(
        []() -> std::optional<std::string> {
            auto usage = platform::metrics::processCpuUsage();
            if (!usage) return std::nullopt;
            // Summed in single precision, as a fraction of one processor.
            return platform::format("%f", static_cast<double>(static_cast<float>(*usage)));
        },
        std::optional<std::string>(std::string()));
}
