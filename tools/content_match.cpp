// content_match.cpp - the finders (bytes, PCRE2 on UTF-8, PCRE2 on units of
// 16 bits) and the scanner that feeds them blocks of data.
#include "tools/content_match.h"

#define PCRE2_CODE_UNIT_WIDTH 0
#include <pcre2.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "tools/unicode.h"

namespace vantrel::tools {

namespace {

// Bytes kept before a finder's next start, for word edges, short lookbehind
// and the start of the line shown with a match.
constexpr size_t kContext = 256;
// How much of the line before and after a match is shown, in characters.
constexpr size_t kLineBefore = 80;
constexpr size_t kLineAfter = 160;

bool IsUtf16(uint8_t encoding) { return encoding == kEncUtf16LE || encoding == kEncUtf16BE; }

char32_t PageChar(platform::CodePage page, unsigned char b) {
  return b < 0x80 ? b : platform::CodePageChar(page, b);
}

// The code unit of UTF-16 at byte `i`.
uint16_t Unit16(const uint8_t* d, size_t i, uint8_t encoding) {
  return encoding == kEncUtf16LE ? static_cast<uint16_t>(d[i] | (d[i + 1] << 8))
                                 : static_cast<uint16_t>((d[i] << 8) | d[i + 1]);
}

// ---------------------------------------------------------------------------
// Characters next to a match, for whole words

enum class TEdge { Word, NoWord, Unknown };

TEdge ClassOf(char32_t c) { return IsWordChar(c) ? TEdge::Word : TEdge::NoWord; }

// The character that ends just before byte `at` (`at` > 0).
TEdge EdgeBefore(const uint8_t* d, size_t at, uint8_t encoding, platform::CodePage page) {
  if (encoding == kEncUtf8) {
    size_t lead = at - 1;
    while (lead > 0 && at - lead < 4 && (d[lead] & 0xC0) == 0x80) --lead;
    size_t length = 0;
    const std::string_view text(reinterpret_cast<const char*>(d + lead), at - lead);
    const char32_t c = DecodeAt(text, 0, length);
    return length == at - lead ? ClassOf(c) : TEdge::NoWord;
  }
  if (IsUtf16(encoding)) {
    if (at < 2) return TEdge::NoWord;
    const uint16_t u = Unit16(d, at - 2, encoding);
    if (u >= 0xDC00 && u <= 0xDFFF && at >= 4) {
      const uint16_t hi = Unit16(d, at - 4, encoding);
      if (hi >= 0xD800 && hi <= 0xDBFF) return ClassOf(0x10000 + ((hi - 0xD800) << 10) + (u - 0xDC00));
    }
    return ClassOf(u);
  }
  return ClassOf(PageChar(page, d[at - 1]));
}

// The character that starts at byte `at` (< size); Unknown when the data
// end inside it and more may follow.
TEdge EdgeAfter(const uint8_t* d, size_t size, size_t at, bool atEnd, uint8_t encoding,
                platform::CodePage page) {
  if (encoding == kEncUtf8) {
    const unsigned char b = d[at];
    const size_t want = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    if (at + want > size && !atEnd) return TEdge::Unknown;
    size_t length = 0;
    const std::string_view text(reinterpret_cast<const char*>(d + at), std::min(want, size - at));
    return ClassOf(DecodeAt(text, 0, length));
  }
  if (IsUtf16(encoding)) {
    if (at + 2 > size) return atEnd ? TEdge::NoWord : TEdge::Unknown;
    const uint16_t u = Unit16(d, at, encoding);
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (at + 4 > size) return atEnd ? TEdge::NoWord : TEdge::Unknown;
      const uint16_t lo = Unit16(d, at + 2, encoding);
      if (lo >= 0xDC00 && lo <= 0xDFFF) return ClassOf(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
    }
    return ClassOf(u);
  }
  return ClassOf(PageChar(page, d[at]));
}

// ---------------------------------------------------------------------------
// Choosing the byte to look for first: the one least common in text and
// program files.

int Commonness(unsigned char b) {
  static const char kLetters[] = "etaoinshrdlcumwfgypbvkjxqz";
  if (b == 0x00 || b == ' ') return 255;
  if (b == 0xFF) return 200;
  if (b == '\n' || b == '\t' || b == '\r') return 190;
  if (b >= 'a' && b <= 'z') return 240 - 4 * static_cast<int>(std::strchr(kLetters, b) - kLetters);
  if (b >= 'A' && b <= 'Z') return 150 - 2 * static_cast<int>(std::strchr(kLetters, b - 'A' + 'a') - kLetters);
  if (b >= '0' && b <= '9') return 160;
  if (std::strchr(".,_-/()=;\"':*<>{}[]#", b) != nullptr && b != 0) return 170;
  if (b >= 0x80) return 100;
  if (b < 0x20) return 110;
  return 120;
}

unsigned char Folded(unsigned char b) { return b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + 32) : b; }
bool IsAsciiLetter(unsigned char b) { return (b | 0x20) >= 'a' && (b | 0x20) <= 'z'; }

}  // namespace

