// A C++ consumer of an installed libquillon: "crash" ends in an uncaught exception.
#include <quillon/Quillon.h>
#include <quillon/quillon.h>

#include <cstring>
#include <stdexcept>

__attribute__((noinline)) void consumer_load_settings() { throw std::runtime_error("settings file is missing"); }

int main(int argc, char** argv) {
    QuillonConfig config = QuillonConfig::defaultConfig();
    config.reportOnlyWIFI = false;
    Quillon::init("consumer-app-key", "ci", config);
    Quillon::leaveBreadcrumbWithString("consumer started");
    QNRunMainLoopFor(1.0);
    if (argc > 1 && std::strcmp(argv[1], "crash") == 0) consumer_load_settings();
    return 0;
}
