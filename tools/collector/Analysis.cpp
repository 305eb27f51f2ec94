#include "Analysis.h"

#include "Ingest.h"
#include "Signature.h"

#include <quillon/detail/RecordKeys.h>

#include <cxxabi.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <sstream>

namespace collector {

namespace keys = quillon::record;

namespace {

bool space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool digit(char c) { return c >= '0' && c <= '9'; }
bool hexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// End of a "0x<hex digits>" token at p that is followed by white space before limit, or npos.
std::size_t hexToken(std::string_view s, std::size_t p, std::size_t limit) {
    if (p + 2 >= limit || s[p] != '0' || s[p + 1] != 'x') return std::string_view::npos;
    std::size_t k = p + 2;
    while (k < limit && hexDigit(s[k])) ++k;
    return k == p + 2 || k >= limit || !space(s[k]) ? std::string_view::npos : k;
}

std::size_t skipSpace(std::string_view s, std::size_t p, std::size_t limit) {
    while (p < limit && space(s[p])) ++p;
    return p;
}

}  // namespace

std::optional<LineFields> splitBacktraceLine(std::string_view s) {
    // The line "%-3d %-35s 0x%016lx 0x%016lx %s + %d" is read from both ends: the frame number
    // from the front, " + N" from the back, and the image ends at the first white space that
    // is followed by two "0x" tokens. Each candidate end looks at the next two tokens only, so
    // the work stays linear in the line whatever it holds. An image or symbol never holds a
    // carriage return (the one a CRLF line ends with is trailing space).
    std::size_t i = skipSpace(s, 0, s.size());
    const std::size_t numberStart = i;
    while (i < s.size() && digit(s[i])) ++i;
    if (i == numberStart || i == s.size() || !space(s[i])) return std::nullopt;
    const std::size_t spaceStart = i;
    const std::size_t imageStart = skipSpace(s, i, s.size());
    std::size_t e = s.size();
    while (e > imageStart && space(s[e - 1])) --e;
    const std::size_t deltaEnd = e;
    while (e > imageStart && digit(s[e - 1])) --e;
    if (e == deltaEnd) return std::nullopt;
    if (e > imageStart && s[e - 1] == '-') --e;
    const std::size_t deltaStart = e;
    if (e == imageStart || !space(s[e - 1])) return std::nullopt;
    e = deltaStart;
    while (e > imageStart && space(s[e - 1])) --e;
    if (e == imageStart || s[e - 1] != '+') return std::nullopt;
    const std::size_t plus = e - 1;
    if (plus == 0 || !space(s[plus - 1])) return std::nullopt;

    // The fields when the image is [from, to) and white space follows it.
    auto fieldsAfter = [&](std::size_t from, std::size_t to) -> std::optional<LineFields> {
        const std::size_t a = skipSpace(s, to, plus);
        const std::size_t aEnd = hexToken(s, a, plus);
        if (aEnd == std::string_view::npos) return std::nullopt;
        const std::size_t b = skipSpace(s, aEnd, plus);
        const std::size_t bEnd = hexToken(s, b, plus);
        if (bEnd == std::string_view::npos) return std::nullopt;
        const std::size_t symStart = skipSpace(s, bEnd, plus);
        std::size_t symEnd = plus;
        while (symEnd > symStart && space(s[symEnd - 1])) --symEnd;
        if (symStart == plus && plus - bEnd < 2) return std::nullopt;  // one space cannot stand on both sides
        const std::string_view symbol = s.substr(symStart, symEnd - symStart);
        if (symbol.find('\r') != std::string_view::npos) return std::nullopt;
        return LineFields{s.substr(from, to - from), s.substr(a, aEnd - a), s.substr(b, bEnd - b), symbol,
                          s.substr(deltaStart, deltaEnd - deltaStart)};
    };
    for (std::size_t j = imageStart + 1; j < plus; ++j) {
        if (s[j - 1] == '\r') break;
        if (!space(s[j]) || space(s[j - 1])) continue;
        if (auto f = fieldsAfter(imageStart, j)) return f;
    }
    // No image before the addresses: a space of the padding stands in for it.
    for (std::size_t k = imageStart - 1; k > spaceStart + 1; --k)
        if (s[k - 1] != '\r') return fieldsAfter(k - 1, k);
    return std::nullopt;
}

namespace {

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Images of the C and C++ runtimes, the loader and the reporting library itself.
bool systemImage(const std::string& image) {
    for (const char* p : {"libc.so", "libc-", "libstdc++", "libgcc_s", "ld-linux", "libpthread", "libm.so",
                          "linux-vdso", "libquillon", "libdl.so", "librt.so"})
        if (startsWith(image, p)) return true;
    return false;
}

// Functions of the reporting library and of the runtimes, wherever they are linked.
bool systemFunction(const std::string& f) {
    for (const char* p : {"Quillon", "Wren", "QN", "platform::", "reliclass::", "SyslogClient", "__cxa_", "__cxx",
                          "std::", "__gnu_cxx::", "_Unwind", "__libc", "__restore_rt", "raise", "abort", "__pthread",
                          "pthread_kill", "__GI_"})
        if (startsWith(f, p)) return true;
    return false;
}

bool libcImage(const std::string& image) { return startsWith(image, "libc.so") || startsWith(image, "libc-"); }

std::string textAt(const Json& obj, const char* key) {
    if (!obj.is_object()) return {};
    auto it = obj.find(key);
    if (it == obj.end()) return {};
    if (it->is_string()) return it->get<std::string>();
    if (it->is_number()) return it->dump();
    return {};
}

}  // namespace

std::string Frame::label() const {
    if (resolved) {
        std::string s = resolved->function.empty() ? "?" : resolved->function;
        if (!resolved->file.empty())
            s += " (" + resolved->file + (resolved->line > 0 ? ":" + std::to_string(resolved->line) : "") + ")";
        return s;
    }
    if (!function.empty()) return function;
    if (parsed) return image + " + " + shortHex(offset);
    return raw;
}

std::string shortHex(const std::string& hex) {
    if (!startsWith(hex, "0x")) return hex;
    std::size_t digits = 2;
    while (digits + 1 < hex.size() && hex[digits] == '0') ++digits;
    return "0x" + hex.substr(digits);
}

std::string demangle(const std::string& symbol) {
    // The demangler recurses and can take long on crafted names; real ones are far shorter.
    constexpr std::size_t kMaxMangled = 4096;
    if (!startsWith(symbol, "_Z") || symbol.size() > kMaxMangled) return symbol;
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> out(abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status),
                                               std::free);
    return status == 0 && out ? std::string(out.get()) : symbol;
}

