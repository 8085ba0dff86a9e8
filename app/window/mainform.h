// mainform.h - TMainForm, the main window: menus, toolbar, the two panel
// sides with their drive boxes, directory lines, headers and text lines, the
// command row and the status bar. It tracks the active panel and loads the
// settings file when it is created and saves it when it closes.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QMainWindow>

#include "app/settings/user_lists.h"
#include "panels/qt/fmpanel.h"
#include "platform/ini.h"

class QAction;
class QComboBox;
class QHeaderView;
class QLabel;
class QLineEdit;
class QSplitter;
class QToolBar;
class QToolButton;

namespace vantrel::app {

class TAboutForm;
class TDriveCombo;
class TFocusKeeper;
class TInfoForm;
class TKeyBar;

// The controls of one side (left or right), top to bottom.
struct TPanelSide {
  QWidget* Panel = nullptr;           // LeftPanel / RightPanel
  QWidget* ComboPanel = nullptr;      // the 20-pixel row
  TDriveCombo* DriveCombo = nullptr;  // volumes with their labels
  QToolButton* RootButton = nullptr;  // "Go to root"
  panels::TInfoLine* DirectoryPanel = nullptr;  // the directory line
  QHeaderView* Header = nullptr;      // "Name", "Ext", "Size", "Date", "Time"
  panels::TFMPanel* FMPanel = nullptr;
  panels::TInfoLine* FilePanel = nullptr;       // the cursor entry's information line
  panels::TInfoLine* InfoPanel = nullptr;  // the marks and the volume's free space
};

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  // Reads the settings from `settingsPath`, or from the user's "vantrel.ini"
  // when it is empty.
  explicit TMainForm(const std::string& settingsPath = {}, QWidget* parent = nullptr);
  ~TMainForm() override;

  // --- Application-wide state ---
  std::string EditorCommand;
  std::string ViewerCommand;
  std::string LanguageFile;
  // The directory of the executable, with a trailing "/".
  const std::string& ProgramDir() const { return programDir_; }
  const std::string& SettingsPath() const { return settingsPath_; }
  // The settings file, read once when the window is made; every part of the
  // program reads and writes its keys here, and closing the window writes
  // the whole file once.
  platform::IniFile& Settings() { return *settings_; }
  // Adds what a part of the program writes into the settings when the window
  // closes (inside the one write of the file).
  // Asked in turn before the window closes; one that returns false keeps it
  // open (and the settings unsaved) for now.
  void AddCloseGuard(std::function<bool()> guard) { closeGuards_.push_back(std::move(guard)); }
  void AddSettingsSaver(std::function<void(platform::IniFile&)> saver) {
    settingsSavers_.push_back(std::move(saver));
  }

  // --- The two sides ---
  const TPanelSide& Left() const { return left_; }
  const TPanelSide& Right() const { return right_; }
  panels::TFMPanel* LeftFMPanel() const { return left_.FMPanel; }
  panels::TFMPanel* RightFMPanel() const { return right_.FMPanel; }
  // The command line: the prompt shows the active panel's directory, the
  // field beside it holds what the user types. Showing the prompt also
  // gives the key bar the keys of the panel's place.
  QLineEdit* CommandEdit() const { return commandEdit_; }
  QLabel* CommandPrompt() const { return commandPrompt_; }
  void ShowCommandPrompt(const panels::TFMPanel& panel);
  QSplitter* Splitter() const { return splitter_; }
  QToolBar* MainToolBar() const { return toolBar_; }

  // The width of the left side.
  int LeftWidth() const;
  void SetLeftWidth(int width);
  // The left side's share of the room both sides have (0 to 1): it stays
  // when the window changes its size, also across a maximised session.
  double LeftShare() const;
  void SetLeftShare(double share);

  // A size at which both panels show every column whole with room for names,
  // within the screen: the size of a first start.
  QSize FittingSize() const;
  // The window's bounds when it is not maximised (the frame's position, the
  // client area's size), also while it is.
  QRect NormalBounds() const;

