// job_center.cpp - the job queue seen from the window's thread.
#include "fileops/qt/job_center.h"

#include <algorithm>

#include <QMetaObject>

namespace vantrel::fileops {

TJobCenter::TJobCenter(QObject* parent) : QObject(parent), queue_(std::make_unique<TJobQueue>()) {
  setObjectName(QStringLiteral("JobCenter"));
  // Both run on a worker's thread (or the canceller's): they only post.
  queue_->OnChanged = [this] {
    if (changePending_.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
          changePending_ = false;
          emit changed();
        },
        Qt::QueuedConnection);
  };
  queue_->OnEnded = [this](TJob& job) {
    QMetaObject::invokeMethod(
        this,
        [this, self = job.shared_from_this()] {
          const auto it = onEnd_.find(self->Id());
          if (it != onEnd_.end()) {
            TOnEnd onEnd = std::move(it->second);
            onEnd_.erase(it);
            if (onEnd) onEnd(*self);
          }
          emit jobEnded(self->Id());
        },
        Qt::QueuedConnection);
  };
}

TJobCenter::~TJobCenter() {
  // The queue goes first and waits for its workers; what they post to this
  // object meanwhile is dropped with it.
  queue_.reset();
}

std::shared_ptr<TJob> TJobCenter::Add(const std::string& title, TJobPlaces places, TJob::TWork work,
                                      TJobStart start, TOnEnd onEnd) {
  // Held until its end handler is in place: a job can end before Add returns.
  auto job = queue_->Add(title, std::move(places), std::move(work), TJobStart::Paused);
  onEnd_[job->Id()] = std::move(onEnd);
  if (start == TJobStart::Queued) queue_->Resume(job->Id());
  return job;
}

TJobPrompt::TPost TJobCenter::Poster() {
  // The center outlives every job (its destructor waits for them).
  return [this](std::function<void()> call) {
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
  };
}

int TJobCenter::RunningCount() const {
  int count = 0;
  for (const auto& job : queue_->Jobs()) {
    const TJobState state = job->State();
    if (state == TJobState::Running || state == TJobState::Paused) ++count;
  }
  return count;
}

int TJobCenter::TotalPercent() const {
  double done = 0, total = 0;
  bool any = false;
  for (const auto& job : queue_->Jobs()) {
    const TJobState state = job->State();
    if (state != TJobState::Running && state != TJobState::Paused) continue;
    const TJobProgress p = job->Progress();
    done += p.bytesDone;
    total += p.bytesTotal;
    any = true;
  }
  if (!any) return -1;
  if (total <= 0) return 0;
  return static_cast<int>(std::min(100.0, done * 100.0 / total));
}

}  // namespace vantrel::fileops
