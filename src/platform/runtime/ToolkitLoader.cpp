#include "platform/runtime/ToolkitLoader.h"

#include "platform/foundation/Logger.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <mutex>
#include <string>

namespace platform::ui {
namespace {

std::string realPath(const char* path) {
    char buffer[PATH_MAX];
    if (!path || !realpath(path, buffer)) return path ? path : "";
    return buffer;
}

}  // namespace

void* loadToolkitSymbol(const char* name) {
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    if (!name || !*name) return nullptr;
    if (void* symbol = dlsym(RTLD_DEFAULT, name)) return symbol;

    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&loadToolkitSymbol), &info) || !info.dli_fname) {
        platform::logf("libquillon-ui: cannot find where libquillon is loaded from; the feedback screens are off");
        return nullptr;
    }
    const std::string self = realPath(info.dli_fname);
    if (self == realPath("/proc/self/exe")) {
        platform::logf("libquillon-ui: libquillon is linked statically, so the UI library must be too "
                       "(Quillon::ui_static or libquillon-ui.a); the feedback screens are off");
        return nullptr;
    }
    const std::string nextToUs = self.substr(0, self.rfind('/') + 1) + kToolkitLibraryName;
    void* handle = dlopen(nextToUs.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!handle) handle = dlopen(kToolkitLibraryName, RTLD_NOW | RTLD_GLOBAL);
    if (!handle) {
        const char* error = dlerror();
        platform::logf("libquillon-ui: cannot load %s (%s); the feedback screens are off", kToolkitLibraryName,
                       error ? error : "not found");
        return nullptr;
    }
    void* symbol = dlsym(handle, name);
    if (!symbol) platform::logf("libquillon-ui: %s has no symbol %s; the feedback screens are off", kToolkitLibraryName, name);
    return symbol;
}

}  // namespace platform::ui
