// sevenzip_program.cpp - running 7-Zip for encrypted 7z and RAR archives.
#include "formats/sevenzip_program.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/process.h"

namespace vantrel::formats {

namespace {

// UTF-8 names and times in UTC whatever the user's settings.
const std::vector<std::string> kEnvironment = {"LC_ALL=C.UTF-8", "TZ=UTC"};

bool Contains(const std::string& text, const char* what) { return text.find(what) != std::string::npos; }

bool IsWrongPassword(const std::string& text) {
  return Contains(text, "Wrong password") || Contains(text, "Can not open encrypted archive") ||
         Contains(text, "Cannot open encrypted archive");
}

// "2026-12-07 04:58:56.2230510" (UTC) as a file time; 0 when unreadable.
platform::FileTime ParseTime(const std::string& text) {
  struct tm t = {};
  int fraction = 0;
  char digits[16] = {};
  if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d.%15[0-9]", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                  &t.tm_min, &t.tm_sec, digits) < 6)
    return 0;
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  // The fraction in 100 ns ticks: the first seven digits.
  std::string ticks(digits);
  ticks.resize(7, '0');
  fraction = std::atoi(ticks.c_str());
  const time_t seconds = ::timegm(&t);
  return platform::FileTimeFromUnix(seconds, static_cast<int64_t>(fraction) * 100);
}

// The permission bits and the kind from "A -rw-r--r--" (Unix modes 7-Zip
// shows after its own attribute letters).
void ParseAttributes(const std::string& text, TSevenZipEntry& e) {
  if (!text.empty() && text[0] == 'D') e.directory = true;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    at = end + 1;
    if (word.size() != 10 || std::string("-dlcbps").find(word[0]) == std::string::npos) continue;
    uint32_t mode = 0;
    static const char kLetters[] = "rwxrwxrwx";
    bool valid = true;
    for (int i = 0; i < 9; ++i) {
      const char c = word[static_cast<size_t>(i + 1)];
      if (c == kLetters[i] || c == 's' || c == 't') mode |= 1u << (8 - i);
      else if (c != '-' && c != 'S' && c != 'T') valid = false;
    }
    if (!valid) continue;
    e.mode = mode;
    if (word[0] == 'd') e.directory = true;
    if (word[0] == 'l') e.symlink = true;
  }
}

std::string WriteListFile(const std::vector<std::string>& paths, std::string* error) {
  const char* env = std::getenv("TMPDIR");
  std::string name = std::string(env != nullptr && *env != '\0' ? env : "/tmp") + "/.vantrel-7z-XXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = platform::ErrorText(errno);
    return {};
  }
  std::string text;
  for (const std::string& p : paths) text += p + "\n";
  const char* data = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t w = ::write(fd, data, left);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (error) *error = platform::ErrorText(errno);
      ::close(fd);
      ::unlink(name.c_str());
      return {};
    }
    data += w;
    left -= static_cast<size_t>(w);
  }
  ::close(fd);
  return name;
}

// A path the program cannot take for a switch.
std::string Operand(const std::string& path) { return !path.empty() && path[0] == '/' ? path : "./" + path; }

bool Run(const std::vector<std::string>& args, const std::string& password, std::string& output,
         std::string& errors, int& status, std::string* error) {
  platform::TChildProcess child;
  if (!child.Start(args, kEnvironment, error)) return false;
  const std::string line = password + "\n";
  child.WriteInput(line.data(), line.size());
  child.CloseInput();
  child.ReadAllOutput(output);
  status = child.Wait();
  errors = child.ErrorOutput();
  return true;
}

}  // namespace

std::string SevenZipProgram() {
  std::string program = platform::FindProgram("7zz");
  if (program.empty()) program = platform::FindProgram("7z");
  return program;
}

std::string SevenZipMessage(const std::string& output) {
  // The last line that says ERROR, else the last line that says anything.
  std::string last, lastError;
  size_t at = 0;
  while (at < output.size()) {
    size_t end = output.find('\n', at);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(at, end - at);
    at = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty() || Contains(line, "Enter password")) continue;
    if (Contains(line, "ERROR") || Contains(line, "Error")) lastError = line;
    last = line;
  }
  std::string message = lastError.empty() ? last : lastError;
  if (message.rfind("ERROR: ", 0) == 0) message.erase(0, 7);
  return message.empty() ? std::string("7-Zip failed") : "7-Zip: " + message;
}

