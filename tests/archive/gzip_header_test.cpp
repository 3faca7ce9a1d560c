// A GZIP header is read within the bytes the file has: an extra field that
// claims more than the header holds, with a name flag after it, is no crash.
#include "archive_fixture.h"

namespace torvane::test {
namespace {

TEST_F(ArchiveTest, AGzipExtraFieldLongerThanTheHeaderIsReadSafely) {
  // magic, deflate, FEXTRA|FNAME, mtime, xfl, os, XLEN = 0xFFFF, then a few bytes.
  std::string g("\x1f\x8b\x08\x0c\x00\x00\x00\x00\x00\x03\xff\xff" "abc", 15);
  Put("bad.gz", g);
  auto a = Make();
  Error e = ThrownError([&] { a->OpenArchive(Variant(Dos("bad.gz"))); });
  ASSERT_EQ(e.number, 0) << e.description;
  // The header's name field lies past its end: the member takes the archive's name.
  EXPECT_EQ(Listing(*a), std::vector<std::string>{"bad"});
}

}  // namespace
}  // namespace torvane::test
