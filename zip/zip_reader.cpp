// zip_reader.cpp - opening an archive: end record, central directory, rebuild
// from local headers, comments on demand and multi-disk loading.
#include "zip/zip_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/fs.h"
#include "zip/codec/decode_io.h"
#include "zip/zip_integrity.h"

namespace vantrel::zip {

namespace {

// The most entries room is made for before the first is read; a directory
// with more grows as it is read.
constexpr uint64_t kMaxReservedEntries = uint64_t{1} << 24;

struct timespec FileDate(int fd) {
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) return {};
  return st.st_mtim;
}

bool SameDate(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool FileExists(const std::string& name) {
  struct stat st;
  return !name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& name) {
  struct stat st;
  return !name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The extension of the last path component, with its dot; empty when none.
size_t ExtensionStart(const std::string& name) {
  size_t slash = name.rfind('/');
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name.size();
  return dot;
}

std::string ChangeFileExt(const std::string& name, const std::string& ext) {
  return name.substr(0, ExtensionStart(name)) + ext;
}

std::string CurrentDirectory() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
}

}  // namespace

// ------------------------------------------------------------ life

TZipReader::TZipReader(TZipUserInterface* ui) : ui_(ui ? ui : &DefaultZipUserInterface()) {
  OnGetNextDisk = [this](TZipReader*, int nextDisk, std::string& fname) {
    BuiltInGetNextDisk(nextDisk, fname);
  };
}

TZipReader::~TZipReader() = default;

void TZipReader::SetZipName(const std::string& value) {
  // Linux names are case-sensitive, so "differs" is compared exactly.
  if (value == zipName_) return;
  std::string name = value;
  if (!name.empty() && name.back() == '?') {
    std::string start = name.substr(0, name.size() - 1);
    size_t slash = start.rfind('/');
    start = slash == std::string::npos ? std::string() : start.substr(0, slash);
    if (!DirectoryExists(start)) start = CurrentDirectory();
    if (!ui_->ChooseArchive("Open a Zip File",
                            "Zip Files (*.ZIP)|*.zip|SFX Files (*.EXE)|*.exe|"
                            "Jar Files (*.JAR)|*.jar|All Files (*.*)|*.*",
                            start))
      throw EUserCanceled(kTextCanceledZipName);
    name = start;
  }
  zipName_ = name;
  FreeDirectory();
  archiveDate_ = {};
  endRecord_.Reset();
  CloseArchive();
  rebuilt_ = false;
  report_ = {};
}

void TZipReader::ReadZip() {
  CancelOperation = false;
  ui_->SetBusyCursor(true);
  try {
    OpenIfNeeded();
    CloseIfAllowed();
  } catch (...) {
    ui_->SetBusyCursor(false);
    CloseIfAllowed();
    throw;
  }
  ui_->SetBusyCursor(false);
}

void TZipReader::ClearZip() {
  CloseArchive();
  FreeDirectory();
  endRecord_.Reset();
  archiveDate_ = {};
  rebuilt_ = false;
  report_ = {};
  numberOfDisks_ = 1;
  multiMode_ = TMultiMode::mmNone;
  zipName_.clear();
}

void TZipReader::OpenIfNeeded() {
  if (!archive_)
    archive_ = std::make_unique<TLFNFileStream>(zipName_, StreamBufferSize, FlushFilesOnClose,
                                                fmOpenRead);
  if (!dirList_)
    ReadDirectory();
  else if (!SameDate(FileDate(archive_->Handle()), archiveDate_))
    ReadDirectory();
}

void TZipReader::CloseIfAllowed() {
  if (!KeepZipOpen) CloseArchive();
}

void TZipReader::CloseArchive() {
  archive_.reset();
  configFile_.reset();
}

void TZipReader::FreeDirectory() {
  view_ = nullptr;
  viewList_.reset();
  dirList_.reset();
  store_.reset();
}

void TZipReader::NewDirectory(size_t expected, TDuplicatesMode mode) {
  FreeDirectory();
  store_ = std::make_unique<TEntryStore>(expected);
  dirList_ = std::make_unique<TSortedZip>(mode, false, TZipSortMode::ByNone);
  dirList_->SetCapacity(static_cast<int>(expected));
  view_ = dirList_.get();
}

void TZipReader::ProcessMessagesAndCheckCancel() {
  if (DoProcessMessages) ui_->ProcessMessages();
  if (CancelOperation) {
    CancelOperation = false;
    throw EUserCanceled(kTextUserAborted);
  }
}

// ------------------------------------------------------------ the directory

void TZipReader::ReadDirectory() {
  archiveDate_ = FileDate(archive_->Handle());
  FreeDirectory();
  configFile_.reset();
  report_ = {};

  TStream* s = archive_.get();
  bool useConfig = false;
  bool found = endRecord_.Find(*s);
  // Disk fields that hold the ZIP64 marker with no ZIP64 end record to
  // resolve them: the record is lost, and the fields mean nothing.
  const bool zip64Lost = found && !endRecord_.Zip64 &&
                         (endRecord_.ThisDisk == kZip64Marker16 ||
                          endRecord_.CentralDirDisk == kZip64Marker16);
  if (zip64Lost) found = false;
  if (!found && !zip64Lost) {
    // A ".zfc" configuration file may hold the directory of a multi-disk set.
    std::string configName = ChangeFileExt(zipName_, ".zfc");
    if (FileExists(configName)) {
      try {
        configFile_ = std::make_unique<TLFNFileStream>(configName, StreamBufferSize, false,
                                                       fmOpenRead);
        if (endRecord_.Find(*configFile_)) {
          useConfig = true;
          found = true;
          s = configFile_.get();
        } else {
          configFile_.reset();
        }
      } catch (const EFOpenError&) {
        configFile_.reset();
      }
    }
  }

  if (!found) {
    endRecord_.Reset();
    if (OnInCompleteZip) OnInCompleteZip(this, IncompleteZipMode);
    if (zip64Lost && IncompleteZipMode != TIncompleteZipMode::izAssumeBad)
      throw EBadZipFile(kTextZip64Lost);
    switch (IncompleteZipMode) {
      case TIncompleteZipMode::izAssumeNotAZip: throw ENotAZipFile(kTextNotAZip);
      case TIncompleteZipMode::izAssumeMulti: throw EIncompleteZip(kTextIncompleteZip);
      case TIncompleteZipMode::izAssumeBad:
        if (!RebuildDirectory()) {
          ui_->SetBusyCursor(false);
          ClearZip();
          throw EBadZipFile(kTextNotAZip);
        }
        s = archive_.get();
        break;
    }
  } else {
    CheckEntryCount();
    report_.announced = static_cast<int64_t>(endRecord_.TotalEntries);
    currentDisk_ = useConfig ? 0 : static_cast<int>(endRecord_.ThisDisk);
    lastDiskName_ = useConfig ? std::string() : zipName_;
    numberOfDisks_ = static_cast<int>(endRecord_.ThisDisk) + 1;
    if (endRecord_.ThisDisk == 0)
      multiMode_ = TMultiMode::mmNone;
    else if (platform::IsRemovableMedia(zipName_))
      multiMode_ = TMultiMode::mmSpan;
    else if (multiMode_ != TMultiMode::mmSpan)
      multiMode_ = TMultiMode::mmBlocks;
    if (endRecord_.TotalEntries > 0) {
      if (multiMode_ != TMultiMode::mmNone && !useConfig &&
          static_cast<int>(endRecord_.CentralDirDisk) != currentDisk_) {
        LoadDisk(static_cast<int>(endRecord_.CentralDirDisk) + 1);
        s = archive_.get();
      }
      s->Seek(useConfig ? 0 : static_cast<int64_t>(endRecord_.CentralDirOffset), soBeginning);
    }
  }

  if (!dirList_) {
    // Entries at one offset are kept (and refused as overlapping below), so
    // that every announced entry is either listed or reported. Room is made
    // for the announced count, but no more than the directory's bytes (or
    // the file's) can hold: a false count costs nothing.
    uint64_t expected = std::min<uint64_t>(endRecord_.TotalEntries,
                                           endRecord_.CentralDirSize / kCentralHeaderSize);
    if (!useConfig && endRecord_.ThisDisk == 0)
      expected = std::min<uint64_t>(
          expected, static_cast<uint64_t>(std::max<int64_t>(archive_->Size(), 0)) /
                        kCentralHeaderSize);
    NewDirectory(static_cast<size_t>(std::min<uint64_t>(expected, kMaxReservedEntries)),
                 dupAccept);
  }
  ReadCentralRecords(s, useConfig);

  // The comment of a multi-disk set is read now; so is the comment of a
  // configuration file, which is not kept open.
  if ((endRecord_.ThisDisk > 0 || useConfig) && endRecord_.ZipCommentLength > 0) {
    if (static_cast<int>(endRecord_.ThisDisk) != currentDisk_ && !useConfig)
      LoadDisk(static_cast<int>(endRecord_.ThisDisk) + 1);
    TStream& cs = useConfig ? static_cast<TStream&>(*configFile_) : *archive_;
    std::string comment(endRecord_.ZipCommentLength, '\0');
    cs.Seek(endRecord_.ZipCommentPos, soBeginning);
    comment.resize(cs.Read(comment.data(), comment.size()));
    endRecord_.SetZipComment(comment);
    if (useConfig) endRecord_.Modified = 0;
  }

  numberOfDisks_ = static_cast<int>(endRecord_.ThisDisk) + 1;
  if (!useConfig && currentDisk_ != static_cast<int>(endRecord_.ThisDisk)) {
    // Back to the file with the end record, which the set's operations
    // start from.
    archive_ = std::make_unique<TLFNFileStream>(zipName_, StreamBufferSize, false, fmOpenRead);
  }
  currentDisk_ = useConfig ? 0 : static_cast<int>(endRecord_.ThisDisk);
  report_.read = dirList_->Count();
  MarkOverlaps(useConfig);
  BuildView();
  configFile_.reset();
}

void TZipReader::CheckEntryCount() {
  // Indices of the entry view are ints; each entry takes at least 46 bytes of
  // the directory, so a count the directory cannot hold is not believed
  // (reading stops at the first missing record and says so).
  if (endRecord_.TotalEntries > static_cast<uint64_t>(std::numeric_limits<int>::max()) &&
      endRecord_.CentralDirSize / kCentralHeaderSize >= endRecord_.TotalEntries)
    throw EZipTooLarge("The archive holds " + std::to_string(endRecord_.TotalEntries) +
                       " entries; this version reads at most " +
                       std::to_string(std::numeric_limits<int>::max()) +
                       " and does not read part of it");
}

void TZipReader::ReadCentralRecords(TStream*& s, bool useConfig) {
  TNextDiskCallback nextDisk = [this]() -> TStream* {
    LoadDisk(currentDisk_ + 2);
    return archive_.get();
  };
  // After a rebuild the records only complete the entries found; otherwise
  // each is read straight into the store.
  TZipHeaderInfo completing;
  for (uint64_t i = 0; i < endRecord_.TotalEntries;) {
    TZipHeaderInfo* entry = rebuilt_ ? &completing : store_->New();
    bool useNext = multiMode_ != TMultiMode::mmNone && !rebuilt_ && !useConfig;
    if (!entry->ReadCentral(s, useNext ? nextDisk : TNextDiskCallback(),
                            rebuilt_ ? nullptr : &store_->Names())) {
      if (rebuilt_) break;
      store_->DropLast();
      if (multiMode_ == TMultiMode::mmNone && RebuildDirectory()) {
        s = archive_.get();
        i = 0;
        continue;
      }
      ClearZip();
      throw EBadZipFile(kTextNotAZip);
    }
    if (rebuilt_) {
      int index;
      if (dirList_->Find(entry, index)) {
        TZipHeaderInfo* local = dirList_->Entry(index);
        uint64_t offset = local->LocalHeaderOffset;
        local->Assign(*entry);
        local->LocalHeaderOffset = offset;
      }
    } else {
      // The count was checked against the list's limit: adding cannot fail.
      dirList_->Add(entry);
      if ((endRecord_.ThisDisk > 0 || useConfig) && entry->HasComment()) {
        // The disk may not be reachable later (and the configuration file is
        // closed after reading).
        int64_t pos = s->Position();
        LoadEntryComment(*entry, *s);
        s->Seek(pos, soBeginning);
      }
    }
    ++i;
  }
  // Records beyond the announced count: the count is wrong, and a rewrite
  // from this reading would drop them.
  if (rebuilt_) return;
  const bool single = endRecord_.ThisDisk == 0 && !useConfig;
  if (endRecord_.TotalEntries == 0) {
    if (endRecord_.CentralDirSize == 0 || useConfig) {
      // No entries announced, yet the file starts with an entry.
      uint8_t first[4];
      if (single && endRecord_.ZipCommentPos > static_cast<int64_t>(kEndCentralSize) &&
          s->Seek(0, soBeginning) == 0 && s->ReadExact(first, 4) &&
          GetU32(first) == LocalFileHeaderSig)
        report_.problem = "it announces no entries, but the archive holds some";
      return;
    }
    s->Seek(static_cast<int64_t>(endRecord_.CentralDirOffset), soBeginning);
  }
  const int64_t end = s->Position();
  uint8_t sig[4];
  if (s->ReadExact(sig, sizeof sig) && GetU32(sig) == CentralFileHeaderSig)
    report_.moreRecords = true;
  else if (single && endRecord_.EntriesThisDisk != endRecord_.TotalEntries)
    report_.problem = "its entry counts disagree (" + std::to_string(endRecord_.EntriesThisDisk) +
                      " and " + std::to_string(endRecord_.TotalEntries) + ")";
  else if (single && end != static_cast<int64_t>(endRecord_.CentralDirOffset) +
                                static_cast<int64_t>(endRecord_.CentralDirSize))
    report_.problem = "its records take " +
                      std::to_string(end - static_cast<int64_t>(endRecord_.CentralDirOffset)) +
                      " bytes, the end record says " + std::to_string(endRecord_.CentralDirSize);
}

void TZipReader::MarkOverlaps(bool useConfig) {
  // The list is in order of disk and offset already: the sweep needs no
  // copy of the ranges.
  auto range = [this](size_t i) {
    const TZipHeaderInfo& e = *dirList_->Entry(static_cast<int>(i));
    TDataRange r;
    r.disk = e.DiskNumberStart;
    r.start = e.LocalHeaderOffset;
    // The local extra field is not known here: leaving it out errs on the
    // side of no overlap. A descriptor has at least 12 bytes.
    r.end = r.start + kLocalHeaderSize + e.StoredNameLength + e.CompressedSize +
            (e.HasDataDescriptor() ? 12 : 0);
    return r;
  };
  report_.overlapping = 0;
  for (int i = 0; i < dirList_->Count(); ++i) dirList_->Entry(i)->DataOverlaps = 0;
  auto mark = [this](size_t i) {
    TZipHeaderInfo& e = *dirList_->Entry(static_cast<int>(i));
    if (!e.DataOverlaps) ++report_.overlapping;
    e.DataOverlaps = 1;
  };
  // A configuration file holds the directory apart from the data.
  const uint64_t limit = useConfig ? UINT64_MAX : endRecord_.CentralDirOffset;
  SweepOverlaps(static_cast<size_t>(dirList_->Count()), range, mark,
                rebuilt_ ? 0 : endRecord_.CentralDirDisk, limit);
}

void TZipReader::BuildView() {
  viewList_.reset();
  if (!dirList_) {
    view_ = nullptr;
    return;
  }
  if (SortMode == TZipSortMode::ByNone) {
    view_ = dirList_.get();
    return;
  }
  viewList_ = std::make_unique<TSortedZip>(dupAccept, false, SortMode);
  viewList_->SetCapacity(dirList_->Count());
  for (int i = 0; i < dirList_->Count(); ++i) viewList_->Add(dirList_->Entry(i));
  view_ = viewList_.get();
}

bool TZipReader::RebuildDirectory() {
  if (rebuilt_) return false;
  rebuilt_ = true;
  report_.rebuilt = true;
  FreeDirectory();

  TS_BufferStream& s = *archive_;
  std::string ext = zipName_.substr(ExtensionStart(zipName_));
  s.Seek(CompareTextAscii(ext, ".exe") == 0 ? 14000 : 0, soBeginning);

  static const uint8_t sig[4] = {0x50, 0x4B, 0x03, 0x04};
  int matched = 0;
  long sinceMessages = 0;
  for (;;) {
    uint8_t b;
    if (s.Read(&b, 1) != 1) return false;
    if (b == sig[matched]) {
      ++matched;
    } else {
      matched = b == sig[0] ? 1 : 0;
    }
    if (b != sig[0] && ++sinceMessages >= 10240) {
      sinceMessages = 0;
      if (DoProcessMessages) ProcessMessagesAndCheckCancel();
    }
    if (matched < 4) continue;
    uint8_t version[2];
    if (s.Read(version, 2) != 2) return false;
    if (version[1] < 10) {
      s.Seek(-6, soCurrent);
      break;
    }
    // Not a plausible header: look at the version bytes again.
    s.Seek(-2, soCurrent);
    matched = 0;
  }

  NewDirectory(0, dupError);
  for (;;) {
    TZipHeaderInfo* entry = store_->New();
    // An entry whose data runs to the end of the archive is cut short: the
    // list ends before it.
    if (!entry->ReadLocal(s, &store_->Names()) || !SkipLocalData(s, *entry)) {
      store_->DropLast();
      break;
    }
    dirList_->Add(entry);
  }
  endRecord_.ThisDisk = 0;
  currentDisk_ = 0;
  endRecord_.CentralDirOffset = static_cast<uint64_t>(s.Position());
  endRecord_.TotalEntries = static_cast<uint64_t>(dirList_->Count());
  numberOfDisks_ = 1;
  return true;
}

namespace {

// Whether an extra field holds a ZIP64 block (then a descriptor after the
// data has 8-byte sizes).
bool HasZip64Block(const std::string& extra) {
  for (size_t at = 0; at + 4 <= extra.size();) {
    const auto* p = reinterpret_cast<const uint8_t*>(extra.data() + at);
    if (GetU16(p) == kZip64ExtraId) return true;
    at += 4 + GetU16(p + 2);
  }
  return false;
}

}  // namespace

bool TZipReader::SkipLocalData(TS_BufferStream& s, TZipHeaderInfo& e) {
  std::string extra(e.LocalExtraLength, '\0');
  if (!s.ReadExact(extra.data(), extra.size())) return false;
  const bool zip64 = HasZip64Block(extra);
  const int64_t dataStart = s.Position();
  if (!e.HasDataDescriptor() || e.CompressedSize != 0) {
    s.Seek(static_cast<int64_t>(e.CompressedSize), soCurrent);
    if (!e.HasDataDescriptor()) return true;
    // The sizes were known: the descriptor only repeats them.
    uint8_t sig[4];
    if (s.ReadExact(sig, 4) && GetU32(sig) != DataDescriptorSig) s.Seek(-4, soCurrent);
    s.Seek(zip64 ? 20 : 12, soCurrent);
    return true;
  }
  // Written as a stream: the data ends where a descriptor follows whose
  // compressed size is the distance from the start of the data.
  const size_t sizeWidth = zip64 ? 8 : 4;
  uint8_t d[kZip64DataDescriptorSize];
  int matched = 0;
  long sinceMessages = 0;
  for (;;) {
    uint8_t b;
    if (s.Read(&b, 1) != 1) return false;
    static const uint8_t sig[4] = {0x50, 0x4B, 0x07, 0x08};
    matched = b == sig[matched] ? matched + 1 : (b == sig[0] ? 1 : 0);
    if (++sinceMessages >= 10240) {
      sinceMessages = 0;
      if (DoProcessMessages) ProcessMessagesAndCheckCancel();
    }
    if (matched < 4) continue;
    matched = 0;
    const int64_t at = s.Position() - 4;
    const size_t rest = 4 + 2 * sizeWidth;
    if (!s.ReadExact(d + 4, rest)) return false;
    const uint64_t csize = zip64 ? GetU64(d + 8) : GetU32(d + 8);
    if (csize == static_cast<uint64_t>(at - dataStart)) {
      e.CRC32 = GetU32(d + 4);
      e.CompressedSize = csize;
      e.UncompressedSize = zip64 ? GetU64(d + 16) : GetU32(d + 12);
      return true;
    }
    s.Seek(at + 1, soBeginning);
  }
}

// ------------------------------------------------------------ disks

void TZipReader::LoadDisk(int n) {
  archive_.reset();
  std::string previous;
  std::string fname;
  for (;;) {
    fname = zipName_;
    if (OnGetNextDisk) OnGetNextDisk(this, n, fname);
    // Volume labels cannot be read on Linux; the label check is not made.
    if (fname.empty()) throw EUserCanceled(kTextCanceledNewDisk);
    if (FileExists(fname)) break;
    // Asking again would get the same missing name: nobody can supply the
    // disk, so stop instead of asking for ever. A spanned set asks the user,
    // who may insert the disk and answer again.
    if (multiMode_ != TMultiMode::mmSpan && fname == previous)
      throw EIncompleteZip(std::string(kTextIncompleteZip) + ": volume " + std::to_string(n) +
                           " of " + std::to_string(numberOfDisks_) + ", \"" + fname +
                           "\", is missing");
    previous = fname;
  }
  // The disk is opened under its own name; ZipName stays the archive's (the
  // file with the end record), whose date tells whether the directory is
  // still current.
  archive_ = std::make_unique<TLFNFileStream>(fname, StreamBufferSize, false, fmOpenRead);
  currentDisk_ = n - 1;
}

std::string VolumeName(const std::string& archive, int disk, bool infoZipStyle) {
  char ext[16];
  if (infoZipStyle)
    std::snprintf(ext, sizeof ext, ".z%02d", disk);
  else
    std::snprintf(ext, sizeof ext, ".%3.3d", disk);
  return ChangeFileExt(archive, ext);
}

void TZipReader::BuiltInGetNextDisk(int nextDisk, std::string& fname) {
  if (multiMode_ == TMultiMode::mmSpan) {
    ui_->SetBusyCursor(false);
    if (!ui_->AskForDisk("Please insert disk " + std::to_string(nextDisk) +
                         " of the multi-disk set."))
      fname.clear();
    ui_->SetBusyCursor(true);
    return;
  }
  // The last volume of a set is the archive itself (ours and Info-ZIP's);
  // the others are numbered .001, .002, ... (ours) or .z01, .z02, ...
  // (Info-ZIP zip -s), whichever the set has.
  if (nextDisk == numberOfDisks_ && nextDisk > 1) {
    if (!lastDiskName_.empty()) {
      fname = lastDiskName_;
      return;
    }
    const std::string zip = ChangeFileExt(fname, ".zip");
    if (FileExists(zip)) {
      fname = zip;
      return;
    }
  }
  const std::string ours = VolumeName(fname, nextDisk, false);
  const std::string infoZip = VolumeName(fname, nextDisk, true);
  const bool infoZipSet = !FileExists(ours) && (FileExists(infoZip) ||
                                                FileExists(VolumeName(fname, 1, true)));
  fname = infoZipSet ? infoZip : ours;
}

// ------------------------------------------------------------ the entry view

int TZipReader::Count() const { return view_ ? view_->Count() : 0; }

void TZipReader::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) {
    char text[64];
    std::snprintf(text, sizeof text, "Index %d is out of range", index);
    throw EListError(text);
  }
}

