#include "platform/foundation/Bundle.h"

#include "platform/foundation/Files.h"

#include <unistd.h>

#include <climits>
#include <vector>

namespace platform {

namespace {

std::string selfExecutable() {
    std::vector<char> buf(PATH_MAX + 1);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return {};
    return std::string(buf.data(), static_cast<size_t>(n));
}

Value loadInfo(const std::string& directory) {
    auto text = fs::readFile(fs::appendPathComponent(directory, "Info.plist"));
    if (!text) return dict();
    auto v = parseXMLPropertyList(*text);
    if (!v || !v->is_object()) return dict();
    return std::move(*v);
}

}  // namespace

Bundle& Bundle::main() {
    static Bundle* bundle = new Bundle;
    return *bundle;
}

Bundle::Bundle() : executable_(selfExecutable()) {
    path_ = fs::deletingLastPathComponent(executable_);
    info_ = loadInfo(path_);
}

void Bundle::reloadFrom(const std::string& directory) {
    path_ = directory;
    info_ = loadInfo(directory);
}

std::optional<std::string> Bundle::infoString(const std::string& key) const {
    const Value* v = find(info_, key);
    if (!v || !v->is_string()) return std::nullopt;
    return v->get<std::string>();
}

std::string Bundle::sandboxName() const {
    // The name becomes one directory component: a slash or a dot-only name would leave the
    // data directory, so such identifiers fall back to the executable's name.
    auto usable = [](const std::string& s) {
        return !s.empty() && s != "." && s != ".." && s.find('/') == std::string::npos &&
               s.find('\0') == std::string::npos;
    };
    if (auto id = infoString("CFBundleIdentifier"); id && usable(*id)) return *id;
    std::string name = fs::lastPathComponent(executable_);
    return usable(name) ? name : "application";
}

}  // namespace platform