// ---------------------------------------------------------------------------
// Finders

// What a finder sees: the bytes held, where they sit in the data, and
// whether the data end there.
struct TWindow {
  const uint8_t* data;
  uint64_t base;
  size_t size;
  bool atEnd;
  uint64_t End() const { return base + size; }
};

struct TFound {
  bool found = false;
  uint64_t start = 0, length = 0;
  uint64_t resume = 0;  // when not found: where the next search starts
};

class TContentMatcher::TFinder {
 public:
  explicit TFinder(uint8_t encoding, size_t lookbehind) : encoding_(encoding), lookbehind_(lookbehind) {}
  virtual ~TFinder() = default;
  // Looks for the first match starting at or after `from` (>= w.base).
  virtual TFound Find(const TWindow& w, uint64_t from, TContentScanner& scanner) const = 0;
  uint8_t Encoding() const { return encoding_; }
  // Bytes before `from` the finder may look at.
  size_t Lookbehind() const { return lookbehind_; }

 private:
  uint8_t encoding_;
  size_t lookbehind_;
};

namespace {

using TFinder = TContentMatcher::TFinder;

// A byte string, with ASCII letters folded when case does not count.
class TBytesFinder final : public TFinder {
 public:
  TBytesFinder(std::string needle, bool fold, bool words, uint8_t encoding, platform::CodePage page)
      : TFinder(encoding, 8), needle_(std::move(needle)), fold_(fold), words_(words), page_(page) {
    int best = 1 << 30;
    for (size_t i = 0; i < needle_.size(); ++i) {
      const auto b = static_cast<unsigned char>(needle_[i]);
      const bool twoWays = fold_ && IsAsciiLetter(b);
      // A letter without case costs two scans; a neighbouring rare byte wins.
      const int cost = Commonness(b) * (twoWays ? 13 : 10);
      if (cost < best) {
        best = cost;
        rare_ = i;
      }
    }
    const auto r = static_cast<unsigned char>(needle_[rare_]);
    rareA_ = fold_ && IsAsciiLetter(r) ? Folded(r) : r;
    rareB_ = fold_ && IsAsciiLetter(r) ? static_cast<unsigned char>(rareA_ - 32) : r;
    if (fold_)
      for (char& c : needle_) c = static_cast<char>(Folded(static_cast<unsigned char>(c)));
  }

