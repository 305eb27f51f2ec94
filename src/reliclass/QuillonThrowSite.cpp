#include "reliclass/QuillonThrowSite.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <unwind.h>

#include <atomic>
#include <exception>

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

std::atomic<bool> gForgetRuntimeThrow{false};

CxaThrow runtimeCxaThrow() {
    static CxaThrow real = [] {
        auto self = reinterpret_cast<void*>(&__cxa_throw);
        auto fn = reinterpret_cast<CxaThrow>(dlsym(RTLD_NEXT, "__cxa_throw"));
        if (!fn || reinterpret_cast<void*>(fn) == self)
            fn = reinterpret_cast<CxaThrow>(dlvsym(RTLD_DEFAULT, "__cxa_throw", "CXXABI_1.3"));
        if (reinterpret_cast<void*>(fn) == self) fn = nullptr;
        return fn;
    }();
    return gForgetRuntimeThrow.load(std::memory_order_relaxed) ? nullptr : real;
}

// The per-thread exception globals of the C++ runtime (the Itanium ABI's layout).
struct EhGlobals {
    void* caughtExceptions;
    unsigned int uncaughtExceptions;
};

// What the runtime's __cxa_throw does, through the runtime's exported parts, for a host in
// which the runtime's own __cxa_throw cannot be found (a static runtime, a stripped table):
// the throw still works instead of ending the process.
[[noreturn]] void raiseWithoutRuntimeThrow(void* object, std::type_info* type, void (*destructor)(void*)) {
    reinterpret_cast<EhGlobals*>(abi::__cxa_get_globals())->uncaughtExceptions += 1;
    void* header = abi::__cxa_init_primary_exception(object, type, destructor);
    // The header's first member is its reference count; a fresh throw holds one reference.
    __atomic_store_n(static_cast<int*>(header), 1, __ATOMIC_RELAXED);
    // The unwinder's header sits immediately before the thrown object.
    auto* unwindHeader = static_cast<_Unwind_Exception*>(object) - 1;
    _Unwind_RaiseException(unwindHeader);
    // No handler, or an unwinding error: terminate is a handler.
    abi::__cxa_begin_catch(unwindHeader);
    std::terminate();
}

}  // namespace

void quillon::throwsite::forgetRuntimeThrowForTesting() { gForgetRuntimeThrow.store(true); }

extern "C" void __cxa_throw(void* object, std::type_info* type, void (*destructor)(void*)) {
    if (quillon::throwsite::gEnabled.load(std::memory_order_relaxed)) {
        quillon::throwsite::Record& r = quillon::throwsite::tRecord;
        r.frames[0] = reinterpret_cast<char*>(&__cxa_throw) + 1;
        r.frames[1] = __builtin_extract_return_addr(__builtin_return_address(0));
        r.count = 2;
        r.object = object;
    }
#ifdef QUILLON_ASAN
    __asan_handle_no_return();
#endif
    if (CxaThrow real = runtimeCxaThrow()) real(object, type, destructor);
    raiseWithoutRuntimeThrow(object, type, destructor);
}
