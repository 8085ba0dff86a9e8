// local_source.cpp - a local directory tree as a source, over platform/.
#include "vfs/local_source.h"

#include <cerrno>
#include <memory>

#include "platform/copyfile.h"
#include "platform/file_io.h"
#include "platform/fs.h"
#include "platform/private_file.h"
#include "platform/rename.h"

namespace vantrel::vfs {

namespace {

TEntryKind KindOf(platform::EntryKind k) {
  switch (k) {
    case platform::EntryKind::Directory: return TEntryKind::Directory;
    case platform::EntryKind::Symlink: return TEntryKind::Link;
    case platform::EntryKind::File: return TEntryKind::File;
    default: return TEntryKind::Special;
  }
}

TEntry EntryFrom(const std::string& name, const std::string& path, const platform::EntryInfo& info) {
  TEntry e;
  e.name = name;
  e.kind = KindOf(info.kind);
  e.size = e.packedSize = info.size;
  e.mtime = info.writeTime.tv_sec;
  e.mode = info.mode;
  if (e.kind == TEntryKind::Link) {
    platform::ReadLinkTarget(path, e.linkTarget);
    e.linkToDirectory = platform::IsDirectory(path);
  }
  return e;
}

bool Fail(TError* err, int code, const std::string& what) {
  if (err) err->Set(code, what + ": " + platform::ErrorText(code));
  return false;
}

// Removes `path` and, for a directory, everything below it; links are
// removed, never followed.
int RemoveTree(const std::string& path) {
  platform::EntryInfo info;
  if (!platform::LStat(path, info)) return errno;
  if (info.kind != platform::EntryKind::Directory) return platform::RemoveEntry(path);
  std::vector<std::pair<std::string, bool>> children;
  const int listed = platform::ListDirectory(path, [&](const char* name, const platform::EntryInfo& i) {
    children.emplace_back(name, i.kind == platform::EntryKind::Directory);
  });
  if (listed != 0) return listed;
  for (const auto& [name, dir] : children) {
    const std::string child = platform::JoinPath(path, name);
    const int r = dir ? RemoveTree(child) : platform::RemoveEntry(child);
    if (r != 0 && r != ENOENT) return r;
  }
  return platform::RemoveDirectory(path);
}

}  // namespace

TLocalSource::TLocalSource(std::string root) : root_(std::move(root)) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

bool TLocalSource::LocalPath(const std::string& inner, std::string& path) const {
  path = root_;
  for (const std::string& part : SplitInner(inner)) {
    if (part == "." || part == "..") return false;
    path = platform::JoinPath(path, part);
  }
  return true;
}

TCapabilities TLocalSource::Capabilities() const {
  TCapabilities caps;
  const int denied = platform::WriteAccess(root_);
  caps.writable = denied == 0;
  if (!caps.writable) caps.readOnlyReason = "The directory is read-only: " + platform::ErrorText(denied);
  return caps;
}

bool TLocalSource::List(const std::string& inner, std::vector<TEntry>& out, TError* err) {
  out.clear();
  std::string path;
  if (!LocalPath(inner, path)) return Fail(err, EINVAL, "\"" + inner + "\"");
  const int r = platform::ListDirectory(path, [&](const char* name, const platform::EntryInfo& info) {
    out.push_back(EntryFrom(name, platform::JoinPath(path, name), info));
  });
  return r == 0 ? true : Fail(err, r, path);
}

bool TLocalSource::Stat(const std::string& inner, TEntry& out, TError* err) {
  std::string path;
  if (!LocalPath(inner, path)) return Fail(err, EINVAL, "\"" + inner + "\"");
  platform::EntryInfo info;
  if (!platform::LStat(path, info)) return Fail(err, errno, path);
  out = EntryFrom(LeafInner(inner), path, info);
  return true;
}

bool TLocalSource::ReadInto(const std::string& inner, TDataSink& sink, const TProgress& progress,
                            TError* err) {
  std::string path;
  if (!LocalPath(inner, path)) return Fail(err, EINVAL, "\"" + inner + "\"");
  platform::SourceFile file;
  if (const int r = file.Open(path)) return Fail(err, r, path);
  const uint64_t total = file.info().size;
  uint64_t done = 0;
  std::string buf(1 << 20, '\0');
  for (;;) {
    const int64_t n = platform::ReadSome(file.fd(), buf.data(), buf.size());
    if (n < 0) return Fail(err, errno, path);
    if (n == 0) return true;
    if (!sink.Write(buf.data(), static_cast<size_t>(n))) {
      if (err) err->Set(EIO, "Cannot write the data of " + path);
      return false;
    }
    done += static_cast<uint64_t>(n);
    if (progress && !progress(done, total)) {
      if (err) err->Set(ECANCELED, "Stopped");
      return false;
    }
  }
}

bool TLocalSource::Apply(const TChangeSet& changes, const TProgress& progress, TError* err) {
  for (const TChange& c : changes.changes)
    if (!ApplyOne(c, progress, err)) return false;
  return true;
}

bool TLocalSource::ApplyOne(const TChange& c, const TProgress& progress, TError* err) {
  std::string path;
  if (!LocalPath(c.path, path) || SplitInner(c.path).empty())
    return Fail(err, EINVAL, "\"" + c.path + "\"");
  switch (c.kind) {
    case TChange::TKind::MakeDir:
      if (const int r = platform::MakeDirectoryWithMode(path, c.mode ? c.mode : 0755)) return Fail(err, r, path);
      return true;
    case TChange::TKind::Delete:
      if (const int r = RemoveTree(path)) return Fail(err, r, path);
      return true;
    case TChange::TKind::Rename: {
      std::string to;
      if (!LocalPath(c.to, to) || SplitInner(c.to).empty()) return Fail(err, EINVAL, "\"" + c.to + "\"");
      // Never over an entry that is there already.
      if (const int r = platform::RenameNoReplace(path, to)) return Fail(err, r, to);
      return true;
    }
    case TChange::TKind::Put:
      return PutOne(c, path, progress, err);
    case TChange::TKind::Link:
      return LinkOne(c, path, err);
  }
  return false;
}

bool TLocalSource::LinkOne(const TChange& c, const std::string& path, TError* err) {
  // Made under a hidden name and renamed into place, replacing what is there
  // (a file the user agreed to replace), never a directory.
  const std::string dir = path.substr(0, path.rfind('/'));
  const std::string temp =
      platform::JoinPath(dir.empty() ? "/" : dir, ".vantrel-link-" + std::to_string(platform::ProcessNumber()));
  platform::RemoveEntry(temp);
  if (const int r = platform::MakeSymlink(c.to, temp, c.mtime)) return Fail(err, r, path);
  platform::EntryInfo there;
  if (platform::LStat(path, there) && there.kind == platform::EntryKind::Directory) {
    platform::RemoveEntry(temp);
    return Fail(err, EISDIR, path);
  }
  if (const int r = platform::RenameReplacing(temp, path)) {
    platform::RemoveEntry(temp);
    return Fail(err, r, path);
  }
  return true;
}

bool TLocalSource::PutOne(const TChange& c, const std::string& path, const TProgress& progress,
                          TError* err) {
  // Stored data are no file's content: written here they would be a file
  // of compressed (perhaps encrypted) bytes under the entry's name.
  if (c.stored) return Fail(err, EINVAL, path);
  if (!c.localFile.empty()) {
    const platform::CopyResult r = platform::CopyRegularFile(
        c.localFile, path, true, [&](uint64_t done) { return !progress || progress(done, 0); });
    if (r.status == platform::CopyStatus::Stopped) {
      if (err) err->Set(ECANCELED, "Stopped");
      return false;
    }
    return r.status == platform::CopyStatus::Done ? true : Fail(err, r.error, path);
  }
  const std::string dir = ParentInner(path).empty() ? "/" : path.substr(0, path.rfind('/'));
  const int fd = platform::UnnamedFileIn(dir, c.mode);
  if (fd < 0) return Fail(err, errno, path);
  // One buffer per thread that writes files, kept for the next file.
  constexpr size_t kPutBuffer = 1 << 20;
  thread_local std::unique_ptr<char[]> buffer;
  if (!buffer) buffer = std::make_unique<char[]>(kPutBuffer);
  TBufferedDescriptorSink sink(fd, buffer.get(), kPutBuffer);
  if (!c.produce || !c.produce(sink, err) || !sink.Finish()) {
    platform::CloseDescriptor(fd);
    if (sink.error) return Fail(err, sink.error, path);
    return false;
  }
  if (c.mtime) platform::SetOpenFileTime(fd, c.mtime);
  if (!maskKnown_) {
    creationMask_ = platform::FileCreationMask();
    maskKnown_ = true;
  }
  // The file was made with the mode less the mask: changed only when the
  // mask took bits away (or the mask is not known).
  const uint32_t mode = c.mode & 07777;
  if (creationMask_ == platform::kUnknownMask || (mode & ~0777u) != 0 || (mode & creationMask_) != 0)
    platform::SetOpenFileMode(fd, c.mode);
  const int r = platform::PlaceUnnamed(fd, dir, path, true);
  platform::CloseDescriptor(fd);
  return r == 0 ? true : Fail(err, r, path);
}

}  // namespace vantrel::vfs
