// bench-links: vantrel_vfs vantrel_dirmodel
// archive_panel.cpp - a panel showing a large ZIP archive as a folder against
// the same tree as a directory on tmpfs, in the same run:
//   bench_archive_panel [ENTRIES [DIRECTORY-ON-TMPFS]]
// ENTRIES files (300,000 by default) in directories of 1,000 are made once as
// files under DIRECTORY (default /dev/shm) and as a stored ZIP archive by
// Python's zipfile. Timed, best of five: the first screen of the root (the
// archive opened and read once, its root listed and sorted; the directory
// read and sorted), entering a subdirectory, and the archive's reads per open.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "panels/dirmodel.h"
#include "panels/panel_source.h"
#include "platform/fs.h"
#include "vfs/zip_source.h"

using namespace vantrel;

namespace {

// The panel's view of a ZIP source (as the program's own adapter makes it).
class TZipPlaces final : public panels::TPanelSource {
 public:
  explicit TZipPlaces(std::unique_ptr<vfs::TZipSource> s) : source_(std::move(s)), root_(source_->Root()) {}
  const std::string& Root() const override { return root_; }
  bool List(const std::string& place, panels::TPanelModel::Entries& entries, std::string* error) override {
    std::vector<vfs::TEntry> listed;
    vfs::TError err;
    if (!source_->List(place, listed, &err)) {
      if (error) *error = err.text;
      return false;
    }
    entries.reserve(listed.size());
    for (vfs::TEntry& e : listed) {
      auto r = std::make_unique<panels::TFileEntry>();
      r->FileAttributes = e.kind == vfs::TEntryKind::Directory ? platform::kAttrDirectory : platform::kAttrArchive;
      r->FileSize = e.size;
      r->HasPackedSize = true;
      r->PackedSize = e.packedSize;
      r->CreationTime = r->LastWriteTime = platform::FileTimeFromUnix(e.mtime, 0);
      r->FileName = std::move(e.name);
      entries.push_back(std::move(r));
    }
    return true;
  }
  std::string SummaryLine() const override { return {}; }
  const vfs::TZipSource& Source() const { return *source_; }

 private:
  std::unique_ptr<vfs::TZipSource> source_;
  std::string root_;
};

double Seconds(const std::function<void()>& run) {
  double best = 1e9;
  for (int i = 0; i < 5; ++i) {
    const auto start = std::chrono::steady_clock::now();
    run();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const long entries = argc > 1 ? std::atol(argv[1]) : 300000;
  const std::string base = std::string(argc > 2 ? argv[2] : "/dev/shm") + "/vantrel-bench-archive-panel";
  const std::string tree = base + "/tree", zip = base + "/tree.zip";
  if (std::system(("rm -rf '" + base + "' && mkdir -p '" + tree + "'").c_str()) != 0) return 1;
  const std::string make =
      "python3 -c \"import os, sys, zipfile\n"
      "n, tree, zp = int(sys.argv[1]), sys.argv[2], sys.argv[3]\n"
      "with zipfile.ZipFile(zp, 'w') as z:\n"
      "  for i in range(n):\n"
      "    d = f'd{i // 1000:04}'\n"
      "    if i % 1000 == 0: os.mkdir(os.path.join(tree, d))\n"
      "    name = f'{d}/file{i:07}.txt'\n"
      "    open(os.path.join(tree, name), 'w').close()\n"
      "    z.writestr(name, '')\n\" " +
      std::to_string(entries) + " '" + tree + "' '" + zip + "'";
  if (std::system(make.c_str()) != 0) return 1;

  int reads = 0;
  const double zipRoot = Seconds([&] {
    vfs::TError err;
    auto source = std::make_shared<TZipPlaces>(vfs::TZipSource::Load(zip, zip, nullptr, &err));
    panels::TPanelModel m;
    if (!m.ReadPlace(source, "")) std::abort();
    reads = source->Source().Reads();
  });
  const double dirRoot = Seconds([&] {
    panels::TPanelModel m;
    if (!m.ReadDirectory(tree)) std::abort();
  });
  vfs::TError err;
  auto source = std::make_shared<TZipPlaces>(vfs::TZipSource::Load(zip, zip, nullptr, &err));
  panels::TPanelModel zm, dm;
  const double zipSub = Seconds([&] {
    if (!zm.ReadPlace(source, "d0123")) std::abort();
  });
  const double dirSub = Seconds([&] {
    if (!dm.ReadDirectory(tree + "/d0123")) std::abort();
  });
  std::printf("%ld entries\n", entries);
  std::printf("first screen of the root: archive %.3f s, directory on tmpfs %.3f s, ratio %.2f (reads per open: %d)\n",
              zipRoot, dirRoot, zipRoot / dirRoot, reads);
  std::printf("entering a subdirectory: archive %.4f s, directory %.4f s, ratio %.2f\n", zipSub, dirSub,
              zipSub / dirSub);
  std::system(("rm -rf '" + base + "'").c_str());
  return 0;
}
