// archive_search.cpp - the archive formats a file search looks into.
#include "tools/archive_search.h"

#include <cerrno>
#include <memory>
#include <string_view>

#include "formats/stream_archive.h"
#include "platform/fs.h"
#include "vfs/source.h"
#include "vfs/zip_source.h"

namespace vantrel::tools {

namespace {

bool EndsWithNoCase(std::string_view name, std::string_view suffix) {
  if (name.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    char c = name[name.size() - suffix.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != suffix[i]) return false;
  }
  return true;
}

// Passes blocks to the search's sink and remembers whether the sink itself
// stopped, which is no failure of the archive; for the data sinks of the
// libarchive formats and of the ZIP source alike.
template <class TBase>
class TSinkAdapter final : public TBase {
 public:
  explicit TSinkAdapter(const TArchiveSink& sink) : sink_(sink) {}
  bool Write(const void* data, size_t n) override {
    if (sink_(static_cast<const uint8_t*>(data), n)) return true;
    stopped_ = true;
    return false;
  }
  bool Stopped() const { return stopped_; }

 private:
  const TArchiveSink& sink_;
  bool stopped_ = false;
};

class TStreamReader final : public TArchiveReader {
 public:
  explicit TStreamReader(std::unique_ptr<formats::TStreamArchive> archive) : archive_(std::move(archive)) {
    const std::vector<formats::TMember>& members = archive_->Members();
    std::vector<uint32_t> expected;
    for (uint32_t i = 0; i < members.size(); ++i) {
      const formats::TMember& m = members[i];
      if (m.kind == formats::TMemberKind::Symlink || m.kind == formats::TMemberKind::Special) continue;
      TArchiveItem item;
      item.path = m.path;
      while (!item.path.empty() && item.path.back() == '/') item.path.pop_back();
      while (item.path.compare(0, 2, "./") == 0) item.path.erase(0, 2);
      if (item.path.empty() || item.path == ".") continue;
      item.size = m.size;
      item.writeTime = m.writeTime;
      item.directory = m.kind == formats::TMemberKind::Directory;
      item.encrypted = m.encrypted;
      items_.push_back(std::move(item));
      members_.push_back(i);
      if (!items_.back().directory) expected.push_back(i);
    }
    // The search asks for the members in the archive's order: one pass over
    // a compressed stream serves them all.
    archive_->Expect(expected);
  }
  ~TStreamReader() override { archive_->EndReading(); }

  const std::vector<TArchiveItem>& Items() const override { return items_; }

  bool Read(size_t index, const TArchiveSink& sink, std::string* error) override {
    TSinkAdapter<formats::TDataSink> adapter(sink);
    formats::TArchiveError failure;
    // Without a way to ask, an encrypted member is reported as unreadable.
    formats::TStreamArchive::TReadOptions options;
    options.password = [](bool, std::string&) { return false; };
    if (archive_->ReadNext(members_[index], adapter, options, &failure)) return true;
    if (adapter.Stopped()) return true;
    if (error != nullptr) *error = failure.text.empty() ? "cannot be read" : failure.text;
    return false;
  }

 private:
  std::unique_ptr<formats::TStreamArchive> archive_;
  std::vector<TArchiveItem> items_;
  std::vector<uint32_t> members_;  // per item: its member in the archive
};

// Tar with its compressions, 7z, RAR, ISO images, cpio, packages, cabinets
// and single compressed files, through libarchive.
class TStreamFormat final : public TArchiveFormat {
 public:
  bool Claims(std::string_view name) const override {
    static const char* const kSuffixes[] = {
        ".tar", ".tgz",  ".tbz", ".tbz2", ".txz", ".tzst", ".tlz", ".taz", ".7z",  ".rar",  ".iso",
        ".cpio", ".deb", ".rpm", ".cab",  ".gz",  ".bz2",  ".xz",  ".zst", ".lz4", ".lzma", ".lz"};
    for (const char* suffix : kSuffixes)
      if (EndsWithNoCase(name, suffix)) return true;
    return false;
  }

  std::unique_ptr<TArchiveReader> Open(const std::string& path, std::string* error) const override {
    formats::TArchiveError failure;
    std::unique_ptr<formats::TStreamArchive> archive = formats::TStreamArchive::Open(path, &failure);
    if (archive == nullptr) {
      if (error != nullptr) *error = failure.text.empty() ? "not an archive" : failure.text;
      return nullptr;
    }
    formats::TStreamArchive::TListEvents events;
    events.password = [](bool, std::string&) { return false; };
    const formats::TListState state = archive->List(events);
    if (state != formats::TListState::Complete) {
      if (error != nullptr)
        *error = archive->Problem().empty() ? "the archive cannot be listed" : archive->Problem();
      return nullptr;
    }
    return std::make_unique<TStreamReader>(std::move(archive));
  }
};

class TZipReader final : public TArchiveReader {
 public:
  explicit TZipReader(std::unique_ptr<vfs::TSource> source) : source_(std::move(source)) { Add(""); }

  const std::vector<TArchiveItem>& Items() const override { return items_; }

  bool Read(size_t index, const TArchiveSink& sink, std::string* error) override {
    TSinkAdapter<vfs::TDataSink> adapter(sink);
    vfs::TError err;
    if (source_->ReadInto(items_[index].path, adapter, {}, &err) || adapter.Stopped()) return true;
    if (error != nullptr) *error = err.text.empty() ? platform::ErrorText(err.code) : err.text;
    return false;
  }

 private:
  // The entries below `inner`, each directory followed by what it holds.
  void Add(const std::string& inner) {
    std::vector<vfs::TEntry> entries;
    vfs::TError err;
    if (!source_->List(inner, entries, &err)) return;
    for (vfs::TEntry& e : entries) {
      if (e.kind == vfs::TEntryKind::Link || e.kind == vfs::TEntryKind::Special) continue;
      TArchiveItem item;
      item.path = vfs::JoinInner(inner, e.name);
      item.size = e.size;
      item.writeTime = e.mtime != 0 ? platform::FileTimeFromUnix(e.mtime, 0) : 0;
      item.directory = e.kind == vfs::TEntryKind::Directory;
      item.encrypted = e.encrypted;
      items_.push_back(item);
      if (item.directory) Add(item.path);
    }
  }

  std::unique_ptr<vfs::TSource> source_;
  std::vector<TArchiveItem> items_;
};

class TZipFormat final : public TArchiveFormat {
 public:
  bool Claims(std::string_view name) const override {
    static const char* const kSuffixes[] = {".zip", ".jar", ".war", ".ear",  ".apk", ".docx", ".xlsx", ".pptx",
                                            ".odt", ".ods", ".odp", ".epub", ".xpi", ".whl",  ".zipx", ".cbz"};
    for (const char* suffix : kSuffixes)
      if (EndsWithNoCase(name, suffix)) return true;
    return false;
  }

  std::unique_ptr<TArchiveReader> Open(const std::string& path, std::string* error) const override {
    vfs::TError err;
    std::unique_ptr<vfs::TZipSource> source = vfs::TZipSource::Load(path, path, nullptr, &err);
    if (source == nullptr) {
      if (error != nullptr) *error = err.text.empty() ? "not a ZIP archive" : err.text;
      return nullptr;
    }
    return std::make_unique<TZipReader>(std::move(source));
  }
};

}  // namespace

const TArchiveFormat& ZipArchiveFormat() {
  static const TZipFormat format;
  return format;
}

const TArchiveFormat& OtherArchiveFormat() {
  static const TStreamFormat format;
  return format;
}

}  // namespace vantrel::tools
