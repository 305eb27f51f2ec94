#include "platform/system/ProcessMetrics.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/statfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform::metrics {
namespace {

constexpr double kMinWindowSeconds = 0.2;

// Reads a small /proc file into buf (NUL-terminated); the length, or -1.
ssize_t readProc(int dirfd, const char* path, char* buf, size_t size) {
    int fd = ::openat(dirfd, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    ssize_t total = 0;
    while (static_cast<size_t>(total) < size - 1) {
        ssize_t n = ::read(fd, buf + total, size - 1 - static_cast<size_t>(total));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += n;
    }
    ::close(fd);
    buf[total] = '\0';
    return total;
}

struct Sample {
    pid_t tid = 0;
    unsigned long long startTicks = 0;  // thread start, in clock ticks since boot
    unsigned long long cpuTicks = 0;    // utime + stime
};

// Fields after the last ")" of the thread name: state is field 3; utime 14, stime 15,
// starttime 22.
bool parseStat(const char* text, Sample& s) {
    const char* p = std::strrchr(text, ')');
    if (!p) return false;
    ++p;
    int field = 2;
    unsigned long long utime = 0, stime = 0, start = 0;
    bool gotStart = false;
    while (*p && !gotStart) {
        while (*p == ' ') ++p;
        if (!*p) break;
        ++field;
        char* end = nullptr;
        if (field == 14) utime = std::strtoull(p, &end, 10);
        else if (field == 15) stime = std::strtoull(p, &end, 10);
        else if (field == 22) {
            start = std::strtoull(p, &end, 10);
            gotStart = true;
        }
        while (*p && *p != ' ') ++p;
    }
    if (!gotStart) return false;
    s.cpuTicks = utime + stime;
    s.startTicks = start;
    return true;
}

struct Baseline {
    pid_t tid;
    unsigned long long startTicks;
    unsigned long long cpuTicks;
    double time;  // seconds since boot
    double share;
};

std::mutex gBaselineMutex;
std::vector<Baseline>* gBaselines = new std::vector<Baseline>();  // under gBaselineMutex

double bootSeconds() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double lifetimeShare(const Sample& s, double now, double hz) {
    double age = now - static_cast<double>(s.startTicks) / hz;
    double used = static_cast<double>(s.cpuTicks) / hz;
    if (age <= 0) return used > 0 ? 1.0 : 0.0;
    return used / age;
}

}  // namespace

std::optional<FileSystemSize> fileSystemSize(const std::string& path) {
    struct statfs st {};
    if (::statfs(path.c_str(), &st) < 0) return std::nullopt;
    FileSystemSize out;
    out.blockSize = static_cast<std::uint64_t>(st.f_bsize);
    out.blocks = static_cast<std::uint64_t>(st.f_blocks);
    out.freeBlocks = static_cast<std::uint64_t>(st.f_bfree);
    return out;
}

std::optional<MemoryUsage> processMemory() {
    char buf[256];
    if (readProc(AT_FDCWD, "/proc/self/statm", buf, sizeof buf) <= 0) return std::nullopt;
    unsigned long long size = 0, resident = 0;
    if (std::sscanf(buf, "%llu %llu", &size, &resident) != 2) return std::nullopt;
    static const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    return MemoryUsage{size * page, resident * page};
}

std::optional<std::vector<ThreadCpu>> threadCpuShares() {
    static const double hz = static_cast<double>(::sysconf(_SC_CLK_TCK));
    int taskfd = ::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (taskfd < 0) return std::nullopt;
    DIR* dir = ::fdopendir(taskfd);
    if (!dir) {
        ::close(taskfd);
        return std::nullopt;
    }
    std::vector<Sample> samples;
    samples.reserve(32);
    char path[300];
    char buf[1024];
    while (dirent* e = ::readdir(dir)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        std::snprintf(path, sizeof path, "%s/stat", e->d_name);
        if (readProc(taskfd, path, buf, sizeof buf) <= 0) continue;  // the thread ended
        Sample s;
        s.tid = static_cast<pid_t>(std::atoi(e->d_name));
        if (parseStat(buf, s)) samples.push_back(s);
    }
    ::closedir(dir);  // closes taskfd
    if (samples.empty()) return std::nullopt;
    std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.tid < b.tid; });

    double now = bootSeconds();
    std::vector<ThreadCpu> out;
    out.reserve(samples.size());
    std::unique_lock<std::mutex> lock(gBaselineMutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        for (const Sample& s : samples) out.push_back({s.tid, std::clamp(lifetimeShare(s, now, hz), 0.0, 1.0)});
        return out;
    }
    std::vector<Baseline> next;
    next.reserve(samples.size());
    const std::vector<Baseline>& prev = *gBaselines;
    for (const Sample& s : samples) {
        auto it = std::lower_bound(prev.begin(), prev.end(), s.tid,
                                   [](const Baseline& b, pid_t tid) { return b.tid < tid; });
        Baseline b{s.tid, s.startTicks, s.cpuTicks, now, 0.0};
        if (it == prev.end() || it->tid != s.tid || it->startTicks != s.startTicks) {
            b.share = std::clamp(lifetimeShare(s, now, hz), 0.0, 1.0);
        } else if (now - it->time >= kMinWindowSeconds) {
            double used = static_cast<double>(s.cpuTicks - std::min(s.cpuTicks, it->cpuTicks)) / hz;
            b.share = std::clamp(used / (now - it->time), 0.0, 1.0);
        } else {
            b = *it;  // keep the older baseline and its share
        }
        out.push_back({s.tid, b.share});
        next.push_back(b);
    }
    gBaselines->swap(next);
    return out;
}

std::optional<double> processCpuUsage() {
    auto shares = threadCpuShares();
    if (!shares) return std::nullopt;
    double sum = 0.0;
    for (const ThreadCpu& t : *shares) sum += t.share;
    return sum;
}

}  // namespace platform::metrics
