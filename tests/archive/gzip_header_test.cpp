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
  Error e = CatchError([&] {
    a->OpenArchive(Variant(Dos("bad.gz")));
    a->Extract(Variant("*"), Variant(Dos("dest")), Variant::Missing());
  });
  // Damaged: an engine error, whichever step notices it.
  EXPECT_GE(e.number, 2561) << e.description;
  EXPECT_LE(e.number, 2570) << e.description;
}

}  // namespace
}  // namespace torvane::test
