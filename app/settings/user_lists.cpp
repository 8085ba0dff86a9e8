// user_lists.cpp - lists kept in the settings file.
#include "app/settings/user_lists.h"

#include <algorithm>

#include "platform/ini.h"

namespace vantrel::app {

void RememberFirst(TStringList& list, const std::string& item, size_t limit) {
  if (item.empty()) return;
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
  list.insert(list.begin(), item);
  if (list.size() > limit) list.resize(limit);
}

TStringList ReadList(const platform::IniFile& ini, const char* section, size_t limit) {
  TStringList list;
  const int64_t count = std::clamp<int64_t>(ini.ReadInteger(section, "Count", 0), 0,
                                            static_cast<int64_t>(limit));
  for (int64_t i = 1; i <= count; ++i) {
    std::string item = ini.ReadString(section, "Item" + std::to_string(i), "");
    if (!item.empty()) list.push_back(std::move(item));
  }
  return list;
}

bool WriteList(platform::IniFile& ini, const char* section, const TStringList& list) {
  bool ok = ini.WriteInteger(section, "Count", static_cast<int64_t>(list.size()));
  for (size_t i = 0; ok && i < list.size(); ++i)
    ok = ini.WriteString(section, "Item" + std::to_string(i + 1), list[i]);
  return ok;
}

void TDirHistory::Visit(const std::string& dir) {
  if (dir.empty() || (!items_.empty() && items_[pos_] == dir)) return;
  if (!items_.empty()) {
    previous_ = items_[pos_];
    items_.resize(pos_ + 1);
  }
  // One place per directory: an earlier visit moves up to now.
  items_.erase(std::remove(items_.begin(), items_.end(), dir), items_.end());
  items_.push_back(dir);
  if (items_.size() > kLimit) items_.erase(items_.begin(), items_.end() - kLimit);
  pos_ = items_.size() - 1;
}

std::string TDirHistory::Back() {
  if (items_.empty() || pos_ == 0) return {};
  previous_ = items_[pos_];
  return items_[--pos_];
}

std::string TDirHistory::Forward() {
  if (pos_ + 1 >= items_.size()) return {};
  previous_ = items_[pos_];
  return items_[++pos_];
}

void TDirHistory::Assign(TStringList items) {
  items_ = std::move(items);
  if (items_.size() > kLimit) items_.erase(items_.begin(), items_.end() - kLimit);
  pos_ = items_.empty() ? 0 : items_.size() - 1;
}

void TUserLists::Load(const platform::IniFile& ini) {
  Masks = ReadList(ini, "MASK HISTORY", kMaskLimit);
  Commands = ReadList(ini, "COMMAND HISTORY", kCommandLimit);
  Hotlist = ReadList(ini, "HOTLIST", kHotlistLimit);
  LeftHistory.Assign(ReadList(ini, "LEFT HISTORY", TDirHistory::kLimit));
  RightHistory.Assign(ReadList(ini, "RIGHT HISTORY", TDirHistory::kLimit));
}

bool TUserLists::Save(platform::IniFile& ini) const {
  ini.BeginUpdate();
  WriteList(ini, "MASK HISTORY", Masks);
  WriteList(ini, "COMMAND HISTORY", Commands);
  WriteList(ini, "HOTLIST", Hotlist);
  WriteList(ini, "LEFT HISTORY", LeftHistory.Items());
  WriteList(ini, "RIGHT HISTORY", RightHistory.Items());
  return ini.EndUpdate();
}

}  // namespace vantrel::app
