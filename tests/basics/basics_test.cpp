// The shared basics: the UTF-8 policy for stray bytes, the case mappings, the
// escapers, HTTP dates and the descriptor I/O every layer relies on.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "basics/ascii.h"
#include "basics/escape.h"
#include "basics/fdio.h"
#include "basics/http_date.h"
#include "basics/utf8.h"

namespace torvane {
namespace {

struct DecodeCase {
  const char* name;
  std::string text;
  std::u32string points;
  std::vector<bool> stray;
};

TEST(Utf8, DecodesWellFormedSequencesAndTakesEveryOtherByteAlone) {
  const DecodeCase cases[] = {
      {"ascii", "Ab", U"Ab", {false, false}},
      {"two bytes", "\xC3\xA9", U"\u00E9", {false}},
      {"three bytes", "\xE2\x82\xAC", U"\u20AC", {false}},
      {"four bytes", "\xF0\x9F\x98\x80", U"\U0001F600", {false}},
      // A Latin-1 e-acute before ASCII: one stray byte, the letters after it intact.
      {"latin-1 byte", "\xE9tx", U"\u00E9tx", {true, false, false}},
      {"truncated lead", "\xE2\x82", U"\u00E2\u0082", {true, true}},
      {"lead then ascii", "\xE2" "A", U"\u00E2" "A", {true, false}},
      {"overlong slash", "\xC0\xAF", U"\u00C0\u00AF", {true, true}},
      {"surrogate", "\xED\xA0\x80", U"\u00ED\u00A0\u0080", {true, true, true}},
      {"above U+10FFFF", "\xF4\x90\x80\x80", U"\u00F4\u0090\u0080\u0080", {true, true, true, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::u32string got;
    std::vector<bool> stray;
    for (size_t i = 0; i < c.text.size();) {
      bool s = false;
      got += NextCodePoint(c.text, i, &s);
      stray.push_back(s);
    }
    EXPECT_EQ(got, c.points);
    EXPECT_EQ(stray, c.stray);
    bool anyStray = false;
    for (bool s : c.stray) anyStray = anyStray || s;
    EXPECT_EQ(IsValidUtf8(c.text), !anyStray);
  }
}

TEST(Utf8, EncodesEveryLengthAndRoundTrips) {
  std::string out;
  for (char32_t cp : {U'A', U'\u00E9', U'\u20AC', U'\U0001F600'}) AppendUtf8(cp, out);
  EXPECT_EQ(out, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(CodePoints(out), U"A\u00E9\u20AC\U0001F600");
}

TEST(Utf8, Utf16LEWritesSurrogatePairsAndStrayBytesAsTheirValue) {
  std::vector<uint8_t> out;
  AppendUtf16LE("a\xF0\x9F\x98\x80\xE9", out);
  EXPECT_EQ(out, (std::vector<uint8_t>{'a', 0, 0x3D, 0xD8, 0x00, 0xDE, 0xE9, 0}));
}

TEST(Utf8, CaseMappingsUseUnicodeAndLeaveStrayBytesAlone) {
  struct Case {
    std::string text, upper, folded;
  };
  const Case cases[] = {
      {"abc-XYZ", "ABC-XYZ", "abc-xyz"},
      {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9"},       // été
      {"\xD0\xB4\xD0\x94", "\xD0\x94\xD0\x94", "\xD0\xB4\xD0\xB4"},           // дД
      // A Latin-1 byte followed by two letters: decoding it with the letters as
      // continuation bytes would make one CJK character and lose them.
      {"\xE9tx", "\xE9TX", "\xE9tx"},
      {"a\xFF" "b", "A\xFF" "B", "a\xFF" "b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(UpperText(c.text), c.upper);
    EXPECT_EQ(FoldCase(c.text), c.folded);
  }
  EXPECT_TRUE(EqualsNoCase("\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9"));
  EXPECT_FALSE(EqualsNoCase("\xE9", "\xC3\xA9"));  // a stray byte is not the letter of its number
}

TEST(Ascii, ChangesOnlyAsciiLettersAndTrims) {
  EXPECT_EQ(AsciiLower("Content-TYPE \xC3\x89"), "content-type \xC3\x89");
  EXPECT_EQ(AsciiUpper("gzip\xC3\xA9"), "GZIP\xC3\xA9");
  EXPECT_TRUE(EqualsAsciiNoCase("Range", "rANGE"));
  EXPECT_FALSE(EqualsAsciiNoCase("Range", "Ranges"));
  EXPECT_TRUE(StartsWithAsciiNoCase("Bytes=0-1", "bytes="));
  EXPECT_FALSE(StartsWithAsciiNoCase("by", "bytes="));
  EXPECT_EQ(TrimBlanks(" \t a b \t"), "a b");
  EXPECT_EQ(TrimSpace("\r\n x\v\f"), "x");
  EXPECT_EQ(TrimChars("\"q\"", "\""), "q");
  EXPECT_EQ(TrimBlanks("   "), "");
}

TEST(Escape, HtmlUrlAndXml) {
  EXPECT_EQ(HtmlEncode("<a href=\"x\">&'</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;'&lt;/a&gt;");
  EXPECT_EQ(UrlEncode("a b/\xC3\xA9-_.*~"), "a+b%2F%C3%A9-_.*%7E");
  struct Case {
    std::string in, out;
  };
  const Case xml[] = {
      {"a<b>&c", "a&lt;b&gt;&amp;c"},
      {"tab\tnl\ncr\r", "tab\tnl\ncr\r"},
      {std::string("nul\0x", 5), "nul\xEF\xBF\xBDx"},
      {"\x01", "\xEF\xBF\xBD"},
      {"\xC3\xA9", "\xC3\xA9"},
      {"\xEF\xBF\xBE\xEF\xBF\xBF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xE9" "a", "\xEF\xBF\xBD" "a"},
  };
  for (const auto& c : xml) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(XmlEscape(c.in), c.out);
  }
}

TEST(HttpDate, FormatsAndReadsBack) {
  EXPECT_EQ(FormatHttpTime(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(FormatHttpTime(784111777, false), "Sun, 6 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(ParseHttpTime("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
  EXPECT_EQ(ParseHttpTime("Xxx, 6 nov 1994 08:49:37 GMT"), 784111777);
  EXPECT_EQ(ParseHttpTime("Tue, 29 Feb 2000 00:00:00 GMT"), 951782400);
  for (const char* bad : {"", "Sun, 06 Nov 94 08:49:37 GMT", "Sun, 29 Feb 1900 00:00:00 GMT",
                          "Sun, 06 Foo 1994 08:49:37 GMT", "Sun, 06 Nov 1994 24:00:00 GMT",
                          "Sun, 06 Nov 1994 08:49 GMT", "Sunday, 06-Nov-94 08:49:37 GMT"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseHttpTime(bad).has_value());
  }
}

TEST(FdIo, FullTransfersAndPositionedIo) {
  char path[] = "/tmp/torvane-fdio-XXXXXX";
  UniqueFd fd(::mkstemp(path));
  ASSERT_GE(fd.get(), 0);
  ::unlink(path);
  std::string data(300000, 'x');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
  ASSERT_TRUE(WriteAll(fd.get(), data.data(), data.size()));
  ASSERT_TRUE(PwriteAll(fd.get(), "ZZ", 2, 10));
  std::string back(data.size() + 100, '\0');
  EXPECT_EQ(PreadFull(fd.get(), back.data(), back.size(), 0), static_cast<ssize_t>(data.size()));
  back.resize(data.size());
  data.replace(10, 2, "ZZ");
  EXPECT_EQ(back, data);
  char two[2];
  EXPECT_EQ(PreadSome(fd.get(), two, 2, static_cast<int64_t>(data.size())), 0);  // end of the file

  // A descriptor that cannot be read or written reports -1 / false with errno.
  int raw = fd.Release();
  ::close(raw);
  errno = 0;
  EXPECT_EQ(ReadFull(raw, two, 2), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_FALSE(WriteAll(raw, "a", 1));
  EXPECT_EQ(errno, EBADF);
}

// The system's random bytes: every byte of the buffer is written (a buffer
// left as it was would show as the fill pattern), and two draws differ.
TEST(FdIo, RandomBytesFillsTheWholeBuffer) {
  std::string a(4096, '\xA5'), b(4096, '\xA5');
  ASSERT_TRUE(RandomBytes(a.data(), a.size()));
  ASSERT_TRUE(RandomBytes(b.data(), b.size()));
  EXPECT_NE(a, b);
  // No run of 64 untouched bytes anywhere (chance of a false alarm: nil).
  EXPECT_EQ(a.find(std::string(64, '\xA5')), std::string::npos);
  EXPECT_EQ(b.find(std::string(64, '\xA5')), std::string::npos);
  EXPECT_TRUE(RandomBytes(nullptr, 0));
}

TEST(FdIo, ReadFullCollectsShortPipeReadsAndUniqueFdCloses) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  UniqueFd reader(p[0]);
  {
    UniqueFd writer(p[1]);
    ASSERT_TRUE(WriteAll(writer.get(), "abc", 3));
    ASSERT_TRUE(WriteAll(writer.get(), "def", 3));
  }  // the writer closes: the reader sees the end after six bytes
  char buf[16];
  EXPECT_EQ(ReadFull(reader.get(), buf, sizeof buf), 6);
  EXPECT_EQ(std::string(buf, 6), "abcdef");
  EXPECT_EQ(::fcntl(p[1], F_GETFD), -1);
}

}  // namespace
}  // namespace torvane
