// trash_operation.cpp - moving a panel's items to the desktop Trash.
#include "fileops/trash_operation.h"

#include <cerrno>

#include "fileops/deferred.h"
#include "platform/fs.h"
#include "platform/trash.h"
#include "vfs/trash_source.h"

namespace vantrel::fileops {

TTrashResult TrashNames(platform::TrashSession& session, const std::vector<std::string>& names,
                        const std::string& dir, const std::function<void(size_t)>& progress,
                        const std::atomic<bool>* cancel) {
  TTrashResult result;
  for (const std::string& name : names) {
    if (cancel != nullptr && cancel->load()) {
      result.cancelled = true;
      break;
    }
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
      result.failures.push_back({name, EINVAL});
    } else if (const int rc = session.Trash(platform::JoinPath(dir, name)); rc != 0) {
      result.failures.push_back({name, rc});
    } else {
      result.trashed.push_back(name);
    }
    if (progress) progress(result.trashed.size() + result.failures.size());
  }
  session.Flush();
  return result;
}

bool CanTrashNames(platform::TrashSession& session, const std::vector<std::string>& names,
                   const std::string& dir) {
  std::vector<std::string> paths;
  paths.reserve(names.size());
  for (const std::string& name : names) paths.push_back(platform::JoinPath(dir, name));
  return !paths.empty() && session.CanTrash(paths);
}

std::string TrashQuestion(size_t count) {
  return count == 1 ? std::string("Move 1 item to the Trash?")
                    : "Move " + std::to_string(count) + " items to the Trash?";
}

std::string TrashFailureText(const TTrashFailure& failure) {
  return "Could not move to the Trash " + failure.name + ": " + platform::ErrorText(failure.error);
}

namespace {

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

std::string Items(size_t count) { return count == 1 ? "1 item" : std::to_string(count) + " items"; }

// Puts one item back: at its original path, else where the prompt says.
// 0, an errno value, or ECANCELED / -1 for a cancel / a skip.
int RestoreOne(const platform::TrashedItem& item, TRestorePrompt& prompt, std::string& target) {
  target = item.originalPath;
  int rc = platform::RestoreFromTrash(item, target);
  const std::string dir = DirectoryOf(item.originalPath);
  std::string name = item.originalPath.substr(item.originalPath.rfind('/') + 1);
  while (rc == EEXIST) {
    name = FreeName(dir, name);
    switch (prompt.NameTaken(item, name)) {
      case TRestorePrompt::TAnswer::Skip: return -1;
      case TRestorePrompt::TAnswer::Cancel: return ECANCELED;
      case TRestorePrompt::TAnswer::Rename: break;
    }
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return EINVAL;
    target = platform::JoinPath(dir, name);
    rc = platform::RestoreFromTrash(item, target);
  }
  return rc;
}

// The items of the rows `names`, taken before any of them is touched (the
// listing is not read again meanwhile); a name with no row fails as ENOENT.
std::vector<std::pair<std::string, platform::TrashedItem>> TakeRows(vfs::TTrashSource& trash,
                                                                    const std::vector<std::string>& names,
                                                                    std::vector<TTrashFailure>& failures) {
  std::vector<std::pair<std::string, platform::TrashedItem>> chosen;
  for (const std::string& name : names) {
    if (const vfs::TTrashRow* row = trash.Row(name))
      chosen.emplace_back(name, row->item);
    else
      failures.push_back({name, ENOENT});
  }
  return chosen;
}

}  // namespace

TRestoreResult RestoreRows(vfs::TTrashSource& trash, const std::vector<std::string>& names, TRestorePrompt& prompt) {
  TRestoreResult result;
  for (const auto& [name, item] : TakeRows(trash, names, result.failures)) {
    std::string target;
    const int rc = RestoreOne(item, prompt, target);
    if (rc == ECANCELED) {
      result.cancelled = true;
      break;
    }
    if (rc == -1) {
      ++result.skipped;
    } else if (rc != 0) {
      result.failures.push_back({name, rc});
    } else {
      result.restored.push_back(name);
      result.targets.push_back(target);
    }
  }
  trash.Reload();
  return result;
}

TTrashResult EraseRows(vfs::TTrashSource& trash, const std::vector<std::string>& names) {
  TTrashResult result;
  for (const auto& [name, item] : TakeRows(trash, names, result.failures)) {
    if (const int rc = platform::EraseFromTrash(item); rc != 0)
      result.failures.push_back({name, rc});
    else
      result.trashed.push_back(name);
  }
  trash.Reload();
  return result;
}

TTrashResult EmptyTrash(vfs::TTrashSource& trash) {
  trash.Reload();
  std::vector<std::string> all;
  for (const vfs::TTrashRow& row : trash.Rows()) all.push_back(row.name);
  return EraseRows(trash, all);
}

std::string EraseQuestion(size_t count) {
  return "Delete " + Items(count) + " permanently? They cannot be restored.";
}

std::string EmptyQuestion(size_t count) {
  return "Empty the Trash? " + Items(count) + " will be deleted permanently.";
}

std::string RestoreFailureText(const TTrashFailure& failure) {
  return "Could not restore " + failure.name + ": " + platform::ErrorText(failure.error);
}

std::string EraseFailureText(const TTrashFailure& failure) {
  return "Could not delete " + failure.name + ": " + platform::ErrorText(failure.error);
}

}  // namespace vantrel::fileops
