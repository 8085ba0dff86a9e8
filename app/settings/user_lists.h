// user_lists.h - what the user built up while working and finds again at the
// next start: the last selection masks, the command-line history, the
// hotlist of directories, each panel's history of visited directories and
// its tabs. Each list lives in its own section of "vantrel.ini" as Count and
// Item1..ItemN.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vantrel::platform {
class IniFile;
}

namespace vantrel::app {

using TStringList = std::vector<std::string>;

// Puts `item` first, drops an earlier copy of it and cuts the list to `limit`.
void RememberFirst(TStringList& list, const std::string& item, size_t limit);

TStringList ReadList(const platform::IniFile& ini, const char* section, size_t limit);
// False when the file could not be written.
bool WriteList(platform::IniFile& ini, const char* section, const TStringList& list);

// Visited directories of one panel with a position for back and forward.
class TDirHistory {
 public:
  static constexpr size_t kLimit = 50;
  // A directory the panel went to by any way other than back and forward:
  // the entries after the current position are dropped and it goes last.
  void Visit(const std::string& dir);
  // The directory one step back (forward), or empty at the end of the list.
  std::string Back();
  std::string Forward();
  // The directory the panel showed before the current one ("cd -").
  const std::string& Previous() const { return previous_; }
  // Oldest first.
  const TStringList& Items() const { return items_; }
  size_t Position() const { return pos_; }
  void Assign(TStringList items);

 private:
  TStringList items_;
  size_t pos_ = 0;  // index of the current directory in items_
  std::string previous_;
};

struct TUserLists {
  static constexpr size_t kMaskLimit = 20;
  static constexpr size_t kCommandLimit = 100;
  static constexpr size_t kHotlistLimit = 100;
  TStringList Masks;     // newest first
  TStringList Commands;  // newest first
  TStringList Hotlist;   // in the user's order
  TDirHistory LeftHistory, RightHistory;

  void Load(const platform::IniFile& ini);
  bool Save(platform::IniFile& ini) const;
};

}  // namespace vantrel::app
