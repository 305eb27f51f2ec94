#include "platform/foundation/Value.h"

#include <pugixml.hpp>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

namespace platform {

namespace {

// Nesting deeper than this is refused by the readers, which recurse over the input.
constexpr int kMaxDepth = 512;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// The numeric prefix of a string the way the platform's string object reads it: leading
// white space, an optional sign, digits, optionally a fraction and an exponent.
std::string numericPrefix(std::string_view s, bool allowFraction) {
    size_t i = 0;
    while (i < s.size() && isSpace(s[i])) ++i;
    size_t start = i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digitsStart = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    bool anyDigits = i > digitsStart;
    if (allowFraction) {
        if (i < s.size() && s[i] == '.') {
            size_t f = ++i;
            while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
            anyDigits = anyDigits || i > f;
        }
        if (anyDigits && i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
            size_t e = i + 1;
            if (e < s.size() && (s[e] == '+' || s[e] == '-')) ++e;
            size_t ed = e;
            while (e < s.size() && s[e] >= '0' && s[e] <= '9') ++e;
            if (e > ed) i = e;
        }
    }
    if (!anyDigits) return {};
    return std::string(s.substr(start, i - start));
}

std::int64_t clampToInt64(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
    if (d <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(d);
}

std::int64_t integerFromString(std::string_view s) {
    std::string p = numericPrefix(s, false);
    if (p.empty()) return 0;
    errno = 0;
    long long v = std::strtoll(p.c_str(), nullptr, 10);  // saturates on overflow
    return static_cast<std::int64_t>(v);
}

double doubleFromString(std::string_view s) {
    std::string p = numericPrefix(s, true);
    if (p.empty()) return 0.0;
    return std::strtod(p.c_str(), nullptr);
}

// ---------------------------------------------------------------- base64

const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(const Bytes& in) {
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        unsigned v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
        out += kB64[(v >> 18) & 63];
        out += kB64[(v >> 12) & 63];
        out += kB64[(v >> 6) & 63];
        out += kB64[v & 63];
    }
    if (i + 1 == in.size()) {
        unsigned v = in[i] << 16;
        out += kB64[(v >> 18) & 63];
        out += kB64[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == in.size()) {
        unsigned v = (in[i] << 16) | (in[i + 1] << 8);
        out += kB64[(v >> 18) & 63];
        out += kB64[(v >> 12) & 63];
        out += kB64[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

// Decodes base64, ignoring white space; nullopt on any other foreign character.
std::optional<Bytes> base64Decode(std::string_view in) {
    Bytes out;
    unsigned acc = 0;
    int bits = 0;
    bool padding = false;
    for (char c : in) {
        if (isSpace(c)) continue;
        int v;
        if (c >= 'A' && c <= 'Z') v = c - 'A';
        else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
        else if (c >= '0' && c <= '9') v = c - '0' + 52;
        else if (c == '+') v = 62;
        else if (c == '/') v = 63;
        else if (c == '=') { padding = true; continue; }
        else return std::nullopt;
        if (padding) return std::nullopt;  // data after padding
        acc = (acc << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>((acc >> bits) & 0xff));
        }
    }
    return out;
}

// A copy of v in which every byte buffer is a base64 string (JSON has no bytes).
Value withBytesAsBase64(const Value& v) {
    if (v.is_binary()) return base64Encode(v.get_binary());
    if (v.is_object()) {
        Value out = Value::object();
        for (auto it = v.begin(); it != v.end(); ++it) out[it.key()] = withBytesAsBase64(it.value());
        return out;
    }
    if (v.is_array()) {
        Value out = Value::array();
        for (const auto& e : v) out.push_back(withBytesAsBase64(e));
        return out;
    }
    return v;
}

bool containsBytes(const Value& v) {
    if (v.is_binary()) return true;
    if (v.is_structured()) {
        for (const auto& e : v) {
            if (containsBytes(e)) return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------- XML property list writer

// Appends s as XML character data. Invalid UTF-8 becomes U+FFFD; control characters that
// XML cannot carry literally are written as character references, so that our own reader
// gives back the same text.
void appendEscaped(std::string& out, const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        // Plain characters go out in one run.
        size_t run = i;
        while (run < s.size()) {
            const auto p = static_cast<unsigned char>(s[run]);
            const bool plain = (p >= 0x20 && p < 0x7f && p != '&' && p != '<' && p != '>') || p == '\t' || p == '\n';
            if (!plain) break;
            ++run;
        }
        if (run > i) {
            out.append(s, i, run - i);
            i = run;
            continue;
        }
        auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            switch (c) {
                case '&': out += "&amp;"; break;
                case '<': out += "&lt;"; break;
                case '>': out += "&gt;"; break;
                case '\t':
                case '\n': out += static_cast<char>(c); break;
                default:
                    if (c < 0x20 || c == 0x7f) {
                        char buf[16];
                        std::snprintf(buf, sizeof buf, "&#%u;", c);
                        out += buf;
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            ++i;
            continue;
        }
        // Validate one multi-byte sequence.
        size_t len = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 ? 2 : 0;
        bool ok = len != 0 && c <= 0xf4 && i + len <= s.size();
        std::uint32_t cp = 0;
        if (ok) {
            cp = c & (len == 2 ? 0x1f : len == 3 ? 0x0f : 0x07);
            for (size_t k = 1; k < len && ok; ++k) {
                auto cc = static_cast<unsigned char>(s[i + k]);
                if ((cc & 0xc0) != 0x80) ok = false;
                cp = (cp << 6) | (cc & 0x3f);
            }
            if (ok && ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10ffff)) ||
                       (cp >= 0xd800 && cp <= 0xdfff) || cp == 0xfffe || cp == 0xffff)) {
                ok = false;
            }
        }
        if (ok) {
            out.append(s, i, len);
            i += len;
        } else {
            out += "\xef\xbf\xbd";
            ++i;
        }
    }
}

std::string formatReal(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d > 0 ? "+infinity" : "-infinity";
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, d);  // shortest text that reads back exactly
    return std::string(buf, res.ptr);
}

bool writeXML(std::string& out, const Value& v, int depth) {
    if (depth > kMaxDepth) return false;
    const auto indent = [&](int extra = 0) { out.append(static_cast<size_t>(depth + extra), '\t'); };
    switch (v.type()) {
        case Value::value_t::null:
        case Value::value_t::discarded:
            return false;
        case Value::value_t::object:
            indent();
            if (v.empty()) {
                out += "<dict/>\n";
                return true;
            }
            out += "<dict>\n";
            for (auto it = v.begin(); it != v.end(); ++it) {
                indent(1);
                out += "<key>";
                appendEscaped(out, it.key());
                out += "</key>\n";
                if (!writeXML(out, it.value(), depth + 1)) return false;
            }
            indent();
            out += "</dict>\n";
            return true;
        case Value::value_t::array:
            indent();
            if (v.empty()) {
                out += "<array/>\n";
                return true;
            }
            out += "<array>\n";
            for (const auto& e : v) {
                if (!writeXML(out, e, depth + 1)) return false;
            }
            indent();
            out += "</array>\n";
            return true;
        case Value::value_t::string:
            indent();
            out += "<string>";
            appendEscaped(out, v.get_ref<const std::string&>());
            out += "</string>\n";
            return true;
        case Value::value_t::boolean:
            indent();
            out += v.get<bool>() ? "<true/>\n" : "<false/>\n";
            return true;
        case Value::value_t::number_integer:
            indent();
            out += "<integer>";
            out += std::to_string(v.get<std::int64_t>());
            out += "</integer>\n";
            return true;
        case Value::value_t::number_unsigned:
            indent();
            out += "<integer>";
            out += std::to_string(v.get<std::uint64_t>());
            out += "</integer>\n";
            return true;
        case Value::value_t::number_float:
            indent();
            out += "<real>";
            out += formatReal(v.get<double>());
            out += "</real>\n";
            return true;
        case Value::value_t::binary:
            indent();
            out += "<data>";
            out += base64Encode(v.get_binary());
            out += "</data>\n";
            return true;
    }
    return false;
}

// ---------------------------------------------------------------- XML property list reader

// All character data of an element (text and CDATA); nullopt when it holds elements.
std::optional<std::string> elementText(const pugi::xml_node& n) {
    std::string s;
    for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
        switch (c.type()) {
            case pugi::node_pcdata:
            case pugi::node_cdata: s += c.value(); break;
            case pugi::node_comment:
            case pugi::node_pi: break;
            default: return std::nullopt;
        }
    }
    return s;
}

bool isBlank(const char* s) {
    for (; *s; ++s) {
        if (!isSpace(*s)) return false;
    }
    return true;
}

// The element children of a container; false when it holds non-blank text.
bool elementChildren(const pugi::xml_node& n, std::vector<pugi::xml_node>& out) {
    for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
        switch (c.type()) {
            case pugi::node_element: out.push_back(c); break;
            case pugi::node_pcdata:
            case pugi::node_cdata:
                if (!isBlank(c.value())) return false;
                break;
            default: break;
        }
    }
    return true;
}

bool parseInteger(const std::string& text, Value& out) {
    std::string t = text;
    size_t a = 0, b = t.size();
    while (a < b && isSpace(t[a])) ++a;
    while (b > a && isSpace(t[b - 1])) --b;
    t = t.substr(a, b - a);
    if (t.empty()) return false;
    const char* first = t.data();
    const char* last = t.data() + t.size();
    if (*first == '+') ++first;
    if (first == last) return false;
    int base = 10;
    bool negative = *first == '-';
    const char* digits = negative ? first + 1 : first;
    if (last - digits > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
    }
    if (base == 16) {
        std::uint64_t u = 0;
        auto r = std::from_chars(digits + 2, last, u, 16);
        if (r.ec != std::errc() || r.ptr != last) return false;
        if (negative) {
            if (u > 9223372036854775808ull) return false;
            out = static_cast<std::int64_t>(0 - u);
        } else if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            out = u;
        } else {
            out = static_cast<std::int64_t>(u);
        }
        return true;
    }
    std::int64_t i = 0;
    auto r = std::from_chars(first, last, i, 10);
    if (r.ec == std::errc() && r.ptr == last) {
        out = i;
        return true;
    }
    if (!negative) {
        std::uint64_t u = 0;
        auto ru = std::from_chars(first, last, u, 10);
        if (ru.ec == std::errc() && ru.ptr == last) {
            out = u;
            return true;
        }
    }
    return false;
}

std::optional<double> parseReal(const std::string& text) {
    std::string t;
    for (char c : text) {
        if (!isSpace(c)) t += c;
    }
    if (t == "nan" || t == "NaN") return std::numeric_limits<double>::quiet_NaN();
    if (t == "+infinity" || t == "infinity" || t == "inf" || t == "+inf") return std::numeric_limits<double>::infinity();
    if (t == "-infinity" || t == "-inf") return -std::numeric_limits<double>::infinity();
    if (t.empty()) return std::nullopt;
    const char* first = t.data();
    if (*first == '+') ++first;
    double d = 0;
    auto r = std::from_chars(first, t.data() + t.size(), d);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return std::nullopt;
    return d;
}

// "YYYY-MM-DDTHH:MM:SSZ" as seconds since 1970.
std::optional<double> parseDate(const std::string& text) {
    int y, mo, d, h, mi, s;
    char z = 0;
    int n = 0;
    if (std::sscanf(text.c_str(), " %4d-%2d-%2dT%2d:%2d:%2d%c%n", &y, &mo, &d, &h, &mi, &s, &z, &n) != 7 || z != 'Z') {
        return std::nullopt;
    }
    if (!isBlank(text.c_str() + n)) return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || h < 0 || mi < 0 || s < 0) {
        return std::nullopt;
    }
    struct tm tmv = {};
    tmv.tm_year = y - 1900;
    tmv.tm_mon = mo - 1;
    tmv.tm_mday = d;
    tmv.tm_hour = h;
    tmv.tm_min = mi;
    tmv.tm_sec = s;
    return static_cast<double>(timegm(&tmv));
}

