#include "platform/system/Telephony.h"

#include "platform/system/SystemRoot.h"
#include "platform/system/Systemd.h"

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace platform::telephony {
namespace {

constexpr const char* kService = "org.freedesktop.ModemManager1";
constexpr const char* kModemInterface = "org.freedesktop.ModemManager1.Modem";
constexpr const char* kSimInterface = "org.freedesktop.ModemManager1.Sim";
constexpr double kUnavailableSeconds = 30.0;

double monotonicSeconds() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// libsystemd's entry points. Used only once connect() has made a bus (which it does only when
// the library is loaded): every other call works on that bus or its messages.
const systemd::Api& lib() { return *systemd::load(); }

struct BusDeleter {
    void operator()(sd_bus* b) const { lib().sd_bus_flush_close_unref(b); }
};
struct MessageDeleter {
    void operator()(sd_bus_message* m) const { lib().sd_bus_message_unref(m); }
};
using BusPtr = std::unique_ptr<sd_bus, BusDeleter>;
using MessagePtr = std::unique_ptr<sd_bus_message, MessageDeleter>;

class ModemManagerSource : public TelephonySource {
public:
    ModemManagerSource(std::string address, std::uint64_t timeout) : address_(std::move(address)), timeout_(timeout) {}

    std::optional<CarrierInfo> carrier() override {
        if (monotonicSeconds() < unavailableUntil_.load(std::memory_order_relaxed)) return std::nullopt;
        auto info = query();
        if (!info) unavailableUntil_.store(monotonicSeconds() + kUnavailableSeconds, std::memory_order_relaxed);
        return info;
    }

private:
    std::string busAddress() const {
        if (!address_.empty()) return address_;
        const char* env = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
        if (env && *env) return env;
        return "unix:path=/run/dbus/system_bus_socket";
    }

    BusPtr connect() const {
        std::string address = busAddress();
        // A missing socket file is the common case on servers and containers: no connect.
        if (address.rfind("unix:path=", 0) == 0) {
            std::string path = address.substr(10);
            size_t comma = path.find(',');
            if (comma != std::string::npos) path.resize(comma);
            if (::access(path.c_str(), F_OK) != 0) return nullptr;
        }
        if (!systemd::load()) return nullptr;
        sd_bus* raw = nullptr;
        if (lib().sd_bus_new(&raw) < 0) return nullptr;
        BusPtr bus(raw);
        if (lib().sd_bus_set_address(raw, address.c_str()) < 0 || lib().sd_bus_set_bus_client(raw, 1) < 0 ||
            lib().sd_bus_set_method_call_timeout(raw, timeout_) < 0 || lib().sd_bus_start(raw) < 0) {
            return nullptr;
        }
        return bus;
    }

    // Gives the next bus call what is left of the query's time budget; false when none is.
    bool withinBudget(sd_bus* bus, double deadline) const {
        double left = deadline - monotonicSeconds();
        if (left <= 0) return false;
        return lib().sd_bus_set_method_call_timeout(bus, static_cast<std::uint64_t>(left * 1e6) + 1) >= 0;
    }

    std::optional<CarrierInfo> query() const {
        double deadline = monotonicSeconds() + static_cast<double>(timeout_) / 1e6;
        BusPtr bus = connect();
        if (!bus || !withinBudget(bus.get(), deadline)) return std::nullopt;
        sd_bus_message* reply = nullptr;
        int hasOwner = 0;
        if (lib().sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "NameHasOwner", nullptr, &reply, "s", kService) < 0) {
            return std::nullopt;
        }
        MessagePtr ownerReply(reply);
        if (lib().sd_bus_message_read(reply, "b", &hasOwner) < 0 || !hasOwner) return std::nullopt;

        reply = nullptr;
        if (!withinBudget(bus.get(), deadline)) return std::nullopt;
        if (lib().sd_bus_call_method(bus.get(), kService, "/org/freedesktop/ModemManager1",
                               "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", nullptr, &reply, "") < 0) {
            return std::nullopt;
        }
        MessagePtr objects(reply);
        bool foundModem = false;
        std::uint32_t technologies = 0;
        std::string simPath;
        if (!readFirstModem(reply, foundModem, technologies, simPath) || !foundModem) return std::nullopt;

        CarrierInfo info;
        info.radioAccessTechnology = radioTechnologyName(technologies);
        if (!simPath.empty() && simPath != "/" && withinBudget(bus.get(), deadline)) {
            char* op = nullptr;
            if (lib().sd_bus_get_property_string(bus.get(), kService, simPath.c_str(), kSimInterface, "OperatorIdentifier",
                                           nullptr, &op) >= 0 && op) {
                std::string code(op);
                std::free(op);
                if (code.size() >= 5) {
                    info.mobileCountryCode = code.substr(0, 3);
                    info.mobileNetworkCode = code.substr(3);
                }
            }
        }
        return info;
    }

    // Walks a{oa{sa{sv}}} and reads AccessTechnologies and Sim of the first modem.
    static bool readFirstModem(sd_bus_message* m, bool& found, std::uint32_t& technologies, std::string& sim) {
        if (lib().sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}") < 0) return false;
        int r;
        while ((r = lib().sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}")) > 0) {
            const char* path = nullptr;
            if (lib().sd_bus_message_read(m, "o", &path) < 0) return false;
            if (lib().sd_bus_message_enter_container(m, 'a', "{sa{sv}}") < 0) return false;
            while ((r = lib().sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
                const char* iface = nullptr;
                if (lib().sd_bus_message_read(m, "s", &iface) < 0) return false;
                if (!found && std::strcmp(iface, kModemInterface) == 0) {
                    found = true;
                    if (lib().sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return false;
                    while ((r = lib().sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
                        const char* name = nullptr;
                        if (lib().sd_bus_message_read(m, "s", &name) < 0) return false;
                        if (std::strcmp(name, "AccessTechnologies") == 0) {
                            if (lib().sd_bus_message_read(m, "v", "u", &technologies) < 0) return false;
                        } else if (std::strcmp(name, "Sim") == 0) {
                            const char* simPath = nullptr;
                            if (lib().sd_bus_message_read(m, "v", "o", &simPath) < 0) return false;
                            sim = simPath ? simPath : "";
                        } else if (lib().sd_bus_message_skip(m, "v") < 0) {
                            return false;
                        }
                        if (lib().sd_bus_message_exit_container(m) < 0) return false;
                    }
                    if (r < 0 || lib().sd_bus_message_exit_container(m) < 0) return false;
                } else if (lib().sd_bus_message_skip(m, "a{sv}") < 0) {
                    return false;
                }
                if (lib().sd_bus_message_exit_container(m) < 0) return false;
            }
            if (r < 0 || lib().sd_bus_message_exit_container(m) < 0 || lib().sd_bus_message_exit_container(m) < 0) return false;
        }
        return r >= 0;
    }

    std::string address_;
    std::uint64_t timeout_;
    mutable std::atomic<double> unavailableUntil_{0.0};
};

sys::Substitute<TelephonySource> gSubstitute;

TelephonySource* source() {
    if (TelephonySource* s = gSubstitute.get()) return s;
    static auto* real = new std::shared_ptr<TelephonySource>(makeModemManagerSource());
    return real->get();
}

}  // namespace

std::optional<std::string> radioTechnologyName(std::uint32_t t) {
    static const std::pair<std::uint32_t, const char*> kNames[] = {
        {1u << 15, "CTRadioAccessTechnologyNR"},
        {(1u << 14) | (1u << 16) | (1u << 17), "CTRadioAccessTechnologyLTE"},
        {1u << 13, "CTRadioAccessTechnologyCDMAEVDORevB"},
        {1u << 12, "CTRadioAccessTechnologyCDMAEVDORevA"},
        {1u << 11, "CTRadioAccessTechnologyCDMAEVDORev0"},
        {1u << 10, "CTRadioAccessTechnologyCDMA1x"},
        {(1u << 9) | (1u << 8) | (1u << 6), "CTRadioAccessTechnologyHSDPA"},
        {1u << 7, "CTRadioAccessTechnologyHSUPA"},
        {1u << 5, "CTRadioAccessTechnologyWCDMA"},
        {1u << 4, "CTRadioAccessTechnologyEdge"},
        {1u << 3, "CTRadioAccessTechnologyGPRS"},
    };
    for (const auto& [mask, name] : kNames) {
        if (t & mask) return std::string(name);
    }
    return std::nullopt;
}

std::shared_ptr<TelephonySource> makeModemManagerSource(const std::string& busAddress, std::uint64_t timeoutMicros) {
    return std::make_shared<ModemManagerSource>(busAddress, timeoutMicros);
}

CarrierInfo carrierInfo() {
    auto info = source()->carrier();
    return info ? *info : CarrierInfo{};
}

void setTelephonySourceForTesting(std::shared_ptr<TelephonySource> s) {
    gSubstitute.set(std::move(s));
}

}  // namespace platform::telephony
