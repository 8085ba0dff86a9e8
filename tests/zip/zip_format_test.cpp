// zip_format_test.cpp - records, DOS dates, names, Rate.
#include <gtest/gtest.h>

#include "tests/zip/zip_test_util.h"
#include "zip/zip_format.h"
#include "zip/zip_stream.h"

namespace vantrel::zip {
namespace {

uint32_t Dos(int y, int mo, int d, int h, int mi, int s2) {
  return static_cast<uint32_t>(s2) | (static_cast<uint32_t>(mi) << 5) |
         (static_cast<uint32_t>(h) << 11) | (static_cast<uint32_t>(d) << 16) |
         (static_cast<uint32_t>(mo) << 21) | (static_cast<uint32_t>(y - 1980) << 25);
}

TEST(DosDate, ValidValueIsReturnedBitForBit) {
  uint32_t v = Dos(1999, 12, 31, 23, 59, 29);
  EXPECT_EQ(ValidateDate(v), v);
  // 30 February is not a checked day: it stays as it is.
  EXPECT_EQ(ValidateDate(Dos(2001, 2, 30, 1, 2, 3)), Dos(2001, 2, 30, 1, 2, 3));
}

TEST(DosDate, OutOfRangePartsAreClamped) {
  EXPECT_EQ(ValidateDate(Dos(1990, 0, 0, 10, 0, 0)), Dos(1990, 1, 1, 10, 0, 0));
  EXPECT_EQ(ValidateDate(Dos(1990, 5, 5, 31, 0, 0)), Dos(1990, 5, 5, 23, 0, 0));
  EXPECT_EQ(ValidateDate(Dos(1990, 5, 5, 1, 63, 0)), Dos(1990, 5, 5, 1, 59, 0));
  EXPECT_EQ(ValidateDate(Dos(1990, 5, 5, 1, 1, 30)), Dos(1990, 5, 5, 1, 1, 29));
  EXPECT_EQ(ValidateDate(Dos(1990, 15, 5, 1, 1, 1)), Dos(1990, 12, 5, 1, 1, 1));
  EXPECT_EQ(ValidateDate(Dos(2107, 6, 6, 1, 1, 1)), Dos(2099, 6, 6, 1, 1, 1));
}

TEST(DosDate, ConvertsAsLocalTime) {
  // Tests run with TZ=Europe/Berlin: 2020-07-01 12:00:00 CEST is 10:00 UTC.
  EXPECT_EQ(DosDateTimeToTime(Dos(2020, 7, 1, 12, 0, 0)), 1593597600);
  EXPECT_EQ(TimeToDosDateTime(1593597600), Dos(2020, 7, 1, 12, 0, 0));
  EXPECT_FALSE(IsValidCalendarDate(Dos(2021, 2, 31, 0, 0, 0)));
  EXPECT_TRUE(IsValidCalendarDate(Dos(2020, 2, 29, 0, 0, 0)));
  EXPECT_EQ(DosDateTimeOrdinal(Dos(2021, 2, 31, 0, 0, 0)), 0);
  EXPECT_LT(DosDateTimeOrdinal(Dos(2020, 1, 1, 0, 0, 0)), DosDateTimeOrdinal(Dos(2020, 1, 1, 0, 0, 1)));
}

TEST(Rate, RoundsAndLimits) {
  EXPECT_EQ(Rate(0, 10), 0);
  EXPECT_EQ(Rate(-5, 10), 0);
  EXPECT_EQ(Rate(200, 50), 25);
  EXPECT_EQ(Rate(100, 130), 100);  // a stored entry that grew
  EXPECT_EQ(Rate(3, 2), 67);
  EXPECT_EQ(Rate(8, 1), 12);  // 12.5 rounds to even
  EXPECT_EQ(Rate(8, 3), 38);  // 37.5 rounds to even
}

TEST(Names, SplitIntoDirectoryAndFilename) {
  TZipHeaderInfo e;
  e.SetPath(DecodeStoredName("dir/sub/file.txt", 0, 0));
  EXPECT_EQ(e.Directory(), "dir/sub/");
  EXPECT_EQ(e.Filename(), "file.txt");
  EXPECT_EQ(e.FilenameLength, 16);
  e.SetPath(DecodeStoredName("dir/", 0, 0));
  EXPECT_EQ(e.Directory(), "dir/");
  EXPECT_EQ(e.Filename(), "");
  e.SetPath(DecodeStoredName("plain", 0, 0));
  EXPECT_EQ(e.Directory(), "");
  EXPECT_EQ(e.Filename(), "plain");
  e.SetPath(DecodeStoredName("win\\dows\\f.txt", 0, 0));
  EXPECT_EQ(e.Directory(), "win/dows/");
}

TEST(Names, SettersKeepLengthAndTrailingSeparator) {
  TZipHeaderInfo e;
  e.SetFilename("abc");
  e.SetDirectory("x/y");
  EXPECT_EQ(e.Directory(), "x/y/");
  EXPECT_EQ(e.FilenameLength, 7);
  e.SetDirectory("");
  EXPECT_EQ(e.FilenameLength, 3);
}

TEST(Names, EncodingRules) {
  const std::string utf8 = "\xC3\xA4pfel.txt";  // "äpfel.txt"
  // Flag bit 11: UTF-8 whatever the host.
  EXPECT_EQ(DecodeStoredName(utf8, 0x0800, 0), utf8);
  // Unix host (3) and valid UTF-8: taken as it is.
  EXPECT_EQ(DecodeStoredName(utf8, 0, 3 << 8), utf8);
  EXPECT_EQ(DecodeStoredName(utf8, 0, 19 << 8), utf8);
  // A DOS host: code page 437 (0xC3 is a box corner, 0xA4 is n with tilde).
  EXPECT_EQ(DecodeStoredName(utf8, 0, 0), "\xE2\x94\x9C\xC3\xB1pfel.txt");
  // Unix host but not UTF-8: code page 437 (0x84 is a with diaeresis).
  EXPECT_EQ(DecodeStoredName("\x84", 0, 3 << 8), "\xC3\xA4");
}

TEST(Names, Cp437TableCoversEveryByte) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  std::string u = Cp437ToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(u));
  EXPECT_EQ(Cp437ToUtf8("\x80"), "\xC3\x87");          // C cedilla
  EXPECT_EQ(Cp437ToUtf8("\xE1"), "\xC3\x9F");          // sharp s
  EXPECT_EQ(Cp437ToUtf8("\xFF"), "\xC2\xA0");          // no-break space
  EXPECT_EQ(Cp437ToUtf8("\x9E"), "\xE2\x82\xA7");      // peseta sign
  EXPECT_EQ(Cp437ToUtf8("A/z"), "A/z");
}

