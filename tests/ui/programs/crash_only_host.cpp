// A host that uses only the crash reporter, linked against libquillon.so. It prints every
// mapping of the UI stack in its address space and exits 0 when there is none.
// With "load" it then asks for the UI library as the feedback side does and prints what
// got mapped, and whether the library answers.
#include "platform/runtime/ToolkitLoader.h"

#include <quillon/Quillon.h>
#include <quillon/quillon.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

namespace {
const char* const kUiLibraries[] = {"libcairo", "libpango", "libSDL2", "libgif", "libjpeg", "libquillon-ui"};

int printUiMappings() {
    std::ifstream maps("/proc/self/maps");
    std::set<std::string> found;
    std::string line;
    while (std::getline(maps, line)) {
        std::size_t slash = line.find('/');
        if (slash == std::string::npos) continue;
        std::string path = line.substr(slash);
        std::string file = path.substr(path.rfind('/') + 1);
        for (const char* lib : kUiLibraries) {
            if (file.rfind(lib, 0) == 0) found.insert(path);
        }
        if (file.rfind("libquillon.so", 0) == 0) found.insert("core " + path);
    }
    int ui = 0;
    for (const auto& f : found) {
        std::printf("mapped %s\n", f.c_str());
        if (f.rfind("core ", 0) != 0) ++ui;
    }
    return ui;
}
}  // namespace

int main(int argc, char** argv) {
    QuillonConfig config = QuillonConfig::defaultConfig();
    Quillon::init("crash-only-host", "test", config);
    QNRunMainLoopFor(0.3);  // the handlers are installed from the loop
    int ui = printUiMappings();
    if (argc > 1 && std::strcmp(argv[1], "load") == 0) {
        auto version = reinterpret_cast<const char* (*)()>(platform::ui::loadToolkitSymbol("quillon_ui_version"));
        std::printf("version %s\n", version ? version() : "(none)");
        printUiMappings();
        return version ? 0 : 1;
    }
    return ui == 0 ? 0 : 1;
}
