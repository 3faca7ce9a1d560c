#include "server/site_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/beneath.h"
#include "support/memhost.h"

namespace torvane::server {
namespace {

using test::TempDir;
using test::WriteFile;

struct SiteFixture : ::testing::Test {
  TempDir outside;
  TempDir site;
  SiteFixture() {
    std::filesystem::create_directories(site / "sub/deeper");
    std::filesystem::create_directories(site / "static");
    WriteFile(site / "default.asp", "home");
    WriteFile(site / "sub/page.ASP", "page");
    WriteFile(site / "sub/lib.inc", "secret code");
    WriteFile(site / ".hidden", "x");
    WriteFile(site / "static/index.html", "index");
    WriteFile(outside / "secret.txt", "secret");
    ::symlink((outside.path() + "/secret.txt").c_str(), (site / "link.txt").c_str());
    ::symlink(outside.path().c_str(), (site / "outlink").c_str());
  }
  Target At(const std::string& p) { return ResolveTarget(site.path(), p); }
};

TEST_F(SiteFixture, PagesFilesAndDefaultDocuments) {
  EXPECT_EQ(At("/sub/page.ASP").kind, TargetKind::Page);
  EXPECT_EQ(At("/").kind, TargetKind::Page);
  EXPECT_EQ(At("/").virtualPath, "/default.asp");
  EXPECT_EQ(At("/static/").kind, TargetKind::File);
  EXPECT_EQ(At("/static/").virtualPath, "/static/index.html");
  EXPECT_EQ(At("/static").kind, TargetKind::RedirectToFolder);
  EXPECT_EQ(At("/static").virtualPath, "/static/");
  EXPECT_EQ(At("/sub/deeper/").kind, TargetKind::NotFound);
  EXPECT_EQ(At("/sub/./deeper/../page.ASP").virtualPath, "/sub/page.ASP");
}

TEST_F(SiteFixture, NothingOutsideTheRootNorHiddenIsServed) {
  for (const char* p : {"/../etc/passwd", "/sub/../../etc/passwd", "/sub\\..\\..\\etc\\passwd", "/link.txt",
                        "/outlink/secret.txt", "/sub/lib.inc", "/.hidden", "/missing.asp"})
    EXPECT_EQ(At(p).kind, TargetKind::NotFound) << p;
}

TEST_F(SiteFixture, LinksInsideTheSiteAreFollowedAndFilesAreNamedCanonically) {
  // A folder link that stays inside, a file link to a file that may be served,
  // and one to an include file (whose source must never be sent).
  WriteFile(site / "static/note.txt", "note");
  ::symlink((site.path() + "/sub").c_str(), (site / "alias").c_str());
  ::symlink("static/note.txt", (site / "shown.txt").c_str());
  ::symlink("sub/lib.inc", (site / "lib.txt").c_str());
  std::string real = std::filesystem::canonical(site.path()).string();
  Target page = At("/alias/page.ASP");
  EXPECT_EQ(page.kind, TargetKind::Page);
  EXPECT_EQ(page.nativePath, real + "/sub/page.ASP");
  Target file = At("/shown.txt");
  EXPECT_EQ(file.kind, TargetKind::File);
  EXPECT_EQ(file.nativePath, real + "/static/note.txt");
  EXPECT_EQ(At("/lib.txt").kind, TargetKind::NotFound);
  // A file without any link on its way is named by the canonical root, and
  // comes already open (the static answer sends from it, no second open).
  Target plain = At("/static/note.txt");
  EXPECT_EQ(plain.nativePath, real + "/static/note.txt");
  ASSERT_TRUE(plain.file && plain.file->get() >= 0);
  char buf[8] = {};
  EXPECT_EQ(::pread(plain.file->get(), buf, sizeof buf, 0), 4);
  EXPECT_EQ(std::string(buf), "note");
  EXPECT_FALSE(At("/sub/page.ASP").file);  // a page is compiled from its path
  // A root given through a link: the same files, named canonically.
  TempDir links;
  ::symlink(site.path().c_str(), (links / "site").c_str());
  Target viaLink = ResolveTarget(links.path() + "/site", "/static/note.txt");
  EXPECT_EQ(viaLink.kind, TargetKind::File);
  EXPECT_EQ(viaLink.nativePath, real + "/static/note.txt");
  EXPECT_EQ(ResolveTarget(links.path() + "/site", "/outlink/secret.txt").kind, TargetKind::NotFound);
}

TEST_F(SiteFixture, WithoutOpenat2PathsAreResolvedTheSlowWayAlike) {
  // A kernel (or a seccomp filter) without openat2: every path takes the
  // realpath road, with the same answers; the file is opened when it is sent.
  WriteFile(site / "static/note.txt", "note");
  std::string real = std::filesystem::canonical(site.path()).string();
  UseOpenat2(false);
  Target file = At("/static/note.txt");
  Target page = At("/sub/page.ASP");
  Target leading = At("/link.txt");
  UseOpenat2(true);
  EXPECT_EQ(file.kind, TargetKind::File);
  EXPECT_EQ(file.nativePath, real + "/static/note.txt");
  EXPECT_FALSE(file.file);
  EXPECT_EQ(page.kind, TargetKind::Page);
  EXPECT_EQ(leading.kind, TargetKind::NotFound);
}

TEST(RequestPath, DecodingRefusesBadEscapesAndNul) {
  std::string out;
  EXPECT_TRUE(DecodeRequestPath("/a%20b/%2e%2e/c+d", out));
  EXPECT_EQ(out, "/a b/../c+d");
  EXPECT_FALSE(DecodeRequestPath("/a%zz", out));
  EXPECT_FALSE(DecodeRequestPath("/a%2", out));
  EXPECT_FALSE(DecodeRequestPath("/a%00.asp", out));
  EXPECT_FALSE(DecodeRequestPath("a.asp", out));
}

TEST(MimeTypes, KnownAndUnknownExtensions) {
  EXPECT_EQ(MimeTypeFor("/a/b.png"), "image/png");
  EXPECT_EQ(MimeTypeFor("/x.HTML"), "text/html");
  EXPECT_EQ(MimeTypeFor("/noextension"), "application/octet-stream");
  EXPECT_EQ(MimeTypeFor("/dir.d/file"), "application/octet-stream");
}

}  // namespace
}  // namespace torvane::server
