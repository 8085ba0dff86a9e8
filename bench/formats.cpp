// bench-links: vantrel_formats
// Archives of other formats against the tools made for them, in the same run:
//   1. listing a compressed tar of N members (default 100,000 members, 1 GB
//      before compression) against `tar tzf`: processor time, and the time
//      until the first member is known;
//   2. listing an uncompressed tar of N members of 200 KiB (20 GB, written
//      sparse: only the headers take disk space) against `tar tf`;
//   3. extracting 100 members spread over the compressed tar into files
//      against `tar xzf ARCHIVE MEMBERS`: processor time, and that the pass
//      read the stream once (one-by-one reading too, as the panels do);
//   4. listing a 7z archive of 50,000 entries against `7zz l`.
// Processor time is ours (this process) against the peer's (the tool and
// the decompressor it starts), best of 3 rounds taken in turns, so the load
// of other jobs on the machine hardly counts. The archives are made once in
// DIR and kept for the next run.
//
//   bench_formats [N] [DIR]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/stream_archive.h"

namespace {

using vantrel::formats::TArchiveError;
using vantrel::formats::TDataSink;
using vantrel::formats::TListState;
using vantrel::formats::TMember;
using vantrel::formats::TMemberData;
using vantrel::formats::TStreamArchive;
using Clock = std::chrono::steady_clock;

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; }

// Processor time (user + system) of this process, or of its waited children.
double Cpu(int who) {
  rusage u;
  getrusage(who, &u);
  return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

struct TTimes {
  double cpu = 1e30;
  double wall = 1e30;
};

void Keep(TTimes& best, double cpu, double wall) {
  best.cpu = std::min(best.cpu, cpu);
  best.wall = std::min(best.wall, wall);
}

// Runs a shell command; its processor time and wall time.
TTimes Peer(const std::string& command) {
  const double c0 = Cpu(RUSAGE_CHILDREN);
  const auto t0 = Clock::now();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
  return {Cpu(RUSAGE_CHILDREN) - c0, std::chrono::duration<double>(Clock::now() - t0).count()};
}

template <class F>
TTimes Ours(F&& f) {
  const double c0 = Cpu(RUSAGE_SELF);
  const auto t0 = Clock::now();
  f();
  return {Cpu(RUSAGE_SELF) - c0, std::chrono::duration<double>(Clock::now() - t0).count()};
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// ------------------------------------------------------------ making archives

// A ustar header for a regular file.
void Header(char* h, const std::string& name, uint64_t size) {
  std::memset(h, 0, 512);
  std::memcpy(h, name.data(), std::min<size_t>(name.size(), 99));
  std::snprintf(h + 100, 8, "%07o", 0644);
  std::snprintf(h + 108, 8, "%07o", 1000);
  std::snprintf(h + 116, 8, "%07o", 1000);
  std::snprintf(h + 124, 12, "%011llo", static_cast<unsigned long long>(size));
  std::snprintf(h + 136, 12, "%011o", 1700000000);
  h[156] = '0';
  std::memcpy(h + 257, "ustar", 6);
  std::memcpy(h + 263, "00", 2);
  std::memset(h + 148, ' ', 8);
  unsigned sum = 0;
  for (int i = 0; i < 512; ++i) sum += static_cast<unsigned char>(h[i]);
  std::snprintf(h + 148, 8, "%06o", sum);
  h[155] = ' ';
}

std::string MemberName(int i) {
  char name[64];
  std::snprintf(name, sizeof name, "tree/d%03d/member_%06d.txt", i % 500, i);
  return name;
}

// Words that compress about as text does.
void Text(std::string& out, size_t n, uint32_t seed) {
  static const char* words[] = {"archive", "member ", "stream ", "header ", "panel  ", "data   ",
                                "the    ", "of     ", "file   ", "\n      ", "copy   ", "size   "};
  out.clear();
  uint32_t x = seed * 2654435761u + 1;
  while (out.size() < n) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out.append(words[x % 12], 1 + (x >> 8) % 7);
    if ((x >> 16) % 5 == 0) out += static_cast<char>('a' + (x >> 20) % 26);
  }
  out.resize(n);
}

// A tar of `n` members of `size` bytes piped into `filter` ("gzip -6 >"),
// or written sparse (the data left as holes) when `filter` is empty.
void MakeTar(const std::string& path, int n, size_t size, const std::string& filter) {
  char h[512];
  if (filter.empty()) {
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    uint64_t at = 0;
    for (int i = 0; i < n; ++i) {
      Header(h, MemberName(i), size);
      (void)!::pwrite(fd, h, 512, static_cast<off_t>(at));
      at += 512 + (size + 511) / 512 * 512;
    }
    (void)!::ftruncate(fd, static_cast<off_t>(at + 1024));
    ::close(fd);
    return;
  }
  FILE* out = ::popen((filter + " '" + path + "'").c_str(), "w");
  std::string data;
  const char zeros[512] = {};
  for (int i = 0; i < n; ++i) {
    Text(data, size, static_cast<uint32_t>(i));
    Header(h, MemberName(i), size);
    std::fwrite(h, 1, 512, out);
    std::fwrite(data.data(), 1, data.size(), out);
    std::fwrite(zeros, 1, (512 - size % 512) % 512, out);
  }
  std::fwrite(zeros, 1, 512, out);
  std::fwrite(zeros, 1, 512, out);
  ::pclose(out);
}

// ------------------------------------------------------------ ours

struct TListing {
  size_t members = 0;
  double firstMember = 0;  // seconds from opening
};

TListing ListOurs(const std::string& path) {
  TListing r;
  const auto t0 = Clock::now();
  TArchiveError error;
  auto a = TStreamArchive::Open(path, &error);
  if (!a) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), error.text.c_str());
    return r;
  }
  TStreamArchive::TListEvents events;
  events.onMember = [&](uint32_t index, const TMember&) {
    if (index == 0) r.firstMember = std::chrono::duration<double>(Clock::now() - t0).count();
  };
  if (a->List(events) != TListState::Complete) std::fprintf(stderr, "%s: %s\n", path.c_str(), a->Problem().c_str());
  r.members = a->Members().size();
  return r;
}

