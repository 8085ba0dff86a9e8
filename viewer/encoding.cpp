// encoding.cpp - detection and byte-exact decoders.
#include "viewer/encoding.h"

#include "platform/codepages.h"

namespace vantrel::viewer {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

platform::CodePage PageOf(TEncoding e) {
  switch (e) {
    case TEncoding::Cp1251: return platform::CodePage::Cp1251;
    case TEncoding::Cp866: return platform::CodePage::Cp866;
    case TEncoding::Cp437: return platform::CodePage::Cp437;
    default: return platform::CodePage::Latin1;
  }
}

// Length of the valid UTF-8 sequence at p[0..n), or 0 when p[0] starts none.
// With `cutOk`, a sequence that is valid so far but cut by the end of the
// buffer counts as valid (its length is then what is there).
size_t Utf8Sequence(const unsigned char* p, size_t n, bool cutOk = false) {
  const unsigned char c = p[0];
  if (c < 0x80) return 1;
  size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (size_t i = 1; i < len; ++i) {
    if (i >= n) return cutOk ? n : 0;
    const unsigned char b = p[i];
    if (i == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF)) return 0;
  }
  return len;
}

uint32_t Utf8Value(const unsigned char* p, size_t len) {
  if (len == 1) return p[0];
  uint32_t v = p[0] & (0x7F >> len);
  for (size_t i = 1; i < len; ++i) v = (v << 6) | (p[i] & 0x3F);
  return v;
}

// Calls `step(units, bytes)` for each character of `bytes` in turn: the
// number of UTF-16 units it gives and the bytes it takes. Stops when `emit`
// returns false.
template <typename Emit>
void Walk(TEncoding e, std::string_view bytes, Emit step) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  size_t i = 0;
  switch (e) {
    case TEncoding::Utf8:
      while (i < n) {
        const size_t len = Utf8Sequence(p + i, n - i);
        if (len == 0) {
          if (!step(1, size_t{1})) return;
          ++i;
        } else {
          if (!step(len == 4 ? 2 : 1, len)) return;
          i += len;
        }
      }
      return;
    case TEncoding::Utf16LE:
    case TEncoding::Utf16BE:
      while (i + 1 < n) {
        if (!step(1, size_t{2})) return;
        i += 2;
      }
      if (i < n) step(1, size_t{1});  // a lone last byte
      return;
    default:
      while (i < n) {
        if (!step(1, size_t{1})) return;
        ++i;
      }
  }
}

}  // namespace

QString EncodingName(TEncoding e) {
  switch (e) {
    case TEncoding::Utf8: return QStringLiteral("UTF-8");
    case TEncoding::Utf16LE: return QStringLiteral("UTF-16LE");
    case TEncoding::Utf16BE: return QStringLiteral("UTF-16BE");
    case TEncoding::Latin1: return QStringLiteral("Latin-1");
    case TEncoding::Cp1251: return QStringLiteral("CP1251");
    case TEncoding::Cp866: return QStringLiteral("CP866");
    case TEncoding::Cp437: return QStringLiteral("CP437");
  }
  return {};
}

uint32_t BomBytesFor(TEncoding e, std::string_view s) {
  auto starts = [&](std::string_view bom) { return s.substr(0, bom.size()) == bom; };
  switch (e) {
    case TEncoding::Utf8: return starts("\xEF\xBB\xBF") ? 3 : 0;
    case TEncoding::Utf16LE: return starts("\xFF\xFE") ? 2 : 0;
    case TEncoding::Utf16BE: return starts("\xFE\xFF") ? 2 : 0;
    default: return 0;
  }
}

TDetection DetectEncoding(std::string_view sample, bool complete, TEncoding fallback) {
  for (TEncoding e : {TEncoding::Utf8, TEncoding::Utf16LE, TEncoding::Utf16BE})
    if (const uint32_t bom = BomBytesFor(e, sample)) return {e, bom, false};

  // Control bytes other than tab, line feed, form feed, carriage return and
  // escape (terminal colours in logs) do not occur in text.
  size_t controls = 0;
  for (unsigned char c : sample) {
    if (c == 0) return {fallback, 0, true};
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1B && c != '\b')
      ++controls;
  }
  if (controls * 10 > sample.size()) return {fallback, 0, true};

  const auto* p = reinterpret_cast<const unsigned char*>(sample.data());
  size_t i = 0;
  while (i < sample.size()) {
    const size_t len = Utf8Sequence(p + i, sample.size() - i, !complete);
    if (len == 0) return {fallback, 0, false};
    i += len;
  }
  return {TEncoding::Utf8, 0, false};
}

void DecodeAppend(TEncoding e, std::string_view bytes, QString& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  out.reserve(out.size() + static_cast<qsizetype>(n / UnitBytes(e)) + 1);
  switch (e) {
    case TEncoding::Utf8: {
      size_t i = 0;
      while (i < n) {
        // Runs of ASCII go straight through.
        if (p[i] < 0x80) {
          size_t j = i + 1;
          while (j < n && p[j] < 0x80) ++j;
          out.append(QLatin1StringView(reinterpret_cast<const char*>(p + i),
                                       static_cast<qsizetype>(j - i)));
          i = j;
          continue;
        }
        const size_t len = Utf8Sequence(p + i, n - i);
        if (len == 0) {
          out.append(QChar(kReplacement));
          ++i;
          continue;
        }
        const uint32_t v = Utf8Value(p + i, len);
        if (v >= 0x10000) {
          out.append(QChar(static_cast<char16_t>(0xD800 + ((v - 0x10000) >> 10))));
          out.append(QChar(static_cast<char16_t>(0xDC00 + ((v - 0x10000) & 0x3FF))));
        } else {
          out.append(QChar(static_cast<char16_t>(v)));
        }
        i += len;
      }
      return;
    }
    case TEncoding::Utf16LE:
    case TEncoding::Utf16BE: {
      const bool le = e == TEncoding::Utf16LE;
      size_t i = 0;
      for (; i + 1 < n; i += 2)
        out.append(QChar(static_cast<char16_t>(le ? p[i] | (p[i + 1] << 8) : (p[i] << 8) | p[i + 1])));
      if (i < n) out.append(QChar(kReplacement));
      return;
    }
    case TEncoding::Latin1:
      out.append(QLatin1StringView(bytes.data(), static_cast<qsizetype>(n)));
      return;
    default: {
      const char16_t* upper = platform::UpperHalf(PageOf(e));
      for (size_t i = 0; i < n; ++i)
        out.append(QChar(p[i] < 0x80 ? static_cast<char16_t>(p[i]) : upper[p[i] - 0x80]));
      return;
    }
  }
}

size_t BytesForUnits(TEncoding e, std::string_view bytes, qsizetype units) {
  size_t taken = 0;
  qsizetype produced = 0;
  Walk(e, bytes, [&](int u, size_t b) {
    if (produced >= units) return false;
    produced += u;
    taken += b;
    return true;
  });
  return taken;
}

bool IsCharStart(TEncoding e, const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  switch (e) {
    case TEncoding::Utf8: return (u[0] & 0xC0) != 0x80;
    case TEncoding::Utf16LE: return (u[1] & 0xFC) != 0xDC;
    case TEncoding::Utf16BE: return (u[0] & 0xFC) != 0xDC;
    default: return true;
  }
}

}  // namespace vantrel::viewer
