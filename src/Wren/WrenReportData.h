// The cached feedback report ("report.data"), kept as one keyed archive in the "quillon"
// directory of Caches, and the archive helpers it shares with WrenUserData.
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

// Caches/quillon, and its two files.
std::string wrenCacheDirectory();
std::string wrenReportDataPath();  // Caches/quillon/report.data
std::string wrenUserDataPath();    // Caches/quillon/user.data

// A record's keyed archive, tagged with its class name under "$class": written whole with
// mode 0600 (creating the directory), read back only when the tag matches.
bool wrenWriteArchive(const std::string& path, const platform::Value& root);
std::optional<platform::Value> wrenReadArchive(const std::string& path, const char* className);
