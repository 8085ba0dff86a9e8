// zip_names.cpp - Unicode extra fields, code pages and their detection.
#include "zip/zip_names.h"

#include <algorithm>
#include <cmath>

#include "platform/codepages.h"
#include "zip/codec/crc32.h"
#include "zip/zip_format.h"

namespace vantrel::zip {

// ------------------------------------------------------------ Unicode fields

std::optional<std::string> UnicodeExtraText(const uint8_t* extra, size_t size, uint16_t id,
                                            std::string_view stored) {
  for (size_t at = 0; at + 4 <= size;) {
    const uint16_t blockId = GetU16(extra + at);
    const size_t len = GetU16(extra + at + 2);
    if (at + 4 + len > size) break;
    const uint8_t* p = extra + at + 4;
    at += 4 + len;
    if (blockId != id || len < 5 || p[0] != 1) continue;
    const uint32_t crc = Crc32(reinterpret_cast<const uint8_t*>(stored.data()), stored.size());
    if (GetU32(p + 1) != crc) continue;
    std::string text(reinterpret_cast<const char*>(p + 5), len - 5);
    if (IsValidUtf8(text)) return text;
  }
  return std::nullopt;
}

std::string UnicodePathExtra(std::string_view utf8, std::string_view stored) {
  std::string out(9, '\0');
  auto* p = reinterpret_cast<uint8_t*>(out.data());
  PutU16(p, kUnicodePathExtraId);
  PutU16(p + 2, static_cast<uint16_t>(5 + utf8.size()));
  p[4] = 1;
  PutU32(p + 5, Crc32(reinterpret_cast<const uint8_t*>(stored.data()), stored.size()));
  out.append(utf8);
  return out;
}

// ------------------------------------------------------------ plausibility

namespace {

// The code points of valid UTF-8.
std::vector<char32_t> CodePoints(std::string_view s) {
  std::vector<char32_t> out;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
    for (size_t k = 1; k < len && i + k < s.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(cp);
    i += len;
  }
  return out;
}

enum class TScript { None, Latin, Cyrillic, Greek, Cjk };

struct TCharInfo {
  int score;
  TScript script;
  int caseOf;  // 1 upper, -1 lower, 0 without case
};

// Weights of the Russian letters а to я by how often they occur: common
// letters count more than rare ones, so that a reading that swaps letters
// around (KOI8-R read as CP1251 and back) scores lower.
constexpr int8_t kCyrillicWeight[32] = {
    3,  1, 3, 1,  2, 3, 0, 1,   // а б в г д е ж з
    3,  1, 2, 3,  2, 3, 3, 2,   // и й к л м н о п
    3,  3, 3, 2,  -2, 0, -1, 1, // р с т у ф х ц ч
    0,  -1, -2, 1, 1, -2, 0, 2, // ш щ ъ ы ь э ю я
};

TCharInfo Classify(char32_t c) {
  if (c < 0x80) {
    const bool upper = c >= 'A' && c <= 'Z', lower = c >= 'a' && c <= 'z';
    return {0, upper || lower ? TScript::Latin : TScript::None, upper ? 1 : lower ? -1 : 0};
  }
  if (c < 0xA0) return {-6, TScript::None, 0};  // C1 controls
  if (c < 0xC0) return {-1, TScript::None, 0};  // Latin-1 signs
  if (c < 0x100 && c != 0xD7 && c != 0xF7)
    return {2, TScript::Latin, c < 0xDF ? 1 : c == 0xDF ? -1 : -1};
  if (c < 0x100) return {-2, TScript::None, 0};
  if (c < 0x250) return {1, TScript::Latin, (c & 1) ? -1 : 1};
  if (c >= 0x391 && c <= 0x3C9) return {-1, TScript::Greek, c < 0x3B1 ? 1 : -1};
  if (c >= 0x410 && c <= 0x44F) {
    const int lower = c >= 0x430;
    return {kCyrillicWeight[(c - 0x410) % 32], TScript::Cyrillic, lower ? -1 : 1};
  }
  if (c == 0x401 || c == 0x451) return {1, TScript::Cyrillic, c == 0x401 ? 1 : -1};
  if (c >= 0x400 && c <= 0x4FF) return {-1, TScript::Cyrillic, 0};
  if (c >= 0x2010 && c <= 0x2027) return {-1, TScript::None, 0};  // dashes, quotes
  if (c >= 0x2500 && c <= 0x25FF) return {-5, TScript::None, 0};  // box drawing, blocks
  if (c >= 0x3000 && c <= 0x303F) return {1, TScript::Cjk, 0};    // CJK punctuation
  if (c >= 0x3040 && c <= 0x30FF) return {3, TScript::Cjk, 0};    // kana
  if (c >= 0x4E00 && c <= 0x9FFF) return {2, TScript::Cjk, 0};
  if (c >= 0xAC00 && c <= 0xD7A3) return {2, TScript::Cjk, 0};    // Hangul syllables
  if (c >= 0xFF01 && c <= 0xFF5E) return {1, TScript::Cjk, 0};    // full-width forms
  if (c >= 0xFF61 && c <= 0xFF9F) return {-1, TScript::Cjk, 0};   // half-width kana
  if (c >= 0xE000 && c <= 0xF8FF) return {-6, TScript::None, 0};  // private use
  if (c == 0xFFFD) return {-6, TScript::None, 0};
  return {-2, TScript::None, 0};
}

// For the double-byte pages: how common the character of each two-byte
// sequence is by the region of the page it comes from (rare extension areas
// are what another page's text turns into).
int DoubleByteRegions(std::string_view raw, std::string_view page) {
  int score = 0;
  for (size_t i = 0; i < raw.size(); ++i) {
    const auto lead = static_cast<unsigned char>(raw[i]);
    if (lead < 0x80) continue;
    const bool isLead = page == "CP932" ? (lead >= 0x81 && lead <= 0x9F) || lead >= 0xE0
                                        : lead >= 0x81 && lead <= 0xFE;
    if (!isLead || i + 1 >= raw.size()) continue;
    const auto trail = static_cast<unsigned char>(raw[++i]);
    const bool high = trail >= 0xA1;
    if (page == "CP932") {
      if (lead == 0x82 || lead == 0x83) score += 2;              // kana, full-width letters
      else if (lead >= 0x88 && lead <= 0x98) score += 1;         // level 1 kanji
      else if (lead == 0x84 || lead == 0x87 || lead >= 0xED) score -= 2;
    } else if (page == "CP936") {
      if (high && lead >= 0xB0 && lead <= 0xD7) score += 1;      // level 1 hanzi
      else if (!high || lead < 0xA1) score -= 2;                 // GBK extension
    } else if (page == "CP949") {
      if (high && lead >= 0xB0 && lead <= 0xC8) score += 1;      // Hangul
      else if (!high || lead < 0xA1 || lead >= 0xCA) score -= 1; // extension, Hanja
    } else if (page == "CP950") {
      if (lead >= 0xA4 && lead <= 0xC6) score += 1;              // frequent characters
      else if (lead < 0xA1 || lead > 0xF9) score -= 2;
    }
  }
  return score;
}

}  // namespace

int NamePlausibility(std::string_view text, std::string_view raw, std::string_view page) {
  int score = 0;
  TCharInfo prev{0, TScript::None, 0};
  char32_t prevChar = 0;
  for (char32_t c : CodePoints(text)) {
    const TCharInfo info = Classify(c);
    score += info.score;
    const bool letters = prev.script != TScript::None && info.script != TScript::None;
    // Letters of two alphabets side by side, or a capital right after a
    // small letter, are what a wrong page makes of a word.
    if (letters && prev.script != info.script && (c >= 0x80 || prevChar >= 0x80)) score -= 4;
    else if (letters && prev.caseOf < 0 && info.caseOf > 0 && c >= 0x80) score -= 3;
    prev = info;
    prevChar = c;
  }
  if (page == "CP932" || page == "CP936" || page == "CP949" || page == "CP950")
    score += DoubleByteRegions(raw, page);
  return score;
}

std::string DetectCodePage(const std::vector<std::string>& rawNames,
                           std::string_view preferred) {
  if (rawNames.empty()) return "CP437";
  if (std::all_of(rawNames.begin(), rawNames.end(),
                  [](const std::string& n) { return IsValidUtf8(n); }))
    return std::string(kCodePageUtf8);
  // A directory of very many such names is judged by an even sample of
  // them: the page shows in a few thousand names as well as in all.
  constexpr size_t kSample = 4096;
  std::vector<const std::string*> sample;
  const size_t step = (rawNames.size() + kSample - 1) / kSample;
  for (size_t i = 0; i < rawNames.size(); i += step) sample.push_back(&rawNames[i]);
  std::string best = "CP437";
  long bestScore = 0;
  bool any = false;
  for (const std::string& page : platform::NameCodePages()) {
    long total = 0;
    bool converts = true;
    for (const std::string* name : sample) {
      const std::string& raw = *name;
      const std::optional<std::string> text = platform::CodePageToUtf8(raw, page);
      if (!text) {
        converts = false;
        break;
      }
      total += NamePlausibility(*text, raw, page);
    }
    if (!converts) continue;
    if (!any || total > bestScore || (total == bestScore && page == preferred && best != page)) {
      best = page;
      bestScore = total;
      any = true;
    }
  }
  return best;
}

std::string NameFromPage(std::string_view raw, std::string_view page) {
  std::optional<std::string> text = platform::CodePageToUtf8(raw, page);
  std::string name = text && IsValidUtf8(*text) ? std::move(*text) : Cp437ToUtf8(raw);
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

// ------------------------------------------------------------ TNameDecoder

TNameDecoder::TNameDecoder(std::string page, std::string preferred)
    : page_(std::move(page)), preferred_(std::move(preferred)) {
  if (!page_.empty()) used_ = page_;
}

namespace {

bool IsAsciiText(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

void TNameDecoder::Decode(TZipHeaderInfo& entry, std::string_view raw, const uint8_t* extra,
                          size_t extraSize, TNameArena* arena) {
  if (entry.GeneralPurposeFlags & kFlagUtf8)
    return entry.SetPath(DecodeStoredName(raw, entry.GeneralPurposeFlags, entry.VersionMadeBy),
                         arena);
  if (extraSize) {
    if (std::optional<std::string> text =
            UnicodeExtraText(extra, extraSize, kUnicodePathExtraId, raw)) {
      std::replace(text->begin(), text->end(), '\\', '/');
      return entry.SetPath(*text, arena);
    }
  }
  // Plain ASCII reads as UTF-8 whatever the page: as its own bytes, "\\"
  // as "/" (and without a copy when there is none).
  if (IsAsciiText(raw)) {
    if (raw.find('\\') == std::string_view::npos) return entry.SetPath(raw, arena);
    return entry.SetPath(DecodeStoredName(raw, entry.GeneralPurposeFlags, entry.VersionMadeBy), arena);
  }
  if (!page_.empty()) {
    sawPageName_ = true;
    return entry.SetPath(NameFromPage(raw, page_), arena);
  }
  // Read for now as the host that wrote it suggests; Finish decides.
  entry.SetPath(DecodeStoredName(raw, entry.GeneralPurposeFlags, entry.VersionMadeBy), arena);
  pending_.emplace_back(&entry, std::string(raw));
}

void TNameDecoder::Finish(TNameArena* arena) {
  if (!page_.empty()) return;
  std::vector<std::string> raws;
  raws.reserve(pending_.size());
  for (const auto& [entry, raw] : pending_) raws.push_back(raw);
  used_ = DetectCodePage(raws, preferred_);
  for (auto& [entry, raw] : pending_) entry->SetPath(NameFromPage(raw, used_), arena);
}

}  // namespace vantrel::zip