TEST(Names, Utf8Validation) {
  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));      // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // surrogate
  EXPECT_FALSE(IsValidUtf8("\xE2\x82"));      // cut short
  EXPECT_FALSE(IsValidUtf8("\xFF"));
}

TEST(Records, CentralSizeAndLocalSize) {
  TZipHeaderInfo e;
  e.SetFilename("0123456789");
  e.CentralExtraLength = 5;
  e.SetFileComment(std::string("abc"));
  EXPECT_EQ(e.CentralSize(), 64u);
  e.LocalExtraLength = 4;
  EXPECT_EQ(e.LocalSize(), 44u);
}

TEST(Records, CentralRecordWithExtraIsWrittenBackWithoutIt) {
  testing::TEntrySpec sample;
  sample.name = "dir/name.txt";
  sample.data = "hello";
  sample.centralExtra = std::string(9, 'X');
  sample.comment = "note";
  std::string zip = testing::BuildZip({sample});
  TMemoryStream in(zip);
  uint32_t cd = GetU32(reinterpret_cast<const uint8_t*>(zip.data() + zip.size() - 6));
  in.Seek(cd, soBeginning);
  TStream* s = &in;
  TZipHeaderInfo e;
  ASSERT_TRUE(e.ReadCentral(s));
  EXPECT_EQ(e.CentralExtraLength, 9);
  EXPECT_EQ(e.FileCommentLength, 4);
  EXPECT_FALSE(e.FileComment().has_value());
  EXPECT_EQ(e.CentralEntryOffset, cd);
  EXPECT_EQ(e.Path(), "dir/name.txt");
  EXPECT_EQ(in.Position(), static_cast<int64_t>(cd + 46 + 12 + 9 + 4));

  e.SetFileComment(std::string("note"));
  TMemoryStream out;
  ASSERT_TRUE(e.WriteCentral(out));
  const std::string& w = out.Bytes();
  ASSERT_EQ(w.size(), 46u + 12 + 4);
  EXPECT_EQ(GetU16(reinterpret_cast<const uint8_t*>(w.data() + 30)), 0);  // no extra field
  EXPECT_EQ(w.substr(46), "dir/name.txtnote");
}

TEST(Records, ShortOrWrongCentralRecordLeavesStreamInPlace) {
  std::string bytes(46, '\0');
  TMemoryStream in(bytes);
  TStream* s = &in;
  TZipHeaderInfo e;
  EXPECT_FALSE(e.ReadCentral(s));
  EXPECT_EQ(in.Position(), 0);
  TMemoryStream shortIn(std::string("PK\x01\x02", 4) + std::string(10, '\0'));
  s = &shortIn;
  EXPECT_FALSE(e.ReadCentral(s));
  EXPECT_EQ(shortIn.Position(), 0);
}

