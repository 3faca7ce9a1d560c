// The File object: names, type and disk data, and the disk operations.
#include "files/file.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>

#include "platform/fileservices.h"
#include "platform/paths.h"
#include "security/recording_utility.h"
#include "support/page_fixture.h"

namespace torvane {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using test::ThrownError;
using test::FileExists;
using test::ReadFile;
using test::WriteFile;

class FileObject : public test::PageTest {
 protected:
  FileObject() : PageTest(test::kFileTypesReg) {}
};

TEST_F(FileObject, FreshFileIsEmpty) {
  auto f = File::New();
  EXPECT_EQ(f->Name(), "");
  EXPECT_EQ(f->FileName(), "");
  EXPECT_EQ(f->FileExtension(), "");
  EXPECT_EQ(f->FileType(), "");
  EXPECT_EQ(f->MimeType(), "");
  EXPECT_EQ(f->Size(), 0);
  EXPECT_FALSE(f->Exists());
  EXPECT_FALSE(f->InMemory());
}

struct TypeCase {
  const char* name;       // relative to the temporary folder
  const char* extension;
  const char* mime;
  const char* type;
};

// The case's file name names the test (ctest lists .../report.txt).
void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.name; }

class FileTypeInfo : public test::PageTest, public ::testing::WithParamInterface<TypeCase> {
 protected:
  FileTypeInfo() : PageTest(test::kFileTypesReg) {}
};

TEST_P(FileTypeInfo, FromRegistryThenSystemMimeData) {
  const TypeCase& c = GetParam();
  auto f = FileAt(c.name);
  EXPECT_EQ(f->FileExtension(), c.extension);
  EXPECT_EQ(f->MimeType(), c.mime);
  EXPECT_EQ(f->FileType(), c.type);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FileTypeInfo,
    ::testing::Values(TypeCase{"report.txt", "txt", "text/plain", "Text Document"},
                      TypeCase{"data.xyz", "xyz", "application/unknown", "XYZ File"},
                      TypeCase{"shortcut.lnk", "lnk", "application/unknown", "lnkfile"},
                      TypeCase{"readme", "", "application/unknown", "File"},
                      TypeCase{"dir.x/readme", "", "application/unknown", "File"},
                      TypeCase{"dir.x\\readme", "", "application/unknown", "File"},
                      TypeCase{"trailing.", "", "application/unknown", " File"},
                      // not in the registry file: the system's MIME data answers
                      TypeCase{"picture.png", "png", "image/png", "PNG image"},
                      TypeCase{"PICTURE.PNG", "PNG", "image/png", "PNG image"}));

TEST_F(FileObject, FolderIsFileFolderAndDirectory) {
  std::filesystem::create_directory(Native("sub.d"));
  auto f = FileAt("sub.d");
  EXPECT_EQ(f->FileType(), "File Folder");
  EXPECT_EQ(f->FileExtension(), "d");
  EXPECT_TRUE(f->IsDirectory());
  EXPECT_TRUE(f->Exists());
  registry.Write(std::string(test::kFileTypesReg) + "[HKEY_CLASSES_ROOT\\Directory]\n@=\"Dossier\"\n");
  f->Refresh();
  EXPECT_EQ(f->FileType(), "Dossier");
}

TEST_F(FileObject, RenameToNameWithoutDotEmptiesExtension) {
  WriteFile(Native("a.txt"), "x");
  auto f = FileAt("a.txt");
  f->Rename(Dos("b"));
  EXPECT_EQ(f->FileExtension(), "");
  EXPECT_EQ(f->FileType(), "File");
  EXPECT_TRUE(FileExists(Native("b")));
  EXPECT_FALSE(FileExists(Native("a.txt")));
  EXPECT_EQ(f->PhysicalPath(), Dos("b"));
}

TEST_F(FileObject, FileNameIsLastComponentUnlessOnlyLeadingSeparator) {
  auto f = File::New();
  f->SetName(Dos("x.txt"));
  EXPECT_EQ(f->FileName(), "x.txt");
  f->SetName("\\a.txt");
  EXPECT_EQ(f->FileName(), "\\a.txt");
}

TEST_F(FileObject, VirtualNameMapsUnderTheSiteRoot) {
  std::filesystem::create_directory(Native("up"));
  WriteFile(Native("up/v.txt"), "hello");
  auto f = File::New();
  f->SetName("/up/v.txt");
  EXPECT_EQ(f->Name(), "/up/v.txt");
  EXPECT_EQ(f->PhysicalPath(), Dos("up\\v.txt"));
  EXPECT_TRUE(f->Exists());
  EXPECT_EQ(f->Size(), 5);
}