  TFound Find(const TWindow& w, uint64_t from, TContentScanner&) const override {
    const size_t n = needle_.size();
    const uint8_t* d = w.data;
    const size_t pos = static_cast<size_t>(from - w.base);
    TFound result;
    // The next occurrence of either spelling of the rare byte at or after
    // `at`, from two memchr scans that each run over the window once.
    const uint8_t* end = d + w.size;
    const uint8_t* nextA = nullptr;  // null: not looked for yet; `end`: none left
    const uint8_t* nextB = nullptr;
    auto scan = [end](unsigned char byte, const uint8_t*& cached, const uint8_t* at) {
      if (cached == nullptr || (cached != end && cached < at)) {
        const void* p = at < end ? std::memchr(at, byte, static_cast<size_t>(end - at)) : nullptr;
        cached = p != nullptr ? static_cast<const uint8_t*>(p) : end;
      }
    };
    auto next = [&](const uint8_t* at) -> const uint8_t* {
      scan(rareA_, nextA, at);
      const uint8_t* first = nextA;
      if (rareB_ != rareA_) {
        scan(rareB_, nextB, at);
        first = std::min(first, nextB);
      }
      return first < end ? first : nullptr;
    };
    for (const uint8_t* hit = next(d + pos + rare_); hit != nullptr; hit = next(hit + 1)) {
      const size_t start = static_cast<size_t>(hit - d) - rare_;
      if (start + n > w.size) {
        if (w.atEnd) break;
        result.resume = w.base + start;  // the next block decides
        return result;
      }
      if (!Equal(d + start)) continue;
      if (words_) {
        // The scanner keeps context before every start, so only the very
        // start of the data has no character before it.
        if (start > 0 && EdgeBefore(d, start, Encoding(), page_) == TEdge::Word) continue;
        if (start + n < w.size || !w.atEnd) {
          const TEdge after = start + n < w.size ? EdgeAfter(d, w.size, start + n, w.atEnd, Encoding(), page_)
                                                 : TEdge::Unknown;
          if (after == TEdge::Unknown) {
            result.resume = w.base + start;
            return result;
          }
          if (after == TEdge::Word) continue;
        }
      }
      result.found = true;
      result.start = w.base + start;
      result.length = n;
      return result;
    }
    result.resume = w.atEnd ? w.End() : std::max<uint64_t>(from, w.End() - std::min<uint64_t>(w.size, n - 1));
    return result;
  }

 private:
  bool Equal(const uint8_t* at) const {
    if (!fold_) return std::memcmp(at, needle_.data(), needle_.size()) == 0;
    for (size_t i = 0; i < needle_.size(); ++i)
      if (Folded(at[i]) != static_cast<unsigned char>(needle_[i])) return false;
    return true;
  }

