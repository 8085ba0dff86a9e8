// zip_changes.cpp - a batch of changes to a ZIP archive, as one rewrite.
//
// The batch is first played on a model of the archive's entries (their
// paths as the index sees them), so that every change sees the ones before
// it and a batch that cannot be done is refused before anything is
// written. What remains is one edit for the engine: which entries stay
// (under which path) and which are added.
#include <cerrno>
#include <unordered_map>

#include "vfs/zip_source.h"
#include "platform/copyfile.h"
#include "platform/file_io.h"
#include "platform/fs.h"
#include "platform/private_file.h"
#include "platform/process.h"
#include "zip/zip_writer.h"

namespace vantrel::vfs {

struct TZipSource::TPlan {
  struct TItem {
    std::string path;  // normalised, without a trailing "/"
    bool directory = false;
    int old = -1;      // the archive's entry; -1 for an added one
    bool renamed = false;
    bool dropped = false;
    std::string localFile;
    bool storeLink = false;  // a link at localFile is stored as a link
    std::shared_ptr<const zip::TZipHeaderInfo> stored;  // localFile holds these stored data
  };
  std::vector<TItem> items;
  std::unordered_multimap<std::string, size_t> byPath;
  // Nameless files holding what `produce` gave, closed (and so gone) with
  // the plan.
  std::vector<int> spooled;
  // A private directory for links to store (the engine stores a link it
  // finds on disk), removed with the plan.
  std::string linkDir;
  std::vector<std::string> links;
  ~TPlan() {
    for (int fd : spooled) platform::CloseDescriptor(fd);
    for (const std::string& l : links) platform::RemoveEntry(l);
    if (!linkDir.empty()) platform::RemoveDirectory(linkDir);
  }