TEST_F(FileObject, NameRefusedByPolicyKeepsNewNameOldPath) {
  auto f = FileAt("a.txt");
  std::string oldPath = f->PhysicalPath();
  registry.Write(std::string(test::kFileTypesReg) +
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brightmoor\\Torvane]\n\"AllowPaths\"=\"VirtualOnly\"\n");
  ResetPathPolicy();
  Error e = ThrownError([&] { f->SetName("C:\\etc\\passwd"); });
  EXPECT_EQ(e.number, 9030);
  EXPECT_EQ(f->Name(), "C:\\etc\\passwd");
  EXPECT_EQ(f->PhysicalPath(), oldPath);
  EXPECT_EQ(f->FileExtension(), "txt");
}

TEST_F(FileObject, InMemoryNamePutLeavesDerivedFields) {
  auto f = FileAt("a.txt");
  f->SetInMemory(true);
  f->SetName(Dos("b.xyz"));
  EXPECT_EQ(f->FileExtension(), "txt");
  EXPECT_EQ(f->PhysicalPath(), Dos("b.xyz"));
}

TEST_F(FileObject, ExistsIsStaleUntilRefresh) {
  WriteFile(Native("a.txt"), "abc");
  auto f = FileAt("a.txt");
  EXPECT_TRUE(f->Exists());
  std::filesystem::remove(Native("a.txt"));
  EXPECT_TRUE(f->Exists());
  EXPECT_EQ(f->Size(), 3);
  f->Refresh();
  EXPECT_FALSE(f->Exists());
  EXPECT_EQ(f->Size(), 3);  // a missing file keeps the size last found
}

TEST_F(FileObject, CreateEmptiesAnExistingFile) {
  WriteFile(Native("c.txt"), "old content");
  auto f = File::New();
  f->SetInMemory(true);
  f->CreateFile(Dos("c.txt"));
  EXPECT_EQ(ReadFile(Native("c.txt")), "");
  EXPECT_TRUE(f->Exists());
  EXPECT_FALSE(f->InMemory());
  EXPECT_EQ(f->Size(), 0);
  EXPECT_EQ(f->MimeType(), "text/plain");
}

TEST_F(FileObject, CreateFailureTracesAndRaisesSystemError) {
  auto f = File::New();
  std::string log = Traced(*f);
  std::string target = Dos("no-such-dir\\c.txt");
  Error e = ThrownError([&] { f->CreateFile(target); });
  EXPECT_EQ(e.number, 2);
  EXPECT_EQ(e.description, "No such file or directory");
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"***Error in File.Create *** - File Creation of " + target + " Failed.",
                                                  "(2) No such file or directory"}));
}

TEST_F(FileObject, DeleteOfMissingFileFailsAfterRetryWithTwoLines) {
  WriteFile(Native("d.txt"), "x");
  auto f = FileAt("d.txt");
  std::filesystem::remove(Native("d.txt"));
  std::string log = Traced(*f);
  Error e = ThrownError([&] { f->Delete(); });
  EXPECT_EQ(e.number, 2);
  EXPECT_EQ(e.description, "No such file or directory");
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"***Error in File.Delete *** - Delete of " + Dos("d.txt") + " Failed.",
                                                  "(2) No such file or directory"}));
  EXPECT_TRUE(f->Exists());  // the flag keeps its value
}

TEST_F(FileObject, DeleteRemovesFileAndClearsExists) {
  WriteFile(Native("d.txt"), "x");
  auto f = FileAt("d.txt");
  std::string log = Traced(*f);
  f->Delete();
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"File.Delete - Deleted " + Dos("d.txt") + "."}));
  EXPECT_FALSE(FileExists(Native("d.txt")));
  EXPECT_FALSE(f->Exists());
}

TEST_F(FileObject, DeleteOfInMemoryFileKeepsDiskAndContent) {
  WriteFile(Native("m.txt"), "disk");
  auto f = FileAt("m.txt");
  f->Load();
  f->Delete();
  EXPECT_FALSE(f->Exists());
  EXPECT_TRUE(FileExists(Native("m.txt")));
  EXPECT_EQ(f->GetContent().size(), 4u);
}

