// dir_reading.cpp - the reading thread: entries in, sorted slices out.
#include "panels/dir_reading.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
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
  // Names only: examining them is most of the work, shared by a few threads.
  bool NextBatch(std::vector<platform::FindData>& out, size_t most, std::string* error) override {
    return reader_.NextNames(out, most, error);
  }
  bool Examine(platform::FindData& entry) const override { return reader_.Examine(entry); }
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

// The entries read but not yet handed over, made ready on a few threads:
// whichever thread takes a batch of names examines them, makes their
// records and sorts them; runs of about one size are combined as soon as
// both are done, so that a slice finds few of them to merge. The reading
// thread lends a hand whenever it would otherwise wait.
class TPreparers {
 public:
  using TRun = TListingOrder::TSortedRows;

  TPreparers(const TEntryStream& stream, const TListingOrder& order) : stream_(stream), order_(order) {}
  // Waits for the helpers' batches in hand (nothing waits for the rest).
  ~TPreparers() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  TPreparers(const TPreparers&) = delete;
  TPreparers& operator=(const TPreparers&) = delete;

  void Add(std::vector<platform::FindData> batch) {
    if (batch.empty()) return;
    names_ += batch.size();
    size_t queued;
    {
      std::lock_guard lock(mutex_);
      batches_.push_back(std::move(batch));
      queued = batches_.size();
      ++added_;
    }
    // A directory of one batch is made ready by the reading thread alone.
    if (added_ == 2) Start();
    wake_.notify_one();
    // Names come faster than they are examined: beyond a few batches in
    // waiting the reading thread examines too, which keeps them few.
    if (queued > 2 * threads_.size() + 2) {
      std::unique_lock lock(mutex_);
      WorkOnce(lock);
    }
  }

  // Names added so far.
  size_t Count() const { return names_; }

  // The runs done so far combined into one; with `all`, every batch added
  // is in it.
  TRun Take(bool all) {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (WorkOnce(lock)) continue;
      if (!all || busy_ == 0) break;
      idle_.wait(lock);
    }
    std::vector<TRun> runs = std::move(runs_);
    runs_.clear();
    lock.unlock();
    // Smallest first: each row moves as few times as it can.
    std::sort(runs.begin(), runs.end(), [](const TRun& a, const TRun& b) { return a.Size() < b.Size(); });
    TRun whole;
    for (TRun& r : runs) whole = order_.Combine(std::move(whole), std::move(r));
    return whole;
  }

 private:
  void Start() {
    const int helpers = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    for (int i = 0; i < helpers; ++i) threads_.emplace_back([this] { Serve(); });
  }

  void Serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return quit_ || !batches_.empty(); });
      if (quit_) return;
      WorkOnce(lock);
    }
  }

  // Makes one batch ready, with `lock` held on entry and on return; false
  // when none is waiting.
  bool WorkOnce(std::unique_lock<std::mutex>& lock) {
    if (batches_.empty()) return false;
    std::vector<platform::FindData> batch = std::move(batches_.front());
    batches_.pop_front();
    ++busy_;
    lock.unlock();
    TRun run = Prepare(std::move(batch));
    lock.lock();
    for (;;) {
      // A done run of about this size: the two become one.
      const auto like = std::find_if(runs_.begin(), runs_.end(), [&](const TRun& r) {
        return r.Size() <= 2 * run.Size() && run.Size() <= 2 * r.Size();
      });
      if (like == runs_.end() || quit_) break;
      TRun other = std::move(*like);
      runs_.erase(like);
      lock.unlock();
      run = order_.Combine(std::move(run), std::move(other));
      lock.lock();
    }
    runs_.push_back(std::move(run));
    --busy_;
    idle_.notify_all();
    return true;
  }

  TRun Prepare(std::vector<platform::FindData> batch) const {
    TPanelModel::Entries rows;
    rows.reserve(batch.size());
    for (platform::FindData& fd : batch)
      if (stream_.Examine(fd)) rows.push_back(EntryOf(std::move(fd)));
    return order_.Sort(std::move(rows));
  }

  const TEntryStream& stream_;
  const TListingOrder& order_;
  std::mutex mutex_;
  std::condition_variable wake_;  // a batch is waiting, or quit
  std::condition_variable idle_;  // a batch was made ready
  std::deque<std::vector<platform::FindData>> batches_;
  std::vector<TRun> runs_;
  size_t added_ = 0;  // batches and names: the reading thread's own
  size_t names_ = 0;
  int busy_ = 0;
  bool quit_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace

bool TEntryStream::Examine(platform::FindData&) const { return true; }

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
  // Every directory but the root has "..", first of all, even on a file
  // system that does not report it; when it does before the first slice,
  // its own times are shown.
  std::unique_ptr<TFileEntry> dotDot;
  if (!atRoot) {
    dotDot = std::make_unique<TFileEntry>();
    dotDot->FileName = "..";
    dotDot->FileAttributes = platform::kAttrDirectory;
  }
  bool sawDotDot = false;
  bool firstSent = false;
  Clock::time_point lastSent = start;
  TPreparers preparers(*stream, order);

  // Hands over what is ready (everything read, with `all`); nothing when
  // no row is ready and this is not the last slice.
  const auto send = [&](bool all, bool done) {
    TListingOrder::TSortedRows ready = preparers.Take(all);
    if (dotDot != nullptr) {
      TPanelModel::Entries up;
      up.push_back(std::move(dotDot));
      ready = order.Combine(order.Sort(std::move(up)), std::move(ready));
    }
    if (ready.Empty() && !done) return true;
    TListingSlice slice;
    order.Merge(std::move(ready), slice.added, slice.positions);
    slice.done = done;
    slice.sortType = sortType;
    slice.descending = descending;
    if (done) {
      slice.error = error;
      slice.diskLine = stream->DiskLine();
    }
    firstSent = true;
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
    const auto dots = std::remove_if(found.begin(), found.end(), [&](platform::FindData& fd) {
      if (fd.name == ".") return true;
      if (fd.name != "..") return false;
      if (!atRoot && !sawDotDot && dotDot != nullptr && stream->Examine(fd)) {
        *dotDot = *EntryOf(std::move(fd));
        dotDot->FileName = "..";
      }
      sawDotDot = true;
      return true;
    });
    found.erase(dots, found.end());
    preparers.Add(std::move(found));
    found = {};
    if (pace == TPace::Whole || !more) continue;
    const int elapsed = MillisecondsSince(start);
    // The first slice waits for what it asked for; later ones take what is ready.
    const bool due = !firstSent ? preparers.Count() >= TDirectoryReading::kFirstSliceEntries ||
                                      elapsed >= TDirectoryReading::kFirstSliceMs
                                : MillisecondsSince(lastSent) >= std::max(TDirectoryReading::kSliceMs, elapsed / 4);
    if (due && !send(!firstSent, false)) return;
  }
  if (shared.stopped) return;
  send(true, true);
}

}  // namespace vantrel::panels
