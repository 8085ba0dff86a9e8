// job.cpp - jobs on worker threads: the gate, progress and questions of one
// job, and the queue's device rule.
#include "fileops/job.h"

#include <algorithm>
#include <set>

#include "platform/copyfile.h"
#include "platform/fs.h"
#include "platform/thread_use.h"

namespace vantrel::fileops {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// How long one measure of a job's processor share runs, how long it holds,
// and the share from which the job keeps its processor busy. A cold copy on
// a virtual disk was measured at 93 %, a thread waiting on a seeking disk
// spends a few percent.
constexpr Clock::duration kShareWindow = 500ms;
constexpr Clock::duration kShareHolds = 1500ms;
constexpr double kBusyShare = 0.75;
// What a finished job must have done for its share to speak for its devices.
constexpr Clock::duration kTellingRun = 1s;
constexpr uint64_t kTellingReads = 32 << 20;

}  // namespace

// ---------------------------------------------------------------------------
// Speed and time left

void TSpeedMeter::Update(double bytesDone, Clock::time_point now) {
  if (!started_ || bytesDone < done_) {
    started_ = true;
    passStart_ = now;
    pausedFor_ = {};
    if (paused_) pausedAt_ = now;
  }
  done_ = bytesDone;
}

void TSpeedMeter::Pause(Clock::time_point now) {
  if (paused_) return;
  paused_ = true;
  pausedAt_ = now;
}

void TSpeedMeter::Resume(Clock::time_point now) {
  if (!paused_) return;
  paused_ = false;
  if (started_) pausedFor_ += now - pausedAt_;
}

double TSpeedMeter::Running(Clock::time_point now) const {
  if (!started_) return 0;
  const Clock::time_point end = paused_ ? pausedAt_ : now;
  return std::chrono::duration<double>(end - passStart_ - pausedFor_).count();
}

double TSpeedMeter::Speed(Clock::time_point now) const {
  const double seconds = Running(now);
  if (seconds < 0.5 || done_ <= 0) return 0;
  return done_ / seconds;
}

double TSpeedMeter::SecondsLeft(double bytesTotal, Clock::time_point now) const {
  const double speed = Speed(now);
  if (speed <= 0) return -1;
  return std::max(0.0, bytesTotal - done_) / speed;
}

// ---------------------------------------------------------------------------
// One job

TJob::TJob(int id, std::string title, TJobPlaces places, TWork work)
    : id_(id),
      title_(std::move(title)),
      devices_(std::move(places.devices)),
      sources_(std::move(places.sources)),
      work_(std::move(work)) {}

TJobState TJob::State() const {
  std::lock_guard lock(mutex_);
  return state_;
}

bool TJob::StartedFromMemory() const {
  std::lock_guard lock(mutex_);
  return fromMemory_;
}

bool TJob::StartedBesideBusyJobs() const {
  std::lock_guard lock(mutex_);
  return besideBusy_;
}

std::optional<double> TJob::ProcessorShare() const {
  std::lock_guard lock(mutex_);
  return FreshShare(Clock::now());
}

bool TJob::CancelRequested() const {
  std::lock_guard lock(mutex_);
  return cancelRequested_;
}

TJobProgress TJob::Progress() const {
  std::lock_guard lock(mutex_);
  TJobProgress p = progress_;
  const auto now = Clock::now();
  p.speed = meter_.Speed(now);
  p.secondsLeft = meter_.SecondsLeft(p.bytesTotal, now);
  p.asking = asking_;
  return p;
}

Clock::duration TJob::RunTime() const {
  std::lock_guard lock(mutex_);
  return runTime_;
}

bool TJob::Pass() {
  std::unique_lock lock(mutex_);
  ++atGate_;
  changed_.wait(lock, [this] { return !pauseRequested_ || cancelRequested_; });
  --atGate_;
  return !cancelRequested_;
}

bool TJob::AtGate() const {
  std::lock_guard lock(mutex_);
  return atGate_ > 0 && pauseRequested_ && !cancelRequested_;
}

