// What the edit screen remembers from one run to the next ("user.data" in Caches/quillon).
#pragma once

#include "Wren/WrenReportData.h"

#include <cstdint>
#include <optional>
#include <string>

// Reachable from the UI library: the edit screen reads and writes the record.
#pragma GCC visibility push(default)

class WrenUserData {
public:
    std::int64_t promptCount = 0;  // kept, not used
    std::optional<std::string> contact;

    platform::Value encodeWithCoder() const;
    static std::optional<WrenUserData> initWithCoder(const platform::Value& coder);

    bool archiveRootObject(const std::string& path) const;
    static std::optional<WrenUserData> unarchiveObjectWithFile(const std::string& path);
};

#pragma GCC visibility pop
