#include "platform/runtime/DarwinNotifyCenter.h"

#include "platform/runtime/DispatchQueue.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

namespace {

bool isDir(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates `path` 0700 if missing; accepts it only as a real directory owned by us, and
// takes group and other access away if someone added it.
bool makePrivateDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
    if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) return false;
    return true;
}

std::uint64_t readCounter(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return 0;
    char buf[32] = {};
    ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) return 0;
    return std::strtoull(buf, nullptr, 10);
}

}  // namespace

struct DarwinNotifyCenter::Impl {
    struct Entry {
        const void* observer;
        Callback callback;
        std::string name;
    };

    mutable std::mutex m;
    std::vector<Entry> entries;
    int fd = -1;

    // Opens the inotify descriptor and starts the watcher thread once. Called with `m` held.
    bool startLocked(DarwinNotifyCenter* owner) {
        if (fd >= 0) return true;
        auto dir = DarwinNotifyCenter::directory();
        if (!dir) return false;
        int ifd = ::inotify_init1(IN_CLOEXEC);
        if (ifd < 0) return false;
        if (::inotify_add_watch(ifd, dir->c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
            ::close(ifd);
            return false;
        }
        fd = ifd;
        std::thread([this, owner, ifd] { run(owner, ifd); }).detach();
        return true;
    }

    void run(DarwinNotifyCenter* owner, int ifd) {
        ensureAlternateSignalStack();
        alignas(inotify_event) char buf[8192];
        for (;;) {
            ssize_t n = ::read(ifd, buf, sizeof buf);
            if (n < 0) {
                if (errno == EINTR) continue;
                return;
            }
            for (ssize_t off = 0; off < n;) {
                auto* ev = reinterpret_cast<inotify_event*>(buf + off);
                off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                if (ev->len == 0 || !(ev->mask & (IN_CLOSE_WRITE | IN_MOVED_TO))) continue;
                std::string name(ev->name);  // NUL-padded
                if (!isValidName(name)) continue;
                std::vector<Entry> targets;
                {
                    std::lock_guard lock(m);
                    for (const auto& e : entries)
                        if (e.name == name) targets.push_back(e);
                }
                for (const auto& e : targets) e.callback(owner, e.observer, name, nullptr, Value());
            }
        }
    }
};

DarwinNotifyCenter& DarwinNotifyCenter::center() {
    static DarwinNotifyCenter* c = new DarwinNotifyCenter;
    return *c;
}

DarwinNotifyCenter::Impl& DarwinNotifyCenter::impl() const {
    static Impl* i = new Impl;
    return *i;
}

bool DarwinNotifyCenter::isValidName(const std::string& name) {
    return !name.empty() && name.front() != '.' && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos && name.size() < 256;
}

std::optional<std::string> DarwinNotifyCenter::directory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir;
    if (runtime && *runtime == '/' && isDir(runtime)) {
        dir = std::string(runtime) + "/quillon-notify";
    } else {
        dir = "/tmp/quillon-notify-" + std::to_string(::geteuid());
    }
    if (!makePrivateDirectory(dir)) return std::nullopt;
    return dir;
}

bool DarwinNotifyCenter::post(const std::string& name) {
    if (!isValidName(name)) return false;
    auto dir = directory();
    if (!dir) return false;
    const std::string path = *dir + "/" + name;
    const std::string text = std::to_string(readCounter(path) + 1) + "\n";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    // Closing a file opened for writing is what observers are woken by.
    ok = (::close(fd) == 0) && ok;
    return ok;
}

bool DarwinNotifyCenter::addObserver(const void* observer, Callback callback, const std::string& name) {
    if (!callback || !isValidName(name)) return false;
    Impl& i = impl();
    std::lock_guard lock(i.m);
    if (!i.startLocked(this)) return false;
    for (auto& e : i.entries) {
        if (e.observer == observer && e.name == name) {
            e.callback = callback;
            return true;
        }
    }
    i.entries.push_back({observer, callback, name});
    return true;
}

void DarwinNotifyCenter::removeObserver(const void* observer, const std::string& name) {
    Impl& i = impl();
    std::lock_guard lock(i.m);
    std::erase_if(i.entries, [&](const Impl::Entry& e) { return e.observer == observer && e.name == name; });
}

std::size_t DarwinNotifyCenter::observerCount(const std::string& name) const {
    Impl& i = impl();
    std::lock_guard lock(i.m);
    std::size_t n = 0;
    for (const auto& e : i.entries)
        if (e.name == name) ++n;
    return n;
}

}  // namespace platform
