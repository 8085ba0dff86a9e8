// content_match.h - finding text or bytes in a stream of data.
//
// A query (text, expression or hex bytes, with case, whole words and the
// encodings to try) is compiled once into a TContentMatcher; a
// TContentScanner then runs it over one file or archive entry after the
// other. The scanner takes the data in blocks and keeps only what a match
// may still need from the blocks before: the start of a match that the next
// block may complete, a little context for lookbehind and word edges, and
// the start of the line for display. Its memory is bounded (kCarryLimit plus
// one block) whatever the size of the data: a match longer than kCarryLimit
// is not found.
//
// How each kind of query is searched:
//   * hex bytes, and text with case (or text all in ASCII without case), are
//     byte strings, one per encoding (and per Unicode form: the composed
//     and the decomposed spelling of the text are both searched). A scan
//     looks for the needle's rarest byte with memchr and compares around
//     it; without case, ASCII letters compare folded;
//   * everything else (expressions, non-ASCII text without case) runs
//     through PCRE2: the 8-bit library on the bytes for UTF-8, the 16-bit
//     library on units made from the bytes for UTF-16 (little and big
//     endian, at even offsets) and for the single-byte page (one unit per
//     byte), always in its mode for invalid UTF, so binary data are searched
//     as they are;
//   * whole words: the match must neither follow nor precede a letter, mark,
//     digit or "_" (Unicode's classes, in the match's own encoding).
// "^" and "$" in an expression stand for the start and end of a line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/codepages.h"

namespace vantrel::tools {

// The encodings a text is searched in; several at once.
enum TTextEncoding : uint8_t {
  kEncUtf8 = 1,
  kEncUtf16LE = 2,
  kEncUtf16BE = 4,
  kEncCodePage = 8,
};

struct TContentQuery {
  std::string text;  // UTF-8 as typed; for hex, pairs of hex digits (blanks between allowed)
  bool caseSensitive = false;
  bool wholeWords = false;
  bool regex = false;
  bool hex = false;
  uint8_t encodings = kEncUtf8;
  platform::CodePage codePage = platform::CodePage::Latin1;
};

// The first match of a scan.
struct TContentHit {
  uint64_t offset = 0;    // of the match's first byte in the data
  uint8_t encoding = 0;   // the TTextEncoding that matched; 0 for hex bytes
  std::string line;       // the line around the match, UTF-8 for display, cut to ~240 characters
  size_t matchStart = 0;  // the match within `line` (bytes of the UTF-8 text)
  size_t matchLength = 0;
};

class TContentMatcher;
class TContentScanner;

// Reads data in blocks of this size.
inline constexpr size_t kScanBlock = 64 * 1024;
// At most this much of the data before a block is kept for a match that is
// still open.
inline constexpr size_t kCarryLimit = 1024 * 1024;

class TContentMatcher {
 public:
  // Null with `error` ("Not a hex byte: 4G", the expression's error) when the
  // query cannot be searched for. A query that no encoding can represent
  // (text that the chosen page lacks, with no other encoding) compiles and
  // never matches.
  static std::unique_ptr<TContentMatcher> Compile(const TContentQuery& query, std::string* error);
  ~TContentMatcher();
  TContentMatcher(const TContentMatcher&) = delete;
  TContentMatcher& operator=(const TContentMatcher&) = delete;

  const TContentQuery& Query() const { return query_; }

  // One way of finding the query (per encoding and spelling); defined in
  // the implementation.
  class TFinder;

 private:
  friend class TContentScanner;
  TContentMatcher() = default;
  TContentQuery query_;
  std::vector<std::unique_ptr<TFinder>> finders_;
};

// One scan at a time; reusable with Reset. Not shared between threads (the
// matcher may be).
class TContentScanner {
 public:
  explicit TContentScanner(const TContentMatcher& matcher);
  ~TContentScanner();
  TContentScanner(const TContentScanner&) = delete;
  TContentScanner& operator=(const TContentScanner&) = delete;

  // Starts a new stream of data.
  void Reset();
  // Room for the next block: at least kScanBlock bytes at the returned
  // address.
  uint8_t* WriteArea();
  // `n` bytes were written into the write area. True once the data so far
  // hold a match (Hit() says where); more data are then not needed.
  bool Commit(size_t n);
  // The same for data held elsewhere (copied in, in blocks).
  bool Feed(const uint8_t* data, size_t n);
  // The end of the data: decides what waited for more. True when matched.
  bool Finish();
  bool Matched() const { return matched_; }
  const TContentHit& Hit() const { return hit_; }

  // Scratch space a finder may keep between blocks (units of UTF-16).
  std::vector<uint16_t>& Units() { return units_; }

 private:
  bool Scan(bool atEnd);
  void MakeHit(size_t finder, uint64_t start, uint64_t length);
  void Compact();

  const TContentMatcher& matcher_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t capacity_ = 0;
  size_t size_ = 0;      // bytes held
  uint64_t base_ = 0;    // stream offset of buffer_[0]
  std::vector<uint64_t> resume_;  // per finder: where its next search starts
  std::vector<uint16_t> units_;
  bool matched_ = false;
  bool finished_ = false;
  TContentHit hit_;
};

// The text of `data` as UTF-8 for display: invalid sequences become U+FFFD
// and control characters (tab excepted) become "·"; `encoding` is a
// TTextEncoding or 0 for raw bytes (shown like Latin-1).
std::string DisplayText(const uint8_t* data, size_t n, uint8_t encoding,
                        platform::CodePage page = platform::CodePage::Latin1);

}  // namespace vantrel::tools
