// file_uri.cpp - file: URIs to local paths and back.
#include "platform/file_uri.h"

#include "platform/escaped_names.h"
#include "platform/fs.h"

namespace vantrel::platform {

namespace {

bool Unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if ((text[i] | 0x20) != prefix[i]) return false;
  return true;
}

}  // namespace

std::string FileUriOf(std::string_view path) {
  return "file://" + PercentEncode(path, [](unsigned char c) { return Unreserved(c) || c == '/'; });
}

std::optional<std::string> LocalPathOfUri(std::string_view uri) {
  if (!StartsWithNoCase(uri, "file:")) return std::nullopt;
  std::string_view rest = uri.substr(5);
  if (rest.substr(0, 2) == "//") {
    // file://host/path: only this machine's files.
    rest.remove_prefix(2);
    const size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && host != "localhost") return std::nullopt;
    rest.remove_prefix(slash);
  }
  if (rest.empty() || rest.front() != '/') return std::nullopt;
  std::string path = PercentDecode(rest);
  if (path.find('\0') != std::string::npos) return std::nullopt;
  return path;
}

std::optional<std::string> ArgumentPath(std::string_view arg, const std::string& base) {
  if (StartsWithNoCase(arg, "file:")) return LocalPathOfUri(arg);
  if (!arg.empty() && arg.front() == '/') return std::string(arg);
  return JoinPath(base, arg);
}

}  // namespace vantrel::platform
