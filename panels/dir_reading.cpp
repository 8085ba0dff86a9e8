// dir_reading.cpp - the reading thread: entries in, sorted slices out.
#include "panels/dir_reading.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>


namespace vantrel::panels {

namespace {

class TLocalStream final : public TEntryStream {
 public:
  bool Open(const std::string& path, std::string* error) {
    path_ = path;
    return reader_.Open(path, error);
  }
  std::string ResolvedPath() const override {
    std::string resolved = reader_.ResolvedPath();
    return resolved.empty() ? path_ : resolved;
  }
  bool Next(platform::FindData& out, std::string* error) override { return reader_.Next(out, error); }
  std::string DiskLine() const override {
    platform::VolumeSpace space;
    return platform::GetVolumeSpace(path_, space) ? DiskSpaceLine(space.free, space.total) : std::string();
  }

 private:
  platform::TDirReader reader_;
  std::string path_;
};

using Clock = std::chrono::steady_clock;

int MillisecondsSince(Clock::time_point from) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - from).count());
}

std::unique_ptr<TFileEntry> EntryOf(platform::FindData&& fd) {
  auto e = std::make_unique<TFileEntry>();
  e->FileAttributes = fd.attributes;
  e->CreationTime = fd.creationTime;
  e->LastAccessTime = fd.lastAccessTime;
  e->LastWriteTime = fd.lastWriteTime;
  e->FileSize = fd.size;
  e->FileName = std::move(fd.name);
  return e;
}

}  // namespace

std::unique_ptr<TEntryStream> OpenLocalDirectory(const std::string& path, std::string* error) {
  auto stream = std::make_unique<TLocalStream>();
  if (!stream->Open(path, error)) return nullptr;
  return stream;
}

struct TDirectoryReading::TShared {
  std::mutex mutex;
  TSink sink;  // empty once stopped
  std::atomic<bool> stopped{false};

  // Hands `slice` to the owner; false once it stopped listening.
  bool Send(TListingSlice&& slice) {
    std::lock_guard lock(mutex);
    if (!sink) return false;
    sink(std::move(slice));
    return true;
  }
};

namespace {

// The reading thread's own bookkeeping: every record's sort key by the
// order it was read in, the order of the rows already handed over, and
// where each of them stands in the owner's list.
class TSorter {
 public:
  TSorter(uint8_t sortType, bool descending) : sortType_(sortType), descending_(descending) {}

  void Add(const TFileEntry& e) { keys_.push_back(SortKeyOf(e, sortType_)); }
  size_t Count() const { return keys_.size(); }

  // The rows read since the last call join the sorted ones; returns the new
  // order as positions in the owner's list (the rows handed over before,
  // then the new ones in the order they were read), empty when unchanged.
  std::vector<uint32_t> Merge() {
    const size_t before = sorted_.size();
    const size_t total = keys_.size();
    for (size_t r = before; r < total; ++r) sorted_.push_back(static_cast<uint32_t>(r));
    const auto less = [this](uint32_t a, uint32_t b) {
      return SortsBefore(keys_[a], keys_[b], sortType_, descending_);
    };
    std::sort(sorted_.begin() + static_cast<ptrdiff_t>(before), sorted_.end(), less);
    std::inplace_merge(sorted_.begin(), sorted_.begin() + static_cast<ptrdiff_t>(before), sorted_.end(), less);
    // A read index below `before` stands where the last order put it; the
    // new ones follow in reading order.
    position_.resize(total);
    for (size_t r = before; r < total; ++r) position_[r] = static_cast<uint32_t>(r);
    std::vector<uint32_t> order(total);
    bool same = true;
    for (size_t i = 0; i < total; ++i) {
      order[i] = position_[sorted_[i]];
      same = same && order[i] == i;
    }
    for (size_t i = 0; i < total; ++i) position_[sorted_[i]] = static_cast<uint32_t>(i);
    if (same) order.clear();
    return order;
  }

