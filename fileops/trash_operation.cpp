// trash_operation.cpp - moving a panel's items to the desktop Trash.
#include "fileops/trash_operation.h"

#include <cerrno>

#include "platform/fs.h"
#include "platform/trash.h"

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

}  // namespace vantrel::fileops
