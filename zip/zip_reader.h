// zip_reader.h - TZipReader, the reading half of the ZIP engine.
//
// Given ZipName, the reader opens the archive (read-only), finds the end
// record, reads the central directory into a list of TZipHeaderInfo entries
// (rebuilding it from the local headers when asked to), offers the entries
// through indexed accessors in SortMode order, loads comments on demand and
// follows archives over several disks or block files. UnZip extracts entries
// into files, telling the caller about every step through events.
//
// The component is single-threaded; events run on the caller's thread inside
// the operation. Everything it would show goes through a TZipUserInterface.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zip/zip_errors.h"
#include "zip/zip_format.h"
#include "zip/zip_integrity.h"
#include "zip/zip_lists.h"
#include "zip/zip_names.h"
#include "zip/zip_stream.h"
#include "zip/zip_ui.h"

namespace vantrel::zip {

struct TDecodeBuffers;
class TDecodeInput;
class TDecodeOutput;
enum class TDecodeResult;
class TZipCrypt;
class TAesCipher;
class TZipReader;
class TDirectoryChain;
class TExtractPool;
struct TExtractJob;
struct TExtractPoolDeleter {
  void operator()(TExtractPool* pool) const;
};

// Whether extraction knows the compression method code.
bool IsKnownMethod(uint16_t method);

// The file of volume `disk` (counted from 1) of a set whose last volume is
// `archive`: the archive's name with the extension .001, .002, ... (this
// engine's block volumes) or .z01, .z02, ... (Info-ZIP's split archives).
std::string VolumeName(const std::string& archive, int64_t disk, bool infoZipStyle = false);

// A volume of a multi-volume set that nobody can supply: extraction reports
// each entry that needs it and goes on; opening fails when the directory
// needs it. Disk numbers are counted from 1 and 64-bit (a ZIP64 end record
// names disks by 32-bit numbers).
class EVolumeMissing : public EIncompleteZip {
 public:
  EVolumeMissing(int64_t disk, int64_t disks, const std::string& file);
  int64_t Disk() const { return disk_; }
  int64_t Disks() const { return disks_; }
  const std::string& File() const { return file_; }
  // "needs volume 3 of 10, x.z03, which is missing"
  std::string Needs() const;

 private:
  int64_t disk_, disks_;
  std::string file_;
};

enum class TIncompleteZipMode { izAssumeMulti, izAssumeBad, izAssumeNotAZip };
enum class TMultiMode { mmNone = 0, mmSpan = 1, mmBlocks = 2 };
enum class TUZOverwriteMode { Prompt = 0, Always = 1, Never = 2, ifNewer = 3, ifOlder = 4 };
enum TSkipReason {
  skipBadPassword = 0,
  skipNoOverwrite = 1,
  skipCannotOpen = 2,
  skipCannotCreate = 3,
};

// Events. Sender is the component; reference parameters are the answers.
using TInCompleteZipEvent = std::function<void(TZipReader* Sender, TIncompleteZipMode& IncompleteMode)>;
using TGetNextDiskEvent =
    std::function<void(TZipReader* Sender, int64_t NextDisk, std::string& FName)>;
using TStartUnZipInfoEvent =
    std::function<void(TZipReader* Sender, int NumFiles, int64_t TotalBytes, bool& StopNow)>;
using TStartUnZipEvent =
    std::function<void(TZipReader* Sender, int FileIndex, std::string& FName, bool& Skip)>;
using TPromptForOverwriteEvent = std::function<void(TZipReader* Sender, bool& OverWriteIt,
                                                    int FileIndex, std::string& FName)>;
using TBadPasswordEvent =
    std::function<void(TZipReader* Sender, int FileIndex, std::string& NewPassword)>;
using TSkippingFileEvent = std::function<void(TZipReader* Sender, TSkipReason Reason,
                                              const std::string& FName, int FileIndex,
                                              bool& Retry)>;
using TPercentDoneEvent = std::function<void(TZipReader* Sender, int Percent)>;
using TBadCRCEvent =
    std::function<void(TZipReader* Sender, int32_t CalcCRC, int32_t StoredCRC, int FileIndex)>;
using TEndUnZipEvent =
    std::function<void(TZipReader* Sender, int FileIndex, const std::string& FName)>;
using TUnZipCompleteEvent = std::function<void(TZipReader* Sender, int FileCount)>;
// An entry left out because it is damaged or cannot be decoded; Message says
// what happened ("size mismatch: 10 bytes, 20 declared").
using TEntryErrorEvent =
    std::function<void(TZipReader* Sender, int FileIndex, const std::string& Message)>;
using TGetNextBufferEvent =
    std::function<void(TZipReader* Sender, char*& Buffer, const std::string& FName,
                       int AmountUsed, int BufferNum, bool& Quit)>;

class TZipReader {
 public:
  explicit TZipReader(TZipUserInterface* ui = nullptr);
  TZipReader(const TZipReader&) = delete;
  TZipReader& operator=(const TZipReader&) = delete;
  virtual ~TZipReader();