bool readXML(const pugi::xml_node& n, Value& out, int depth) {
    if (depth > kMaxDepth) return false;
    std::string_view name = n.name();
    if (name == "dict") {
        std::vector<pugi::xml_node> kids;
        if (!elementChildren(n, kids) || kids.size() % 2 != 0) return false;
        out = Value::object();
        for (size_t i = 0; i < kids.size(); i += 2) {
            if (std::string_view(kids[i].name()) != "key") return false;
            auto key = elementText(kids[i]);
            if (!key) return false;
            Value member;
            if (!readXML(kids[i + 1], member, depth + 1)) return false;
            out[*key] = std::move(member);
        }
        return true;
    }
    if (name == "array") {
        std::vector<pugi::xml_node> kids;
        if (!elementChildren(n, kids)) return false;
        out = Value::array();
        for (const auto& k : kids) {
            Value e;
            if (!readXML(k, e, depth + 1)) return false;
            out.push_back(std::move(e));
        }
        return true;
    }
    if (name == "true" || name == "false") {
        auto t = elementText(n);
        if (!t || !isBlank(t->c_str())) return false;
        out = name == "true";
        return true;
    }
    auto text = elementText(n);
    if (!text) return false;
    if (name == "string") {
        out = std::move(*text);
        return true;
    }
    if (name == "integer") return parseInteger(*text, out);
    if (name == "real") {
        auto d = parseReal(*text);
        if (!d) return false;
        out = *d;
        return true;
    }
    if (name == "data") {
        auto b = base64Decode(*text);
        if (!b) return false;
        out = Value::binary(std::move(*b));
        return true;
    }
    if (name == "date") {
        auto d = parseDate(*text);
        if (!d) return false;
        out = *d;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- keyed archive
//
// The archive is CBOR (a self-describing binary format) holding the map
// {"$archiver": "QNKeyedArchiver", "$version": 1, "root": <value>}.

constexpr const char* kArchiverName = "QNKeyedArchiver";

// Walks a CBOR item sequence without recursion and checks that exactly one well-formed item
// fills the buffer and that nesting stays bounded, so the decoder (which recurses) is safe.
bool cborShapeIsSound(const Bytes& d) {
    size_t pos = 0;
    // Each entry counts the items still expected in an open container; -1 = indefinite.
    std::vector<std::int64_t> open;
    std::int64_t rootLeft = 1;
    auto readArg = [&](unsigned info, std::uint64_t& arg) -> bool {
        if (info < 24) {
            arg = info;
            return true;
        }
        size_t n = info == 24 ? 1 : info == 25 ? 2 : info == 26 ? 4 : info == 27 ? 8 : 0;
        if (n == 0 || d.size() - pos < n) return false;
        arg = 0;
        for (size_t k = 0; k < n; ++k) arg = (arg << 8) | d[pos++];
        return true;
    };
    while (true) {
        // Close the containers that are complete.
        while (!open.empty() && open.back() == 0) open.pop_back();
        if (open.empty() && rootLeft == 0) break;
        if (pos >= d.size()) return false;
        std::uint8_t ib = d[pos++];
        unsigned major = ib >> 5;
        unsigned info = ib & 31;
        if (ib == 0xff) {  // break: ends an indefinite container
            if (open.empty() || open.back() != -1) return false;
            open.pop_back();  // counted for its parent when it was opened
            continue;
        }
        {
            std::uint64_t arg = 0;
            bool indefinite = info == 31;
            if (!indefinite && !readArg(info, arg)) return false;
            if (indefinite && (major == 0 || major == 1 || major == 6)) return false;
            switch (major) {
                case 0:
                case 1: break;
                case 2:
                case 3:
                    if (indefinite) {
                        // Chunks of the same major type, then a break.
                        while (true) {
                            if (pos >= d.size()) return false;
                            std::uint8_t cb = d[pos++];
                            if (cb == 0xff) break;
                            if ((cb >> 5) != major || (cb & 31) == 31) return false;
                            std::uint64_t len = 0;
                            if (!readArg(cb & 31, len)) return false;
                            if (len > d.size() - pos) return false;
                            pos += len;
                        }
                    } else {
                        if (arg > d.size() - pos) return false;
                        pos += arg;
                    }
                    break;
                case 4:
                case 5: {
                    if (open.size() >= static_cast<size_t>(kMaxDepth)) return false;
                    if (indefinite) {
                        // Count this item for its parent now; the container closes on a break.
                        if (!open.empty()) {
                            if (open.back() > 0) --open.back();
                        } else {
                            --rootLeft;
                        }
                        open.push_back(-1);
                        continue;
                    }
                    std::uint64_t items = major == 5 ? arg * 2 : arg;
                    if (arg > d.size() || items > d.size() - pos) return false;  // each item takes a byte
                    if (!open.empty()) {
                        if (open.back() > 0) --open.back();
                    } else {
                        --rootLeft;
                    }
                    open.push_back(static_cast<std::int64_t>(items));
                    continue;
                }
                case 6:
                    continue;  // a tag: the next item is its content, counted then
                case 7:
                    break;
            }
        }
        if (!open.empty()) {
            if (open.back() > 0) --open.back();
        } else {
            --rootLeft;
        }
    }
    return pos == d.size();
}

}  // namespace

// ---------------------------------------------------------------- public

Value dict() { return Value::object(); }
Value array() { return Value::array(); }
Value bytesValue(const Bytes& bytes) { return Value::binary(bytes); }

std::int64_t integerValue(const Value& v) {
    switch (v.type()) {
        case Value::value_t::number_integer: return v.get<std::int64_t>();
        case Value::value_t::number_unsigned: {
            auto u = v.get<std::uint64_t>();
            return u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                       ? std::numeric_limits<std::int64_t>::max()
                       : static_cast<std::int64_t>(u);
        }
        case Value::value_t::number_float: return clampToInt64(v.get<double>());
        case Value::value_t::boolean: return v.get<bool>() ? 1 : 0;
        case Value::value_t::string: return integerFromString(v.get_ref<const std::string&>());
        default: return 0;
    }
}

double doubleValue(const Value& v) {
    switch (v.type()) {
        case Value::value_t::number_integer: return static_cast<double>(v.get<std::int64_t>());
        case Value::value_t::number_unsigned: return static_cast<double>(v.get<std::uint64_t>());
        case Value::value_t::number_float: return v.get<double>();
        case Value::value_t::boolean: return v.get<bool>() ? 1.0 : 0.0;
        case Value::value_t::string: return doubleFromString(v.get_ref<const std::string&>());
        default: return 0.0;
    }
}

std::optional<std::string> stringValue(const Value& v) {
    if (!v.is_string()) return std::nullopt;
    return v.get<std::string>();
}

const Value* find(const Value& v, std::string_view key) {
    if (!v.is_object()) return nullptr;
    auto it = v.find(key);
    return it == v.end() ? nullptr : &*it;
}

Value* find(Value& v, std::string_view key) {
    if (!v.is_object()) return nullptr;
    auto it = v.find(key);
    return it == v.end() ? nullptr : &*it;
}

bool hasNonNull(const Value& v, std::string_view key) {
    const Value* m = find(v, key);
    return m && !m->is_null();
}

std::string textOrEmpty(const Value& v, std::string_view key) {
    const Value* m = find(v, key);
    return m && m->is_string() ? m->get<std::string>() : std::string();
}

std::string describe(const Value& v) {
    switch (v.type()) {
        case Value::value_t::null:
        case Value::value_t::discarded: return "(null)";
        case Value::value_t::string: return v.get<std::string>();
        case Value::value_t::boolean: return v.get<bool>() ? "1" : "0";
        case Value::value_t::binary: {
            // "<00010203 0405>", the way the platform prints a byte buffer.
            static const char hex[] = "0123456789abcdef";
            std::string s = "<";
            const auto& b = v.get_binary();
            for (size_t i = 0; i < b.size(); ++i) {
                if (i > 0 && i % 4 == 0) s += ' ';
                s += hex[b[i] >> 4];
                s += hex[b[i] & 15];
            }
            return s + ">";
        }
        case Value::value_t::number_float: {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.15g", v.get<double>());
            return buf;
        }
        case Value::value_t::number_integer:
        case Value::value_t::number_unsigned:
        case Value::value_t::object:
        case Value::value_t::array: return toJSON(v, true);
    }
    return {};
}

std::optional<Value> parseJSON(std::string_view text) {
    try {
        // Nesting is bounded: other code walks values recursively.
        bool tooDeep = false;
        Value::parser_callback_t depthCheck = [&tooDeep](int depth, Value::parse_event_t, Value&) {
            if (depth > kMaxDepth) tooDeep = true;
            return !tooDeep;
        };
        Value v = Value::parse(text.begin(), text.end(), depthCheck, /*allow_exceptions=*/false);
        if (tooDeep || v.is_discarded()) return std::nullopt;
        return v;
    } catch (...) {
        return std::nullopt;
    }
}

std::string toJSON(const Value& v, bool pretty) {
    try {
        const int indent = pretty ? 2 : -1;
        if (containsBytes(v)) {
            return withBytesAsBase64(v).dump(indent, ' ', false, Value::error_handler_t::replace);
        }
        return v.dump(indent, ' ', false, Value::error_handler_t::replace);
    } catch (...) {
        return "null";
    }
}

std::optional<std::string> toXMLPropertyList(const Value& v, std::size_t sizeHint) {
    std::string out;
    out.reserve(sizeHint + sizeHint / 8);
    out +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n";
    if (!writeXML(out, v, 0)) return std::nullopt;
    out += "</plist>\n";
    return out;
}

std::optional<Value> parseXMLPropertyList(std::string_view text) {
    pugi::xml_document doc;
    unsigned options = pugi::parse_default | pugi::parse_ws_pcdata;
    pugi::xml_parse_result r = doc.load_buffer(text.data(), text.size(), options, pugi::encoding_utf8);
    if (!r) return std::nullopt;
    pugi::xml_node root = doc.document_element();
    if (!root) return std::nullopt;
    if (std::string_view(root.name()) != "plist") return std::nullopt;
    std::vector<pugi::xml_node> kids;
    if (!elementChildren(root, kids) || kids.size() != 1) return std::nullopt;
    Value v;
    if (!readXML(kids[0], v, 0)) return std::nullopt;
    return v;
}

std::optional<Bytes> keyedArchive(const Value& v) {
    try {
        Value archive = Value::object();
        archive["$archiver"] = kArchiverName;
        archive["$version"] = 1;
        archive["root"] = v;
        return Value::to_cbor(archive);
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<Value> keyedUnarchive(const Bytes& data) {
    if (data.empty() || !cborShapeIsSound(data)) return std::nullopt;
    try {
        Value archive = Value::from_cbor(data, /*strict=*/true, /*allow_exceptions=*/false);
        if (archive.is_discarded() || !archive.is_object()) return std::nullopt;
        const Value* archiver = find(archive, "$archiver");
        const Value* root = find(archive, "root");
        if (!archiver || *archiver != kArchiverName || !root) return std::nullopt;
        if (integerValue(archive.value("$version", Value(0))) != 1) return std::nullopt;
        return *root;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace platform
