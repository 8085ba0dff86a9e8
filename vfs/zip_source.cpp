// zip_source.cpp - a place inside a ZIP archive, through our ZIP engine.
#include "vfs/zip_source.h"

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/file_io.h"
#include "platform/fs.h"
#include "platform/private_file.h"
#include "platform/readonly_file.h"
#include "zip/zip_writer.h"

namespace vantrel::vfs {

namespace {

constexpr uint16_t kHostUnix = 3;

bool MadeOnUnix(const zip::TZipHeaderInfo& e) { return (e.VersionMadeBy >> 8) == kHostUnix; }

uint32_t UnixMode(const zip::TZipHeaderInfo& e) { return MadeOnUnix(e) ? e.ExternalAttributes >> 16 : 0; }

// The file type bits of a Unix mode as archives store them: a link.
constexpr uint32_t kTypeBits = 0170000, kLinkType = 0120000;

bool IsLinkEntry(const zip::TZipHeaderInfo& e) { return (UnixMode(e) & kTypeBits) == kLinkType; }

std::mutex& ChoicesMutex() {
  static std::mutex mutex;
  return mutex;
}
std::map<std::string, std::string>& Choices() {
  static std::map<std::string, std::string> choices;
  return choices;
}

class TCollect final : public TDataSink {
 public:
  bool Write(const void* data, size_t n) override {
    bytes.append(static_cast<const char*>(data), n);
    return bytes.size() <= 65536;  // a link's target, never more
  }
  std::string bytes;
};

}  // namespace

// Lets a long run tell its progress and hear a cancel: the engine calls
// ProcessMessages between blocks and entries.
class TZipSource::TProgressUi final : public zip::TZipUserInterface {
 public:
  void ProcessMessages() override {
    if (progress && zip && !progress(static_cast<uint64_t>(zip->BytesDone()),
                                     static_cast<uint64_t>(zip->TotalBytes())))
      zip->CancelOperation = true;
  }
  TProgress progress;
  zip::TZipWriter* zip = nullptr;
};

TZipSource::TZipSource(std::string archivePath, std::string displayRoot, TPasswordProvider* passwords)
    : archivePath_(std::move(archivePath)), displayRoot_(std::move(displayRoot)), passwords_(passwords) {}

TZipSource::~TZipSource() = default;

std::unique_ptr<TZipSource> TZipSource::Load(const std::string& archivePath, const std::string& displayRoot,
                                             TPasswordProvider* passwords, TError* err) {
  std::unique_ptr<TZipSource> source(new TZipSource(archivePath, displayRoot, passwords));
  source->codePage_ = ChosenCodePage(displayRoot);
  if (!source->ReadDirectory(err)) return nullptr;
  return source;
}

bool TZipSource::ReadDirectory(TError* err) {
  if (!ui_) ui_ = std::make_unique<TProgressUi>();
  zip_ = std::make_unique<zip::TZipWriter>(ui_.get());
  ui_->zip = zip_.get();
  zip_->IncompleteZipMode = zip::TIncompleteZipMode::izAssumeBad;
  zip_->KeepZipOpen = true;
  zip_->OnBadPassword = [this](zip::TZipReader*, int, std::string& password) {
    std::string answer;
    if (Ask(answer)) password = answer;
  };
  try {
    zip_->SetZipName(archivePath_);
    zip_->SetCodePage(codePage_);
    zip_->ReadZip();
  } catch (const std::exception& e) {
    if (err) err->Set(EINVAL, "Cannot read \"" + displayRoot_ + "\": " + e.what());
    zip_.reset();
    return false;
  }
  ++reads_;
  damage_ = zip_->DirectoryReport().Damage();
  multiVolume_ = zip_->NumberOfDisks() > 1 || zip_->EndRecord().ThisDisk > 0;
  const int count = zip_->Count();
  index_.Build(static_cast<size_t>(count),
               [this](size_t i) { return zip_->Entry(static_cast<int>(i)).PathView(); });
  RememberIdentity();
  return true;
}

void TZipSource::SetRunProgress(TProgress progress) { ui_->progress = std::move(progress); }

void TZipSource::RememberIdentity() {
  platform::FileIdentity now;
  platform::GetFileIdentity(archivePath_, now);
  identity_.dev = static_cast<dev_t>(now.device);
  identity_.ino = static_cast<ino_t>(now.inode);
  identity_.size = static_cast<off_t>(now.size);
  identity_.mtimeNs = now.mtimeNs;
}

bool TZipSource::Stale() const {
  platform::FileIdentity now;
  if (!platform::GetFileIdentity(archivePath_, now)) return true;
  return now.device != static_cast<uint64_t>(identity_.dev) || now.inode != static_cast<uint64_t>(identity_.ino) ||
         now.size != static_cast<uint64_t>(identity_.size) || now.mtimeNs != identity_.mtimeNs;
}

bool TZipSource::Refresh(TError* err) {
  if (!Stale()) return true;
  // The password stays: it belongs to the archive, not to one reading.
  const std::string password = zip_ ? zip_->Password : std::string();
  if (!ReadDirectory(err)) return false;
  zip_->Password = password;
  return true;
}

bool TZipSource::SetCodePage(const std::string& page, TError* err) {
  if (page == codePage_) return true;
  const std::string old = codePage_;
  const std::string password = zip_ ? zip_->Password : std::string();
  codePage_ = page;
  if (!ReadDirectory(err)) {
    codePage_ = old;
    ReadDirectory(nullptr);
  }
  if (zip_) zip_->Password = password;
  return codePage_ == page;
}

std::string TZipSource::CodePageUsed() const { return zip_ ? zip_->CodePageUsed() : std::string(); }

TCapabilities TZipSource::Capabilities() const {
  TCapabilities caps;
  if (!forcedReadOnly_.empty())
    caps.readOnlyReason = forcedReadOnly_;
  else if (!damage_.empty())
    caps.readOnlyReason = "The archive is damaged (" + damage_ + "); it is shown read-only";
  else if (multiVolume_)
    caps.readOnlyReason = "An archive over several volumes is read-only here";
  else if (const int denied = platform::WriteAccess(archivePath_); denied != 0)
    caps.readOnlyReason = "The archive is read-only: " + platform::ErrorText(denied);
  caps.writable = caps.readOnlyReason.empty();
  return caps;
}

TEntry TZipSource::EntryOf(uint32_t id) const {
  const TPathIndex::TNode& node = index_.Node(id);
  TEntry e;
  e.name = std::string(index_.Name(id));
  if (node.directory) {
    e.kind = TEntryKind::Directory;
    e.implied = node.entry < 0;
    e.mode = 0755;
  }
  if (node.entry < 0) return e;
  const zip::TZipHeaderInfo& z = zip_->Entry(node.entry);
  e.mtime = static_cast<int64_t>(zip_->DateTime(node.entry));
  if (const uint32_t mode = UnixMode(z) & 07777) e.mode = mode;
  if (node.directory) return e;
  e.size = z.UncompressedSize;
  e.packedSize = z.CompressedSize;
  e.encrypted = z.IsEncrypted();
  if (e.mode == 0) e.mode = (z.ExternalAttributes & 0x01) ? 0444 : 0644;
  if (IsLinkEntry(z)) e.kind = TEntryKind::Link;
  return e;
}

bool TZipSource::List(const std::string& inner, std::vector<TEntry>& out, TError* err) {
  out.clear();
  const uint32_t id = index_.Find(inner);
  if (id == TPathIndex::kNone || !index_.Node(id).directory) {
    if (err) err->Set(ENOTDIR, "\"" + inner + "\" is no directory of " + displayRoot_);
    return false;
  }
  const auto children = index_.Children(id);
  out.reserve(children.size());
  for (uint32_t child : children) out.push_back(EntryOf(child));
  return true;
}

void TZipSource::Nameless(std::vector<TEntry>& out) const {
  for (const int32_t entry : index_.Hidden(TPathIndex::kRoot)) {
    const zip::TZipHeaderInfo& z = zip_->Entry(entry);
    const std::string_view path = z.PathView();
    if (!path.empty() && path.back() == '/') continue;  // the root's own entry
    TEntry e;
    e.mtime = static_cast<int64_t>(zip_->DateTime(entry));
    e.size = z.UncompressedSize;
    e.packedSize = z.CompressedSize;
    e.encrypted = z.IsEncrypted();
    e.mode = UnixMode(z) & 07777;
    if (e.mode == 0) e.mode = 0644;
    out.push_back(std::move(e));
  }
}

bool TZipSource::Stat(const std::string& inner, TEntry& out, TError* err) {
  const uint32_t id = index_.Find(inner);
  if (id == TPathIndex::kNone) {
    if (err) err->Set(ENOENT, "\"" + inner + "\" is not in " + displayRoot_);
    return false;
  }
  out = EntryOf(id);
  if (out.kind == TEntryKind::Link) {
    TCollect target;
    TError ignored;
    if (ReadInto(inner, target, {}, &ignored)) out.linkTarget = target.bytes;
  }
  return true;
}

bool TZipSource::ReadInto(const std::string& inner, TDataSink& sink, const TProgress& progress,
                          TError* err) {
  const uint32_t id = index_.Find(inner);
  if (id == TPathIndex::kNone || index_.Node(id).directory) {
    if (err)
      err->Set(id == TPathIndex::kNone ? ENOENT : EISDIR, "\"" + inner + "\" is no file of " + displayRoot_);
    return false;
  }
  const int entry = index_.Node(id).entry;
  const uint64_t total = zip_->Entry(entry).UncompressedSize;
  uint64_t done = 0;
  bool stopped = false, sinkFailed = false;
  const auto take = [&](const uint8_t* data, size_t n) {
    if (!sink.Write(data, n)) return !(sinkFailed = true);
    done += n;
    if (progress && !progress(done, total)) return !(stopped = true);
    return true;
  };
  if (zip_->Entry(entry).IsEncrypted() && !passwordConfirmed_) {
    std::string held;
    bool served = false;
    if (!ConfirmFor(entry, progress, err, held, served)) return false;
    if (served) {
      // The data the password was proved on, in pieces as the engine gives them.
      constexpr size_t kPiece = 65536;
      for (size_t at = 0; at < held.size(); at += kPiece)
        if (!take(reinterpret_cast<const uint8_t*>(held.data()) + at, std::min(kPiece, held.size() - at)))
          return Fail(err, stopped ? ECANCELED : EIO,
                      stopped ? "Stopped" : "Cannot write the data of \"" + inner + "\"");
      return true;
    }
  }
  declined_ = false;
  const std::string problem = Decode(entry, take);
  if (problem.empty()) return true;
  if (err) {
    if (stopped)
      err->Set(ECANCELED, "Stopped");
    else if (declined_)
      err->Set(ECANCELED, "No password given for " + displayRoot_);
    else if (sinkFailed)
      err->Set(EIO, "Cannot write the data of \"" + inner + "\"");
    else
      err->Set(EIO, "\"" + inner + "\": " + problem);
  }
  return false;
}

bool TZipSource::ReadStored(const std::string& inner, TDataSink& sink, std::shared_ptr<const TStoredRecord>& record,
                            const TProgress& progress, TError* err) {
  const uint32_t id = index_.Find(inner);
  if (id == TPathIndex::kNone || index_.Node(id).directory)
    return Fail(err, id == TPathIndex::kNone ? ENOENT : EISDIR, "\"" + inner + "\" is no file of " + displayRoot_);
  // Never decoded instead: an encrypted entry would lose its encryption.
  if (multiVolume_)
    return Fail(err, ENOTSUP,
                "An archive over several volumes gives its entries only decoded: extract it to a directory, or "
                "join the volumes, to copy it");
  auto entry = std::make_shared<zip::TZipHeaderInfo>();
  const int at = index_.Node(id).entry;
  const uint64_t total = zip_->Entry(at).CompressedSize;
  uint64_t done = 0;
  bool sinkFailed = false, stopped = false;
  const std::string problem = zip_->ReadStoredEntry(at, [&](const uint8_t* data, size_t n) {
    if (!sink.Write(data, n)) return !(sinkFailed = true);
    done += n;
    return !progress || progress(done, total) || !(stopped = true);
  }, *entry);
  if (stopped) return Fail(err, ECANCELED, "Stopped");
  if (!problem.empty())
    return Fail(err, EIO, sinkFailed ? "Cannot write the data of \"" + inner + "\"" : "\"" + inner + "\": " + problem);
  auto stored = std::make_shared<TZipStoredRecord>();
  stored->entry = std::move(entry);
  record = std::move(stored);
  return true;
}

std::vector<TSpaceNeed> TZipSource::SpaceToAdd(uint64_t bytes, uint64_t files) const {
  platform::FileIdentity archive;
  const uint64_t old = platform::GetFileIdentity(archivePath_, archive) ? archive.size : 0;
  const size_t slash = archivePath_.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : archivePath_.substr(0, slash);
  return {{dir, old + bytes + files * kRecordRoom}, {platform::PrivateTempDirectory(), bytes}};
}

bool TZipSource::Ask(std::string& answer) {
  const bool again = passwordAsked_;
  passwordAsked_ = true;
  if (!passwords_) return false;  // nobody to ask: the engine says "wrong password"
  if (!passwords_->AskPassword(displayRoot_, again, answer)) {
    declined_ = true;
    return false;
  }
  ++answers_;
  return true;
}

namespace {

// Whether the engine's reason for a failed read is in the data: what a wrong
// password that passed the check byte gives, and what damage gives.
bool DataProblem(const std::string& problem) {
  return problem.find("CRC") != std::string::npos || problem.find("damaged compressed data") != std::string::npos ||
         problem.find("size mismatch") != std::string::npos;
}

}  // namespace

std::string TZipSource::Decode(int entry, const std::function<bool(const uint8_t*, size_t)>& each) {
  return zip_->ReadEntry(entry, [&](const uint8_t* data, size_t n) {
    bytesDecoded_ += n;
    return each(data, n);
  });
}

bool TZipSource::ConfirmFor(int entry, const TProgress& progress, TError* err, std::string& held, bool& served) {
  served = false;
  if (zip_->Entry(entry).UncompressedSize <= kHeldWhileConfirming) {
    if (!ConfirmPassword(entry, progress, err, &held)) return false;
    // Held whole unless it proved larger than it said.
    served = held.size() == zip_->Entry(entry).UncompressedSize;
    if (!served) held = std::string();
    return true;
  }
  // A large entry: proved by the smallest encrypted one, so that the large
  // one is decoded once; when that one cannot prove it (damaged, say), by
  // the large entry itself as before.
  int smallest = -1;
  for (int i = 0; i < zip_->Count(); ++i) {
    const zip::TZipHeaderInfo& e = zip_->Entry(i);
    if (i != entry && e.IsEncrypted() && e.UncompressedSize > 0 && e.UncompressedSize <= kHeldWhileConfirming &&
        (smallest < 0 || e.UncompressedSize < zip_->Entry(smallest).UncompressedSize))
      smallest = i;
  }
  TError probe;
  if (smallest >= 0 && ConfirmPassword(smallest, progress, &probe)) return true;
  if (probe.code == ECANCELED) return Fail(err, probe.code, probe.text);
  return ConfirmPassword(entry, progress, err);
}

bool TZipSource::ConfirmPassword(int entry, const TProgress& progress, TError* err, std::string* held) {
  // The traditional encryption checks a password by one byte: a wrong one
  // passes once in 256 times and then shows as damaged data. So until one
  // entry decodes right, a password given for this read that ends in damaged
  // data is forgotten and asked for again, as after a wrong check byte. A
  // password that was given before, or that the user gives again, stands:
  // the data are damaged.
  const std::string path = zip_->Entry(entry).Path();
  const uint64_t total = zip_->Entry(entry).UncompressedSize;
  const int answersBefore = answers_;
  for (int round = 0; round < 8; ++round) {
    declined_ = false;
    // Nothing reaches the caller yet: its progress stays at the start, but
    // a cancel is heard.
    bool stopped = false;
    if (held) held->clear();
    bool holding = held != nullptr;
    const std::string problem = Decode(entry, [&](const uint8_t* data, size_t n) {
      if (holding && held->size() + n > kHeldWhileConfirming) {
        holding = false;
        *held = std::string();
      }
      if (holding) held->append(reinterpret_cast<const char*>(data), n);
      stopped = progress && !progress(0, total);
      return !stopped;
    });
    if (problem.empty()) {
      passwordConfirmed_ = true;
      return true;
    }
    if (stopped) return Fail(err, ECANCELED, "Stopped");
    if (declined_) return Fail(err, ECANCELED, "No password given for " + displayRoot_);
    if (!DataProblem(problem)) return Fail(err, EACCES, "\"" + path + "\": " + problem);
    const std::string failed = zip_->Password;
    // Nobody was asked when the empty password passed the check byte.
    const bool given = answers_ > answersBefore || failed.empty();
    if (!given) return Fail(err, EIO, "\"" + path + "\": " + problem);
    zip_->Password.clear();
    std::string answer;
    if (!Ask(answer))
      return declined_ ? Fail(err, ECANCELED, "No password given for " + displayRoot_)
                       : Fail(err, EACCES, "\"" + path + "\": wrong password");
    zip_->Password = answer;
    if (!failed.empty() && answer == failed) return Fail(err, EIO, "\"" + path + "\": " + problem);
  }
  zip_->Password.clear();
  return Fail(err, EACCES, "Wrong password for " + displayRoot_);
}

bool TZipSource::Fail(TError* err, int code, const std::string& text) {
  if (err) err->Set(code, text);
  return false;
}

std::string ChosenCodePage(const std::string& displayRoot) {
  const std::lock_guard lock(ChoicesMutex());
  const auto it = Choices().find(displayRoot);
  return it == Choices().end() ? std::string() : it->second;
}

void ChooseCodePage(const std::string& displayRoot, const std::string& page) {
  const std::lock_guard lock(ChoicesMutex());
  if (page.empty())
    Choices().erase(displayRoot);
  else
    Choices()[displayRoot] = page;
}

bool IsZipArchive(const std::string& path) {
  // Regular files only, and a FIFO never waits for a writer.
  platform::ReadOnlyFile file;
  if (!file.Open(path) || file.Size() < 22) return false;
  uint8_t head[4];
  if (file.ReadAt(0, head, 4) == 4 && head[0] == 'P' && head[1] == 'K' &&
      ((head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6) || (head[2] == 7 && head[3] == 8)))
    return true;
  // A self-extracting archive, or data before the archive: the end record
  // is within the last 64 KiB and 22 bytes.
  const uint64_t tail = std::min<uint64_t>(file.Size(), 65536 + 22);
  std::string buf(static_cast<size_t>(tail), '\0');
  if (file.ReadAt(file.Size() - tail, buf.data(), buf.size()) != tail) return false;
  for (size_t i = buf.size() - 22 + 1; i-- > 0;)
    if (buf.compare(i, 4, "PK\x05\x06", 4) == 0) return true;
  return false;
}

}  // namespace vantrel::vfs
