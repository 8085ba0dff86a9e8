// zip_extract.cpp - UnZip: selection, output paths, overwrite rules, password
// check, the one loop that feeds every decoder, CRC check and events.
//
// The decoders see only TDecodeInput and TDecodeOutput. TEntryInput reads the
// entry's compressed bytes from the archive 32768 at a time (crossing to the
// next disk, decrypting, letting pending messages run, honouring
// CancelOperation); TEntryOutput checks the declared size, writes the file,
// keeps the CRC and reports progress.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "zip/codec/crc32.h"
#include "zip/codec/decode_io.h"
#include "zip/zip_mask.h"
#include "zip/zip_outpath.h"
#include "zip/zip_reader.h"
#include "zip/crypto/zipcrypt.h"

namespace vantrel::zip {

namespace {

// Percent of done in total, rounded to nearest with halves to even, at most
// 100; 0 for a total of 0 or less.
int Percent(int64_t done, int64_t total) {
  if (total <= 0 || done <= 0) return 0;
  if (done >= total) return 100;
  // done < total here, so done * 100 cannot overflow for any ZIP size.
  int64_t num = done * 100;
  int64_t q = num / total, r = num % total;
  if (r * 2 > total || (r * 2 == total && (q & 1))) ++q;
  return static_cast<int>(std::min<int64_t>(q, 100));
}

bool IsKnownMethod(uint16_t method) { return method <= 6 || method == 8; }

// A temporary output file in the target's directory. Commit renames it to its
// final name; otherwise (a bad CRC, an exception) it is removed when the
// object goes away.
class TTempOutput {
 public:
  TTempOutput() = default;
  TTempOutput(const TTempOutput&) = delete;
  TTempOutput& operator=(const TTempOutput&) = delete;
  ~TTempOutput() {
    if (!name_.empty()) ::unlinkat(dir_, name_.c_str(), 0);
  }

  bool Create(int dir) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static unsigned counter = 0;
    dir_ = dir;
    for (int attempt = 0; attempt < 100; ++attempt) {
      unsigned seed = static_cast<unsigned>(::getpid()) * 2654435761u ^ (++counter * 40503u) ^
                      static_cast<unsigned>(attempt) * 97u;
      std::string name = ".vantrel-";
      for (int i = 0; i < 10; ++i) {
        name += kChars[seed % 36];
        seed = seed * 1103515245u + 12345u;
      }
      fd_ = ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd_ >= 0) {
        name_ = std::move(name);
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }

  int Fd() const { return fd_; }

  // The file must be closed by then (its stream owns the descriptor).
  bool Commit(const std::string& leaf) {
    if (::renameat(dir_, name_.c_str(), dir_, leaf.c_str()) != 0) return false;
    name_.clear();
    return true;
  }

 private:
  int dir_ = -1;
  int fd_ = -1;
  std::string name_;
};

}  // namespace

// ------------------------------------------------------------ decoder input

class TEntryInput final : public TDecodeInput {
 public:
  TEntryInput(TZipReader& r, uint64_t remaining, TZipCrypt* crypt)
      : r_(r), remaining_(remaining), crypt_(crypt) {}

  bool Refill() override {
    if (remaining_ == 0) return false;
    r_.ProcessMessagesAndCheckCancel();
    size_t n = static_cast<size_t>(std::min<uint64_t>(kBlockSize, remaining_));
    remaining_ -= n;
    uint8_t* buf = r_.buffers_->input;
    r_.ReadArchive(buf, n);
    if (crypt_) crypt_->Decrypt(buf, n);
    next = buf;
    end = buf + n;
    return true;
  }

  uint64_t Remaining() const { return remaining_; }
  void Consume(size_t n) { remaining_ -= n; }

 private:
  TZipReader& r_;
  uint64_t remaining_;
  TZipCrypt* crypt_;
};

// ------------------------------------------------------------ decoder output

class TEntryOutput final : public TDecodeOutput {
 public:
  TEntryOutput(TZipReader& r, TLFNFileStream* file) : r_(r), file_(file) {}

