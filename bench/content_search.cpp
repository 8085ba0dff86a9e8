// bench-links: vantrel_tools
// Content search of a generated tree against `grep -rl` and `rg -l` (where
// installed) in the same run: the tree holds copies of this repository's
// sources (text) and files of random bytes (binary), MB megabytes in all
// (default 1024). Each program runs in a child process; the runs alternate,
// and the best of RUNS (default 5) is shown as wall time, CPU time (user +
// system, the steadier measure on a shared machine) and the child's peak
// resident memory. Then the same search in UTF-8 + UTF-16 LE + BE against
// the plain one, and without case against `grep -ril`. The page cache is
// warm for every program alike (a first untimed pass reads the tree).
//
//   bench_content_search [MB] [RUNS] [DIR]
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/child_run.h"
#include "tools/content_match.h"
#include "tools/file_search.h"

using namespace vantrel;

namespace {

using TRun = bench::TChildRun;

std::vector<std::string> SourceFiles(const std::string& dir) {
  std::vector<std::string> out;
  std::vector<std::string> todo{dir};
  while (!todo.empty()) {
    const std::string d = todo.back();
    todo.pop_back();
    DIR* h = opendir(d.c_str());
    if (h == nullptr) continue;
    while (dirent* e = readdir(h)) {
      const std::string name = e->d_name;
      if (name[0] == '.' || name == "build" || name.rfind("build-", 0) == 0) continue;
      const std::string path = d + "/" + name;
      if (e->d_type == DT_DIR) todo.push_back(path);
      else if (e->d_type == DT_REG && (name.size() > 2 && (name.ends_with(".cpp") || name.ends_with(".h"))))
        out.push_back(path);
    }
    closedir(h);
  }
  return out;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

// Half text (the sources again and again, 64 files a directory), half
// random binary files of 4 MB; a few files hold the needle.
void MakeTree(const std::string& root, uint64_t megabytes, const std::string& sources) {
  const std::string marker = root + "/.complete-" + std::to_string(megabytes);
  struct stat st;
  if (stat(marker.c_str(), &st) == 0) return;
  std::system(("rm -rf '" + root + "' && mkdir -p '" + root + "'").c_str());
  std::vector<std::string> texts;
  for (const std::string& f : SourceFiles(sources)) texts.push_back(ReadAll(f));
  if (texts.empty()) texts.push_back(std::string(100000, 'a'));
  std::mt19937_64 random(42);
  const uint64_t half = megabytes << 19;
  uint64_t written = 0;
  size_t file = 0;
  while (written < half) {
    const std::string dir = root + "/text" + std::to_string(file / 64);
    mkdir(dir.c_str(), 0755);
    std::string data = texts[file % texts.size()];
    if (file % 997 == 0) data += "\nthe FindMeNeedle mark\n";
    WriteAll(dir + "/f" + std::to_string(file) + ".cpp", data);
    written += data.size();
    ++file;
  }
  written = 0;
  for (size_t i = 0; written < half; ++i) {
    const std::string dir = root + "/bin" + std::to_string(i / 16);
    mkdir(dir.c_str(), 0755);
    std::string data(4 << 20, '\0');
    for (size_t j = 0; j + 8 <= data.size(); j += 8) {
      const uint64_t v = random();
      std::memcpy(&data[j], &v, 8);
    }
    WriteAll(dir + "/b" + std::to_string(i) + ".bin", data);
    written += data.size();
  }
  WriteAll(marker, "");
}

long CountLines(const std::string& command) {
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  long lines = 0;
  for (int c; (c = fgetc(p)) != EOF;) lines += c == '\n';
  pclose(p);
  return lines;
}

long Ours(const std::string& root, const std::string& text, bool caseSensitive, uint8_t encodings) {
  tools::TContentQuery query;
  query.text = text;
  query.caseSensitive = caseSensitive;
  query.encodings = encodings;
  auto matcher = tools::TContentMatcher::Compile(query, nullptr);
  tools::TSearchCriteria criteria;
  criteria.mask = "*";
  criteria.content = matcher.get();
  tools::TFileSearch search;
  long found = 0;
  search.OnFound = [&](tools::TFoundFile&&) { ++found; };
  search.Search(criteria, root);
  return found;
}

void Line(const char* what, const TRun& r, const TRun* ours) {
  std::printf("%-34s wall %7.3f s  cpu %7.3f s  peak %6ld MB  files %ld", what, r.wall, r.cpu, r.rssKb / 1024,
              r.value);
  if (ours != nullptr) std::printf("   ratio wall %.2f cpu %.2f (vantrel/peer)", ours->wall / r.wall, ours->cpu / r.cpu);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  const std::string root = argc > 3 ? argv[3] : "/tmp/vantrel-bench-content";
  std::string sources = __FILE__;
  sources = sources.substr(0, sources.rfind('/')) + "/..";
  MakeTree(root, megabytes, sources);
  const bool haveRg = std::system("command -v rg >/dev/null 2>&1") == 0;
  const std::string needle = "FindMeNeedle";
  const std::string grep = "LC_ALL=C grep -rl " + needle + " '" + root + "'";
  const std::string grepNoCase = "LC_ALL=C grep -ril " + needle + " '" + root + "'";
  // rg skips hidden and ignored files by default; -uuu searches every file as grep does.
  const std::string rg = "rg -l -uuu -j1 " + needle + " '" + root + "'";
  bench::RunInChild([&] { return CountLines(grep); });  // warms the page cache for everyone
  TRun ours, oursNoCase, oursUtf16, grepRun, grepNoCaseRun, rgRun;
  for (int i = 0; i < runs; ++i) {
    bench::KeepBest(ours, bench::RunInChild([&] { return Ours(root, needle, true, tools::kEncUtf8); }));
    bench::KeepBest(grepRun, bench::RunInChild([&] { return CountLines(grep); }));
    if (haveRg) bench::KeepBest(rgRun, bench::RunInChild([&] { return CountLines(rg); }));
    bench::KeepBest(oursUtf16, bench::RunInChild([&] {
           return Ours(root, needle, true, tools::kEncUtf8 | tools::kEncUtf16LE | tools::kEncUtf16BE);
         }));
    bench::KeepBest(oursNoCase, bench::RunInChild([&] { return Ours(root, needle, false, tools::kEncUtf8); }));
    bench::KeepBest(grepNoCaseRun, bench::RunInChild([&] { return CountLines(grepNoCase); }));
  }
  std::printf("content search of %s (%llu MB: sources and random binary files), best of %d, warm cache\n",
              root.c_str(), static_cast<unsigned long long>(megabytes), runs);
  Line("vantrel (plain, with case)", ours, nullptr);
  Line("grep -rl", grepRun, &ours);
  if (haveRg) Line("rg -l -uuu -j1", rgRun, &ours);
  Line("vantrel UTF-8 + UTF-16 LE + BE", oursUtf16, nullptr);
  std::printf("%-34s wall %.2f cpu %.2f (UTF-16 too / plain)\n", "", oursUtf16.wall / ours.wall,
              oursUtf16.cpu / ours.cpu);
  Line("vantrel (plain, without case)", oursNoCase, nullptr);
  Line("grep -ril", grepNoCaseRun, &oursNoCase);
  const bool same = ours.value == grepRun.value && oursNoCase.value == grepNoCaseRun.value &&
                    (!haveRg || rgRun.value == ours.value);
  if (!same) std::printf("MISMATCH: the programs found different numbers of files\n");
  return same ? 0 : 1;
}
