// file_list.cpp - ExpandFileList: from the caller's FilesList to the exact
// list of files and directory entries a Zip run adds.
//
// Plain names stay in their given order, then every pattern's matches follow
// in walk order. Patterns, the exclusion list, the archive itself, the
// archive-attribute filter and freshen decide what is left out; the sizes of
// the files kept add up to TotalBytes.
#include <sys/stat.h>

#include <cerrno>
#include <unordered_set>

#include "zip/dir_search.h"
#include "zip/zip_mask.h"
#include "zip/zip_writer.h"

namespace vantrel::zip {

namespace {

bool HasWildcard(const std::string& s) {
  return s.find_first_of("*?<>|") != std::string::npos;
}

std::string LowerAscii(std::string s) {
  for (char& c : s) c = FoldAscii(c);
  return s;
}

std::string LastComponent(const std::string& s) {
  size_t slash = s.rfind('/');
  return slash == std::string::npos ? s : s.substr(slash + 1);
}

}  // namespace

bool MatchesPatternList(const std::vector<std::string>& list, const std::string& name) {
  if (list.empty()) return false;
  std::string whole = LowerAscii(name);
  std::string last = LastComponent(whole);
  for (const std::string& line : list) {
    if (line.empty()) continue;
    std::string pattern = LowerAscii(line);
    if (MatchMask(pattern, pattern.find('/') != std::string::npos ? whole : last)) return true;
  }
  return false;
}

void TZipWriter::ExpandFileList() {
  totalBytes_ = 0;
  bytesDone_ = 0;
  {
    // The archive is recognised by its identity, whatever the spelling of
    // the path that reaches it.
    struct stat ast;
    archiveKnown_ = !zipName_.empty() && ::stat(zipName_.c_str(), &ast) == 0;
    archiveDev_ = archiveKnown_ ? static_cast<uint64_t>(ast.st_dev) : 0;
    archiveIno_ = archiveKnown_ ? static_cast<uint64_t>(ast.st_ino) : 0;
  }

  // Freshen adds only files that already have an entry: the stored names of
  // the archive's entries, compared exactly as every lookup of the writer.
  std::unordered_set<std::string> existing;
  const bool freshen = ZipAction == zaFreshen;
  if (freshen) {
    struct stat st;
    if (::stat(zipName_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      OpenIfNeeded();
      if (dirList_)
        for (int i = 0; i < dirList_->Count(); ++i)
          existing.insert(dirList_->Entry(i)->Path());
    }
  }
  auto knownToArchive = [&](const std::string& f) {
    return existing.count(StoredName(f)) != 0;
  };
  auto isArchive = [&](const struct stat& st) {
    return archiveKnown_ && static_cast<uint64_t>(st.st_dev) == archiveDev_ &&
           static_cast<uint64_t>(st.st_ino) == archiveIno_;
  };

  std::vector<std::string> kept;
  std::vector<int64_t> sizes;
  std::vector<std::string> patterns;

  for (const std::string& original : filesList_) {
    if (original.empty()) continue;
    if (original.back() == '/') {
      // A directory entry needs a name: "./" or "/" has none to store.
      if (PlainStoredName(original).empty()) continue;
      kept.push_back(original);
      sizes.push_back(0);
      continue;
    }
    std::string line = original;
    if (line.find('/') == std::string::npos) line = rootDir_ + line;
    struct stat st;
    bool exists = (StoreLinks ? ::lstat(line.c_str(), &st) : ::stat(line.c_str(), &st)) == 0;
    // A name with wildcard characters is a pattern, unless a file of exactly
    // that name exists (Linux names may contain "*", "?", "<", ">" and "|").
    if (HasWildcard(original) && !(exists && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))) {
      patterns.push_back(original);
      continue;
    }
    if (MatchesPatternList(ExcludeList, line)) continue;
    if (!exists) {
      struct stat lst;
      if (::lstat(line.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        const bool loop = ::stat(line.c_str(), &lst) != 0 && errno == ELOOP;
        if (OnLeftOut)
          OnLeftOut(this, line, loop ? "symbolic link loop"
                                     : "symbolic link to a file or directory that does not exist");
      } else if (OnNoSuchFile) {
        OnNoSuchFile(this, line);
      }
      continue;
    }
    if (isArchive(st)) continue;  // the archive never takes itself in
    if (freshen && !knownToArchive(line)) continue;
    int64_t size = S_ISREG(st.st_mode) || S_ISLNK(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
    kept.push_back(line);
    sizes.push_back(size);
    totalBytes_ += size;
  }

  for (const std::string& original : patterns) {
    std::string pattern = original;
    bool recurse = Recurse;
    if (pattern[0] == '|' || pattern[0] == '>') {
      recurse = pattern[0] == '>';
      pattern.erase(0, 1);
    }
    size_t slash = pattern.rfind('/');
    std::string dir = slash == std::string::npos ? rootDir_ : pattern.substr(0, slash + 1);
    std::string mask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    auto noMatch = [&]() {
      if (OnNoMatch) OnNoMatch(this, pattern);
    };
    if (dir.empty() || mask.empty()) continue;
    // A directory part with wildcards names no existing directory.
    struct stat dst;
    if (HasWildcard(dir) || ::stat(dir.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode)) {
      noMatch();
      continue;
    }

    TDirSearch search(dir, recurse, mask, StoreLinks);
    search.OnLeftOut = [this](const std::string& path, const std::string& why) {
      if (!MatchesPatternList(ExcludeList, path) && OnLeftOut) OnLeftOut(this, path, why);
    };
    TDirItem item;
    bool matched = false;
    while (search.Next(item)) {
      if (item.isDirectory) {
        if (recurse && AddDirEntriesOnRecurse) {
          kept.push_back(item.name);
          sizes.push_back(0);
        }
        continue;
      }
      matched = true;
      if (MatchesPatternList(ExcludeList, item.name)) continue;
      if (archiveKnown_ && item.dev == archiveDev_ && item.ino == archiveIno_) continue;
      if (freshen && !knownToArchive(item.name)) continue;
      kept.push_back(item.name);
      sizes.push_back(item.size);
      totalBytes_ += item.size;
    }
    if (!matched) noMatch();
  }

  filesList_ = std::move(kept);
  lineSizes_ = std::move(sizes);
}

}  // namespace vantrel::zip
