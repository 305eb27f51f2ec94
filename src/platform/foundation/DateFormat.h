#pragma once
#include <string>

// Reachable from the UI library, which uses this process's one copy of the platform layer.
#pragma GCC visibility push(default)

namespace platform {
// Seconds since 1970 in UTC, as a double (the platform's timeIntervalSince1970).
double now();
// "%.f" of the value: rounded to a whole number, no decimal point.
std::string formatWholeSeconds(double seconds);
// "yyyy-MM-dd HH:mm:ss" in local time, for logs and user-visible texts.
std::string formatLocalDateTime(double seconds);
}  // namespace platform

#pragma GCC visibility pop
