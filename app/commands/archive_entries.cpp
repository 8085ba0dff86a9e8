// archive_entries.cpp - viewing, opening, copying, moving, deleting, making
// and renaming entries of archives shown as folders.
#include "app/commands/archive_entries.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <vector>

#include <QApplication>
#include <QProcess>

#include "app/commands/command_hooks.h"
#include "app/commands/file_commands.h"
#include "app/dialogs/messages.h"
#include "app/panels/archive_places.h"
#include "app/settings/message_table.h"
#include "app/window/mainform.h"
#include "panels/panel_source.h"
#include "panels/qt/fmpanel.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/qt/volumes.h"
#include "platform/text.h"
#include "vfs/source.h"

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
  return place.empty() ? name : place + "/" + name;
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
    if (entry != nullptr && !entry->IsDotDot()) names.push_back(entry->FileName);
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
    Fail(form, QStringLiteral("%1 cannot be changed here.").arg(Shown(ArchiveName(panel))));
    return nullptr;
  }
  const vfs::TCapabilities caps = source->Capabilities();
  if (!caps.writable) {
    Fail(form, Shown(caps.readOnlyReason.empty() ? ArchiveName(panel) + " is read-only here" : caps.readOnlyReason));
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
    Fail(form, QStringLiteral("Could not make a temporary directory: ") + Shown(platform::ErrorText(errno)));
    return {};
  }
  const std::string file = platform::JoinPath(temp, SafeName(name) ? name : std::string("entry"));
  std::string error;
  if (!ExtractArchiveEntry(panel, name, file, &error)) {
    RemoveTree(temp);
    if (!error.empty()) Fail(form, QStringLiteral("Cannot read %1: %2").arg(Shown(name), Shown(error)));
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
                    QStringLiteral("Update %1 in %2?").arg(Shown(name), Shown(archive))) == MessageAnswer::Yes) {
      vfs::TChangeSet changes;
      changes.PutFile(inner, file, after.st_mtim.tv_sec, after.st_mode & 07777);
      vfs::TError err;
      if (!source->Apply(changes, {}, &err))
        Fail(*f, QStringLiteral("%1 was not updated: %2").arg(Shown(archive), Shown(ErrorOf(err))));
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

bool DeleteEntries(TMainForm& form, TFMPanel& panel) {
  const std::vector<std::string> names = MarkedNamesOf(panel);
  if (names.empty()) {
    ShowMessage(&form, MessageKind::Warning, MainCaption(), Msg(TMsg::NoSelectedFiles));
    return false;
  }
  std::shared_ptr<vfs::TSource> source = WritableSource(form, panel);
  if (source == nullptr) return false;
  const QString what = names.size() == 1 ? QStringLiteral("\"%1\"").arg(Shown(names[0]))
                                         : QStringLiteral("%1 entries").arg(names.size());
  if (ShowMessage(&form, MessageKind::Question, MainCaption(),
                  QStringLiteral("Delete %1 from %2?").arg(what, Shown(ArchiveName(panel)))) != MessageAnswer::Yes)
    return false;
  vfs::TChangeSet changes;
  for (const std::string& name : names) changes.Delete(InnerOf(panel, name));
  vfs::TError err;
  const bool ok = source->Apply(changes, {}, &err);
  if (!ok && err.code != ECANCELED)
    Fail(form, QStringLiteral("Nothing was deleted from %1: %2").arg(Shown(ArchiveName(panel)), Shown(ErrorOf(err))));
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
    Fail(form, QStringLiteral("\"%1\" cannot be the name of an entry.").arg(text));
    return false;
  }
  name = typed;
  return true;
}

