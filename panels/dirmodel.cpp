// dirmodel.cpp - reading, sorting and describing a panel's directory.
#include "panels/dirmodel.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "panels/listing_order.h"
#include "panels/panel_source.h"
#include "platform/text.h"
#include "platform/wildcard.h"

namespace vantrel::panels {

using platform::FileTime;

// Listings larger than this are freed on a thread of their own.
static constexpr size_t kFreeHereAtMost = 20000;

// Where the extension of `name` starts (its last "."), or npos. Leading dots
// belong to the name: ".profile" and "..conf" have none, ".bashrc.bak" has
// ".bak".
static size_t ExtensionStart(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return dot;
  return name.find_first_not_of('.') < dot ? dot : std::string_view::npos;
}

std::string ExtensionOf(std::string_view name) {
  const size_t dot = ExtensionStart(name);
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
}

std::string SizeText(const TFileEntry& e) {
  return e.IsDirectory() ? "DIR" : platform::FormatThousands(e.FileSize);
}

std::string DateText(FileTime t) {
  if (t == 0) return {};  // not known (a directory an archive only implies)
  const platform::LocalTime lt = platform::ToLocalTime(t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%02d", lt.day, lt.month, lt.year);
  return buf;
}

std::string TimeText(FileTime t) {
  if (t == 0) return {};
  const platform::LocalTime lt = platform::ToLocalTime(t);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d", lt.hour, lt.minute);
  return buf;
}

std::string NameText(const TFileEntry& e) {
  if (e.IsDirectory()) return e.FileName;
  const size_t dot = ExtensionStart(e.FileName);
  return dot == std::string::npos ? e.FileName : e.FileName.substr(0, dot);
}

std::string ExtText(const TFileEntry& e) {
  return e.IsDirectory() ? std::string() : ExtensionOf(e.FileName);
}

// The wording in use. The lines are also made on the listing's threads, so
// they read a copy.
static std::mutex g_textsMutex;
static TPanelTexts g_texts;

TPanelTexts PanelTexts() {
  std::lock_guard lock(g_textsMutex);
  return g_texts;
}

void SetPanelTexts(const TPanelTexts& texts) {
  std::lock_guard lock(g_textsMutex);
  g_texts = texts;
}

std::string FillIn(std::string_view text, std::string_view first, std::string_view second) {
  std::string out;
  out.reserve(text.size() + first.size() + second.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == '1' || text[i + 1] == '2')) {
      out += text[i + 1] == '1' ? first : second;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string_view CountedForm(const TPanelTexts& texts, std::string_view text, uint64_t n) {
  size_t form = texts.formOf ? texts.formOf(n) : (n == 1 ? 0 : 1);
  size_t start = 0;  // of the form
  for (; form > 0; --form) {
    const size_t bar = text.find('|', start);
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  const size_t end = text.find('|', start);
  return text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

TLinePieces FillInPieces(std::string_view text, std::string_view first, std::string_view second) {
  // FillIn reads placeholders from the left, so the first "%1" found is the
  // first one it fills.
  const size_t at = text.find("%1");
  if (at == std::string_view::npos) return {FillIn(text, first, second), {}, {}};
  return {FillIn(text.substr(0, at), first, second), std::string(first), FillIn(text.substr(at + 2), first, second)};
}

TLinePieces InfoLinePieces(const TFileEntry& e) {
  const TPanelTexts texts = PanelTexts();
  if (e.IsDirectory()) return FillInPieces(texts.directoryLine, e.FileName);
  if (!e.HasPackedSize) return FillInPieces(CountedForm(texts, texts.fileLine, e.FileSize), e.FileName, SizeText(e));
  TLinePieces pieces = FillInPieces(CountedForm(texts, texts.packedFileLine, e.FileSize), e.FileName, SizeText(e));
  pieces.tail += FillIn(CountedForm(texts, texts.packedPart, e.PackedSize), platform::FormatThousands(e.PackedSize));
  return pieces;
}

std::string InfoLine(const TFileEntry& e) { return InfoLinePieces(e).Whole(); }

namespace {

// How many characters `a` and `b` have in common at their starts (`forward`)
// or at their ends.
size_t Common(std::string_view a, std::string_view b, bool forward) {
  size_t n = 0;
  const size_t most = std::min(a.size(), b.size());
  while (n < most && (forward ? a[n] == b[n] : a[a.size() - 1 - n] == b[b.size() - 1 - n])) ++n;
  return n;
}

}  // namespace

TLinePieces EntryLinePieces(const TFileEntry& e, const std::string& line) {
  const std::string& name = e.FileName;
  if (name.empty()) return {line, {}, {}};
  // A source words its line around the usual one: of the places the name is
  // found, the one most like the usual line around it (a short name may also
  // be found inside the words).
  const TLinePieces usual = InfoLinePieces(e);
  size_t best = std::string::npos, bestScore = 0;
  for (size_t at = line.find(name); at != std::string::npos; at = line.find(name, at + 1)) {
    const std::string_view around(line);
    const size_t score = Common(around.substr(0, at), usual.head, false) +
                         Common(around.substr(at + name.size()), usual.tail, true);
    if (best == std::string::npos || score > bestScore) best = at, bestScore = score;
  }
  if (best == std::string::npos) return {line, {}, {}};
  return {line.substr(0, best), name, line.substr(best + name.size())};
}

// One number of the disk-space line: megabytes above 1,048,576 bytes, else bytes.
static std::string SpacePart(const TPanelTexts& texts, uint64_t bytes) {
  if (bytes > 1048576ULL)
    return FillIn(texts.megabytes, platform::FormatFixed(static_cast<double>(bytes) / 1048576.0, 2));
  return FillIn(texts.bytes, platform::FormatFixed(static_cast<double>(bytes), 2));
}

std::string DiskSpaceLine(uint64_t freeBytes, uint64_t totalBytes) {
  const TPanelTexts texts = PanelTexts();
  return FillIn(texts.spaceLine, SpacePart(texts, freeBytes), SpacePart(texts, totalBytes));
}

// Every entry of `path` but ".", in the order the system returns them. Only
// the root has no "..": every other directory gets one, even from a file
// system that does not report it.
static TPanelModel::Entries ReadEntries(const std::string& path, bool atRoot) {
  TPanelModel::Entries entries;
  bool sawDotDot = false;
  platform::EnumerateDirectory(path, [&](platform::FindData&& fd) {
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
    entries.push_back(std::move(e));
  });
  if (!atRoot && !sawDotDot && !entries.empty()) {
    auto e = std::make_unique<TFileEntry>();
    e->FileName = "..";
    e->FileAttributes = platform::kAttrDirectory;
    entries.insert(entries.begin(), std::move(e));
  }
  return entries;
}

std::string MarkedLine(int count, uint64_t bytes) { return MarkedLinePieces(count, bytes).Whole(); }

TLinePieces MarkedLinePieces(int count, uint64_t bytes) {
  const TPanelTexts texts = PanelTexts();
  const auto marked = static_cast<uint64_t>(std::max(count, 0));
  const std::string_view form = CountedForm(texts, texts.markedLine, bytes);
  const std::string countText =
      FillIn(CountedForm(texts, texts.markedCount, marked), platform::FormatThousands(marked));
  return FillInPieces(form, countText, platform::FormatThousands(bytes));
}

namespace {

// The code points of `text` in lower case (invalid bytes stand for themselves).
std::u32string Folded(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) out.push_back(platform::FoldedCodePoint(text, i));
  return out;
}

}  // namespace

bool QuickSearchMatches(std::string_view name, std::string_view pattern) {
  return TQuickSearch(pattern).Matches(name);
}

TQuickSearch::TQuickSearch(std::string_view pattern) : pattern_(Folded(pattern)) {
  plain_ = pattern_.find_first_of(U"*?") == std::u32string::npos;
  if (!plain_) pattern_.push_back(U'*');  // a prefix: anything may follow
}

bool TQuickSearch::Matches(std::string_view name) const {
  if (plain_) {
    size_t at = 0;
    for (const char32_t want : pattern_) {
      if (at >= name.size() || platform::FoldedCodePoint(name, at) != want) return false;
    }
    return true;
  }
  name_.clear();
  for (size_t i = 0; i < name.size();) name_.push_back(platform::FoldedCodePoint(name, i));
  return platform::MatchWildcardChars(pattern_, name_);
}

void TPanelModel::RewordDiskLine() {
  platform::VolumeSpace space;
  if (source_ != nullptr)
    diskLine_ = source_->SummaryLine();
  else
    diskLine_ = !directory_.empty() && platform::GetVolumeSpace(directory_, space)
                  ? DiskSpaceLine(space.free, space.total)
                  : std::string();
  if (OnInfoLine) OnInfoLine(diskLine_);
}

// `entries` with ".." in front (every place of a source has one: at the
// root it leaves the source), in the order of `sortType`.
TPanelModel::Entries TPanelModel::SortedPlace(Entries entries, uint8_t sortType, bool descending) {
  auto up = std::make_unique<TFileEntry>();
  up->FileName = "..";
  up->FileAttributes = platform::kAttrDirectory;
  entries.insert(entries.begin(), std::move(up));
  TPanelModel sorter;
  sorter.sortType_ = sortType;
  sorter.descending_ = descending;
  sorter.entries_ = std::move(entries);
  sorter.SortEntries(sortType);
  return std::move(sorter.entries_);
}

bool TPanelModel::ReadDirectory(const std::string& path, std::string* error) {
  // A place of the source shown, or of one it was opened from: its records
  // are at hand, nothing is read again.
  for (std::shared_ptr<TPanelSource> s = source_; s != nullptr; s = s->Outer()) {
    std::string place;
    if (PlaceBelow(s->Root(), path, place)) return ReadPlace(s, place, error);
  }
  if (IsSchemePath(path)) {
    // A place of no file: only a source shows it.
    std::string place;
    std::string openError = "Unknown place";
    std::shared_ptr<TPanelSource> source = SourceOpener() ? SourceOpener()(path, place, &openError) : nullptr;
    if (source != nullptr) return ReadPlace(std::move(source), place, error);
    if (error) *error = openError;
    return false;
  }
  const std::string remembered = platform::GetCurrentDir();
  if (!platform::SetCurrentDir(path)) {
    const int enterError = errno;
    if (const TSourceOpener& open = SourceOpener()) {
      const std::string absolute =
          !path.empty() && path[0] == '/' ? path : platform::JoinPath(remembered, path);
      std::string place;
      std::string openError;
      if (std::shared_ptr<TPanelSource> source = open(absolute, place, &openError))
        return ReadPlace(std::move(source), place, error);
      if (!openError.empty()) {
        if (error) *error = openError;
        return false;
      }
    }
    if (error) *error = platform::ErrorText(enterError);
    return false;
  }
  listingTitle_.clear();
  source_.reset();
  place_.clear();
  reading_ = false;
  directory_ = platform::GetCurrentDir();
  if (directory_.empty()) directory_ = path;  // the system cannot say; keep what we entered
  if (OnDirectoryLine) OnDirectoryLine(directory_);

  FreeEntries();
  entries_ = ReadEntries(".", directory_ == "/");
  if (entries_.size() > 1) SortEntries(sortType_);
  marks_.assign(entries_.size(), 0);
  // The disk-space line is told after the old listing's marks are gone: the
  // line shows the marks too.
  platform::VolumeSpace space;
  diskLine_ = platform::GetVolumeSpace(".", space) ? DiskSpaceLine(space.free, space.total)
                                                   : std::string();
  if (OnInfoLine) OnInfoLine(diskLine_);

  if (!remembered.empty()) platform::SetCurrentDir(remembered);
  if (OnListingChanged) OnListingChanged();
  return true;
}

bool TPanelModel::ReadPlace(std::shared_ptr<TPanelSource> source, const std::string& place, std::string* error) {
  if (source == nullptr) return false;
  Entries listed;
  if (!source->List(place, listed, error)) return false;
  listingTitle_.clear();
  reading_ = false;
  source_ = std::move(source);
  place_ = place;
  directory_ = PlacePath(source_->Root(), place_);
  if (OnDirectoryLine) OnDirectoryLine(directory_);
  FreeEntries();
  entries_ = SortedPlace(std::move(listed), sortType_, descending_);
  marks_.assign(entries_.size(), 0);
  diskLine_ = source_->SummaryLine();
  if (OnInfoLine) OnInfoLine(diskLine_);  // after the marks left went
  if (OnListingChanged) OnListingChanged();
  return true;
}

void TPanelModel::BeginReading(const std::string& directory) {
  listingTitle_.clear();
  source_.reset();
  place_.clear();
  directory_ = directory;
  reading_ = true;
  FreeEntries();
  diskLine_.clear();
  if (OnDirectoryLine) OnDirectoryLine(directory_);
  if (OnInfoLine) OnInfoLine(diskLine_);
  if (OnListingChanged) OnListingChanged();
}

void TPanelModel::AddRows(Entries added, const std::vector<uint32_t>& positions) {
  ++generation_;
  const bool wasEmpty = entries_.empty();
  const size_t before = entries_.size();
  const size_t total = before + added.size();
  const bool placed = positions.size() == added.size() && !added.empty() &&
                      std::is_sorted(positions.begin(), positions.end()) && positions.back() < total &&
                      std::adjacent_find(positions.begin(), positions.end()) == positions.end();
  entries_.resize(total);
  marks_.resize(total, 0);
  if (!placed) {
    // No places (or places that do not fit): the rows follow the others.
    std::move(added.begin(), added.end(), entries_.begin() + static_cast<ptrdiff_t>(before));
    return;
  }
  // From the back: each old row moves up by the number of new rows placed
  // before it, so nothing is overwritten before it has moved, and the old
  // rows between two new ones move as one run.
  size_t old = before;  // old rows [0, old) not moved yet
  size_t end = total;   // places [end, total) filled
  int cursor = cursor_;
  for (size_t k = added.size(); k-- > 0;) {
    const size_t at = positions[k];
    const size_t run = end - at - 1;  // old rows between this new one and the next
    const size_t from = old - run;
    std::move_backward(entries_.begin() + static_cast<ptrdiff_t>(from),
                       entries_.begin() + static_cast<ptrdiff_t>(old), entries_.begin() + static_cast<ptrdiff_t>(end));
    std::move_backward(marks_.begin() + static_cast<ptrdiff_t>(from),
                       marks_.begin() + static_cast<ptrdiff_t>(old), marks_.begin() + static_cast<ptrdiff_t>(end));
    if (static_cast<size_t>(cursor_) >= from && static_cast<size_t>(cursor_) < old)
      cursor = static_cast<int>(static_cast<size_t>(cursor_) + (end - old));
    entries_[at] = std::move(added[k]);
    marks_[at] = 0;
    old = from;
    end = at;
  }
  // The first rows of a listing: the cursor starts at the top.
  cursor_ = wasEmpty ? 0 : cursor;
}

void TPanelModel::EndReading(std::string diskLine) {
  reading_ = false;
  diskLine_ = std::move(diskLine);
  if (OnInfoLine) OnInfoLine(diskLine_);
}

bool TPanelModel::ListAgain(Entries& entries, std::string& diskLine) const {
  if (source_ == nullptr) return ListDirectory(directory_, sortType_, descending_, entries, diskLine);
  Entries listed;
  if (!source_->List(place_, listed, nullptr)) return false;
  entries = SortedPlace(std::move(listed), sortType_, descending_);
  diskLine = source_->SummaryLine();
  return true;
}

bool TPanelModel::ListDirectory(const std::string& directory, uint8_t sortType, bool descending,
                                Entries& entries, std::string& diskLine) {
  if (!platform::IsDirectory(directory)) return false;
  TPanelModel sorter;
  sorter.sortType_ = sortType;
  sorter.descending_ = descending;
  sorter.entries_ = ReadEntries(directory, directory == "/");
  if (sorter.entries_.size() > 1) sorter.SortEntries(sortType);
  entries = std::move(sorter.entries_);
  platform::VolumeSpace space;
  diskLine = platform::GetVolumeSpace(directory, space) ? DiskSpaceLine(space.free, space.total)
                                                        : std::string();
  return true;
}

bool TPanelModel::Refresh(const std::string& directory, Entries entries, std::string diskLine,
                          Entries* previous) {
  if (directory != directory_ || IsListing() || reading_) return false;
  const TFileEntry* current = CurrentEntry();
  const std::string cursorName = current != nullptr ? current->FileName : std::string();
  const int oldCursor = cursor_;
  std::unordered_set<std::string> marked;
  if (markedCount_ > 0) {
    for (int i = 0; i < Count(); ++i)
      if (marks_[i]) marked.insert(entries_[i]->FileName);
  }
  if (previous != nullptr && reorder_ == nullptr)
    *previous = std::move(entries_);
  else
    LetGo(std::move(entries_));
  entries_ = std::move(entries);
  ++generation_;
  marks_.assign(entries_.size(), 0);
  markedCount_ = 0;
  markedBytes_ = 0;
  cursor_ = -1;
  for (int i = 0; i < Count(); ++i) {
    const std::string& name = entries_[i]->FileName;
    if (cursor_ < 0 && name == cursorName) cursor_ = i;
    if (!marked.empty() && marked.count(name) != 0) SetMarked(i, true);
  }
  if (cursor_ < 0) cursor_ = entries_.empty() ? 0 : std::clamp(oldCursor, 0, Count() - 1);
  if (diskLine != diskLine_) {
    diskLine_ = std::move(diskLine);
    if (OnInfoLine) OnInfoLine(diskLine_);
  }
  if (OnListingRefreshed) OnListingRefreshed();
  return true;
}

void TPanelModel::SetSortType(uint8_t value) { SetSortOrder(value, descending_); }

void TPanelModel::SetSortDescending(bool descending) { SetSortOrder(sortType_, descending); }

void TPanelModel::SetSortOrder(uint8_t type, bool descending, bool reorder) {
  sortType_ = type;
  descending_ = descending;
  // A directory being read is read again in the new order by its reader.
  if (!reorder || reading_ || entries_.size() < 2) return;
  Reorder();
}

// A reordering on a thread of its own. The thread reads the rows through
// pointers: rows the listing lets go meanwhile wait in `kept` until it is
// done.
struct TPanelModel::TReorder {
  std::mutex mutex;
  TPanelModel* model;  // null once the model is gone
  bool running = true;
  Entries kept;
  uint64_t generation;
  uint8_t sortType;
  bool descending;
  std::vector<uint32_t> order;
};

TPanelModel::~TPanelModel() {
  if (reorder_ == nullptr) return;
  std::lock_guard lock(reorder_->mutex);
  reorder_->model = nullptr;
  if (reorder_->running) {
    for (auto& e : entries_) reorder_->kept.push_back(std::move(e));
  }
}

void TPanelModel::Reorder() {
  if (reorder_ != nullptr) {
    reorderAgain_ = true;  // the one under way is followed by another
    return;
  }
  std::vector<const TFileEntry*> rows(entries_.size());
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = entries_[i].get();
  if (!PostToWindow || rows.size() <= kFreeHereAtMost) {
    ApplyOrder(TListingOrder(sortType_, descending_).OrderOf(rows));
    return;
  }
  auto job = std::make_shared<TReorder>();
  job->model = this;
  job->generation = generation_;
  job->sortType = sortType_;
  job->descending = descending_;
  reorder_ = job;
  std::thread([job, rows = std::move(rows), post = PostToWindow]() mutable {
    std::vector<uint32_t> order = TListingOrder(job->sortType, job->descending).OrderOf(rows);
    Entries kept;
    std::lock_guard lock(job->mutex);
    job->running = false;  // the rows are not read any more
    kept = std::move(job->kept);
    job->order = std::move(order);
    // Under the lock: the model (and the panel that posts) are still there.
    if (job->model != nullptr) post([job] { if (job->model != nullptr) job->model->ReorderDone(*job); });
  }).detach();
}

void TPanelModel::ReorderDone(TReorder& job) {
  reorder_.reset();
  const bool again = reorderAgain_;
  reorderAgain_ = false;
  if (!again && job.generation == generation_ && job.sortType == sortType_ && job.descending == descending_) {
    ApplyOrder(job.order);
    return;
  }
  // The rows or the order changed meanwhile: what was worked out is of no
  // use; a reader under way sorts what it reads itself.
  if (!reading_ && entries_.size() > 1) Reorder();
}

void TPanelModel::ApplyOrder(const std::vector<uint32_t>& order) {
  if (order.size() != entries_.size()) return;
  Entries sorted(entries_.size());
  std::vector<uint8_t> marks(entries_.size());
  int cursor = 0;
  for (size_t k = 0; k < order.size(); ++k) {
    sorted[k] = std::move(entries_[order[k]]);
    marks[k] = marks_[order[k]];
    if (static_cast<int>(order[k]) == cursor_) cursor = static_cast<int>(k);
  }
  entries_ = std::move(sorted);
  marks_ = std::move(marks);
  cursor_ = cursor;
  ++generation_;
  if (OnListingRefreshed) OnListingRefreshed();
}

void TPanelModel::LetGo(Entries old) {
  if (old.empty()) return;
  if (reorder_ != nullptr) {
    std::lock_guard lock(reorder_->mutex);
    if (reorder_->running) {
      for (auto& e : old) reorder_->kept.push_back(std::move(e));
      return;
    }
  }
  if (old.size() > kFreeHereAtMost)
    std::thread([old = std::move(old)]() mutable { old.clear(); }).detach();
}

TSortKey SortKeyOf(const TFileEntry& e, uint8_t order) {
  if (order > kSortByTime) order = kSortByName;
  TSortKey key;
  key.group = e.IsDotDot() ? 0 : e.IsDirectory() ? 1 : 2;
  key.nameKey = platform::CollationKey(e.FileName);
  if (order == kSortByExt) key.extKey = platform::CollationKey(ExtensionOf(e.FileName));
  key.number = order == kSortBySize ? e.FileSize : e.CreationTime;
  key.name = e.FileName;
  return key;
}

bool SortsBefore(const TSortKey& x, const TSortKey& y, uint8_t order, bool descending) {
  if (x.group != y.group) return x.group < y.group;
  const TSortKey& a = descending ? y : x;
  const TSortKey& b = descending ? x : y;
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
  if (a.nameKey != b.nameKey) return a.nameKey < b.nameKey;
  // Names equal but for case: keep a fixed order, by the real bytes.
  return a.name < b.name;
}

void TPanelModel::SortEntries(uint8_t order) {
  if (order > kSortByTime) order = kSortByName;
  std::vector<std::pair<TSortKey, TFileEntry*>> items;
  items.reserve(entries_.size());
  for (auto& e : entries_) {
    TSortKey key = SortKeyOf(*e, order);
    items.emplace_back(std::move(key), e.release());
  }
  const bool descending = descending_;
  std::sort(items.begin(), items.end(), [&](const auto& x, const auto& y) {
    return SortsBefore(x.first, y.first, order, descending);
  });
  for (size_t i = 0; i < items.size(); ++i) entries_[i].reset(items[i].second);
  ++generation_;
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
  LetGo(std::move(entries_));
  entries_ = Entries();
  ++generation_;
  marks_.clear();
  markedCount_ = 0;
  markedBytes_ = 0;
  cursor_ = 0;
}

void TPanelModel::SetEntries(Entries entries) {
  FreeEntries();
  entries_ = std::move(entries);
  if (entries_.size() > 1) SortEntries(sortType_);
  marks_.assign(entries_.size(), 0);
  if (OnInfoLine) OnInfoLine(diskLine_);  // the marks it showed went
  if (OnListingChanged) OnListingChanged();
}

void TPanelModel::ShowListing(const std::string& directory, const std::string& title, Entries entries) {
  FreeEntries();
  reading_ = false;
  source_.reset();
  place_.clear();
  directory_ = directory;
  listingTitle_ = title.empty() ? directory : title;
  auto up = std::make_unique<TFileEntry>();
  up->FileName = "..";
  up->FileAttributes = platform::kAttrDirectory;
  entries_.push_back(std::move(up));
  for (auto& e : entries) entries_.push_back(std::move(e));
  if (entries_.size() > 1) SortEntries(sortType_);
  marks_.assign(entries_.size(), 0);
  markedCount_ = 0;
  markedBytes_ = 0;
  cursor_ = 0;
  if (OnDirectoryLine) OnDirectoryLine(listingTitle_);
  if (OnInfoLine) OnInfoLine(diskLine_);  // the marks it showed went
  if (OnListingChanged) OnListingChanged();
}

namespace {

// Whether a leading part of `name` (a path below `dir`) is a file: an
// archive that holds the rest.
bool ThroughArchiveFile(const std::string& dir, const std::string& name) {
  for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
    platform::FindData data;
    if (!platform::StatPath(platform::JoinPath(dir, name.substr(0, slash)), data)) return false;
    if ((data.attributes & platform::kAttrDirectory) == 0) return true;
  }
  return false;
}

}  // namespace

void TPanelModel::RestatListing() {
  if (!IsListing()) return;
  Entries kept;
  for (auto& e : entries_) {
    if (!e->IsDotDot()) {
      platform::FindData data;
      if (!platform::StatPath(platform::JoinPath(directory_, e->FileName), data)) {
        // Found inside an archive: kept as found while the archive is there.
        if (!ThroughArchiveFile(directory_, e->FileName)) continue;
        kept.push_back(std::make_unique<TFileEntry>(*e));
        continue;
      }
      // A new record: a reordering may still be reading the old one.
      auto now = std::make_unique<TFileEntry>(*e);
      now->FileAttributes = data.attributes;
      now->FileSize = data.size;
      now->LastWriteTime = data.lastWriteTime;
      now->CreationTime = data.creationTime;
      now->LastAccessTime = data.lastAccessTime;
      kept.push_back(std::move(now));
      continue;
    }
    kept.push_back(std::make_unique<TFileEntry>(*e));
  }
  const std::string title = listingTitle_;
  listingTitle_.clear();  // Refresh keeps the cursor and the marks by name
  Refresh(directory_, std::move(kept), diskLine_);
  listingTitle_ = title;
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
  const uint64_t size = entries_[index]->IsDirectory() ? 0 : entries_[index]->FileSize;
  if (marked)
    markedBytes_ += size;
  else
    markedBytes_ -= size;
}

// ---------------------------------------------------------------------------
// Sources

static TSourceOpener& OpenerSlot() {
  static TSourceOpener opener;
  return opener;
}

void SetSourceOpener(TSourceOpener opener) { OpenerSlot() = std::move(opener); }

const TSourceOpener& SourceOpener() { return OpenerSlot(); }

bool IsSchemePath(const std::string& path) {
  size_t i = 0;
  while (i < path.size() && ((path[i] >= 'a' && path[i] <= 'z') || (i > 0 && path[i] >= '0' && path[i] <= '9'))) ++i;
  return i > 0 && path.compare(i, 3, "://") == 0;
}

bool PlaceBelow(const std::string& root, const std::string& path, std::string& place) {
  if (root.empty() || path.compare(0, root.size(), root) != 0) return false;
  if (path.size() == root.size()) {
    place.clear();
    return true;
  }
  // "/a/x.zip2" is not inside "/a/x.zip"; "trash:///a" is inside "trash:///".
  if (path[root.size()] != '/' && root.back() != '/') return false;
  size_t from = root.size();
  while (from < path.size() && path[from] == '/') ++from;
  size_t to = path.size();
  while (to > from && path[to - 1] == '/') --to;
  place = path.substr(from, to - from);
  return true;
}

std::string PlacePath(const std::string& root, const std::string& place) {
  if (place.empty()) return root;
  return root.back() == '/' ? root + place : root + "/" + place;
}

}  // namespace vantrel::panels