 private:
  uint8_t sortType_;
  bool descending_;
  std::vector<TSortKey> keys_;    // by reading order
  std::vector<uint32_t> sorted_;  // reading indexes in the panel's order
  std::vector<uint32_t> position_;  // reading index -> place in the owner's list
};

}  // namespace

TDirectoryReading::TDirectoryReading(std::string path, uint8_t sortType, bool descending, TSink sink,
                                     TDirectoryOpener opener)
    : shared_(std::make_shared<TShared>()) {
  shared_->sink = std::move(sink);
  // Detached: a thread held up by a mount that does not answer must not
  // hold up the panel that gave up on it.
  std::thread([shared = shared_, path = std::move(path), sortType, descending, opener = std::move(opener)] {
    // Not lowered in priority: the panel waits for what it reads.
    Run(*shared, path, sortType, descending, opener);
  }).detach();
}

TDirectoryReading::~TDirectoryReading() { Stop(); }

void TDirectoryReading::Stop() {
  shared_->stopped = true;
  TSink old;
  {
    std::lock_guard lock(shared_->mutex);
    old = std::move(shared_->sink);
    shared_->sink = nullptr;
  }
  // `old` goes out of scope here, outside the lock.
}

void TDirectoryReading::Run(TShared& shared, const std::string& path, uint8_t sortType, bool descending,
                            const TDirectoryOpener& opener) {
  const Clock::time_point start = Clock::now();
  std::string error;
  std::unique_ptr<TEntryStream> stream = opener(path, &error);
  if (stream == nullptr) {
    TListingSlice failed;
    failed.done = true;
    failed.error = error.empty() ? platform::ErrorText(ENOENT) : error;
    shared.Send(std::move(failed));
    return;
  }
  TListingSlice opened;
  opened.opened = true;
  opened.directory = stream->ResolvedPath();
  const bool atRoot = opened.directory == "/";
  if (!shared.Send(std::move(opened))) return;

  TSorter sorter(sortType, descending);
  TPanelModel::Entries pending;
  // Every directory but the root has "..", first of all, even on a file
  // system that does not report it; when it does before the first slice,
  // its own times are shown.
  TFileEntry* dotDot = nullptr;
  if (!atRoot) {
    pending.push_back(std::make_unique<TFileEntry>());
    dotDot = pending.back().get();
    dotDot->FileName = "..";
    dotDot->FileAttributes = platform::kAttrDirectory;
  }
  bool sawDotDot = false;
  bool firstSent = false;
  Clock::time_point lastSent = start;

  const auto sendPending = [&](bool done) {
    TListingSlice slice;
    for (auto& e : pending) sorter.Add(*e);
    slice.order = sorter.Merge();
    slice.added = std::move(pending);
    pending.clear();
    slice.done = done;
    if (done) {
      slice.error = error;
      slice.diskLine = stream->DiskLine();
    }
    firstSent = true;
    dotDot = nullptr;  // handed over: no longer ours to change
    lastSent = Clock::now();
    return shared.Send(std::move(slice));
  };

  platform::FindData fd;
  while (!shared.stopped && stream->Next(fd, &error)) {
    if (fd.name == ".") continue;
    if (fd.name == "..") {
      if (atRoot || sawDotDot) continue;
      sawDotDot = true;
      if (dotDot != nullptr) {
        std::string name = std::move(fd.name);
        *dotDot = *EntryOf(std::move(fd));
        dotDot->FileName = std::move(name);
      }
      continue;
    }
    pending.push_back(EntryOf(std::move(fd)));
    const int elapsed = MillisecondsSince(start);
    const bool due = !firstSent ? pending.size() >= TDirectoryReading::kFirstSliceEntries ||
                                      elapsed >= TDirectoryReading::kFirstSliceMs
                                : MillisecondsSince(lastSent) >= std::max(TDirectoryReading::kSliceMs, elapsed / 4);
    if (due && !sendPending(false)) return;
  }
  if (shared.stopped) return;
  sendPending(true);
}

}  // namespace vantrel::panels
