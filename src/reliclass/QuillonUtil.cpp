#include "reliclass/QuillonUtil.h"

#include "platform/foundation/Digest.h"

#include <cstring>

namespace {
bool isWhitespaceOrNewline(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool isWhitespace(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::optional<std::string> QuillonUtil::checkAppId(const std::optional<std::string>& appId) {
    if (!appId || appId->empty()) return std::nullopt;
    // Trim blanks and newlines at both ends; collapse inner runs of blanks and tabs (inner
    // newlines stay).
    size_t begin = 0, end = appId->size();
    while (begin < end && isWhitespaceOrNewline((*appId)[begin])) ++begin;
    while (end > begin && isWhitespaceOrNewline((*appId)[end - 1])) --end;
    std::string result;
    std::string piece;
    for (size_t i = begin; i < end; ++i) {
        const char c = (*appId)[i];
        if (isWhitespace(c)) {
            if (!piece.empty()) {
                if (!result.empty()) result += ' ';
                result += piece;
                piece.clear();
            }
        } else {
            piece += c;
        }
    }
    if (!piece.empty()) {
        if (!result.empty()) result += ' ';
        result += piece;
    }
    return result;
}

std::string QuillonUtil::md5HexDigestWithString(const std::string& string) {
    return platform::md5Hex(std::string_view(string.c_str(), std::strlen(string.c_str())));
}
