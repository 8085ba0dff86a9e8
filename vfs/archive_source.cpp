// archive_source.cpp - a place inside an archive that is not ZIP.
#include "vfs/archive_source.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/fs.h"

namespace vantrel::vfs {

namespace {

int64_t NanoTime(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool Fail(TError* err, int code, std::string text) {
  if (err) err->Set(code, std::move(text));
  return false;
}

// The path a member is filed under: a directory's ends in "/".
std::string IndexPath(const formats::TMember& m) {
  if (m.kind == formats::TMemberKind::Directory && (m.path.empty() || m.path.back() != '/')) return m.path + "/";
  return m.path;
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
  struct stat st;
  if (::stat(archivePath_.c_str(), &st) != 0) {
    identity_ = {};
    return;
  }
  identity_.dev = st.st_dev;
  identity_.ino = st.st_ino;
  identity_.size = st.st_size;
  identity_.mtimeNs = NanoTime(st);
}

bool TArchiveSource::Stale() const {
  struct stat st;
  if (::stat(archivePath_.c_str(), &st) != 0) return true;
  return st.st_dev != identity_.dev || st.st_ino != identity_.ino || st.st_size != identity_.size ||
         NanoTime(st) != identity_.mtimeNs;
}

bool TArchiveSource::Refresh(TError* err) {
  if (!Stale()) return true;
  const std::string password = archive_->Password();
  formats::TArchiveError aerr;
  auto archive = formats::TStreamArchive::Open(archivePath_, &aerr);
  if (!archive) return Fail(err, aerr.code ? aerr.code : EINVAL, "Cannot read \"" + displayRoot_ + "\": " + aerr.text);
  archive_ = std::move(archive);
  if (!password.empty()) archive_->SetPassword(password);
  listed_ = false;
  RememberIdentity();
  return EnsureListed(err);
}

formats::TPasswordQuery TArchiveSource::PasswordQuery() {
  if (!passwords_) return {};
  return [this](bool again, std::string& password) {
    return passwords_->AskPassword(displayRoot_, again, password);
  };
}

bool TArchiveSource::ReadListing(const TProgress& progress,
                                 const std::function<void(const std::string&)>& onMember, TError* err) {
  formats::TStreamArchive::TListEvents events;
  if (onMember) events.onMember = [&](uint32_t, const formats::TMember& m) { onMember(m.path); };
  events.progress = progress;
  events.password = PasswordQuery();
  const formats::TListState state = archive_->List(events);
  const auto& members = archive_->Members();
  // (Build asks for each path once, in order.)
  std::string scratch;
  index_.Build(members.size(), [&](size_t i) { return std::string_view(scratch = IndexPath(members[i])); });
  listed_ = true;
  if (state == formats::TListState::Damaged && members.empty())
    return Fail(err, EIO, "Cannot read \"" + displayRoot_ + "\": " + archive_->Problem());
  return true;
}

bool TArchiveSource::Partial() const {
  const formats::TListState s = archive_->State();
  return s == formats::TListState::Stopped || s == formats::TListState::Damaged;
}

bool TArchiveSource::EnsureListed(TError* err) { return listed_ || ReadListing({}, {}, err); }

void TArchiveSource::Expect(const std::vector<std::string>& inners) {
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
  if (archive_->State() == formats::TListState::Damaged)
    caps.readOnlyReason = "The archive is damaged (" + archive_->Problem() + "); " + caps.readOnlyReason;
  return caps;
}

TEntry TArchiveSource::EntryOf(uint32_t id) const {
  const TPathIndex::TNode& node = index_.Node(id);
  TEntry e;
  e.name = std::string(index_.Name(id));
  if (node.directory) {
    e.kind = TEntryKind::Directory;
    e.implied = node.entry < 0;
    e.mode = 0755;
  }
  if (node.entry < 0) return e;
  const formats::TMember& m = archive_->Members()[static_cast<size_t>(node.entry)];
  e.mtime = platform::UnixSecondsFromFileTime(m.writeTime);
  if (m.mode) e.mode = m.mode & 07777;
  if (node.directory) return e;
  switch (m.kind) {
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

bool TArchiveSource::List(const std::string& inner, std::vector<TEntry>& out, TError* err) {
  out.clear();
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
