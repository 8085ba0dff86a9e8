// copy_target.cpp - reading a typed destination for Copy and Move.
#include "fileops/copy_target.h"

#include "platform/copyfile.h"
#include "platform/fs.h"

namespace vantrel::fileops {

namespace {

TCopyTarget Refuse(std::string message) {
  TCopyTarget target;
  target.message = std::move(message);
  return target;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

TCopyTarget ResolveCopyTarget(size_t itemCount, const std::string& typed, const std::string& baseDir,
                              bool move) {
  const char* verb = move ? "move" : "copy";
  if (typed.empty() || typed.find('\0') != std::string::npos)
    return Refuse(std::string("There is no destination to ") + verb + " to.");
  std::string path =
      typed.front() == '/' || baseDir.empty() ? typed : platform::JoinPath(baseDir, typed);
  const bool trailingSlash = path.back() == '/';
  while (path.size() > 1 && path.back() == '/') path.pop_back();

  TCopyTarget target;
  target.dir = path;
  if (platform::IsDirectory(path)) {
    target.kind = TCopyTarget::TKind::Into;
    return target;
  }
  platform::EntryInfo info;
  const bool exists = platform::LStat(path, info);
  if (trailingSlash) {
    if (exists)
      return Refuse("Cannot " + std::string(verb) + " into " + Quoted(typed) +
                    ": it is a file, not a directory.");
    target.kind = TCopyTarget::TKind::Into;
    target.createDir = true;
    return target;
  }
  if (itemCount != 1)
    return Refuse("Cannot " + std::string(verb) + " " + std::to_string(itemCount) +
                  " items onto the one name " + Quoted(typed) +
                  ".\nTo put them into a new directory, end the name with \"/\".");

  const size_t slash = path.rfind('/');
  const std::string parent = slash == std::string::npos ? std::string(".")
                             : slash == 0               ? std::string("/")
                                                        : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // (A name of "." or ".." would have been a directory above.)
  if (!platform::IsDirectory(parent))
    return Refuse("Cannot " + std::string(verb) + " to " + Quoted(typed) + ": the directory " +
                  Quoted(parent) + " does not exist.");
  target.kind = TCopyTarget::TKind::AsName;
  target.dir = parent;
  target.name = name;
  return target;
}

}  // namespace vantrel::fileops
