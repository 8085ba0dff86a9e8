// Packing into the other formats as a job: pause and cancel heard inside a
// large file (no new archive, an old one byte for byte, no temporary file),
// a file that vanishes or cannot be packed reported where it was met while
// the rest goes in, and those files added to the archive afterwards.
// Archives are checked with bsdtar and 7zz. Runs under ThreadSanitizer too.
#include "fileops/pack_job.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "platform/process.h"
#include "tests/fileops/fileops_helpers.h"
#include "tests/fileops/job_helpers.h"

namespace vantrel::fileops::testing {
namespace {

using namespace std::chrono_literals;
using formats::TPackFormat;
using test::ReadFile;
using test::WriteFile;

#if defined(__SANITIZE_THREAD__)
constexpr auto kCancelLimit = 1000ms;  // the sanitizer slows every step
constexpr size_t kLarge = 8u << 20;
constexpr double kStepMs = 250;
#else
constexpr auto kCancelLimit = 100ms;
constexpr size_t kLarge = 48u << 20;
// The processor time the packer may spend between two looks at its gate:
// half the cancel's limit (a loaded machine's shared caches stretched the
// xz steps, measured 25 ms idle, to 56 ms).
constexpr double kStepMs = 50;
#endif

// A cancel's limit on this machine: the packer's steps are processor work,
// and with more runnable threads than processors each waits its turn for
// longer, so the limit grows with the load beyond the processors.
std::chrono::milliseconds CancelLimit() {
  double load = 0;
  const double cpus = static_cast<double>(std::max(1u, std::thread::hardware_concurrency()));
  if (::getloadavg(&load, 1) != 1 || load <= cpus) return kCancelLimit;
  return std::chrono::milliseconds(static_cast<int64_t>(static_cast<double>(kCancelLimit.count()) * load / cpus));
}

// The processor time of the calling thread, in milliseconds.
double ThreadMs() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

std::string Noise(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint64_t x = 0x9E3779B97F4A7C15ull ^ seed;
  for (char& c : out) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    c = static_cast<char>(x >> 24);
  }
  return out;
}

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

std::string Quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The output of a shell command that must succeed.
std::string Shell(const std::string& command) {
  std::string output;
  EXPECT_EQ(test::RunCommand(command + " 2>&1", &output), 0) << command << "\n" << output;
  return output;
}

// The names bsdtar lists, and whether 7zz (for a 7z) finds the archive whole.
std::set<std::string> Listed(const std::string& archive, TPackFormat format) {
  if (format == TPackFormat::SevenZip && !platform::FindProgram("7zz").empty())
    Shell("7zz t " + Quoted(archive) + " >/dev/null");
  std::set<std::string> names;
  const std::string out = Shell("bsdtar -tf " + Quoted(archive));
  for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
    names.insert(out.substr(at, end - at));
  return names;
}

const char* Ending(TPackFormat format) {
  switch (format) {
    case TPackFormat::TarGz: return ".tar.gz";
    case TPackFormat::TarXz: return ".tar.xz";
    case TPackFormat::TarZst: return ".tar.zst";
    case TPackFormat::SevenZip: return ".7z";
  }
  return "";
}

// Paused inside a large file the job stands still; cancelled there (paused
// or running, packing anew or adding to an archive) it ends within a tenth
// of a second (on a machine not loaded beyond its processors) with no new
// archive, the old one byte for byte as it was and no temporary file beside
// it. Between two looks at the gate the packer never works longer than a
// few milliseconds, whatever the compressor.
TEST(PackJob, CancelInsideALargeFileLeavesNothingPartial) {
  struct Case {
    TPackFormat format;
    bool existing;    // an archive of that name is there
    bool add;         // and is added to, not replaced
    bool pauseFirst;  // cancelled while paused, not while running
  };
  const Case cases[] = {
      {TPackFormat::TarGz, false, false, false}, {TPackFormat::TarGz, true, true, true},
      {TPackFormat::SevenZip, true, false, false}, {TPackFormat::SevenZip, true, true, true},
      {TPackFormat::TarXz, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << Ending(c.format) << " existing " << c.existing << " add " << c.add
                                      << " paused " << c.pauseFirst);
    test::TempDir tmp;
    const std::string src = tmp / "src", out = tmp / "out";
    test::MakeDir(src);
    test::MakeDir(out);
    WriteFile(src + "/small", "small");
    WriteFile(src + "/big", Noise(kLarge, 7));
    formats::TPackRequest request;
    request.archive = out + "/a" + Ending(c.format);
    request.rootDir = src;
    request.format = c.format;
    std::string before;
    if (c.existing) {
      WriteFile(src + "/old", "old entry");
      request.names = {"old"};
      ASSERT_TRUE(formats::PackArchive(request, {}, nullptr, nullptr));
      before = ReadFile(request.archive);
    }
    request.names = {"small", "big"};
    request.addToArchive = c.add;
    const std::set<std::string> namesBefore = Names(out);
    TJobQueue queue;
    TPackJobOutcome outcome;
    double lastLook = -1, longestStep = 0;  // on the job's thread only
    formats::TPackEvents steps;
    steps.progress = [&](uint64_t, uint64_t) {
      const double now = ThreadMs();
      if (lastLook >= 0) longestStep = std::max(longestStep, now - lastLook);
      lastLook = now;
      return true;
    };
    auto job = queue.Add("pack", {}, [&](TJob& self) { RunPackJob(self, request, outcome, steps); });
    ASSERT_TRUE(Eventually([&] {
      const TJobProgress p = job->Progress();
      return p.item == "big" && p.bytesDone > 0 && p.itemsDone == 1 && p.itemsTotal == 2;
    }));
    if (c.pauseFirst) {
      queue.Pause(job->Id());
      ASSERT_TRUE(Eventually([&] { return job->AtGate(); }));
      const double at = job->Progress().bytesDone;
      std::this_thread::sleep_for(100ms);
      EXPECT_EQ(job->Progress().bytesDone, at);
      EXPECT_LT(at, job->Progress().bytesTotal);
    }
    const auto asked = std::chrono::steady_clock::now();
    queue.Cancel(job->Id());
    ASSERT_TRUE(queue.WaitIdle(10s));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, CancelLimit());
    EXPECT_EQ(job->State(), TJobState::Cancelled);
    EXPECT_LT(longestStep, kStepMs);
    EXPECT_FALSE(outcome.packed);
    EXPECT_EQ(outcome.error.code, ECANCELED);
    EXPECT_EQ(Names(out), namesBefore);
    if (c.existing) {
      EXPECT_TRUE(ReadFile(request.archive) == before);
    }
  }
}

