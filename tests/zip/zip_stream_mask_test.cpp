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

// Reads across refills, seeks inside the buffer, a short read at the end; a
// write after a read goes where the read ended and a seek flushes.
TEST(BufferStream, ReadsWritesAndSeeksKeepTheLogicalPosition) {
  TMemoryStream mem(Digits(1000));
  {
    TS_BufferStream s(&mem, 64, false);
    char buf[100];
    ASSERT_EQ(s.Read(buf, 100), 100u);
    EXPECT_EQ(std::string(buf, 100), Digits(100));
    s.Seek(-30, soCurrent);
    ASSERT_EQ(s.Read(buf, 3), 3u);
    EXPECT_EQ(std::string(buf, 3), "012");
    s.Write("XY", 2);
    EXPECT_EQ(s.Position(), 75);
    EXPECT_EQ(s.Seek(995, soBeginning), 995);
    EXPECT_EQ(s.Read(buf, 100), 5u);
    EXPECT_EQ(s.Read(buf, 1), 0u);
    EXPECT_EQ(s.Seek(-10, soEnd), 990);
    s.Write("ab", 2);
  }
  EXPECT_EQ(mem.Bytes().substr(70, 8), "012XY567");
  EXPECT_EQ(mem.Bytes().substr(988, 6), "89ab23");
}

TEST(FileStream, OpensReadsAndReportsMissingFiles) {
  test::TempDir dir;
  test::WriteFile(dir / "f.bin", Digits(300000));
  std::string got(300000, '\0');
  EXPECT_EQ(TLFNFileStream(dir / "f.bin", 4096, false, fmOpenRead).Read(got.data(), got.size()), got.size());
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

TEST(Masks, StarsQuestionMarksSetsAndCase) {
  const struct {
    const char *mask, *name;
    bool match;
  } cases[] = {
      {"*", "anything/at/all", true}, {"*.txt", "docs/readme.txt", true},  // the star crosses "/"
      {"*.TXT", "docs/README.txt", true}, {"*.txt", "readme.txt.bak", false}, {"a?c", "a/c", true},
      {"a?c", "ac", false}, {"a*", "a", true}, {"*b*d", "abxcd", true}, {"abc", "abcd", false},
      {"abcd", "abc", false}, {"<a-c>*", "beta.txt", true}, {"<a-c>*", "Charlie", true},
      {"<a-c>*", "delta", false}, {"<!a-c>*", "delta", true}, {"<^a-c>*", "alpha", false},
      {"<c-a>x", "bx", true},  // either way round
      {"f<xyz>", "fy", true}, {"f<xyz", "fy", false},  // not closed
      {"f<>", "f>", false},                             // empty
      // A star before a set matches a run of the set.
      {"*<0-9>.log", "2024.log", true}, {"*<0-9>.log", ".log", true}, {"*<0-9>.log", "v2.log", false},
      {"*<!0-9>x", "abcx", true}, {"*<9-0>x", "5x", false}, {"*<>x", "x", false},
  };
  for (const auto& c : cases) EXPECT_EQ(MatchMask(c.mask, c.name), c.match) << c.mask << " " << c.name;
  EXPECT_FALSE(MatchMask("*a*a*a*a*a*a*a*a*a*a*b", std::string(3000, 'a')));  // many stars stay fast
}

}  // namespace
}  // namespace vantrel::zip