  std::string needle_;
  bool fold_;
  bool words_;
  platform::CodePage page_;
  size_t rare_ = 0;
  unsigned char rareA_ = 0, rareB_ = 0;
};

constexpr uint32_t kPcreOptions = PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF | PCRE2_MULTILINE;

// The bytes at the end of `d` that start a UTF-8 character without
// finishing it.
size_t IncompleteTail(const uint8_t* d, size_t size) {
  for (size_t back = 1; back <= 3 && back <= size; ++back) {
    const uint8_t b = d[size - back];
    if ((b & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    const size_t want = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return want > back ? back : 0;
  }
  return 0;
}

// An expression on the bytes, as UTF-8.
class TPcre8Finder final : public TFinder {
 public:
  TPcre8Finder(pcre2_code_8* code, size_t lookbehind) : TFinder(kEncUtf8, lookbehind), code_(code) {}
  ~TPcre8Finder() override { pcre2_code_free_8(code_); }

  TFound Find(const TWindow& w, uint64_t from, TContentScanner&) const override {
    TFound result;
    // A character the window cuts in two is left for the next block: the
    // expression must see it whole (as a letter at a word's edge, say).
    size_t size = w.size;
    if (!w.atEnd) size -= IncompleteTail(w.data, w.size);
    const size_t start = std::min(size, static_cast<size_t>(from - w.base));
    pcre2_match_data_8* md = pcre2_match_data_create_from_pattern_8(code_, nullptr);
    uint32_t options = w.atEnd ? 0 : PCRE2_PARTIAL_HARD;
    if (w.base > 0) options |= PCRE2_NOTBOL;
    const int rc = pcre2_match_8(code_, w.data, size, start, options, md, nullptr);
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer_8(md);
    if (rc >= 0) {
      result.found = true;
      result.start = w.base + ov[0];
      result.length = ov[1] - ov[0];
    } else if (rc == PCRE2_ERROR_PARTIAL) {
      result.resume = w.base + ov[0];
    } else {
      result.resume = w.base + size;  // no match (or the expression's own limits): nothing more here
    }
    pcre2_match_data_free_8(md);
    return result;
  }

 private:
  pcre2_code_8* code_;
};

// An expression on units of 16 bits made from the bytes: UTF-16 in either
// byte order at even offsets, or a single-byte page one unit per byte.
class TPcre16Finder final : public TFinder {
 public:
  TPcre16Finder(pcre2_code_16* code, size_t lookbehind, uint8_t encoding, platform::CodePage page)
      : TFinder(encoding, lookbehind), code_(code), page_(page) {
    if (encoding == kEncCodePage)
      for (int b = 0; b < 256; ++b) table_[b] = static_cast<uint16_t>(PageChar(page, static_cast<unsigned char>(b)));
  }
  ~TPcre16Finder() override { pcre2_code_free_16(code_); }

  TFound Find(const TWindow& w, uint64_t from, TContentScanner& scanner) const override {
    TFound result;
    const bool pairs = IsUtf16(Encoding());
    const size_t step = pairs ? 2 : 1;
    // The units from some context before `from` to the end of the window.
    const uint64_t contextStart = from - std::min<uint64_t>(from - w.base, Lookbehind());
    uint64_t first = contextStart;
    if (pairs && (first & 1) != 0) ++first;
    std::vector<uint16_t>& units = scanner.Units();
    const size_t made = first >= w.End() ? 0 : static_cast<size_t>((w.End() - first) / step);
    units.resize(made);
    const uint8_t* d = w.data + (first - w.base);
    if (pairs) {
      for (size_t i = 0; i < made; ++i) units[i] = Unit16(d, 2 * i, Encoding());
    } else {
      for (size_t i = 0; i < made; ++i) units[i] = table_[d[i]];
    }
    // A byte of a unit, or the first half of a surrogate pair, that the
    // window cuts off waits for the next block.
    const bool atEnd = w.atEnd;
    if (!atEnd && pairs && made > 0 && units[made - 1] >= 0xD800 && units[made - 1] <= 0xDBFF) units.pop_back();
    const size_t count = units.size();
    uint64_t fromUnit = (from > first ? (from - first + step - 1) / step : 0);
    if (fromUnit > count) fromUnit = count;
    pcre2_match_data_16* md = pcre2_match_data_create_from_pattern_16(code_, nullptr);
    uint32_t options = atEnd ? 0 : PCRE2_PARTIAL_HARD;
    if (first > 0) options |= PCRE2_NOTBOL;
    const int rc = pcre2_match_16(code_, units.data(), count, static_cast<PCRE2_SIZE>(fromUnit), options, md, nullptr);
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer_16(md);
    if (rc >= 0) {
      result.found = true;
      result.start = first + ov[0] * step;
      result.length = (ov[1] - ov[0]) * step;
    } else if (rc == PCRE2_ERROR_PARTIAL) {
      result.resume = first + ov[0] * step;
    } else {
      result.resume = atEnd ? w.End() : first + count * step;
    }
    pcre2_match_data_free_16(md);
    return result;
  }

 private:
  pcre2_code_16* code_;
  platform::CodePage page_;
  uint16_t table_[256] = {};
};

// ---------------------------------------------------------------------------
// Compiling a query

bool ParseHex(const std::string& text, std::string& bytes, std::string* error) {
  bytes.clear();
  int pending = -1;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == ',' || c == ':' || c == '-') continue;
    if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') && pending < 0) {
      ++i;
      continue;
    }
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else {
      if (error != nullptr) *error = std::string("Not a hex digit: ") + c;
      return false;
    }
    if (pending < 0) {
      pending = v;
    } else {
      bytes += static_cast<char>(pending * 16 + v);
      pending = -1;
    }
  }
  if (pending >= 0) {
    if (error != nullptr) *error = "Hex bytes need two digits each";
    return false;
  }
  if (bytes.empty()) {
    if (error != nullptr) *error = "Nothing to search for";
    return false;
  }
  return true;
}

std::u16string ToUtf16(const std::string& utf8) {
  std::u16string out;
  for (size_t pos = 0; pos < utf8.size();) {
    size_t length;
    const char32_t c = DecodeAt(utf8, pos, length);
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    pos += length;
  }
  return out;
}

// The bytes of `text` in `encoding`; false when the page lacks a character.
bool Encode(const std::string& text, uint8_t encoding, platform::CodePage page, std::string& out) {
  out.clear();
  if (encoding == kEncUtf8) {
    out = text;
    return true;
  }
  if (IsUtf16(encoding)) {
    for (char16_t u : ToUtf16(text)) {
      const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
      out += encoding == kEncUtf16LE ? lo : hi;
      out += encoding == kEncUtf16LE ? hi : lo;
    }
    return true;
  }
  for (size_t pos = 0; pos < text.size();) {
    size_t length;
    const char32_t c = DecodeAt(text, pos, length);
    int found = -1;
    for (int b = 0; b < 256 && found < 0; ++b)
      if (PageChar(page, static_cast<unsigned char>(b)) == c) found = b;
    if (found < 0) return false;
    out += static_cast<char>(found);
    pos += length;
  }
  return true;
}