bool MakeDirectory(TMainForm& form, TFMPanel& panel) {
  std::shared_ptr<vfs::TSource> source = WritableSource(form, panel);
  if (source == nullptr) return false;
  std::string name;
  if (!AskName(form, QStringLiteral("New directory"), QStringLiteral("Directory name:"), name)) return false;
  vfs::TError err;
  if (!source->MakeDir(InnerOf(panel, name), &err)) {
    Fail(form, QStringLiteral("Cannot make %1: %2").arg(Shown(name), Shown(ErrorOf(err))));
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
  if (!AskName(form, QStringLiteral("Rename"), QStringLiteral("New name:"), name) || name == old) return false;
  vfs::TError err;
  if (!source->Rename(InnerOf(panel, old), InnerOf(panel, name), &err)) {
    Fail(form, QStringLiteral("Cannot rename %1: %2").arg(Shown(old), Shown(ErrorOf(err))));
    return false;
  }
  form.RefreshBothPanels(name);
  return true;
}

// What the overwrite question's answers leave for the rest of one command.
struct TOverwrite {
  bool all = false;   // overwrite every further one
  bool none = false;  // skip every further one
  bool cancelled = false;
};

// Whether an existing `what` is to be replaced (asks unless answered for all).
bool Replace(TMainForm& form, TOverwrite& answers, const std::string& what) {
  if (answers.all) return true;
  if (answers.none || answers.cancelled) return false;
  switch (ShowMessage(&form, MessageKind::QuestionAll, MainCaption(),
                      QStringLiteral("Overwrite file %1?").arg(Shown(what)))) {
    case MessageAnswer::Yes: return true;
    case MessageAnswer::All: answers.all = true; return true;
    case MessageAnswer::None: answers.none = true; return false;
    case MessageAnswer::Cancel: answers.cancelled = true; return false;
    default: return false;
  }
}

// Writes the entry `inner` (a directory with everything below it) to the
// local path `target`. Files are written beside their target first and
// renamed over it, so an existing file is replaced whole or not at all. Links
// and special entries are left out. True when everything was written.
bool ExtractTree(TMainForm& form, vfs::TSource& source, const std::string& inner, const std::string& target,
                 TOverwrite& answers, std::vector<QString>& failures) {
  if (answers.cancelled) return false;
  vfs::TEntry entry;
  vfs::TError err;
  if (!source.Stat(inner, entry, &err)) {
    failures.push_back(Shown(inner) + QStringLiteral(": ") + Shown(ErrorOf(err)));
    return false;
  }
  if (entry.kind == vfs::TEntryKind::Directory) {
    if (::mkdir(target.c_str(), 0755) != 0 && !(errno == EEXIST && platform::IsDirectory(target))) {
      failures.push_back(Shown(target) + QStringLiteral(": ") + Shown(platform::ErrorText(errno)));
      return false;
    }
    std::vector<vfs::TEntry> children;
    if (!source.List(inner, children, &err)) {
      failures.push_back(Shown(inner) + QStringLiteral(": ") + Shown(ErrorOf(err)));
      return false;
    }
    bool all = true;
    for (const vfs::TEntry& child : children) {
      if (!SafeName(child.name)) {
        failures.push_back(Shown(inner + "/" + child.name) + QStringLiteral(": not a name a file can have"));
        all = false;
        continue;
      }
      all = ExtractTree(form, source, inner + "/" + child.name, platform::JoinPath(target, child.name), answers,
                        failures) && all;
    }
    return all;
  }
  if (entry.kind != vfs::TEntryKind::File) {
    failures.push_back(Shown(inner) + QStringLiteral(": links and special entries are not extracted"));
    return false;
  }
  struct stat st;
  if (::lstat(target.c_str(), &st) == 0 && !Replace(form, answers, target)) return false;
  const std::string partial = target + ".vantrel-part";
  ::unlink(partial.c_str());
  std::string error;
  if (!WriteEntry(source, inner, partial, &error)) {
    if (error.empty()) answers.cancelled = true;  // the password was not given
    else failures.push_back(Shown(inner) + QStringLiteral(": ") + Shown(error));
    return false;
  }
  ::chmod(partial.c_str(), entry.mode != 0 ? (entry.mode & 0777) : 0644);
  if (entry.mtime != 0) {
    const timespec times[2] = {{entry.mtime, 0}, {entry.mtime, 0}};
    ::utimensat(AT_FDCWD, partial.c_str(), times, 0);
  }
  if (::rename(partial.c_str(), target.c_str()) != 0) {
    failures.push_back(Shown(target) + QStringLiteral(": ") + Shown(platform::ErrorText(errno)));
    ::unlink(partial.c_str());
    return false;
  }
  return true;
}

// Adds the local `path` (a directory with everything below it) as `inner`.
void AddTree(TMainForm& form, vfs::TSource& target, const std::string& path, const std::string& inner,
             vfs::TChangeSet& changes, TOverwrite& answers, std::vector<QString>& failures) {
  if (answers.cancelled) return;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    failures.push_back(Shown(path) + QStringLiteral(": ") + Shown(platform::ErrorText(errno)));
    return;
  }
  vfs::TEntry existing;
  vfs::TError err;
  const bool exists = target.Stat(inner, existing, &err);
  if (S_ISDIR(st.st_mode)) {
    if (!exists) changes.MakeDir(inner);
    std::error_code ec;
    for (const auto& item : std::filesystem::directory_iterator(path, ec))
      AddTree(form, target, item.path().native(), inner + "/" + item.path().filename().native(), changes, answers,
              failures);
    if (ec) failures.push_back(Shown(path) + QStringLiteral(": ") + QString::fromStdString(ec.message()));
    return;
  }
  if (!S_ISREG(st.st_mode)) {
    failures.push_back(Shown(path) + QStringLiteral(": only files and directories are added"));
    return;
  }
  if (exists && !Replace(form, answers, inner)) return;
  if (exists) changes.Delete(inner);
  changes.PutFile(inner, path, st.st_mtim.tv_sec, st.st_mode & 07777);
}

