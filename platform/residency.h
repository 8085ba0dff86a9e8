// residency.h - what reading some files would cost: how much of them the
// page cache already holds, and whether the device under a path pays for a
// seek. The job queue asks both before it lets a copy run beside another one
// on the same disk.
//
// Paths are byte strings. Nothing here reads a file's data or follows a
// link: the pages are looked at through a read-only mapping (mincore), which
// brings nothing in from the disk.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::platform {

// What a sample of files holds in memory.
struct Residency {
  uint64_t bytes = 0;     // bytes of the regular files looked at
  uint64_t resident = 0;  // of those, in the page cache
  uint64_t files = 0;     // regular files looked at
  // Every regular file under the paths was looked at; false when the budget
  // ran out first (the counts then cover only the files before that).
  bool complete = true;
};

// How far one sample may go: a tree larger than this is not worth walking
// just to decide whether to wait for a disk.
struct ResidencyBudget {
  size_t entries = 20000;  // entries examined (files, directories, links)
  std::chrono::milliseconds time{250};
};

// Walks `paths` (files, and directory trees without following links) and
// counts the bytes of their regular files and how many of them the page
// cache holds. A file that cannot be opened or mapped counts as not held
// (its bytes from its examination); a path that does not exist adds nothing.
Residency SampleResidency(const std::vector<std::string>& paths, const ResidencyBudget& budget = {});

// Whether a device's reading pays for moving a head.
enum class SeekCost {
  None,     // memory (tmpfs, ramfs) or a device that says it does not rotate
  Seeks,    // a device that says it rotates
  Unknown,  // a device without a block queue of its own (network, FUSE, a
            // file system spanning devices) or one that cannot be examined
};

// The seek cost of the device under `path`: the file system's type for
// memory, else the block device's /sys/dev/block/MAJOR:MINOR/queue/rotational
// flag (a partition's is its disk's). `root` is prefixed to /sys (tests lay
// out a sysfs of their own).
SeekCost SeekCostOf(const std::string& path, const std::string& root = {});

// The same for a device number (st_dev), from sysfs alone.
SeekCost SeekCostOfDevice(uint64_t device, const std::string& root = {});

}  // namespace vantrel::platform
