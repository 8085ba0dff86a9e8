// cmd_add.cpp - add: create or update an archive from files and patterns;
// repair: write a new archive from what a damaged one still holds.
//
//   vantrel-zip add [-0..-9] [-r] [-D] [-X] [--unicode-extra] [-y] [-u | -f | -R] [-x PATTERN]... [-n PATTERN]...
//                   [-e [--zipcrypto] [-P PASSWORD]] [--split SIZE [--first-split SIZE]]
//                   [--threads N [--split-deflate]] ARCHIVE FILE-OR-PATTERN...
//   vantrel-zip repair [-P PASSWORD] DAMAGED NEW
//
// Names are stored relative to the current directory (RootDir, with
// RelativePaths), so "add -r out.zip docs/*.*" stores docs/... . A directory
// named on the command line stands for everything in it ("DIR/*.*"); with
// -r every directory met is stored as a directory entry too ("DIR/",
// "DIR/sub/", so that an empty one comes back), unless -D leaves them out. -u
// updates (the default), -f freshens, -R replaces; -x leaves out, -n stores
// without compression; -X writes no extra field but those the data needs
// (without it every new entry carries its modification time in UTC beside
// the DOS time); --unicode-extra adds a Unicode Path field to names that are
// not plain ASCII, for old readers; -y stores symbolic links as links (else the file a
// link points to is stored). -e encrypts the files added with AES-256 (asking
// for the password twice on the terminal unless -P gives it); --zipcrypto uses
// the traditional encryption instead, for old readers. --split writes the
// archive as block volumes of SIZE bytes (k, m and g multiply by 1024,
// 1024^2 and 1024^3): ARCHIVE's name with .001, .002, ... and the last one
// under ARCHIVE itself; --first-split gives the first volume another size.
// --threads compresses N files at once (0: one per processor; 1, the default:
// one after the other); the archive is the same bytes at every count.
// --split-deflate deflates each file of 4 MiB or more as 1 MiB pieces that
// the threads compress at once, so that one large file uses every core: any
// reader inflates it, but the bytes are not those written without it (the
// same at every thread count, a little larger).
// An archive whose
// directory is damaged is never updated (repair writes a new one instead).
// Every file left out is named with its reason, and so are a pattern that
// matches no file and the subdirectories of a directory named without -r (an
// empty one is left out itself). An add that would write an archive without
// entries writes nothing ("nothing to add").
// Exit status: 0 done, 1 done with files left out,
// 2 failed or nothing to add (the archive is then as it was before).
//
// repair writes NEW from the entries of DAMAGED that decode to their size and
// CRC (encrypted ones with -P), each under new records; every entry left out
// is named. Exit status: 0 every entry written, 1 some left out, 2 none could
// be saved (NEW is not written) or the run failed.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/text.h"
#include "zip/tool/commands.h"
#include "zip/tool/password_prompt.h"
#include "zip/tool/progress_bar.h"
#include "zip/zip_writer.h"

namespace vantrel::zip::tool {

namespace {

int Usage(const std::string& text) {
  std::fprintf(stderr, "vantrel-zip add: %s\n", platform::TerminalName(text).c_str());
  std::fprintf(stderr,
               "usage: vantrel-zip add [-0..-9] [-r] [-D] [-X] [--unicode-extra] [-y] [-u | -f | -R] [-x PATTERN]... "
               "[-n PATTERN]... [-e [--zipcrypto] [-P PASSWORD]] "
               "[--split SIZE [--first-split SIZE]] [--threads N [--split-deflate]] ARCHIVE FILE-OR-PATTERN...\n");
  return 2;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// What a directory named without -r leaves out: its subdirectories, or the
// directory itself when it holds nothing to add. Empty when nothing is left
// out.
std::string LeftOutOfDirectory(const std::string& dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  size_t files = 0, subdirs = 0;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code kind;
    if (it->is_directory(kind))
      ++subdirs;
    else
      ++files;
  }
  if (ec) return {};  // the walk names a directory it cannot read
  if (subdirs > 0)
    return std::to_string(subdirs) + (subdirs == 1 ? " subdirectory" : " subdirectories") +
           " left out (add -r adds them)";
  if (files == 0) return "left out, an empty directory (add -r stores it)";
  return {};
}

}  // namespace

std::optional<int> ParseThreadCount(const std::string& text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n > 1024) return std::nullopt;
  return n;
}

std::optional<int64_t> ParseVolumeSize(const std::string& text) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
  size_t end = 0;
  unsigned long long v = 0;
  try {
    v = std::stoull(text, &end, 10);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  int shift = 0;
  if (end + 1 == text.size()) {
    switch (text[end] | 0x20) {
      case 'k': shift = 10; break;
      case 'm': shift = 20; break;
      case 'g': shift = 30; break;
      default: return std::nullopt;
    }
  } else if (end != text.size()) {
    return std::nullopt;
  }
  if (v == 0 || v > (static_cast<unsigned long long>(kMaxVolumeSize) >> shift)) return std::nullopt;
  return static_cast<int64_t>(v << shift);
}

