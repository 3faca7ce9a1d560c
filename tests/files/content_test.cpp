// In-memory content, Load and Save, field transfer and Compare.
#include <filesystem>

#include "files/file.h"
#include "support/page_fixture.h"

namespace torvane {
namespace {

using test::ThrownError;
using test::FileExists;
using test::ReadFile;
using test::WriteFile;

class FileContent : public test::PageTest {
 protected:
  FileContent() : PageTest(test::kFileTypesReg) {}
};

Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }

// A database field stand-in: ActualSize, GetChunk and AppendChunk, reached
// late-bound like a recordset field. GetChunk hands out the value from a read
// position (bytes of a byte value, characters of a text value) and null at the
// end; AppendChunk adds to `appended`.
class FakeField : public Object {
 public:
  Variant value;               // Bytes, String or Null
  size_t readPos = 0;
  std::vector<int64_t> getChunkCounts;
  std::vector<size_t> appendSizes;
  Bytes appended;
  bool overflowOnAppend = false;

  static const ClassInfo& Class() {
    static const ClassInfo info = ClassInfo::Make<FakeField>(
        "Field", {
                     {"ActualSize", MemberKind::Get, {}, [](FakeField& f, Args&) { return Variant(f.ActualSize()); }},
                     {"GetChunk", MemberKind::Method, {{"count"}},
                      [](FakeField& f, Args& a) { return f.GetChunk(a[0].toInt64()); }},
                     {"AppendChunk", MemberKind::Method, {{"data"}},
                      [](FakeField& f, Args& a) {
                        if (f.overflowOnAppend) ThrowPlatform(err::Overflow);
                        const Bytes& b = a[0].bytes();
                        f.appendSizes.push_back(b.size());
                        f.appended.insert(f.appended.end(), b.begin(), b.end());
                        return Variant();
                      }},
                 });
    return info;
  }
  const ClassInfo& classInfo() const override { return Class(); }

  int64_t ActualSize() const {
    if (value.type() == VType::Bytes) return static_cast<int64_t>(value.bytes().size());
    if (value.isString()) return static_cast<int64_t>(value.str().size());
    return 0;
  }
  Variant GetChunk(int64_t count) {
    getChunkCounts.push_back(count);
    size_t total = static_cast<size_t>(ActualSize());
    if (value.isNull() || readPos >= total) return Variant::Null();
    size_t n = std::min(total - readPos, static_cast<size_t>(count));
    size_t at = readPos;
    readPos += n;
    if (value.isString()) return Variant(value.str().substr(at, n));
    const Bytes& b = value.bytes();
    return Variant(Bytes(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + n)));
  }
};

Variant FieldOf(const std::shared_ptr<FakeField>& f) { return Variant(ObjectRef(f)); }

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 131 + i / 251) & 0xFF);
  return b;
}

TEST_F(FileContent, PackageOperationsBuildTheContent) {
  auto f = File::New();
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
  auto f = File::New();
  f->ClearContent();
  f->ResizeContent(4, false);
  Bytes three = B("xyz");
  EXPECT_EQ(ThrownError([&] { f->SetContentByte(0, 1); }).number, 9);
  EXPECT_EQ(ThrownError([&] { f->SetContentByte(5, 1); }).number, 9);
  EXPECT_EQ(ThrownError([&] { f->CopyIntoContent(3, three); }).number, 9);
  EXPECT_EQ(ThrownError([&] { f->ResizeContent(-1, true); }).number, 9);
  f->CopyIntoContent(2, three);
  EXPECT_EQ(f->GetContent(), B(std::string("\0xyz", 4)));
}

TEST_F(FileContent, GetContentIsACopy) {
  auto f = File::New();
  f->ClearContent();
  f->ResizeContent(1, false);
  Bytes copy = f->GetContent();
  copy[0] = 7;
  EXPECT_EQ(f->GetContent()[0], 0);
}

TEST_F(FileContent, LoadThenSaveUnderANewName) {
  WriteFile(Native("ten.bin"), "0123456789");
  auto f = FileAt("ten.bin");
  std::string log = Traced(*f);
  f->Load();
  EXPECT_TRUE(f->InMemory());
  EXPECT_EQ(f->GetContent(), B("0123456789"));
  f->Save(Variant(Dos("saved.txt")));
  EXPECT_FALSE(f->InMemory());
  EXPECT_EQ(ReadFile(Native("saved.txt")), "0123456789");
  EXPECT_EQ(f->Name(), Dos("saved.txt"));
  EXPECT_EQ(f->PhysicalPath(), Dos("saved.txt"));
  EXPECT_EQ(f->Size(), 10);
  EXPECT_EQ(f->MimeType(), "text/plain");
  auto lines = Lines(log);
  EXPECT_EQ(lines.front(), "File.Load - Loaded " + Dos("ten.bin") + " into memory.");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "File.Save - Saved " + Dos("saved.txt") + " from memory."), lines.end());
}