const TZipHeaderInfo& TZipReader::Entry(int index) const {
  CheckIndex(index);
  return *view_->Entry(index);
}

TZipHeaderInfo& TZipReader::Entry(int index) {
  CheckIndex(index);
  return *view_->Entry(index);
}

std::string TZipReader::Filename(int index) const { return std::string(Entry(index).Filename()); }
std::string TZipReader::Pathname(int index) const {
  return std::string(Entry(index).Directory());
}

std::time_t TZipReader::DateTime(int index) const {
  uint32_t v = Entry(index).LastModDateTime;
  return IsValidCalendarDate(v) ? DosDateTimeToTime(v) : std::time(nullptr);
}

uint64_t TZipReader::UncompressedSize(int index) const { return Entry(index).UncompressedSize; }
uint32_t TZipReader::ExternalFileAttributes(int index) const {
  return Entry(index).ExternalAttributes;
}

// ------------------------------------------------------------ comments

void TZipReader::LoadEntryComment(TZipHeaderInfo& entry, TStream& s) {
  uint8_t h[kCentralHeaderSize];
  std::string comment;
  const int64_t at = static_cast<int64_t>(entry.CentralEntryOffset);
  if (s.Seek(at, soBeginning) == at &&
      s.ReadExact(h, sizeof h)) {
    s.Seek(GetU16(h + 28) + GetU16(h + 30), soCurrent);
    comment.resize(entry.FileCommentLength);
    comment.resize(s.Read(comment.data(), comment.size()));
  }
  entry.SetFileComment(comment);
}

