#include "support/TestEnv.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace testenv {
namespace {
std::mutex gMutex;
std::vector<std::string>& dirs() {
    static auto* d = new std::vector<std::string>;
    return *d;
}
std::string gHome;
void cleanup() {
    if (std::getenv("QUILLON_KEEP_TEST_DIRS")) return;
    std::lock_guard<std::mutex> lock(gMutex);
    for (const auto& d : dirs()) {
        std::error_code ec;
        std::filesystem::remove_all(d, ec);
    }
}
}  // namespace

std::string makeTempDir(const std::string& prefix) {
    std::string tmpl = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    std::lock_guard<std::mutex> lock(gMutex);
    static bool registered = (std::atexit(cleanup), true);
    (void)registered;
    dirs().emplace_back(buf.data());
    return dirs().back();
}

std::string useFreshHome() {
    gHome = makeTempDir("quillon-home");
    setenv("HOME", gHome.c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_RUNTIME_DIR");
    return gHome;
}

std::string home() { return gHome; }
}  // namespace testenv
