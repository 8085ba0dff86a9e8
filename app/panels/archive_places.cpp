// archive_places.cpp - the panel source over an archive reader, and the
// opener that finds the archive in a path.
#include "app/panels/archive_places.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include <QApplication>
#include <QTimer>

#include "app/dialogs/messages.h"
#include "app/panels/archive_listing.h"
#include "app/panels/entry_record.h"
#include "app/panels/trash_place.h"
#include "panels/dirmodel.h"
#include "panels/panel_source.h"
#include "panels/qt/fmpanel.h"
#include "platform/fs.h"
#include "platform/private_file.h"
#include "platform/process.h"
#include "platform/qt/volumes.h"
#include "platform/text.h"
#include "formats/archive_kind.h"
#include "vfs/archive_source.h"
#include "vfs/place.h"
#include "vfs/source.h"
#include "vfs/zip_source.h"
#include "zip/ui/zip_dialogs.h"
#include "platform/qt/wording.h"

namespace vantrel::app {

namespace {

// Writes an entry's data into a file descriptor.
class TFileSink final : public vfs::TDataSink {
 public:
  explicit TFileSink(int fd) : fd_(fd) {}
  bool Write(const void* data, size_t n) override {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
      const ssize_t done = ::write(fd_, p, n);
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) return false;
      p += done;
      n -= static_cast<size_t>(done);
    }
    return true;
  }

 private:
  int fd_;
};

constexpr std::string_view kOpenBox = "\xE2\x90\xA3";  // OPEN BOX

// A name as the panel shows it: "", "." and ".." (and a name that begins
// with the box itself) behind an open box, so that no row moves the panel
// and EntryPathOf finds the stored name again.
bool NeedsBox(std::string_view name) {
  return name.empty() || name == "." || name == ".." || name.starts_with(kOpenBox);
}

// The record a panel shows for an archive entry. A name with a slash never
// comes from a reader; if one did, the slash is shown as a backslash.
std::unique_ptr<panels::TFileEntry> RecordOf(vfs::TEntry& e) {
  auto r = EntryRecord(e, true);
  if (NeedsBox(r->FileName)) r->FileName.insert(0, kOpenBox);
  for (char& c : r->FileName)
    if (c == '/') c = '\\';
  return r;
}

class TArchivePlaces final : public panels::TPanelSource {
 public:
  TArchivePlaces(std::shared_ptr<vfs::TSource> source, std::shared_ptr<panels::TPanelSource> outer,
                 std::string file, std::shared_ptr<const void> copy = {}, std::string readOnly = {})
      : copy_(std::move(copy)), source_(std::move(source)), outer_(std::move(outer)),
        root_(source_->Root()), file_(std::move(file)), readOnly_(std::move(readOnly)) {
    archive_ = std::dynamic_pointer_cast<vfs::TArchiveSource>(source_);
    if (archive_ != nullptr) listing_ = TArchiveListing::Of(archive_);  // shared by the panels showing it
  }

  const std::string& Root() const override { return root_; }

  bool List(const std::string& place, panels::TPanelModel::Entries& entries, std::string* error) override {
    // Not listed yet: read on a worker, the rows found so far shown. A
    // listing that asks for a password is read here, where it can ask.
    if (archive_ != nullptr && !archive_->Listed() && !archive_->Listing() && !archive_->ListingAsksPassword())
      listing_->Start();
    std::vector<vfs::TEntry> listed;
    vfs::TError err;
    // Changed on disk (by a job's own reader, say): read again first.
    if (outer_ == nullptr && source_->Stale()) source_->Refresh(&err);
    if (!source_->List(EntryPathOf(place), listed, &err)) {
      if (error) *error = err.text;
      return false;
    }
    if (place.empty())
      if (const auto* zip = dynamic_cast<const vfs::TZipSource*>(source_.get())) zip->Nameless(listed);
    files_ = 0, bytes_ = 0, packed_ = 0;
    encrypted_.clear();
    for (vfs::TEntry& e : listed) {
      if (e.kind != vfs::TEntryKind::Directory) {
        ++files_;
        bytes_ += e.size;
        packed_ += e.packedSize;
      }
      const bool encrypted = e.encrypted;
      entries.push_back(RecordOf(e));
      if (encrypted) encrypted_.insert(entries.back()->FileName);
    }
    return true;
  }

