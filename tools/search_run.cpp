// search_run.cpp - the search thread and the lists it hands over.
#include "tools/search_run.h"

#include "platform/process.h"

namespace vantrel::tools {

TSearchRun::~TSearchRun() {
  Stop();
  Wait();
}

void TSearchRun::Start(TSearchCriteria criteria, std::unique_ptr<TContentMatcher> matcher, std::string start,
                       std::vector<const TArchiveFormat*> formats) {
  Stop();
  Wait();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    found_.clear();
    unreadable_.clear();
    counts_ = TSearchCounts{};
  }
  matcher_ = std::move(matcher);
  criteria.content = matcher_.get();
  stop_ = false;
  stopped_ = false;
  finished_ = false;
  thread_ = std::thread([this, criteria = std::move(criteria), start = std::move(start),
                         formats = std::move(formats)] {
    platform::RunThreadInBackground();
    TFileSearch search;
    search.ArchiveFormats = formats;
    search.OnFound = [this](TFoundFile&& found) {
      std::lock_guard<std::mutex> lock(mutex_);
      found_.push_back(std::move(found));
    };
    search.OnUnreadable = [this](TUnreadable&& item) {
      std::lock_guard<std::mutex> lock(mutex_);
      unreadable_.push_back(std::move(item));
    };
    search.ShouldStop = [this, &search] {
      // The counts so far, for the window's status line.
      std::lock_guard<std::mutex> lock(mutex_);
      counts_ = search.Counts();
      return stop_.load(std::memory_order_relaxed);
    };
    const bool complete = search.Search(criteria, start);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      counts_ = search.Counts();
    }
    stopped_ = !complete;
    finished_ = true;
  });
}

void TSearchRun::Stop() { stop_ = true; }

void TSearchRun::Wait() {
  if (thread_.joinable()) thread_.join();
}

void TSearchRun::Take(std::vector<TFoundFile>& found, std::vector<TUnreadable>& unreadable) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (found.empty()) {
    found.swap(found_);
  } else {
    for (TFoundFile& f : found_) found.push_back(std::move(f));
    found_.clear();
  }
  for (TUnreadable& u : unreadable_) unreadable.push_back(std::move(u));
  unreadable_.clear();
}

TSearchCounts TSearchRun::Counts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counts_;
}

}  // namespace vantrel::tools