class TFileSink final : public TDataSink {
 public:
  explicit TFileSink(const std::string& path) : fd_(::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644)) {}
  ~TFileSink() override {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Write(const void* data, size_t n) override { return ::write(fd_, data, n) == static_cast<ssize_t>(n); }

 private:
  int fd_;
};

// The members `names` of the archive into files in `dir`, in one pass
// (ReadMembers) or one call at a time in the order given (ReadNext, as the
// panels' copy does). Returns the times the stream was started.
size_t ExtractOurs(const std::string& path, const std::vector<std::string>& names, const std::string& dir,
                   bool oneByOne) {
  auto a = TStreamArchive::Open(path, nullptr);
  if (!a || a->List({}) != TListState::Complete) return 0;
  std::vector<uint32_t> wanted;
  for (uint32_t i = 0; i < a->Members().size(); ++i)
    if (std::find(names.begin(), names.end(), a->Members()[i].path) != names.end()) wanted.push_back(i);
  // As a copy engine walks them: not in the archive's order.
  std::reverse(wanted.begin(), wanted.end());
  size_t passes = 1;
  if (oneByOne) {
    a->Expect(wanted);
    for (uint32_t index : wanted) {
      TFileSink sink(dir + "/" + std::to_string(index));
      if (!a->ReadNext(index, sink, {}, nullptr)) std::fprintf(stderr, "member %u failed\n", index);
    }
    passes = a->StreamStarts();
  } else {
    a->ReadMembers(wanted, [&](uint32_t index, TMemberData& data) {
      TFileSink sink(dir + "/" + std::to_string(index));
      if (!data.Read(sink, nullptr)) std::fprintf(stderr, "member %u failed\n", index);
      return true;
    }, {}, nullptr);
  }
  return passes;
}

