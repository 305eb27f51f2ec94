// Runs a host program (tests/programs, the demo) as a child process and collects its exit
// status and output. Header-only, so that the benchmarks can use it too.
#pragma once

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testenv {

// The directory of the running executable (test programs are built beside the tests).
inline std::string executableDirectory() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/'));
}

struct HostResult {
    int status = -1;          // raw wait status
    std::string out;          // standard output
    std::string err;          // standard error
    bool timedOut = false;

    bool exited() const { return WIFEXITED(status); }
    int exitCode() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
    int termSignal() const { return WIFSIGNALED(status) ? WTERMSIG(status) : 0; }
};

// A started child whose standard output and error go to files.
class HostProcess {
public:
    HostProcess(const std::vector<std::string>& argv, const std::string& outputDir) {
        static int serial = 0;
        const std::string base = outputDir + "/child-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
        outPath_ = base + ".out";
        errPath_ = base + ".err";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~HostProcess() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool started() const { return pid_ > 0; }

    // Waits for the child to end; kills it after `timeoutSeconds`.
    HostResult wait(double timeoutSeconds = 60.0) {
        HostResult r;
        if (pid_ <= 0) return r;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
        for (;;) {
            pid_t done = waitpid(pid_, &r.status, WNOHANG);
            if (done == pid_) break;
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &r.status, 0);
                r.timedOut = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        reaped_ = true;
        r.out = readAll(outPath_);
        r.err = readAll(errPath_);
        return r;
    }

    // Waits until the child's standard output holds `text` (or the child ended).
    bool waitForOutput(const std::string& text, double timeoutSeconds = 30.0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (readAll(outPath_).find(text) != std::string::npos) return true;
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                reaped_ = true;
                return readAll(outPath_).find(text) != std::string::npos;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    std::string output() const { return readAll(outPath_); }
    std::string errors() const { return readAll(errPath_); }

    static std::string readAll(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    std::string outPath_, errPath_;
};

inline HostResult runHost(const std::vector<std::string>& argv, const std::string& outputDir,
                          double timeoutSeconds = 60.0) {
    HostProcess p(argv, outputDir);
    return p.wait(timeoutSeconds);
}

// Writes an Info.plist into `dir` whose server hosts all point at `host` ("addr:port").
inline void writeInfoPlist(const std::string& dir, const std::string& bundleId, const std::string& host,
                           const std::string& version = "3.2.1", const std::string& build = "321") {
    std::ofstream out(dir + "/Info.plist", std::ios::trunc);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n"
        << "\t<key>CFBundleIdentifier</key>\n\t<string>" << bundleId << "</string>\n"
        << "\t<key>CFBundleShortVersionString</key>\n\t<string>" << version << "</string>\n"
        << "\t<key>CFBundleVersion</key>\n\t<string>" << build << "</string>\n";
    for (const char* key : {"QuillonCrashHost", "QuillonConfigHost", "WrenFeedbackHost", "WrenFileStoreHost"})
        out << "\t<key>" << key << "</key>\n\t<string>" << host << "</string>\n";
    out << "</dict>\n</plist>\n";
}

}  // namespace testenv
