// trash_place.cpp - the Trash shown in a panel.
#include "app/panels/trash_place.h"

#include <cstdlib>

#include "app/panels/entry_record.h"
#include "panels/panel_source.h"
#include "panels/qt/fmpanel.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "platform/qt/volumes.h"
#include "platform/qt/wording.h"
#include "vfs/trash_source.h"

namespace vantrel::app {

namespace {

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

class TTrashPlaces final : public panels::TPanelSource {
 public:
  explicit TTrashPlaces(std::shared_ptr<vfs::TTrashSource> source) : source_(std::move(source)), root_(source_->Root()) {}

  const std::string& Root() const override { return root_; }

  bool List(const std::string& place, panels::TPanelModel::Entries& entries, std::string* error) override {
    std::vector<vfs::TEntry> listed;
    vfs::TError err;
    if (!source_->List(place, listed, &err)) {
      if (error) *error = err.text;
      return false;
    }
    top_ = place.empty();
    count_ = listed.size();
    bytes_ = 0;
    for (vfs::TEntry& e : listed) {
      if (top_ || e.kind != vfs::TEntryKind::Directory) bytes_ += e.size;
      entries.push_back(EntryRecord(e, false));
    }
    return true;
  }

  std::string SummaryLine() const override { return TrashSummaryLine(top_, count_, bytes_); }

  // At the top: where the item came from ("photos.zip- size:1,234 bytes,
  // from /home/u/Pictures"; the whole original path when the name differs).
  std::string EntryLine(const panels::TFileEntry& entry) const override {
    if (!top_) return {};
    const vfs::TTrashRow* row = source_->Row(entry.FileName);
    if (row == nullptr) return {};
    return TrashEntryLine(entry, row->item.originalPath);
  }

  const std::shared_ptr<vfs::TTrashSource>& Source() const { return source_; }

 private:
  std::shared_ptr<vfs::TTrashSource> source_;
  std::string root_;
  bool top_ = true;
  uint64_t count_ = 0, bytes_ = 0;
};

std::vector<std::string> VolumeTops() {
  std::vector<std::string> topdirs;
  for (const platform::Volume& volume : platform::ListVolumes()) topdirs.push_back(volume.mountPoint);
  return topdirs;
}

}  // namespace

std::string TrashEntryLine(const panels::TFileEntry& entry, const std::string& original) {
  const std::string leaf = original.substr(original.rfind('/') + 1);
  const std::string from = leaf == entry.FileName ? DirectoryOf(original) : original;
  std::string line = panels::InfoLine(entry);
  if (!line.empty() && line.back() == '.') line.pop_back();
  // The path goes in as bytes: a name that is not UTF-8 is shown as it is.
  return line + panels::FillIn(platform::Worded(", from %1").toStdString(), from);
}

std::string TrashSummaryLine(bool top, uint64_t count, uint64_t bytes) {
  if (top && count == 0) return platform::Worded("The Trash is empty").toStdString();
  const auto shown = [](uint64_t n) { return QString::fromStdString(platform::FormatThousands(n)); };
  const QString size = platform::WordedCount("%1 byte", "%1 bytes", static_cast<long long>(bytes), shown(bytes));
  const auto n = static_cast<long long>(count);
  // The hint after the bar is a message of its own: "|" separates forms.
  const QString line =
      top ? platform::WordedForm("Trash: %1 item, %2", "Trash: %1 items, %2", n).arg(shown(count), size) +
                QStringLiteral(" | ") + platform::Worded("F5 restores, F8 deletes permanently")
          : platform::WordedForm("%1 item: %2", "%1 items: %2", n).arg(shown(count), size) + QStringLiteral(" | ") +
                platform::Worded("in the Trash");
  return line.toStdString();
}

std::shared_ptr<panels::TPanelSource> OpenTrashPlace(const std::string& path, std::string& place) {
  if (!panels::IsSchemePath(path) || !vfs::TTrashSource::IsTrashPath(path, &place)) return nullptr;
  auto source = std::make_shared<vfs::TTrashSource>(platform::TrashEnv::FromProcess(), VolumeTops());
  return std::make_shared<TTrashPlaces>(std::move(source));
}

std::string TrashStartPlace(const std::string& saved) {
  std::string place;
  if (!panels::IsSchemePath(saved) || !vfs::TTrashSource::IsTrashPath(saved, &place)) return {};
  const platform::TrashEnv env = platform::TrashEnv::FromProcess();
  std::vector<std::string> topdirs = VolumeTops();
  if (platform::ExistingTrashDirs(env, topdirs).empty()) return TrashParentDirectory();
  if (place.empty()) return vfs::TTrashSource::kRoot;
  vfs::TTrashSource source(env, std::move(topdirs));
  vfs::TEntry entry;
  if (source.Stat(place, entry, nullptr) && entry.kind == vfs::TEntryKind::Directory) return saved;
  return vfs::TTrashSource::kRoot;
}

std::shared_ptr<vfs::TTrashSource> TrashSourceOf(const panels::TFMPanel& panel) {
  const auto* places = dynamic_cast<const TTrashPlaces*>(panel.Model().Source().get());
  return places != nullptr ? places->Source() : nullptr;
}

std::string TrashParentDirectory() {
  const char* home = std::getenv("HOME");
  return home != nullptr && home[0] == '/' && platform::IsDirectory(home) ? std::string(home) : std::string("/");
}

}  // namespace vantrel::app
