// ini.h - profile files with the semantics users of INI files expect.
//
// Sections and keys match without regard to ASCII case; a value is read with a
// default; at most 2047 characters of a value are significant; integers read as
// signed decimal, or as hexadecimal after "0x", "0X" or "$". Every write reads
// the file afresh, changes one key and replaces the whole file atomically (a
// temporary file beside it, flushed, then renamed), so a crash or a full disk
// never leaves a truncated file. The file is never held open.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::platform {

inline constexpr size_t kIniValueLimit = 2047;

// Where a bare profile file name lives: $XDG_CONFIG_HOME/NAME, else
// ~/.config/NAME. A name with a "/" is taken as it is.
std::string ProfilePath(std::string_view name);

class IniFile {
 public:
  explicit IniFile(std::string path) : path_(std::move(path)) {}

  const std::string& Path() const { return path_; }

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  int64_t ReadInteger(std::string_view section, std::string_view key, int64_t def) const;

  // Return false (errno set) when the file cannot be written; the file on
  // disk then stays as it was.
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);
  bool WriteInteger(std::string_view section, std::string_view key, int64_t value);

  // Between BeginUpdate and EndUpdate, writes change a copy in memory and
  // EndUpdate replaces the file once; it returns false (errno set, the file on
  // disk as it was) when the file cannot be written. Reads inside an update see
  // the pending values.
  void BeginUpdate();
  bool EndUpdate();

  // Parses an integer the way ReadInteger does; false when the text is no valid integer.
  static bool ParseInteger(std::string_view text, int64_t& out);

 private:
  std::vector<std::string> Lines() const;
  bool Store(const std::vector<std::string>& lines);
  static void SetValue(std::vector<std::string>& lines, std::string_view section,
                       std::string_view key, std::string_view value);

  std::string path_;
  bool updating_ = false;
  std::vector<std::string> pending_;
};

}  // namespace vantrel::platform
