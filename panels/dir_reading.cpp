// dir_reading.cpp - the reading thread: entries in, sorted slices out.
#include "panels/dir_reading.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "panels/listing_order.h"

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
  bool NextBatch(std::vector<platform::FindData>& out, size_t most, std::string* error) override {
    // Examining the entries is most of the work: shared by a few threads.
    const int threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    return reader_.NextBatch(out, most, threads, error);
  }
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

bool TEntryStream::NextBatch(std::vector<platform::FindData>& out, size_t most, std::string* error) {
  out.clear();
  platform::FindData fd;
  while (out.size() < most && Next(fd, error)) out.push_back(std::move(fd));
  return !out.empty() && (error == nullptr || error->empty());
}

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


TDirectoryReading::TDirectoryReading(std::string path, uint8_t sortType, bool descending, TSink sink,
                                     TDirectoryOpener opener, TPace pace)
    : shared_(std::make_shared<TShared>()) {
  shared_->sink = std::move(sink);
  // Detached: a thread held up by a mount that does not answer must not
  // hold up the panel that gave up on it.
  std::thread([shared = shared_, path = std::move(path), sortType, descending, opener = std::move(opener), pace] {
    // Not lowered in priority: the panel waits for what it reads.
    Run(*shared, path, sortType, descending, opener, pace);
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
                            const TDirectoryOpener& opener, TPace pace) {
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
  if (pace == TPace::Slices && !shared.Send(std::move(opened))) return;

  TListingOrder order(sortType, descending);
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
  std::vector<uint32_t> batch;

  const auto sendPending = [&](bool done) {
    TListingSlice slice;
    for (const auto& e : pending) order.Add(*e);
    order.Merge(batch, slice.positions);
    slice.added.resize(pending.size());
    for (size_t k = 0; k < batch.size(); ++k) slice.added[k] = std::move(pending[batch[k]]);
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

  std::vector<platform::FindData> found;
  size_t most = 64;
  for (bool more = true; more && !shared.stopped;) {
    const Clock::time_point asked = Clock::now();
    more = stream->NextBatch(found, most, &error);
    // Larger batches while they come quickly; small ones from a slow disk,
    // so that its first rows are not held back.
    most = MillisecondsSince(asked) < 20 ? std::min(most * 2, TDirectoryReading::kMostPerBatch)
                                         : std::max<size_t>(most / 2, 16);
    for (platform::FindData& fd : found) {
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
    }
    if (pace == TPace::Whole || !more) continue;
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
