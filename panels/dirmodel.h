// dirmodel.h - the listing behind one file panel, without any window.
//
// A panel lists one directory: ReadDirectory enters it, enumerates every entry
// into its own record, sorts the records (".." first, then directories, then
// files, each group by the chosen key) and reports the directory line and the
// disk-space line. The cursor and the marks live here too, so the commands and
// the tests see exactly what the panel control shows.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fs.h"

namespace vantrel::panels {

// One directory entry exactly as the enumeration reported it. The short 8.3
// name of other systems does not exist here and stays empty.
struct TFileEntry {
  uint32_t FileAttributes = 0;
  platform::FileTime CreationTime = 0;
  platform::FileTime LastAccessTime = 0;
  platform::FileTime LastWriteTime = 0;
  uint64_t FileSize = 0;
  std::string FileName;
  std::string AlternateFileName;
  // Inside an archive: the entry's stored (compressed) size, when known.
  bool HasPackedSize = false;
  uint64_t PackedSize = 0;

  bool IsDirectory() const { return (FileAttributes & platform::kAttrDirectory) != 0; }
  bool IsDotDot() const { return FileName == ".."; }
};

// Sort orders of SortType.
enum : uint8_t {
  kSortByName = 0,
  kSortByExt = 1,
  kSortBySize = 2,
  kSortByDate = 3,
  kSortByTime = 4,
};

// The wording of the lines below, which a translation may change. In each
// text "%1" and "%2" stand for what is filled in.
struct TPanelTexts {
  std::string directoryLine = "[%1]:  DIRECTORY";  // the directory's name
  std::string fileLine = "%1- size:%2 bytes.";      // the file's name, its size
  std::string sizeLine = "%1- size:%2 bytes";       // Ctrl+G: the name, the size
  std::string spaceLine = "%1 of %2 free";          // free space, total space
  std::string megabytes = "%1 Mb";
  std::string bytes = "%1 bytes";
  std::string markedLine = "Marked %1: %2 bytes";   // how many (MarkedCount), their bytes
  std::string markedCount = "%1";                   // how many are marked: MarkedLine's %1
  std::string packedFileLine = "%1- size:%2 bytes, packed:";  // an archive entry: name, size
  std::string packedPart = "%1 bytes.";                         // its packed size
  std::string reading = "Reading\u2026";  // an empty panel whose directory is still being read
  // A line with a count of bytes (FileLine, SizeLine, MarkedLine,
  // PackedFileLine, PackedPart) may give one form for each plural form of
  // the language, separated by "|": `formOf` says which form a count takes
  // (empty: the first for 1, the second for every other count). MarkedLine
  // takes the form of the bytes, MarkedCount the form of the count of
  // marked entries.
  std::function<size_t(uint64_t)> formOf;
};
// The wording in use (a copy: lines are also made on the listing's threads).
TPanelTexts PanelTexts();
void SetPanelTexts(const TPanelTexts& texts);
// `text` with each "%1" replaced by `first` and each "%2" by `second`.
std::string FillIn(std::string_view text, std::string_view first, std::string_view second = {});
// The form of a counted text that `n` takes (the last form for a count
// beyond the forms given; the whole text when it has one).
std::string_view CountedForm(const TPanelTexts& texts, std::string_view text, uint64_t n);

// Texts shown for an entry and a volume.
std::string ExtensionOf(std::string_view name);   // from the last "." on, dot included; none when
                                                  // only leading dots (".profile")
std::string SizeText(const TFileEntry& e);        // "DIR" or 1,234,567
std::string DateText(platform::FileTime t);       // 05.12.2026 (local time); empty for 0 (not known)
std::string TimeText(platform::FileTime t);       // 09:05 (local time); empty for 0
std::string NameText(const TFileEntry& e);        // the name without the extension; whole for a directory
std::string ExtText(const TFileEntry& e);         // the extension; empty for a directory
std::string InfoLine(const TFileEntry& e);        // [dir]:  DIRECTORY / name- size:1,234 bytes.
std::string DiskSpaceLine(uint64_t freeBytes, uint64_t totalBytes);
// A line in pieces around one thing in it: the words before, the thing, the
// words after.
struct TLinePieces {
  std::string head, middle, tail;
  std::string Whole() const { return head + middle + tail; }
};
// What the info line says about the marks: "Marked 3: 12,345 bytes", the
// count and the bytes each with the form it takes.
std::string MarkedLine(int count, uint64_t bytes);
// The same line in pieces around the count of marked entries (MarkedCount
// filled in). The count is empty, and the whole line the head, when the
// wording has no place for it.
TLinePieces MarkedLinePieces(int count, uint64_t bytes);
// FillIn(text, first, second) in pieces around the first "%1" (the whole
// line the head when the text has none).
TLinePieces FillInPieces(std::string_view text, std::string_view first, std::string_view second = {});
// InfoLine in pieces around the entry's name, which a narrow panel shortens.
TLinePieces InfoLinePieces(const TFileEntry& e);
// `line` (InfoLine or what a source says instead) in pieces around the
// entry's name in it: where the words around it are most like InfoLine's,
// the first such place on a tie; the whole line the head when the name is
// not in it.
TLinePieces EntryLinePieces(const TFileEntry& e, const std::string& line);

// Quick search: `name` starts with `pattern`, without regard to case (any
// script), where "*" stands for any run of characters and "?" for one.
bool QuickSearchMatches(std::string_view name, std::string_view pattern);
// The same test for one pattern over many names (a panel of a million rows
// searched at every key): the pattern folded once, and a plain prefix
// compared only as far as the first letter that differs.
class TQuickSearch {
 public:
  explicit TQuickSearch(std::string_view pattern);
  bool Matches(std::string_view name) const;