  // ------------------------------------------------------------ opening

  const std::string& ZipName() const { return zipName_; }
  // A name ending in "?" asks for the archive (EUserCanceled "User canceled
  // setting zip file name." when cancelled). A new name drops the directory.
  virtual void SetZipName(const std::string& name);
  virtual bool CheckDiskLabels() const { return checkDiskLabels_; }
  virtual void SetCheckDiskLabels(bool value) { checkDiskLabels_ = value; }
  virtual TMultiMode MultiMode() const { return multiMode_; }
  virtual void SetMultiMode(TMultiMode value) { multiMode_ = value; }

  // Reads the directory unless it is current (same name, same file date).
  void ReadZip();
  // Closes and forgets everything, ZipName included.
  void ClearZip();

  int Count() const;
  // Accessors on the entry view; an index outside 0..Count-1 raises EListError
  // "Index %d is out of range".
  std::string Filename(int index) const;
  std::string Pathname(int index) const;
  // The entry's modification time: its exact time (NTFS or extended
  // timestamp field), else its DOS date as local time; an impossible
  // calendar date gives now.
  std::time_t DateTime(int index) const;
  uint64_t UncompressedSize(int index) const;
  uint32_t ExternalFileAttributes(int index) const;
  const TZipHeaderInfo& Entry(int index) const;
  TZipHeaderInfo& Entry(int index);
  std::string FileComment(int index);
  void SetFileComment(int index, const std::string& comment);
  std::string ZipComment();
  void SetZipComment(const std::string& comment);
  const TEndCentral& EndRecord() const { return endRecord_; }

  // The code page of names stored neither as UTF-8 nor with a Unicode Path
  // field (zip_names.h): kCodePageAuto or a page name ("CP866"). A change
  // reads the directory again at its next use.
  const std::string& CodePage() const { return codePage_; }
  void SetCodePage(const std::string& page);
  // The page such names were read in ("CP866", "UTF-8"); empty when the
  // directory has none of them.
  const std::string& CodePageUsed() const { return codePageUsed_; }
  // Bytes before the archive that its offsets do not count (the program of
  // a self-extracting archive); they are skipped when reading. 0 for none.
  int64_t StubSize() const { return stubSize_; }
  // "N bytes before the archive (self-extracting stub)", or empty.
  std::string StubNote() const;
  // The entry's comment as text: its Unicode Comment field when that
  // belongs to the stored comment, else the stored bytes read as UTF-8 or in
  // the archive's code page.
  std::string FileCommentText(int index);

  TZipSortMode SortMode = TZipSortMode::ByNone;
  TIncompleteZipMode IncompleteZipMode = TIncompleteZipMode::izAssumeMulti;
  bool KeepZipOpen = false;
  bool DoProcessMessages = true;
  bool FlushFilesOnClose = false;
  bool CancelOperation = false;
  size_t StreamBufferSize = 131072;
  // Files worked on at once. 1: one after the other on the caller's thread.
  // More: Zip compresses that many files on worker threads ahead of the
  // writing (the archive is the same, byte for byte, and the events come in
  // the same order); UnZip decodes that many entries into their files at
  // once, on worker threads and on the caller's thread between its other work
  // (directories and links are made, and files reported, on the caller's
  // thread, in the archive's order). 0: one per processor.
  int Threads = 1;
  static constexpr int ThisVersion = 221;

  int64_t NumberOfDisks() const { return numberOfDisks_; }
  int64_t CurrentDisk() const { return currentDisk_; }
  bool Rebuilt() const { return rebuilt_; }
  // How completely the directory was read (zip_integrity.h). A caller shows
  // Damage() when it is not empty; the writer refuses to start from such a
  // reading.
  const TDirectoryReport& DirectoryReport() const { return report_; }

