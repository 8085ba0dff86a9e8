// child_process.h - a helper program run as a child with pipes: what we
// write goes to its standard input, what it prints is read back.
//
// For programs the engines use as decoders (7-Zip for encrypted archives):
// no shell, PATH searched for argv[0], the child's standard error collected
// apart so that its messages can be reported. The child never inherits our
// other descriptors. Destroying the object ends a child that still runs
// (SIGKILL) and reaps it, so no zombie stays behind.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace vantrel::platform {

class TChildProcess final {
 public:
  TChildProcess() = default;
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // Starts argv with the environment of ours plus `extraEnv` ("NAME=value").
  // False with `error` when it cannot be started.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
             std::string* error);

  // Writes all of `data` to the child's standard input; false when the child
  // closed it. CloseInput then sends end of file.
  bool WriteInput(const void* data, size_t n);
  void CloseInput();

  // Reads up to n bytes of the child's standard output: the count, 0 at its
  // end, -1 on failure. The child's standard error is collected meanwhile
  // (a child that fills that pipe would otherwise stop).
  ssize_t ReadOutput(void* data, size_t n);

  // Reads standard output to its end into `out` (kept below `limit` bytes;
  // more is read and dropped).
  void ReadAllOutput(std::string& out, size_t limit = 64u << 20);

  // Waits for the child's end: its exit status, or 128 + signal, or -1.
  int Wait();
  // Ends the child at once (SIGKILL) and reaps it.
  void Kill();

  // What the child wrote to its standard error (the last 64 KiB).
  const std::string& ErrorOutput() const { return errors_; }

 private:
  void DrainErrors(bool block);
  void CloseAll();

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  int status_ = -1;
  std::string errors_;
};

}  // namespace vantrel::platform
