#include "platform/system/Keychain.h"

#include "platform/foundation/Digest.h"
#include "platform/foundation/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

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

// The store's directory, created 0700 when missing; empty when it cannot be made.
std::string storeDirectory() {
    std::string dir = fs::keychainDirectory();
    if (!fs::createDirectories(dir, 0700)) return {};
    return dir;
}

}  // namespace

int add(const std::string& service, const std::string& account, const Bytes& data) {
    std::string dir = storeDirectory();
    if (dir.empty()) return kNotAvailable;
    const std::string path = itemPath(dir, service, account);
    // Write the whole item under a private name, then link it into place: the link fails
    // when the item exists, so adding never replaces an item and never shows a partial one.
    static std::atomic<unsigned> counter{0};
    const std::string tmp = path + ".new-" + std::to_string(getpid()) + "-" +
                            std::to_string(static_cast<long>(syscall(SYS_gettid))) + "-" +
                            std::to_string(counter.fetch_add(1));
    if (!fs::writeAtomically(tmp, encode(service, account, data), 0600, true)) return kNotAvailable;
    int rc = ::link(tmp.c_str(), path.c_str());
    int err = errno;
    ::unlink(tmp.c_str());
    if (rc != 0) return err == EEXIST ? kDuplicateItem : kNotAvailable;
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
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
