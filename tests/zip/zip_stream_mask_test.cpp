// zip_stream_mask_test.cpp - the buffered streams and mask matching.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/test_support.h"
#include "zip/zip_errors.h"
#include "zip/zip_mask.h"
#include "zip/zip_stream.h"

namespace vantrel::zip {
namespace {

std::string Digits(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>('0' + i % 10);
  return s;
}

TEST(BufferStream, ReadsAcrossRefillsAndSeeksInsideTheBuffer) {
  TMemoryStream mem(Digits(1000));
  TS_BufferStream s(&mem, 64, false);
  char buf[100];
  ASSERT_EQ(s.Read(buf, 100), 100u);
  EXPECT_EQ(std::string(buf, 100), Digits(100));
  EXPECT_EQ(s.Position(), 100);
  s.Seek(-30, soCurrent);
  ASSERT_EQ(s.Read(buf, 3), 3u);
  EXPECT_EQ(std::string(buf, 3), "012");
  EXPECT_EQ(s.Seek(995, soBeginning), 995);
  EXPECT_EQ(s.Read(buf, 100), 5u);  // short at the end
  EXPECT_EQ(s.Read(buf, 1), 0u);
  // From the end: size minus the absolute value of the offset.
  EXPECT_EQ(s.Seek(-10, soEnd), 990);
  EXPECT_EQ(s.Seek(10, soEnd), 990);
  EXPECT_EQ(s.Size(), 1000);
}

TEST(BufferStream, WritesAreFlushedAndPositionFollows) {
  TMemoryStream mem;
  {
    TS_BufferStream s(&mem, 16, false);
    std::string data = Digits(50);
    EXPECT_EQ(s.Write(data.data(), data.size()), 50u);
    EXPECT_EQ(s.Position(), 50);
    EXPECT_EQ(mem.Bytes().size(), 48u);  // three full buffers so far
    s.Seek(10, soBeginning);            // flushes the rest
    EXPECT_EQ(mem.Bytes().size(), 50u);
    s.Write("ab", 2);
  }
  EXPECT_EQ(mem.Bytes().substr(8, 6), "89ab23");
}

TEST(BufferStream, WriteAfterReadGoesToTheLogicalPosition) {
  TMemoryStream mem(Digits(40));
  TS_BufferStream s(&mem, 16, false);
  char buf[5];
  s.Read(buf, 5);
  s.Write("XY", 2);
  s.FlushBuffer();
  EXPECT_EQ(mem.Bytes().substr(3, 5), "34XY7");
}

TEST(BufferStream, ErrorsHaveTheirTexts) {
  TMemoryStream mem(Digits(10));
  TS_BufferStream s(&mem, 16, false);
  try {
    s.Seek(0, 7);
    FAIL();
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Invalid seek origin (7)");
  }
  EXPECT_THROW(s.Putback('x'), EStreamError);
  char c;
  s.Read(&c, 1);
  s.Read(&c, 1);
  s.Putback('Z');
  s.Read(&c, 1);
  EXPECT_EQ(c, 'Z');
}

TEST(FileStream, OpensReadsAndReportsMissingFiles) {
  test::TempDir dir;
  test::WriteFile(dir / "f.bin", Digits(300000));
  TLFNFileStream s(dir / "f.bin", 4096, false, fmOpenRead);
  std::string got(300000, '\0');
  EXPECT_EQ(s.Read(got.data(), got.size()), got.size());
  EXPECT_EQ(got, Digits(300000));
  EXPECT_THROW(TLFNFileStream(dir / "missing", 4096, false, fmOpenRead), EFOpenError);
  // Neither a directory nor a FIFO (whose open would wait for a writer) is read.
  EXPECT_THROW(TLFNFileStream(dir.path(), 4096, false, fmOpenRead), EFOpenError);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_THROW(TLFNFileStream(dir / "fifo", 4096, false, fmOpenRead), EFOpenError);
  {
    TLFNFileStream w(dir / "new.bin", 8, true, fmCreate);
    EXPECT_EQ(w.Write("hello world", 11), 11u);
    EXPECT_TRUE(w.Close());
  }
  EXPECT_EQ(test::ReadFile(dir / "new.bin"), "hello world");
}

TEST(Masks, StarQuestionMarkAndCase) {
  EXPECT_TRUE(MatchMask("*", "anything/at/all"));
  EXPECT_TRUE(MatchMask("*.txt", "readme.txt"));
  EXPECT_TRUE(MatchMask("*.txt", "docs/readme.txt"));  // the star crosses "/"
  EXPECT_TRUE(MatchMask("*.TXT", "docs/README.txt"));
  EXPECT_FALSE(MatchMask("*.txt", "readme.txt.bak"));
  EXPECT_TRUE(MatchMask("a?c", "a/c"));
  EXPECT_FALSE(MatchMask("a?c", "ac"));
  EXPECT_TRUE(MatchMask("a*", "a"));
  EXPECT_TRUE(MatchMask("*b*d", "abxcd"));
  EXPECT_FALSE(MatchMask("abc", "abcd"));
  EXPECT_FALSE(MatchMask("abcd", "abc"));
}

TEST(Masks, Sets) {
  EXPECT_TRUE(MatchMask("<a-c>*", "beta.txt"));
  EXPECT_TRUE(MatchMask("<a-c>*", "Charlie"));
  EXPECT_FALSE(MatchMask("<a-c>*", "delta"));
  EXPECT_TRUE(MatchMask("<!a-c>*", "delta"));
  EXPECT_FALSE(MatchMask("<^a-c>*", "alpha"));
  EXPECT_TRUE(MatchMask("<c-a>x", "bx"));   // either way round
  EXPECT_TRUE(MatchMask("f<xyz>", "fy"));
  EXPECT_FALSE(MatchMask("f<xyz", "fy"));   // not closed
  EXPECT_FALSE(MatchMask("f<>", "f>"));     // empty
}

TEST(Masks, StarBeforeASetMatchesARunOfTheSet) {
  EXPECT_TRUE(MatchMask("*<0-9>.log", "2024.log"));
  EXPECT_TRUE(MatchMask("*<0-9>.log", ".log"));
  EXPECT_FALSE(MatchMask("*<0-9>.log", "v2.log"));
  EXPECT_TRUE(MatchMask("*<!0-9>x", "abcx"));
  EXPECT_FALSE(MatchMask("*<9-0>x", "5x"));  // high-to-low range lists nothing here
  EXPECT_FALSE(MatchMask("*<>x", "x"));
}

TEST(Masks, ManyStarsStayFast) {
  std::string path(3000, 'a');
  EXPECT_FALSE(MatchMask("*a*a*a*a*a*a*a*a*a*a*b", path));
}

}  // namespace
}  // namespace vantrel::zip
