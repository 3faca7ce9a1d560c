// In-memory content, Load and Save, field transfer and Compare.
#include <filesystem>

#include "files/file_fixture.h"

namespace torvane {
namespace {

using test::Caught;
using test::FileExists;
using test::ReadFile;
using test::WriteFile;

class FileContent : public test::FileTest {};

Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }

TEST_F(FileContent, PackageOperationsBuildTheContent) {
  auto f = NewFile();
  f->ClearContent();
  EXPECT_TRUE(f->GetContent().empty());
  f->ResizeContent(3, true);  // empty content: three zero bytes
  EXPECT_EQ(f->GetContent(), Bytes(3, 0));
  f->SetContentByte(1, 'a');
  f->SetContentByte(3, 'c');
  f->ResizeContent(5, true);
  Bytes de = B("de");
  f->CopyIntoContent(4, de);
  EXPECT_EQ(f->GetContent(), B(std::string("a\0cde", 5)));
  f->ResizeContent(2, true);
  EXPECT_EQ(f->GetContent(), B(std::string("a\0", 2)));
  f->ResizeContent(2, false);
  EXPECT_EQ(f->GetContent(), Bytes(2, 0));
  EXPECT_FALSE(f->InMemory());  // none of them touches the flag
}

TEST_F(FileContent, PositionsOutsideTheContentFailWithNine) {
  auto f = NewFile();
  f->ClearContent();
  f->ResizeContent(4, false);
  Bytes three = B("xyz");
  EXPECT_EQ(Caught([&] { f->SetContentByte(0, 1); }).number, 9);
  EXPECT_EQ(Caught([&] { f->SetContentByte(5, 1); }).number, 9);
  EXPECT_EQ(Caught([&] { f->CopyIntoContent(3, three); }).number, 9);
  EXPECT_EQ(Caught([&] { f->ResizeContent(-1, true); }).number, 9);
  f->CopyIntoContent(2, three);
  EXPECT_EQ(f->GetContent(), B(std::string("\0xyz", 4)));
}

TEST_F(FileContent, GetContentIsACopy) {
  auto f = NewFile();
  f->ClearContent();
  f->ResizeContent(1, false);
  Bytes copy = f->GetContent();
  copy[0] = 7;
  EXPECT_EQ(f->GetContent()[0], 0);
}

}  // namespace
}  // namespace torvane