  // An encrypted entry says so on the file line: its data need the password.
  std::string EntryLine(const panels::TFileEntry& entry) const override {
    if (!encrypted_.contains(entry.FileName)) return {};
    std::string line = panels::InfoLine(entry);
    if (!line.empty() && line.back() == '.') line.pop_back();
    // The line goes in as bytes: a name that is not UTF-8 stays whole.
    return panels::FillIn(platform::Worded("%1, encrypted").toStdString(), line) + ".";
  }

  // "3 files: 1,234 bytes, packed 567 bytes", and why nothing can be changed.
  // While the archive is read: how far; stopped early: that the listing is
  // not all and how to read the rest.
  std::string SummaryLine() const override {
    if (archive_ != nullptr && archive_->Listing()) {
      const uint64_t total = archive_->FileBytes();
      const uint64_t percent = total > 0 ? std::min<uint64_t>(100, archive_->ReadBytes() * 100 / total) : 0;
      return ArchiveReadingLine(archive_->Found(), static_cast<int>(percent));
    }
    const bool partial = archive_ != nullptr && archive_->Archive().State() == formats::TListState::Stopped;
    const vfs::TCapabilities caps = source_->Capabilities();
    return ArchiveSummaryLine(files_, bytes_, packed_, partial ? std::optional<uint64_t>(archive_->Found()) : std::nullopt,
                              caps.writable ? std::string() : caps.readOnlyReason);
  }

  std::shared_ptr<panels::TPanelSource> Outer() const override { return outer_; }
  const std::shared_ptr<vfs::TSource>& Source() const { return source_; }
  TArchiveOrigin Origin() const { return {file_, root_, readOnly_, copy_, nullptr}; }
  // The listing read on a worker (kept once made, so a stopped one can go on).
  const std::shared_ptr<TArchiveListing>& Listing() const { return listing_; }
  bool ContinueListing() {
    if (archive_ == nullptr || archive_->Listing() || archive_->Archive().State() != formats::TListState::Stopped)
      return false;
    listing_->Start();
    return true;
  }

 private:
  // An archive inside an archive is read from this private copy; goes
  // last, also after a job's reader of it.
  std::shared_ptr<const void> copy_;
  std::shared_ptr<vfs::TSource> source_;
  std::shared_ptr<vfs::TArchiveSource> archive_;  // the same, when read through libarchive
  std::shared_ptr<TArchiveListing> listing_;
  std::shared_ptr<panels::TPanelSource> outer_;
  std::string root_;
  std::string file_;
  std::string readOnly_;
  uint64_t files_ = 0, bytes_ = 0, packed_ = 0;
  std::set<std::string> encrypted_;  // the names shown of the place listed last that are encrypted
};

std::shared_ptr<vfs::TSource> LoadArchive(const std::string& file, const std::string& display,
                                          vfs::TPasswordProvider* passwords, bool* recognised, std::string* error) {
  vfs::TError err;
  std::unique_ptr<vfs::TSource> loaded;
  *recognised = true;
  if (vfs::IsZipArchive(file)) {
    loaded = vfs::TZipSource::Load(file, display, passwords, &err);
  } else if (formats::ProbeArchive(file).Recognised()) {
    loaded = vfs::TArchiveSource::Load(file, display, passwords, &err);
  } else {
    *recognised = false;  // a file of another kind: no error, the system's own
    return nullptr;
  }
  if (loaded == nullptr && error != nullptr) *error = err.text.empty() ? platform::ErrorText(err.code) : err.text;
  return std::shared_ptr<vfs::TSource>(std::move(loaded));
}

