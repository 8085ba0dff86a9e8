// thread_use.h - what a thread uses: the processors the program may run on,
// how long the calling thread has run on one, and how much it has read from
// storage. The job queue asks them to tell a job that keeps a processor busy
// from one that waits on its disk.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace vantrel::platform {

// The processors the program may run on (its affinity, which a container or
// taskset may narrow); at least 1.
unsigned ProcessorCount();

// The time the calling thread has spent on a processor (user and system)
// since it began: a thread blocked on a disk or a lock adds nothing.
std::chrono::nanoseconds ThreadProcessorTime();

// The bytes the calling thread has had read from storage since it began
// (what the page cache missed and the thread's reading fetched, read-ahead
// included); empty where the kernel keeps no such count.
std::optional<uint64_t> ThreadStorageReads();

}  // namespace vantrel::platform
