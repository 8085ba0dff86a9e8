// read_commands.cpp - list, test and extract.
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/codepages.h"
#include "platform/text.h"
#include "zip/tool/commands.h"
#include "zip/tool/progress_bar.h"
#include "zip/zip_reader.h"

namespace vantrel::zip::tool {

namespace {

// Answers the engine on the terminal: messages go to stderr; the overwrite
// question is asked when standard input is a terminal, else the file is kept.
class TTerminalUI final : public TZipUserInterface {
 public:
  void ShowMessage(const std::string& text, const std::string& caption) override {
    std::fprintf(stderr, "%s%s%s\n", caption.c_str(), caption.empty() ? "" : ": ", text.c_str());
  }
  bool AskYesNo(const std::string& text, const std::string&) override {
    if (!::isatty(STDIN_FILENO)) return false;
    ClearProgress();
    std::fprintf(stderr, "%s [y/N] ", text.c_str());
    std::fflush(stderr);
    char line[64];
    if (!std::fgets(line, sizeof line, stdin)) return false;
    return line[0] == 'y' || line[0] == 'Y';
  }

  void Progress(int percent) { bar_.Show(percent); }
  void ClearProgress() { bar_.Clear(); }

 private:
  TProgressBar bar_;
};

const char* MethodName(uint16_t method, char* buf, size_t size) {
  if (const char* name = CompressionMethodName(method)) return name;
  std::snprintf(buf, size, "M%u", method);
  return buf;
}

// The encryption column of "list -v".
std::string EncryptionName(const TZipHeaderInfo& e) {
  if (e.GeneralPurposeFlags & kFlagStrongEncryption) return "Strong";
  if (e.IsAes())
    return "AES-" + std::to_string(64 + 64 * e.AesStrength) + "/AE-" + std::to_string(e.AesVersion);
  if (e.CompressionMethod == 99) return "AES?";
  return e.IsEncrypted() ? "ZipCrypto" : "-";
}

// The entry's date and time as "YYYY-MM-DD HH:MM:SS": its exact time in
// local time when it has one, else the DOS fields as stored.
std::string DateText(const TZipHeaderInfo& e) {
  unsigned year, month, day, hour, minute, second;
  std::tm tm{};
  const std::time_t t = e.ModTime().tv_sec;
  if (e.ExactModTime != kNoExactTime && localtime_r(&t, &tm)) {
    year = static_cast<unsigned>(tm.tm_year + 1900), month = static_cast<unsigned>(tm.tm_mon + 1);
    day = static_cast<unsigned>(tm.tm_mday), hour = static_cast<unsigned>(tm.tm_hour);
    minute = static_cast<unsigned>(tm.tm_min), second = static_cast<unsigned>(tm.tm_sec);
  } else {
    const uint32_t d = e.LastModDateTime;
    year = 1980 + (d >> 25), month = (d >> 21) & 15, day = (d >> 16) & 31;
    hour = (d >> 11) & 31, minute = (d >> 5) & 63, second = (d & 31) * 2;
  }
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", year, month, day, hour, minute,
                second);
  return buf;
}

int Fail(const std::string& text) {
  std::fprintf(stderr, "vantrel-zip: %s\n", platform::TerminalName(text).c_str());
  return 2;
}

// The engine reads an empty file as an empty archive (add writes into one);
// list, test and extract say that it holds none, as every other reader does:
// a test that says "0 entries OK" of a file cut to nothing would pass it as
// whole.
void RefuseEmptyFile(const std::string& archive, const TZipReader& zip) {
  std::error_code ec;
  if (zip.Count() == 0 && std::filesystem::is_regular_file(archive, ec) &&
      std::filesystem::file_size(archive, ec) == 0 && !ec)
    throw std::runtime_error("an empty file, no ZIP archive in it");
}

// A name as it may reach the terminal.
std::string Shown(const std::string& name) { return platform::TerminalName(name); }

// Says on stderr what is wrong with the archive's directory; true when
// anything is.
bool ReportDamage(const std::string& archive, const TZipReader& zip) {
  const std::string damage = zip.DirectoryReport().Damage();
  if (damage.empty()) return false;
  std::fprintf(stderr, "vantrel-zip: %s: %s\n", Shown(archive).c_str(), damage.c_str());
  return true;
}

// Says on stderr that the archive follows a program of its own.
void ReportStub(const std::string& archive, const TZipReader& zip) {
  const std::string note = zip.StubNote();
  if (!note.empty()) std::fprintf(stderr, "vantrel-zip: %s: %s\n", Shown(archive).c_str(), note.c_str());
}

struct TOptions {
  std::string destDir;
  bool haveDestDir = false;
  TUZOverwriteMode overwrite = TUZOverwriteMode::Prompt;
  bool junkPaths = false;
  int threads = 1;
  std::string password;
  std::string codePage;  // empty: automatic
  std::string archive;
  std::vector<std::string> masks;
};

// Parses options before the archive name; false (with a message) on misuse.
bool ParseOptions(const std::vector<std::string>& args, bool extract, TOptions& o) {
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      ++i;
      break;
    }
    if (a.size() < 2 || a[0] != '-') break;
    if (a == "-P" && i + 1 < args.size()) {
      o.password = args[++i];
    } else if (a == "-O" && i + 1 < args.size()) {
      const std::string& page = args[++i];
      if (page == "auto" || page == "AUTO") {
        o.codePage.clear();
      } else if (platform::IsKnownCodePage(page)) {
        o.codePage = page;
      } else {
        std::fprintf(stderr, "vantrel-zip: unknown code page '%s'\n", Shown(page).c_str());
        return false;
      }
    } else if (extract && a == "-d" && i + 1 < args.size()) {
      o.destDir = args[++i];
      o.haveDestDir = true;
    } else if (extract && a == "-o") {
      o.overwrite = TUZOverwriteMode::Always;
    } else if (extract && a == "-n") {
      o.overwrite = TUZOverwriteMode::Never;
    } else if (extract && a == "-j") {
      o.junkPaths = true;
    } else if (extract && a == "--threads" && i + 1 < args.size()) {
      const std::optional<int> n = ParseThreadCount(args[++i]);
      if (!n) {
        std::fprintf(stderr, "vantrel-zip: bad thread count '%s' (0 for one per processor, up to 1024)\n",
                     Shown(args[i]).c_str());
        return false;
      }
      o.threads = *n;
    } else {
      std::fprintf(stderr, "vantrel-zip: unknown or incomplete option '%s'\n", Shown(a).c_str());
      return false;
    }
  }
  if (i >= args.size()) {
    std::fprintf(stderr, "vantrel-zip: no archive given\n");
    return false;
  }
  o.archive = args[i++];
  o.masks.assign(args.begin() + static_cast<long>(i), args.end());
  if (!extract && !o.masks.empty()) {
    std::fprintf(stderr, "vantrel-zip: unexpected argument '%s'\n", Shown(o.masks[0]).c_str());
    return false;
  }
  return true;
}

