// found_listing.cpp - an archive's members filed as they are found.
#include "vfs/found_listing.h"

#include <algorithm>

#include "vfs/path_index.h"

namespace vantrel::vfs {

namespace {

std::pair<std::string, std::string> SplitLast(const std::string& normalised) {
  const size_t slash = normalised.rfind('/');
  if (slash == std::string::npos) return {std::string(), normalised};
  return {normalised.substr(0, slash), normalised.substr(slash + 1)};
}

}  // namespace

void TFoundListing::Clear() {
  directories_.clear();
  count_ = 0;
}

TEntry& TFoundListing::DirectoryRow(TDirectory& parent, const std::string& name) {
  if (auto it = parent.directories.find(name); it != parent.directories.end()) return parent.entries[it->second];
  // Files of that name found before are hidden behind the directory: its
  // row takes the first one's place, the others go.
  if (auto files = parent.files.find(name); files != parent.files.end()) {
    const size_t row = files->second;
    parent.files.erase(files);
    auto& entries = parent.entries;
    for (size_t i = entries.size(); i-- > row + 1;) {
      if (entries[i].kind == TEntryKind::Directory || entries[i].name != name) continue;
      entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
      // Rows after it moved up by one.
      for (auto& [n, at] : parent.directories)
        if (at > i) --at;
      for (auto& [n, at] : parent.files)
        if (at > i) --at;
    }
    entries[row] = TEntry{};
    entries[row].name = name;
    entries[row].kind = TEntryKind::Directory;
    entries[row].implied = true;
    entries[row].mode = 0755;
    parent.directories.emplace(name, row);
    return entries[row];
  }
  TEntry e;
  e.name = name;
  e.kind = TEntryKind::Directory;
  e.implied = true;
  e.mode = 0755;
  parent.directories.emplace(name, parent.entries.size());
  parent.entries.push_back(std::move(e));
  return parent.entries.back();
}

TFoundListing::TDirectory& TFoundListing::DirectoryAt(const std::string& normalised) {
  if (auto it = directories_.find(normalised); it != directories_.end()) return it->second;
  if (!normalised.empty()) {
    const auto [parentPath, name] = SplitLast(normalised);
    DirectoryRow(DirectoryAt(parentPath), name);
  }
  // (DirectoryAt above may have rehashed the table: find the place anew.)
  return directories_[normalised];
}

void TFoundListing::Add(std::string_view path, TEntry entry) {
  ++count_;
  bool isDir = false;
  const std::string norm = TPathIndex::Normalise(path, &isDir);
  if (norm.empty()) return;  // the root itself: nothing to show
  const auto [parentPath, name] = SplitLast(norm);
  isDir = isDir || entry.kind == TEntryKind::Directory;
  if (isDir) {
    DirectoryAt(norm);
    TEntry& row = DirectoryRow(directories_[parentPath], name);
    if (row.implied) {
      row = std::move(entry);
      row.name = name;
      row.kind = TEntryKind::Directory;
      row.implied = false;
      if (row.mode == 0) row.mode = 0755;
    }
    return;
  }
  TDirectory& parent = DirectoryAt(parentPath);
  if (parent.directories.count(name) != 0) return;  // hidden behind the directory
  entry.name = name;
  parent.files.emplace(name, parent.entries.size());
  parent.entries.push_back(std::move(entry));
}

bool TFoundListing::List(std::string_view inner, std::vector<TEntry>& out) const {
  out.clear();
  const auto it = directories_.find(TPathIndex::Normalise(inner));
  if (it == directories_.end()) return inner.empty() || TPathIndex::Normalise(inner).empty();
  out = it->second.entries;
  return true;
}

}  // namespace vantrel::vfs
