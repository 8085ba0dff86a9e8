// bench-links: vantrel_vfs vantrel_fileops
// vfs_sources.cpp - the panel sources at work, timed: the first listing of
// an archive's root against the same tree as a directory, entering a
// directory, one change of a large archive, copying entries out. The peers
// (cp, zip -d, vantrel-zip extract) run in bench/vfs_archives.sh, which
// makes the data and calls this program:
//
//   bench_vfs_sources list ARCHIVE TREE RUNS     first listing of the root, then of one directory
//   bench_vfs_sources delete ARCHIVE INNER       one entry out of the archive
//   bench_vfs_sources add ARCHIVE FILE INNER     one file into the archive
//   bench_vfs_sources copyout ARCHIVE DIR N OUT  N files of DIR copied out to OUT
//
// Each prints "seconds" lines the script reads (delete, add and copyout also
// "cpu": the processor time of the change on its thread, of the copy).
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fileops/source_copy.h"
#include "vfs/local_source.h"
#include "vfs/zip_source.h"

using namespace vantrel;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double CpuNow(clockid_t clock = CLOCK_PROCESS_CPUTIME_ID) {
  struct timespec t;
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  return 1;
}

// The best of `runs`: the archive read and its root listed, as a panel
// entering it does; and the directory's root listed (every entry examined).
int List(const std::string& archive, const std::string& tree, int runs) {
  double zipRoot = 1e9, zipRootCpu = 1e9, dirRoot = 1e9, zipSub = 1e9, dirSub = 1e9, dirWalk = 1e9;
  size_t rootCount = 0, subCount = 0;
  for (int r = 0; r < runs; ++r) {
    vfs::TError err;
    auto t0 = std::chrono::steady_clock::now();
    const double cpu0 = CpuNow();
    auto zip = vfs::TZipSource::Load(archive, archive, nullptr, &err);
    if (!zip) return Fail(err.text);
    std::vector<vfs::TEntry> entries;
    if (!zip->List("", entries, &err)) return Fail(err.text);
    zipRoot = std::min(zipRoot, Seconds(t0));
    zipRootCpu = std::min(zipRootCpu, CpuNow() - cpu0);
    rootCount = entries.size();
    const std::string sub = entries.front().name;
    t0 = std::chrono::steady_clock::now();
    if (!zip->List(sub, entries, &err)) return Fail(err.text);
    zipSub = std::min(zipSub, Seconds(t0));
    subCount = entries.size();

    vfs::TLocalSource dir(tree);
    t0 = std::chrono::steady_clock::now();
    if (!dir.List("", entries, &err)) return Fail(err.text);
    dirRoot = std::min(dirRoot, Seconds(t0));
    t0 = std::chrono::steady_clock::now();
    if (!dir.List(sub, entries, &err)) return Fail(err.text);
    dirSub = std::min(dirSub, Seconds(t0));
    // The whole tree listed: what reading all of the archive's directory
    // stands for.
    t0 = std::chrono::steady_clock::now();
    std::vector<vfs::TEntry> root;
    dir.List("", root, &err);
    for (const vfs::TEntry& e : root)
      if (e.kind == vfs::TEntryKind::Directory) dir.List(e.name, entries, &err);
    dirWalk = std::min(dirWalk, Seconds(t0));
  }
  std::printf("root_entries %zu\nsub_entries %zu\n", rootCount, subCount);
  std::printf("zip_root %.6f\nzip_root_cpu %.6f\ndir_root %.6f\ndir_walk %.6f\nzip_sub %.6f\ndir_sub %.6f\n", zipRoot, zipRootCpu, dirRoot,
              dirWalk, zipSub, dirSub);
  return 0;
}

int Change(const std::string& archive, const vfs::TChangeSet& changes) {
  vfs::TError err;
  auto zip = vfs::TZipSource::Load(archive, archive, nullptr, &err);
  if (!zip) return Fail(err.text);
  const auto t0 = std::chrono::steady_clock::now();
  // The thread's time: the replaced archive is freed on a thread of its own
  // after the change (the whole process's time, exit included, counts it).
  const double cpu0 = CpuNow(CLOCK_THREAD_CPUTIME_ID);
  if (!zip->Apply(changes, {}, &err)) return Fail(err.text);
  std::printf("seconds %.6f\ncpu %.6f\n", Seconds(t0), CpuNow(CLOCK_THREAD_CPUTIME_ID) - cpu0);
  return 0;
}

int CopyOut(const std::string& archive, const std::string& dir, size_t n, const std::string& out) {
  vfs::TError err;
  auto zip = vfs::TZipSource::Load(archive, archive, nullptr, &err);
  if (!zip) return Fail(err.text);
  std::vector<vfs::TEntry> entries;
  if (!zip->List(dir, entries, &err)) return Fail(err.text);
  std::vector<std::string> names;
  for (const vfs::TEntry& e : entries)
    if (e.kind == vfs::TEntryKind::File && names.size() < n) names.push_back(e.name);
  vfs::TLocalSource dest(out);
  fileops::TSourceCopy copy;
  const auto t0 = std::chrono::steady_clock::now();
  const double cpu0 = CpuNow();
  copy.Copy(names, *zip, dir, dest, "");
  const double s = Seconds(t0), cpu = CpuNow() - cpu0;
  if (!copy.Failures().empty()) return Fail(copy.Failures().front().text + ": " + copy.Failures().front().reason);
  std::printf("copied %zu\nseconds %.6f\ncpu %.6f\n", names.size(), s, cpu);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> a(argv + 1, argv + argc);
  if (a.size() == 4 && a[0] == "list") return List(a[1], a[2], std::atoi(a[3].c_str()));
  if (a.size() == 3 && a[0] == "delete") return Change(a[1], vfs::TChangeSet().Delete(a[2]));
  if (a.size() == 4 && a[0] == "add") return Change(a[1], vfs::TChangeSet().PutFile(a[3], a[2]));
  if (a.size() == 5 && a[0] == "copyout") return CopyOut(a[1], a[2], std::strtoul(a[3].c_str(), nullptr, 10), a[4]);
  std::fprintf(stderr, "usage: see bench/vfs_sources.cpp\n");
  return 2;
}
