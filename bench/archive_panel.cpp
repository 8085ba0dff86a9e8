// bench-links: vantrel_vfs vantrel_dirmodel
// archive_panel.cpp - a panel showing a large ZIP archive as a folder against
// the same tree as a directory on tmpfs, in the same run:
//   bench_archive_panel [ENTRIES [DIRECTORY-ON-TMPFS]]
// ENTRIES files (300,000 by default) in directories of 1,000 are made once as
// files under DIRECTORY (default /dev/shm) and as a stored ZIP archive by
// Python's zipfile. Timed, best of five, wall clock and processor time: the
// first screen of the root (the archive opened and read once, its root
// listed and sorted; the directory read and sorted), what that first screen
// is made of (the engine reading the directory, the tree of paths, the
// panel's listing; what each is freed with is not timed), the whole tree read as directories (what reading all of
// the archive's directory stands for), entering a subdirectory, a quick
// search in it, and the archive's reads per open after all of that.
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "app/panels/entry_record.h"
#include "panels/dirmodel.h"
#include "panels/panel_source.h"
#include "platform/fs.h"
#include "vfs/path_index.h"
#include "vfs/zip_source.h"
#include "zip/zip_writer.h"

using namespace vantrel;

namespace {

// The panel's view of a ZIP source, its rows made as the program makes them.
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
    for (vfs::TEntry& e : listed) entries.push_back(app::EntryRecord(e, true));
    return true;
  }
  std::string SummaryLine() const override { return {}; }
  const vfs::TZipSource& Source() const { return *source_; }

 private:
  std::unique_ptr<vfs::TZipSource> source_;
  std::string root_;
};

double CpuNow() {
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Best of five: wall clock and processor seconds.
struct TTimes {
  double wall = 1e9, cpu = 1e9;
};
TTimes Best(const std::function<void()>& run) {
  TTimes best;
  for (int i = 0; i < 5; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu0 = CpuNow();
    run();
    best.cpu = std::min(best.cpu, CpuNow() - cpu0);
    best.wall = std::min(best.wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

void Line(const char* what, TTimes zip, TTimes dir, const char* peer) {
  std::printf("%-28s archive %.4f s (cpu %.4f), %s %.4f s (cpu %.4f), ratio %.2f (cpu %.2f)\n", what, zip.wall,
              zip.cpu, peer, dir.wall, dir.cpu, zip.wall / dir.wall, zip.cpu / dir.cpu);
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

  // The first screen, whole (what it is freed with comes later, when the
  // panel leaves: outside the time).
  std::vector<std::unique_ptr<panels::TPanelModel>> shown;
  const TTimes zipRoot = Best([&] {
    vfs::TError err;
    auto source = std::make_shared<TZipPlaces>(vfs::TZipSource::Load(zip, zip, nullptr, &err));
    auto m = std::make_unique<panels::TPanelModel>();
    if (!m->ReadPlace(source, "")) std::abort();
    shown.push_back(std::move(m));
  });
  shown.clear();
  const TTimes dirRoot = Best([&] {
    auto m = std::make_unique<panels::TPanelModel>();
    if (!m->ReadDirectory(tree)) std::abort();
    shown.push_back(std::move(m));
  });
  shown.clear();
  // Every directory of the tree listed: the directory's counterpart of
  // reading all of the archive's directory.
  const TTimes dirWalk = Best([&] {
    panels::TPanelModel m;
    if (!m.ReadDirectory(tree)) std::abort();
    std::vector<std::string> subs;
    for (const auto& e : m.GetEntries())
      if (e->FileName != "..") subs.push_back(e->FileName);
    for (const std::string& s : subs)
      if (!m.ReadDirectory(tree + "/" + s)) std::abort();
  });

  // What the first screen is made of.
  std::vector<std::unique_ptr<zip::TZipWriter>> read;
  const TTimes parse = Best([&] {
    auto z = std::make_unique<zip::TZipWriter>();
    z->IncompleteZipMode = zip::TIncompleteZipMode::izAssumeBad;
    z->SetZipName(zip);
    z->ReadZip();
    read.push_back(std::move(z));
  });
  read.clear();
  zip::TZipWriter z;
  z.IncompleteZipMode = zip::TIncompleteZipMode::izAssumeBad;
  z.SetZipName(zip);
  z.ReadZip();
  std::vector<vfs::TPathIndex> trees(5);
  size_t next = 0;
  const TTimes treeBuild = Best([&] {
    trees[next++].Build(static_cast<size_t>(z.Count()),
                        [&z](size_t i) { return z.Entry(static_cast<int>(i)).PathView(); });
  });
  trees.clear();
  vfs::TError err;
  auto source = std::make_shared<TZipPlaces>(vfs::TZipSource::Load(zip, zip, nullptr, &err));
  const TTimes model = Best([&] {
    panels::TPanelModel m;
    if (!m.ReadPlace(source, "")) std::abort();
  });

  panels::TPanelModel zm, dm;
  const TTimes zipSub = Best([&] {
    if (!zm.ReadPlace(source, "d0123")) std::abort();
  });
  const TTimes dirSub = Best([&] {
    if (!dm.ReadDirectory(tree + "/d0123")) std::abort();
  });
  // Quick search: the first name from the pattern, as the panel looks.
  size_t found = 0;
  auto search = [&found](const panels::TPanelModel& m) {
    return [&found, &m] {
      found = 0;
      for (const char* pattern : {"file012", "file01234", "FILE0123*9", "nothing"})
        for (const auto& e : m.GetEntries())
          if (panels::QuickSearchMatches(e->FileName, pattern)) {
            ++found;
            break;
          }
    };
  };
  const TTimes zipSearch = Best(search(zm));
  const size_t zipFound = found;
  const TTimes dirSearch = Best(search(dm));

  std::printf("%ld entries\n", entries);
  Line("first screen of the root:", zipRoot, dirRoot, "tmpfs root");
  Line("  against the whole tree:", zipRoot, dirWalk, "tmpfs, every directory");
  std::printf("  made of: engine reads the directory %.4f s (cpu %.4f), tree of paths %.4f s (cpu %.4f), "
              "panel listing %.4f s (cpu %.4f)\n",
              parse.wall, parse.cpu, treeBuild.wall, treeBuild.cpu, model.wall, model.cpu);
  Line("entering a subdirectory:", zipSub, dirSub, "directory");
  Line("quick search (4 patterns):", zipSearch, dirSearch, "directory");
  std::printf("found %zu/%zu; reads of the archive after all of it: %d\n", zipFound, found, source->Source().Reads());
  std::system(("rm -rf '" + base + "'").c_str());
  return 0;
}
