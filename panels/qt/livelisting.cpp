// livelisting.cpp - the directory watch, the coalescing timer and the worker
// that lists a changed directory.
#include "panels/qt/livelisting.h"

#include <QSocketNotifier>

#include "platform/process.h"

namespace vantrel::panels {

TLiveListing::TLiveListing(TPanelModel& model, QObject* parent)
    : QObject(parent), model_(model), shared_(std::make_shared<TShared>()) {
  shared_->receiver = this;
  timer_.setSingleShot(true);
  timer_.setInterval(kIntervalMs);
  connect(&timer_, &QTimer::timeout, this, &TLiveListing::StartListing);
  if (watch_.Descriptor() >= 0) {
    notifier_ = new QSocketNotifier(watch_.Descriptor(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TLiveListing::Readable);
  }
}

TLiveListing::~TLiveListing() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->receiver = nullptr;
  }
  if (worker_.joinable()) worker_.join();
}

void TLiveListing::Follow(const std::string& directory) {
  ++generation_;  // a listing under way is of the old state
  timer_.stop();
  pending_ = false;
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
  if (worker_.joinable()) worker_.join();  // the previous one has finished
  const uint64_t generation = generation_;
  const std::string directory = model_.Directory();
  const uint8_t sortType = model_.SortType();
  const bool descending = model_.SortDescending();
  worker_ = std::thread([shared = shared_, generation, directory, sortType, descending] {
    platform::RunThreadInBackground();  // the window's thread goes first
    auto entries = std::make_shared<TPanelModel::Entries>();
    std::string diskLine;
    const bool ok = TPanelModel::ListDirectory(directory, sortType, descending, *entries, diskLine);
    std::lock_guard<std::mutex> lock(shared->mutex);
    if (shared->receiver == nullptr) return;
    TLiveListing* receiver = shared->receiver;
    QMetaObject::invokeMethod(
        receiver,
        [receiver, generation, directory, entries, diskLine, ok] {
          receiver->ListingDone(generation, directory, entries, diskLine, ok);
        },
        Qt::QueuedConnection);
  });
}

void TLiveListing::ListingDone(uint64_t generation, const std::string& directory,
                               const std::shared_ptr<TPanelModel::Entries>& entries,
                               const std::string& diskLine, bool ok) {
  running_ = false;
  const bool current = generation == generation_ && enabled_;
  TPanelModel::Entries previous;
  if (current && ok && model_.Refresh(directory, std::move(*entries), diskLine, &previous)) emit refreshed();
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
