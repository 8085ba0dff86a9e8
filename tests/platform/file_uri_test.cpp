// file: URIs as desktops pass them: decoding to local paths (bytes kept),
// encoding back, and command-line arguments made absolute.
#include <gtest/gtest.h>

#include "platform/file_uri.h"

namespace vantrel::platform {
namespace {

TEST(FileUri, LocalPathsOnlyAndEveryByteKept) {
  const struct {
    const char* uri;
    std::optional<std::string> path;
  } cases[] = {
      {"file:///home/u/a%20b.txt", "/home/u/a b.txt"},
      {"file://localhost/etc", "/etc"},
      {"FILE:///x", "/x"},
      {"file:/x/y", "/x/y"},
      {"file:///bad%FFname", std::string("/bad\xff" "name")},
      {"file:///50%", "/50%"},          // a lone percent sign stays
      {"file:///a%2", "/a%2"},
      {"file:///a%2Fb", "/a/b"},
      {"file:///a%00b", std::nullopt},  // a NUL names no file
      {"file://otherhost/x", std::nullopt},
      {"file://", std::nullopt},
      {"file:relative", std::nullopt},
      {"sftp://host/x", std::nullopt},
      {"/plain/path", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(LocalPathOfUri(c.uri), c.path) << c.uri;
}

TEST(FileUri, EncodingRoundTrips) {
  EXPECT_EQ(FileUriOf("/home/u/a b#c?d%e"), "file:///home/u/a%20b%23c%3Fd%25e");
  EXPECT_EQ(FileUriOf("/x/\xc3\xbc~._-"), "file:///x/%C3%BC~._-");
  std::string all = "/";
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  const std::string uri = FileUriOf(all);
  for (const char c : uri) EXPECT_TRUE(c > ' ' && c < 127) << uri;
  EXPECT_EQ(LocalPathOfUri(uri), all);
}

TEST(FileUri, CommandLineArguments) {
  const struct {
    const char* arg;
    std::optional<std::string> path;
  } cases[] = {
      {"docs", "/work/docs"},
      {"../x.zip", "/work/../x.zip"},
      {"/abs", "/abs"},
      {"file:///tmp/a%20b", "/tmp/a b"},
      {"file://elsewhere/tmp", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ArgumentPath(c.arg, "/work"), c.path) << c.arg;
}

}  // namespace
}  // namespace vantrel::platform