void ReportFailures(TMainForm& form, const std::vector<QString>& failures) {
  if (failures.empty()) return;
  QStringList lines;
  for (const QString& line : failures) lines << line;
  ShowMessage(&form, MessageKind::Summary, MainCaption(), lines.join(QLatin1Char('\n')));
}

// F5 and F6 from an archive panel into a directory panel. A move deletes
// from the archive only the entries written out whole, in one rewrite after
// all of them.
bool CopyOut(TMainForm& form, TFMPanel& from, const TFMPanel& to, bool move) {
  const std::vector<std::string> names = MarkedNamesOf(from);
  std::shared_ptr<vfs::TSource> source = ArchiveSourceOf(from);
  if (names.empty() || source == nullptr) return false;
  if (move && WritableSource(form, from) == nullptr) return false;
  const std::string dest = to.Directory();
  TOverwrite answers;
  std::vector<QString> failures;
  std::vector<std::string> written;
  for (const std::string& name : names) {
    if (!SafeName(name)) {
      failures.push_back(Shown(name) + QStringLiteral(": not a name a file can have"));
      continue;
    }
    if (ExtractTree(form, *source, InnerOf(from, name), platform::JoinPath(dest, name), answers, failures))
      written.push_back(name);
    if (answers.cancelled) break;
  }
  if (move && !written.empty()) {
    vfs::TChangeSet changes;
    for (const std::string& name : written) changes.Delete(InnerOf(from, name));
    vfs::TError err;
    if (!source->Apply(changes, {}, &err))
      failures.push_back(QStringLiteral("%1 keeps the moved entries: %2").arg(Shown(ArchiveName(from)),
                                                                                Shown(ErrorOf(err))));
  }
  for (const std::string& name : written) {
    const int index = from.IndexOfName(name);
    if (from.Entries()[static_cast<size_t>(index)]->FileName == name) from.SetMarked(index, false);
  }
  form.RefreshBothPanels();
  ReportFailures(form, failures);
  return failures.empty() && !answers.cancelled;
}

// F5 and F6 from a directory panel into an archive panel: one rewrite adds
// everything; a move deletes the local files only after it succeeded.
bool CopyIn(TMainForm& form, TFMPanel& from, const TFMPanel& to, bool move) {
  const std::vector<std::string> names = MarkedNamesOf(from);
  if (names.empty()) return false;
  std::shared_ptr<vfs::TSource> target = WritableSource(form, to);
  if (target == nullptr) return false;
  TOverwrite answers;
  std::vector<QString> failures;
  vfs::TChangeSet changes;
  for (const std::string& name : names)
    AddTree(form, *target, platform::JoinPath(from.Directory(), name), InnerOf(to, name), changes, answers, failures);
  bool ok = !answers.cancelled && !changes.changes.empty();
  if (ok) {
    vfs::TError err;
    ok = target->Apply(changes, {}, &err);
    if (!ok && err.code != ECANCELED)
      failures.push_back(QStringLiteral("%1 is unchanged: %2").arg(Shown(ArchiveName(to)), Shown(ErrorOf(err))));
  }
  if (ok && move && failures.empty())
    for (const std::string& name : names) RemoveTree(platform::JoinPath(from.Directory(), name));
  form.RefreshBothPanels();
  ReportFailures(form, failures);
  return ok && failures.empty();
}

}  // namespace

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

bool RunInArchive(TMainForm& form, TArchiveCommand command) {
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
      if (here && there) {
        Fail(form, QStringLiteral("Copy between two archives: extract to a directory first."));
        return true;
      }
      if (here) CopyOut(form, *active, *other, move);
      else CopyIn(form, *active, *other, move);
      return true;
    }
  }
  return false;
}

}  // namespace vantrel::app
