// quillon-notify post NAME   posts the system-wide notification NAME
// quillon-notify dir         prints the notification directory
#include "platform/runtime/DarwinNotifyCenter.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {
const char* kUsage =
    "usage: quillon-notify post NAME   posts the system-wide notice NAME\n"
    "       quillon-notify dir         prints the directory the notices live in\n";
}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "post") == 0) {
        const std::string name = argv[2];
        if (!platform::DarwinNotifyCenter::isValidName(name)) {
            std::fprintf(stderr, "quillon-notify: not a usable notification name: %s\n", name.c_str());
            return 2;
        }
        if (!platform::DarwinNotifyCenter::post(name)) {
            std::fprintf(stderr, "quillon-notify: could not post %s\n", name.c_str());
            return 1;
        }
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "dir") == 0) {
        auto dir = platform::DarwinNotifyCenter::directory();
        if (!dir) {
            std::fprintf(stderr, "quillon-notify: no usable notification directory\n");
            return 1;
        }
        std::printf("%s\n", dir->c_str());
        return 0;
    }
    std::fputs(kUsage, stderr);
    return 2;
}
