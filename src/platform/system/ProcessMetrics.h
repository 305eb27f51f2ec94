// Resource figures of the machine and of the running process: file-system sizes (statfs),
// memory (/proc/self/statm) and processor use (/proc/self/task/*/stat). Every call is cheap
// and bounded (a few small /proc reads, no waiting), so the crash path can use it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::metrics {

struct FileSystemSize {
    std::uint64_t blockSize = 0;   // f_bsize
    std::uint64_t blocks = 0;      // f_blocks
    std::uint64_t freeBlocks = 0;  // f_bfree (including the blocks reserved for root)
};
// statfs of the file system holding `path`; nullopt when the call fails.
std::optional<FileSystemSize> fileSystemSize(const std::string& path);

struct MemoryUsage {
    std::uint64_t virtualBytes = 0;
    std::uint64_t residentBytes = 0;
};
// The process's virtual and resident size; nullopt when /proc/self/statm cannot be read.
std::optional<MemoryUsage> processMemory();

struct ThreadCpu {
    pid_t tid = 0;
    double share = 0.0;  // of one processor, 0.0 .. 1.0
};

// The recent processor share of every thread of the process.
//
// "Recent" is the interval since the previous reading of the same thread by this function,
// when that reading is at least 200 ms old; the previous reading then becomes the new
// baseline. When the previous reading is younger than 200 ms the share computed at that
// reading is given again (so that rapid calls do not measure over a few clock ticks). A
// thread seen for the first time (in particular at the first call) gets its average over its
// whole life. Shares are clamped to one processor; thread CPU times come in clock ticks
// (usually 10 ms). Two threads spinning give about 2.0 in total, blocked threads 0.0.
//
// The baselines are kept behind a try-lock: a call that finds another call in progress does
// not wait but answers with lifetime averages. nullopt when /proc/self/task cannot be read.
std::optional<std::vector<ThreadCpu>> threadCpuShares();
// The sum of threadCpuShares().
std::optional<double> processCpuUsage();

}  // namespace platform::metrics