void TJob::SetProgress(double bytesDone, double bytesTotal, uint64_t itemsDone, uint64_t itemsTotal,
                       const std::string& item) {
  bool busy = false;
  {
    std::lock_guard lock(mutex_);
    // The engine's empty total is a hair above nothing, so that its share
    // never divides by zero; a job shows it as nothing.
    progress_.bytesDone = bytesDone;
    progress_.bytesTotal = bytesTotal < 1 ? 0 : bytesTotal;
    progress_.itemsDone = itemsDone;
    progress_.itemsTotal = itemsTotal;
    progress_.item = item;
    const auto now = Clock::now();
    meter_.Update(bytesDone, now);
    busy = MeasureShare(now);
  }
  // A job may wait for this one's processor being busy.
  if (busy && queue_ != nullptr) queue_->Reschedule();
}

bool TJob::MeasureShare(Clock::time_point now) {
  if (facts_ == nullptr) return false;
  // Progress reported from another thread of the work measures that one
  // from then on.
  const auto self = std::this_thread::get_id();
  if (!window_.open || window_.thread != self) {
    window_ = {true, self, now, facts_->ThreadProcessorTime()};
    return false;
  }
  if (now - window_.at < kShareWindow) return false;
  const auto used = facts_->ThreadProcessorTime();
  share_ = std::chrono::duration<double>(used - window_.used).count() /
           std::chrono::duration<double>(now - window_.at).count();
  shareAt_ = now;
  window_.at = now;
  window_.used = used;
  return *share_ >= kBusyShare;
}

std::optional<double> TJob::FreshShare(Clock::time_point now) const {
  if (state_ != TJobState::Running || !share_ || now - shareAt_ > kShareHolds) return std::nullopt;
  return share_;
}

void TJob::ForgetShare() {
  window_.open = false;
  share_.reset();
}

void TJob::SetDeferred(size_t count) {
  std::lock_guard lock(mutex_);
  progress_.deferred = count;
}

void TJob::Attach(TFMOperation& engine) {
  engine.SetGate(this);
  engine.OnGlobalDone = [this](TFMOperation& e, int) {
    SetProgress(e.ShownDone(), e.Total(), e.ItemsDone(), e.ItemCount(), e.CurrentItem());
  };
}

void TJob::TQuestion::Answer(int value) {
  std::lock_guard lock(job_->mutex_);
  if (slot_->has_value()) return;
  *slot_ = value;
  job_->changed_.notify_all();
}

bool TJob::TQuestion::Open() const {
  std::lock_guard lock(job_->mutex_);
  return !slot_->has_value() && !job_->cancelRequested_;
}

std::optional<int> TJob::Ask(const std::function<void(TQuestion)>& post) {
  TQuestion question;
  question.job_ = shared_from_this();
  question.slot_ = std::make_shared<std::optional<int>>();
  {
    std::lock_guard lock(mutex_);
    if (cancelRequested_) return std::nullopt;
    asking_ = true;
  }
  post(question);
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return question.slot_->has_value() || cancelRequested_; });
  asking_ = false;
  // An answer that came before the cancel still counts.
  return *question.slot_;
}

// ---------------------------------------------------------------------------
// Sources in memory

namespace {

class TSystemJobFacts final : public TJobFacts {
 public:
  platform::Residency Sample(const std::vector<std::string>& sources) override {
    return platform::SampleResidency(sources);
  }
  platform::SeekCost SeekCostOf(const std::string& path) override { return platform::SeekCostOf(path); }
  unsigned Processors() override { return platform::ProcessorCount(); }
  std::chrono::nanoseconds ThreadProcessorTime() override { return platform::ThreadProcessorTime(); }
  std::optional<uint64_t> ThreadStorageReads() override { return platform::ThreadStorageReads(); }
};

}  // namespace

std::shared_ptr<TJobFacts> SystemJobFacts() {
  static const auto facts = std::make_shared<TSystemJobFacts>();
  return facts;
}

bool ReadsFromMemory(const platform::Residency& residency, bool sourcesSeek) {
  if (!residency.complete) return false;
  const uint64_t missing = residency.bytes - std::min(residency.resident, residency.bytes);
  // A seeking disk pays for every missing page with a seek against the job
  // beside; one that does not only shares its bandwidth for a while.
  const unsigned shift = sourcesSeek ? 8 : 4;
  return missing <= (residency.bytes >> shift);
}

// ---------------------------------------------------------------------------
// The queue