// A file that goes away between the listing and its reading (or, in a 7z,
// a FIFO, which the format cannot hold) is reported at its place among the
// items, kept as the job's one question for its end, and the rest is packed.
// Packing just those names again, added to the archive, once the file is a
// file again, gives the whole set.
TEST(PackJob, FilesThatFailAreReportedThenAddedByTheRetry) {
  if (platform::FindProgram("bsdtar").empty()) GTEST_SKIP() << "bsdtar is not installed";
  struct Case {
    TPackFormat format;
    bool fifo;  // "b" is a FIFO, not a file that vanishes
    const char* why;
  };
  const Case cases[] = {
      {TPackFormat::TarGz, false, "No such file or directory"},
      {TPackFormat::SevenZip, false, "No such file or directory"},
      {TPackFormat::SevenZip, true, "a device, pipe or socket: 7z archives cannot hold it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << Ending(c.format) << " fifo " << c.fifo);
    test::TempDir tmp;
    const std::string src = tmp / "src";
    test::MakeDir(src);
    test::MakeDir(src + "/d");
    WriteFile(src + "/a", "first");
    WriteFile(src + "/d/c", "third");
    if (c.fifo)
      ASSERT_EQ(::mkfifo((src + "/d/b").c_str(), 0644), 0);
    else
      WriteFile(src + "/d/b", "second");
    formats::TPackRequest request;
    request.archive = tmp / (std::string("out") + Ending(c.format));
    request.rootDir = src;
    request.format = c.format;
    request.names = {"a", "d"};
    std::vector<std::string> told;
    formats::TPackEvents watch;
    watch.item = [&](const std::string& name, uint64_t, uint64_t) {
      if (!name.empty()) told.push_back(name);
      if (name == "d" && !c.fifo) ::unlink((src + "/d/b").c_str());
      return true;
    };
    watch.leftOut = [&](const std::string& name, const std::string& why) { told.push_back("left out " + name + ": " + why); };
    TJobQueue queue;
    TPackJobOutcome outcome;
    auto job = queue.Add("pack", {}, [&](TJob& self) { RunPackJob(self, request, outcome, watch); });
    ASSERT_TRUE(queue.WaitIdle(10s));
    EXPECT_EQ(job->State(), TJobState::Finished);
    ASSERT_TRUE(outcome.packed) << outcome.error.text;
    EXPECT_EQ(told, (std::vector<std::string>{"a", "d", "d/b", std::string("left out d/b: ") + c.why, "d/c"}));
    EXPECT_EQ(job->Progress().deferred, 1u);
    EXPECT_EQ(job->Progress().itemsDone, 4u);
    EXPECT_EQ(outcome.FailedNames(), std::vector<std::string>{"d/b"});
    EXPECT_EQ(Listed(request.archive, c.format), (std::set<std::string>{"a", "d/", "d/c"}));

    // Mended: b is a file again. The retry adds just it.
    ::unlink((src + "/d/b").c_str());
    WriteFile(src + "/d/b", "second, mended");
    WriteFile(src + "/a", "changed since: the retry does not take it");
    formats::TPackRequest retry = request;
    retry.names = outcome.FailedNames();
    retry.addToArchive = true;
    TPackJobOutcome again;
    auto second = queue.Add("retry", {}, [&](TJob& self) { RunPackJob(self, retry, again); });
    ASSERT_TRUE(queue.WaitIdle(10s));
    EXPECT_EQ(second->State(), TJobState::Finished);
    ASSERT_TRUE(again.packed) << again.error.text;
    EXPECT_TRUE(again.result.leftOut.empty());
    EXPECT_EQ(Listed(request.archive, c.format), (std::set<std::string>{"a", "d/", "d/b", "d/c"}));
    EXPECT_EQ(Shell("bsdtar -xOf " + Quoted(request.archive) + " d/b"), "second, mended");
    EXPECT_EQ(Shell("bsdtar -xOf " + Quoted(request.archive) + " a"), "first");
  }
}

}  // namespace
}  // namespace vantrel::fileops::testing
