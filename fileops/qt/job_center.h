// job_center.h - the window's side of the job queue: owns the queue, brings
// its news to the window's thread as signals, and is the one bridge the
// engine's questions cross to reach the window's thread.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QObject>

#include "fileops/job.h"

namespace vantrel::fileops {

class TJobCenter : public QObject {
  Q_OBJECT

 public:
  // Runs on the window's thread once the job ended, before jobEnded.
  using TOnEnd = std::function<void(TJob& job)>;

  explicit TJobCenter(QObject* parent = nullptr);
  // Cancels the jobs and waits for them (their questions count as cancelled).
  ~TJobCenter() override;

  TJobQueue& Queue() { return *queue_; }

  std::shared_ptr<TJob> Add(const std::string& title, TJobPlaces places, TJob::TWork work, TJobStart start,
                            TOnEnd onEnd);

  // The bridge: hands a call to the window's thread, where it runs from the
  // event loop (a question's dialog, say) while the job waits for it.
  TJobPrompt::TPost Poster();

  // Running jobs (also paused ones) and the share of their bytes done, 0-100;
  // -1 when no job runs.
  int RunningCount() const;
  int TotalPercent() const;

 signals:
  // The list or a job's state changed (at most one pending at a time).
  void changed();
  void jobEnded(int id);

 private:
  std::map<int, TOnEnd> onEnd_;
  std::atomic<bool> changePending_{false};
  std::unique_ptr<TJobQueue> queue_;  // last: destroyed first, while the rest is whole
};

}  // namespace vantrel::fileops
