#include "platform/system/Keychain.h"

#include "platform/foundation/Digest.h"
#include "platform/foundation/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>

namespace platform::keychain {

namespace {

// Item file: "QNKC1\n", then the service and the account each as a 4-byte little-endian
// length and its bytes, then the item's data. The names are stored so that a read checks
// it found the item it was asked for.
constexpr std::string_view kMagic = "QNKC1\n";

void appendLength(std::string& out, size_t n) {
    auto v = static_cast<std::uint32_t>(n);
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}

bool readLength(std::string_view& in, std::uint32_t& n) {
    if (in.size() < 4) return false;
    n = 0;
    for (int i = 0; i < 4; ++i) n |= static_cast<std::uint32_t>(static_cast<unsigned char>(in[i])) << (8 * i);
    in.remove_prefix(4);
    return true;
}

std::string lengthPrefixed(const std::string& s) {
    std::string out;
    appendLength(out, s.size());
    return out + s;
}

// The item's file: a digest of both names, so that no name can reach outside the directory
// and no two (service, account) pairs share a name by concatenation.
std::string itemPath(const std::string& dir, const std::string& service, const std::string& account) {
    return fs::appendPathComponent(dir, "item-" + md5Hex(lengthPrefixed(service) + lengthPrefixed(account)));
}

std::string encode(const std::string& service, const std::string& account, const Bytes& data) {
    std::string out(kMagic);
    out += lengthPrefixed(service);
    out += lengthPrefixed(account);
    out.append(reinterpret_cast<const char*>(data.data()), data.size());
    return out;
}

bool decode(std::string_view in, const std::string& service, const std::string& account, Bytes* data) {
    if (in.substr(0, kMagic.size()) != kMagic) return false;
    in.remove_prefix(kMagic.size());
    for (const std::string* name : {&service, &account}) {
        std::uint32_t n = 0;
        if (!readLength(in, n) || in.size() < n || in.substr(0, n) != *name) return false;
        in.remove_prefix(n);
    }
    if (data) data->assign(in.begin(), in.end());
    return true;
}

// A private name next to the item for writing it whole: "<item>.new-<pid>-<tid>-<n>". The
// process id lets a later launch tell a temporary file left by a process that died.
std::string temporaryPath(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".new-" + std::to_string(getpid()) + "-" + std::to_string(static_cast<long>(syscall(SYS_gettid))) +
           "-" + std::to_string(counter.fetch_add(1));
}

// Writes `data` to the new file `tmp` and flushes it to the disk; nothing is left on failure.
bool writeDurably(const std::string& tmp, const std::string& data) {
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = fs::writeAll(fd, data) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

void syncDirectory(const std::string& dir) {
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return;
    ::fsync(dfd);
    ::close(dfd);
}

// Removes the temporary files of processes that ended while writing an item (and those of
// an earlier process that had this one's id). Runs before this process writes any.
void removeStaleTemporaries(const std::string& dir) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    const pid_t self = getpid();
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        const auto mark = name.find(".new-");
        if (name.rfind("item-", 0) != 0 || mark == std::string::npos) continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + mark + 5, &end, 10);
        if (pid <= 0 || *end != '-') continue;
        if (pid == self || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH))
            ::unlink(fs::appendPathComponent(dir, name).c_str());
    }
    ::closedir(d);
}

// The store's directory, created 0700 when missing; empty when it cannot be made. The
// first call of a process clears what dead processes left behind.
std::string storeDirectory() {
    std::string dir = fs::keychainDirectory();
    if (!fs::createDirectories(dir, 0700)) return {};
    static std::once_flag cleaned;
    std::call_once(cleaned, [&dir] { removeStaleTemporaries(dir); });
    return dir;
}

// The item written whole and flushed under its temporary name, ready to be put in place.
struct Staged {
    std::string dir, path, tmp;
};

std::optional<Staged> stage(const std::string& service, const std::string& account, const Bytes& data) {
    Staged s{storeDirectory(), {}, {}};
    if (s.dir.empty()) return std::nullopt;
    s.path = itemPath(s.dir, service, account);
    s.tmp = temporaryPath(s.path);
    if (!writeDurably(s.tmp, encode(service, account, data))) return std::nullopt;
    return s;
}

}  // namespace

int add(const std::string& service, const std::string& account, const Bytes& data) {
    // Linked into place: the link fails when the item exists, so adding never replaces an
    // item and never shows a partial one.
    auto s = stage(service, account, data);
    if (!s) return kNotAvailable;
    int rc = ::link(s->tmp.c_str(), s->path.c_str());
    int err = errno;
    ::unlink(s->tmp.c_str());
    if (rc != 0) return err == EEXIST ? kDuplicateItem : kNotAvailable;
    syncDirectory(s->dir);
    return kSuccess;
}

int update(const std::string& service, const std::string& account, const Bytes& data) {
    auto s = stage(service, account, data);
    if (!s) return kNotAvailable;
    if (::rename(s->tmp.c_str(), s->path.c_str()) != 0) {
        ::unlink(s->tmp.c_str());
        return kNotAvailable;
    }
    syncDirectory(s->dir);
    return kSuccess;
}

int copyMatching(const std::string& service, const std::string& account, Bytes* data) {
    std::string dir = fs::keychainDirectory();
    auto content = fs::readFile(itemPath(dir, service, account));
    if (!content) return errno == ENOENT || errno == ENOTDIR ? kItemNotFound : kNotAvailable;
    if (!decode(*content, service, account, data)) return kItemNotFound;
    return kSuccess;
}

int remove(const std::string& service, const std::string& account) {
    std::string path = itemPath(fs::keychainDirectory(), service, account);
    if (::unlink(path.c_str()) == 0) return kSuccess;
    return errno == ENOENT || errno == ENOTDIR ? kItemNotFound : kNotAvailable;
}

}  // namespace platform::keychain
