// zip_job.cpp - the ZIP engine's questions and cancel checks through a job.
#include "fileops/zip_job.h"

#include <memory>

#include "zip/zip_writer.h"

namespace vantrel::fileops {

TZipJobInterface::TZipJobInterface(TJob& job, zip::TZipUserInterface& answerer, TJobPrompt::TPost post)
    : job_(job), answerer_(answerer), post_(std::move(post)) {}

void TZipJobInterface::Attach(zip::TZipWriter& engine) {
  engine_ = &engine;
  // The handlers the caller set keep running; the job's bookkeeping comes
  // after them.
  engine.OnTotalPercentDone = [this, before = engine.OnTotalPercentDone](zip::TZipReader* sender, int percent) {
    if (before) before(sender, percent);
    Publish();
  };
  engine.OnStartZip = [this, before = engine.OnStartZip](zip::TZipWriter* sender, const std::string& name,
                                                        zip::TZipHeaderInfo& header, bool& skip) {
    if (before) before(sender, name, header, skip);
    item_ = header.Path();
    Publish();
  };
  engine.OnStartUnZip = [this, before = engine.OnStartUnZip](zip::TZipReader* sender, int index,
                                                            std::string& name, bool& skip) {
    // The entry's stored path, as the archive names it.
    if (before) before(sender, index, name, skip);
    if (!skip) item_ = sender->Entry(index).Path();
    Publish();
  };
}

void TZipJobInterface::Publish() {
  if (engine_ == nullptr) return;
  job_.SetProgress(static_cast<double>(engine_->BytesDone()), static_cast<double>(engine_->TotalBytes()), 0, 0,
                   item_);
}

void TZipJobInterface::ProcessMessages() {
  // Blocks while the job is paused; a cancel ends the run at the engine's
  // check that called us.
  if (!job_.Pass() && engine_ != nullptr) engine_->CancelOperation = true;
}

bool TZipJobInterface::ChoosePath(std::string& path,
                                  std::function<bool(zip::TZipUserInterface&, std::string&)> choose) {
  // The path travels by a shared slot: the window may get to the dialog
  // after the job stopped waiting.
  auto slot = std::make_shared<std::string>(path);
  const std::optional<int> chosen =
      Ask([a = &answerer_, slot, choose = std::move(choose)] { return choose(*a, *slot) ? 1 : 0; });
  if (chosen.value_or(0) == 0) return false;
  path = *slot;
  return true;
}

bool TZipJobInterface::ChooseArchive(const std::string& title, const std::string& filter, std::string& name) {
  return ChoosePath(name, [title, filter](zip::TZipUserInterface& ui, std::string& path) {
    return ui.ChooseArchive(title, filter, path);
  });
}

bool TZipJobInterface::ChooseDirectory(std::string& dir) {
  return ChoosePath(dir, [](zip::TZipUserInterface& ui, std::string& path) { return ui.ChooseDirectory(path); });
}

bool TZipJobInterface::AskForDisk(const std::string& text) {
  return Ask([a = &answerer_, text] { return a->AskForDisk(text) ? 1 : 0; }).value_or(0) != 0;
}

void TZipJobInterface::ShowMessage(const std::string& text, const std::string& caption) {
  if (deferring_ != nullptr && deferring_->load()) {
    size_t kept = 0;
    {
      std::lock_guard lock(mutex_);
      messages_.push_back(text);
      kept = conflicts_.size() + messages_.size();
    }
    job_.SetDeferred(kept);
    return;
  }
  Ask([a = &answerer_, text, caption] {
    a->ShowMessage(text, caption);
    return 0;
  });
}

bool TZipJobInterface::AskYesNo(const std::string& text, const std::string& caption) {
  return Ask([a = &answerer_, text, caption] { return a->AskYesNo(text, caption) ? 1 : 0; }).value_or(0) != 0;
}

zip::TOverwriteAnswer TZipJobInterface::AskOverwrite(const std::string& text, const std::string& caption,
                                                     const zip::TOverwriteFacts& entry,
                                                     const zip::TOverwriteFacts& existing) {
  if (deferring_ != nullptr && deferring_->load()) {
    size_t kept = 0;
    {
      std::lock_guard lock(mutex_);
      conflicts_.push_back({item_, text});
      kept = conflicts_.size() + messages_.size();
    }
    job_.SetDeferred(kept);
    return zip::TOverwriteAnswer::No;
  }
  const std::optional<int> answer = Ask([a = &answerer_, text, caption, entry, existing] {
    return static_cast<int>(a->AskOverwrite(text, caption, entry, existing));
  });
  return answer ? static_cast<zip::TOverwriteAnswer>(*answer) : zip::TOverwriteAnswer::Cancel;
}

std::vector<TZipConflict> TZipJobInterface::TakeConflicts() {
  std::lock_guard lock(mutex_);
  std::vector<TZipConflict> out;
  out.swap(conflicts_);
  return out;
}

std::vector<std::string> TZipJobInterface::TakeMessages() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  out.swap(messages_);
  return out;
}

bool SettleZipConflicts(zip::TZipWriter& engine, TConflictChoice choice) {
  switch (choice) {
    case TConflictChoice::SkipAll:
      return false;
    case TConflictChoice::OverwriteAll:
      engine.OverwriteMode = zip::TUZOverwriteMode::Always;
      return true;
    case TConflictChoice::DecideEach:
      engine.OverwriteMode = zip::TUZOverwriteMode::Prompt;
      return true;
    case TConflictChoice::RenameAll:
      engine.OverwriteMode = zip::TUZOverwriteMode::Prompt;
      engine.OnPromptForOverwrite = [](zip::TZipReader*, bool& overwrite, int, std::string& name) {
        const size_t slash = name.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : name.substr(0, slash));
        const std::string leaf = slash == std::string::npos ? name : name.substr(slash + 1);
        name = (dir == "/" ? "/" : dir + "/") + FreeName(dir, leaf);
        overwrite = true;  // the new name is free: nothing there is replaced
      };
      return true;
  }
  return false;
}

}  // namespace vantrel::fileops
