// Child processes of the whole-process benchmarks: spawned with stdout to a file and stderr
// to /dev/null, waited for, and timed on the benchmarks' clock.
#pragma once

#include "BenchTiming.h"
#include "support/HostProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace benchtiming {

struct Run {
    int status = -1;  // as waitpid gives it; -1 when the program could not be started
    std::int64_t spawned = 0, reaped = 0;
    double cpuMs = 0;  // user + system time of the child, all its threads
    std::string out;   // what it wrote to stdout
};

inline Run spawnAndWait(const std::vector<std::string>& argv, const std::string& outPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    Run r;
    pid_t pid = -1;
    r.spawned = nowNs();
    const bool started = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!started) return r;
    rusage usage{};
    wait4(pid, &r.status, 0, &usage);
    r.reaped = nowNs();
    r.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
              (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    r.out = testenv::HostProcess::readAll(outPath);
    return r;
}

}  // namespace benchtiming