 private:
  std::u32string pattern_;  // folded; with "*" at the end when it has wildcards
  bool plain_ = true;       // no "*" or "?": a prefix
  mutable std::u32string name_;
};

// What an entry is sorted by, worked out once per entry so that comparing
// two entries never consults the locale: the group (".." 0, directories 1,
// files 2), the collation keys and the size or time.
struct TSortKey {
  uint8_t group = 2;
  std::string nameKey;
  std::string extKey;  // the extension order only
  uint64_t number = 0;  // the size, or the creation time
  std::string name;     // the real bytes: the last word between names equal but for case
};
TSortKey SortKeyOf(const TFileEntry& e, uint8_t order);
// Whether `a` comes before `b` in `order`; the groups keep their order when
// `descending` reverses the rest.
bool SortsBefore(const TSortKey& a, const TSortKey& b, uint8_t order, bool descending);

class TPanelSource;

class TPanelModel {
 public:
  using Entries = std::vector<std::unique_ptr<TFileEntry>>;

  TPanelModel() = default;
  ~TPanelModel();
  TPanelModel(const TPanelModel&) = delete;
  TPanelModel& operator=(const TPanelModel&) = delete;

  // Receivers of the two lines a read produces (the directory line and the
  // disk-space line); either may be empty. The disk-space line is told
  // whenever the listing is replaced, once the new listing's marks (none)
  // are in place: a receiver that adds the marks to it sees the new ones.
  std::function<void(const std::string&)> OnDirectoryLine;
  std::function<void(const std::string&)> OnInfoLine;
  // Told after every read, before the caller places the cursor.
  std::function<void()> OnListingChanged;

  // Makes `path` the panel's directory and lists it. Returns false, changing
  // nothing, when the directory cannot be entered; `error` then receives the
  // system's text. A path inside the source shown (or, through the source
  // opener, inside a file that can be shown as a folder) lists that place.
  bool ReadDirectory(const std::string& path, std::string* error = nullptr);
  // Lists `place` of `source` (see TPanelSource); false, changing nothing,
  // when the source has no such place.
  bool ReadPlace(std::shared_ptr<TPanelSource> source, const std::string& place, std::string* error = nullptr);
  // The source shown and the place in it; null when a local directory is.
  const std::shared_ptr<TPanelSource>& Source() const { return source_; }
  const std::string& Place() const { return place_; }
  bool InSource() const { return source_ != nullptr; }
  // The current place listed again and sorted as the panel is (for a
  // Refresh); false when it is gone or cannot be listed.
  bool ListAgain(Entries& entries, std::string& diskLine) const;
  // The order of the listing: the rows shown are put in the new one,
  // without reading the directory again; the cursor and the marks stay on
  // their entries.
  void SetSortType(uint8_t value);
  // The order within each group ("..", directories, files) reversed; the
  // groups stay in their order. Like SetSortType.
  void SetSortDescending(bool descending);
  // Both at once (the rows stay as they are when `reorder` is false).
  void SetSortOrder(uint8_t type, bool descending, bool reorder = true);
  // Set by a panel in a window: runs what it is given on the window's
  // thread, later (it may be called on any thread). A large listing then
  // gets its new order worked out on a thread of its own and is shown in
  // the old one meanwhile (told through OnListingRefreshed when it
  // changes); without it, or for a small listing, the order changes at once.
  std::function<void(std::function<void()>)> PostToWindow;
  // A new order is being worked out away from the window's thread.
  bool Reordering() const { return reorder_ != nullptr; }
  bool SortDescending() const { return descending_; }
  void SortEntries(uint8_t order);

  const std::string& Directory() const { return directory_; }
  const Entries& GetEntries() const { return entries_; }
  uint8_t SortType() const { return sortType_; }
  int Count() const { return static_cast<int>(entries_.size()); }