// The longest leading part of `path` that is a regular file, and the rest
// (without its slashes at either end); false when no part is one.
bool SplitAtFile(const std::string& path, std::string& file, std::string& rest) {
  for (size_t end = path.size(); end > 1; end = path.rfind('/', end - 1)) {
    if (end == std::string::npos || end == 0) break;
    const std::string head = path.substr(0, end);
    if (platform::IsDirectory(head)) return false;  // the file would have been found before its directory
    struct stat st;
    if (::stat(head.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      file = head;
      size_t from = end;
      while (from < path.size() && path[from] == '/') ++from;
      size_t to = path.size();
      while (to > from && path[to - 1] == '/') --to;
      rest = path.substr(from, to - from);
      return true;
    }
  }
  return false;
}

// The file an archive source reads: the archive, or the private copy an
// archive inside an archive is read from.
std::string FileRead(const vfs::TSource& source) {
  if (const auto* zip = dynamic_cast<const vfs::TZipSource*>(&source)) return zip->ArchivePath();
  if (const auto* other = dynamic_cast<const vfs::TArchiveSource*>(&source)) return other->ArchivePath();
  return {};
}

// Finds the archives in a path for the panels, level by level, through the
// engine-side opener (vfs/place.h), which reads each archive once while
// anyone shows it: both panels and every tab share one source, an archive
// changed on disk is read again, and an archive inside an archive is read
// from a private copy (in memory up to NestedMemoryLimit, else a nameless
// temporary file) and cannot be changed.
class TArchiveOpener {
 public:
  explicit TArchiveOpener(vfs::TPasswordProvider* passwords) : places_(passwords) {}

  std::shared_ptr<panels::TPanelSource> Open(const std::string& path, std::string& place, std::string* error) {
    std::string file;
    std::string rest;
    if (!SplitAtFile(path, file, rest)) return nullptr;
    vfs::TPlacePath level;
    level.file = file;
    level.archive = true;
    vfs::TError err;
    std::shared_ptr<vfs::TSource> source = Source(level, &err);
    if (source == nullptr) {
      // A file of another kind: no error, the system's own.
      if (error != nullptr && err.code != vfs::TPlaceOpener::kNoArchive) *error = TextOf(err);
      return nullptr;
    }
    KeepRecent(source);
    auto places = std::make_shared<TArchivePlaces>(std::move(source), nullptr, file);
    return Descend(std::move(places), std::move(level), rest, place, error);
  }

 private:
  static std::string TextOf(const vfs::TError& err) { return err.text.empty() ? platform::ErrorText(err.code) : err.text; }

  std::shared_ptr<vfs::TSource> Source(const vfs::TPlacePath& level, vfs::TError* err) {
    places_.NestedMemoryLimit = NestedMemoryLimit();
    return places_.Source(level, err);
  }

  // Walks `rest` down from `places`: a part that is a file entry holding an
  // archive opens that archive as the next level. `place` receives what is
  // left inside the innermost level.
  std::shared_ptr<panels::TPanelSource> Descend(std::shared_ptr<TArchivePlaces> places, vfs::TPlacePath level,
                                                const std::string& rest, std::string& place, std::string* error) {
    std::string inner;
    size_t from = 0;
    while (from < rest.size()) {
      size_t to = rest.find('/', from);
      if (to == std::string::npos) to = rest.size();
      const std::string candidate = inner.empty() ? rest.substr(from, to - from)
                                                  : inner + "/" + rest.substr(from, to - from);
      from = to + 1;
      vfs::TEntry entry;
      vfs::TError err;
      if (!places->Source()->Stat(candidate, entry, &err) || entry.kind != vfs::TEntryKind::File) {
        inner = candidate;  // a directory, or nothing: listing it says so
        continue;
      }
      vfs::TPlacePath deeper = level;
      deeper.nested.push_back(candidate);
      std::shared_ptr<vfs::TSource> nested = Source(deeper, &err);
      if (nested == nullptr) {
        // A cancelled password question needs no second message; a file of
        // another kind is listed as what it is (no directory).
        if (err.code != vfs::TPlaceOpener::kNoArchive && err.code != ECANCELED) {
          if (error != nullptr) *error = TextOf(err);
          return nullptr;
        }
        inner = candidate;
        continue;
      }
      // The private copy the level is read from lives as long as its source.
      const std::string copy = FileRead(*nested);
      places = std::make_shared<TArchivePlaces>(nested, places, copy, nested, vfs::TPlaceOpener::kNestedReadOnly);
      level = std::move(deeper);
      inner.clear();
    }
    place = inner;
    return places;
  }

  // A tar.gz costs its whole decompression to list: the last few read that
  // way stay listed after the panel leaves them, so that going back in by
  // mistake or on purpose costs nothing (still followed for changes on disk).
  void KeepRecent(const std::shared_ptr<vfs::TSource>& source) {
    if (dynamic_cast<vfs::TArchiveSource*>(source.get()) == nullptr) return;
    std::erase(recent_, source);
    recent_.insert(recent_.begin(), source);
    if (recent_.size() > kKeptListings) recent_.pop_back();
  }
  static constexpr size_t kKeptListings = 2;

  vfs::TPlaceOpener places_;
  std::vector<std::shared_ptr<vfs::TSource>> recent_;
};

std::mutex& PasswordsMutex() {
  static std::mutex mutex;
  return mutex;
}
std::map<std::string, std::string>& Passwords() {
  static std::map<std::string, std::string> passwords;
  return passwords;
}

// Asks `inner` unless this run has the archive's password already (the
// first question for it); keeps every answer.
class TRememberingPasswords final : public vfs::TPasswordProvider {
 public:
  vfs::TPasswordProvider* inner = nullptr;
  bool AskPassword(const std::string& archive, bool again, std::string& password) override {
    if (!again && KnownPassword(archive, password)) return true;
    if (inner == nullptr || !inner->AskPassword(archive, again, password)) return false;
    std::lock_guard lock(PasswordsMutex());
    Passwords()[archive] = password;
    return true;
  }
};

TRememberingPasswords& Remembering() {
  static TRememberingPasswords remembering;
  return remembering;
}

// The password of an encrypted archive, asked in a box that shows bullets.
class TPasswordQuestion final : public vfs::TPasswordProvider {
 public:
  bool AskPassword(const std::string& archive, bool again, std::string& password) override {
    const QString name = platform::ToDisplay(archive);
    const QString prompt = again ? platform::Worded("Wrong password for %1. Password:").arg(name)
                                 : platform::Worded("Password for %1:").arg(name);
    QString text;
    if (!zipui::InputQuery(QApplication::activeWindow(), QString::fromLatin1(kDialogCaption), prompt, text, true))
      return false;
    const QByteArray bytes = text.toUtf8();
    password.assign(bytes.constData(), static_cast<size_t>(bytes.size()));
    return true;
  }
};

}  // namespace

