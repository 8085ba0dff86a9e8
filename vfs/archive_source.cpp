// archive_source.cpp - a place inside an archive that is not ZIP.
#include "vfs/archive_source.h"

#include <cerrno>

#include "platform/file_io.h"
#include "platform/fs.h"

namespace vantrel::vfs {

namespace {

bool Fail(TError* err, int code, std::string text) {
  if (err) err->Set(code, std::move(text));
  return false;
}

// The path a member is filed under: a directory's ends in "/".
std::string IndexPath(const formats::TMember& m) {
  if (m.kind == formats::TMemberKind::Directory && (m.path.empty() || m.path.back() != '/')) return m.path + "/";
  return m.path;
}

// A member's details as a panel shows them (its name is filed later).
TEntry EntryOfMember(const formats::TMember& m) {
  TEntry e;
  e.mtime = platform::UnixSecondsFromFileTime(m.writeTime);
  e.mode = m.mode & 07777;
  switch (m.kind) {
    case formats::TMemberKind::Directory:
      e.kind = TEntryKind::Directory;
      if (e.mode == 0) e.mode = 0755;
      return e;
    case formats::TMemberKind::Symlink:
      e.kind = TEntryKind::Link;
      e.linkTarget = m.linkTarget;
      break;
    case formats::TMemberKind::Special: e.kind = TEntryKind::Special; break;
    default: e.kind = TEntryKind::File; break;
  }
  e.size = e.packedSize = m.size;
  e.encrypted = m.encrypted;
  return e;
}

class TSinkAdapter final : public formats::TDataSink {
 public:
  explicit TSinkAdapter(vfs::TDataSink& sink) : sink_(sink) {}
  bool Write(const void* data, size_t n) override { return sink_.Write(data, n); }

