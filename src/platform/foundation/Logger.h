// The console logger, in the style of the mobile platform's logger: one line on standard
// error, "YYYY-MM-DD HH:MM:SS.mmm process[pid:tid] message". A trailing newline of the
// message is not doubled.
#pragma once

#include <string>
#include <string_view>

// Reachable from the UI library, which uses this process's one copy of the platform layer.
#pragma GCC visibility push(default)

namespace platform {

void log(std::string_view message);

// printf-style convenience.
void logf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// printf into a std::string.
std::string format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace platform

#pragma GCC visibility pop
