// panel_tabs.cpp - the tabs of a panel and their place in the settings file.
#include "app/panels/panel_tabs.h"

#include <algorithm>

#include <QEvent>
#include <QTabBar>
#include <QVBoxLayout>

#include "app/window/mainform.h"
#include "panels/qt/fmpanel.h"
#include "platform/fs.h"
#include "platform/ini.h"
#include "platform/qt/volumes.h"

namespace vantrel::app {

using panels::TFMPanel;

namespace {

QString TitleOf(const std::string& dir) {
  const size_t slash = dir.find_last_of('/');
  const std::string name = slash == std::string::npos || slash + 1 == dir.size() ? dir : dir.substr(slash + 1);
  return platform::ToDisplay(name);
}

}  // namespace

TPanelTabs::TPanelTabs(TMainForm& form, const TPanelSide& side, const char* section)
    : QObject(&form), form_(form), side_(side), section_(section) {
  setObjectName(side.Panel->objectName() + QStringLiteral("Tabs"));
  bar_ = new QTabBar(side.Panel);
  bar_->setObjectName(side.Panel->objectName().chopped(5) + QStringLiteral("TabBar"));
  bar_->setFocusPolicy(Qt::NoFocus);
  bar_->setDrawBase(false);
  bar_->setExpanding(false);
  bar_->setElideMode(Qt::ElideMiddle);
  if (auto* layout = qobject_cast<QVBoxLayout*>(side.Panel->layout())) layout->insertWidget(1, bar_);
  tabs_.push_back(Capture());
  SyncBar();
  connect(bar_, &QTabBar::currentChanged, this, [this](int index) {
    if (!syncing_) Activate(index);
  });
  // The current tab's title follows the panel's directory.
  connect(side.FMPanel, &TFMPanel::directoryRead, this, [this] {
    if (!syncing_) SyncBar();
  });
  // The tabs are written with the rest of the settings when the window closes.
  form.AddSettingsSaver([this](platform::IniFile& ini) { Save(ini); });
}

TTabState TPanelTabs::Capture() const {
  const TFMPanel& panel = *side_.FMPanel;
  TTabState tab;
  tab.Directory = panel.Directory();
  tab.SortType = panel.SortType();
  tab.SortDescending = panel.Model().SortDescending();
  if (const panels::TFileEntry* entry = panel.CurrentEntry()) tab.CursorName = entry->FileName;
  return tab;
}

TTabState TPanelTabs::Tab(int index) const {
  return index == current_ ? Capture() : tabs_.at(static_cast<size_t>(index));
}

void TPanelTabs::Show(const TTabState& tab) {
  TFMPanel& panel = *side_.FMPanel;
  panel.Model().SetSortOrder(tab.SortType, tab.SortDescending, false);
  // The tab's directory or place inside an archive; one that has gone
  // since: the nearest directory that is left.
  if (!panel.ReadDirectory(tab.Directory) &&
      !panel.ReadDirectory(platform::NearestExistingDirectory(tab.Directory)))
    panel.ReadDirectory(panel.Directory());
  const int index = panel.IndexOfName(tab.CursorName);
  panel.SetCursor(index);
  if (panel.hasFocus()) platform::SetCurrentDir(panel.Directory());
}

void TPanelTabs::SyncBar() {
  syncing_ = true;
  while (bar_->count() > Count()) bar_->removeTab(bar_->count() - 1);
  while (bar_->count() < Count()) bar_->addTab(QString());
  for (int i = 0; i < Count(); ++i) {
    const std::string& dir = i == current_ ? side_.FMPanel->Directory() : tabs_[static_cast<size_t>(i)].Directory;
    bar_->setTabText(i, TitleOf(dir));
    bar_->setTabToolTip(i, platform::ToDisplay(dir));
  }
  bar_->setCurrentIndex(current_);
  syncing_ = false;
  // Both sides show their bars or neither does, so the two lists start at
  // the same height.
  const QList<TPanelTabs*> sides = form_.findChildren<TPanelTabs*>(Qt::FindDirectChildrenOnly);
  const bool shown = std::any_of(sides.begin(), sides.end(), [](const TPanelTabs* t) { return t->Count() > 1; });
  for (TPanelTabs* side : sides) side->bar_->setVisible(shown);
}

void TPanelTabs::NewTab() {
  if (Count() >= kLimit) return;
  tabs_[static_cast<size_t>(current_)] = Capture();
  tabs_.insert(tabs_.begin() + current_ + 1, tabs_[static_cast<size_t>(current_)]);
  ++current_;
  SyncBar();
}

void TPanelTabs::CloseTab() {
  if (Count() <= 1) return;
  tabs_.erase(tabs_.begin() + current_);
  current_ = std::min(current_, Count() - 1);
  Show(tabs_[static_cast<size_t>(current_)]);
  SyncBar();
}

void TPanelTabs::Switch(int step) {
  if (Count() > 1) Activate((current_ + step + Count()) % Count());
}

void TPanelTabs::Activate(int index) {
  if (index < 0 || index >= Count() || index == current_) return;
  tabs_[static_cast<size_t>(current_)] = Capture();
  current_ = index;
  syncing_ = true;
  Show(tabs_[static_cast<size_t>(current_)]);
  syncing_ = false;
  SyncBar();
}

void TPanelTabs::Load(const platform::IniFile& ini) {
  const int count = static_cast<int>(std::clamp<int64_t>(ini.ReadInteger(section_, "Count", 0), 0, kLimit));
  if (count == 0) return;
  std::vector<TTabState> tabs;
  for (int i = 1; i <= count; ++i) {
    const std::string n = std::to_string(i);
    TTabState tab;
    tab.Directory = ini.ReadString(section_, "Path" + n, "");
    if (tab.Directory.empty()) continue;
    tab.SortType = static_cast<uint8_t>(std::clamp<int64_t>(ini.ReadInteger(section_, "SortType" + n, 0), 0, 4));
    tab.SortDescending = ini.ReadInteger(section_, "SortDescending" + n, 0) != 0;
    tab.CursorName = ini.ReadString(section_, "Cursor" + n, "");
    tabs.push_back(std::move(tab));
  }
  if (tabs.empty()) return;
  const int current = static_cast<int>(
      std::clamp<int64_t>(ini.ReadInteger(section_, "Current", 1) - 1, 0, static_cast<int64_t>(tabs.size()) - 1));
  tabs_ = std::move(tabs);
  current_ = current;
  // The panel already shows the side's own directory and sort order, which
  // the settings keep for the current tab; its cursor comes back here.
  TTabState& shown = tabs_[static_cast<size_t>(current_)];
  TFMPanel& panel = *side_.FMPanel;
  if (shown.Directory == panel.Directory()) panel.SetCursor(panel.IndexOfName(shown.CursorName));
  shown = Capture();
  SyncBar();
}

bool TPanelTabs::Save(platform::IniFile& ini) const {
  ini.BeginUpdate();
  ini.WriteInteger(section_, "Count", Count());
  ini.WriteInteger(section_, "Current", current_ + 1);
  for (int i = 0; i < Count(); ++i) {
    const TTabState tab = Tab(i);
    const std::string n = std::to_string(i + 1);
    ini.WriteString(section_, "Path" + n, tab.Directory);
    ini.WriteInteger(section_, "SortType" + n, tab.SortType);
    ini.WriteInteger(section_, "SortDescending" + n, tab.SortDescending ? 1 : 0);
    ini.WriteString(section_, "Cursor" + n, tab.CursorName);
  }
  return ini.EndUpdate();
}

}  // namespace vantrel::app
