// fileops_helpers.h - a scripted prompt, tree snapshots and child-process
// runs for the copy engine's tests.
#pragma once

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fileops/fmoperation.h"
#include "tests/support/test_support.h"

namespace vantrel::fileops::testing {

namespace fs = std::filesystem;

// Answers the engine's questions from a script and records everything it was
// asked and told, in order: "?" + question, "!" + message. Messages are
// answered Ok once `messageAnswers` runs out; a question without an answer
// fails the test.
class ScriptedPrompt final : public TFMPrompt {
 public:
  std::deque<TOverwriteAnswer> overwriteAnswers;
  std::deque<bool> abortAnswers;
  std::deque<TMessageAnswer> messageAnswers;
  std::vector<std::string> log;
  std::vector<TFMMessage> messages;
  std::function<void()> onAbortQuestion;  // runs when "Abort operation?" is asked
  std::function<void()> onMessage;        // runs when a failing item is shown

  TOverwriteAnswer AskOverwrite(const std::string& item, const std::string& text) override {
    EXPECT_EQ(text, "Overwrite file " + item + "?");
    return Next(overwriteAnswers, "?" + text, TOverwriteAnswer::Cancel);
  }
  bool AskAbort(const std::string& text) override {
    if (onAbortQuestion) onAbortQuestion();
    return Next(abortAnswers, "?" + text, true);
  }
  TMessageAnswer ShowMessage(const TFMMessage& message) override {
    messages.push_back(message);
    if (onMessage) onMessage();
    return Next(messageAnswers, "!" + message.text, TMessageAnswer::Ok);
  }
  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> out;
    for (const auto& m : messages) out.push_back(m.text);
    return out;
  }
  int Questions(const std::string& text) const {
    return static_cast<int>(std::count(log.begin(), log.end(), "?" + text));
  }

 private:
  template <class T>
  T Next(std::deque<T>& script, const std::string& entry, T otherwise) {
    log.push_back(entry);
    if (script.empty()) {
      if (entry[0] == '?') ADD_FAILURE() << "unexpected question: " << entry;
      return otherwise;
    }
    const T answer = script.front();
    script.pop_front();
    return answer;
  }
};

inline struct stat LStat(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) st.st_mode = 07777, st.st_mtime = -1;
  return st;
}
inline bool Exists(const std::string& path) { return LStat(path).st_mtime != -1; }
inline uint32_t ModeOf(const std::string& path) { return LStat(path).st_mode & 07777; }

// A description of every entry below `root`, by relative path: "d 755",
// "f 644 <contents>", "l -> <target>", "p" for a FIFO. Links are not followed.
inline std::map<std::string, std::string> Snapshot(const std::string& root, bool withModes = true) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const std::string path = it->path().native();
    const struct stat st = LStat(path);
    char mode[8];
    std::snprintf(mode, sizeof mode, withModes ? " %o" : "", st.st_mode & 07777);
    std::string& entry = out[path.substr(root.size() + 1)];
    if (S_ISLNK(st.st_mode)) entry = "l -> " + fs::read_symlink(path, ec).native();
    else if (S_ISREG(st.st_mode)) entry = std::string("f").append(mode).append(" ").append(test::ReadFile(path));
    else entry = S_ISDIR(st.st_mode) ? std::string("d").append(mode) : "p";
  }
  return out;
}

// Paths of leftover temporary files anywhere below `root`.
inline std::vector<std::string> TemporaryFiles(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& [rel, what] : Snapshot(root, false))
    if (fs::path(rel).filename().native().rfind(".vantrel-", 0) == 0) out.push_back(rel);
  return out;
}

// Makes entries below `root`: "path=contents" a file, "path/" a directory,
// with the directories above them.
inline void MakeTree(const std::string& root, std::initializer_list<std::string> entries) {
  for (const std::string& e : entries) {
    const size_t eq = e.find('=');
    const std::string path = root + "/" + e.substr(0, eq);
    test::MakeDir(eq == std::string::npos ? path : fs::path(path).parent_path().native());
    if (eq != std::string::npos) test::WriteFile(path, e.substr(eq + 1));
  }
}

// Contents of `size` bytes that differ from block to block.
inline std::string PatternBytes(size_t size, uint32_t seed = 1) {
  std::string out(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : out) x ^= x << 13, x ^= x >> 17, x ^= x << 5, c = static_cast<char>(x);
  return out;
}

// A source and a destination directory, an engine with a scripted prompt,
// and the progress events it raised.
class FileOpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::MakeDir(src);
    test::MakeDir(dst);
    op.SetPrompt(&prompt);
    // Timed events (inside a large file, while listing a large tree) only
    // where a test asks for them, so that the others count exact events.
    op.ProgressInterval = std::chrono::hours(1);
    op.OnGlobalDone = [this](TFMOperation& sender, int percent) {
      EXPECT_EQ(&sender, &op);
      events.push_back(percent);
      if (onEvent) onEvent(percent);
    };
  }

  std::string S(const std::string& rel) const { return src + "/" + rel; }
  std::string D(const std::string& rel) const { return dst + "/" + rel; }

  // Runs `body` with an engine of its own in a forked child, whose failed
  // checks are printed there and fail the test through its exit status. With
  // `unprivileged`, a child of root first becomes the user "nobody" (the
  // temporary tree is given to that user), so that permission checks apply
  // as they do for an ordinary user; the test is skipped where that fails.
  void Run(const std::function<void(TFMOperation&, ScriptedPrompt&)>& body, bool unprivileged) {
    constexpr uid_t kNobody = 65534;
    const bool drop = unprivileged && ::geteuid() == 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(tmp.path(), ec); drop && it != fs::recursive_directory_iterator();
         it.increment(ec))
      ::lchown(it->path().c_str(), kNobody, kNobody);
    if (drop) ::lchown(tmp.path().c_str(), kNobody, kNobody);
    const bool failedBefore = ::testing::Test::HasFailure();
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (drop && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0 ||
                   ::access(tmp.path().c_str(), W_OK | X_OK) != 0))
        _exit(77);
      ScriptedPrompt p;
      TFMOperation engine;
      engine.SetPrompt(&p);
      body(engine, p);
      std::fflush(stdout);
      _exit(::testing::Test::HasFailure() && !failedBefore ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot run as an ordinary user here";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  }

  test::TempDir tmp;
  const std::string src = tmp / "src";
  const std::string dst = tmp / "dst";
  ScriptedPrompt prompt;
  TFMOperation op;
  std::vector<int> events;
  std::function<void(int)> onEvent;
};

}  // namespace vantrel::fileops::testing