// The text as a literal part of an expression.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80 && !std::isalnum(b)) out += '\\';
    out += c;
  }
  return out;
}

constexpr const char* kWordClass = "[\\p{L}\\p{M}\\p{N}\\p{Pc}]";

std::string ExpressionFor(const TContentQuery& query, const std::vector<std::string>& forms) {
  std::string core;
  if (query.regex) {
    core = query.text;
  } else {
    for (const std::string& form : forms) {
      if (!core.empty()) core += '|';
      core += Escaped(form);
    }
  }
  if (!query.wholeWords) return core;
  return std::string("(?<!") + kWordClass + ")(?:" + core + ")(?!" + kWordClass + ")";
}

template <class Code>
size_t LookbehindOf(Code* code, int (*info)(const Code*, uint32_t, void*), size_t unitBytes) {
  uint32_t units = 0;
  info(code, PCRE2_INFO_MAXLOOKBEHIND, &units);
  return std::max<size_t>(16, (units + 2) * unitBytes * (unitBytes == 1 ? 4 : 2));
}

std::string ErrorText8(int code, size_t offset) {
  PCRE2_UCHAR8 message[256];
  pcre2_get_error_message_8(code, message, sizeof message);
  return "Regular expression: " + std::string(reinterpret_cast<char*>(message)) + " at " + std::to_string(offset);
}

}  // namespace

TContentMatcher::~TContentMatcher() = default;

std::unique_ptr<TContentMatcher> TContentMatcher::Compile(const TContentQuery& query, std::string* error) {
  std::unique_ptr<TContentMatcher> matcher(new TContentMatcher);
  matcher->query_ = query;
  auto& finders = matcher->finders_;
  if (query.hex) {
    std::string bytes;
    if (!ParseHex(query.text, bytes, error)) return nullptr;
    finders.push_back(std::make_unique<TBytesFinder>(bytes, false, false, 0, query.codePage));
    return matcher;
  }
  if (query.text.empty()) {
    if (error != nullptr) *error = "Nothing to search for";
    return nullptr;
  }
  const uint8_t encodings = query.encodings != 0 ? query.encodings : static_cast<uint8_t>(kEncUtf8);
  // The composed and the decomposed spelling of the text are both looked for.
  std::vector<std::string> forms = {query.text};
  if (!query.regex && IsValidUtf8(query.text)) {
    forms = {ComposedForm(query.text)};
    const std::string decomposed = DecomposedForm(query.text);
    if (decomposed != forms.front()) forms.push_back(decomposed);
  }
  const bool bytes = !query.regex && (query.caseSensitive || !HasNonAscii(query.text));
  for (uint8_t encoding : {kEncUtf8, kEncUtf16LE, kEncUtf16BE, kEncCodePage}) {
    if ((encodings & encoding) == 0) continue;
    if (bytes) {
      std::vector<std::string> needles;
      for (const std::string& form : forms) {
        std::string needle;
        if (Encode(form, encoding, query.codePage, needle) &&
            std::find(needles.begin(), needles.end(), needle) == needles.end())
          needles.push_back(needle);
      }
      for (std::string& needle : needles)
        finders.push_back(std::make_unique<TBytesFinder>(std::move(needle), !query.caseSensitive, query.wholeWords,
                                                         encoding, query.codePage));
      continue;
    }
    const std::string expression = ExpressionFor(query, forms);
    const uint32_t options = kPcreOptions | (query.caseSensitive ? 0 : PCRE2_CASELESS);
    int code = 0;
    PCRE2_SIZE offset = 0;
    if (encoding == kEncUtf8) {
      pcre2_code_8* compiled = pcre2_compile_8(reinterpret_cast<PCRE2_SPTR8>(expression.data()), expression.size(),
                                               options, &code, &offset, nullptr);
      if (compiled == nullptr) {
        if (error != nullptr) *error = ErrorText8(code, offset);
        return nullptr;
      }
      pcre2_jit_compile_8(compiled, PCRE2_JIT_COMPLETE | PCRE2_JIT_PARTIAL_HARD);
      finders.push_back(std::make_unique<TPcre8Finder>(compiled, LookbehindOf(compiled, &pcre2_pattern_info_8, 1)));
    } else {
      const std::u16string wide = ToUtf16(expression);
      pcre2_code_16* compiled = pcre2_compile_16(reinterpret_cast<PCRE2_SPTR16>(wide.data()), wide.size(), options,
                                                 &code, &offset, nullptr);
      if (compiled == nullptr) {
        // The same expression failed or passed the 8-bit compiler already;
        // say it in its terms.
        if (error != nullptr) *error = ErrorText8(code, offset);
        return nullptr;
      }
      pcre2_jit_compile_16(compiled, PCRE2_JIT_COMPLETE | PCRE2_JIT_PARTIAL_HARD);
      finders.push_back(std::make_unique<TPcre16Finder>(
          compiled, LookbehindOf(compiled, &pcre2_pattern_info_16, 2), encoding, query.codePage));
    }
  }
  return matcher;
}