TEST_F(FileObject, RenameOntoExistingNameFailsAndKeepsBothFiles) {
  WriteFile(Native("a.txt"), "A");
  WriteFile(Native("b.txt"), "B");
  auto f = FileAt("a.txt");
  std::string log = Traced(*f);
  Error e = ThrownError([&] { f->Rename(Dos("b.txt")); });
  EXPECT_EQ(e.number, 17);
  EXPECT_EQ(e.description, "File exists");
  EXPECT_EQ(ReadFile(Native("a.txt")), "A");
  EXPECT_EQ(ReadFile(Native("b.txt")), "B");
  EXPECT_EQ(f->Name(), Dos("a.txt"));
  EXPECT_EQ(Lines(log)[0], "***Error in File.Rename *** - Rename of " + Dos("a.txt") + " to " + Dos("b.txt") + " Failed.");
  EXPECT_EQ(Lines(log)[1], "(17) File exists");
}

TEST_F(FileObject, RenameTracesAndMoves) {
  WriteFile(Native("a.txt"), "A");
  auto f = FileAt("a.txt");
  std::string log = Traced(*f);
  f->Rename(Dos("z.txt"));
  EXPECT_EQ(ReadFile(Native("z.txt")), "A");
  EXPECT_EQ(f->Name(), Dos("z.txt"));
  auto lines = Lines(log);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "File.Rename - Renamed " + Dos("a.txt") + " to " + Dos("z.txt") + ".");
}

TEST_F(FileObject, RenameInMemoryChangesOnlyTheName) {
  WriteFile(Native("a.txt"), "A");
  auto f = FileAt("a.txt");
  f->Load();
  f->Rename(Dos("other.xyz"));
  EXPECT_EQ(f->Name(), Dos("other.xyz"));
  EXPECT_EQ(f->PhysicalPath(), Dos("a.txt"));
  EXPECT_EQ(f->FileExtension(), "xyz");
  EXPECT_TRUE(FileExists(Native("a.txt")));
  EXPECT_FALSE(FileExists(Native("other.xyz")));
}

TEST_F(FileObject, CreateTempWithVirtualPathAddsSlashToTheArgument) {
  std::filesystem::create_directory(Native("upload"));
  auto f = File::New();
  Args args{Variant("/upload")};
  f->Invoke("CreateTemp", CallKind::Method, args);
  EXPECT_EQ(args[0].toString(), "/upload/");
  std::string name = f->Name();
  ASSERT_EQ(name.rfind("/upload/~LK", 0), 0u) << name;
  EXPECT_TRUE(f->Exists());
  EXPECT_EQ(f->Size(), 0);
  EXPECT_FALSE(f->InMemory());
  std::string base = name.substr(8);
  EXPECT_EQ(f->PhysicalPath(), Dos("upload\\" + base));
  EXPECT_TRUE(FileExists(Native("upload/" + base)));
}

TEST_F(FileObject, CreateTempWithDrivePathAddsBackslash) {
  std::string folder = Dos();  // "C:\tmp\torvane-test-XXXX" without a separator
  std::string path = folder;
  auto f = File::New();
  f->CreateTemp(path);
  EXPECT_EQ(path, folder + "\\");
  EXPECT_EQ(f->Name().rfind(folder + "\\~LK", 0), 0u);
  EXPECT_EQ(f->PhysicalPath(), f->Name());
}

TEST_F(FileObject, CreateTempNamesAreUniqueAndUnpredictable) {
  std::string path = Dos() + "\\";
  auto a = File::New();
  auto b = File::New();
  a->CreateTemp(path);
  b->CreateTemp(path);
  EXPECT_NE(a->Name(), b->Name());
  // "~LK" + ten random characters + ".tmp"
  EXPECT_EQ(a->FileName().size(), 3u + 10u + 4u);
  EXPECT_EQ(std::filesystem::file_size(ToNativePath(a->PhysicalPath())), 0u);
}

TEST_F(FileObject, CreateTempFailureTracesPathArgumentAndSystemError) {
  auto f = File::New();
  std::string log = Traced(*f);
  std::string path = Dos("missing-folder");
  Error e = ThrownError([&] { f->CreateTemp(path); });
  EXPECT_EQ(e.number, 2);
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"***Error in File.CreateTemp *** - Temporary File Creation in " +
                                                      Dos("missing-folder") + " Failed.",
                                                  "(2) No such file or directory"}));
}

