// Uploads an edited screenshot to the file store with a signed request and hands back the
// stored file's URL. Holds no state; concurrent uploads do not interfere.
#pragma once

#include "Wren/WrenError.h"
#include "platform/foundation/Value.h"
#include "platform/net/URLSession.h"

#include <functional>
#include <optional>
#include <string>

// MD5 of the string's UTF-8 bytes as 32 lower-case hexadecimal digits.
std::string md5WithString(const std::string& string);

class WrenImgCloudManager {
public:
    // (nullopt, file URL) on success, (error, "") on failure; called once, on the HTTP
    // session's callback queue. A success answer without a file URL gives "".
    using Completion = std::function<void(const std::optional<WrenError>& error, const std::string& key)>;

    static constexpr const char* kApiKey = "7d2f19ebquake35porchd461a08c27f5";
    static constexpr const char* kOperation = "Ctfile.upload";
    static constexpr const char* kSuffix = "jpg";
    static constexpr const char* kTag = "sdk_ios";
    static constexpr int kUid = 60;

    // Starts the upload of the bytes and returns at once.
    void uploadData(const platform::Bytes& data, Completion completion) const;
    // Accepted and ignored; the completion is never called.
    void uploadData(const platform::Bytes& data, const std::string& key, Completion completion) const;

    // The signed POST of the bytes to the file store, stamped with the given time (seconds
    // since 1970; the current time when omitted).
    platform::URLRequest makeRequestWithData(const platform::Bytes& data, std::optional<double> now = {}) const;

    // The completion's arguments for a finished transfer.
    static void handleResult(const platform::URLResult& result, const Completion& completion);
};
