#include "Analysis.h"

#include "Server.h"

#include <cxxabi.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <regex>
#include <sstream>

namespace collector {

namespace {

// "%-3d %-35s 0x%016lx 0x%016lx %s + %d"
const std::regex& lineShape() {
    static const std::regex re(R"(^\s*(\d+)\s+(.+?)\s+(0x[0-9a-fA-F]+)\s+(0x[0-9a-fA-F]+)\s+(.*?)\s+\+\s+(-?\d+)\s*$)");
    return re;
}

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
    if (!startsWith(symbol, "_Z")) return symbol;
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
        std::smatch m;
        if (std::regex_match(line, m, lineShape())) {
            f.parsed = true;
            f.image = m[2].str();
            f.address = m[3].str();
            f.offset = m[4].str();
            f.symbol = m[5].str();
            f.symbolOffset = "+ " + m[6].str();
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
        auto it = body.find("dei");
        if (it != body.end() && it->is_object()) return *it;
    }
    return body;
}

RecordSummary summarize(const std::string& ak, const std::string& itemAc, const Json& body, const std::string& name,
                        const std::string& reason, const std::string& backtrace, double receivedAt,
                        const FrameResolver* resolver) {
    RecordSummary s;
    const Json& dei = deviceRecord(body);
    s.device = textAt(dei, "und");
    s.appVersion = textAt(dei, "av");
    s.osVersion = textAt(dei, "ov");
    s.crashTime = receivedAt;
    const Json empty = Json::object();
    const Json& data = body.is_object() && body.contains("data") && body["data"].is_object() ? body["data"] : empty;
    if (const std::string tm = textAt(data, "tm"); !tm.empty()) {
        char* end = nullptr;
        const double t = std::strtod(tm.c_str(), &end);
        if (end && *end == '\0' && t > 0) s.crashTime = t;
    }
    s.message = textAt(data, "msg");
    if (itemAc == "exception") {
        // Pooled reports are identical when their event text and message are.
        const std::string ct = textAt(data, "ct");
        s.count = std::max<std::int64_t>(1, std::atoll(ct.c_str()));
        s.masked = reason;
        s.groupId = md5Hex(ak + "\n" + textAt(data, "et") + "\n" + s.message).substr(0, 16);
        return s;
    }
    if (itemAc != "submit") return s;
    s.masked = maskNumbers(reason);
    const auto frames = parseBacktrace(backtrace, resolver, ak, s.appVersion, name == "exception Signal");
    const int top = firstApplicationFrame(frames, name == "exception Signal");
    if (top >= 0) s.topFrame = frames[top].label();
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