namespace {

QString Thousands(uint64_t n) { return QString::fromStdString(platform::FormatThousands(n)); }
long long Count(uint64_t n) { return static_cast<long long>(std::min<uint64_t>(n, INT64_MAX)); }
QString BytesPart(uint64_t n) { return platform::WordedCount("%1 byte", "%1 bytes", Count(n), Thousands(n)); }

}  // namespace

std::string ArchiveSummaryLine(uint64_t files, uint64_t bytes, uint64_t packed, std::optional<uint64_t> partial,
                               const std::string& readOnlyReason) {
  QString line;
  if (partial)
    line = platform::WordedForm("Partial listing: %1 entry found, Ctrl+R reads the rest",
                                "Partial listing: %1 entries found, Ctrl+R reads the rest", Count(*partial))
               .arg(Thousands(*partial)) +
           QStringLiteral(" | ");
  line += platform::WordedForm("%1 file: %2, packed %3", "%1 files: %2, packed %3", Count(files))
              .arg(Thousands(files), BytesPart(bytes), BytesPart(packed));
  const QByteArray text = line.toUtf8();
  std::string out(text.constData(), static_cast<size_t>(text.size()));
  if (!readOnlyReason.empty()) {
    // Worded as a message's line is; kept as its bytes when it is not UTF-8
    // (it may hold a name).
    const QString reason = QString::fromUtf8(readOnlyReason.data(), static_cast<qsizetype>(readOnlyReason.size()));
    const QByteArray back = reason.toUtf8();
    const bool utf8 = std::string_view(back.constData(), static_cast<size_t>(back.size())) == readOnlyReason;
    out += " | " + (utf8 ? WordedMessage(reason).toStdString() : readOnlyReason);
  }
  return out;
}

