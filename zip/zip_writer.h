// zip_writer.h - TZipWriter, the writing half of the ZIP engine.
//
// TZipWriter keeps everything of TZipReader (properties, events, the entry
// directory) and adds Zip: it expands FilesList into the files to add
// (ExpandFileList, file_list.cpp), and writes either a new archive or, when
// ZipName exists, a new copy of it in which every old entry is copied as its
// compressed bytes, replaced at its place, or kept, followed by the files
// that had no entry yet.
//
// The archive is never written in place. The output is a temporary file; only
// when the central directory and the end record are complete and on disk is
// it renamed over ZipName (it is made beside ZipName, under a hidden name,
// when the temporary directory lies on another volume). A failed, cancelled
// or killed run leaves
// the old archive exactly as it was and no temporary file behind.
//
// ZIP64 fields are written exactly where a value needs them: a central
// record gets a ZIP64 extra field for a size or offset of 4 GiB or more, a
// local header for a file that is that large when it is opened, and the
// archive a ZIP64 end record for 65,535 entries or more or a directory that
// starts or ends past 4 GiB. Archives within the classic limits are written
// as they always were.
//
// With MultiZipInfo.MultiMode set, the finished temporary archive is copied
// onto block files or removable media instead (zip_volumes.h).
//
// Events run on the caller's thread inside Zip. With Threads (zip_reader.h)
// above 1 the files are read and compressed on worker threads ahead of the
// writing, and small ones on the caller's thread while it would wait for them
// (zip_pack_pool.h); everything else, every event included, stays on the
// caller's thread and in the order of the file list.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zip/crypto/entry_encryptor.h"
#include "zip/zip_reader.h"
#include "zip/zip_volumes.h"

namespace vantrel::zip {

class TZipWriter;
class TDeflateCompressor;
struct TZipRun;

enum TZipAction { zaUpdate = 0, zaReplace = 1, zaFreshen = 2 };
enum TUpdateAction { uaReplacing = 0, uaKeeping = 1 };

// Events of the writer. Sender is the component; reference parameters are the
// handler's answers.
using TStartZipInfoEvent = std::function<void(TZipWriter* Sender, int NumFiles, int64_t TotalBytes,
                                              TEndCentral& EndCentralRecord, bool& StopNow)>;
using TStartZipEvent = std::function<void(TZipWriter* Sender, const std::string& FName,
                                          TZipHeaderInfo& ZipHeader, bool& Skip)>;
using TEndZipEvent =
    std::function<void(TZipWriter* Sender, const std::string& FName, int64_t UncompressedSize,
                       int64_t CompressedSize, int64_t CurrentZipSize)>;
using TUpdateEvent =
    std::function<void(TZipWriter* Sender, TUpdateAction UDAction, int FileIndex)>;
using TNoSuchFileEvent = std::function<void(TZipWriter* Sender, const std::string& FName)>;
using TDisposeFileEvent =
    std::function<void(TZipWriter* Sender, const std::string& FName, bool& Skip)>;
using TZipCompleteEvent = std::function<void(TZipWriter* Sender, int FileCount)>;
// A source file changed while it was read; What says how. The entry holds
// what was read and the archive stays valid.
using TFileChangedEvent =
    std::function<void(TZipWriter* Sender, const std::string& FName, const std::string& What)>;
// A file or directory left out for a reason the caller did not choose (a
// dangling symbolic link, a link loop, a directory that cannot be read); Why
// says which.
using TLeftOutEvent =
    std::function<void(TZipWriter* Sender, const std::string& FName, const std::string& Why)>;
// A block volume of a multi-volume run took its final name (Volume counts
// from 1; the archive's own name comes last).
using TVolumePlacedEvent = std::function<void(TZipWriter* Sender, int Volume)>;

// The text of the cancellation by OnStartZipInfo.
inline constexpr const char* kTextCanceledZip = "User canceled Zip operation";

class TZipWriter : public TZipReader {
 public:
  explicit TZipWriter(TZipUserInterface* ui = nullptr);
  ~TZipWriter() override;

  // Adds the files named by FilesList to the archive ZipName (creating it when
  // it does not exist); returns the number of files and directories added as
  // new entries. FilesList is empty afterwards, whatever happened. Errors are
  // raised as exceptions after cleanup; the old archive is then unchanged.
  int Zip();

