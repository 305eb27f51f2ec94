// The main bundle: the directory of the running executable and its info dictionary,
// "Info.plist" there (an XML property list). Missing keys are missing values, never errors.
#pragma once

#include "platform/foundation/Value.h"

#include <optional>
#include <string>

// Reachable from the UI library, which uses this process's one copy of the platform layer.
#pragma GCC visibility push(default)

namespace platform {

class Bundle {
public:
    static Bundle& main();

    const std::string& bundlePath() const { return path_; }
    const std::string& executablePath() const { return executable_; }
    // The info dictionary (an empty dictionary when Info.plist is missing or unreadable).
    const Value& infoDictionary() const { return info_; }
    // A string entry of the info dictionary; nullopt when missing or not a string.
    std::optional<std::string> infoString(const std::string& key) const;
    // CFBundleIdentifier, else the executable's file name: names the sandbox.
    std::string sandboxName() const;

    // Tests: load the bundle from another directory (its Info.plist) instead of the
    // executable's. Not thread-safe against concurrent readers; call before use.
    void reloadFrom(const std::string& directory);

private:
    Bundle();
    std::string path_;
    std::string executable_;
    Value info_;
};

}  // namespace platform

#pragma GCC visibility pop