std::string ArchiveReadingLine(uint64_t found, int percent) {
  return platform::WordedForm("Reading the archive: %1 entry found (%2%); Esc stops",
                              "Reading the archive: %1 entries found (%2%); Esc stops", Count(found))
      .arg(Thousands(found), QString::number(percent))
      .toStdString();
}

void FollowArchiveChanges(panels::TFMPanel& panel) {
  FollowArchiveListing(panel);
  auto* timer = new QTimer(&panel);
  timer->setInterval(kArchiveCheckMs);
  QObject::connect(timer, &QTimer::timeout, &panel, [p = &panel] {
    const auto* places = dynamic_cast<const TArchivePlaces*>(p->Model().Source().get());
    if (places == nullptr) return;
    // The file on disk is the outermost level's.
    while (places->Outer() != nullptr) places = static_cast<const TArchivePlaces*>(places->Outer().get());
    const std::shared_ptr<vfs::TSource>& source = places->Source();
    if (!source->Stale()) return;
    vfs::TError err;
    if (source->Refresh(&err)) {
      p->Reread();  // the cursor and the marks stay on their names
      return;
    }
    const std::string file = places->Root();
    if (platform::IsDirectory(file) || ::access(file.c_str(), F_OK) == 0) return;  // still there: keep showing it
    const std::string dir = platform::NearestExistingDirectory(file);
    if (!p->ReadDirectory(dir)) return;
    const size_t from = dir == "/" ? 1 : dir.size() + 1;
    if (file.size() > from) {
      const std::string child = file.substr(from, file.find('/', from) - from);
      if (p->Entries().size() > 0) p->SetCursor(p->IndexOfName(child));
    }
  });
  timer->start();
}

std::string EntryPathOf(const std::string& shown) {
  if (shown.find(kOpenBox) == std::string::npos) return shown;
  std::string stored;
  size_t from = 0;
  while (from <= shown.size()) {
    size_t to = shown.find('/', from);
    if (to == std::string::npos) to = shown.size();
    std::string_view part(shown.data() + from, to - from);
    if (part.starts_with(kOpenBox) && NeedsBox(part.substr(kOpenBox.size()))) part.remove_prefix(kOpenBox.size());
    if (from > 0) stored += '/';
    stored += part;
    from = to + 1;
  }
  return stored;
}

bool WriteEntryToFile(vfs::TSource& source, const std::string& inner, const std::string& target, std::string* error) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error) *error = platform::ErrorText(errno);
    return false;
  }
  TFileSink sink(fd);
  vfs::TError err;
  bool ok = source.ReadInto(inner, sink, {}, &err);
  if (::close(fd) != 0 && ok) {
    ok = false;
    err.text = platform::ErrorText(errno);
  }
  if (!ok) {
    ::unlink(target.c_str());
    // A cancelled password question needs no second message.
    if (error) *error = err.code == ECANCELED ? std::string() : (err.text.empty() ? platform::ErrorText(err.code) : err.text);
  }
  return ok;
}

void InstallArchivePlaces() {
  static TPasswordQuestion question;
  InstallArchivePlaces(&question);
}

void InstallArchivePlaces(vfs::TPasswordProvider* passwords) {
  Remembering().inner = passwords;
  {
    std::lock_guard lock(PasswordsMutex());
    Passwords().clear();
  }
  auto opener = std::make_shared<TArchiveOpener>(&Remembering());
  panels::SetSourceOpener([opener](const std::string& path, std::string& place, std::string* error) {
    if (std::shared_ptr<panels::TPanelSource> trash = OpenTrashPlace(path, place)) return trash;
    return opener->Open(path, place, error);
  });
}

bool SetPanelCodePage(panels::TFMPanel& panel, const std::string& page, std::string* error) {
  const std::shared_ptr<vfs::TSource> source = ArchiveSourceOf(panel);
  auto* zip = dynamic_cast<vfs::TZipSource*>(source.get());
  if (zip == nullptr) {
    if (error) *error = "The panel shows no ZIP archive";
    return false;
  }
  vfs::TError err;
  if (!zip->SetCodePage(page, &err)) {
    if (error) *error = err.text;
    return false;
  }
  vfs::ChooseCodePage(zip->Root(), page);
  // A place whose name belonged to the old reading is gone: the panel then
  // shows the archive's root.
  panel.Reread();
  return true;
}

