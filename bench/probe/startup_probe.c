/* A host as small as a host can be, for the start-up and memory figures of startup_bench.
 * Built three times from this file: linked with libquillon (calling quillonInit), without it,
 * and without it but opening libcurl as the library's HTTP transport does (what libcurl
 * costs on its own).
 *
 *   startup_probe            exits at once (with the library: right after quillonInit)
 *   startup_probe memory     prints "<rss before init> <rss after init> <rss after 1 s>
 *                            <threads after 1 s> <threads at start> <private dirty before init>
 *                            <private dirty after 1 s>" in KiB and counts */
#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#ifdef PROBE_WITH_QUILLON
#include "quillon/quillon.h"
#endif
#ifdef PROBE_LOADS_CURL
#include <dlfcn.h>
#endif

static long residentKiB(void) {
    long pages = 0, resident = 0;
    FILE* f = fopen("/proc/self/statm", "r");
    if (!f) return -1;
    if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = -1;
    fclose(f);
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

/* Pages written by this process alone (heap, stacks, relocated data): what it costs the
 * machine beyond the page cache it shares with others. */
static long privateDirtyKiB(void) {
    char line[256];
    long value = -1, v;
    FILE* f = fopen("/proc/self/smaps_rollup", "r");
    if (!f) return -1;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "Private_Dirty: %ld", &v) == 1) value = v;
    fclose(f);
    return value;
}

static int threadCount(void) {
    int n = 0;
    DIR* d = opendir("/proc/self/task");
    if (!d) return -1;
    struct dirent* e;
    while ((e = readdir(d)))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n;
}

int main(int argc, char** argv) {
    const int memory = argc > 1 && strcmp(argv[1], "memory") == 0;
    const long before = memory ? residentKiB() : 0;
    const int startThreads = memory ? threadCount() : 0;
    const long dirtyBefore = memory ? privateDirtyKiB() : 0;
#ifdef PROBE_WITH_QUILLON
    quillonInit("bench-key", "bench");
#endif
#ifdef PROBE_LOADS_CURL
    void* curl = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!curl) return 1;
    int (*globalInit)(long) = (int (*)(long))dlsym(curl, "curl_global_init");
    void* (*multiInit)(void) = (void* (*)(void))dlsym(curl, "curl_multi_init");
    if (!globalInit || !multiInit || globalInit(3) != 0 || !multiInit()) return 1;
#endif
    if (!memory) return 0;
    const long afterInit = residentKiB();
    struct timespec second = {1, 0};
    while (nanosleep(&second, &second) != 0) {
    }
    printf("%ld %ld %ld %d %d %ld %ld\n", before, afterInit, residentKiB(), threadCount(), startThreads, dirtyBefore,
           privateDirtyKiB());
    return 0;
}