// ---------------------------------------------------------------------------
// The scanner

TContentScanner::TContentScanner(const TContentMatcher& matcher) : matcher_(matcher) {
  capacity_ = kCarryLimit + kScanBlock + 2 * kContext;
  buffer_.reset(new uint8_t[capacity_]);
  resume_.assign(matcher_.finders_.size(), 0);
}

TContentScanner::~TContentScanner() = default;

void TContentScanner::Reset() {
  size_ = 0;
  base_ = 0;
  std::fill(resume_.begin(), resume_.end(), 0);
  matched_ = false;
  finished_ = false;
  hit_ = TContentHit{};
}

void TContentScanner::Compact() {
  const uint64_t end = base_ + size_;
  uint64_t keep = end;
  for (size_t i = 0; i < resume_.size(); ++i) {
    const uint64_t context = std::max<uint64_t>(kContext, matcher_.finders_[i]->Lookbehind());
    keep = std::min(keep, resume_[i] - std::min(resume_[i], context));
  }
  keep = std::max(keep, base_);
  // A match still open after kCarryLimit bytes is given up.
  if (end - keep > kCarryLimit) {
    keep = end - kCarryLimit;
    for (size_t i = 0; i < resume_.size(); ++i) {
      const uint64_t context = std::max<uint64_t>(kContext, matcher_.finders_[i]->Lookbehind());
      resume_[i] = std::max(resume_[i], keep + context);
    }
  }
  const size_t drop = static_cast<size_t>(keep - base_);
  if (drop == 0) return;
  std::memmove(buffer_.get(), buffer_.get() + drop, size_ - drop);
  size_ -= drop;
  base_ = keep;
}

uint8_t* TContentScanner::WriteArea() {
  if (capacity_ - size_ < kScanBlock) Compact();
  return buffer_.get() + size_;
}

bool TContentScanner::Commit(size_t n) {
  size_ += n;
  return Scan(false);
}

bool TContentScanner::Feed(const uint8_t* data, size_t n) {
  while (n > 0 && !matched_) {
    const size_t piece = std::min(n, kScanBlock);
    std::memcpy(WriteArea(), data, piece);
    if (Commit(piece)) return true;
    data += piece;
    n -= piece;
  }
  return matched_;
}

bool TContentScanner::Finish() {
  if (matched_ || finished_) return matched_;
  finished_ = true;
  return Scan(true);
}

bool TContentScanner::Scan(bool atEnd) {
  if (matched_) return true;
  const TWindow window{buffer_.get(), base_, size_, atEnd};
  size_t best = SIZE_MAX;
  TFound bestFound;
  for (size_t i = 0; i < matcher_.finders_.size(); ++i) {
    const uint64_t from = std::max(resume_[i], base_);
    if (from > window.End()) continue;
    const TFound found = matcher_.finders_[i]->Find(window, from, *this);
    if (found.found) {
      if (best == SIZE_MAX || found.start < bestFound.start) {
        best = i;
        bestFound = found;
      }
    } else {
      resume_[i] = std::max(found.resume, from);
    }
  }
  if (best == SIZE_MAX) return false;
  MakeHit(best, bestFound.start, bestFound.length);
  matched_ = true;
  return true;
}

