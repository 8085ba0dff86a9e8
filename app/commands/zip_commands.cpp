// zip_commands.cpp - the ZIP window, Pack and Unpack on the main window's
// archive component.
#include "app/commands/zip_commands.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <unordered_set>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>

#include "app/commands/archive_entries.h"
#include "app/window/features.h"
#include "app/dialogs/conflict_list.h"
#include "app/dialogs/infoform.h"
#include "app/window/mainform.h"
#include "app/dialogs/messages.h"
#include "app/dialogs/overwrite_question.h"
#include "app/commands/file_commands.h"
#include "fileops/job.h"
#include "fileops/pack_job.h"
#include "fileops/qt/job_center.h"
#include "fileops/zip_job.h"
#include "app/settings/message_table.h"
#include "app/settings/settings.h"
#include "formats/archive_writer.h"
#include "panels/dirmodel.h"
#include "platform/qt/wording.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/qt/volumes.h"
#include "platform/text.h"
#include "zip/ui/packform.h"
#include "zip/ui/zip_dialogs.h"
#include "zip/ui/zip_qt_ui.h"
#include "zip/ui/zippanel.h"
#include "vfs/zip_source.h"
#include "zip/zip_errors.h"
#include "zip/zip_writer.h"

namespace vantrel::app {

QString WrittenEntriesText(uint64_t written, const QString& archive) {
  return platform::WordedForm("%1 entry was written to %2.", "%1 entries were written to %2.",
                              static_cast<long long>(std::min<uint64_t>(written, INT64_MAX)))
      .arg(QString::number(written), archive);
}

namespace {

using panels::TFMPanel;

constexpr const char* kZipCommandsName = "ZipCommands";
constexpr const char* kZippingText = "Zipping files.... Please wait.";
constexpr const char* kUnzippingText = "Unzipping files.... Please wait.";

// The state of the ZIP commands, owned by the main window.
class TZipCommands : public QObject {
 public:
  explicit TZipCommands(TMainForm& form)
      : QObject(&form), form_(form), ui_(&form), writer_(&ui_) {
    setObjectName(QLatin1String(kZipCommandsName));
    zipPanel_ = new zipui::TZIPpanel(&form);
    packForm_ = new zipui::TPackForm(&form);
  }

  TMainForm& form_;
  zipui::TQtZipUserInterface ui_;
  zip::TZipWriter writer_;
  zipui::TZIPpanel* zipPanel_ = nullptr;
  zipui::TPackForm* packForm_ = nullptr;
  // The archive the ZIP window shows (absolute), and the panel it was opened
  // from (the window has the focus while it is open).
  std::string zipWindowArchive_;
  TFMPanel* zipWindowPanel_ = nullptr;
  // The panels of the Pack command: where the entries come from, and the other.
  TFMPanel* packSource_ = nullptr;
  TFMPanel* packDest_ = nullptr;
};

TZipCommands& Commands(TMainForm& form) {
  auto* c = dynamic_cast<TZipCommands*>(
      form.findChild<QObject*>(QLatin1String(kZipCommandsName), Qt::FindDirectChildrenOnly));
  if (c == nullptr) c = new TZipCommands(form);  // used before the install step
  return *c;
}

QString Text(const std::string& bytes) { return zipui::Visible(bytes); }

std::string Absolute(const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  return platform::JoinPath(platform::GetCurrentDir(), path);
}

std::string LastComponent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool HasZipExtension(const std::string& path) {
  return platform::CompareNoCaseAscii(panels::ExtensionOf(LastComponent(path)), ".zip") == 0;
}

// A stored path as a mask that matches only itself: the mask characters "*",
// "?" and "<" become one-character sets.
std::string LiteralMask(const std::string& path) {
  std::string mask;
  mask.reserve(path.size());
  for (char c : path) {
    if (c == '*' || c == '?' || c == '<') {
      mask += '<';
      mask += c;
      mask += '>';
    } else {
      mask += c;
    }
  }
  return mask;
}

// Runs `step`, reporting an engine error in the general error box.
bool Attempt(const std::function<void()>& step) {
  try {
    step();
    return true;
  } catch (const std::exception& e) {
    ShowGeneralError(platform::ToDisplay(e.what()));
  } catch (...) {
    ShowGeneralError(platform::Worded("Unknown error"));
  }
  return false;
}

// Files an operation left out for a reason the user did not choose (a file
// that cannot be created or opened, a wrong password, a CRC error). The engine
// only raises events for them; without a word the run would look complete.
class TLeftOut {
 public:
  // `why` is the program's own reason ("CRC error"), worded.
  void Add(const std::string& name, const char* why) { AddLine(name, platform::Worded(why)); }
  // `why` is an engine's or the system's reason, as it is.
  void AddText(const std::string& name, const std::string& why) { AddLine(name, QString::fromStdString(why)); }
  // A line of its own (an engine's message kept for the end).
  void AddLine(const std::string& text) {
    ++count_;
    if (static_cast<size_t>(lines_.size()) < kMaxLines) lines_.push_back(Text(text));
  }
  bool Empty() const { return count_ == 0; }
  size_t Count() const { return count_; }
  void AddLine(const std::string& name, const QString& why) {
    ++count_;
    if (static_cast<size_t>(lines_.size()) < kMaxLines) lines_.push_back(Text(name) + QStringLiteral(": ") + why);
  }
  // One warning listing them, after the run.
  void Report(const char* heading) const {
    if (count_ == 0) return;
    QString text = QLatin1String(heading);
    for (const QString& line : lines_) text += QLatin1Char('\n') + line;
    const size_t shown = static_cast<size_t>(lines_.size());
    if (count_ > shown) text += QStringLiteral("\n... and %1 more").arg(count_ - shown);
    ShowMessage(QApplication::activeWindow(), MessageKind::Warning, QLatin1String(kDialogCaption),
                text);
  }

