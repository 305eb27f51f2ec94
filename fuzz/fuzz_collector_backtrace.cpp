// The collector's summariser on one backtrace: each line split into its fields, the first
// application frame found, the group worked out. Short lines are also matched with the
// backtracking expression the line parser replaced, which must agree with it field by field.
#include "Analysis.h"

#include <cstdint>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const collector::Json body = {{"dei", {{"av", "1.0(1)"}}}};
    (void)collector::summarize("ak", "submit", body, "exception Signal", "SIGSEGV 0x10", text, 1, nullptr);

    static const std::regex shape(
        R"(^\s*(\d+)\s+(.+?)\s+(0x[0-9a-fA-F]+)\s+(0x[0-9a-fA-F]+)\s+(.*?)\s+\+\s+(-?\d+)\s*$)");
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.size() > 200) continue;
        std::smatch m;
        const bool matched = std::regex_match(line, m, shape);
        const auto f = collector::splitBacktraceLine(line);
        if (matched != f.has_value()) std::abort();
        if (matched && (m[2].str() != f->image || m[3].str() != f->address || m[4].str() != f->offset ||
                        m[5].str() != f->symbol || m[6].str() != f->delta))
            std::abort();
    }
    return 0;
}
