#include "Wren/WrenReportData.h"

#include "platform/foundation/Files.h"

namespace {

constexpr const char* kClassKey = "$class";

bool writeArchiveImpl(const std::string& path, const platform::Value& root) {
    auto bytes = platform::keyedArchive(root);
    if (!bytes) return false;
    // The directory is made at start; make it here too so that nothing is lost without it.
    const std::string dir = platform::fs::deletingLastPathComponent(path);
    if (!platform::fs::fileExists(dir)) platform::fs::createDirectories(dir, 0700);
    return platform::fs::writeAtomically(
        path, std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), 0600);
}

std::optional<platform::Value> readArchiveImpl(const std::string& path, const char* className) {
    auto text = platform::fs::readFile(path);
    if (!text) return std::nullopt;
    auto root = platform::keyedUnarchive(platform::Bytes(text->begin(), text->end()));
    if (!root || !root->is_object() || platform::textOrEmpty(*root, kClassKey) != className) return std::nullopt;
    return root;
}

void putString(platform::Value& v, const char* key, const std::optional<std::string>& s) {
    if (s) v[key] = *s;
}

std::optional<std::string> getString(const platform::Value& v, const char* key) {
    const platform::Value* f = platform::find(v, key);
    return f ? platform::stringValue(*f) : std::nullopt;
}

}  // namespace

platform::Value WrenReportData::encodeWithCoder() const {
    platform::Value v = platform::dict();
    v[kClassKey] = "WrenReportData";
    v["haveData"] = haveData;
    if (modifiedImageData) v["modifiedImageData"] = platform::bytesValue(*modifiedImageData);
    putString(v, "originalImageKey", originalImageKey);
    putString(v, "modifiedImageKey", modifiedImageKey);
    putString(v, "commentText", commentText);
    putString(v, "contactText", contactText);
    if (deviceInfo && !deviceInfo->is_null()) v["deviceInfo"] = *deviceInfo;
    putString(v, "reportId", reportId);
    return v;
}

std::optional<WrenReportData> WrenReportData::initWithCoder(const platform::Value& coder) {
    if (!coder.is_object()) return std::nullopt;
    WrenReportData r;
    if (const auto* f = platform::find(coder, "haveData")) r.haveData = platform::integerValue(*f) != 0;
    if (const auto* f = platform::find(coder, "modifiedImageData"); f && f->is_binary()) {
        r.modifiedImageData = platform::Bytes(f->get_binary().begin(), f->get_binary().end());
    }
    r.originalImageKey = getString(coder, "originalImageKey");
    r.modifiedImageKey = getString(coder, "modifiedImageKey");
    r.commentText = getString(coder, "commentText");
    r.contactText = getString(coder, "contactText");
    if (const auto* f = platform::find(coder, "deviceInfo"); f && f->is_object()) r.deviceInfo = *f;
    r.reportId = getString(coder, "reportId");
    return r;
}

bool WrenReportData::archiveRootObject(const std::string& path) const { return wrenWriteArchive(path, encodeWithCoder()); }

std::optional<WrenReportData> WrenReportData::unarchiveObjectWithFile(const std::string& path) {
    auto root = wrenReadArchive(path, "WrenReportData");
    return root ? initWithCoder(*root) : std::nullopt;
}

std::string wrenCacheDirectory() { return platform::fs::appendPathComponent(platform::fs::cachesDirectory(), "quillon"); }
std::string wrenReportDataPath() { return platform::fs::appendPathComponent(wrenCacheDirectory(), "report.data"); }
std::string wrenUserDataPath() { return platform::fs::appendPathComponent(wrenCacheDirectory(), "user.data"); }

bool wrenWriteArchive(const std::string& path, const platform::Value& root) { return writeArchiveImpl(path, root); }
std::optional<platform::Value> wrenReadArchive(const std::string& path, const char* className) {
    return readArchiveImpl(path, className);
}