std::shared_ptr<TArchiveListing> ArchiveListingOf(const panels::TFMPanel& panel) {
  const auto* places = dynamic_cast<const TArchivePlaces*>(panel.Model().Source().get());
  return places != nullptr ? places->Listing() : nullptr;
}

bool ContinueArchiveListing(panels::TFMPanel& panel) {
  auto* places = dynamic_cast<TArchivePlaces*>(panel.Model().Source().get());
  if (places == nullptr || !places->ContinueListing()) return false;
  panel.Reread();
  return true;
}

bool PanelCodePage(const panels::TFMPanel& panel, std::string& chosen, std::string& used) {
  const std::shared_ptr<vfs::TSource> source = ArchiveSourceOf(panel);
  const auto* zip = dynamic_cast<const vfs::TZipSource*>(source.get());
  if (zip == nullptr) return false;
  chosen = zip->CodePage();
  used = zip->CodePageUsed();
  return true;
}

std::shared_ptr<vfs::TSource> ArchiveSourceOf(const panels::TFMPanel& panel) {
  const auto* places = dynamic_cast<const TArchivePlaces*>(panel.Model().Source().get());
  return places != nullptr ? places->Source() : nullptr;
}

TArchiveOrigin ArchiveOriginOf(const panels::TFMPanel& panel) {
  const auto* places = dynamic_cast<const TArchivePlaces*>(panel.Model().Source().get());
  return places != nullptr ? places->Origin() : TArchiveOrigin{};
}

TArchiveOrigin ArchiveToRead(const panels::TFMPanel& panel) {
  TArchiveOrigin origin = ArchiveOriginOf(panel);
  const auto* places = dynamic_cast<const TArchivePlaces*>(panel.Model().Source().get());
  if (places == nullptr) return origin;
  if (const auto* archive = dynamic_cast<const vfs::TArchiveSource*>(places->Source().get()))
    origin.listed = archive->Twin(nullptr);
  return origin;
}

std::shared_ptr<vfs::TSource> OpenArchiveAgain(const TArchiveOrigin& origin, vfs::TPasswordProvider* passwords,
                                               std::string* error) {
  if (origin.listed != nullptr) {
    if (auto* archive = dynamic_cast<vfs::TArchiveSource*>(origin.listed.get())) archive->SetPasswords(passwords);
    return origin.listed;
  }
  bool recognised = false;
  std::shared_ptr<vfs::TSource> source = LoadArchive(origin.file, origin.display, passwords, &recognised, error);
  if (source == nullptr && !recognised && error != nullptr)
    *error = origin.display + " is no archive any more";
  if (auto* zip = dynamic_cast<vfs::TZipSource*>(source.get()); zip != nullptr && !origin.readOnly.empty())
    zip->SetReadOnly(origin.readOnly);
  return source;
}

bool OpenArchivePlace(const std::string& path, TArchivePlace& out, std::string* error) {
  error->clear();
  if (!panels::SourceOpener()) return false;
  std::string place;
  const std::shared_ptr<panels::TPanelSource> opened = panels::SourceOpener()(path, place, error);
  const auto* places = dynamic_cast<const TArchivePlaces*>(opened.get());
  if (places == nullptr) return false;
  out.source = places->Source();
  out.inner = place;
  out.origin = places->Origin();
  return true;
}

bool KnownPassword(const std::string& archive, std::string& password) {
  std::lock_guard lock(PasswordsMutex());
  const auto it = Passwords().find(archive);
  if (it == Passwords().end()) return false;
  password = it->second;
  return true;
}

vfs::TPasswordProvider& ArchivePasswords() { return Remembering(); }

uint64_t& NestedMemoryLimit() {
  static uint64_t limit = 64u << 20;
  return limit;
}

}  // namespace vantrel::app
