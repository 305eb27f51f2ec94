// Reading what clients send. Everything here is hostile until read: JSON is parsed with its
// nesting depth and its number of values bounded while it is parsed, the crash-side envelope and
// body become records only when they have the shape a client of ours sends, and every text is
// made valid UTF-8 and cut to what a page can show before it is stored. Nothing here touches the
// store, so a request that is refused changes nothing.
#pragma once

#include "Store.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace collector {

// Largest request body any endpoint reads (screenshots are the largest); more answers 413.
inline constexpr std::size_t kMaxBodyBytes = 64u << 20;
// A crash record nests about six levels deep, a feedback report about eight.
inline constexpr int kMaxJsonDepth = 64;
// A crash record holds a few hundred values; a batch of them or a feedback report with its
// logs a few thousand. Each value costs a tree node, so this also bounds the memory a body
// can make the server spend (a bare array of a million zeros is 2 MB of text but 16 MB of tree).
inline constexpr std::size_t kMaxJsonValues = 1'000'000;

// JSON text as a tree, or nothing (with the reason in *problem) when the text is not JSON or
// goes deeper or holds more values than allowed. The limits stop the parser as soon as they
// are passed, so a hostile text never builds the tree it describes.
std::optional<Json> parseJson(std::string_view text, std::string* problem = nullptr, int maxDepth = kMaxJsonDepth,
                              std::size_t maxValues = kMaxJsonValues);

// The text with every byte that does not start a valid UTF-8 sequence replaced by U+FFFD, so
// that it can be stored and shown as JSON.
std::string validUtf8(std::string_view text);

// At most maxBytes of valid UTF-8 text, cut at a character boundary and ending with "…" when cut.
std::string clipText(std::string_view text, std::size_t maxBytes);

// Saturates a count to the range a page sums safely: 1 to kMaxCount.
inline constexpr std::int64_t kMaxCount = 1'000'000'000;
std::int64_t countFrom(std::string_view text);

// A crash-side request (POST / and /cpi/crash): its records, or why it is refused (400).
struct CrashRequest {
    std::vector<Record> records;
    std::string problem;
};
CrashRequest readCrashRequest(const std::string& path, std::string_view envelope, std::string_view body,
                              bool configEndpoint);

// A feedback request (POST /cpi/pre): what the store keeps, or why it is refused (400).
struct FeedbackRequest {
    std::string appkey, type, message;
    Json body;
    std::string problem;
};
FeedbackRequest readFeedbackRequest(std::string_view contentType, std::string_view body);

}  // namespace collector