void Row(const char* what, const TTimes& ours, const TTimes& peer, const std::string& command) {
  std::printf("%-34s ours %7.3f s cpu %7.3f s wall | peer %7.3f s cpu %7.3f s wall | cpu ratio %.2f\n", what,
              ours.cpu, ours.wall, peer.cpu, peer.wall, ours.cpu / peer.cpu);
  std::printf("    peer: %s\n", command.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::string dir = argc > 2 ? argv[2] : "/tmp/vantrel-bench-formats";
  ::mkdir(dir.c_str(), 0755);
  const std::string tgz = dir + "/members-" + std::to_string(n) + ".tar.gz";
  const std::string tar = dir + "/sparse-" + std::to_string(n) + ".tar";
  const std::string sz = dir + "/entries-50000.7z";
  if (!Exists(tgz)) MakeTar(tgz, n, 10000, "gzip -6 >");
  if (!Exists(tar)) MakeTar(tar, n, 200 * 1024, "");
  if (!Exists(sz)) {
    const std::string small = dir + "/small.tar";
    MakeTar(small, 50000, 300, "cat >");
    if (std::system(("bsdtar --format 7zip -cf '" + sz + "' @'" + small + "'").c_str()) != 0)
      std::fprintf(stderr, "bsdtar could not make the 7z archive\n");
    ::unlink(small.c_str());
  }
  struct stat st;
  ::stat(tgz.c_str(), &st);
  std::printf("%s: %d members of 10000 bytes, %.0f MB packed\n", tgz.c_str(), n, st.st_size / 1e6);
  ::stat(tar.c_str(), &st);
  std::printf("%s: %d members of 200 KiB, %.1f GB (sparse)\n", tar.c_str(), n, st.st_size / 1e9);

  // 1. Listing the compressed tar.
  {
    TTimes ours, peer;
    TListing listing;
    const std::string command = "tar tzf '" + tgz + "' > /dev/null";
    for (int round = 0; round < 3; ++round) {
      const TTimes t = Ours([&] { listing = ListOurs(tgz); });
      Keep(ours, t.cpu, t.wall);
      const TTimes p = Peer(command);
      Keep(peer, p.cpu, p.wall);
    }
    Row("list tar.gz", ours, peer, command);
    std::printf("    %zu members, the first known after %.4f s\n", listing.members, listing.firstMember);
  }
  // 2. Listing the uncompressed tar.
  {
    TTimes ours, peer;
    TListing listing;
    const std::string command = "tar tf '" + tar + "' > /dev/null";
    for (int round = 0; round < 3; ++round) {
      const TTimes t = Ours([&] { listing = ListOurs(tar); });
      Keep(ours, t.cpu, t.wall);
      const TTimes p = Peer(command);
      Keep(peer, p.cpu, p.wall);
    }
    Row("list 20 GB tar", ours, peer, command);
    std::printf("    %zu members\n", listing.members);
  }
  // 3. Extracting 100 members spread over the compressed tar.
  {
    std::vector<std::string> names;
    for (int k = 0; k < 100; ++k) names.push_back(MemberName(static_cast<int>(static_cast<long>(k) * n / 100 + 7)));
    std::string command = "tar xzf '" + tgz + "' -C '" + dir + "/peer-out'";
    std::string shown = command + " MEMBER... (100 names)";
    for (const std::string& name : names) command += " '" + name + "'";
    TTimes pass, oneByOne, peer;
    size_t starts = 0;
    for (int round = 0; round < 3; ++round) {
      (void)!std::system(("rm -rf '" + dir + "/ours-out' '" + dir + "/peer-out' && mkdir '" + dir + "/ours-out' '" +
                          dir + "/peer-out'").c_str());
      TTimes t = Ours([&] { ExtractOurs(tgz, names, dir + "/ours-out", false); });
      Keep(pass, t.cpu, t.wall);
      t = Ours([&] { starts = ExtractOurs(tgz, names, dir + "/ours-out", true); });
      Keep(oneByOne, t.cpu, t.wall);
      const TTimes p = Peer(command);
      Keep(peer, p.cpu, p.wall);
    }
    Row("extract 100 members, one pass", pass, peer, shown);
    Row("extract 100, one call each", oneByOne, peer, shown);
    std::printf("    one call each (in reverse order, announced): the stream was started %zu time(s)\n", starts);
    std::printf("    (ours includes listing the archive first; tar lists nothing beforehand)\n");
  }
  // 4. Listing the 7z archive.
  {
    TTimes ours, peer;
    TListing listing;
    const std::string command = "7zz l '" + sz + "' > /dev/null";
    for (int round = 0; round < 3; ++round) {
      const TTimes t = Ours([&] { listing = ListOurs(sz); });
      Keep(ours, t.cpu, t.wall);
      const TTimes p = Peer(command);
      Keep(peer, p.cpu, p.wall);
    }
    Row("list 7z of 50,000 entries", ours, peer, command);
    std::printf("    %zu members\n", listing.members);
  }
  return 0;
}