 private:
  static constexpr size_t kMaxLines = 20;
  QStringList lines_;
  size_t count_ = 0;
};

const char* SkipText(zip::TSkipReason reason) {
  switch (reason) {
    case zip::skipBadPassword: return "wrong password";
    case zip::skipCannotOpen: return "cannot open the file";
    case zip::skipCannotCreate: return "cannot create the file";
    case zip::skipNoOverwrite: break;
  }
  return "left out";
}

// Where the ZIP window opened from `panel` unpacks to: the other panel's
// directory, as copies go (the current directory without a panel).
std::string OtherPanelDirectory(TMainForm& form, const TFMPanel* panel) {
  if (panel == nullptr) return platform::GetCurrentDir();
  return (panel == form.LeftFMPanel() ? form.RightFMPanel() : form.LeftFMPanel())->Directory();
}

// Both panels re-read their directories keeping their cursors and marks;
// the panel a command started from gets the focus back.
void EndCommand(TMainForm& form, TFMPanel* panel) {
  if (panel != nullptr) panel->setFocus();
  form.RefreshBothPanels();
}

// The archive component's settings, for the writer of a job.
std::function<void(zip::TZipWriter&)> SettingsOf(const zip::TZipWriter& from) {
  return [threads = from.Threads, page = from.CodePage(), extraTimes = from.ExtraTimes,
          unicode = from.UnicodePathField, temp = from.TempPath, exclude = from.ExcludeList,
          noCompress = from.NoCompressList, links = from.StoreLinks](zip::TZipWriter& w) {
    w.Threads = threads;
    w.SetCodePage(page);
    w.ExtraTimes = extraTimes;
    w.UnicodePathField = unicode;
    w.TempPath = temp;
    w.ExcludeList = exclude;
    w.NoCompressList = noCompress;
    w.StoreLinks = links;
  };
}

// What a pack or unpack job leaves for the window: written on the job's
// thread, read on the window's once the job ended.
struct TZipOutcome {
  TLeftOut leftOut;
  // What failed, for a retry: an extraction's entries by their paths, a
  // pack's files by their names below the directory packed.
  std::vector<std::string> failedEntries;
  std::string error;     // the engine's error; empty when there was none
  bool nothing = false;  // packing found nothing to add
};

// The engine's part of a job: its error into the outcome. The job's own
// cancel ends the engine with an error that is none.
void RunZipEngine(const fileops::TJob& job, TZipOutcome& outcome, const std::function<void()>& run) {
  try {
    run();
  } catch (const zip::ENothingToAdd&) {
    outcome.nothing = true;
  } catch (const std::exception& e) {
    if (!job.CancelRequested()) outcome.error = e.what();
  } catch (...) {
    if (!job.CancelRequested()) outcome.error = "Unknown error";
  }
}

// The end of a pack or unpack job, on the window's thread: the engine's
// error, the empty selection, or what was left out. True when the run went
// through whole.
bool ShowZipOutcome(TMainForm& form, const TZipOutcome& outcome, bool cancelled, const char* heading) {
  if (cancelled) return false;
  if (!outcome.error.empty()) {
    ShowGeneralError(platform::ToDisplay(outcome.error));
    return false;
  }
  if (outcome.nothing) {
    ShowMessage(&form, MessageKind::Warning, QLatin1String(kDialogCaption),
                platform::Worded("Nothing to pack: the selection holds no files or directories. "
                                 "No archive was written."));
    return false;
  }
  outcome.leftOut.Report(heading);
  return outcome.leftOut.Empty();
}

// A name packed from `root` as the pack job tells it back (relative to the
// directory packed, or a path below it).
std::string BelowRoot(const std::string& root, const std::string& name) {
  const std::string prefix = root.empty() || root.back() == '/' ? root : root + "/";
  return name.compare(0, prefix.size(), prefix) == 0 ? name.substr(prefix.size()) : name;
}

// Clears the marks of `names` in `panel` when it still shows `root`.
void Unmark(TFMPanel* panel, const std::string& root, const std::vector<std::string>& names) {
  if (panel == nullptr || panel->Directory() != root) return;
  for (const std::string& name : names) {
    const int index = panel->IndexOfName(name);
    if (index < panel->Count() && panel->Entries()[static_cast<size_t>(index)]->FileName == name)
      panel->SetMarked(index, false);
  }
}

// After a pack job's report: the files that could not be read may be
// added to the archive at once, as a job of their own.
bool RetryAsked(TMainForm& form, size_t failed) {
  return ShowMessage(&form, MessageKind::Question, QLatin1String(kMainCaption),
                     QStringLiteral("Retry the %1 failed items?").arg(failed)) == MessageAnswer::Yes;
}

// "Pack 2 items to /x/a.tar.gz", "Add b.txt to /x/a.tar.gz".
// "Pack a.txt to x.zip", "Add 3 items to x.zip" (`add`), in the language
// chosen; the names go in as bytes.
std::string PackTitle(bool add, const std::vector<std::string>& names, const std::string& archive) {
  const bool one = names.size() == 1;
  const auto n = static_cast<long long>(names.size());
  const QString text = add ? (one ? platform::Worded("Add %1 to %2")
                                  : platform::WordedForm("Add %1 item to %2", "Add %1 items to %2", n))
                           : (one ? platform::Worded("Pack %1 to %2")
                                  : platform::WordedForm("Pack %1 item to %2", "Pack %1 items to %2", n));
  return panels::FillIn(text.toStdString(), one ? names.front() : std::to_string(names.size()), archive);
}

// Packs into tar.gz, tar.xz, tar.zst or 7z as a job (written whole beside
// the archive's place and renamed into it: a cancel or a failure leaves no
// partial archive and an existing one as it was). Files that could not be
// read are reported at the end, with Retry, which adds them to the archive
// written.
void StartOtherFormatJob(TZipCommands& c, TFMPanel* source, const formats::TPackRequest& request) {
  auto outcome = std::make_shared<fileops::TPackJobOutcome>();
  TCommandJob job;
  job.title = PackTitle(request.addToArchive, request.names, request.archive);
  job.text = platform::Worded(kZippingText);
  fileops::TJobPaths paths = fileops::PackPaths(request.rootDir, request.names, request.archive);
  job.places = std::move(paths.places);
  job.sources = std::move(paths.sources);
  job.work = [request, outcome](fileops::TJob& self) { fileops::RunPackJob(self, request, *outcome); };
  TZipCommands* commands = &c;
  job.finish = [commands, request, outcome, panel = QPointer<TFMPanel>(source)](bool cancelled) {
    if (cancelled) return 0;
    if (!outcome->packed) {
      ShowGeneralError(platform::ToDisplay(outcome->error.text));
      return 1;
    }
    TLeftOut leftOut;
    for (const auto& [name, why] : outcome->result.leftOut) leftOut.AddText(name, why);
    leftOut.Report("These files were not added to the archive:");
    if (leftOut.Empty()) Unmark(panel.data(), request.rootDir, request.names);
    const std::vector<std::string> failed = outcome->FailedNames();
    if (!failed.empty() && RetryAsked(commands->form_, failed.size())) {
      formats::TPackRequest again = request;
      again.names = failed;
      again.addToArchive = true;
      StartOtherFormatJob(*commands, panel.data(), again);
    }
    return static_cast<int>(leftOut.Count());
  };
  StartCommandJob(c.form_, source, std::move(job));
}

void PackOtherFormat(TZipCommands& c, TFMPanel* source, const std::vector<const panels::TFileEntry*>& entries,
                     const std::string& archive) {
  static constexpr formats::TPackFormat kByIndex[] = {formats::TPackFormat::TarGz, formats::TPackFormat::TarGz,
                                                      formats::TPackFormat::TarXz, formats::TPackFormat::TarZst,
                                                      formats::TPackFormat::SevenZip};
  formats::TPackRequest request;
  request.archive = archive;
  request.rootDir = source->Directory();
  request.format = kByIndex[c.packForm_->FormatIndex()];
  request.level = c.packForm_->Level();
  for (const panels::TFileEntry* e : entries) request.names.push_back(e->FileName);
  if (::access(archive.c_str(), F_OK) == 0 &&
      ShowMessage(c.packForm_, MessageKind::Question, QLatin1String(kDialogCaption),
                  platform::Worded("%1 exists. Replace it with the new archive?").arg(platform::ToDisplay(archive))) !=
          MessageAnswer::Yes)
    return;  // the dialog stays open for another name
  c.packForm_->done(QDialog::Accepted);
  StartOtherFormatJob(c, source, request);
}

// One ZIP pack: what goes in from where, and how.
struct TZipPack {
  std::vector<std::string> files;   // the engine's list, relative to root
  std::vector<std::string> packed;  // the panel's names it came from (their marks go when all went in)
  std::string root, archive;        // archive: absolute
  std::string password;             // empty: not encrypted (kept for a retry, which encrypts alike)
  int level = 6;
  zip::TZipAction action = zip::zaUpdate;
  std::function<void(zip::TZipWriter&)> settings;
  std::string codePage;
  bool exactTimes = true;
  bool add = false;  // adds to the archive ("Add ... to"), else packs it
};

// The engine's list for names below root: a directory as its entry and
// everything in it (so that the archive gives the tree back, empty
// directories included), a file as itself.
std::vector<std::string> ZipFilesList(const std::string& root, const std::vector<std::string>& names) {
  std::vector<std::string> files;
  files.reserve(names.size() * 2);
  for (const std::string& name : names) {
    if (platform::IsDirectory(platform::JoinPath(root, name))) {
      files.push_back(name + "/");
      files.push_back(name + "/*.*");
    } else {
      files.push_back(name);
    }
  }
  return files;
}

// Packs into a ZIP archive as a job. Files that could not be read are
// reported at the end, with Retry, which adds them to the archive by the
// engine's update.
void StartZipPackJob(TZipCommands& c, TFMPanel* source, std::shared_ptr<const TZipPack> pack) {
  auto outcome = std::make_shared<TZipOutcome>();
  TCommandJob job;
  job.title = PackTitle(pack->add, pack->packed, pack->archive);
  job.text = platform::Worded(kZippingText);
  fileops::TJobPaths paths = fileops::PackPaths(pack->root, pack->packed, pack->archive);
  job.places = std::move(paths.places);
  job.sources = std::move(paths.sources);
  job.work = [pack, outcome, answerer = &c.ui_, poster = JobCenter(c.form_)->Poster(),
              background = job.background](fileops::TJob& self) {
    fileops::TZipJobInterface ui(self, *answerer, poster);
    // In the background the engine's messages go into the report at the end.
    ui.SetDeferring(background);
    zip::TZipWriter w(&ui);
    pack->settings(w);
    w.SetCodePage(pack->codePage);
    // Without exact times the entries are as the DOS time alone gives them.
    w.ExtraTimes = pack->exactTimes;
    w.SetFilesList(pack->files);
    w.AddRelativeTo(pack->root, true, true);
    w.PackLevel = pack->level;
    w.ZipAction = pack->action;
    w.Encryption = pack->password.empty() ? zip::TZipEncryption::None : zip::TZipEncryption::Aes256;
    w.Password = pack->password;
    TLeftOut& leftOut = outcome->leftOut;
    std::vector<std::string>& failed = outcome->failedEntries;
    const std::string& root = pack->root;
    // Reason 1 (a name already added in this run) is no failure.
    w.OnSkippingFile = [&leftOut, &failed, &root](zip::TZipReader*, zip::TSkipReason reason,
                                                  const std::string& name, int, bool&) {
      if (reason == zip::skipNoOverwrite) return;
      leftOut.Add(name, SkipText(reason));
      failed.push_back(BelowRoot(root, name));
    };
    w.OnLeftOut = [&leftOut, &failed, &root](zip::TZipWriter*, const std::string& name, const std::string& why) {
      leftOut.AddText(name, why);
      failed.push_back(BelowRoot(root, name));
    };
    ui.Attach(w);
    RunZipEngine(self, *outcome, [&] {
      w.SetZipName(pack->archive);
      w.Zip();
    });
    w.Password.clear();
    for (const std::string& message : ui.TakeMessages()) outcome->leftOut.AddLine(message);
  };
  TZipCommands* commands = &c;
  job.finish = [commands, outcome, pack, panel = QPointer<TFMPanel>(source)](bool cancelled) {
    // The marked entries were packed whole: their marks go. Anything left
    // out keeps every mark, so the user sees what to try again.
    if (ShowZipOutcome(commands->form_, *outcome, cancelled, "These files were not added to the archive:"))
      Unmark(panel.data(), pack->root, pack->packed);
    // What could not be read may be added at once: the engine's update of
    // the archive written, with just those files.
    if (!cancelled && outcome->error.empty() && !outcome->failedEntries.empty() &&
        RetryAsked(commands->form_, outcome->failedEntries.size())) {
      auto again = std::make_shared<TZipPack>(*pack);
      again->packed = outcome->failedEntries;
      again->files = ZipFilesList(pack->root, again->packed);
      again->action = zip::zaUpdate;
      again->add = true;
      StartZipPackJob(*commands, panel.data(), again);
    }
    return static_cast<int>(outcome->leftOut.Count());
  };
  StartCommandJob(c.form_, source, std::move(job));
}

void PackButtonClick(TZipCommands& c) {
  TFMPanel* source = c.packSource_;
  if (source == nullptr) return;
  platform::SetCurrentDir(source->Directory());
  const std::vector<const panels::TFileEntry*> entries = source->GetMarkedEntries();
  if (entries.empty()) {
    // The dialog stays open.
    ShowMessage(c.packForm_, MessageKind::Warning, QLatin1String(kDialogCaption),
                platform::Worded("There are no selected files!"));
    return;
  }
  const std::string archive = Absolute(c.packForm_->Path());
  // A directory is stored as a directory entry, followed by everything in
  // it (its own subdirectories as entries too), so that the archive gives
  // the tree back, empty directories included.
  std::vector<std::string> files;
  files.reserve(entries.size() * 2);
  std::vector<std::string> packed;  // the names: the records may be replaced while packing runs
  for (const panels::TFileEntry* e : entries) {
    if (e->IsDirectory()) {
      files.push_back(e->FileName + "/");
      files.push_back(e->FileName + "/*.*");
    } else {
      files.push_back(e->FileName);
    }
    packed.push_back(e->FileName);
  }
  if (c.packForm_->FormatIndex() != 0) {
    PackOtherFormat(c, source, entries, archive);
    return;
  }
  const int level = c.packForm_->Level();
  const zip::TZipAction action = c.packForm_->OptionIndex() == 0 ? zip::zaReplace : zip::zaUpdate;
  const bool encrypt = c.packForm_->Encrypt();
  if (encrypt && c.packForm_->Password().empty()) {
    ShowMessage(c.packForm_, MessageKind::Warning, QLatin1String(kDialogCaption),
                platform::Worded("Enter the password to encrypt with."));
    c.packForm_->PasswordEdit()->setFocus();
    return;
  }

  // The job's writer gets the archive component's settings and this run's.
  // The threads setting goes to the archive component, whose settings the
  // job's writer takes.
  c.writer_.Threads = ArchiveThreads(c.form_.Settings());
  auto pack = std::make_shared<TZipPack>();
  pack->settings = SettingsOf(c.writer_);
  pack->files = std::move(files);
  pack->packed = std::move(packed);
  pack->root = source->Directory();
  pack->archive = archive;
  pack->level = level;
  pack->action = action;
  pack->password = encrypt ? c.packForm_->Password() : std::string();
  c.packForm_->ForgetPassword();
  c.packForm_->done(QDialog::Accepted);
  // This run's own: the names' code page chosen for the archive and whether
  // exact times are stored.
  pack->codePage = vfs::ChosenCodePage(archive);
  pack->exactTimes = c.packForm_->ExactTimes();
  StartZipPackJob(c, source, pack);
}

void mnuFilePackClick(TZipCommands& c) {
  TMainForm& form = c.form_;
  TFMPanel* source = form.ActivePanel();
  if (source == nullptr) {
    ShowMessage(&form, MessageKind::Warning, QLatin1String(kMainCaption),
                QStringLiteral("There are no selected files"));
    return;
  }
  if (RefusedInArchive(form, source, platform::Worded("Pack to .ZIP"),
                       platform::Worded("Copy the entries to a directory with F5 and pack them there.")))
    return;
  c.packSource_ = source;
  c.packDest_ = source == form.LeftFMPanel() ? form.RightFMPanel() : form.LeftFMPanel();
  c.packForm_->SetPath(c.packForm_->ProposedPath(c.packDest_->Directory()));
  zipui::RunModal(*c.packForm_);
}

void mnuFileUnpackClick(TZipCommands& c) {
  TMainForm& form = c.form_;
  if (UnpackShownArchive(form)) return;
  TFMPanel* panel = form.ActivePanel();
  if (panel == nullptr) {
    ShowMessage(&form, MessageKind::Warning, QLatin1String(kMainCaption),
                QStringLiteral("There are no selected files"));
    return;
  }
  platform::SetCurrentDir(panel->Directory());
  const panels::TFileEntry* entry = panel->CurrentEntry();
  if (entry == nullptr || entry->IsDotDot()) return;
  // Anything but a ".zip" file: nothing happens, the cursor stays.
  // Unpack proposes the panel's own directory; the ZIP window proposes the
  // other panel's, as a copy out of it would.
  TUnpackRequest request;
  request.proposedDir = panel->Directory();
  if (UnpackArchive(form, Absolute(entry->FileName), entry->IsDirectory(), request))
    EndCommand(form, panel);
}

// The engine's message boxes go through the program's message seam.
bool ZipPrompt(zipui::TPromptKind kind, const QString& engineCaption, const QString& text) {
  QWidget* parent = QApplication::activeWindow();
  // The engine's fixed captions ("Not enough room") in the language chosen;
  // its texts are worded line by line as every message is.
  const QByteArray english = engineCaption.toUtf8();
  const QString caption = platform::Worded(english.constData());
  switch (kind) {
    case zipui::TPromptKind::Message:
      ShowMessage(parent, MessageKind::Warning, caption, text);
      return true;
    case zipui::TPromptKind::YesNo:
    case zipui::TPromptKind::OkCancel:
      return ShowMessage(parent, MessageKind::Question, caption, text) == MessageAnswer::Yes;
  }
  return false;
}

// Extraction's overwrite question is the copy engine's question.
zip::TOverwriteAnswer ZipOverwrite(const std::string& caption, const std::string& text,
                                   const zip::TOverwriteFacts& entry,
                                   const zip::TOverwriteFacts& existing) {
  switch (AskOverwriteQuestion(QApplication::activeWindow(), caption, text,
                               {entry.size, entry.writeTime}, {existing.size, existing.writeTime})) {
    case TOverwriteChoice::Yes: return zip::TOverwriteAnswer::Yes;
    case TOverwriteChoice::All: return zip::TOverwriteAnswer::All;
    case TOverwriteChoice::None: return zip::TOverwriteAnswer::None;
    case TOverwriteChoice::Cancel: return zip::TOverwriteAnswer::Cancel;
    case TOverwriteChoice::No: break;
  }
  return zip::TOverwriteAnswer::No;
}

// One extraction: from where, to where, which entries, how.
struct TExtraction {
  std::string archive;             // absolute
  std::string dest;                // the destination directory (made when missing)
  std::vector<std::string> names;  // Directory + Filename of each chosen entry; empty: all
  bool keepPaths = true;           // recreate the stored directories
};

// Asks for a password with `prompt`; false when the user cancelled.
using TPasswordQuery = std::function<bool(const QString& prompt, QString& typed)>;

// The password of an encrypted entry: asked for when the one in use does not
// fit; a password typed for this entry that did not fit is said to be wrong
// before it is asked again. Cancel stops asking for the rest of the run.
class TPasswordAsker {
 public:
  explicit TPasswordAsker(TPasswordQuery query) : query_(std::move(query)) {}
  void Ask(zip::TZipReader* sender, int index, std::string& password) {
    if (!asking_) return;
    const QString entry = Text(sender->Entry(index).Path());
    QString prompt = platform::Worded("Password for %1:").arg(entry);
    if (index == typedFor_) prompt = platform::Worded("Wrong password for %1").arg(entry) + QLatin1Char('\n') + prompt;
    QString typed;
    if (!query_(prompt, typed)) {
      asking_ = false;
      return;
    }
    const QByteArray bytes = typed.toUtf8();
    password.assign(bytes.constData(), static_cast<size_t>(bytes.size()));
    typedFor_ = index;
  }