// Runs an extraction or a test and reports every entry that failed.
int RunUnZip(const TOptions& o, bool testOnly) {
  TTerminalUI ui;
  TZipReader zip(&ui);
  zip.DoProcessMessages = false;
  zip.Password = o.password;
  zip.SetCodePage(o.codePage);
  zip.TestOnly = testOnly;
  zip.RecreateDirs = !o.junkPaths;
  zip.OverwriteMode = o.overwrite;
  zip.Threads = o.threads;
  int failures = 0;
  zip.OnBadCRC = [&](TZipReader* z, int32_t calc, int32_t stored, int index) {
    ui.ClearProgress();
    std::fprintf(stderr, "bad CRC %08" PRIx32 " (should be %08" PRIx32 "): %s\n",
                 static_cast<uint32_t>(calc), static_cast<uint32_t>(stored),
                 Shown(z->Entry(index).Path()).c_str());
    ++failures;
  };
  zip.OnEntryError = [&](TZipReader* z, int index, const std::string& message) {
    ui.ClearProgress();
    std::fprintf(stderr, "%s: %s\n", Shown(z->Entry(index).Path()).c_str(), message.c_str());
    ++failures;
  };
  zip.OnSkippingFile = [&](TZipReader*, TSkipReason reason, const std::string& name, int,
                           bool&) {
    ui.ClearProgress();
    static const char* why[] = {"wrong password", "file exists", "cannot open",
                                "cannot create"};
    std::fprintf(stderr, "skipped (%s): %s\n", why[reason], Shown(name).c_str());
    if (reason != skipNoOverwrite) ++failures;
  };
  zip.OnTotalPercentDone = [&](TZipReader*, int percent) { ui.Progress(percent); };
  bool damaged = false;
  try {
    zip.SetZipName(o.archive);
    if (o.haveDestDir) zip.SetDestDir(o.destDir);
    if (o.masks.empty())
      zip.DoAll = true;
    else
      zip.SetFilesList(o.masks);
    // A damaged directory is said before anything else; what can be read is
    // still tested or extracted.
    zip.ReadZip();
    RefuseEmptyFile(o.archive, zip);
    damaged = ReportDamage(o.archive, zip);
    ReportStub(o.archive, zip);
    int count = zip.UnZip();
    ui.ClearProgress();
    // The summary says what is missing as well as what failed.
    std::string missing;
    for (const std::string& v : zip.MissingVolumes()) missing += (missing.empty() ? "" : ", ") + Shown(v);
    const bool incomplete = !missing.empty();
    if (testOnly || failures > 0 || incomplete)
      std::printf("%d entries %s, %d failed%s%s%s\n", count, testOnly ? "OK" : "extracted", failures,
                  damaged ? ", archive directory damaged" : "",
                  incomplete ? (zip.MissingVolumes().size() == 1 ? ", missing volume " : ", missing volumes ") : "",
                  missing.c_str());
    if (incomplete) damaged = true;
  } catch (const std::exception& e) {
    ui.ClearProgress();
    return Fail(o.archive + ": " + e.what());
  }
  if (std::fflush(stdout) != 0) return 2;
  if (damaged) return 2;
  return failures ? 1 : 0;
}

}  // namespace

