#pragma once

#include <optional>
#include <string>

class QuillonUtil {
public:
    // Normalises an application key: nil or empty gives nil; otherwise surrounding blanks,
    // tabs and newlines are trimmed and every inner run of whitespace becomes one blank.
    // A key made only of whitespace comes back as "".
    static std::optional<std::string> checkAppId(const std::optional<std::string>& appId);
    // MD5 of the UTF-8 bytes up to the first zero byte, as 32 lower-case hex digits.
    static std::string md5HexDigestWithString(const std::string& string);
};
