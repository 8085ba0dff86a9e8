// trash_source.h - the desktop Trash as a place a panel lists.
//
// The root lists every item of the user's trashes (the home trash and those
// at the top of the mounted volumes) as one directory: each item under the
// name it has in its trash's files/ directory, with its size (the disk
// usage of a trashed directory, from the trash's directorysizes cache where
// it is current) and its deletion date as its time. The name in files/ is
// the original name unless the trash had one of that name already
// ("report.2.pdf"); the original path comes with every row. Two trashes
// holding one name: the later trash's item is shown with the next free
// number, so every row has a name of its own that the commands can find.
//
// A trashed directory can be entered and read like any directory (its
// entries are listed, viewed and copied out); nothing in the Trash is
// changed through Apply. Items go back, or away for good, through the
// restoring and erasing of fileops/trash_operation.h, which take the rows.
//
// The root is read again at every listing of it, so a panel showing the
// Trash is current after every refresh.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "platform/trash.h"
#include "vfs/source.h"

namespace vantrel::vfs {

// One row of the Trash's root.
struct TTrashRow {
  std::string name;  // as listed
  platform::TrashedItem item;
};

class TTrashSource final : public TSource {
 public:
  // `topdirs`: the mount points whose trashes are listed beside the home one.
  TTrashSource(platform::TrashEnv env, std::vector<std::string> topdirs);

  // How the Trash is shown and typed: "trash:///", places below it
  // "trash:///photos/2024".
  static constexpr const char* kRoot = "trash:///";
  // Whether `path` names the Trash or a place in it ("trash:", "trash://",
  // "trash:///a"); `inner` receives the place ("" the root).
  static bool IsTrashPath(const std::string& path, std::string* inner = nullptr);

  std::string Root() const override { return kRoot; }
  TCapabilities Capabilities() const override;
  bool List(const std::string& inner, std::vector<TEntry>& out, TError* err) override;
  bool Stat(const std::string& inner, TEntry& out, TError* err) override;
  bool ReadInto(const std::string& inner, TDataSink& sink, const TProgress& progress, TError* err) override;

  // The rows of the last listing of the root (read now when there was none).
  const std::vector<TTrashRow>& Rows();
  // The row listed as `name`; null when there is none.
  const TTrashRow* Row(const std::string& name);
  // Where `inner` is on disk (inside a trash's files/); false when the
  // Trash has no such item or the path would leave it.
  bool LocalPath(const std::string& inner, std::string& path);
  // Reads the trashes again.
  void Reload();

  static constexpr const char* kReadOnly = "Items in the Trash go back with F5 or F6 and away with F8";

 private:
  platform::TrashEnv env_;
  std::vector<std::string> topdirs_;
  std::vector<TTrashRow> rows_;
  std::unordered_map<std::string, size_t> byName_;
  bool loaded_ = false;
};

}  // namespace vantrel::vfs