int RunAdd(const std::vector<std::string>& args) {
  int level = 6;
  bool recurse = false;
  bool dirEntries = true;
  bool storeLinks = false;
  bool extraTimes = true, unicodeExtra = false;
  TZipAction action = zaUpdate;
  std::vector<std::string> exclude, noCompress;
  bool encrypt = false, zipCrypto = false;
  std::optional<std::string> password;
  std::optional<int64_t> split, firstSplit;
  int threads = 1;
  bool splitDeflate = false;
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      ++i;
      break;
    }
    if (a.size() < 2 || a[0] != '-') break;
    if (a.size() == 2 && a[1] >= '0' && a[1] <= '9') {
      level = a[1] - '0';
    } else if (a == "-r") {
      recurse = true;
    } else if (a == "-D") {
      dirEntries = false;
    } else if (a == "-X") {
      extraTimes = false;
    } else if (a == "--unicode-extra") {
      unicodeExtra = true;
    } else if (a == "-y") {
      storeLinks = true;
    } else if (a == "-u") {
      action = zaUpdate;
    } else if (a == "-f") {
      action = zaFreshen;
    } else if (a == "-R") {
      action = zaReplace;
    } else if (a == "-e") {
      encrypt = true;
    } else if (a == "--zipcrypto") {
      zipCrypto = true;
    } else if (a == "-P" && i + 1 < args.size()) {
      password = args[++i];
    } else if ((a == "--split" || a == "--first-split") && i + 1 < args.size()) {
      const std::optional<int64_t> size = ParseVolumeSize(args[++i]);
      if (!size) return Usage("bad volume size '" + args[i] + "' (1 byte to 4 GiB - 1, k/m/g allowed)");
      (a == "--split" ? split : firstSplit) = size;
    } else if (a == "--threads" && i + 1 < args.size()) {
      const std::optional<int> n = ParseThreadCount(args[++i]);
      if (!n) return Usage("bad thread count '" + args[i] + "' (0 for one per processor, up to 1024)");
      threads = *n;
    } else if (a == "--split-deflate") {
      splitDeflate = true;
    } else if ((a == "-x" || a == "-n") && i + 1 < args.size()) {
      (a == "-x" ? exclude : noCompress).push_back(args[++i]);
    } else {
      return Usage("unknown option '" + a + "'");
    }
  }
  if (i + 2 > args.size()) return Usage("an archive and at least one file are needed");
  const std::string archive = args[i++];
  if ((zipCrypto || password) && !encrypt) return Usage("-P and --zipcrypto go with -e");
  if (encrypt && !password) {
    password = ReadPassword("Enter password: ");
    if (!password) return Usage("-e needs a password: give -P or run on a terminal");
    const std::optional<std::string> again = ReadPassword("Verify password: ");
    if (!again || *again != *password) return Usage("the passwords do not match");
  }
  if (encrypt && password->empty()) return Usage("the password is empty");
  if (firstSplit && !split) return Usage("--first-split goes with --split");

  // A size limit of the process should end the run with a message, not kill it.
  std::signal(SIGXFSZ, SIG_IGN);

  TProgressBar bar;
  int warnings = 0;
  auto warn = [&](const std::string& text) {
    bar.Clear();
    std::fprintf(stderr, "vantrel-zip: %s\n", platform::TerminalName(text).c_str());
    ++warnings;
  };

  TZipWriter w;
  try {
    w.SetZipName(archive);
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd)) return Usage("the current directory cannot be read");
    w.AddRelativeTo(cwd, recurse, dirEntries);
    w.StoreLinks = storeLinks;
    w.PackLevel = level;
    w.Threads = threads;
    w.SplitDeflate = splitDeflate;
    w.ExtraTimes = extraTimes;
    w.UnicodePathField = unicodeExtra;
    w.ZipAction = action;
    w.ExcludeList = exclude;
    w.NoCompressList = noCompress;
    if (split) {
      w.MultiZipInfo.MultiMode = TMultiMode::mmBlocks;
      w.MultiZipInfo.BlockSize = *split;
      w.MultiZipInfo.FirstBlockSize = firstSplit ? *firstSplit : *split;
    }
    if (encrypt) {
      w.Encryption = zipCrypto ? TZipEncryption::ZipCrypto : TZipEncryption::Aes256;
      w.Password = *password;
    }
    // The patterns made here for directories: what they leave out is said
    // of the directory itself.
    std::set<std::string> directoryPatterns;
    for (; i < args.size(); ++i) {
      std::string name = args[i];
      if (IsDirectory(name)) {
        while (name.size() > 1 && name.back() == '/') name.pop_back();
        if (!recurse) {
          const std::string leftOut = LeftOutOfDirectory(name);
          if (!leftOut.empty()) warn(name + ": " + leftOut);
        }
        // The directory itself first, as a recursive walk stores those in it.
        if (w.AddDirEntriesOnRecurse) w.AddFile(name == "/" ? name : name + "/");
        name += name == "/" ? "*.*" : "/*.*";
        directoryPatterns.insert(name);
      }
      w.AddFile(name);
    }
    w.OnNoSuchFile = [&](TZipWriter*, const std::string& f) { warn(f + ": no such file"); };
    w.OnNoMatch = [&](TZipWriter*, const std::string& pattern) {
      if (!directoryPatterns.count(pattern)) warn(pattern + ": no file matches");
    };
    w.OnSkippingFile = [&](TZipReader*, TSkipReason reason, const std::string& f, int, bool&) {
      warn(f + (reason == skipNoOverwrite ? ": left out, the archive already holds this name"
                                          : ": left out, cannot be opened as a file"));
    };
    w.OnFileChanged = [&](TZipWriter*, const std::string& f, const std::string& what) {
      warn("warning: " + f + ": " + what);
    };
    w.OnLeftOut = [&](TZipWriter*, const std::string& f, const std::string& why) {
      warn(f + ": left out, " + why);
    };
    w.OnTotalPercentDone = [&](TZipReader*, int p) { bar.Show(p); };
    int added = w.Zip();
    bar.Clear();
    std::printf("%d %s added to %s\n", added, added == 1 ? "entry" : "entries",
                platform::TerminalName(archive).c_str());
    if (w.Volumes().size() > 1) {
      std::printf("%zu volumes:", w.Volumes().size());
      for (const std::string& v : w.Volumes()) std::printf(" %s", platform::TerminalName(v).c_str());
      std::printf("\n");
    }
  } catch (const std::exception& e) {
    bar.Clear();
    std::fprintf(stderr, "vantrel-zip: %s: %s\n", platform::TerminalName(archive).c_str(),
                 platform::TerminalName(e.what()).c_str());
    return 2;
  }
  if (std::fflush(stdout) != 0) return 2;
  return warnings ? 1 : 0;
}

