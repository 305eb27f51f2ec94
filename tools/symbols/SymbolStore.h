// Uploaded symbol files on the collector's side: stored under a directory, one file per
// application key, application version ("av") and image name, parsed once and cached; and the
// symbolication of backtrace lines against them.
#pragma once

#include "SymbolFile.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace symbols {

// One backtrace line of a crash record, "%-3d %-35s 0x%016lx 0x%016lx %s + %d".
struct BacktraceFrame {
    int index = 0;
    std::string image;
    std::uint64_t address = 0;
    std::uint64_t offset = 0;  // the address minus the image's load address
    std::string symbol;        // what the device found, "(null)" included
};
std::optional<BacktraceFrame> parseBacktraceLine(const std::string& line);

// Expands a gzip stream (or returns the text as it is when it does not start with the gzip
// magic). False, with the reason, when the stream is corrupt, truncated or exceeds `limit`.
bool gunzipIfNeeded(const std::string& body, std::string& out, std::string& error,
                    std::size_t limit = std::size_t{512} << 20);

// The text as one gzip stream.
std::string gzip(const std::string& text);

struct StoredSymbols {
    std::string appKey, version, image, buildId;
    std::size_t functions = 0, lines = 0;
    bool replaced = false;
};

// Where symbol files are kept instead of a directory: the collector's database, shared by
// every collector process on it. Calls come from any thread; failures throw.
class SymbolSource {
public:
    virtual ~SymbolSource() = default;
    // Stores the text under the key; answers whether it replaced a file.
    virtual bool put(const std::string& appKey, const std::string& version, const std::string& image,
                     const std::string& text) = 0;
    // The key's revision (a new one with every put), or nothing when no file has the key.
    virtual std::optional<std::int64_t> revision(const std::string& appKey, const std::string& version,
                                                 const std::string& image) = 0;
    // The revision and the text.
    virtual std::optional<std::pair<std::int64_t, std::string>> read(const std::string& appKey,
                                                                     const std::string& version,
                                                                     const std::string& image) = 0;
    virtual std::vector<std::vector<std::string>> keys() = 0;  // {appKey, version, image} each
};

class SymbolStore {
public:
    // dir "" keeps the symbol files in memory only.
    explicit SymbolStore(std::string dir);
    // Keeps them in the source; what another process stores there is seen within a second.
    explicit SymbolStore(std::shared_ptr<SymbolSource> source);

    // The text of a stored file, as uploaded.
    std::optional<std::string> text(const std::string& appKey, const std::string& version, const std::string& image);

    // The directory kept beside a collector database ("" for ":memory:").
    static std::string dirForDatabase(const std::string& dbPath);

    // Validates the whole text and stores it under (appKey, version, its MODULE), replacing
    // an earlier file with that key. On failure nothing changes and error says why.
    std::optional<StoredSymbols> put(const std::string& appKey, const std::string& version,
                                     const std::string& text, std::string& error);
    std::shared_ptr<const SymbolFile> get(const std::string& appKey, const std::string& version,
                                          const std::string& image);
    std::vector<StoredSymbols> list();

    // Resolves one frame. `exact` says the address is the faulting instruction itself; other
    // frames hold return addresses and are looked up one byte earlier, inside the call.
    std::optional<Location> resolve(const std::string& appKey, const std::string& version,
                                    const BacktraceFrame& frame, bool exact);
    // Resolves every line of a backtrace text (lines joined by "\n"). In a signal's backtrace
    // the frame after the signal trampoline (the first libc frame) is exact.
    std::vector<std::optional<Location>> resolveBacktrace(const std::string& appKey, const std::string& version,
                                                          const std::string& backtrace, bool signalRecord);

private:
    struct Cached {
        std::int64_t mtimeNs = 0;
        std::int64_t size = -1;
        std::uint64_t inode = 0;
        std::shared_ptr<const SymbolFile> file;
        std::chrono::steady_clock::time_point checked;  // source: when the revision was last asked
    };
    std::shared_ptr<const SymbolFile> getFromSource(const std::string& appKey, const std::string& version,
                                                    const std::string& image);
    std::string pathFor(const std::string& appKey, const std::string& version, const std::string& image) const;

    std::string dir_;
    std::shared_ptr<SymbolSource> source_;
    std::mutex mutex_;
    std::map<std::string, Cached> cache_;  // by path (in memory: by key)
};

}  // namespace symbols
