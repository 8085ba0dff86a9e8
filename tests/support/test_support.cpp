#include "tests/support/test_support.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "tests/support/external_fixtures.h"

namespace fs = std::filesystem;

namespace vantrel::test {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/vantrel-test-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Restore owner permissions first so that read-only test trees can go.
  for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0700);
  ::chmod(path_.c_str(), 0700);
  fs::remove_all(path_, ec);
}

std::string TempDir::operator/(std::string_view name) const { return platform::JoinPath(path_, name); }

void WriteFile(const std::string& path, std::string_view contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void MakeDir(const std::string& path) {
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec) throw std::runtime_error("cannot create " + path);
}

void SetMTime(const std::string& path, int64_t seconds) {
  struct timeval tv[2];
  tv[0].tv_sec = tv[1].tv_sec = static_cast<time_t>(seconds);
  tv[0].tv_usec = tv[1].tv_usec = 0;
  if (lutimes(path.c_str(), tv) != 0) throw std::runtime_error("cannot set time of " + path);
}

std::string FixturesDir() { return ExternalFixturesDir(); }

namespace {

int externalSkips = 0;
constexpr char kSkipMarker[] = "external fixtures not found";

// Forwards every event to GoogleTest's printer except the messages of tests
// skipped for want of the fixtures: the program reports those in one line.
class QuietExternalSkips : public ::testing::TestEventListener {
 public:
  explicit QuietExternalSkips(::testing::TestEventListener* inner) : inner_(inner) {}
  void OnTestPartResult(const ::testing::TestPartResult& r) override {
    if (!r.skipped() || std::string_view(r.message()).find(kSkipMarker) == std::string_view::npos)
      inner_->OnTestPartResult(r);
  }
#define VANTREL_FORWARD(Event, Type) \
  void Event(const ::testing::Type& x) override { inner_->Event(x); }
  VANTREL_FORWARD(OnTestProgramStart, UnitTest) VANTREL_FORWARD(OnEnvironmentsSetUpStart, UnitTest)
  VANTREL_FORWARD(OnEnvironmentsSetUpEnd, UnitTest) VANTREL_FORWARD(OnTestSuiteStart, TestSuite)
  VANTREL_FORWARD(OnTestStart, TestInfo) VANTREL_FORWARD(OnTestDisabled, TestInfo) VANTREL_FORWARD(OnTestEnd, TestInfo)
  VANTREL_FORWARD(OnTestSuiteEnd, TestSuite) VANTREL_FORWARD(OnEnvironmentsTearDownStart, UnitTest)
  VANTREL_FORWARD(OnEnvironmentsTearDownEnd, UnitTest) VANTREL_FORWARD(OnTestProgramEnd, UnitTest)
#undef VANTREL_FORWARD
  void OnTestIterationStart(const ::testing::UnitTest& u, int i) override { inner_->OnTestIterationStart(u, i); }
  void OnTestIterationEnd(const ::testing::UnitTest& u, int i) override { inner_->OnTestIterationEnd(u, i); }

 private:
  std::unique_ptr<::testing::TestEventListener> inner_;
};

// Quietens the per-test skip messages once the printer exists, and reports
// the tests skipped for want of the fixtures once all have run.
class ExternalSkipReport : public ::testing::Environment {
 public:
  void SetUp() override {
    auto& listeners = ::testing::UnitTest::GetInstance()->listeners();
    if (auto* printer = listeners.default_result_printer()) {
      listeners.Release(printer);
      listeners.Append(new QuietExternalSkips(printer));
    }
  }
  void TearDown() override { ReportExternalSkips(program_invocation_short_name, externalSkips); }
};
[[maybe_unused]] const auto* const registered =
    ::testing::AddGlobalTestEnvironment(new ExternalSkipReport);

}  // namespace

bool HaveFixtures(const std::string& sub) {
  std::error_code ec;
  if (!FixturesDir().empty() && fs::is_directory(FixturesDir() + "/" + sub, ec)) return true;
  ++externalSkips;
  return false;
}

int RunCommand(const std::string& command, std::string* output) {
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0)
    if (output) output->append(buf, n);
  int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

CurrentDirGuard::CurrentDirGuard() : saved_(platform::GetCurrentDir()) {}
CurrentDirGuard::~CurrentDirGuard() { platform::SetCurrentDir(saved_); }

}  // namespace vantrel::test
