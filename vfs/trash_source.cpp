// trash_source.cpp - the desktop Trash as a place a panel lists.
#include "vfs/trash_source.h"

#include <cerrno>

#include "platform/fs.h"
#include "vfs/local_source.h"

namespace vantrel::vfs {

namespace {

bool Fail(TError* err, int code, const std::string& text) {
  if (err) err->Set(code, text);
  return false;
}

// "name.N.ext" for the N-th of one name (N > 1), as trashes number theirs.
std::string Numbered(const std::string& name, int n) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name + "." + std::to_string(n);
  return name.substr(0, dot) + "." + std::to_string(n) + name.substr(dot);
}

std::string FilesDir(const platform::TrashDir& trash) { return platform::JoinPath(trash.path, "files"); }

}  // namespace

TTrashSource::TTrashSource(platform::TrashEnv env, std::vector<std::string> topdirs)
    : env_(std::move(env)), topdirs_(std::move(topdirs)) {}

bool TTrashSource::IsTrashPath(const std::string& path, std::string* inner) {
  constexpr std::string_view kScheme = "trash:";
  if (path.compare(0, kScheme.size(), kScheme) != 0) return false;
  size_t from = kScheme.size();
  while (from < path.size() && path[from] == '/') ++from;
  size_t to = path.size();
  while (to > from && path[to - 1] == '/') --to;
  if (inner) *inner = path.substr(from, to - from);
  return true;
}

TCapabilities TTrashSource::Capabilities() const { return {false, kReadOnly}; }

void TTrashSource::Reload() {
  rows_.clear();
  byName_.clear();
  for (const platform::TrashDir& trash : platform::ExistingTrashDirs(env_, topdirs_)) {
    for (platform::TrashedItem& item : platform::ListTrash(trash)) {
      std::string name = item.name;
      for (int n = 2; !byName_.emplace(name, rows_.size()).second; ++n) name = Numbered(item.name, n);
      rows_.push_back({std::move(name), std::move(item)});
    }
  }
  loaded_ = true;
}

const std::vector<TTrashRow>& TTrashSource::Rows() {
  if (!loaded_) Reload();
  return rows_;
}

const TTrashRow* TTrashSource::Row(const std::string& name) {
  Rows();
  const auto it = byName_.find(name);
  return it != byName_.end() ? &rows_[it->second] : nullptr;
}

bool TTrashSource::LocalPath(const std::string& inner, std::string& path) {
  const std::vector<std::string> parts = SplitInner(inner);
  if (parts.empty()) return false;
  const TTrashRow* row = Row(parts.front());
  if (row == nullptr) return false;
  // Below the item, the local source's rules: no "." or "..".
  std::string rest = row->item.name;
  for (size_t i = 1; i < parts.size(); ++i) rest = JoinInner(rest, parts[i]);
  return TLocalSource(FilesDir(row->item.trash)).LocalPath(rest, path);
}

bool TTrashSource::List(const std::string& inner, std::vector<TEntry>& out, TError* err) {
  out.clear();
  if (SplitInner(inner).empty()) {
    Reload();
    for (const TTrashRow& row : rows_) {
      TEntry e;
      if (!Stat(row.name, e, err)) continue;  // gone since the trash was read
      out.push_back(std::move(e));
    }
    return true;
  }
  std::string path;
  if (!LocalPath(inner, path)) return Fail(err, ENOENT, "The Trash holds no " + inner);
  const std::string dir = path.substr(0, path.rfind('/'));
  const std::string leaf = path.substr(path.rfind('/') + 1);
  TLocalSource local(dir.empty() ? "/" : dir);
  return local.List(leaf, out, err);
}

bool TTrashSource::Stat(const std::string& inner, TEntry& out, TError* err) {
  const std::vector<std::string> parts = SplitInner(inner);
  if (parts.empty()) {
    out = TEntry{};
    out.kind = TEntryKind::Directory;
    return true;
  }
  std::string path;
  if (!LocalPath(inner, path)) return Fail(err, ENOENT, "The Trash holds no " + inner);
  const std::string dir = path.substr(0, path.rfind('/'));
  TLocalSource local(dir.empty() ? "/" : dir);
  if (!local.Stat(path.substr(path.rfind('/') + 1), out, err)) return false;
  out.name = parts.back();
  if (parts.size() == 1) {
    // A row: its deletion date as its time, a directory's disk usage as its size.
    const TTrashRow* row = Row(parts.front());
    out.mtime = row->item.deletionDate;
    if (out.kind == TEntryKind::Directory) out.size = out.packedSize = row->item.size;
  }
  return true;
}

bool TTrashSource::ReadInto(const std::string& inner, TDataSink& sink, const TProgress& progress, TError* err) {
  std::string path;
  if (!LocalPath(inner, path)) return Fail(err, ENOENT, "The Trash holds no " + inner);
  const std::string dir = path.substr(0, path.rfind('/'));
  TLocalSource local(dir.empty() ? "/" : dir);
  return local.ReadInto(path.substr(path.rfind('/') + 1), sink, progress, err);
}

}  // namespace vantrel::vfs