  // The entry at the cursor, or nullptr for an empty panel.
  const TFileEntry* CurrentEntry() const;
  // The index of the first entry named exactly `name` (byte for byte); 0 when none.
  int IndexOfName(std::string_view name) const;
  // The marked entries without ".."; the cursor entry when none is marked;
  // empty when the panel is empty or the cursor stands on "..".
  std::vector<const TFileEntry*> GetMarkedEntries() const;
  // Empties the listing. A large one is freed on a thread of its own: a
  // million records take longer to free than the window may wait.
  void FreeEntries();
  // Replaces the listing with records built elsewhere, sorted in the current
  // order; marks clear, cursor on the first entry.
  void SetEntries(Entries entries);

  // A listing of its own: files from anywhere below `directory`, named by
  // their paths relative to it (a search's results), with ".." first and
  // `title` on the directory line. It stays until the next ReadDirectory;
  // a live re-read of the directory leaves it alone, and RestatListing
  // brings it up to date.
  void ShowListing(const std::string& directory, const std::string& title, Entries entries);
  bool IsListing() const { return !listingTitle_.empty(); }
  const std::string& ListingTitle() const { return listingTitle_; }
  // Examines the listing's entries again: gone ones leave it, the others
  // get their sizes and times; the cursor and the marks stay by name.
  void RestatListing();

  // A fresh listing of the same directory, read while the panel is shown
  // (see ListDirectory): the cursor stays on the entry of the same name (on
  // the same index when that entry vanished) and the marks stay on the
  // entries of the same names. Returns false, changing nothing, when the
  // listing is of another directory than the panel's. Told through
  // OnListingRefreshed.
  // The records it replaces go to `previous` when given (to be freed
  // elsewhere), else they are freed here.
  bool Refresh(const std::string& directory, Entries entries, std::string diskLine,
               Entries* previous = nullptr);
  std::function<void()> OnListingRefreshed;

  // A directory read in slices on another thread (see TDirectoryReading):
  // BeginReading makes `directory` the panel's, empty and marked as being
  // read (told through OnDirectoryLine and OnListingChanged); AddRows puts
  // each slice's records in, keeping the cursor and the marks on their
  // entries while the order changes around them; EndReading ends it with
  // the disk-space line. While reading, Refresh changes nothing.
  // `positions[k]` is the place of added[k] in the list with them
  // (ascending, see TListingSlice); without places the rows go last.
  void BeginReading(const std::string& directory);
  void AddRows(Entries added, const std::vector<uint32_t>& positions);
  void EndReading(std::string diskLine);
  bool Reading() const { return reading_; }

  // Lists `directory` (an absolute path) sorted by `sortType` without
  // touching the process's current directory, so that it can run on another
  // thread; `diskLine` receives its disk-space line. False when the
  // directory cannot be listed.
  static bool ListDirectory(const std::string& directory, uint8_t sortType, bool descending,
                            Entries& entries, std::string& diskLine);

  // Cursor (caret) and marks.
  int Cursor() const { return cursor_; }
  void SetCursor(int index);
  bool IsMarked(int index) const { return index >= 0 && index < Count() && marks_[index]; }
  void SetMarked(int index, bool marked);
  void ToggleMark(int index) { SetMarked(index, !IsMarked(index)); }
  int MarkedCount() const { return markedCount_; }

  // The marked entries' total size in bytes (directories count 0 bytes).
  uint64_t MarkedBytes() const { return markedBytes_; }

  // The last disk-space line (empty when the volume could not be asked).
  const std::string& DiskLine() const { return diskLine_; }
  // Makes the disk-space line again, in the wording in use (after a
  // translation), and reports it through OnInfoLine.
  void RewordDiskLine();

 private:
  static Entries SortedPlace(Entries entries, uint8_t sortType, bool descending);
  struct TReorder;
  // Puts the rows in the current order, here or (see PostToWindow) on a
  // thread of its own.
  void Reorder();
  void ReorderDone(TReorder& job);
  // order[k] is the index of the row that goes to place k; the cursor and
  // the marks go with their rows.
  void ApplyOrder(const std::vector<uint32_t>& order);
  // Records the listing no longer shows: kept while a reordering may still
  // read them, freed on a thread of their own when many, else here.
  void LetGo(Entries old);

  std::string directory_;
  Entries entries_;
  std::vector<uint8_t> marks_;
  int markedCount_ = 0;
  uint64_t markedBytes_ = 0;
  int cursor_ = 0;
  uint8_t sortType_ = kSortByName;
  bool descending_ = false;
  bool reading_ = false;
  std::string diskLine_;
  std::string listingTitle_;
  std::shared_ptr<TPanelSource> source_;
  std::string place_;
  uint64_t generation_ = 0;  // counts the changes of entries_
  std::shared_ptr<TReorder> reorder_;
  bool reorderAgain_ = false;  // the order changed again while one was worked out
};

}  // namespace vantrel::panels