  // Writes a new archive `destination` (which must not exist) from what can
  // be read of ZipName, however damaged its directory: every entry that is
  // listed, does not overlap other data and decodes with the right size and
  // CRC (an encrypted one with Password) is copied as its compressed bytes
  // under new records built from what decoding confirmed. The entries left
  // out are told through OnEntryError, OnBadCRC and OnSkippingFile (an
  // encrypted entry without its password: skipBadPassword). Returns the
  // number of entries written; when none can be saved, EBadZipFile and no
  // file. ZipName is not changed.
  int Repair(const std::string& destination);

  // ------------------------------------------------------------ editing

  // One entry an edit adds: a directory (path ending in "/") or the file
  // `localFile` stored under `path`; with `storeLink`, a link at localFile
  // is stored as a link, else what it points to is stored.
  struct TNewEntry {
    std::string path;
    std::string localFile;
    bool storeLink = false;
    // Set: localFile holds an entry of another archive as that archive
    // stores it (ReadStoredEntry) and this is its record. The entry is
    // written with those bytes and the record's method, encryption (an AES
    // entry's field included), CRC, sizes, time and attributes: an
    // encrypted one stays encrypted under its password, and nothing is
    // decoded or compressed again.
    std::shared_ptr<const TZipHeaderInfo> stored;
  };
  struct TEdit {
    // Asked for every entry of the archive, in physical order: false drops
    // it; true keeps it, under `newPath` when the handler sets one. Kept
    // entries are copied as their stored bytes, never decoded.
    std::function<bool(const TZipHeaderInfo& entry, std::string& newPath)> keep;
    // Written after the kept entries, in this order.
    std::vector<TNewEntry> added;
  };
  // Rewrites the existing archive ZipName once with `edit` applied, through
  // the same temporary file and single rename as Zip: a failure or a cancel
  // (CancelOperation, checked between entries and blocks) leaves the old
  // archive byte for byte, and so does a file to add that cannot be read.
  // Refuses damaged and multi-volume archives and new entries whose path
  // another entry of the result has. Returns the number of entries added.
  int Edit(const TEdit& edit);

  // Before taking a new name, writes changed comments into the current
  // archive (a Zip run with an empty list).
  void SetZipName(const std::string& name) override;

  // ------------------------------------------------------------ properties
  int PackLevel = 6;  // 0 stores every file; 1-9 deflate
  // A file of 4 MiB or more is deflated as pieces of 1 MiB, each with the
  // 32 KB before it as its dictionary (deflate_compress.h), which the pool's
  // threads compress at once: one large file on every core. The archive is
  // the same at every thread count, but not the one written without it (a
  // little larger); with one thread it only costs. Off by default.
  bool SplitDeflate = false;
  // New entries carry an extended timestamp field (modification time, UTC)
  // in both records, so that a reader in another time zone restores the
  // same instant; entries copied from the archive keep theirs. False writes
  // no extra field but those the data needs (ZIP64, AES).
  bool ExtraTimes = true;
  // Names that are not plain ASCII also get a Unicode Path field (the same
  // UTF-8 text), for readers that know the field but not the UTF-8 flag.
  bool UnicodePathField = false;
  bool Recurse = false;
  bool Dispose = false;
  // StorePaths false also clears StoreVolumes and RelativePaths; RelativePaths
  // true also sets StorePaths and Recurse; StoreVolumes true sets StorePaths.
  bool StorePaths() const { return storePaths_; }
  void SetStorePaths(bool value);
  bool RelativePaths() const { return relativePaths_; }
  void SetRelativePaths(bool value);
  // On Linux the "volume" is the leading "/": kept only with StoreVolumes.
  bool StoreVolumes() const { return storeVolumes_; }
  void SetStoreVolumes(bool value);
  // How Pack and the add command take what they are given: names relative to
  // `root`, directories with everything below them when `recurse` (and with
  // entries of their own when `dirEntries`), no archive made when nothing
  // is added.
  void AddRelativeTo(const std::string& root, bool recurse, bool dirEntries);
  TZipAction ZipAction = zaUpdate;
  TMultiZipInfo MultiZipInfo;
  bool Store83Names = false;  // Linux names have no short alias: no effect
  std::string TempPath;
  // A replaced archive at least this large is let go after the run: a
  // descriptor of it, held across the rename, is closed on a thread of its
  // own, so that freeing its space (its pages, its blocks) is not waited for.
  uint64_t ReleaseOldInBackgroundFrom = uint64_t{64} << 20;
  // The archive attribute is set on every file on Linux, so these two change
  // nothing there; they are kept for callers that set them.
  bool SkipIfArchiveBitNotSet = false;
  bool ResetArchiveBitOnZip = false;
  std::vector<std::string> ExcludeList;
  std::vector<std::string> NoCompressList;
  bool AddDirEntriesOnRecurse = false;
  // Stores a symbolic link as a link (its target as the data, mode 0120000)
  // instead of the file it points to.
  bool StoreLinks = false;
  // Encryption of the files added, with Password: AES-256 (AE-2) or the
  // traditional method. Entries copied from the old archive stay as they are.
  TZipEncryption Encryption = TZipEncryption::None;
  // False: a run that would leave an archive without a single entry writes
  // nothing and raises ENothingToAdd ("nothing to add"); an archive that
  // existed stays as it was. True (the component's rule): an empty archive,
  // an end record only, is written.
  bool WriteEmptyArchive = true;

