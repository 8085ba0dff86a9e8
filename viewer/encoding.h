// encoding.h - how the viewer turns the bytes of a file into characters.
//
// The decoders are our own so that every byte has a fixed place in the text:
// an invalid UTF-8 byte becomes exactly one U+FFFD, a UTF-16 code unit is
// always one character unit, a single-byte page maps byte to character. That
// lets a position found in decoded text be turned back into a byte offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <QString>

namespace vantrel::viewer {

enum class TEncoding { Utf8, Utf16LE, Utf16BE, Latin1, Cp1251, Cp866, Cp437 };

inline constexpr TEncoding kAllEncodings[] = {TEncoding::Utf8,   TEncoding::Utf16LE,
                                              TEncoding::Utf16BE, TEncoding::Latin1,
                                              TEncoding::Cp1251, TEncoding::Cp866,
                                              TEncoding::Cp437};

// "UTF-8", "UTF-16LE", "Latin-1", "CP1251" and so on.
QString EncodingName(TEncoding encoding);

// Bytes per code unit: 2 for UTF-16, else 1.
inline int UnitBytes(TEncoding e) {
  return e == TEncoding::Utf16LE || e == TEncoding::Utf16BE ? 2 : 1;
}

// What the start of a file says about it.
struct TDetection {
  TEncoding encoding = TEncoding::Utf8;
  uint32_t bomBytes = 0;  // the byte-order mark to skip
  bool binary = false;    // not text: open in hex
};

// Judges a file from its first bytes (`complete`: the sample is the whole
// file, so a sequence cut at its end is an error, not a cut). A byte-order
// mark decides; otherwise NUL bytes or many control bytes mean binary, valid
// UTF-8 means UTF-8, and anything else takes the single-byte `fallback`.
TDetection DetectEncoding(std::string_view sample, bool complete,
                          TEncoding fallback = TEncoding::Latin1);

// The byte-order mark that `encoding` would have at the start of `sample`
// (0 when there is none).
uint32_t BomBytesFor(TEncoding encoding, std::string_view sample);

// Appends the characters of `bytes` to `out`.
void DecodeAppend(TEncoding encoding, std::string_view bytes, QString& out);
inline QString Decode(TEncoding encoding, std::string_view bytes) {
  QString out;
  DecodeAppend(encoding, bytes, out);
  return out;
}

// The number of bytes at the start of `bytes` that decode to the first
// `units` UTF-16 units (all of `bytes` when they give fewer).
size_t BytesForUnits(TEncoding encoding, std::string_view bytes, qsizetype units);

// Whether a character may start at `p` (a UTF-8 continuation byte or the low
// half of a UTF-16 surrogate pair may not). `p` has UnitBytes() bytes.
bool IsCharStart(TEncoding encoding, const char* p);

// Whether the code unit at `p` is a line feed.
inline bool IsNewline(TEncoding e, const char* p) {
  switch (e) {
    case TEncoding::Utf16LE: return p[0] == '\n' && p[1] == 0;
    case TEncoding::Utf16BE: return p[0] == 0 && p[1] == '\n';
    default: return *p == '\n';
  }
}

}  // namespace vantrel::viewer
