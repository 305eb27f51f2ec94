#include "platform/system/SystemRoot.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace platform::sys {
namespace {
// Replaced roots are kept alive for the life of the process: readers on other threads may
// still hold the previous one.
std::atomic<const std::string*> gRoot{nullptr};
}  // namespace

std::string systemPath(std::string_view absolutePath) {
    const std::string* root = gRoot.load(std::memory_order_acquire);
    if (!root || root->empty()) return std::string(absolutePath);
    std::string path = *root;
    if (!path.empty() && path.back() == '/') path.pop_back();
    path.append(absolutePath);
    return path;
}

void setSystemRootForTesting(const std::string& root) {
    static std::mutex mutex;
    static auto* roots = new std::vector<std::unique_ptr<std::string>>();
    std::lock_guard<std::mutex> lock(mutex);
    const std::string* next = nullptr;
    if (!root.empty()) {
        roots->push_back(std::make_unique<std::string>(root));
        next = roots->back().get();
    }
    gRoot.store(next, std::memory_order_release);
}

bool readSmallFile(const std::string& path, std::string& out, size_t limit) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out.clear();
    char buf[1024];
    bool ok = true;
    while (out.size() < limit) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    if (out.size() > limit) out.resize(limit);
    return ok;
}

}  // namespace platform::sys