 private:
  TPasswordQuery query_;
  bool asking_ = true;
  int typedFor_ = -1;  // the entry the last password was typed for
};

// The secret input box, on the window's thread.
bool AskPassword(const QString& prompt, QString& typed) {
  return zipui::InputQuery(QApplication::activeWindow(), QLatin1String(kDialogCaption), prompt, typed,
                           /*secret=*/true);
}

// One extraction's handlers on a writer, and what they keep while it runs.
class TExtractionRun {
 public:
  TExtractionRun(zip::TZipWriter& w, const TExtraction& x, TLeftOut& leftOut, TPasswordQuery query)
      : w_(w), passwords_(std::move(query)) {
    w.SetFilesList({});
    // Each chosen name selects exactly its own entry: wildcard characters in
    // a name are taken literally, and an entry whose name differs only in
    // case is left alone.
    w.DoAll = x.names.empty();
    w.RecreateDirs = x.keepPaths;
    for (const std::string& name : x.names) {
      w.AddFile(LiteralMask(name));
      chosen_.insert(name);
    }
    if (!x.names.empty())
      w.OnStartUnZip = [this](zip::TZipReader* sender, int index, std::string&, bool& skip) {
        if (chosen_.count(sender->Entry(index).Path()) == 0) skip = true;
      };
    w.OnSkippingFile = [this, &leftOut](zip::TZipReader* sender, zip::TSkipReason reason, const std::string& name,
                                        int index, bool&) {
      if (reason == zip::skipNoOverwrite) return;
      leftOut.Add(name, SkipText(reason));
      Failed(sender, index);
    };
    w.OnBadCRC = [this, &leftOut](zip::TZipReader* sender, int32_t, int32_t, int index) {
      leftOut.Add(sender->Entry(index).Path(), "CRC error");
      Failed(sender, index);
    };
    w.OnEntryError = [this, &leftOut](zip::TZipReader* sender, int index, const std::string& message) {
      leftOut.AddText(sender->Entry(index).Path(), message);
      Failed(sender, index);
    };
    w.OnBadPassword = [this](zip::TZipReader* sender, int index, std::string& password) {
      passwords_.Ask(sender, index, password);
    };
    w.RetainAttributes = true;
  }
  // The entries that failed, by their paths, for a retry.
  std::vector<std::string>* failed = nullptr;
  // The handlers go with the run.
  ~TExtractionRun() {
    w_.OnStartUnZip = nullptr;
    w_.OnSkippingFile = nullptr;
    w_.OnBadCRC = nullptr;
    w_.OnEntryError = nullptr;
    w_.OnBadPassword = nullptr;
    w_.Password.clear();
    w_.SetFilesList({});
  }
  TExtractionRun(const TExtractionRun&) = delete;
  TExtractionRun& operator=(const TExtractionRun&) = delete;