namespace {

// The last `n` characters of UTF-8 `text`; `cut` tells whether any went.
std::string LastChars(const std::string& text, size_t n, bool& cut) {
  const std::vector<std::string_view> chars = CodePoints(text);
  cut = chars.size() > n;
  if (!cut) return text;
  std::string out;
  for (size_t i = chars.size() - n; i < chars.size(); ++i) out.append(chars[i]);
  return out;
}

std::string FirstChars(const std::string& text, size_t n, bool& cut) {
  const std::vector<std::string_view> chars = CodePoints(text);
  cut = chars.size() > n;
  if (!cut) return text;
  std::string out;
  for (size_t i = 0; i < n; ++i) out.append(chars[i]);
  return out;
}

}  // namespace

void TContentScanner::MakeHit(size_t finder, uint64_t start, uint64_t length) {
  const uint8_t encoding = matcher_.finders_[finder]->Encoding();
  const platform::CodePage page = matcher_.query_.codePage;
  const uint8_t* d = buffer_.get();
  const size_t unit = IsUtf16(encoding) ? 2 : 1;
  const size_t pos = static_cast<size_t>(start - base_);
  const size_t end = std::min(size_, pos + static_cast<size_t>(length));
  auto lineBreak = [&](size_t i) {
    if (unit == 1) return d[i] == '\n' || d[i] == '\r';
    const uint16_t u = Unit16(d, i, encoding);
    return u == '\n' || u == '\r';
  };
  // The bytes of the line on each side, as far as the buffer holds them and
  // a little more than the characters shown; UTF-16 stays aligned with the
  // match.
  const size_t maxBefore = (kLineBefore + 1) * (encoding == kEncUtf8 ? 4 : unit);
  const size_t maxAfter = (kLineAfter + 1) * (encoding == kEncUtf8 ? 4 : unit);
  size_t from = pos;
  while (from >= unit && pos - from < maxBefore && !lineBreak(from - unit)) from -= unit;
  bool cutBefore = from >= unit ? !lineBreak(from - unit) : base_ > 0;
  size_t to = end;
  while (to + unit <= size_ && to - end < maxAfter && !lineBreak(to)) to += unit;
  bool cutAfter = false;
  bool trimmed = false;
  const std::string before = LastChars(DisplayText(d + from, pos - from, encoding, page), kLineBefore, trimmed);
  cutBefore = cutBefore || trimmed;
  const std::string after = FirstChars(DisplayText(d + end, to - end, encoding, page), kLineAfter, trimmed);
  cutAfter = trimmed;
  hit_.offset = start;
  hit_.encoding = encoding;
  hit_.line = cutBefore ? "\xE2\x80\xA6" : "";
  hit_.line += before;
  hit_.matchStart = hit_.line.size();
  hit_.line += DisplayText(d + pos, end - pos, encoding, page);
  hit_.matchLength = hit_.line.size() - hit_.matchStart;
  hit_.line += after;
  if (cutAfter) hit_.line += "\xE2\x80\xA6";
}

std::string DisplayText(const uint8_t* data, size_t n, uint8_t encoding, platform::CodePage page) {
  std::string out;
  auto put = [&out](char32_t c) {
    if (c == '\t') c = ' ';
    else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) c = 0xB7;  // "·"
    AppendUtf8(out, c);
  };
  if (encoding == kEncUtf8) {
    const std::string_view text(reinterpret_cast<const char*>(data), n);
    for (size_t pos = 0; pos < n;) {
      size_t length;
      put(DecodeAt(text, pos, length));
      pos += length;
    }
  } else if (IsUtf16(encoding)) {
    for (size_t i = 0; i + 1 < n; i += 2) {
      const uint16_t u = Unit16(data, i, encoding);
      if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
        const uint16_t lo = Unit16(data, i + 2, encoding);
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
          put(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
          i += 2;
          continue;
        }
      }
      put(u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);
    }
  } else if (encoding == kEncCodePage) {
    for (size_t i = 0; i < n; ++i) put(PageChar(page, data[i]));
  } else {
    for (size_t i = 0; i < n; ++i) put(data[i]);
  }
  return out;
}

}  // namespace vantrel::tools