int RunRepair(const std::vector<std::string>& args) {
  std::vector<std::string> rest = args;
  std::string password;
  if (rest.size() >= 2 && rest[0] == "-P") {
    password = rest[1];
    rest.erase(rest.begin(), rest.begin() + 2);
  }
  if (rest.size() != 2) {
    std::fprintf(stderr, "usage: vantrel-zip repair [-P PASSWORD] DAMAGED NEW\n");
    return 2;
  }
  const std::string& damaged = rest[0];
  const std::string& repaired = rest[1];
  TZipWriter w;
  w.DoProcessMessages = false;
  w.Password = password;
  int leftOut = 0;
  auto say = [&](TZipReader* z, int index, const std::string& why) {
    ++leftOut;
    std::fprintf(stderr, "left out: %s: %s\n", platform::TerminalName(z->Entry(index).Path()).c_str(),
                 why.c_str());
  };
  w.OnEntryError = say;
  w.OnBadCRC = [&](TZipReader* z, int32_t, int32_t, int index) { say(z, index, "bad CRC"); };
  w.OnSkippingFile = [&](TZipReader* z, TSkipReason reason, const std::string&, int index, bool&) {
    say(z, index, reason == skipBadPassword
                      ? (password.empty() ? "encrypted; its password (-P) is needed to check it"
                                          : "wrong password")
                      : "cannot be checked");
  };
  try {
    w.SetZipName(damaged);
    int kept = 0;
    std::string failure;
    try {
      kept = w.Repair(repaired);
    } catch (const EBadZipFile& e) {
      failure = e.what();
    }
    const TDirectoryReport& report = w.DirectoryReport();
    const std::string damage = report.Damage();
    if (!damage.empty())
      std::fprintf(stderr, "vantrel-zip: %s: %s\n", platform::TerminalName(damaged).c_str(),
                   damage.c_str());
    const long long total = std::max<long long>(report.announced, report.read);
    // Nothing was written when the repair failed: no count of written entries.
    if (!failure.empty()) {
      std::fprintf(stderr, "vantrel-zip: %s: %s\n", platform::TerminalName(damaged).c_str(),
                   platform::TerminalName(failure).c_str());
      return 2;
    }
    std::printf("%d of %lld entries written to %s\n", kept, total,
                platform::TerminalName(repaired).c_str());
    if (std::fflush(stdout) != 0) return 2;
    return kept < total || leftOut > 0 ? 1 : 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vantrel-zip: %s: %s\n", platform::TerminalName(damaged).c_str(),
                 platform::TerminalName(e.what()).c_str());
    return 2;
  }
}

}  // namespace vantrel::zip::tool