namespace {

// Whether a source lies on a device that seeks (or may): asked once for each
// directory the sources are in (a copy's names mostly share one), and taken
// as yes beyond a few directories.
bool SourcesSeek(TJobFacts& facts, const std::vector<std::string>& sources) {
  constexpr size_t kMostDirectories = 16;
  std::set<std::string> asked;
  for (const std::string& source : sources) {
    const size_t slash = source.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : source.substr(0, slash);
    if (!asked.insert(dir).second) continue;
    if (asked.size() > kMostDirectories || facts.SeekCostOf(dir) != platform::SeekCost::None) return true;
  }
  return false;
}

bool Shares(const std::vector<uint64_t>& a, const std::vector<uint64_t>& b) {
  return std::any_of(a.begin(), a.end(),
                     [&](uint64_t d) { return std::find(b.begin(), b.end(), d) != b.end(); });
}

void Append(std::vector<uint64_t>& to, const std::vector<uint64_t>& devices) {
  to.insert(to.end(), devices.begin(), devices.end());
}

}  // namespace

TJobQueue::~TJobQueue() {
  std::vector<std::thread> workers;
  {
    std::unique_lock lock(mutex_);
    closing_ = true;
    for (const auto& job : jobs_) {
      std::lock_guard jobLock(job->mutex_);
      job->cancelRequested_ = true;
      job->changed_.notify_all();
      if (!job->HoldsDevices()) job->state_ = TJobState::Cancelled;
    }
    // Jobs that never started end here; the running ones end at their gate.
    std::erase_if(jobs_, [](const auto& job) {
      std::lock_guard jobLock(job->mutex_);
      return !job->HoldsDevices();
    });
    // Samples under way end on their own (their budget is short).
    idle_.wait(lock, [this] { return jobs_.empty() && probes_.empty(); });
    workers.swap(ended_);
  }
  for (auto& worker : workers) worker.join();
}

void TJobQueue::SetSameDeviceWaits(bool wait) {
  {
    std::lock_guard lock(mutex_);
    sameDeviceWaits_ = wait;
    Schedule();
  }
  Notify(nullptr);
}

void TJobQueue::SetFacts(std::shared_ptr<TJobFacts> facts) {
  std::lock_guard lock(mutex_);
  facts_ = std::move(facts);
}

std::shared_ptr<TJob> TJobQueue::Add(std::string title, TJobPlaces places, TJob::TWork work, TJobStart start) {
  JoinEnded();
  std::shared_ptr<TJob> job;
  {
    std::lock_guard lock(mutex_);
    job = std::make_shared<TJob>(nextId_++, std::move(title), std::move(places), std::move(work));
    job->state_ = start == TJobStart::Paused ? TJobState::Held : TJobState::Waiting;
    job->queue_ = this;
    jobs_.push_back(job);
    Schedule();
  }
  Notify(nullptr);
  return job;
}

std::vector<std::shared_ptr<TJob>> TJobQueue::Jobs() const {
  std::lock_guard lock(mutex_);
  return jobs_;
}

std::shared_ptr<TJob> TJobQueue::Find(int id) const {
  std::lock_guard lock(mutex_);
  for (const auto& job : jobs_)
    if (job->id_ == id) return job;
  return nullptr;
}

// A waiting job starts when no running job holds one of its devices and no
// job before it in the queue waits for one: jobs on one device keep their
// order. One that only running jobs keep waiting starts beside them when its
// sources are in memory, or when those jobs keep their processors busy.
bool TJobQueue::Schedule() {
  if (closing_) return false;
  const auto now = Clock::now();
  std::vector<TRunning> running;
  std::vector<uint64_t> waiting;
  for (const auto& job : jobs_) {
    std::lock_guard jobLock(job->mutex_);
    if (!job->HoldsDevices()) continue;
    const std::optional<double> share = job->FreshShare(now);
    running.push_back({&job->devices_, job->state_ == TJobState::Running, share.has_value(),
                       share.value_or(0) >= kBusyShare});
  }
  const auto onRunning = [&](const std::vector<uint64_t>& devices) {
    return std::any_of(running.begin(), running.end(), [&](const TRunning& r) { return Shares(devices, *r.devices); });
  };
  bool started = false;
  for (const auto& job : jobs_) {
    std::unique_lock jobLock(job->mutex_);
    if (job->state_ != TJobState::Waiting) continue;
    bool start = !sameDeviceWaits_;
    if (!start && !Shares(job->devices_, waiting))
      start = !onRunning(job->devices_) || MayStartBeside(*job, running);
    // An answer from memory holds for the moment it was taken only.
    if (job->probe_ == TJob::TProbe::InMemory) job->probe_ = TJob::TProbe::None;
    if (!start) {
      Append(waiting, job->devices_);
      continue;
    }
    job->state_ = TJobState::Running;
    job->started_ = Clock::now();
    jobLock.unlock();
    Start(*job);
    running.push_back({&job->devices_, true, false, false});
    started = true;
  }
  return started;
}

