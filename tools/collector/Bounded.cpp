#include "Bounded.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace collector {

std::string clipText(const std::string& s, std::size_t n) {
    if (s.size() <= n) return s;
    std::size_t cut = n;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;  // keep UTF-8 whole
    return s.substr(0, cut) + "…";
}

namespace {

std::string quoted(const std::string& s, std::size_t n) {
    return Json(clipText(s, n)).dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string previewJson(const Json& root, std::size_t limit, bool pretty) {
    std::string out;
    struct Level {
        const Json* node;
        Json::const_iterator it;
        bool first;
    };
    std::vector<Level> stack;
    auto newline = [&](std::size_t depth) {
        if (!pretty) return;
        out += '\n';
        out.append(std::min<std::size_t>(depth, 32) * 2, ' ');
    };
    auto open = [&](const Json& v) {
        if (v.is_structured() && !v.empty()) {
            out += v.is_object() ? '{' : '[';
            stack.push_back({&v, v.cbegin(), true});
        } else if (v.is_structured()) {
            out += v.is_object() ? "{}" : "[]";
        } else if (v.is_string()) {
            out += quoted(v.get_ref<const std::string&>(), limit - std::min(out.size(), limit) + 1);
        } else {
            out += v.dump();
        }
    };
    open(root);
    while (!stack.empty() && out.size() <= limit) {
        Level& top = stack.back();
        if (top.it == top.node->cend()) {
            const bool object = top.node->is_object();
            stack.pop_back();
            newline(stack.size());
            out += object ? '}' : ']';
            continue;
        }
        if (!top.first) out += ',';
        top.first = false;
        newline(stack.size());
        const Json& v = *top.it;
        if (top.node->is_object()) out += quoted(top.it.key(), 200) + (pretty ? ": " : ":");
        ++top.it;
        open(v);  // may grow the stack; `top` is not used after this
    }
    if (!stack.empty() || out.size() > limit) return clipText(out, limit).append(out.size() > limit ? "" : "…");
    return out;
}

std::string valueText(const Json& value, std::size_t n) {
    return value.is_string() ? clipText(value.get_ref<const std::string&>(), n) : previewJson(value, n);
}

std::string escapeControl(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    char buf[8];
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        // C1 controls arrive as U+0080..U+009F, two bytes in UTF-8.
        const bool c1 = c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(s[i + 1]) <= 0x9F;
        if (c1) {
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(s[++i]));
            out += buf;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace collector
