/* A host as small as a host can be, for the start-up and memory figures of startup_bench.
 * Built twice from this file: linked with libquillon (calling quillonInit) and without it.
 *
 *   startup_probe            exits at once (with the library: right after quillonInit)
 *   startup_probe memory     prints "<rss before init> <rss after init> <rss after 1 s>
 *                            <threads after 1 s> <threads at start>" in KiB and counts */
#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#ifdef PROBE_WITH_QUILLON
#include "quillon/quillon.h"
#endif

static long residentKiB(void) {
    long pages = 0, resident = 0;
    FILE* f = fopen("/proc/self/statm", "r");
    if (!f) return -1;
    if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = -1;
    fclose(f);
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
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
#ifdef PROBE_WITH_QUILLON
    quillonInit("bench-key", "bench");
#endif
    if (!memory) return 0;
    const long afterInit = residentKiB();
    struct timespec second = {1, 0};
    while (nanosleep(&second, &second) != 0) {
    }
    printf("%ld %ld %ld %d %d\n", before, afterInit, residentKiB(), threadCount(), startThreads);
    return 0;
}
