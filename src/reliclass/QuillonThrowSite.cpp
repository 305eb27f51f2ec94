#include "reliclass/QuillonThrowSite.h"

#include <dlfcn.h>
#include <execinfo.h>

#include <atomic>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define QUILLON_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLON_ASAN 1
#endif
#endif

#ifdef QUILLON_ASAN
extern "C" void __asan_handle_no_return(void);
#endif

namespace std {
class type_info;
}

namespace quillon::throwsite {
namespace {
std::atomic<bool> gEnabled{false};
thread_local Record tRecord;
}  // namespace

void setEnabled(bool enabled) { gEnabled.store(enabled, std::memory_order_relaxed); }
const Record& current() { return tRecord; }
}  // namespace quillon::throwsite

using CxaThrow = void (*)(void*, std::type_info*, void (*)(void*));

extern "C" __attribute__((visibility("default"), noreturn)) void __cxa_throw(void* object, std::type_info* type,
                                                                             void (*destructor)(void*));

namespace {
CxaThrow realCxaThrow() {
    static CxaThrow real = [] {
        auto self = reinterpret_cast<void*>(&__cxa_throw);
        auto fn = reinterpret_cast<CxaThrow>(dlsym(RTLD_NEXT, "__cxa_throw"));
        if (!fn || reinterpret_cast<void*>(fn) == self)
            fn = reinterpret_cast<CxaThrow>(dlvsym(RTLD_DEFAULT, "__cxa_throw", "CXXABI_1.3"));
        if (reinterpret_cast<void*>(fn) == self) fn = nullptr;
        return fn;
    }();
    return real;
}
}  // namespace

extern "C" void __cxa_throw(void* object, std::type_info* type, void (*destructor)(void*)) {
    using namespace quillon::throwsite;
    if (gEnabled.load(std::memory_order_relaxed)) {
        Record& r = tRecord;
        r.object = nullptr;
        int n = ::backtrace(r.frames, kMaxFrames);
        r.count = n > 0 ? n : 0;
        r.object = object;
    }
    CxaThrow real = realCxaThrow();
    if (!real) std::abort();
#ifdef QUILLON_ASAN
    __asan_handle_no_return();
#endif
    real(object, type, destructor);
    __builtin_unreachable();
}
