#include "platform/foundation/Files.h"

#include "platform/foundation/Bundle.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <vector>

namespace platform::fs {

namespace {

std::string homeDirectory() {
    if (const char* h = std::getenv("HOME"); h && *h) return h;
    std::vector<char> buf(16384);
    struct passwd pw;
    struct passwd* result = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_dir) {
        return result->pw_dir;
    }
    return "/tmp";
}

// A single path component that cannot leave the directory it is appended to.
bool isSafeComponent(std::string_view c) {
    return !c.empty() && c != "." && c != ".." && c.find('/') == std::string_view::npos &&
           c.find('\0') == std::string_view::npos;
}

bool fsyncDirectory(const std::string& dir) {
    int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

std::string randomSuffix() {
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937_64 rng{std::random_device{}() ^ (static_cast<std::uint64_t>(getpid()) << 32)};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%016llx%x", static_cast<unsigned long long>(rng()), counter.fetch_add(1));
    return buf;
}

}  // namespace

std::string dataHome() {
    // Relative values are invalid and ignored, as the base-directory convention requires.
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && x[0] == '/') return x;
    return appendPathComponent(homeDirectory(), ".local/share");
}

std::string sandboxDirectory() { return appendPathComponent(dataHome(), Bundle::main().sandboxName()); }
std::string documentsDirectory() { return appendPathComponent(sandboxDirectory(), "Documents"); }
std::string cachesDirectory() { return appendPathComponent(sandboxDirectory(), "Library/Caches"); }
std::string keychainDirectory() { return appendPathComponent(dataHome(), "keychain"); }

std::optional<std::string> appGroupContainer(std::string_view groupId) {
    if (!isSafeComponent(groupId)) return std::nullopt;
    std::string dir = appendPathComponent(appendPathComponent(dataHome(), "app-groups"), groupId);
    if (!isDirectory(dir)) return std::nullopt;
    return dir;
}

std::string appendPathComponent(std::string_view dir, std::string_view component) {
    std::string out(dir);
    while (!component.empty() && component.front() == '/') component.remove_prefix(1);
    if (out.empty()) return std::string(component);
    if (component.empty()) return out;
    if (out.back() != '/') out += '/';
    out += component;
    return out;
}

std::string lastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    if (path == "/") return "/";
    auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string deletingLastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return "";
    if (slash == 0) return path.size() > 1 ? "/" : "";
    return std::string(path.substr(0, slash));
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool createDirectories(const std::string& path, mode_t mode) {
    if (path.empty()) return false;
    if (isDirectory(path)) return true;
    size_t pos = 0;
    while (true) {
        pos = path.find('/', pos + 1);
        std::string prefix = path.substr(0, pos);
        if (!prefix.empty() && prefix != "/") {
            if (::mkdir(prefix.c_str(), mode) == 0) {
                ::chmod(prefix.c_str(), mode);  // exactly the mode, whatever the umask
            } else if (errno != EEXIST || !isDirectory(prefix)) {
                return false;
            }
        }
        if (pos == std::string::npos) break;
    }
    return isDirectory(path);
}

std::optional<std::string> readFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string out;
    char buf[65536];
    while (true) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return out;
}

bool writeAtomically(const std::string& path, std::string_view data, mode_t mode, bool sync, struct stat* written) {
    if (path.empty() || path.back() == '/') return false;
    const std::string dir = deletingLastPathComponent(path);
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        tmp = path + ".tmp-" + randomSuffix();
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, data) && (!sync || ::fsync(fd) == 0);
    if (ok && written) ok = ::fstat(fd, written) == 0;  // the rename keeps identity and times
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    if (sync) fsyncDirectory(dir);  // the rename has happened; a failed directory sync is not undone
    return true;
}

bool removeFile(const std::string& path) {
    std::error_code ec;
    auto n = std::filesystem::remove_all(path, ec);
    return !ec && n > 0;
}

bool renameFile(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

bool writeAll(int fd, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace platform::fs
