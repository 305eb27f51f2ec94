// Symbol files: the text form written by `quillon-symbols dump`, parsed once into sorted
// tables that answer "which function, file and line holds this image offset" by binary search.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace symbols {

struct Function {
    std::uint64_t start = 0;  // offset from the image's load base
    std::uint64_t size = 0;
    std::string name;         // demangled
};

struct LineRange {
    std::uint64_t start = 0;
    std::uint64_t size = 0;
    std::uint32_t line = 0;
    std::uint32_t file = 0;  // index into files
};

struct Location {
    std::string function;  // empty when no function covers the offset
    std::string file;      // empty when no line record covers the offset
    std::uint32_t line = 0;
};

class SymbolFile {
public:
    std::string module;   // image name as backtrace lines show it
    std::string buildId;  // lower-case hex, empty when the image has none
    std::string arch;
    std::vector<std::string> files;
    std::vector<Function> functions;  // sorted by start, not overlapping
    std::vector<LineRange> lines;     // sorted by start, not overlapping

    // Strict parse of the whole text. On failure returns nullopt and sets error to a reason
    // that names the line.
    static std::optional<SymbolFile> parse(std::string_view text, std::string& error);
    // The text form; parse(serialize()) gives the same tables back.
    std::string serialize() const;

    // What covers the offset; nullopt when neither a function nor a line record does.
    std::optional<Location> lookup(std::uint64_t offset) const;
    const Function* functionAt(std::uint64_t offset) const;
    const LineRange* lineAt(std::uint64_t offset) const;

    // Sorts both tables and trims overlaps (a range ends where the next one starts);
    // zero-sized ranges are dropped. Of functions starting at one address the first kept wins.
    void normalize();
};

}  // namespace symbols
