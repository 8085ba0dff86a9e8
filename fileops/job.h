// job.h - copy, move and delete as jobs on worker threads, and the queue
// that runs them.
//
// A TJob is one piece of work (a copy of some names, a delete...) that runs
// on a thread of its own. The work holds the job through its gate (TFMGate):
// Pause makes the next check block, Cancel makes it fail, and the copy engine
// checks between items and between two blocks of a file, so both take effect
// within a block's time, also inside a large file. What a cancelled copy had
// finished stays; the file it was writing is dropped (the engine writes
// through an unnamed file that gets its name only when complete).
//
// A job publishes its progress (bytes and items of the pass, the item being
// handled); Progress() adds the speed and the time left, measured over the
// time the job actually ran. Questions the work must ask go out through Ask,
// which hands them to whoever answers (the window's thread) and waits for
// the answer or the job's cancel.
//
// TJobQueue starts the jobs. By default a job waits while an earlier job
// touches one of its devices (the st_dev of its source or destination), so
// two copies to one disk run one after the other; jobs on other devices run
// at once. Jobs can be added waiting (queued) or held (paused), and the
// waiting ones can be moved up and down.
//
// The wait is there for two jobs reading one disk at once, which makes its
// head seek between them. A job whose sources the page cache already holds
// reads nothing from a disk: when only running jobs keep it waiting (no
// waiting job before it shares a device, so the order stays), the queue
// samples its sources on a thread of its own and, when they are in memory,
// starts it at once. Its writes need no turn: they go to the page cache and
// reach the disk through the kernel's writeback, which writes each file in
// large chunks whichever job dirtied it. How much may be missing depends on
// the source's device: on one that seeks (or may) every missing page is a
// seek against the other job, so next to nothing; on one that does not, a
// little (see ReadsFromMemory).
//
// Nor does the wait help where the processor, not the disk, is what a copy
// waits for (a fast disk, or a virtual one whose reads are copies in memory):
// one job at a time then leaves the other processors idle. So a job measures
// what share of its time its thread spends on a processor, over half a second
// at a time as it reports its progress. A waiting job that only running jobs
// keep waiting starts beside them when every one of them on its devices keeps
// its processor busy (three quarters of the time or more) and fewer jobs run
// than there are processors. A thread waiting for a disk that seeks spends
// next to nothing on a processor, so there the jobs keep waiting. The
// running job's measure schedules the queue again, so a waiting job needs no
// event of its own to start.
//
// A measure needs its half second, and a cold copy starts with a second or
// so of waiting for its first reads: a job that starts that much later than
// the one before it ends later too. So the queue also remembers, for each
// device its sources lie on, the share of the last job that ran for a second
// or more and had at least 32 MiB read from storage meanwhile (a copy that
// read from the disk, not from the page cache). Where that job kept its processor busy, a
// waiting job starts beside a running one that has no measure of its own yet
// at once; the running job's own measure overrides the memory once it comes.
//
// Nothing here knows a window: the queue reports through callbacks, which run
// on whatever thread the change happened (a worker's, mostly).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fileops/fmoperation.h"
#include "platform/residency.h"

namespace vantrel::fileops {

enum class TJobState {
  Waiting,    // queued: starts when its devices are free
  Held,       // added paused (or paused while waiting): starts only after Resume
  Running,    // on its worker thread
  Paused,     // running, but stopped at its gate
  Finished,   // the work returned
  Cancelled,  // cancelled, before or while it ran
};

enum class TJobStart {
  Queued,  // waits for earlier jobs on its devices
  Paused,  // held until resumed, then queued
};

// The bytes and items of a job's current pass (a move has two), the speed
// and the time left. `speed` is 0 and `secondsLeft` negative until they can be
// told (half a second into a pass with bytes done).
struct TJobProgress {
  double bytesDone = 0;
  double bytesTotal = 0;
  uint64_t itemsDone = 0;
  uint64_t itemsTotal = 0;
  std::string item;          // being handled
  double speed = 0;          // bytes per second
  double secondsLeft = -1;
  bool asking = false;       // stands still on a question
  size_t deferred = 0;       // questions kept for the job's end (conflicts and failed items)
};

// Measures speed over the time a pass ran: paused time does not count, and a
// pass that starts again from nothing (a move's removal pass) starts anew.
class TSpeedMeter {
 public:
  using Clock = std::chrono::steady_clock;
  void Update(double bytesDone, Clock::time_point now);
  void Pause(Clock::time_point now);
  void Resume(Clock::time_point now);
  // Bytes per second, 0 until half a second of running time with bytes done.
  double Speed(Clock::time_point now) const;
  // Seconds left for `bytesTotal`, negative while the speed is unknown.
  double SecondsLeft(double bytesTotal, Clock::time_point now) const;

