// archive_entries.cpp - viewing, opening, copying, moving, deleting, making
// and renaming entries of archives shown as folders.
#include "app/commands/archive_entries.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QProcess>

#include "app/commands/command_hooks.h"
#include "app/commands/file_commands.h"
#include "app/commands/trash_commands.h"
#include "app/commands/zip_commands.h"
#include "app/dialogs/messages.h"
#include "app/panels/archive_places.h"
#include "app/panels/trash_place.h"
#include "app/settings/message_table.h"
#include "fileops/copy_target.h"
#include "fileops/job.h"
#include "fileops/qt/job_center.h"
#include "fileops/source_copy.h"
#include "app/window/mainform.h"
#include "panels/panel_source.h"
#include "panels/qt/fmpanel.h"
#include "platform/qt/wording.h"
#include "platform/copyfile.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/qt/volumes.h"
#include "platform/rename.h"
#include "platform/text.h"
#include "vfs/local_source.h"
#include "vfs/password.h"
#include "vfs/source.h"
#include "zip/ui/zip_dialogs.h"

namespace vantrel::app {

using panels::TFMPanel;

namespace {

QString MainCaption() { return QString::fromLatin1(kMainCaption); }
QString Shown(const std::string& bytes) { return platform::ToDisplay(bytes); }

void Fail(TMainForm& form, const QString& text) { ShowMessage(&form, MessageKind::Error, MainCaption(), text); }

std::string ErrorOf(const vfs::TError& err) {
  return err.text.empty() ? platform::ErrorText(err.code) : err.text;
}

// The path inside the archive of `name` in the place `panel` shows.
std::string InnerOf(const TFMPanel& panel, const std::string& name) {
  const std::string& place = panel.Model().Place();
  return EntryPathOf(place.empty() ? name : place + "/" + name);
}

// The last part of the archive's path, as messages name it.
std::string ArchiveName(const TFMPanel& panel) {
  const std::string& root = panel.Model().Source()->Root();
  return root.substr(root.rfind('/') + 1);
}

// A name that can stand for one file in a directory: not empty, not "." or
// "..", no slash. Entries with other names are never written outside.
bool SafeName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::vector<std::string> MarkedNamesOf(const TFMPanel& panel) {
  std::vector<std::string> names;
  for (const panels::TFileEntry* entry : panel.GetMarkedEntries())
    if (entry != nullptr && !entry->IsDotDot())
      names.push_back(panel.Model().InSource() ? EntryPathOf(entry->FileName) : entry->FileName);
  return names;
}

void RemoveTree(const std::string& dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

// The source of an archive panel that can be changed; null after a message
// saying why not.
std::shared_ptr<vfs::TSource> WritableSource(TMainForm& form, const TFMPanel& panel) {
  std::shared_ptr<vfs::TSource> source = ArchiveSourceOf(panel);
  if (source == nullptr) {
    Fail(form, platform::Worded("%1 cannot be changed here.").arg(Shown(ArchiveName(panel))));
    return nullptr;
  }
  // Changed on disk since the panel read it (a job's own reader wrote it,
  // say): a change starts from what is there now.
  vfs::TError err;
  if (source->Stale() && !source->Refresh(&err)) {
    Fail(form, platform::Worded("Cannot read %1: %2").arg(Shown(ArchiveName(panel)), Shown(ErrorOf(err))));
    return nullptr;
  }
  const vfs::TCapabilities caps = source->Capabilities();
  if (!caps.writable) {
    Fail(form, caps.readOnlyReason.empty() ? platform::Worded("%1 is read-only here").arg(Shown(ArchiveName(panel)))
                                           : Shown(caps.readOnlyReason));
    return nullptr;
  }
  return source;
}

bool WriteEntry(vfs::TSource& source, const std::string& inner, const std::string& target, std::string* error) {
  return WriteEntryToFile(source, inner, target, error);
}

// The temporary directories of copies handed to other programs, removed
// when the program ends.
std::vector<std::string>& LeftForLater() {
  static std::vector<std::string> dirs;
  return dirs;
}

// The entry under the cursor written into a new private directory (`temp`);
// the file's path, or empty after a message.
std::string TemporaryCopy(TMainForm& form, TFMPanel& panel, std::string& temp) {
  const panels::TFileEntry* entry = panel.CurrentEntry();
  if (entry == nullptr || entry->IsDirectory()) {
    ShowMessage(&form, MessageKind::Warning, MainCaption(), Msg(TMsg::NoSelectedFiles));
    return {};
  }
  const std::string name = entry->FileName;
  temp = platform::MakePrivateTempDir("vantrel-view-");
  if (temp.empty()) {
    Fail(form, platform::Worded("Could not make a temporary directory: %1").arg(Shown(platform::ErrorText(errno))));
    return {};
  }
  const std::string file = platform::JoinPath(temp, SafeName(name) ? name : std::string("entry"));
  std::string error;
  if (!ExtractArchiveEntry(panel, name, file, &error)) {
    RemoveTree(temp);
    if (!error.empty()) Fail(form, platform::Worded("Cannot read %1: %2").arg(Shown(name), Shown(error)));
    return {};
  }
  return file;
}

bool ViewEntry(TMainForm& form, TFMPanel& panel) {
  std::string temp;
  const std::string file = TemporaryCopy(form, panel, temp);
  if (file.empty()) return false;
  std::vector<std::string> argv = ViewerOrEditorWords(form, false);
  argv.push_back(file);
  if (argv.size() < 2 || !platform::StartDetachedThenRemove(argv, temp, temp)) {
    RemoveTree(temp);
    Fail(form, Msg(TMsg::ViewerNotFound));
    return false;
  }
  return true;
}

// F4: the editor works on a temporary copy; when it ends with the copy
// changed, the archive takes the new data after the question.
bool EditEntry(TMainForm& form, TFMPanel& panel) {
  if (WritableSource(form, panel) == nullptr) return false;
  std::string temp;
  const std::string file = TemporaryCopy(form, panel, temp);
  if (file.empty()) return false;
  struct stat before {};
  ::stat(file.c_str(), &before);
  std::vector<std::string> argv = ViewerOrEditorWords(form, true);
  if (argv.empty()) {
    RemoveTree(temp);
    Fail(form, Msg(TMsg::EditorNotFound));
    return false;
  }
  const std::string name = panel.CurrentEntry()->FileName;
  const std::string inner = InnerOf(panel, name);
  const std::string archive = ArchiveName(panel);
  const std::weak_ptr<vfs::TSource> weak = ArchiveSourceOf(panel);
  auto* editor = new QProcess(&form);
  QStringList args;
  for (size_t i = 1; i < argv.size(); ++i) args << QString::fromLocal8Bit(argv[i].data(), qsizetype(argv[i].size()));
  args << QString::fromLocal8Bit(file.data(), qsizetype(file.size()));
  editor->setProgram(QString::fromLocal8Bit(argv[0].data(), qsizetype(argv[0].size())));
  editor->setArguments(args);
  TMainForm* f = &form;
  QObject::connect(editor, &QProcess::finished, f, [=](int, QProcess::ExitStatus) {
    editor->deleteLater();
    struct stat after {};
    const bool changed = ::stat(file.c_str(), &after) == 0 &&
                         (after.st_mtim.tv_sec != before.st_mtim.tv_sec ||
                          after.st_mtim.tv_nsec != before.st_mtim.tv_nsec || after.st_size != before.st_size);
    std::shared_ptr<vfs::TSource> source = weak.lock();
    if (changed && source != nullptr &&
        ShowMessage(f, MessageKind::Question, MainCaption(),
                    platform::Worded("Update %1 in %2?").arg(Shown(name), Shown(archive))) == MessageAnswer::Yes) {
      vfs::TChangeSet changes;
      changes.PutFile(inner, file, after.st_mtim.tv_sec, after.st_mode & 07777);
      vfs::TError err;
      if (!source->Apply(changes, {}, &err))
        Fail(*f, platform::Worded("%1 was not updated: %2").arg(Shown(archive), Shown(ErrorOf(err))));
      f->RefreshBothPanels(name);
    }
    RemoveTree(temp);
  });
  editor->start();
  if (!editor->waitForStarted(5000)) {
    editor->deleteLater();
    RemoveTree(temp);
    Fail(form, Msg(TMsg::EditorNotFound));
    return false;
  }
  return true;
}

}  // namespace

QString ArchiveDeleteQuestion(const std::vector<std::string>& names, const QString& archive) {
  if (names.size() == 1) return platform::Worded("Delete \"%1\" from %2?").arg(Shown(names[0]), archive);
  return platform::WordedForm("Delete %1 entry from %2?", "Delete %1 entries from %2?",
                              static_cast<long long>(names.size()))
      .arg(QString::number(names.size()), archive);
}

namespace {

bool DeleteEntries(TMainForm& form, TFMPanel& panel) {
  const std::vector<std::string> names = MarkedNamesOf(panel);
  if (names.empty()) {
    ShowMessage(&form, MessageKind::Warning, MainCaption(), Msg(TMsg::NoSelectedFiles));
    return false;
  }
  std::shared_ptr<vfs::TSource> source = WritableSource(form, panel);
  if (source == nullptr) return false;
  if (ShowMessage(&form, MessageKind::Question, MainCaption(),
                  ArchiveDeleteQuestion(names, Shown(ArchiveName(panel)))) != MessageAnswer::Yes)
    return false;
  vfs::TChangeSet changes;
  for (const std::string& name : names) changes.Delete(InnerOf(panel, name));
  vfs::TError err;
  const bool ok = source->Apply(changes, {}, &err);
  if (!ok && err.code != ECANCELED)
    Fail(form, platform::Worded("Nothing was deleted from %1: %2").arg(Shown(ArchiveName(panel)), Shown(ErrorOf(err))));
  form.RefreshBothPanels();
  return ok;
}

// Asks for a name (F7 and Shift+F6); false when cancelled or unusable.
bool AskName(TMainForm& form, const QString& caption, const QString& prompt, std::string& name) {
  QString text = Shown(name);
  if (!AskText(&form, caption, prompt, text)) return false;
  const QByteArray bytes = text.toUtf8();
  std::string typed(bytes.constData(), static_cast<size_t>(bytes.size()));
  if (text == Shown(name)) typed = name;  // left as shown: the original bytes
  if (!SafeName(typed)) {
    Fail(form, platform::Worded("\"%1\" cannot be the name of an entry.").arg(text));
    return false;
  }
  name = typed;
  return true;
}

bool MakeDirectory(TMainForm& form, TFMPanel& panel) {
  std::shared_ptr<vfs::TSource> source = WritableSource(form, panel);
  if (source == nullptr) return false;
  std::string name;
  if (!AskName(form, platform::Worded("New directory"), platform::Worded("Directory name:"), name)) return false;
  vfs::TError err;
  if (!source->MakeDir(InnerOf(panel, name), &err)) {
    Fail(form, platform::Worded("Cannot make %1: %2").arg(Shown(name), Shown(ErrorOf(err))));
    return false;
  }
  form.RefreshBothPanels(name);
  return true;
}

bool RenameEntry(TMainForm& form, TFMPanel& panel) {
  const panels::TFileEntry* entry = panel.CurrentEntry();
  if (entry == nullptr || entry->IsDotDot()) {
    ShowMessage(&form, MessageKind::Warning, MainCaption(), Msg(TMsg::NoSelectedFiles));
    return false;
  }
  std::shared_ptr<vfs::TSource> source = WritableSource(form, panel);
  if (source == nullptr) return false;
  const std::string old = entry->FileName;
  std::string name = old;
  if (!AskName(form, platform::Worded("Rename"), platform::Worded("New name:"), name) || name == old) return false;
  vfs::TError err;
  if (!source->Rename(InnerOf(panel, old), InnerOf(panel, name), &err)) {
    Fail(form, platform::Worded("Cannot rename %1: %2").arg(Shown(old), Shown(ErrorOf(err))));
    return false;
  }
  form.RefreshBothPanels(name);
  return true;
}

// A job's reader asks for a password here: the one this run has for the
// archive, else the window's question, asked on the window's thread while
// the job waits (a cancelled job's question counts as no answer).
class TJobPasswords final : public vfs::TPasswordProvider {
 public:
  TJobPasswords(fileops::TJob& job, fileops::TJobPrompt::TPost post) : job_(job), post_(std::move(post)) {}
  bool AskPassword(const std::string& archive, bool again, std::string& password) override {
    if (!again && KnownPassword(archive, password)) return true;
    auto answer = std::make_shared<std::string>();
    const std::optional<int> given = job_.Ask([&](fileops::TJob::TQuestion question) {
      post_([question, archive, again, answer]() mutable {
        if (!question.Open()) return;
        std::string typed;
        const bool ok = ArchivePasswords().AskPassword(archive, again, typed);
        *answer = std::move(typed);
        question.Answer(ok ? 1 : 0);
      });
    });
    if (!given || *given == 0) return false;
    password = *answer;
    return true;
  }

