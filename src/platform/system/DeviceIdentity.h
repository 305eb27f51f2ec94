// Who the machine is: the hardware model string, the operating-system version, the kernel's
// machine name and a vendor identifier that is stable per machine and application vendor.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform::device {

// The kernel's machine name (uname), for example "x86_64".
std::string unameMachine();

// The hardware model: the device-tree model (/proc/device-tree/model, up to its NUL), else the
// DMI product name (/sys/class/dmi/id/product_name), else the uname machine. Surrounding
// white space is removed; an empty source counts as missing.
std::string hardwareModel();

// VERSION_ID of /etc/os-release (or of /usr/lib/os-release when the former is missing), with
// shell quoting and escapes removed; nullopt when neither file has it.
std::optional<std::string> osVersion();

// The value of `key` in an os-release style text, unquoted; nullopt when absent.
std::optional<std::string> osReleaseValue(std::string_view text, std::string_view key);

// The vendor part of a bundle identifier: every dot-separated component but the last
// ("com.example.app" -> "com.example"); an identifier without a dot is its own vendor.
std::string vendorOf(std::string_view bundleIdentifier);

// A 36-character upper-case UUID derived from the machine id and the vendor part of the
// bundle identifier (sd_id128_get_machine_app_specific), so the same on every run of every
// application of that vendor on this machine. nullopt without a machine id or identifier.
std::optional<std::string> vendorIdentifier(std::string_view bundleIdentifier);

// Tests: answer vendorIdentifier() from `source` instead; an empty function restores the
// machine-id derivation.
void setVendorIdentifierSourceForTesting(std::function<std::optional<std::string>(std::string_view)> source);

}  // namespace platform::device