  // ------------------------------------------------------------ events
  TStartZipInfoEvent OnStartZipInfo;
  TStartZipEvent OnStartZip;
  TEndZipEvent OnEndZip;
  TUpdateEvent OnUpdate;
  TNoSuchFileEvent OnNoSuchFile;
  // A pattern of FilesList that matches no file (the files the exclusion
  // list or freshen leave out count as matched: they were left out on
  // purpose). Its directory missing is no match either.
  TNoSuchFileEvent OnNoMatch;
  TDisposeFileEvent OnDisposeFile;
  TDisposeFileEvent OnDeleteEntry;  // never raised by Zip
  TZipCompleteEvent OnZipComplete;
  TFileChangedEvent OnFileChanged;
  TLeftOutEvent OnLeftOut;
  TVolumePlacedEvent OnVolumePlaced;

  // ------------------------------------------------------------ run state
  int64_t TotalBytes() const { return totalBytes_; }
  int64_t BytesDone() const { return bytesDone_; }
  bool Busy() const { return busy_; }
  // The files of the last multi-volume run, first volume to last, and its
  // ".zfc" file (empty when none was written).
  const std::vector<std::string>& Volumes() const { return volumes_.files; }
  const std::string& ConfigFile() const { return volumes_.configFile; }

  // The temporary directory of a run: TempPath when it names an existing
  // directory, else $TMPDIR when set, else /tmp.
  std::string TempDirectory() const;

  // The name an entry for the file (or directory line ending in "/") F is
  // stored under, as the reader will decode it: Directory + Filename.
  std::string StoredName(const std::string& F) const;

  // Rewrites FilesList into the files and directory entries to add and sets
  // TotalBytes (file_list.cpp). Zip calls it; public for tests.
  void ExpandFileList();

 protected:
  friend struct TZipRun;
  friend class TFileSource;