TEST_F(FileContent, LoadWithNameGoesThroughTheSetter) {
  WriteFile(Native("n.txt"), "abc");
  auto f = File::New();
  f->Load(Variant(Dos("n.txt")));
  EXPECT_EQ(f->Name(), Dos("n.txt"));
  EXPECT_EQ(f->Size(), 3);
  EXPECT_EQ(f->FileType(), "Text Document");
}

TEST_F(FileContent, LoadOfAnEmptyFileGivesEmptyContent) {
  WriteFile(Native("empty.txt"), "");
  auto f = FileAt("empty.txt");
  f->Load();
  EXPECT_TRUE(f->InMemory());
  EXPECT_TRUE(f->GetContent().empty());
  ASSERT_NE(f->ContentView(), nullptr);
}

TEST_F(FileContent, LoadOfMissingFileTracesAndFails) {
  auto f = FileAt("nope.txt");
  std::string log = Traced(*f);
  Error e = ThrownError([&] { f->Load(); });
  EXPECT_EQ(e.number, 2);
  EXPECT_FALSE(f->InMemory());
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"***Error in File.Load *** - Load of " + Dos("nope.txt") +
                                                      " into memory Failed.",
                                                  "(2) No such file or directory"}));
}

TEST_F(FileContent, SaveWhenNotInMemoryFailsWith9036) {
  auto f = FileAt("a.txt");
  std::string log = Traced(*f);
  Error e = ThrownError([&] { f->Save(); });
  EXPECT_EQ(e.number, 9036);
  EXPECT_EQ(e.description, "The file is not in memory.");
  EXPECT_FALSE(FileExists(Native("a.txt")));
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"***Error in File.Save *** - Save of " + Dos("a.txt") + " from memory Failed.",
                                                  "(9036) The file is not in memory."}));
}

TEST_F(FileContent, SaveOverALongerFileLeavesExactlyTheContent) {
  WriteFile(Native("s.txt"), "new");
  WriteFile(Native("long.txt"), "a much longer existing file");
  auto f = FileAt("s.txt");
  f->Load();
  f->Save(Variant(Dos("long.txt")));
  EXPECT_EQ(ReadFile(Native("long.txt")), "new");
  EXPECT_EQ(f->Size(), 3);
}

TEST_F(FileContent, ExportToDiskInChunksOf300000) {
  auto field = std::make_shared<FakeField>();
  Bytes value = Pattern(700000);  // more than two chunks, fewer than three
  field->value = Variant(value);
  WriteFile(Native("out.bin"), std::string(800000, 'z'));  // longer than the value
  auto f = FileAt("out.bin");
  f->Load();
  f->Export(FieldOf(field), Variant(false));
  EXPECT_EQ(field->getChunkCounts, (std::vector<int64_t>{300000, 300000, 300000, 300000}));
  EXPECT_EQ(ReadFile(Native("out.bin")), std::string(value.begin(), value.end()));
  EXPECT_FALSE(f->InMemory());  // InMemory omitted: on disk afterwards
  EXPECT_EQ(f->Size(), 700000);
}

TEST_F(FileContent, ExportToDiskWithAppendAddsAfterExistingBytes) {
  auto field = std::make_shared<FakeField>();
  field->value = Variant(B("tail"));
  WriteFile(Native("a.bin"), "head-");
  auto f = FileAt("a.bin");
  f->Export(FieldOf(field), Variant(true));
  EXPECT_EQ(ReadFile(Native("a.bin")), "head-tail");
}

TEST_F(FileContent, ExportOfANullFieldCreatesAnEmptyFile) {
  auto field = std::make_shared<FakeField>();
  field->value = Variant::Null();
  auto f = FileAt("null.bin");
  f->Export(FieldOf(field), Variant::Null());
  EXPECT_TRUE(FileExists(Native("null.bin")));
  EXPECT_EQ(ReadFile(Native("null.bin")), "");
  EXPECT_TRUE(f->Exists());
}

TEST_F(FileContent, ExportInMemoryWithAppendKeepsOldBytesFirst) {
  auto f = File::New();
  f->ClearContent();
  f->ResizeContent(5, false);
  Bytes five = B("12345");
  f->CopyIntoContent(1, five);
  auto field = std::make_shared<FakeField>();
  field->value = Variant(B("abc"));
  f->Export(FieldOf(field), Variant(true), Variant(true));
  EXPECT_TRUE(f->InMemory());
  EXPECT_EQ(f->GetContent(), B("12345abc"));
  EXPECT_EQ(field->getChunkCounts, (std::vector<int64_t>{3}));
}

TEST_F(FileContent, ExportInMemoryOfTextTakesUtf16Bytes) {
  auto f = File::New();
  auto field = std::make_shared<FakeField>();
  field->value = Variant("Aé");
  f->Export(FieldOf(field), Variant(false), Variant(true));
  EXPECT_EQ(f->GetContent(), (Bytes{'A', 0, 0xE9, 0}));
}

