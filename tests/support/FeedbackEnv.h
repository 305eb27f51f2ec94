// Shared set-up for the feedback tests: a main bundle whose Info.plist points the feedback
// server and the file store at a loopback collector, and substitutes for the network links
// (reachability flags per target) and the modem.
#pragma once

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/Value.h"
#include "platform/net/Reachability.h"
#include "platform/system/Telephony.h"
#include "support/TestEnv.h"

#include <atomic>
#include <memory>
#include <string>

namespace testenv {

// Flags for the link-local target (Wi-Fi) and for every other target (the internet).
class LinkFlags : public platform::ReachabilitySource {
public:
    std::atomic<std::uint32_t> wifi{0};
    std::atomic<std::uint32_t> internet{0};
    std::optional<std::uint32_t> flags(const platform::ReachabilityTarget& target) override {
        return target.kind == platform::ReachabilityTarget::Kind::Address && target.ipv4 == 0xA9FE0000u ? wifi.load()
                                                                                                         : internet.load();
    }
    int watch(std::function<void()>) override { return 1; }
    void unwatch(int) override {}
};

enum class Link { None, WiFi, Cellular };

// Installs a substitute reachability source showing the given link; returns it.
inline std::shared_ptr<LinkFlags> useLink(Link link) {
    auto flags = std::make_shared<LinkFlags>();
    if (link == Link::WiFi) {
        flags->wifi = platform::kReachabilityReachable | platform::kReachabilityIsDirect;
        flags->internet = platform::kReachabilityReachable;
    } else if (link == Link::Cellular) {
        flags->internet = platform::kReachabilityReachable | platform::kReachabilityIsWWAN;
    }
    platform::setReachabilitySource(flags);
    return flags;
}

class FixedModem : public platform::telephony::TelephonySource {
public:
    explicit FixedModem(platform::telephony::CarrierInfo info) : info_(std::move(info)) {}
    std::optional<platform::telephony::CarrierInfo> carrier() override { return info_; }

private:
    platform::telephony::CarrierInfo info_;
};

inline void useModem(std::optional<std::string> mcc, std::optional<std::string> mnc, std::optional<std::string> rat) {
    platform::telephony::setTelephonySourceForTesting(
        std::make_shared<FixedModem>(platform::telephony::CarrierInfo{std::move(mcc), std::move(mnc), std::move(rat)}));
}

// Loads a main bundle from a fresh directory with the given extra Info.plist entries.
inline void useBundle(const platform::Value& extra) {
    const std::string dir = makeTempDir("bundle");
    platform::Value info = platform::dict();
    info["CFBundleIdentifier"] = "org.example.wren";
    info["CFBundleName"] = "WrenHost";
    info["CFBundleShortVersionString"] = "3.4.5";
    info["CFBundleVersion"] = "345";
    for (auto it = extra.begin(); it != extra.end(); ++it) info[it.key()] = it.value();
    platform::fs::writeAtomically(dir + "/Info.plist", *platform::toXMLPropertyList(info));
    platform::Bundle::main().reloadFrom(dir);
}

}  // namespace testenv