int RunList(const std::vector<std::string>& args) {
  TOptions o;
  std::vector<std::string> rest = args;
  const bool verbose = !rest.empty() && rest[0] == "-v";
  if (verbose) rest.erase(rest.begin());
  if (!ParseOptions(rest, false, o)) return 2;
  TZipReader zip;
  zip.DoProcessMessages = false;
  zip.SetCodePage(o.codePage);
  try {
    zip.SetZipName(o.archive);
    zip.ReadZip();
    RefuseEmptyFile(o.archive, zip);
    ReportStub(o.archive, zip);
  } catch (const std::exception& e) {
    return Fail(o.archive + ": " + e.what());
  }
  // The listing goes out in pieces of 64 KB: one string for the whole of a
  // large archive would cost as much memory again as its directory.
  constexpr size_t kPiece = 65536;
  std::string out;
  out.reserve(kPiece + 1024);
  auto emit = [&out](bool last) {
    if (out.size() < kPiece && !last) return;
    std::fwrite(out.data(), 1, out.size(), stdout);
    out.clear();
  };
  if (verbose) {
    // Method (for AES entries the one inside), encryption, CRC, sizes, date, name.
    out += "Method     Encryption    CRC-32        Packed     Length  Date       Time      Name\n";
    char line[160], mbuf[16];
    for (int i = 0; i < zip.Count(); ++i) {
      const TZipHeaderInfo& e = zip.Entry(i);
      std::snprintf(line, sizeof line,
                    "%-10s %-12s  %08" PRIx32 " %10" PRIu64 " %10" PRIu64 "  %s  ",
                    MethodName(e.IsAes() ? e.AesMethod : e.CompressionMethod, mbuf, sizeof mbuf),
                    EncryptionName(e).c_str(), e.CRC32, e.CompressedSize, e.UncompressedSize,
                    DateText(e).c_str());
      out += line;
      out += Shown(e.Path());
      out += '\n';
      // The entry's comment on the line below, indented.
      if (e.HasComment()) {
        try {
          out += "    Comment: " + Shown(zip.FileCommentText(i)) + '\n';
        } catch (const std::exception&) {
          out += "    Comment: (cannot be read)\n";
        }
      }
      emit(false);
    }
    try {
      const std::string comment = zip.ZipComment();
      if (!comment.empty()) out += "Archive comment: " + Shown(comment) + '\n';
    } catch (const std::exception&) {
    }
    emit(true);
    return std::fflush(stdout) == 0 ? 0 : 2;
  }
  out += "    Length     Packed  Method   Date       Time      CRC-32    Name\n";
  uint64_t total = 0, packed = 0;
  int files = 0;
  char line[128], mbuf[16];
  for (int i = 0; i < zip.Count(); ++i) {
    const TZipHeaderInfo& e = zip.Entry(i);
    std::snprintf(line, sizeof line,
                  "%10" PRIu64 " %10" PRIu64 "  %-7s  %s  %08" PRIx32 "%c ",
                  e.UncompressedSize, e.CompressedSize,
                  MethodName(e.CompressionMethod, mbuf, sizeof mbuf), DateText(e).c_str(),
                  e.CRC32, e.IsEncrypted() ? '*' : ' ');
    out += line;
    out += Shown(e.Path());
    out += '\n';
    emit(false);
    total += e.UncompressedSize;
    packed += e.CompressedSize;
    // Every entry but a directory is a file, one without a name too.
    const std::string_view path = e.PathView();
    if (path.empty() || path.back() != '/') ++files;
  }
  std::snprintf(line, sizeof line, "%10" PRIu64 " %10" PRIu64 "  %d files\n", total, packed,
                files);
  out += line;
  emit(true);
  if (std::fflush(stdout) != 0) return 2;
  return ReportDamage(o.archive, zip) ? 2 : 0;
}

int RunTest(const std::vector<std::string>& args) {
  TOptions o;
  if (!ParseOptions(args, false, o)) return 2;
  return RunUnZip(o, true);
}

int RunExtract(const std::vector<std::string>& args) {
  TOptions o;
  if (!ParseOptions(args, true, o)) return 2;
  return RunUnZip(o, false);
}

}  // namespace vantrel::zip::tool
