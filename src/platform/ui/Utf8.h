// UTF-8 helpers for the text controls: lengths and ranges count code points.
#pragma once

#include <cstddef>
#include <string>

namespace quillon::ui::utf8 {

inline std::size_t length(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

// Byte offset of code point `index` (the size when past the end).
inline std::size_t offset(const std::string& s, std::size_t index) {
    std::size_t i = 0, n = 0;
    for (; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (n == index) return i;
            ++n;
        }
    }
    return s.size();
}

}  // namespace quillon::ui::utf8