void TJobQueue::Reschedule() {
  bool started = false;
  {
    std::lock_guard lock(mutex_);
    started = Schedule();
  }
  if (started) Notify(nullptr);
}

bool TJobQueue::MayStartBeside(TJob& job, const std::vector<TRunning>& running) {
  if (job.probe_ == TJob::TProbe::InMemory) {
    job.fromMemory_ = true;
    return true;
  }
  if (BesideBusyJobs(job, running)) {
    job.besideBusy_ = true;
    return true;
  }
  if (job.probe_ == TJob::TProbe::None && !job.sources_.empty() && facts_ != nullptr) {
    job.probe_ = TJob::TProbe::Running;
    probes_.emplace_back([this, self = job.shared_from_this(), facts = facts_] { Probe(self, facts); });
  }
  return false;
}

bool TJobQueue::BesideBusyJobs(const TJob& job, const std::vector<TRunning>& running) {
  if (facts_ == nullptr) return false;
  const auto onProcessors = std::count_if(running.begin(), running.end(), [](const TRunning& r) { return r.onProcessor; });
  if (static_cast<unsigned>(onProcessors) >= facts_->Processors()) return false;
  return std::all_of(running.begin(), running.end(), [&](const TRunning& r) {
    if (r.busy || !Shares(job.devices_, *r.devices)) return true;
    return r.onProcessor && !r.measured && DevicesKeptBusy(job, r);
  });
}

bool TJobQueue::DevicesKeptBusy(const TJob& job, const TRunning& running) const {
  for (const uint64_t device : *running.devices) {
    if (std::find(job.devices_.begin(), job.devices_.end(), device) == job.devices_.end()) continue;
    const auto known = deviceShares_.find(device);
    if (known == deviceShares_.end() || known->second < kBusyShare) return false;
  }
  return true;
}

TJobQueue::TThreadMark TJobQueue::Mark(TJobFacts* facts) {
  TThreadMark mark;
  mark.at = Clock::now();
  if (facts != nullptr) {
    mark.used = facts->ThreadProcessorTime();
    mark.reads = facts->ThreadStorageReads();
  }
  return mark;
}

std::optional<double> TJobQueue::ReadingShare(const TThreadMark& begin, const TThreadMark& end) {
  const Clock::duration ran = end.at - begin.at;
  if (ran < kTellingRun || !begin.reads || !end.reads || *end.reads < *begin.reads + kTellingReads)
    return std::nullopt;
  return std::chrono::duration<double>(end.used - begin.used).count() / std::chrono::duration<double>(ran).count();
}

// On a sampling thread of its own: the answer, and the queue scheduled again
// with it.
void TJobQueue::Probe(const std::shared_ptr<TJob>& job, const std::shared_ptr<TJobFacts>& facts) {
  const bool inMemory = ReadsFromMemory(facts->Sample(job->sources_), SourcesSeek(*facts, job->sources_));
  bool notify = false;
  {
    std::lock_guard lock(mutex_);
    {
      std::lock_guard jobLock(job->mutex_);
      if (job->probe_ == TJob::TProbe::Running) job->probe_ = inMemory ? TJob::TProbe::InMemory : TJob::TProbe::OnDisk;
    }
    const auto self = std::find_if(probes_.begin(), probes_.end(),
                                   [](const std::thread& t) { return t.get_id() == std::this_thread::get_id(); });
    ended_.push_back(std::move(*self));
    probes_.erase(self);
    Schedule();
    notify = !closing_;
    idle_.notify_all();
  }
  if (notify) Notify(nullptr);
}

