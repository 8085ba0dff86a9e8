// livelisting.cpp - the directory watch, the coalescing timer and the
// reading that lists a changed directory again.
#include "panels/qt/livelisting.h"

#include <QPointer>
#include <QSocketNotifier>

#include <thread>

namespace vantrel::panels {

TLiveListing::TLiveListing(TPanelModel& model, QObject* parent) : QObject(parent), model_(model) {
  timer_.setSingleShot(true);
  timer_.setInterval(kIntervalMs);
  connect(&timer_, &QTimer::timeout, this, &TLiveListing::StartListing);
  if (watch_.Descriptor() >= 0) {
    notifier_ = new QSocketNotifier(watch_.Descriptor(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TLiveListing::Readable);
  }
}

TLiveListing::~TLiveListing() = default;  // the reading stops and tells nothing more

void TLiveListing::Follow(const std::string& directory) {
  ++generation_;  // a listing under way is of the old state
  timer_.stop();
  pending_ = false;
  // Dropped rather than awaited: it may be held up by a slow mount.
  reading_.reset();
  running_ = false;
  if (!enabled_) return;
  if (directory.empty()) {  // nothing of the file system shown
    watch_.Stop();
    watched_.clear();
    return;
  }
  if (directory != watched_) {
    watched_ = directory;
    watch_.Watch(directory);  // a directory that cannot be watched is shown as it is
  }
}

void TLiveListing::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (enabled) {
    Follow(model_.Directory());
  } else {
    watch_.Stop();
    watched_.clear();
    timer_.stop();
    ++generation_;
    reading_.reset();
    running_ = false;
  }
}

void TLiveListing::Readable() {
  const platform::TDirWatch::TChanges changes = watch_.Drain();
  if (!enabled_) return;
  if (changes.gone) {
    watched_.clear();
    emit directoryGone();
    return;
  }
  if (!changes.contents) return;
  if (running_)
    pending_ = true;
  else if (!timer_.isActive())
    timer_.start();
}

void TLiveListing::StartListing() {
  if (model_.Directory().empty()) return;
  running_ = true;
  const uint64_t generation = generation_;
  const std::string directory = model_.Directory();
  QPointer<TLiveListing> self(this);
  // One slice with every row; it comes to this thread, and not at all once
  // the listing object is gone (the reading is stopped with it).
  reading_ = std::make_unique<TDirectoryReading>(
      directory, model_.SortType(), model_.SortDescending(),
      [self, generation, directory](TListingSlice&& slice) {
        auto shared = std::make_shared<TListingSlice>(std::move(slice));
        QMetaObject::invokeMethod(
            self.data(),
            [self, generation, directory, shared] {
              if (self) self->ListingDone(generation, directory, *shared);
            },
            Qt::QueuedConnection);
      },
      opener_, TDirectoryReading::TPace::Whole);
}

void TLiveListing::ListingDone(uint64_t generation, const std::string& directory, TListingSlice& slice) {
  running_ = false;
  reading_.reset();
  const bool ok = slice.error.empty();
  const bool current = generation == generation_ && enabled_;
  TPanelModel::Entries previous;
  if (current && ok && model_.Refresh(directory, std::move(slice.added), slice.diskLine, &previous)) {
    // Read in an order changed since: put in the one shown.
    if (slice.sortType != model_.SortType() || slice.descending != model_.SortDescending())
      model_.SetSortOrder(model_.SortType(), model_.SortDescending());
    emit refreshed();
  }
  // A hundred thousand records take milliseconds to free: not on this thread.
  if (!previous.empty()) std::thread([old = std::move(previous)]() mutable { old.clear(); }).detach();
  if (current && !ok && !platform::IsDirectory(model_.Directory())) {
    emit directoryGone();
    return;
  }
  // Changes that came in while the listing ran.
  if (enabled_ && pending_ && !timer_.isActive()) {
    pending_ = false;
    timer_.start();
  }
}

}  // namespace vantrel::panels
