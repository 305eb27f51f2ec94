// Carrier codes of the SIM and the modem's current radio access technology, from
// ModemManager (org.freedesktop.ModemManager1) on the system bus. Machines without a system
// bus, without ModemManager or without a modem have no carrier: every field is missing.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform::telephony {

struct CarrierInfo {
    std::optional<std::string> mobileCountryCode;  // of the SIM's home network, e.g. "262"
    std::optional<std::string> mobileNetworkCode;  // e.g. "01"
    // The radio technology in the mobile platform's naming, e.g.
    // "CTRadioAccessTechnologyLTE"; missing when unknown.
    std::optional<std::string> radioAccessTechnology;
};

class TelephonySource {
public:
    virtual ~TelephonySource() = default;
    // nullopt when the service is not available here.
    virtual std::optional<CarrierInfo> carrier() = 0;
};

// The carrier as the source in use sees it; all fields missing when it is not available.
CarrierInfo carrierInfo();

// ModemManager on the bus at `busAddress` (a D-Bus address; "" means the system bus:
// $DBUS_SYSTEM_BUS_ADDRESS or /run/dbus/system_bus_socket). A query takes at most
// `timeoutMicros` in all, its bus calls sharing that budget. Once the bus or ModemManager was
// found missing, calls answer "not available" without asking again for 30 seconds.
std::shared_ptr<TelephonySource> makeModemManagerSource(const std::string& busAddress = "",
                                                        std::uint64_t timeoutMicros = 200000);

// ModemManager's access-technology bit mask to the platform's technology name.
std::optional<std::string> radioTechnologyName(std::uint32_t accessTechnologies);

// Tests: substitute the source; nullptr restores the ModemManager one.
void setTelephonySourceForTesting(std::shared_ptr<TelephonySource> source);

}  // namespace platform::telephony
