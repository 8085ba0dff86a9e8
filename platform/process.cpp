// process.cpp - detached program start without a shell.
#include "platform/process.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/fs.h"

extern char** environ;

namespace vantrel::platform {

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord) {
        words.push_back(std::move(word));
        word.clear();
        inWord = false;
      }
      ++i;
      continue;
    }
    inWord = true;
    if (c == '\\') {
      size_t n = 0;
      while (i < line.size() && line[i] == '\\') {
        ++n;
        ++i;
      }
      if (i < line.size() && line[i] == '"') {
        word.append(n / 2, '\\');
        if (n % 2 == 1) {
          word += '"';
          ++i;
        }
        // An even count leaves the quote to group, below.
      } else {
        word.append(n, '\\');
      }
      continue;
    }
    if (c == '"') {
      // Inside quotes, a doubled quote stands for one literal quote.
      if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
        word += '"';
        i += 2;
        continue;
      }
      quoted = !quoted;
      ++i;
      continue;
    }
    word += c;
    ++i;
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

std::string FindProgram(std::string_view program) {
  if (program.empty()) return {};
  auto executable = [](const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
  };
  if (program.find('/') != std::string_view::npos) {
    std::string p(program);
    return executable(p) ? p : std::string();
  }
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t colon = dirs.find(':', start);
    if (colon == std::string::npos) colon = dirs.size();
    std::string dir = colon > start ? dirs.substr(start, colon - start) : std::string(1, '.');
    std::string candidate = JoinPath(dir, program);
    if (executable(candidate)) return candidate;
    start = colon + 1;
  }
  return {};
}

bool StartDetached(const std::vector<std::string>& argv, const std::string& directory,
                   std::string* error) {
  if (argv.empty() || argv[0].empty()) {
    if (error) *error = ErrorText(ENOENT);
    return false;
  }
  const std::string program = FindProgram(argv[0]);
  if (program.empty()) {
    if (error) *error = ErrorText(ENOENT);
    return false;
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  // The child starts the program in a new session and reports through a pipe
  // whether exec succeeded; the program is then adopted by init, so no zombie
  // is left behind and the program outlives Vantrel.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    if (error) *error = ErrorText(errno);
    return false;
  }
  const pid_t child = fork();
  if (child < 0) {
    if (error) *error = ErrorText(errno);
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (child == 0) {
    close(fds[0]);
    setsid();
    int result = 0;
    if (!directory.empty() && chdir(directory.c_str()) != 0) {
      result = errno;
    } else {
      posix_spawnattr_t attr;
      posix_spawnattr_init(&attr);
      sigset_t none;
      sigemptyset(&none);
      posix_spawnattr_setsigmask(&attr, &none);
      sigset_t defaults;
      sigemptyset(&defaults);
      sigaddset(&defaults, SIGPIPE);
      sigaddset(&defaults, SIGCHLD);
      posix_spawnattr_setsigdefault(&attr, &defaults);
      posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
      pid_t grandchild;
      result = posix_spawn(&grandchild, program.c_str(), nullptr, &attr, args.data(), environ);
      posix_spawnattr_destroy(&attr);
    }
    (void)!write(fds[1], &result, sizeof result);
    _exit(0);
  }
  close(fds[1]);
  int result = EIO;
  ssize_t got;
  do {
    got = read(fds[0], &result, sizeof result);
  } while (got < 0 && errno == EINTR);
  close(fds[0]);
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  if (got != static_cast<ssize_t>(sizeof result)) result = EIO;
  if (result != 0) {
    if (error) *error = ErrorText(result);
    return false;
  }
  return true;
}

bool StartCommand(std::string_view commandLine, const std::vector<std::string>& extraArgs,
                  const std::string& directory, std::string* error) {
  std::vector<std::string> argv = SplitCommandLine(commandLine);
  argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
  return StartDetached(argv, directory, error);
}

bool StartShellCommand(const std::string& text, const std::string& directory, std::string* error) {
  return StartDetached({"/bin/sh", "-c", text}, directory, error);
}

bool StartShellCommandCaptured(const std::string& text, const std::string& directory,
                               const std::string& outputPath, const std::string& statusPath,
                               std::string* error) {
  // The command runs in a shell of its own, so that its "exit" or "exec"
  // still lets the outer shell record the status.
  static const char* kScript =
      "/bin/sh -c \"$1\" >\"$2\" 2>&1 </dev/null; echo $? >\"$3.part\" && mv -f \"$3.part\" \"$3\"";
  return StartDetached({"/bin/sh", "-c", kScript, "sh", text, outputPath, statusPath}, directory, error);
}

bool OpenWithDefaultApplication(const std::string& path, const std::string& directory,
                                std::string* error) {
  return StartDetached({"xdg-open", path}, directory, error);
}

void RunThreadInBackground() {
  // On Linux the nice value belongs to each thread, named by its id.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
}

void RunThreadWhenIdle() {
  // On Linux a thread is a schedulable task of its own: 0 is the caller.
  struct sched_param param {};
  param.sched_priority = 0;
  sched_setscheduler(0, SCHED_IDLE, &param);
}

bool StartDetachedThenRemove(const std::vector<std::string>& argv, const std::string& removeAfter,
                             const std::string& directory, std::string* error) {
  if (argv.empty() || FindProgram(argv[0]).empty()) {
    if (error) *error = ErrorText(ENOENT);
    return false;
  }
  // The names reach the shell as arguments, never as script text.
  std::vector<std::string> shell = {"/bin/sh", "-c", "d=$0; \"$@\"; rm -rf -- \"$d\"", removeAfter};
  shell.insert(shell.end(), argv.begin(), argv.end());
  return StartDetached(shell, directory, error);
}

std::string MakePrivateTempDir(const std::string& prefix) {
  const char* env = std::getenv("TMPDIR");
  std::string base = env != nullptr && *env == '/' ? env : "/tmp";
  std::string path = JoinPath(base, prefix + "XXXXXX");
  if (mkdtemp(path.data()) == nullptr) return {};
  return path;  // mkdtemp makes it with mode 0700
}

std::string DefaultEditor() {
  static const char* editors[] = {"gnome-text-editor", "gedit", "kate", "kwrite", "mousepad",
                                  "pluma", "xed", "featherpad", "leafpad"};
  for (const char* e : editors)
    if (!FindProgram(e).empty()) return e;
  return "xdg-open";
}

}  // namespace vantrel::platform
