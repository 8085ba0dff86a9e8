// trash_operation.h - moving a panel's items to the desktop Trash.
//
// The items are named like the copy engine's: bare names in one directory.
// Each goes into its volume's trash by one rename (platform/trash.h), so the
// operation is quick and never copies; an item that cannot go is reported
// with the system's reason and left where it was.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace vantrel::platform {
class TrashSession;
}

namespace vantrel::fileops {

struct TTrashFailure {
  std::string name;
  int error = 0;
};

struct TTrashResult {
  std::vector<std::string> trashed;     // names now in the trash
  std::vector<TTrashFailure> failures;  // names left where they were
  bool cancelled = false;
};

// Moves each of `names` in `dir` to the trash. `progress`, when given, hears
// after each item how many are done; `cancel` is looked at before each item.
TTrashResult TrashNames(platform::TrashSession& session, const std::vector<std::string>& names,
                        const std::string& dir, const std::function<void(size_t done)>& progress = {},
                        const std::atomic<bool>* cancel = nullptr);

// Whether every one of `names` in `dir` can go to a trash.
bool CanTrashNames(platform::TrashSession& session, const std::vector<std::string>& names,
                   const std::string& dir);

// The question before moving: "Move N items to the Trash?" (one item: "Move
// 1 item to the Trash?").
std::string TrashQuestion(size_t count);
// Said with the delete question where no trash can take the items.
inline constexpr const char* kNoTrashNote =
    "These items cannot be moved to the Trash: they will be deleted permanently.";
// One line of the report of what could not be moved.
std::string TrashFailureText(const TTrashFailure& failure);

}  // namespace vantrel::fileops
