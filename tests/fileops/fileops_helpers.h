// fileops_helpers.h - a scripted prompt, tree snapshots and child-process
// runs for the copy engine's tests.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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
// answered Ok once `messageAnswers` runs out.
class ScriptedPrompt final : public TFMPrompt {
 public:
  std::deque<TOverwriteAnswer> overwriteAnswers;
  std::deque<bool> abortAnswers;
  std::deque<TMessageAnswer> messageAnswers;
  std::vector<std::string> log;
  std::vector<TFMMessage> messages;
  std::function<void()> onAbortQuestion;  // runs when "Abort operation?" is asked

  TOverwriteAnswer AskOverwrite(const std::string& item, const std::string& text) override {
    EXPECT_EQ(text, "Overwrite file " + item + "?");
    return Next(overwriteAnswers, text, TOverwriteAnswer::Cancel);
  }
  bool AskAbort(const std::string& text) override {
    if (onAbortQuestion) onAbortQuestion();
    return Next(abortAnswers, text, true);
  }
  TMessageAnswer ShowMessage(const TFMMessage& message) override {
    log.push_back("!" + message.text);
    messages.push_back(message);
    if (messageAnswers.empty()) return TMessageAnswer::Ok;
    const TMessageAnswer answer = messageAnswers.front();
    messageAnswers.pop_front();
    return answer;
  }

  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> out;
    for (const auto& m : messages) out.push_back(m.text);
    return out;
  }
  int Questions(const std::string& text) const { return static_cast<int>(std::count(log.begin(), log.end(), "?" + text)); }

 private:
  template <class T>
  T Next(std::deque<T>& script, const std::string& text, T otherwise) {
    log.push_back("?" + text);
    if (script.empty()) {
      ADD_FAILURE() << "unexpected question: " << text;
      return otherwise;
    }
    const T answer = script.front();
    script.pop_front();
    return answer;
  }
};

// A description of every entry below `root`, by relative path: "d 755",
// "f 644 <contents>", "l -> <target>", "p" for a FIFO. Links are not followed.
inline std::map<std::string, std::string> Snapshot(const std::string& root, bool withModes = true) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const std::string path = it->path().native();
    const std::string rel = path.substr(root.size() + 1);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%o", st.st_mode & 07777);
    const std::string m = withModes ? std::string(" ") + mode : "";
    if (S_ISDIR(st.st_mode)) {
      out[rel] = "d" + m;
    } else if (S_ISLNK(st.st_mode)) {
      out[rel] = "l -> " + fs::read_symlink(path, ec).native();
    } else if (S_ISREG(st.st_mode)) {
      out[rel] = "f" + m + " " + test::ReadFile(path);
    } else {
      out[rel] = "p";
    }
  }
  return out;
}

// Names of leftover temporary files anywhere below `root`.
inline std::vector<std::string> TemporaryFiles(const std::string& root) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->path().filename().native().rfind(".vantrel-", 0) == 0) out.push_back(it->path().native());
  }
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

inline bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

inline uint32_t ModeOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xffffffffu;
}

inline int64_t MTimeOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}

// Contents of `size` bytes that differ from block to block.
inline std::string PatternBytes(size_t size, uint32_t seed = 1) {
  std::string out(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<char>(x);
  }
  return out;
}

// Collects failed checks inside a child process, where gtest's own
// assertions would be lost: each is printed, and the child's exit status
// tells whether there was one.
struct ChildChecks {
  bool failed = false;
  void Check(bool ok, const std::string& what) {
    if (ok) return;
    std::fprintf(stderr, "check failed in the child: %s\n", what.c_str());
    failed = true;
  }
};

inline constexpr uid_t kNobody = 65534;
inline constexpr int kChildSkipped = 77;

// Runs `body` in a forked child: 0 when its checks held, kChildSkipped when
// it could not become an ordinary user. With `unprivileged`, a child of root
// first becomes the user "nobody" (and `handOver` is given to that user), so
// that permission checks apply as they do for an ordinary user.
inline int RunInChild(const std::function<bool()>& body, bool unprivileged = false,
                      const std::string& handOver = {}) {
  const bool root = ::geteuid() == 0;
  if (unprivileged && root && !handOver.empty()) {
    std::error_code ec;
    ::lchown(handOver.c_str(), kNobody, kNobody);
    for (auto it = fs::recursive_directory_iterator(handOver, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
      ::lchown(it->path().c_str(), kNobody, kNobody);
  }
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (unprivileged && root &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0 ||
         (!handOver.empty() && ::access(handOver.c_str(), W_OK | X_OK) != 0)))
      _exit(kChildSkipped);
    _exit(body() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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

  test::TempDir tmp;
  const std::string src = tmp / "src";
  const std::string dst = tmp / "dst";
  ScriptedPrompt prompt;
  TFMOperation op;
  std::vector<int> events;
  std::function<void(int)> onEvent;
};

}  // namespace vantrel::fileops::testing
