// file_uri.h - file: URIs, as desktops and other programs name local files
// (drag and drop, the desktop entry's %U, the file manager D-Bus interface).
//
// A name is bytes: every byte that is not an unreserved ASCII character or
// "/" is percent-encoded, so a name that is not UTF-8 goes and comes back
// unchanged.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vantrel::platform {

// "file:///home/u/a%20b" for "/home/u/a b". `path` is absolute.
std::string FileUriOf(std::string_view path);

// The local path a URI names: "file:///p", "file://localhost/p" and "file:/p"
// (the scheme in any case). Nothing for another scheme, another host, a
// relative path, or a NUL byte encoded in it.
std::optional<std::string> LocalPathOfUri(std::string_view uri);

// A path given on a command line as an absolute path: a file: URI is decoded,
// a relative path is taken from `base`. Nothing for a file: URI that names no
// local file.
std::optional<std::string> ArgumentPath(std::string_view arg, const std::string& base);

}  // namespace vantrel::platform
