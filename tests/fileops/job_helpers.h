// job_helpers.h - waiting for a condition, jobs that run until let go and
// an answering thread, for the tests of jobs.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>
#include <thread>

#include "fileops/job.h"

namespace vantrel::fileops::testing {

// Polls `done` until it holds or five seconds passed.
template <typename Pred>
inline bool Eventually(Pred done) {
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5); std::chrono::steady_clock::now() < end;) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

// Jobs that run until the test lets them go (or they are cancelled), and the
// order in which they started. `each` runs once before every check of the
// job's gate, about every millisecond.
class Workers {
 public:
  TJob::TWork Work(const std::string& name, std::function<void(TJob&)> each = {}) {
    return [this, name, each](TJob& job) {
      {
        std::lock_guard lock(mutex_);
        started_.push_back(name);
      }
      for (;;) {
        if (each) each(job);
        if (!job.Pass() || Released(name)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    };
  }
  void Release(const std::string& name) {
    std::lock_guard lock(mutex_);
    released_.insert(name);
  }
  // Lets every job go, those still to start too.
  void ReleaseAll() {
    std::lock_guard lock(mutex_);
    all_ = true;
  }
  bool Released(const std::string& name) {
    std::lock_guard lock(mutex_);
    return all_ || released_.count(name) != 0;
  }
  std::vector<std::string> Started() {
    std::lock_guard lock(mutex_);
    return started_;
  }
  bool HasStarted(const std::string& name) {
    const auto s = Started();
    return std::find(s.begin(), s.end(), name) != s.end();
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> started_;
  std::set<std::string> released_;
  bool all_ = false;
};

// The window's thread in miniature: runs the calls posted to it, in order.
class AnswerThread {
 public:
  AnswerThread() : thread_([this] { Loop(); }) {}
  ~AnswerThread() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  TJobPrompt::TPost Poster() {
    return [this](std::function<void()> call) {
      {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
      }
      cv_.notify_all();
    };
  }
  std::thread::id Id() const { return thread_.get_id(); }

 private:
  void Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      cv_.wait(lock, [this] { return stop_ || !calls_.empty(); });
      if (calls_.empty()) return;
      auto call = std::move(calls_.front());
      calls_.pop_front();
      lock.unlock();
      call();
      lock.lock();
    }
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> calls_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace vantrel::fileops::testing
