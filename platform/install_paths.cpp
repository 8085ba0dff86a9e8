// install_paths.cpp - the executable's own path from /proc/self/exe and the
// data folder next to it or below its prefix.
#include "platform/install_paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#ifndef VANTREL_VERSION
#error "the build defines VANTREL_VERSION"
#endif
#ifndef VANTREL_DATA_RELATIVE
#error "the build defines VANTREL_DATA_RELATIVE (the data folder relative to the program's folder)"
#endif

namespace vantrel::platform {

namespace {

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

bool IsDirectoryPath(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "/usr/bin/../share/vantrel/" becomes "/usr/share/vantrel/": ".." steps
// back over the name before it, so the folder shows as users know it.
std::string Normalized(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out;
  for (const std::string& part : parts) out += '/' + part;
  return out.empty() ? "/" : out;
}

}  // namespace

const char* ProgramVersion() { return VANTREL_VERSION; }

std::string ExecutablePath() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

std::string ExecutableDirectory() {
  const std::string path = ExecutablePath();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    char cwd[4096];
    return WithSlash(getcwd(cwd, sizeof cwd) != nullptr ? cwd : "/");
  }
  return path.substr(0, slash + 1);
}

std::string DataDirectoryFor(const std::string& executableDir, const std::string& relativeDataDir) {
  const std::string dir = WithSlash(executableDir);
  if (!relativeDataDir.empty()) {
    const std::string installed =
        relativeDataDir.front() == '/' ? relativeDataDir : Normalized(dir + relativeDataDir);
    if (IsDirectoryPath(installed)) return WithSlash(installed);
  }
  return dir;
}

const std::string& DataDirectory() {
  static const std::string dir = DataDirectoryFor(ExecutableDirectory(), VANTREL_DATA_RELATIVE);
  return dir;
}

std::string LanguageDirectory() { return DataDirectory() + "Language/"; }

std::string HelpDirectory() { return DataDirectory() + "help/"; }

}  // namespace vantrel::platform
