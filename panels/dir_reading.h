// dir_reading.h - reading a directory on a thread of its own, in slices.
//
// A directory of a million entries takes seconds to read, and one on a
// network mount that stopped answering may never finish. A TDirectoryReading
// reads on its own thread and hands the panel what it has found in slices:
// the first few hundred rows within milliseconds, then ever larger ones,
// sorted here and each row with its place among the rows handed over before. The panel shows the rows as they
// come (see TPanelModel::AddRows), so the cursor, the marks and quick search
// work at once, and nothing on the window's thread ever waits for the disk.
//
// The thread talks to its owner only through the sink it was given, under a
// lock; Stop() takes the sink away, after which nothing more is told. A
// thread held up by the file system is left to finish on its own: it owns
// everything it touches.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "panels/dirmodel.h"
#include "platform/fs.h"

namespace vantrel::panels {

// What one step of a reading brings.
struct TListingSlice {
  // The first slice: the directory was entered; `directory` is its path as
  // the panel shows it (links resolved).
  bool opened = false;
  std::string directory;
  // New records in their order among themselves...
  TPanelModel::Entries added;
  // ...and where each goes: positions[k] is the place of added[k] in the
  // list of the rows shown with these (ascending), so the panel puts them in
  // without comparing anything. Empty: they follow the rows shown.
  std::vector<uint32_t> positions;
  // The last slice. `error` is set when the directory could not be entered
  // (nothing was added), or an error ended the reading early.
  bool done = false;
  std::string error;
  std::string diskLine;  // with the last slice
  // The order the rows are in (the one asked for when the reading began).
  uint8_t sortType = kSortByName;
  bool descending = false;
};

// The entries of one directory, one at a time (the file system's, or a
// test's own).
class TEntryStream {
 public:
  virtual ~TEntryStream() = default;
  // The path as the panel shows it once entered.
  virtual std::string ResolvedPath() const = 0;
  // False at the end (with `error` set when the reading failed).
  virtual bool Next(platform::FindData& out, std::string* error) = 0;
  // Up to `most` entries into `out` (emptied first); false at the end with
  // `out` empty, or after an error (with `error` set). One Next at a time
  // unless the stream knows better.
  virtual bool NextBatch(std::vector<platform::FindData>& out, size_t most, std::string* error);
  // A stream may hand over entries by name only and leave examining them
  // to Examine, which the reading calls on several threads at once: it
  // fills `entry` in, or says false when the entry vanished meanwhile.
  // Entries that come whole need nothing more.
  virtual bool Examine(platform::FindData& entry) const;
  // The disk-space line of the directory's volume; empty when unknown.
  virtual std::string DiskLine() const = 0;
};

// Opens `path` for reading; null with `error` when it cannot be entered.
// It runs on the reading thread and may take as long as the file system does.
using TDirectoryOpener = std::function<std::unique_ptr<TEntryStream>(const std::string& path, std::string* error)>;
// The file system's.
std::unique_ptr<TEntryStream> OpenLocalDirectory(const std::string& path, std::string* error);

class TDirectoryReading {
 public:
  using TSink = std::function<void(TListingSlice&&)>;

  // The first slice goes out after this many entries or this long,
  // whichever comes first; later ones after at least kSliceMs and at least a
  // quarter of the time spent so far, so a long reading sorts in few merges.
  static constexpr size_t kFirstSliceEntries = 512;
  // Entries are asked for in batches that grow while they come quickly
  // and shrink when they do not, up to this many.
  static constexpr size_t kMostPerBatch = 4096;
  static constexpr int kFirstSliceMs = 15;
  static constexpr int kSliceMs = 100;

  // How the rows are handed over: in slices while they are read, or all
  // of them in the last slice alone (a directory read again while its
  // listing is shown; no slice says it was opened).
  enum class TPace : uint8_t { Slices, Whole };

  // Starts reading `path` (absolute) sorted by `sortType`; `sink` receives
  // every slice on the reading thread, the last one with done set.
  TDirectoryReading(std::string path, uint8_t sortType, bool descending, TSink sink,
                    TDirectoryOpener opener = OpenLocalDirectory, TPace pace = TPace::Slices);
  // Stops (see Stop).
  ~TDirectoryReading();
  TDirectoryReading(const TDirectoryReading&) = delete;
  TDirectoryReading& operator=(const TDirectoryReading&) = delete;

  // Nothing more reaches the sink after this returns; the thread ends at
  // its next entry, or whenever the file system lets it.
  void Stop();

 private:
  struct TShared;
  static void Run(TShared& shared, const std::string& path, uint8_t sortType, bool descending,
                  const TDirectoryOpener& opener, TPace pace);

  std::shared_ptr<TShared> shared_;
};

}  // namespace vantrel::panels
