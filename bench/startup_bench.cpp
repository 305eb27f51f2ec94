// What linking the library costs a process, beside the same program without it:
//  - exec to exit of a C program that calls quillonInit and returns (goal: at most 2 ms
//    more than the program without the library), median of 60 interleaved runs each;
//  - resident memory added by initialisation, right after quillonInit (before the HTTP
//    library is loaded) and after the first second (a request has loaded it), goal <= 1 MB,
//    beside what loading libcurl costs a program that does nothing else, and the pages the
//    process wrote itself (private dirty), which are what it costs beyond the shared page cache;
//  - the library's threads after the first second, while idle (goal <= 2).
// The probes run from a bundle directory whose Info.plist points at a loopback collector, in
// a home whose configuration was fetched by an earlier launch.
#include "BenchProcess.h"
#include "BenchTiming.h"
#include "support/HostProcess.h"

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using benchtiming::nowNs;

using benchtiming::median;

// Runs the program to its end; the milliseconds from spawn to reaping (-1 when it failed),
// and its stdout and the processor time it used (user + system, all its threads), which a
// loaded machine disturbs less than the elapsed time.
double run(const std::vector<std::string>& argv, const std::string& outPath, std::string* out = nullptr,
           double* cpuMs = nullptr) {
    const benchtiming::Run r = benchtiming::spawnAndWait(argv, outPath);
    if (cpuMs) *cpuMs = r.cpuMs;
    if (out) *out = r.out;
    return (WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) ? (r.reaped - r.spawned) / 1e6 : -1;
}

struct Memory {
    double before = 0, afterInit = 0, afterSecond = 0, threads = 0, startThreads = 0, dirtyBefore = 0,
           dirtyAfterSecond = 0;
};

Memory memoryOf(const std::string& program, const std::string& outPath) {
    std::vector<double> before, init, second, threads, start, dirty0, dirty1;
    for (int i = 0; i < 5; ++i) {
        std::string out;
        if (run({program, "memory"}, outPath, &out) < 0) continue;
        std::istringstream in(out);
        double b, a, s, t, t0, d0, d1;
        if (!(in >> b >> a >> s >> t >> t0 >> d0 >> d1)) continue;
        before.push_back(b), init.push_back(a), second.push_back(s), threads.push_back(t), start.push_back(t0);
        dirty0.push_back(d0), dirty1.push_back(d1);
    }
    return {median(before), median(init),  median(second), median(threads),
            median(start),  median(dirty0), median(dirty1)};
}

}  // namespace

int main() {
    char tmpl[] = "/tmp/quillon-startup-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string work = tmpl;
    auto collector = std::make_unique<testenv::HostProcess>(
        std::vector<std::string>{QUILLON_COLLECTOR_PATH, "--port", "0", "--db", work + "/collector.db"}, work);
    if (!collector->waitForOutput("listening on ", 10)) {
        std::fprintf(stderr, "the collector did not start\n");
        return 1;
    }
    std::string said = collector->output();
    auto at = said.find("listening on ") + std::strlen("listening on ");
    const std::string host = said.substr(at, said.find('\n', at) - at);

    // Both probes in one bundle directory, so that they share the Info.plist.
    const std::string bundle = work + "/app";
    std::filesystem::create_directories(bundle);
    testenv::writeInfoPlist(bundle, "org.example.startup-bench", host);
    const std::string plain = bundle + "/startup_probe_plain", linked = bundle + "/startup_probe_linked",
                      curl = bundle + "/startup_probe_curl";
    const std::string here = testenv::executableDirectory();
    std::filesystem::copy_file(here + "/startup_probe_plain", plain);
    std::filesystem::copy_file(here + "/startup_probe_linked", linked);
    std::filesystem::copy_file(here + "/startup_probe_curl", curl);
    setenv("HOME", (work + "/home").c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    const std::string out = work + "/probe.out";
    run({linked}, out);  // the first launch requests the configuration; later ones do not

    std::vector<double> plainMs, linkedMs, plainCpu, linkedCpu;
    for (int i = 0; i < 60; ++i) {
        double cpu = 0;
        plainMs.push_back(run({plain}, out, nullptr, &cpu));
        plainCpu.push_back(cpu);
        linkedMs.push_back(run({linked}, out, nullptr, &cpu));
        linkedCpu.push_back(cpu);
    }
    std::erase_if(plainMs, [](double v) { return v < 0; });
    std::erase_if(linkedMs, [](double v) { return v < 0; });
    const double p = median(plainMs), l = median(linkedMs);
    std::printf("exec to exit, C program calling quillonInit (median of %zu): %.3f ms\n", linkedMs.size(), l);
    std::printf("  baseline: the same program without the library (median of %zu): %.3f ms\n", plainMs.size(), p);
    std::printf("  added by the library: %.3f ms (goal <= 2 ms); ratio %.2f\n", l - p, p > 0 ? l / p : 0);
    const double pc = median(plainCpu), lc = median(linkedCpu);
    std::printf("  processor time (user + system, median): %.3f ms with the library, %.3f ms without: +%.3f ms\n\n",
                lc, pc, lc - pc);

    const Memory m = memoryOf(linked, out), base = memoryOf(plain, out), alone = memoryOf(curl, out);
    std::printf("resident memory (median of 5 processes, KiB):\n");
    std::printf("  with the library: at main %.0f, after quillonInit %.0f, after 1 s %.0f\n", m.before, m.afterInit,
                m.afterSecond);
    std::printf("  baseline without the library: at main %.0f, after 1 s %.0f\n", base.before, base.afterSecond);
    std::printf("  added by initialisation: %.0f KiB right after it (HTTP library not yet loaded), %.0f KiB after "
                "1 s (loaded) (goal <= 1024 KiB)\n",
                m.afterInit - m.before, m.afterSecond - m.before);
    std::printf("  the whole process against the baseline after 1 s: +%.0f KiB\n", m.afterSecond - base.afterSecond);
    std::printf("  libcurl alone (opened and initialised by an otherwise empty program): +%.0f KiB after 1 s;\n"
                "    added by initialisation beyond it: %.0f KiB\n",
                alone.afterSecond - alone.before, (m.afterSecond - m.before) - (alone.afterSecond - alone.before));
    std::printf("  private dirty pages added after 1 s: %.0f KiB with the library, %.0f KiB by libcurl alone\n",
                m.dirtyAfterSecond - m.dirtyBefore, alone.dirtyAfterSecond - alone.dirtyBefore);
    std::printf("library threads while idle after 1 s: %.0f (goal <= 2)\n", m.threads - m.startThreads);

    collector.reset();
    std::filesystem::remove_all(work);
    return 0;
}
