// zip_integrity.cpp - the directory report and the overlap check.
#include "zip/zip_integrity.h"

#include <algorithm>
#include <numeric>

namespace vantrel::zip {

std::string TDirectoryReport::Damage() const {
  std::string text;
  auto add = [&text](const std::string& part) { text += (text.empty() ? "" : "; ") + part; };
  const std::string read_ = std::to_string(read);
  if (!missingLastVolume.empty())
    add("a volume of a split archive whose last volume, \"" + missingLastVolume +
        "\", is missing: only the entries on this volume can be read");
  if (rebuilt) {
    if (announced < 0)
      add("archive directory missing: rebuilt from the local headers, " + read_ +
          " entries found");
    else
      add("archive directory damaged: rebuilt from the local headers, " + read_ + " of " +
          std::to_string(announced) + " entries found");
  } else if (announced >= 0 && read < announced) {
    add("archive directory damaged: " + read_ + " of " + std::to_string(announced) +
        " entries read");
  }
  if (moreRecords)
    add("archive directory damaged: it holds more entries than the " +
        std::to_string(announced) + " its end record announces");
  if (!problem.empty()) add("archive directory damaged: " + problem);
  if (overlapping > 0)
    add(std::to_string(overlapping) + (overlapping == 1 ? " entry overlaps" : " entries overlap") +
        " the data of other entries or the directory");
  return text;
}

std::vector<bool> FindOverlaps(const std::vector<TDataRange>& ranges, uint32_t limitDisk,
                               uint64_t limit) {
  std::vector<bool> bad(ranges.size(), false);
  std::vector<size_t> order(ranges.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    if (ranges[a].disk != ranges[b].disk) return ranges[a].disk < ranges[b].disk;
    return ranges[a].start < ranges[b].start;
  });
  SweepOverlaps(
      order.size(), [&](size_t k) { return ranges[order[k]]; },
      [&](size_t k) { bad[order[k]] = true; }, limitDisk, limit);
  return bad;
}

}  // namespace vantrel::zip