 private:
  fileops::TJob& job_;
  fileops::TJobPrompt::TPost post_;
};

// One side of an archive copy as the job's thread opens it: a place of the
// archive (through a reader of its own) or a local directory.
struct TCopySide {
  TArchiveOrigin archive;  // not Valid: a local directory
  std::string dir;         // the place in the archive, or the directory
  std::string Path() const { return archive.Valid() ? archive.file : dir; }
};

std::shared_ptr<vfs::TSource> OpenSide(const TCopySide& side, vfs::TPasswordProvider& passwords, std::string* error) {
  if (side.archive.Valid()) return OpenArchiveAgain(side.archive, &passwords, error);
  return std::make_shared<vfs::TLocalSource>(side.dir);
}

// The job's work: the copy engine between the two sides, its questions and
// messages through `prompt`, its progress and cancel through the job.
void RunSourceCopy(fileops::TJob& job, fileops::TFMPrompt& prompt, const fileops::TJobPrompt::TPost& post,
                   const TCopySide& from, const TCopySide& to, const std::vector<std::string>& names, bool move,
                   TJobOutcome& outcome) {
  TJobPasswords passwords(job, post);
  std::string error;
  std::shared_ptr<vfs::TSource> source = OpenSide(from, passwords, &error);
  // Two places of one archive are one reader: what the copy writes there is
  // what its move then deletes from.
  const bool sameArchive = from.archive.Valid() && to.archive.Valid() && from.archive.file == to.archive.file;
  std::shared_ptr<vfs::TSource> target =
      source == nullptr ? nullptr : sameArchive ? source : OpenSide(to, passwords, &error);
  if (source == nullptr || target == nullptr) {
    const std::string item = (source == nullptr ? from : to).archive.display;
    fileops::TFMMessage message{fileops::TFMMessageKind::CouldNotCopy, item,
                                fileops::MessageText(fileops::TFMMessageKind::CouldNotCopy, item), 0, error};
    prompt.ShowMessage(message);
    outcome.failures.push_back(std::move(message));
    outcome.aborted = outcome.abortChosen = true;  // said already
    return;
  }
  fileops::TSourceCopy copy;
  copy.SetPrompt(&prompt);
  copy.SetGate(&job);
  copy.OnGlobalDone = [&job](fileops::TSourceCopy& c, int) {
    job.SetProgress(c.Done(), c.Total(), c.ItemsDone(), c.ItemCount(), c.CurrentItem());
  };
  const std::string fromDir = from.archive.Valid() ? from.dir : std::string();
  const std::string toDir = to.archive.Valid() ? to.dir : std::string();
  if (move)
    copy.Move(names, *source, fromDir, *target, toDir);
  else
    copy.Copy(names, *source, fromDir, *target, toDir);
  outcome.handled = copy.Completed();
  outcome.failures = copy.Failures();
  outcome.skipped = copy.SkippedCount();
  outcome.aborted = copy.OperationAborted;
  outcome.abortChosen = copy.AbortChosen();
}

// Where the copy goes, from the destination prompt's answer: the other
// panel's place as prefilled; out of an archive any local directory (one
// typed with a trailing "/" is made); into one a directory of that archive.
// False after a message saying why not.
bool TargetOf(TMainForm& form, const TFMPanel& from, const TFMPanel& to, const QString& answer,
              const QString& prefilled, size_t count, bool move, TCopySide& side) {
  const bool into = to.Model().InSource();
  if (answer == prefilled) {
    side.archive = into ? ArchiveOriginOf(to) : TArchiveOrigin{};
    side.dir = into ? EntryPathOf(to.Model().Place()) : to.Directory();
    return true;
  }
  const QByteArray bytes = answer.toUtf8();
  const std::string typed(bytes.constData(), static_cast<size_t>(bytes.size()));
  if (into) {
    std::string place;
    vfs::TEntry entry;
    vfs::TError err;
    const std::shared_ptr<vfs::TSource> source = ArchiveSourceOf(to);
    if (!panels::PlaceBelow(to.Model().Source()->Root(), typed, place) ||
        (!place.empty() && (!source->Stat(place, entry, &err) || entry.kind != vfs::TEntryKind::Directory))) {
      Fail(form, platform::Worded("%1 is no directory of %2.").arg(answer, Shown(ArchiveName(to))));
      return false;
    }
    side.archive = ArchiveOriginOf(to);
    side.dir = place;
    return true;
  }
  const std::string base = platform::NearestExistingDirectory(from.Model().Source()->Root());
  const fileops::TCopyTarget target = fileops::ResolveCopyTarget(count, typed, base, move);
  if (target.kind == fileops::TCopyTarget::TKind::Refused) {
    ShowMessage(&form, MessageKind::Warning, MainCaption(), Shown(target.message));
    return false;
  }
  if (target.kind == fileops::TCopyTarget::TKind::AsName) {
    Fail(form, platform::Worded("Entries keep their names when they leave an archive; give a directory."));
    return false;
  }
  if (target.createDir) {
    if (const int error = platform::MakeDirectoryPath(target.dir); error != 0) {
      Fail(form, Shown("Could not create directory " + target.dir + "\n" + platform::ErrorText(error)));
      return false;
    }
  }
  side.archive = {};
  side.dir = target.dir;
  return true;
}

// Copies (moves) `names` from `source` to `target` as a job followed in the
// operation window (or queued), `from` being the panel they are marked in.
void StartArchiveCopy(TMainForm& form, TFMPanel* from, const std::vector<std::string>& names,
                      const TCopySide& source, const TCopySide& target, bool move, bool queued) {
  const std::string dest =
      target.archive.Valid() ? panels::PlacePath(target.archive.display, target.dir) : target.dir;
  const fileops::TJobPrompt::TPost post = JobCenter(form)->Poster();
  StartEngineJob(form, from, Msg(move ? TMsg::MoveWait : TMsg::CopyWait),
                 JobTitle(move ? TJobVerb::Move : TJobVerb::Copy, names, dest), {source.Path(), target.Path()},
                 [source, target, names, move, post](fileops::TJob& job, fileops::TFMPrompt& prompt,
                                                      TJobOutcome& outcome) {
                   RunSourceCopy(job, prompt, post, source, target, names, move, outcome);
                 },
                 queued);
}

// The size of `inner` with everything below it.
uint64_t SizeBelow(vfs::TSource& source, const std::string& inner) {
  vfs::TEntry entry;
  vfs::TError err;
  if (!source.Stat(inner, entry, &err)) return 0;
  if (entry.kind != vfs::TEntryKind::Directory) return entry.size;
  std::vector<vfs::TEntry> children;
  if (!source.List(inner, children, &err)) return 0;
  uint64_t total = 0;
  for (const vfs::TEntry& child : children)
    total += child.kind == vfs::TEntryKind::Directory ? SizeBelow(source, vfs::JoinInner(inner, child.name))
                                                      : child.size;
  return total;
}

// F5 and F6 between an archive panel and a directory panel, in either
// direction, or between two archive places (two archives, or two folders of
// one): the destination prompt (F2 there queues the job), then the copy
// engine as a job with the operation window, its overwrite question, its
// messages with Skip all, Retry and Abort, Cancel and Background. Into an
// archive everything is one rewrite after all the questions (from another
// archive the entries are read first), so a cancel leaves it byte for byte;
// out of one every file is placed only when whole.
// A move deletes what was copied whole only after all of it is written.
void CopyWithArchive(TMainForm& form, TFMPanel& from, TFMPanel& to, bool move) {
  const std::vector<std::string> names = MarkedNamesOf(from);
  if (names.empty()) {
    ShowMessage(&form, MessageKind::Warning, MainCaption(), Msg(TMsg::NoSelectedFiles));
    return;
  }
  const bool out = from.Model().InSource();
  const bool into = to.Model().InSource();
  if ((out && move && WritableSource(form, from) == nullptr) || (into && WritableSource(form, to) == nullptr)) return;
  const QString prefilled = Shown(to.Directory());
  QString answer = prefilled;
  bool queued = false;
  if (!AskTextOrQueue(&form, MainCaption(), Msg(move ? TMsg::MovePrompt : TMsg::CopyPrompt), answer, queued) ||
      answer.isEmpty())
    return;
  TCopySide source, target;
  if (out) {
    source.archive = ArchiveToRead(from);
    source.dir = EntryPathOf(from.Model().Place());
  } else {
    source.dir = from.Directory();
  }
  if (!TargetOf(form, from, to, answer, prefilled, names.size(), move, target)) return;
  StartArchiveCopy(form, &from, names, source, target, move, queued);
}

}  // namespace

bool RefusedInArchive(TMainForm& form, const TFMPanel* panel, const QString& what, const QString& hint) {
  if (panel == nullptr || !panel->Model().InSource()) return false;
  const bool trash = TrashSourceOf(*panel) != nullptr;
  QString text = trash ? platform::Worded("%1 is not available in the Trash.").arg(what)
                       : platform::Worded("%1 is not available inside an archive.").arg(what);
  if (!hint.isEmpty() && !trash) text += QLatin1Char(' ') + hint;
  ShowMessage(&form, MessageKind::Warning, MainCaption(), text);
  return true;
}

std::string DiskDirectoryOf(const TFMPanel& panel) {
  if (TrashSourceOf(panel) != nullptr) return TrashParentDirectory();
  return panel.Model().InSource() ? platform::NearestExistingDirectory(panel.Directory()) : panel.Directory();
}

bool ArchiveEntrySize(TFMPanel& panel) {
  const std::shared_ptr<vfs::TSource> source = ArchiveSourceOf(panel);
  if (source == nullptr) return false;
  const panels::TFileEntry* entry = panel.CurrentEntry();
  if (entry == nullptr || entry->IsDotDot()) return true;
  const panels::TFileEntry measured = *entry;  // the listing may change while it is measured
  const uint64_t size = SizeBelow(*source, InnerOf(panel, measured.FileName));
  panel.ShowSizeLine(measured, size);
  return true;
}

bool UnpackShownArchive(TMainForm& form) {
  TFMPanel* panel = form.ActivePanel();
  if (panel == nullptr || !panel->Model().InSource()) return false;
  const std::shared_ptr<panels::TPanelSource>& places = panel->Model().Source();
  const std::string file = places->Root();
  const std::string dir = platform::NearestExistingDirectory(file);
  if (places->Outer() == nullptr && file.size() > 4 &&
      QString::fromStdString(file.substr(file.size() - 4)).compare(QStringLiteral(".zip"), Qt::CaseInsensitive) == 0) {
    // As Alt+F9 on the archive in its directory.
    TUnpackRequest request;
    request.proposedDir = dir;
    if (UnpackArchive(form, file, false, request)) form.RefreshBothPanels();
    return true;
  }
  const std::shared_ptr<vfs::TSource> source = ArchiveSourceOf(*panel);
  std::vector<vfs::TEntry> root;
  vfs::TError err;
  if (source == nullptr || !source->List("", root, &err)) {
    Fail(form, platform::Worded("Cannot read %1: %2").arg(Shown(file), Shown(ErrorOf(err))));
    return true;
  }
  std::vector<std::string> names;
  for (const vfs::TEntry& entry : root) names.push_back(entry.name);
  if (names.empty()) {
    ShowMessage(&form, MessageKind::Information, MainCaption(), platform::Worded("%1 is empty.").arg(Shown(file)));
    return true;
  }
  QString answer = Shown(dir);
  // The question the unpack command asks.
  if (!zipui::InputQuery(&form, QLatin1String(kDialogCaption), platform::Worded("Unpack files to directory:"), answer) ||
      answer.isEmpty())
    return true;
  const QByteArray bytes = answer.toUtf8();
  std::string target(bytes.constData(), static_cast<size_t>(bytes.size()));
  if (answer == Shown(dir)) target = dir;
  if (target.front() != '/') target = platform::JoinPath(dir, target);
  if (!platform::IsDirectory(target)) {
    if (const int error = platform::MakeDirectoryPath(target); error != 0) {
      Fail(form, Shown("Could not create directory " + target + "\n" + platform::ErrorText(error)));
      return true;
    }
  }
  TCopySide from, to;
  from.archive = ArchiveToRead(*panel);
  to.dir = target;
  StartArchiveCopy(form, panel, names, from, to, false, false);
  return true;
}

QString ArchiveEntryInfoText(const std::string& name, const std::string& dir, const vfs::TEntry& entry,
                             uint64_t sizeBelow, const std::string& readOnlyReason) {
  const auto bytes = [](uint64_t n) {
    return platform::WordedCount("%1 byte", "%1 bytes", static_cast<long long>(std::min<uint64_t>(n, INT64_MAX)),
                                 QString::fromStdString(platform::FormatThousands(n)));
  };
  QStringList lines{platform::Worded("Name: %1").arg(Shown(name)), platform::Worded("In: %1").arg(Shown(dir))};
  if (entry.kind == vfs::TEntryKind::Directory) {
    lines << platform::Worded("Directory, %1 with everything in it").arg(bytes(sizeBelow));
  } else {
    lines << platform::Worded("Size: %1").arg(bytes(entry.size)) << platform::Worded("Packed: %1").arg(bytes(entry.packedSize));
    if (entry.kind == vfs::TEntryKind::Link) lines << platform::Worded("Link to: %1").arg(Shown(entry.linkTarget));
  }
  if (entry.mtime != 0)
    lines << platform::Worded("Modified: %1")
                 .arg(QDateTime::fromSecsSinceEpoch(entry.mtime).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")));
  if (entry.encrypted) lines << platform::Worded("Encrypted");
  if (!readOnlyReason.empty()) lines << Shown(readOnlyReason);
  return lines.join(QLatin1Char('\n'));
}

void ShowArchiveEntryInfo(TMainForm& form, TFMPanel& panel) {
  const std::shared_ptr<vfs::TSource> source = ArchiveSourceOf(panel);
  const panels::TFileEntry* current = panel.CurrentEntry();
  if (source == nullptr || current == nullptr || current->IsDotDot()) return;
  const std::string name = current->FileName;
  const std::string inner = InnerOf(panel, name);
  vfs::TEntry entry;
  vfs::TError err;
  if (!source->Stat(inner, entry, &err)) {
    Fail(form, platform::Worded("Cannot read %1: %2").arg(Shown(name), Shown(ErrorOf(err))));
    return;
  }
  const vfs::TCapabilities caps = source->Capabilities();
  const uint64_t below = entry.kind == vfs::TEntryKind::Directory ? SizeBelow(*source, inner) : 0;
  const std::string readOnly = caps.writable ? std::string() : caps.readOnlyReason;
  ShowMessage(&form, MessageKind::Information, platform::Worded("Properties"),
              ArchiveEntryInfoText(name, panel.Directory(), entry, below, readOnly));
}

void CopyPathsIntoArchive(TMainForm& form, const std::vector<std::string>& paths, TFMPanel& target) {
  if (WritableSource(form, target) == nullptr) return;
  // By the directory each comes from, in the order they first appear.
  std::vector<std::pair<std::string, std::vector<std::string>>> groups;
  for (std::string path : paths) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size()) continue;
    const std::string dir = slash == 0 ? std::string("/") : path.substr(0, slash);
    auto it = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == dir; });
    if (it == groups.end()) it = groups.insert(groups.end(), {dir, {}});
    it->second.push_back(path.substr(slash + 1));
  }
  TCopySide to;
  to.archive = ArchiveOriginOf(target);
  to.dir = EntryPathOf(target.Model().Place());
  for (const auto& [dir, names] : groups) {
    TCopySide from;
    from.dir = dir;
    StartArchiveCopy(form, &target, names, from, to, false, false);
  }
}

