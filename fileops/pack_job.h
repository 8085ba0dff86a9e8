// pack_job.h - packing into tar.gz, tar.xz, tar.zst or 7z as a job on a
// worker thread.
//
// The packer asks nothing while it runs: what cannot be read is left out and
// kept for the job's report, and the rest goes on. The job's gate is passed
// at every block read or written, so a pause stands still there and a cancel
// ends the run within a block's time, also inside a large file and while a 7z
// is finished: no archive is written, an archive of that name stays as it
// was (see formats/archive_writer.h).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "fileops/job.h"
#include "formats/archive_writer.h"

namespace vantrel::fileops {

struct TPackJobOutcome {
  bool packed = false;          // the archive was written
  formats::TPackResult result;  // what went in, what was left out (in the order met)
  formats::TArchiveError error; // why nothing was written (ECANCELED after a cancel)
  // The names to pack again to add what was left out, each once: a file's
  // path below the request's root, a directory that could not be listed
  // by its path (packed again whole).
  std::vector<std::string> FailedNames() const;
};

// Packs `request` on the job's thread, publishing the bytes and items done
// and the item at hand to the job, and how many items were left out as the
// questions it keeps for its end. `also` is told the same events first (a
// false answer cancels too).
void RunPackJob(TJob& job, const formats::TPackRequest& request, TPackJobOutcome& outcome,
                const formats::TPackEvents& also = {});

}  // namespace vantrel::fileops
