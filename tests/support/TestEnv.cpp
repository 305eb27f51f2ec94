#include "support/TestEnv.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

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
// Removes the directories twice: now, and once this process is gone. The library's background
// threads may still be writing into them while the process exits (a store's temporary file
// recreates its folders), so a detached child waits for the end of this process (the close of a
// pipe) and then runs rm on them.
void cleanup() {
    if (std::getenv("QUILLON_KEEP_TEST_DIRS")) return;
    std::lock_guard<std::mutex> lock(gMutex);
    std::vector<char*> argv{const_cast<char*>("rm"), const_cast<char*>("-rf"), const_cast<char*>("--")};
    for (auto& d : dirs()) {
        std::error_code ec;
        std::filesystem::remove_all(d, ec);
        argv.push_back(d.data());
    }
    argv.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[1]);
        const int null = open("/dev/null", O_RDWR);
        for (int fd : {0, 1, 2}) dup2(null, fd);
        setsid();
        char c;
        while (read(fds[0], &c, 1) != 0 && errno == EINTR) {
        }
        execv("/bin/rm", argv.data());
        _exit(127);
    }
    close(fds[0]);  // the write end stays open until this process ends
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
    // A runtime directory of its own too: notices posted by one test never reach another, and
    // nothing is left in the user's /tmp fallback.
    setenv("XDG_RUNTIME_DIR", makeTempDir("quillon-runtime").c_str(), 1);
    return gHome;
}

std::string home() { return gHome; }
}  // namespace testenv
