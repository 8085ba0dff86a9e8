// bench-links: vantrel_fileops
// trash.cpp - moving 10,000 files of one directory to the Trash against
// `gio trash` (or `trash-put`) on a tree made the same way, in the same run,
// into one private home trash; the result is read back by `gio list
// trash://` (through a private session bus, where gvfs serves trash://).
//
// The trees and the home trash ($XDG_DATA_HOME/Trash) live under --dir
// (default /var/tmp), so every rename stays on one volume. Each round times
// our engine (TrashNames, then the directorysizes cache written) and the
// peer, alternating which goes first; the trash is emptied between rounds.
//
//   bench_trash [--files N] [--rounds N] [--dir PATH] [--peer gio|trash-put]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fileops/trash_operation.h"
#include "platform/trash.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

std::vector<std::string> MakeFiles(const fs::path& dir, int count) {
  fs::create_directories(dir);
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    names.push_back("file " + std::to_string(i) + ".txt");  // a blank, to be percent-encoded
    std::ofstream(dir / names.back()) << i;
  }
  return names;
}

// Runs argv, returns its exit status.
int Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// How many items `gio list trash://` shows, and how many of them came from `dir`.
std::pair<int, int> GioListed(const std::string& dir) {
  const std::string command =
      "dbus-run-session -- sh -c 'gio list -a trash::orig-path trash:// 2>/dev/null' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, -1};
  int all = 0, from = 0;
  char line[8192];
  const std::string want = "trash::orig-path=" + dir + "/";
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    ++all;
    if (std::strstr(line, want.c_str()) != nullptr) ++from;
  }
  ::pclose(pipe);
  return {all, from};
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  int files = 10000, rounds = 3;
  std::string dir = "/var/tmp", peer = "gio";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--files")) files = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--dir")) dir = argv[i + 1];
    else if (!std::strcmp(argv[i], "--peer")) peer = argv[i + 1];
  }
  const fs::path base = fs::path(dir) / ("vantrel-bench-trash-" + std::to_string(::getpid()));
  const fs::path data = base / "data";
  fs::create_directories(data);
  ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  std::printf("%d files of one directory to the Trash (%s), peer %s, %d rounds\n", files, data.c_str(),
              peer.c_str(), rounds);
  double bestOurs = 1e300, bestPeer = 1e300;
  for (int r = 0; r < rounds; ++r) {
    fs::remove_all(data / "Trash");
    const fs::path ours = base / ("ours" + std::to_string(r)), theirs = base / ("peer" + std::to_string(r));
    const std::vector<std::string> ourNames = MakeFiles(ours, files);
    const std::vector<std::string> peerNames = MakeFiles(theirs, files);
    ::sync();
    double tOurs = 0, tPeer = 0;
    size_t trashed = 0;
    for (int k = 0; k < 2; ++k) {
      const bool oursNow = (k == 0) == (r % 2 == 0);
      const auto start = Clock::now();
      if (oursNow) {
        vantrel::platform::TrashSession session;
        trashed = vantrel::fileops::TrashNames(session, ourNames, ours.native()).trashed.size();
        session.Flush();
        tOurs = Seconds(Clock::now() - start);
      } else {
        std::vector<std::string> args =
            peer == "gio" ? std::vector<std::string>{"gio", "trash"} : std::vector<std::string>{"trash-put"};
        for (const std::string& n : peerNames) args.push_back((theirs / n).native());
        const int status = Spawn(args);
        tPeer = Seconds(Clock::now() - start);
        if (status != 0) std::printf("peer exit status %d\n", status);
      }
    }
    const auto [all, fromOurs] = GioListed(ours.native());
    std::printf("round %d: ours %.3f s (%zu trashed), %s %.3f s, ratio %.2f; gio list trash:// shows %d, %d of ours\n",
                r + 1, tOurs, trashed, peer.c_str(), tPeer, tOurs / tPeer, all, fromOurs);
    std::fflush(stdout);
    bestOurs = std::min(bestOurs, tOurs);
    bestPeer = std::min(bestPeer, tPeer);
  }
  std::printf("best: ours %.3f s, %s %.3f s, ours/%s %.2f\n", bestOurs, peer.c_str(), bestPeer, peer.c_str(),
              bestOurs / bestPeer);
  fs::remove_all(base);
  return 0;
}
