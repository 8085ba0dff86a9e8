// sevenzip_program.h - the 7-Zip program as the decoder of encrypted 7z and
// RAR archives, which libarchive lists but cannot decrypt.
//
// The password goes to the program through its standard input, never on its
// command line (which every user of the machine can read). Member names go
// in a private list file with wildcards turned off, so a name with "*" or
// "[" means only itself. The program writes the members asked for to its
// standard output one after the other in the archive's order; the caller
// splits that stream by the members' sizes and checks each part against
// the CRC-32 the listing gave.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/fs.h"

namespace vantrel::formats {

struct TSevenZipEntry {
  std::string path;
  bool directory = false;
  bool symlink = false;
  bool encrypted = false;
  bool sizeKnown = false;
  bool crcKnown = false;
  uint32_t mode = 0;
  uint32_t crc = 0;
  uint64_t size = 0;
  platform::FileTime writeTime = 0;
};

enum class TSevenZipResult : uint8_t { Ok, WrongPassword, NoProgram, Failed };

// The program's path ("7zz", else "7z"), empty when neither is installed.
std::string SevenZipProgram();

// Lists the archive (the password may be empty when the listing is not
// encrypted). Failed with `error` holding the program's message.
TSevenZipResult SevenZipList(const std::string& archive, const std::string& password,
                             std::vector<TSevenZipEntry>& out, std::string* error);

// Parses the program's technical listing ("-slt"): the blocks of
// "Name = value" lines after the archive's own block.
std::vector<TSevenZipEntry> ParseSevenZipListing(const std::string& text);

// Whether `password` opens the encrypted member `path` (the program tests
// it without writing anything).
TSevenZipResult SevenZipTest(const std::string& archive, const std::string& password, const std::string& path,
                             std::string* error);

// The members `paths` sent to standard output one after the other.
class TSevenZipExtraction final {
 public:
  TSevenZipExtraction() = default;
  ~TSevenZipExtraction();
  TSevenZipExtraction(const TSevenZipExtraction&) = delete;
  TSevenZipExtraction& operator=(const TSevenZipExtraction&) = delete;

  bool Start(const std::string& archive, const std::string& password, const std::vector<std::string>& paths,
             std::string* error);
  // Reads output: the count, 0 at its end, -1 on failure.
  ssize_t Read(void* data, size_t n);
  // Ends the program (at once when `abandon`); its exit status, and its last
  // message in `error` when it failed.
  int Finish(bool abandon, std::string* error);

 private:
  platform::TChildProcess child_;
  std::string listFile_;
};

// The program's last error line in its output, for a message.
std::string SevenZipMessage(const std::string& output);

}  // namespace vantrel::formats
