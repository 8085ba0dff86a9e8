// zip_integrity.h - how completely an archive's directory was read, and
// whether its entries describe disjoint data.
//
// A reading is whole when every entry the end record announces is in the
// list, read from the central directory itself. A reading that holds fewer
// entries, or that had to be rebuilt from the local headers, is partial: it
// may be listed and extracted (what can be saved is worth saving) but never
// written back, because an archive rewritten from it would lose the entries
// that were not read.
//
// Each entry's bytes in the archive (local header, name, data, descriptor)
// must lie before the central directory and apart from every other entry's.
// Entries that share or overlap their data are either damaged or built to
// expand a small file into a huge output (many entries decoding the same
// compressed bytes); they are refused, the rest stays usable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::zip {

// What reading the directory found. Counts are 64-bit so that archives with
// more entries than a 16-bit field holds fit the same report.
struct TDirectoryReport {
  int64_t announced = -1;   // entries the end record announces; -1 without one
  int64_t read = 0;         // entries in the list
  bool rebuilt = false;     // the list was rebuilt from the local headers
  bool moreRecords = false; // the central directory holds records past the announced ones
  int64_t overlapping = 0;  // entries refused because their data overlaps other data
  std::string problem;      // anything else the end record and the directory disagree on
  std::string missingLastVolume;  // read as a volume of a split set whose last volume is gone

  // Empty when the reading is whole and no entry overlaps another; else what
  // is wrong, e.g. "archive directory damaged: 18 of 40 entries read".
  std::string Damage() const;
  bool Whole() const { return Damage().empty(); }
};

// The bytes of one entry on its disk: [start, end). Offsets are 64-bit so
// that archives past 4 GiB fit the same check.
struct TDataRange {
  uint32_t disk = 0;
  uint64_t start = 0;
  uint64_t end = 0;
};

// For each range, whether it overlaps another range of its disk or reaches
// past `limit` on `limitDisk` (the start of the central directory).
std::vector<bool> FindOverlaps(const std::vector<TDataRange>& ranges, uint32_t limitDisk,
                               uint64_t limit);

// The same check over `count` ranges that range(i) gives in order of disk and
// start: mark(i) is called (once or more) for each range that overlaps or
// reaches past the limit.
template <class RangeAt, class Mark>
void SweepOverlaps(size_t count, RangeAt range, Mark mark, uint32_t limitDisk, uint64_t limit) {
  // Remembers the range that reaches furthest: any range starting before its
  // end overlaps it.
  size_t furthest = 0;
  TDataRange far;
  bool haveFar = false;
  for (size_t i = 0; i < count; ++i) {
    const TDataRange r = range(i);
    if (haveFar && far.disk != r.disk) haveFar = false;
    if (haveFar && r.start < far.end) {
      mark(i);
      mark(furthest);
    }
    if (!haveFar || r.end > far.end) {
      furthest = i;
      far = r;
      haveFar = true;
    }
    if (r.disk == limitDisk && r.end > limit) mark(i);
  }
}

}  // namespace vantrel::zip