bool ExtractArchiveEntry(TFMPanel& panel, const std::string& name, const std::string& target, std::string* error) {
  const std::shared_ptr<vfs::TSource> source = ArchiveSourceOf(panel);
  if (source == nullptr) return false;
  return WriteEntry(*source, InnerOf(panel, name), target, error);
}

bool OpenArchiveEntry(TMainForm& form, TFMPanel& panel) {
  std::string temp;
  const std::string file = TemporaryCopy(form, panel, temp);
  if (file.empty()) return false;
  if (LeftForLater().empty())
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] {
      for (const std::string& dir : LeftForLater()) RemoveTree(dir);
      LeftForLater().clear();
    });
  LeftForLater().push_back(temp);
  return NavHooks().OpenDocument(file);
}

// A file a search found inside an archive, listed by its path through the
// archive in the listing Feed to panel made: not on the disk, a file (the
// archive) on the way to it.
bool FoundInArchive(const TFMPanel& panel, const panels::TFileEntry& entry) {
  if (entry.IsDotDot() || entry.FileName.find('/') == std::string::npos) return false;
  const std::string path = platform::JoinPath(panel.Directory(), entry.FileName);
  platform::EntryInfo info;
  if (platform::LStat(path, info)) return false;
  for (size_t slash = path.find('/', panel.Directory().size() + 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (!platform::LStat(path.substr(0, slash), info)) return false;
    if (info.kind == platform::EntryKind::File) return true;
  }
  return false;
}

// F5, F6 and F8 on such files say where they can be done: in the archive's
// place, which Enter opens (rather than failing on a file that is not there).
bool RefuseFoundInArchive(TMainForm& form, TArchiveCommand command) {
  const char* key =
      command == TArchiveCommand::Copy     ? "%1 is inside an archive: Enter opens its place there, where F5 copies it."
      : command == TArchiveCommand::Move   ? "%1 is inside an archive: Enter opens its place there, where F6 moves it."
      : command == TArchiveCommand::Delete ? "%1 is inside an archive: Enter opens its place there, where F8 deletes it."
                                           : nullptr;
  TFMPanel* active = form.ActivePanel();
  if (key == nullptr || active == nullptr || !active->Model().IsListing()) return false;
  for (const panels::TFileEntry* entry : active->GetMarkedEntries())
    if (entry != nullptr && FoundInArchive(*active, *entry)) {
      Fail(form, platform::Worded(key).arg(Shown(entry->FileName)));
      return true;
    }
  return false;
}

bool RunInArchive(TMainForm& form, TArchiveCommand command) {
  if (RunInTrash(form, command)) return true;
  if (RefuseFoundInArchive(form, command)) return true;
  TFMPanel* active = form.ActivePanel();
  if (active == nullptr) return false;
  TFMPanel* other = active == form.LeftFMPanel() ? form.RightFMPanel() : form.LeftFMPanel();
  const bool here = active->Model().InSource();
  switch (command) {
    case TArchiveCommand::View: return here && (ViewEntry(form, *active), true);
    case TArchiveCommand::Edit: return here && (EditEntry(form, *active), true);
    case TArchiveCommand::Delete: return here && (DeleteEntries(form, *active), true);
    case TArchiveCommand::MakeDir: return here && (MakeDirectory(form, *active), true);
    case TArchiveCommand::Rename: return here && (RenameEntry(form, *active), true);
    case TArchiveCommand::Copy:
    case TArchiveCommand::Move: {
      const bool move = command == TArchiveCommand::Move;
      const bool there = other->Model().InSource();
      if (!here && !there) return false;
      CopyWithArchive(form, *active, *other, move);
      return true;
    }
  }
  return false;
}

std::unique_ptr<vfs::TPasswordProvider> JobPasswords(fileops::TJob& job, fileops::TJobPrompt::TPost post) {
  return std::make_unique<TJobPasswords>(job, std::move(post));
}

bool ViewFoundArchiveEntry(TMainForm& form, TFMPanel& panel, bool edit) {
  const panels::TFileEntry* entry = panel.CurrentEntry();
  if (entry == nullptr || !panel.Model().IsListing() || entry->FileName.find('/') == std::string::npos) return false;
  const std::string path = platform::JoinPath(panel.Directory(), entry->FileName);
  platform::EntryInfo info;
  if (platform::LStat(path, info)) return false;  // on disk: the viewer's as any file
  const size_t slash = path.rfind('/');
  const std::string leaf = path.substr(slash + 1);
  TArchivePlace place;
  std::string error;
  if (!OpenArchivePlace(path.substr(0, slash), place, &error)) return false;  // gone: the viewer says so
  if (edit) {
    Fail(form, platform::Worded("%1 is inside an archive: Enter opens its place there, where F4 edits it.")
                   .arg(Shown(entry->FileName)));
    return true;
  }
  const std::string temp = platform::MakePrivateTempDir("vantrel-view-");
  if (temp.empty()) {
    Fail(form, platform::Worded("Could not make a temporary directory: %1").arg(Shown(platform::ErrorText(errno))));
    return true;
  }
  const std::string file = platform::JoinPath(temp, SafeName(leaf) ? leaf : std::string("entry"));
  if (!WriteEntry(*place.source, vfs::JoinInner(place.inner, leaf), file, &error)) {
    RemoveTree(temp);
    if (!error.empty()) Fail(form, platform::Worded("Cannot read %1: %2").arg(Shown(entry->FileName), Shown(error)));
    return true;
  }
  std::vector<std::string> argv = ViewerOrEditorWords(form, false);
  argv.push_back(file);
  if (argv.size() < 2 || !platform::StartDetachedThenRemove(argv, temp, temp)) {
    RemoveTree(temp);
    Fail(form, Msg(TMsg::ViewerNotFound));
  }
  return true;
}

}  // namespace vantrel::app