  // The stored directory for the file F ("" or a path ending in "/").
  std::string StoredDirectory(const std::string& F) const;
  std::string PlainStoredName(const std::string& F) const;
  int RunZip();
  // Reads the archive to update and refuses one whose directory is damaged
  // or partial (EBadZipFile) or spread over volumes.
  void OpenExistingForUpdate();
  // Sets up the output of a run on its temporary file.
  void StartOutput(TZipRun& run, bool keepEndRecord);
  // Writes the directory and puts the output at target; returns its date.
  struct timespec FinishOutput(TZipRun& run, const std::string& target, const struct stat* old);
  // Copies the complete temporary archive onto volumes (zip_volumes.h).
  void PutInVolumes(TZipRun& run, const std::string& target);
  // Free bytes on the volume that holds dir (mmSpan volume sizes).
  virtual int64_t VolumeFreeSpace(const std::string& dir) const;
  void ReadDirectoryOf(const std::string& name);
  // For each entry of the directory, whether it decodes to its size and CRC
  // (directory entries: whether they name a directory).
  std::vector<bool> VerifiedEntries();
  // What the old local header of an entry holds, and where its data start.
  struct TOldLocal {
    uint8_t head[kLocalHeaderSize];  // the fixed part, as stored
    std::string rawName;
    std::string extra;
    uint16_t flags = 0;
    int64_t dataStart = 0;
  };
  TOldLocal ReadOldLocal(TZipRun& run, const TZipHeaderInfo& entry);
  // Copies `size` bytes of the old archive from `from` to the output.
  void WriteOldData(TZipRun& run, int64_t from, uint64_t size);
  // Writes a verified entry under new records.
  void RepairEntry(TZipRun& run, TZipHeaderInfo& src);
  void ProcessExisting(TZipRun& run);
  void CopyEntry(TZipRun& run, TZipHeaderInfo& entry);
  // Bytes [from, to) of the old archive that go to the output as they are.
  struct TOldRange {
    int64_t from = 0;
    int64_t to = 0;
  };
  // The same, with `join`: an entry whose bytes stay as they were is not
  // written but added to `verbatim` (true); anything else is written after
  // the range (false).
  bool CopyEntry(TZipRun& run, TZipHeaderInfo& entry, TOldRange& verbatim, bool join);
  // Writes the waiting range and empties it.
  void FlushOldRange(TZipRun& run, TOldRange& range);
  struct TSource;
  enum class TOpenResult { Opened, Gone };
  // Opens the file (or reads the link) F for a new entry; Gone when it is
  // left out (vanished, cannot be opened, is the archive itself).
  TOpenResult OpenSource(TZipRun& run, const std::string& F, TSource& src);
  // Adds line `line` of FilesList; true when an entry was written.
  bool ZipOneFile(TZipRun& run, size_t line);
  // Writes the local header and the data of the new entry `entry` (a
  // TWriterEntry whose name is set) from src; F names the file in events.
  void WriteNewEntry(TZipRun& run, const std::string& F, TSource& src, TZipHeaderInfo& entry);
  int RunEdit(const TEdit& edit);
  // Adds one entry of an edit; raises EFOpenError when its file cannot be
  // read.
  bool AddEditEntry(TZipRun& run, const TNewEntry& added);
  // The same for an entry given as its stored bytes.
  void AddStoredEntry(TZipRun& run, const TNewEntry& added);
  // The component's directory after a run: the new archive's entries.
  void AdoptNewDirectory(TZipRun& run, const struct timespec& date);
  // Writes the file's data (through encryptor when the entry is encrypted),
  // reading at most `limit` bytes, and sets the entry's method, sizes and CRC.
  void WriteEntryData(TZipRun& run, const std::string& F, TSource& src, TZipHeaderInfo& entry,
                      TEntryEncryptor* encryptor, uint64_t limit);
  // The same for a file a worker of the pool compressed: its output copied
  // into the archive as it comes.
  void WritePooledData(TZipRun& run, const std::string& F, TSource& src, TZipHeaderInfo& entry,
                       TEntryEncryptor* encryptor);
  // Starts the workers for the lines still to add, when Threads asks for them.
  void StartPool(TZipRun& run);
  // Raises OnFileChanged when the file's size or date moved while it was
  // read: `opened` is the file when opened, `now` when reading ended.
  void ReportChange(const std::string& F, const struct stat& opened, const struct stat& now,
                    int64_t read);
  void WriteCentralDirectory(TZipRun& run);
  void ReportRead(size_t n, uint32_t& crc, const uint8_t* data);

  // Gives the entries of the archive just written whose names are in a code
  // page the names a new reading of it would give.
  void ReadPageNamesAfresh();
  // A stored name's text as the reader gives it for this archive.
  std::string NameOfBytes(const std::string& raw, uint16_t flags, uint16_t versionMadeBy) const;
  // The entry keeps its stored bytes when they say what the directory says.
  template <class E>
  void KeepNameBytes(E& entry, const std::string& raw, uint16_t localFlags,
                     uint16_t versionMadeBy) const;
  bool storePaths_ = false;
  bool relativePaths_ = false;
  bool storeVolumes_ = false;
  bool busy_ = false;
  TVolumeSet volumes_;

  // Per line of FilesList after expansion: the file's size (0 for directory
  // lines), so that a line left out can be taken out of TotalBytes.
  std::vector<int64_t> lineSizes_;
  // The archive file's identity while a run looks for it among the inputs.
  uint64_t archiveDev_ = 0;
  uint64_t archiveIno_ = 0;
  bool archiveKnown_ = false;
  int64_t fileBytesDone_ = 0;
  int64_t fileSize_ = 0;
};

// Pattern membership for ExcludeList and NoCompressList: a line with a "/" is
// matched against the whole of name, any other line against its last
// component; ASCII letters are folded.
bool MatchesPatternList(const std::vector<std::string>& list, const std::string& name);

// The bytes an entry name is stored as and the flag bits that go with them:
// plain ASCII as is; other valid UTF-8 as UTF-8 with flag bit 11; a name that
// is not valid UTF-8 as its own bytes without the flag.
struct TStoredNameBytes {
  std::string raw;
  uint16_t flags = 0;
};
TStoredNameBytes EncodeStoredName(const std::string& name);

// VersionMadeBy of new entries: Unix host (3) in the upper byte, 2.0 below.
inline constexpr uint16_t kVersionMadeByUnix = (3 << 8) | 20;

}  // namespace vantrel::zip
