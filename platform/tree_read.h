// tree_read.h - reading whole trees for the tools that search and compare:
// a directory held open while its entries are examined through it, and
// files read from their start without changing their access time.
//
// Nothing here follows a link it was not asked to follow: a directory is
// opened for a walk only when it is no link, and the walker tells a link
// to a directory from the directory itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/copyfile.h"
#include "platform/file_io.h"  // ReadLinkTarget

namespace vantrel::platform {

class TreeDir;

// A file read once from its start. Opened without changing the file's
// access time where the system lets us (our own files), else plainly.
class SequentialFile {
 public:
  SequentialFile() = default;
  ~SequentialFile();
  SequentialFile(const SequentialFile&) = delete;
  SequentialFile& operator=(const SequentialFile&) = delete;

  // Opens `path`; a final link is refused (ELOOP), never followed. 0 or an
  // errno value.
  int Open(const std::string& path);
  // Opens the entry `name` of `dir`, following a link (what a name shows is
  // what is read); never waits on a FIFO. 0 or an errno value.
  int OpenAt(const TreeDir& dir, const char* name);
  void Close();

  // What it is now: a regular file (with its size) or something else.
  bool IsRegular() const;
  uint64_t SizeNow() const;

  // The file is about to be read from start to end (the system reads ahead).
  void ReadingThrough() const;
  // One read of up to `n` bytes: 0 at the end, -1 with errno on failure.
  int64_t ReadSome(void* buffer, size_t n);
  // Up to `n` bytes, short only at the end: -1 with errno on failure.
  int64_t ReadFull(void* buffer, size_t n);

 private:
  int Opened(int fd);
  int fd_ = -1;
};

// A directory held open while it is listed and its entries examined.
class TreeDir {
 public:
  TreeDir() = default;
  ~TreeDir();
  TreeDir(const TreeDir&) = delete;
  TreeDir& operator=(const TreeDir&) = delete;

  // Opens the directory `path`; with `noLink` a final link is refused. 0 or
  // an errno value.
  int Open(const std::string& path, bool noLink = false);
  void Close();
  // The directory's device and inode (a walk enters each once).
  EntryId Identity() const;

  // Calls `onEntry` for every entry but "." and "..", in the system's order,
  // with the kind the listing records (an unknown one is examined; an entry
  // gone meanwhile is left out); false from it ends the listing. Returns 0,
  // or the errno value with which the listing broke off.
  int ForEach(const std::function<bool(const char* name, EntryKind kind)>& onEntry);
  // Whether the entry `name` is a directory when its link is followed.
  bool LeadsToDirectory(const char* name) const;
  // The descriptor for the calls that take one (StatEntry).
  int Descriptor() const { return fd_; }

 private:
  friend class SequentialFile;
  int fd_ = -1;
  void* dir_ = nullptr;  // DIR*, made on the first listing
};

// `path` with every link, "." and ".." resolved; empty when it cannot be.
std::string ResolvedPathOf(const std::string& path);

// The device `path` is on (following links); false when it cannot be examined.
bool DeviceOf(const std::string& path, uint64_t& device);

}  // namespace vantrel::platform