 private:
  double Running(Clock::time_point now) const;
  bool started_ = false;
  bool paused_ = false;
  Clock::time_point passStart_{};
  Clock::time_point pausedAt_{};
  Clock::duration pausedFor_{};
  double done_ = 0;
};

class TJobQueue;

// Where a job reads and what it touches: the devices of its sources and
// destinations (the queue's rule), and the paths it reads (files or trees),
// which the queue may sample to let it run beside a job on one of its
// devices. A job without sources always waits for its devices.
struct TJobPlaces {
  TJobPlaces() = default;
  TJobPlaces(std::vector<uint64_t> devices, std::vector<std::string> sources = {})
      : devices(std::move(devices)), sources(std::move(sources)) {}
  TJobPlaces(std::initializer_list<uint64_t> devices) : devices(devices) {}

  std::vector<uint64_t> devices;
  std::vector<std::string> sources;
};

// What the queue asks of the system about a waiting job's sources; the
// tests tell it instead of the page cache and sysfs.
class TJobFacts {
 public:
  virtual ~TJobFacts() = default;
  // How much of `sources` the page cache holds, sampled within a budget.
  virtual platform::Residency Sample(const std::vector<std::string>& sources) = 0;
  // The seek cost of the device under `path`.
  virtual platform::SeekCost SeekCostOf(const std::string& path) = 0;
  // The processors jobs may run on.
  virtual unsigned Processors() = 0;
  // The calling thread's time on a processor so far.
  virtual std::chrono::nanoseconds ThreadProcessorTime() = 0;
  // The bytes the calling thread has had read from storage so far; empty
  // where that is not known.
  virtual std::optional<uint64_t> ThreadStorageReads() = 0;
};

// The system's answers (platform/residency.h).
std::shared_ptr<TJobFacts> SystemJobFacts();

// Whether a job would read (nearly) nothing from a disk: every file of its
// sources was looked at within the budget, and what the page cache misses is
// at most 1/256 of the bytes where a source's device seeks or may seek, at
// most 1/16 where none does. Nothing to read at all counts as in memory.
bool ReadsFromMemory(const platform::Residency& residency, bool sourcesSeek);

class TJob final : public TFMGate, public std::enable_shared_from_this<TJob> {
 public:
  // The work, run on the job's thread.
  using TWork = std::function<void(TJob& job)>;

  TJob(int id, std::string title, TJobPlaces places, TWork work);

  int Id() const { return id_; }
  const std::string& Title() const { return title_; }
  const std::vector<uint64_t>& Devices() const { return devices_; }
  TJobState State() const;
  // It started beside a job on one of its devices, its sources being in
  // memory.
  bool StartedFromMemory() const;
  // It started beside jobs on its devices that kept their processors busy.
  bool StartedBesideBusyJobs() const;
  // The share of its time the job's thread spent on a processor over the
  // last measure (half a second of reported progress); empty before the
  // first, when it is older than a second and a half (the work stopped
  // reporting) and while the job is paused.
  std::optional<double> ProcessorShare() const;
  TJobProgress Progress() const;
  bool CancelRequested() const;

  // The work's side. Pass blocks while the job is paused; false once it was
  // cancelled.
  bool Pass() override;
  // Whether the work stands in Pass, held by a pause (a pause asked for is
  // only heard at the work's next check).
  bool AtGate() const;
  void SetProgress(double bytesDone, double bytesTotal, uint64_t itemsDone, uint64_t itemsTotal,
                   const std::string& item);
  // How many questions the work keeps for its end (shown with its progress).
  void SetDeferred(size_t count);
  // Makes `engine` report its progress here and stop at this job's gate.
  void Attach(TFMOperation& engine);

  // A question that went out to be answered on another thread. Answer may be
  // called from any thread, once; Open tells the answering side whether the
  // job still waits (it was not cancelled meanwhile), so that it need not
  // show a question nobody waits for.
  class TQuestion {
   public:
    void Answer(int value);
    bool Open() const;

   private:
    friend class TJob;
    std::shared_ptr<TJob> job_;
    std::shared_ptr<std::optional<int>> slot_;
  };
  // Hands a question to `post` (which passes it to the answering thread) and
  // waits for its answer. Empty when the job was cancelled first.
  std::optional<int> Ask(const std::function<void(TQuestion)>& post);