  // The panel with the keyboard focus, or nullptr when neither has it.
  panels::TFMPanel* ActivePanel() const;
  // The panel that last had the focus (the left one before either had it).
  panels::TFMPanel* LastActivePanel() const { return lastActive_ != nullptr ? lastActive_ : left_.FMPanel; }

  // Both panels read their own directories again, keeping the cursor and
  // the marks on the entries of the same names; the focus goes back where
  // it was. A `cursorName` puts the focused panel's cursor on that entry (a
  // directory or file the command made) when it is listed.
  void RefreshBothPanels(const std::string& cursorName = {});

  // Each header's sections take the widths of its own panel's columns.
  void SyncHeaders();
  void SyncHeader(const TPanelSide& side);

  // Gives every menu of the menu bar and every item of a menu an underlined
  // letter of its own (the first free one of its text) unless its text has
  // one; run again whenever the texts change (a translation).
  void AddAccelerators();
  // F9, F10: the menu bar opens its first menu, from where the arrow keys
  // and the underlined letters lead on.
  void OpenMenuBar();

  // The menu item or toolbar command of that name ("mnuFileCopy"), or nullptr.
  QAction* Action(const QString& name) const;

  // Masks, commands, hotlist and directory histories kept across starts.
  TUserLists& Lists() { return lists_; }
  TDirHistory& HistoryOf(const panels::TFMPanel* panel) {
    return panel == left_.FMPanel ? lists_.LeftHistory : lists_.RightHistory;
  }

  // Gives the keyboard back to the active panel when a window in front of the
  // main window closes.
  TFocusKeeper* FocusKeeper() const { return focusKeeper_; }

  // The function-key bar under the command line; hidden or shown by the
  // Options menu, kept in the settings file ("KeyBar").
  TKeyBar* KeyBar() const { return keyBar_; }
  void SetKeyBarShown(bool shown);
  bool KeyBarShown() const;
  // Clicks mark entries as they did before Ctrl+click did ("ClickMarks").
  void SetClickMarks(bool on);
  bool ClickMarks() const;
  // Enter on a ZIP archive opens the ZIP window instead of showing the
  // archive as a folder in the panel ("ZipWindowOnEnter").
  void SetZipWindowOnEnter(bool on);
  bool ZipWindowOnEnter() const { return zipWindowOnEnter_; }

  TInfoForm* InfoForm() const { return infoForm_; }
  TAboutForm* AboutForm() const { return aboutForm_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void InstallViewToggles();
  void BuildToolBar();
  TPanelSide BuildSide(const QString& prefix);
  void ConnectSide(TPanelSide& side);
  // What happens when a side's panel gets the focus.
  void PanelEnter(const TPanelSide& side);
  void SetDirectoryLineActive(QLabel* line, bool active);
  void SelectDriveOf(const TPanelSide& side);
  void DriveComboChange(const TPanelSide& side, int index);
  void RootButtonClick(const TPanelSide& side);

  // The sides keep the share of the width they had when the window resizes.
  void KeepSideRatio();

  void mnuFileExitClick();
  void mnuHlpAboutClick();

  std::string programDir_;
  std::string settingsPath_;
  std::unique_ptr<platform::IniFile> settings_;
  std::vector<std::function<void(platform::IniFile&)>> settingsSavers_;
  std::vector<std::function<bool()>> closeGuards_;
  TPanelSide left_;
  TPanelSide right_;
  QSplitter* splitter_ = nullptr;
  QLineEdit* commandEdit_ = nullptr;
  QLabel* commandPrompt_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  int leftWidth_ = 300;
  double sideRatio_ = -1;  // the left side's share; unknown until first laid out
  TUserLists lists_;
  panels::TFMPanel* lastActive_ = nullptr;
  TInfoForm* infoForm_ = nullptr;
  TKeyBar* keyBar_ = nullptr;
  bool keyBarShown_ = true;
  bool zipWindowOnEnter_ = false;
  TAboutForm* aboutForm_ = nullptr;
  TFocusKeeper* focusKeeper_ = nullptr;
};

}  // namespace vantrel::app
