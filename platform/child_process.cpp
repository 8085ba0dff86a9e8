// child_process.cpp - a child program with pipes, over posix_spawn.
#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/fs.h"

extern char** environ;

namespace vantrel::platform {

namespace {

constexpr size_t kErrorsKept = 64 * 1024;

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

TChildProcess::~TChildProcess() {
  if (pid_ > 0) Kill();
  CloseAll();
}

void TChildProcess::CloseAll() {
  CloseFd(in_);
  CloseFd(out_);
  CloseFd(err_);
}

bool TChildProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                          std::string* error) {
  if (argv.empty()) {
    if (error) *error = ErrorText(EINVAL);
    return false;
  }
  // Standard input is a socket, so that writing to a child that has ended
  // fails with EPIPE instead of raising SIGPIPE in this process.
  int input[2] = {-1, -1}, output[2] = {-1, -1}, errors[2] = {-1, -1};
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) != 0 || ::pipe2(output, O_CLOEXEC) != 0 ||
      ::pipe2(errors, O_CLOEXEC) != 0) {
    const int code = errno;
    for (int fd : {input[0], input[1], output[0], output[1], errors[0], errors[1]})
      if (fd >= 0) ::close(fd);
    if (error) *error = ErrorText(code);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[1], 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errors[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<std::string> environment;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) environment.emplace_back(*e);
  for (const std::string& extra : extraEnv) {
    const std::string name = extra.substr(0, extra.find('=') + 1);
    std::erase_if(environment, [&](const std::string& e) { return e.compare(0, name.size(), name) == 0; });
    environment.push_back(extra);
  }
  std::vector<char*> args, env;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : environment) env.push_back(const_cast<char*>(e.c_str()));
  env.push_back(nullptr);

  pid_t pid = -1;
  const int code = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(input[1]);
  ::close(output[1]);
  ::close(errors[1]);
  if (code != 0) {
    ::close(input[0]);
    ::close(output[0]);
    ::close(errors[0]);
    if (error) *error = ErrorText(code);
    return false;
  }
  pid_ = pid;
  in_ = input[0];
  out_ = output[0];
  err_ = errors[0];
  status_ = -1;
  errors_.clear();
  return true;
}

bool TChildProcess::WriteInput(const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    if (in_ < 0) return false;
    const ssize_t w = ::send(in_, p, n, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

void TChildProcess::CloseInput() {
  if (in_ >= 0) ::shutdown(in_, SHUT_WR);
}

void TChildProcess::DrainErrors(bool block) {
  char buffer[4096];
  while (err_ >= 0) {
    if (!block) {
      struct pollfd p = {err_, POLLIN, 0};
      if (::poll(&p, 1, 0) <= 0) return;
    }
    const ssize_t n = ::read(err_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      CloseFd(err_);
      return;
    }
    errors_.append(buffer, static_cast<size_t>(n));
    if (errors_.size() > kErrorsKept) errors_.erase(0, errors_.size() - kErrorsKept);
  }
}

ssize_t TChildProcess::ReadOutput(void* data, size_t n) {
  while (out_ >= 0) {
    struct pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    const int ready = ::poll(fds, err_ >= 0 ? 2 : 1, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return -1;
    if (err_ >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) DrainErrors(false);
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t r = ::read(out_, data, n);
      if (r < 0 && errno == EINTR) continue;
      if (r == 0) CloseFd(out_);
      return r;
    }
  }
  return 0;
}

void TChildProcess::ReadAllOutput(std::string& out, size_t limit) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ReadOutput(buffer, sizeof buffer);
    if (n <= 0) return;
    if (out.size() < limit) out.append(buffer, std::min(static_cast<size_t>(n), limit - out.size()));
  }
}

int TChildProcess::Wait() {
  if (pid_ <= 0) return status_;
  CloseInput();
  // Whatever is still unread is dropped; the child must not block on it.
  CloseFd(out_);
  DrainErrors(true);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
  CloseAll();
  return status_;
}

void TChildProcess::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  status_ = 128 + SIGKILL;
  CloseAll();
}

}  // namespace vantrel::platform