TEST(Records, LocalHeaderRoundTrip) {
  TZipHeaderInfo e;
  e.SetPath("a/b.txt");
  e.CompressionMethod = 0;
  e.CRC32 = 0x12345678;
  e.CompressedSize = e.UncompressedSize = 3;
  e.LastModDateTime = Dos(2000, 1, 2, 3, 4, 5);
  TMemoryStream out;
  out.Write("xx", 2);
  ASSERT_TRUE(e.WriteLocal(out));
  EXPECT_EQ(e.LocalHeaderOffset, 2u);
  TMemoryStream in(out.Bytes());
  in.Seek(2, soBeginning);
  TZipHeaderInfo r;
  r.ExternalAttributes = 77;
  ASSERT_TRUE(r.ReadLocal(in));
  EXPECT_EQ(r.Path(), "a/b.txt");
  EXPECT_EQ(r.CRC32, 0x12345678u);
  EXPECT_EQ(r.LastModDateTime, e.LastModDateTime);
  EXPECT_EQ(r.LocalHeaderOffset, 2u);
  EXPECT_EQ(r.VersionMadeBy, 0);
  EXPECT_EQ(r.ExternalAttributes, 0u);
  EXPECT_EQ(in.Position(), 2 + 30 + 7);
}

TEST(Records, NonAsciiNamesAreWrittenWithTheUtf8Flag) {
  TZipHeaderInfo e;
  e.SetPath("\xC3\xA4.txt");
  TMemoryStream out;
  ASSERT_TRUE(e.WriteLocal(out));
  EXPECT_EQ(GetU16(reinterpret_cast<const uint8_t*>(out.Bytes().data() + 6)) & 0x0800, 0x0800);
}

TEST(Records, AssignCopiesTheLoadedCommentOnly) {
  TZipHeaderInfo a;
  a.SetPath("x/y");
  a.SetFileComment(std::string("hi"));
  TZipHeaderInfo b(a);
  ASSERT_TRUE(b.FileComment().has_value());
  EXPECT_EQ(*b.FileComment(), "hi");
  a.SetFileComment(std::nullopt);
  EXPECT_EQ(a.FileCommentLength, 0);
  b = a;
  EXPECT_FALSE(b.FileComment().has_value());
}

TEST(EndRecord, EmptyAndTinyStreams) {
  TEndCentral end;
  TMemoryStream empty;
  EXPECT_TRUE(end.Find(empty));
  EXPECT_EQ(end.TotalEntries, 0);
  TMemoryStream tiny(std::string(21, 'P'));
  EXPECT_FALSE(end.Find(tiny));
}

TEST(EndRecord, FoundBehindAMaximalComment) {
  testing::TEntrySpec sample{"a.txt", "abc"};
  std::string comment(65535, 'c');
  std::string zip = testing::BuildZip({sample}, comment);
  TMemoryStream in(zip);
  TEndCentral end;
  ASSERT_TRUE(end.Find(in));
  EXPECT_EQ(end.TotalEntries, 1);
  EXPECT_EQ(end.ZipCommentLength, 65535);
  EXPECT_EQ(end.ZipCommentPos, static_cast<int64_t>(zip.size() - 65535));
}

TEST(EndRecord, TheRecordNearestTheEndWins) {
  // A complete end record inside the comment is nearer the end.
  std::string fake;
  testing::Put32(fake, 0x06054B50);
  testing::Put16(fake, 0);
  testing::Put16(fake, 0);
  testing::Put16(fake, 9);
  testing::Put16(fake, 9);
  testing::Put32(fake, 0);
  testing::Put32(fake, 0x10);
  testing::Put16(fake, 0);
  std::string zip = testing::BuildZip({{"a.txt", "abc"}}, "lead" + fake);
  TMemoryStream in(zip);
  TEndCentral end;
  ASSERT_TRUE(end.Find(in));
  EXPECT_EQ(end.TotalEntries, 9);
  EXPECT_EQ(end.CentralDirOffset, 0x10u);
}

TEST(EndRecord, WriteAndReset) {
  TEndCentral end;
  end.TotalEntries = 3;
  end.SetZipComment(std::string("hey"));
  EXPECT_EQ(end.Size(), 25u);
  TMemoryStream out;
  ASSERT_TRUE(end.Write(out));
  EXPECT_EQ(out.Bytes().size(), 25u);
  EXPECT_EQ(out.Bytes().substr(22), "hey");
  end.Reset();
  EXPECT_EQ(end.ZipCommentLength, 0);
  EXPECT_FALSE(end.ZipComment().has_value());
  EXPECT_EQ(end.Signature, 0x06054B50u);
}

}  // namespace
}  // namespace vantrel::zip
