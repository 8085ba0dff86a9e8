// deferred.cpp - questions kept for a background job's end.
#include "fileops/deferred.h"

#include <utility>

#include "platform/copyfile.h"
#include "platform/fs.h"

namespace vantrel::fileops {

namespace {

// "a/b/c" -> {"a/b", "c"}; "c" -> {"", "c"}.
std::pair<std::string, std::string> SplitLast(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {std::string(), path};
  return {path.substr(0, slash), path.substr(slash + 1)};
}

std::string Below(const std::string& dir, const std::string& rel) {
  return rel.empty() ? dir : platform::JoinPath(dir, rel);
}

}  // namespace

void TDeferringPrompt::SetRun(const std::string& sourceDir, const std::string& destDir,
                              const std::vector<std::string>& names, const std::string& destName) {
  std::lock_guard lock(mutex_);
  sourceDir_ = sourceDir;
  destDir_ = destDir;
  names_ = names;
  destName_ = destName;
}

bool TDeferringPrompt::Keep(const std::string& item) {
  if (!*deferring_) return false;
  size_t conflicts = 0, failures = 0;
  {
    std::lock_guard lock(mutex_);
    if (destDir_.empty()) return false;  // no run said where it copies: asked as usual
    // The source item: the destination's path, with the one renamed name
    // put back as the source calls it.
    std::string source = item;
    if (!destName_.empty() && names_.size() == 1 &&
        (item == destName_ || item.compare(0, destName_.size() + 1, destName_ + "/") == 0))
      source = names_.front() + item.substr(destName_.size());
    const auto [sourceRel, name] = SplitLast(source);
    const auto [destRel, destName] = SplitLast(item);
    conflicts_.push_back({Below(sourceDir_, sourceRel), Below(destDir_, destRel), name, destName, item, sourceDir_});
    conflicts = conflicts_.size();
    failures = failures_.size();
  }
  if (OnKept) OnKept(conflicts, failures);
  return true;
}

TOverwriteAnswer TDeferringPrompt::AskOverwrite(const std::string& item, const std::string& text) {
  if (Keep(item)) return TOverwriteAnswer::No;
  return inner_.AskOverwrite(item, text);
}

TOverwriteAnswer TDeferringPrompt::AskOverwriteFacts(const std::string& item, const std::string& text,
                                                     const TFileFacts& source, const TFileFacts& dest) {
  if (Keep(item)) return TOverwriteAnswer::No;
  return inner_.AskOverwriteFacts(item, text, source, dest);
}

TMessageAnswer TDeferringPrompt::ShowMessage(const TFMMessage& message) {
  if (!*deferring_) return inner_.ShowMessage(message);
  size_t conflicts = 0, failures = 0;
  {
    std::lock_guard lock(mutex_);
    failures_.push_back(message);
    conflicts = conflicts_.size();
    failures = failures_.size();
  }
  if (OnKept) OnKept(conflicts, failures);
  return TMessageAnswer::Ok;
}

std::vector<TDeferredConflict> TDeferringPrompt::TakeConflicts() {
  std::lock_guard lock(mutex_);
  return std::exchange(conflicts_, {});
}

std::vector<TFMMessage> TDeferringPrompt::TakeFailures() {
  std::lock_guard lock(mutex_);
  return std::exchange(failures_, {});
}

std::string FreeName(const std::string& dir, const std::string& name) {
  // The extension stays last; a name starting with its only dot has none.
  const size_t dot = name.rfind('.');
  const bool ext = dot != std::string::npos && dot > 0;
  const std::string stem = ext ? name.substr(0, dot) : name;
  const std::string tail = ext ? name.substr(dot) : std::string();
  for (int n = 2;; ++n) {
    std::string candidate = stem + " (" + std::to_string(n) + ")" + tail;
    platform::EntryInfo info;
    if (!platform::LStat(platform::JoinPath(dir, candidate), info)) return candidate;
  }
}

void SettleConflicts(TFMOperation& engine, const std::vector<TDeferredConflict>& conflicts,
                     TConflictChoice choice, bool move) {
  if (choice == TConflictChoice::SkipAll) return;
  const bool confirm = engine.ConfirmOverwrite;
  engine.ConfirmOverwrite = choice == TConflictChoice::DecideEach;
  for (const TDeferredConflict& c : conflicts) {
    std::string destName = choice == TConflictChoice::RenameAll ? FreeName(c.destDir, c.destName) : c.destName;
    if (destName == c.name) destName.clear();
    if (move)
      engine.MoveFiles({c.name}, c.sourceDir, c.destDir, destName);
    else
      engine.CopyFiles({c.name}, c.sourceDir, c.destDir, destName);
    if (engine.OperationAborted) break;
    // A moved item's directories that it left empty go with it.
    if (move && !engine.Completed().empty())
      for (std::string dir = c.sourceDir; dir.size() > c.sourceRoot.size() && dir.compare(0, c.sourceRoot.size(), c.sourceRoot) == 0;
           dir = SplitLast(dir).first)
        if (platform::RemoveDirectory(dir) != 0) break;
  }
  engine.ConfirmOverwrite = confirm;
}

}  // namespace vantrel::fileops