  // The work returned after this long on its thread (0 while it runs).
  std::chrono::steady_clock::duration RunTime() const;

 private:
  friend class TJobQueue;
  // With mutex_ held: running, or paused while running.
  bool HoldsDevices() const { return state_ == TJobState::Running || state_ == TJobState::Paused; }
  // With mutex_ held, from SetProgress: measures the processor share when
  // half a second passed since the last measure; true when it is busy.
  bool MeasureShare(std::chrono::steady_clock::time_point now);
  // With mutex_ held: the last measure while running and not too old.
  std::optional<double> FreshShare(std::chrono::steady_clock::time_point now) const;
  // With mutex_ held: the measure starts anew (after a pause).
  void ForgetShare();

  // Where the queue is in sampling a waiting job's sources.
  enum class TProbe {
    None,      // not sampled (or the answer was used up)
    Running,   // on the sampling thread
    InMemory,  // reads from memory: may start beside running jobs
    OnDisk,    // keeps waiting for its devices
  };

  const int id_;
  const std::string title_;
  const std::vector<uint64_t> devices_;
  const std::vector<std::string> sources_;
  TWork work_;
  std::thread thread_;  // guarded by the queue's mutex

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  TJobState state_ = TJobState::Waiting;
  bool pauseRequested_ = false;
  bool cancelRequested_ = false;
  bool asking_ = false;
  int atGate_ = 0;  // threads of the work standing in Pass
  TProbe probe_ = TProbe::None;
  bool fromMemory_ = false;
  bool besideBusy_ = false;
  // Set before the job's thread starts.
  TJobQueue* queue_ = nullptr;
  std::shared_ptr<TJobFacts> facts_;
  // The processor share: the measure under way (its thread, start and
  // processor time then) and the last one taken.
  struct TShareWindow {
    bool open = false;
    std::thread::id thread;
    std::chrono::steady_clock::time_point at{};
    std::chrono::nanoseconds used{};
  } window_;
  std::optional<double> share_;
  std::chrono::steady_clock::time_point shareAt_{};
  TJobProgress progress_;
  TSpeedMeter meter_;
  std::chrono::steady_clock::time_point started_{};
  std::chrono::steady_clock::duration runTime_{};
};

class TJobQueue final {
 public:
  TJobQueue() = default;
  // Cancels every job and waits for the workers to end.
  ~TJobQueue();
  TJobQueue(const TJobQueue&) = delete;
  TJobQueue& operator=(const TJobQueue&) = delete;

  // Jobs on one device wait for each other; false lets every job start at once.
  void SetSameDeviceWaits(bool wait);
  // Where the queue learns whether a waiting job's sources are in memory;
  // nullptr makes every job wait for its devices. The system's by default.
  void SetFacts(std::shared_ptr<TJobFacts> facts);

  // Called after a job's state changed or the list changed, on the thread
  // where it happened. Set them before the first job is added.
  std::function<void()> OnChanged;
  // Called once for every job that ended (finished or cancelled), after its
  // work returned, on its worker thread (or the canceller's for a job that
  // never started).
  std::function<void(TJob& job)> OnEnded;

  std::shared_ptr<TJob> Add(std::string title, TJobPlaces places, TJob::TWork work,
                            TJobStart start = TJobStart::Queued);

  // The jobs that have not ended, in queue order.
  std::vector<std::shared_ptr<TJob>> Jobs() const;
  std::shared_ptr<TJob> Find(int id) const;

  void Pause(int id);
  void Resume(int id);
  void Cancel(int id);
  // Moves a job one place towards the front (or the back) of the queue,
  // which decides which waiting job starts first.
  void MoveUp(int id);
  void MoveDown(int id);

  // Waits until no job is left (and no job's sources are being sampled);
  // false when `timeout` passed first.
  bool WaitIdle(std::chrono::milliseconds timeout);