std::vector<TSevenZipEntry> ParseSevenZipListing(const std::string& text) {
  std::vector<TSevenZipEntry> entries;
  TSevenZipEntry current;
  auto finish = [&] {
    if (!current.path.empty()) entries.push_back(current);
    current = TSevenZipEntry();
  };
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("----------", 0) == 0) {
      // The archive's own block ends here; the entries follow.
      entries.clear();
      current = TSevenZipEntry();
      continue;
    }
    const size_t equals = line.find(" = ");
    if (equals == std::string::npos) {
      if (line.empty()) finish();
      continue;
    }
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 3);
    if (key == "Path") {
      finish();
      current.path = value;
    } else if (key == "Size") {
      current.sizeKnown = !value.empty();
      current.size = std::strtoull(value.c_str(), nullptr, 10);
    } else if (key == "Modified") {
      current.writeTime = ParseTime(value);
    } else if (key == "Attributes") {
      ParseAttributes(value, current);
    } else if (key == "Folder") {
      if (value == "+") current.directory = true;
    } else if (key == "CRC") {
      current.crcKnown = !value.empty();
      current.crc = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 16));
    } else if (key == "Encrypted") {
      current.encrypted = value == "+";
    }
  }
  finish();
  return entries;
}

TSevenZipResult SevenZipList(const std::string& archive, const std::string& password,
                             std::vector<TSevenZipEntry>& out, std::string* error) {
  const std::string program = SevenZipProgram();
  if (program.empty()) {
    if (error) *error = "the 7-Zip program (7zz) is not installed";
    return TSevenZipResult::NoProgram;
  }
  std::string output, errors;
  int status = -1;
  if (!Run({program, "l", "-slt", "-sccUTF-8", Operand(archive)}, password, output, errors, status, error))
    return TSevenZipResult::Failed;
  if (status != 0) {
    if (error) *error = SevenZipMessage(errors.empty() ? output : errors);
    return IsWrongPassword(errors + output) ? TSevenZipResult::WrongPassword : TSevenZipResult::Failed;
  }
  out = ParseSevenZipListing(output);
  return TSevenZipResult::Ok;
}

TSevenZipResult SevenZipTest(const std::string& archive, const std::string& password, const std::string& path,
                             std::string* error) {
  const std::string program = SevenZipProgram();
  if (program.empty()) {
    if (error) *error = "the 7-Zip program (7zz) is not installed";
    return TSevenZipResult::NoProgram;
  }
  const std::string list = WriteListFile({path}, error);
  if (list.empty()) return TSevenZipResult::Failed;
  std::string output, errors;
  int status = -1;
  const bool ran = Run({program, "t", "-spd", "-scsUTF-8", "-sccUTF-8", Operand(archive), "@" + list}, password,
                       output, errors, status, error);
  ::unlink(list.c_str());
  if (!ran) return TSevenZipResult::Failed;
  if (status == 0) return TSevenZipResult::Ok;
  if (error) *error = SevenZipMessage(errors.empty() ? output : errors);
  return IsWrongPassword(errors + output) ? TSevenZipResult::WrongPassword : TSevenZipResult::Failed;
}

TSevenZipExtraction::~TSevenZipExtraction() {
  child_.Kill();
  if (!listFile_.empty()) ::unlink(listFile_.c_str());
}

// (No "--" before the archive: after it the program takes "@list" for a
// member's name; Operand keeps a path from looking like a switch.)
bool TSevenZipExtraction::Start(const std::string& archive, const std::string& password,
                                const std::vector<std::string>& paths, std::string* error) {
  const std::string program = SevenZipProgram();
  if (program.empty()) {
    if (error) *error = "the 7-Zip program (7zz) is not installed";
    return false;
  }
  listFile_ = WriteListFile(paths, error);
  if (listFile_.empty()) return false;
  if (!child_.Start({program, "x", "-so", "-spd", "-scsUTF-8", "-sccUTF-8", "-bd", Operand(archive), "@" + listFile_},
                    kEnvironment, error))
    return false;
  const std::string line = password + "\n";
  child_.WriteInput(line.data(), line.size());
  child_.CloseInput();
  return true;
}

ssize_t TSevenZipExtraction::Read(void* data, size_t n) { return child_.ReadOutput(data, n); }

int TSevenZipExtraction::Finish(bool abandon, std::string* error) {
  if (abandon) child_.Kill();
  const int status = child_.Wait();
  if (!listFile_.empty()) ::unlink(listFile_.c_str());
  listFile_.clear();
  if (status != 0 && error != nullptr) *error = SevenZipMessage(child_.ErrorOutput());
  return status;
}

}  // namespace vantrel::formats
