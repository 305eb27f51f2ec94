// The cached feedback report ("report.data") and the edit screen's remembered values
// ("user.data"), each kept as one keyed archive in the "quillon" directory of Caches.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <optional>
#include <string>

class WrenReportData {
public:
    bool haveData = false;
    std::optional<platform::Bytes> modifiedImageData;
    std::optional<std::string> originalImageKey;  // never set
    std::optional<std::string> modifiedImageKey;
    std::optional<std::string> commentText;
    std::optional<std::string> contactText;
    std::optional<platform::Value> deviceInfo;
    // Names the report the record holds, so that a send can tell whether the cached report
    // is the one it sent.
    std::optional<std::string> reportId;

    // The record as a keyed dictionary (absent fields are left out) and back.
    platform::Value encodeWithCoder() const;
    static std::optional<WrenReportData> initWithCoder(const platform::Value& coder);

    // Keyed archive files, written whole with mode 0600.
    bool archiveRootObject(const std::string& path) const;
    static std::optional<WrenReportData> unarchiveObjectWithFile(const std::string& path);
};

class WrenUserData {
public:
    std::int64_t promptCount = 0;  // kept, not used
    std::optional<std::string> contact;

    platform::Value encodeWithCoder() const;
    static std::optional<WrenUserData> initWithCoder(const platform::Value& coder);

    bool archiveRootObject(const std::string& path) const;
    static std::optional<WrenUserData> unarchiveObjectWithFile(const std::string& path);
};

// Caches/quillon, and its two files.
std::string wrenCacheDirectory();
std::string wrenReportDataPath();  // Caches/quillon/report.data
std::string wrenUserDataPath();    // Caches/quillon/user.data