  void Add(TItem item) {
    byPath.emplace(item.path, items.size());
    items.push_back(std::move(item));
  }
  void Drop(size_t i) {
    auto range = byPath.equal_range(items[i].path);
    for (auto it = range.first; it != range.second; ++it)
      if (it->second == i) {
        byPath.erase(it);
        break;
      }
    items[i].dropped = true;
  }
  void Move(size_t i, std::string path) {
    Drop(i);
    items[i].dropped = false;
    items[i].path = std::move(path);
    items[i].renamed = true;
    byPath.emplace(items[i].path, i);
  }
  // The live items at `path` or below it.
  std::vector<size_t> AtOrBelow(const std::string& path) const {
    std::vector<size_t> out;
    for (size_t i = 0; i < items.size(); ++i) {
      const TItem& it = items[i];
      if (it.dropped) continue;
      if (path.empty() || it.path == path ||
          (it.path.size() > path.size() && it.path.compare(0, path.size(), path) == 0 &&
           it.path[path.size()] == '/'))
        out.push_back(i);
    }
    return out;
  }
  bool Exists(const std::string& path) const {
    if (byPath.count(path)) return true;
    // An implied directory: something lies below it.
    return !AtOrBelow(path).empty();
  }
  bool IsFile(const std::string& path) const {
    auto range = byPath.equal_range(path);
    for (auto it = range.first; it != range.second; ++it)
      if (!items[it->second].directory) return true;
    return false;
  }
};

namespace {

bool Fail(TError* err, int code, std::string text) {
  if (err) err->Set(code, std::move(text));
  return false;
}

// Data handed over by a producer go to a private file first: the engine
// compresses from files.
bool Spool(const TChange& c, std::vector<int>& spooled, std::string& file, TError* err) {
  // A nameless file, reached by its descriptor's path while it is open.
  const int fd = platform::PrivateTempFile();
  if (fd < 0) return Fail(err, errno, "Cannot make a temporary file: " + platform::ErrorText(errno));
  const std::string name = platform::OpenDescriptorPath(fd);
  spooled.push_back(fd);
  platform::SetOpenFileMode(fd, c.mode & 07777 ? c.mode & 07777 : 0644);
  TDescriptorSink sink(fd);
  const bool ok = c.produce && c.produce(sink, err);
  if (ok && c.mtime) platform::SetOpenFileTime(fd, c.mtime);
  if (!ok) {
    if (sink.error == ENOSPC)
      return Fail(err, ENOSPC, "The disk is full: no room for the data of \"" + c.path + "\" in " +
                                   platform::PrivateTempDirectory() + "; the archive was left as it was");
    if (sink.error) return Fail(err, sink.error, platform::ErrorText(sink.error));
    if (err && err->code == 0) err->Set(EIO, "The data of \"" + c.path + "\" could not be read");
    return false;
  }
  file = name;
  return true;
}

}  // namespace

bool TZipSource::Apply(const TChangeSet& changes, const TProgress& progress, TError* err) {
  const TCapabilities caps = Capabilities();
  if (!caps.writable) return Fail(err, EROFS, caps.readOnlyReason);
  if (Stale()) return Fail(err, ESTALE, "The archive changed on disk; read it again before changing it");

  TPlan plan;
  // A link to store is made on disk first, in a private directory.
  auto spoolLink = [&plan](const TChange& c, std::string& file, TError* e) {
    if (plan.linkDir.empty()) {
      plan.linkDir = platform::MakePrivateTempDir(".vantrel-links-");
      if (plan.linkDir.empty())
        return Fail(e, errno, "Cannot make a temporary directory: " + platform::ErrorText(errno));
    }
    file = plan.linkDir + "/" + std::to_string(plan.links.size());
    if (const int r = platform::MakeSymlink(c.to, file, c.mtime)) return Fail(e, r, platform::ErrorText(r));
    plan.links.push_back(file);
    return true;
  };
  const int count = zip_->Count();
  for (int i = 0; i < count; ++i) {
    bool isDir = false;
    TPlan::TItem item;
    item.path = TPathIndex::Normalise(zip_->Entry(i).PathView(), &isDir);
    item.directory = isDir;
    item.old = i;
    plan.Add(std::move(item));
  }
  for (const TChange& c : changes.changes) {
    const std::string path = TPathIndex::Normalise(c.path);
    if (path.empty()) return Fail(err, EINVAL, "The archive's root cannot be changed");
    switch (c.kind) {
      case TChange::TKind::MakeDir: {
        if (plan.Exists(path)) return Fail(err, EEXIST, "\"" + c.path + "\" exists already");
        TPlan::TItem item;
        item.path = path;
        item.directory = true;
        plan.Add(std::move(item));
        break;
      }
      case TChange::TKind::Delete: {
        const std::vector<size_t> below = plan.AtOrBelow(path);
        if (below.empty()) return Fail(err, ENOENT, "\"" + c.path + "\" is not in the archive");
        for (size_t i : below) plan.Drop(i);
        break;
      }
      case TChange::TKind::Rename: {
        const std::string to = TPathIndex::Normalise(c.to);
        if (to.empty()) return Fail(err, EINVAL, "A new name is needed");
        if (to == path) break;
        if (to.size() > path.size() && to.compare(0, path.size(), path) == 0 && to[path.size()] == '/')
          return Fail(err, EINVAL, "\"" + c.path + "\" cannot move into itself");
        if (plan.Exists(to)) return Fail(err, EEXIST, "\"" + c.to + "\" exists already");
        const std::vector<size_t> below = plan.AtOrBelow(path);
        if (below.empty()) return Fail(err, ENOENT, "\"" + c.path + "\" is not in the archive");
        for (size_t i : below) plan.Move(i, to + plan.items[i].path.substr(path.size()));
        break;
      }
      case TChange::TKind::Put:
      case TChange::TKind::Link: {
        std::vector<size_t> same;
        auto range = plan.byPath.equal_range(path);
        for (auto it = range.first; it != range.second; ++it) same.push_back(it->second);
        for (size_t i : same)
          if (plan.items[i].directory) return Fail(err, EISDIR, "\"" + c.path + "\" is a directory");
        if (plan.AtOrBelow(path).size() > same.size())
          return Fail(err, EISDIR, "\"" + c.path + "\" is a directory");
        // Replacing: the new data take the old entry's name.
        for (size_t i : same) plan.Drop(i);
        // The file's directory cannot be a file.
        for (std::string up = ParentInner(path); !up.empty(); up = ParentInner(up))
          if (plan.IsFile(up)) return Fail(err, ENOTDIR, "\"" + up + "\" is a file");
        TPlan::TItem item;
        item.path = path;
        item.localFile = c.localFile;
        // A user's file that is a link is stored as a link (a copy copies
        // links as links); data handed over are never a link.
        item.storeLink = !c.localFile.empty() || c.kind == TChange::TKind::Link;
        if (c.stored) {
          const auto* record = dynamic_cast<const TZipStoredRecord*>(c.stored.get());
          if (record == nullptr || !record->entry)
            return Fail(err, EINVAL, "\"" + c.path + "\" comes in a stored form this archive cannot take");
          item.stored = record->entry;
          item.storeLink = false;
        }
        if (c.kind == TChange::TKind::Link) {
          if (!spoolLink(c, item.localFile, err)) return false;
        } else if (item.localFile.empty() && !Spool(c, plan.spooled, item.localFile, err)) {
          return false;
        }
        plan.Add(std::move(item));
        break;
      }
    }
  }

  zip::TZipWriter::TEdit edit;
  std::vector<const TPlan::TItem*> byOld(static_cast<size_t>(count), nullptr);
  for (const TPlan::TItem& item : plan.items) {
    if (item.dropped) continue;
    if (item.old >= 0)
      byOld[static_cast<size_t>(item.old)] = &item;
    else
      edit.added.push_back({item.path + (item.directory ? "/" : ""), item.localFile, item.storeLink, item.stored});
  }
  int next = 0;
  edit.keep = [&](const zip::TZipHeaderInfo&, std::string& newPath) {
    const TPlan::TItem* item = byOld[static_cast<size_t>(next++)];
    if (!item) return false;
    if (item->renamed) newPath = item->path + (item->directory ? "/" : "");
    return true;
  };
  SetRunProgress(progress);
  bool ok = true;
  try {
    zip_->Edit(edit);
  } catch (const zip::EUserCanceled&) {
    ok = Fail(err, ECANCELED, "Stopped; the archive was left as it was");
  } catch (const zip::ENotEnoughRoom& e) {
    ok = Fail(err, ENOSPC, "The disk is full (" + std::string(e.what()) + "); the archive was left as it was");
  } catch (const std::exception& e) {
    ok = Fail(err, EIO, std::string(e.what()) + "; the archive was left as it was");
  }
  SetRunProgress(nullptr);
  if (!ok) {
    // The archive on disk is the old one, byte for byte: it is read again,
    // so that what is shown is what is there whatever the failed run left
    // of the engine's directory.
    const std::string password = zip_->Password;
    TError ignored;
    if (ReadDirectory(&ignored)) zip_->Password = password;
    return false;
  }
  // The engine's directory is the new archive's.
  index_.Build(static_cast<size_t>(zip_->Count()),
               [this](size_t i) { return zip_->Entry(static_cast<int>(i)).PathView(); });
  RememberIdentity();
  return true;
}

}  // namespace vantrel::vfs
