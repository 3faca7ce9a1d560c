#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/dirservices.h"
#include "platform/paths.h"
#include "support/memhost.h"

namespace torvane {
namespace {

TEST(FolderMaskMatch, PatternCases) {
  struct Case {
    const char* pattern;
    const char* name;
    bool want;
  } cases[] = {
      {"*.*", "a.txt", true},       {"*.*", "README", true},      {"*.*", ".", true},
      {"*", "anything.at.all", true}, {"*.txt", "a.txt", true},   {"*.txt", "a.TXT", true},
      {"*.TXT", "b.txt", true},     {"*.txt", "a.txt.bak", false}, {"*.txt", "txt", false},
      {"?.txt", "a.txt", true},     {"?.txt", "ab.txt", false},   {"?.txt", ".txt", false},
      {"a*.*", "abc", true},        {"a*.*", "bac", false},       {"x.*", "x", true},
      {"*.", "noext", true},        {"*.", "has.ext", false},     {"a?c", "abc", true},
      {"a?c", "ac", false},         {"*a*b*", "xxaxxbxx", true},  {"*a*b*", "xxbxxaxx", false},
      {"\xC3\xA9*", "\xC3\x89t\xC3\xA9", true},  // é* matches Été: case ignored beyond ASCII
      {"?", "\xC3\xA9", true},                    // ? is one character, not one byte
      {"*.log", "a.txt", false},    {"", "a", false},
  };
  for (const auto& c : cases) EXPECT_EQ(FolderMaskMatch(c.pattern, c.name), c.want) << c.pattern << " " << c.name;
}

TEST(FolderSearch, MatchesInOneFolder) {
  test::TempDir dir;
  test::WriteFile(dir / "a.txt", "");
  test::WriteFile(dir / "b.log", "");
  std::filesystem::create_directory(dir / "sub");
  std::string dos = ToDosPath(dir.path());
  auto all = FolderSearch(dos + "\\*.*");
  ASSERT_TRUE(all);
  std::sort(all->begin(), all->end());
  EXPECT_EQ(*all, (std::vector<std::string>{".", "..", "a.txt", "b.log", "sub"}));
  auto logs = FolderSearch(dos + "\\*.log");
  ASSERT_TRUE(logs);
  EXPECT_EQ(*logs, (std::vector<std::string>{"b.log"}));
  EXPECT_FALSE(FolderSearch(dos + "\\*.none"));
  EXPECT_FALSE(FolderSearch(dos + "\\"));
  EXPECT_FALSE(FolderSearch(dos + "\\missing\\*.*"));
  EXPECT_FALSE(FolderSearch(dos + "\\a.txt\\*.*"));  // not a folder
}

TEST(FolderSearch, NamesHoldingABackslashAreNotReturned) {
  test::TempDir dir;
  test::WriteFile(dir / "..\\x", "");
  test::WriteFile(dir / "ok", "");
  auto names = FolderSearch(ToDosPath(dir.path()) + "\\*");
  ASSERT_TRUE(names);
  EXPECT_EQ(std::count(names->begin(), names->end(), "..\\x"), 0);
  EXPECT_EQ(std::count(names->begin(), names->end(), "ok"), 1);
}

}  // namespace
}  // namespace torvane
