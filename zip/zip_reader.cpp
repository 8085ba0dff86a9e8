// zip_reader.cpp - opening an archive: end record, central directory, rebuild
// from local headers, comments on demand and multi-disk loading.
#include "zip/zip_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/codepages.h"
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
  OnGetNextDisk = [this](TZipReader*, int64_t nextDisk, std::string& fname) {
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
  stubSize_ = 0;
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
  stubSize_ = 0;
  numberOfDisks_ = 1;
  multiMode_ = TMultiMode::mmNone;
  zipName_.clear();
}

void TZipReader::OpenIfNeeded() {
  if (!archive_)
    archive_ = std::make_unique<TLFNFileStream>(zipName_, StreamBufferSize, FlushFilesOnClose,
                                                fmOpenRead);
  if (dirList_ && SameDate(FileDate(archive_->Handle()), archiveDate_)) return;
  try {
    ReadDirectory();
  } catch (...) {
    // A reading cut short by an error is no directory: the next operation
    // reads again.
    FreeDirectory();
    throw;
  }
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
  stubSize_ = 0;
  codePageUsed_.clear();

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
    // Without an end record the local headers say what the archive holds
    // (a truncated download, a damaged copy), unless the caller refuses that
    // or the file is a volume of a set whose last volume is the one to open.
    if (IncompleteZipMode == TIncompleteZipMode::izAssumeNotAZip) throw ENotAZipFile(kTextNotAZip);
    if (IncompleteZipMode == TIncompleteZipMode::izAssumeMulti) {
      const std::string last = LastVolumeOfSet();
      if (!last.empty())
        throw EIncompleteZip(std::string(kTextIncompleteZip) +
                             ": this is a volume of a split archive; open its last volume, \"" +
                             last + "\"");
    }
    if (!SalvageDirectory(false)) {
      ui_->SetBusyCursor(false);
      if (IncompleteZipMode == TIncompleteZipMode::izAssumeMulti) {
        FreeDirectory();
        throw EIncompleteZip(kTextIncompleteZip);
      }
      ClearZip();
      throw EBadZipFile(kTextNotAZip);
    }
    // A volume read on its own because the set's last one is gone: the
    // entries it holds whole are all there is, and the report says why.
    report_.missingLastVolume = MissingLastVolume();
    FinishReading(false);
    return;
  } else {
    CheckEntryCount();
    report_.announced = static_cast<int64_t>(endRecord_.TotalEntries);
    currentDisk_ = useConfig ? 0 : static_cast<int64_t>(endRecord_.ThisDisk);
    lastDiskName_ = useConfig ? std::string() : zipName_;
    numberOfDisks_ = static_cast<int64_t>(endRecord_.ThisDisk) + 1;
    if (endRecord_.ThisDisk == 0)
      multiMode_ = TMultiMode::mmNone;
    else if (platform::IsRemovableMedia(zipName_))
      multiMode_ = TMultiMode::mmSpan;
    else if (multiMode_ != TMultiMode::mmSpan)
      multiMode_ = TMultiMode::mmBlocks;
    if (endRecord_.TotalEntries > 0) {
      if (multiMode_ != TMultiMode::mmNone && !useConfig &&
          static_cast<int64_t>(endRecord_.CentralDirDisk) != currentDisk_) {
        LoadDisk(static_cast<int64_t>(endRecord_.CentralDirDisk) + 1);
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
  if (!useConfig && endRecord_.ThisDisk == 0 && endRecord_.TotalEntries > 0) {
    FindStub();
    s->Seek(static_cast<int64_t>(endRecord_.CentralDirOffset), soBeginning);
  }
  TNameDecoder names(codePage_, platform::LocaleNameCodePage());
  if (!ReadCentralRecords(s, useConfig, names)) {
    // A record that cannot be read: what the local headers and the records
    // that can still be read say.
    if (!SalvageDirectory(true)) {
      ClearZip();
      throw EBadZipFile(kTextNotAZip);
    }
    FinishReading(false);
    return;
  }

  // The comment of a multi-disk set is read now; so is the comment of a
  // configuration file, which is not kept open.
  if ((endRecord_.ThisDisk > 0 || useConfig) && endRecord_.ZipCommentLength > 0) {
    if (static_cast<int64_t>(endRecord_.ThisDisk) != currentDisk_ && !useConfig)
      LoadDisk(static_cast<int64_t>(endRecord_.ThisDisk) + 1);
    TStream& cs = useConfig ? static_cast<TStream&>(*configFile_) : *archive_;
    std::string comment(endRecord_.ZipCommentLength, '\0');
    cs.Seek(endRecord_.ZipCommentPos, soBeginning);
    comment.resize(cs.Read(comment.data(), comment.size()));
    endRecord_.SetZipComment(comment);
    if (useConfig) endRecord_.Modified = 0;
  }

  numberOfDisks_ = static_cast<int64_t>(endRecord_.ThisDisk) + 1;
  if (!useConfig && currentDisk_ != static_cast<int64_t>(endRecord_.ThisDisk)) {
    // Back to the file with the end record, which the set's operations
    // start from.
    archive_ = std::make_unique<TLFNFileStream>(zipName_, StreamBufferSize, false, fmOpenRead);
  }
  currentDisk_ = useConfig ? 0 : static_cast<int64_t>(endRecord_.ThisDisk);
  names.Finish(&store_->Names());
  codePageUsed_ = names.UsedPage() ? names.PageUsed() : std::string();
  FinishReading(useConfig);
}

void TZipReader::FindStub() {
  const int64_t dirEnd = endRecord_.Zip64 ? endRecord_.Zip64RecordPos
                                          : endRecord_.ZipCommentPos -
                                                static_cast<int64_t>(kEndCentralSize);
  const int64_t claimed = static_cast<int64_t>(endRecord_.CentralDirOffset);
  const int64_t real = dirEnd - static_cast<int64_t>(endRecord_.CentralDirSize);
  if (real <= claimed || claimed < 0) return;
  auto centralAt = [this](int64_t at) {
    uint8_t sig[4];
    return archive_->Seek(at, soBeginning) == at && archive_->ReadExact(sig, 4) &&
           GetU32(sig) == CentralFileHeaderSig;
  };
  // A directory where the end record says it is needs no shift; one that
  // is neither there nor right before the end record is damage, not a stub.
  if (centralAt(claimed) || !centralAt(real)) return;
  // Nor is it a stub when the first entry's header stands where its record
  // says (bytes went in further on): every offset must move alike.
  uint8_t record[kCentralHeaderSize];
  const int64_t shift = real - claimed;
  if (archive_->Seek(real, soBeginning) != real || !archive_->ReadExact(record, sizeof record))
    return;
  const uint32_t first = GetU32(record + 42);
  auto localAt = [this](int64_t at) {
    uint8_t sig[4];
    return archive_->Seek(at, soBeginning) == at && archive_->ReadExact(sig, 4) &&
           GetU32(sig) == LocalFileHeaderSig;
  };
  if (first != kZip64Marker32 &&
      (localAt(first) || !localAt(static_cast<int64_t>(first) + shift)))
    return;
  stubSize_ = shift;
  endRecord_.CentralDirOffset = static_cast<uint64_t>(real);
}

std::string TZipReader::StubNote() const {
  if (stubSize_ <= 0) return {};
  return std::to_string(stubSize_) + " bytes before the archive (self-extracting stub)";
}

void TZipReader::SetCodePage(const std::string& page) {
  if (page == codePage_) return;
  codePage_ = page;
  // The names are read afresh at the next use.
  FreeDirectory();
  archiveDate_ = {};
}

void TZipReader::FinishReading(bool useConfig) {
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

bool TZipReader::ReadCentralRecords(TStream*& s, bool useConfig, TNameDecoder& names) {
  TNextDiskCallback nextDisk = [this]() -> TStream* {
    LoadDisk(currentDisk_ + 2);
    return archive_.get();
  };
  for (uint64_t i = 0; i < endRecord_.TotalEntries; ++i) {
    TZipHeaderInfo* entry = store_->New();
    bool useNext = multiMode_ != TMultiMode::mmNone && !useConfig;
    if (!entry->ReadCentral(s, useNext ? nextDisk : TNextDiskCallback(), &store_->Names(),
                            &names)) {
      store_->DropLast();
      // The local headers of a set lie on many volumes: no salvage there.
      if (multiMode_ == TMultiMode::mmNone && !useConfig) return false;
      ClearZip();
      throw EBadZipFile(kTextNotAZip);
    }
    entry->LocalHeaderOffset += static_cast<uint64_t>(stubSize_);
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
  // Records beyond the announced count: the count is wrong, and a rewrite
  // from this reading would drop them.
  const bool single = endRecord_.ThisDisk == 0 && !useConfig;
  if (endRecord_.TotalEntries == 0) {
    if (endRecord_.CentralDirSize == 0 || useConfig) {
      // No entries announced, yet the file starts with an entry.
      uint8_t first[4];
      if (single && endRecord_.ZipCommentPos > static_cast<int64_t>(kEndCentralSize) &&
          s->Seek(0, soBeginning) == 0 && s->ReadExact(first, 4) &&
          GetU32(first) == LocalFileHeaderSig)
        report_.problem = "it announces no entries, but the archive holds some";
      return true;
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
  return true;
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

// ------------------------------------------------------------ disks

EVolumeMissing::EVolumeMissing(int64_t disk, int64_t disks, const std::string& file)
    : EIncompleteZip(std::string(kTextIncompleteZip) + ": volume " + std::to_string(disk) + " of " +
                     std::to_string(disks) + ", \"" + file + "\", is missing"),
      disk_(disk), disks_(disks), file_(file) {}

std::string EVolumeMissing::Needs() const {
  const size_t slash = file_.rfind('/');
  return "needs volume " + std::to_string(disk_) + " of " + std::to_string(disks_) + ", " +
         file_.substr(slash == std::string::npos ? 0 : slash + 1) + ", which is missing";
}

void TZipReader::LoadDisk(int64_t n) {
  // A medium may be taken out as soon as the question is asked: its file is
  // closed first. Block volumes stay open until the next one is.
  if (multiMode_ == TMultiMode::mmSpan) {
    archive_.reset();
    currentDisk_ = -1;
  }
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
      throw EVolumeMissing(n, numberOfDisks_, fname);
    previous = fname;
  }
  // The disk is opened under its own name; ZipName stays the archive's (the
  // file with the end record), whose date tells whether the directory is
  // still current.
  auto next = std::make_unique<TLFNFileStream>(fname, StreamBufferSize, false, fmOpenRead);
  archive_ = std::move(next);
  currentDisk_ = n - 1;
}

std::string VolumeName(const std::string& archive, int64_t disk, bool infoZipStyle) {
  char ext[32];
  if (infoZipStyle)
    std::snprintf(ext, sizeof ext, ".z%02lld", static_cast<long long>(disk));
  else
    std::snprintf(ext, sizeof ext, ".%3.3lld", static_cast<long long>(disk));
  return ChangeFileExt(archive, ext);
}

bool TZipReader::InfoZipStyleSet(const std::string& lastVolume) const {
  // The names of the volumes that are there decide; a set of two whose first
  // volume is missing has none, and this engine's writer marks its entries
  // "made by" version 2.0 on Unix, which Info-ZIP's (3.0) does not.
  const int64_t probe = std::min<int64_t>(numberOfDisks_ - 1, 16);
  for (int64_t disk = 1; disk <= probe; ++disk) {
    if (FileExists(VolumeName(lastVolume, disk, false))) return false;
    if (FileExists(VolumeName(lastVolume, disk, true))) return true;
  }
  if (dirList_)
    for (int i = 0; i < dirList_->Count(); ++i)
      if (dirList_->Entry(i)->VersionMadeBy == ((3 << 8) | 20)) return false;
  return true;
}

void TZipReader::BuiltInGetNextDisk(int64_t nextDisk, std::string& fname) {
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
  // (Info-ZIP zip -s and the other writers), whichever the set has.
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
  if (FileExists(ours))
    fname = ours;
  else if (FileExists(infoZip))
    fname = infoZip;
  else
    fname = InfoZipStyleSet(fname) ? infoZip : ours;
}

namespace {

// "x.001" or "x.z01": the name of a volume of a split set other than its last.
bool IsNumberedVolume(const std::string& name) {
  const std::string ext = name.substr(ExtensionStart(name));
  const bool numbered = ext.size() == 4 && std::isdigit(static_cast<unsigned char>(ext[1])) &&
                        std::isdigit(static_cast<unsigned char>(ext[2])) &&
                        std::isdigit(static_cast<unsigned char>(ext[3]));
  const bool infoZip = ext.size() >= 4 && (ext[1] == 'z' || ext[1] == 'Z') &&
                       std::all_of(ext.begin() + 2, ext.end(),
                                   [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
  return numbered || infoZip;
}

}  // namespace

std::string TZipReader::LastVolumeOfSet() const {
  // "x.001" ... or "x.z01" ... beside an "x.zip": the set's last volume.
  if (!IsNumberedVolume(zipName_)) return {};
  const std::string last = ChangeFileExt(zipName_, ".zip");
  return FileExists(last) ? last : std::string();
}

std::string TZipReader::MissingLastVolume() const {
  if (!IsNumberedVolume(zipName_)) return {};
  const std::string last = ChangeFileExt(zipName_, ".zip");
  return FileExists(last) ? std::string() : last;
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
  const TZipHeaderInfo& e = Entry(index);
  if (e.ExactModTime != kNoExactTime) return e.ModTime().tv_sec;
  uint32_t v = e.LastModDateTime;
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

std::string TZipReader::FileCommentText(int index) {
  const std::string stored = FileComment(index);
  if (stored.empty()) return stored;
  const TZipHeaderInfo& entry = *view_->Entry(index);
  std::string extra;
  if (entry.CentralExtraLength && !rebuilt_ && multiMode_ == TMultiMode::mmNone) {
    OpenIfNeeded();
    uint8_t h[kCentralHeaderSize];
    const int64_t at = static_cast<int64_t>(entry.CentralEntryOffset);
    if (archive_->Seek(at, soBeginning) == at && archive_->ReadExact(h, sizeof h) &&
        GetU32(h) == CentralFileHeaderSig) {
      extra.resize(GetU16(h + 30));
      archive_->Seek(GetU16(h + 28), soCurrent);
      if (!archive_->ReadExact(extra.data(), extra.size())) extra.clear();
    }
    CloseIfAllowed();
  }
  if (auto text = UnicodeExtraText(reinterpret_cast<const uint8_t*>(extra.data()), extra.size(),
                                   kUnicodeCommentExtraId, stored))
    return *text;
  if ((entry.GeneralPurposeFlags & kFlagUtf8) || IsValidUtf8(stored)) return stored;
  const std::optional<std::string> text =
      platform::CodePageToUtf8(stored, codePageUsed_.empty() ? "CP437" : codePageUsed_);
  return text && IsValidUtf8(*text) ? *text : Cp437ToUtf8(stored);
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