std::string maskNumbers(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    auto word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    for (std::size_t i = 0; i < text.size();) {
        const bool boundary = i == 0 || !word(text[i - 1]);
        if (boundary && text[i] == '0' && i + 2 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            i += 2;
            while (i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i]))) ++i;
            out += "0x…";
            continue;
        }
        if (boundary && std::isdigit(static_cast<unsigned char>(text[i]))) {
            std::size_t j = i;
            while (j < text.size() && (std::isdigit(static_cast<unsigned char>(text[j])) ||
                                       (text[j] == '.' && j + 1 < text.size() &&
                                        std::isdigit(static_cast<unsigned char>(text[j + 1])))))
                ++j;
            if (j == text.size() || !word(text[j])) {
                out += 'N';
                i = j;
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

std::vector<Frame> parseBacktrace(const std::string& text, const FrameResolver* resolver, const std::string& appKey,
                                  const std::string& appVersion, bool signal) {
    std::vector<Frame> frames;
    const bool whole = resolver == &frameResolver() && *resolver;
    const auto resolved = whole ? resolveBacktrace(appKey, appVersion, text, signal)
                                : std::vector<std::optional<ResolvedFrame>>();
    std::istringstream in(text);
    std::string line;
    for (std::size_t index = 0; std::getline(in, line); ++index) {
        if (line.empty()) continue;
        Frame f;
        f.raw = line;
        if (const auto m = splitBacktraceLine(line)) {
            f.parsed = true;
            f.image = m->image;
            f.address = m->address;
            f.offset = m->offset;
            f.symbol = m->symbol;
            f.symbolOffset = "+ " + std::string(m->delta);
            if (f.symbol != "(null)" && !f.symbol.empty()) f.function = demangle(f.symbol);
        }
        if (whole)
            f.resolved = index < resolved.size() ? resolved[index] : std::nullopt;
        else if (resolver && *resolver)
            f.resolved = (*resolver)(appKey, appVersion, line);
        const std::string fn = f.resolved ? f.resolved->function : f.function;
        f.system = (f.parsed && systemImage(f.image)) || (!fn.empty() && systemFunction(fn));
        frames.push_back(std::move(f));
    }
    return frames;
}

int firstApplicationFrame(const std::vector<Frame>& frames, bool signal) {
    std::size_t start = 0;
    if (signal) {
        for (std::size_t i = 0; i < frames.size(); ++i)
            if (frames[i].parsed && libcImage(frames[i].image)) {
                start = i + 1;
                break;
            }
    }
    for (std::size_t i = start; i < frames.size(); ++i)
        if (!frames[i].system) return static_cast<int>(i);
    return -1;
}

const Json& deviceRecord(const Json& body) {
    if (body.is_object()) {
        auto it = body.find(keys::kDevice);
        if (it != body.end() && it->is_object()) return *it;
    }
    return body;
}

RecordSummary summarize(const std::string& ak, const std::string& itemAc, const Json& body, const std::string& name,
                        const std::string& reason, const std::string& backtrace, double receivedAt,
                        const FrameResolver* resolver) {
    // What the lists show is cut to a length a page can hold; the record keeps the values whole.
    constexpr std::size_t kShort = 256, kLong = 4096;
    RecordSummary s;
    const Json& dei = deviceRecord(body);
    s.device = clipText(textAt(dei, keys::kDeviceId), kShort);
    s.appVersion = clipText(textAt(dei, keys::kAppVersion), kShort);
    s.osVersion = clipText(textAt(dei, keys::kOsVersion), kShort);
    s.crashTime = receivedAt;
    const Json empty = Json::object();
    const Json& data = body.is_object() && body.contains(keys::kEvent) && body[keys::kEvent].is_object()
                           ? body[keys::kEvent]
                           : empty;
    if (const std::string tm = textAt(data, keys::kEventTime); !tm.empty()) {
        char* end = nullptr;
        const double t = std::strtod(tm.c_str(), &end);
        if (end && *end == '\0' && t > 0 && std::isfinite(t)) s.crashTime = t;
    }
    s.message = textAt(data, keys::kMessage);
    if (itemAc == "exception") {
        // Pooled reports are identical when their event text and message are. The count is
        // saturated, so that the pages' sums of counts cannot overflow.
        s.count = countFrom(textAt(data, keys::kCount));
        s.masked = reason;
        s.groupId = md5Hex(ak + "\n" + textAt(data, keys::kEventText) + "\n" + s.message).substr(0, 16);
        s.message = clipText(s.message, kLong);
        return s;
    }
    s.message = clipText(s.message, kLong);
    if (itemAc != "submit") return s;
    s.masked = clipText(maskNumbers(reason), kLong);
    const auto frames = parseBacktrace(backtrace, resolver, ak, s.appVersion, name == "exception Signal");
    const int top = firstApplicationFrame(frames, name == "exception Signal");
    if (top >= 0) s.topFrame = clipText(frames[top].label(), kLong);
    // A resolved function names the frame whatever its address; otherwise the image offset.
    std::string frameKey;
    if (top >= 0) {
        const Frame& f = frames[top];
        frameKey = f.resolved ? f.resolved->function : !f.function.empty() ? f.function : f.image + "+" + f.offset;
    }
    s.groupId = md5Hex(ak + "\n" + name + "\n" + s.masked + "\n" + frameKey).substr(0, 16);
    return s;
}

}  // namespace collector
