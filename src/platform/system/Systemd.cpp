#include "platform/system/Systemd.h"

#include <dlfcn.h>

namespace platform::systemd {

namespace {

template <class F>
bool resolve(void* lib, const char* name, F& slot) {
    slot = reinterpret_cast<F>(::dlsym(lib, name));
    return slot != nullptr;
}

const Api* open() {
    // Never closed: bus and journal objects keep pointers into it.
    void* lib = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!lib) return nullptr;
    static Api api;
    bool ok = true;
#define QUILLON_SYSTEMD_RESOLVE(name) ok = ok && resolve(lib, #name, api.name);
    QUILLON_SYSTEMD_FUNCTIONS(QUILLON_SYSTEMD_RESOLVE)
#undef QUILLON_SYSTEMD_RESOLVE
    return ok ? &api : nullptr;
}

}  // namespace

const Api* load() {
    static const Api* api = open();  // thread-safe, once
    return api;
}

}  // namespace platform::systemd