  void Write(const uint8_t* data, size_t n) override {
    if (n == 0) return;
    if (static_cast<uint64_t>(r_.entryDone_) + n > r_.work_.UncompressedSize)
      throw EBiggerThanUncompressed(kTextBiggerThanUncompressed);
    if (file_ && file_->Write(data, n) != n) throw ECantWriteUCF(kTextCantWrite);
    crc_ = Crc32Update(crc_, data, n);
    r_.ReportProgress(n);
  }

  uint32_t Crc() const { return ~crc_; }

 private:
  TZipReader& r_;
  TLFNFileStream* file_;
  uint32_t crc_ = 0xFFFFFFFF;
};

// ------------------------------------------------------------ run

int TZipReader::UnZip() {
  CancelOperation = false;
  int result = 0;
  try {
    OpenIfNeeded();
    result = RunUnZip();
  } catch (...) {
    CancelOperation = false;
    CloseIfAllowed();
    throw;
  }
  CloseIfAllowed();
  CancelOperation = false;
  return result;
}

int TZipReader::RunUnZip() {
  const bool keepOpen = KeepZipOpen;
  KeepZipOpen = true;
  bool viewSwitched = false;
  runCount_ = 0;

  auto finish = [&]() {
    buffers_.reset();
    filesList_.clear();
    if (viewSwitched) BuildView();
    if (OnUnZipComplete) OnUnZipComplete(this, runCount_);
    KeepZipOpen = keepOpen;
  };

  try {
    buffers_ = std::make_unique<TDecodeBuffers>();
    if (!destDir_.empty() && !TestOnly) MakeDirectories(destDir_);

    // Disks are visited in order: a multi-disk archive runs in physical order.
    if (endRecord_.ThisDisk > 0 && SortMode != TZipSortMode::ByNone && dirList_) {
      view_ = dirList_.get();
      viewSwitched = true;
    }

    totalBytes_ = 0;
    bytesDone_ = 0;
    int numFiles = Count();
    for (int i = 0; i < Count(); ++i) {
      TZipHeaderInfo& e = *view_->Entry(i);
      bool isDir = e.Filename().empty();
      e.Selected = DoAll;
      if (isDir && !RecreateDirs) {
        e.Selected = 0;
      } else {
        std::string path = e.Path();
        for (const std::string& mask : filesList_) {
          if (MatchMask(mask, path)) {
            e.Selected = 1;
            break;
          }
        }
      }
      if (!e.Selected || isDir)
        --numFiles;
      else
        totalBytes_ += e.UncompressedSize;
    }

    bool stopNow = false;
    if (OnStartUnZipInfo) OnStartUnZipInfo(this, numFiles, totalBytes_, stopNow);
    if (numFiles > 0 && !stopNow) {
      for (int i = 0; i < Count(); ++i) {
        if (!DoAll && !view_->Entry(i)->Selected) continue;
        do {
          ExtractEntry(i);
        } while (retry_);
      }
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
  return runCount_;
}

void TZipReader::SkipBookkeeping(const TZipHeaderInfo& entry) {
  totalBytes_ -= entry.UncompressedSize;
}

void TZipReader::ReportProgress(size_t n) {
  entryDone_ += static_cast<int64_t>(n);
  bytesDone_ += static_cast<int64_t>(n);
  if (OnFilePercentDone) OnFilePercentDone(this, Percent(entryDone_, work_.UncompressedSize));
  if (OnTotalPercentDone) OnTotalPercentDone(this, Percent(bytesDone_, totalBytes_));
}

void TZipReader::ReadArchive(uint8_t* dst, size_t n) {
  size_t got = archive_->Read(dst, n);
  while (got < n) {
    // A single-disk archive, or the last disk of a set, simply ended.
    if (endRecord_.ThisDisk == 0 || !OnGetNextDisk || currentDisk_ + 1 >= numberOfDisks_)
      throw EFatalUnzipError(kTextPrematureEnd);
    LoadDisk(currentDisk_ + 2);
    got += archive_->Read(dst + got, n - got);
  }
}

// ------------------------------------------------------------ one entry

void TZipReader::ExtractEntry(int index) {
  retry_ = false;
  work_.Assign(*view_->Entry(index));
  const bool isDir = work_.Filename().empty();
  bool retry = false;
  auto skipping = [&](TSkipReason reason, const std::string& name) {
    retry = false;
    if (OnSkippingFile) OnSkippingFile(this, reason, name, index, retry);
  };

  // Position after the local header.
  int64_t dataStart = 0;
  if (!isDir) {
    if (multiMode_ != TMultiMode::mmNone && work_.DiskNumberStart != currentDisk_)
      LoadDisk(work_.DiskNumberStart + 1);
    uint8_t lh[kLocalHeaderSize];
    if (archive_->Seek(work_.LocalHeaderOffset, soBeginning) != work_.LocalHeaderOffset ||
        !archive_->ReadExact(lh, sizeof lh))
      throw EFatalUnzipError(kTextPrematureEnd);
    dataStart = archive_->Seek(GetU16(lh + 26) + GetU16(lh + 28), soCurrent);
  }

  // The output directory: the stored directory, less RootDir, made safe.
  std::string root = destDir_;
  std::vector<std::string> dirs;
  if (RecreateDirs && !work_.Directory().empty()) {
    std::string d = work_.Directory();
    if (!rootDir_.empty() && d.size() >= rootDir_.size() &&
        CompareTextAscii(d.substr(0, rootDir_.size()), rootDir_) == 0)
      d.erase(0, rootDir_.size());
    dirs = SafeComponents(d);
  }

  if (isDir) {
    if (TestOnly) return;
    if (SafeComponents(work_.Directory()).empty()) {
      // "/", "../" and the like name no directory below the destination.
      skipping(skipCannotCreate, JoinDirectory(root, dirs));
      return;
    }
    if (RecreateDirs && !OpenDirectoryBeneath(root, dirs, true).Valid()) {
      skipping(skipCannotCreate, JoinDirectory(root, dirs));
      return;
    }
    ++runCount_;
    return;
  }

  const std::string leaf = SafeComponent(work_.Filename());
  std::string fname = JoinDirectory(root, dirs) + leaf;
  if (leaf.empty()) {
    skipping(skipCannotCreate, fname);
    SkipBookkeeping(work_);
    return;
  }
  const std::string computed = fname;
  bool skip = false;
  if (OnStartUnZip) OnStartUnZip(this, index, fname, skip);
  if (skip) return;

  // An unknown method (7, AES, ...) is refused before anything is created, so
  // an existing file is not destroyed for nothing and an encrypted entry of an
  // unknown method is not reported as a wrong password.
  if (!IsKnownMethod(work_.CompressionMethod)) {
    ui_->ShowMessage(kTextUnknownMethod, "Zip Error");
    if (OnBadCRC) OnBadCRC(this, 0, static_cast<int32_t>(work_.CRC32), index);
    SkipBookkeeping(work_);
    return;
  }

  // The directory part of the output name.
  TFd dirFd;
  std::string fileLeaf = leaf;
  auto openTarget = [&]() -> bool {
    if (fname == computed) {
      dirFd = OpenDirectoryBeneath(root, dirs, true);
      fileLeaf = leaf;
    } else {
      // A handler chose another name: its directory is the caller's choice.
      size_t slash = fname.rfind('/');
      std::string parent;
      if (slash != std::string::npos) parent.assign(fname, 0, slash == 0 ? 1 : slash);
      fileLeaf.assign(fname, slash == std::string::npos ? 0 : slash + 1, std::string::npos);
      MakeDirectories(parent);
      dirFd = OpenDirectoryBeneath(parent, {}, false);
    }
    return dirFd.Valid() && !SafeComponent(fileLeaf).empty();
  };
  if (!TestOnly && !openTarget()) {
    skipping(skipCannotCreate, fname);
    SkipBookkeeping(work_);
    return;
  }

  // Password check.
  TZipCrypt crypt;
  uint64_t remaining = work_.CompressedSize;
  if (work_.IsEncrypted()) {
    for (;;) {
      bool ok = false;
      if (work_.CompressedSize >= kEncryptionHeaderSize) {
        if (multiMode_ != TMultiMode::mmNone && work_.DiskNumberStart != currentDisk_)
          LoadDisk(work_.DiskNumberStart + 1);
        archive_->Seek(dataStart, soBeginning);
        uint8_t header[kEncryptionHeaderSize];
        ReadArchive(header, sizeof header);
        crypt.Init(Password);
        crypt.Decrypt(header, sizeof header);
        uint8_t check = work_.HasDataDescriptor()
                            ? static_cast<uint8_t>(work_.LastModDateTime >> 8)
                            : static_cast<uint8_t>(work_.CRC32 >> 24);
        ok = header[kEncryptionHeaderSize - 1] == check;
      }
      if (ok) break;
      std::string newPassword = Password;
      if (OnBadPassword) {
        OnBadPassword(this, index, newPassword);
        if (newPassword != Password) {
          Password = newPassword;
          continue;
        }
      }
      skipping(skipBadPassword, work_.Path());
      SkipBookkeeping(work_);
      return;
    }
    remaining -= kEncryptionHeaderSize;
  }

  // An existing output file.
  if (!TestOnly && OverwriteMode != TUZOverwriteMode::Always) {
    struct stat st;
    if (::fstatat(dirFd.Get(), fileLeaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      bool overwrite = false;
      switch (OverwriteMode) {
        case TUZOverwriteMode::Prompt:
          if (OnPromptForOverwrite) {
            std::string before = fname;
            OnPromptForOverwrite(this, overwrite, index, fname);
            if (fname != before && !openTarget()) {
              skipping(skipCannotCreate, fname);
              SkipBookkeeping(work_);
              return;
            }
          } else {
            overwrite = ui_->AskYesNo("Replace existing file " + work_.Filename() + "?",
                                      "File Exists Alert");
          }
          break;
        case TUZOverwriteMode::ifNewer:
        case TUZOverwriteMode::ifOlder: {
          std::time_t entryTime = DosDateTimeToTime(work_.LastModDateTime);
          std::time_t fileTime = DosDateTimeToTime(TimeToDosDateTime(st.st_mtime));
          overwrite = OverwriteMode == TUZOverwriteMode::ifNewer ? entryTime > fileTime
                                                                 : entryTime < fileTime;
          break;
        }
        default:
          overwrite = false;
          break;
      }
      if (!overwrite) {
        skipping(skipNoOverwrite, fname);
        SkipBookkeeping(work_);
        return;
      }
    }
  }

  // The entry is written to a fresh temporary file beside its target and
  // renamed over the target only once it is complete and its CRC is right,
  // so a corrupt entry, a full disk or a cancelled run never destroys the file
  // it was to replace. The rename also replaces a link at the target instead
  // of writing through it.
  std::unique_ptr<TLFNFileStream> file;
  TTempOutput temp;
  if (!TestOnly) {
    struct stat existing;
    if (::fstatat(dirFd.Get(), fileLeaf.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
      // A directory in the way cannot be replaced by a file.
      const bool blocked = S_ISDIR(existing.st_mode) ||
                           // A read-only file is replaced only when asked to.
                           (S_ISREG(existing.st_mode) && !ReplaceReadOnly &&
                            ::faccessat(dirFd.Get(), fileLeaf.c_str(), W_OK, AT_EACCESS) != 0);
      if (blocked) {
        skipping(skipCannotCreate, fname);
        SkipBookkeeping(work_);
        return;
      }
    }
    if (!temp.Create(dirFd.Get())) {
      skipping(skipCannotCreate, fname);
      SkipBookkeeping(work_);
      return;
    }
    file = std::make_unique<TLFNFileStream>(temp.Fd(), StreamBufferSize, FlushFilesOnClose, true);
  }

  // Decompress.
  if (!work_.IsEncrypted()) archive_->Seek(dataStart, soBeginning);
  entryDone_ = 0;
  TEntryInput input(*this, remaining, work_.IsEncrypted() ? &crypt : nullptr);
  TEntryOutput output(*this, file.get());
  TDecodeBuffers& buf = *buffers_;
  TDecodeResult result = TDecodeResult::Ok;
  const uint16_t flags = work_.GeneralPurposeFlags;
  switch (work_.CompressionMethod) {
    case 0:
      while (input.Remaining() > 0) {
        ProcessMessagesAndCheckCancel();
        size_t n = static_cast<size_t>(std::min<uint64_t>(kBlockSize, input.Remaining()));
        input.Consume(n);
        ReadArchive(buf.output, n);
        if (work_.IsEncrypted()) crypt.Decrypt(buf.output, n);
        output.Write(buf.output, n);
      }
      break;
    case 1:
      result = Unshrink(input, output, buf, work_.UncompressedSize);
      break;
    case 2:
    case 3:
    case 4:
    case 5:
      result = Unreduce(input, output, buf, work_.CompressionMethod - 1, work_.UncompressedSize);
      break;
    case 6:
      result = Explode(input, output, buf, flags & kFlagExplode8k,
                       flags & kFlagExplodeLiteralTree, remaining, work_.UncompressedSize);
      break;
    case 8:
      result = Inflate(input, output, buf);
      break;
  }
  if (result == TDecodeResult::OutOfMemory) ui_->ShowMessage(kTextInflateOutOfMemory, "Error");

  // Close, then date and attributes.
  if (file) {
    if (!file->FlushBuffer()) throw ECantWriteUCF(kTextCantWrite);
    int fd = file->Handle();
    std::time_t t = DosDateTimeToTime(work_.LastModDateTime);
    struct timespec times[2] = {{t, 0}, {t, 0}};
    ::futimens(fd, times);
    if (RetainAttributes) {
      int host = work_.VersionMadeBy >> 8;
      uint32_t mode = work_.ExternalAttributes >> 16;
      struct stat st;
      if ((host == 3 || host == 19) && mode != 0)
        ::fchmod(fd, mode & 0777);
      else if ((work_.ExternalAttributes & 0x01) && ::fstat(fd, &st) == 0)
        ::fchmod(fd, st.st_mode & 0777 & ~0222);
    }
    if (!file->Close()) throw ECantWriteUCF(kTextCantWrite);
    file.reset();
  }

  // CRC (and length: a short result with a matching CRC is no success).
  uint32_t calc = output.Crc();
  bool good = calc == work_.CRC32 && entryDone_ == work_.UncompressedSize &&
              result != TDecodeResult::OutOfMemory;
  if (good && !TestOnly && !temp.Commit(fileLeaf)) {
    skipping(skipCannotCreate, fname);
    return;
  }
  if (good) {
    if (OnEndUnZip) OnEndUnZip(this, index, fname);
    ++runCount_;
    return;
  }
  if (work_.IsEncrypted()) {
    std::string newPassword = Password;
    if (OnBadPassword) {
      OnBadPassword(this, index, newPassword);
      if (newPassword != Password) {
        Password = newPassword;
        retry_ = true;
      }
    }
    if (!retry_) skipping(skipBadPassword, work_.Path());
  } else {
    if (OnBadCRC)
      OnBadCRC(this, static_cast<int32_t>(calc), static_cast<int32_t>(work_.CRC32), index);
  }
  // The temporary file goes with `temp`; the target stays as it was.
}

}  // namespace vantrel::zip