  TInCompleteZipEvent OnInCompleteZip;
  // Installed with the built-in handler; a caller may replace or clear it.
  TGetNextDiskEvent OnGetNextDisk;

  // ------------------------------------------------------------ extraction

  // Extracts the entries chosen by DoAll or FilesList; returns the count.
  int UnZip();

  const std::string& DestDir() const { return destDir_; }
  // "?" asks for a directory (EUserCanceled "User canceled Set Desination
  // Directory" when cancelled); a trailing "/" is removed.
  void SetDestDir(const std::string& dir);
  const std::string& RootDir() const { return rootDir_; }
  void SetRootDir(const std::string& dir);
  const std::vector<std::string>& FilesList() const { return filesList_; }
  void SetFilesList(const std::vector<std::string>& masks) { filesList_ = masks; }
  void AddFile(const std::string& mask) { filesList_.push_back(mask); }

  bool RecreateDirs = false;
  TUZOverwriteMode OverwriteMode = TUZOverwriteMode::Prompt;
  bool DoAll = false;
  bool RetainAttributes = true;
  bool ReplaceReadOnly = false;
  std::string Password;
  // Decodes and checks the chosen entries without creating any file or
  // directory (the command-line tool's "test").
  bool TestOnly = false;
  // The volumes the last UnZip needed and did not find ("x.z03"), each once,
  // in the order they were missed; the entries that needed them were
  // reported through OnEntryError.
  const std::vector<std::string>& MissingVolumes() const { return missingVolumes_; }

  TStartUnZipInfoEvent OnStartUnZipInfo;
  TStartUnZipEvent OnStartUnZip;
  TPromptForOverwriteEvent OnPromptForOverwrite;
  TBadPasswordEvent OnBadPassword;
  TSkippingFileEvent OnSkippingFile;
  TPercentDoneEvent OnFilePercentDone;
  TPercentDoneEvent OnTotalPercentDone;
  TBadCRCEvent OnBadCRC;
  TEndUnZipEvent OnEndUnZip;
  TUnZipCompleteEvent OnUnZipComplete;
  // An entry whose data is damaged (longer or shorter than declared, past the
  // archive's end, overlapping other data), whose method is unknown or whose
  // local header is broken: it is left out and the run goes on.
  TEntryErrorEvent OnEntryError;
  TGetNextBufferEvent OnGetNextBuffer;  // never raised by extraction

  // ------------------------------------------------------------ one entry

  // Receives an entry's decoded data block by block; false stops the reading.
  using TEntrySink = std::function<bool(const uint8_t* data, size_t n)>;
  // Decodes entry `index` of the view into `sink`, checked as an extraction
  // checks it (declared size, CRC, authentication code); an encrypted entry
  // takes Password and asks OnBadPassword while it is wrong. Returns an
  // empty text when the data were whole and right, else what went wrong
  // (the sink then had data that must be thrown away). A directory entry
  // gives no data. Nothing is written anywhere but into the sink.
  std::string ReadEntry(int index, const TEntrySink& sink);
  // Sends entry `index`'s data as the archive stores them, CompressedSize
  // bytes (an encrypted entry's encryption header, salt or authentication
  // code included), neither decoded nor checked, so that another archive can
  // store them as they are: no password is needed. `record` receives the
  // entry's record (with the local header's exact time where the directory
  // has none). Returns an empty text when all of it went, else why not.
  std::string ReadStoredEntry(int index, const TEntrySink& sink, TZipHeaderInfo& record);

  TZipUserInterface& UI() const { return *ui_; }

