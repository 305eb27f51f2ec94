// Backtraces in the report's line layout: the calling thread's frames, or given return
// addresses, symbolised with dladdr(). Used by the crash handlers, so it may be called from a
// signal handler; like the rest of the crash path it allocates and is not async-signal-safe.
#include "reliclass/QuillonReportDataUnit.h"
#include "reliclass/QuillonUncaughtExceptionHandler.h"

#include <dlfcn.h>
#include <execinfo.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

// May be called from a signal handler.
std::vector<std::string> QuillonUncaughtExceptionHandler::exceptionBacktrace() {
    try {
        void* frames[kMaxFrames];
        int n = ::backtrace(frames, kMaxFrames);
        return symbolicate(std::vector<void*>(frames, frames + (n > 0 ? n : 0)));
    } catch (const std::exception& e) {
        QuillonReportDataUnit::shareStance().reportSDKException(e, "SDK crash report");
    }
    return {};
}

// May be called from a signal handler.
std::vector<std::string> QuillonUncaughtExceptionHandler::symbolicate(const std::vector<void*>& addresses) {
    std::vector<std::string> lines;
    lines.reserve(addresses.size());
    int index = 0;
    for (void* address : addresses) {
        Dl_info info{};
        if (::dladdr(address, &info) <= 0) continue;
        const char* path = info.dli_fname;
        const char* image = path;
        if (path) {
            const char* slash = std::strrchr(path, '/');
            if (slash) image = slash + 1;
        }
        lines.push_back(formatBacktraceLine(index, image, reinterpret_cast<std::uintptr_t>(address),
                                            reinterpret_cast<std::uintptr_t>(info.dli_fbase), info.dli_sname,
                                            reinterpret_cast<std::uintptr_t>(info.dli_saddr)));
        ++index;
    }
    return lines;
}

// May be called from a signal handler.
std::string QuillonUncaughtExceptionHandler::formatBacktraceLine(int index, const char* imageName,
                                                                 std::uintptr_t address, std::uintptr_t imageBase,
                                                                 const char* symbolName,
                                                                 std::uintptr_t symbolAddress) {
    char buf[1024];
    const int offset = static_cast<int>(static_cast<std::int64_t>(address - symbolAddress));
#if UINTPTR_MAX > 0xffffffffu
    std::snprintf(buf, sizeof buf, "%-3d %-35s 0x%016lx 0x%016lx %s + %d", index, imageName ? imageName : "(null)",
                  static_cast<unsigned long>(address), static_cast<unsigned long>(address - imageBase),
                  symbolName ? symbolName : "(null)", offset);
#else
    std::snprintf(buf, sizeof buf, "%-3d %-35s 0x%08x 0x%08x %s + %d", index, imageName ? imageName : "(null)",
                  static_cast<unsigned>(address), static_cast<unsigned>(address - imageBase),
                  symbolName ? symbolName : "(null)", offset);
#endif
    std::size_t len = std::strlen(buf);
    // A line cut at the buffer's end may end inside a UTF-8 sequence: drop the partial one.
    if (len == sizeof buf - 1) {
        std::size_t i = len;
        while (i > 0 && (static_cast<unsigned char>(buf[i - 1]) & 0xC0) == 0x80) --i;
        if (i > 0 && (static_cast<unsigned char>(buf[i - 1]) & 0x80)) {
            unsigned char lead = static_cast<unsigned char>(buf[i - 1]);
            std::size_t need = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 1;
            if (len - (i - 1) < need) len = i - 1;
        }
    }
    return std::string(buf, len);
}
