#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "platform/settings.h"
#include "support/thrown_error.h"

namespace torvane {
namespace {

using test::ThrownError;

TEST(ConvertToText, CodePageRules) {
  auto bytes = [](const std::string& s) { return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size()); };
  struct Case {
    std::string in;
    int32_t cp;
    std::string out;
  };
  std::vector<Case> cases = {
      {"plain", 65001, "plain"},
      {"a\xFF" "b", 65001, "a\xEF\xBF\xBD" "b"},          // invalid byte -> U+FFFD
      {"\xE2\x82", 65001, "\xEF\xBF\xBD\xEF\xBF\xBD"},    // truncated sequence
      {"\xED\xA0\x80", 65001, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
      {"\x80", 1252, "\xE2\x82\xAC"},                       // euro sign
      {"\xC0", 1251, "\xD0\x90"},                           // Cyrillic A
      {"\xA4", 28605, "\xE2\x82\xAC"},                      // ISO-8859-15 euro
      {"\x82\xA0", 932, "\xE3\x81\x82"},                    // Shift-JIS hiragana a
      {"a\x80z", 20127, "a\xEF\xBF\xBDz"},                  // ASCII rejects high bytes
      {std::string("ab\0cd", 5), 65001, "ab"},              // other code pages stop at a zero
      {std::string("ab\0cd", 5), 0, std::string("ab\0cd", 5)},  // code page 0 keeps every byte
      {"", 1252, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ConvertToText(bytes(c.in), c.cp), c.out) << c.cp << " " << c.in;
  for (int32_t cp : {1250, 1252, 1258, 874, 936, 949, 950, 54936, 866, 20866, 21866, 28591, 28599})
    EXPECT_NO_THROW(ConvertToText(bytes("x"), cp)) << cp;
  for (int32_t cp : {1, 1200, 99999, -5}) {
    Error e = ThrownError([&] { ConvertToText(bytes("x"), cp); });
    EXPECT_EQ(e.number, -2147220504) << cp;
    EXPECT_EQ(e.description, "MultiByteToWideChar call failed with Error: 87") << cp;
  }
}

TEST(ConvertToText, CodePageZeroIsTheConfiguredDefault) {
  Settings saved = CurrentSettings();
  Settings s = saved;
  s.defaultCodePage = 1252;
  SetSettings(s);
  std::string in = "\xE9";
  std::string out = ConvertToText(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(in.data()), 1), 0);
  SetSettings(saved);
  EXPECT_EQ(out, "\xC3\xA9");
}

}  // namespace
}  // namespace torvane
