// codepages.cpp - the upper halves (0x80 to 0xFF) of the single-byte code
// pages; the lower halves are ASCII.
#include "platform/codepages.h"

#include <iconv.h>

#include <array>
#include <cstdlib>
#include <mutex>

#include "platform/text.h"

namespace vantrel::platform {

namespace {

// Windows Cyrillic; 0x98 is unassigned.
constexpr char16_t kCp1251[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

// DOS Cyrillic.
constexpr char16_t kCp866[128] = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,
};

// The original PC character set: accented letters, box drawing, Greek.
constexpr char16_t kCp437[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

}  // namespace

const char16_t* UpperHalf(CodePage page) {
  switch (page) {
    case CodePage::Cp1251: return kCp1251;
    case CodePage::Cp866: return kCp866;
    case CodePage::Cp437: return kCp437;
    case CodePage::Latin1: break;
  }
  return nullptr;
}

std::string CodePageBytesToUtf8(std::string_view bytes, CodePage page) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) AppendUtf8(out, CodePageChar(page, c));
  return out;
}

char16_t CodePageChar(CodePage page, unsigned char byte) {
  if (byte < 0x80) return byte;
  const char16_t* upper = UpperHalf(page);
  return upper != nullptr ? upper[byte - 0x80] : static_cast<char16_t>(byte);
}

}  // namespace vantrel::platform

// ------------------------------------------------------------ named code pages

namespace vantrel::platform {

namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

// One open converter, used under a lock (a converter keeps shift state).
struct TConverter {
  std::mutex lock;
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
};

// The converters opened so far by page name; they live as long as the
// process (a handful at most).
TConverter* ConverterFor(const std::string& page) {
  static std::mutex lock;
  static std::vector<std::pair<std::string, TConverter*>> open;
  std::lock_guard<std::mutex> hold(lock);
  for (auto& [name, conv] : open)
    if (name == page) return conv;
  iconv_t cd = iconv_open("UTF-8", page.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  auto* conv = new TConverter;
  conv->cd = cd;
  open.emplace_back(page, conv);
  return conv;
}

}  // namespace

const std::vector<std::string>& NameCodePages() {
  static const std::vector<std::string> pages = {"CP437", "CP850",  "CP866", "CP1251",
                                                 "CP1252", "KOI8-R", "CP932", "CP936",
                                                 "CP949", "CP950"};
  return pages;
}

bool IsKnownCodePage(std::string_view page) {
  const std::string name = Upper(page);
  return name == "UTF-8" || name == "CP437" || ConverterFor(name) != nullptr;
}

std::optional<std::string> CodePageToUtf8(std::string_view bytes, std::string_view page) {
  const std::string name = Upper(page);
  if (name == "UTF-8") return std::string(bytes);
  if (name == "CP437") return CodePageBytesToUtf8(bytes, CodePage::Cp437);  // our own table
  TConverter* conv = ConverterFor(name);
  if (!conv) return std::nullopt;
  std::string out(bytes.size() * 4 + 16, '\0');
  std::lock_guard<std::mutex> hold(conv->lock);
  iconv(conv->cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char* dst = out.data();
  size_t outLeft = out.size();
  if (iconv(conv->cd, &in, &inLeft, &dst, &outLeft) == static_cast<size_t>(-1) ||
      iconv(conv->cd, nullptr, nullptr, &dst, &outLeft) == static_cast<size_t>(-1))
    return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

std::string NameCodePageOfLocale(std::string_view locale) {
  // The language (and for Chinese the region) decides; "C" and "POSIX" say
  // nothing.
  const std::string_view lang = locale.substr(0, locale.find_first_of("_.@"));
  const std::string_view region =
      locale.size() > lang.size() + 1 && locale[lang.size()] == '_'
          ? locale.substr(lang.size() + 1, 2)
          : std::string_view();
  static const std::array<std::pair<std::string_view, std::string_view>, 14> byLanguage = {{
      {"ru", "CP866"}, {"uk", "CP866"}, {"be", "CP866"}, {"bg", "CP866"},
      {"ja", "CP932"}, {"ko", "CP949"}, {"de", "CP850"}, {"fr", "CP850"},
      {"es", "CP850"}, {"it", "CP850"}, {"pt", "CP850"}, {"nl", "CP850"},
      {"sv", "CP850"}, {"en", "CP437"},
  }};
  if (lang == "zh")
    return region == "TW" || region == "HK" || region == "MO" ? "CP950" : "CP936";
  for (const auto& [code, page] : byLanguage)
    if (lang == code) return std::string(page);
  return {};
}

std::string LocaleNameCodePage() {
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(var);
    if (value && *value) return NameCodePageOfLocale(value);
  }
  return {};
}

}  // namespace vantrel::platform
