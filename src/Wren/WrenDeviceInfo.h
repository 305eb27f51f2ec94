// The device record that travels with every feedback report, and the network-status code
// the feedback side uses to decide whether to send.
//
// Network-status codes: 0 no network, 1-4 a cellular link of that data network type,
// 5 Wi-Fi (the link-local network is reachable), 6 a cellular link of unknown type.
//
// The cellular data network type comes from the modem's current access technology as
// ModemManager reports it (through the platform's telephony service), by generation:
//   1  2G:  GPRS, EDGE, CDMA 1x
//   2  3G:  WCDMA (UMTS), HSDPA/HSPA/HSPA+, HSUPA, CDMA EV-DO Rev. 0/A/B
//   3  4G:  LTE (including LTE Cat-M and NB-IoT)
//   4  5G:  NR
//   0  no modem, no service, or a technology not listed (GSM without GPRS, POTS).
#pragma once

#include "platform/foundation/Value.h"

#include <optional>
#include <string>

class WrenDeviceInfo {
public:
    // The feedback device record, keys in this order: "und", "model", "sysver", "sysname",
    // "ram", "rom", "network", "battery", "power", "jailbreak", "rotate", "location".
    static platform::Value deviceCurrentInfo();
    static int networkStatus();
    // The cellular data network type (1-4 above), 0 when it cannot be found.
    static int getNetworkTypeFromStatusBar();
    static bool jailbreak();

    // The data network type of a radio access technology name ("CTRadioAccessTechnologyLTE").
    static int dataNetworkType(const std::optional<std::string>& radioAccessTechnology);
    // The record's "network" -> "type" for a network-status code.
    static int networkType(int networkStatus);
};
