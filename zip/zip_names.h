// zip_names.h - which text an entry's name and comment stand for.
//
// The stored bytes of a name are one of three things: UTF-8 (flag bit 11), a
// name whose Unicode text travels in an Info-ZIP Unicode Path extra field
// (0x7075) beside bytes for older readers, or bytes in the code page of the
// system that wrote the archive (DOS and Windows archivers write their OEM
// page: CP437 in America, CP850 in Western Europe, CP866 in Russia, CP932 in
// Japan). The code page is one choice per archive: automatic by default (a
// directory of valid UTF-8 is UTF-8, else the page whose reading gives the
// most plausible text for every name), or set by the user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel::zip {

class TZipHeaderInfo;
class TNameArena;

inline constexpr uint16_t kUnicodePathExtraId = 0x7075;
inline constexpr uint16_t kUnicodeCommentExtraId = 0x6375;
// The page "automatic" stands for in settings and on the command line.
inline constexpr std::string_view kCodePageAuto = "";
inline constexpr std::string_view kCodePageUtf8 = "UTF-8";

// The UTF-8 text of a Unicode Path or Unicode Comment field `id` in `extra`,
// when the field is version 1, its CRC is that of `stored` (the name or
// comment as stored in the record) and its text is valid UTF-8; nothing
// otherwise (the field then belongs to an older state of the entry).
std::optional<std::string> UnicodeExtraText(const uint8_t* extra, size_t size, uint16_t id,
                                            std::string_view stored);
// The Unicode Path field for `utf8`, naming `stored` as the plain name.
std::string UnicodePathExtra(std::string_view utf8, std::string_view stored);

// How plausible `text` (UTF-8, converted from `raw` in `page`) is as a file
// name: letters of one script score, box drawing, control characters and
// letters of several scripts side by side cost. Larger is better.
int NamePlausibility(std::string_view text, std::string_view raw, std::string_view page);

// The page the names of one archive are most likely in: "UTF-8" when every
// name is valid UTF-8, else the candidate page (platform::NameCodePages) in
// which every name converts and the sum of plausibilities is largest; equal
// sums go to `preferred` (the locale's page) when it is one of them, else to
// the first in the list. "CP437" when there is nothing to go by.
std::string DetectCodePage(const std::vector<std::string>& rawNames, std::string_view preferred);

// `raw` converted from `page` ("UTF-8" or a code page) with "\" made "/";
// a name that is no text in the page is read as CP437, so that no entry is
// ever lost for its name.
std::string NameFromPage(std::string_view raw, std::string_view page);

// Decodes the names of one directory as it is read. Names that need the
// archive's code page get a provisional reading while records are read; with
// the automatic choice Finish decides the page once it has seen all of them
// and gives those entries their names.
class TNameDecoder {
 public:
  // page: kCodePageAuto, "UTF-8" or a code page name.
  explicit TNameDecoder(std::string page, std::string preferred = {});

  // Gives `entry` its name from the stored bytes `raw`, its general purpose
  // flags and its extra field.
  void Decode(TZipHeaderInfo& entry, std::string_view raw, const uint8_t* extra, size_t extraSize,
              TNameArena* arena);
  // Chooses the automatic page and renames the entries that wait for it.
  void Finish(TNameArena* arena);
  // The page the code-page names were read in ("CP866"); "UTF-8" or the page
  // set by hand; before Finish of an automatic choice, empty.
  const std::string& PageUsed() const { return used_; }
  // Whether any name of the directory was read through the code page.
  bool UsedPage() const { return !pending_.empty() || sawPageName_; }

 private:
  std::string page_;
  std::string preferred_;
  std::string used_;
  bool sawPageName_ = false;
  std::vector<std::pair<TZipHeaderInfo*, std::string>> pending_;
};

}  // namespace vantrel::zip
