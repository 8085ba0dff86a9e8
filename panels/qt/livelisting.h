// livelisting.h - keeps a panel's listing current while other programs change
// its directory.
//
// One directory watch per panel. A change starts a 200 ms timer; when it runs
// out, the directory is listed and sorted on the reading thread (see
// TDirectoryReading, one slice with every row), and the result
// replaces the panel's listing on the window's thread with the cursor and the
// marks kept by name. Changes during the timer or the listing are folded into
// the next round, so a directory written to a thousand times a second is
// re-read at most five times a second and the window never waits for a read.
#pragma once

#include <memory>
#include <string>

#include <QObject>
#include <QTimer>

#include "panels/dir_reading.h"
#include "panels/dirmodel.h"
#include "platform/dirwatch.h"

class QSocketNotifier;

namespace vantrel::panels {

class TLiveListing final : public QObject {
  Q_OBJECT

 public:
  // Coalescing interval: at most one re-read per this many milliseconds.
  static constexpr int kIntervalMs = 200;

  explicit TLiveListing(TPanelModel& model, QObject* parent = nullptr);
  ~TLiveListing() override;

  // Watches `directory` after a read of it; any listing still under way for
  // an earlier read is dropped when it arrives. An empty one stops watching.
  void Follow(const std::string& directory);
  void SetEnabled(bool enabled);
  bool Enabled() const { return enabled_; }
  // A re-read is due or running.
  bool Busy() const { return timer_.isActive() || running_; }
  // How the directory is opened (the panel's, see TFMPanel::SetDirectoryOpener).
  void SetDirectoryOpener(TDirectoryOpener opener) { opener_ = std::move(opener); }

 signals:
  // A live re-read replaced the listing.
  void refreshed();
  // The watched directory was deleted or moved away.
  void directoryGone();

 private:
  void Readable();
  void StartListing();
  void ListingDone(uint64_t generation, const std::string& directory, TListingSlice& slice);

  TPanelModel& model_;
  platform::TDirWatch watch_;
  QSocketNotifier* notifier_ = nullptr;
  QTimer timer_;
  std::string watched_;
  bool enabled_ = true;
  bool running_ = false;
  bool pending_ = false;
  uint64_t generation_ = 0;
  TDirectoryOpener opener_ = OpenLocalDirectory;
  std::unique_ptr<TDirectoryReading> reading_;
};

}  // namespace vantrel::panels
