// archive_listing.h - an archive listed on a worker thread while the panels
// show what is found.
//
// A compressed tar has no directory: listing it means decompressing all of
// it, which for a large one takes seconds. The listing runs on a worker
// thread; the window waits a moment for it (a small archive is simply
// shown), then shows the rows found so far and keeps the window answering.
// Escape stops it: what was found stays shown, marked partial on the
// information line, and Ctrl+R reads the archive again to its end. One
// listing per archive, shared by every panel that shows it; it stops when no
// panel shows the archive any more.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <QObject>

namespace vantrel::vfs {
class TArchiveSource;
}

namespace vantrel::panels {
class TFMPanel;
}

namespace vantrel::app {

class TArchiveListing final : public QObject {
  Q_OBJECT

 public:
  // How long the window waits for a listing before it shows what was found.
  static constexpr int kWaitMs = 200;

  // The listing of `source`, shared by every panel that shows it.
  static std::shared_ptr<TArchiveListing> Of(const std::shared_ptr<vfs::TArchiveSource>& source);
  ~TArchiveListing() override;

  // Reads the archive from its start unless a reading runs; returns when it
  // finished or after kWaitMs, whichever comes first.
  void Start();
  // Stops the reading and waits for the worker: what was found is kept.
  void Stop();
  bool Running() const { return running_; }
  // The last reading was stopped before the end.
  bool StoppedEarly() const { return stoppedEarly_; }
  // Compressed bytes read, per mille of the file.
  int PerMille() const;
  const std::shared_ptr<vfs::TArchiveSource>& Source() const { return source_; }

 signals:
  // The reading ended (or was stopped); the source is whole again.
  void finished();

 private:
  explicit TArchiveListing(std::shared_ptr<vfs::TArchiveSource> source);
  void Finished();

  // What the worker shares with the window's thread.
  struct TShared {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool stop = false;
    TArchiveListing* receiver = nullptr;
  };

  std::shared_ptr<vfs::TArchiveSource> source_;
  std::shared_ptr<TShared> shared_;
  std::thread worker_;
  bool running_ = false;
  bool stoppedEarly_ = false;
};

// Shows `panel`'s listing growing while it shows an archive being read: the
// rows found, a bar of the bytes read, Escape to stop. Made once per panel.
void FollowArchiveListing(panels::TFMPanel& panel);

}  // namespace vantrel::app