std::string TZipReader::FileComment(int index) {
  CheckIndex(index);
  if (view_->Entry(index)->FileCommentLength == 0) return {};
  if (!view_->Entry(index)->FileComment()) {
    OpenIfNeeded();
    try {
      CheckIndex(index);  // the directory may have been read again
      TZipHeaderInfo& entry = *view_->Entry(index);
      if (!entry.FileComment() && entry.FileCommentLength) LoadEntryComment(entry, *archive_);
    } catch (...) {
      CloseIfAllowed();
      throw;
    }
    CloseIfAllowed();
  }
  const auto& c = view_->Entry(index)->FileComment();
  return c ? *c : std::string();
}

void TZipReader::SetFileComment(int index, const std::string& comment) {
  if (FileComment(index) == comment) return;
  view_->Entry(index)->SetFileComment(comment);
  endRecord_.Modified = 1;
}

std::string TZipReader::ZipComment() {
  if (endRecord_.ZipCommentLength == 0) return {};
  if (!endRecord_.ZipComment()) {
    OpenIfNeeded();
    if (endRecord_.ZipCommentLength && !endRecord_.ZipComment()) {
      std::string comment(endRecord_.ZipCommentLength, '\0');
      uint8_t modified = endRecord_.Modified;
      archive_->Seek(endRecord_.ZipCommentPos, soBeginning);
      comment.resize(archive_->Read(comment.data(), comment.size()));
      endRecord_.SetZipComment(comment);
      endRecord_.Modified = modified;
    }
    CloseIfAllowed();
  }
  const auto& c = endRecord_.ZipComment();
  return c ? *c : std::string();
}

void TZipReader::SetZipComment(const std::string& comment) {
  if (ZipComment() == comment) return;
  endRecord_.SetZipComment(comment);
  endRecord_.Modified = 1;
}

// ------------------------------------------------------------ extraction settings

void TZipReader::SetDestDir(const std::string& value) {
  std::string dir = value;
  if (dir == "?") {
    std::string start = DirectoryExists(destDir_) ? destDir_ : CurrentDirectory();
    if (!ui_->ChooseDirectory(start)) throw EUserCanceled(kTextCanceledDestDir);
    dir = start;
  }
  // The root directory keeps its only "/".
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  destDir_ = dir;
}

void TZipReader::SetRootDir(const std::string& value) {
  rootDir_ = value;
  if (!rootDir_.empty() && rootDir_.back() != '/') rootDir_ += '/';
}

}  // namespace vantrel::zip