 protected:
  // ------------------------------------------------------------ opening
  void OpenIfNeeded();
  void CloseIfAllowed();
  void CloseArchive();
  void FreeDirectory();
  void ReadDirectory();
  // Lists what can be read of a damaged archive from its local headers and
  // whatever central records parse (zip_salvage.cpp); haveEndRecord: the
  // end record was found (its count is what the archive announces). False
  // when nothing was found, or a salvage ran since the name was set.
  bool SalvageDirectory(bool haveEndRecord);
  // For an archive without an end record that is a volume of a split set
  // other than the last: the last volume (the one to open); else empty.
  std::string LastVolumeOfSet() const;
  // The last volume's name when this file is named as a volume of a split
  // set (.001, .z01) and no file of that name exists; empty otherwise.
  std::string MissingLastVolume() const;
  // Moves the stream past the local extra field, the data and the
  // descriptor of e (found by its compressed size when the header had no
  // sizes); false when the data runs to the end of the stream.
  bool SkipLocalData(TS_BufferStream& s, TZipHeaderInfo& e);
  // Refuses an archive with more entries than the entry view can index, as a
  // whole (EZipTooLarge).
  void CheckEntryCount();
  // Reads the announced records into the directory; false when one cannot
  // be read in a single-file archive (which is then salvaged).
  bool ReadCentralRecords(TStream*& s, bool useConfig, TNameDecoder& names);
  // When the end record's offsets leave out bytes before the archive (a
  // self-extracting stub), sets stubSize_ and moves the directory's offset
  // to where the directory really is.
  void FindStub();
  // Overlaps, the view and the report once the entries are in the list.
  void FinishReading(bool useConfig);
  // An empty directory (store and list) with room for `expected` entries.
  void NewDirectory(size_t expected, TDuplicatesMode mode);
  // Sets DataOverlaps of every entry whose data overlaps another's or the
  // central directory.
  void MarkOverlaps(bool useConfig);
  void BuildView();
  // Makes disk n (counted from 1) the archive stream. EVolumeMissing when
  // the volume is not there (mmSpan: the user cancels with EUserCanceled);
  // the current disk is then unknown (-1) and loaded again when needed.
  void LoadDisk(int64_t n);
  void BuiltInGetNextDisk(int64_t nextDisk, std::string& fname);
  // Whether the set's other volumes are named .z01, .z02, ... (Info-ZIP and
  // most other writers) rather than .001, .002, ... (this engine's writer).
  bool InfoZipStyleSet(const std::string& lastVolume) const;
  void CheckIndex(int index) const;
  void ProcessMessagesAndCheckCancel();
  void LoadEntryComment(TZipHeaderInfo& entry, TStream& stream);

  TZipUserInterface* ui_;
  std::string zipName_;
  bool checkDiskLabels_ = true;
  TMultiMode multiMode_ = TMultiMode::mmNone;
  // The entries read from the archive; the lists point into it. Null when
  // dirList_ owns its entries (those of an archive just written).
  std::unique_ptr<TEntryStore> store_;
  std::unique_ptr<TSortedZip> dirList_;   // physical order
  std::unique_ptr<TSortedZip> viewList_;  // SortMode order when not ByNone
  TSortedZip* view_ = nullptr;
  TEndCentral endRecord_;
  std::unique_ptr<TLFNFileStream> archive_;
  std::unique_ptr<TLFNFileStream> configFile_;  // the ".zfc" file while it is read
  struct timespec archiveDate_ {};
  int64_t numberOfDisks_ = 1;
  // The file that holds the end record (the last disk of a set), whatever
  // its extension: a set's last volume is named like the archive.
  std::string lastDiskName_;
  int64_t currentDisk_ = 0;
  bool rebuilt_ = false;
  TDirectoryReport report_;
  std::string codePage_;
  std::string codePageUsed_;
  int64_t stubSize_ = 0;

