// The one value type used across the system: dictionaries, arrays, strings, integers,
// doubles, booleans, byte buffers and null. Dictionaries keep their insertion order, which
// is the order records are built in and the order they are written out.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using Value = nlohmann::ordered_json;
using Bytes = std::vector<std::uint8_t>;

// A fresh empty dictionary / array (a default Value is null).
Value dict();
Value array();
Value bytesValue(const Bytes& bytes);

// Reading a value the way the mobile platform's number and string objects answer:
// numbers and numeric strings give their value, booleans 0/1, anything else 0.
std::int64_t integerValue(const Value& v);
double doubleValue(const Value& v);
// Text of a string value; nullopt for anything that is not a string.
std::optional<std::string> stringValue(const Value& v);
// Member lookup that never throws: nullptr when v is not a dictionary or has no such key.
const Value* find(const Value& v, std::string_view key);
Value* find(Value& v, std::string_view key);
// True when v is a dictionary holding key with a non-null value.
bool hasNonNull(const Value& v, std::string_view key);
// The text-or-empty rule: the string held under key, or "" when missing, null or not a string.
std::string textOrEmpty(const Value& v, std::string_view key);

// Human-readable rendering used where the platform's logger prints an object ("%@").
// Strings print bare, null prints "(null)", containers print as pretty JSON.
std::string describe(const Value& v);

// JSON. Parsing never throws; invalid input gives nullopt. Writing replaces invalid UTF-8
// and renders byte buffers as base64 strings. Pretty output uses two-space indentation.
std::optional<Value> parseJSON(std::string_view text);
std::string toJSON(const Value& v, bool pretty);

// XML property lists (format 1.0, Apple's DOCTYPE). Integers are signed 64-bit; dates are
// read as seconds since 1970 (a double); nesting deeper than 512 is refused.
// Writing fails (nullopt) when the value holds null anywhere, as such a root cannot be a
// property list. Reading gives nullopt for anything that is not a well-formed plist.
// `sizeHint`: the expected size of the text (say, the file it replaces), reserved up front.
std::optional<std::string> toXMLPropertyList(const Value& v, std::size_t sizeHint = 0);
std::optional<Value> parseXMLPropertyList(std::string_view text);

// Keyed archives: a self-describing binary container for one root value (CBOR whose root
// map is {"$archiver": "QNKeyedArchiver", "$version": 1, "root": <value>}). Unarchiving
// gives nullopt for anything malformed, foreign or nested too deeply. Non-negative
// integers come back as unsigned numbers (equal in value; integerValue reads both).
std::optional<Bytes> keyedArchive(const Value& v);
std::optional<Value> keyedUnarchive(const Bytes& data);

}  // namespace platform
