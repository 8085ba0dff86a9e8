// pack_job.cpp - the packer's events turned into a job's progress and gate.
#include "fileops/pack_job.h"

#include <cerrno>
#include <cstdint>

namespace vantrel::fileops {

std::vector<std::string> TPackJobOutcome::FailedNames() const {
  std::vector<std::string> names;
  for (const auto& [name, why] : result.leftOut) {
    // "dir/" is a directory that could not be listed: packed again whole.
    std::string n = name;
    while (n.size() > 1 && n.back() == '/') n.pop_back();
    bool known = false;
    for (const std::string& have : names) known = known || have == n;
    if (!known && !n.empty()) names.push_back(n);
  }
  return names;
}

namespace {

// What the job shows, kept between the packer's events.
struct TShown {
  double bytesDone = 0, bytesTotal = 0;
  uint64_t itemsDone = 0, itemsTotal = 0;
  std::string item;
  void To(TJob& job) const { job.SetProgress(bytesDone, bytesTotal, itemsDone, itemsTotal, item); }
};

}  // namespace

void RunPackJob(TJob& job, const formats::TPackRequest& request, TPackJobOutcome& outcome,
                const formats::TPackEvents& also) {
  TShown shown;
  size_t leftOut = 0;
  formats::TPackEvents events;
  events.progress = [&](uint64_t done, uint64_t total) {
    if (also.progress && !also.progress(done, total)) return false;
    shown.bytesDone = static_cast<double>(done);
    shown.bytesTotal = static_cast<double>(total);
    shown.To(job);
    // Stands here while paused; false once cancelled.
    return job.Pass();
  };
  events.item = [&](const std::string& name, uint64_t itemsDone, uint64_t itemsTotal) {
    if (also.item && !also.item(name, itemsDone, itemsTotal)) return false;
    shown.itemsDone = itemsDone;
    shown.itemsTotal = itemsTotal;
    if (!name.empty()) shown.item = name;
    shown.To(job);
    return job.Pass();
  };
  events.leftOut = [&](const std::string& name, const std::string& why) {
    if (also.leftOut) also.leftOut(name, why);
    job.SetDeferred(++leftOut);
  };
  outcome = {};
  outcome.packed = formats::PackArchive(request, events, &outcome.result, &outcome.error);
  // A cancel heard first by the caller's own events is still the job's cancel.
  if (!outcome.packed && job.CancelRequested()) outcome.error.code = ECANCELED;
}

}  // namespace vantrel::fileops