 private:
  vfs::TDataSink& sink_;
};

}  // namespace

TArchiveSource::TArchiveSource(std::string archivePath, std::string displayRoot, TPasswordProvider* passwords)
    : archivePath_(std::move(archivePath)), displayRoot_(std::move(displayRoot)), passwords_(passwords) {}

TArchiveSource::~TArchiveSource() = default;

std::unique_ptr<TArchiveSource> TArchiveSource::Load(const std::string& archivePath,
                                                     const std::string& displayRoot,
                                                     TPasswordProvider* passwords, TError* err) {
  formats::TArchiveError aerr;
  auto archive = formats::TStreamArchive::Open(archivePath, &aerr);
  if (!archive) {
    Fail(err, aerr.code ? aerr.code : EINVAL, "Cannot read \"" + displayRoot + "\": " + aerr.text);
    return nullptr;
  }
  std::unique_ptr<TArchiveSource> source(new TArchiveSource(archivePath, displayRoot, passwords));
  source->archive_ = std::move(archive);
  source->RememberIdentity();
  return source;
}

void TArchiveSource::RememberIdentity() {
  platform::FileIdentity now;
  platform::GetFileIdentity(archivePath_, now);
  identity_.dev = static_cast<dev_t>(now.device);
  identity_.ino = static_cast<ino_t>(now.inode);
  identity_.size = static_cast<off_t>(now.size);
  identity_.mtimeNs = now.mtimeNs;
}

bool TArchiveSource::Stale() const {
  platform::FileIdentity now;
  if (!platform::GetFileIdentity(archivePath_, now)) return true;
  return now.device != static_cast<uint64_t>(identity_.dev) || now.inode != static_cast<uint64_t>(identity_.ino) ||
         now.size != static_cast<uint64_t>(identity_.size) || now.mtimeNs != identity_.mtimeNs;
}

bool TArchiveSource::Refresh(TError* err) {
  if (!Stale()) return true;
  if (Busy(err)) return false;
  const std::string password = archive_->Password();
  formats::TArchiveError aerr;
  auto archive = formats::TStreamArchive::Open(archivePath_, &aerr);
  if (!archive) return Fail(err, aerr.code ? aerr.code : EINVAL, "Cannot read \"" + displayRoot_ + "\": " + aerr.text);
  archive_ = std::move(archive);
  if (!password.empty()) archive_->SetPassword(password);
  listed_.store(false, std::memory_order_release);
  RememberIdentity();
  return EnsureListed(err);
}

formats::TPasswordQuery TArchiveSource::PasswordQuery() {
  if (!passwords_) return {};
  return [this](bool again, std::string& password) {
    return passwords_->AskPassword(displayRoot_, again, password);
  };
}

bool TArchiveSource::ListingAsksPassword() const {
  return archive_->Kind().encryptedHeaders || passwordWanted_.load(std::memory_order_acquire);
}

bool TArchiveSource::ReadListing(const TProgress& progress,
                                 const std::function<void(const std::string&)>& onMember, TError* err) {
  if (listing_.exchange(true, std::memory_order_acq_rel))
    return Fail(err, EBUSY, "\"" + displayRoot_ + "\" is being read already");
  // Read again after a stop: what was found stays shown meanwhile (the
  // stream gives the same members first).
  size_t known = 0;
  {
    std::lock_guard<std::mutex> lock(foundMutex_);
    foundSoFar_.Clear();
    if (Listed()) {
      for (const formats::TMember& m : archive_->Members()) foundSoFar_.Add(IndexPath(m), EntryOfMember(m));
      known = archive_->Members().size();
    }
  }
  found_.store(known, std::memory_order_relaxed);
  readBytes_.store(0, std::memory_order_relaxed);
  formats::TStreamArchive::TListEvents events;
  events.onMember = [&](uint32_t index, const formats::TMember& m) {
    if (index >= known) {
      std::string path = IndexPath(m);
      {
        std::lock_guard<std::mutex> lock(foundMutex_);
        foundSoFar_.Add(path, EntryOfMember(m));
      }
      found_.fetch_add(1, std::memory_order_relaxed);
    }
    if (onMember) onMember(m.path);
  };
  events.progress = [&](uint64_t done, uint64_t total) {
    readBytes_.store(done, std::memory_order_relaxed);
    return !progress || progress(done, total);
  };
  const bool mayAsk = std::this_thread::get_id() == askingThread_;
  if (mayAsk) events.password = PasswordQuery();
  const formats::TListState state = archive_->List(events);
  ++listings_;
  const auto& members = archive_->Members();
  // A listing that wanted a password it could not ask is done again where
  // it can be asked.
  passwordWanted_.store(!mayAsk && state == formats::TListState::Damaged && members.empty() &&
                            archive_->Problem().find("password") != std::string::npos,
                        std::memory_order_release);
  {
    std::lock_guard<std::mutex> lock(foundMutex_);
    IndexMembers();
    foundSoFar_.Clear();
    listed_.store(true, std::memory_order_release);
    listing_.store(false, std::memory_order_release);
  }
  if (state == formats::TListState::Damaged && members.empty())
    return Fail(err, EIO, "Cannot read \"" + displayRoot_ + "\": " + archive_->Problem());
  return true;
}

void TArchiveSource::IndexMembers() {
  const auto& members = archive_->Members();
  // (Build asks for each path once, in order.)
  std::string scratch;
  index_.Build(members.size(), [&](size_t i) { return std::string_view(scratch = IndexPath(members[i])); });
}

std::unique_ptr<TArchiveSource> TArchiveSource::Twin(TPasswordProvider* passwords) const {
  if (Listing() || !Listed() || archive_->State() != formats::TListState::Complete || Stale()) return nullptr;
  formats::TArchiveError aerr;
  std::unique_ptr<formats::TStreamArchive> archive = archive_->Twin(&aerr);
  if (!archive) return nullptr;
  std::unique_ptr<TArchiveSource> twin(new TArchiveSource(archivePath_, displayRoot_, passwords));
  twin->archive_ = std::move(archive);
  twin->RememberIdentity();
  // Replaced between the look above and the opening: the listing is not its.
  if (twin->identity_.ino != identity_.ino || twin->identity_.dev != identity_.dev ||
      twin->identity_.size != identity_.size || twin->identity_.mtimeNs != identity_.mtimeNs)
    return nullptr;
  twin->IndexMembers();
  twin->listed_.store(true, std::memory_order_release);
  return twin;
}

bool TArchiveSource::Partial() const {
  if (Listing()) return true;
  const formats::TListState s = archive_->State();
  return s == formats::TListState::Stopped || s == formats::TListState::Damaged;
}

bool TArchiveSource::Busy(TError* err) const {
  if (!Listing()) return false;
  Fail(err, EBUSY, "\"" + displayRoot_ + "\" is still being read: wait for the listing or stop it with Escape");
  return true;
}

bool TArchiveSource::EnsureListed(TError* err) {
  if (Busy(err)) return false;
  return Listed() || ReadListing({}, {}, err);
}

void TArchiveSource::Expect(const std::vector<std::string>& inners) {
  if (Listing()) return;
  std::vector<uint32_t> members;
  for (const std::string& inner : inners) {
    const uint32_t id = index_.Find(inner);
    if (id != TPathIndex::kNone && index_.Node(id).entry >= 0)
      members.push_back(static_cast<uint32_t>(index_.Node(id).entry));
  }
  archive_->Expect(members);
}

TCapabilities TArchiveSource::Capabilities() const {
  TCapabilities caps;
  caps.readOnlyReason = archive_->Kind().ReadOnlyText();
  if (Listing()) return caps;
  if (archive_->State() == formats::TListState::Damaged)
    caps.readOnlyReason = "The archive is damaged (" + archive_->Problem() + "); " + caps.readOnlyReason;
  return caps;
}

TEntry TArchiveSource::EntryOf(uint32_t id) const {
  const TPathIndex::TNode& node = index_.Node(id);
  if (node.entry >= 0) {
    TEntry e = EntryOfMember(archive_->Members()[static_cast<size_t>(node.entry)]);
    e.name = std::string(index_.Name(id));
    if (node.directory) {
      // A file stored under a directory's path is shown as the directory.
      e.kind = TEntryKind::Directory;
      e.size = e.packedSize = 0;
      e.linkTarget.clear();
      e.encrypted = false;
      if (e.mode == 0) e.mode = 0755;
    }
    return e;
  }
  TEntry e;
  e.name = std::string(index_.Name(id));
  if (node.directory) {
    e.kind = TEntryKind::Directory;
    e.implied = true;
    e.mode = 0755;
  }
  return e;
}

bool TArchiveSource::List(const std::string& inner, std::vector<TEntry>& out, TError* err) {
  out.clear();
  if (Listing()) {
    std::lock_guard<std::mutex> lock(foundMutex_);
    // The listing may have ended meanwhile: the index is whole then.
    if (Listing()) {
      if (!foundSoFar_.List(inner, out))
        return Fail(err, ENOENT, "\"" + inner + "\" has not been found in " + displayRoot_ + " so far");
      return true;
    }
  }
  if (!EnsureListed(err)) return false;
  const uint32_t id = index_.Find(inner);
  if (id == TPathIndex::kNone || !index_.Node(id).directory)
    return Fail(err, ENOTDIR, "\"" + inner + "\" is no directory of " + displayRoot_);
  const auto children = index_.Children(id);
  out.reserve(children.size());
  for (uint32_t child : children) out.push_back(EntryOf(child));
  return true;
}

bool TArchiveSource::Stat(const std::string& inner, TEntry& out, TError* err) {
  if (!EnsureListed(err)) return false;
  const uint32_t id = index_.Find(inner);
  if (id == TPathIndex::kNone) return Fail(err, ENOENT, "\"" + inner + "\" is not in " + displayRoot_);
  out = EntryOf(id);
  return true;
}

bool TArchiveSource::ReadInto(const std::string& inner, TDataSink& sink, const TProgress& progress,
                              TError* err) {
  if (!EnsureListed(err)) return false;
  const uint32_t id = index_.Find(inner);
  if (id == TPathIndex::kNone || index_.Node(id).directory || index_.Node(id).entry < 0)
    return Fail(err, id == TPathIndex::kNone ? ENOENT : EISDIR, "\"" + inner + "\" is no file of " + displayRoot_);
  const uint32_t member = static_cast<uint32_t>(index_.Node(id).entry);
  const formats::TMember& m = archive_->Members()[member];
  if (m.kind == formats::TMemberKind::Special)
    return Fail(err, EINVAL, "\"" + inner + "\" is a device or pipe and has no data");
  formats::TStreamArchive::TReadOptions options;
  options.progress = progress;
  options.password = PasswordQuery();
  TSinkAdapter adapter(sink);
  formats::TArchiveError aerr;
  if (archive_->ReadNext(member, adapter, options, &aerr)) return true;
  return Fail(err, aerr.code ? aerr.code : EIO, "\"" + inner + "\": " + aerr.text);
}

}  // namespace vantrel::vfs
