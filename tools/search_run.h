// search_run.h - a file search on a thread of its own.
//
// The window that shows a search starts it here and collects what it found
// from time to time (Take), so that it never waits for a slow disk and the
// rows appear while the search goes on. The thread lowers its priority a
// little, so the window stays quick on a busy machine. Stop asks the search
// to end at its next check (between directories, entries and blocks).
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/content_match.h"
#include "tools/file_search.h"

namespace vantrel::tools {

class TSearchRun final {
 public:
  TSearchRun() = default;
  // Stops a running search and waits for its thread.
  ~TSearchRun();
  TSearchRun(const TSearchRun&) = delete;
  TSearchRun& operator=(const TSearchRun&) = delete;

  // Starts searching `start` (an absolute path) for `criteria`; the run
  // keeps `matcher` (criteria.content points to it, or is null). A run that
  // is still going is stopped first.
  void Start(TSearchCriteria criteria, std::unique_ptr<TContentMatcher> matcher, std::string start,
             std::vector<const TArchiveFormat*> formats);
  void Stop();
  // Waits until the thread has ended.
  void Wait();
  // The search has ended (by itself or stopped); Take then yields the rest.
  bool Finished() const { return finished_; }
  bool Stopped() const { return stopped_; }
  // Moves what was found and what could not be read since the last call
  // into the two lists (appending).
  void Take(std::vector<TFoundFile>& found, std::vector<TUnreadable>& unreadable);
  // The counts of the search so far; final once Finished().
  TSearchCounts Counts() const;

 private:
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<TFoundFile> found_;        // guarded by mutex_
  std::vector<TUnreadable> unreadable_;  // guarded by mutex_
  TSearchCounts counts_;                 // guarded by mutex_
  std::unique_ptr<TContentMatcher> matcher_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{true};
  std::atomic<bool> stopped_{false};
};

}  // namespace vantrel::tools
