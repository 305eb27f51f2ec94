#include "platform/foundation/Logger.h"

#include "platform/foundation/LogFile.h"

#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <vector>

namespace platform {

namespace {

std::string vformat(const char* fmt, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return {};
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::vector<char> big(static_cast<size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), fmt, ap);
    return std::string(big.data(), static_cast<size_t>(n));
}

}  // namespace

void log(std::string_view message) {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tmv;
    localtime_r(&tv.tv_sec, &tmv);
    char stamp[64];
    size_t len = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tmv);
    char prefix[192];
    std::snprintf(prefix, sizeof prefix, "%.*s.%03d %s[%d:%ld] ", static_cast<int>(len), stamp,
                  static_cast<int>(tv.tv_usec / 1000), program_invocation_short_name, static_cast<int>(getpid()),
                  static_cast<long>(syscall(SYS_gettid)));
    std::string line(prefix);
    line.append(message);
    if (line.back() != '\n') line += '\n';
    // One write for the whole line, so that lines of different threads do not interleave.
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        done += static_cast<size_t>(n);
    }
    appendToApplicationLog(message);
}

void logf(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string s = vformat(fmt, ap);
    va_end(ap);
    log(s);
}

std::string format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string s = vformat(fmt, ap);
    va_end(ap);
    return s;
}

}  // namespace platform
