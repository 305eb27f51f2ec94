#include "platform/system/DeviceIdentity.h"

#include "platform/foundation/Digest.h"

#include "platform/system/SystemRoot.h"
#include "platform/system/Systemd.h"

#include <sys/utsname.h>

#include <cctype>
#include <cstdio>
#include <memory>

namespace platform::device {
namespace {

std::string trimmed(std::string s) {
    size_t nul = s.find('\0');
    if (nul != std::string::npos) s.resize(nul);
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::optional<std::string> modelFrom(std::string_view absolutePath) {
    std::string text;
    if (!sys::readSmallFile(sys::systemPath(absolutePath), text)) return std::nullopt;
    text = trimmed(std::move(text));
    if (text.empty()) return std::nullopt;
    return text;
}

// Shell-style unquoting of one os-release value: '...' literal, "..." with \" \\ \$ \`
// escapes, bare words with backslash escapes.
std::string unquote(std::string_view v) {
    std::string out;
    char quote = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        char c = v[i];
        if (quote == '\'') {
            if (c == '\'') quote = 0;
            else out.push_back(c);
        } else if (quote == '"') {
            if (c == '"') {
                quote = 0;
            } else if (c == '\\' && i + 1 < v.size() && std::string_view("\"\\$`").find(v[i + 1]) != std::string_view::npos) {
                out.push_back(v[++i]);
            } else {
                out.push_back(c);
            }
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '\\' && i + 1 < v.size()) {
            out.push_back(v[++i]);
        } else if (c == '#' || std::isspace(static_cast<unsigned char>(c))) {
            break;  // end of the word; a comment or trailing blanks follow
        } else {
            out.push_back(c);
        }
    }
    return out;
}

using VendorSource = std::function<std::optional<std::string>(std::string_view)>;
sys::Substitute<VendorSource> gVendorSource;

}  // namespace

std::string unameMachine() {
    struct utsname u {};
    if (::uname(&u) != 0) return std::string();
    return u.machine;
}

std::string hardwareModel() {
    if (auto m = modelFrom("/proc/device-tree/model")) return *m;
    if (auto m = modelFrom("/sys/class/dmi/id/product_name")) return *m;
    return unameMachine();
}

std::optional<std::string> osReleaseValue(std::string_view text, std::string_view key) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.front()))) line.remove_prefix(1);
        if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == '=') {
            return unquote(line.substr(key.size() + 1));
        }
    }
    return std::nullopt;
}

std::optional<std::string> osVersion() {
    std::string text;
    if (!sys::readSmallFile(sys::systemPath("/etc/os-release"), text, 64 * 1024) &&
        !sys::readSmallFile(sys::systemPath("/usr/lib/os-release"), text, 64 * 1024)) {
        return std::nullopt;
    }
    return osReleaseValue(text, "VERSION_ID");
}

std::string vendorOf(std::string_view bundleIdentifier) {
    size_t dot = bundleIdentifier.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::string(bundleIdentifier);
    return std::string(bundleIdentifier.substr(0, dot));
}

std::optional<std::string> vendorIdentifier(std::string_view bundleIdentifier) {
    if (VendorSource* source = gVendorSource.get()) return (*source)(bundleIdentifier);
    if (bundleIdentifier.empty()) return std::nullopt;

    // The application id for the derivation: the first 128 bits of SHA-256 of the vendor.
    std::string vendor = vendorOf(bundleIdentifier);
    const auto digest = sha256(vendor);
    if (digest == decltype(digest){}) return std::nullopt;
    sd_id128_t appId;
    for (int i = 0; i < 16; ++i) appId.bytes[i] = digest[i];
    sd_id128_t id;
    const systemd::Api* sd = systemd::load();
    if (!sd || sd->sd_id128_get_machine_app_specific(appId, &id) < 0) return std::nullopt;
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  id.bytes[0], id.bytes[1], id.bytes[2], id.bytes[3], id.bytes[4], id.bytes[5],
                  id.bytes[6], id.bytes[7], id.bytes[8], id.bytes[9], id.bytes[10], id.bytes[11],
                  id.bytes[12], id.bytes[13], id.bytes[14], id.bytes[15]);
    return std::string(text);
}

void setVendorIdentifierSourceForTesting(std::function<std::optional<std::string>(std::string_view)> source) {
    gVendorSource.set(source ? std::make_shared<VendorSource>(std::move(source)) : nullptr);
}

}  // namespace platform::device
