#include "SymbolStore.h"

#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace symbols {

namespace fs = std::filesystem;

namespace {

bool hexField(const std::string& s, std::size_t& pos, std::uint64_t& out) {
    if (s.compare(pos, 2, "0x") != 0) return false;
    std::size_t i = pos + 2;
    out = 0;
    const std::size_t begin = i;
    while (i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i])) && i - begin < 16) {
        const char c = s[i++];
        out = out * 16 + static_cast<std::uint64_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    if (i == begin || i >= s.size() || s[i] != ' ') return false;
    pos = i + 1;
    return true;
}

// A key component as a file name: letters, digits, '-', '_' and non-leading '.' stay, the
// rest is %XX; the empty string is "%".
std::string encode(const std::string& s) {
    if (s.empty()) return "%";
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (std::isalnum(c) || c == '-' || c == '_' || (c == '.' && i > 0)) {
            out += static_cast<char>(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

std::string decode(const std::string& s) {
    if (s == "%") return {};
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool writeFileAtomically(const std::string& path, const std::string& data, std::string& error) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    if (ec) {
        error = "cannot create " + fs::path(path).parent_path().string() + ": " + ec.message();
        return false;
    }
    static std::atomic<unsigned> counter{0};
    const std::string tmp = path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0;
    for (std::size_t done = 0; ok && done < data.size();) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    if (ok) ok = ::fsync(fd) == 0;
    if (fd >= 0 && ::close(fd) != 0) ok = false;
    if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
    }
    return ok;
}

bool isSignalTrampolineImage(const std::string& image) { return image.rfind("libc.so", 0) == 0; }

}  // namespace

std::optional<BacktraceFrame> parseBacktraceLine(const std::string& line) {
    BacktraceFrame f;
    std::size_t pos = 0;
    while (pos < line.size() && pos < 9 && std::isdigit(static_cast<unsigned char>(line[pos])))
        f.index = f.index * 10 + (line[pos++] - '0');
    if (pos == 0 || pos >= line.size() || line[pos] != ' ') return std::nullopt;
    while (pos < line.size() && line[pos] == ' ') ++pos;
    // The image name is padded to 35 characters; the two addresses follow it.
    for (std::size_t at = line.find(" 0x", pos); at != std::string::npos; at = line.find(" 0x", at + 1)) {
        std::size_t p = at + 1;
        if (!hexField(line, p, f.address) || !hexField(line, p, f.offset)) continue;
        std::size_t end = at;
        while (end > pos && line[end - 1] == ' ') --end;
        f.image = line.substr(pos, end - pos);
        const auto plus = line.rfind(" + ");
        f.symbol = plus != std::string::npos && plus >= p ? line.substr(p, plus - p) : line.substr(p);
        return f;
    }
    return std::nullopt;
}

bool gunzipIfNeeded(const std::string& body, std::string& out, std::string& error, std::size_t limit) {
    if (body.size() < 2 || static_cast<unsigned char>(body[0]) != 0x1f || static_cast<unsigned char>(body[1]) != 0x8b) {
        out = body;
        return true;
    }
    z_stream zs{};
    if (inflateInit2(&zs, 15 + 16) != Z_OK) {
        error = "cannot start gzip decoding";
        return false;
    }
    out.clear();
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    zs.avail_in = static_cast<uInt>(body.size());
    char buf[1 << 16];
    int rc = Z_OK;
    while (rc == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef*>(buf);
        zs.avail_out = sizeof buf;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.append(buf, sizeof buf - zs.avail_out);
        if (out.size() > limit) {
            inflateEnd(&zs);
            error = "gzip body expands beyond " + std::to_string(limit) + " bytes";
            return false;
        }
        if (rc == Z_BUF_ERROR && zs.avail_in == 0) break;
    }
    const bool trailing = rc == Z_STREAM_END && zs.avail_in != 0;
    inflateEnd(&zs);
    if (rc == Z_STREAM_END && !trailing) return true;
    if (trailing)
        error = "data after the end of the gzip stream";
    else if (rc == Z_BUF_ERROR)
        error = "gzip stream is truncated";
    else
        error = std::string("gzip stream is corrupt") + (zs.msg ? std::string(": ") + zs.msg : std::string());
    return false;
}

std::string gzip(const std::string& text) {
    z_stream zs{};
    deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, text.size()), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    zs.avail_in = static_cast<uInt>(text.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

SymbolStore::SymbolStore(std::string dir) : dir_(std::move(dir)) {}

SymbolStore::SymbolStore(std::shared_ptr<SymbolSource> source) : source_(std::move(source)) {}

std::optional<std::string> SymbolStore::text(const std::string& appKey, const std::string& version,
                                             const std::string& image) {
    if (source_) {
        auto file = source_->read(appKey, version, image);
        return file ? std::optional(std::move(file->second)) : std::nullopt;
    }
    if (dir_.empty()) return std::nullopt;
    std::ifstream in(pathFor(appKey, version, image), std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::shared_ptr<const SymbolFile> SymbolStore::getFromSource(const std::string& appKey, const std::string& version,
                                                             const std::string& image) {
    // Frames are resolved by the thousand; the source is asked at most once a second per key.
    const auto now = std::chrono::steady_clock::now();
    const std::string key = pathFor(appKey, version, image);
    std::lock_guard lock(mutex_);
    Cached& c = cache_[key];
    if (c.checked != std::chrono::steady_clock::time_point{} && now - c.checked < std::chrono::seconds(1))
        return c.file;
    const auto revision = source_->revision(appKey, version, image);
    if (!revision) {
        c = {0, -1, 0, nullptr, now};
        return nullptr;
    }
    if (c.file && c.mtimeNs == *revision) {
        c.checked = now;
        return c.file;
    }
    auto stored = source_->read(appKey, version, image);
    std::string error;
    auto parsed = stored ? SymbolFile::parse(stored->second, error) : std::nullopt;
    if (!parsed) {
        c = {0, -1, 0, nullptr, now};
        return nullptr;
    }
    c = {stored->first, 0, 0, std::make_shared<const SymbolFile>(std::move(*parsed)), now};
    return c.file;
}

std::string SymbolStore::dirForDatabase(const std::string& dbPath) {
    return dbPath == ":memory:" || dbPath.empty() ? std::string() : dbPath + ".symbols";
}

std::string SymbolStore::pathFor(const std::string& appKey, const std::string& version,
                                 const std::string& image) const {
    const std::string rel = encode(appKey) + "/" + encode(version) + "/" + encode(image) + ".sym";
    return dir_.empty() ? rel : dir_ + "/" + rel;
}

std::optional<StoredSymbols> SymbolStore::put(const std::string& appKey, const std::string& version,
                                              const std::string& text, std::string& error) {
    if (appKey.empty()) {
        error = "no application key";
        return std::nullopt;
    }
    auto parsed = SymbolFile::parse(text, error);
    if (!parsed) return std::nullopt;
    if (parsed->module.empty() || parsed->module.find('/') != std::string::npos) {
        error = "MODULE must be an image file name";
        return std::nullopt;
    }
    StoredSymbols info{appKey, version, parsed->module, parsed->buildId, parsed->functions.size(),
                       parsed->lines.size(), false};
    const std::string path = pathFor(appKey, version, parsed->module);
    auto shared = std::make_shared<const SymbolFile>(std::move(*parsed));
    if (source_) {
        try {
            info.replaced = source_->put(appKey, version, info.image, text);
        } catch (const std::exception& e) {
            error = std::string("cannot store the symbol file: ") + e.what();
            return std::nullopt;
        }
        std::lock_guard lock(mutex_);
        cache_.erase(path);
        return info;
    }
    std::lock_guard lock(mutex_);
    if (dir_.empty()) {
        auto& slot = cache_[path];
        info.replaced = slot.file != nullptr;
        slot.file = std::move(shared);
        return info;
    }
    struct stat st {};
    info.replaced = ::stat(path.c_str(), &st) == 0;
    if (!writeFileAtomically(path, text, error)) return std::nullopt;
    cache_.erase(path);  // the next lookup stats the new file and caches it
    return info;
}

std::shared_ptr<const SymbolFile> SymbolStore::get(const std::string& appKey, const std::string& version,
                                                   const std::string& image) {
    if (source_) return getFromSource(appKey, version, image);
    const std::string path = pathFor(appKey, version, image);
    std::lock_guard lock(mutex_);
    if (dir_.empty()) {
        auto it = cache_.find(path);
        return it == cache_.end() ? nullptr : it->second.file;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        cache_.erase(path);
        return nullptr;
    }
    const std::int64_t mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    Cached& c = cache_[path];
    if (c.file && c.mtimeNs == mtime && c.size == st.st_size && c.inode == st.st_ino) return c.file;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string error;
    auto parsed = SymbolFile::parse(text.str(), error);
    if (!parsed) {
        cache_.erase(path);
        return nullptr;
    }
    c = {mtime, st.st_size, st.st_ino, std::make_shared<const SymbolFile>(std::move(*parsed)), {}};
    return c.file;
}

std::vector<StoredSymbols> SymbolStore::list() {
    std::vector<StoredSymbols> out;
    if (source_) {
        for (const auto& k : source_->keys()) {
            {
                // The key exists now, whatever an earlier lookup found.
                std::lock_guard lock(mutex_);
                auto it = cache_.find(pathFor(k[0], k[1], k[2]));
                if (it != cache_.end() && !it->second.file) cache_.erase(it);
            }
            if (auto file = get(k[0], k[1], k[2]))
                out.push_back({k[0], k[1], k[2], file->buildId, file->functions.size(), file->lines.size(), false});
        }
        return out;
    }
    std::vector<std::string> keys;
    {
        std::lock_guard lock(mutex_);
        if (dir_.empty()) {
            for (const auto& [k, v] : cache_) keys.push_back(k);
        } else {
            std::error_code ec;
            for (auto it = fs::recursive_directory_iterator(dir_, ec); !ec && it != fs::recursive_directory_iterator();
                 it.increment(ec)) {
                if (it->is_regular_file() && it->path().extension() == ".sym")
                    keys.push_back(fs::relative(it->path(), dir_).string());
            }
        }
    }
    for (const auto& k : keys) {
        const fs::path p(k);
        auto it = p.begin();
        if (std::distance(p.begin(), p.end()) != 3) continue;
        const std::string ak = decode(*it++), av = decode(*it++), image = decode(fs::path(*it).stem().string());
        if (auto file = get(ak, av, image))
            out.push_back({ak, av, image, file->buildId, file->functions.size(), file->lines.size(), false});
    }
    return out;
}

std::optional<Location> SymbolStore::resolve(const std::string& appKey, const std::string& version,
                                             const BacktraceFrame& frame, bool exact) {
    auto file = get(appKey, version, frame.image);
    if (!file) return std::nullopt;
    if (!exact && frame.offset == 0) return std::nullopt;
    return file->lookup(exact ? frame.offset : frame.offset - 1);
}

std::vector<std::optional<Location>> SymbolStore::resolveBacktrace(const std::string& appKey,
                                                                   const std::string& version,
                                                                   const std::string& backtrace, bool signalRecord) {
    std::vector<std::optional<Location>> out;
    std::istringstream in(backtrace);
    std::string line;
    bool afterTrampoline = false, trampolineSeen = !signalRecord;
    while (std::getline(in, line)) {
        auto frame = parseBacktraceLine(line);
        if (!frame) {
            out.emplace_back();
            continue;
        }
        out.push_back(resolve(appKey, version, *frame, afterTrampoline));
        afterTrampoline = !trampolineSeen && isSignalTrampolineImage(frame->image);
        if (afterTrampoline) trampolineSeen = true;
    }
    return out;
}

}  // namespace symbols