 private:
  void Failed(zip::TZipReader* sender, int index) {
    if (failed != nullptr && index >= 0 && index < sender->Count()) failed->push_back(sender->Entry(index).Path());
  }
  zip::TZipWriter& w_;
  std::unordered_set<std::string> chosen_;
  TPasswordAsker passwords_;
};

// The same as a job: the panels stay usable, the window follows it until it
// ends or goes to the background.
// `title` names the job when it is not the Unpack its destination tells;
// `then` runs on the window's thread at its end (true when the run went
// through without an error or a cancel), in place of the offer to retry.
void StartExtractionJob(TZipCommands& c, const TExtraction& x, TFMPanel* panel, std::string title = {},
                        std::function<void(bool ok)> then = {}) {
  auto outcome = std::make_shared<TZipOutcome>();
  TCommandJob job;
  job.title = !title.empty() ? std::move(title)
                             : panels::FillIn(platform::Worded("Unpack %1 to %2").toStdString(),
                                              x.names.size() == 1 ? x.names.front() : LastComponent(x.archive), x.dest);
  job.text = platform::Worded(kUnzippingText);
  fileops::TJobPaths paths = fileops::UnpackPaths(x.archive, x.dest);
  job.places = std::move(paths.places);
  job.sources = std::move(paths.sources);
  c.writer_.Threads = ArchiveThreads(c.form_.Settings());  // taken by the job's writer below
  job.work = [settings = SettingsOf(c.writer_), x, outcome, answerer = &c.ui_, title = job.title,
              background = job.background, poster = JobCenter(c.form_)->Poster(),
              codePage = vfs::ChosenCodePage(x.archive)](fileops::TJob& self) {
    fileops::TZipJobInterface ui(self, *answerer, poster);
    // In the background the files in the way are kept for one question at the end.
    ui.SetDeferring(background);
    // The password box runs on the window's thread; what is typed comes
    // back through a shared slot (the job may stop waiting first).
    const TPasswordQuery query = [&ui](const QString& prompt, QString& typed) {
      auto slot = std::make_shared<QString>();
      if (ui.Ask([prompt, slot] { return AskPassword(prompt, *slot) ? 1 : 0; }).value_or(0) == 0) return false;
      typed = *slot;
      return true;
    };
    // One run over `which` (x's own entries, or the kept ones with the
    // choice that settles them).
    const auto extract = [&](const TExtraction& which, std::optional<fileops::TConflictChoice> settle) {
      zip::TZipWriter w(&ui);
      settings(w);
      // The names as the ZIP window and the panel show them.
      w.SetCodePage(codePage);
      TExtractionRun run(w, which, outcome->leftOut, query);
      run.failed = &outcome->failedEntries;
      ui.Attach(w);
      if (settle && !fileops::SettleZipConflicts(w, *settle)) return;
      RunZipEngine(self, *outcome, [&] {
        w.SetZipName(which.archive);
        w.SetDestDir(which.dest);
        w.UnZip();
      });
      for (const std::string& message : ui.TakeMessages()) outcome->leftOut.AddLine(message);
    };
    extract(x, std::nullopt);
    const std::vector<fileops::TZipConflict> conflicts = ui.TakeConflicts();
    if (conflicts.empty() || self.CancelRequested() || !outcome->error.empty()) return;
    QStringList items;
    TExtraction kept = x;
    kept.names.clear();
    for (const fileops::TZipConflict& conflict : conflicts) {
      items << Text(conflict.entry);
      kept.names.push_back(conflict.entry);
    }
    const std::optional<int> choice = ui.Ask([shown = Text(title), items] {
      return static_cast<int>(AskConflictList(QApplication::activeWindow(), shown, items));
    });
    if (!choice) return;
    ui.SetDeferring(nullptr);  // "Decide each" asks at once: the job waits for it anyway
    extract(kept, static_cast<fileops::TConflictChoice>(*choice));
  };
  TZipCommands* commands = &c;
  job.finish = [commands, x, outcome, background = job.background, panel = QPointer<TFMPanel>(panel),
                then = std::move(then)](bool cancelled) {
    ShowZipOutcome(commands->form_, *outcome, cancelled, "These files were not extracted:");
    if (then) {
      then(!cancelled && outcome->error.empty());
      return static_cast<int>(outcome->leftOut.Count());
    }
    // In the background, what failed may be tried again at once.
    if (*background && !cancelled && outcome->error.empty() && !outcome->failedEntries.empty() &&
        ShowMessage(&commands->form_, MessageKind::Question, QLatin1String(kMainCaption),
                    QStringLiteral("Retry the %1 failed items?").arg(outcome->failedEntries.size())) ==
            MessageAnswer::Yes) {
      TExtraction again = x;
      again.names = outcome->failedEntries;
      StartExtractionJob(*commands, again, panel.data());
    }
    return static_cast<int>(outcome->leftOut.Count());
  };
  StartCommandJob(c.form_, panel, std::move(job));
}

// F3 in the ZIP window: the entry alone, extracted into a private temporary
// directory and shown by the configured viewer; the directory goes when the
// viewer ends (or at once, when nothing can be shown).
void ViewZipEntry(TZipCommands& c, const std::string& path) {
  TMainForm& form = c.form_;
  const std::string temp = platform::MakePrivateTempDir("vantrel-view-");
  if (temp.empty()) {
    ShowMessage(QApplication::activeWindow(), MessageKind::Error, QLatin1String(kDialogCaption),
                platform::Worded("Could not make a temporary directory: %1")
                    .arg(QString::fromStdString(platform::ErrorText(errno))));
    return;
  }
  TExtraction x;
  x.archive = c.zipWindowArchive_;
  x.dest = temp;
  x.names = {path};
  x.keepPaths = false;
  // Read out as a job (a large entry keeps nothing waiting), then shown.
  const std::string title = panels::FillIn(platform::Worded("View %1").toStdString(), path);
  StartExtractionJob(c, x, c.zipWindowPanel_, title, [&form, temp](bool ok) {
    std::string file;
    std::error_code ec;
    // The one file there (its name as the engine made it safe).
    if (ok)
      for (const auto& item : std::filesystem::directory_iterator(temp, ec))
        if (item.is_regular_file(ec)) file = item.path().native();
    std::vector<std::string> argv = ViewerOrEditorWords(form, false);
    argv.push_back(file);
    if (file.empty() || !platform::StartDetachedThenRemove(argv, temp, temp)) {
      std::filesystem::remove_all(temp, ec);
      if (!file.empty())
        ShowMessage(QApplication::activeWindow(), MessageKind::Error, QLatin1String(kMainCaption),
                    Msg(TMsg::ViewerNotFound));
    }
  });
}

}  // namespace

bool UnpackArchive(TMainForm& form, const std::string& archivePath, bool isDirectory,
                   const TUnpackRequest& request) {
  TZipCommands& c = Commands(form);
  if (isDirectory || !HasZipExtension(archivePath)) return false;
  const std::string preset = request.proposedDir.empty() ? platform::GetCurrentDir() : request.proposedDir;
  QString typed = zipui::PathToText(preset);
  QWidget* parent = QApplication::activeModalWidget();
  if (parent == nullptr) parent = &form;
  if (!zipui::InputQuery(parent, QLatin1String(kDialogCaption),
                         platform::Worded("Unpack files to directory:"), typed))
    return true;
  // A relative answer is taken in the current directory, as typed.
  TExtraction x;
  x.archive = Absolute(archivePath);
  x.dest = zipui::TextToPath(typed, preset);
  x.names = request.names;
  x.keepPaths = request.keepPaths;
  StartExtractionJob(c, x, form.ActivePanel());
  return true;
}

bool OpenZipWindow(TMainForm& form, const std::string& archivePath) {
  TZipCommands& c = Commands(form);
  TFMPanel* panel = form.ActivePanel();
  const std::string archive = Absolute(archivePath);
  c.writer_.SetCodePage(vfs::ChosenCodePage(archive));
  if (!Attempt([&] { c.zipPanel_->Load(c.writer_, archive, Text(LastComponent(archivePath))); }))
    return false;
  // A damaged archive is shown only when the user wants what could be read.
  if (!c.zipPanel_->Damage().isEmpty() && !ConfirmDamagedArchive(&form, c.writer_)) {
    c.zipPanel_->reject();
    return true;
  }
  c.zipWindowArchive_ = archive;
  c.zipWindowPanel_ = panel;
  // Accepted means an extract command ran (the window closes itself after it).
  if (zipui::RunModal(*c.zipPanel_) == QDialog::Accepted) EndCommand(form, panel);
  return true;
}

bool ConfirmDamagedArchive(QWidget* parent, const zip::TZipReader& reader) {
  return ShowMessage(parent, MessageKind::Question, QLatin1String(kDialogCaption),
                     QStringLiteral("This archive is damaged: %1 entries could be read. Show them?")
                         .arg(reader.Count())) == MessageAnswer::Yes;
}

bool RepairArchive(TMainForm& form, const std::string& archivePath) {
  TZipCommands& c = Commands(form);
  const std::string archive = Absolute(archivePath);
  // "name-repaired.zip" beside it, unless the user says otherwise.
  std::string proposed = archive;
  const size_t slash = proposed.rfind('/');
  const size_t dot = proposed.rfind('.');
  proposed.insert(dot != std::string::npos && dot > slash + 1 ? dot : proposed.size(), "-repaired");
  QWidget* parent = QApplication::activeModalWidget();
  if (parent == nullptr) parent = &form;
  QString typed = zipui::PathToText(proposed);
  if (!zipui::InputQuery(parent, QLatin1String(kDialogCaption),
                         platform::Worded("Write the entries that can be read to the new archive:"),
                         typed))
    return false;
  const std::string dest = Absolute(zipui::TextToPath(typed, proposed));

  // Encrypted entries are checked with their password, asked for once.
  bool encrypted = false;
  for (int i = 0; i < c.writer_.Count() && !encrypted; ++i) encrypted = c.writer_.Entry(i).IsEncrypted();
  std::string password;
  if (encrypted) {
    QString typedPassword;
    if (zipui::InputQuery(parent, QLatin1String(kDialogCaption),
                          platform::Worded("Password for the encrypted entries (empty: leave them out):"),
                          typedPassword, /*secret=*/true) &&
        !typedPassword.isEmpty()) {
      const QByteArray bytes = typedPassword.toUtf8();
      password.assign(bytes.constData(), static_cast<size_t>(bytes.size()));
    }
  }

  // The rewrite runs as a job: the panels stay usable, Escape or Cancel
  // stops it (nothing is left at `dest`), F2 sends it to the background.
  struct TRepairOutcome {
    TZipOutcome zip;
    int written = 0;
  };
  auto outcome = std::make_shared<TRepairOutcome>();
  TCommandJob job;
  job.title = panels::FillIn(platform::Worded("Repair %1 to %2").toStdString(), LastComponent(archive), dest);
  job.text = platform::Worded("Repairing the archive.... Please wait.");
  fileops::TJobPaths paths = fileops::UnpackPaths(archive, dest);
  job.places = std::move(paths.places);
  job.sources = std::move(paths.sources);
  job.work = [archive, dest, password, outcome, answerer = &c.ui_, poster = JobCenter(form)->Poster(),
              codePage = vfs::ChosenCodePage(archive)](fileops::TJob& self) {
    fileops::TZipJobInterface ui(self, *answerer, poster);
    zip::TZipWriter repairer(&ui);
    repairer.SetCodePage(codePage);
    repairer.Password = password;
    TLeftOut& leftOut = outcome->zip.leftOut;
    repairer.OnEntryError = [&leftOut](zip::TZipReader* z, int index, const std::string& message) {
      leftOut.AddText(z->Entry(index).Path(), message);
    };
    repairer.OnBadCRC = [&leftOut](zip::TZipReader* z, int32_t, int32_t, int index) {
      leftOut.Add(z->Entry(index).Path(), "CRC error");
    };
    const bool askedPassword = !password.empty();
    repairer.OnSkippingFile = [&leftOut, askedPassword](zip::TZipReader* z, zip::TSkipReason reason,
                                                        const std::string&, int index, bool&) {
      leftOut.Add(z->Entry(index).Path(), reason == zip::skipBadPassword
                                              ? (askedPassword ? "wrong password" : "encrypted, no password given")
                                              : SkipText(reason));
    };
    ui.Attach(repairer);
    RunZipEngine(self, outcome->zip, [&] {
      repairer.SetZipName(archive);
      outcome->written = repairer.Repair(dest);
    });
    repairer.Password.clear();
  };
  job.finish = [outcome, dest](bool cancelled) {
    if (cancelled) return 0;
    if (!outcome->zip.error.empty()) {
      ShowGeneralError(platform::ToDisplay(outcome->zip.error));
      return 1;
    }
    ShowMessage(QApplication::activeWindow(), MessageKind::Information, QLatin1String(kDialogCaption),
                WrittenEntriesText(outcome->written, Text(dest)));
    outcome->zip.leftOut.Report("These entries were left out:");
    return static_cast<int>(outcome->zip.leftOut.Count());
  };
  StartCommandJob(form, form.ActivePanel(), std::move(job));
  return true;
}

zip::TZipWriter& ArchiveComponent(TMainForm& form) { return Commands(form).writer_; }
zipui::TQtZipUserInterface& ZipUserInterface(TMainForm& form) { return Commands(form).ui_; }
zipui::TZIPpanel& ZipWindow(TMainForm& form) { return *Commands(form).zipPanel_; }
zipui::TPackForm& PackForm(TMainForm& form) { return *Commands(form).packForm_; }

void InstallZipCommands(TMainForm& form) {
  TZipCommands& c = Commands(form);
  TZipCommands* cp = &c;
  c.ui_.SetPromptHandler(&ZipPrompt);
  c.ui_.SetOverwriteHandler(&ZipOverwrite);

  // The Info window's gauges follow the engine's percentages.
  c.writer_.OnFilePercentDone = [&form](zip::TZipReader*, int percent) {
    form.InfoForm()->GaugeLocal()->setValue(percent);
  };
  c.writer_.OnTotalPercentDone = [&form](zip::TZipReader*, int percent) {
    form.InfoForm()->GaugeTotal()->setValue(percent);
  };

  // The ZIP window unpacks to the other panel's directory, as Unpack does.
  c.zipPanel_->SetExtractHandler([cp](const std::vector<std::string>& names, bool keepPaths) {
    TUnpackRequest request;
    request.names = names;
    request.keepPaths = keepPaths;
    request.proposedDir = OtherPanelDirectory(cp->form_, cp->zipWindowPanel_);
    UnpackArchive(cp->form_, cp->zipWindowArchive_, false, request);
  });
  c.zipPanel_->SetViewHandler([cp](const std::string& path) { ViewZipEntry(*cp, path); });
  c.zipPanel_->SetCodePageHandler(
      [cp](const std::string& page) { vfs::ChooseCodePage(cp->zipWindowArchive_, page); });
  c.packForm_->SetPackHandler([cp] { PackButtonClick(*cp); });
  c.zipPanel_->SetRepairHandler([cp] { RepairArchive(cp->form_, cp->zipWindowArchive_); });

  QAction* pack = form.Action(QStringLiteral("mnuFilePack"));
  QAction* unpack = form.Action(QStringLiteral("mnuFileUnpack"));
  pack->setEnabled(true);
  unpack->setEnabled(true);
  QObject::connect(pack, &QAction::triggered, &c, [cp] { mnuFilePackClick(*cp); });
  QObject::connect(unpack, &QAction::triggered, &c, [cp] { mnuFileUnpackClick(*cp); });
}

}  // namespace vantrel::app
