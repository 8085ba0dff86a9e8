// panel_tabs.h - tabs of one panel: several directories kept at hand, each
// with its own sort order and cursor.
//
// The panel itself is shared by its tabs: switching tabs stores what the
// panel shows in the tab it leaves and shows the tab it goes to. With one tab
// on either side the tab bars are hidden and the sides look as they always did. The tabs are
// saved in their own section ("LEFT TABS", "RIGHT TABS") when the window
// closes and restored when it is created.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <QObject>

class QTabBar;

namespace vantrel::platform {
class IniFile;
}

namespace vantrel::app {

class TMainForm;
struct TPanelSide;

struct TTabState {
  std::string Directory;
  uint8_t SortType = 0;
  bool SortDescending = false;
  std::string CursorName;  // the entry under the cursor
};

class TPanelTabs final : public QObject {
  Q_OBJECT

 public:
  static constexpr int kLimit = 32;

  TPanelTabs(TMainForm& form, const TPanelSide& side, const char* section);

  QTabBar* Bar() const { return bar_; }
  int Count() const { return static_cast<int>(tabs_.size()); }
  int Current() const { return current_; }
  // The state of tab `index` (the current one as the panel shows it now).
  TTabState Tab(int index) const;

  // Ctrl+T: a new tab on the current directory, after the current one.
  void NewTab();
  // Ctrl+W: closes the current tab; the last tab stays.
  void CloseTab();
  // Ctrl+Tab (+1) and Ctrl+Shift+Tab (-1), round the end.
  void Switch(int step);
  void Activate(int index);

  void Load(const platform::IniFile& ini);
  bool Save(platform::IniFile& ini) const;

 private:
  TTabState Capture() const;
  void Show(const TTabState& tab);
  void SyncBar();

  TMainForm& form_;
  const TPanelSide& side_;
  const char* section_;
  QTabBar* bar_ = nullptr;
  std::vector<TTabState> tabs_;
  int current_ = 0;
  bool syncing_ = false;
};

}  // namespace vantrel::app