TEST_F(FileContent, ExportInMemoryOfNullFailsAndTraces) {
  auto f = File::New();
  f->SetName(Dos("x.bin"));
  std::string log = Traced(*f);
  auto field = std::make_shared<FakeField>();
  field->value = Variant::Null();
  Error e = ThrownError([&] { f->Export(FieldOf(field), Variant(false), Variant(true)); });
  EXPECT_EQ(e.number, 94);
  EXPECT_EQ(Lines(log)[0], "***Error in File.Export *** - Export to File " + Dos("x.bin") + " Failed.");
}

TEST_F(FileContent, ImportFromDiskInChunksOf30000) {
  Bytes data = Pattern(65000);
  WriteFile(Native("in.bin"), std::string(data.begin(), data.end()));
  auto f = FileAt("in.bin");
  auto field = std::make_shared<FakeField>();
  f->Import(FieldOf(field));
  EXPECT_EQ(field->appendSizes, (std::vector<size_t>{30000, 30000, 5000}));
  EXPECT_EQ(field->appended, data);
}

TEST_F(FileContent, ImportOfEmptyFileAppendsNothingAndInMemoryAppendsOnce) {
  WriteFile(Native("e.bin"), "");
  auto f = FileAt("e.bin");
  auto field = std::make_shared<FakeField>();
  f->Import(FieldOf(field));
  EXPECT_TRUE(field->appendSizes.empty());

  WriteFile(Native("m.bin"), std::string(70000, 'm'));
  auto g = FileAt("m.bin");
  g->Load();
  g->Import(FieldOf(field));
  EXPECT_EQ(field->appendSizes, (std::vector<size_t>{70000}));
}

TEST_F(FileContent, ImportOfMissingFileFailsWith9027) {
  auto f = FileAt("missing.bin");
  auto field = std::make_shared<FakeField>();
  Error e = ThrownError([&] { f->Import(FieldOf(field)); });
  EXPECT_EQ(e.number, 9027);
  EXPECT_EQ(e.description, "File " + Dos("missing.bin") + " does not exist.");
}

TEST_F(FileContent, ImportOverflowGetsTheCursorAdvice) {
  WriteFile(Native("o.bin"), "abc");
  auto f = FileAt("o.bin");
  std::string log = Traced(*f);
  auto field = std::make_shared<FakeField>();
  field->overflowOnAppend = true;
  Error e = ThrownError([&] { f->Import(FieldOf(field)); });
  EXPECT_EQ(e.number, 6);
  const std::string text =
      "An overflow occurred during the File.Import Operation.  If you are using IIS 4.0 please make sure you have set "
      "the result set to use client side cursors (i.e. rs.CursorLocation = 3) before opening the result set.  Please "
      "see our Archive example for how to do this independent of the version of IIS.";
  EXPECT_EQ(e.description, text);
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"***Error in File.Import *** - Import of File " + Dos("o.bin") + " Failed.",
                                                  "(6) " + text}));
}

TEST_F(FileContent, CompareFindsADifferenceInTheLastByte) {
  std::string a(70001, 'q');
  std::string b = a;
  b.back() = 'r';
  WriteFile(Native("a.bin"), a);
  WriteFile(Native("b.bin"), b);
  WriteFile(Native("c.bin"), a);
  auto f = FileAt("a.bin");
  EXPECT_FALSE(f->Compare(Dos("b.bin")));
  EXPECT_TRUE(f->Compare(Dos("c.bin")));
  EXPECT_TRUE(f->Compare(Dos("a.bin")));
  WriteFile(Native("short.bin"), "q");
  EXPECT_FALSE(f->Compare(Dos("short.bin")));
}

TEST_F(FileContent, CompareNeedsBothFiles) {
  WriteFile(Native("a.bin"), "a");
  auto f = FileAt("a.bin");
  std::string log = Traced(*f);
  Error e = ThrownError([&] { f->Compare(Dos("zz.bin")); });
  EXPECT_EQ(e.number, 9027);
  EXPECT_EQ(e.description, "File " + Dos("zz.bin") + " does not exist.");
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"***Error in File.Compare.", "(9027) " + e.description}));

  auto g = FileAt("gone.bin");
  g->SetInMemory(true);
  EXPECT_EQ(ThrownError([&] { g->Compare(Dos("a.bin")); }).number, 9027);
}

TEST_F(FileContent, LateBoundExportWithMissingInMemory) {
  auto f = FileAt("late.bin");
  auto field = std::make_shared<FakeField>();
  field->value = Variant(B("xy"));
  Args args{FieldOf(field), Variant(false)};
  f->Invoke("Export", CallKind::Method, args);
  EXPECT_EQ(ReadFile(Native("late.bin")), "xy");
}

}  // namespace
}  // namespace torvane
