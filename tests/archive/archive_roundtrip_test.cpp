// Archives written by Torvane read back by Torvane, for every writable format.
#include "archive_fixture.h"

namespace torvane::test {
namespace {

using ArchiveRoundTrip = ArchiveTest;

TEST_F(ArchiveRoundTrip, ZipWithFoldersSavesListsAndExtractsByteForByte) {
  std::string big = Noise(300000, 1);
  Put("src/docs/a.txt", "alpha");
  Put("src/docs/sub/b.bin", big);
  Put("src/empty.txt", "");
  std::filesystem::create_directories(Native("src/docs/hollow"));

  auto a = Make();
  a->NewArchive(Variant(Dos("out/t.zip")), Variant::Missing());
  a->Add(Variant(Dos("src/docs")), Variant(true), Variant::Missing());
  a->Add(Variant(Dos("src/empty.txt")), Variant::Missing(), Variant::Missing());
  std::filesystem::create_directories(Native("out"));
  a->SaveArchive(Variant::Missing());

  auto b = Make();
  b->OpenArchive(Variant(Dos("out/t.zip")));
  EXPECT_EQ(b->ArchiveType(), 0);
  EXPECT_EQ(Listing(*b), (std::vector<std::string>{"docs/", "docs\\a.txt", "docs\\hollow/", "docs\\sub/",
                                                   "docs\\sub\\b.bin", "empty.txt"}));
  auto entries = b->Entries();
  auto bin = entries->Item(Variant("DOCS\\SUB\\B.BIN")).as<ArchiveEntry>();
  EXPECT_EQ(bin->UnCompressedSize(), 300000);
  EXPECT_GT(bin->CompressedSize(), 0);
  b->Extract(Variant("*"), Variant(Dos("x")), Variant::Missing());
  EXPECT_EQ(Content(Native("x/docs/a.txt")), "alpha");
  EXPECT_EQ(Content(Native("x/docs/sub/b.bin")), big);
  EXPECT_TRUE(FileExists(Native("x/empty.txt")));
  EXPECT_TRUE(std::filesystem::is_directory(Native("x/docs/hollow")));
}

struct FormatCase {
  const char* name;
  int32_t type;
};

// Failure messages and ctest show the format's extension and type number.
void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name << "-type-" << c.type; }

class OneFileFormats : public ArchiveTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(OneFileFormats, OneFileRoundTrips) {
  std::string data = Noise(70001, 7);
  Put("in/report.dat", data);
  auto a = Make();
  std::string path = std::string("out.") + GetParam().name;
  a->NewArchive(Variant(Dos(path)), Variant(GetParam().type));
  a->Add(Variant(Dos("in/report.dat")), Variant::Missing(), Variant::Missing());
  a->SaveArchive(Variant::Missing());

  auto b = Make();
  b->OpenArchive(Variant(Dos(path)));
  EXPECT_EQ(b->ArchiveType(), GetParam().type);
  EXPECT_EQ(Listing(*b), (std::vector<std::string>{"report.dat"}));
  EXPECT_EQ(b->Entries()->Item(Variant(1)).as<ArchiveEntry>()->UnCompressedSize(), 70001);
  b->Extract(Variant("report.dat"), Variant(Dos("x")), Variant::Missing());
  EXPECT_EQ(Content(Native("x/report.dat")), data);
}

INSTANTIATE_TEST_SUITE_P(Formats, OneFileFormats,
                         ::testing::Values(FormatCase{"zip", 0}, FormatCase{"gz", 10}, FormatCase{"tar", 21},
                                           FormatCase{"mmm", 13}, FormatCase{"bin", 12}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace torvane::test
