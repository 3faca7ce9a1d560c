#include "server/page_compiler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/memhost.h"

namespace torvane::server {
namespace {

using ::testing::HasSubstr;

using test::TempDir;
using test::WriteFile;

TEST(PageCompiler, TextCodeAndExpressionsBecomeOneProgram) {
  TempDir site;
  auto page = CompilePageText(site.path(), "/p.asp", "a\"b\\c<% var x = 1 %><%= x + 1 %><%@ Language=JScript %>end");
  EXPECT_EQ(page->script,
            "__torvane_write(\"a\\\"b\\\\c\"); var x = 1 \n__torvane_write( x + 1 \n);__torvane_write(\"end\");");
}

TEST(PageCompiler, ProgramLinesMapBackToPageLines) {
  TempDir site;
  // Line 3 holds the failing statement; the blocks add program-only newlines.
  auto page = CompilePageText(site.path(), "/p.asp", "one\n<% var a = 1 %>two\n<% fail(); %>\n");
  int failLine = 0, n = 1;
  for (size_t i = 0; i < page->script.size(); ++i) {
    if (page->script.compare(i, 6, "fail()") == 0) failLine = n;
    if (page->script[i] == '\n') ++n;
  }
  ASSERT_GT(failLine, 0);
  EXPECT_EQ(page->Origin(failLine).line, 3);
  EXPECT_EQ(page->Origin(failLine).file, "/p.asp");
  EXPECT_EQ(page->Origin(9999).line, 1);
}

TEST(PageCompiler, LineSeparatorsInTextAreEscaped) {
  TempDir site;
  auto page = CompilePageText(site.path(), "/p.asp", "a\xE2\x80\xA8" "b\r\n");
  EXPECT_THAT(page->script, HasSubstr("\\u2028"));
  EXPECT_THAT(page->script, HasSubstr("\\r\\n"));
}

TEST(PageCompiler, IncludesFileAndVirtualWithTheirOwnLines) {
  TempDir site;
  std::filesystem::create_directories(site / "inc");
  std::filesystem::create_directories(site / "sub");
  WriteFile(site / "inc/a.inc", "A1\nA2 <% boom(); %>\n");
  WriteFile(site / "sub/b.inc", "<!-- #include virtual=\"/inc/a.inc\" -->B\n");
  WriteFile(site / "sub/page.asp", "P1\n<!--#include file=\"b.inc\"-->\nP3 <% last(); %>\n");
  auto page = CompilePage(site.path(), "/sub/page.asp");
  auto lineOf = [&](const char* needle) {
    int n = 1;
    size_t at = page->script.find(needle);
    for (size_t i = 0; i < at; ++i)
      if (page->script[i] == '\n') ++n;
    return page->Origin(n);
  };
  EXPECT_EQ(lineOf("boom").file, "/inc/a.inc");
  EXPECT_EQ(lineOf("boom").line, 2);
  EXPECT_EQ(lineOf("last").file, "/sub/page.asp");
  EXPECT_EQ(lineOf("last").line, 3);
  EXPECT_EQ(page->files.size(), 3u);
}

TEST(PageCompiler, BadPagesFailWithFileAndLine) {
  TempDir site;
  WriteFile(site / "loop.inc", "<!-- #include file=\"loop.inc\" -->");
  struct Case {
    const char* text;
    const char* message;
    int line;
  } cases[] = {
      {"x\n<% open", "not closed", 2},
      {"a\n\n<!-- #include file=\"missing.inc\" -->", "cannot read include file /missing.inc", 3},
      {"<!-- #include virtual=\"/../../etc/passwd\" -->", "leaves the site", 1},
      {"<!-- #include file=\"../outside.inc\" -->", "leaves the site", 1},
      {"<!-- #include file=\"loop.inc\" -->", "nested deeper", 1},
  };
  for (const auto& c : cases) {
    try {
      CompilePageText(site.path(), "/p.asp", c.text);
      ADD_FAILURE() << c.text;
    } catch (const CompileError& e) {
      EXPECT_THAT(e.message, HasSubstr(c.message));
      if (std::string(c.message) != "nested deeper") {
        EXPECT_EQ(e.where.line, c.line) << c.text;
      }
    }
  }
}

TEST(PageCompiler, OrdinaryCommentsStayText) {
  TempDir site;
  auto page = CompilePageText(site.path(), "/p.asp", "<!-- a comment --><!-- #includex -->");
  EXPECT_THAT(page->script, HasSubstr("<!-- a comment -->"));
}

TEST(PageCache, RecompilesWhenThePageOrAnIncludeChanges) {
  TempDir site;
  WriteFile(site / "i.inc", "one");
  WriteFile(site / "p.asp", "<!-- #include file=\"i.inc\" -->");
  PageCache cache;
  auto first = cache.Get(site.path(), "/p.asp");
  EXPECT_EQ(cache.Get(site.path(), "/p.asp"), first);
  WriteFile(site / "i.inc", "two, longer");
  auto second = cache.Get(site.path(), "/p.asp");
  EXPECT_NE(second, first);
  EXPECT_THAT(second->script, HasSubstr("two, longer"));
  std::filesystem::remove(site / "p.asp");
  EXPECT_THROW(cache.Get(site.path(), "/p.asp"), CompileError);
}

}  // namespace
}  // namespace torvane::server
