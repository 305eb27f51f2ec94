#include "SymbolFile.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace symbols {

namespace {

const std::string_view kMagic = "QUILLON-SYMBOLS 1";

// Splits off the next space-separated field; the rest stays in `rest`.
std::string_view field(std::string_view& rest) {
    const auto sp = rest.find(' ');
    std::string_view f = rest.substr(0, sp);
    rest = sp == std::string_view::npos ? std::string_view() : rest.substr(sp + 1);
    return f;
}

template <typename T>
bool number(std::string_view s, T& out, int base) {
    if (s.empty()) return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out, base);
    return ec == std::errc() && end == s.data() + s.size();
}

template <typename Range>
void sortAndTrim(std::vector<Range>& v) {
    std::stable_sort(v.begin(), v.end(), [](const Range& a, const Range& b) { return a.start < b.start; });
    std::vector<Range> out;
    out.reserve(v.size());
    for (auto& r : v) {
        if (r.size == 0) continue;
        if (!out.empty()) {
            Range& prev = out.back();
            if (prev.start == r.start) continue;  // the first of a shared start wins
            if (prev.start + prev.size > r.start) prev.size = r.start - prev.start;
        }
        out.push_back(std::move(r));
    }
    v.swap(out);
}

template <typename Range>
const Range* covering(const std::vector<Range>& v, std::uint64_t offset) {
    auto it = std::upper_bound(v.begin(), v.end(), offset,
                               [](std::uint64_t o, const Range& r) { return o < r.start; });
    if (it == v.begin()) return nullptr;
    --it;
    return offset - it->start < it->size ? &*it : nullptr;
}

}  // namespace

void SymbolFile::normalize() {
    sortAndTrim(functions);
    sortAndTrim(lines);
}

const Function* SymbolFile::functionAt(std::uint64_t offset) const { return covering(functions, offset); }
const LineRange* SymbolFile::lineAt(std::uint64_t offset) const { return covering(lines, offset); }

std::optional<Location> SymbolFile::lookup(std::uint64_t offset) const {
    const Function* f = functionAt(offset);
    const LineRange* l = lineAt(offset);
    if (!f && !l) return std::nullopt;
    Location loc;
    if (f) loc.function = f->name;
    if (l) {
        loc.file = files[l->file];
        loc.line = l->line;
    }
    return loc;
}

std::string SymbolFile::serialize() const {
    std::string out;
    out.reserve(64 + files.size() * 64 + functions.size() * 48 + lines.size() * 24);
    out.append(kMagic).append("\nMODULE ").append(module).append("\nBUILD-ID ");
    out.append(buildId.empty() ? "-" : buildId).append("\nARCH ").append(arch.empty() ? "-" : arch).append("\n");
    char buf[96];
    for (std::size_t i = 0; i < files.size(); ++i)
        out.append(buf, std::snprintf(buf, sizeof buf, "FILE %zu ", i)).append(files[i]).append("\n");
    for (const auto& f : functions) {
        out.append(buf, std::snprintf(buf, sizeof buf, "FUNC %llx %llx ", static_cast<unsigned long long>(f.start),
                                      static_cast<unsigned long long>(f.size)));
        out.append(f.name).append("\n");
    }
    for (const auto& l : lines)
        out.append(buf, std::snprintf(buf, sizeof buf, "LINE %llx %llx %u %u\n", static_cast<unsigned long long>(l.start),
                                      static_cast<unsigned long long>(l.size), l.line, l.file));
    out.append(buf, std::snprintf(buf, sizeof buf, "END %zu\n", files.size() + functions.size() + lines.size()));
    return out;
}

std::optional<SymbolFile> SymbolFile::parse(std::string_view text, std::string& error) {
    SymbolFile sf;
    std::size_t lineNo = 0, pos = 0, records = 0;
    bool ended = false;
    auto fail = [&](const std::string& why) {
        error = "symbol file line " + std::to_string(lineNo) + ": " + why;
        return std::nullopt;
    };
    while (pos < text.size()) {
        const auto nl = text.find('\n', pos);
        if (nl == std::string_view::npos) {
            lineNo++;
            return fail("no newline at the end (truncated?)");
        }
        std::string_view line = text.substr(pos, nl - pos);
        pos = nl + 1;
        ++lineNo;
        if (ended) return fail("text after END");
        if (lineNo == 1) {
            if (line != kMagic) return fail("not a symbol file (expected \"QUILLON-SYMBOLS 1\")");
            continue;
        }
        std::string_view rest = line;
        const std::string_view kind = field(rest);
        if (lineNo <= 4) {
            static const std::string_view header[] = {"MODULE", "BUILD-ID", "ARCH"};
            if (kind != header[lineNo - 2] || rest.empty())
                return fail(std::string("expected ") + std::string(header[lineNo - 2]));
            if (lineNo == 2) sf.module = rest;
            if (lineNo == 3 && rest != "-") {
                if (rest.find_first_not_of("0123456789abcdef") != std::string_view::npos)
                    return fail("build-id is not lower-case hex");
                sf.buildId = rest;
            }
            if (lineNo == 4 && rest != "-") sf.arch = rest;
            continue;
        }
        if (kind == "FILE") {
            std::size_t index = 0;
            if (!number(field(rest), index, 10) || index != sf.files.size())
                return fail("FILE index out of order");
            if (!sf.functions.empty() || !sf.lines.empty()) return fail("FILE after FUNC or LINE");
            sf.files.emplace_back(rest);
        } else if (kind == "FUNC") {
            Function f;
            if (!number(field(rest), f.start, 16) || !number(field(rest), f.size, 16) || f.size == 0 || rest.empty())
                return fail("malformed FUNC");
            if (!sf.lines.empty()) return fail("FUNC after LINE");
            if (f.start + f.size < f.start) return fail("FUNC range wraps around");
            if (!sf.functions.empty()) {
                const Function& p = sf.functions.back();
                if (f.start < p.start + p.size) return fail("FUNC not sorted or overlapping");
            }
            f.name = rest;
            sf.functions.push_back(std::move(f));
        } else if (kind == "LINE") {
            LineRange l;
            if (!number(field(rest), l.start, 16) || !number(field(rest), l.size, 16) || l.size == 0 ||
                !number(field(rest), l.line, 10) || !number(field(rest), l.file, 10) || !rest.empty())
                return fail("malformed LINE");
            if (l.file >= sf.files.size()) return fail("LINE names an unknown FILE");
            if (l.start + l.size < l.start) return fail("LINE range wraps around");
            if (!sf.lines.empty()) {
                const LineRange& p = sf.lines.back();
                if (l.start < p.start + p.size) return fail("LINE not sorted or overlapping");
            }
            sf.lines.push_back(l);
        } else if (kind == "END") {
            std::size_t count = 0;
            if (!number(field(rest), count, 10) || !rest.empty()) return fail("malformed END");
            if (count != records) return fail("END counts " + std::to_string(count) + " records, file has " +
                                              std::to_string(records) + " (truncated?)");
            ended = true;
            continue;
        } else {
            return fail("unknown record \"" + std::string(kind.substr(0, 40)) + "\"");
        }
        ++records;
    }
    if (lineNo < 4) return fail("incomplete header (truncated?)");
    if (!ended) return fail("no END record (truncated?)");
    return sf;
}

}  // namespace symbols
