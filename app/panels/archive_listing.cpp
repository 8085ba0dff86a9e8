// archive_listing.cpp - the listing worker and the panel's view of it.
#include "app/panels/archive_listing.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <unordered_map>

#include "app/panels/archive_places.h"
#include "panels/qt/fmpanel.h"
#include "platform/process.h"
#include "vfs/archive_source.h"
#include "platform/qt/wording.h"

namespace vantrel::app {

namespace {

// The listings under way or kept, by source (the window's thread only).
std::unordered_map<const vfs::TArchiveSource*, std::weak_ptr<TArchiveListing>>& Listings() {
  static std::unordered_map<const vfs::TArchiveSource*, std::weak_ptr<TArchiveListing>> listings;
  return listings;
}

}  // namespace

TArchiveListing::TArchiveListing(std::shared_ptr<vfs::TArchiveSource> source)
    : source_(std::move(source)), shared_(std::make_shared<TShared>()) {
  shared_->receiver = this;
}

std::shared_ptr<TArchiveListing> TArchiveListing::Of(const std::shared_ptr<vfs::TArchiveSource>& source) {
  auto& listings = Listings();
  for (auto it = listings.begin(); it != listings.end();) {
    if (it->second.expired())
      it = listings.erase(it);
    else
      ++it;
  }
  if (auto found = listings.find(source.get()); found != listings.end()) return found->second.lock();
  std::shared_ptr<TArchiveListing> listing(new TArchiveListing(source));
  listings[source.get()] = listing;
  return listing;
}

TArchiveListing::~TArchiveListing() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->receiver = nullptr;
    shared_->stop = true;
  }
  if (worker_.joinable()) worker_.join();
}

void TArchiveListing::Start() {
  if (running_ || source_->Listing()) return;
  if (worker_.joinable()) worker_.join();
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->done = false;
    shared_->stop = false;
  }
  running_ = true;
  stoppedEarly_ = false;
  worker_ = std::thread([shared = shared_, source = source_] {
    platform::RunThreadInBackground();  // the window's thread goes first
    vfs::TError err;
    source->ReadListing(
        [shared](uint64_t, uint64_t) {
          std::lock_guard<std::mutex> lock(shared->mutex);
          return !shared->stop;
        },
        {}, &err);
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->done = true;
    shared->cv.notify_all();
    if (TArchiveListing* receiver = shared->receiver)
      QMetaObject::invokeMethod(receiver, [receiver] { receiver->Finished(); }, Qt::QueuedConnection);
  });
  std::unique_lock<std::mutex> lock(shared_->mutex);
  if (shared_->cv.wait_for(lock, std::chrono::milliseconds(kWaitMs), [this] { return shared_->done; })) {
    lock.unlock();
    Finished();
  }
}

void TArchiveListing::Stop() {
  if (!running_) return;
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->stop = true;
  // The worker hears it at its next block of the file.
  shared_->cv.wait(lock, [this] { return shared_->done; });
  lock.unlock();
  Finished();
}

void TArchiveListing::Finished() {
  if (!running_) return;  // told twice: by the wait and by the queue
  if (worker_.joinable()) worker_.join();
  running_ = false;
  stoppedEarly_ = source_->Archive().State() == formats::TListState::Stopped;
  // A listing that is itself encrypted asks for the password here.
  if (source_->ListingAsksPassword()) {
    vfs::TError err;
    source_->ReadListing({}, {}, &err);
  }
  emit finished();
}

int TArchiveListing::PerMille() const {
  const uint64_t total = source_->FileBytes();
  if (total == 0) return 0;
  return static_cast<int>(std::min<uint64_t>(1000, source_->ReadBytes() * 1000 / total));
}

// ---------------------------------------------------------------------------
// The panel's view

namespace {

class TListingView final : public QObject {
 public:
  // Rows found are shown at least this often; a long listing to sort makes
  // the interval grow, so that the window keeps answering.
  static constexpr int kMinIntervalMs = 100;
  static constexpr int kMaxIntervalMs = 1000;

  explicit TListingView(panels::TFMPanel& panel) : QObject(&panel), panel_(panel) {
    bar_ = new QProgressBar(&panel);
    bar_->setObjectName(QStringLiteral("ListingProgress"));
    bar_->setRange(0, 1000);
    bar_->setTextVisible(true);
    bar_->setFocusPolicy(Qt::NoFocus);
    bar_->hide();
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &TListingView::Tick);
    connect(&panel, &panels::TFMPanel::directoryRead, this, &TListingView::Attach);
    connect(&panel, &panels::TFMPanel::listingRefreshed, this, &TListingView::Attach);
    panel.installEventFilter(this);
  }

 private:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == &panel_) {
      if (event->type() == QEvent::KeyPress && listing_ != nullptr && listing_->Running()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
          listing_->Stop();
          return true;
        }
      }
      if (event->type() == QEvent::Resize && bar_->isVisible()) Place();
    }
    return QObject::eventFilter(watched, event);
  }

  void Place() {
    const QRect list = panel_.viewport()->geometry();
    const int h = bar_->sizeHint().height();
    bar_->setGeometry(list.left(), list.bottom() + 1 - h, list.width(), h);
  }

  void Attach() {
    std::shared_ptr<TArchiveListing> listing = ArchiveListingOf(panel_);
    if (listing != nullptr && !listing->Running()) listing = nullptr;
    if (listing == listing_) return;
    QObject::disconnect(finished_);
    listing_ = std::move(listing);
    if (listing_ == nullptr) {
      bar_->hide();
      timer_.stop();
      return;
    }
    found_ = listing_->Source()->Found();
    finished_ = connect(listing_.get(), &TArchiveListing::finished, this, &TListingView::Ended);
    bar_->setValue(listing_->PerMille());
    Place();
    bar_->setFormat(platform::Worded("Reading the archive: %p% (Esc stops)"));
    bar_->show();
    bar_->raise();
    interval_ = kMinIntervalMs;
    timer_.start(interval_);
  }

  // Shows the rows found since the last look and the bytes read.
  void Tick() {
    if (listing_ == nullptr || !listing_->Running()) return;
    bar_->setValue(listing_->PerMille());
    const size_t found = listing_->Source()->Found();
    if (found != found_) {
      found_ = found;
      QElapsedTimer took;
      took.start();
      panel_.Reread();  // the cursor and the marks stay on their names
      interval_ = std::clamp(static_cast<int>(took.elapsed()) * 4, kMinIntervalMs, kMaxIntervalMs);
    } else {
      panel_.Model().RewordDiskLine();
    }
    if (listing_ != nullptr && listing_->Running()) timer_.start(interval_);
  }

  void Ended() {
    QObject::disconnect(finished_);
    listing_ = nullptr;
    timer_.stop();
    bar_->hide();
    panel_.Reread();
  }

  panels::TFMPanel& panel_;
  QProgressBar* bar_ = nullptr;
  QTimer timer_;
  int interval_ = kMinIntervalMs;
  size_t found_ = 0;
  std::shared_ptr<TArchiveListing> listing_;
  QMetaObject::Connection finished_;
};

}  // namespace

void FollowArchiveListing(panels::TFMPanel& panel) { new TListingView(panel); }

}  // namespace vantrel::app
