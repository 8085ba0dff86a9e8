// place.cpp - place paths, and the sources that show them.
#include "vfs/place.h"

#include <cerrno>

#include "formats/archive_kind.h"
#include "platform/file_io.h"
#include "platform/fs.h"
#include "platform/private_file.h"
#include "vfs/archive_source.h"
#include "vfs/local_source.h"
#include "vfs/zip_source.h"

namespace vantrel::vfs {

namespace {

bool Fail(TError* err, int code, std::string text) {
  if (err) err->Set(code, std::move(text));
  return false;
}

std::string LocalParent(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

std::string Trimmed(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string TPlacePath::Display() const {
  std::string s = file;
  auto add = [&s](const std::string& part) {
    if (part.empty()) return;
    if (s.empty() || s.back() != '/') s += '/';
    s += part;
  };
  for (const std::string& n : nested) add(n);
  add(inner);
  return s;
}

std::string TPlacePath::ArchiveDisplay() const {
  if (!archive) return {};
  TPlacePath root = *this;
  root.inner.clear();
  return root.Display();
}

TPlacePath TPlacePath::Parent() const {
  TPlacePath up = *this;
  if (!archive) {
    up.file = LocalParent(Trimmed(file));
  } else if (!inner.empty()) {
    up.inner = ParentInner(inner);
  } else if (!nested.empty()) {
    up.inner = ParentInner(nested.back());
    up.nested.pop_back();
  } else {
    up = TPlacePath{};
    up.file = LocalParent(Trimmed(file));
  }
  return up;
}

TPlacePath TPlacePath::Child(const std::string& name) const {
  TPlacePath down = *this;
  if (archive)
    down.inner = JoinInner(inner, name);
  else
    down.file = platform::JoinPath(file, name);
  return down;
}

TPlacePath TPlacePath::IntoArchive(const std::string& name) const {
  TPlacePath into = *this;
  if (!archive) {
    into.file = platform::JoinPath(file, name);
    into.archive = true;
  } else {
    into.nested.push_back(JoinInner(inner, name));
    into.inner.clear();
  }
  return into;
}

TArchiveType DetectArchive(const std::string& localFile) {
  if (IsZipArchive(localFile)) return TArchiveType::Zip;
  if (formats::ProbeArchive(localFile).Recognised()) return TArchiveType::Other;
  return TArchiveType::None;
}

TPlaceOpener::TPlaceOpener(TPasswordProvider* passwords) : passwords_(passwords) {}
TPlaceOpener::~TPlaceOpener() = default;

bool TPlaceOpener::Parse(const std::string& display, TPlacePath& out, TError* err) {
  out = TPlacePath{};
  const std::string full = Trimmed(display);
  if (full.empty() || full[0] != '/') return Fail(err, EINVAL, "\"" + display + "\" is no absolute path");
  // The longest part that is on disk.
  std::string local = full;
  platform::FileIdentity there;
  while (!platform::GetFileIdentity(local, there)) {
    if (local == "/") return Fail(err, ENOENT, "\"" + display + "\" does not exist");
    local = LocalParent(local);
  }
  if (platform::IsDirectory(local)) {
    if (local != full) return Fail(err, ENOENT, "\"" + display + "\" does not exist");
    out.file = full;
    return true;
  }
  out.file = local;
  out.archive = true;
  const std::string rest = local.size() < full.size() ? full.substr(local.size() + 1) : std::string();
  const std::vector<std::string> parts = SplitInner(rest);
  std::shared_ptr<TSource> source = Source(out, err);
  if (!source) return false;
  for (const std::string& part : parts) {
    const std::string next = JoinInner(out.inner, part);
    TEntry e;
    if (!source->Stat(next, e, err)) return false;
    if (e.kind == TEntryKind::Directory) {
      out.inner = next;
      continue;
    }
    // A file on the way is an archive inside this one.
    out.nested.push_back(next);
    out.inner.clear();
    source = Source(out, err);
    if (!source) return false;
  }
  return true;
}

std::shared_ptr<TSource> TPlaceOpener::Source(const TPlacePath& place, TError* err) {
  if (!place.archive) {
    if (!platform::IsDirectory(place.file)) {
      Fail(err, ENOENT, "\"" + place.file + "\" is no directory");
      return nullptr;
    }
    return std::make_shared<TLocalSource>(place.file);
  }
  TPlacePath level;
  level.file = place.file;
  level.archive = true;
  std::shared_ptr<TSource> source;
  bool reopened = false;
  for (size_t i = 0; i <= place.nested.size(); ++i) {
    if (i > 0) level.nested.push_back(place.nested[i - 1]);
    const std::string key = level.Display();
    // A level whose outer archive was read again is read again too.
    std::shared_ptr<TSource> cached = reopened ? nullptr : open_[key].lock();
    if (cached && cached->Stale()) {
      if (cached->Refresh(nullptr))
        reopened = true;
      else
        cached.reset();
    }
    if (cached) {
      source = cached;
      continue;
    }
    std::shared_ptr<TSource> opened =
        i == 0 ? OpenArchive(place.file, key, false, err) : OpenNested(*source, place.nested[i - 1], key, err);
    if (!opened) return nullptr;
    open_[key] = opened;
    source = std::move(opened);
    reopened = true;
  }
  return source;
}

std::shared_ptr<TSource> TPlaceOpener::OpenArchive(const std::string& localPath, const std::string& display,
                                                   bool nested, TError* err) {
  switch (DetectArchive(localPath)) {
    case TArchiveType::Zip: {
      auto zip = TZipSource::Load(localPath, display, passwords_, err);
      if (zip && nested) zip->SetReadOnly(kNestedReadOnly);
      return std::shared_ptr<TSource>(std::move(zip));
    }
    case TArchiveType::Other:
      return std::shared_ptr<TSource>(TArchiveSource::Load(localPath, display, passwords_, err));
    case TArchiveType::None:
      break;
  }
  Fail(err, kNoArchive, "\"" + display + "\" is no archive that can be opened here");
  return nullptr;
}

std::shared_ptr<TSource> TPlaceOpener::OpenNested(TSource& outer, const std::string& entry,
                                                  const std::string& display, TError* err) {
  TEntry e;
  if (!outer.Stat(entry, e, err)) return nullptr;
  if (e.kind != TEntryKind::File) {
    Fail(err, EINVAL, "\"" + display + "\" is no archive that can be opened here");
    return nullptr;
  }
  const int fd = e.size <= NestedMemoryLimit ? platform::PrivateMemoryFile(LeafInner(entry))
                                             : platform::PrivateTempFile();
  if (fd < 0) {
    Fail(err, errno, "Cannot open \"" + display + "\": " + platform::ErrorText(errno));
    return nullptr;
  }
  TDescriptorSink sink(fd);
  if (!outer.ReadInto(entry, sink, {}, err)) {
    if (sink.error) Fail(err, sink.error, "Cannot open \"" + display + "\": " + platform::ErrorText(sink.error));
    platform::CloseDescriptor(fd);
    return nullptr;
  }
  std::shared_ptr<TSource> inner = OpenArchive(platform::OpenDescriptorPath(fd), display, true, err);
  if (!inner) {
    platform::CloseDescriptor(fd);
    return nullptr;
  }
  // The file lives as long as the source that reads it.
  TSource* raw = inner.get();
  return std::shared_ptr<TSource>(raw, [keep = std::move(inner), fd](TSource*) mutable {
    keep.reset();
    platform::CloseDescriptor(fd);
  });
}

}  // namespace vantrel::vfs
