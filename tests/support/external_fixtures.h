// external_fixtures.h - where the tests find the shared fixtures and how a
// test program reports the cases it skipped because they are absent. Free of
// GoogleTest so that the Qt Test programs use it too.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace vantrel::test {

// The folder VANTREL_FIXTURES names, or an empty string.
inline std::string ExternalFixturesDir() {
  const char* f = std::getenv("VANTREL_FIXTURES");
  return f ? f : "";
}

// When cases were skipped: prints one line naming the folder and the count,
// and appends "program<TAB>count<TAB>folder" to VANTREL_SKIP_LOG, from which
// scripts/test prints its summary.
inline void ReportExternalSkips(const std::string& program, int cases) {
  if (cases == 0) return;
  const std::string dir = std::filesystem::path(ExternalFixturesDir()).lexically_normal().string();
  std::printf("%s: %d case%s skipped: external fixtures not found at %s\n", program.c_str(), cases,
              cases == 1 ? "" : "s", dir.empty() ? "(VANTREL_FIXTURES unset)" : dir.c_str());
  std::fflush(stdout);
  if (const char* log = std::getenv("VANTREL_SKIP_LOG")) {
    if (std::FILE* f = std::fopen(log, "a")) {
      std::fprintf(f, "%s\t%d\t%s\n", program.c_str(), cases, dir.c_str());
      std::fclose(f);
    }
  }
}

}  // namespace vantrel::test
