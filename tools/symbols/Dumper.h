// Reads an ELF executable or shared library (and its separate debug file, found through
// .gnu_debuglink or the build-id path) into a symbol file.
#pragma once

#include "SymbolFile.h"

#include <optional>
#include <string>

namespace symbols {

struct DumpOptions {
    std::string name;      // image name to record; default: the file's name
    std::string debugDir;  // extra root searched for debug files (besides /usr/lib/debug)
};

std::optional<SymbolFile> dumpSymbols(const std::string& path, const DumpOptions& options, std::string& error);

}  // namespace symbols