  // ------------------------------------------------------------ extraction
  friend class TEntryInput;
  friend class TEntryOutput;
  // Opens the archive for one entry's reading (ReadEntry, ReadStoredEntry),
  // runs `read` and turns what stops it into the text it returns.
  std::string ReadOneEntry(int index, const std::function<std::string()>& read);
  std::string DecodeToSink(int index, const TEntrySink& sink);
  std::string CopyStoredData(int index, const TEntrySink& sink, TZipHeaderInfo& record);
  struct TEntryTarget;
  int RunUnZip();
  // Marks the entries chosen by DoAll and FilesList; returns NumFiles and
  // sets totalBytes_.
  int SelectEntries();
  // Tells the user when the chosen entries need more room than the
  // destination has; ENotEnoughRoom unless the user goes on.
  void CheckFreeSpace();
  // Extracts one entry; a damaged entry is reported and left out.
  void ExtractEntryReportingDamage(int index);
  // Runs body, reporting the damage it meets in entry `index` and going on.
  void ReportingDamage(int index, const std::function<void()>& body);
  // Hands the entry to a worker, which makes its file in target's directory
  // with mode; false when it cannot go to one (the caller goes on).
  bool SubmitPooledEntry(int index, const TEntryTarget& target, int64_t dataStart, uint32_t mode);
  // Reports an entry a worker decoded (and put in place when it was good).
  void PlacePooledEntry(TExtractJob& job);
  // For an entry whose file the worker could not make; false when it was
  // reported and left out.
  bool MakePooledFileHere(TExtractJob& job);
  void ExtractEntry(int index);
  void ExtractDirectoryEntry(int index, const TEntryTarget& target);
  // Gives the directories made from directory entries their stored dates
  // and permissions.
  void StampDirectories();
  // Reads the entry's local header; returns the position of its data.
  int64_t SeekEntryData();
  // Opens the directory the entry's file goes in; false when it cannot be.
  bool OpenTarget(TEntryTarget& target);
  bool CheckPassword(int index, int64_t dataStart, TZipCrypt& crypt);
  // Reads an AES entry's salt and verifier and derives its keys from
  // Password, asking OnBadPassword again while the verifier does not match.
  bool CheckAesPassword(int index, int64_t dataStart, TAesCipher& aes);
  // Applies OverwriteMode to an existing output; false (reported) to skip.
  bool MayOverwrite(int index, TEntryTarget& target);
  // The built-in overwrite question for the entry being extracted, with the
  // answers that last for the rest of the run.
  bool AskOverwrite(const TOverwriteFacts& existing);
  TDecodeResult DecodeEntry(TDecodeInput& input, TDecodeOutput& output, uint64_t compressedSize);
  void FinishOutputFile(TLFNFileStream& file);
  // authentic: false when an AES entry's authentication code did not match.
  void ReportBadEntry(int index, TDecodeResult result, uint32_t calc, bool authentic);
  void EntryFailed(int index, const std::string& message);
  void SkipBookkeeping(const TZipHeaderInfo& entry);
  void ReadArchive(uint8_t* dst, size_t n);
  void ReportProgress(size_t blockSize);
  // Whether the entry can be decoded by the run's pool of workers: a file
  // entry, neither a link nor encrypted, of a known method.
  bool PoolCandidate(const TZipHeaderInfo& e) const;
  // Puts the entries the workers finished in place (or reports them), in
  // the archive's order, until `keep` are left, decoding small entries no
  // worker has taken yet rather than waiting; batched: when it must wait,
  // waiting for all of them at once rather than for each.
  void FinishPooledEntries(size_t keep, bool batched = false);
  // The same for the first entry, waiting for it and, in one wait, for the
  // `batch` first ones.
  void FinishPooledEntry(size_t batch);

  std::string destDir_;
  std::string rootDir_;
  std::vector<std::string> filesList_;

  // Run state of UnZip.
  std::unique_ptr<TDecodeBuffers> buffers_;
  TDirectoryChain* outDirs_ = nullptr;  // the run's open output directories
  uint32_t runUmask_ = 0777;            // the process's umask when the run began
  TZipHeaderInfo work_;         // the working copy of the current entry
  // The access time of the current entry's local header (kNoExactTime when
  // it has none).
  int64_t workAccessed_ = kNoExactTime;
  int64_t totalBytes_ = 0;
  int64_t bytesDone_ = 0;
  int64_t entryDone_ = 0;
  int runCount_ = 0;
  bool retry_ = false;
  // The overwrite question's answers that last for the rest of the run.
  enum class TRunOverwrite { Ask, All, None, Cancelled };
  TRunOverwrite runOverwrite_ = TRunOverwrite::Ask;
  // What the last entry's decoder said when it refused the stream or ran
  // out of memory; empty when it did not say.
  std::string decodeProblem_;
  std::vector<std::string> missingVolumes_;
  struct TDirStamp {
    std::string root;
    std::vector<std::string> dirs;
    struct timespec modified;
    int mode;  // -1: keep what it has
  };
  std::vector<TDirStamp> dirStamps_;
  // The workers of a run with Threads above 1 (none for a test, a set of
  // volumes or a single thread).
  std::unique_ptr<TExtractPool, TExtractPoolDeleter> extractPool_;
};

}  // namespace vantrel::zip
