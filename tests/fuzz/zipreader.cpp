// zipreader.cpp - fuzz target: opens an archive made of the input bytes,
// lists it, reads its comments and test-extracts every entry.
//
// The bytes live in an in-memory file reached through /proc/self/fd, so the
// reader opens it by name exactly as it opens a real archive. Inputs with an
// odd length are opened with IncompleteZipMode izAssumeBad, so the rebuild
// from local headers is exercised too. Output is capped (a tiny input may
// declare and inflate to gigabytes), which the engine itself allows.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "zip/zip_reader.h"

namespace {

struct OutputCap {};

int MemoryFile() {
  static int fd = ::memfd_create("zipreader-fuzz", 0);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel::zip;
  int fd = MemoryFile();
  if (fd < 0) return 0;
  if (::ftruncate(fd, 0) != 0) return 0;
  if (size && ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
  const std::string name = "/proc/self/fd/" + std::to_string(fd);

  TZipReader r;
  r.IncompleteZipMode =
      size % 2 ? TIncompleteZipMode::izAssumeBad : TIncompleteZipMode::izAssumeMulti;
  r.DoAll = true;
  r.RecreateDirs = true;
  r.TestOnly = true;
  r.Password = "pw";
  r.StreamBufferSize = 4096;
  int blocks = 0;
  r.OnFilePercentDone = [&](TZipReader*, int) {
    if (++blocks > 256) throw OutputCap();  // 8 MB of output is plenty
  };
  try {
    r.SetZipName(name);
    r.ReadZip();
    for (int i = 0; i < r.Count(); ++i) {
      (void)r.DateTime(i);
      (void)r.FileComment(i);
    }
    (void)r.ZipComment();
    r.UnZip();
  } catch (const EZipError&) {
  } catch (const OutputCap&) {
  }
  return 0;
}
