// Symbol files arrive from the network: the gzip layer, the strict parser, lookups in what it
// accepts, and backtrace lines must hold up against any bytes.
#include "SymbolStore.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string text, error;
    if (!symbols::gunzipIfNeeded(input, text, error, 1 << 20)) return 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) (void)symbols::parseBacktraceLine(line);
    auto sf = symbols::SymbolFile::parse(text, error);
    if (!sf) return 0;
    // What the parser accepts serialises back to the same tables.
    auto again = symbols::SymbolFile::parse(sf->serialize(), error);
    if (!again || again->functions.size() != sf->functions.size() || again->lines.size() != sf->lines.size())
        std::abort();
    for (const auto& f : sf->functions) {
        if (sf->functionAt(f.start) != &f || sf->functionAt(f.start + f.size - 1) != &f) std::abort();
        (void)sf->lookup(f.start + f.size);
    }
    for (const auto& l : sf->lines)
        if (sf->lineAt(l.start) != &l) std::abort();
    return 0;
}
