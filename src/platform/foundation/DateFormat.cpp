#include "platform/foundation/DateFormat.h"

#include <cstdio>
#include <ctime>
#include <sys/time.h>

namespace platform {

double now() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string formatWholeSeconds(double seconds) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.f", seconds);
    return buf;
}

std::string formatLocalDateTime(double seconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm tmv;
    localtime_r(&t, &tmv);
    char buf[64];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tmv);
    return buf;
}

}  // namespace platform