TEST_F(FileObject, CopyOfInMemoryFileCreatesDiskFile) {
  auto f = File::New();
  f->SetName(Dos("mem.txt"));
  f->ClearContent();
  const std::string text = "in memory";
  f->ResizeContent(static_cast<int64_t>(text.size()), false);
  f->CopyIntoContent(1, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  f->SetInMemory(true);
  std::string log = Traced(*f);
  auto copy = f->Copy(Dos("copy.txt"));
  EXPECT_EQ(ReadFile(Native("copy.txt")), text);
  EXPECT_TRUE(copy->Exists());
  EXPECT_FALSE(copy->InMemory());
  EXPECT_EQ(copy->Size(), static_cast<int64_t>(text.size()));
  EXPECT_EQ(copy->traceChannel(), nullptr);
  EXPECT_EQ(Lines(log).back(), "File.Copy - Copied " + Dos("mem.txt") + " to " + Dos("copy.txt") + ".");
}

TEST_F(FileObject, CopyOverLongerFileLeavesExactlyTheNewBytes) {
  WriteFile(Native("src.txt"), "short");
  WriteFile(Native("dst.txt"), "a much longer old content");
  auto f = FileAt("src.txt");
  f->Copy(Dos("dst.txt"));
  EXPECT_EQ(ReadFile(Native("dst.txt")), "short");

  f->Load();
  WriteFile(Native("dst2.txt"), "another longer old content");
  f->Copy(Dos("dst2.txt"));
  EXPECT_EQ(ReadFile(Native("dst2.txt")), "short");
}

TEST_F(FileObject, CopyOntoItselfFailsAndKeepsContent) {
  WriteFile(Native("self.txt"), "keep me");
  auto f = FileAt("self.txt");
  std::string log = Traced(*f);
  Error e = ThrownError([&] { f->Copy(Dos("self.txt")); });
  EXPECT_EQ(e.number, 22);
  EXPECT_EQ(ReadFile(Native("self.txt")), "keep me");
  EXPECT_EQ(Lines(log)[0], "***Error in File.Copy *** - Copy of " + Dos("self.txt") + " to " + Dos("self.txt") + " Failed.");
}

TEST_F(FileObject, CopyOfMissingFileFails) {
  auto f = FileAt("none.txt");
  Error e = ThrownError([&] { f->Copy(Dos("t.txt")); });
  EXPECT_EQ(e.number, 2);
  EXPECT_FALSE(FileExists(Native("t.txt")));
}

TEST_F(FileObject, SizePutIsRefusedWith9000) {
  WriteFile(Native("s.txt"), "12345");
  auto f = FileAt("s.txt");
  std::string log = Traced(*f);
  Args args{Variant(10)};
  Error e = ThrownError([&] { f->Invoke("Size", CallKind::Let, args); });
  EXPECT_EQ(e.number, 9000);
  EXPECT_EQ(e.description, "File.LetSize - Size is readonly for file " + Dos("s.txt") + ".");
  EXPECT_EQ(f->Size(), 5);
  EXPECT_EQ(Lines(log)[0], e.description);
}

TEST_F(FileObject, SizeIsSixtyFourBit) {
  {
    std::FILE* fp = std::fopen(Native("big.bin").c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    ASSERT_EQ(ftruncate(fileno(fp), 5368709120LL), 0);  // sparse: no disk used
    std::fclose(fp);
  }
  auto f = FileAt("big.bin");
  EXPECT_EQ(f->Size(), 5368709120LL);
  Args none;
  Variant v = f->Invoke("Size", CallKind::Get, none);
  EXPECT_EQ(v.toInt64(), 5368709120LL);
  EXPECT_EQ(v.toString(), "5368709120");
}

TEST_F(FileObject, AttributesSeventeenSetsOnlyReadonly) {
  WriteFile(Native("r.txt"), "x");
  auto f = FileAt("r.txt");
  f->SetAttributes(17);
  struct stat st {};
  ASSERT_EQ(::stat(Native("r.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(f->Attributes(), 1);
  EXPECT_TRUE(f->IsReadonly());
  EXPECT_FALSE(f->IsDirectory());
  f->SetAttributes(0);
  EXPECT_EQ(f->Attributes(), 128);
  EXPECT_FALSE(f->IsReadonly());
}

TEST_F(FileObject, HiddenSurvivesInTheExtendedAttribute) {
  WriteFile(Native("h.txt"), "x");
  auto f = FileAt("h.txt");
  f->SetAttributes(2 | 32);
  char buf[32] = {};
  ssize_t n = ::getxattr(Native("h.txt").c_str(), "user.DOSATTRIB", buf, sizeof buf);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "0x22");
  auto again = FileAt("h.txt");
  EXPECT_EQ(again->Attributes(), 34);
  again->SetAttributes(128);
  EXPECT_EQ(again->Attributes(), 128);
  EXPECT_LT(::getxattr(Native("h.txt").c_str(), "user.DOSATTRIB", buf, sizeof buf), 0);
}

TEST_F(FileObject, AttributesReadsTheFormOthersWrite) {
  WriteFile(Native("w.txt"), "x");
  ASSERT_EQ(::setxattr(Native("w.txt").c_str(), "user.DOSATTRIB", "0x104", 5, 0), 0);  // TEMPORARY | SYSTEM
  auto f = FileAt("w.txt");
  EXPECT_EQ(f->Attributes(), 256 | 4);
}

TEST_F(FileObject, AttributesOfMissingPathFailWithoutTrace) {
  auto f = FileAt("gone.txt");
  std::string log = Traced(*f);
  EXPECT_EQ(ThrownError([&] { f->Attributes(); }).number, 2);
  EXPECT_EQ(ThrownError([&] { f->SetAttributes(1); }).number, 2);
  EXPECT_FALSE(f->IsDirectory());  // a failed read counts as 0
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"File.IsDirectory - Returned Directory Attribute of " + Dos("gone.txt") + "."}));
}

TEST_F(FileObject, SimpleMembersTraceTheirLines) {
  WriteFile(Native("t.txt"), "x");
  auto f = FileAt("t.txt");
  std::string log = Traced(*f);
  std::string n = Dos("t.txt");
  f->Name();
  f->FileName();
  f->FileType();
  f->FileExtension();
  f->MimeType();
  f->SetMimeType("text/x-test");
  f->Size();
  f->Exists();
  f->IsReadonly();
  f->TraceFile();
  f->SetName(n);
  EXPECT_EQ(Lines(log), (std::vector<std::string>{
                            "File.GetName - Returned Name of " + n + ".",
                            "File.GetFilename - Returned Name of t.txt.",
                            "File.GetFileType - Returned Type of Text Document.",
                            "File.GetFileExtension - Returned Extension of txt.",
                            "File.GetMimeType - Returned Mime Type of " + n + ".",
                            "File.LetMimeType - Set Mime Type of " + n + ".",
                            "File.GetSize - Returned Size of " + n + ".",
                            "File.Exists - Returned exists of " + n + ".",
                            "File.IsReadonly - Returned Readonly Attribute of " + n + ".",
                            "File.GetTraceFile - Returned TraceFile object.",
                            "File.IsDirectory - Returned Directory Attribute of " + n + ".",
                            "File.LetName - Set Name of " + n + " with path of " + n + " .",
                        }));
  EXPECT_EQ(f->MimeType(), "text/plain");  // Name put re-read the type
}

TEST_F(FileObject, ToXmlLeavesOutOwnerWhenItCannotBeRead) {
  WriteFile(Native("x.txt"), "abc");
  auto f = FileAt("x.txt");
  test::RecordingUtility::Scope security;
  security.state->failures.emplace("GetOwner", Error(13, "Permission denied"));
  std::string xml = f->ToXML();
  EXPECT_EQ(xml.rfind("<file><attributes>128</attributes><fileextension>txt</fileextension><filename>x.txt</filename>"
                      "<filetype>Text Document</filetype><inmemory>False</inmemory><lastmodified>",
                      0),
            0u)
      << xml;
  EXPECT_THAT(xml, HasSubstr("<md5>900150983CD24FB0D6963F7D28E17F72</md5><mimetype>text/plain</mimetype><name>" + Dos("x.txt") +
                     "</name><size>3</size></file>"))
      << xml;
  EXPECT_THAT(xml, Not(HasSubstr("<owner>")));
  EXPECT_EQ(f->ToXML(Variant("size,size"), Variant("<x/>")), "<file><size>3</size><size>3</size><x/></file>");
}

TEST_F(FileObject, OnStartPageDoesNothing) {
  auto f = FileAt("a.txt");
  Args args{Variant(42)};
  EXPECT_TRUE(f->Invoke("OnStartPage", CallKind::Method, args).isEmpty());
}

}  // namespace
}  // namespace torvane
