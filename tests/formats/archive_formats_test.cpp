// The formats read through libarchive, each made at test time by the tool
// that makes it on a Linux system: the listing must be the tool's own and
// every file's data the bytes that went in.
#include <gtest/gtest.h>

#include <set>

#include "tests/formats/formats_helpers.h"

namespace vantrel::test {
namespace {

using formats::TMemberKind;

struct TFormatCase {
  const char* name;
  std::vector<const char*> tools;
  // Makes $A from the tree in "src" (the current directory holds "src").
  const char* make;
  // Prints the tool's own listing of $A, one name a line.
  const char* oracle;
  const char* kindName;
  // Where the tree lies inside the archive.
  const char* prefix;
  bool link;
  bool modes;
  bool times;
};

// A Debian package of the tree (under usr/share/t) with a control file.
constexpr const char* kMakeDeb =
    "mkdir -p pkg/DEBIAN pkg/usr/share/t && cp -a src/. pkg/usr/share/t/ && "
    "printf 'Package: t\\nVersion: 1\\nArchitecture: all\\nMaintainer: T <t@example.org>\\n"
    "Description: test\\n' > pkg/DEBIAN/control && dpkg-deb --root-owner-group -Zxz -b pkg \"$A\" >/dev/null";
constexpr const char* kOracleDeb =
    "dpkg-deb --fsys-tarfile \"$A\" | tar -t; dpkg-deb --ctrl-tarfile \"$A\" | tar -t | sed 's|^|DEBIAN/|'";

// An RPM package of the tree (under usr/share/t); its build recipe is written by
// WriteRpmRecipe.
constexpr const char* kMakeRpm =
    "mkdir -p top && rpmbuild --quiet --define \"_topdir $PWD/top\" --define '_build_id_links none' "
    "-bb t.rpmrecipe >/dev/null && cp top/RPMS/noarch/*.rpm \"$A\"";

void WriteRpmRecipe(const std::string& dir) {
  WriteFile(dir + "/t.rpmrecipe",
            "Name: t\nVersion: 1\nRelease: 1\nSummary: t\nLicense: MIT\nBuildArch: noarch\n"
            "%description\nt\n%install\nmkdir -p %{buildroot}/usr/share/t\n"
            "cp -a " + dir + "/src/. %{buildroot}/usr/share/t/\n%files\n/usr/share/t\n");
}

const TFormatCase kCases[] = {
    {"tar", {"tar"}, "tar -C src -cf \"$A\" .", "tar -tf \"$A\"", "tar", "", true, true, true},
    {"tar.gz", {"tar", "gzip"}, "tar -C src -czf \"$A\" .", "tar -tzf \"$A\"", "tar.gz", "", true, true, true},
    {"tar.bz2", {"tar", "bzip2"}, "tar -C src -cjf \"$A\" .", "tar -tjf \"$A\"", "tar.bz2", "", true, true, true},
    {"tar.xz", {"tar", "xz"}, "tar -C src -cJf \"$A\" .", "tar -tJf \"$A\"", "tar.xz", "", true, true, true},
    {"tar.lzma", {"tar", "xz"}, "tar -C src -cf - . | xz --format=lzma -c > \"$A\"",
     "xz --format=lzma -dc \"$A\" | tar -t", "tar.lzma", "", true, true, true},
    {"tar.zst", {"tar", "zstd"}, "tar -C src --zstd -cf \"$A\" .", "tar --zstd -tf \"$A\"", "tar.zst", "", true,
     true, true},
    {"tar.lz4", {"tar", "lz4"}, "tar -C src -cf - . | lz4 -q > \"$A\"", "lz4 -dc \"$A\" | tar -t", "tar.lz4", "",
     true, true, true},
    {"tar.lz", {"tar", "lzip"}, "tar -C src --lzip -cf \"$A\" .", "tar --lzip -tf \"$A\"", "tar.lz", "", true, true,
     true},
    {"pax (bsdtar)", {"bsdtar", "tar"}, "bsdtar -C src --format pax -cf \"$A\" .", "tar -tf \"$A\"", "tar", "", true,
     true, true},
    {"7z", {"7zz"}, "(cd src && 7zz a -snl \"$A\" . >/dev/null)",
     "7zz l -slt -ba \"$A\" | sed -n 's/^Path = //p'", "7z", "", true, true, true},
    {"cpio", {"cpio"}, "(cd src && find . | cpio --quiet -o -H newc > \"$A\")", "cpio --quiet -it < \"$A\"", "cpio",
     "", true, true, true},
    {"cpio.gz", {"cpio", "gzip"}, "(cd src && find . | cpio --quiet -o -H newc | gzip > \"$A\")",
     "gzip -dc \"$A\" | cpio --quiet -it", "cpio.gz", "", true, true, true},
    {"ISO 9660 Rock Ridge", {"xorriso"}, "xorriso -as mkisofs -quiet -R -J -o \"$A\" src",
     "(cd src && find . -mindepth 1)", "ISO 9660", "", true, true, true},
    {"ISO 9660 Joliet", {"xorriso"}, "xorriso -as mkisofs -quiet -J --norock -o \"$A\" src 2>/dev/null",
     "(cd src && find . -mindepth 1 ! -name link)", "ISO 9660", "", false, false, false},
    {"deb", {"dpkg-deb", "tar", "xz"}, kMakeDeb, kOracleDeb, "deb", "usr/share/t/", true, true, true},
    {"rpm", {"rpmbuild", "rpm"}, kMakeRpm, "rpm -qlp \"$A\" 2>/dev/null", "rpm", "usr/share/t/", true, false, true},
    {"cab", {"gcab"},
     "(cd src && gcab -c \"$A\" hello.txt empty docs/readme.md 'docs/space name.txt' docs/deep/er/data.bin)",
     "gcab -t \"$A\" | tr '\\\\' /", "cab", "", false, false, false},
};

class ArchiveFormat : public ::testing::TestWithParam<TFormatCase> {};

std::set<std::string> Lines(const std::string& text) {
  std::set<std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string name = Normal(text.substr(at, end - at));
    if (!name.empty() && name != ".") out.insert(name);
    at = end + 1;
  }
  return out;
}

TEST_P(ArchiveFormat, ListsWhatTheToolListsAndReadsWhatWentIn) {
  const TFormatCase& c = GetParam();
  for (const char* tool : c.tools) VANTREL_NEED_TOOL(tool);
  TempDir dir;
  MakeTree(dir / "src", true);
  const std::string archive = dir / "archive.bin";
  const std::string env = "cd " + Q(dir.path()) + " && A=" + Q(archive) + " && ";
  if (c.make == kMakeRpm) WriteRpmRecipe(dir.path());
  Sh(env + c.make);
  const std::set<std::string> expected = Lines(Sh(env + c.oracle));
  ASSERT_FALSE(expected.empty());

  EXPECT_EQ(formats::ProbeArchive(archive).name, c.kindName);
  auto listed = OpenListed(archive);
  ASSERT_TRUE(listed);
  const auto members = ByName(*listed);
  std::set<std::string> names;
  for (const auto& [name, m] : members) names.insert(name);
  EXPECT_EQ(names, expected);

  const std::string prefix = c.prefix;
  for (const auto& [path, data] : TreeFiles()) {
    const std::string name = prefix + path;
    if (!members.count(name)) {
      ADD_FAILURE() << name << " missing";
      continue;
    }
    const formats::TMember& m = members.at(name);
    EXPECT_EQ(m.kind, TMemberKind::File) << name;
    EXPECT_EQ(m.size, data.size()) << name;
    bool ok = false;
    std::string why;
    EXPECT_TRUE(SameBytes(ReadMember(*listed, name, &ok, &why), data)) << name;
    EXPECT_TRUE(ok) << name << ": " << why;
  }
  if (c.link) {
    ASSERT_TRUE(members.count(prefix + "link"));
    const formats::TMember& link = members.at(prefix + "link");
    EXPECT_EQ(link.kind, TMemberKind::Symlink);
    EXPECT_EQ(link.linkTarget, "hello.txt");
    EXPECT_EQ(ReadMember(*listed, prefix + "link"), "hello.txt");
  }
  const formats::TMember& hello = members.at(prefix + "hello.txt");
  if (c.modes) { EXPECT_EQ(hello.mode, 0640u); }
  if (c.times) { EXPECT_EQ(hello.writeTime, platform::FileTimeFromUnix(kTreeTime, 0)); }
  if (std::string(c.prefix) == "usr/share/t/" && std::string(c.name) == "deb") {
    EXPECT_TRUE(members.count("DEBIAN/control"));
    EXPECT_NE(ReadMember(*listed, "DEBIAN/control").find("Package: t"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Made, ArchiveFormat, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TFormatCase>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p != '\0'; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

// ar keeps bare names, no directories and no links.
TEST(ArArchive, ListsItsMembersAndTheirData) {
  VANTREL_NEED_TOOL("ar");
  TempDir dir;
  MakeTree(dir / "src", false);
  const std::string archive = dir / "lib.a";
  Sh("cd " + Q(dir / "src") + " && ar rcS " + Q(archive) + " hello.txt empty docs/deep/er/data.bin");
  EXPECT_EQ(formats::ProbeArchive(archive).name, "ar");
  auto listed = OpenListed(archive);
  ASSERT_TRUE(listed);
  std::set<std::string> names;
  for (const auto& [name, m] : ByName(*listed)) names.insert(name);
  EXPECT_EQ(names, Lines(Sh("ar t " + Q(archive))));
  EXPECT_TRUE(SameBytes(ReadMember(*listed, "hello.txt"), TreeFiles().at("hello.txt")));
  EXPECT_TRUE(SameBytes(ReadMember(*listed, "data.bin"), TreeFiles().at("docs/deep/er/data.bin")));
}

// A single compressed file is one entry, named after the file without the
// compression's suffix; its size is known once it was read.
TEST(SingleCompressedFile, IsOneEntryWithTheData) {
  struct TCase {
    const char* tool;
    const char* command;
    const char* file;
    const char* kind;
  } cases[] = {
      {"gzip", "gzip -c", "notes.txt.gz", "gz"},     {"bzip2", "bzip2 -c", "notes.txt.bz2", "bz2"},
      {"xz", "xz -c", "notes.txt.xz", "xz"},         {"zstd", "zstd -q -c", "notes.txt.zst", "zst"},
      {"lz4", "lz4 -q -c", "notes.txt.lz4", "lz4"},  {"lzip", "lzip -c", "notes.txt.lz", "lz"},
      {"gzip", "gzip -c", "drawing.svgz", "gz"},
  };
  TempDir dir;
  const std::string data = Noise(100000, 3) + "tail";
  WriteFile(dir / "plain", data);
  for (const TCase& c : cases) {
    if (platform::FindProgram(c.tool).empty()) continue;
    SCOPED_TRACE(c.file);
    const std::string file = dir / c.file;
    Sh(std::string(c.command) + " " + Q(dir / "plain") + " > " + Q(file));
    const formats::TArchiveKind kind = formats::ProbeArchive(file);
    EXPECT_EQ(kind.layout, formats::TLayout::SingleFile);
    EXPECT_EQ(kind.name, c.kind);
    auto listed = OpenListed(file);
    ASSERT_TRUE(listed);
    ASSERT_EQ(listed->Members().size(), 1u);
    const std::string entry = formats::SingleEntryName(c.file);
    EXPECT_EQ(listed->Members()[0].path, entry);
    EXPECT_FALSE(listed->Members()[0].sizeKnown);
    EXPECT_TRUE(SameBytes(ReadMember(*listed, entry), data));
    EXPECT_TRUE(listed->Members()[0].sizeKnown);
    EXPECT_EQ(listed->Members()[0].size, data.size());
  }
  EXPECT_EQ(formats::SingleEntryName("/x/drawing.svgz"), "drawing.svg");
  EXPECT_EQ(formats::SingleEntryName("/x/raw"), "raw");
}

// What is not an archive of ours is not taken for one.
TEST(ArchiveKind, LeavesOtherFilesAlone) {
  TempDir dir;
  WriteFile(dir / "text", "just some text\nwith lines\n");
  WriteFile(dir / "empty", "");
  WriteFile(dir / "noise", Noise(70000, 9));
  WriteFile(dir / "zeros", std::string(4096, '\0'));
  for (const char* name : {"text", "empty", "noise"})
    EXPECT_FALSE(formats::ProbeArchive(dir / name).Recognised()) << name;
  EXPECT_FALSE(formats::ProbeArchive(dir / "missing").Recognised());
  EXPECT_FALSE(formats::ProbeArchive(dir.path()).Recognised());
  if (!platform::FindProgram("zip").empty()) {
    Sh("cd " + Q(dir.path()) + " && zip -q z.zip text");
    EXPECT_FALSE(formats::ProbeArchive(dir / "z.zip").Recognised()) << "ZIP is the program's own";
  }
}

TEST(ArchiveKind, KnowsArchiveNamesForEnter) {
  const std::pair<const char*, bool> cases[] = {
      {"src-1.2.tar.gz", true}, {"SRC.TGZ", true},      {"b.tar.zst", true},   {"b.tzst", true},
      {"x.tar.bz2", true},      {"x.tar.xz", true},     {"disk.iso", true},    {"pkg_1.0_amd64.deb", true},
      {"p.rpm", true},          {"a.7z", true},         {"a.rar", true},       {"d.cab", true},
      {"i.cpio", true},         {"plain.tar", true},    {"notes.txt.gz", false}, {"a.gz", false},
      {"tar", false},           {".tar", false},        {"a.zip", false},      {"readme.txt", false},
      {"x.tarx", false},        {"disk.iso.part", false},
  };
  for (const auto& [name, archive] : cases) EXPECT_EQ(formats::HasArchiveName(name), archive) << name;
}

TEST(ArchiveKind, SaysWhyItIsReadOnly) {
  formats::TArchiveKind kind;
  kind.layout = formats::TLayout::Archive;
  kind.name = "tar.gz";
  EXPECT_EQ(kind.ReadOnlyText(), "tar.gz archives are read-only here; pack a new one with Alt+F5");
  kind.layout = formats::TLayout::SingleFile;
  kind.name = "xz";
  EXPECT_EQ(kind.ReadOnlyText(), ".xz files are read-only here; pack a new one with Alt+F5");
}

}  // namespace
}  // namespace vantrel::test