void TJobQueue::Start(TJob& job) {
  job.facts_ = facts_;
  job.thread_ = std::thread([this, self = job.shared_from_this()] { Run(self); });
}

void TJobQueue::Run(const std::shared_ptr<TJob>& job) {
  // facts_ was set before this thread began and stays.
  const TThreadMark begin = Mark(job->facts_.get());
  job->work_(*job);
  job->work_ = nullptr;  // what it holds goes with it
  // What it read from storage came from its sources' devices; its writes
  // went to the page cache and tell nothing of the destination's.
  const std::optional<double> share = ReadingShare(begin, Mark(job->facts_.get()));
  const std::vector<uint64_t> read = share ? DevicesOf(job->sources_) : std::vector<uint64_t>{};
  bool notify = false;
  {
    std::lock_guard lock(mutex_);
    for (const uint64_t device : read) deviceShares_[device] = *share;
    {
      std::lock_guard jobLock(job->mutex_);
      job->state_ = job->cancelRequested_ ? TJobState::Cancelled : TJobState::Finished;
      job->runTime_ = Clock::now() - job->started_;
      job->pauseRequested_ = false;
    }
    std::erase(jobs_, job);
    ended_.push_back(std::move(job->thread_));
    Schedule();
    notify = !closing_;
    idle_.notify_all();
  }
  // While the queue is being destroyed its owner is going away: nobody to tell.
  if (notify) Notify(job.get());
}

void TJobQueue::Notify(TJob* ended) {
  if (ended != nullptr && OnEnded) OnEnded(*ended);
  if (OnChanged) OnChanged();
}

void TJobQueue::Pause(int id) {
  {
    std::lock_guard lock(mutex_);
    for (const auto& job : jobs_) {
      if (job->id_ != id) continue;
      std::lock_guard jobLock(job->mutex_);
      if (job->state_ == TJobState::Waiting) {
        job->state_ = TJobState::Held;
      } else if (job->state_ == TJobState::Running) {
        job->state_ = TJobState::Paused;
        job->pauseRequested_ = true;
        job->ForgetShare();
        job->meter_.Pause(Clock::now());
      }
    }
    Schedule();  // a held job no longer keeps later ones on its devices waiting
  }
  Notify(nullptr);
}

void TJobQueue::Resume(int id) {
  {
    std::lock_guard lock(mutex_);
    for (const auto& job : jobs_) {
      if (job->id_ != id) continue;
      std::lock_guard jobLock(job->mutex_);
      if (job->state_ == TJobState::Held) {
        job->state_ = TJobState::Waiting;
        // Its sources may have come into memory, or gone, while it was held.
        if (job->probe_ != TJob::TProbe::Running) job->probe_ = TJob::TProbe::None;
      } else if (job->state_ == TJobState::Paused) {
        job->state_ = TJobState::Running;
        job->pauseRequested_ = false;
        job->ForgetShare();  // whatever it measured on its way to the gate
        job->meter_.Resume(Clock::now());
        job->changed_.notify_all();
      }
    }
    Schedule();
  }
  Notify(nullptr);
}

void TJobQueue::Cancel(int id) {
  std::shared_ptr<TJob> dropped;
  {
    std::lock_guard lock(mutex_);
    for (const auto& job : jobs_) {
      if (job->id_ != id) continue;
      std::lock_guard jobLock(job->mutex_);
      job->cancelRequested_ = true;
      job->changed_.notify_all();  // out of a pause or a question
      if (!job->HoldsDevices()) {
        job->state_ = TJobState::Cancelled;
        dropped = job;
      }
    }
    if (dropped) {
      std::erase(jobs_, dropped);
      Schedule();
      idle_.notify_all();
    }
  }
  Notify(dropped.get());
}

void TJobQueue::Move(int id, int step) {
  {
    std::lock_guard lock(mutex_);
    const auto it = std::find_if(jobs_.begin(), jobs_.end(), [id](const auto& j) { return j->id_ == id; });
    if (it == jobs_.end()) return;
    const auto index = static_cast<size_t>(it - jobs_.begin());
    const auto other = static_cast<size_t>(static_cast<long>(index) + step);
    if (other >= jobs_.size()) return;
    std::swap(jobs_[index], jobs_[other]);
    Schedule();
  }
  Notify(nullptr);
}

