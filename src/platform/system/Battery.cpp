#include "platform/system/Battery.h"

#include "platform/system/SystemRoot.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

namespace platform::battery {
namespace {

std::string attribute(const std::string& dir, const char* name) {
    std::string text;
    if (!sys::readSmallFile(dir + "/" + name, text, 256)) return std::string();
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text;
}

bool number(const std::string& text, double& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return end && *end == '\0';
}

double levelOf(const std::string& dir) {
    double v = 0, now = 0, full = 0;
    if (number(attribute(dir, "capacity"), v) && v >= 0) return std::min(v, 100.0) / 100.0;
    if (number(attribute(dir, "energy_now"), now) && number(attribute(dir, "energy_full"), full) && full > 0)
        return std::clamp(now / full, 0.0, 1.0);
    if (number(attribute(dir, "charge_now"), now) && number(attribute(dir, "charge_full"), full) && full > 0)
        return std::clamp(now / full, 0.0, 1.0);
    return -1.0;
}

State stateOf(const std::string& dir) {
    std::string s = attribute(dir, "status");
    if (s == "Charging") return State::Charging;
    if (s == "Full") return State::Full;
    if (s == "Discharging" || s == "Not charging") return State::Unplugged;
    return State::Unknown;
}

}  // namespace

Status status() {
    std::string base = sys::systemPath("/sys/class/power_supply");
    DIR* d = ::opendir(base.c_str());
    if (!d) return {};
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::string dir = base + "/" + name;
        if (attribute(dir, "type") != "Battery") continue;
        if (attribute(dir, "scope") == "Device") continue;
        Status st;
        st.level = levelOf(dir);
        st.state = stateOf(dir);
        return st;
    }
    return {};
}

}  // namespace platform::battery
