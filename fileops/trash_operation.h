// trash_operation.h - moving a panel's items to the desktop Trash, and
// putting them back or erasing them from the panel that shows the Trash.
//
// The items are named like the copy engine's: bare names in one directory.
// Each goes into its volume's trash by one rename (platform/trash.h), so the
// operation is quick and never copies; an item that cannot go is reported
// with the system's reason and left where it was. Restoring is the same
// rename back to the original path, which it never replaces: where that
// name is taken the prompt decides (another name beside it, skip, or stop).
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace vantrel::platform {
class TrashSession;
struct TrashedItem;
}  // namespace vantrel::platform
namespace vantrel::vfs {
class TTrashSource;
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

// ------------------------------------------------------- out of the Trash

// Asked when an item cannot go back because its original name is taken.
class TRestorePrompt {
 public:
  enum class TAnswer { Rename, Skip, Cancel };
  virtual ~TRestorePrompt() = default;
  // `newName` comes with a free name in the original directory; Rename
  // restores the item under `newName` as the prompt leaves it (asked again
  // when that one is taken too).
  virtual TAnswer NameTaken(const platform::TrashedItem& item, std::string& newName) = 0;
};

struct TRestoreResult {
  std::vector<std::string> restored;    // rows put back
  std::vector<std::string> targets;     // where each of them went
  std::vector<TTrashFailure> failures;  // rows left in the Trash by an error
  size_t skipped = 0;
  bool cancelled = false;
};

// Puts the rows `names` of `trash` back where they came from, making the
// directories above them that are missing; the trash's listing is read
// again afterwards.
TRestoreResult RestoreRows(vfs::TTrashSource& trash, const std::vector<std::string>& names, TRestorePrompt& prompt);

// Removes the rows `names` of `trash` for good (all of them: EmptyTrash).
TTrashResult EraseRows(vfs::TTrashSource& trash, const std::vector<std::string>& names);
TTrashResult EmptyTrash(vfs::TTrashSource& trash);

// The questions before erasing: "Delete 3 items permanently? They cannot be
// restored." and "Empty the Trash? 3 items will be deleted permanently.".
std::string EraseQuestion(size_t count);
std::string EmptyQuestion(size_t count);
// One line of the report of what could not be restored or erased.
std::string RestoreFailureText(const TTrashFailure& failure);
std::string EraseFailureText(const TTrashFailure& failure);

}  // namespace vantrel::fileops