void TJobQueue::MoveUp(int id) { Move(id, -1); }
void TJobQueue::MoveDown(int id) { Move(id, +1); }

void TJobQueue::JoinEnded() {
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(mutex_);
    workers.swap(ended_);
    // Called from a worker's own callback: that one is joined later.
    const auto self = std::find_if(workers.begin(), workers.end(),
                                   [](const std::thread& t) { return t.get_id() == std::this_thread::get_id(); });
    if (self != workers.end()) {
      ended_.push_back(std::move(*self));
      workers.erase(self);
    }
  }
  for (auto& worker : workers) worker.join();
}

bool TJobQueue::WaitIdle(std::chrono::milliseconds timeout) {
  bool idle = false;
  {
    std::unique_lock lock(mutex_);
    idle = idle_.wait_for(lock, timeout, [this] { return jobs_.empty() && probes_.empty(); });
  }
  // Joined, the workers have also made their last calls.
  if (idle) JoinEnded();
  return idle;
}

// ---------------------------------------------------------------------------
// Questions through another thread

TJobPrompt::TJobPrompt(TJob& job, TFMPrompt& answerer, TPost post)
    : job_(job), answerer_(answerer), post_(std::move(post)) {}

template <typename Answer>
int TJobPrompt::Through(Answer answer, int whenCancelled) {
  const std::optional<int> value = job_.Ask([&](TJob::TQuestion question) {
    post_([question, answer]() mutable {
      if (question.Open()) question.Answer(answer());
    });
  });
  return value.value_or(whenCancelled);
}

TOverwriteAnswer TJobPrompt::AskOverwrite(const std::string& item, const std::string& text) {
  return static_cast<TOverwriteAnswer>(
      Through([a = &answerer_, item, text] { return static_cast<int>(a->AskOverwrite(item, text)); },
              static_cast<int>(TOverwriteAnswer::Cancel)));
}

TOverwriteAnswer TJobPrompt::AskOverwriteFacts(const std::string& item, const std::string& text,
                                               const TFileFacts& source, const TFileFacts& dest) {
  return static_cast<TOverwriteAnswer>(Through(
      [a = &answerer_, item, text, source, dest] {
        return static_cast<int>(a->AskOverwriteFacts(item, text, source, dest));
      },
      static_cast<int>(TOverwriteAnswer::Cancel)));
}

bool TJobPrompt::AskAbort(const std::string& text) {
  return Through([a = &answerer_, text] { return a->AskAbort(text) ? 1 : 0; }, 1) != 0;
}

TMessageAnswer TJobPrompt::ShowMessage(const TFMMessage& message) {
  return static_cast<TMessageAnswer>(
      Through([a = &answerer_, message] { return static_cast<int>(a->ShowMessage(message)); },
              static_cast<int>(TMessageAnswer::Abort)));
}

std::optional<int> AskThrough(TJob& job, const TJobPrompt::TPost& post, std::function<int()> ask) {
  return job.Ask([&post, ask = std::move(ask)](TJob::TQuestion question) {
    post([question, ask]() mutable {
      if (question.Open()) question.Answer(ask());
    });
  });
}

std::vector<uint64_t> DevicesOf(const std::vector<std::string>& paths) {
  std::vector<uint64_t> devices;
  for (const std::string& path : paths) {
    const std::optional<uint64_t> device = platform::DeviceOf(path);
    if (device && std::find(devices.begin(), devices.end(), *device) == devices.end()) devices.push_back(*device);
  }
  return devices;
}

TJobPaths PackPaths(const std::string& root, const std::vector<std::string>& names, const std::string& archive) {
  TJobPaths paths;
  // Each name by itself: a marked directory may be a mount point of another disk.
  for (const std::string& name : names) paths.sources.push_back(platform::JoinPath(root, name));
  paths.sources.push_back(archive);
  paths.places = paths.sources;
  paths.places.push_back(root);
  return paths;
}

TJobPaths UnpackPaths(const std::string& archive, const std::string& dest) {
  return {{archive, dest}, {archive}};
}

}  // namespace vantrel::fileops
