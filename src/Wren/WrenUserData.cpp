#include "Wren/WrenUserData.h"

namespace {

std::optional<std::string> getString(const platform::Value& v, const char* key) {
    const platform::Value* f = platform::find(v, key);
    return f ? platform::stringValue(*f) : std::nullopt;
}

}  // namespace

platform::Value WrenUserData::encodeWithCoder() const {
    platform::Value v = platform::dict();
    v["$class"] = "WrenUserData";
    v["promptcount"] = promptCount;
    if (contact) v["contact"] = *contact;
    return v;
}

std::optional<WrenUserData> WrenUserData::initWithCoder(const platform::Value& coder) {
    if (!coder.is_object()) return std::nullopt;
    WrenUserData u;
    if (const auto* f = platform::find(coder, "promptcount")) u.promptCount = platform::integerValue(*f);
    u.contact = getString(coder, "contact");
    return u;
}

bool WrenUserData::archiveRootObject(const std::string& path) const { return wrenWriteArchive(path, encodeWithCoder()); }

std::optional<WrenUserData> WrenUserData::unarchiveObjectWithFile(const std::string& path) {
    auto root = wrenReadArchive(path, "WrenUserData");
    return root ? initWithCoder(*root) : std::nullopt;
}
