// dirmodel.cpp - reading, sorting and describing a panel's directory.
#include "panels/dirmodel.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/text.h"

namespace vantrel::panels {

using platform::FileTime;

std::string ExtensionOf(std::string_view name) {
  const size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
}

std::string SizeText(const TFileEntry& e) {
  return e.IsDirectory() ? "DIR" : platform::FormatThousands(e.FileSize);
}

std::string DateText(FileTime t) {
  const platform::LocalTime lt = platform::ToLocalTime(t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%02d", lt.day, lt.month, lt.year);
  return buf;
}

std::string TimeText(FileTime t) {
  const platform::LocalTime lt = platform::ToLocalTime(t);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d", lt.hour, lt.minute);
  return buf;
}

std::string NameText(const TFileEntry& e) {
  if (e.IsDirectory()) return e.FileName;
  const size_t dot = e.FileName.rfind('.');
  return dot == std::string::npos ? e.FileName : e.FileName.substr(0, dot);
}

std::string ExtText(const TFileEntry& e) {
  return e.IsDirectory() ? std::string() : ExtensionOf(e.FileName);
}

std::string InfoLine(const TFileEntry& e) {
  if (e.IsDirectory()) return "[" + e.FileName + "]:  DIRECTORY";
  return e.FileName + "- size:" + SizeText(e) + " bytes.";
}

// One number of the disk-space line: megabytes above 1,048,576 bytes, else bytes.
static std::string SpacePart(uint64_t bytes) {
  if (bytes > 1048576ULL) return platform::FormatFixed(static_cast<double>(bytes) / 1048576.0, 2) + " Mb";
  return platform::FormatFixed(static_cast<double>(bytes), 2) + " bytes";
}

std::string DiskSpaceLine(uint64_t freeBytes, uint64_t totalBytes) {
  return SpacePart(freeBytes) + " of " + SpacePart(totalBytes) + " free";
}

bool TPanelModel::ReadDirectory(const std::string& path, std::string* error) {
  const std::string remembered = platform::GetCurrentDir();
  if (!platform::SetCurrentDir(path)) {
    if (error) *error = platform::ErrorText(errno);
    return false;
  }
  directory_ = platform::GetCurrentDir();
  if (directory_.empty()) directory_ = path;  // the system cannot say; keep what we entered
  if (OnDirectoryLine) OnDirectoryLine(directory_);

  platform::VolumeSpace space;
  diskLine_ = platform::GetVolumeSpace(".", space) ? DiskSpaceLine(space.free, space.total)
                                                   : std::string();
  if (OnInfoLine) OnInfoLine(diskLine_);

  marks_.clear();
  markedCount_ = 0;
  cursor_ = 0;
  FreeEntries();

  // Only the root has no "..": every other directory gets one, even from a
  // file system that does not report it.
  const bool atRoot = directory_ == "/";
  bool sawDotDot = false;
  platform::EnumerateDirectory(".", [&](platform::FindData&& fd) {
    if (fd.name == ".") return;
    if (fd.name == "..") {
      if (atRoot || sawDotDot) return;
      sawDotDot = true;
    }
    auto e = std::make_unique<TFileEntry>();
    e->FileAttributes = fd.attributes;
    e->CreationTime = fd.creationTime;
    e->LastAccessTime = fd.lastAccessTime;
    e->LastWriteTime = fd.lastWriteTime;
    e->FileSize = fd.size;
    e->FileName = std::move(fd.name);
    entries_.push_back(std::move(e));
  });
  if (!atRoot && !sawDotDot && !entries_.empty()) {
    auto e = std::make_unique<TFileEntry>();
    e->FileName = "..";
    e->FileAttributes = platform::kAttrDirectory;
    entries_.insert(entries_.begin(), std::move(e));
  }
  if (entries_.size() > 1) SortEntries(sortType_);
  marks_.assign(entries_.size(), 0);

  if (!remembered.empty()) platform::SetCurrentDir(remembered);
  if (OnListingChanged) OnListingChanged();
  return true;
}

void TPanelModel::SetSortType(uint8_t value) {
  sortType_ = value;
  if (!directory_.empty()) ReadDirectory(directory_);
}

namespace {

// Sort record: the group ("..", directory, file) and the precomputed keys, so
// that the comparison never touches the locale.
struct SortItem {
  int group;           // 0 "..", 1 directory, 2 file
  std::string nameKey;
  std::string extKey;  // extension order only
  uint64_t number;     // size or creation time
  TFileEntry* entry;
};

}  // namespace

void TPanelModel::SortEntries(uint8_t order) {
  if (order > kSortByTime) order = kSortByName;
  std::vector<SortItem> items;
  items.reserve(entries_.size());
  for (auto& e : entries_) {
    SortItem it;
    it.group = e->IsDotDot() ? 0 : e->IsDirectory() ? 1 : 2;
    it.nameKey = platform::CollationKey(e->FileName);
    if (order == kSortByExt) it.extKey = platform::CollationKey(ExtensionOf(e->FileName));
    it.number = order == kSortBySize ? e->FileSize : e->CreationTime;
    it.entry = e.release();
    items.push_back(std::move(it));
  }
  auto byName = [](const SortItem& a, const SortItem& b) {
    if (a.nameKey != b.nameKey) return a.nameKey < b.nameKey;
    // Names equal but for case: keep a fixed order, by the real bytes.
    return a.entry->FileName < b.entry->FileName;
  };
  std::sort(items.begin(), items.end(), [&](const SortItem& a, const SortItem& b) {
    if (a.group != b.group) return a.group < b.group;
    switch (order) {
      case kSortByExt:
        if (a.extKey != b.extKey) return a.extKey < b.extKey;
        break;
      case kSortBySize:
      case kSortByDate:
      case kSortByTime:
        if (a.number != b.number) return a.number > b.number;  // larger / newer first
        break;
      default:
        break;
    }
    return byName(a, b);
  });
  for (size_t i = 0; i < items.size(); ++i) entries_[i].reset(items[i].entry);
}

const TFileEntry* TPanelModel::CurrentEntry() const {
  if (cursor_ < 0 || cursor_ >= Count()) return nullptr;
  return entries_[cursor_].get();
}

int TPanelModel::IndexOfName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (entries_[i]->FileName == name) return i;
  return 0;
}

std::vector<const TFileEntry*> TPanelModel::GetMarkedEntries() const {
  std::vector<const TFileEntry*> out;
  if (markedCount_ > 0) {
    for (int i = 0; i < Count(); ++i)
      if (marks_[i] && !entries_[i]->IsDotDot()) out.push_back(entries_[i].get());
  }
  if (out.empty()) {
    const TFileEntry* cur = CurrentEntry();
    if (cur != nullptr && !cur->IsDotDot()) out.push_back(cur);
  }
  return out;
}

void TPanelModel::FreeEntries() {
  entries_.clear();
  marks_.clear();
  markedCount_ = 0;
  cursor_ = 0;
}

void TPanelModel::SetEntries(Entries entries) {
  FreeEntries();
  entries_ = std::move(entries);
  if (entries_.size() > 1) SortEntries(sortType_);
  marks_.assign(entries_.size(), 0);
  if (OnListingChanged) OnListingChanged();
}

void TPanelModel::SetCursor(int index) {
  if (entries_.empty()) {
    cursor_ = 0;
    return;
  }
  cursor_ = std::clamp(index, 0, Count() - 1);
}

void TPanelModel::SetMarked(int index, bool marked) {
  if (index < 0 || index >= Count() || (marks_[index] != 0) == marked) return;
  marks_[index] = marked ? 1 : 0;
  markedCount_ += marked ? 1 : -1;
}

}  // namespace vantrel::panels
