// zip_format_test.cpp - records, DOS dates, stored names, Rate.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "tests/zip/zip_test_util.h"
#include "zip/zip_format.h"
#include "zip/zip_stream.h"

namespace vantrel::zip {
namespace {

uint32_t Dos(int y, int mo, int d, int h, int mi, int s2) {
  return static_cast<uint32_t>(s2 | mi << 5 | h << 11 | d << 16 | mo << 21 | (y - 1980) << 25);
}

TEST(DosDate, ValidValuesStayAndOutOfRangePartsAreClamped) {
  const std::pair<uint32_t, uint32_t> cases[] = {
      {Dos(1999, 12, 31, 23, 59, 29), Dos(1999, 12, 31, 23, 59, 29)},
      {Dos(2001, 2, 30, 1, 2, 3), Dos(2001, 2, 30, 1, 2, 3)},  // 30 February is not a checked day
      {Dos(1990, 0, 0, 10, 0, 0), Dos(1990, 1, 1, 10, 0, 0)},   {Dos(1990, 5, 5, 31, 0, 0), Dos(1990, 5, 5, 23, 0, 0)},
      {Dos(1990, 5, 5, 1, 63, 0), Dos(1990, 5, 5, 1, 59, 0)},   {Dos(1990, 5, 5, 1, 1, 30), Dos(1990, 5, 5, 1, 1, 29)},
      {Dos(1990, 15, 5, 1, 1, 1), Dos(1990, 12, 5, 1, 1, 1)},   {Dos(2107, 6, 6, 1, 1, 1), Dos(2099, 6, 6, 1, 1, 1)},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(ValidateDate(in), out) << std::hex << in;
}

// Sets TZ for one scope; the tests otherwise run with TZ=Europe/Berlin.
struct TZoneScope {
  const std::string saved = std::getenv("TZ") ? std::getenv("TZ") : "";
  explicit TZoneScope(const char* zone) { setenv("TZ", zone, 1), tzset(); }
  ~TZoneScope() { saved.empty() ? unsetenv("TZ") : setenv("TZ", saved.c_str(), 1), tzset(); }
};

TEST(DosDate, LocalTimesConvertAsPythonsZoneinfoDoes) {
  // Expected values from Python's zoneinfo with fold=0: a time that occurs
  // twice is the earlier moment, a time skipped over is read with the offset
  // before the change.
  const struct {
    const char* zone;
    int y, mo, d, h, mi, s;
    std::time_t utc;
  } cases[] = {
      {"Europe/Berlin", 2020, 7, 1, 12, 0, 0, 1593597600},
      {"Europe/Berlin", 2024, 3, 31, 1, 59, 58, 1711846798},   // last second before the jump
      {"Europe/Berlin", 2024, 3, 31, 2, 30, 0, 1711848600},    // skipped
      {"Europe/Berlin", 2024, 10, 27, 2, 30, 0, 1729989000},   // twice
      {"Europe/Berlin", 2021, 2, 30, 12, 0, 0, 1614682800},    // runs on to 2 March
      {"America/New_York", 2021, 3, 14, 2, 30, 0, 1615707000},
      {"Australia/Lord_Howe", 2024, 4, 7, 1, 45, 0, 1712414700},  // half-hour shift
      {"Europe/Dublin", 1980, 3, 16, 2, 30, 0, 322021800},     // winter is the zone's DST
      {"Pacific/Apia", 2011, 12, 30, 12, 0, 0, 1325282400},    // a whole day skipped
      {"America/Sao_Paulo", 2018, 11, 4, 0, 30, 0, 1541302200},  // midnight skipped
      {"Asia/Kolkata", 2099, 12, 31, 23, 59, 58, 4102424998},
  };
  for (const auto& c : cases) {
    TZoneScope zone(c.zone);
    EXPECT_EQ(DosDateTimeToTime(Dos(c.y, c.mo, c.d, c.h, c.mi, c.s / 2)), c.utc)
        << c.zone << " " << c.y << "-" << c.mo << "-" << c.d << " " << c.h << ":" << c.mi;
  }
}

TEST(Rate, RoundsHalfToEvenAndLimits) {
  // A stored entry that grew is 100; 12.5 and 37.5 round to even.
  const int cases[][3] = {{0, 10, 0}, {-5, 10, 0}, {200, 50, 25}, {100, 130, 100}, {3, 2, 67}, {8, 1, 12}, {8, 3, 38}};
  for (const auto& c : cases) EXPECT_EQ(Rate(c[0], c[1]), c[2]) << c[0] << "/" << c[1];
}

TEST(Names, SplitIntoDirectoryAndFilename) {
  // Names kept in an arena become the entry's own when changed.
  TNameArena arena;
  TZipHeaderInfo e;
  for (const auto& [stored, dir, file] : {std::tuple{"dir/sub/file.txt", "dir/sub/", "file.txt"},
                                          {"dir/", "dir/", ""}, {"plain", "", "plain"}, {"win\\dows\\f.txt", "win/dows/", "f.txt"}}) {
    e.SetPath(DecodeStoredName(stored, 0, 0), &arena);
    EXPECT_EQ(e.Directory(), dir) << stored;
    EXPECT_EQ(e.Filename(), file) << stored;
  }
  e.SetFilename("abc");
  e.SetDirectory("x/y");
  EXPECT_EQ(e.Path(), "x/y/abc");
  EXPECT_EQ(e.FilenameLength, 7);
  e.SetDirectory(e.Directory().substr(2));  // a view of its own name
  EXPECT_EQ(e.Path(), "y/abc");
}

TEST(Names, EncodingRulesAndValidation) {
  const std::string utf8 = "\xC3\xA4pfel.txt";  // "äpfel.txt"
  const struct {
    std::string raw;
    uint16_t flags, madeBy;
    std::string shown;
  } cases[] = {
      {utf8, 0x0800, 0, utf8},       // flag bit 11: UTF-8 whatever the host
      {utf8, 0, 3 << 8, utf8},       // a Unix host and valid UTF-8: as it is
      {utf8, 0, 19 << 8, utf8},      //
      {utf8, 0, 0, "\xE2\x94\x9C\xC3\xB1pfel.txt"},  // a DOS host: code page 437
      {"\x84", 0, 3 << 8, "\xC3\xA4"},                // Unix host, not UTF-8: code page 437
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeStoredName(c.raw, c.flags, c.madeBy), c.shown) << c.raw;
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  EXPECT_TRUE(IsValidUtf8(Cp437ToUtf8(all)));
  // C cedilla, sharp s, no-break space, peseta sign, ASCII.
  EXPECT_EQ(Cp437ToUtf8("\x80\xE1\xFF\x9E" "A/z"), "\xC3\x87\xC3\x9F\xC2\xA0\xE2\x82\xA7" "A/z");
  for (const char* ok : {"plain", "\xF0\x9F\x98\x80"}) EXPECT_TRUE(IsValidUtf8(ok));
  // Overlong, surrogate, cut short, never valid.
  for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xE2\x82", "\xFF"}) EXPECT_FALSE(IsValidUtf8(bad));
}

TEST(EndRecord, FoundInTinyStreamsBehindAMaximalCommentAndNearestTheEnd) {
  TEndCentral end;
  TMemoryStream empty, tiny(std::string(21, 'P'));
  EXPECT_TRUE(end.Find(empty));
  EXPECT_EQ(end.TotalEntries, 0);
  EXPECT_FALSE(end.Find(tiny));
  std::string zip = testing::BuildZip({{"a.txt", "abc"}}, std::string(65535, 'c'));
  TMemoryStream in(zip);
  ASSERT_TRUE(end.Find(in));
  EXPECT_EQ(end.TotalEntries, 1);
  EXPECT_EQ(end.ZipCommentLength, 65535);
  EXPECT_EQ(end.ZipCommentPos, static_cast<int64_t>(zip.size() - 65535));
  // A complete end record inside the comment is nearer the end.
  const std::string fake("PK\x05\x06\0\0\0\0\x09\0\x09\0\0\0\0\0\x10\0\0\0\0\0", 22);
  TMemoryStream withFake(testing::BuildZip({{"a.txt", "abc"}}, "lead" + fake));
  ASSERT_TRUE(end.Find(withFake));
  EXPECT_EQ(end.TotalEntries, 9);
  EXPECT_EQ(end.CentralDirOffset, 0x10u);
}

}  // namespace
}  // namespace vantrel::zip