 private:
  friend class TJob;
  // A running job's devices and whether it keeps its processor busy, as
  // Schedule found it.
  struct TRunning {
    const std::vector<uint64_t>* devices;
    bool onProcessor;  // running, not paused
    bool measured;     // it has a fresh measure of its own
    bool busy;         // which says it keeps its processor busy
  };
  // What a job's thread had used when its work began or ended.
  struct TThreadMark {
    std::chrono::steady_clock::time_point at;
    std::chrono::nanoseconds used{};
    std::optional<uint64_t> reads;
  };
  static TThreadMark Mark(TJobFacts* facts);
  // The share of a job's run its thread spent on a processor, when the run
  // tells something of its devices (long enough, and reading from storage).
  static std::optional<double> ReadingShare(const TThreadMark& begin, const TThreadMark& end);
  // With mutex_ held: whether the last job that read from storage on each
  // device `running` shares with `job` kept its processor busy.
  bool DevicesKeptBusy(const TJob& job, const TRunning& running) const;
  // With mutex_ held; true when a job started.
  bool Schedule();
  // From a running job whose measure says busy: schedules again.
  void Reschedule();
  // With mutex_ and the job's mutex held, for a waiting job that only running
  // jobs keep waiting: whether it may start now. Starts sampling its sources
  // when that is still to be learnt.
  bool MayStartBeside(TJob& job, const std::vector<TRunning>& running);
  // Whether every running job on the job's devices keeps its processor busy
  // and a processor is left for it.
  bool BesideBusyJobs(const TJob& job, const std::vector<TRunning>& running);
  void Start(TJob& job);     // with mutex_ held
  void Run(const std::shared_ptr<TJob>& job);
  void Probe(const std::shared_ptr<TJob>& job, const std::shared_ptr<TJobFacts>& facts);
  void Notify(TJob* ended);  // the callbacks, without mutex_ held
  void Move(int id, int step);
  void JoinEnded();

  mutable std::mutex mutex_;
  std::condition_variable idle_;
  std::vector<std::shared_ptr<TJob>> jobs_;   // not ended, in order
  std::vector<std::thread> ended_;           // workers (and samplers) to join
  std::vector<std::thread> probes_;          // sampling threads at work
  std::shared_ptr<TJobFacts> facts_ = SystemJobFacts();
  // For each device, the processor share of the last job that read from
  // storage on it (ReadingShare).
  std::map<uint64_t, double> deviceShares_;
  bool sameDeviceWaits_ = true;
  bool closing_ = false;
  int nextId_ = 1;
};

// The engine's questions and reports from a job's thread, answered by
// `answerer` on the thread `post` hands its calls to (the window's), while
// the job waits. A job cancelled meanwhile stops waiting: the question counts
// as answered Cancel (an overwrite), Yes ("Abort operation?") or Abort (a
// failing item), and a question still unshown is not shown any more.
class TJobPrompt final : public TFMPrompt {
 public:
  // Runs the call it is given on the answering thread, soon, without waiting.
  using TPost = std::function<void(std::function<void()> call)>;
  TJobPrompt(TJob& job, TFMPrompt& answerer, TPost post);

  TOverwriteAnswer AskOverwrite(const std::string& item, const std::string& text) override;
  TOverwriteAnswer AskOverwriteFacts(const std::string& item, const std::string& text,
                                     const TFileFacts& source, const TFileFacts& dest) override;
  bool AskAbort(const std::string& text) override;
  TMessageAnswer ShowMessage(const TFMMessage& message) override;

 private:
  template <typename Answer>
  int Through(Answer answer, int whenCancelled);
  TJob& job_;
  TFMPrompt& answerer_;
  TPost post_;
};

// Runs `ask` on the answering thread through `post` while the job waits; empty
// when the job was cancelled before the answer came. `ask` must hold what it
// needs by value (or shared): the job may stop waiting before it runs.
std::optional<int> AskThrough(TJob& job, const TJobPrompt::TPost& post, std::function<int()> ask);

// The devices a job on these paths touches, each once: the st_dev of each
// path (a file or a directory, as the kernel resolves it), or for one still
// to be made (a destination, an archive to write) of the directory it would
// be made in.
std::vector<uint64_t> DevicesOf(const std::vector<std::string>& paths);

// The paths of a job, as a command gives them: those whose devices it
// touches (the queue's rule, DevicesOf) and those it reads (sampled for the
// page cache, TJobPlaces::sources).
struct TJobPaths {
  std::vector<std::string> places;
  std::vector<std::string> sources;
};
// A pack of `names` below `root` into `archive` (new, or updated: then it is
// read too).
TJobPaths PackPaths(const std::string& root, const std::vector<std::string>& names, const std::string& archive);
// An unpack (or another rewrite) of `archive` into `dest`, which may be a
// directory or a file still to be made.
TJobPaths UnpackPaths(const std::string& archive, const std::string& dest);

}  // namespace vantrel::fileops
