// scripted_source.h - a panel source with fixed places, for tests of the
// panel and the window without any archive.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "panels/panel_source.h"
#include "platform/fs.h"

namespace vantrel::test {

// A source with fixed places: each place maps to "name" (file, its size is
// its length) or "name/" (directory). Counts how often it is listed.
class TScriptedSource : public panels::TPanelSource {
 public:
  TScriptedSource(std::string root, std::map<std::string, std::vector<std::string>> places,
                  std::shared_ptr<panels::TPanelSource> outer = nullptr)
      : root_(std::move(root)), places_(std::move(places)), outer_(std::move(outer)) {}
  const std::string& Root() const override { return root_; }
  bool List(const std::string& place, panels::TPanelModel::Entries& entries, std::string* error) override {
    ++lists;
    auto it = places_.find(place);
    if (it == places_.end()) {
      if (error) *error = "no such place: " + place;
      return false;
    }
    for (const std::string& n : it->second) {
      auto e = std::make_unique<panels::TFileEntry>();
      const bool dir = n.back() == '/';
      e->FileName = dir ? n.substr(0, n.size() - 1) : n;
      e->FileAttributes = dir ? platform::kAttrDirectory : platform::kAttrArchive;
      e->FileSize = dir ? 0 : n.size();
      e->HasPackedSize = !dir;
      e->PackedSize = dir ? 0 : 1;
      entries.push_back(std::move(e));
    }
    return true;
  }
  std::string SummaryLine() const override { return "summary of " + root_; }
  std::shared_ptr<panels::TPanelSource> Outer() const override { return outer_; }
  int lists = 0;

 private:
  std::string root_;
  std::map<std::string, std::vector<std::string>> places_;
  std::shared_ptr<panels::TPanelSource> outer_;
};

}  // namespace vantrel::test
