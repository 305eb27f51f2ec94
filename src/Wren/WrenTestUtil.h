#pragma once

#include <string>

class WrenTestUtil {
public:
    // MD5 of the UTF-8 bytes up to the first zero byte, as 32 lower-case hex digits.
    static std::string md5HexDigestWithString(const std::string& string);
};
